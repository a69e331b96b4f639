#include "platform/ansi.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(AnsiTest, EveryByteSurvivesTheRoundTripThroughUtf8) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(utf8ToAnsi(ansiToUtf8(all)), all);
}

TEST(AnsiTest, Utf8BecomesWindows1252WithAQuestionMarkForTheRest) {
  struct Case {
    const char* utf8;
    const char* ansi;
  };
  const Case cases[] = {
      {"plain.txt", "plain.txt"},
      {"\xC3\xA9t\xC3\xA9", "\xE9t\xE9"},              // été
      {"\xE2\x82\xAC 5", "\x80 5"},                    // euro sign
      {"\xC5\x92uvre \xE2\x80\x94", "\x8Cuvre \x97"},  // Œuvre —
      {"\xE6\x97\xA5.txt", "?.txt"},                   // a CJK character
      {"\xF0\x9F\x98\x80", "?"},                       // outside the BMP
      {"a\xC3", "a?"},                                 // cut sequence
      {"\xC0\xAF", "??"},                              // overlong '/'
      {"\xED\xA0\x80", "???"},                         // a surrogate
      {"\xFF\xFE", "??"},                              // not UTF-8 at all
  };
  for (const Case& c : cases) EXPECT_EQ(utf8ToAnsi(c.utf8), c.ansi) << c.utf8;
}

}  // namespace
}  // namespace platform
