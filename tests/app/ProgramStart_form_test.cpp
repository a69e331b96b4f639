// What a start of the program meets in its program folder that it did not
// make: entries that are not files where it reads files, a language library
// that harms whoever loads it, a catalogue that another process holds.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QMenu>
#include <QProcess>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "app/DBWrapperGlobal.h"
#include "app/LanguageLibraryCheck.h"
#include "app/MessagePump.h"
#include "app/TfrmData.h"
#include "app/TfrmMain.h"
#include "catalog/Udbwrapper.h"
#include "tests/support/child_process.h"
#include "tests/support/damaged_library.h"
#include "tests/support/disk_file.h"
#include "tests/support/fake_os.h"
#include "tests/support/program_run.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/test_catalogue.h"
#include "tests/support/test_program_folder.h"

namespace {

// Catches a start that waits for good on named pipes: past its time, it
// says so and lets every open() waiting on one of `pipes` go (a writer
// that comes and goes gives the reader an end of file), so that the start
// ends and the test reports instead of hanging.
class PipeWatchdog {
 public:
  explicit PipeWatchdog(std::vector<std::string> pipes)
      : pipes_(std::move(pipes)), thread_([this] { watch(); }) {}
  ~PipeWatchdog() {
    {
      std::lock_guard guard(mutex_);
      done_ = true;
    }
    ended_.notify_all();
    thread_.join();
  }
  bool Fired() const { return fired_; }

 private:
  void watch() {
    std::unique_lock lock(mutex_);
    if (ended_.wait_for(lock, std::chrono::seconds(10), [this] { return done_; })) return;
    fired_ = true;
    while (!ended_.wait_for(lock, std::chrono::milliseconds(20), [this] { return done_; })) {
      for (const std::string& pipe : pipes_) {
        const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) ::close(fd);
      }
    }
  }

  std::vector<std::string> pipes_;
  std::mutex mutex_;
  std::condition_variable ended_;
  bool done_ = false;  // guarded by mutex_
  std::atomic<bool> fired_{false};
  std::thread thread_;
};

// A named pipe with no writer in place of the settings file, the language
// library or the data folder's lock file would block open() for good. The
// start goes on as without the file (as without the library, for the
// library), and the program works.
TEST(ProgramStart, NamedPipesWhereFilesAreReadNeverHoldItUp) {
  const struct {
    const char* name;
    const char* pipe;  // in the program folder
  } cases[] = {
      {"settings", "vantrelodisk.ini"},
      {"language library", "QuendrixResDemo.dll"},
      {"data folder lock", "data/CATALOG.LCK"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* left : {"data", "vantrelodisk.ini", "QuendrixResDemo.dll"})
      std::filesystem::remove_all(left);
    TestProgramFolder folder(BuiltLanguageLibrary());
    std::filesystem::create_directory("data");
    std::filesystem::remove(c.pipe);
    ASSERT_EQ(::mkfifo(c.pipe, 0600), 0);
    ScriptedMessageBoxes boxes;
    QString firstMenu;
    int32_t support = 0;
    bool watchdogFired = false;
    {
      PipeWatchdog watchdog({folder.Folder() + c.pipe});
      EXPECT_EQ(RunProgram([&] {
                  firstMenu = Find<QMenu>(*frmMain, "itmFile")->title();
                  TSupportRecord record;
                  support = dbWrapper->AddSupportRecord(record);
                  EXPECT_TRUE(frmMain->close());
                }),
                0);
      watchdogFired = watchdog.Fired();
    }
    EXPECT_FALSE(watchdogFired) << "the start waited on the named pipe";
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(support, 1);
    // The built library's default is English; without it, the program's
    // own French.
    EXPECT_EQ(firstMenu, std::string(c.pipe) == "QuendrixResDemo.dll" ? "&Fichier" : "&File");
    // A settings file taken as missing is made at the end, as a missing
    // one is.
    EXPECT_TRUE(std::filesystem::is_regular_file(folder.IniPath()));
  }
}

