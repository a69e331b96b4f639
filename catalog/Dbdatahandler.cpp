#include "catalog/Dbdatahandler.h"

#include <fcntl.h>

#include <cerrno>
#include <utility>

#include "catalog/Cataloguenotices.h"
#include "catalog/Cberrorhook.h"
#include "catalog/Datafolderlock.h"
#include "engine/index/index4.h"
#include "engine/storage/buffer4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4index.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/data4tail.h"
#include "engine/storage/data4zap.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4.h"
#include "engine/storage/info4.h"
#include "platform/os.h"

namespace {

// Appended to a table's name while it is being made.
constexpr char kWorkSuffix[] = "~NEW";
// Zap's range: every record a table can hold.
constexpr int32_t kZapLast = 1000000000;
// The engine's descending flag of a tag definition.
constexpr uint16_t kEngineDescending = 10;

// True only when `name` is known not to exist in any letter case.
bool fileSurelyAbsent(const std::string& name) {
  platform::Os& os = platform::os();
  // A stat that fails with EACCES or EIO says nothing about the file:
  // taking a table for absent would replace a whole catalogue with empty
  // ones.
  if (os.pathStatus(platform::resolveName(name).c_str()) != -ENOENT) return false;
  // The name was also looked for in other letter cases, but only if the
  // folder could be listed; every folder that can be lists "." and "..".
  const size_t slash = name.rfind('/');
  return !os.listFolder(slash == std::string::npos ? "" : name.substr(0, slash + 1)).empty();
}

// True when the data file `name` is there and empty: a creation that died
// before writing its header. It holds nothing, and no tool could open it.
// Any other content, however damaged, is refused and left as it is.
bool fileEmpty(const std::string& name) {
  platform::Os& os = platform::os();
  const int fd = platform::openRegularFile(platform::resolveName(name).c_str());
  if (fd < 0) return false;
  uint64_t size = 1;
  const bool empty = os.fileSize(fd, size) == 0 && size == 0;
  os.closeFile(fd);
  return empty;
}

// The engine's tag list of the declarations: 0, or -1 when memory ran out.
int buildTagList(Tag4info& list, std::span<const TDBTagDef> tags) {
  for (const TDBTagDef& t : tags) {
    if (list.add(TDBDataHandler::MakeTagName(t.name).c_str(), t.expression,
                 t.filter[0] == '\0' ? nullptr : t.filter, UniqueModeToEngine(t.uniqueMode),
                 t.descending ? kEngineDescending : 0) != 0)
      return -1;
  }
  return 0;
}

// A table's production index made from `tags`, replacing any file of its
// name. Null on failure, when the engine removes what it wrote.
INDEX4* createProductionIndex(CODE4& code, DATA4* d, const Tag4info& tags) {
  const int8_t savedSafety = code.safety;
  code.safety = 0;
  INDEX4* index = index4create(d, nullptr, tags.tags());
  code.safety = savedSafety;
  return index;
}

// Closes a table whose creation failed, removing its data and memo files
// (the failed index removed its own).
void discardCreated(CODE4& code, DATA4* d) {
  const int32_t savedCloseMode = code.closeMode;
  code.closeMode = 1;
  data4close(d);
  code.closeMode = savedCloseMode;
}

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

bool TDBDataHandler::HeldElsewhere() const {
  platform::Os& os = platform::os();
  const int fd = platform::openRegularFile(platform::resolveName(GetFileName(true, true)).c_str());
  if (fd < 0) return false;
  // Taken exclusively as the catalogue opens its tables, so that a shared
  // holder counts too; the lock goes with the descriptor.
  const bool held = os.shareLock(fd, true) == -EWOULDBLOCK;
  os.closeFile(fd);
  return held;
}

bool TDBDataHandler::TableSurelyAbsent() const { return fileSurelyAbsent(GetFileName(true, true)); }

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
  if (buildTagList(tagList, tags) != 0) return false;

  // Made whole under a work name, then moved into place, the data file
  // last: a death or a power cut leaves the table absent, to be made
  // again, never a data file without its memo file or its index.
  const std::string work = GetFileName(true, false) + kWorkSuffix;
  const int8_t savedSafety = code_.safety;
  code_.safety = 0;
  DATA4* d = data4create(&code_, work.c_str(), fieldList.fields(), nullptr);
  code_.safety = savedSafety;
  if (d != nullptr && tagList.numTags() > 0 &&
      createProductionIndex(code_, d, tagList) == nullptr) {
    discardCreated(code_, d);
    return false;
  }
  if (d == nullptr || data4close(d) != 0 || !moveIntoPlace(work)) {
    removeWorkFiles(work);
    return false;
  }
  return OpenTable() && !indexRefused_;
}

