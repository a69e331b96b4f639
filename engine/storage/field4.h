// FIELD4: one field of an open table, built from its descriptor when the
// table is opened. Values are read and assigned in the handle's current
// record buffer through the field operations.
#pragma once

#include <cstdint>

struct DATA4;
struct MEMO4FIELD;

struct FIELD4 {
  char name[11] = {};      // upper case, NUL-terminated
  uint16_t length = 0;     // bytes in the record
  uint16_t decimals = 0;
  int16_t type = 0;        // the descriptor's letter, upper case
  uint32_t offset = 0;     // first byte in the record; the first field is at 1
  DATA4* data = nullptr;
  int8_t nullable = 0;     // version 0x30 files only
  uint16_t nullBit = 0;    // among the nullable fields, from 0
  int8_t binary = 0;       // 1 binary storage; 2 an M or G field (0x30 files only)
  uint16_t nullByte = 0;   // nullBit / 8
  uint8_t nullMask = 0;    // 1 << (nullBit % 8)
  MEMO4FIELD* memo = nullptr;  // the memo buffer entry of an M or G field
  int16_t validityMarker = 0;
  int8_t autoIncrement = 0;
};

// The field's bytes in the current record buffer.
char* field4ptr(const FIELD4* field);
uint32_t field4len(const FIELD4* field);
int32_t field4decimals(const FIELD4* field);
int field4type(const FIELD4* field);
const char* field4name(const FIELD4* field);

// Blanks the value: blanks for text storage, zero bytes for binary storage,
// 1899-12-30 for a '2' field.
int32_t field4blank(FIELD4* field);

// Writes the blank value of `field` into `bytes` (the field's length).
void field4blankBytes(const FIELD4* field, char* bytes);
