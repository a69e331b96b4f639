// Collation sequences: text keys that sort letters without regard to case
// or accent first, and let accents only break ties.
//
// Under a collation every character becomes a primary weight; some expand
// to two weights ("AE" for 0xC6); and sub-sort values (the accents) follow
// all the weights of the key:
//
//   key = weight... sub-sort... 0...      (8-bit text: 2 x length bytes)
//
// Characters whose sub-sort is the descriptor's no-tail value leave none;
// trailing blanks of the text are not converted, and the key is zero
// filled. In the wide form every weight and sub-sort takes two bytes, high
// byte first. Primary weights are 10 or more and sub-sorts below 10, which
// is what the collation-aware comparison relies on.
//
// Collation numbers, process-wide descriptors:
//   1  machine order (no translation)             header name: eight zero bytes
//   2  GENERAL, Windows-1252 text                 "GENERAL" (code-page value 0 or 3)
//   3  GENERAL, OEM text                          "GENERAL" (code-page value 1)
//   4  loaded on first use from the tables        "CB00004"
//      "coll4inf", "collate4" and "compres4"
//
// Thread rule: the descriptors are shared by every settings object of the
// process. Loading, building the wide tables and freeing run under one
// process-wide lock; key conversions read a descriptor without it once it
// is usable (loaded, and for wide text built), and freeing happens only when
// the last settings object ends, when no key can be in the making.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

struct CODE4;

// Descriptor kinds.
enum : int32_t {
  collate4kindMachine = 0,    // no translation
  collate4kindTranslate = 1,  // weights only
  collate4kindSubSort = 2,    // weights and sub-sorts
  collate4kindExpand = 4,     // weights with expansion or compression
  collate4kindFull = 6,       // sub-sorts and expansion: what key conversion needs
  collate4kindUnloaded = 16,  // a loadable collation not loaded yet
};

enum : int32_t {
  collate4machine = 1,
  collate4generalWindows = 2,
  collate4generalOem = 3,
  collate4loadable = 4,
  collate4count = 4,
};

// Expansion entry kinds.
enum : int32_t {
  collate4expand = 1,    // one character, two weights
  collate4compress = 2,  // two characters, one weight (not supported by keys)
  collate4end = 3,       // ends a table
};

struct Collate4Expansion {
  int32_t kind = collate4end;
  int32_t first = 0;  // character codes, 0-255
  int32_t second = 0;
};

inline constexpr int collate4characters = 256;
inline constexpr int collate4wideCharacters = 65536;
inline constexpr int collate4wideEntrySize = 3;  // weight high byte first, sub-sort

struct COLLATE4 {
  int32_t kind = collate4kindMachine;
  // 256 pairs (weight, sub-sort) indexed by the character as unsigned char.
  const unsigned char* table = nullptr;
  // Entries up to the first of kind collate4end; `expansionCount` of them.
  const Collate4Expansion* expansion = nullptr;
  int32_t expansionCount = 0;
  uint16_t factor = 0;  // 1 with sub-sorts or expansions: a key is (factor + 1) x length
  uint16_t marker = 0;  // the weight that means "expand"; the sub-sort is the entry
  uint16_t noTail = 0;  // the sub-sort value that leaves nothing in the key
  bool lossless = false;
  // Set by loading: `table` and `expansion` point into these.
  std::unique_ptr<unsigned char[]> loadedTable;
  std::unique_ptr<Collate4Expansion[]> loadedExpansion;
  // Built on first wide use: 65,536 entries of collate4wideEntrySize bytes,
  // and a copy of the expansion entries. `wideBuilt` is set last (release).
  std::unique_ptr<unsigned char[]> wideTable;
  std::unique_ptr<Collate4Expansion[]> wideExpansion;
  std::atomic<bool> wideBuilt{false};
};

// The descriptor of collation `number` (1-4), or null.
COLLATE4* collate4get(int32_t number);

// Loads collation `number` from the tables in the current directory when it
// is of kind collate4kindUnloaded; 0 when it is usable afterwards (or was
// already loaded or built in). A table that cannot be opened or read, or
// that is damaged, gives -1 with the descriptor as it was before; a wide
// (unicode) collation gives -1090 raised at 80187.
int32_t collate4load(CODE4* c, int32_t number);

// What a tag on collation `number` needs before it builds or seeks keys:
// machine order (1, or 0 for none) is always ready; any other collation is
// loaded when it must be and must then be of kind collate4kindFull. 0, or
// -1090 raised at 80187. -1 at once while `c` holds an error.
int32_t collate4require(CODE4* c, int32_t number);

// Collated key of 8-bit text: `key` receives 2 x length bytes. 0, or -1090
// raised at 80187 without a settings object when the descriptor has no
// table or a character names an expansion that is missing or not of kind
// collate4expand.
int32_t collate4stringToKey(COLLATE4* collate, char* key, const char* text, int32_t length,
                            int32_t* keyLength);

// Collated key of wide text (`byteLength` bytes of 16-bit characters, low
// byte first): `key` receives byteLength x (factor + 1) bytes. Builds the
// wide tables on first use: -1090 (80187) for a collation of a kind other
// than 2 or 6, -920 (90339) when memory fails; -1090 as above. 0 otherwise.
int32_t key4fromWideCollate(COLLATE4* collate, char* key, const char* text, int32_t byteLength,
                            int32_t* keyLength);

// A tag's text key under its collation: the wide form when `wide`. -1 (not
// raised) unless the descriptor is of kind collate4kindFull.
int32_t collate4textKey(COLLATE4* collate, bool wide, char* key, const char* text, int32_t length,
                        int32_t* keyLength);

// Compares a stored key with a search key: negative when the stored key sorts
// before it, 0 when it matches as far as the search key goes, positive
// after. Under a collation (any kind but 0), weights are compared first and
// then sub-sorts; `searchText` (the text the search key came from, or null)
// lets trailing blanks of the text match stored blanks and zero fill.
// `spareZeros` zero bytes of the search key may pass a stored key's end.
// Nothing beyond `storedLength` bytes of the stored key is read. Without a
// collation (null or kind 0) it is a byte comparison of the search length.
int collate4keyCompare(const char* stored, const char* search, int32_t searchLength,
                       int32_t storedLength, int32_t spareZeros, const COLLATE4* collate,
                       const char* searchText, int32_t searchTextLength);
// The same without a search text.
int key4compare(const char* stored, const char* search, int32_t searchLength, int32_t storedLength,
                int32_t spareZeros, const COLLATE4* collate);

// Frees every loaded and built table and puts every descriptor back as the
// process started: collation 4 unloaded again. Called when the last
// settings object ends.
void collate4free();

// Header names (8 bytes, NUL padded) of a tag's collation. Reading: all
// zero -> 1; "GENERAL" -> 3 for code-page value 1, else 2; "CB" and five
// digits naming 1 to 4 -> that number; anything else -310 raised at 80187.
int32_t collate4numberFromName(CODE4* c, const char* name, int32_t codePage);
// Writing: 1 -> all zero; "GENERAL" where reading it back with this code
// page gives the same number; any other "CB" and the number in five digits.
void collate4nameFromNumber(int32_t number, int32_t codePage, char* name);
