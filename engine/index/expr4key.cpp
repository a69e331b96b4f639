// Keys of expressions: the evaluated value in the byte form a tag sorts
// (key4.h for numbers, dates and the other binary types, collate4.h for
// text under a collation), with the null prefix of keys over nullable
// fields; and ASCEND and DESCEND, which turn a value into its key form
// inside an expression.
//
// A key in the expression's key buffer:
//   [prefix] value key [0x00]
// The prefix byte is present when the expression reads a nullable field:
// 0x80 when every such field holds a value; when one is null the whole key,
// prefix included, is zero bytes. The closing zero is not counted.
//
// The tag of a key decides its collation (by the name in its header, read
// with the data file's code page) and whether its text keys are wide (a W
// or O key expression).
#include <algorithm>
#include <cstring>
#include <mutex>

#include "engine/index/collate4.h"
#include "engine/index/expr4.h"
#include "engine/index/expr4steps.h"
#include "engine/index/expr4table.h"
#include "engine/index/key4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/convert4.h"
#include "engine/storage/currency4.h"
#include "engine/storage/data4.h"
#include "engine/storage/date4.h"
#include "engine/storage/datetime4.h"
#include "engine/storage/error4.h"
#include "engine/storage/memory4.h"

namespace {

constexpr int32_t kLocKey = 90101;
constexpr char kPresentPrefix = static_cast<char>(0x80);
// The widest key of a value that is not text: the seven date-time parts.
constexpr int32_t kWidestValueKey = key4dateTimePartsLength;

struct KeyForm {
  int32_t collation = collate4machine;
  bool wide = false;
};

bool isText(int32_t type) {
  return type == expr4typeText || type == expr4typeWide || type == expr4typeWideTail;
}

bool isCollated(int32_t collation) { return collation != 0 && collation != collate4machine; }

int32_t formOf(const EXPR4* expr, const TAG4FILE* tag, KeyForm& form) {
  form.wide = expr->type == expr4typeWide || expr->type == expr4typeWideTail;
  if (tag == nullptr) return 0;
  const int32_t number =
      collate4numberFromName(expr->codeBase, tag->header.collation, expr->dataFile->codePage);
  if (number < 0) return number;
  form.collation = number;
  return 0;
}

const unsigned char* bytesOf(const char* p) { return reinterpret_cast<const unsigned char*>(p); }

// Text padded with zero bytes (TRIM and the like) has them turned into
// blanks for its key, in the last step's place in the work area.
char* blankedInWork(EXPR4* expr, char* value, int32_t length) {
  char* place = expr->work + expr->steps[expr->stepCount - 1].resultPos;
  if (value != place) std::memmove(place, value, static_cast<size_t>(length));
  for (int32_t i = length - 1; i >= 0 && place[i] == '\0'; i--) place[i] = ' ';
  return place;
}

int32_t textKey(EXPR4* expr, char* value, int32_t length, const KeyForm& form, char* key) {
  if (isCollated(form.collation)) {
    if (const int32_t rc = collate4require(expr->codeBase, form.collation); rc < 0) return rc;
    if (expr->varLength != 0) value = blankedInWork(expr, value, length);
    int32_t keyLength = 0;
    const int32_t rc =
        collate4textKey(collate4get(form.collation), form.wide, key, value, length, &keyLength);
    return rc < 0 ? rc : keyLength;
  }
  if (form.wide) {
    key4fromWide(key, value, length);
  } else {
    std::memcpy(key, value, static_cast<size_t>(length));
  }
  if (expr->varLength != 0) {
    for (int32_t i = length - 1; i >= 0 && key[i] == '\0'; i--) key[i] = ' ';
  }
  return length;
}

// The key of a value of any type but text; the value is laid out as the
// evaluator keeps it (expr4steps.h).
int32_t valueKey(int32_t type, const char* value, int32_t length, char* key) {
  const unsigned char* in = bytesOf(value);
  switch (type) {
    case expr4typeInt64:
      key4fromInt64(key, static_cast<int64_t>(endian4::readLe(in, 8)));
      return key4int64Length;
    case expr4typeDateParts:
    case expr4typeTimeParts: {
      const uint16_t parts[3] = {endian4::readLe16(in), endian4::readLe16(in + 2),
                                 endian4::readLe16(in + 4)};
      key4fromDateParts(key, parts);
      return key4partsLength;
    }
    case expr4typeDateTimeParts: {
      uint16_t parts[6];
      for (int i = 0; i < 6; i++) parts[i] = endian4::readLe16(in + 2 * i);
      key4fromDateTimeParts(key, parts, endian4::readLe32(in + 12));
      return key4dateTimePartsLength;
    }
    case expr4typeDateText:
      key4fromDouble(key, date4long(value));
      return key4doubleLength;
    case expr4typeInt:
    case expr4typeShort:
      key4fromInt(key, expr4::int32At(value));
      return key4intLength;
    case expr4typeUnsigned:
    case expr4typeUnsignedShort:
      key4fromUnsigned(key, static_cast<uint32_t>(expr4::int32At(value)));
      return key4intLength;
    case expr4typeLogical:
      key4fromLogical(key, expr4::int32At(value));
      return key4logicalLength;
    case expr4typeNumberText:
      key4fromDouble(key, convert4textToDouble(value, length));
      return key4doubleLength;
    case expr4typeDateTime: {
      const DATETIME4 when = datetime4load(in);
      key4fromDateTime(key, when.day, when.ms);
      return key4doubleLength;
    }
    case expr4typeCurrency:
      key4fromCurrency(key, currency4load(in).units);
      return key4int64Length;
    case expr4typeDate:
    case expr4typeNumber:
      key4fromDouble(key, expr4::numberAt(value));
      return key4doubleLength;
    default:
      std::memcpy(key, value, static_cast<size_t>(length));
      return length;
  }
}

// The key length of a type whose keys have a fixed width, else -1.
int32_t fixedKeyLength(int32_t type) {
  switch (type) {
    case expr4typeLogical:
      return key4logicalLength;
    case expr4typeInt:
    case expr4typeUnsigned:
    case expr4typeShort:
    case expr4typeUnsignedShort:
      return key4intLength;
    case expr4typeDateText:
    case expr4typeNumberText:
    case expr4typeNumber:
    case expr4typeDateTime:
    case expr4typeCurrency:
      return key4doubleLength;
    default:
      return -1;
  }
}

}  // namespace

