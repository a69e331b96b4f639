// What a start of the program meets in its program folder that it did not
// make: entries that are not files where it reads files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QMenu>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "app/DBWrapperGlobal.h"
#include "app/TfrmMain.h"
#include "catalog/Udbwrapper.h"
#include "tests/support/program_run.h"
#include "tests/support/scripted_dialogs.h"
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

}  // namespace
