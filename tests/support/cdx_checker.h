// An independent reader of whole CDX files that checks the invariants every
// index test relies on. It shares no code with the engine's node routines:
// it decodes headers and nodes itself, straight from the file's bytes.
//
// Checked: the file header; every tag header named by the tag of tags;
// every tree (attributes read without bit 2, equal leaf depth, no block
// reached twice, leaf entries in ascending key and record order, each
// branch entry equal to its child's last key and record, sibling chains
// that agree both ways and end in none, leaf widths and masks, count
// fields, free-byte fields, zeroed free space, duplicate counts within the
// previous key's significant bytes); the free list (plausible blocks, no
// cycle, none reachable from a tree or a header).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

struct CdxEntry {
  std::string key;
  uint32_t record = 0;
  bool operator==(const CdxEntry&) const = default;
};

struct CdxTagReport {
  std::string name;  // blank padding removed
  uint32_t headerBlock = 0;
  int keyLength = 0;
  int depth = 0;  // levels, 1 for a root leaf
  std::vector<CdxEntry> entries;
};

struct CdxReport {
  std::vector<std::string> problems;
  std::vector<CdxTagReport> tags;  // in tag-of-tags order
  std::vector<uint32_t> freeBlocks;
  bool ok() const { return problems.empty(); }
  // The problems, one a line, for a test's failure message.
  std::string text() const;
  const CdxTagReport* tag(const std::string& name) const;
};

// `pads` gives the pad byte of tags whose keys are not character keys in
// machine order (by name); the others, and the tag of tags, pad with blanks.
CdxReport checkCdxFile(const std::string& path,
                       const std::map<std::string, unsigned char>& pads = {});

}  // namespace testing_support
