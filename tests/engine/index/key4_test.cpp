// Sort keys of values: the encodings, their order, DESCEND, the seek
// converters and the in-place conversions.
#include "engine/index/key4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/index/collate4.h"
#include "engine/storage/error4.h"
#include "tests/engine/index/key_test_support.h"
#include "tests/support/engine_fixture.h"

using namespace testing_support;

namespace {

std::string doubleKey(double v) {
  std::string key(8, '\0');
  key4fromDouble(key.data(), v);
  return key;
}
std::string intKey(int32_t v) {
  std::string key(4, '\0');
  key4fromInt(key.data(), v);
  return key;
}
std::string int64Key(int64_t v) {
  std::string key(8, '\0');
  key4fromInt64(key.data(), v);
  return key;
}
std::string currencyKey(int64_t v) {
  std::string key(8, '\0');
  key4fromCurrency(key.data(), v);
  return key;
}
std::string dateTimeKey(int32_t day, int32_t ms) {
  std::string key(8, '\0');
  key4fromDateTime(key.data(), day, ms);
  return key;
}
std::string descend(const std::string& key) {
  std::string out(key.size(), '\0');
  key4descend(out.data(), key.data(), static_cast<int32_t>(key.size()));
  return out;
}

// Every pair of `values` orders its keys as the values, and DESCEND
// reverses that order.
template <typename T, typename KeyOf>
void expectOrderKept(const std::vector<T>& values, KeyOf keyOf) {
  for (size_t i = 0; i < values.size(); i++) {
    for (size_t j = 0; j < values.size(); j += 1 + values.size() / 60) {
      const std::string a = keyOf(values[i]);
      const std::string b = keyOf(values[j]);
      ASSERT_EQ(byteOrder(a, b), valueOrder(values[i], values[j]))
          << "values " << values[i] << " and " << values[j];
      ASSERT_EQ(byteOrder(descend(a), descend(b)), -valueOrder(values[i], values[j]));
    }
  }
}

TEST(KeyEncoding, DoubleKeysOfTheEdgeValues) {
  EXPECT_EQ(hexOf(doubleKey(0.0)), "8000000000000000");
  EXPECT_EQ(hexOf(doubleKey(-0.0)), "8000000000000000");
  EXPECT_EQ(hexOf(doubleKey(-1.0)), "400fffffffffffff");
  EXPECT_EQ(hexOf(doubleKey(1.0)), "bff0000000000000");
  EXPECT_LT(byteOrder(doubleKey(-1.0), doubleKey(0.0)), 0);
  EXPECT_LT(byteOrder(doubleKey(0.0), doubleKey(1.0)), 0);
  // NaN keeps a place at an end rather than among the numbers.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_GT(byteOrder(doubleKey(nan), doubleKey(INFINITY)), 0);
  EXPECT_LT(byteOrder(doubleKey(-nan), doubleKey(-INFINITY)), 0);
}

TEST(KeyEncoding, IntegerKeysFlipTheSignBitAndLogicalKeysAreLetters) {
  EXPECT_EQ(hexOf(intKey(-1)), "7fffffff");
  EXPECT_EQ(hexOf(intKey(0)), "80000000");
  std::string key(4, '\0');
  key4fromUnsigned(key.data(), 0x01020304);
  EXPECT_EQ(hexOf(key), "01020304");
  EXPECT_EQ(hexOf(int64Key(INT64_MIN)), "0000000000000000");
  EXPECT_EQ(hexOf(currencyKey(-15000)), "7fffffffffffc568");
  for (int32_t logical : {1, 0, 2, -1}) {
    key4fromLogical(key.data(), logical);
    EXPECT_EQ(key[0], logical == 1 ? 'T' : 'F') << logical;
  }
}

TEST(KeyEncoding, PartsAreWrittenHighByteFirst) {
  const uint16_t date[3] = {2024, 2, 29};
  std::string key(6, '\0');
  key4fromDateParts(key.data(), date);
  EXPECT_EQ(hexOf(key), "07e80002001d");
  std::string same(6, '\0');
  key4fromDatePartsUnsigned(same.data(), date);
  EXPECT_EQ(same, key);
  const uint16_t seven[6] = {2024, 12, 31, 23, 59, 58};
  std::string wide(16, '\0');
  key4fromDateTimeParts(wide.data(), seven, 0x01020304);
  EXPECT_EQ(hexOf(wide), "07e8000c001f0017003b003a01020304");
}

TEST(KeyOrder, ByteOrderOfKeysIsValueOrder) {
  std::mt19937_64 random(7);
  std::vector<double> doubles = {0.0,
                                 -0.0,
                                 1.0,
                                 -1.0,
                                 INFINITY,
                                 -INFINITY,
                                 5e-324,
                                 -5e-324,
                                 std::numeric_limits<double>::max(),
                                 std::numeric_limits<double>::lowest()};
  std::vector<int32_t> ints = {0, -1, 1, INT32_MIN, INT32_MAX};
  std::vector<int64_t> int64s = {0, -1, 1, INT64_MIN, INT64_MAX};
  for (int i = 0; i < 300; i++) {
    uint64_t bits = random();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (!std::isnan(d)) doubles.push_back(d);
    ints.push_back(static_cast<int32_t>(random()));
    int64s.push_back(static_cast<int64_t>(random()));
  }
  expectOrderKept(doubles, doubleKey);
  expectOrderKept(ints, intKey);
  expectOrderKept(int64s, int64Key);
  expectOrderKept(int64s, currencyKey);
}

TEST(KeyOrder, DateTimeKeysFollowTheRoundedSecond) {
  std::mt19937 random(11);
  std::vector<int64_t> moments;  // day and milliseconds packed: day x 2^27 + ms
  for (int i = 0; i < 300; i++) {
    const int64_t day = 2415021 + random() % 73000;
    moments.push_back(day << 27 | static_cast<int64_t>(random() % 86400000));
  }
  for (int64_t ms : {0, 499, 500, 1499, 1500, 86399499, 86399500, 86399999})
    moments.push_back(int64_t{2460000} << 27 | ms);
  auto keyOf = [](int64_t m) {
    return dateTimeKey(static_cast<int32_t>(m >> 27), static_cast<int32_t>(m & ((1 << 27) - 1)));
  };
  // The value a key stands for: whole seconds since day 0, half a second up.
  auto secondOf = [](int64_t m) {
    return (m >> 27) * 86400 + ((m & ((1 << 27) - 1)) + 500) / 1000;
  };
  for (int64_t a : moments) {
    for (int64_t b : moments) {
      ASSERT_EQ(byteOrder(keyOf(a), keyOf(b)), valueOrder(secondOf(a), secondOf(b)));
    }
  }
}

TEST(KeyOrder, DateTimeRoundsHalfASecondUp) {
  EXPECT_EQ(dateTimeKey(2460000, 1499), dateTimeKey(2460000, 1000));
  EXPECT_EQ(dateTimeKey(2460000, 1500), dateTimeKey(2460000, 2000));
  EXPECT_NE(dateTimeKey(2460000, 1499), dateTimeKey(2460000, 1500));
  // The last half second of a day is the next day's midnight.
  EXPECT_EQ(dateTimeKey(2460000, 86399500), dateTimeKey(2460001, 0));
}

TEST(KeyDescend, ComplementsInPlace) {
  std::string key = "ABC";
  key4descend(key.data(), key.data(), 3);
  EXPECT_EQ(hexOf(key), "bebdbc");
}

TEST(SeekText, LogicalTextsTakeTheFirstTellingLetter) {
  char key[2] = {'?', '?'};
  struct Case {
    const char* text;
    char expected;
  } cases[] = {{"yes", 'T'}, {"x", 'F'}, {"", 'F'}, {"  t", 'T'}, {"no, yes", 'F'}, {"xyz", 'T'}};
  for (const Case& c : cases) {
    EXPECT_EQ(key4fromLogicalText(key, c.text, static_cast<int32_t>(std::strlen(c.text))), 1);
    EXPECT_EQ(key[0], c.expected) << c.text;
    EXPECT_EQ(key[1], '?');
  }
}

TEST(SeekText, NumbersFromTextMatchKeysOfValues) {
  char key[8];
  EXPECT_EQ(key4fromNumericText(key, "  -12.5", 7), 8);
  EXPECT_EQ(std::string(key, 8), doubleKey(-12.5));
  EXPECT_EQ(key4fromIntText(key, "-2", 2), 4);
  EXPECT_EQ(std::string(key, 4), intKey(-2));
  EXPECT_EQ(key4fromUnsignedText(key, "-2", 2), 4);
  EXPECT_EQ(hexOf(key, 4), "00000000");
  EXPECT_EQ(key4fromInt64Text(key, "-9223372036854775809", 20), 8);
  EXPECT_EQ(std::string(key, 8), int64Key(INT64_MIN));
  EXPECT_EQ(key4fromInt64Text(key, " 123456789012", 13), 8);
  EXPECT_EQ(std::string(key, 8), int64Key(123456789012));
}

TEST(SeekText, CurrencyTextCountsTenThousandths) {
  char key[8];
  struct Case {
    const char* text;
    int64_t units;
  } cases[] = {{"-1.5", -15000},
               {" 12.3456", 123456},
               {"+0007", 70000},
               {"", 0},
               {"1.23456", 0},            // five decimals: not currency
               {"12345678901234567", 0},  // 17 integer digits and 4 decimals: too many
               {"1234567890123456.7", INT64_MAX},
               {"922337203685477.5807", INT64_MAX},
               {"999999999999999.9999", INT64_MAX},
               {"-999999999999999", INT64_MIN}};
  for (const Case& c : cases) {
    EXPECT_EQ(key4fromCurrencyText(key, c.text, static_cast<int32_t>(std::strlen(c.text))), 8);
    EXPECT_EQ(std::string(key, 8), currencyKey(c.units)) << c.text;
  }
}

TEST(SeekText, FixedPositionsBeyondTheTextCountAsBlanks) {
  // A partial date seeks the start of its year; nothing is read past it.
  const char full[] = "2024XXXX";
  char key[16];
  EXPECT_EQ(key4fromDatePartsText(key, full, 4), 6);
  EXPECT_EQ(hexOf(key, 6), "07e800000000");
  EXPECT_EQ(key4fromDatePartsText(key, "20240229", 8), 6);
  EXPECT_EQ(hexOf(key, 6), "07e80002001d");

  EXPECT_EQ(key4fromTimeText(key, "23:59:58", 8), 6);
  EXPECT_EQ(hexOf(key, 6), "8017803b803a");
  EXPECT_EQ(key4fromTimeText(key, "07:1", 4), 6);
  EXPECT_EQ(hexOf(key, 6), "8007800a8000");  // minutes "1 ": from ten on

  EXPECT_EQ(key4fromDateTimePartsText(key, "2024022923:59:58.1234", 21), 16);
  EXPECT_EQ(hexOf(key, 16), "07e80002001d0017003b003a000004d2");
  EXPECT_EQ(key4fromDateTimePartsText(key, "2024022923", 10), 16);
  EXPECT_EQ(hexOf(key, 16), "07e80002001d00170000000000000000");

  // The date key is as long as the text, but never longer than the key.
  EXPECT_EQ(key4fromDateText(key, "20240229   ", 11), 8);
  EXPECT_EQ(std::string(key, 8), doubleKey(2460370));
  EXPECT_EQ(key4fromDateText(key, "2024", 4), 4);
}

TEST(SeekText, DateTimeTextNeedsSixteenCharacters) {
  char key[8];
  EXPECT_EQ(key4fromDateTimeText(key, "2024022912:30:15", 16), 8);
  EXPECT_EQ(std::string(key, 8), dateTimeKey(2460370, (12 * 3600 + 30 * 60 + 15) * 1000));
  std::memset(key, 'x', sizeof key);
  EXPECT_EQ(key4fromDateTimeText(key, "2024022912:30:1", 15), 8);
  EXPECT_EQ(hexOf(key, 8), "0000000000000000");
}

TEST(SeekDouble, ConversionsToIntegersSaturate) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  char key[8];
  struct Case {
    double value;
    int32_t asInt;
    uint32_t asUnsigned;
    int64_t asInt64;
  } cases[] = {{-1.9, -1, 0, -1},
               {3e9, INT32_MAX, 3000000000u, 3000000000},
               {-3e9, INT32_MIN, 0, -3000000000},
               {1e30, INT32_MAX, UINT32_MAX, INT64_MAX},
               {-1e30, INT32_MIN, 0, INT64_MIN},
               {nan, 0, 0, 0},
               {INFINITY, INT32_MAX, UINT32_MAX, INT64_MAX}};
  for (const Case& c : cases) {
    key4fromDoubleAsInt(key, c.value);
    EXPECT_EQ(std::string(key, 4), intKey(c.asInt)) << c.value;
    key4fromDoubleAsUnsigned(key, c.value);
    std::string expected(4, '\0');
    key4fromUnsigned(expected.data(), c.asUnsigned);
    EXPECT_EQ(std::string(key, 4), expected) << c.value;
    key4fromDoubleAsInt64(key, c.value);
    EXPECT_EQ(std::string(key, 8), int64Key(c.asInt64)) << c.value;
  }
}

