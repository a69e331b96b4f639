// The program itself, started from a program folder of the test's own on
// the virtual X display: its window is shown with its catalogue (the
// picture main_window.png: a list of several supports), closes when asked
// as a window manager asks, and leaves its settings behind.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <filesystem>

#include "app/TIniFile.h"
#include "catalog/Udbwrapper.h"
#include "platform/ansi.h"
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
  testing_support::writeDiskFile(
      folder.IniPath(), "[Misc]\nLangID=1\n[MainForm]\nLeft=20\nTop=20\nWidth=1000\nHeight=400\n");
  {
    TestCatalogue catalogue;
    const struct {
      const char* volume;
      int64_t size;
      const char* userId;
      const char* text;
    } supports[] = {
        {"SAUVEGARDE_2023", 4389212160, "boîte 3", "Photos et documents"},
        {"Musique été", 702545920, "", "Albums ripés\r\nFLAC"},
        {"INSTALL_DEB12", 3987734528, "", ""},
        {"Clé USB", 15728640, "bureau", "Notes de réunion"},
        {"FILMS_VO", 8547991552, "", "Œuvres complètes"},
    };
    for (const auto& s : supports) {
      TSupportRecord support;
      support.type = "CD/DVD";
      support.volume = platform::utf8ToAnsi(s.volume);
      support.volumeSerial = static_cast<int32_t>(0x1234ABCD + support.volume.size());
      support.size = s.size;
      support.fileCount = static_cast<int32_t>(s.size / 1000000);
      support.userId = platform::utf8ToAnsi(s.userId);
      support.dateRecorded = 45000.75 + support.volume.size() * 31.1;
      support.text = platform::utf8ToAnsi(s.text);
      catalogue.Db().AddSupportRecord(support);
    }
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

  // Written as it closed: the placement it had, the tool bar, the list's
  // layout.
  const TIniFile ini(folder.IniPath());
  EXPECT_EQ(ini.ReadInteger("MainForm", "Width", 0), 1000);
  EXPECT_EQ(ini.ReadInteger("MainForm", "Height", 0), 400);
  EXPECT_EQ(ini.ReadInteger("Misc", "ToolBars", -1), 1);
  EXPECT_EQ(ini.ReadInteger("SupportList", "Order.8", -1), 8);
  // The catalogue was closed whole.
  TestCatalogue catalogue;
  catalogue.Db().CountSupports();
  EXPECT_EQ(catalogue.Db().GetSupportCount(), 5);
}

// A logout or a shutdown sends SIGTERM: the program ends as a closed
// window ends it, its settings saved and the catalogue it made written
// whole (the change marks of its indexes cleared).
TEST(ProgramScreenshot, ATerminationRequestEndsItAsAClosedWindowDoes) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  const std::string executable = folder.Folder() + "vantrelodisk";
  std::filesystem::copy_file(BuiltProgram(), executable);
  testing_support::writeDiskFile(folder.IniPath(), "[MainForm]\nWidth=900\nHeight=500\n");
  QProcess program;
  program.setProcessChannelMode(QProcess::ForwardedChannels);
  program.start(QString::fromStdString(executable), {});
  ASSERT_TRUE(program.waitForStarted());
  ASSERT_NE(WaitForProgramWindow(program.processId(), "Kavri Vantrelodisk v1.01", 20000), 0u);
  program.terminate();
  ASSERT_TRUE(program.waitForFinished(20000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_EQ(TIniFile(folder.IniPath()).ReadInteger("Misc", "ToolBars", -1), 1);
  for (const char* index : {"DBFILES.cdx", "DBSUPPORT.cdx", "DBID.cdx"}) {
    const std::string bytes = testing_support::readDiskFile(folder.Folder() + "data/" + index);
    ASSERT_GT(bytes.size(), 28u) << index;
    EXPECT_EQ(bytes[28], '\0') << index;
  }
}

}  // namespace
