#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "app/TIniFile.h"
#include "app/WindowPlacement.h"
#include "tests/support/disk_file.h"

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

TEST(WindowPlacement, APlacementOffEveryScreenOrLargerThanTheDesktopIsBroughtBack) {
  // A damaged or foreign ini file: a window of 100000 pixels took gigabytes
  // of drawing memory, and one far away could not be seen or reached.
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const struct {
    const char* placement;
    QPoint position;  // expected; the size stays within the screen
  } cases[] = {
      {"Left=2000000000\nTop=2000000000\nWidth=100000\nHeight=100000", QPoint(220, 205)},
      {"Left=-2147483648\nTop=40\nWidth=2147483647\nHeight=300", QPoint(220, 205)},
      {"Left=30\nTop=-5000\nWidth=700\nHeight=500", QPoint(220, 205)},
      {"Left=30\nTop=40\nWidth=700\nHeight=100000", QPoint(30, 40)},
      {"Left=-100\nTop=-10\nWidth=700\nHeight=500", QPoint(-100, -10)},  // partly on screen
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.placement);
    testing_support::writeDiskFile("app.ini", std::string("[MainForm]\n") + c.placement + "\n");
    QWidget window;
    window.move(220, 205);
    window.resize(650, 260);
    LoadFormPlacement(window, TIniFile("app.ini"), "MainForm", true, true);
    EXPECT_EQ(window.pos(), c.position);
    EXPECT_LE(window.width(), screen.width());
    EXPECT_LE(window.height(), screen.height());
    EXPECT_GT(window.width(), 0);
  }
}

}  // namespace
