// TAG4FILE: one tag (B-tree) of an open CDX file, and the walks through it.
//
// A tag's leaves hold every record's key in key order, equal keys ordered
// by record number. Each tag keeps one cursor, shared by every handle on
// its table: the path of nodes from the root down to the current leaf, each
// node with its cursor on the entry the path follows. Nodes that leave the
// path stay cached on the spare list until a walk needs another block (see
// tag4cache.cpp). Keys are bytes of the tag's key length in key form; the
// record layer builds them (the key routines below convert seek values).
//
// A descending tag stores its keys ascending like any other; the flag
// reverses top and bottom, the direction of skips and where a seek lands.
//
// Results: every operation returns -1 at once while the settings object
// holds a negative error code; damage found in the file gives -310 with a
// location and the tag's name, never a crash or an endless walk.
//
// Thread rule: used from the thread that owns the table.
#pragma once

#include <cstdint>

#include "engine/index/cdx4header.h"
#include "engine/storage/list4.h"
#include "engine/storage/memory4.h"

struct BLOCK4;
struct B4KEY_DATA;
struct CODE4;
struct EXPR4;
struct INDEX4FILE;
struct TAG4FILE;

// Orders a stored key against a search value over `length` bytes: -1 when
// the stored bytes are greater, else the number of leading bytes that are
// equal (`length` when all are).
using Tag4Compare = int32_t (*)(const unsigned char* stored, const unsigned char* value,
                                int32_t length);

// Plain unsigned byte order, the machine order of every tag without a
// collation.
int32_t tag4compareBytes(const unsigned char* stored, const unsigned char* value, int32_t length);

// The converters a tag uses to turn a seek argument into key form, chosen
// by its key type (tag4keytype.h). Each writes at most the tag's key length
// bytes into `key` and returns the length of the key it made, or a negative
// error. A null routine: the key type has no such conversion.
struct Tag4KeyRoutines {
  int32_t (*fromText)(const TAG4FILE* t, unsigned char* key, const char* text,
                      int32_t length) = nullptr;
  int32_t (*fromDouble)(const TAG4FILE* t, unsigned char* key, double value) = nullptr;
};

// The deepest tree a tag walks: deeper is damage (a loop of child pointers
// that never repeats a block on the path ends here).
inline constexpr int tag4depthMax = 64;

// Collation number of machine order.
inline constexpr int32_t tag4machineOrder = 1;

struct TAG4FILE {
  LINK4 link;  // in the index file's list of tags
  INDEX4FILE* indexFile = nullptr;
  CODE4* codeBase = nullptr;
  // Upper case, trailing blanks removed.
  char name[cdx4tagNameLength + 1] = {};
  // Compiled by the index layer and evaluated by the record layer; the tree
  // operations never look at them.
  EXPR4* expr = nullptr;
  EXPR4* filter = nullptr;
  Cdx4Header header;         // root, key length, options, ...
  uint32_t headerBlock = 0;  // where `header` lives; 0 for the tag of tags
  // The root pointer changed in memory (a root split of an exclusive file)
  // and is due at the tag header.
  bool rootChanged = false;
  // Fills a key's unused tail; leaves store it as a trailing count only.
  // Blank for character keys in machine order and for the tag of tags, 0
  // for the other key types and for collated keys.
  unsigned char pad = ' ';
  // True for a filtered tag of a compatibility-26 table: trailing pad
  // bytes are stored as they are, never counted.
  bool keepTrailing = false;
  Tag4Compare compare = tag4compareBytes;
  Tag4KeyRoutines keyRoutines;
  char keyType = 'C';  // the key expression's result type
  int32_t collation = tag4machineOrder;
  bool wideKey = false;  // key type W or O
  // The filter marker byte was written (once per open tag, before the first
  // key added to a filtered tag).
  bool filterMarked = false;
  // Kept in the list of a file opened for reading only although its header
  // or its expressions could not be used: every walk refuses it (-310).
  bool disabled = false;
  // The cursor: path[0] is the root and path[depth - 1] the current node,
  // each with its cursor on the entry the path follows. After a skip that
  // crossed to a sibling leaf the path holds that leaf alone.
  BLOCK4* path[tag4depthMax] = {};
  int32_t depth = 0;
  // Cached nodes off the path (BLOCK4::link), any of them changed.
  LIST4 spares;
  // Nodes that hold no block any more, kept for the next read: a walk down
  // a tree too large to stay cached then allocates nothing (every
  // allocation and release takes the memory pools' process-wide lock).
  LIST4 idle;
  // The number of records the leaf widths must cover (the table's record
  // count; for the tag of tags 1024 per tag). Null counts as 0.
  uint32_t (*recordCount)(void* data) = nullptr;
  void* recordCountData = nullptr;
  // Units of {record number, key, terminating byte}: the nodes' work
  // buffers.
  MEMORY4* keyMemory = nullptr;
};

