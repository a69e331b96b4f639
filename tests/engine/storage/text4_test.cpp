#include "engine/storage/text4.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

#include "engine/storage/error4.h"
#include "tests/support/error_recorder.h"

using testing_support::ErrorRecorder;

namespace {

TEST(TextTrimTest, TrimsWithinTheGivenSize) {
  char padded[] = "abc   ";
  EXPECT_EQ(text4trimLength(padded, sizeof padded), 3);
  EXPECT_STREQ(padded, "abc");

  char field[] = {'a', 'b', ' ', 'd', 'e', 'f'};  // no terminator within the size
  EXPECT_EQ(text4trimLength(field, 4), 2);
  EXPECT_STREQ(field, "ab");

  char untouched[] = "xy ";
  EXPECT_EQ(text4trimLength(untouched, 0), 0);
  EXPECT_EQ(text4trimLength(untouched, -3), 0);
  EXPECT_STREQ(untouched, "xy ");

  char blanks[] = "   ";
  EXPECT_EQ(text4trim(blanks), 0);
  EXPECT_STREQ(blanks, "");
}

// In a Latin-1 locale the C library would fold 0xE9 and 0xC9.
TEST(TextCaseTest, OnlyAsciiLettersChangeWhateverTheLocale) {
  const std::string adopted = std::setlocale(LC_ALL, nullptr);
  for (const char* locale : {"", "fr_FR.ISO-8859-1"}) {
    if (std::setlocale(LC_ALL, locale) == nullptr) continue;
    char text[] = "dbFiles_1 \xE9\xC9";
    text4upper(text);
    EXPECT_STREQ(text, "DBFILES_1 \xE9\xC9");
    text4lower(text);
    EXPECT_STREQ(text, "dbfiles_1 \xE9\xC9");

    EXPECT_EQ(text4compareNoCase("DBFiles", "dbfILES"), 0);
    EXPECT_LT(text4compareNoCase("a", "B"), 0);
    EXPECT_GT(text4compareNoCase("abc", "AB"), 0);
    EXPECT_NE(text4compareNoCase("\xE9", "\xC9"), 0);  // not folded
    EXPECT_GT(text4compareNoCase("\xE9", "z"), 0);     // bytes compare unsigned
  }
  std::setlocale(LC_ALL, adopted.c_str());
}

TEST(TextCopyTest, BoundedCopyAlwaysTerminates) {
  char buffer[4];
  EXPECT_EQ(text4copyBounded(buffer, "abcdef", sizeof buffer), 3);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(text4copyBounded(buffer, "ab", sizeof buffer), 2);
  EXPECT_STREQ(buffer, "ab");

  ErrorRecorder recorder;
  EXPECT_EQ(text4copyBounded(buffer, "ab", 0), e4parm);
  EXPECT_EQ(text4copyBounded(buffer, nullptr, 4), e4parmNull);
  auto errors = recorder.errors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].c, nullptr);
  EXPECT_EQ(errors[0].location, 90340);
  EXPECT_STREQ(buffer, "ab");
}

TEST(TextIdentifierTest, LettersDigitsAndUnderscore) {
  for (char c : {'A', 'z', '0', '9', '_'}) EXPECT_EQ(text4isIdentifierChar(c), 1) << c;
  for (int c : {int{' '}, int{'.'}, int{'-'}, int{'@'}, 0xE9, 0})
    EXPECT_EQ(text4isIdentifierChar(c), 0) << c;
}

TEST(TextEncodeTest, RunsOfThePatternFillThePicture) {
  char out[16];
  // X's run is shorter in the picture (B dropped), Y's longer (one Y kept);
  // Z is not in the picture (its character dropped).
  text4encode(out, "ABCDE", "X-YYY", "XXYYZ");
  EXPECT_STREQ(out, "A-CDY");
  text4encode(out, "20040616", "DD.MM.CCYY", "CCYYMMDD");
  EXPECT_STREQ(out, "16.06.2004");
}

}  // namespace
