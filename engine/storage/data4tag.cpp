// Tag selection and moving in tag order.
#include "engine/storage/data4tag.h"

#include <cstring>
#include <vector>

#include "engine/index/expr4.h"
#include "engine/index/index4.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4index.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/error4.h"
#include "engine/storage/text4.h"

namespace {

constexpr int32_t kLocTag = 90201;
constexpr int32_t kLocTagDefault = 90202;
constexpr int32_t kLocTagNext = 90203;
constexpr int32_t kLocTagPrev = 90204;
constexpr int32_t kLocTagSelect = 90205;
constexpr int32_t kLocTagSelected = 90206;
constexpr int32_t kLocFreeBlocks = 90213;
constexpr int32_t kLocFreeBlocksHandle = 90250;
constexpr int32_t kLocReindex = 90252;
constexpr int32_t kLocReadOnly = 80013;
constexpr int32_t kLocNoRecord = 80180;
constexpr size_t kTagNameMax = 10;

// Every tag of the handle, index by index, in order.
std::vector<TAG4*> tagsOf(DATA4* d) {
  std::vector<TAG4*> tags;
  for (LINK4* i = list4first(&d->indexes); i != nullptr; i = list4next(&d->indexes, i)) {
    auto* index = reinterpret_cast<INDEX4*>(i);
    for (LINK4* t = list4first(&index->tags); t != nullptr; t = list4next(&index->tags, t))
      tags.push_back(reinterpret_cast<TAG4*>(t));
  }
  return tags;
}

bool inTable(int32_t count, int64_t record) { return record >= 1 && record <= count; }

// From the cursor's entry on, in the direction of `step`, to the first
// entry of a record within `count`: 0 there, 1 when the tag ran out first,
// or a negative error (a node the disk could not read is never the end of
// the tag). Entries of records past the count were appended by another
// process after this process read the count: they are passed over.
int32_t firstInTable(TAG4FILE* tf, int32_t count, int32_t step) {
  while (!tagfile4eof(tf)) {
    const int64_t record = tagfile4recNo(tf);
    if (record < 0) return static_cast<int32_t>(record);
    if (inTable(count, record)) return 0;
    if (const int32_t stepped = tagfile4step(tf, step); stepped <= 0)
      return stepped < 0 ? stepped : 1;
  }
  return 1;
}

// Reads the index again when other processes may have changed it.
int32_t refresh(TAG4* tag) { return index4refresh(tag->tagFile->indexFile); }

// The current record's key in the tag, for putting the tag's cursor back on
// it.
int32_t currentKey(DATA4* d, TAG4* tag, char** key) {
  EXPR4* expr = tag->tagFile->expr;
  if (expr == nullptr) return e4index;
  if (const int32_t rc = expr4context(expr, d); rc < 0) return rc;
  return expr4key(expr, key, tag->tagFile);
}

}  // namespace

TAG4* data4tagNext(DATA4* d, TAG4* tag) {
  if (!data4check(d, kLocTagNext)) return nullptr;
  const std::vector<TAG4*> tags = tagsOf(d);
  if (tag == nullptr) return tags.empty() ? nullptr : tags.front();
  for (size_t i = 0; i + 1 < tags.size(); i++)
    if (tags[i] == tag) return tags[i + 1];
  return nullptr;
}

TAG4* data4tagPrev(DATA4* d, TAG4* tag) {
  if (!data4check(d, kLocTagPrev)) return nullptr;
  const std::vector<TAG4*> tags = tagsOf(d);
  if (tag == nullptr) return tags.empty() ? nullptr : tags.back();
  for (size_t i = 1; i < tags.size(); i++)
    if (tags[i] == tag) return tags[i - 1];
  return nullptr;
}

TAG4* data4tag(DATA4* d, const char* name) {
  if (!data4check(d, kLocTag) || name == nullptr) return nullptr;
  char wanted[kTagNameMax + 1];
  text4copyBounded(wanted, name, sizeof wanted);
  text4trim(wanted);
  for (TAG4* tag : tagsOf(d))
    if (text4compareNoCase(tag->tagFile->name, wanted) == 0) return tag;
  if (d->codeBase->errTagName) error4describe(d->codeBase, e4tagName, kLocTag, name, nullptr, nullptr);
  return nullptr;
}

TAG4* data4tagDefault(DATA4* d) {
  if (!data4check(d, kLocTagDefault)) return nullptr;
  if (d->tagSelected != nullptr) return static_cast<TAG4*>(d->tagSelected);
  return data4tagNext(d, nullptr);
}

void data4tagSelect(DATA4* d, TAG4* tag) {
  if (data4check(d, kLocTagSelect)) d->tagSelected = tag;
}

TAG4* data4tagSelected(DATA4* d) {
  return data4check(d, kLocTagSelected) ? static_cast<TAG4*>(d->tagSelected) : nullptr;
}

