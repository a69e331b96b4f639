// Field values as text: the raw bytes, logicals, and text assignment.
#include <cstring>

#include "engine/storage/error4.h"
#include "engine/storage/field4internal.h"
#include "engine/storage/field4value.h"

using namespace field4detail;

namespace {

constexpr int32_t kLocAssign = 90046;
constexpr int32_t kLocAssignN = 90047;
constexpr int32_t kLocAssignRight = 0;  // no location of its own
constexpr int32_t kLocStr = 90049;
constexpr int32_t kLocTrue = 90050;

enum class Align { left, right };

// Copies `n` bytes into the field: blanked first and aligned when they
// fit, else the first length bytes. The field is valid and may be written.
void place(FIELD4* field, const char* source, uint32_t n, Align align) {
  char* out = bytes(field);
  const uint32_t length = field->length;
  if (n > length) {
    std::memcpy(out, source, length);
  } else {
    field4blankBytes(field, out);
    if (n > 0) std::memcpy(align == Align::left ? out : out + (length - n), source, n);
  }
  finishWrite(field);
}

int32_t assignAligned(FIELD4* field, const char* source, uint32_t n, Align align,
                      int32_t location) {
  if (!valid(field, location)) return invalidResult(field);
  if (source == nullptr && n > 0) return error4(nullptr, e4parmNull, location);
  if (const int32_t rc = beginWrite(field, location); rc != 0) return rc;
  place(field, source, n, align);
  return 0;
}

}  // namespace

const char* field4str(const FIELD4* field) {
  if (!valid(field, kLocStr)) return nullptr;
  const uint32_t length = field->length;
  char* text = workBuffer(field, length + 2, kLocStr);
  if (text == nullptr) return nullptr;
  std::memcpy(text, bytes(field), length);
  text[length] = '\0';
  text[length + 1] = '\0';
  return text;
}

int32_t field4true(const FIELD4* field) {
  if (!valid(field, kLocTrue)) return invalidResult(field);
  if (field->type != 'L') refuseType(field);
  switch (bytes(field)[0]) {
    case 'T':
    case 't':
    case 'Y':
    case 'y':
      return 1;
    default:
      return 0;
  }
}

int32_t field4assign(FIELD4* field, const char* text) {
  if (!valid(field, kLocAssign)) return invalidResult(field);
  if (text == nullptr) return error4(nullptr, e4parmNull, kLocAssign);
  const auto n = static_cast<uint32_t>(std::strlen(text));
  const bool numeric = field->type == 'N' || field->type == 'F';
  return assignAligned(field, text, n, numeric ? Align::right : Align::left, kLocAssign);
}

int32_t field4assignN(FIELD4* field, const char* source, uint32_t n) {
  return assignAligned(field, source, n, Align::left, kLocAssignN);
}

int32_t field4assignRight(FIELD4* field, const char* source, uint32_t n) {
  return assignAligned(field, source, n, Align::right, kLocAssignRight);
}
