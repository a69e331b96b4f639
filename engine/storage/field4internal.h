// What the field operations share: argument checks, the write guard and
// its completion, the refusal of a type, and the settings object's work
// buffer. Internal to the field operations.
#pragma once

#include <cstdint>

#include "engine/storage/field4.h"

struct CODE4;

namespace field4detail {

// Raised (with the handle's settings object) when an operation does not
// support the field's type.
inline constexpr int32_t kLocTypeRefused = 80053;

// True when `field` is a valid field; otherwise -935 (null) or -930 has
// been raised at `location` without a settings object.
bool valid(const FIELD4* field, int32_t location);

// The result of a failed check, for operations answering with a code.
int32_t invalidResult(const FIELD4* field);

CODE4* codeBase(const FIELD4* field);

// Starts a write on a valid field: 0 when it may go ahead; -1 while the
// settings object holds an error; -50, raised at `location`, when locking
// is enforced and the handle does not hold its current record's lock.
int32_t beginWrite(FIELD4* field, int32_t location);

// Ends a successful write: the record is marked changed and the field's
// null flag cleared.
void finishWrite(FIELD4* field);

// Raises -930 at 80053 for a type the operation does not support and
// returns -930.
int32_t refuseType(const FIELD4* field);

// The field's bytes in the current record.
char* bytes(const FIELD4* field);
unsigned char* rawBytes(const FIELD4* field);

// Whether a field whose type holds a fixed-size binary value of `size`
// bytes is long enough to hold it. Descriptors come from the file, so a
// shorter field is refused like an unsupported type (-930 at 80053)
// rather than read or written beyond its end.
bool binaryFits(const FIELD4* field, uint32_t size);

// The settings object's work buffer grown to at least `size` bytes; null
// with -920 raised at `location` when it cannot grow. Each call may move
// the buffer and overwrites what the previous result held.
char* workBuffer(const FIELD4* field, uint32_t size, int32_t location);

}  // namespace field4detail
