// Making and freeing the objects of the index-file layer: INDEX4 with its
// TAG4s, INDEX4FILE, and the TAG4FILEs of a file.
#include <algorithm>
#include <cstring>
#include <new>

#include "engine/index/expr4.h"
#include "engine/index/index4internal.h"
#include "engine/index/tag4internal.h"
#include "engine/storage/cache4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/error4.h"
#include "engine/storage/text4.h"

namespace {

constexpr int32_t kLocNoMemory = 90012;

// Keeps the first failure of a sequence that runs on.
void note(int32_t& first, int32_t rc) {
  if (rc < 0 && first == 0) first = rc;
}

}  // namespace

uint32_t index4recordCount(void* dataFile) {
  const auto* df = static_cast<const DATA4FILE*>(dataFile);
  if (df == nullptr) return 0;
  const int64_t live = df->liveCount;
  const uint32_t stored = df->header.recordCount;
  return live > stored && live <= UINT32_MAX ? static_cast<uint32_t>(live) : stored;
}

uint32_t index4tagOfTagsRecords(void* indexFile) {
  const auto* i = static_cast<const INDEX4FILE*>(indexFile);
  return static_cast<uint32_t>(i->tags.nLink) * cdx4headerSize;
}

INDEX4* index4new(DATA4* d, const char* name, int32_t location) {
  auto* index = new (std::nothrow) INDEX4;
  if (index == nullptr) {
    error4(d->codeBase, e4memory, location);
    return nullptr;
  }
  index->data = d;
  index->codeBase = d->codeBase;
  index->validityMarker = validity4marker;
  text4copyBounded(index->accessName, name != nullptr ? name : d->alias, sizeof index->accessName);
  return index;
}

int32_t index4attachTags(INDEX4* index, const int16_t* modes, int32_t location) {
  LIST4* tags = &index->indexFile->tags;
  int k = 0;
  for (LINK4* link = list4first(tags); link != nullptr; link = list4next(tags, link), k++) {
    auto* t = new (std::nothrow) TAG4;
    if (t == nullptr) return error4(index->codeBase, e4memory, location);
    t->index = index;
    t->tagFile = index4tagOf(link);
    t->uniqueMode = modes != nullptr ? modes[k]
                                     : tag4uniqueModeFor(index->codeBase, t->tagFile->header.options);
    list4add(&index->tags, &t->link);
  }
  return 0;
}

void index4free(INDEX4* index) {
  while (LINK4* link = list4pop(&index->tags)) {
    TAG4* t = index4handleTagOf(link);
    tag4pendingClear(t);
    delete t;
  }
  if (index->data != nullptr && list4contains(&index->data->indexes, &index->link))
    list4remove(&index->data->indexes, &index->link);
  index->validityMarker = 0;
  delete index;
}

INDEX4FILE* indexfile4new(DATA4* d, int32_t location) {
  auto* i = new (std::nothrow) INDEX4FILE;
  if (i == nullptr) {
    error4(d->codeBase, e4memory, location);
    return nullptr;
  }
  i->codeBase = d->codeBase;
  i->dataFile = d->dataFile;
  return i;
}

int32_t indexfile4free(INDEX4FILE* i, bool write) {
  int32_t first = 0;
  TAG4FILE* tagIndex = i->tagIndex;
  while (LINK4* link = list4first(&i->tags)) {
    TAG4FILE* t = index4tagOf(link);
    if (!write) tag4cacheDiscard(t);
    note(first, index4tagFree(t));
    if (t == tagIndex) tagIndex = nullptr;
  }
  if (tagIndex != nullptr) {
    if (!write) tag4cacheDiscard(tagIndex);
    note(first, index4tagFree(tagIndex));
  }
  indexfile4releaseNodes(i);
  // Given up: what the cache holds of it never reaches the disk either.
  if (!write) cache4fileForget(&i->file);
  DATA4FILE* df = i->dataFile;
  if (df != nullptr && list4contains(&df->indexes, &i->link)) {
    list4remove(&df->indexes, &i->link);
    df->indexCount--;
  }
  if (i->file.handle >= 0) note(first, file4close(&i->file));
  delete i;
  return first;
}

TAG4FILE* index4tagNew(INDEX4FILE* i, uint32_t headerBlock, const Cdx4Header& h,
                       const char* name) {
  auto* t = new (std::nothrow) TAG4FILE;
  if (t == nullptr) {
    error4(i->codeBase, e4memory, kLocNoMemory);
    return nullptr;
  }
  Cdx4Header header = h;
  // A unit of the key pool holds a key: a header kept only to list a tag
  // may have none.
  header.keyLength = std::max<uint16_t>(header.keyLength, 1);
  if (tagfile4init(t, i, headerBlock, header, name) < 0) {
    tagfile4release(t);
    delete t;
    return nullptr;
  }
  t->recordCount = index4recordCount;
  t->recordCountData = i->dataFile;
  return t;
}

int32_t index4tagFree(TAG4FILE* t) {
  const int32_t rc = tagfile4release(t);
  expr4free(t->expr);
  expr4free(t->filter);
  t->expr = t->filter = nullptr;
  delete t;
  return rc;
}

int32_t index4tagKeyLengthSet(TAG4FILE* t, uint16_t keyLength) {
  if (t->header.keyLength == keyLength && t->keyMemory != nullptr) return 0;
  tag4cacheDiscard(t);
  tagfile4releaseNodes(t);
  Cdx4Header h = t->header;
  h.keyLength = keyLength;
  return tagfile4initNodes(t, t->indexFile, t->headerBlock, h);
}
