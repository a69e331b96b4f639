// Building a whole index file: the tag of tags from the tags' names, each
// tag from its keys, then the headers (reindex4write.h gives the layout).
//
// A tag's keys are read from every record, in record order, through a
// sequential reader into the handle's record buffer, where the tag's filter
// and key expression are evaluated, and sorted.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "engine/index/expr4.h"
#include "engine/index/reindex4internal.h"
#include "engine/index/reindex4write.h"
#include "engine/index/sort4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4record.h"
#include "engine/storage/error4.h"
#include "engine/storage/seqread4.h"

namespace {

// Every record is read once per tag: the read-ahead's halves are made large
// so that the worker is handed few of them (each hand-over costs a thread
// switch, more than reading a half from the system's cache).
constexpr uint32_t kBufferMin = 1u << 20;

// The sequential reader's halves go back before its buffer does.
struct Reader {
  FILE4SEQREAD reader;
  std::unique_ptr<char[]> buffer;
  bool started = false;
  ~Reader() {
    if (started) file4seqReadDone(&reader);
  }
};

// The sort is released on every path, however the tag ended.
struct SortGuard {
  SORT4 sort;
  ~SortGuard() { sort4free(&sort); }
};

// The mode the bulk writer applies to equal keys of a tag: only a tag with
// a unique option refuses them, and the modes that also refuse null keys
// refuse duplicates as their plain counterparts do.
int16_t duplicateMode(const TAG4* t) {
  if ((t->tagFile->header.options & (cdx4optionUnique | cdx4optionUniqueNoNull)) == 0) return 0;
  switch (t->uniqueMode) {
    case 0:
      return 0;
    case r4uniqueNoNull:
    case r4unique:
      return r4unique;
    case e4candidate:
    case e4unique:
      return e4unique;
    default:
      return r4uniqueContinue;
  }
}

Code4ReindexProgress& progressOf(CODE4* c) { return c->reindexProgress; }


// Where tag k (from 1) of a compound file keeps its header: where it has
// it. Other processes sharing the file hold the tags' header positions, so
// a rebuild never moves a header; a file this engine made has tag k's at
// 1024 x k.
uint32_t headerBlockOf(INDEX4FILE* i, TAG4FILE* t, int32_t k) {
  return t->headerBlock != 0 ? t->headerBlock
                             : block4fromOffset(i, uint64_t{cdx4headerSize} * static_cast<uint32_t>(k));
}

int32_t writeTagOfTags(Reindex4Writer& w, INDEX4FILE* i, uint32_t* root) {
  const int32_t count = i->tags.nLink;
  SortGuard s;
  int32_t rc = sort4init(&s.sort, i->codeBase, cdx4tagNameLength, 0);
  int32_t k = 1;
  for (LINK4* link = list4first(&i->tags); rc == 0 && link != nullptr;
       link = list4next(&i->tags, link), k++) {
    char name[cdx4tagNameLength];
    std::memset(name, ' ', sizeof name);
    TAG4FILE* t = index4tagOf(link);
    std::memcpy(name, t->name, std::min(std::strlen(t->name), sizeof name));
    rc = sort4put(&s.sort, static_cast<int32_t>(headerBlockOf(i, t, k)), name, nullptr);
  }
  if (rc == 0) rc = sort4getInit(&s.sort);
  if (rc < 0) return rc;
  Reindex4TagShape shape;
  shape.name = i->file.name;
  shape.keyLength = cdx4tagNameLength;
  shape.records = static_cast<uint32_t>(count) * cdx4headerSize;
  shape.uniqueMode = e4unique;
  return w.writeTag(shape, &s.sort, root);
}

Reindex4Header tagHeader(const TAG4FILE* t, uint32_t block, uint32_t root, uint32_t version,
                         uint16_t keyLength) {
  Reindex4Header out;
  out.block = block;
  Cdx4Header& h = out.header;
  h = t->header;
  h.root = root;
  h.freeList = 0;
  h.version = version;
  h.keyLength = keyLength;
  h.signature = 1;
  h.blockSizeMarker = h.blockSize = h.multiplier = 0;
  out.keyExpr = expr4source(t->expr);
  if (t->filter != nullptr) out.filter = expr4source(t->filter);
  return out;
}

}  // namespace

int32_t reindex4readKeys(INDEX4* index, TAG4FILE* t, int32_t keyLength, int32_t records,
                         SORT4* sort) {
  CODE4* c = index->codeBase;
  DATA4* d = index->data;
  DATA4FILE* df = d->dataFile;
  if (int32_t rc = sort4init(sort, c, keyLength, 0); rc < 0) return rc;
  const uint32_t size =
      std::max<uint32_t>(static_cast<uint32_t>(std::max(c->memSizeBuffer, 0)), kBufferMin);
  Reader r;
  r.buffer.reset(new (std::nothrow) char[size]);
  if (r.buffer == nullptr) return error4(c, e4memory, index4locReindexKeys);
  if (int32_t rc = file4seqReadInit(&r.reader, &df->file, df->header.headerLength, r.buffer.get(),
                                    size, 1);
      rc < 0)
    return rc;
  r.started = true;
  if (int32_t rc = index4tagBind(t, d); rc < 0) return rc;
  Code4ReindexProgress& progress = c->reindexProgress;
  for (int32_t record = 1; record <= records; record++) {
    if (int32_t rc = file4seqReadAll(&r.reader, d->record, df->recordLength); rc < 0) return rc;
    d->recNum = record;
    for (MEMO4FIELD& memo : d->memoFields) memo.notRead = 1;
    code4reindexCount(progress);
    if (t->filter != nullptr) {
      const int32_t passes = index4tagFilter(t);
      if (passes < 0) return passes;
      if (passes == 0) continue;
    }
    const unsigned char* key = nullptr;
    if (int32_t rc = index4tagKey(t, &key); rc < 0) return rc;
    if (int32_t rc = sort4put(sort, record, key, nullptr); rc < 0) return rc;
  }
  return sort4getInit(sort);
}

