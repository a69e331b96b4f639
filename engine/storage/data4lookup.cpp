// Finding open tables and their fields, and the handle's plain accessors.
#include <cstring>
#include <string>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/error4.h"
#include "engine/storage/filename4.h"
#include "engine/storage/text4.h"
#include "platform/os.h"

namespace {

constexpr int32_t kLocAlias = 90257;
constexpr int32_t kLocAliasFix = 90258;
constexpr int32_t kLocNumFields = 90264;
constexpr int32_t kLocRecord = 90270;
constexpr int32_t kLocFieldJ = 90298;
constexpr int32_t kLocField = 90299;
constexpr int kPathMax = 4096;
constexpr size_t kFieldNameMax = 256;

bool valid(const DATA4* d, int32_t location) { return data4check(d, location); }

// The handle whose id pair is (id, secondId): the handle id and the
// client id its log entries carry.
DATA4* findInList(LIST4* list, int32_t id, int32_t secondId) {
  for (LINK4* link = list4first(list); link != nullptr; link = list4next(list, link)) {
    auto* d = reinterpret_cast<DATA4*>(link);
    if (d->id == id && code4clientId(d->codeBase) == secondId) return d;
  }
  return nullptr;
}

}  // namespace

bool data4check(const DATA4* d, int32_t location) {
  if (d == nullptr) {
    error4(nullptr, e4parmNull, location);
    return false;
  }
  return structure4check(d, structure4data, location) == 0;
}

DATA4FILE* datafile4find(CODE4* c, const char* name) {
  if (c == nullptr || name == nullptr) return nullptr;
  // A file is known by what it is, not by how it was named: two names of
  // one file find it, two files whose names differ only in case do not.
  const std::string identity = platform::os().canonicalPath(platform::resolveName(name).c_str());
  if (identity.empty()) return nullptr;
  for (LINK4* link = list4first(&c->dataFileList); link != nullptr;
       link = list4next(&c->dataFileList, link)) {
    auto* df = reinterpret_cast<DATA4FILE*>(link);
    if (df->identity == identity) return df;
  }
  return nullptr;
}

DATA4* code4data(CODE4* c, const char* aliasOrName, const char* /*unused*/, int secondPass) {
  if (c == nullptr || aliasOrName == nullptr) return nullptr;
  LIST4* handles = code4dataList(c);
  for (LINK4* link = list4first(handles); link != nullptr; link = list4next(handles, link)) {
    auto* d = reinterpret_cast<DATA4*>(link);
    if (text4compareNoCase(d->alias, aliasOrName) == 0) return d;
  }
  if (!secondPass) return nullptr;
  char fullName[kPathMax];
  if (data4fullName(fullName, sizeof fullName, aliasOrName) < 0) return nullptr;
  DATA4FILE* df = datafile4find(c, fullName);
  if (df == nullptr) return nullptr;
  for (LINK4* link = list4first(handles); link != nullptr; link = list4next(handles, link)) {
    auto* d = reinterpret_cast<DATA4*>(link);
    if (d->dataFile == df) return d;
  }
  return nullptr;
}

DATA4* code4dataFindId(CODE4* c, int32_t id, int32_t secondId) {
  if (c == nullptr || id == 0) return nullptr;
  if (DATA4* d = findInList(code4dataList(c), id, secondId)) return d;
  return findInList(&c->closedDataFiles, id, secondId);
}

const char* data4alias(DATA4* d) { return valid(d, kLocAlias) ? d->alias : nullptr; }

void data4aliasFix(DATA4* d) {
  if (!valid(d, kLocAliasFix)) return;
  for (char* p = d->alias; *p != '\0'; p++) {
    if (*p == ' ') *p = '_';
  }
}

FIELD4* data4field(DATA4* d, const char* name) {
  if (!valid(d, kLocField) || name == nullptr) return nullptr;
  char wanted[kFieldNameMax + 1];
  text4copyBounded(wanted, name, sizeof wanted);
  text4trim(wanted);
  text4upper(wanted);
  for (FIELD4& field : d->fields) {
    if (std::strcmp(field.name, wanted) == 0) return &field;
  }
  if (d->codeBase->errFieldName) error4describe(d->codeBase, e4fieldName, kLocField, name, nullptr, nullptr);
  return nullptr;
}

FIELD4* data4fieldJ(DATA4* d, int32_t number) {
  if (!valid(d, kLocFieldJ)) return nullptr;
  if (number < 1 || number > static_cast<int32_t>(d->fields.size())) {
    error4(d->codeBase, e4parm, kLocFieldJ);
    return nullptr;
  }
  return &d->fields[number - 1];
}

int32_t data4numFields(DATA4* d) {
  if (!valid(d, kLocNumFields)) return -1;
  const auto count = static_cast<int32_t>(d->fields.size());
  return d->nullFlags != nullptr && d->nullFlags == &d->fields.back() ? count - 1 : count;
}

char* data4record(DATA4* d) { return valid(d, kLocRecord) ? d->record : nullptr; }

const char* datafile4name(const DATA4FILE* df) { return df == nullptr ? nullptr : df->file.name; }
