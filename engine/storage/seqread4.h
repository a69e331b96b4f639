// FILE4SEQREAD: reads a file from a start offset onwards through a caller's
// buffer. Double-buffered, one half is read ahead by the read-ahead worker
// while the caller consumes the other. After the first transfer every
// transfer starts on a 1 KiB boundary of the file.
//
// Calling order: file4seqReadInit, reads, then file4seqReadDone before the
// buffer is released (a read-ahead may still be filling it).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "engine/storage/file4.h"

struct FILE4SEQREAD;

enum : uint32_t {
  seq4idle = 1,
  seq4reading = 2,  // a read-ahead into the half is queued or running
  seq4ready = 3,    // the read-ahead is done; its result is waiting
};

struct Seq4ReadFields {
  struct HalfContext {  // what a half's read-ahead completion needs
    FILE4SEQREAD* reader;
    int half;
  };

  FILE4* file = nullptr;
  uint64_t position = 0;       // file offset of the next byte to fetch
  char* current = nullptr;     // the buffer being consumed; null: unbuffered
  uint32_t nextReadSize = 0;   // bytes asked for at the next refill
  uint32_t size = 0;           // buffer size, or half size when double
  uint32_t available = 0;      // bytes the last refill brought
  uint32_t left = 0;           // of those, not yet consumed
  bool isDouble = false;
  char* halves[2] = {nullptr, nullptr};
  int currentHalf = 1;         // the first refill moves to half 0
  HalfContext contexts[2] = {};
};

struct FILE4SEQREAD : Seq4ReadFields {
  std::mutex mutex;                // guards the half words below
  std::condition_variable changed;
  int32_t halfResult[2] = {0, 0};  // bytes a half's read-ahead brought; -1 superseded
  uint32_t halfState[2] = {seq4idle, seq4idle};
};

// 0, or -1 when the block cache could not first hand the disk what it
// holds of the file (the reader would read older bytes); the reader is set
// up either way and is done with file4seqReadDone.
int32_t file4seqReadInit(FILE4SEQREAD* reader, FILE4* f, uint64_t start, void* buffer,
                         uint32_t bufferSize, int doubleBuffer);
// Bytes delivered: fewer than n only at the end of the file; 0 on error.
uint32_t file4seqRead(FILE4SEQREAD* reader, void* destination, uint32_t n);
int32_t file4seqReadAll(FILE4SEQREAD* reader, void* destination, uint32_t n);
void file4seqReadDone(FILE4SEQREAD* reader);
