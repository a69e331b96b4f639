// Folding constant arguments into a function's step, and the argument
// count check.
//
// Some functions take counts, lengths and time parts as numeric constants:
// each such argument must be a single number constant, which leaves the
// step list and becomes the step's length or parameter 1. Folded lengths
// and counts are held to 0..65535; every constant passes through the one
// saturating conversion, so huge or negative values give defined results.
// Where a default needs the text argument's length (SUBSTR's count,
// RIGHT's start), the type pass completes it once that length is known.
#include <algorithm>
#include <cstring>

#include "engine/index/expr4parser.h"
#include "engine/index/expr4table.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4.h"

namespace expr4 {

namespace {

// SUBSTR without a count: all the rest of the text.
constexpr int32_t kCountToEnd = -1;
constexpr int32_t kMillisecondsPerHour = 3600000;
constexpr int32_t kMillisecondsPerMinute = 60000;
constexpr int32_t kMillisecondsPerSecond = 1000;

int32_t lengthOf(double value) { return std::clamp(expr4doubleToInt(value), 0, kLengthMax); }

int32_t toInt32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// The argument counts a folding function accepts, or false for the other
// functions.
bool foldedArity(int32_t row, int32_t& low, int32_t& high) {
  switch (row) {
    case expr4rowStr:
      low = 1, high = 3;
      return true;
    case expr4rowSubstr:
      low = 2, high = 3;
      return true;
    case expr4rowDateTime:
      low = 3, high = 6;
      return true;
    case expr4rowStrZero:
    case expr4rowLeft:
    case expr4rowRight:
    case expr4rowPadl:
    case expr4rowPadr:
      low = 2, high = 2;
      return true;
    default:
      return false;
  }
}

}  // namespace

// The argument starting at step `start` must be the last step and a number
// constant: its value leaves the steps (and its bytes the constants).
int32_t Parser::takeConstant(int32_t start, double& value) {
  const auto last = static_cast<int32_t>(steps_.size()) - 1;
  if (last != start || steps_[last].row != expr4rowNumber) {
    return fail(e4constParm, kLocCall);
  }
  const auto offset = static_cast<size_t>(steps_[last].p1);
  std::memcpy(&value, constants_.data() + offset, sizeof value);
  if (offset + sizeof value == constants_.size()) constants_.resize(offset);
  steps_.pop_back();
  return 0;
}

int32_t Parser::fold(int32_t row, const std::vector<int32_t>& starts, Call& call) {
  const EXPR4FUNCTION& function = expr4functions[row];
  auto count = static_cast<int32_t>(starts.size());
  call = Call{row, count, 0, 0};
  int32_t low = 0, high = 0;
  if (!foldedArity(row, low, high)) {
    if (function.parmCount < 0 || count == function.parmCount) return 0;
    if (row == expr4rowDtoc && count == 2) {
      // DTOC's second argument asks for the sortable form: that is DTOS.
      steps_.resize(starts[1]);
      call.row = expr4rowDtos;
      call.parmCount = 1;
      return 0;
    }
    return fail(e4numParms, kLocArgCount, function.name, source_);
  }
  // Checked before folding, so a call with too few arguments is told as
  // such rather than as a missing constant.
  if (count < low || count > high) return fail(e4numParms, kLocArgCount, function.name, source_);

  // The constants are taken from the last argument backwards, each being
  // the last step at the time.
  double value = 0;
  auto take = [&](int32_t argument) { return takeConstant(starts[argument], value); };
  switch (row) {
    case expr4rowStr: {
      int64_t length = 10, decimals = 0;
      if (count == 3) {
        if (const int32_t rc = take(2); rc < 0) return rc;
        decimals = expr4doubleToInt(value);
      }
      if (count >= 2) {
        if (const int32_t rc = take(1); rc < 0) return rc;
        length = expr4doubleToInt(value);
      }
      const EXPR4INFO& operand = steps_.back();
      if (operand.row == expr4rowFieldWide || operand.row == expr4rowFieldWideTail) {
        call.row = expr4rowStrWide;
        call.len = std::min<int32_t>(operand.field->length, kLengthMax);
        break;
      }
      if (length < 0) length = 10;
      length = std::min<int64_t>(length, kLengthMax);
      if (length <= decimals + 1) decimals = length - 2;
      if (decimals < 0) decimals = 0;
      call.len = static_cast<int32_t>(length);
      call.p1 = static_cast<int32_t>(decimals);
      break;
    }
    case expr4rowSubstr: {
      call.len = kCountToEnd;
      if (count == 3) {
        if (const int32_t rc = take(2); rc < 0) return rc;
        call.len = lengthOf(value);
      }
      if (const int32_t rc = take(1); rc < 0) return rc;
      call.p1 = toInt32(int64_t{expr4doubleToInt(value)} - 1);
      break;
    }
    case expr4rowDateTime: {
      const int32_t perPart[] = {kMillisecondsPerHour, kMillisecondsPerMinute,
                                 kMillisecondsPerSecond};
      int64_t milliseconds = 0;
      for (int32_t argument = count - 1; argument >= 3; argument--) {
        if (const int32_t rc = take(argument); rc < 0) return rc;
        milliseconds += int64_t{expr4doubleToInt(value)} * perPart[argument - 3];
      }
      call.p1 = toInt32(milliseconds);
      count = 3;
      break;
    }
    default:  // STRZERO, LEFT, RIGHT, PADL, PADR: (value, length)
      if (const int32_t rc = take(1); rc < 0) return rc;
      call.len = lengthOf(value);
      break;
  }
  call.parmCount = row == expr4rowDateTime ? count : 1;
  return 0;
}

}  // namespace expr4
