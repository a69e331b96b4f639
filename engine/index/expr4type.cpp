// The type pass: walks the steps in postfix order with a stack of the
// values they leave, chooses each step's row variant for the operand
// types, and fixes every step's length, parameters and place in the work
// area.
//
// Work-area layout: a value with operands is written where its first
// operand lies; a value without operands takes the next free position.
// The next free position follows the last value pushed, 8 bytes on at the
// least for N, D and I values, which may be turned into doubles in place.
// So the operands of a step lie one after the other from its own position,
// and text joined by "+" is already in place when the step runs.
#include <algorithm>
#include <cstring>

#include "engine/index/expr4parser.h"
#include "engine/index/expr4table.h"
#include "engine/storage/code4.h"
#include "engine/storage/date4.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4.h"

namespace expr4 {

namespace {

// Values pending while the pass walks the steps; the evaluator's operand
// stack is sized for as many.
constexpr int32_t kPendingMax = 20;
// A memo field as text in a tag expression (one byte less when the field
// may be null, for the null prefix of the key).
constexpr int32_t kMemoKeyLength = 240;

struct Pending {
  int32_t type = 0;
  int64_t len = 0;
  int64_t pos = 0;
  int32_t entries = 0;
  int32_t step = 0;  // the step that produced the value
};

// The row that reads a field value of type `have` as the double `want`,
// or -1 when `have` does not turn into `want`.
int32_t doubleReading(int32_t have, char want) {
  if (want == 'd' && have == 'D') return expr4rowDateAsNumber;
  if (want != 'n') return -1;
  switch (have) {
    case 'N':
      return expr4rowNumberAsDouble;
    case 'I':
      return expr4rowIntAsDouble;
    case 'Y':
      return expr4rowCurrencyAsDouble;
    default:
      return -1;
  }
}

char wantedType(const EXPR4FUNCTION& f, int32_t operand) {
  return f.parmCount < 0 ? f.parmTypes[0] : f.parmTypes[operand];
}

bool accepts(const EXPR4FUNCTION& f, const Pending* operands, int32_t n) {
  if (f.parmCount >= 0 && f.parmCount != n) return false;
  for (int32_t k = 0; k < n; k++) {
    const char want = wantedType(f, k);
    if (operands[k].type != want && doubleReading(operands[k].type, want) < 0) return false;
  }
  return true;
}

// Rows that change their text operands in place: a plain field operand
// is copied into the work area first, so that the record stays as read.
bool changesOperands(int32_t row) {
  switch (row) {
    case expr4rowUpper:
    case expr4rowSubstr:
    case expr4rowTrim:
    case expr4rowLtrim:
    case expr4rowAlltrim:
    case expr4rowLeft:
    case expr4rowRight:
    case expr4rowPadl:
    case expr4rowPadr:
    case expr4rowConcat:
    case expr4rowConcatWide:
    case expr4rowConcatTrim:
      return true;
    default:
      return row >= expr4rowDescend && row < expr4rowEnd;
  }
}

bool oneOf(const char* letters, int32_t type) {
  return type > 0 && type < 128 && std::strchr(letters, type) != nullptr;
}

// Width of a value of a fixed-width type, or -1.
int64_t widthOf(int32_t type) {
  if (oneOf("1YDTdn", type)) return 8;
  if (oneOf("23", type)) return 6;
  if (oneOf("4", type)) return 16;
  if (oneOf("IPQRL", type)) return 4;
  return -1;
}

// Width of the key form ASCEND and DESCEND make of a value, or -1 for the
// value's own length.
int64_t keyWidthOf(int32_t type) {
  if (oneOf("L", type)) return 1;
  if (oneOf("PQRI", type)) return 4;
  if (oneOf("1Tdn", type)) return 8;
  if (oneOf("23", type)) return 6;
  if (oneOf("4", type)) return 16;
  return -1;
}

bool keepsDoubleRoom(int32_t type) { return oneOf("NDI", type); }

}  // namespace

// The step-by-step rules, with access to the parse frame.
class TypePass {
 public:
  explicit TypePass(Parser& p) : p_(p) {}