int32_t reindex4build(INDEX4* index, FILE4* target, Reindex4Result* result) {
  INDEX4FILE* i = index->indexFile;
  CODE4* c = index->codeBase;
  DATA4* d = index->data;
  Code4ReindexProgress& progress = progressOf(c);
  TAG4FILE* ti = i->tagIndex;
  const bool compound = ti != nullptr && (ti->header.options & cdx4optionCompound) != 0;
  const int32_t n = i->tags.nLink;
  if (!compound && n > 1) return e4index;
  for (LINK4* link = list4first(&i->tags); link != nullptr; link = list4next(&i->tags, link)) {
    TAG4FILE* t = index4tagOf(link);
    if (t->disabled || t->expr == nullptr)
      return error4describe(c, e4index, index4locReindexKeys, i->file.name, t->name, nullptr);
  }
  const int32_t records = data4recCount(d);
  if (records < 0) return error4code(c) < 0 ? -1 : error4(c, e4index, index4locReindexKeys);

  *result = Reindex4Result{};
  result->version = index4exclusive(i) ? i->versionSeen : i->versionSeen + 1;
  // The nodes follow the last header.
  uint64_t headersEnd = cdx4headerSize;
  if (compound) {
    int32_t k = 1;
    for (LINK4* link = list4first(&i->tags); link != nullptr; link = list4next(&i->tags, link), k++)
      headersEnd = std::max(headersEnd,
                            block4toOffset(i, headerBlockOf(i, index4tagOf(link), k)) + cdx4headerSize);
  }
  const uint32_t firstBlock = block4fromOffset(i, headersEnd);
  Reindex4Writer w(c, i, target, &progress);
  if (int32_t rc = w.start(firstBlock); rc < 0) return rc;
  if (compound) {
    if (int32_t rc = writeTagOfTags(w, i, &result->tagOfTagsRoot); rc != 0) return rc;
  }
  // Each step's counter starts again at 0 before its fraction is set: a
  // reader between the two sees too little, never too much (see
  // index4reindexProgress).
  progress.counter = 0;
  progress.fraction = 0.025 / std::max(n, 1);

  std::vector<Reindex4Header> headers(1);
  LINK4* handleLink = list4first(&index->tags);
  int32_t k = 1;
  for (LINK4* link = list4first(&i->tags); link != nullptr;
       link = list4next(&i->tags, link), k++, handleLink = list4next(&index->tags, handleLink)) {
    TAG4FILE* t = index4tagOf(link);
    const TAG4* handle = handleLink != nullptr ? index4handleTagOf(handleLink) : nullptr;
    const int32_t keyLength = index4keyLength(t);
    if (keyLength <= 0 || keyLength > cdx4keyLengthMax)
      return error4describe(c, e4index, index4locReindexKeys, i->file.name, t->name, nullptr);
    SortGuard s;
    if (int32_t rc = reindex4readKeys(index, t, keyLength, records, &s.sort); rc < 0) return rc;
    Reindex4TagShape shape;
    shape.name = t->name;
    shape.keyLength = keyLength;
    shape.pad = t->pad;
    shape.keepTrailing = t->keepTrailing;
    shape.records = static_cast<uint32_t>(records);
    shape.uniqueMode = handle != nullptr ? duplicateMode(handle) : 0;
    uint32_t root = 0;
    if (int32_t rc = w.writeTag(shape, &s.sort, &root); rc != 0) return rc;
    const uint32_t block = compound ? headerBlockOf(i, t, k) : 0;
    result->roots.push_back(root);
    result->headerBlocks.push_back(block);
    result->keyLengths.push_back(static_cast<uint16_t>(keyLength));
    if (compound) headers.push_back(tagHeader(t, block, root, result->version, keyLength));
    else headers[0] = tagHeader(t, 0, root, result->version, keyLength);
    progress.counter = 0;
    progress.fraction = k * 0.95 / std::max(n, 1);
  }

  if (int32_t rc = w.finishNodes(); rc < 0) return rc;
  progress.fraction = 0.955;
  if (compound) {
    Reindex4Header& file = headers[0];
    cdx4headerInitTagOfTags(&file.header, i->blockSize, i->multiplier);
    file.header.root = result->tagOfTagsRoot;
    file.header.version = result->version;
    file.block = 0;
  } else if (n == 0) {
    return e4index;
  } else if (i->blockSize != cdx4defaultBlockSize || i->multiplier != cdx4defaultMultiplier) {
    Reindex4Header& file = headers[0];
    file.header.blockSizeMarker = cdx4blockSizeMarker;
    file.header.blockSize = i->blockSize;
    file.header.multiplier = i->multiplier;
  }
  const int32_t rc = w.writeHeaders(headers);
  progress.fraction = 1.0;
  return rc;
}
