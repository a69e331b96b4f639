#include "app/CWinCHMHelp.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/os.h"
#include "tests/support/fake_programs.h"

namespace {

using Pages = HelpViewer::Pages;
using Words = std::vector<std::string>;

// Keeps the argument vectors of the processes that started.
struct StartRecordingOs : platform::Os {
  std::vector<Words> started;
  int startProcess(const Words& arguments, bool ownGroup, int64_t& pid) override {
    const int rc = Os::startProcess(arguments, ownGroup, pid);
    if (rc == 0) started.push_back(arguments);
    return rc;
  }
};

TEST(CWinCHMHelp, ShowsTheFileAtItsTopicInTheFirstViewerThatStarts) {
  std::ofstream("vantrelodisk.chm") << "ITSF";
  const std::string help = std::filesystem::absolute("vantrelodisk.chm").string();
  const std::string viewer = WriteFakeProgram("viewer", "exit 0");
  const HelpViewer missing{"/no/such/viewer", Pages::kShowPage};
  struct Case {
    std::vector<HelpViewer> viewers;
    std::string file;
    std::string topic;
    std::vector<Words> started;
  } cases[] = {
      {{{viewer, Pages::kShowPage}}, help, "", {{viewer, help}}},
      {{{viewer, Pages::kShowPage}},
       help,
       "a/intro.htm",
       {{viewer, "-showPage", "/a/intro.htm", help}}},
      {{{viewer, Pages::kNotTaken}}, help, "intro.htm", {{viewer, help}}},
      {{missing, {viewer, Pages::kNotTaken}}, help, "", {{viewer, help}}},
      {{{viewer, Pages::kNotTaken}}, "/no/such/help.chm", "", {}},
      {{missing}, help, "", {}},
  };
  for (const Case& c : cases) {
    StartRecordingOs recording;
    platform::ScopedOs scopedOs(recording);
    ScopedHelpViewers scopedViewers(c.viewers);
    CWinCHMHelp().ShowHelp(c.file, c.topic, false);
    EXPECT_EQ(recording.started, c.started) << c.file << " " << c.topic;
    CWinCHMHelp().ShowHelp(c.file, c.topic, true);
  }
}

TEST(CWinCHMHelp, CloseEndsEveryViewerTheProgramStartedEvenOneThatIgnoresTheRequest) {
  std::ofstream("vantrelodisk.chm") << "ITSF";
  for (const char* record : {"polite", "stubborn"}) {
    const std::string ignore = record == std::string("stubborn") ? "trap '' TERM\n" : "";
    ScopedHelpViewers viewer(
        {{WriteFakeProgram(
              record, RecordArguments(std::string(record) + ".args") + ignore + "exec sleep 30"),
          Pages::kNotTaken}});
    CWinCHMHelp().ShowHelp("vantrelodisk.chm", "", false);
  }
  const Words polite = WaitForLines("polite.args");
  const Words stubborn = WaitForLines("stubborn.args");
  ASSERT_EQ(polite, (Words{polite.at(0), "vantrelodisk.chm"}));
  ASSERT_EQ(stubborn.size(), 2u);

  CWinCHMHelp().ShowHelp("vantrelodisk.chm", "",
                         true);  // another object: the viewers are the program's
  EXPECT_TRUE(WaitUntilGone(std::stol(polite[0])));
  EXPECT_TRUE(WaitUntilGone(std::stol(stubborn[0])));
}

}  // namespace
