#include "engine/storage/object4.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/storage/code4.h"
#include "engine/storage/convert4.h"
#include "engine/storage/data4.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/lock4.h"
#include "engine/storage/memo4field.h"
#include "engine/storage/memory4.h"

namespace {

constexpr uint32_t kTextSize = 257;
constexpr int32_t kLocLockCheck = 60021;
constexpr int32_t kLocToLong = 60031;
constexpr int32_t kLocAssignN = 60039;
constexpr int32_t kLocAssignDouble = 60040;
constexpr int32_t kLocAssignLong = 60041;
constexpr int32_t kLocSet = 60057;
constexpr int32_t kLocChanged = 60107;
constexpr int32_t kLocMemoChanged = 60119;
constexpr int32_t kLocMemoSetLen = 60121;

// Digits of |value|'s integer part: 1 for values below 10.
int integerDigits(double value) {
  int digits = 1;
  for (double magnitude = std::fabs(value); magnitude >= 10.0 && digits < 400; magnitude /= 10.0)
    digits++;
  return digits;
}

}  // namespace

Str4::~Str4() { memory4freeBlock(text_); }

char* Str4::textBuffer() {
  if (text_ == nullptr) text_ = static_cast<char*>(memory4allocZero(kTextSize));
  return text_;
}

int32_t Str4::toLong() {
  const char* bytes = ptrConst();
  if (bytes == nullptr) return error4(nullptr, e4parmNull, kLocToLong), 0;
  return convert4textToLong(bytes, static_cast<int32_t>(len()));
}

int Str4::changed() { return 0; }
int Str4::decimals() { return 0; }
int Str4::isBinary() { return 0; }

uint32_t Str4::len() {
  const char* bytes = ptrConst();
  return bytes == nullptr ? 0 : static_cast<uint32_t>(std::strlen(bytes));
}

uint32_t Str4::lenMaximum() { return len(); }
int Str4::lockCheck() { return 0; }
uint32_t Str4::size() { return len(); }

const char* Str4::str() {
  char* text = textBuffer();
  if (text == nullptr) return "";
  copyTo(text, kTextSize);
  return text;
}

int Str4::setLen(uint32_t) { return -1; }
int Str4::unsupported() { return -1; }

int Str4::assign(const char* text) {
  return assignN(text, text == nullptr ? 0 : static_cast<uint32_t>(std::strlen(text)));
}

int Str4::assignN(const char* bytes, uint32_t n) {
  if (bytes == nullptr) return error4(nullptr, e4parmNull, kLocAssignN);
  if (const int rc = lockCheck(); rc != 0) return error4(nullptr, e4lock, kLocAssignN), rc;
  changed();
  // A memo value that cannot grow refuses the whole assignment.
  if (const int rc = setLen(n); rc < -1) return rc;
  const uint32_t length = len();
  if (n < length) set(' ');
  char* target = ptr();
  if (target == nullptr) return error4(nullptr, e4parmNull, kLocAssignN);
  std::memcpy(target, bytes, std::min(n, length));
  return n > length ? -1 : 0;
}

int Str4::assignDouble(double value, int newLength, int decimalsWanted) {
  // A field takes the value as its type stores it: the generic path below
  // would write eight bytes into binary fields of two or four.
  if (FIELD4* field = fieldOf()) return field4assignDouble(field, value);
  char* target = ptr();
  if (target == nullptr) return error4(nullptr, e4parmNull, kLocAssignDouble);
  if (const int rc = lockCheck(); rc != 0) return error4(nullptr, e4lock, kLocAssignDouble), rc;
  changed();
  if (newLength >= 0) setLen(static_cast<uint32_t>(newLength));
  target = ptr();
  if (isBinary()) {
    endian4::writeLe(reinterpret_cast<unsigned char*>(target), std::bit_cast<uint64_t>(value), 8);
    return 0;
  }
  return convert4doubleToText(value, target, static_cast<int32_t>(len()),
                              decimalsWanted < 0 ? decimals() : decimalsWanted);
}

int Str4::assignLong(int32_t value, int newLength, int zeroFill) {
  if (FIELD4* field = fieldOf()) {
    if (zeroFill && !isBinary()) {
      if (const int rc = lockCheck(); rc != 0) return error4(nullptr, e4lock, kLocAssignLong), rc;
      char* target = field4assignPtr(field);
      if (target == nullptr) return e4parm;
      return convert4longToText(value, target, -static_cast<int32_t>(field->length));
    }
    return field4assignLong(field, value);
  }
  if (const int rc = lockCheck(); rc != 0) return error4(nullptr, e4lock, kLocAssignLong), rc;
  changed();
  if (newLength >= 0) setLen(static_cast<uint32_t>(newLength));
  char* target = ptr();
  if (target == nullptr) return error4(nullptr, e4parmNull, kLocAssignLong);
  if (isBinary()) {
    endian4::writeLe32(reinterpret_cast<unsigned char*>(target), static_cast<uint32_t>(value));
    return 0;
  }
  const auto length = static_cast<int32_t>(len());
  return convert4longToText(value, target, zeroFill ? -length : length);
}

