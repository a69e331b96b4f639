// TAG4: one tag as one data handle's index sees it, and key maintenance:
// adding and removing the key of one record.
//
// The record layer evaluates the key expression and the filter; these
// operations take the key bytes it built (the tag's key length, in key
// form) and the record number.
//
// Unique modes (TAG4::uniqueMode), from the tag's options when its index
// opens:
//    0   keys may repeat; equal keys are kept in record-number order
//   15   a duplicate or null key refuses the record quietly (result 20)
//   20   a duplicate key refuses the record quietly (result 20)
//   25   the record is kept, its duplicate key left out (result 25, a
//        success for every caller)
//  -340  a duplicate key raises -340
//  -360  a duplicate or null key raises -340
// Any other non-zero mode is treated as 25.
#pragma once

#include <cstdint>

#include "engine/storage/list4.h"

struct CODE4;
struct INDEX4;
struct TAG4FILE;

struct TAG4 {
  LINK4 link;               // in its INDEX4's list
  INDEX4* index = nullptr;  // set by the index layer
  TAG4FILE* tagFile = nullptr;
  int16_t uniqueMode = 0;
  // Keys removed from this tag during the current transaction and not yet
  // taken out of the tree (TAG4PENDING units, newest first).
  LIST4 removed;
};

// One key removed during a transaction: the record, then the key (the
// tag's key length).
struct TAG4PENDING {
  LINK4 link;
  uint32_t record = 0;
  unsigned char* key() { return reinterpret_cast<unsigned char*>(this + 1); }
};

// The unique mode a tag with header options `options` gets when its index
// opens: 0x04 gives 15 (or -360 when the settings' unique default is
// -340), 0x01 the settings' unique default, neither 0.
int16_t tag4uniqueModeFor(const CODE4* c, uint8_t options);
// The tag's unique mode; -930 at 90155 for a TAG4 without tag file.
int32_t tag4uniqueMode(const TAG4* t);

// Adds the key of `record`: 0 added (or that very entry was already
// there), 20 refused, 25 kept without its key, or a negative error
// (-340 at 90384 naming the tag for modes -340 and -360). `nullKey` tells
// that the key expression's nullable fields are null for this record.
// During a transaction, for modes 20, -340 and 15, a pending removal of
// this key is settled first (see tag4pending.cpp).
// On a file shared for writing that is not locked, the add takes the
// index lock for its own duration (50 when another holds it). A file
// opened for reading only is refused (-120).
int32_t tagfile4add(TAG4* t, const unsigned char* key, uint32_t record, bool nullKey = false);
// Removes the entry of `key` and `record`: 0, 5 when it is not in the tag,
// or a negative error. Locks as tagfile4add does.
int32_t tagfile4remove(TAG4FILE* t, const unsigned char* key, uint32_t record);

// Pending removals of a transaction. Push puts {record, key} first on the
// list (0 or -920); find returns the first entry of `key` for `record` (0:
// any record) or null; drop unlinks and frees one; clear frees them all.
int32_t tag4pendingPush(TAG4* t, uint32_t record, const unsigned char* key);
TAG4PENDING* tag4pendingFind(TAG4* t, uint32_t record, const unsigned char* key);
void tag4pendingDrop(TAG4* t, TAG4PENDING* entry);
void tag4pendingClear(TAG4* t);
