#include "app/FormPlacement.h"

#include <algorithm>

#include "app/TIniFile.h"

namespace {

// Pixels of a window, each way, that leave it within reach of the mouse.
constexpr int64_t kMinVisible = 32;

// The length of [start, start + length) within [from, from + span); in 64
// bits, as the ini file's values may lie anywhere in 32.
int64_t overlap(int64_t start, int64_t length, int64_t from, int64_t span) {
  return std::min(start + length, from + span) - std::max(start, from);
}

bool showsOn(const FormBounds& window, const FormBounds& screen) {
  const int64_t wide = std::clamp<int64_t>(window.width, 1, kMinVisible);
  const int64_t high = std::clamp<int64_t>(window.height, 1, kMinVisible);
  return overlap(window.left, window.width, screen.left, screen.width) >= wide &&
         overlap(window.top, window.height, screen.top, screen.height) >= high;
}

}  // namespace

bool ReadFormPlacement(const TIniFile& ini, std::string_view section, bool position, bool size,
                       FormBounds& bounds) {
  FormBounds stored;
  stored.left = ini.ReadInteger(section, "Left", bounds.left);
  stored.top = ini.ReadInteger(section, "Top", bounds.top);
  stored.width = ini.ReadInteger(section, "Width", bounds.width);
  stored.height = ini.ReadInteger(section, "Height", bounds.height);
  const FormBounds before = bounds;
  if (position) {
    bounds.left = stored.left;
    bounds.top = stored.top;
  }
  if (size) {
    bounds.width = stored.width;
    bounds.height = stored.height;
  }
  return bounds != before;
}

void WriteFormPlacement(TIniFile& ini, std::string_view section, bool position, bool size,
                        const FormBounds& bounds) {
  if (position) {
    ini.WriteInteger(section, "Left", bounds.left);
    ini.WriteInteger(section, "Top", bounds.top);
  }
  if (size) {
    ini.WriteInteger(section, "Width", bounds.width);
    ini.WriteInteger(section, "Height", bounds.height);
  }
}

void KeepOnScreens(FormBounds& bounds, const FormBounds& before,
                   const std::vector<FormBounds>& screens) {
  if (screens.empty()) return;
  int64_t left = screens.front().left;
  int64_t top = screens.front().top;
  int64_t right = left;
  int64_t bottom = top;
  for (const FormBounds& screen : screens) {
    left = std::min<int64_t>(left, screen.left);
    top = std::min<int64_t>(top, screen.top);
    right = std::max<int64_t>(right, int64_t{screen.left} + screen.width);
    bottom = std::max<int64_t>(bottom, int64_t{screen.top} + screen.height);
  }
  bounds.width = static_cast<int32_t>(std::min<int64_t>(bounds.width, right - left));
  bounds.height = static_cast<int32_t>(std::min<int64_t>(bounds.height, bottom - top));
  if (std::none_of(screens.begin(), screens.end(),
                   [&](const FormBounds& screen) { return showsOn(bounds, screen); })) {
    bounds.left = before.left;
    bounds.top = before.top;
  }
}
