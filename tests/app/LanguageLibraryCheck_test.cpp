#include "app/LanguageLibraryCheck.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/CStandardTextResources.h"
#include "tests/support/damaged_library.h"
#include "tests/support/disk_file.h"
#include "tests/support/fake_os.h"
#include "tests/support/test_program_folder.h"

namespace {

namespace ts = testing_support;

constexpr const char* kLibrary = "QuendrixResDemo.dll";

// One changed byte of the built library crashed the program as it loaded
// the library, stopped it on a loader assertion, or crashed it later in
// the library's calls. Each byte of its ELF header and a fixed sample of
// its program headers, dynamic section, relocations and code changed in
// turn: what the check passes, this process loads and uses as the program
// does (each language current once, each name read, then unloaded), and
// lives. The checks run four at a time.
TEST(LanguageLibraryCheck, NoChangedByteOfTheLibraryHarmsTheProcessThatLoadsIt) {
  const std::string image = ts::readDiskFile(BuiltLanguageLibrary());
  const std::vector<ts::ByteChange> changes =
      ts::SampleByteChanges(ts::DamageableParts(image), 100, 100);
  ASSERT_GT(changes.size(), 500u);
  TestProgramFolder folder;
  auto path = [&](size_t i) { return folder.Folder() + "case" + std::to_string(i) + ".dll"; };
  for (size_t i = 0; i < changes.size(); i++)
    ts::writeDiskFile(path(i), ts::Changed(image, changes[i]));

  std::vector<language_check::Verdict> verdicts(changes.size());
  std::atomic<size_t> next{0};
  std::vector<std::thread> checkers;
  for (int t = 0; t < 4; t++) {
    checkers.emplace_back([&] {
      for (size_t i; (i = next++) < changes.size();)
        verdicts[i] = language_check::CheckLanguageLibrary(path(i), 0);
    });
  }
  for (std::thread& checker : checkers) checker.join();

  size_t refused = 0;
  for (size_t i = 0; i < changes.size(); i++) {
    SCOPED_TRACE(changes[i].part + " byte " + std::to_string(changes[i].offset) + " ^ " +
                 std::to_string(changes[i].mask));
    ASSERT_TRUE(verdicts[i].present);
    if (!verdicts[i].usable) {
      refused++;
      EXPECT_FALSE(verdicts[i].cause.empty());
      continue;
    }
    std::unique_ptr<CStandardTextResources> texts = CStandardTextResources::LoadTrusted(path(i));
    EXPECT_TRUE(texts->IsLibraryLoaded()) << texts->RefusalCause();
    for (int32_t entry = 0; entry < texts->GetLanguageCount(); entry++) {
      const int32_t id = texts->GetLanguageId(entry);
      texts->GetLanguageName(id);
      texts->LoadLanguage(id);
    }
  }
  // Most changes harm; a few (the header's padding) do not.
  EXPECT_GT(refused, changes.size() / 4);
  EXPECT_LT(refused, changes.size());
}

// A check started ahead (while the application starts) serves one load of
// the same library for the same entry; a load for another entry, or a
// second load, checks anew. Without a thread it checks at once; a checker
// that cannot start refuses the library.
TEST(LanguageLibraryCheck, ACheckStartedAheadServesOneLoadOfTheSameLibraryAndEntry) {
  ts::FakeOs os;
  platform::ScopedOs scope(os);
  TestProgramFolder folder(SmallLanguageLibrary());
  const std::string path = folder.Folder() + kLibrary;
  {
    language_check::CheckAhead ahead(path, 3);
    const CStandardTextResources texts(kLibrary, 3);
    EXPECT_EQ(os.childRuns, 1);
    EXPECT_TRUE(texts.IsLibraryLoaded());
    const CStandardTextResources again(kLibrary, 3);
    EXPECT_EQ(os.childRuns, 2);
  }
  {
    language_check::CheckAhead ahead(path, 3);
    const CStandardTextResources other(kLibrary, 0);
  }
  EXPECT_EQ(os.childRuns, 4);
  os.refuseThreadsFrom = 0;
  {
    language_check::CheckAhead ahead(path, 3);
    EXPECT_EQ(os.childRuns, 5);
    EXPECT_TRUE(CStandardTextResources(kLibrary, 3).IsLibraryLoaded());
    EXPECT_EQ(os.childRuns, 5);
  }
  os.childRunErrno = EAGAIN;
  const CStandardTextResources texts(kLibrary);
  EXPECT_FALSE(texts.IsLibraryLoaded());
  EXPECT_EQ(texts.RefusalCause().rfind("Son contrôle n'a pas pu être lancé : ", 0), 0u)
      << texts.RefusalCause();
}

}  // namespace
