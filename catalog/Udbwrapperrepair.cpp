// The start's part of TDBWrapper: what the tables' opening repaired, and the
// repair of a change a previous run left pending (see Udbwrapper.h).
//
// A note is acted on only where the tables show its change under way:
//   adding    the tables hold at least the rows and ids of the mark, and
//             every row appended since belongs to a support drawn since;
//   deleting  the tables hold exactly the mark, and the noted record is the
//             noted support;
//   emptying  the counters are the mark's, and each table holds its rows of
//             the mark or none.
// Anything else is another catalogue's note, or one the tables moved on
// from (restored, copied, refilled): it is set aside and nothing changes.
#include <map>
#include <vector>

#include "catalog/Dbfieldvalues.h"
#include "catalog/Owntablehandle.h"
#include "catalog/Udbwrapper.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/field4value.h"

namespace {

struct Rows {
  int32_t count = 0;
  int64_t size = 0;
};

}  // namespace

void TDBWrapper::said(TStartRepair::Kind kind, int32_t supportId, const std::string& volume,
                      int64_t count) {
  TStartRepair repair;
  repair.kind = kind;
  repair.supportId = supportId;
  repair.volume = volume;
  repair.count = count;
  startReport_.push_back(repair);
}

void TDBWrapper::saidOfFile(TStartRepair::Kind kind, const std::string& file, int error) {
  TStartRepair repair;
  repair.kind = kind;
  repair.file = file;
  repair.error = error;
  startReport_.push_back(repair);
}

void TDBWrapper::tableRepairs(const TDBDataHandler& table) {
  const TOpenRepairs& repairs = table.OpenRepairs();
  const std::string file = table.GetFileName(true, true);
  auto sayOf = [&](bool happened, TStartRepair::Kind kind) {
    if (happened) saidOfFile(kind, file);
  };
  sayOf(repairs.tailCut, TStartRepair::Kind::kTailCut);
  sayOf(repairs.indexRebuilt, TStartRepair::Kind::kIndexRebuilt);
  sayOf(repairs.indexWaits, TStartRepair::Kind::kIndexWaits);
}

void TDBWrapper::settleNoteAtStart() {
  const std::string& file = pending_->FileName();
  switch (pending_->State()) {
    case TNoteState::kClear:
      break;
    case TNoteState::kUnreadable:
      // A change may be pending in it: nothing may write over it.
      keepNote_ = true;
      saidOfFile(TStartRepair::Kind::kNoteUnreadable, file, pending_->ReadError());
      break;
    case TNoteState::kDamaged:
      pending_->SetAside();
      saidOfFile(TStartRepair::Kind::kNoteDamaged, file);
      break;
    case TNoteState::kNoted:
      repairNoted();
      break;
  }
  // A catalogue only read says so as a change is refused.
  if (pending_->WriteError() != 0 && !ReadOnly())
    saidOfFile(TStartRepair::Kind::kNoteUnwritable, file, pending_->WriteError());
  CountSupports();
}

void TDBWrapper::repairNoted() {
  const TPendingNote note = pending_->Note();
  if (ReadOnly()) {
    // Repaired at a start that can write the catalogue.
    keepNote_ = true;
    saidOfFile(TStartRepair::Kind::kRepairReadOnly, dataFolder_, writeError_);
    return;
  }
  TCatalogueMark now;
  if (!allTablesOpen() || !markNow(now)) {
    keepNote_ = true;
    said(TStartRepair::Kind::kRepairWaits);
    return;
  }
  Verdict verdict = Verdict::kNotThisChange;
  switch (note.kind) {
    case TChangeKind::kAdding:
      verdict = repairAddition(note, now);
      break;
    case TChangeKind::kDeleting:
      verdict = repairDeletion(note, now);
      break;
    case TChangeKind::kEmptying:
      verdict = repairEmptying(note, now);
      break;
    case TChangeKind::kNone:
      return;
  }
  if (verdict == Verdict::kNotThisChange) {
    pending_->SetAside();
    saidOfFile(TStartRepair::Kind::kNoteStale, pending_->FileName());
    return;
  }
  if (verdict == Verdict::kUnreadable) {
    keepNote_ = true;
    said(TStartRepair::Kind::kRepairWaits);
    return;
  }
  rowsValid_ = false;
  // Written now, or held for a later flush: the note stays until then.
  if (!FlushAll()) {
    said(TStartRepair::Kind::kRepairUnwritten);
    return;
  }
  if (!emptyingIncomplete_) pending_->Clear();
}

