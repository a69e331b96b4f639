// What the catalogue tells its user beyond the engine's errors: what a start
// repaired (one report for the whole start), and why a change was refused
// before it began. The catalogue only describes; the program words them in
// the user's language and shows them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The kind of disk call whose failure a refusal names: reading a file,
// writing one (its bytes, its length, its room, its name in the folder), or
// having the disk confirm what was written (a sync).
enum class TDiskCall { kNone, kRead, kWrite, kSync };

// A disk call that failed: its kind, its file (or folder) and its errno.
struct TDiskFailure {
  TDiskCall call = TDiskCall::kNone;
  std::string file;
  int error = 0;
};

// One thing a start of the catalogue repaired, or found it could not.
struct TStartRepair {
  enum class Kind {
    kFilesRemoved,        // `count` files of support `supportId`, whose own row never
                          // reached the disk, were removed
    kCountSet,            // support `supportId` now says the `count` files it holds
    kSupportRemoved,      // support `supportId`, whose last rows a power cut damaged, was
                          // removed with its `count` files
    kSupportNeverFilled,  // support `supportId`, whose row reached the disk without any of
                          // its files, was removed
    kDeletionCompleted,   // support `supportId` and its files are deleted
    kEditCompleted,       // support `supportId` holds the comments an edit cut short gave it
    kEmptyingCompleted,   // every support and file is removed
    kEmptyingIncomplete,  // the emptying could not be completed now (the disk refused)
    kRepairUnwritten,     // the repair could not be written now: a later start repeats it
    kRepairWaits,         // a change is pending but a table did not open, or could not be
                          // read: not repaired now
    kRepairReadOnly,      // a change is pending but the catalogue's folder `file` cannot be
                          // written (`error`): not repaired now
    kNoteDamaged,         // the note `file` was damaged: set aside, nothing changed
    kNoteStale,           // the note `file` does not belong to these tables: set aside
    kNoteUnreadable,      // the note `file` cannot be read (`error`)
    kNoteUnwritable,      // the note `file` cannot be written (`error`): changes are refused
    kTailCut,             // the end of table `file` held part of a record: cut
    kCountTakenBack,      // the header of table `file` counted records it does not hold:
                          // taken back to those it holds
    kIndexRebuilt,        // the index of table `file` was damaged or incomplete: made anew
    kIndexFinished,       // the index of table `file` had been left unfinished (a change
                          // did not reach the disk whole, or with `error` ENOSPC, the disk
                          // had no room for it): rebuilt
    kIndexWaits,          // the index of table `file` must be made anew and cannot be now:
                          // the table stays closed
    kIndexInMemory,       // indexes of the catalogue in `file`, left unfinished, cannot be
                          // rebuilt on the disk now: rebuilt in memory for reading, and
                          // changes wait for a start that can rebuild them there
  };
  Kind kind = Kind::kCountSet;
  int32_t supportId = 0;
  std::string volume;  // the support's name as the list shows it (Windows-1252); empty when unknown
  int64_t count = 0;
  std::string file;  // a table's data file, or the note's file
  int error = 0;     // an errno: of `call`, or the no room an index was left without
  // The disk call of this start whose failure left the line's work undone
  // (kNone when none did), and the file it was of.
  TDiskCall call = TDiskCall::kNone;
  std::string causeFile;

  // A repair of support `id`, or one of the file `file`.
  static TStartRepair OfSupport(Kind kind, int32_t id, const std::string& volume, int64_t count) {
    TStartRepair repair;
    repair.kind = kind;
    repair.supportId = id;
    repair.volume = volume;
    repair.count = count;
    return repair;
  }
  static TStartRepair OfFile(Kind kind, const std::string& file, int error) {
    TStartRepair repair;
    repair.kind = kind;
    repair.file = file;
    repair.error = error;
    return repair;
  }
  // A line about `file` whose work a disk call that failed left undone.
  static TStartRepair Because(Kind kind, const std::string& file, const TDiskFailure& cause) {
    TStartRepair repair = OfFile(kind, file, cause.error);
    repair.call = cause.call;
    repair.causeFile = cause.file;
    return repair;
  }
};

using TStartReport = std::vector<TStartRepair>;

// Whether a line of the start's report says a repair made, rather than one
// that waits (for room, a table, a start that can write) or that could not
// be made.
bool RepairMade(TStartRepair::Kind kind);

// A change to the catalogue refused before anything of it was written.
struct TChangeRefusal {
  enum class Why {
    kNoteUnwritable,      // the note `file` cannot be written (`error`)
    kTablesUnwritten,     // what an earlier change left could not be written first
                          // (`error`)
    kEmptyingIncomplete,  // an emptying must complete first (Empty again)
    kNoteKept,            // the note `file` found at the start could not be read
                          // (`error`) or repaired: it must stay until it can
    kReadOnly,            // the catalogue's folder `file` cannot be written (`error`)
    kIndexFull,           // the index `file` can grow no more (its block numbers are
                          // used up): no row can be added to its table
    kSyncFailed,          // the disk did not confirm writing `file` (`error`): what the
                          // catalogue wrote may be lost, so it is only read until the next
                          // start, which repairs it
    kIndexInMemory,       // an index of the catalogue lives in memory this run (no room on
                          // the disk to rebuild it there): changes wait for room
    kWriteRefused,        // the disk refused to write `file` (`error`): what waits stays in
                          // memory, for a flush when there is room
    kChangeUnfinished,    // a change begun in this run could not be completed (in the
                          // data folder `file`): changes wait for the next start, which
                          // completes or undoes it
    kReadRefused,         // the disk could not read `file` (`error`): what was being done
                          // stopped there
    kSyncFailedEarlier,   // the disk did not confirm writing `file` (`error`) earlier in
                          // this run: every change is refused until the next start
    kTablesUnopened,      // a table of the catalogue did not open at the start (the
                          // disk's `call` of `file` failed with `error`): changes are
                          // refused until a start opens it
  };
  Why why;
  std::string file;
  int error = 0;
  // The call whose failure is the cause (`error`); kNone where no disk
  // call failed (an index full).
  TDiskCall call = TDiskCall::kNone;

  // A refusal whose cause is `failure`.
  static TChangeRefusal Of(Why why, const TDiskFailure& failure) {
    return TChangeRefusal{why, failure.file, failure.error, failure.call};
  }
};

// Shows a refusal to the user; returns at once or when the user has seen it.
using TChangeRefusalPresenter = void (*)(const TChangeRefusal& refusal);

// Installs the presenter (null: refusals go to the standard error stream);
// returns the one it replaces.
TChangeRefusalPresenter SetChangeRefusalPresenter(TChangeRefusalPresenter presenter);

void PresentChangeRefusal(const TChangeRefusal& refusal);

// A write the disk refused (kWriteRefused), told once: every write the
// catalogue's files then refuse, block after block and table after table,
// is the same refusal, until WritesSucceeded says the disk took them all.
void PresentWriteRefused(const std::string& file, int error);
void WritesSucceeded();
// A read the disk refused (kReadRefused), told once for each file and
// cause: a disk that fails fails read after read.
void PresentReadRefused(const std::string& file, int error);
// A catalogue opened anew tells every refusal anew.
void DiskRefusalsForgotten();
// While set, a refused write is not told at all: the program says it
// itself (as it ends, before its window goes).
void SilenceWriteRefusals(bool silenced);