// A language library that crashes the loader, stops it on an assertion,
// crashes in the calls of the language the settings name, never ends its
// initialiser or ends the process from it: the start says so in one box,
// in the program's own French, and reaches the main window in French.
TEST(ProgramStart, AHarmfulLanguageLibraryIsRefusedInOneBoxAndTheProgramStartsInFrench) {
  namespace ts = testing_support;
  const std::string built = ts::readDiskFile(BuiltLanguageLibrary());
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"relocation outside the library", ts::WithRelocationOutside(built)},
      {"relative relocation of another type", ts::WithRelativeRelocationRetyped(built)},
      {"chosen language crashes", ts::readDiskFile(HarmfulLanguageLibrary("crashing"))},
      {"initialiser that never returns", ts::readDiskFile(HarmfulLanguageLibrary("hanging"))},
      {"initialiser that ends the process", ts::readDiskFile(HarmfulLanguageLibrary("exiting"))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all("data");
    TestProgramFolder folder;
    const language_check::ScopedLanguageCheck limit(BuiltProgram(), 1000);
    ts::writeDiskFile(TfrmData::kLanguageLibrary, c.bytes);
    ts::writeDiskFile(folder.IniPath(), "[Misc]\nLangID=1\n");
    ScriptedMessageBoxes boxes;
    QString firstMenu;
    EXPECT_EQ(RunProgram([&] {
                firstMenu = Find<QMenu>(*frmMain, "itmFile")->title();
                EXPECT_TRUE(frmMain->close());
              }),
              0);
    EXPECT_EQ(firstMenu, "&Fichier");
    ASSERT_EQ(boxes.Shown().size(), 1u);
    const std::string text = boxes.Shown()[0].text.toStdString();
    const std::string head = "Bibliothèque de langue refusée : " + folder.Folder() +
                             TfrmData::kLanguageLibrary + "\nElle ";
    EXPECT_EQ(text.substr(0, head.size()), head) << text;
    EXPECT_EQ(boxes.Shown()[0].caption, "Attention");
  }
}

// Another copy of the program (another program folder, the same data
// folder through a symbolic link) holds the catalogue: a start says so in
// one box, in the user's language (the built library's English), and ends
// with code 1, before any window, and the other copy goes on working.
TEST(ProgramStart, ACatalogueHeldByAnotherProcessIsSaidOnceAndTheStartEnds) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  std::filesystem::create_directories("first/data");
  std::filesystem::create_directory_symlink(folder.Folder() + "first/data", "data");
  const std::string report = folder.Folder() + "first.out";
  QProcess first;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("PROBE_MODE", "hold-catalogue");
  environment.insert("PROBE_DATA", QString::fromStdString(folder.Folder() + "first/data"));
  environment.insert("PROBE_OUTPUT", QString::fromStdString(report));
  first.setProcessEnvironment(environment);
  first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  first.start(SHELL_PROBE, {});
  ASSERT_TRUE(first.waitForStarted());
  for (int wait = 0; wait < 400 && testing_support::readDiskFile(report).empty(); wait++)
    QThread::msleep(50);
  ASSERT_EQ(testing_support::readDiskFile(report), "open\n");

  ScriptedMessageBoxes boxes;
  bool formsMade = false;
  EXPECT_EQ(RunProgram([&] { formsMade = true; }), 1);
  EXPECT_FALSE(formsMade);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].text.toStdString(),
            "Catalogue already opened by another program:\n" + folder.Folder() + "data");
  EXPECT_EQ(boxes.Shown()[0].caption, "Warning");

  first.closeWriteChannel();
  ASSERT_TRUE(first.waitForFinished(20000));
  EXPECT_EQ(first.exitCode(), 0);
  EXPECT_EQ(testing_support::readDiskFile(report), "open\nstored 1\n");
  // Its catalogue, closed, opens here with the support it stored.
  RunProgram([] {
    dbWrapper->CountSupports();
    EXPECT_EQ(dbWrapper->GetSupportCount(), 1);
  });
  EXPECT_EQ(boxes.Shown().size(), 1u);
}

