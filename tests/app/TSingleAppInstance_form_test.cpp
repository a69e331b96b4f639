#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <QProcess>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <system_error>

#include "app/SingleInstanceNames.h"
#include "app/TSingleAppInstance.h"
#include "tests/support/fake_os.h"

namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

// A copy of the probe program named as the program, in `folder`.
std::string copyProgramInto(const std::string& folder) {
  fs::create_directories(folder);
  const std::string path = fs::absolute(folder + "/vantrelodisk").string();
  fs::copy_file(SHELL_PROBE, path);
  return path;
}

// What a first instance reports for the text `line` it was sent: the
// bytes kept and the zero the component keeps after them.
std::string received(const std::string& line) {
  std::string text = "received ";
  char digits[3];
  for (unsigned char c : line + '\0') {
    std::snprintf(digits, sizeof digits, "%02x", c);
    text += digits;
  }
  return text;
}

// A start of the program, with this test's folder as the runtime folder.
struct Start {
  Start(const std::string& program, const QStringList& arguments,
        const std::map<QString, QString>& settings = {})
      : output("start" + std::to_string(++count) + ".out") {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(fs::current_path().string()));
    environment.insert("PROBE_OUTPUT", QString::fromStdString(fs::absolute(output).string()));
    for (const auto& [name, value] : settings) environment.insert(name, value);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(QString::fromStdString(program), arguments);
  }
  ~Start() { Kill(); }
  // Its exit code once it ended by itself; -1 when it did not.
  int Finish() {
    const bool ended =
        process.waitForFinished(15000) && process.exitStatus() == QProcess::NormalExit;
    return ended ? process.exitCode() : -1;
  }
  void Kill() {
    if (process.state() == QProcess::NotRunning) return;
    process.kill();  // SIGKILL: nothing of the program runs after it
    process.waitForFinished();
  }
  // The lines reported, once there are `count` of them (up to ten seconds).
  Words Lines(size_t count = 1) const {
    Words lines;
    for (int i = 0; i < 1000 && lines.size() < count; i++) {
      if (i > 0) usleep(10000);
      lines.clear();
      std::ifstream in(output);
      for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    return lines;
  }

  static inline int count = 0;
  std::string output;
  QProcess process;
};

TEST(TSingleAppInstance, MarkersWithABackslashAreRefusedAndTheOldOneKept) {
  EXPECT_EQ(TSingleAppInstance::TranslateSlashes("C:\\Apps\\Cat.exe"), "C:_Apps_Cat.exe");
  TSingleAppInstance component;
  EXPECT_FALSE(component.Enabled());  // made outside a window's loading
  component.SetMarker("/opt/cat/vantrelodisk");
  for (const char* marker : {"C:\\Apps\\Cat.exe", "\\", "/opt/a\\b"}) {
    EXPECT_FALSE(TSingleAppInstance::IsValidMarkerText(marker));
    try {
      component.SetMarker(marker);
      ADD_FAILURE() << marker;
    } catch (const std::invalid_argument& error) {
      EXPECT_STREQ(error.what(), "A marker may not contain the '\\' character");
    }
    EXPECT_EQ(component.Marker(), "/opt/cat/vantrelodisk");
  }
}

TEST(TSingleAppInstance, KeepsEveryTextTerminatedAndAnswersBeforeTheHandlerRuns) {
  TSingleAppInstance component;
  std::string events;
  component.OnReceiveCommandLine = [&](TSingleAppInstance*, const char* text) {
    events += std::string("handler:") + text;
  };
  const std::string lines[] = {std::string("vantrelodisk -x\0", 16), "no terminating zero", ""};
  for (const std::string& line : lines) {
    events.clear();
    component.LocalWinProc({9, line}, [&] { events += "answer;"; });
    EXPECT_EQ(events, "answer;handler:" + std::string(line.c_str()));
    EXPECT_EQ(std::string(component.ReceivedText(), component.ReceivedLength()), line);
    EXPECT_EQ(component.ReceivedText()[component.ReceivedLength()], '\0');
    EXPECT_EQ(component.ReceivedDataWord(), 9u);
  }
}

