// Tiling of the main window's child windows over its client area, in
// strips: side by side (the vertical mosaic) or one above the other (the
// horizontal one). The strips cover the area exactly; the last one takes
// what the division leaves over.
#pragma once

#include <cstdint>
#include <vector>

struct TileRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;

  bool operator==(const TileRect&) const = default;
};

// `count` strips over an area of `width` x `height` pixels, in order from
// the left (sideBySide) or from the top; none for a count below 1.
std::vector<TileRect> TileStrips(int32_t count, int32_t width, int32_t height, bool sideBySide);
