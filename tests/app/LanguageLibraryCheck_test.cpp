#include "app/LanguageLibraryCheck.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
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
// turn: the program's texts are taken, and used as the preferences use
// them (each entry's language made current, its name and texts read), and
// this process lives; what is refused says why. Four loads at a time (the
// program folder stays as it is meanwhile).
TEST(LanguageLibraryCheck, NoChangedByteOfTheLibraryHarmsTheProgram) {
  const std::string image = ts::readDiskFile(BuiltLanguageLibrary());
  const std::vector<ts::ByteChange> changes =
      ts::SampleByteChanges(ts::DamageableParts(image), 100, 100);
  ASSERT_GT(changes.size(), 500u);
  TestProgramFolder folder;
  auto name = [](size_t i) { return "case" + std::to_string(i) + ".dll"; };
  for (size_t i = 0; i < changes.size(); i++)
    ts::writeDiskFile(name(i), ts::Changed(image, changes[i]));

  std::vector<std::string> causes(changes.size());
  std::vector<char> used(changes.size(), 0);
  std::atomic<size_t> next{0};
  std::vector<std::thread> loaders;
  for (int t = 0; t < 4; t++) {
    loaders.emplace_back([&] {
      for (size_t i; (i = next++) < changes.size();) {
        CStandardTextResources texts(name(i));
        causes[i] = texts.RefusalCause();
        if (!texts.HasLibrary()) continue;
        used[i] = 1;
        for (int32_t entry = 0; entry < texts.GetLanguageCount(); entry++) {
          const int32_t id = texts.GetLanguageId(entry);
          texts.GetLanguageName(id);
          texts.LoadLanguage(id);
          texts.GetString(184, "x");
        }
      }
    });
  }
  for (std::thread& loader : loaders) loader.join();

  size_t refused = 0;
  for (size_t i = 0; i < changes.size(); i++) {
    EXPECT_EQ(causes[i].empty(), used[i] == 1) << changes[i].part << " byte " << changes[i].offset;
    refused += used[i] == 0;
  }
  // Most changes harm; a few (the header's padding) do not.
  EXPECT_GT(refused, changes.size() / 4);
  EXPECT_LT(refused, changes.size());
}

// A check started ahead (while the application starts) serves one load of
// the same library for the same entry; a load for another entry, or a
// second load, checks anew. Without a thread it checks at once; a checker
// that cannot start refuses the library.
TEST(LanguageLibraryCheckThreads, ACheckStartedAheadServesOneLoadOfTheSameLibraryAndEntry) {
  ts::FakeOs os;
  platform::ScopedOs scope(os);
  TestProgramFolder folder(SmallLanguageLibrary());
  const std::string path = folder.Folder() + kLibrary;
  {
    language_check::CheckAhead ahead(path, 3);
    const CStandardTextResources texts(kLibrary, 3);
    EXPECT_EQ(os.childRuns, 1);
    EXPECT_TRUE(texts.HasLibrary());
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
    EXPECT_TRUE(CStandardTextResources(kLibrary, 3).HasLibrary());
    EXPECT_EQ(os.childRuns, 5);
  }
  os.childRunErrno = EAGAIN;
  const CStandardTextResources texts(kLibrary);
  EXPECT_FALSE(texts.HasLibrary());
  EXPECT_EQ(texts.RefusalCause().rfind("Son contrôle n'a pas pu être lancé : ", 0), 0u)
      << texts.RefusalCause();
}

}  // namespace