// A start that finds a deletion a death cut short, and part of a record
// after the last one of DBFILES, says what it repaired in one box, in
// words, in the language chosen: the built library's English, or the
// program's own French without it.
TEST(ProgramStart, WhatAStartRepairedIsSaidOnceInTheUsersLanguage) {
  const struct {
    bool library;
    QString caption;
    QString text;  // "%1": the data folder
  } cases[] = {
      {true, "Catalogue repaired",
       "At start, the catalogue of the following folder was checked:\n%1\n\n"
       "- Table DBFILES.DBF: an incomplete record at the end of the file was removed\n"
       "- Medium 2 (M2): deletion completed"},
      {false, QString::fromUtf8("Réparation de la base de données"),
       QString::fromUtf8("Au démarrage, la base de données du dossier suivant a été vérifiée :\n"
                         "%1\n\n"
                         "- Table DBFILES.DBF : enregistrement incomplet en fin de fichier retiré\n"
                         "- Support 2 (M2) : suppression achevée")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.library ? "English" : "French");
    for (const char* left : {"data", "vantrelodisk.ini", "QuendrixResDemo.dll"})
      std::filesystem::remove_all(left);
    TestProgramFolder folder(c.library ? BuiltLanguageLibrary() : std::string());
    {
      TestCatalogue catalogue;
      catalogue.AddSupport("M1", 1, {"a.txt"});
      catalogue.AddSupport("M2", 2, {"b.txt"});
    }
    ASSERT_EQ(testing_support::inChildProcess([](CODE4& own, testing_support::FakeOs& fake) {
                auto* db = new TDBWrapper(own, "data");  // never closed: the process dies
                db->FlushAll();
                fake.exitAtWrite(2, 42);
                db->DeleteSupport(2);
                return 0;
              }),
              42);
    const std::string files = testing_support::readDiskFile("data/DBFILES.dbf");
    testing_support::writeDiskFile("data/DBFILES.dbf",
                                   files.substr(0, files.size() - 1) + std::string(30, 'x'));
    ScriptedMessageBoxes boxes;
    int32_t supports = -1;
    EXPECT_EQ(RunProgram([&] {
                dbWrapper->CountSupports();
                supports = dbWrapper->GetSupportCount();
              }),
              0);
    EXPECT_EQ(supports, 1);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].caption, c.caption);
    EXPECT_EQ(boxes.Shown()[0].text, c.text.arg(QString::fromStdString(folder.Folder() + "data")));
  }
}

// A start on a catalogue whose file index a killed program left
// unfinished (its change mark set) rebuilds it, showing a window with its
// progress while it works (titled as the opening it is), and says once
// afterwards what it rebuilt and why; the next start shows neither. On a
// full disk it can only rebuild the index in memory: its one box says so
// and calls nothing repaired.
TEST(ProgramStart, ARebuildOfAnUnfinishedIndexShowsItsProgressThenSaysIt) {
  TestProgramFolder folder;
  {
    TestCatalogue catalogue;
    std::vector<std::string> files;
    for (int i = 0; i < 6000; i++) files.push_back("f" + std::to_string(i) + ".txt");
    catalogue.AddSupport("M1", 1, files);
  }
  std::string index = testing_support::readDiskFile("data/DBFILES.cdx");
  index[28] = 1;
  testing_support::writeDiskFile("data/DBFILES.cdx", index);
  {
    SCOPED_TRACE("on a full disk");
    testing_support::FakeOs disk;
    platform::ScopedOs scoped(disk);
    disk.fillDiskAtWrite(1);
    ScriptedMessageBoxes boxes;
    EXPECT_EQ(RunProgram([] {}), 0);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].caption, QString::fromUtf8("Vérification de la base de données"));
    EXPECT_TRUE(boxes.Shown()[0].text.contains(QString::fromUtf8("en mémoire")))
        << boxes.Shown()[0].text.toStdString();
  }
  for (const bool rebuilds : {true, false}) {
    SCOPED_TRACE(rebuilds ? "left unfinished" : "the next start");
    bool progressShown = false;
    QString progressTitle;
    ScopedMessagePump pump([&] {
      for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->objectName() != "dlgStartProgress" || !window->isVisible() ||
            frmMain != nullptr)
          continue;
        progressShown = true;
        progressTitle = window->windowTitle();
      }
      QCoreApplication::processEvents();
    });
    ScriptedMessageBoxes boxes;
    EXPECT_EQ(RunProgram([] {}), 0);
    EXPECT_EQ(progressShown, rebuilds);
    ASSERT_EQ(boxes.Shown().size(), rebuilds ? 1u : 0u);
    if (rebuilds) {
      EXPECT_EQ(progressTitle, QString::fromUtf8("Ouverture de la base de données"));
      EXPECT_EQ(boxes.Shown()[0].caption, QString::fromUtf8("Réparation de la base de données"));
      EXPECT_TRUE(boxes.Shown()[0].text.contains(
          QString::fromUtf8("- Table DBFILES.DBF : son index était resté inachevé, une "
                            "modification n'ayant pas été entièrement écrite sur le disque : "
                            "reconstruit")))
          << boxes.Shown()[0].text.toStdString();
    }
  }
}

}  // namespace
