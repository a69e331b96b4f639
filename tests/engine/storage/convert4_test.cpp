#include "engine/storage/convert4.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "engine/storage/error4.h"

namespace {

// The text written into a field of `length` bytes, with a guard byte after
// it that must stay untouched.
struct Written {
  int32_t result;
  std::string text;
};

Written doubleText(double value, int32_t length, int32_t decimals) {
  std::string buffer(static_cast<size_t>(std::max(length, 0)) + 1, '#');
  const int32_t result = convert4doubleToText(value, buffer.data(), length, decimals);
  EXPECT_EQ(buffer.back(), '#') << "wrote past the field";
  buffer.pop_back();
  return {result, buffer};
}

Written longText(int32_t value, int32_t length) {
  std::string buffer(static_cast<size_t>(std::abs(int64_t{length})) + 1, '#');
  const int32_t result = convert4longToText(value, buffer.data(), length);
  EXPECT_EQ(buffer.back(), '#') << "wrote past the field";
  buffer.pop_back();
  return {result, buffer};
}

#define EXPECT_TEXT(written, expectedResult, expectedText) \
  do {                                                     \
    const Written w = (written);                           \
    EXPECT_EQ(w.result, expectedResult);                   \
    EXPECT_EQ(w.text, expectedText);                       \
  } while (0)

TEST(DoubleToTextTest, FixedPointRightJustified) {
  EXPECT_TEXT(doubleText(-0.5, 5, 2), 0, "-0.50");
  EXPECT_TEXT(doubleText(123.456, 6, 2), 0, "123.46");
  EXPECT_TEXT(doubleText(12345.6789, 20, 10), 0, "    12345.6789000000");
  EXPECT_TEXT(doubleText(0.05, 6, 3), 0, " 0.050");
  EXPECT_TEXT(doubleText(42, 5, 0), 0, "   42");
  EXPECT_TEXT(doubleText(42, 5, -1), 0, "   42");                       // no point below 1 decimal
  EXPECT_TEXT(doubleText(1.0 / 3, 20, 20), 0, "   0.333333333333333");  // at most 15
}

TEST(DoubleToTextTest, TiesRoundAwayFromZeroOnTheExactValue) {
  EXPECT_TEXT(doubleText(0.125, 4, 2), 0, "0.13");  // printf would give 0.12
  EXPECT_TEXT(doubleText(-0.125, 5, 2), 0, "-0.13");
  EXPECT_TEXT(doubleText(0.0625, 5, 3), 0, "0.063");
  EXPECT_TEXT(doubleText(2.5, 2, 0), 0, " 3");
  EXPECT_TEXT(doubleText(-2.5, 2, 0), 0, "-3");
  EXPECT_TEXT(doubleText(9.5, 2, 0), 0, "10");
  EXPECT_TEXT(doubleText(99.875, 5, 2), 0, "99.88");
  EXPECT_TEXT(doubleText(1e15 + 0.5, 16, 0), 0, "1000000000000001");
  // Only exact halves are ties: 0.145 is stored as 0.14499999...
  EXPECT_TEXT(doubleText(0.145, 4, 2), 0, "0.14");
  EXPECT_TEXT(doubleText(std::nextafter(0.125, 0.0), 4, 2), 0, "0.12");
  EXPECT_TEXT(doubleText(std::nextafter(0.125, 1.0), 4, 2), 0, "0.13");
}

TEST(DoubleToTextTest, ValuesBelowOneAndZero) {
  EXPECT_TEXT(doubleText(0.5, 3, 2), 0, ".50");    // no room for the '0'
  EXPECT_TEXT(doubleText(0.5, 3, 5), 0, ".50");    // decimals limited to length - 1
  EXPECT_TEXT(doubleText(-0.5, 4, 2), 0, "-.50");  // the sign takes the '0''s place
  EXPECT_TEXT(doubleText(-0.0, 5, 2), 0, " 0.00");
  EXPECT_TEXT(doubleText(-0.001, 5, 2), 0, " 0.00");  // rounds to zero: no sign
  EXPECT_TEXT(doubleText(0.3, 1, 2), 0, "0");         // one byte: no point at all
}

TEST(DoubleToTextTest, OverflowFillsWithStars) {
  EXPECT_TEXT(doubleText(1234.5, 5, 2), e4overflow, "*****");
  EXPECT_TEXT(doubleText(-12.5, 4, 1), e4overflow, "****");    // no room for the sign
  EXPECT_TEXT(doubleText(99.996, 5, 2), e4overflow, "*****");  // rounding adds a digit
  EXPECT_TEXT(doubleText(-0.5, 3, 2), e4overflow, "***");
  EXPECT_TEXT(doubleText(1e300, 20, 10), e4overflow, std::string(20, '*'));
  EXPECT_TEXT(doubleText(std::nan(""), 6, 2), e4overflow, "******");
  EXPECT_TEXT(doubleText(INFINITY, 6, 2), e4overflow, "******");
  EXPECT_TEXT(doubleText(-INFINITY, 3, 0), e4overflow, "***");
  EXPECT_TEXT(doubleText(1, 0, 0), e4overflow, "");
  EXPECT_TEXT(doubleText(1, -4, 2), e4overflow, "");
}

TEST(LongToTextTest, BlankAndZeroPadding) {
  EXPECT_TEXT(longText(-5, 3), 0, " -5");
  EXPECT_TEXT(longText(7, -3), 0, "007");
  EXPECT_TEXT(longText(0, 3), 0, "  0");
  EXPECT_TEXT(longText(-12, 3), 0, "-12");
  EXPECT_TEXT(longText(INT32_MAX, 10), 0, "2147483647");
  EXPECT_TEXT(longText(INT32_MIN, 11), 0, "-2147483648");
  EXPECT_TEXT(longText(INT32_MIN, 12), 0, " -2147483648");
}

TEST(LongToTextTest, OverflowFillsWithStars) {
  EXPECT_TEXT(longText(1234, 3), e4overflow, "***");
  EXPECT_TEXT(longText(-123, 3), e4overflow, "***");
  EXPECT_TEXT(longText(-5, -3), e4overflow, "***");  // zero padding shows no sign
  EXPECT_TEXT(longText(INT32_MIN, 10), e4overflow, "**********");
  EXPECT_TEXT(longText(5, 0), e4overflow, "");
}

TEST(TextToNumberTest, DoublesReadAsFarAsNumeric) {
  EXPECT_EQ(convert4textToDouble("  12.50", 7), 12.5);
  EXPECT_EQ(convert4textToDouble(" -0.5", 5), -0.5);
  EXPECT_EQ(convert4textToDouble("-.25", 4), -0.25);
  EXPECT_EQ(convert4textToDouble("12a.5", 5), 12);
  EXPECT_EQ(convert4textToDouble("1.2.3", 5), 1.2);
  EXPECT_EQ(convert4textToDouble("12345", 3), 123);
  EXPECT_EQ(convert4textToDouble("12\0"
                                 "99",
                                 5),
            12);
  EXPECT_EQ(convert4textToDouble("****", 4), 0);
  EXPECT_EQ(convert4textToDouble("7", -1), 0);
  EXPECT_EQ(convert4stringToDouble(("1" + std::string(45, '0')).c_str()), 1e38);  // 39 digits
}

// Fields wider than 49 bytes, as other writers make them (N50, F50.3),
// read from their first significant digit whatever stands before it.
TEST(TextToNumberTest, WideFieldsReadWhole) {
  const auto wide = [](const std::string& value, char fill = ' ') {
    return std::string(50 - value.size(), fill) + value;
  };
  const double value = convert4textToDouble("12.345", 6);
  EXPECT_EQ(convert4textToDouble(wide("12.345").c_str(), 50), value);
  EXPECT_EQ(convert4textToDouble(wide("4").c_str(), 50), 4);
  EXPECT_EQ(convert4textToDouble(wide("-0.5").c_str(), 50), -0.5);
  EXPECT_EQ(convert4textToDouble(wide("12.345", '0').c_str(), 50), value);
  EXPECT_EQ(convert4textToDouble((std::string(200, ' ') + "7").c_str(), 201), 7);
  // Leading zeros change neither the value nor how it is built.
  EXPECT_EQ(convert4textToDouble("000012345678901234567890", 24),
            convert4textToDouble("12345678901234567890", 20));
}

// Stored keys were built from these values: integer part plus fraction
// over a power of ten, which is not always the double nearest to the text.
TEST(TextToNumberTest, DoublesKeepTheEnginesOwnRounding) {
  EXPECT_EQ(convert4textToDouble("5.56", 4), 0x1.63d70a3d70a3ep+2);
  EXPECT_NE(convert4textToDouble("5.56", 4), 5.56);
  EXPECT_EQ(convert4textToDouble("1.743240", 8), 0x1.be44fa05143cp+0);
  EXPECT_EQ(convert4textToDouble("3161.96764048", 13), 0x1.8b3ef6e92afc6p+11);
  // Digits beyond nine are multiplied in one at a time.
  EXPECT_EQ(convert4textToDouble("12345678901234567890", 20), 12345678901.0 * 1e9 + 234567890.0);
}

TEST(TextToNumberTest, IntegersSaturateAt32Bits) {
  EXPECT_EQ(convert4textToLong("  -42x", 6), -42);
  EXPECT_EQ(convert4textToInt("\t+7", 3), 7);
  EXPECT_EQ(convert4textToLong("99999999999", 11), INT32_MAX);
  EXPECT_EQ(convert4textToLong("-99999999999999999999", 21), INT32_MIN);
  EXPECT_EQ(convert4textToLong("-2147483648", 11), INT32_MIN);
  EXPECT_EQ(convert4textToUnsigned("4294967295", 10), UINT32_MAX);
  EXPECT_EQ(convert4textToUnsigned("4294967296", 10), UINT32_MAX);
  EXPECT_EQ(convert4textToUnsigned("-5", 2), 0u);
  EXPECT_EQ(convert4textToLong((std::string(126, ' ') + "5").c_str(), 200), 5);
  EXPECT_EQ(convert4textToLong((std::string(127, ' ') + "5").c_str(), 200), 0);  // 127 bytes
  EXPECT_EQ(convert4textToLong("5", -3), 0);
}

TEST(TruncateTest, DoublesTruncateTowardsZeroAndSaturate) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(convert4truncate<int32_t>(-3.9), -3);
  EXPECT_EQ(convert4truncate<int32_t>(2147483647.9), INT32_MAX);
  EXPECT_EQ(convert4truncate<int32_t>(2147483648.0), INT32_MAX);
  EXPECT_EQ(convert4truncate<int32_t>(-2147483648.9), INT32_MIN);
  EXPECT_EQ(convert4truncate<int32_t>(-1e300), INT32_MIN);
  EXPECT_EQ(convert4truncate<int32_t>(inf), INT32_MAX);
  EXPECT_EQ(convert4truncate<int32_t>(nan), 0);
  EXPECT_EQ(convert4truncate<int16_t>(40000.0), INT16_MAX);
  EXPECT_EQ(convert4truncate<int64_t>(9223372036854775807.0), INT64_MAX);  // 2^63
  EXPECT_EQ(convert4truncate<int64_t>(-9223372036854775808.0), INT64_MIN);
  EXPECT_EQ(convert4truncate<int64_t>(-inf), INT64_MIN);
}