// Binds the tag to its file and header and makes the key pool (-920 at
// 90012). The header must have passed cdx4fileHeaderRead or
// cdx4tagHeaderRead (or been made by this engine).
int32_t tagfile4initNodes(TAG4FILE* t, INDEX4FILE* i, uint32_t headerBlock, const Cdx4Header& h);
void tagfile4releaseNodes(TAG4FILE* t);

// A tag of an open file: tagfile4initNodes, the name (upper-cased, cut to
// 10 characters, trailing blanks removed), character keys in machine order,
// and its place in the file: the header at block 0 becomes the file's
// tagIndex (and, without the tag-of-tags option 0x80, also its only tag);
// every other header joins the file's list. 0 or a negative error.
int32_t tagfile4init(TAG4FILE* t, INDEX4FILE* i, uint32_t headerBlock, const Cdx4Header& h,
                     const char* name);
// Writes and frees every cached node and the root when it changed, leaves
// the file's list and frees the key pool: 0 or the first error.
int32_t tagfile4release(TAG4FILE* t);
// Gives the tag a new empty root leaf from index4extend, written at once:
// 0 or a negative error. The root pointer is due at the tag header.
int32_t tagfile4rootCreate(TAG4FILE* t);

inline int32_t tagfile4keyLength(const TAG4FILE* t) { return t->header.keyLength; }
uint32_t tagfile4widthRecords(const TAG4FILE* t);
inline bool tagfile4descending(const TAG4FILE* t) { return t->header.descending != 0; }
// The key type: the result type of the key expression.
char tagfile4type(const TAG4FILE* t);

// Positioning. Top and bottom: 0, on the first or last key (swapped for a
// descending tag); an empty tag leaves the cursor after its last key.
int32_t tagfile4top(TAG4FILE* t);
int32_t tagfile4bottom(TAG4FILE* t);
// 0: on the first key that begins with `value` (the last such key in a
// descending tag); 2: on the next key in the tag's order; 3: after the last
// key. `length` is cut to the key length.
int32_t tagfile4seek(TAG4FILE* t, const void* value, int32_t length);
// Ascending whatever the tag: 0 on the entry of this key and record (only
// when `flag` is 0), 1 the key is present for another record (or, with
// `flag` 1, for this one), 2 the key is absent; the cursor is where this
// record's entry is or belongs. `key` is a whole key.
int32_t tagfile4seekRecord(TAG4FILE* t, const void* key, uint32_t record, int flag);
// Moves n keys in the tag's order, stopping on the key at either end: 0
// with the keys moved in `*moved` (with the sign of n), or a negative
// error. A node the disk could not read is such an error, never the end
// of the tag; after one the cursor has no place (tagfile4recNo -2) until a
// top, bottom or seek.
int32_t tagfile4skipMoved(TAG4FILE* t, int32_t n, int32_t* moved);
// One key on in the tag's order (`step` 1) or back (-1): 1 moved, 0 at the
// end of the tag, or the negative error of tagfile4skipMoved.
int32_t tagfile4step(TAG4FILE* t, int32_t step);
// As tagfile4skipMoved, with the keys moved or the error as one result. A
// skip back cannot always tell them apart (-1 is one key back, and also the
// answer while an error is pending): the record layer skips with
// tagfile4skipMoved.
int32_t tagfile4skip(TAG4FILE* t, int32_t n);

// The record number at the cursor: 0 for an empty tag, -1 after the last
// key, -2 with no node loaded.
int64_t tagfile4recNo(TAG4FILE* t);
// True when the current leaf is empty or the cursor is after its last key;
// false while no node is loaded.
bool tagfile4eof(TAG4FILE* t);
// {record, key} at the cursor, or null. tagfile4keyEntry gives the key
// alone (-935 at 90150 for a null tag).
B4KEY_DATA* tagfile4key(TAG4FILE* t);
unsigned char* tagfile4keyEntry(TAG4FILE* t);

// Writes every changed cached node and, when the root changed, the 4-byte
// root at the tag header: 0 or the first error.
int32_t tagfile4flush(TAG4FILE* t);
// Writes every changed cached node (and the root when it changed), then
// empties the path and frees every node; the next walk reads from the
// root. 0, or the first write error: then every node is kept, the changed
// ones still changed, for a later flush.
int32_t tagfile4freeAll(TAG4FILE* t);
