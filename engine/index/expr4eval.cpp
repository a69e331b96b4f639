// Running an expression: the evaluation lock, the step loop, binding to a
// data handle, and the checks that every handle an evaluation reads is
// still open.
//
// Handles are pool units: a closed handle's unit may come back as another
// handle at the same address, with new field and record buffers. So an
// expression is taken to be bound to an open handle only when the handle is
// on an open list (compared by address, never read) and the steps' field
// and record pointers lie inside that handle's current buffers.
#include <mutex>

#include "engine/index/cdx4header.h"
#include "engine/index/expr4.h"
#include "engine/index/expr4steps.h"
#include "engine/index/expr4table.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/error4.h"
#include "engine/storage/memory4.h"

namespace {

constexpr int32_t kLocContext = 90102;
constexpr int32_t kLocVary = 90104;
constexpr int32_t kLocTrue = 80021;

bool isHandleOf(DATA4FILE* file, const DATA4* d) {
  for (LINK4* link = list4first(&file->handles); link != nullptr;
       link = list4next(&file->handles, link)) {
    if (data4ofFileLink(link) == d) return true;
  }
  return false;
}

bool inList(LIST4* list, const DATA4* d) {
  for (DATA4* h = list4firstAs<DATA4>(list); h != nullptr; h = list4nextAs(list, h)) {
    if (h == d) return true;
  }
  return false;
}

// Open, or closed during a transaction and kept until it ends.
bool isOpenHandle(CODE4* c, const DATA4* d) {
  return inList(code4dataList(c), d) || inList(&c->closedDataFiles, d);
}

// The step's field is one of `d`'s fields, at the place in the record
// where the step reads it. The address is compared before the field is
// read.
bool holdsField(const DATA4* d, const EXPR4INFO& step) {
  const FIELD4* first = d->fields.data();
  const FIELD4* field = step.field;
  return field >= first && field < first + d->fields.size() &&
         static_cast<int32_t>(field->offset) == step.p1;
}

bool readsOwnRecord(const EXPR4INFO& step) {
  if (step.field != nullptr) return step.sameData == 1;
  return step.row == expr4rowDel || step.row == expr4rowDeleted;
}

// The steps' pointers all lead into the current buffers of `d`, the handle
// the expression names.
bool boundInside(const EXPR4* expr, const DATA4* d) {
  if (expr->tag != nullptr && expr->tagRecord != d->record && expr->tagRecord != d->recordOld) {
    return false;
  }
  for (int32_t i = 0; i < expr->stepCount; i++) {
    const EXPR4INFO& step = expr->steps[i];
    if (step.field != nullptr && step.sameData == 1 && !holdsField(d, step)) return false;
  }
  return true;
}

// A field of another handle, named through its alias: that handle must be
// open and still hold the field where the expression was parsed.
bool aliasOpen(CODE4* c, const EXPR4INFO& step) {
  LIST4* open = code4dataList(c);
  for (DATA4* h = list4firstAs<DATA4>(open); h != nullptr; h = list4nextAs(open, h)) {
    if (step.ref.record != &h->record) continue;
    return holdsField(h, step);
  }
  return false;
}

// Every field the expression reads of its own handle is one of `d`'s.
bool fieldsFit(const EXPR4* expr, const DATA4* d) {
  for (int32_t i = 0; i < expr->stepCount; i++) {
    const EXPR4INFO& step = expr->steps[i];
    if (step.field != nullptr && step.sameData == 1 &&
        (step.fieldNumber < 1 || step.fieldNumber > d->fields.size())) {
      return false;
    }
  }
  return true;
}

// Makes the expression read `d` (its old-record buffer when `old`), which
// must be an open handle of the expression's data file.
void bind(EXPR4* expr, DATA4* d, bool old) {
  char** buffer = old ? &d->recordOld : &d->record;
  for (int32_t i = 0; i < expr->stepCount; i++) {
    EXPR4INFO& step = expr->steps[i];
    if (!readsOwnRecord(step)) continue;
    if (step.field != nullptr) step.field = &d->fields[step.fieldNumber - 1];
    if (expr->tag == nullptr) step.ref.record = buffer;
  }
  expr->data = d;
  expr->dataFile = d->dataFile;
  if (expr->tag != nullptr) expr->tagRecord = *buffer;
}

// 0 when every handle the evaluation reads is open. A tag expression whose
// handle was closed is bound to an open handle of its data file (its
// current record); otherwise -930 is raised.
int32_t checkBinding(EXPR4* expr) {
  CODE4* c = expr->codeBase;
  if (expr->tag != nullptr) {
    DATA4* d = expr->data;
    if (!isHandleOf(expr->dataFile, d)) {
      LINK4* first = list4first(&expr->dataFile->handles);
      if (first == nullptr)
        return error4describe(c, e4parm, kLocVary, expr->text, nullptr, nullptr);
      d = data4ofFileLink(first);
      bind(expr, d, false);
    } else if (!boundInside(expr, d)) {
      bind(expr, d, false);
    }
    return 0;
  }
  if (!isOpenHandle(c, expr->data) || !boundInside(expr, expr->data)) {
    return error4describe(c, e4parm, kLocVary, expr->text, nullptr, nullptr);
  }
  for (int32_t i = 0; i < expr->stepCount; i++) {
    const EXPR4INFO& step = expr->steps[i];
    if (step.field != nullptr && step.sameData == 0 && !aliasOpen(c, step)) {
      return error4describe(c, e4parm, kLocVary, expr->text, nullptr, nullptr);
    }
  }
  return 0;
}

int32_t bindTo(EXPR4* expr, DATA4* d, bool old) {
  if (expr == nullptr || d == nullptr) return error4(nullptr, e4parmNull, kLocContext);
  CODE4* c = expr->codeBase;
  std::lock_guard guard(memory4evaluationLock());
  if (!isOpenHandle(c, d) || d->dataFile != expr->dataFile || !fieldsFit(expr, d)) {
    return error4describe(c, e4parm, kLocContext, expr->text, nullptr, nullptr);
  }
  bind(expr, d, old);
  return 0;
}

// The null flag of the step's field in the record the step reads.
bool nullInRecord(const EXPR4INFO& step) {
  const FIELD4* field = step.field;
  const FIELD4* flags = field->data->nullFlags;
  if (flags == nullptr || field->nullByte >= flags->length) return false;
  const char* record = *step.ref.record;
  return (static_cast<unsigned char>(record[flags->offset + field->nullByte]) & field->nullMask) !=
         0;
}

}  // namespace