// Reaches the lock's handling below the process-wide first-instance flag.
struct LockOnly : TSingleAppInstance {
  using TSingleAppInstance::CreateInternalMapFile;
  using TSingleAppInstance::ReleaseInternalMapFile;
};

TEST(TSingleAppInstance, AFailedCloseRaisesButNeverFromTheDestructor) {
  testing_support::FakeOs fake;
  fake.environmentVariables = {{{"XDG_RUNTIME_DIR", fs::current_path().string()}}};
  platform::ScopedOs scoped(fake);
  const std::string marker = fs::absolute("vantrelodisk").string();
  const int held = open(SingleInstanceNamesFor(marker).lockPath.c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);  // another instance's lock
  for (bool inDestructor : {false, true}) {
    auto component = std::make_unique<LockOnly>();
    component->SetMarker(marker);
    EXPECT_FALSE(component->CreateInternalMapFile());  // the file stays open
    fake.closeError = EIO;
    if (inDestructor) {
      component.reset();  // reported on the error output, not raised
    } else {
      EXPECT_THROW(component->ReleaseInternalMapFile(), std::system_error);
    }
  }
  close(held);
}

TEST(TSingleAppInstance, CopiesInTwoFoldersAreBothFirstAndALaterStartHandsOverItsCommandLine) {
  const std::string a = copyProgramInto("a");
  const std::string b = copyProgramInto("b");
  Start firstA(a, {});
  ASSERT_EQ(firstA.Lines(), Words{"first"});
  Start firstB(b, {"--other"});
  ASSERT_EQ(firstB.Lines(), Words{"first"});

  Start later(a, {"-x", "two words"});
  EXPECT_EQ(later.Finish(), 0);
  EXPECT_EQ(later.Lines(), Words{"second"});
  EXPECT_EQ(firstA.Lines(2), (Words{"first", received(a + " -x two words" + '\0')}));
  EXPECT_EQ(firstB.Lines(), Words{"first"});
}

TEST(TSingleAppInstance, ALaterStartSendsOnlyWhenAskedAndEndsUnlessItsHandlerKeepsIt) {
  const std::string program = copyProgramInto("program");
  Start first(program, {});
  ASSERT_EQ(first.Lines(), Words{"first"});
  struct Case {
    QString pass, keep;
    const char* reported;
  } cases[] = {
      {"0", "0", "second"}, {"1", "1", "second, going on"}, {"0", "1", "second, going on"}};
  int index = 0;
  for (const Case& c : cases) {
    Start later(program, {QString::number(index++)},
                {{"PROBE_PASS", c.pass}, {"PROBE_KEEP", c.keep}});
    EXPECT_EQ(later.Finish(), 0) << index;
    EXPECT_EQ(later.Lines(), Words{c.reported}) << index;
  }
  // A plain start last: every text sent before it has arrived with it.
  Start last(program, {"last"});
  EXPECT_EQ(last.Finish(), 0);
  EXPECT_EQ(first.Lines(3),
            (Words{"first", received(program + " 1" + '\0'), received(program + " last" + '\0')}));
}

TEST(TSingleAppInstance, AFirstInstanceKilledDoesNotBlockTheNextStart) {
  const std::string program = copyProgramInto("program");
  Start killed(program, {});
  ASSERT_EQ(killed.Lines(), Words{"first"});
  killed.Kill();
  Start next(program, {});
  EXPECT_EQ(next.Lines(), Words{"first"});
  Start later(program, {"again"});
  EXPECT_EQ(later.Finish(), 0);
  EXPECT_EQ(next.Lines(2), (Words{"first", received(program + " again" + '\0')}));
}

}  // namespace
