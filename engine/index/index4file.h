// INDEX4FILE: one open CDX file, shared by every data handle of its table
// that opened it (see index4.h for opening, creating and closing).
//
// Thread rule: used from the thread that owns the table; the file's own
// section guards each transfer. Between processes the index lock byte and
// the header's version counter guard the tree (see tag4lock.cpp).
#pragma once

#include <cstdint>

#include "engine/storage/file4.h"
#include "engine/storage/list4.h"
#include "engine/storage/memory4.h"

struct CODE4;
struct DATA4FILE;
struct TAG4FILE;

struct INDEX4FILE {
  LINK4 link;  // in its data file's list of index files
  CODE4* codeBase = nullptr;
  FILE4 file;
  // The table the file belongs to; null for a file opened without one.
  DATA4FILE* dataFile = nullptr;
  // INDEX4 objects using the file. The production index stays open with
  // no user while its table does (a later handle shares it again).
  int32_t userCount = 0;
  // Set once the file has been read or built completely; a file that is
  // not valid is closed in full by its first close.
  bool isValid = false;
  // The tag of tags. Its header is the file header, which holds the
  // free-list head that index4extend and index4freeBlock keep and the
  // version counter.
  TAG4FILE* tagIndex = nullptr;
  // Every other tag of the file (TAG4FILE::link), in the order of the tag
  // of tags.
  LIST4 tags;
  uint32_t blockSize = 512;
  uint32_t multiplier = 1;
  // The block a new node gets when the free list is empty.
  uint32_t eofBlock = 0;
  // One unit per node in memory: a BLOCK4 followed by its node image.
  MEMORY4* blockMemory = nullptr;

  // The file header's version as this process last read or wrote it, and
  // as it last wrote it. A change stores versionSeen + 1 in the header in
  // memory; a difference from versionWritten makes the header due.
  uint32_t versionSeen = 0;
  uint32_t versionWritten = 0;
  // The file header's change mark (cdx4header.h): `interrupted` when an
  // open found it set or a rebuild the records needed failed (the mark
  // then stays set until a rebuild), `changeMarked` while this process
  // has set it.
  bool interrupted = false;
  bool changeMarked = false;
  // The mark an open found said the disk had no room for every change.
  bool leftWithoutRoom = false;
  // The index lock: held for `lockOwner` (a data handle's id) while
  // `locked`.
  bool locked = false;
  int32_t lockOwner = 0;
  // Check each node read against its parent (see tag4descend.cpp).
  bool verifyNodes = true;
  // While set, a damaged node found by the node layer is answered with
  // -310 without raising (its location is kept in damageLocation): a walk
  // of a file another process may be writing reads it again instead.
  bool damageQuiet = false;
  int32_t damageLocation = 0;
};

// Sets the geometry (checked: -310 at 85305), takes the end-of-file block
// from the open file and makes the node pool (-920 at 90012). The file must
// be open.
int32_t indexfile4initNodes(INDEX4FILE* i, CODE4* c, uint32_t blockSize, uint32_t multiplier);
void indexfile4releaseNodes(INDEX4FILE* i);

// Joins the open file to the block cache as an index file, as the settings
// object's file buffering says (an exclusive file by default). 0 or the
// cache's error.
int32_t index4cacheJoin(INDEX4FILE* i);

// Takes the end-of-file block from the file length, rounded up to the next
// node boundary so that a file with a torn tail still gets aligned nodes,
// and never inside the file header.
int32_t index4eofTake(INDEX4FILE* i);

// True when another process may change the file while this one reads it
// without the index lock: the file is shared for writing and not locked.
bool index4othersMayWrite(const INDEX4FILE* i);
// True when the file is opened exclusively.
bool index4exclusive(const INDEX4FILE* i);

// A change to any tree of the file: the header's version becomes the
// version last seen + 1.
void index4changed(INDEX4FILE* i);

// The index lock: one byte at 0x7FFFFFFE of the file, taken with the
// settings object's lock attempts. 0 taken (or already held by `owner`),
// 50 held by another owner of this process or by another process, or a
// negative error. Taking it re-reads the file header: when the version
// changed, every tag's cached nodes are dropped and each tag that had a
// position is sought again on its key and record.
int32_t index4lock(INDEX4FILE* i, int32_t owner);
// Writes what changed (index4updateHeader), then releases the byte. An
// `owner` of 0 releases whoever holds it; another owner's lock is left.
// 0 or the first error.
int32_t index4unlock(INDEX4FILE* i, int32_t owner);
// For a reader without the lock: re-reads the file header and, when the
// version changed, drops and re-seeks as index4lock does. Nothing while
// the file is locked or exclusive. 0 or a negative error.
int32_t index4refresh(INDEX4FILE* i);
// Writes every changed node and root of every tag, then, when the version
// changed, the file header's first 16 bytes. Nothing unless the file is
// locked or exclusive. 0 or the first error.
int32_t index4updateHeader(INDEX4FILE* i);

// The change mark of a file held exclusively. Marking, before the first
// change since the file was last settled, writes the mark; settling, once
// every change and the records they index are synced, clears it; each is
// synced before it returns. 0 or the write's or sync's error; nothing for
// a file held otherwise.
int32_t index4changeMark(INDEX4FILE* i);
int32_t index4changeSettle(INDEX4FILE* i);
// A mark that stays set as the file closes says so (cdx4leftWithoutRoom)
// when a write this process asked of the disk was refused for want of
// room: the open that rebuilds the file can tell its user why. Written in
// place, it needs no room; 0 or the write's error.
int32_t index4changeLeft(INDEX4FILE* i);
