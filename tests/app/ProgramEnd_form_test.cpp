// A request of the system to end the program (SIGTERM at a logout or a
// shutdown, SIGHUP when the session goes, SIGINT) ends a real program
// process whatever box or dialog is open, with code 0, as closing its
// window ends it: the settings saved, the catalogue written and closed.
#include <signal.h>

#include <QCoreApplication>
#include <QProcess>
#include <QThread>
#include <filesystem>
#include <functional>
#include <sstream>

#include "app/DBWrapperGlobal.h"
#include "app/MessageBoxes.h"
#include "app/TIniFile.h"
#include "app/TfrmMain.h"
#include "catalog/Udbwrapper.h"
#include "features/indexing/DirEnumerator.h"
#include "features/indexing/MediumIndexing.h"
#include "platform/os.h"
#include "tests/support/disk_file.h"
#include "tests/support/fake_os.h"
#include "tests/support/program_run.h"
#include "tests/support/reader_agreement.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/test_catalogue.h"
#include "tests/support/test_program_folder.h"

namespace {

using testing_support::diskFileExists;
using testing_support::readDiskFile;

// Whether process `pid` has a handler of its own for `signal`.
bool catches(int64_t pid, int signal) {
  std::istringstream status(readDiskFile("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigCgt:", 0) == 0)
      return ((std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1) != 0;
  }
  return false;
}

bool waitFor(const std::function<bool()>& ready) {
  for (int wait = 0; wait < 1000; wait++) {
    if (ready()) return true;
    QThread::msleep(20);
  }
  return false;
}

TEST(ProgramEnd, ARequestToEndEndsItWhateverBoxOrDialogIsOpen) {
  const struct {
    const char* name;
    // The probe's steps (shell_probe.cpp); null: the built program, whose
    // start shows a box: it had to rebuild an index.
    const char* steps;
    const char* top;  // the probe's window on top when the request comes
    int signal;
    // A database error box came too late to be shown: its text went to
    // the error stream instead.
    bool errorBoxSkipped;
  } cases[] = {
      {"the box of the start", nullptr, "", SIGTERM, false},
      {"the preferences", "itmPreferences", "TfrmParameters", SIGTERM, false},
      {"the indexing dialog", "itmSupportIndex", "TfrmIndexing", SIGTERM, false},
      {"a box over the export dialog", "itmExportBase box", "QMessageBox", SIGHUP, false},
      {"the import's file dialog", "itmImportBase btnSelectTarget", "QFileDialog", SIGINT, false},
      {"a database error box raised as it ends", "closing-error", "-", SIGTERM, true},
      {"a database error box of a closing", "closing-error close", "QMessageBox", SIGTERM, false},
  };
  TestProgramFolder folder;
  const std::string program = folder.Folder() + "vantrelodisk";
  const std::string report = folder.Folder() + "probe.out";
  std::filesystem::copy_file(BuiltProgram(), program);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const std::string& left : {std::string("data"), folder.IniPath(), report})
      std::filesystem::remove_all(left);
    {
      TestCatalogue catalogue;
      for (uint32_t serial : {1u, 2u, 3u}) catalogue.AddSupport("SAVE", serial, {"a.txt"});
    }
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    std::function<bool()> ready;
    if (c.steps == nullptr) {
      std::filesystem::remove("data/DBSUPPORT.cdx");
      process.setProcessEnvironment(environment);
      process.start(QString::fromStdString(program), {});
      // Its start shows the box once the index is rebuilt; a request that
      // came meanwhile waits for the box's event loop.
      ready = [&] {
        return catches(process.processId(), SIGTERM) && diskFileExists("data/DBSUPPORT.cdx");
      };
    } else {
      environment.insert("PROBE_MODE", "open-windows");
      environment.insert("PROBE_FOLDER", QString::fromStdString(folder.Folder()));
      environment.insert("PROBE_STEPS", c.steps);
      environment.insert("PROBE_OUTPUT", QString::fromStdString(report));
      process.setProcessEnvironment(environment);
      process.start(SHELL_PROBE, {});
      ready = [&] { return !readDiskFile(report).empty(); };
    }
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(waitFor(ready));
    ::kill(static_cast<pid_t>(process.processId()), c.signal);
    if (!process.waitForFinished(20000)) {
      process.kill();
      process.waitForFinished();
      ADD_FAILURE() << "the program did not end";
      continue;
    }
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    const QByteArray errors = process.readAllStandardError();
    EXPECT_EQ(errors.contains("Not shown"), c.errorBoxSkipped);
    if (c.errorBoxSkipped) {
      EXPECT_TRUE(errors.contains("Code1=-69")) << errors.toStdString();
    }
    if (c.steps != nullptr) {
      EXPECT_EQ(readDiskFile(report), std::string("open ") + c.top + "\n");
    }

