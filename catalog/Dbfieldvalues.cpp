#include "catalog/Dbfieldvalues.h"

#include <charconv>
#include <cstring>

#include "engine/storage/convert4.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/memo4field.h"

namespace catalog {

namespace {

bool blankOrControl(char ch) { return static_cast<unsigned char>(ch) <= 0x20; }

}  // namespace

std::string trimmed(std::string_view bytes) {
  size_t first = 0;
  size_t last = bytes.size();
  while (first < last && blankOrControl(bytes[first])) first++;
  while (last > first && blankOrControl(bytes[last - 1])) last--;
  return std::string(bytes.substr(first, last - first));
}

std::string fieldText(FIELD4* field) {
  const char* bytes = field4ptr(field);
  if (bytes == nullptr) return {};
  return trimmed(std::string_view(bytes, field4len(field)));
}

bool memoText(FIELD4* field, std::string& text) {
  const char* memo = field4memoPtr(field);
  text = memo == nullptr ? std::string() : trimmed(memo);
  return memo != nullptr;
}

int64_t fieldInt64(FIELD4* field) {
  const char* bytes = field4ptr(field);
  if (bytes == nullptr) return 0;
  return convert4textToInt64(bytes, static_cast<int32_t>(field4len(field)));
}

int32_t assignText(FIELD4* field, const std::string& text) {
  return field4assignN(field, text.data(), static_cast<uint32_t>(text.size()));
}

int32_t assignMemo(FIELD4* field, const std::string& text) {
  return field4memoAssignN(field, text.data(), static_cast<uint32_t>(text.size()));
}

int32_t assignInt64(FIELD4* field, int64_t value) {
  char* target = field4assignPtr(field);
  if (target == nullptr) return e4parm;
  const uint32_t length = field4len(field);
  // std::to_chars is exact and independent of the locale by its contract.
  char digits[24];
  const std::to_chars_result made = std::to_chars(digits, digits + sizeof digits, value);
  const auto n = static_cast<uint32_t>(made.ptr - digits);
  if (n > length) {
    std::memset(target, '*', length);
    return e4overflow;
  }
  std::memset(target, ' ', length - n);
  std::memcpy(target + (length - n), digits, n);
  return 0;
}

int64_t saturatingAdd(int64_t a, int64_t b) {
  int64_t sum = 0;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? INT64_MAX : INT64_MIN;
}

}  // namespace catalog
