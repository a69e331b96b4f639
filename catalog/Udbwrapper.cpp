#include "catalog/Udbwrapper.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>

#include "catalog/Cberrorhook.h"
#include "catalog/Dbfieldvalues.h"
#include "catalog/Dbschema.h"
#include "catalog/Owntablehandle.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4index.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/data4tail.h"
#include "engine/storage/date4.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "platform/os.h"

namespace {

// Now as the catalogue stores dates: days since 30 December 1899, the time
// of day as the fraction.
double now() {
  const platform::LocalTime t = platform::os().localTime();
  const int32_t days = date4julian(t.year, t.month, t.day) - date4julian(1899, 12, 30);
  const double seconds = t.hour * 3600.0 + t.minute * 60.0 + t.second + t.millisecond / 1000.0;
  return days + seconds / 86400.0;
}

// Zero-padded decimal text, as printf's "%0<width>d" writes it.
std::string padded(int64_t value, int width) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value < 0 ? -value : value).ptr;
  std::string text(digits, end);
  const int fill = width - static_cast<int>(text.size()) - (value < 0 ? 1 : 0);
  if (fill > 0) text.insert(0, static_cast<size_t>(fill), '0');
  return value < 0 ? "-" + text : text;
}

// A double with six decimals, as printf's "%f" writes it, whatever the locale.
std::string sixDecimals(double value) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6).ptr;
  return std::string(text, end);
}

// Seeks an id in the id tag of a table: true when the record is current.
bool seekId(const TOwnTableHandle& h, const char* declaredTag, int32_t id) {
  return h.selectTag(declaredTag) && data4top(h.get()) == 0 && data4seekDouble(h.get(), id) == 0;
}

bool readSupport(const TOwnTableHandle& h, TSupportRecord& r) {
  r.id = field4long(h.field("S_ID"));
  r.type = catalog::fieldText(h.field("S_TYPE"));
  r.size = catalog::fieldInt64(h.field("S_SIZE"));
  r.volume = catalog::fieldText(h.field("S_VOL"));
  r.volumeSerial = static_cast<int32_t>(catalog::fieldInt64(h.field("S_VOLID")));
  r.fileCount = field4long(h.field("S_FCOUNT"));
  r.userId = catalog::fieldText(h.field("S_USRID"));
  r.dateRecorded = field4double(h.field("S_DATEREC"));
  return catalog::memoText(h.field("S_TEXT"), r.text);
}

bool readFile(const TOwnTableHandle& h, TFileRecord& r) {
  r.id = field4long(h.field("F_ID"));
  r.name = catalog::fieldText(h.field("F_NAME"));
  r.ext = catalog::fieldText(h.field("F_EXT"));
  r.path = catalog::fieldText(h.field("F_PATH"));
  r.supportId = field4long(h.field("F_SUPPID"));
  r.comment = catalog::fieldText(h.field("F_COMMENT"));
  r.category = field4long(h.field("F_CATEG"));
  r.crc = catalog::fieldText(h.field("F_CRC"));
  r.md5 = catalog::fieldText(h.field("F_MD5"));
  r.date = field4double(h.field("F_DATE"));
  r.size = catalog::fieldInt64(h.field("F_SIZE"));
  r.attributes = field4long(h.field("F_ATTR"));
  return catalog::memoText(h.field("F_TEXT"), r.text);
}

// The end of a walk the engine answered `rc` for: whether it read the
// table to its end (a failed read is never the end).
bool walkedToEnd(int rc) { return rc >= 0; }

// errno for which the catalogue in `folder` cannot be written: its folder
// takes no new names, or a file of one of its tables cannot be written. 0
// when it can be.
int catalogueWriteError(const std::string& folder, TGlobalDBHandler& tables) {
  platform::Os& os = platform::os();
  if (const int rc = os.writeAccess(folder.c_str()); rc != 0) return -rc;
  for (const TDBDataHandler* table :
       {static_cast<TDBDataHandler*>(&tables.Ids()), static_cast<TDBDataHandler*>(&tables.Files()),
        static_cast<TDBDataHandler*>(&tables.Supports())}) {
    for (const char* extension : {".dbf", ".cdx", ".fpt"}) {
      const std::string name = platform::resolveName(table->GetFileName(true, false) + extension);
      if (os.pathStatus(name.c_str()) != 0) continue;
      if (const int rc = os.writeAccess(name.c_str()); rc != 0) return -rc;
    }
  }
  return 0;
}

}  // namespace

