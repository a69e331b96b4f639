// expr4parseLow: the parse from its checks to the finished EXPR4.
#include "engine/index/expr4.h"
#include "engine/storage/convert4.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "engine/index/expr4parser.h"
#include "engine/index/expr4table.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/error4.h"

namespace {

// Texts beyond this are refused as out of memory; step positions and
// constant offsets are 32-bit.
constexpr size_t kTextMax = INT32_MAX / 2;

// Steps that read the record buffer through their reference.
bool readsRecord(const EXPR4INFO& step) {
  return step.field != nullptr || step.row == expr4rowDel || step.row == expr4rowDeleted;
}

}  // namespace

namespace expr4 {

EXPR4* Parser::finish() {
  auto expr = std::make_unique<EXPR4>();
  expr->stepStore = std::move(steps_);
  expr->constantStore = std::move(constants_);
  expr->textStore.assign(source_, static_cast<size_t>(sourceLength_));
  expr->workStore.assign(static_cast<size_t>(workLen_) + 1, '\0');
  expr->keyStore.assign(static_cast<size_t>(expr4keyRoom(resultLen_)), '\0');

  for (EXPR4INFO& step : expr->stepStore) {
    step.routine = expr4functions[step.row].routine;
    if (tag_ != nullptr && readsRecord(step)) step.ref.record = &expr->tagRecord;
  }
  expr->steps = expr->stepStore.data();
  expr->stepCount = static_cast<int32_t>(expr->stepStore.size());
  expr->text = expr->textStore.c_str();
  expr->constants = expr->constantStore.data();
  expr->len = resultLen_;
  expr->type = resultType_;
  expr->tag = tag_;
  expr->data = data_;
  expr->dataFile = data_->dataFile;
  expr->codeBase = c_;
  expr->workLen = static_cast<int32_t>(workLen_);
  expr->varLength = varLength_ ? 1 : 0;
  expr->work = expr->workStore.data();
  expr->key = expr->keyStore.data();
  expr->tagRecord = tag_ != nullptr ? data_->record : nullptr;
  expr->keyBufferNeed = keyBufferNeed_;
  return expr.release();
}

}  // namespace expr4

EXPR4* expr4parseLow(DATA4* data, const char* text, TAG4FILE* tag) {
  if (data == nullptr || text == nullptr) {
    error4(nullptr, e4parmNull, expr4::kLocParse);
    return nullptr;
  }
  if (structure4check(data, structure4data, expr4::kLocParse) < 0) return nullptr;
  CODE4* c = data->codeBase;
  if (error4code(c) < 0) return nullptr;
  const size_t length = std::strlen(text);
  try {
    if (length > kTextMax) throw std::bad_alloc();
    expr4::Parser parser(data, text, static_cast<int32_t>(length), tag);
    if (parser.parseTop() < 0 || parser.typePass() < 0) return nullptr;
    return parser.finish();
  } catch (const std::bad_alloc&) {
    if (c->errExpr != 0) error4describe(c, e4memory, expr4::kLocParse, text, nullptr, nullptr);
    return nullptr;
  }
}

void expr4free(EXPR4* expr) { delete expr; }

int32_t expr4doubleToInt(double value) { return convert4truncate<int32_t>(value); }
