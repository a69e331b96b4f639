// TDBWrapper: the one object through which the program reaches the
// catalogue. It adds supports and files (from a scan or an archive), reads,
// seeks, updates and deletes them, empties the catalogue, counts supports,
// finds supports by volume serial, and expands compact paths.
//
// The current support and the current file are the positions of the
// long-lived DBSUPPORT and DBFILES handles; operations marked "own handle"
// open a second, short-lived handle on the table and never move them.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalog/Cataloguenotices.h"
#include "catalog/Globaldbhandler.h"
#include "catalog/Mediatypes.h"
#include "catalog/Pendingchange.h"

struct CODE4;
struct DATA4;

// The values of one DBSUPPORT record, in table order.
struct TSupportRecord {
  int32_t id = -1;
  std::string type;
  int64_t size = 0;
  std::string volume;
  int32_t volumeSerial = 0;  // stored signed; format it through uint32_t
  int32_t fileCount = 0;
  std::string userId;
  double dateRecorded = 0.0;
  std::string text;
};

// Totals of one pass over DBSUPPORT: live and deleted supports, and over
// the live ones the sums of their stored entry counts and sizes.
struct TSupportTotals {
  int32_t supports = 0;
  int32_t deleted = 0;
  int64_t files = 0;
  int64_t bytes = 0;
  bool whole = true;  // false: the table could not be read to its end
};

// The values of one DBFILES record, in table order.
struct TFileRecord {
  int32_t id = -1;
  std::string name;
  std::string ext;
  std::string path;
  int32_t supportId = 0;
  std::string comment;
  int32_t category = 0;
  std::string crc;
  std::string md5;
  double date = 0.0;
  int64_t size = 0;
  int32_t attributes = 0;
  std::string text;
};

class TDBWrapper {
 public:
  // Opens (or creates) the catalogue in `dataFolder`; Opening tells how
  // that went.
  TDBWrapper(CODE4& code, const std::string& dataFolder);
  // What the opening came to. A catalogue that another process holds is
  // left unopened and said so here only: the caller tells the user.
  TCatalogueOpening Opening() const { return opening_; }
  // What this start repaired in the tables, or found it could not: for one
  // message to the user. Nothing of it went through the error hook.
  const TStartReport& StartReport() const { return startReport_; }
  // The catalogue cannot be written (its folder takes no new names, or a
  // table's file cannot be written): it is read, and every change is
  // refused. WriteError tells why (an errno).
  bool ReadOnly() const { return writeError_ != 0; }
  int WriteError() const { return writeError_; }
  // Whether the catalogue may be changed at all; when not (it is only
  // read, or a note found at the start must stay), the refusal is told.
  // Commands ask before they begin.
  bool MayChange();
  // The folder of the catalogue's files, as given.
  const std::string& DataFolder() const { return dataFolder_; }
  // Closes every table, then ends the engine.
  ~TDBWrapper();
  TDBWrapper(const TDBWrapper&) = delete;
  TDBWrapper& operator=(const TDBWrapper&) = delete;