TDBWrapper::TDBWrapper(CODE4& code, const std::string& dataFolder)
    : code_(&code), dataFolder_(dataFolder) {
  // The tables are opened anew: a sync an earlier catalogue failed on this
  // settings object says nothing of them. Once one of theirs fails, nothing
  // more reaches the disk in this run: what the next start repairs from is
  // what the failed sync left.
  code4syncFailureForget(&code);
  engineFailuresSeen_ = code4diskFailures(&code);
  code.writesEndAtFailedSync = 1;
  DiskRefusalsForgotten();
  tables_ = std::make_unique<TGlobalDBHandler>(code, dataFolder);
  // A catalogue that cannot be written is read all the same, and nothing
  // is written to it: no table made, no note, no index rebuilt.
  writeError_ = catalogueWriteError(dataFolder, *tables_);
  // Records a power cut damaged stay on the disk, the evidence, until the
  // repair that depends on them is noted (settleNoteAtStart).
  code.tailCutDeferred = 1;
  opening_ = tables_->OpenAll(ReadOnly());
  code.tailCutDeferred = 0;
  if (!allTablesOpen()) openCause_ = latestFailure();
  // The catalogue's own second handles (counts, reads by id) share the
  // tables with the long-lived ones.
  code.singleOpen = 0;
  for (const TDBDataHandler* table : {static_cast<TDBDataHandler*>(&tables_->Ids()),
                                      static_cast<TDBDataHandler*>(&tables_->Files()),
                                      static_cast<TDBDataHandler*>(&tables_->Supports())})
    tableRepairs(*table);
  // Another process's note is its own business.
  const bool ours = opening_ != TCatalogueOpening::kHeldElsewhere;
  pending_ = std::make_unique<TPendingChange>(dataFolder, ours && !ReadOnly() && !code.syncFailed);
  if (ours) settleNoteAtStart();
  // A sync the start met (a table made, a note, a repair) is said now, and
  // so is any other failure nothing has said.
  noteSyncFailure();
  PresentUnsaidDiskFailure(code_);
}

TDBWrapper::~TDBWrapper() {
  // Closed cleanly, every table is written: nothing is pending any more.
  // After a failed sync the tables may differ from what they were told to
  // hold: the note stays, for the next start.
  const bool open = allTablesOpen();
  const bool closed = tables_->CloseAll();
  noteSyncFailure();
  if (closed && open && !syncFailed_ && !emptyingIncomplete_ && !keepNote_ && !unfinished_)
    clearNote();
  pending_.reset();
  tables_.reset();
}

int32_t TDBWrapper::AddScannedSupport(const std::string& shortComment,
                                      const std::string& longComment, int64_t totalSize,
                                      int32_t entryCount, const TVolumeInfo& volume) {
  TSupportRecord record;
  record.type = SupportTypeName(volume);
  record.size = totalSize;
  record.volume = volume.volumeName;
  record.volumeSerial = static_cast<int32_t>(volume.serialNumber);
  record.fileCount = entryCount;
  record.userId = shortComment;
  record.dateRecorded = now();
  record.text = longComment;
  return AddSupportRecord(record);
}

int32_t TDBWrapper::AddSupportRecord(TSupportRecord& r) {
  TSupportDataHandler& supports = tables_->Supports();
  if (!beginAddition(r)) return -1;
  // Only a stored support counts, and only its id is ever handed back: files
  // stored under an id that failed would belong to no support.
  const int32_t rc = supports.AppendSupport(r.id, r.type, r.size, r.volume, r.volumeSerial,
                                            r.fileCount, r.userId, r.dateRecorded, r.text);
  if (rc != 0) {
    // A sync the append met (its index's change mark) is said now.
    noteSyncFailure();
    appendFailed(supports);
    return rc == -4 ? kValueDoesNotFit : -1;
  }
  adding_ = {r.id, supports.RecordNumber(), tables_->Files().RecordCount() + 1};
  supportCount_++;
  rowsValid_ = false;
  return r.id;
}