bool TDBDataHandler::moveIntoPlace(const std::string& work) const {
  const std::string name = GetFileName(true, false);
  for (const char* extension : {".fpt", ".cdx"}) {
    const std::string from = work + extension;
    if (platform::os().pathStatus(from.c_str()) == 0 && !rename(from, name + extension))
      return false;
  }
  // The memo file and the index have their names on the disk before the
  // data file that needs them takes its own.
  return file4syncFolderOf(&code_, name.c_str()) == 0 && rename(work + ".dbf", name + ".dbf") &&
         file4syncFolderOf(&code_, name.c_str()) == 0;
}

bool TDBDataHandler::rename(const std::string& from, const std::string& to) const {
  const int rc = platform::os().renameFile(from.c_str(), to.c_str());
  // Said as a write the disk refused: the table is not made.
  if (rc != 0) PresentWriteRefused(to, -rc);
  return rc == 0;
}

void TDBDataHandler::removeWorkFiles(const std::string& work) const {
  // After a failed sync the folder stays as the disk left it: the next
  // start makes the table again over what is there.
  if (code_.syncFailed) return;
  for (const char* extension : {".dbf", ".fpt", ".cdx"})
    platform::os().removeFile((work + extension).c_str());
}

bool TDBDataHandler::OpenTable() {
  Close();
  indexRefused_ = false;
  // A production index that is gone or damaged would fail the open for
  // good: the data file opens alone, then its index, which the engine
  // refuses aloud when it is damaged; completeIndex makes it anew.
  {
    TDbErrorCapture capture(code_);
    data_ = openData(false);
    repairs_.tailCut = capture.Drop(data4locTailCut);
    repairs_.recordsLost = capture.Drop(data4locRecordsLost);
    repairs_.countTakenBack = capture.Drop(data4locCountTakenBack);
  }
  if (data_ == nullptr) return false;
  if (!fileSurelyAbsent(GetFileName(true, false) + ".cdx")) {
    // The engine's words for a damaged index give way to the outcome of
    // its rebuilding (completeIndex).
    TDbErrorCapture capture(code_);
    indexRefused_ = data4openProductionIndex(data_) != 0;
    repairs_.indexInMemory = data_->dataFile->indexInMemory;
    repairs_.indexFinished = data_->dataFile->indexFinished;
    repairs_.indexLeftWithoutRoom = data_->dataFile->indexLeftWithoutRoom;
    // A refused index is made anew by completeIndex, which says how; one the
    // engine made in memory is said by the start.
    if (repairs_.indexInMemory) dropErrors(capture);
    if (indexRefused_) capture.Drop(-1);
  }
  return true;
}

DATA4* TDBDataHandler::openData(bool withIndex) {
  const int32_t savedAutoOpen = code_.autoOpen;
  if (!withIndex) code_.autoOpen = 0;
  DATA4* d = data4open(&code_, GetFileName(true, false).c_str());
  code_.autoOpen = savedAutoOpen;
  return d;
}

bool TDBDataHandler::CreateTable() { return false; }

std::span<const TDBTagDef> TDBDataHandler::DeclaredTags() const { return {}; }

bool TDBDataHandler::Open() {
  Close();
  repairs_ = TOpenRepairs{};
  const uint64_t failuresBefore = code4diskFailures(&code_);
  const TDataFolderLock lock(path_);
  // A table whose creation died before its header was written is made
  // again: otherwise no later start could open the catalogue.
  const bool create = TableSurelyAbsent() || fileEmpty(GetFileName(true, true));
  // Nothing is made after a failed sync: it could not be trusted to stay.
  if (create && (readOnly_ || code_.syncFailed)) return false;
  const bool opened = create ? CreateTable() : OpenTable() && completeIndex();
  if (opened) data4top(data_);
  Disk4Failure failure;
  if (code4diskFailures(&code_) != failuresBefore && code4latestDiskFailure(&code_, failure))
    repairs_.cause = DiskFailureOf(failure);
  return opened;
}

