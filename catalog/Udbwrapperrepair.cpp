// The start's part of TDBWrapper: what the tables' opening repaired, and the
// repair of a change a previous run left pending (see Udbwrapper.h).
//
// A note is acted on only where the tables show its change under way:
//   adding    the tables hold at least the rows of the mark, and every row
//             appended since belongs to a support drawn since
//             (TAdditionRepair);
//   deleting  the tables hold exactly the mark, and the noted record is the
//             noted support;
//   emptying  the counters are the mark's, and each table holds its rows of
//             the mark or none.
// Anything else is another catalogue's note, or one the tables moved on
// from (restored, copied, emptied since): it is set aside and nothing
// changes. A catalogue that is only read is looked at the same way and
// nothing is written: only a change that is not complete on its tables is
// said, to be repaired by a start that can write them.
#include <cerrno>

#include "catalog/Additionrepair.h"
#include "catalog/Dbfieldvalues.h"
#include "catalog/Owntablehandle.h"
#include "catalog/Udbwrapper.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tail.h"
#include "engine/storage/field4value.h"

void TDBWrapper::saidOfFile(TStartRepair::Kind kind, const std::string& file, int error) {
  startReport_.push_back(TStartRepair::OfFile(kind, file, error));
}

void TDBWrapper::saidBecause(TStartRepair::Kind kind, const TDiskFailure& cause) {
  startReport_.push_back(TStartRepair::Because(kind, dataFolder_, cause));
}

void TDBWrapper::tableRepairs(const TDBDataHandler& table) {
  const TOpenRepairs& repairs = table.OpenRepairs();
  const std::string file = table.GetFileName(true, true);
  auto sayOf = [&](bool happened, TStartRepair::Kind kind) {
    if (happened) saidOfFile(kind, file);
  };
  sayOf(repairs.tailCut, TStartRepair::Kind::kTailCut);
  // Only read, the table is taken as far as it holds records, and its
  // repair waits for a start that can write it.
  if (ReadOnly())
    repairWaitsForWriting_ = repairWaitsForWriting_ || repairs.countTakenBack;
  else
    sayOf(repairs.countTakenBack, TStartRepair::Kind::kCountTakenBack);
  sayOf(repairs.indexRebuilt, TStartRepair::Kind::kIndexRebuilt);
  // Said with the cause the writer that left it noted: no room, or none.
  if (repairs.indexFinished && !repairs.indexRebuilt)
    saidOfFile(TStartRepair::Kind::kIndexFinished, file,
               repairs.indexLeftWithoutRoom ? ENOSPC : 0);
  if (repairs.indexWaits)
    startReport_.push_back(TStartRepair::Because(
        TStartRepair::Kind::kIndexWaits, file,
        repairs.cause.call != TDiskCall::kNone ? repairs.cause : latestFailure()));
  if (!repairs.indexInMemory) return;
  // Read right all the same; the file on the disk waits, still marked, for
  // a start that can rebuild it there.
  if (ReadOnly()) {
    repairWaitsForWriting_ = true;
  } else if (!indexInMemory_) {
    // One line for the catalogue, however many of its indexes wait.
    indexInMemory_ = true;
    indexCause_ = repairs.cause.call != TDiskCall::kNone ? repairs.cause : latestFailure();
    startReport_.push_back(
        TStartRepair::Because(TStartRepair::Kind::kIndexInMemory, dataFolder_, indexCause_));
  }
}

void TDBWrapper::settleNoteAtStart() {
  const std::string& file = pending_->FileName();
  switch (pending_->State()) {
    case TNoteState::kClear:
      break;
    case TNoteState::kUnreadable:
      // A change may be pending in it: nothing may write over it.
      keepNote_ = true;
      keepNoteCause_ = latestFailure();
      startReport_.push_back(
          TStartRepair::Because(TStartRepair::Kind::kNoteUnreadable, file, keepNoteCause_));
      break;
    case TNoteState::kDamaged:
      pending_->SetAside();
      saidOfFile(TStartRepair::Kind::kNoteDamaged, file);
      break;
    case TNoteState::kNoted:
      repairNoted();
      break;
  }
  // No repair waits on the records lost any more (or none was noted).
  if (!keepNote_) cutDeferredTails();
  // A catalogue only read says so as a change is refused.
  if (pending_->WriteError() != 0 && !ReadOnly() && !code_->syncFailed)
    startReport_.push_back(
        TStartRepair::Because(TStartRepair::Kind::kNoteUnwritable, file, pending_->Failure()));
  if (repairWaitsForWriting_)
    saidOfFile(TStartRepair::Kind::kRepairReadOnly, dataFolder_, writeError_);
  CountSupports();
}

