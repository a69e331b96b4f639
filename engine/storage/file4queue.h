// Queued transfers of one file: delayed writes for the write-behind worker
// and read-ahead for the read-ahead worker. Without a running worker a
// delayed write is done at once and a read-ahead is simply not queued.
//
// Reads and writes of the file layer consult these queues, so a caller
// always sees the newest bytes of a file, queued or not.
#pragma once

#include <cstdint>

#include "engine/storage/file4.h"

// Queues a write of the caller's bytes, which must stay valid until the
// completion runs: 7 when queued; else the write's result (a write the
// unflushed transaction log refuses among them), after the completion.
// -920 when no request can be had: then the completion never runs.
int32_t file4writeDelay(FILE4* f, uint64_t offset, const void* data, uint32_t n,
                        File4Completion completion, void* completionData);

// Settles the file's queued writes now: written (write = 1) or dropped.
// 0, or -1 when the disk refused one of them (raised).
int32_t file4writeDelayFlush(FILE4* f, int write);

// Queues a read-ahead into the caller's buffer: 7 when queued, 0 when the
// worker does not run (nothing is queued, the completion never runs).
int32_t file4advanceRead(FILE4* f, uint64_t offset, void* buffer, uint32_t n,
                         File4Completion completion, void* completionData);

// Drops the file's queued reads without calling their completions, after
// any read in progress has finished.
void file4advanceCancel(FILE4* f);

// Gives bytes just written (or read) at [offset, +length) to the queued
// reads they cover; reads they cover only in part are superseded (result
// -1) when invalidate is set.
void file4advanceReadWriteOver(FILE4* f, uint64_t offset, uint32_t length, const void* bytes,
                               int invalidate);

// Reads ahead, into the file's own buffer, the block-cache block that holds
// [offset, +length): only for a file the started cache serves, while the
// read-ahead worker runs, and when the cache does not hold that block.
// Nothing happens while the buffer already holds that block or a read of
// another one is in flight. A hint: the only error it can raise is the
// worker's lack of a request (-920 at 90080).
void file4advanceReadBlock(FILE4* f, uint64_t offset, uint32_t length);

// Internal to the file layer, the file's own read-ahead buffer:
// - take: copies [position, +n) from the buffer when it holds all of it,
//   waiting for the read in flight that will; when that read was refused,
//   empties the buffer and notes the failure (file4readFailed), for the
//   caller to fail with;
// - write over: bytes written (or queued for writing) at [offset, +n)
//   reach the buffer;
// - drop: what the buffer holds, or will, is no longer to be trusted;
// - forget: empties it once the file's queued reads are cancelled;
// - release: forget and free the area, at close.
File4Ahead file4aheadTake(FILE4* f, uint64_t position, void* buffer, uint32_t n);
void file4aheadWriteOver(FILE4* f, uint64_t offset, uint64_t n, const void* bytes);
void file4aheadDrop(FILE4* f);
void file4aheadForget(FILE4* f);
void file4aheadRelease(FILE4* f);

// The end of the furthest write of `f` still queued; 0 when none is.
uint64_t file4pendingWritesEnd(FILE4* f);

// Internal to the file layer: the file's queued writes are performed in
// order before a write at [offset, +length) (those it wholly covers are
// dropped), and cut or dropped at a new length.
void file4settleWrites(FILE4* f, uint64_t offset, uint64_t length);
void file4cutWrites(FILE4* f, uint64_t newLength);
