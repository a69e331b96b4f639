// Field references: an optional alias, the field's lookup and the row
// that reads its type.
//
//   FIELD          a field of the handle being parsed for
//   ALIAS->FIELD   a field of the open handle ALIAS; an unknown alias fails
//   ALIAS.FIELD    the same when ALIAS is open; otherwise the name is a
//                  field and the '.' stays for what follows (".AND.")
#include <cstring>
#include <string>

#include "engine/index/expr4parser.h"
#include "engine/index/expr4table.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4.h"

namespace expr4 {

namespace {

constexpr int32_t kFieldNameMax = 10;

// The row that pushes a field of each letter; other letters have none.
constexpr struct {
  char letter;
  int32_t row;
} kFieldRows[] = {
    {'C', expr4rowFieldText},
    {'W', expr4rowFieldWide},
    {'O', expr4rowFieldWideTail},
    {'L', expr4rowFieldLogical},
    {'D', expr4rowFieldDate},
    {'N', expr4rowFieldNumber},
    {'G', expr4rowMemo},
    {'M', expr4rowMemo},
    {'I', expr4rowFieldInt},
    {'P', expr4rowFieldUnsigned},
    {'Q', expr4rowFieldShort},
    {'R', expr4rowFieldUnsignedShort},
    {'T', expr4rowFieldDateTime},
    {'Y', expr4rowFieldCurrency},
    {'B', expr4rowFieldDouble},
    {'1', expr4rowFieldInt64},
    {'2', expr4rowFieldDateParts},
    {'3', expr4rowFieldTimeParts},
    {'4', expr4rowFieldDateTimeParts},
};

int32_t fieldRow(int letter) {
  for (const auto& entry : kFieldRows) {
    if (entry.letter == letter) return entry.row;
  }
  return -1;
}

// The field named (ASCII case folded), without raising anything.
FIELD4* findField(DATA4* data, const std::string& name) {
  char wanted[kFieldNameMax + 1] = {};
  for (size_t i = 0; i < name.size(); i++) {
    const char c = name[i];
    wanted[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  for (FIELD4& field : data->fields) {
    if (std::strcmp(field.name, wanted) == 0) return &field;
  }
  return nullptr;
}

}  // namespace

int32_t Parser::parseField(const char* name, int32_t length) {
  DATA4* target = data_;
  bool aliased = false;
  if (scan_.peek() == '-' && scan_.peek(1) == '>') {
    target = code4data(c_, std::string(name, length).c_str(), nullptr, 0);
    if (target == nullptr) return fail(e4dataName, kLocValue);
    scan_.advance(2);
    aliased = true;
  } else if (scan_.peek() == '.') {
    if (DATA4* found = code4data(c_, std::string(name, length).c_str(), nullptr, 0)) {
      target = found;
      scan_.advance(1);
      aliased = true;
    }
  }
  if (aliased) {
    scan_.skipBlanks();
    name = scan_.here();
    length = scan_.nameLength();
    scan_.advance(length);
  }
  if (tag_ != nullptr && target != data_) return fail(e4tagExpr, kLocOtherData);
  if (length > kFieldNameMax) return fail(e4unrecValue, kLocValue);

  const std::string fieldName(name, length);
  FIELD4* field = findField(target, fieldName);
  if (field == nullptr) {
    // The lookup raises for itself when unknown names are to be reported.
    if (c_->errExpr != 0) {
      if (c_->errFieldName != 0) {
        data4field(target, fieldName.c_str());
      } else {
        fail(e4fieldName, kLocValue, fieldName.c_str(), source_);
      }
    }
    return e4fieldName;
  }
  const int32_t row = fieldRow(field4typeExpr(field));
  if (row < 0) return fail(e4typeSub, kLocFieldType, field->name, source_);

  EXPR4INFO& step = emit(row);
  step.fieldNumber = static_cast<uint16_t>(field - target->fields.data() + 1);
  step.field = field;
  step.sameData = target == data_ ? 1 : 0;
  step.ref.record = tag_ != nullptr ? nullptr : &target->record;  // a tag's is set at the end
  step.p1 = static_cast<int32_t>(field->offset);
  step.len = field->length;
  return 0;
}

}  // namespace expr4
