// Collated keys under the built-in GENERAL sequences, wide keys, the
// collation-aware comparison and the header names of collations.
#include "engine/index/collate4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "tests/engine/index/key_test_support.h"
#include "tests/support/engine_fixture.h"

using namespace testing_support;

namespace {

std::string key8(int32_t number, const std::string& text) {
  std::string key(2 * text.size(), '\x7f');
  int32_t length = -1;
  EXPECT_EQ(collate4stringToKey(collate4get(number), key.data(), text.data(),
                                static_cast<int32_t>(text.size()), &length),
            0);
  EXPECT_EQ(length, static_cast<int32_t>(key.size()));
  return key;
}

std::string general(const std::string& text) { return key8(collate4generalWindows, text); }

// Windows-1252 text as little-endian 16-bit characters.
std::string wideText(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

std::string wideKey(const std::string& text) {
  std::string key(2 * text.size(), '\x7f');
  int32_t length = -1;
  EXPECT_EQ(key4fromWideCollate(collate4get(collate4generalWindows), key.data(), text.data(),
                                static_cast<int32_t>(text.size()), &length),
            0);
  EXPECT_EQ(length, static_cast<int32_t>(key.size()));
  return key;
}

// Each test ends every settings object it started, which frees the tables.
class Collation : public EngineTest {};

TEST_F(Collation, GeneralIgnoresCaseAndPutsAccentsLast) {
  EXPECT_EQ(hexOf(general("abc")), "606162000000");
  EXPECT_EQ(general("ABC"), general("abc"));
  EXPECT_EQ(hexOf(general("\xE9")), "6601");
  EXPECT_EQ(hexOf(general("e")), "6600");
  EXPECT_EQ(hexOf(general("f")), "6700");
  EXPECT_EQ(hexOf(general("\xC6")), "6066");  // AE: the sub-sorts do not fit
  EXPECT_EQ(hexOf(general("   ")), "000000000000");
  EXPECT_EQ(hexOf(general("ab  ")), "6061000000000000");
  EXPECT_EQ(hexOf(general("\xE6t")), "60667700");
}

TEST_F(Collation, GeneralOrdersWordsAsReadersDo) {
  // Case never decides before the letters do, and accents come last.
  const std::vector<std::string> words = {"apple",   "Apple",   "\xC1pple",   "Zebra", "cote",
                                          "cot\xE9", "c\xF4te", "c\xF4t\xE9", "ss",    "12",
                                          "2",       "-x",      "x"};
  std::vector<std::string> sorted = words;
  const size_t width = 10;
  std::stable_sort(sorted.begin(), sorted.end(), [&](const std::string& a, const std::string& b) {
    return byteOrder(general(a + std::string(width - a.size(), ' ')),
                     general(b + std::string(width - b.size(), ' '))) < 0;
  });
  const std::vector<std::string> expected = {"-x",       "12",   "2",       "apple",   "Apple",
                                             "\xC1pple", "cote", "cot\xE9", "c\xF4te", "c\xF4t\xE9",
                                             "ss",       "x",    "Zebra"};
  EXPECT_EQ(sorted, expected);
  // Ligatures are their two letters.
  EXPECT_EQ(general("\xE6on "), general("aeon"));
  EXPECT_EQ(general("stra\xDF"
                    "e "),
            general("strasse"));
}

TEST_F(Collation, BuiltInTablesKeepWeightsAndSubSortsApart) {
  // The comparison tells weights from sub-sorts by value alone.
  for (int32_t number : {collate4generalWindows, collate4generalOem}) {
    const COLLATE4* collate = collate4get(number);
    ASSERT_EQ(collate->kind, collate4kindFull);
    for (int c = 0; c < 256; c++) {
      const unsigned weight = collate->table[2 * c];
      const unsigned subSort = collate->table[2 * c + 1];
      EXPECT_GE(weight, 0x10u) << number << " " << c;
      if (weight == collate->marker) {
        EXPECT_LT(subSort, 4u) << number << " " << c;
      } else {
        EXPECT_TRUE(subSort < 10 || subSort == collate->noTail) << number << " " << c;
      }
    }
  }
  // Upper and lower case of every accented letter of Windows-1252 agree.
  for (int c = 0xC0; c <= 0xDE; c++) {
    if (c == 0xD7) continue;
    EXPECT_EQ(general(std::string(1, char(c))), general(std::string(1, char(c + 0x20)))) << c;
  }
}

TEST_F(Collation, OemTextSortsLikeItsWindowsCounterpart) {
  const std::pair<int, int> same[] = {{0x82, 0xE9}, {0x80, 0xC7}, {0x91, 0xE6}, {0xA4, 0xF1},
                                      {0xE1, 0xDF}, {0x8B, 0xEF}, {'a', 'a'}};
  for (auto [oem, windows] : same) {
    EXPECT_EQ(key8(collate4generalOem, std::string(1, char(oem))),
              general(std::string(1, char(windows))))
        << oem;
  }
  EXPECT_EQ(hexOf(key8(collate4generalOem, "\xB0")), "1000");
}

TEST_F(Collation, ExpansionsMustBeOfTheExpandingKind) {
  unsigned char table[512];
  std::memcpy(table, collate4get(collate4generalWindows)->table, sizeof table);
  table[2 * 'x'] = 0xFF;
  table[2 * 'x' + 1] = 0;
  table[2 * 'y'] = 0xFF;
  table[2 * 'y' + 1] = 7;  // beyond the entries
  const Collate4Expansion entries[] = {{collate4compress, 'a', 'b'}, {}};
  COLLATE4 collate;
  collate.kind = collate4kindFull;
  collate.table = table;
  collate.expansion = entries;
  collate.expansionCount = 1;
  collate.factor = 1;
  collate.marker = 0xFF;
  collate.noTail = 0xFF;
  char key[8];
  int32_t length = 0;
  for (const char* text : {"ax", "ya"}) {
    EXPECT_EQ(collate4stringToKey(&collate, key, text, 2, &length), e4collate) << text;
    EXPECT_EQ(lastError().location, 80187);
    EXPECT_EQ(lastError().c, nullptr);
  }
  EXPECT_EQ(collate4stringToKey(&collate, key, "ab", 2, &length), 0);
}

TEST_F(Collation, WideKeysUseTwoBytesForEveryValue) {
  COLLATE4* collate = collate4get(collate4generalWindows);
  EXPECT_FALSE(collate->wideBuilt.load());
  EXPECT_EQ(hexOf(wideKey(wideText(u"abc"))), "006000610062000000000000");
  EXPECT_TRUE(collate->wideBuilt.load());
  EXPECT_EQ(wideKey(wideText(u"ABC ")), wideKey(wideText(u"abc ")));
  EXPECT_EQ(hexOf(wideKey(wideText(u"\u00e9"))), "00660001");
  EXPECT_EQ(hexOf(wideKey(wideText(u"\u00c6"))), "00600066");
  // Beyond the 8-bit range a character is its own weight, without sub-sort.
  EXPECT_EQ(hexOf(wideKey(wideText(u"\u4e2da"))), "4e2d006000000000");
  EXPECT_EQ(hexOf(wideKey(wideText(u"  "))), "0000000000000000");

  COLLATE4 machine;
  char key[8];
  int32_t length = 0;
  EXPECT_EQ(key4fromWideCollate(&machine, key, "a\0", 2, &length), e4collate);
  EXPECT_EQ(collate4textKey(&machine, false, key, "a", 1, &length), -1);
  EXPECT_EQ(collate4textKey(collate, true, key, "a\0", 2, &length), 0);
  EXPECT_EQ(hexOf(key, length), "00600000");
  EXPECT_EQ(collate4textKey(collate, false, key, "a", 1, &length), 0);
  EXPECT_EQ(hexOf(key, length), "6000");
}

TEST_F(Collation, TablesAreFreedWithTheLastSettingsObject) {
  COLLATE4* collate = collate4get(collate4generalWindows);
  const std::string before = wideKey(wideText(u"\u00e9t\u00e9"));
  ASSERT_TRUE(collate->wideBuilt.load());
  {
    // A second settings object keeps the tables alive when it ends.
    CODE4 second;
    ASSERT_EQ(code4initLow(&second, nullptr, 6502, 1611, 1), 0);
    code4initUndo(&second);
    EXPECT_TRUE(collate->wideBuilt.load());
  }
  code4initUndo(&c);
  EXPECT_FALSE(collate->wideBuilt.load());
  EXPECT_EQ(collate->wideTable.get(), nullptr);
  EXPECT_EQ(collate4get(collate4loadable)->kind, collate4kindUnloaded);
  ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
  EXPECT_EQ(wideKey(wideText(u"\u00e9t\u00e9")), before);
}

TEST(CollationThreads, WideTablesAreBuiltOnceWhateverTheThread) {
  const std::string text = wideText(u"\u00e9t\u00e9 ");
  std::vector<std::string> keys(4);
  std::vector<std::thread> threads;
  for (std::string& key : keys) threads.emplace_back([&] { key = wideKey(text); });
  for (std::thread& thread : threads) thread.join();
  for (const std::string& key : keys) EXPECT_EQ(hexOf(key), "00660077006600010001000000000000");
  collate4free();  // as the last settings object would
}

// Compares with bounds that a sanitizer sees: each key in its own buffer.
int compare(const std::string& stored, const std::string& search, int32_t spareZeros = 0,
            const char* text = nullptr, int32_t searchLength = -1) {
  const std::vector<char> storedBytes(stored.begin(), stored.end());
  const std::vector<char> searchBytes(search.begin(), search.end());
  const int32_t length = searchLength < 0 ? static_cast<int32_t>(search.size()) : searchLength;
  return collate4keyCompare(storedBytes.data(), searchBytes.data(), length,
                            static_cast<int32_t>(stored.size()), spareZeros,
                            collate4get(collate4generalWindows), text,
                            text ? static_cast<int32_t>(std::strlen(text)) : 0);
}

// Seeks compare over the search key's significant length: without its
// trailing zero bytes.
int32_t significant(const std::string& key) {
  int32_t n = static_cast<int32_t>(key.size());
  while (n > 0 && key[n - 1] == '\0') n--;
  return n;
}

TEST_F(Collation, ComparisonWeighsFirstThenSubSorts) {
  EXPECT_GT(compare(general("abd"), general("abc")), 0);
  EXPECT_LT(compare(general("abb"), general("abc")), 0);
  EXPECT_EQ(compare(general("ABC"), general("abc")), 0);
  EXPECT_GT(compare(general("\xE1"
                            "bc"),
                    general("abc")),
            0);
  EXPECT_LT(compare(general("abc"), general("\xE1"
                                            "bc")),
            0);
  // Stored keys whose weights end first sort first.
  EXPECT_LT(compare(general("ab"), general("abc")), 0);

  // A search key matches every key that begins with its significant bytes.
  const std::string ab = general("ab");
  EXPECT_EQ(compare(general("abc"), ab, 0, nullptr, significant(ab)), 0);
  EXPECT_EQ(compare(general("ab\xE9"), ab, 0, nullptr, significant(ab)), 0);
  const std::string acuteAb = general(
      "\xE1"
      "b");
  EXPECT_EQ(compare(general("\xE1"
                            "bc"),
                    acuteAb, 0, nullptr, significant(acuteAb)),
            0);
  EXPECT_GT(compare(general("abc"), acuteAb, 0, nullptr, significant(acuteAb)), 0);

  // Spare zeros let a search key run past the stored key's end.
  const std::string weights = ab.substr(0, 2);
  const std::string search = weights + std::string(1, '\0');
  EXPECT_LT(compare(weights, search), 0);
  EXPECT_EQ(compare(weights, search, 1), 0);
}

TEST_F(Collation, TrailingBlanksOfTheSearchTextMatchBlanksAndFill) {
  // "ab " as seek text: only its two weights were converted.
  const std::string search = general("ab");
  EXPECT_EQ(compare(general("ab c"), search, 0, "ab ", 2), 0);
  EXPECT_EQ(compare(general("ab"), search, 0, "ab ", 2), 0);
  EXPECT_GT(compare(general("abc"), search, 0, "ab ", 2), 0);
  // Many blanks against a short stored key: nothing past it is read.
  EXPECT_EQ(compare(general("ab").substr(0, 3), search, 0, "ab          ", 2), 0);
}

TEST(MachineOrder, ComparesBytesOfTheSearchLength) {
  COLLATE4* machine = collate4get(collate4machine);
  EXPECT_EQ(key4compare("abc", "abd", 2, 3, 0, machine), 0);
  EXPECT_LT(key4compare("abc", "abd", 3, 3, 0, machine), 0);
  EXPECT_GT(key4compare("\xFF", "a", 1, 1, 0, nullptr), 0);
  EXPECT_LT(key4compare("ab", "abc", 3, 2, 0, machine), 0);
}

TEST_F(Collation, HeaderNamesNameTheCollations) {
  const char none[8] = {};
  const char generalName[8] = "GENERAL";
  EXPECT_EQ(collate4numberFromName(&c, none, 3), 1);
  EXPECT_EQ(collate4numberFromName(&c, generalName, 3), 2);
  EXPECT_EQ(collate4numberFromName(&c, generalName, 0), 2);
  EXPECT_EQ(collate4numberFromName(&c, generalName, 1), 3);
  EXPECT_EQ(collate4numberFromName(&c, "CB00004", 3), 4);
  EXPECT_EQ(recorder.errors().size(), 0u);
  for (const char* bad : {"CB00005", "CB00000", "CB0000A", "GENERAl", "XB00004"}) {
    EXPECT_EQ(collate4numberFromName(&c, bad, 3), e4index) << bad;
    EXPECT_EQ(lastError().location, 80187);
    clearError();
  }
  char name[8];
  for (int32_t codePage : {0, 1, 3}) {
    for (int32_t number = 1; number <= 4; number++) {
      collate4nameFromNumber(number, codePage, name);
      EXPECT_EQ(collate4numberFromName(&c, name, codePage), number) << number << " " << codePage;
    }
  }
  collate4nameFromNumber(4, 3, name);
  EXPECT_EQ(std::string(name, 8), std::string("CB00004\0", 8));
  collate4nameFromNumber(2, 1, name);
  EXPECT_EQ(std::string(name, 8), std::string("CB00002\0", 8));
}

TEST_F(Collation, TagsNeedAUsableCollation) {
  EXPECT_EQ(collate4require(&c, 1), 0);
  EXPECT_EQ(collate4require(&c, 0), 0);
  EXPECT_EQ(collate4require(&c, 2), 0);
  EXPECT_EQ(collate4require(&c, 3), 0);
  EXPECT_EQ(recorder.errors().size(), 0u);
  // No collation tables in the test's folder: collation 4 fails cleanly.
  EXPECT_EQ(collate4require(&c, 4), e4collate);
  EXPECT_EQ(lastError().location, 80187);
  EXPECT_EQ(recorder.errors().size(), 1u);
  EXPECT_EQ(collate4get(4)->kind, collate4kindUnloaded);
  clearError();
  EXPECT_EQ(collate4require(&c, 9), e4collate);
}

}  // namespace