TEST(TextToNumberTest, Integers64SaturateAt64Bits) {
  EXPECT_EQ(convert4textToInt64(" +9223372036854775807", 21), INT64_MAX);
  EXPECT_EQ(convert4textToInt64("9223372036854775808", 19), INT64_MAX);
  EXPECT_EQ(convert4textToInt64("-9223372036854775808", 20), INT64_MIN);
  EXPECT_EQ(convert4textToInt64("-9223372036854775809", 20), INT64_MIN);
  EXPECT_EQ(convert4textToInt64("184467440737095516161", 21), INT64_MAX);  // past 2^64 too
  EXPECT_EQ(convert4textToInt64("-12345678901x", 13), -12345678901);
}

TEST(NumberKeyTest, NegativesAreComplemented) {
  char positive[] = "  12.50";
  convert4numberToKeyText(positive, 7);
  EXPECT_STREQ(positive, "0012.50");
  char negative[] = " -12.50";
  convert4numberToKeyText(negative, 7);
  EXPECT_STREQ(negative, ",,+*.',");
  char stars[] = "****";
  convert4numberToKeyText(stars, 4);
  EXPECT_STREQ(stars, "****");
}

// Keys of one width and decimals must sort bytewise as their numbers do.
TEST(NumberKeyTest, KeysSortBytewiseLikeTheNumbers) {
  std::mt19937_64 random(20040616);
  std::uniform_real_distribution<double> magnitude(-7, 6);
  auto draw = [&] {
    const double value = std::pow(10.0, magnitude(random));
    return random() % 2 ? -value : value;
  };
  for (int i = 0; i < 20000; ++i) {
    char a[11];
    char b[11];
    a[10] = b[10] = '\0';
    if (convert4doubleToText(draw(), a, 10, 3) != 0 ||
        convert4doubleToText(draw(), b, 10, 3) != 0) {
      continue;
    }
    const double x = convert4textToDouble(a, 10);
    const double y = convert4textToDouble(b, 10);
    convert4numberToKeyText(a, 10);
    convert4numberToKeyText(b, 10);
    const int order = std::memcmp(a, b, 10);
    ASSERT_EQ(order < 0, x < y) << a << " " << b;
    ASSERT_EQ(order == 0, x == y) << a << " " << b;
  }
}

TEST(Bits4Log2Test, CountsHalvings) {
  EXPECT_EQ(bits4log2(-5), 0);
  EXPECT_EQ(bits4log2(1), 0);
  EXPECT_EQ(bits4log2(2), 1);
  EXPECT_EQ(bits4log2(3), 1);
  EXPECT_EQ(bits4log2(512), 9);
  EXPECT_EQ(bits4log2(INT32_MAX), 30);
}

// The program's toolkit adopts the locale of the environment; the suite
// runs once more under a French one, where printf would write "1234,50".
TEST(ConversionLocaleTest, TheProcessLocaleChangesNothing) {
  const std::string adopted = std::setlocale(LC_ALL, nullptr);
  for (const char* locale : {"", "fr_FR.UTF-8"}) {
    if (std::setlocale(LC_ALL, locale) == nullptr) continue;
    EXPECT_TEXT(doubleText(-1234.5, 10, 2), 0, "  -1234.50");
    EXPECT_EQ(convert4textToDouble("  -1234.50", 10), -1234.5);
    EXPECT_TEXT(longText(1234567, 9), 0, "  1234567");
  }
  std::setlocale(LC_ALL, adopted.c_str());
}

}  // namespace
