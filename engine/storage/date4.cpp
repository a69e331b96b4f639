#include "engine/storage/date4.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/code4.h"
#include "engine/storage/convert4.h"
#include "engine/storage/error4.h"
#include "engine/storage/text4.h"
#include "platform/os.h"

namespace {

constexpr int32_t kLocFormatSet = 90432;
constexpr int32_t kLocFormat = 90433;

constexpr int kDateTextLength = 8;
constexpr const char* kDatePattern = "CCYYMMDD";
constexpr const char* kEmptyDate = "        ";

// Days before each month of a common year, and the whole year.
constexpr int32_t kDaysBefore[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

// Shown at most nine bytes long.
constexpr const char* kMonthNames[13] = {"",        "January",  "February", "March",  "April",
                                         "May",     "June",     "July",     "August", "September",
                                         "October", "November", "December"};

bool isLeap(int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int32_t yearLength(int64_t year) { return isLeap(year) ? 366 : 365; }

// Days before `month` (1-13) in `year`.
int32_t daysBefore(int64_t year, int32_t month) {
  return kDaysBefore[month - 1] + (month > 2 && isLeap(year) ? 1 : 0);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Writes the low `count` decimal digits of a non-negative value.
void writeDigits(char* out, int64_t value, int count) {
  for (int i = count - 1; i >= 0; --i, value /= 10) out[i] = static_cast<char>('0' + value % 10);
}

// An upper-cased copy of a picture, so that neither the caller's text nor
// the settings object's picture changes. False for a null picture or one of
// date4pictureSize characters or more.
bool copyPicture(const char* picture, char (&upper)[date4pictureSize]) {
  if (picture == nullptr) return false;
  const size_t length = strnlen(picture, date4pictureSize);
  if (length == date4pictureSize) return false;
  std::memcpy(upper, picture, length + 1);
  text4upper(upper);
  return true;
}

// Where the picture's first run of M starts, and its length (0 for none).
size_t monthRun(const char* picture, size_t& at) {
  const char* first = std::strchr(picture, 'M');
  if (first == nullptr) return 0;
  at = static_cast<size_t>(first - picture);
  size_t run = 0;
  while (first[run] == 'M') ++run;
  return run;
}

// The month whose name begins with up to three input bytes at `at`
// (trailing blanks dropped, case ignored), or 0.
int32_t monthFromName(const char* input, size_t at) {
  const size_t available = strnlen(input, at + 3);
  if (available <= at) return 0;
  char name[4] = {};
  size_t length = available - at;
  std::memcpy(name, input + at, length);
  while (length > 0 && name[length - 1] == ' ') name[--length] = '\0';
  if (length == 0) return 0;
  text4lower(name);
  if (name[0] >= 'a' && name[0] <= 'z') name[0] = static_cast<char>(name[0] - 'a' + 'A');
  for (int32_t month = 1; month <= 12; ++month) {
    if (std::strncmp(name, kMonthNames[month], length) == 0) return month;
  }
  return 0;
}

}  // namespace

int32_t date4yearDay(int32_t year, int32_t month, int32_t day) {
  if (year < 0 || month < 1 || month > 12 || day < 1) return -1;
  const int32_t monthLength = daysBefore(year, month + 1) - daysBefore(year, month);
  if (day > monthLength) return -1;
  return daysBefore(year, month) + day;
}

int64_t date4yearDays(int32_t year) {
  const int64_t before = int64_t{year} - 1;
  return 365 * before + before / 4 - before / 100 + before / 400;
}

int32_t date4monthDay(int32_t year, int32_t dayOfYear, int32_t* month, int32_t* day) {
  int32_t foundMonth = 0;
  int32_t foundDay = 0;
  if (dayOfYear >= 1 && dayOfYear <= yearLength(year)) {
    foundMonth = 1;
    while (daysBefore(year, foundMonth + 1) < dayOfYear) ++foundMonth;
    foundDay = dayOfYear - daysBefore(year, foundMonth);
  }
  if (month != nullptr) *month = foundMonth;
  if (day != nullptr) *day = foundDay;
  return foundMonth == 0 ? -1 : 0;
}

int32_t date4julian(int32_t year, int32_t month, int32_t day) {
  const int32_t dayOfYear = date4yearDay(year, month, day);
  if (dayOfYear < 1) return -1;
  const int64_t julian = date4yearDays(year) + dayOfYear + date4julianBase;
  return julian > INT32_MAX ? -1 : static_cast<int32_t>(julian);
}

int32_t date4long(const char* dateText) {
  if (dateText == nullptr) return -1;
  bool blank = true;
  bool zero = true;
  for (int i = 0; i < kDateTextLength; ++i) {
    const char c = dateText[i];
    if (!isDigit(c) && c != ' ') return -1;
    blank = blank && c == ' ';
    zero = zero && c == '0';
  }
  const int32_t year = convert4textToInt(dateText, 4);
  if (year == 0 && (blank || zero)) return 0;
  return date4julian(year, convert4textToInt(dateText + 4, 2), convert4textToInt(dateText + 6, 2));
}

void date4assign(char* dateText, int32_t julianDay, int zeros) {
  if (dateText == nullptr) return;
  if (julianDay > 0) {
    // The year estimate is at most one off for every year that can be
    // written; the factor is 1 / 365.2425 as stored day numbers expect.
    const int64_t days = int64_t{julianDay} - date4julianBase;
    int64_t year = static_cast<int64_t>(static_cast<double>(days) * 0.002737907006988508) + 1;
    int64_t dayOfYear = 0;
    if (year >= 0 && year <= 10000) {
      dayOfYear = days - date4yearDays(static_cast<int32_t>(year));
      if (dayOfYear < 1) {
        --year;
        dayOfYear = days - date4yearDays(static_cast<int32_t>(year));
      } else if (dayOfYear > yearLength(year)) {
        dayOfYear -= yearLength(year);
        ++year;
      }
    }
    int32_t month = 0;
    int32_t day = 0;
    if (year >= 0 && year <= 9999 &&
        date4monthDay(static_cast<int32_t>(year), static_cast<int32_t>(dayOfYear), &month, &day) ==
            0) {
      writeDigits(dateText, year, 4);
      writeDigits(dateText + 4, month, 2);
      writeDigits(dateText + 6, day, 2);
      return;
    }
  }
  std::memset(dateText, zeros ? '0' : ' ', kDateTextLength);
}

int32_t date4format(const char* dateText, char* output, const char* picture) {
  char upper[date4pictureSize];
  if (dateText == nullptr || output == nullptr || !copyPicture(picture, upper)) return e4parm;
  text4encode(output, dateText, upper, kDatePattern);

  size_t at = 0;
  const size_t run = monthRun(upper, at);
  if (run < 3) return 0;
  const bool blank = dateText[4] == ' ' && dateText[5] == ' ';
  const char* name =
      blank ? "" : kMonthNames[std::clamp(convert4textToInt(dateText + 4, 2), 1, 12)];
  for (size_t i = 0; i < run; ++i) {
    output[at + i] = *name != '\0' ? *name++ : ' ';
  }
  return 0;
}

int32_t date4init(char* dateText, const char* input, const char* picture) {
  char upper[date4pictureSize];
  if (dateText == nullptr || input == nullptr || !copyPicture(picture, upper)) return e4parm;
  std::memset(dateText, ' ', kDateTextLength);

  // Bytes taken so far for century, year, month and day; each part has two
  // places in the date text, in that order.
  int taken[4] = {};
  for (size_t i = 0; upper[i] != '\0' && input[i] != '\0'; ++i) {
    const char* part = std::strchr(kDatePattern, upper[i]);
    if (part == nullptr) continue;
    const int index = static_cast<int>(part - kDatePattern) / 2;
    if (taken[index] < 2) dateText[2 * index + taken[index]++] = input[i];
  }
  if (std::memcmp(dateText, kEmptyDate, kDateTextLength) == 0) return 0;

  if (std::strchr(upper, 'C') == nullptr) {
    writeDigits(dateText, platform::os().localTime().year / 100, 2);
  }
  if (std::strchr(upper, 'Y') == nullptr) std::memcpy(dateText + 2, "01", 2);
  if (std::strchr(upper, 'M') == nullptr) std::memcpy(dateText + 4, "01", 2);
  if (std::strchr(upper, 'D') == nullptr) std::memcpy(dateText + 6, "01", 2);

  size_t at = 0;
  if (monthRun(upper, at) >= 3) {
    const int32_t month = monthFromName(input, at);
    if (month > 0) {
      writeDigits(dateText + 4, month, 2);
    } else {
      std::memcpy(dateText + 4, "  ", 2);
    }
  }
  std::replace(dateText, dateText + kDateTextLength, ' ', '0');
  return 0;
}

void date4today(char* dateText) {
  const platform::LocalTime now = platform::os().localTime();
  writeDigits(dateText, now.year, 4);
  writeDigits(dateText + 4, now.month, 2);
  writeDigits(dateText + 6, now.day, 2);
}

void date4timeNow(char* timeText) {
  const platform::LocalTime now = platform::os().localTime();
  writeDigits(timeText, now.hour, 2);
  timeText[2] = ':';
  writeDigits(timeText + 3, now.minute, 2);
  timeText[5] = ':';
  writeDigits(timeText + 6, now.second, 2);
}

void date4todayBytes(uint8_t* bytes) {
  const platform::LocalTime now = platform::os().localTime();
  bytes[0] = static_cast<uint8_t>(now.year % 100);
  bytes[1] = static_cast<uint8_t>(now.month);
  bytes[2] = static_cast<uint8_t>(now.day);
}

const char* code4dateFormat(CODE4* c) {
  if (c == nullptr) {
    error4(nullptr, e4parmNull, kLocFormat);
    return nullptr;
  }
  return c->datePicture;
}

int32_t code4dateFormatSet(CODE4* c, const char* picture) {
  if (c == nullptr || picture == nullptr) return error4(nullptr, e4parmNull, kLocFormatSet);
  const size_t length = strnlen(picture, sizeof c->datePicture);
  if (length == sizeof c->datePicture) return error4(c, e4parm, kLocFormatSet);
  std::memcpy(c->datePicture, picture, length + 1);
  return 0;
}
