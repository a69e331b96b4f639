#include "tests/support/cdx_file.h"

#include <algorithm>

#include "engine/index/block4.h"
#include "engine/index/cdx4header.h"
#include "engine/index/tag4keytype.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"

namespace testing_support {

namespace {

constexpr int32_t kCreator = 1;

uint32_t countOf(void* data) { return *static_cast<uint32_t*>(data); }

}  // namespace

TAG4FILE* CdxFile::addTag(const Cdx4Header& h, uint32_t headerBlock, const std::string& name,
                          char type) {
  auto t = std::make_unique<TAG4FILE>();
  status_ = tagfile4init(t.get(), &index_, headerBlock, h, name.c_str());
  if (status_ == 0) status_ = tagfile4keyTypeSet(t.get(), type, tag4machineOrder);
  t->recordCount = countOf;
  t->recordCountData = &records;
  tags_.push_back(std::move(t));
  return tags_.back().get();
}

CdxFile::CdxFile(CODE4* c, const std::string& path, const std::vector<TagShape>& shapes,
                 uint32_t blockSize, uint32_t multiplier, uint32_t recordCount)
    : records(recordCount), c_(c) {
  const int8_t safety = c->safety;
  c->safety = 0;
  status_ = file4create(&index_.file, c, path.c_str(), 1);
  c->safety = safety;
  if (status_ != 0) return;
  open_ = true;
  const std::vector<unsigned char> headers(cdx4headerSize * (shapes.size() + 1), 0);
  status_ = file4write(&index_.file, 0, headers.data(), static_cast<uint32_t>(headers.size()));
  if (status_ == 0) status_ = indexfile4initNodes(&index_, c, blockSize, multiplier);
  if (status_ == 0) status_ = index4lock(&index_, kCreator);
  if (status_ != 0) return;

  Cdx4Header fileHeader;
  cdx4headerInitTagOfTags(&fileHeader, blockSize, multiplier);
  status_ = tagfile4init(&tagIndex_, &index_, 0, fileHeader, "");
  tagOfTagsRecords_ = static_cast<uint32_t>(shapes.size()) * cdx4headerSize;
  tagIndex_.recordCount = countOf;
  tagIndex_.recordCountData = &tagOfTagsRecords_;
  if (status_ == 0) status_ = tagfile4rootCreate(&tagIndex_);

  unsigned char block[cdx4headerSize];
  for (size_t i = 0; i < shapes.size() && status_ == 0; i++) {
    const TagShape& s = shapes[i];
    Cdx4Header h;
    h.keyLength = static_cast<uint16_t>(s.keyLength);
    h.options = cdx4optionCompact | cdx4optionCompound | s.options;
    h.descending = s.descending ? 1 : 0;
    const uint32_t headerBlock = block4fromOffset(&index_, cdx4headerSize * (i + 1));
    TAG4FILE* t = addTag(h, headerBlock, s.name, s.keyType);
    if (status_ == 0) status_ = tagfile4rootCreate(t);
    if (status_ == 0 && !cdx4headerEncode(&t->header, "KEY", nullptr, block)) status_ = -1;
    if (status_ == 0)
      status_ = file4write(&index_.file, block4toOffset(&index_, headerBlock), block, sizeof block);
    if (status_ == 0) status_ = add(&tagIndex_, t->name, headerBlock, e4unique);
  }
  if (status_ == 0 && !cdx4headerEncode(&tagIndex_.header, nullptr, nullptr, block)) status_ = -1;
  if (status_ == 0) status_ = file4write(&index_.file, 0, block, sizeof block);
  if (status_ == 0) status_ = index4unlock(&index_, kCreator);
}

CdxFile::CdxFile(CODE4* c, const std::string& path, const std::map<std::string, char>& keyTypes,
                 uint32_t recordCount)
    : records(recordCount), c_(c) {
  status_ = file4open(&index_.file, c, path.c_str(), 1);
  if (status_ != 0) return;
  open_ = true;
  unsigned char block[cdx4headerSize];
  Cdx4Header fileHeader;
  status_ = file4readAll(&index_.file, 0, block, sizeof block);
  if (status_ == 0) status_ = cdx4fileHeaderRead(c, block, &fileHeader, path.c_str());
  if (status_ == 0)
    status_ = indexfile4initNodes(&index_, c, cdx4headerBlockSize(fileHeader),
                                  cdx4headerMultiplier(fileHeader));
  if (status_ == 0) status_ = tagfile4init(&tagIndex_, &index_, 0, fileHeader, "");
  if (status_ != 0) return;
  index_.versionSeen = index_.versionWritten = fileHeader.version;
  tagIndex_.recordCount = countOf;
  tagIndex_.recordCountData = &tagOfTagsRecords_;

  std::vector<std::pair<std::string, uint32_t>> names;
  status_ = tagfile4top(&tagIndex_);
  while (status_ == 0 && !tagfile4eof(&tagIndex_)) {
    const B4KEY_DATA* k = tagfile4key(&tagIndex_);
    if (k == nullptr) {
      status_ = -1;
      break;
    }
    std::string name(reinterpret_cast<const char*>(b4keyValue(k)), cdx4tagNameLength);
    name.erase(name.find_last_not_of(' ') + 1);
    names.emplace_back(name, k->num);
    if (tagfile4skip(&tagIndex_, 1) != 1) break;
  }
  tagOfTagsRecords_ = static_cast<uint32_t>(names.size()) * cdx4headerSize;
  for (const auto& [name, headerBlock] : names) {
    if (status_ != 0) return;
    Cdx4Header h;
    status_ = cdx4tagHeaderBlockCheck(&index_, headerBlock);
    if (status_ == 0)
      status_ =
          file4readAll(&index_.file, block4toOffset(&index_, headerBlock), block, sizeof block);
    if (status_ == 0) status_ = cdx4tagHeaderRead(c, block, index_.blockSize, &h, path.c_str());
    const auto type = keyTypes.find(name);
    if (status_ == 0) addTag(h, headerBlock, name, type == keyTypes.end() ? 'C' : type->second);
  }
}

std::unique_ptr<CdxFile> CdxFile::open(CODE4* c, const std::string& path,
                                       const std::map<std::string, char>& keyTypes,
                                       uint32_t records) {
  return std::unique_ptr<CdxFile>(new CdxFile(c, path, keyTypes, records));
}

CdxFile::~CdxFile() { close(); }

int32_t CdxFile::close() {
  if (!open_) return 0;
  open_ = false;
  int32_t rc = index4unlock(&index_, 0);
  if (const int32_t written = index4updateHeader(&index_); rc == 0) rc = written;
  for (auto& t : tags_)
    if (const int32_t released = tagfile4release(t.get()); rc == 0) rc = released;
  if (const int32_t released = tagfile4release(&tagIndex_); rc == 0) rc = released;
  indexfile4releaseNodes(&index_);
  if (const int32_t closed = file4close(&index_.file); rc == 0) rc = closed;
  return rc;
}

TAG4FILE* CdxFile::tag(const std::string& name) {
  for (auto& t : tags_)
    if (name == t->name) return t.get();
  return nullptr;
}

TAG4 CdxFile::handle(TAG4FILE* t, int16_t uniqueMode) const {
  TAG4 h;
  h.tagFile = t;
  h.uniqueMode = uniqueMode;
  return h;
}

std::string CdxFile::padded(const TAG4FILE* t, const std::string& key) const {
  std::string out = key.substr(0, tagfile4keyLength(t));
  out.resize(tagfile4keyLength(t), static_cast<char>(t->pad));
  return out;
}

int32_t CdxFile::add(TAG4FILE* t, const std::string& key, uint32_t record, int16_t uniqueMode) {
  TAG4 h = handle(t, uniqueMode);
  const std::string k = padded(t, key);
  return tagfile4add(&h, reinterpret_cast<const unsigned char*>(k.data()), record);
}

int32_t CdxFile::remove(TAG4FILE* t, const std::string& key, uint32_t record) {
  const std::string k = padded(t, key);
  return tagfile4remove(t, reinterpret_cast<const unsigned char*>(k.data()), record);
}

}  // namespace testing_support