  int32_t run() {
    for (size_t i = 0; i < p_.steps_.size(); i++) {
      if (const int32_t rc = typeStep(static_cast<int32_t>(i)); rc < 0) return rc;
    }
    if (count_ != 1) return p_.fail(e4result, kLocTypes);
    p_.resultType_ = pending_[0].type;
    p_.resultLen_ = static_cast<int32_t>(pending_[0].len);
    return 0;
  }

 private:
  int32_t typeStep(int32_t index) {
    EXPR4INFO& step = p_.steps_[index];
    const EXPR4FUNCTION& named = expr4functions[step.row];
    if (named.parmCount >= 1 && step.parmCount != named.parmCount) {
      return p_.fail(e4numParms, kLocTypes);
    }
    const int32_t n = step.parmCount;
    if (n > count_) return p_.fail(e4result, kLocTypes);
    Pending* operands = pending_ + count_ - n;

    int32_t row = step.row;
    while (expr4functions[row].code == named.code && !accepts(expr4functions[row], operands, n)) {
      row++;
    }
    if (expr4functions[row].code != named.code) return p_.fail(e4typeSub, kLocTypes);
    for (int32_t k = 0; k < n; k++) {
      if (const int32_t rc = readAsDouble(operands[k], wantedType(expr4functions[row], k));
          rc < 0) {
        return rc;
      }
    }
    if (changesOperands(row)) {
      for (int32_t k = 0; k < n; k++) copyField(operands[k]);
    }
    if (row == expr4rowConcat && p_.varLength_) row = expr4rowConcatVary;
    step.row = row;

    const int32_t type = expr4functions[row].type;
    const int64_t len = resultLength(step, operands, n);
    const int64_t pos = n > 0 ? operands[0].pos : nextFree_;
    int32_t entries = 1;
    for (int32_t k = 0; k < n; k++) entries += operands[k].entries;
    if (const int32_t rc = reserve(pos + len); rc < 0) return rc;
    step.len = static_cast<int32_t>(len);
    step.resultPos = static_cast<int32_t>(pos);
    step.entryCount = entries;
    nextFree_ = pos + (keepsDoubleRoom(type) ? std::max<int64_t>(len, 8) : len);
    const int64_t key = (type == 'D' || type == 'N' || type == 'n') ? 10 : len + 2;
    p_.keyBufferNeed_ = static_cast<int32_t>(std::max<int64_t>(p_.keyBufferNeed_, key));

    count_ -= n;
    if (count_ == kPendingMax) return p_.fail(e4overflow, kLocTypes);
    pending_[count_++] = Pending{type, len, pos, entries, index};
    return 0;
  }

  // Widens the work area to `end` bytes, within its bound.
  int32_t reserve(int64_t end) {
    if (end > kWorkAreaMax) return p_.fail(e4memory, kLocParse);
    p_.workLen_ = std::max(p_.workLen_, end);
    return 0;
  }

  // A D, N, I or Y field wanted as a double is read as one; the double
  // takes 8 bytes at the value's position, which the work area must cover.
  int32_t readAsDouble(Pending& value, char want) {
    if (value.type == want) return 0;
    EXPR4INFO& producer = p_.steps_[value.step];
    producer.row = doubleReading(value.type, want);
    producer.len = 8;
    value.type = want;
    value.len = 8;
    return reserve(value.pos + 8);
  }

  void copyField(const Pending& value) {
    EXPR4INFO& producer = p_.steps_[value.step];
    if (producer.row == expr4rowFieldText) producer.row = expr4rowCopyText;
    if (producer.row == expr4rowFieldWide) producer.row = expr4rowCopyWide;
  }

  // Appends the settings object's date picture with its zero to the
  // constants; its length through `length`.
  int32_t appendPicture(int64_t& length) {
    const char* picture = p_.c_->datePicture;
    const auto n = static_cast<int32_t>(strnlen(picture, date4pictureSize - 1));
    const int32_t offset = p_.appendConstant(picture, n);
    p_.constants_.push_back('\0');
    length = n;
    return offset;
  }

  int64_t memoLength(const EXPR4INFO& step) const {
    const int64_t limit = std::clamp<int64_t>(p_.c_->memoExprLength, 0, kLengthMax);
    if (p_.tag_ == nullptr) return limit;
    const int64_t forKey = step.field->nullable ? kMemoKeyLength - 1 : kMemoKeyLength;
    return std::min(forKey, limit);
  }