  // Adding, deleting and emptying are noted pending (TPendingChange) before
  // their first write can reach the disk: the note is tied to the tables as
  // they stood when the change began. A start that finds a note checks that
  // the tables show that change under way (else the note is set aside, and
  // nothing changes), then finishes it as the disk holds it: a deletion or
  // an emptying is completed; an addition's media are each left whole or
  // gone (TAdditionRepair). StartReport says what was done. Every file a
  // change wrote is synced (FlushAll, the close) before its note is
  // replaced or cleared, so that a power cut keeps what was reported
  // stored.
  //
  // The note stays on the disk until another change replaces it or the
  // catalogue closes cleanly: a note whose change is complete leaves its
  // repair nothing to do, so additions one after the other (an import)
  // share one note. Every change begins by writing what the tables hold
  // (FlushAll); one that cannot is refused, and so is every change while
  // an emptying is incomplete (EmptyBase completes it) or while a note
  // found at the start could not be read or repaired. A refusal is told
  // through PresentChangeRefusal, naming the file and the cause.
  //
  // A new support from a scan: its id, or negative when it could not be
  // stored (the count then stays as it was).
  int32_t AddScannedSupport(const std::string& shortComment, const std::string& longComment,
                            int64_t totalSize, int32_t entryCount, const TVolumeInfo& volume);
  // The result of the two Add...Record calls below when a value does not
  // fit its column (a number too wide): nothing was stored.
  static constexpr int32_t kValueDoesNotFit = -2;
  // A support from an archive; record.id -1 draws a new id. The id, or
  // kValueDoesNotFit, or -1 when it could not be stored (also when a change
  // left pending before cannot be written first).
  int32_t AddSupportRecord(TSupportRecord& record);
  // A scanned entry of a support; a stored parent entry makes the path
  // compact ("@<parent id>:<path>"), one that failed to store leaves it
  // full. The new F_ID (also stored in the entry) or negative.
  int32_t AddScannedFile(int32_t supportId, TFileEntry& entry, const TFileEntry* parent);
  // A file from an archive: results as AddSupportRecord.
  //
  // A table whose index can grow no more refuses every row, storing nothing
  // of it; the error hook tells it in words (Cberrorhook.h).
  int32_t AddFileRecord(TFileRecord& record);
  // Writes every table to the disk, synced, the files before the supports
  // that count them: at the end of each support of an insertion or an
  // import, never per record. False when something could not be written:
  // the catalogue keeps it, to write at the next flush. A sync that failed
  // is final: the catalogue is then only read until the next start (said
  // once, in words), which repairs from the change's note.
  bool FlushAll();
  // Ends a change once it is complete (a medium added, an import finished;
  // a deletion, an edit and an emptying end themselves): FlushAll, then
  // every index the change touched is synced and carries no change mark,
  // and the change's note is cleared. A death while the program is idle
  // then costs the next start nothing. False when something could not be
  // written, or the change could not be made whole: the note stays, for
  // the next start to repair from.
  bool FinishChange();
  // The last FlushAll failed because the disk refused writes (a full disk),
  // not for a failed sync: what waits is still in memory.
  bool WriteRefused() const { return writeRefused_; }
  // After a FlushAll that failed: what the disk holds now of support `id`,
  // the one added last, as a start after a death at this moment would keep
  // it: its row, and its files written whole (none while its row is not on
  // the disk). False for another support, or when the disk cannot be read.
  struct TRowsOnDisk {
    bool support = false;
    int32_t files = 0;
  };
  bool OnDisk(int32_t id, TRowsOnDisk& rows);

