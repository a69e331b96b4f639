// What the files of the index-file layer share: making and freeing INDEX4,
// INDEX4FILE and tags, names, and the expression services a tag needs. Not
// for callers outside the layer.
#pragma once

#include <cstdint>

#include "engine/index/cdx4header.h"
#include "engine/index/index4.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"

struct EXPR4;

// Error locations of the layer.
enum : int32_t {
  index4locOpenChecked = 90165,
  index4locOpenFile = 90166,
  index4locFileHeader = 80099,
  index4locKeyLength = 80181,
  index4locFilterType = 80183,
  index4locTagCount = 80337,    // the tag of tags names a header twice
  index4locCreate = 90381,
  index4locProductionShared = 80044,
  index4locOpenAlready = 80089,
  index4locLock = 80201,
  index4locUnique = 80193,
  index4locDescending = 80194,
  index4locNoKey = 80195,
  index4locExprLength = 80196,
  index4locFilterNotLogical = 80021,
  index4locTransaction = 80075,
  index4locReindex = 90197,
  index4locReindexKeys = 90198,
  index4locSwap = 80338,        // the rebuilt file could not replace the old one
};

// Installs the key conversions and collations in the tag layer's key-type
// table: Ready once per process, Install whenever called (for tests that
// changed the table).
void index4keyRoutinesReady();
void index4keyRoutinesInstall();

// --- names (index4open.cpp) ---

// The full name of the index file `name` of a table: `name` made full
// with the index extension added when it has none; for null, the data
// file's name with the index extension. 0 or a negative code.
int32_t index4fullName(char* buffer, int32_t size, DATA4FILE* dataFile, const char* name);
inline constexpr int index4pathMax = 4096;

// --- objects (index4objects.cpp) ---

// A new INDEX4 for `d` named `name` (or the alias), not yet on any list;
// null after -920 at `location`.
INDEX4* index4new(DATA4* d, const char* name, int32_t location);
// Gives the INDEX4 one TAG4 per tag of its file, with the unique mode the
// options give (or `modes`, in order, when given): 0 or -920 at `location`.
int32_t index4attachTags(INDEX4* index, const int16_t* modes, int32_t location);
// Gives back the INDEX4's TAG4s and the INDEX4 itself (off the handle's
// list when on it).
void index4free(INDEX4* index);

// A new INDEX4FILE for `d`'s table, file not open; null after -920.
INDEX4FILE* indexfile4new(DATA4* d, int32_t location);
// Releases the tags (each written when `write` and changed), the tag of
// tags, the node pool; takes the file off its table's list; closes it
// (deleting it when it is temporary) and frees the object. 0 or the first
// error; runs in full whatever fails.
int32_t indexfile4free(INDEX4FILE* i, bool write);

// A tag of an open index file from its header: set up, named, counted
// against the table's records, on the file's list (or the file's tag of
// tags). Null after an error.
TAG4FILE* index4tagNew(INDEX4FILE* i, uint32_t headerBlock, const Cdx4Header& h,
                       const char* name);
// Releases a tag made by index4tagNew: its nodes (written when changed),
// expressions and the object. 0 or the first error.
int32_t index4tagFree(TAG4FILE* t);

// Sets a tag's key length, remaking its key pool for the new length: 0 or
// -920.
int32_t index4tagKeyLengthSet(TAG4FILE* t, uint16_t keyLength);

// The TAG4FILE of a list link.
inline TAG4FILE* index4tagOf(LINK4* link) { return reinterpret_cast<TAG4FILE*>(link); }
inline TAG4* index4handleTagOf(LINK4* link) { return reinterpret_cast<TAG4*>(link); }

// --- expressions (index4expr.cpp) ---

// Compiles a tag's key and filter (null or "" for none) for the handle `d`
// and chooses its key routines under `collation`: the tag's expressions,
// key type and nullable option are set. 0, or the raised code: a key that
// does not compile, a filter that is not logical (`filterLocation`), an
// unknown key type (-910), an unusable collation (-1090).
int32_t index4tagCompile(TAG4FILE* t, DATA4* d, const char* keyExpr, const char* filter,
                         int32_t collation, int32_t filterLocation);
// The length of the keys the tag's expression makes.
int32_t index4keyLength(TAG4FILE* t);
// True when the tag's key may be collated: every step of the expression
// is text (the rows of text functions), or every step a wide field.
bool index4keyCollates(const EXPR4* expr);
// Binds the tag's expressions to `d`'s record buffer.
int32_t index4tagBind(TAG4FILE* t, DATA4* d);
// Of the record in the bound buffer: the key (`*key` points at key length
// bytes, valid until the next key of the tag) and whether the filter lets
// it in (1, else 0). Negative after a failed evaluation.
int32_t index4tagKey(TAG4FILE* t, const unsigned char** key);
int32_t index4tagFilter(TAG4FILE* t);

// The table's record count, for the leaf widths of a tag of `dataFile`.
uint32_t index4recordCount(void* dataFile);
// 1024 per tag of `indexFile`: what the leaf widths of its tag of tags
// cover (its record numbers are the tags' header blocks).
uint32_t index4tagOfTagsRecords(void* indexFile);
