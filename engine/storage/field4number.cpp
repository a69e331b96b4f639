// Field values as numbers: doubles, longs and ints, read and assigned by
// the field's type letter.
#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/storage/convert4.h"
#include "engine/storage/currency4.h"
#include "engine/storage/date4.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4internal.h"
#include "engine/storage/field4value.h"

using namespace field4detail;

namespace {

constexpr int32_t kLocAssignDouble = 90017;
constexpr int32_t kLocDouble = 90018;
constexpr int32_t kLocAssignInt = 90027;
constexpr int32_t kLocInt = 90028;
constexpr int32_t kLocAssignLong = 90029;
constexpr int32_t kLocLong = 90030;

constexpr uint32_t kDateSize = 8;

// The type letters each operation refuses.
constexpr const char* kDoubleRefuses = "0LT";
constexpr const char* kLongRefuses = "0LT";
constexpr const char* kIntRefuses = "0DGLMTX";
constexpr const char* kAssignDoubleRefuses = "012346LOPQRTW";
constexpr const char* kAssignLongRefuses = "0LT";
constexpr const char* kAssignIntRefuses = "0DGLMTX";

bool among(const char* letters, int16_t type) {
  return type > 0 && type < 256 && std::strchr(letters, type) != nullptr;
}

// ---- Reading stored values. Each binary reader is given a field whose
// length has been checked against the value's size.

int32_t loadInt32(const FIELD4* field) {
  return static_cast<int32_t>(endian4::readLe32(rawBytes(field)));
}
int16_t loadInt16(const FIELD4* field) {
  return static_cast<int16_t>(endian4::readLe16(rawBytes(field)));
}
uint16_t loadUint16(const FIELD4* field) { return endian4::readLe16(rawBytes(field)); }
double loadDouble(const FIELD4* field) {
  return std::bit_cast<double>(endian4::readLe(rawBytes(field), 8));
}

// An M, G or X field of length 4 holds its block number as a binary
// integer; of any other length, as text.
bool isBinaryMemo(const FIELD4* field) {
  return (field->type == 'M' || field->type == 'G' || field->type == 'X') && field->length == 4;
}

// The day number of a D field's date text. A field shorter than the date
// text reads as if blank-padded.
int32_t loadDay(const FIELD4* field) {
  char text[kDateSize];
  std::memset(text, ' ', kDateSize);
  std::memcpy(text, bytes(field), std::min<uint32_t>(field->length, kDateSize));
  return date4long(text);
}

// Writes the text of a Y field's value with `decimals` places and returns
// its length. Numbers are read back from this text so that they round
// exactly as the value's decimal form does.
int32_t currencyText(const FIELD4* field, int32_t decimals, char (&text)[currency4textMax + 1]) {
  int32_t length = 0;
  currency4toText(text, sizeof text, currency4load(rawBytes(field)), decimals, &length);
  return length;
}

// ---- Storing values. Each writer is given a valid field that may be
// written, and finishes the write when it changed the record.

void storeInt32(FIELD4* field, int32_t value) {
  endian4::writeLe32(rawBytes(field), static_cast<uint32_t>(value));
  finishWrite(field);
}

void storeInt16(FIELD4* field, int32_t value) {
  endian4::writeLe16(rawBytes(field), static_cast<uint16_t>(value));
  finishWrite(field);
}

void storeDay(FIELD4* field, int32_t day) {
  char text[kDateSize];
  date4assign(text, day, 0);
  field4blankBytes(field, bytes(field));
  std::memcpy(bytes(field), text, std::min<uint32_t>(field->length, kDateSize));
  finishWrite(field);
}

// Right-justified number text; the '*' of an overflow stay in the record.
int32_t storeDoubleText(FIELD4* field, double value) {
  const int32_t rc = convert4doubleToText(value, bytes(field), field->length, field->decimals);
  finishWrite(field);
  return rc;
}

int32_t storeLongText(FIELD4* field, int32_t value) {
  const int32_t rc = convert4longToText(value, bytes(field), field->length);
  finishWrite(field);
  return rc;
}

// A double as currency: formatted with four decimals and read back as
// currency text, so the stored value is the double's decimal rounding.
int32_t storeCurrency(FIELD4* field, double value) {
  char text[currency4textMax];
  CURRENCY4 currency;
  if (convert4doubleToText(value, text, sizeof text, currency4decimals) < 0 ||
      currency4fromText(&currency, text, sizeof text) < 0)
    return e4overflow;
  currency4store(rawBytes(field), currency);
  finishWrite(field);
  return 0;
}

int32_t storeDouble(FIELD4* field, double value) {
  if (among(kAssignDoubleRefuses, field->type)) return refuseType(field);
  switch (field->type) {
    case 'B':
      if (!binaryFits(field, 8)) return e4parm;
      endian4::writeLe(rawBytes(field), std::bit_cast<uint64_t>(value), 8);
      finishWrite(field);
      return 0;
    case 'D':
      storeDay(field, convert4truncate<int32_t>(value));
      return 0;
    case 'I':
      if (!binaryFits(field, 4)) return e4parm;
      storeInt32(field, convert4truncate<int32_t>(value));
      return 0;
    case 'Y':
      if (!binaryFits(field, currency4size)) return e4parm;
      return storeCurrency(field, value);
    default:
      if (isBinaryMemo(field)) {
        storeInt32(field, convert4truncate<int32_t>(value));
        return 0;
      }
      return storeDoubleText(field, value);
  }
}

int32_t storeInt(FIELD4* field, int32_t value) {
  if (among(kAssignIntRefuses, field->type)) return refuseType(field);
  switch (field->type) {
    case 'B':
    case 'Y':
      return storeDouble(field, value);
    case 'I':
    case 'P':
      if (!binaryFits(field, 4)) return e4parm;
      storeInt32(field, value);
      return 0;
    case 'Q':
    case 'R':
      if (!binaryFits(field, 2)) return e4parm;
      storeInt16(field, value);
      return 0;
    default:
      return field->decimals > 0 ? storeDouble(field, value) : storeLongText(field, value);
  }
}

int32_t storeLong(FIELD4* field, int32_t value) {
  if (among(kAssignLongRefuses, field->type)) return refuseType(field);
  switch (field->type) {
    case 'B':
    case 'Y':
      return storeDouble(field, value);
    case 'D':
      storeDay(field, value);
      return 0;
    case 'I':
    case 'P':
    case 'Q':
    case 'R':
      return storeInt(field, value);
    case 'G':
    case 'M':
    case 'X':
      if (!isBinaryMemo(field)) return storeLongText(field, value);
      storeInt32(field, value);
      return 0;
    default:
      return field->decimals > 0 ? storeDouble(field, value) : storeLongText(field, value);
  }
}

}  // namespace