bool TDBWrapper::cutDeferredTails() {
  bool cut = true;
  for (const TDBDataHandler* table : {static_cast<TDBDataHandler*>(&tables_->Ids()),
                                      static_cast<TDBDataHandler*>(&tables_->Files()),
                                      static_cast<TDBDataHandler*>(&tables_->Supports())}) {
    if (table->Handle() != nullptr && data4tailCut(table->Handle()) != 0) cut = false;
  }
  return cut;
}

void TDBWrapper::repairNoted() {
  const TPendingNote note = pending_->Note();
  TCatalogueMark now;
  if (!allTablesOpen() || !markNow(now)) {
    keepNote_ = true;
    keepNoteCause_ = latestFailure();
    if (ReadOnly())
      repairWaitsForWriting_ = true;
    else
      saidBecause(TStartRepair::Kind::kRepairWaits, keepNoteCause_);
    return;
  }
  const bool apply = !ReadOnly();
  repaired_.clear();
  Verdict verdict = Verdict::kNotThisChange;
  switch (note.kind) {
    case TChangeKind::kAdding:
      verdict = repairAddition(note, now, apply);
      break;
    case TChangeKind::kDeleting:
      verdict = repairDeletion(note, now, apply);
      break;
    case TChangeKind::kEmptying:
      verdict = repairEmptying(note, now, apply);
      break;
    case TChangeKind::kEditing:
      verdict = repairEdit(note, now, apply);
      break;
    case TChangeKind::kNone:
      return;
  }
  if (!apply) {
    // Left as it is for a start that can write the catalogue.
    keepNote_ = true;
    repairWaitsForWriting_ =
        repairWaitsForWriting_ || verdict == Verdict::kRepaired || verdict == Verdict::kUnreadable;
    return;
  }
  switch (verdict) {
    case Verdict::kNotThisChange:
      pending_->SetAside();
      saidOfFile(TStartRepair::Kind::kNoteStale, pending_->FileName());
      return;
    case Verdict::kUnreadable:
      keepNote_ = true;
      keepNoteCause_ = latestFailure();
      saidBecause(TStartRepair::Kind::kRepairWaits, keepNoteCause_);
      return;
    case Verdict::kUnfinished:
      // Part of the repair may be done in memory: it is not said, and no
      // change may replace its note before a start completes it.
      keepNote_ = true;
      keepNoteCause_ = latestFailure();
      saidBecause(TStartRepair::Kind::kRepairUnwritten, keepNoteCause_);
      return;
    case Verdict::kComplete:
    case Verdict::kRepaired:
      break;
  }
  rowsValid_ = false;
  cutDeferredTails();
  // Written now, or held for a later flush: the note stays until then, and
  // nothing is said done before the disk holds it.
  if (!FinishChange()) {
    saidBecause(TStartRepair::Kind::kRepairUnwritten, latestFailure());
    return;
  }
  startReport_.insert(startReport_.end(), repaired_.begin(), repaired_.end());
}

TDBWrapper::Verdict TDBWrapper::repairAddition(const TPendingNote& note, const TCatalogueMark& now,
                                               bool apply) {
  TAdditionRepair repair(tables_->Supports(), tables_->Files(), tables_->Ids());
  const bool damaged =
      tables_->Files().OpenRepairs().recordsLost || tables_->Supports().OpenRepairs().recordsLost;
  switch (repair.Survey(note, now, damaged)) {
    case TAdditionRepair::Finding::kNothingToDo:
      repair.SayDecisionMade(repaired_);
      return Verdict::kComplete;
    case TAdditionRepair::Finding::kNotThisChange:
      return Verdict::kNotThisChange;
    case TAdditionRepair::Finding::kUnreadable:
      return Verdict::kUnreadable;
    case TAdditionRepair::Finding::kToRepair:
      break;
  }
  if (!apply) return Verdict::kRepaired;
  // The damage that decides a removal goes with the first write (the cut
  // of the records it lost): the decision is on the disk before it.
  if (repair.RemovedSupport() != note.removedSupport &&
      !pending_->Decide(repair.RemovedSupport())) {
    noteSyncFailure();
    return Verdict::kUnfinished;
  }
  if (!cutDeferredTails()) return Verdict::kUnfinished;
  return repair.Apply(repaired_) ? Verdict::kRepaired : Verdict::kUnfinished;
}

