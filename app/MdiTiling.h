// Tiling of the main window's child windows over its client area, in
// strips: side by side (the vertical mosaic) or one above the other (the
// horizontal one). The strips cover the area exactly; the last one takes
// what the division leaves over.
#pragma once

#include <cstdint>
#include <vector>

#include "app/FormPlacement.h"

// The bounds of `count` strips over an area of `width` x `height` pixels,
// in order from the left (sideBySide) or from the top; none for a count
// below 1.
std::vector<FormBounds> TileStrips(int32_t count, int32_t width, int32_t height, bool sideBySide);
