#include "app/CStandardTextResources.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/TextFormat.h"
#include "app/language/LanguageTexts.h"
#include "platform/ansi.h"
#include "tests/support/damaged_library.h"
#include "tests/support/disk_file.h"
#include "tests/support/test_program_folder.h"

namespace {

constexpr const char* kLibrary = "QuendrixResDemo.dll";

// A missing, damaged or harmful library: every text is the program's own,
// and one that is there says why it was refused. A library cut short once
// crashed the program with a bus error as it was mapped; a damaged
// relocation crashed it in the loader; a library's initialiser may loop
// or end the process, and its calls may crash, here for the language that
// only the preferences would make current.
TEST(CStandardTextResources, WithoutAUsableLibraryEveryTextIsTheProgramsOwn) {
  namespace ts = testing_support;
  const std::string library = ts::readDiskFile(BuiltLanguageLibrary());
  const struct {
    const char* name;
    std::string bytes;  // of the library file, when there is one
    const char* cause;  // how its refusal's cause starts
    int64_t checkMillis = language_check::kTimeLimitMillis;
  } cases[] = {
      {"missing", {}, ""},
      {"not a library", std::string(20000, '\x7f'), "Le système ne peut pas la charger : "},
      {"cut after its first page", library.substr(0, 4096),
       "Le système ne peut pas la charger : file cut short"},
      {"relocation outside the library", ts::WithRelocationOutside(library),
       "Elle ferait échouer le programme (SIG"},
      {"relative relocation of another type", ts::WithRelativeRelocationRetyped(library),
       "Elle arrêterait le programme (code 127) : Inconsistency detected by ld.so"},
      {"initialiser that never returns", ts::readDiskFile(HarmfulLanguageLibrary("hanging")),
       "Elle bloquerait le programme : son contrôle a duré plus de 1 s.", 1000},
      {"initialiser that ends the process", ts::readDiskFile(HarmfulLanguageLibrary("exiting")),
       "Elle arrêterait le programme (code 0)."},
      {"second language crashes", ts::readDiskFile(HarmfulLanguageLibrary("crashing")),
       "Elle ferait échouer le programme (SIG"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestProgramFolder folder;
    const language_check::ScopedLanguageCheck limit(BuiltProgram(), c.checkMillis);
    if (!c.bytes.empty()) ts::writeDiskFile(kLibrary, c.bytes);
    CStandardTextResources texts(kLibrary);
    EXPECT_FALSE(texts.HasLibrary());
    EXPECT_EQ(texts.RefusalCause().substr(0, std::strlen(c.cause)), c.cause);
    EXPECT_EQ(texts.RefusalCause().empty(), c.bytes.empty());
    EXPECT_EQ(texts.GetLanguageCount(), 1);
    EXPECT_EQ(texts.GetLanguageId(0), 0);
    EXPECT_EQ(texts.GetLanguageName(0), "Default");
    EXPECT_EQ(texts.GetCurrentLanguage(), 0);
    EXPECT_EQ(texts.GetString(5, "x"), "x");
    EXPECT_EQ(texts.GetString(299, "x"), "x");
  }
}

TEST(CStandardTextResources, MissingStringsAndIdsOutOfRangeGiveTheFallback) {
  TestProgramFolder folder(SmallLanguageLibrary());
  CStandardTextResources texts(kLibrary);
  ASSERT_TRUE(texts.HasLibrary());
  EXPECT_EQ(texts.GetCurrentLanguage(), 7);
  EXPECT_EQ(texts.GetLanguageName(7), "Default");  // no names exported
  EXPECT_EQ(texts.GetString(7, "x"), "x");
  EXPECT_EQ(texts.GetString(8, "x"), "string 8");
  EXPECT_EQ(texts.GetString(0, "x"), "string 0");
  EXPECT_EQ(texts.GetString(299, "x"), "string 299");
  EXPECT_EQ(texts.GetString(300, "x"), "x");
  EXPECT_EQ(texts.GetString(-1, "x"), "x");
  // A language the library does not know has no strings of its own.
  texts.LoadLanguage(12);
  EXPECT_EQ(texts.GetCurrentLanguage(), 12);
  EXPECT_EQ(texts.GetString(8, "x"), "x");
}

TEST(CStandardTextResources, LibraryAnswersAreHeldToTheirLimits) {
  TestProgramFolder folder(HostileLanguageLibrary());
  CStandardTextResources texts(kLibrary);
  ASSERT_TRUE(texts.HasLibrary());
  EXPECT_EQ(texts.GetLanguageCount(), CStandardTextResources::kMaxCount);
  EXPECT_EQ(texts.GetLanguageName(0), "Default");
  // The first string id is -2: texts 0 and 1 have no string id.
  EXPECT_EQ(texts.GetString(1, "x"), "x");
  // A string that fills the buffer without a NUL keeps what fits with one.
  EXPECT_EQ(texts.GetString(2, "x"), std::string(254, 'x'));
  EXPECT_EQ(texts.GetString(CStandardTextResources::kMaxCount - 1, "y"), std::string(254, 'x'));
  EXPECT_EQ(texts.GetString(CStandardTextResources::kMaxCount, "y"), "y");
}

// The library built with the program: English first, French second, every
// text shorter than the string buffer, and every translated format taking
// the values the program's own text takes.
TEST(CStandardTextResources, BuiltLibrarySpeaksEnglishThenFrench) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  CStandardTextResources texts(kLibrary);
  ASSERT_EQ(texts.GetLanguageCount(), 2);
  const int32_t english = texts.GetLanguageId(0);
  const int32_t french = texts.GetLanguageId(1);
  EXPECT_EQ(texts.GetCurrentLanguage(), english);
  EXPECT_EQ(texts.GetLanguageName(english), "English");
  EXPECT_EQ(texts.GetLanguageName(french),
            "Fran\xE7"
            "ais");
  EXPECT_EQ(texts.GetString(184, "x"), "Show tool bar");
  EXPECT_EQ(texts.GetString(139, "prefix"), "prefix");

  texts.LoadLanguage(french);
  EXPECT_EQ(texts.GetString(184, "x"), "Voir barre d'outils");
  EXPECT_EQ(texts.GetString(23, "x"),
            "Cr\xE9"
            "ation r\xE9"
            "pertoire impossible");
  EXPECT_EQ(texts.GetString(79, "Format Export invalide"), "Format Export invalide");

  namespace lt = language_texts;
  for (int id = 0; id < lt::kTextCount; id++) {
    const char* english = lt::kEnglish[static_cast<size_t>(id)];
    const char* french = lt::kFrench[static_cast<size_t>(id)];
    for (const char* text : {english, french}) {
      if (text != nullptr) {
        EXPECT_LT(platform::utf8ToAnsi(text).size(), 255u) << id;
      }
    }
    if (english == nullptr || french == nullptr) continue;
    std::vector<FormatArg::Kind> englishKinds;
    std::vector<FormatArg::Kind> frenchKinds;
    EXPECT_TRUE(ConversionKinds(english, englishKinds)) << id;
    EXPECT_TRUE(ConversionKinds(french, frenchKinds)) << id;
    EXPECT_EQ(englishKinds, frenchKinds) << "text " << id << ": " << english;
  }
}

}  // namespace
