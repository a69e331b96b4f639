#include "engine/storage/seqread4.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4queue.h"
#include "engine/storage/request4.h"

namespace {

constexpr int32_t kLocRead = 90081;
constexpr int32_t kLocReadAll = 90082;
constexpr int32_t kLocInit = 90083;
constexpr uint64_t k4GiB = 1ull << 32;

uint32_t roundDownToKiB(uint32_t size) { return size & ~1023u; }

// Runs on the read-ahead worker, inside its section: it only records.
void halfArrived(void* data, int32_t result) {
  auto* context = static_cast<Seq4ReadFields::HalfContext*>(data);
  FILE4SEQREAD* reader = context->reader;
  // Notified under the lock: once it is released the owner may end the
  // reader, condition variable and all.
  std::lock_guard guard(reader->mutex);
  reader->halfResult[context->half] = result;
  reader->halfState[context->half] = seq4ready;
  reader->changed.notify_all();
}

// Takes what a half holds: the result of its read-ahead (a request's read
// result), or request4readSuperseded when it has none (idle, or superseded
// by a write), after waiting for one in flight.
int32_t takeHalf(FILE4SEQREAD* r, int half) {
  std::unique_lock lock(r->mutex);
  r->changed.wait(lock, [&] { return r->halfState[half] != seq4reading; });
  const int32_t result =
      r->halfState[half] == seq4ready ? r->halfResult[half] : request4readSuperseded;
  r->halfState[half] = seq4idle;
  return result;
}

void readAheadInto(FILE4SEQREAD* r, int half) {
  {
    std::lock_guard guard(r->mutex);
    r->halfState[half] = seq4reading;  // before queueing: the completion may run at once
  }
  if (file4advanceRead(r->file, r->position, r->halves[half], r->size, halfArrived,
                       &r->contexts[half]) != r4queued) {
    std::lock_guard guard(r->mutex);
    r->halfState[half] = seq4idle;
  }
}

void refill(FILE4SEQREAD* r) {
  const uint32_t asked = r->nextReadSize;
  uint32_t got;
  if (r->isDouble && !r->file->isLong) {
    const int half = 1 - r->currentHalf;
    r->currentHalf = half;
    r->current = r->halves[half];
    const int32_t ahead = takeHalf(r, half);
    if (ahead >= 0) {
      got = static_cast<uint32_t>(ahead);
    } else if (const int32_t refused = request4refusedErrno(ahead); refused != 0) {
      // A refused half is this read's failure: a read again could hide a
      // failing disk.
      file4readFailed(r->file, refused);
      got = 0;
    } else {
      got = file4readInternal(r->file, r->position, r->current, asked);
    }
  } else {
    got = file4readInternal(r->file, r->position, r->current, asked);
  }
  r->available = r->left = got;
  r->position += got;
  r->nextReadSize = r->size;
  // A full transfer means the file may go on: fetch the next half meanwhile.
  if (r->isDouble && got == asked && got > 0) readAheadInto(r, 1 - r->currentHalf);
}

}  // namespace

int32_t file4seqReadInit(FILE4SEQREAD* r, FILE4* f, uint64_t start, void* buffer,
                         uint32_t bufferSize, int doubleBuffer) {
  if (r == nullptr || f == nullptr) return error4(nullptr, e4parm, kLocInit);
  file4seqReadDone(r);  // a reader used again must not have a read in flight
  static_cast<Seq4ReadFields&>(*r) = Seq4ReadFields{};
  r->halfState[0] = r->halfState[1] = seq4idle;
  // The reader reads the disk: what the block cache holds of the file must
  // be there first, or the reader would see older bytes.
  const int32_t written = file4flushBlocks(f, 1);
  auto* bytes = static_cast<char*>(buffer);
  if (bytes != nullptr && bufferSize > 0) {
    if (doubleBuffer == 1 && bufferSize >= 2048) {
      r->isDouble = true;
      r->size = roundDownToKiB(bufferSize / 2);
      r->halves[0] = bytes;
      r->halves[1] = bytes + r->size;
      r->current = r->halves[1];
      for (int half = 0; half < 2; half++) r->contexts[half] = {r, half};
    } else {
      // A buffer below 1 KiB would hold no whole transfer: read unbuffered.
      r->size = roundDownToKiB(bufferSize);
      r->current = r->size > 0 ? bytes : nullptr;
    }
  }
  r->nextReadSize = r->size;
  const uint32_t misalignment = static_cast<uint32_t>(start % 1024);
  if (start < k4GiB && r->size > misalignment) r->nextReadSize = r->size - misalignment;
  r->position = start;
  r->file = f;
  return written < 0 ? -1 : 0;
}

uint32_t file4seqRead(FILE4SEQREAD* r, void* destination, uint32_t n) {
  if (r == nullptr || (destination == nullptr && n > 0)) {
    error4(nullptr, e4parmNull, kLocRead);
    return 0;
  }
  CODE4* c = r->file == nullptr ? nullptr : r->file->codeBase;
  if (c == nullptr || error4code(c) < 0) return 0;
  auto* out = static_cast<char*>(destination);
  if (r->current == nullptr) {
    const uint32_t got = file4readInternal(r->file, r->position, out, n);
    r->position += got;
    return got;
  }
  uint32_t total = 0;
  while (n > 0) {
    if (r->left == 0) {
      refill(r);
      if (r->left == 0) break;  // end of file: deliver what there is
    }
    const uint32_t take = std::min(n, r->left);
    std::memcpy(out + total, r->current + (r->available - r->left), take);
    r->left -= take;
    total += take;
    n -= take;
  }
  return error4code(c) < 0 ? 0 : total;
}

int32_t file4seqReadAll(FILE4SEQREAD* r, void* destination, uint32_t n) {
  if (r == nullptr || (destination == nullptr && n > 0)) return error4(nullptr, e4parmNull, kLocReadAll);
  const uint32_t got = file4seqRead(r, destination, n);
  if (r->file == nullptr || error4code(r->file->codeBase) < 0) return -1;
  if (got != n) return file4readError(r->file, r->position, r->nextReadSize, "file4seqReadAll");
  return 0;
}

void file4seqReadDone(FILE4SEQREAD* r) {
  if (r == nullptr || !r->isDouble) return;
  std::unique_lock lock(r->mutex);
  r->changed.wait(lock, [&] { return r->halfState[0] != seq4reading && r->halfState[1] != seq4reading; });
}