int32_t TDBWrapper::AddScannedFile(int32_t supportId, TFileEntry& entry, const TFileEntry* parent) {
  TFileRecord record;
  record.name = entry.name;
  record.ext = (entry.attributes & kDirectoryAttribute) ? std::string() : entry.extension;
  record.path = entry.directory;
  // Only a stored parent can be named: one that failed to store (id -1)
  // would make a path that resolves to nothing.
  if (parent != nullptr && parent->databaseId >= 1)
    record.path = "@" + std::to_string(parent->databaseId) + ":" + entry.directory;
  record.supportId = supportId;
  record.category = -1;
  record.md5 = entry.signature;
  record.date = entry.date;
  record.size = entry.size;
  record.attributes = entry.attributes;
  const int32_t id = AddFileRecord(record);
  if (id >= 0) entry.databaseId = id;
  return id;
}

int32_t TDBWrapper::AddFileRecord(TFileRecord& r) {
  // After a failed sync no row is written (said once, here or before).
  noteSyncFailure();
  if (syncFailed_) return -1;
  const int32_t rc =
      tables_->Files().AppendFile(r.id, r.name, r.ext, r.path, r.supportId, r.comment, r.category,
                                  r.crc, r.md5, r.date, r.size, r.attributes, r.text);
  if (rc != 0) {
    appendFailed(tables_->Files());
    return rc == -4 ? kValueDoesNotFit : -1;
  }
  return r.id;
}

void TDBWrapper::appendFailed(const TDBDataHandler& table) {
  // An index the failure left half changed is rebuilt by the next start:
  // until then no change may build on it, and this one is not done.
  if (table.Handle() != nullptr && datafile4indexesUnfinished(table.Handle()->dataFile) &&
      !unfinished_) {
    unfinished_ = true;
    unfinishedCause_ = latestFailure();
  }
}

std::array<DATA4*, 3> TDBWrapper::tablesInWritingOrder() const {
  // A support's row and count reach the disk, synced, after its files: a
  // power cut never keeps a medium that counts files it lost.
  return {tables_->Files().Handle(), tables_->Supports().Handle(), tables_->Ids().Handle()};
}

bool TDBWrapper::FlushAll() {
  bool written = true;
  for (DATA4* table : tablesInWritingOrder()) {
    if (table != nullptr && data4flush(table) != 0) written = false;
  }
  // A sync that failed anywhere since (an index's mark among them) leaves
  // nothing that can be called written.
  noteSyncFailure();
  writeRefused_ = !written && !syncFailed_;
  if (!written || syncFailed_) return false;
  unflushed_ = false;
  // The disk takes writes again: a refusal to come is told anew.
  WritesSucceeded();
  return true;
}

bool TDBWrapper::FinishChange() {
  // Whatever comes of it, a series of additions ends here: the next one
  // begins with every check, and a note of its own.
  seriesOpen_ = false;
  if (!FlushAll()) return false;
  for (DATA4* table : tablesInWritingOrder()) {
    if (table != nullptr && data4settle(table) != 0) {
      noteSyncFailure();
      return false;
    }
  }
  // A change that could not be made whole is not done: its note stays, for
  // the next start.
  if (unfinished_) return false;
  // Every table is on the disk, synced, and agrees with its indexes: the
  // note has nothing left to repair.
  if (emptyingIncomplete_ || keepNote_) return true;
  return clearNote();
}

bool TDBWrapper::clearNote() {
  if (pending_->Clear()) return true;
  noteSyncFailure();
  if (!syncFailed_) PresentWriteRefused(pending_->FileName(), pending_->WriteError());
  return false;
}

void TDBWrapper::noteSyncFailure() {
  if (syncFailed_ || (!code_->syncFailed && !pending_->SyncFailed())) return;
  syncFailed_ = true;
  // The engine writes nothing more either, whichever sync failed.
  code_->syncFailed = true;
  // Said of the file whose sync failed first, with its cause.
  Disk4Failure failure;
  syncFailure_ = code4syncFailure(code_, failure) ? DiskFailureOf(failure) : pending_->Failure();
  if (syncFailure_.error == 0) syncFailure_.error = EIO;
  writeError_ = syncFailure_.error;
  refuse(TChangeRefusal::Why::kSyncFailed, syncFailure_);
}

bool TDBWrapper::noteRefused() {
  noteSyncFailure();
  if (!syncFailed_) refuse(TChangeRefusal::Why::kNoteUnwritable, pending_->Failure());
  return false;
}

