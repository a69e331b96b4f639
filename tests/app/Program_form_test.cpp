// The program itself, started from a program folder of the test's own on
// the virtual X display: its window is shown with its catalogue, closes
// when asked as a window manager asks, and leaves its settings behind.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <climits>
#include <filesystem>

#include "app/TIniFile.h"
#include "tests/support/disk_file.h"
#include "tests/support/screenshot.h"
#include "tests/support/test_catalogue.h"
#include "tests/support/test_program_folder.h"
#include "tests/support/x_windows.h"

namespace {

// The window's picture once painting has settled: two grabs alike, and
// more than one colour.
QPixmap settledPicture(uint32_t window) {
  QScreen* screen = QGuiApplication::primaryScreen();
  QImage last;
  for (int attempt = 0; attempt < 50; attempt++) {
    QThread::msleep(100);
    const QPixmap picture = screen->grabWindow(window);
    const QImage image = picture.toImage();
    if (!image.isNull() && image == last && image.pixel(0, 0) != image.pixel(40, 40))
      return picture;
    last = image;
  }
  return QPixmap::fromImage(last);
}

TEST(ProgramScreenshot, StartsShowsItsCatalogueAndClosesCleanly) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  const std::string executable = folder.Folder() + "vantrelodisk";
  std::filesystem::copy_file(BuiltProgram(), executable);
  TIniFile(folder.IniPath()).WriteInteger("Misc", "LangID", 1);
  {
    TestCatalogue catalogue;
    catalogue.AddSupport("SAUVEGARDE_2023", 0x1234ABCD, {"a.txt", "photos\\b.jpg"});
    catalogue.AddSupport("INSTALL_DEB12", 0x0BADF00D, {"setup.exe"});
  }

  QProcess program;
  program.setProcessChannelMode(QProcess::ForwardedChannels);
  program.start(QString::fromStdString(executable), {});
  ASSERT_TRUE(program.waitForStarted());
  const uint32_t window =
      WaitForProgramWindow(program.processId(), "Kavri Vantrelodisk v1.01", 20000);
  ASSERT_NE(window, 0u);
  EXPECT_FALSE(SaveScreenshot(settledPicture(window), "main_window").empty());

  ASSERT_TRUE(AskWindowToClose(window));
  if (!program.waitForFinished(20000)) {
    SaveScreenshot(QGuiApplication::primaryScreen()->grabWindow(0), "main_window_not_closed");
    FAIL() << "the program did not end; its ini file:\n"
           << testing_support::readDiskFile(folder.IniPath());
  }
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);

  const TIniFile ini(folder.IniPath());
  for (const char* key : {"Left", "Top", "Width", "Height"})
    EXPECT_NE(ini.ReadInteger("MainForm", key, INT_MIN), INT_MIN) << key;
  EXPECT_GE(ini.ReadInteger("MainForm", "Width", 0), 640);
  EXPECT_EQ(ini.ReadInteger("Misc", "ToolBars", -1), 1);
  EXPECT_EQ(ini.ReadInteger("SupportList", "Order.8", -1), 8);
  // The catalogue was closed whole.
  TestCatalogue catalogue;
  catalogue.Db().CountSupports();
  EXPECT_EQ(catalogue.Db().GetSupportCount(), 2);
}

}  // namespace
