// The memo values of a handle: each memo field's value lives in a buffer
// of its own, read from the memo file on first use and written back with
// the record.
#pragma once

#include <cstdint>

struct DATA4;
struct FIELD4;

int32_t field4memoAssignN(FIELD4* field, const char* bytes, uint32_t n);
int32_t field4memoSetLen(FIELD4* field, uint32_t n);
uint32_t field4memoLen(FIELD4* field);
char* field4memoPtr(FIELD4* field);
// Never null: "" when the value cannot be read.
const char* field4memoStr(FIELD4* field);
void field4memoFree(FIELD4* field);
void field4memoReset(FIELD4* field);
int32_t field4memoRead(FIELD4* field);
int32_t field4memoReadLow(FIELD4* field);
int32_t field4memoUpdate(FIELD4* field);
int32_t field4memoWrite(FIELD4* field);

// A value written and synced as a new entry of the field's memo file,
// before any record names it: `*block` receives the entry's block (0 for an
// empty value, which writes nothing). The record is not touched; with
// field4memoSetBlock it can then name the entry in one record write, so
// that a change of several fields reaches the disk at one moment. 0 or a
// negative code.
int32_t field4memoStore(FIELD4* field, const char* bytes, uint32_t n, int64_t* block);
// Makes the current record name the memo entry at `block` (0: an empty
// value) in place of its value, as a change of the record; the entry must
// lie within the memo file (-70 raised otherwise). 0 or a negative code.
int32_t field4memoSetBlock(FIELD4* field, int64_t block);

// Prepares the current record for memo writes, once per record: the record
// is locked and its stored image read, and the stored block numbers of
// unchanged memo values are kept in the record being written.
int32_t data4updateMemo(DATA4* d);

// The block number a memo field holds in the current record (text of ten
// digits, or a 32-bit integer in a four-byte field); 0 for none.
int64_t memo4blockOf(const FIELD4* field, const char* record);
void memo4setBlock(FIELD4* field, char* record, int64_t block);
