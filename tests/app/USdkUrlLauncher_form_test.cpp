#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cerrno>
#include <fstream>
#include <memory>
#include <optional>

#include "app/USdkUrlLauncher.h"
#include "platform/os.h"
#include "tests/support/fake_programs.h"

namespace {

using Words = std::vector<std::string>;

struct Outcome {
  bool success = false;
  int32_t lastResult = 0;
  bool onInterfaceThread = false;
};

// Launches and runs the event loop until the launcher's event arrives.
std::optional<Outcome> launch(int16_t mode, const std::string& url) {
  auto outcome = std::make_shared<std::optional<Outcome>>();  // kept by a late event
  auto record = [outcome](USdkUrlLauncher* sender) {
    *outcome = Outcome{sender->Succeeded(), sender->LastResult(),
                       QThread::currentThread() == qApp->thread()};
  };
  USdkUrlLauncher::Launch(nullptr, mode, url, record, record);
  QElapsedTimer waited;
  waited.start();
  while (!*outcome && waited.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return *outcome;
}

TEST(USdkUrlLauncherThreads, OpensTheAddressAsOneArgumentInEveryMode) {
  const std::string url = "http://kavri.example/a b\"c;$(touch pwned)";
  const std::string browser = WriteFakeProgram("my browser", RecordArguments("browser.args"));
  const std::string opener = WriteFakeProgram(
      "opener", RecordArguments("opener.args") + "[ \"$1\" = fail ] && exit 3; exit 0");
  mkdir("apps", 0755);
  std::ofstream("apps/web.desktop") << "[Desktop Entry]\nExec=\"" << browser << "\" --new \"%u\"\n";
  const BrowserLookup desktop{
      {WriteFakeProgram("query", "echo web.desktop")}, {"apps"}, "", opener};
  const BrowserLookup variable{{}, {}, "\"" + browser + "\" -remote %s", opener};
  const BrowserLookup none{{}, {}, "", opener};
  struct Case {
    const char* name;
    BrowserLookup lookup;
    int16_t mode;
    std::string url;
    bool success;
    int32_t lastResult;
    const char* record;  // null: nothing started
    Words arguments;
  } cases[] = {
      {"mode 0, the desktop's browser", desktop, 0, url, true, 0, "browser.args", {"--new", url}},
      {"an unknown mode is 0", desktop, 7, url, true, 0, "browser.args", {"--new", url}},
      {"mode 1, from BROWSER", variable, 1, url, true, 0, "browser.args", {"-remote", url}},
      {"mode 3 waits for the browser", variable, 3, url, true, 0, "browser.args", {"-remote", url}},
      {"mode 1 without a browser", none, 1, url, false, -ENOENT, nullptr, {}},
      {"mode 2", none, 2, url, true, 0, "opener.args", {url}},
      {"mode 2 whose opener fails", none, 2, "fail", false, 3, "opener.args", {"fail"}},
      {"mode 2 with an empty address", none, 2, "", false, 1, nullptr, {}},
  };
  for (const Case& c : cases) {
    ScopedBrowserLookup scoped(c.lookup);
    const std::optional<Outcome> outcome = launch(c.mode, c.url);
    ASSERT_TRUE(outcome) << c.name;
    EXPECT_TRUE(outcome->onInterfaceThread) << c.name;
    EXPECT_EQ(outcome->success, c.success) << c.name;
    EXPECT_EQ(outcome->lastResult, c.lastResult) << c.name;
    if (c.record != nullptr) {
      const Words lines = WaitForLines(c.record);
      ASSERT_FALSE(lines.empty()) << c.name;
      EXPECT_EQ(Words(lines.begin() + 1, lines.end()), c.arguments) << c.name;
    }
    remove("browser.args");
    remove("opener.args");
  }
  EXPECT_NE(access("pwned", F_OK), 0);  // no shell ever saw the address
}

TEST(USdkUrlLauncherThreads, AnEventDueAfterTheApplicationWentNeverRuns) {
  // Started through the platform: a process that runs threads forks badly.
  const std::string browser = WriteFakeProgram("slow", "sleep 1");
  int64_t pid = 0;
  ASSERT_EQ(platform::os().startProcess({"env", "PROBE_MODE=late-event", "PROBE_OUTPUT=probe.out",
                                         "PROBE_BROWSER=" + browser, SHELL_PROBE},
                                        false, pid),
            0);
  bool ended = false;
  int exitCode = -1;
  ASSERT_EQ(platform::os().waitProcess(pid, true, ended, exitCode), 0);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(WaitForLines("probe.out"), Words{"done"});
}

}  // namespace