TDBWrapper::Verdict TDBWrapper::repairDeletion(const TPendingNote& note, const TCatalogueMark& now,
                                               bool apply) {
  if (!(now == note.before)) return Verdict::kNotThisChange;
  {
    // Read as stored, deleted or not.
    TOwnTableHandle own(tables_->Supports());
    if (own.get() == nullptr || data4go(own.get(), note.supportRecord) != 0)
      return Verdict::kUnreadable;
    if (field4long(own.field("S_ID")) != note.supportId) return Verdict::kNotThisChange;
    int32_t files = 0;
    int64_t size = 0;
    if (!CountFilesOfSupport(note.supportId, files, size)) return Verdict::kUnreadable;
    if (data4deleted(own.get()) && files == 0) return Verdict::kComplete;
  }
  if (!apply) return Verdict::kRepaired;
  TSupportDataHandler& supports = tables_->Supports();
  if (!supports.GoTo(note.supportRecord)) return Verdict::kUnfinished;
  if (!supports.IsDeleted() && !supports.DeleteCurrent()) return Verdict::kUnfinished;
  if (!deleteFilesOf(note.supportId)) return Verdict::kUnfinished;
  repaired_.push_back(TStartRepair::OfSupport(TStartRepair::Kind::kDeletionCompleted,
                                              note.supportId, note.volume, 0));
  return Verdict::kRepaired;
}

TDBWrapper::Verdict TDBWrapper::repairEmptying(const TPendingNote& note, const TCatalogueMark& now,
                                               bool apply) {
  const TCatalogueMark& before = note.before;
  const bool sameIds =
      now.lastSupportId == before.lastSupportId && now.lastFileId == before.lastFileId;
  const bool supportsAsNoted = now.supports == before.supports || now.supports == 0;
  const bool filesAsNoted = now.files == before.files || now.files == 0;
  if (!sameIds || !supportsAsNoted || !filesAsNoted) return Verdict::kNotThisChange;
  if (now.supports == 0 && now.files == 0) return Verdict::kComplete;
  if (!apply) return Verdict::kRepaired;
  const bool emptied = tables_->Files().Zap() && tables_->Supports().Zap();
  if (!emptied) emptyingCause_ = latestFailure();
  emptyingIncomplete_ = !emptied;
  // An emptying left incomplete stays pending, said as such.
  if (emptied)
    repaired_.push_back(TStartRepair::OfSupport(TStartRepair::Kind::kEmptyingCompleted, 0, "", 0));
  else
    saidBecause(TStartRepair::Kind::kEmptyingIncomplete, emptyingCause_);
  return Verdict::kRepaired;
}

TDBWrapper::Verdict TDBWrapper::repairEdit(const TPendingNote& note, const TCatalogueMark& now,
                                           bool apply) {
  TSupportDataHandler& supports = tables_->Supports();
  if (!(now == note.before) || !supports.IsSupportAt(note.supportRecord, note.supportId))
    return Verdict::kNotThisChange;
  if (supports.HoldsComments(note.shortComment, note.longCommentBlock)) return Verdict::kComplete;
  if (!apply) return Verdict::kRepaired;
  // The long comment's entry was synced before the note: the edit is
  // completed, never half kept.
  TSupportRecord support;
  ReadCurrentSupport(support);
  if (!supports.SetComments(note.supportRecord, note.supportId, note.shortComment,
                            note.longCommentBlock))
    return Verdict::kUnfinished;
  repaired_.push_back(TStartRepair::OfSupport(TStartRepair::Kind::kEditCompleted, note.supportId,
                                              catalog::ListedName(support.volume, support.userId),
                                              0));
  return Verdict::kRepaired;
}
