#include "features/indexing/MediumIndexing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "features/indexing/DirEnumerator.h"

namespace {

namespace fs = std::filesystem;

// The digest step, which the dialog offers no more: every file that is
// still there gets the digest of its contents, in walk order.
TEST(MediumIndexingTest, SigningDigestsTheFilesStillThere) {
  fs::create_directories("medium/sub");
  std::ofstream("medium/abc.txt") << "abc";
  std::ofstream("medium/empty.txt");
  std::ofstream("medium/gone.txt") << "x";
  DirEnumerator scan;
  ASSERT_EQ(scan.Enumerate(fs::canonical("medium").string()), 4);
  fs::remove("medium/gone.txt");
  std::vector<int32_t> progress;
  SignEntries(scan, [&](int32_t index) { progress.push_back(index); });
  EXPECT_EQ(progress, (std::vector<int32_t>{0, 1, 2, 3}));

  std::map<std::string, std::string> signatures;
  for (int32_t i = 0; i < scan.Count(); i++)
    signatures[scan.GetEntry(i)->name] = scan.GetEntry(i)->signature;
  EXPECT_EQ(signatures,
            (std::map<std::string, std::string>{{"abc.txt", "900150983cd24fb0d6963f7d28e17f72"},
                                                {"empty.txt", "d41d8cd98f00b204e9800998ecf8427e"},
                                                {"gone.txt", ""},
                                                {"sub", ""}}));
}

}  // namespace