TDBWrapper::Verdict TDBWrapper::repairAddition(const TPendingNote& note,
                                               const TCatalogueMark& now) {
  const TCatalogueMark& before = note.before;
  if (now.supports < before.supports || now.files < before.files ||
      now.lastSupportId < before.lastSupportId || now.lastFileId < before.lastFileId)
    return Verdict::kNotThisChange;
  // Every row appended since the mark is of a support drawn since, and
  // none after the one the note names, the last begun: rows of another
  // belong to tables that moved on. The supports before the one the note
  // names were written whole before it began.
  auto drawnDuring = [&](int32_t id) { return id > before.lastSupportId && id <= note.supportId; };
  struct Listed {
    int64_t fileCount;
    int64_t size;
    std::string volume;
  };
  std::map<int32_t, Listed> listed;
  {
    TOwnTableHandle own(tables_->Supports());
    if (own.get() == nullptr) return Verdict::kUnreadable;
    FIELD4* id = own.field("S_ID");
    for (int32_t record = before.supports + 1; record <= now.supports; record++) {
      if (data4go(own.get(), record) != 0) return Verdict::kUnreadable;
      const int32_t supportId = field4long(id);
      if (!drawnDuring(supportId)) return Verdict::kNotThisChange;
      if (data4deleted(own.get()) || supportId < note.supportId) continue;
      listed[supportId] = {catalog::fieldInt64(own.field("S_FCOUNT")),
                           catalog::fieldInt64(own.field("S_SIZE")),
                           catalog::fieldText(own.field("S_VOL"))};
    }
  }
  // The files appended since, each of a support drawn since.
  std::map<int32_t, Rows> held;
  std::map<int32_t, std::vector<int32_t>> orphans;
  {
    TOwnTableHandle own(tables_->Files());
    if (own.get() == nullptr) return Verdict::kUnreadable;
    FIELD4* supportId = own.field("F_SUPPID");
    FIELD4* size = own.field("F_SIZE");
    for (int32_t record = before.files + 1; record <= now.files; record++) {
      if (data4go(own.get(), record) != 0) return Verdict::kUnreadable;
      const int32_t owner = field4long(supportId);
      if (!drawnDuring(owner)) return Verdict::kNotThisChange;
      if (data4deleted(own.get()) || owner < note.supportId) continue;
      if (listed.contains(owner)) {
        Rows& rows = held[owner];
        rows.count++;
        rows.size = catalog::saturatingAdd(rows.size, catalog::fieldInt64(size));
      } else {
        orphans[owner].push_back(record);
      }
    }
  }
  TFileDataHandler& files = tables_->Files();
  for (const auto& [owner, records] : orphans) {
    for (const int32_t record : records) {
      if (files.GoTo(record)) files.DeleteCurrent();
    }
    said(TStartRepair::Kind::kFilesRemoved, owner, owner == note.supportId ? note.volume : "",
         static_cast<int64_t>(records.size()));
  }
  for (const auto& [id, support] : listed) {
    const Rows rows = held[id];
    if (support.fileCount == rows.count && support.size == rows.size) continue;
    if (UpdateSupportTotals(id, rows.size, rows.count))
      said(TStartRepair::Kind::kCountSet, id, support.volume, rows.count);
  }
  return Verdict::kRepaired;
}

TDBWrapper::Verdict TDBWrapper::repairDeletion(const TPendingNote& note,
                                               const TCatalogueMark& now) {
  if (!(now == note.before)) return Verdict::kNotThisChange;
  TSupportDataHandler& supports = tables_->Supports();
  if (!supports.GoTo(note.supportRecord)) return Verdict::kNotThisChange;
  {
    // Read as stored, deleted or not.
    TOwnTableHandle own(supports);
    if (own.get() == nullptr || data4go(own.get(), note.supportRecord) != 0)
      return Verdict::kUnreadable;
    if (field4long(own.field("S_ID")) != note.supportId) return Verdict::kNotThisChange;
  }
  bool done = false;
  if (!supports.IsDeleted()) done = supports.DeleteCurrent();
  done = deleteFilesOf(note.supportId) > 0 || done;
  if (done) said(TStartRepair::Kind::kDeletionCompleted, note.supportId, note.volume);
  return Verdict::kRepaired;
}

TDBWrapper::Verdict TDBWrapper::repairEmptying(const TPendingNote& note,
                                               const TCatalogueMark& now) {
  const TCatalogueMark& before = note.before;
  const bool sameIds =
      now.lastSupportId == before.lastSupportId && now.lastFileId == before.lastFileId;
  const bool supportsAsNoted = now.supports == before.supports || now.supports == 0;
  const bool filesAsNoted = now.files == before.files || now.files == 0;
  if (!sameIds || !supportsAsNoted || !filesAsNoted) return Verdict::kNotThisChange;
  if (now.supports == 0 && now.files == 0) return Verdict::kRepaired;
  const bool emptied = tables_->Files().Zap() && tables_->Supports().Zap();
  emptyingIncomplete_ = !emptied;
  said(emptied ? TStartRepair::Kind::kEmptyingCompleted : TStartRepair::Kind::kEmptyingIncomplete);
  return Verdict::kRepaired;
}
