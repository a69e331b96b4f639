// Creates and opens CDX files through the engine's tag operations, for
// tests of tags and key maintenance.
//
// A created file has the tag of tags (its header at 0) and the given tags,
// their headers at 1024, 2048, ... in the order given, each an empty root
// leaf, the names added to the tag of tags through tagfile4add. Opening
// reads the file header, walks the tag of tags with tagfile4top and
// tagfile4skip and sets up each tag from its header. The access mode is the
// settings object's at the time of creating or opening.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/index/index4file.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"

namespace testing_support {

struct TagShape {
  std::string name;
  int keyLength = 10;
  char keyType = 'C';  // chooses the pad byte (C: blank, others: 0)
  bool descending = false;
  uint8_t options = 0;  // added to 0x60: unique 0x01, 0x04, filter 0x08
};

class CdxFile {
 public:
  // Creates `path`, replacing it.
  CdxFile(CODE4* c, const std::string& path, const std::vector<TagShape>& tags,
          uint32_t blockSize = 512, uint32_t multiplier = 1, uint32_t records = 1000);
  // Opens `path`; `keyTypes` names the key type of tags that are not C.
  static std::unique_ptr<CdxFile> open(CODE4* c, const std::string& path,
                                       const std::map<std::string, char>& keyTypes = {},
                                       uint32_t records = 1000);
  ~CdxFile();
  CdxFile(const CdxFile&) = delete;
  CdxFile& operator=(const CdxFile&) = delete;

  // 0 once created or opened, else the error met.
  int32_t status() const { return status_; }
  // Releases the lock (writing what changed), writes an exclusive file's
  // changes, releases every tag and closes the file: 0 or the first error.
  int32_t close();

  INDEX4FILE* index() { return &index_; }
  TAG4FILE* tagOfTags() { return &tagIndex_; }
  TAG4FILE* tag(const std::string& name);
  TAG4FILE* tag(size_t i) { return tags_[i].get(); }
  size_t tagCount() const { return tags_.size(); }
  // A TAG4 of the tag with the given unique mode.
  TAG4 handle(TAG4FILE* t, int16_t uniqueMode = 0) const;

  // Adds or removes a key given unpadded: it is cut or padded to the key
  // length with the tag's pad byte.
  int32_t add(TAG4FILE* t, const std::string& key, uint32_t record, int16_t uniqueMode = 0);
  int32_t remove(TAG4FILE* t, const std::string& key, uint32_t record);
  std::string padded(const TAG4FILE* t, const std::string& key) const;

  uint32_t records;  // the record count the leaf widths cover

 private:
  CdxFile(CODE4* c, const std::string& path, const std::map<std::string, char>& keyTypes,
          uint32_t records);
  TAG4FILE* addTag(const Cdx4Header& h, uint32_t headerBlock, const std::string& name, char type);

  CODE4* c_;
  INDEX4FILE index_;
  TAG4FILE tagIndex_;
  std::vector<std::unique_ptr<TAG4FILE>> tags_;
  uint32_t tagOfTagsRecords_ = 0;
  bool open_ = false;
  int32_t status_ = 0;
};

}  // namespace testing_support
