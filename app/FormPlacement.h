// Where a window stands, as the ini file keeps it: keys "Left", "Top",
// "Width" and "Height" of a section, integers in pixels. Reading takes the
// window's current value for every key that is missing.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

class TIniFile;

struct FormBounds {
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;

  bool operator==(const FormBounds&) const = default;
};

// Moves `bounds` to the position (when `position`) and to the size (when
// `size`) that `section` holds; true when that changed them.
bool ReadFormPlacement(const TIniFile& ini, std::string_view section, bool position, bool size,
                       FormBounds& bounds);

// Writes "Left" and "Top" (when `position`) and "Width" and "Height" (when
// `size`) of `bounds` into `section`.
void WriteFormPlacement(TIniFile& ini, std::string_view section, bool position, bool size,
                        const FormBounds& bounds);

// Keeps a restored placement within the user's reach, whatever the ini file
// holds: a width or height beyond the desktop (the rectangle around
// `screens`) is cut to it, and a window that would show less than
// kMinVisible pixels each way on every screen takes the position of
// `before` back. Without screens nothing changes.
void KeepOnScreens(FormBounds& bounds, const FormBounds& before,
                   const std::vector<FormBounds>& screens);