bool TDBWrapper::changeUnfinished() {
  if (!unfinished_) unfinishedCause_ = latestFailure();
  unfinished_ = true;
  // A failed sync is what stopped it: that is said, once.
  noteSyncFailure();
  if (!syncFailed_) refuse(TChangeRefusal::Why::kChangeUnfinished, unfinishedCause_);
  return false;
}

TDiskFailure TDBWrapper::latestFailure() {
  if (pending_ != nullptr && pending_->Failures() != noteFailuresSeen_) {
    noteFailuresSeen_ = pending_->Failures();
    lastFailure_ = pending_->Failure();
  }
  const uint64_t engineFailures = code4diskFailures(code_);
  Disk4Failure failure;
  if (engineFailures != engineFailuresSeen_ && code4latestDiskFailure(code_, failure)) {
    engineFailuresSeen_ = engineFailures;
    lastFailure_ = DiskFailureOf(failure);
  }
  return lastFailure_;
}

bool TDBWrapper::OnDisk(int32_t id, TRowsOnDisk& rows) {
  rows = TRowsOnDisk{};
  if (id != adding_.id || !allTablesOpen()) return false;
  const int64_t supports = data4recordsOnDisk(tables_->Supports().Handle());
  const int64_t files = data4recordsOnDisk(tables_->Files().Handle());
  if (supports < 0 || files < 0) return false;
  // A start keeps no file of a support whose row it does not find.
  rows.support = supports >= adding_.record;
  if (rows.support)
    rows.files = static_cast<int32_t>(std::max<int64_t>(0, files - (adding_.firstFile - 1)));
  return true;
}

bool TDBWrapper::allTablesOpen() const {
  return tables_->Ids().Handle() != nullptr && tables_->Files().Handle() != nullptr &&
         tables_->Supports().Handle() != nullptr;
}

const std::vector<int32_t>* TDBWrapper::supportRows() {
  if (rowsValid_) return &rows_;
  rows_.clear();
  TSupportDataHandler& supports = tables_->Supports();
  const int32_t count = supports.RecordCount();
  if (count < 0) return nullptr;
  for (int32_t record = 1; record <= count; record++) {
    // A record the disk could not give is not one to leave out.
    if (!supports.GoTo(record)) return nullptr;
    if (!supports.IsDeleted()) rows_.push_back(record);
  }
  rowsValid_ = true;
  return &rows_;
}

bool TDBWrapper::OpenedWhole() const {
  return opening_ == TCatalogueOpening::kOpened && allTablesOpen() && !keepNote_;
}

TFound TDBWrapper::FindSupport(int32_t n) {
  const std::vector<int32_t>* rows = supportRows();
  if (rows == nullptr) return TFound::kFailed;
  if (n < 1 || n > static_cast<int32_t>(rows->size())) return TFound::kNone;
  return tables_->Supports().GoTo((*rows)[static_cast<size_t>(n - 1)]) ? TFound::kRecord
                                                                       : TFound::kFailed;
}

bool TDBWrapper::ReadCurrentSupport(TSupportRecord& r) {
  return tables_->Supports().ReadCurrent(r.id, r.type, r.size, r.volume, r.volumeSerial,
                                         r.fileCount, r.userId, r.dateRecorded, r.text) == 0;
}

TFound TDBWrapper::FindSupportById(int32_t id) { return tables_->Supports().FindById(id); }

bool TDBWrapper::UpdateSupportInfo(int32_t id, const std::string& userId, const std::string& text) {
  TSupportDataHandler& supports = tables_->Supports();
  if (!MayChange() || !supports.SeekById(id)) return false;
  TPendingNote note;
  note.kind = TChangeKind::kEditing;
  note.supportId = id;
  note.supportRecord = supports.RecordNumber();
  note.shortComment = userId;
  if (!changeAllowed(note.kind) || !markNow(note.before)) return false;
  if (!supports.StoreLongComment(text, note.longCommentBlock)) {
    noteSyncFailure();
    return false;
  }
  if (!pending_->Begin(note)) return noteRefused();
  seriesOpen_ = false;
  if (!supports.SetComments(note.supportRecord, id, userId, note.longCommentBlock))
    return changeUnfinished();
  return FinishChange();
}

bool TDBWrapper::UpdateSupportTotals(int32_t id, int64_t size, int32_t fileCount) {
  // Within an addition a failed sync was said already: nothing more is.
  noteSyncFailure();
  if (syncFailed_ || !MayChange()) return false;
  // A support whose totals could not be set would count rows it does not
  // hold: its addition is left to the next start, which sets them.
  return tables_->Supports().UpdateSizeAndCount(id, size, fileCount) || changeUnfinished();
}