  // Whether the start opened every table and left no change pending
  // unrepaired: what the tables hold is the catalogue, whole, for a reader
  // that must not write a part of it for the whole (an export).
  bool OpenedWhole() const;
  // The n-th live support (from 1) becomes the current one: kNone past
  // the last, kFailed when the table could not be read (the error hook
  // said why), which is never the end of the supports.
  TFound FindSupport(int32_t n);
  bool GotoSupport(int32_t n) { return FindSupport(n) == TFound::kRecord; }
  // The record number of the current support: a reader that keeps a
  // support it read compares it to know whether the position moved since.
  int32_t CurrentSupportRecord() const { return tables_->Supports().RecordNumber(); }
  // False when its long comment could not be read (the error hook said
  // why): the record then holds none.
  bool ReadCurrentSupport(TSupportRecord& record);
  // A deleted support is found by none of the operations that take an id:
  // SeekSupport, the two updates, DeleteSupport and ReadSupportById.
  bool SeekSupport(int32_t id) { return FindSupportById(id) == TFound::kRecord; }
  TFound FindSupportById(int32_t id);
  // A change of its own (noted, finished): the support's short and long
  // comments, both or neither after a power cut. The long comment is
  // written to new blocks, synced, before its note; the record takes both
  // in one write. False when it could not begin or be written.
  bool UpdateSupportInfo(int32_t id, const std::string& userId, const std::string& text);
  // Within an addition: the support's totals, written with the next flush.
  // False when they could not be set: the addition is then unfinished, for
  // the next start to set them from the rows.
  bool UpdateSupportTotals(int32_t id, int64_t size, int32_t fileCount);
  // The support's files in the order of its tag, from the first: each
  // becomes the current file. A file of another support after the last is
  // found too (the caller stops there); kFailed is never the end.
  TFound FindFirstFileOfSupport(int32_t id);
  TFound NextFile();
  // False when its long comment could not be read.
  bool ReadCurrentFile(TFileRecord& record);
  // Marks the support and its files deleted, and finishes the change. True,
  // also for an id that names no live support; false when the support
  // could not be read (nothing changes), or the change could not begin, or
  // could not be made or written (the deletion then stands in memory, its
  // note on the disk, for the next start).
  bool DeleteSupport(int32_t id);
  // The live files of a support as the table holds them: how many, and
  // the sum of their sizes (own handle). False when the table cannot be
  // read.
  bool CountFilesOfSupport(int32_t id, int32_t& count, int64_t& size);
  // Removes every file, then every support, and writes the tables to disk;
  // the id counters stay. False when a removal or the writing failed, which
  // is reported through the error hook (by the engine, or here for a table
  // that never opened); the supports are kept when the files could not go.
  // An emptying left incomplete stays pending: the next EmptyBase, or the
  // next start, completes it.
  bool EmptyBase();
  // Counts the live supports (own handle): false when the table could not
  // be read to its end (the count is then of those read).
  bool CountSupports();
  int32_t GetSupportCount() const { return supportCount_; }
  // One pass over every support record (own handle); `whole` false when
  // the table could not be read to its end.
  TSupportTotals SumSupports();
  // Live supports with this serial (own handle); with a list, one line per
  // support: "%05d@%010ld@%010ld@%f@%s" of id, size, file count, date and
  // volume. -1 when the table could not be read to its end.
  int32_t CountSupportsWithSerial(uint32_t serial, std::vector<std::string>* list);
  // Every serial of the live supports with the number of supports holding
  // it, in one pass (own handle): for a caller that asks about many serials.
  // False when the table could not be read to its end.
  bool CountSupportsBySerial(std::unordered_map<uint32_t, int32_t>& counts);
  bool ReadSupportById(int32_t id, TSupportRecord& record);
  bool ReadFileById(int32_t id, TFileRecord& record);
  // The full path of a compact one: the parent's path and name, '\', then
  // the rest. A path without ':' or naming no stored file (any id below 1
  // among them) comes back unchanged with parentId -1.
  std::string ResolveFilePath(const std::string& path, int32_t& parentId);

  // The table handlers, for the windows that open a short-lived handle of
  // their own on a table (TOwnTableHandle).
  const TFileDataHandler& Files() const { return tables_->Files(); }
  const TSupportDataHandler& Supports() const { return tables_->Supports(); }

  static std::string SupportTypeName(const TVolumeInfo& volume);
  static std::string FormatVolumeSerial(uint32_t serial);

 private:
  // Record numbers of the live supports, in record order; null when the
  // table could not be read to its end.
  const std::vector<int32_t>* supportRows();
  // Marks every live file of the support deleted: false when one could not
  // be.
  bool deleteFilesOf(int32_t id);
  bool allTablesOpen() const;

  // Beginning a change (Udbwrapper.cpp). Whether a change may begin now;
  // a refusal is told.
  bool changeAllowed(TChangeKind kind);
  // Notes an addition of support `record` (its id drawn here when
  // negative): a new note, or the open series' note renamed.
  bool beginAddition(TSupportRecord& record);
  // Notes a deletion or an emptying, once the tables are written.
  bool beginChange(TPendingNote note);
  // The tables' mark now; false when a table or a counter cannot be read.
  bool markNow(TCatalogueMark& mark);
  // Tells a refusal, naming the disk call whose failure is its cause.
  void refuse(TChangeRefusal::Why why, const TDiskFailure& cause);
  // The disk call that failed last in this run, of the tables (the
  // engine's record) or of the note; kNone when none has.
  TDiskFailure latestFailure();
  // After a write or a sync that failed: a sync that failed (of a table's
  // file or of the note) turns the catalogue read-only for the rest of the
  // run, said once.
  void noteSyncFailure();
  // The tables as a flush writes them: files, supports, ids.
  std::array<DATA4*, 3> tablesInWritingOrder() const;
  // A note that could not be written refuses its change, said once.
  bool noteRefused();
  // Clears the note once the tables hold the change whole: false, said,
  // when it could not be.
  bool clearNote();
  // A change was begun and could not be made whole in memory: its note
  // must stay until the next start, and every change is refused meanwhile.
  bool changeUnfinished();
  // After an append `table` refused: the change is unfinished when the
  // failure left an index of the table half changed.
  void appendFailed(const TDBDataHandler& table);