int32_t data4topTag(DATA4* d, TAG4* tag) {
  if (const int32_t rc = data4updateRecord(d, 0, 1); rc != 0) return rc;
  TAG4FILE* tf = tag->tagFile;
  if (const int32_t rc = refresh(tag); rc < 0) return rc;
  if (const int32_t rc = tagfile4top(tf); rc < 0) return rc;
  const int32_t count = data4recCount(d);
  if (count < 0) return -1;
  const int32_t found = firstInTable(tf, count, 1);
  if (found < 0) return found;
  if (found == 0) return data4go(d, static_cast<int32_t>(tagfile4recNo(tf)));
  d->bofFlag = 1;
  return data4goEof(d);
}

int32_t data4bottomTag(DATA4* d, TAG4* tag) {
  if (const int32_t rc = data4updateRecord(d, 0, 1); rc != 0) return rc;
  TAG4FILE* tf = tag->tagFile;
  if (const int32_t rc = refresh(tag); rc < 0) return rc;
  if (const int32_t rc = tagfile4bottom(tf); rc < 0) return rc;
  const int32_t count = data4recCount(d);
  if (count < 0) return -1;
  const int32_t found = firstInTable(tf, count, -1);
  if (found < 0) return found;
  if (found == 0) return data4go(d, static_cast<int32_t>(tagfile4recNo(tf)));
  d->bofFlag = 1;
  return data4goEof(d);
}

int32_t data4skipTag(DATA4* d, TAG4* tag, int32_t n) {
  CODE4* c = d->codeBase;
  TAG4FILE* tf = tag->tagFile;
  if (d->eofFlag) {
    if (n >= 0) return r4eof;
    const int32_t rc = data4bottomTag(d, tag);
    if (rc == r4eof) return r4bof;
    if (rc != 0) return rc;
    n++;
  }
  if (d->recNum < 1) {
    if (c->errSkip) return error4(c, e4info, kLocNoRecord);
    return e4info;
  }
  if (const int32_t rc = data4updateRecord(d, 0, 1); rc != 0) return rc;
  if (const int32_t rc = refresh(tag); rc < 0) return rc;
  if (n == 0) return 0;
  if (tagfile4recNo(tf) != d->recNum) {
    // Another handle moved the shared cursor: put it back on this record.
    char* key = nullptr;
    if (const int32_t length = currentKey(d, tag, &key); length < 0) return length;
    const int32_t found = tagfile4seekRecord(tf, key, static_cast<uint32_t>(d->recNum), 0);
    if (found < 0) return found;
    if (found != 0 && n > 0) n--;  // already on the next greater entry
  }
  const int32_t count = data4recCount(d);
  if (count < 0) return -1;
  // A skip the tag refuses (a node the disk could not read) is the skip's
  // error: only a skip that moved less than asked is the end of the tag.
  int32_t left = n;
  while (left != 0) {
    const int32_t step = left > 0 ? 1 : -1;
    const int32_t stepped = tagfile4step(tf, step);
    if (stepped < 0) return stepped;
    if (stepped == 0) break;
    const int64_t record = tagfile4recNo(tf);
    if (record < 0) break;
    if (inTable(count, record)) left -= step;
  }
  if (left > 0 || (n > 0 && tagfile4eof(tf))) return data4goEof(d);
  const int64_t record = tagfile4recNo(tf);
  if (!inTable(count, record)) return data4goEof(d);
  if (const int32_t rc = data4go(d, static_cast<int32_t>(record)); rc != 0) return rc;
  if (left < 0) {
    d->bofFlag = 1;
    return r4bof;
  }
  return 0;
}

int32_t data4reindex(DATA4* d) {
  if (!data4check(d, kLocReindex)) return e4parm;
  CODE4* c = d->codeBase;
  if (error4code(c) < 0) return -1;
  if (const int32_t rc = data4updateRecord(d, 0, 1); rc != 0) return rc;
  if (d->readOnly) return error4describe(c, e4write, kLocReadOnly, d->alias, nullptr, nullptr);
  return data4reindexAll(d);
}

// Handles of one table share their tags' nodes: a tag met again has none
// left to free. The first write the file refuses ends the pass with its
// error raised: that tag and the ones not reached yet keep their nodes.
int32_t code4freeBlocks(CODE4* c) {
  if (structure4check(c, structure4code, kLocFreeBlocks) < 0) return e4parm;
  if (error4code(c) < 0) return -1;
  LIST4* handles = code4dataList(c);
  for (LINK4* link = list4first(handles); link != nullptr; link = list4next(handles, link)) {
    auto* d = reinterpret_cast<DATA4*>(link);
    if (!data4check(d, kLocFreeBlocksHandle)) return e4parm;
    for (TAG4* tag : tagsOf(d)) {
      if (const int32_t rc = tagfile4freeAll(tag->tagFile); rc < 0) return rc;
    }
  }
  return 0;
}
