#include "engine/storage/field4.h"

#include <cstring>

#include "engine/storage/data4.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocBlank = 90021;
constexpr int32_t kLocDecimals = 90023;
constexpr int32_t kLocLen = 90024;
constexpr int32_t kLocType = 90026;
constexpr int32_t kLocPtr = 90045;

bool checked(const FIELD4* field, int32_t location) {
  if (field == nullptr) {
    error4(nullptr, e4parmNull, location);
    return false;
  }
  return structure4check(field, structure4field, location) == 0;
}

}  // namespace

char* field4ptr(const FIELD4* field) {
  if (!checked(field, kLocPtr)) return nullptr;
  return field->data->record + field->offset;
}

uint32_t field4len(const FIELD4* field) { return checked(field, kLocLen) ? field->length : 0; }

int32_t field4decimals(const FIELD4* field) {
  return checked(field, kLocDecimals) ? field->decimals : -1;
}

int field4type(const FIELD4* field) {
  if (!checked(field, kLocType)) return 0;
  if (field->type == 'C' && field->binary == 1) return 'Z';
  if (field->type == 'M' && field->binary == 1) return 'X';
  return field->type;
}

const char* field4name(const FIELD4* field) { return field == nullptr ? nullptr : field->name; }

void field4blankBytes(const FIELD4* field, char* bytes) {
  if (field->type == '2') {
    // Three 16-bit values: the day before the first day of the calendar
    // these fields count from.
    auto* out = reinterpret_cast<unsigned char*>(bytes);
    std::memset(out, 0, field->length);
    if (field->length >= 6) {
      endian4::writeLe16(out, 1899);
      endian4::writeLe16(out + 2, 12);
      endian4::writeLe16(out + 4, 30);
    }
    return;
  }
  std::memset(bytes, field->binary == 0 ? ' ' : 0, field->length);
}

int32_t field4blank(FIELD4* field) {
  if (!checked(field, kLocBlank)) return e4parm;
  field4blankBytes(field, field->data->record + field->offset);
  field->data->recordChanged = 1;
  return 0;
}
