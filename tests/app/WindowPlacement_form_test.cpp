#include <gtest/gtest.h>

#include <QWidget>

#include "app/TIniFile.h"
#include "app/WindowPlacement.h"

namespace {

TEST(WindowPlacement, PlacementSavedIsPlacementRestored) {
  QWidget window;
  window.move(220, 205);
  window.resize(650, 260);
  {
    TIniFile ini("app.ini");
    EXPECT_FALSE(LoadFormPlacement(window, ini, "MainForm", true, true));  // a first start
    window.move(30, 40);
    window.resize(700, 500);
    SaveFormPlacement(window, ini, "MainForm", true, true);
  }
  QWidget again;
  again.move(220, 205);
  again.resize(650, 260);
  EXPECT_TRUE(LoadFormPlacement(again, TIniFile("app.ini"), "MainForm", true, true));
  EXPECT_EQ(again.pos(), QPoint(30, 40));
  EXPECT_EQ(again.size(), QSize(700, 500));

  QWidget positionOnly;
  positionOnly.resize(650, 260);
  EXPECT_TRUE(LoadFormPlacement(positionOnly, TIniFile("app.ini"), "MainForm", true, false));
  EXPECT_EQ(positionOnly.pos(), QPoint(30, 40));
  EXPECT_EQ(positionOnly.size(), QSize(650, 260));
}

}  // namespace
