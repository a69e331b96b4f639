// Currency (Y) and date-time (T) fields as text.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "engine/storage/currency4.h"
#include "engine/storage/date4.h"
#include "engine/storage/datetime4.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4internal.h"
#include "engine/storage/field4value.h"

using namespace field4detail;

namespace {

constexpr int32_t kLocAssignCurrency = 90054;
constexpr int32_t kLocCurrency = 90055;
constexpr int32_t kLocDateTime = 90056;

// "CCYYMMDD" then "HH:MM:SS".
constexpr uint32_t kDateTimeText = 16;

}  // namespace

const char* field4currency(const FIELD4* field, int32_t decimals) {
  if (!valid(field, kLocCurrency)) return nullptr;
  if (decimals < 0 || decimals > currency4decimals) {
    error4(nullptr, e4parm, kLocCurrency);
    return nullptr;
  }
  if (field->type != 'Y') {
    refuseType(field);
    return nullptr;
  }
  if (!binaryFits(field, currency4size)) return nullptr;
  // The longest text and its terminator, written explicitly: the text
  // itself may fill every byte given to it.
  constexpr uint32_t kSize = currency4textMax + 1;
  char* text = workBuffer(field, kSize, kLocCurrency);
  if (text == nullptr) return nullptr;
  currency4toText(text, currency4textMax, currency4load(rawBytes(field)), decimals, nullptr);
  text[currency4textMax] = '\0';
  return text;
}

int32_t field4assignCurrency(FIELD4* field, const char* text) {
  if (!valid(field, kLocAssignCurrency)) return invalidResult(field);
  if (text == nullptr) return error4(nullptr, e4parmNull, kLocAssignCurrency);
  if (const int32_t rc = beginWrite(field, kLocAssignCurrency); rc != 0) return rc;
  if (field->type != 'Y') return refuseType(field);
  if (!binaryFits(field, currency4size)) return e4parm;
  CURRENCY4 value;
  const auto length = static_cast<int32_t>(std::min<size_t>(std::strlen(text), INT32_MAX));
  if (currency4fromText(&value, text, length) < 0) return -1;
  currency4store(rawBytes(field), value);
  finishWrite(field);
  return 0;
}

const char* field4dateTime(const FIELD4* field) {
  if (!valid(field, kLocDateTime)) return nullptr;
  if (field->type != 'T') {
    refuseType(field);
    return nullptr;
  }
  if (!binaryFits(field, datetime4size)) return nullptr;
  char* text = workBuffer(field, kDateTimeText + 1, kLocDateTime);
  if (text == nullptr) return nullptr;
  const DATETIME4 value = datetime4load(rawBytes(field));
  date4assign(text, value.day, 0);
  time4msToText(text + 8, value.ms);
  text[kDateTimeText] = '\0';
  return text;
}
