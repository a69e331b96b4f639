#include "catalog/Dbdatahandler.h"

#include <cerrno>
#include <utility>

#include "engine/index/index4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4zap.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4.h"
#include "engine/storage/info4.h"
#include "platform/os.h"

namespace {

// Zap's range: every record a table can hold.
constexpr int32_t kZapLast = 1000000000;
// The engine's descending flag of a tag definition.
constexpr uint16_t kEngineDescending = 10;

}  // namespace

char FieldTypeToDbfType(uint8_t type) {
  switch (type) {
    case kFieldText:
    case kFieldFixedText:
    case kFieldWideText:
      return 'C';
    case kFieldSmallInt:
    case kFieldInteger:
    case kFieldWord:
    case kFieldAutoIncrement:
    case kFieldLargeInt:
      return 'N';
    case kFieldBoolean:
      return 'L';
    case kFieldFloat:
      return 'F';
    case kFieldCurrency:
      return 'Y';
    case kFieldDate:
      return 'D';
    case kFieldTime:
    case kFieldDateTime:
      return 'T';
    case kFieldBlob:
      return 'B';
    case kFieldMemo:
      return 'M';
    default:
      return 'G';
  }
}

int16_t UniqueModeToEngine(int32_t mode) {
  switch (mode) {
    case 1:
      return r4unique;
    case 2:
      return r4uniqueContinue;
    case 3:
      return e4unique;
    default:
      return 0;
  }
}

TDBDataHandler::TDBDataHandler(CODE4& code) : code_(code) {}

TDBDataHandler::TDBDataHandler(CODE4& code, std::string path, std::string tableName)
    : code_(code), path_(std::move(path)), tableName_(std::move(tableName)) {}

TDBDataHandler::~TDBDataHandler() { TDBDataHandler::Close(); }

std::string TDBDataHandler::GetFileName(bool withDirectory, bool withExtension) const {
  std::string name;
  if (withDirectory && !path_.empty()) {
    name = path_;
    if (name.back() != '/') name += '/';
  }
  name += tableName_;
  if (withExtension) name += ".DBF";
  return name;
}

bool TDBDataHandler::TableExists() const {
  return file4exists(GetFileName(true, true).c_str()) == 0;
}

bool TDBDataHandler::TableSurelyAbsent() const {
  const std::string name = GetFileName(true, true);
  platform::Os& os = platform::os();
  // A stat that fails with EACCES or EIO says nothing about the file:
  // taking it for absent would replace a whole catalogue with empty tables.
  if (os.pathStatus(platform::resolveName(name).c_str()) != -ENOENT) return false;
  // The name was also looked for in other letter cases, but only if the
  // folder could be listed; every folder that can be lists "." and "..".
  const size_t slash = name.rfind('/');
  return !os.listFolder(slash == std::string::npos ? "" : name.substr(0, slash + 1)).empty();
}

bool TDBDataHandler::CreateDBTable(std::span<const TDBFieldDef> fields,
                                   std::span<const TDBTagDef> tags) {
  Close();
  Field4info fieldList(code_);
  for (const TDBFieldDef& f : fields) {
    if (fieldList.add(f.name, FieldTypeToDbfType(f.type), static_cast<uint16_t>(f.length),
                      static_cast<int16_t>(f.decimals), f.nullable ? field4nullable : 0) != 0)
      return false;
  }
  Tag4info tagList(code_);
  for (const TDBTagDef& t : tags) {
    if (tagList.add(MakeTagName(t.name).c_str(), t.expression,
                    t.filter[0] == '\0' ? nullptr : t.filter, UniqueModeToEngine(t.uniqueMode),
                    t.descending ? kEngineDescending : 0) != 0)
      return false;
  }

  const int8_t savedSafety = code_.safety;
  code_.safety = 0;
  DATA4* d = data4create(&code_, GetFileName(true, false).c_str(), fieldList.fields(), nullptr);
  if (d != nullptr && tagList.numTags() > 0 &&
      index4create(d, nullptr, tagList.tags()) == nullptr) {
    // The close removes the data and memo files; the failed index removed
    // its own.
    const int32_t savedCloseMode = code_.closeMode;
    code_.closeMode = 1;
    data4close(d);
    code_.closeMode = savedCloseMode;
    d = nullptr;
  }
  code_.safety = savedSafety;
  data_ = d;
  return d != nullptr;
}

bool TDBDataHandler::OpenTable() {
  Close();
  data_ = data4open(&code_, GetFileName(true, false).c_str());
  return data_ != nullptr;
}

bool TDBDataHandler::CreateTable() { return false; }

bool TDBDataHandler::Open() {
  Close();
  const bool opened = TableSurelyAbsent() ? CreateTable() : OpenTable();
  if (opened) data4top(data_);
  return opened;
}

bool TDBDataHandler::Close() {
  fields_.clear();
  fieldsBound_ = false;
  if (data_ == nullptr) return true;
  return data4close(std::exchange(data_, nullptr)) == 0;
}

int32_t TDBDataHandler::RecordCount() { return data_ ? data4recCount(data_) : -1; }

bool TDBDataHandler::IsDeleted() { return data_ && data4deleted(data_) > 0; }

bool TDBDataHandler::GoTo(int32_t record) { return data_ && data4go(data_, record) == 0; }

bool TDBDataHandler::Skip(int32_t count) { return data_ && data4skip(data_, count) == 0; }

bool TDBDataHandler::Zap() { return data_ && data4zap(data_, 1, kZapLast) == 0; }

std::string TDBDataHandler::MakeTagName(std::string_view name) { return "T_" + std::string(name); }

void TDBDataHandler::SetEngineAccessMode(int32_t mode) {
  if (mode >= 0 && mode <= 2) code_.accessMode = static_cast<int8_t>(mode);
}

bool TDBDataHandler::BindFields(std::span<const TDBFieldDef> fields) {
  fields_.assign(fields.size(), nullptr);
  fieldsBound_ = data_ != nullptr;
  if (data_ == nullptr) return false;
  for (size_t i = 0; i < fields.size(); i++) {
    fields_[i] = data4field(data_, fields[i].name);
    if (fields_[i] == nullptr) fieldsBound_ = false;
  }
  return fieldsBound_;
}