bool TDBDataHandler::lacksTags() {
  bool lacks = false;
  const int32_t savedErrTagName = code_.errTagName;
  code_.errTagName = 0;  // a missing tag is what is asked, not an error
  for (const TDBTagDef& t : DeclaredTags())
    lacks = lacks || data4tag(data_, MakeTagName(t.name).c_str()) == nullptr;
  code_.errTagName = savedErrTagName;
  return lacks;
}

bool TDBDataHandler::completeIndex() {
  if (!indexRefused_ && !lacksTags()) return true;
  // The engine reported the index it refused; its error, cleared by the
  // capture, must not stop the rebuild where no hook clears it.
  if (indexRefused_) error4set(&code_, 0);
  // An index the disk would not let the engine rebuild stays as it is, to
  // be rebuilt at a start that has room; meanwhile one made in memory
  // serves the reads. After a failed sync nothing more is made on the disk.
  const bool onDisk =
      !readOnly_ && !code_.syncFailed && !(indexRefused_ && data_->dataFile->indexRebuildFailed);
  indexRefused_ = false;
  // The production index is made anew from every declared tag: the engine
  // adds no tag to an index file that exists. The handle is reopened
  // without the old file, which the new one replaces. What the engine says
  // of a failure is said as the table's waiting.
  TDbErrorCapture capture(code_);
  Tag4info tags(code_);
  if (buildTagList(tags, DeclaredTags()) != 0) return indexWaits(capture);
  if (onDisk) {
    data4close(std::exchange(data_, nullptr));
    data_ = openData(false);
    repairs_.indexRebuilt =
        data_ != nullptr && createProductionIndex(code_, data_, tags) != nullptr;
    if (repairs_.indexRebuilt) return true;
    if (data_ == nullptr) return indexWaits(capture);
  }
  // Only read, or the disk refused: made for this run in memory; a start
  // that can write makes it on the disk.
  data4close(std::exchange(data_, nullptr));
  data_ = openData(false);
  repairs_.indexInMemory = data_ != nullptr && index4createInMemory(data_, tags.tags()) != nullptr;
  if (!repairs_.indexInMemory) return indexWaits(capture);
  dropErrors(capture);
  return true;
}

void TDBDataHandler::dropErrors(TDbErrorCapture& capture) {
  capture.Drop(-1);
  // The disk's refusal is said too, as what came of it.
  Disk4Failure failure;
  code4takeDiskFailure(&code_, failure);
}

bool TDBDataHandler::indexWaits(TDbErrorCapture& capture) {
  repairs_.indexWaits = true;
  dropErrors(capture);
  // Never left open without its index: records appended then would be
  // missing from it.
  Close();
  return false;
}

bool TDBDataHandler::Close() {
  fields_.clear();
  fieldsBound_ = false;
  if (data_ == nullptr) return true;
  return data4close(std::exchange(data_, nullptr)) == 0;
}

int32_t TDBDataHandler::RecordCount() { return data_ ? data4recCount(data_) : -1; }

int32_t TDBDataHandler::RecordNumber() const { return data_ ? data4recNo(data_) : -1; }

bool TDBDataHandler::IsDeleted() { return data_ && data4deleted(data_) > 0; }

bool TDBDataHandler::GoTo(int32_t record) { return data_ && data4go(data_, record) == 0; }

bool TDBDataHandler::Skip(int32_t count) { return data_ && data4skip(data_, count) == 0; }

TFound TDBDataHandler::Next() { return data_ ? FoundOf(data4skip(data_, 1)) : TFound::kFailed; }

bool TDBDataHandler::Zap() { return data_ && data4zap(data_, 1, kZapLast) == 0; }

std::string TDBDataHandler::MakeTagName(std::string_view name) { return "T_" + std::string(name); }

void TDBDataHandler::SetEngineAccessMode(int32_t mode) {
  if (mode >= 0 && mode <= 2) code_.accessMode = static_cast<int8_t>(mode);
}

void TDBDataHandler::StartEngineCache(int32_t bytes) {
  if (code_.bufferingRunning) return;
  code_.bufferingSize = bytes;
  // Written out by the calling thread: a write the disk refuses leaves
  // its block changed instead of losing it on a worker.
  code_.bufferingWriteBehind = 0;
  // Searches pass over the whole file table: its records are read around
  // the cache, which keeps its memory for the writes it holds.
  code_.bufferingReadsAround = 1;
  code4cacheStart(&code_);
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