double field4double(const FIELD4* field) {
  if (!valid(field, kLocDouble)) return 0.0;
  if (among(kDoubleRefuses, field->type)) {
    refuseType(field);
    return 0.0;
  }
  switch (field->type) {
    case 'B':
      return binaryFits(field, 8) ? loadDouble(field) : 0.0;
    case 'D':
      return loadDay(field);
    case 'I':
    case 'P':
      return binaryFits(field, 4) ? loadInt32(field) : 0.0;
    case 'Q':
      return binaryFits(field, 2) ? loadInt16(field) : 0.0;
    case 'R':
      return binaryFits(field, 2) ? loadUint16(field) : 0.0;
    case 'Y': {
      if (!binaryFits(field, currency4size)) return 0.0;
      char text[currency4textMax + 1];
      return convert4textToDouble(text, currencyText(field, currency4decimals, text));
    }
    default:
      if (isBinaryMemo(field)) return loadInt32(field);
      return convert4textToDouble(bytes(field), field->length);
  }
}

int32_t field4long(const FIELD4* field) {
  if (!valid(field, kLocLong)) return 0;
  if (among(kLongRefuses, field->type)) {
    refuseType(field);
    return 0;
  }
  switch (field->type) {
    case 'B':
      return binaryFits(field, 8) ? convert4truncate<int32_t>(loadDouble(field)) : 0;
    case 'D':
      return loadDay(field);
    case 'I':
    case 'P':
      return binaryFits(field, 4) ? loadInt32(field) : 0;
    case 'Q':
      return binaryFits(field, 2) ? loadInt16(field) : 0;
    case 'R':
      return binaryFits(field, 2) ? loadUint16(field) : 0;
    case 'Y': {
      if (!binaryFits(field, currency4size)) return 0;
      char text[currency4textMax + 1];
      return convert4textToLong(text, currencyText(field, 0, text));
    }
    default:
      if (isBinaryMemo(field)) return loadInt32(field);
      return convert4textToLong(bytes(field), field->length);
  }
}

int32_t field4int(const FIELD4* field) {
  if (!valid(field, kLocInt)) return 0;
  if (among(kIntRefuses, field->type)) {
    refuseType(field);
    return 0;
  }
  switch (field->type) {
    case 'B':
      return binaryFits(field, 8) ? convert4truncate<int32_t>(loadDouble(field)) : 0;
    case 'I':
    case 'P':
      return binaryFits(field, 4) ? loadInt32(field) : 0;
    case 'Q':
    case 'R':
      return binaryFits(field, 2) ? loadInt16(field) : 0;
    case 'Y': {
      if (!binaryFits(field, currency4size)) return 0;
      char text[currency4textMax + 1];
      return convert4textToInt(text, currencyText(field, 0, text));
    }
    default:
      return convert4textToInt(bytes(field), field->length);
  }
}

int32_t field4assignDouble(FIELD4* field, double value) {
  if (!valid(field, kLocAssignDouble)) return invalidResult(field);
  if (const int32_t rc = beginWrite(field, kLocAssignDouble); rc != 0) return rc;
  return storeDouble(field, value);
}

int32_t field4assignLong(FIELD4* field, int32_t value) {
  if (!valid(field, kLocAssignLong)) return invalidResult(field);
  if (const int32_t rc = beginWrite(field, kLocAssignLong); rc != 0) return rc;
  return storeLong(field, value);
}

int32_t field4assignInt(FIELD4* field, int32_t value) {
  if (!valid(field, kLocAssignInt)) return invalidResult(field);
  if (const int32_t rc = beginWrite(field, kLocAssignInt); rc != 0) return rc;
  return storeInt(field, value);
}