    // Closed as a user closes it: the settings written, no change left
    // pending, the index the program rebuilt whole for other readers.
    EXPECT_EQ(TIniFile(folder.IniPath()).ReadInteger("Misc", "ToolBars", -1), 1);
    EXPECT_EQ(readDiskFile("data/CATALOG.PND").substr(0, 1), " ");
    if (c.steps == nullptr) {
      EXPECT_EQ(testing_support::catalogueDisagrees("data"), "");
    }
    // A restart finds what was stored, and nothing to repair or rebuild.
    ScriptedMessageBoxes boxes;
    int32_t supports = 0;
    EXPECT_EQ(RunProgram([&] {
                dbWrapper->CountSupports();
                supports = dbWrapper->GetSupportCount();
              }),
              0);
    EXPECT_EQ(supports, c.steps == nullptr ? 3 : 4);
    EXPECT_TRUE(boxes.Shown().empty());
  }
}

// The disk fills while a medium is stored and is still full as the program
// ends: the user reads it in words as it is met and once more as the
// program ends, each time while the main window stands, and never an
// engine code, however many writes the disk refuses.
TEST(ProgramEnd, AFullDiskIsSaidInWordsAsItIsMetAndAtTheEndWhileTheWindowStands) {
  TestProgramFolder folder;
  {
    TestCatalogue catalogue;
    catalogue.AddSupport("M1", 1, {"a.txt"});
  }
  std::filesystem::create_directory("medium");
  for (int i = 0; i < 400; i++)
    testing_support::writeDiskFile("medium/file" + std::to_string(i) + ".txt", "x");
  DirEnumerator walk;
  ASSERT_EQ(walk.Enumerate("medium"), 400);
  struct Shown {
    QString text;
    bool windowStands;
  };
  std::vector<Shown> shown;
  ScopedMessageBoxes boxes([&](const BoxRequest& box) {
    shown.push_back({box.text, frmMain != nullptr && frmMain->isVisible()});
    return BoxAnswer::Ok;
  });
  testing_support::FakeOs os;
  platform::ScopedOs scoped(os);
  EXPECT_EQ(RunProgram([&] {
              os.fillDiskAtWrite(6);
              EXPECT_FALSE(InsertScan(*dbWrapper, walk, TVolumeInfo(), "", "", nullptr).written);
              QCoreApplication::processEvents();
              frmMain->close();
            }),
            0);
  int asMet = 0, atTheEnd = 0;
  for (const Shown& box : shown) {
    EXPECT_TRUE(box.windowStands) << box.text.toStdString();
    EXPECT_FALSE(box.text.contains("Code1=")) << box.text.toStdString();
    asMet +=
        box.text.contains(QString::fromUtf8("La base de données n'a pas pu être écrite")) ? 1 : 0;
    atTheEnd += box.text.startsWith(QStringLiteral("Le disque est plein")) ? 1 : 0;
  }
  EXPECT_EQ(asMet, 1);
  EXPECT_EQ(atTheEnd, 1);
  EXPECT_EQ(shown.size(), 2u);
}

}  // namespace