namespace expr4 {

int32_t keyNullState(const EXPR4* expr) {
  if (expr->tag != nullptr && (expr->tag->header.options & cdx4optionUniqueNoNull) != 0) return -1;
  int32_t state = -1;
  for (int32_t i = 0; i < expr->stepCount; i++) {
    const EXPR4INFO& step = expr->steps[i];
    if (step.field == nullptr || !step.field->nullable) continue;
    if (nullInRecord(step)) return 1;
    state = 0;
  }
  return state;
}

int32_t evaluateLocked(EXPR4* expr, char** result) {
  CODE4* c = expr->codeBase;
  if (error4code(c) < 0) return -1;
  if (const int32_t rc = checkBinding(expr); rc < 0) return rc;
  Expr4Eval e;
  e.expr = expr;
  e.work = expr->work;
  e.constants = expr->constants;
  for (int32_t i = 0; i < expr->stepCount; i++) {
    const EXPR4INFO& step = expr->steps[i];
    // The parser's layout keeps within these bounds; a step that would not
    // is refused rather than run.
    if (step.routine == nullptr || step.parmCount > e.depth ||
        e.depth - step.parmCount >= Expr4Eval::kStackMax) {
      return error4describe(c, e4result, kLocVary, expr->text, nullptr, nullptr);
    }
    step.routine(e, step);
  }
  if (e.failure < 0) return e.failure;
  if (e.depth != 1) return error4describe(c, e4result, kLocVary, expr->text, nullptr, nullptr);
  *result = e.stack[0];
  return expr->len;
}

}  // namespace expr4

int32_t expr4vary(EXPR4* expr, char** result) {
  if (expr == nullptr) return error4(nullptr, e4parmNull, kLocVary);
  if (result == nullptr) return error4(expr->codeBase, e4parmNull, kLocVary);
  std::lock_guard guard(memory4evaluationLock());
  return expr4::evaluateLocked(expr, result);
}

int32_t expr4true(EXPR4* expr) {
  if (expr == nullptr) return error4(nullptr, e4parmNull, kLocVary);
  if (error4code(expr->codeBase) < 0) return -1;
  if (expr->type != expr4typeLogical) {
    return error4describe(expr->codeBase, e4result, kLocTrue, expr->text, nullptr, nullptr);
  }
  std::lock_guard guard(memory4evaluationLock());
  char* result = nullptr;
  if (expr4::evaluateLocked(expr, &result) < 0) return -1;
  return expr4::int32At(result) != 0 ? 1 : 0;
}

const char* expr4source(const EXPR4* expr) { return expr != nullptr ? expr->text : ""; }

int32_t expr4context(EXPR4* expr, DATA4* data) { return bindTo(expr, data, false); }

int32_t expr4contextOld(EXPR4* expr, DATA4* data) { return bindTo(expr, data, true); }

int32_t expr4nullLow(EXPR4* expr, int32_t mode) {
  if (expr == nullptr) return 0;
  std::lock_guard guard(memory4evaluationLock());
  if (checkBinding(expr) < 0) return 0;
  const int32_t state = expr4::keyNullState(expr);
  return mode == 0 ? (state >= 0 ? 1 : 0) : (state == 1 ? 1 : 0);
}

int32_t expr4keyFlag(EXPR4*) { return 0; }
