#include "engine/storage/field4.h"

#include <cstring>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4internal.h"
#include "engine/storage/lock4.h"
#include "engine/storage/memory4.h"

namespace {

constexpr int32_t kLocAssignNotNull = 0;  // this operation has no location of its own
constexpr int32_t kLocBlank = 90021;
constexpr int32_t kLocAssignPtr = 90020;
constexpr int32_t kLocDecimals = 90023;
constexpr int32_t kLocLen = 90024;
constexpr int32_t kLocType = 90026;
constexpr int32_t kLocTypeExpr = 0;  // no location of its own
constexpr int32_t kLocPtr = 90045;
constexpr int32_t kLocNumber = 90051;
constexpr int32_t kLocNull = 90053;

// The byte of the null flags that holds the field's bit, or null when the
// field is not nullable. Open checks that the null flags have a bit for
// every nullable field; the bound is checked again here so that a field
// table built any other way can never reach past the null flags.
unsigned char* nullFlagByte(const FIELD4* field) {
  const FIELD4* flags = field->data->nullFlags;
  if (!field->nullable || flags == nullptr || field->nullByte >= flags->length) return nullptr;
  return field4detail::rawBytes(flags) + field->nullByte;
}

}  // namespace

namespace field4detail {

bool valid(const FIELD4* field, int32_t location) {
  if (field == nullptr) {
    error4(nullptr, e4parmNull, location);
    return false;
  }
  return structure4check(field, structure4field, location) == 0;
}

int32_t invalidResult(const FIELD4* field) { return field == nullptr ? e4parmNull : e4parm; }

CODE4* codeBase(const FIELD4* field) { return field->data->codeBase; }

int32_t beginWrite(FIELD4* field, int32_t location) {
  DATA4* d = field->data;
  CODE4* c = d->codeBase;
  if (error4code(c) < 0) return -1;
  if (c->lockEnforce && d->recNum >= 1 && data4lockTestRecordHeld(d, d->recNum) != 1)
    return error4(c, e4lock, location);
  return 0;
}

void finishWrite(FIELD4* field) {
  if (unsigned char* flags = nullFlagByte(field))
    *flags &= static_cast<unsigned char>(~field->nullMask);
  field->data->recordChanged = 1;
}

int32_t refuseType(const FIELD4* field) { return error4(codeBase(field), e4parm, kLocTypeRefused); }

char* bytes(const FIELD4* field) { return field->data->record + field->offset; }

unsigned char* rawBytes(const FIELD4* field) {
  return reinterpret_cast<unsigned char*>(bytes(field));
}

bool binaryFits(const FIELD4* field, uint32_t size) {
  if (field->length >= size) return true;
  refuseType(field);
  return false;
}

char* workBuffer(const FIELD4* field, uint32_t size, int32_t location) {
  CODE4* c = codeBase(field);
  if (memory4grow(c, &c->fieldBuffer, &c->fieldBufferLen, size) < 0) {
    error4(c, e4memory, location);
    return nullptr;
  }
  return c->fieldBuffer;
}

}  // namespace field4detail

using namespace field4detail;

char* field4ptr(const FIELD4* field) { return valid(field, kLocPtr) ? bytes(field) : nullptr; }

char* field4assignPtr(FIELD4* field) {
  if (!valid(field, kLocAssignPtr) || beginWrite(field, kLocAssignPtr) != 0) return nullptr;
  finishWrite(field);
  return bytes(field);
}

uint32_t field4len(const FIELD4* field) { return valid(field, kLocLen) ? field->length : 0; }

int32_t field4decimals(const FIELD4* field) {
  return valid(field, kLocDecimals) ? field->decimals : -1;
}

const char* field4name(const FIELD4* field) { return field == nullptr ? nullptr : field->name; }

namespace {

// The letter callers see for a stored letter and binary flag.
int shownType(const FIELD4* field) {
  if (field->type == 'C' && field->binary == 1) return 'Z';
  if (field->type == 'M' && field->binary == 1) return 'X';
  return field->type;
}

}  // namespace

int field4type(const FIELD4* field) { return valid(field, kLocType) ? shownType(field) : 0; }

int field4typeExpr(const FIELD4* field) {
  if (!valid(field, kLocTypeExpr)) return 0;
  return field->type == 'F' ? 'N' : shownType(field);
}

int32_t field4number(const FIELD4* field) {
  if (!valid(field, kLocNumber)) return invalidResult(field);
  return static_cast<int32_t>(field - field->data->fields.data()) + 1;
}

int32_t field4null(const FIELD4* field) {
  if (!valid(field, kLocNull)) return invalidResult(field);
  const unsigned char* flags = nullFlagByte(field);
  return flags != nullptr && (*flags & field->nullMask) != 0 ? 1 : 0;
}

int32_t field4assignNotNull(FIELD4* field) {
  if (!valid(field, kLocAssignNotNull)) return invalidResult(field);
  if (field4null(field) != 1) return 0;
  if (const int32_t rc = beginWrite(field, kLocAssignNotNull); rc != 0) return rc;
  finishWrite(field);
  return 0;
}

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
  if (!valid(field, kLocBlank)) return invalidResult(field);
  if (const int32_t rc = beginWrite(field, kLocBlank); rc != 0) return rc;
  field4blankBytes(field, bytes(field));
  finishWrite(field);
  return 0;
}