TFound TDBWrapper::FindFirstFileOfSupport(int32_t id) { return tables_->Files().FindBySupport(id); }

TFound TDBWrapper::NextFile() { return tables_->Files().Next(); }

bool TDBWrapper::ReadCurrentFile(TFileRecord& r) {
  return tables_->Files().ReadCurrent(r.id, r.name, r.ext, r.path, r.supportId, r.comment,
                                      r.category, r.crc, r.md5, r.date, r.size, r.attributes,
                                      r.text) == 0;
}

bool TDBWrapper::DeleteSupport(int32_t id) {
  // A support the table could not be read for is not taken for absent: the
  // error hook said why, and nothing is deleted.
  const TFound found = tables_->Supports().FindById(id);
  if (found != TFound::kRecord) return found == TFound::kNone;
  TSupportRecord support;
  ReadCurrentSupport(support);
  TPendingNote note;
  note.kind = TChangeKind::kDeleting;
  note.supportId = id;
  note.supportRecord = tables_->Supports().RecordNumber();
  note.volume = catalog::ListedName(support.volume, support.userId);
  // Beginning writes the tables and reads the counters: the support's
  // handle stays where it is.
  if (!beginChange(note)) return false;
  rowsValid_ = false;
  // deleteFilesOf moves the files' handle alone.
  if (!deleteFilesOf(id) || !tables_->Supports().DeleteCurrent()) return changeUnfinished();
  supportCount_--;
  return FinishChange();
}

bool TDBWrapper::deleteFilesOf(int32_t id) {
  TFileDataHandler& files = tables_->Files();
  // A seek or a skip that failed is not the end of the support's files.
  for (TFound found = files.FindBySupport(id); found != TFound::kNone; found = files.Next()) {
    if (found == TFound::kFailed) return false;
    if (files.CurrentSupport() != id) return true;
    if (!files.IsDeleted() && !files.DeleteCurrent()) return false;
  }
  return true;
}

bool TDBWrapper::CountFilesOfSupport(int32_t id, int32_t& count, int64_t& size) {
  count = 0;
  size = 0;
  TOwnTableHandle own(tables_->Files());
  if (own.get() == nullptr || !own.selectTag(kFilesSupportTag)) return false;
  FIELD4* supportId = own.field("F_SUPPID");
  FIELD4* fileSize = own.field("F_SIZE");
  int rc = data4seekDouble(own.get(), id);
  for (; rc == 0 && field4long(supportId) == id; rc = data4skip(own.get(), 1)) {
    if (data4deleted(own.get())) continue;
    count++;
    size = catalog::saturatingAdd(size, catalog::fieldInt64(fileSize));
  }
  return rc == 0 || rc == r4after || rc == r4eof;
}

bool TDBWrapper::EmptyBase() {
  // The note of an emptying left incomplete still stands for this one.
  TPendingNote note;
  note.kind = TChangeKind::kEmptying;
  if (emptyingIncomplete_ ? !MayChange() : !beginChange(note)) return false;
  // The files go first: when either removal fails the work stops there, and
  // no file is ever left without its support.
  const bool supportsGone = tables_->Files().Zap() && tables_->Supports().Zap();
  if (!supportsGone && !emptyingIncomplete_) emptyingCause_ = latestFailure();
  emptyingIncomplete_ = !supportsGone;
  // A sync a removal met is said now, not at the close.
  noteSyncFailure();
  if (supportsGone) supportCount_ = 0;
  rowsValid_ = false;
  cachedParentId_ = -1;
  return supportsGone && FinishChange();
}

