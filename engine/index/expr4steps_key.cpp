// ASCEND and DESCEND: a value turned into its sort-key form inside an
// expression (expr4keyConvert, key4.h), for DESCEND then complemented
// byte by byte so that the order turns round.
//
// The operand is first brought to the step's place at the width it has in
// the work area (Q and R already widened to 32 bits by their field step),
// so the conversion never reads past the value.
#include "engine/index/expr4steps.h"
#include "engine/index/expr4table.h"
#include "engine/index/key4.h"
#include "engine/storage/convert4.h"

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
