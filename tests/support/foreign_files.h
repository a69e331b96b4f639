// Writes tables and indexes byte by byte, laid out as other dBase-family
// tools lay them out, for tests that open them. Nothing here calls the
// engine: every byte follows the formats' descriptions, so a fault shared
// with the engine's own writers cannot hide.
//
// DBF: a header of the given version (263-byte area after the terminator
// for versions 0x30 and 0x31), the descriptors as given, the records, and
// the end byte 0x1A for the other versions.
//
// CDX: block size 512, the file header (tag of tags) at 0, the tag headers
// at 1024, 2048, ..., then the nodes of the tag of tags and of each tag.
// Trees are packed as the test asks: so many keys per leaf and entries per
// branch, leaf entries in the narrowest whole number of bytes that holds
// the fields (one byte for tiny tags), duplicate and trailing counts within
// both keys' significant bytes, and, when asked, bit 2 set in every node's
// attribute (7 root leaf, 5 root branch, 4 branch, 6 leaf).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct ForeignField {
  ForeignField(std::string name, char type, int length, int decimals = 0, uint8_t flags = 0,
               uint32_t autoIncrementNext = 0, uint8_t autoIncrementStep = 0)
      : name(std::move(name)),
        type(type),
        length(length),
        decimals(decimals),
        flags(flags),
        autoIncrementNext(autoIncrementNext),
        autoIncrementStep(autoIncrementStep) {}
  std::string name;
  char type;
  int length;
  int decimals;
  uint8_t flags;
  uint32_t autoIncrementNext;  // descriptor bytes 19-22
  uint8_t autoIncrementStep;   // descriptor byte 23
};

struct ForeignTable {
  uint8_t version;
  uint8_t flags;  // header byte 28: 0x01 production index, 0x02 memo file
  std::vector<ForeignField> fields;
  // Each record's field bytes, the delete flag excluded.
  std::vector<std::string> records = {};
};

void writeForeignDbf(const std::string& path, const ForeignTable& table);

// The bytes of a numeric field holding `text` right-aligned.
std::string rightAligned(const std::string& text, int length);

struct ForeignTag {
  ForeignTag(std::string name, int keyLength, unsigned char pad = ' ')
      : name(name), expression(std::move(name)), keyLength(keyLength), pad(pad) {}
  std::string name;
  std::string expression;  // the name unless set
  int keyLength;
  unsigned char pad;  // blank for character keys, 0 for others
  bool descending = false;
  // Keys of the full key length with their records, in any order.
  std::vector<std::pair<std::string, uint32_t>> keys;
  int keysPerLeaf = 0;       // 0: as many as fit
  int entriesPerBranch = 0;  // 0: as many as fit
};

// Fails the calling test (and writes nothing) when a tag's keys do not fit
// the packing asked for.
void writeForeignCdx(const std::string& path, const std::vector<ForeignTag>& tags, bool markNodes);

// The 8-byte key of a number in a tag of numeric keys: the double high byte
// first, the sign bit set for values from 0 up, every bit complemented
// below 0.
std::string numericKey(double value);

}  // namespace testing_support
