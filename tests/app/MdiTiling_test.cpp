#include "app/MdiTiling.h"

#include <gtest/gtest.h>

namespace {

TEST(MdiTiling, StripsCoverTheAreaAndTheLastTakesTheRest) {
  const struct {
    int32_t count, width, height;
    bool sideBySide;
    std::vector<FormBounds> strips;
  } cases[] = {
      {0, 600, 400, true, {}},
      {1, 600, 400, false, {{0, 0, 600, 400}}},
      {3, 640, 300, true, {{0, 0, 213, 300}, {213, 0, 213, 300}, {426, 0, 214, 300}}},
      {3, 640, 301, false, {{0, 0, 640, 100}, {0, 100, 640, 100}, {0, 200, 640, 101}}},
      // An area smaller than the count, or negative: no strip outside it.
      {4, 2, -5, true, {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 2, 0}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TileStrips(c.count, c.width, c.height, c.sideBySide), c.strips)
        << c.count << " strips over " << c.width << "x" << c.height;
  }
}

}  // namespace
