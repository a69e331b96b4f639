// FILE4SEQWRITE: writes a file from a start offset onwards through a
// caller's buffer cut in two halves; the write-behind worker writes one
// half while the caller fills the other. After the first transfer every
// transfer starts on a 1 KiB boundary of the file.
//
// Calling order: file4seqWriteInit, writes, then file4seqWriteFlush, which
// returns the first failure of the whole pass (a failure met by the worker
// is raised here, on the caller's thread).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "engine/storage/file4.h"

struct FILE4SEQWRITE;

struct Seq4WriteFields {
  struct HalfContext {  // what a half's write completion needs
    FILE4SEQWRITE* writer;
    int half;
  };

  FILE4* file = nullptr;
  uint64_t position = 0;   // file offset where the current half goes
  char* current = nullptr;  // the half being filled; null: unbuffered
  int currentHalf = 0;
  uint32_t halfSize = 0;   // a multiple of 512, at most 32256
  uint32_t capacity = 0;   // bytes the current fill may hold
  uint32_t space = 0;      // of those, still free
  char* halves[2] = {nullptr, nullptr};
  HalfContext contexts[2] = {};
  int32_t firstError = 0;  // the first failure of the pass, kept for flush
  std::thread::id owner;   // the thread that raises errors
};

struct FILE4SEQWRITE : Seq4WriteFields {
  std::mutex mutex;  // guards the half words below
  std::condition_variable changed;
  bool halfFree[2] = {true, true};
  int32_t halfResult[2] = {0, 0};   // a failed write of the half
  bool halfRaised[2] = {false, false};  // that failure was raised already
};

int32_t file4seqWriteInit(FILE4SEQWRITE* writer, FILE4* f, uint64_t start, void* buffer,
                          uint32_t bufferSize);
int32_t file4seqWrite(FILE4SEQWRITE* writer, const void* data, uint32_t n);
int32_t file4seqWriteBuffer(FILE4SEQWRITE* writer);
int32_t file4seqWriteFlush(FILE4SEQWRITE* writer);
int32_t file4seqWriteRepeat(FILE4SEQWRITE* writer, int64_t n, char byte);
