// TAG4FILE: one tag (B-tree) of an open CDX file, as far as its nodes use
// it. The tag layer grows it (name, expressions, path and spare lists,
// key routines by key type, collation); these fields and their meaning
// stay.
#pragma once

#include <cstdint>

#include "engine/index/cdx4header.h"
#include "engine/storage/list4.h"
#include "engine/storage/memory4.h"

struct CODE4;
struct INDEX4FILE;

// Orders a stored key against a search value over `length` bytes: -1 when
// the stored bytes are greater, else the number of leading bytes that are
// equal (`length` when all are).
using Tag4Compare = int32_t (*)(const unsigned char* stored, const unsigned char* value,
                                int32_t length);

// Plain unsigned byte order, the machine order of every tag without a
// collation.
int32_t tag4compareBytes(const unsigned char* stored, const unsigned char* value,
                         int32_t length);

struct TAG4FILE {
  LINK4 link;
  INDEX4FILE* indexFile = nullptr;
  CODE4* codeBase = nullptr;
  Cdx4Header header;           // root, key length, options, ...
  uint32_t headerBlock = 0;    // where `header` lives; 0 for the tag of tags
  // Fills a key's unused tail; leaves store it as a trailing count only.
  // Blank for character keys in machine order and for the tag of tags, 0
  // for the other key types and for collated keys.
  unsigned char pad = ' ';
  // True for a filtered tag of a compatibility-26 table: trailing pad
  // bytes are stored as they are, never counted.
  bool keepTrailing = false;
  Tag4Compare compare = tag4compareBytes;
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

inline int32_t tagfile4keyLength(const TAG4FILE* t) { return t->header.keyLength; }
uint32_t tagfile4widthRecords(const TAG4FILE* t);
