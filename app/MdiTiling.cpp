#include "app/MdiTiling.h"

#include <algorithm>

std::vector<FormBounds> TileStrips(int32_t count, int32_t width, int32_t height, bool sideBySide) {
  std::vector<FormBounds> strips;
  if (count < 1) return strips;
  width = std::max(width, 0);
  height = std::max(height, 0);
  const int32_t length = sideBySide ? width : height;
  const int32_t step = length / count;
  for (int32_t i = 0; i < count; i++) {
    const int32_t start = i * step;
    const int32_t size = i == count - 1 ? length - start : step;
    strips.push_back(sideBySide ? FormBounds{start, 0, size, height}
                                : FormBounds{0, start, width, size});
  }
  return strips;
}
