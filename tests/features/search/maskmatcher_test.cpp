// File-name masks, the prefix a mask is sought by, and the size texts of a
// search.
#include "features/search/MaskMatcher.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "features/search/SearchCriteria.h"

namespace {

TEST(MaskMatcherTest, MatchesTheWholeNameAgainstTheWholeMask) {
  struct Case {
    const char* mask;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"*", "", true},
      {"*", "anything.at.all", true},
      {"abc", "ABC", true},
      {"abc", "abcd", false},
      {"abc", "ab", false},
      {"*.iso", "disc.ISO", true},
      {"*.iso", "disc.iso.bak", false},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYbZ", false},
      {"*a*a*a*b", "aaaaaaaaaaaaaaaaaaaa", false},
      {"**x", "x", true},
      {"?", "", false},
      {"?", "\xE9", true},
      {"a?c*", "abc", true},
      {"a?c*", "ac", false},
      {"[abc]x", "Bx", true},
      {"[abc]x", "dx", false},
      {"[a-f]1", "E1", true},
      {"[a-f]1", "g1", false},
      {"[!a-f]1", "g1", true},
      {"[!a-f]1", "C1", false},
      {"[-z]", "-", true},
      {"[z-]", "-", true},
      {"[f-a]", "c", false},  // a reversed range holds nothing
      {"[!]x", "?x", true},   // an empty negated set takes any character
      {"x[12]*", "x1a", true},
      {"x[12]*", "x3a", false},
      {"ab[c", "AB[C", true},  // an unclosed '[' is itself
      {"ab[c", "abc", false},
      {"[*]", "*", true},
      {"\xC9t\xE9", "\xC9T\xE9", true},  // accented letters match only themselves
      {"\xC9t\xE9", "\xE9t\xE9", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MaskMatcher(c.mask).Matches(c.name), c.matches) << c.mask << " / " << c.name;
  }
}

TEST(MaskMatcherTest, ThePrefixEndsBeforeTheFirstWildcardOrSetAndAtTheKeyWidth) {
  EXPECT_EQ(SeekPrefix("report*.doc"), "REPORT");
  EXPECT_EQ(SeekPrefix("a?c*"), "A");
  EXPECT_EQ(SeekPrefix("x[12]*"), "X");
  EXPECT_EQ(SeekPrefix("*abc"), "");
  EXPECT_EQ(SeekPrefix("?bc"), "");
  EXPECT_EQ(SeekPrefix("abc"), "ABC");
  EXPECT_EQ(SeekPrefix("\xE9t\xE9*"), "\xE9T\xE9");  // a-z only
  const std::string longName(70, 'q');
  EXPECT_EQ(SeekPrefix(longName + "*"), std::string(60, 'Q'));
}

TEST(SearchCriteriaTest, SizeTextsReadAsTheirLeadingNumberHeldAt64Bits) {
  EXPECT_EQ(ParseSizeText(""), std::nullopt);
  EXPECT_EQ(ParseSizeText("   "), std::nullopt);
  EXPECT_EQ(ParseSizeText("1000"), 1000);
  EXPECT_EQ(ParseSizeText("  -5"), -5);
  EXPECT_EQ(ParseSizeText("12kb"), 12);
  EXPECT_EQ(ParseSizeText("abc"), 0);  // given, but not a number
  EXPECT_EQ(ParseSizeText("4700000000"), 4'700'000'000);
  EXPECT_EQ(ParseSizeText("99999999999999999999999"), std::numeric_limits<int64_t>::max());
}

}  // namespace