  // The length of the step's result; sets the parameters that depend on
  // the operands.
  int64_t resultLength(EXPR4INFO& step, const Pending* operands, int32_t n) {
    const int32_t row = step.row;
    const int32_t type = expr4functions[row].type;
    auto operandLen = [&](int32_t k) { return k < n ? operands[k].len : 0; };
    if (row <= expr4rowFieldDateTimeParts) {
      if (type == 'C' || type == 'W' || type == 'N') return step.len;
      if (type == 'O') return std::max<int64_t>(step.len - 2, 0);
      return widthOf(type);
    }
    int64_t length = 0;
    switch (row) {
      case expr4rowMemo:
        p_.varLength_ = true;
        return memoLength(step);
      case expr4rowText:
      case expr4rowStr:
      case expr4rowStrWide:
      case expr4rowStrZero:
        return step.len;
      case expr4rowConcat:
      case expr4rowConcatWide:
      case expr4rowConcatWideTail:
      case expr4rowConcatVary:
      case expr4rowConcatTrim:
        step.p1 = static_cast<int32_t>(operandLen(0));
        return operandLen(0) + operandLen(1);
      case expr4rowChr:
      case expr4rowDel:
        return 1;
      case expr4rowTime:
      case expr4rowDtos:
      case expr4rowDtos + 1:
        return 8;
      case expr4rowDtoc:
      case expr4rowDtoc + 1:
        step.p1 = appendPicture(length);
        return length;
      case expr4rowCtod:
        step.p1 = appendPicture(length);
        return 8;
      case expr4rowTrim:
      case expr4rowLtrim:
      case expr4rowAlltrim:
        p_.varLength_ = true;
        return operandLen(0);
      case expr4rowSubstr:
      case expr4rowLeft:
      case expr4rowRight: {
        const int64_t available = operandLen(0);
        int64_t start = row == expr4rowRight ? available - step.len : step.p1;
        start = std::clamp<int64_t>(start, 0, available);
        const int64_t count =
            step.len < 0 ? available - start : std::min<int64_t>(step.len, available - start);
        step.p1 = static_cast<int32_t>(start);
        return count;
      }
      case expr4rowPadl:
      case expr4rowPadr:
        step.p1 = static_cast<int32_t>(std::max<int64_t>(step.len - operandLen(0), 0));
        return step.len;
      case expr4rowIif:
      case expr4rowIif + 1:
      case expr4rowIif + 2:
      case expr4rowIif + 3:
        step.p1 = static_cast<int32_t>(operandLen(1));
        step.p2 = static_cast<int32_t>(operandLen(2));
        return std::max(operandLen(1), operandLen(2));
      case expr4rowL2bin:
        return 4;
      default:
        break;
    }
    if (expr4isComparison(row)) {
      compareParameters(step, operands);
      return 4;
    }
    if (row >= expr4rowDescend) {
      const int64_t width = keyWidthOf(operands[0].type);
      return width >= 0 ? width : operandLen(0);
    }
    const int64_t width = widthOf(type);
    return width >= 0 ? width : operandLen(0);
  }

  // Text compares over the shorter length; on equal bytes ">" holds when
  // the left text is the longer and "<" when it is the shorter. Other
  // values compare over their width.
  static void compareParameters(EXPR4INFO& step, const Pending* operands) {
    const int16_t code = expr4functions[step.row].code;
    if (operands[0].type != 'C') {
      step.p1 = operands[0].type == 'L' ? 4 : 8;
      step.ref.tie = 0;
      return;
    }
    const int64_t left = operands[0].len, right = operands[1].len;
    step.p1 = static_cast<int32_t>(std::min(left, right));
    int32_t tie = 0;
    if (code == expr4codeGreater) tie = left > right ? 1 : 0;
    if (code == expr4codeLess) tie = left < right ? 1 : 0;
    step.ref.tie = tie;
  }

  Parser& p_;
  Pending pending_[kPendingMax];
  int32_t count_ = 0;
  int64_t nextFree_ = 0;
};

int32_t Parser::typePass() { return TypePass(*this).run(); }

}  // namespace expr4