bool TDBWrapper::MayChange() {
  // A sync that failed anywhere (an index's mark, a counter's row) is said
  // as it is met. After it the disk's word is not to be trusted until the
  // next start, whatever the catalogue holds in memory: every change is
  // refused, in words of its own once the failure was said.
  const bool saidEarlier = syncFailed_;
  noteSyncFailure();
  if (syncFailed_) {
    if (saidEarlier) refuse(TChangeRefusal::Why::kSyncFailedEarlier, syncFailure_);
    return false;
  }
  if (ReadOnly()) {
    // No call failed: the folder's permissions or its file system say so.
    refuse(TChangeRefusal::Why::kReadOnly,
           TDiskFailure{TDiskCall::kNone, dataFolder_, writeError_});
    return false;
  }
  // A table that did not open at the start is not there to change.
  if (opening_ != TCatalogueOpening::kHeldElsewhere && !allTablesOpen()) {
    refuse(TChangeRefusal::Why::kTablesUnopened, openCause_);
    return false;
  }
  if (unfinished_) {
    refuse(TChangeRefusal::Why::kChangeUnfinished, unfinishedCause_);
    return false;
  }
  if (indexInMemory_) {
    refuse(TChangeRefusal::Why::kIndexInMemory, indexCause_);
    return false;
  }
  if (keepNote_) {
    refuse(TChangeRefusal::Why::kNoteKept, keepNoteCause_);
    return false;
  }
  return true;
}

bool TDBWrapper::changeAllowed(TChangeKind kind) {
  if (!MayChange()) return false;
  if (emptyingIncomplete_ && kind != TChangeKind::kEmptying) {
    refuse(TChangeRefusal::Why::kEmptyingIncomplete, emptyingCause_);
    return false;
  }
  // What earlier changes left in memory is on the disk before the note of
  // this one: a note is only ever tied to tables the disk holds.
  if (!FlushAll()) {
    // Why the disk refused them was said as it did; the refusal says it too.
    refuse(TChangeRefusal::Why::kTablesUnwritten, latestFailure());
    return false;
  }
  return true;
}

bool TDBWrapper::beginAddition(TSupportRecord& r) {
  TSupportDataHandler& supports = tables_->Supports();
  // The open series' note covers this support too once the ones before it
  // are written: only its name changes, without waiting for the disk.
  if (seriesOpen_ && !unflushed_) {
    if (!MayChange()) return false;
    if (r.id < 0) r.id = supports.DrawId();
    if (r.id < 0) return false;
    // A note the disk refused to take the name is a disk that fails:
    // the addition stops here.
    if (!pending_->Rename(r.id, catalog::ListedName(r.volume, r.userId))) return noteRefused();
    unflushed_ = true;
    return true;
  }
  TPendingNote note;
  note.kind = TChangeKind::kAdding;
  if (!changeAllowed(note.kind) || !markNow(note.before)) return false;
  // A counter at its limit hands out no id: nothing is begun.
  if (r.id < 0 && note.before.lastSupportId == INT32_MAX) return false;
  // The note comes first, naming the id the counter hands out next: the
  // first draw of a table writes the counter's new row at once.
  note.supportId = r.id >= 0 ? r.id : note.before.lastSupportId + 1;
  note.volume = catalog::ListedName(r.volume, r.userId);
  if (!pending_->Begin(note)) return noteRefused();
  seriesOpen_ = true;
  if (r.id < 0) r.id = supports.DrawId();
  if (r.id < 0) return false;
  // A counter found behind the table's ids is raised as it draws.
  if (r.id != note.supportId && !pending_->Rename(r.id, note.volume)) return noteRefused();
  unflushed_ = true;
  return true;
}

bool TDBWrapper::beginChange(TPendingNote note) {
  if (!changeAllowed(note.kind) || !markNow(note.before)) return false;
  if (!pending_->Begin(note)) return noteRefused();
  seriesOpen_ = false;
  return true;
}

bool TDBWrapper::markNow(TCatalogueMark& mark) {
  TIDHandler& ids = tables_->Ids();
  mark.supports = tables_->Supports().RecordCount();
  mark.files = tables_->Files().RecordCount();
  mark.lastSupportId = ids.LastId(tables_->Supports().TableName());
  mark.lastFileId = ids.LastId(tables_->Files().TableName());
  return mark.supports >= 0 && mark.files >= 0 && mark.lastSupportId >= 0 && mark.lastFileId >= 0;
}

void TDBWrapper::refuse(TChangeRefusal::Why why, const TDiskFailure& cause) {
  PresentChangeRefusal(TChangeRefusal::Of(why, cause));
}

bool TDBWrapper::CountSupports() {
  supportCount_ = 0;
  TOwnTableHandle own(tables_->Supports());
  if (own.get() == nullptr) return false;
  int rc = data4top(own.get());
  for (; rc == 0; rc = data4skip(own.get(), 1)) {
    if (!data4deleted(own.get())) supportCount_++;
  }
  return walkedToEnd(rc);
}

