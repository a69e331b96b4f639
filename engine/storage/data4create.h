// Creating tables: the field and tag lists, and data4create.
#pragma once

#include <cstdint>

struct CODE4;
struct DATA4;

// Nulls values of a field entry.
enum : int16_t {
  field4nullable = 190,       // compatibility 30: the field may hold null
  field4autoIncrement = 195,  // the table's autoincrement field (type B)
};

// One field of a new table; a list ends with an entry whose name is null.
struct FIELD4INFO {
  const char* name = nullptr;
  int16_t type = 0;
  uint16_t len = 0;
  int16_t dec = 0;
  uint16_t nulls = 0;
};

// One tag of a new table's production index; a list ends with an entry
// whose name is null.
struct TAG4INFO {
  const char* name = nullptr;
  const char* expression = nullptr;
  const char* filter = nullptr;
  int16_t unique = 0;
  uint16_t descending = 0;
};

// What the field list of a new table amounts to.
struct Data4FieldSummary {
  int32_t recordLength = 0;  // delete flag and null flags included
  int32_t headerLength = 0;
  int32_t fieldCount = 0;
  int32_t nullableCount = 0;
  bool hasMemo = false;
  bool hasAutoIncrement = false;
};

// Returns the new table open, or null with the error in the settings object.
DATA4* data4create(CODE4* c, const char* name, const FIELD4INFO* fields, const TAG4INFO* tags);

// Checks the field list and computes the lengths: 0 or the raised code.
int32_t data4createCheckFields(CODE4* c, const FIELD4INFO* fields, Data4FieldSummary& summary);
