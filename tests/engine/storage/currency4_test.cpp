#include "engine/storage/currency4.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "engine/storage/error4.h"

namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

CURRENCY4 units(int64_t n) { return CURRENCY4{n}; }

TEST(CurrencyArithmeticTest, WrapsLikeTheStoredInteger) {
  EXPECT_EQ(currency4add(units(15000), units(-20000)).units, -5000);
  EXPECT_EQ(currency4subtract(units(1), units(3)).units, -2);
  EXPECT_EQ(currency4add(units(kMax), units(1)).units, kMin);
  EXPECT_EQ(currency4negate(units(-15000)).units, 15000);
  EXPECT_EQ(currency4negate(units(kMin)).units, kMin);  // no undefined negation
  EXPECT_EQ(currency4multiplyShort(units(15000), -3).units, -45000);
  EXPECT_EQ(currency4multiplyShort(units(-7), -32768).units, 229376);
  EXPECT_EQ(currency4multiplyShort(units(kMin), -1).units, kMin);
  EXPECT_EQ(currency4multiplyShort(units(kMax / 2 + 1), 2).units, kMin);
}

TEST(CurrencyArithmeticTest, CompareIsSigned) {
  EXPECT_EQ(currency4compare(units(-1), units(1)), -1);
  EXPECT_EQ(currency4compare(units(kMax), units(kMin)), 1);
  EXPECT_EQ(currency4compare(units(42), units(42)), 0);
}

TEST(CurrencyStorageTest, EightBytesLittleEndian) {
  unsigned char bytes[currency4size];
  currency4store(bytes, units(-15000));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 8),
            std::string("\x68\xc5\xff\xff\xff\xff\xff\xff", 8));
  EXPECT_EQ(currency4load(bytes).units, -15000);
}

// The output is zero-filled and the text cut at its size: the terminator
// is there only when the size leaves room for it.
TEST(CurrencyTextTest, WrittenLeftAlignedAndCutAtTheSize) {
  char out[8];
  int32_t length = -1;
  EXPECT_EQ(currency4toText(out, sizeof out, units(-15000), 2, &length), 0);
  EXPECT_EQ(std::string(out, 8), std::string("-1.50\0\0\0", 8));
  EXPECT_EQ(length, 5);
  EXPECT_EQ(currency4toText(out, 4, units(-15000), 4, &length), 0);
  EXPECT_EQ(std::string(out, 4), "-1.5");
  EXPECT_EQ(length, 4);
  EXPECT_EQ(currency4toText(out, 8, units(-5000), 0, nullptr), 0);
  EXPECT_STREQ(out, "-0");  // the sign of the value, whatever the digits shown
  EXPECT_EQ(currency4toText(out, 8, units(1), 9, nullptr), 0);
  EXPECT_STREQ(out, "0.0001");  // decimals taken within 0..4
  char longest[currency4textMax + 1];
  EXPECT_EQ(currency4toText(longest, sizeof longest, units(kMin), 4, &length), 0);
  EXPECT_STREQ(longest, "-922337203685477.5808");
  EXPECT_EQ(length, currency4textMax);
  EXPECT_EQ(currency4toText(nullptr, 4, units(1), 2, nullptr), e4parm);
}

TEST(CurrencyTextTest, ReadingText) {
  const struct {
    std::string text;
    int32_t result;
    int64_t units;
  } cases[] = {
      {"-1.50", 0, -15000},
      {"  +12.3456", 0, 123456},
      {"12.5  junk", 0, 125000},  // the number ends at its first other byte
      {".25", 0, 2500},
      {"-", 0, 0},
      {"", 0, 0},
      {"     ", 0, 0},
      {"0000000000000000000000001", 0, 10000},  // leading zeros do not count
      {"922337203685477.5807", 0, kMax},
      {"-922337203685477.5808", 0, kMin},
      {"922337203685477.5808", -1, 0},
      {"-922337203685477.5809", -1, 0},
      {"9999999999999999", -1, 0},  // 16 integer digits
      {"99999999999999999999.9999", -1, 0},
      {"1.23456", -1, 0},  // five fraction digits
  };
  for (const auto& [text, result, expected] : cases) {
    CURRENCY4 value{99};
    EXPECT_EQ(currency4fromText(&value, text.data(), static_cast<int32_t>(text.size())), result)
        << text;
    EXPECT_EQ(value.units, expected) << text;
  }
}

TEST(CurrencyTextTest, ReadingStopsAtTheGivenLengthOrANul) {
  CURRENCY4 value;
  EXPECT_EQ(currency4fromText(&value, "12.34", 2), 0);
  EXPECT_EQ(value.units, 120000);
  EXPECT_EQ(currency4fromText(&value,
                              "7\0"
                              "99",
                              4),
            0);
  EXPECT_EQ(value.units, 70000);
  EXPECT_EQ(currency4fromText(&value, nullptr, 4), 0);
  EXPECT_EQ(value.units, 0);
}

TEST(CurrencyTextTest, EveryTextReadsBackToItsValue) {
  const int64_t samples[] = {0,      1,    -1,   9999,     -10000,   123456789,
                             -15000, kMax, kMin, kMax - 1, kMin + 1, 4611686018427387904LL};
  for (int64_t n : samples) {
    char text[currency4textMax + 1];
    int32_t length = 0;
    ASSERT_EQ(currency4toText(text, sizeof text, units(n), 4, &length), 0);
    CURRENCY4 back;
    ASSERT_EQ(currency4fromText(&back, text, length), 0) << text;
    EXPECT_EQ(back.units, n) << text;
  }
}

}  // namespace