TSupportTotals TDBWrapper::SumSupports() {
  TSupportTotals totals;
  TOwnTableHandle own(tables_->Supports());
  totals.whole = false;
  if (own.get() == nullptr) return totals;
  FIELD4* fileCount = own.field("S_FCOUNT");
  FIELD4* size = own.field("S_SIZE");
  int rc = data4top(own.get());
  for (; rc == 0; rc = data4skip(own.get(), 1)) {
    if (data4deleted(own.get())) {
      totals.deleted++;
      continue;
    }
    totals.supports++;
    totals.files = catalog::saturatingAdd(totals.files, catalog::fieldInt64(fileCount));
    totals.bytes = catalog::saturatingAdd(totals.bytes, catalog::fieldInt64(size));
  }
  totals.whole = walkedToEnd(rc);
  return totals;
}

int32_t TDBWrapper::CountSupportsWithSerial(uint32_t serial, std::vector<std::string>* list) {
  if (list != nullptr) list->clear();
  TOwnTableHandle own(tables_->Supports());
  if (own.get() == nullptr) return -1;
  int32_t count = 0;
  int rc = data4top(own.get());
  for (; rc == 0; rc = data4skip(own.get(), 1)) {
    if (data4deleted(own.get())) continue;
    TSupportRecord r;
    if (!readSupport(own, r)) return -1;
    if (static_cast<uint32_t>(r.volumeSerial) != serial) continue;
    count++;
    if (list != nullptr)
      list->push_back(padded(r.id, 5) + "@" + padded(r.size, 10) + "@" + padded(r.fileCount, 10) +
                      "@" + sixDecimals(r.dateRecorded) + "@" + r.volume);
  }
  return walkedToEnd(rc) ? count : -1;
}

bool TDBWrapper::CountSupportsBySerial(std::unordered_map<uint32_t, int32_t>& counts) {
  counts.clear();
  TOwnTableHandle own(tables_->Supports());
  if (own.get() == nullptr) return false;
  FIELD4* serial = own.field("S_VOLID");
  int rc = data4top(own.get());
  for (; rc == 0; rc = data4skip(own.get(), 1)) {
    if (!data4deleted(own.get())) counts[static_cast<uint32_t>(catalog::fieldInt64(serial))]++;
  }
  return walkedToEnd(rc);
}

bool TDBWrapper::ReadSupportById(int32_t id, TSupportRecord& record) {
  TOwnTableHandle own(tables_->Supports());
  if (own.get() == nullptr || !seekId(own, kSupportIdTag, id) || data4deleted(own.get()))
    return false;
  return readSupport(own, record);
}

bool TDBWrapper::ReadFileById(int32_t id, TFileRecord& record) {
  TOwnTableHandle own(tables_->Files());
  if (own.get() == nullptr || !seekId(own, kFilesIdTag, id)) return false;
  return readFile(own, record);
}

std::string TDBWrapper::ResolveFilePath(const std::string& path, int32_t& parentId) {
  parentId = -1;
  const size_t colon = path.find(':');
  if (colon == std::string::npos) return path;
  // The number between the first character (the mark) and the ':'.
  int32_t id = 0;
  size_t at = 1;
  while (at < colon && path[at] == ' ') at++;
  bool negative = false;
  if (at < colon && (path[at] == '-' || path[at] == '+')) negative = path[at++] == '-';
  for (; at < colon && path[at] >= '0' && path[at] <= '9' && id < 100000000; at++)
    id = id * 10 + (path[at] - '0');
  if (negative) id = -id;
  // Ids start at 1; the cache, empty, holds -1.
  if (id < 1) return path;
  if (id != cachedParentId_) {
    TFileRecord parent;
    if (!ReadFileById(id, parent)) return path;
    cachedParent_ = parent;
    cachedParentId_ = id;
  }
  parentId = id;
  return cachedParent_.path + cachedParent_.name + "\\" + path.substr(colon + 1);
}

std::string TDBWrapper::SupportTypeName(const TVolumeInfo& volume) {
  if (volume.cdRom) return "CD/DVD";
  if (volume.removable) return "FD";
  if (volume.ramDisk) return "RAM";
  if (volume.fixed) return "HDD";
  if (volume.remote) return "NET";
  return "--";
}

std::string TDBWrapper::FormatVolumeSerial(uint32_t serial) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X-%04X", serial >> 16, serial & 0xFFFFu);
  return text;
}
