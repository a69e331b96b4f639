// A tag's expressions: compiling the key and the filter for a handle,
// choosing the key routines, the key length, whether the key may be
// collated, and building a record's key.
#include <cstring>

#include "engine/index/expr4.h"
#include "engine/index/expr4table.h"
#include "engine/index/index4internal.h"
#include "engine/index/tag4keytype.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocNoEvaluator = 90199;

bool rowIsText(int32_t row) {
  switch (row) {
    case 0: case 3: case 23: case 25: case 34: case 37: case 41:
      return true;
    default:
      return row >= 85 && row <= 104;
  }
}

bool rowIsWide(int32_t row) { return row == 1 || row == 2 || row == 4; }

bool readsNullable(const EXPR4* expr) {
  for (int32_t s = 0; s < expr->stepCount; s++) {
    const FIELD4* field = expr->steps[s].field;
    if (field != nullptr && field->nullable != 0) return true;
  }
  return false;
}

}  // namespace

bool index4keyCollates(const EXPR4* expr) {
  if (expr == nullptr || expr->stepCount == 0) return false;
  bool text = true, wide = true;
  for (int32_t s = 0; s < expr->stepCount; s++) {
    text = text && rowIsText(expr->steps[s].row);
    wide = wide && rowIsWide(expr->steps[s].row);
  }
  return text || wide;
}

int32_t index4tagCompile(TAG4FILE* t, DATA4* d, const char* keyExpr, const char* filter,
                         int32_t collation, int32_t filterLocation) {
  CODE4* c = d->codeBase;
  t->expr = expr4parseLow(d, keyExpr, t);
  if (t->expr == nullptr) return error4code(c) < 0 ? error4code(c) : e4tagExpr;
  if (filter != nullptr && filter[0] != '\0') {
    t->filter = expr4parseLow(d, filter, t);
    if (t->filter == nullptr) return error4code(c) < 0 ? error4code(c) : e4tagExpr;
    if (t->filter->type != expr4typeLogical)
      return error4describe(c, filterLocation == index4locFilterType ? e4index : e4create,
                            filterLocation, t->indexFile->file.name, filter, nullptr);
  }
  if (readsNullable(t->expr)) t->header.options |= cdx4optionNullable;
  if (int32_t rc = tagfile4keyTypeSet(t, static_cast<char>(t->expr->type), collation); rc < 0)
    return rc;
  t->keepTrailing = t->filter != nullptr && d->dataFile->compatibility == 26;
  return 0;
}

int32_t index4keyLength(TAG4FILE* t) {
  const EXPR4* e = t->expr;
  if (e == nullptr) return -1;
  switch (e->type) {
    case 'D': case 'N': case 'n': case 'd': case 'T': case 'Y': case '1':
      return 8;
    case 'I': case 'P': case 'Q': case 'R':
      return 4;
    case 'L':
      return 1;
    case '2': case '3':
      return 6;
    case '4':
      return 16;
    default:
      return t->collation == tag4machineOrder ? e->len : 2 * e->len;
  }
}

int32_t index4tagBind(TAG4FILE* t, DATA4* d) {
  (void)t;
  (void)d;
  return 0;
}

int32_t index4tagKey(TAG4FILE* t, const unsigned char** key) {
  *key = nullptr;
  return error4(t->codeBase, e4info, kLocNoEvaluator);
}

int32_t index4tagFilter(TAG4FILE* t) { return error4(t->codeBase, e4info, kLocNoEvaluator); }
