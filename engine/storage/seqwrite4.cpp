#include "engine/storage/seqwrite4.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4queue.h"

namespace {

constexpr int32_t kLocWrite = 90084;
constexpr int32_t kLocBuffer = 90085;
constexpr int32_t kLocRepeat = 90087;
constexpr uint64_t k4GiB = 1ull << 32;
constexpr uint32_t kRepeatBlock = 512;

// Runs on the write-behind worker, or on the owner when it writes the half
// itself; a failure on the owner's thread has been raised already.
void halfWritten(void* data, int32_t result) {
  auto* context = static_cast<Seq4WriteFields::HalfContext*>(data);
  FILE4SEQWRITE* w = context->writer;
  // Notified under the lock: once it is released the owner may end the
  // writer, condition variable and all.
  std::lock_guard guard(w->mutex);
  w->halfFree[context->half] = true;
  w->halfResult[context->half] = result;
  w->halfRaised[context->half] = std::this_thread::get_id() == w->owner;
  w->changed.notify_all();
}

// Waits until the half's write is done and takes its outcome, raising a
// failure the worker met.
void collectHalf(FILE4SEQWRITE* w, int half) {
  int32_t result;
  bool raised;
  {
    std::unique_lock lock(w->mutex);
    w->changed.wait(lock, [&] { return w->halfFree[half]; });
    result = w->halfResult[half];
    raised = w->halfRaised[half];
    w->halfResult[half] = 0;
  }
  if (result >= 0) return;
  // Only the first failure of a pass is raised; the rest follow from it.
  if (!raised && w->firstError == 0) error4describe(w->file->codeBase, e4write, kLocBuffer, w->file->name, nullptr, nullptr);
  if (w->firstError == 0) w->firstError = result;
}

// A file the block cache serves takes the half through the cache, which
// stays the one view of its bytes; the file layer raises a failure.
int32_t handOverCached(FILE4SEQWRITE* w, uint32_t bytes) {
  if (file4write(w->file, w->position, w->current, bytes) < 0 && w->firstError == 0)
    w->firstError = e4write;
  w->position += bytes;
  w->capacity = w->space = w->halfSize;
  return w->firstError;
}

int32_t handOver(FILE4SEQWRITE* w) {
  const uint32_t bytes = w->capacity - w->space;
  if (bytes > 0 && w->file->cached) return handOverCached(w, bytes);
  if (bytes > 0) {
    const int half = w->currentHalf;
    {
      std::lock_guard guard(w->mutex);
      w->halfFree[half] = false;
    }
    const int32_t rc = file4writeDelay(w->file, w->position, w->current, bytes, halfWritten,
                                       &w->contexts[half]);
    if (rc == e4memory) {  // never queued: no completion will free the half
      std::lock_guard guard(w->mutex);
      w->halfFree[half] = true;
    }
    if (rc < 0 && w->firstError == 0) w->firstError = rc;
    const int other = 1 - half;
    collectHalf(w, other);
    w->currentHalf = other;
    w->current = w->halves[other];
    w->position += bytes;
  }
  w->capacity = w->space = w->halfSize;
  return w->firstError;
}

int32_t checkWriter(FILE4SEQWRITE* w, int32_t location) {
  if (w == nullptr) return error4(nullptr, e4parmNull, location);
  if (w->file == nullptr) return 0;
  CODE4* c = w->file->codeBase;
  if (c == nullptr) return error4(nullptr, e4write, kLocWrite);
  if (error4code(c) < 0) return -1;
  return 1;
}

}  // namespace

int32_t file4seqWriteInit(FILE4SEQWRITE* w, FILE4* f, uint64_t start, void* buffer,
                          uint32_t bufferSize) {
  static_cast<Seq4WriteFields&>(*w) = Seq4WriteFields{};
  w->halfFree[0] = w->halfFree[1] = true;
  w->halfResult[0] = w->halfResult[1] = 0;
  file4flushBlocks(f, 1);
  w->file = f;
  w->owner = std::this_thread::get_id();
  if (buffer != nullptr) {
    // Halves are whole 512-byte blocks of at most 32256 bytes; a larger
    // buffer uses that much rather than wrapping to nothing.
    w->halfSize = std::min<uint32_t>(bufferSize / 2, 0x7E00) & ~511u;
    w->halves[0] = static_cast<char*>(buffer);
    w->halves[1] = w->halves[0] + w->halfSize;
    w->current = w->halfSize > 0 ? w->halves[0] : nullptr;
    for (int half = 0; half < 2; half++) w->contexts[half] = {w, half};
    const uint32_t misalignment = static_cast<uint32_t>(start % 1024);
    if (start < k4GiB && w->halfSize > misalignment)
      w->capacity = w->space = w->halfSize - misalignment;
  }
  w->position = start;
  return 0;
}

int32_t file4seqWrite(FILE4SEQWRITE* w, const void* data, uint32_t n) {
  if (w == nullptr || (data == nullptr && n > 0)) return error4(nullptr, e4parmNull, kLocWrite);
  if (w->file == nullptr || w->file->codeBase == nullptr) return error4(nullptr, e4write, kLocWrite);
  if (error4code(w->file->codeBase) < 0) return -1;
  if (w->current == nullptr) {
    const int32_t rc = file4write(w->file, w->position, data, n);
    w->position += n;
    if (rc < 0 && w->firstError == 0) w->firstError = rc;
    return rc;
  }
  const auto* bytes = static_cast<const char*>(data);
  while (n > 0) {
    if (w->space == 0 && handOver(w) < 0) return -1;
    const uint32_t take = std::min(n, w->space);
    std::memcpy(w->current + (w->capacity - w->space), bytes, take);
    w->space -= take;
    bytes += take;
    n -= take;
  }
  return 0;
}

int32_t file4seqWriteBuffer(FILE4SEQWRITE* w) {
  const int32_t check = checkWriter(w, kLocBuffer);
  if (check <= 0) return check;
  return handOver(w);
}

int32_t file4seqWriteFlush(FILE4SEQWRITE* w) {
  if (w == nullptr || w->file == nullptr) return 0;
  int32_t rc = w->current == nullptr ? w->firstError : file4seqWriteBuffer(w);
  if (w->current != nullptr) {
    // Even with an error pending, no half may stay in flight: the caller
    // frees the buffer after this.
    file4writeDelayFlush(w->file, 1);
    collectHalf(w, 1);
    collectHalf(w, 0);
  }
  file4flushBlocks(w->file, 1);
  if (w->firstError < 0) return w->firstError;
  return rc;
}

int32_t file4seqWriteRepeat(FILE4SEQWRITE* w, int64_t n, char byte) {
  if (w == nullptr || n < 0) return error4(nullptr, e4parm, kLocRepeat);
  char block[kRepeatBlock];
  std::memset(block, byte, sizeof block);
  while (n > 0) {
    const uint32_t chunk = static_cast<uint32_t>(std::min<int64_t>(n, kRepeatBlock));
    const int32_t rc = file4seqWrite(w, block, chunk);
    if (rc < 0) return rc;
    n -= chunk;
  }
  return 0;
}