  // The start's repair of a note (Udbwrapperrepair.cpp).
  // What a note's change comes to on the tables: complete (nothing to do),
  // repaired (or, with `apply` false, to be repaired), not this change, or
  // not known because a table could not be read.
  // kUnfinished: a table refused part of the repair, or its decision could
  // not be noted first.
  enum class Verdict { kComplete, kRepaired, kNotThisChange, kUnreadable, kUnfinished };
  void settleNoteAtStart();
  void repairNoted();
  Verdict repairAddition(const TPendingNote& note, const TCatalogueMark& now, bool apply);
  Verdict repairDeletion(const TPendingNote& note, const TCatalogueMark& now, bool apply);
  Verdict repairEmptying(const TPendingNote& note, const TCatalogueMark& now, bool apply);
  Verdict repairEdit(const TPendingNote& note, const TCatalogueMark& now, bool apply);
  // Ends the cut of records lost that the tables' opening deferred, once
  // the repair that depends on that damage is decided (noted).
  bool cutDeferredTails();
  void saidOfFile(TStartRepair::Kind kind, const std::string& file, int error = 0);
  // A line of the catalogue whose work the failure `cause` left undone.
  void saidBecause(TStartRepair::Kind kind, const TDiskFailure& cause);
  void tableRepairs(const TDBDataHandler& table);

  CODE4* code_;
  std::string dataFolder_;
  int32_t supportCount_ = 0;
  std::unique_ptr<TGlobalDBHandler> tables_;
  std::unique_ptr<TPendingChange> pending_;
  TCatalogueOpening opening_ = TCatalogueOpening::kIncomplete;
  TStartReport startReport_;
  int writeError_ = 0;
  // Rows added since the last FlushAll that succeeded.
  bool unflushed_ = false;
  // The note on the disk is an addition's that covers further additions.
  bool seriesOpen_ = false;
  // The note on the disk is an emptying's that is not complete.
  bool emptyingIncomplete_ = false;
  // The note on the disk must stay as it is: it could not be read, or its
  // repair waits for a table that did not open.
  bool keepNote_ = false;
  // The catalogue is only read and a change is not complete on its tables:
  // said once at the start.
  bool repairWaitsForWriting_ = false;
  // A sync failed in this run (told once): the catalogue is only read.
  bool syncFailed_ = false;
  TDiskFailure syncFailure_;  // the first sync that failed
  // The causes of the states below that refuse changes, as they were met.
  TDiskFailure unfinishedCause_, emptyingCause_, indexCause_, keepNoteCause_;
  TDiskFailure openCause_;  // of a table that did not open at the start
  // The failures latestFailure has seen, of the engine and of the note.
  uint64_t engineFailuresSeen_ = 0;
  uint64_t noteFailuresSeen_ = 0;
  TDiskFailure lastFailure_;
  bool writeRefused_ = false;
  // A change begun in this run could not be made whole: refused until the
  // next start repairs it.
  bool unfinished_ = false;
  // An index lives in memory this run, its file on the disk waiting for
  // room to be rebuilt: changes are refused.
  bool indexInMemory_ = false;
  // What the start's repair did, said once the disk holds it.
  TStartReport repaired_;
  // The support added last: its id, its record and its first file's record.
  struct Adding {
    int32_t id = -1;
    int32_t record = 0;
    int32_t firstFile = 0;
  } adding_;
  std::vector<int32_t> rows_;
  bool rowsValid_ = false;
  // The last parent resolved by ResolveFilePath.
  int32_t cachedParentId_ = -1;
  TFileRecord cachedParent_;
};