int Str4::set(char character) {
  if (const int rc = lockCheck(); rc != 0) return error4(nullptr, e4lock, kLocSet), rc;
  char* target = ptr();
  if (target == nullptr) return 0;
  changed();
  std::memset(target, character, len());
  return 0;
}

uint32_t Str4::copyTo(char* buffer, uint32_t size) {
  if (size == 0) return 0;
  const char* bytes = ptrConst();
  const uint32_t n = bytes == nullptr ? 0 : std::min(len(), size - 1);
  if (n > 0) std::memcpy(buffer, bytes, n);
  buffer[n] = '\0';
  return n;
}

Field4::Field4(DATA4& data, const char* name) : field_(data4field(&data, name)) {}

int32_t Field4::toLong() { return field4long(field_); }

int Field4::changed() {
  if (field_ == nullptr) return error4(nullptr, e4object, kLocChanged);
  return field4assignPtr(field_) == nullptr ? -1 : 0;
}

int Field4::decimals() { return field4decimals(field_); }

int Field4::isBinary() {
  if (field_ == nullptr) return 0;
  switch (field_->type) {
    case 'I': case '1': case '6': case 'B': case 'P': case 'Q': case 'R': case 'T': case 'Y':
      return 1;
    default:
      return 0;
  }
}

uint32_t Field4::len() { return field4len(field_); }
uint32_t Field4::lenMaximum() { return field4len(field_); }
uint32_t Field4::size() { return len(); }
char* Field4::ptr() { return field4ptr(field_); }
const char* Field4::ptrConst() { return field4ptr(field_); }

int Field4::lockCheck() {
  if (field_ == nullptr) return error4(nullptr, e4object, kLocLockCheck);
  DATA4* d = field_->data;
  CODE4* c = d->codeBase;
  if (c->accessMode == 0 && c->lockEnforce && d->recNum > 0 && !data4lockTestRecordHeld(d, d->recNum))
    return error4(c, e4lock, kLocLockCheck);
  return 0;
}

const char* Field4::str() {
  char* text = textBuffer();
  if (text == nullptr || field_ == nullptr) return "";
  switch (field_->type) {
    case 'I': {
      const int32_t value = field4long(field_);
      const int width = (value == 0 ? 1 : integerDigits(value)) + (value < 0 ? 1 : 0);
      convert4longToText(value, text, width);
      text[width] = '\0';
      return text;
    }
    case 'Y': {
      const char* value = field4currency(field_, 2);
      return value == nullptr ? "" : value;
    }
    case 'T': {
      const char* value = field4dateTime(field_);
      return value == nullptr ? "" : value;
    }
    case 'B': {
      // The real width of the value: a width from the logarithm alone goes
      // negative for tiny values and past the buffer for huge ones.
      const double value = field4double(field_);
      const int places = std::min<int>(field_->decimals, 15);
      int width = std::isfinite(value) ? integerDigits(value) + (value < 0 ? 1 : 0) : 1;
      if (places > 0) width += places + 1;
      width = std::min<int>(width, kTextSize - 1);
      convert4doubleToText(value, text, width, places);
      text[width] = '\0';
      return text;
    }
    default:
      copyTo(text, kTextSize);
      return text;
  }
}

Field4memo::Field4memo(DATA4& data, const char* name) : Field4(data, name) {}

int Field4memo::changed() {
  if (field_ == nullptr) return error4(nullptr, e4object, kLocMemoChanged);
  field_->data->recordChanged = 1;
  if (field_->memo != nullptr) field_->memo->changed = 1;
  return 0;
}

uint32_t Field4memo::len() { return field4memoLen(field_); }
uint32_t Field4memo::lenMaximum() { return field4memoLen(field_); }
uint32_t Field4memo::size() { return len(); }
char* Field4memo::ptr() { return field4memoPtr(field_); }
const char* Field4memo::ptrConst() { return field4memoPtr(field_); }
const char* Field4memo::str() { return field4memoStr(field_); }

int Field4memo::setLen(uint32_t n) {
  if (field_ == nullptr) return error4(nullptr, e4object, kLocMemoSetLen);
  MEMO4FIELD* memo = field_->memo;
  if (memo == nullptr) return -1;
  if (n <= memo->capacity) return field4memoSetLen(field_, n);
  const char* current = field4memoPtr(field_);
  std::vector<char> kept(current, current + (current != nullptr ? field4memoLen(field_) : 0));
  const int rc = field4memoSetLen(field_, n);
  if (rc == 0 && !kept.empty()) std::memcpy(memo->contents, kept.data(), std::min<size_t>(kept.size(), n));
  return rc;
}