TEST(SeekDouble, CurrencyAndDateParts) {
  char key[8];
  key4fromDoubleAsCurrency(key, -1.5);
  EXPECT_EQ(std::string(key, 8), currencyKey(-15000));
  key4fromDoubleAsCurrency(key, 0.00005);  // rounds half away from zero
  EXPECT_EQ(std::string(key, 8), currencyKey(1));
  key4fromDoubleAsCurrency(key, 1e300);
  EXPECT_EQ(std::string(key, 8), currencyKey(INT64_MAX));
  key4fromDoubleAsCurrency(key, -1e300);
  EXPECT_EQ(std::string(key, 8), currencyKey(INT64_MIN));

  key4fromJulianAsParts(key, 2460370.75);
  EXPECT_EQ(hexOf(key, 6), "07e80002001d");
  key4fromJulianAsParts(key, -5);
  EXPECT_EQ(hexOf(key, 6), "000000000000");
}

class SeekTable : public EngineTest {};

TEST_F(SeekTable, EveryKeyTypeHasItsConverters) {
  struct Case {
    int32_t type;
    bool collated;
    bool takesDouble;
    int pad;
    const char* text;
    const char* expectedKey;
  } cases[] = {
      {'C', false, false, ' ', "ab ", "616220"},
      {'C', true, false, 0, "ab ", "606100000000"},
      {'W', false, false, 0, "a\0b\0", "00610062"},
      {'D', false, true, 0, "20240229", "c142c56900000000"},
      {'d', false, true, 0, "20240229", "c142c56900000000"},
      {'N', false, true, 0, "1", "bff0000000000000"},
      {'Y', false, true, 0, "-1.5", "7fffffffffffc568"},
      {'I', false, true, 0, "-1", "7fffffff"},
      {'R', false, true, 0, "7", "00000007"},
      {'L', false, false, -1, "y", "54"},
      {'T', false, false, 0, "2024022900:00:00", "c142c56900000000"},
      {'1', false, true, 0, "-1", "7fffffffffffffff"},
      {'2', false, true, 0, "20240229", "07e80002001d"},
      {'3', false, false, 0, "23:59:58", "0017003b003a"},  // the form of values
      {'4', false, false, 0, "2024022923:59:58", "07e80002001d0017003b003a00000000"},
  };
  COLLATE4* general = collate4get(collate4generalWindows);
  for (const Case& t : cases) {
    Key4Seek seek;
    ASSERT_EQ(key4seekConverters(&c, t.type, t.collated, &seek), 0);
    EXPECT_EQ(seek.fromDouble != nullptr, t.takesDouble) << char(t.type);
    EXPECT_EQ(seek.pad, t.pad) << char(t.type);
    const int32_t length = t.type == 'W' ? 4 : static_cast<int32_t>(std::strlen(t.text));
    char key[64];
    int32_t keyLength = -1;
    ASSERT_EQ(seek.fromText(general, key, t.text, length, &keyLength), 0);
    EXPECT_EQ(hexOf(key, keyLength), t.expectedKey) << char(t.type);
  }
  Key4Seek seek;
  EXPECT_EQ(key4seekConverters(&c, 'G', false, &seek), e4info);
  EXPECT_EQ(lastError().location, 80121);
}