// ASCEND and DESCEND: the operand in its sort-key form (expr4keyConvert,
// key4.h), for DESCEND then complemented byte by byte so that the order
// turns round. The operand is first brought to the step's place at the
// width it has in the work area (Q and R already widened to 32 bits by
// their field step), so the conversion never reads past the value.
namespace expr4 {

namespace {

// The operand as the integer expr4keyConvert takes for its type.
int64_t integerOf(int32_t type, const char* value) {
  switch (type) {
    case expr4typeInt64:
      return static_cast<int64_t>(
          endian4::readLe(reinterpret_cast<const unsigned char*>(value), 8));
    case expr4typeInt:
    case expr4typeShort:
      return int32At(value);
    case expr4typeUnsigned:
    case expr4typeUnsignedShort:
      return static_cast<uint32_t>(int32At(value));
    case expr4typeDate:
      return convert4truncate<int32_t>(numberAt(value));
    default:
      return 0;
  }
}

char* ascend(Expr4Eval& e, const EXPR4INFO& step) {
  const int32_t type = expr4functions[step.row].parmTypes[0];
  char* out = settle(e, step, operand(e, step, 0), operandStep(step, 0).len);
  expr4keyConvert(type, out, operandStep(step, 0).len, integerOf(type, out));
  return out;
}

}  // namespace

void stepAscend(Expr4Eval& e, const EXPR4INFO& step) { produce(e, step, ascend(e, step)); }

void stepDescend(Expr4Eval& e, const EXPR4INFO& step) {
  char* out = ascend(e, step);
  key4descend(out, out, step.len);
  produce(e, step, out);
}

}  // namespace expr4

int32_t expr4keyRoom(int32_t resultLen) { return 2 * std::max(resultLen, kWidestValueKey) + 2; }

int32_t expr4key(EXPR4* expr, char** key, TAG4FILE* tag) {
  if (expr == nullptr) return error4(nullptr, e4parmNull, kLocKey);
  CODE4* c = expr->codeBase;
  if (key == nullptr) return error4(c, e4parmNull, kLocKey);
  if (error4code(c) < 0) return -1;

  std::lock_guard guard(memory4evaluationLock());
  char* value = nullptr;
  const int32_t length = expr4::evaluateLocked(expr, &value);
  if (length < 0) return length;
  KeyForm form;
  if (const int32_t rc = formOf(expr, tag, form); rc < 0) return rc;
  const int32_t nullState = expr4::keyNullState(expr);
  const int32_t prefix = nullState >= 0 ? 1 : 0;
  char* out = expr->key;
  const int32_t valueLength = isText(expr->type)
                                  ? textKey(expr, value, length, form, out + prefix)
                                  : valueKey(expr->type, value, length, out + prefix);
  if (valueLength < 0) return valueLength;
  if (nullState == 1) {
    std::memset(out, 0, static_cast<size_t>(valueLength) + 1);
  } else if (prefix == 1) {
    out[0] = kPresentPrefix;
  }
  const int32_t keyLength = valueLength + prefix;
  out[keyLength] = '\0';
  *key = out;
  return keyLength;
}

int32_t expr4keyLen(EXPR4* expr) {
  if (expr == nullptr) return error4(nullptr, e4parmNull, kLocKey);
  const int32_t prefix = expr4nullLow(expr, 0);
  const int32_t fixed = fixedKeyLength(expr->type);
  if (fixed >= 0) return prefix + fixed;
  int32_t length = expr->len;
  KeyForm form;
  if (isText(expr->type) && expr->tag != nullptr) {
    if (const int32_t rc = formOf(expr, expr->tag, form); rc < 0) return rc;
    if (isCollated(form.collation)) {
      if (const int32_t rc = collate4require(expr->codeBase, form.collation); rc < 0) return rc;
      length += length * collate4get(form.collation)->factor;
    }
  }
  return prefix + length;
}
