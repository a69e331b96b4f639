#include "features/supports/TGridColCustomizer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "app/TIniFile.h"

namespace {

std::vector<int32_t> positions(const TGridColCustomizer& layout) {
  std::vector<int32_t> result;
  for (int32_t i = 0; i < layout.ColumnCount(); ++i) result.push_back(layout.GetPosition(i));
  return result;
}

TGridColCustomizer loaded(int32_t n, const char* iniText) {
  { std::ofstream("grid.ini") << iniText; }
  TIniFile ini("grid.ini");
  TGridColCustomizer layout(n);
  layout.Load(ini, "SupportList");
  layout.Recompute();
  return layout;
}

TEST(GridColCustomizerTest, PositionsFollowVisibilityAndOrderWithoutGaps) {
  struct Case {
    const char* ini;
    std::vector<int32_t> expected;
  };
  const Case cases[] = {
      {"", {0, 1, 2, 3, 4}},
      {"[SupportList]\r\nDisp.2=0\r\n", {0, 1, -1, 2, 3}},
      {"[SupportList]\r\nOrder.0=3\r\nOrder.3=0\r\n", {3, 1, 2, 0, 4}},
      {"[SupportList]\r\nOrder.0=4\r\nOrder.4=0\r\nDisp.1=0\r\nDisp.2=0\r\n", {2, -1, -1, 1, 0}},
      // Equal order values share a position: the lower column is found.
      {"[SupportList]\r\nOrder.2=1\r\n", {0, 1, 1, 2, 3}},
      // A damaged file: orders held to 0..n-1, a non-number kept as it was.
      {"[SupportList]\r\nOrder.0=-7\r\nOrder.1=99\r\nDisp.0=x\r\n", {0, 3, 1, 2, 3}},
  };
  for (const Case& c : cases) EXPECT_EQ(positions(loaded(5, c.ini)), c.expected) << c.ini;

  const TGridColCustomizer shared = loaded(5, "[SupportList]\r\nOrder.2=1\r\n");
  EXPECT_EQ(shared.ColumnAtPosition(1), 1);
  const TGridColCustomizer hidden = loaded(5, "[SupportList]\r\nDisp.2=0\r\n");
  EXPECT_EQ(hidden.ColumnAtPosition(4), -1);
}

TEST(GridColCustomizerTest, AMovedColumnAndItsWidthsSurviveARestart) {
  {
    TGridColCustomizer layout = loaded(9, "");
    layout.MoveColumn(0, 3);
    layout.MoveColumn(2, 42);  // no column there: nothing changes
    layout.Recompute();
    layout.CaptureWidths({50, 60, 70, 80, 90, 100, 110, 120, 130, 140});
    TIniFile ini("grid.ini");
    layout.Save(ini, "SupportList");
  }
  TIniFile ini("grid.ini");
  EXPECT_EQ(ini.ReadInteger("SupportList", "Order.0", -1), 3);
  EXPECT_EQ(ini.ReadInteger("SupportList", "Order.3", -1), 0);
  TGridColCustomizer layout(9);
  layout.Load(ini, "SupportList");
  layout.Recompute();
  EXPECT_EQ(positions(layout), (std::vector<int32_t>{3, 1, 2, 0, 4, 5, 6, 7, 8}));
  EXPECT_EQ(layout.GetWidth(0), 80);  // it stood at display column 3
  EXPECT_EQ(layout.GetWidth(3), 50);
  std::vector<int32_t> grid(10, 7);
  layout.ApplyWidths(grid);
  EXPECT_EQ(grid, (std::vector<int32_t>{50, 60, 70, 80, 90, 100, 110, 120, 130, 7}));
}

TEST(GridColCustomizerTest, WidthsFromADamagedFileAreHeldToTheirBounds) {
  const TGridColCustomizer layout =
      loaded(3, "[SupportList]\r\nWidth.0=-20\r\nWidth.1=2000000000\r\nWidth.2=42\r\n");
  EXPECT_EQ(layout.GetWidth(0), TGridColCustomizer::kMinWidth);
  EXPECT_EQ(layout.GetWidth(1), TGridColCustomizer::kMaxWidth);
  EXPECT_EQ(layout.GetWidth(2), 42);
}

}  // namespace
