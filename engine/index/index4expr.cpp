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

bool rowIsText(int32_t row) {
  switch (row) {
    case 0: case 3: case 23: case 25: case 34: case 37: case 41:
      return true;
    default:
      return row >= 85 && row <= 104;
  }
}

bool rowIsWide(int32_t row) { return row == 1 || row == 2 || row == 4; }

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
  if (expr4nullLow(t->expr, 0) == 1) t->header.options |= cdx4optionNullable;
  if (int32_t rc = tagfile4keyTypeSet(t, static_cast<char>(t->expr->type), collation); rc < 0)
    return rc;
  t->keepTrailing = t->filter != nullptr && d->dataFile->compatibility == 26;
  return 0;
}

int32_t index4keyLength(TAG4FILE* t) { return t->expr == nullptr ? -1 : expr4keyLen(t->expr); }

int32_t index4tagBind(TAG4FILE* t, DATA4* d) {
  if (int32_t rc = expr4context(t->expr, d); rc < 0) return rc;
  return t->filter == nullptr ? 0 : expr4context(t->filter, d);
}

int32_t index4tagKey(TAG4FILE* t, const unsigned char** key) {
  char* made = nullptr;
  const int32_t length = expr4key(t->expr, &made, t);
  if (length < 0) return length;
  *key = reinterpret_cast<const unsigned char*>(made);
  return length;
}

int32_t index4tagFilter(TAG4FILE* t) { return t->filter == nullptr ? 1 : expr4true(t->filter); }
