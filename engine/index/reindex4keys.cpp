// Reading one tag's keys from the table for a rebuild: every record, in
// record order, through a sequential reader, into the handle's record
// buffer, where the tag's filter and key expression are evaluated.
#include <algorithm>
#include <memory>
#include <new>

#include "engine/index/reindex4internal.h"
#include "engine/index/sort4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
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
  std::atomic<int64_t>& counter = c->reindexProgress.counter;
  for (int32_t record = 1; record <= records; record++) {
    if (int32_t rc = file4seqReadAll(&r.reader, d->record, df->recordLength); rc < 0) return rc;
    d->recNum = record;
    for (MEMO4FIELD& memo : d->memoFields) memo.notRead = 1;
    counter.fetch_add(1, std::memory_order_relaxed);
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