TEST(InPlaceConversion, EachTypeBecomesItsKey) {
  char value[16];
  double d = -1.0;
  std::memcpy(value, &d, 8);
  EXPECT_EQ(expr4keyConvert('n', value, 8, 0), 8);
  EXPECT_EQ(hexOf(value, 8), "400fffffffffffff");

  const unsigned char logical[4] = {2, 0, 0, 0};
  std::memcpy(value, logical, 4);
  EXPECT_EQ(expr4keyConvert('L', value, 4, 0), 1);
  EXPECT_EQ(value[0], '1');
  std::memset(value, 0, 4);
  expr4keyConvert('L', value, 4, 0);
  EXPECT_EQ(value[0], '0');

  std::memcpy(value, " -12.50", 7);
  EXPECT_EQ(expr4keyConvert('N', value, 7, 0), 7);
  EXPECT_EQ(std::string(value, 7), ",,+*.',");

  EXPECT_EQ(expr4keyConvert('d', value, 8, 2460370), 8);
  EXPECT_EQ(std::string(value, 8), "20240229");

  // A date-time field: day number and milliseconds, little-endian.
  const unsigned char dateTime[8] = {0xD2, 0x8A, 0x25, 0x00, 0xE8, 0x03, 0x00, 0x00};
  std::memcpy(value, dateTime, 8);
  EXPECT_EQ(expr4keyConvert('T', value, 8, 0), 8);
  EXPECT_EQ(std::string(value, 8), dateTimeKey(2460370, 1000));

  const unsigned char currency[8] = {0x68, 0xC5, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  std::memcpy(value, currency, 8);
  EXPECT_EQ(expr4keyConvert('Y', value, 8, 0), 8);
  EXPECT_EQ(std::string(value, 8), currencyKey(-15000));

  const unsigned char parts[6] = {0xE8, 0x07, 0x02, 0x00, 0x1D, 0x00};
  std::memcpy(value, parts, 6);
  EXPECT_EQ(expr4keyConvert('2', value, 6, 0), 6);
  EXPECT_EQ(hexOf(value, 6), "07e80002001d");

  std::memcpy(value, "a\0b\0", 4);
  EXPECT_EQ(expr4keyConvert('W', value, 4, 0), 4);
  EXPECT_EQ(hexOf(value, 4), "00610062");

  EXPECT_EQ(expr4keyConvert('I', value, 8, -1), 4);
  EXPECT_EQ(hexOf(value, 4), "7fffffff");
  EXPECT_EQ(expr4keyConvert('1', value, 8, -1), 8);
  EXPECT_EQ(hexOf(value, 8), "7fffffffffffffff");

  std::memcpy(value, "abc", 3);
  EXPECT_EQ(expr4keyConvert('C', value, 3, 0), 3);
  EXPECT_EQ(std::string(value, 3), "abc");
}

}  // namespace
