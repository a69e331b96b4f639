// Adding the supports and files of an archive to the catalogue: the engine
// behind the import dialog.
//
// Every support read becomes a new support with a new S_ID, and its files
// new file records with new F_IDs pointing at it; nothing already in the
// catalogue changes. The S_SIZE and S_FCOUNT of an added support are then
// set from the files actually added (except for a support followed by no
// file block before the next volume block, which keeps the archive's).
// Files whose path is in the compact "@<id>:" form are passed over: the id
// they name means nothing in another catalogue.
//
// Damage is passed over, never stored: a block whose key lines are
// incomplete, or that holds a number too wide for its column, is skipped
// (a volume block with all of its files), and so are file blocks before
// the first volume block. The catalogue is flushed after
// each added support and at the end, and the support count is recounted.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "catalog/Udbwrapper.h"

namespace archive {

// The user's answer when a support's serial is already in the catalogue
// (supports added earlier in the same run count).
struct DuplicateAnswer {
  bool importAgain = false;   // false: pass it over (the close box answers so)
  bool dontAskAgain = false;  // the answer holds for the rest of the run
};

// What the dialog shows and asks while the import runs. Every member may be
// empty; an empty askDuplicate passes every duplicate over.
struct ImportCallbacks {
  // The header was read: the format number, then (when accepted) the
  // number of supports it announces.
  std::function<void(int32_t format)> formatRead;
  std::function<void(int32_t supportTotal)> headerAccepted;
  // A volume block was read: the supports read so far (this one included),
  // whether it is being added (else passed over; a damaged block comes with
  // empty values), and the progress bar's maximum for its files (never
  // negative).
  std::function<void(const TSupportRecord& support, bool imported, int32_t supportsRead,
                     int32_t fileMaximum)>
      supportStarted;
  // A support with at least one file block is finished: how many file
  // blocks it had, and whether it was added. Not called for a support the
  // disk refused to write.
  std::function<void(int32_t fileBlocks, bool imported)> supportFinished;
  // After every file block of a support: the blocks of it read so far.
  std::function<void(int32_t fileBlocks)> fileProgress;
  std::function<DuplicateAnswer(const TSupportRecord& support)> askDuplicate;
  // Asked after each line is read and before it is handled.
  std::function<bool()> stopRequested;
  // After every line handled: the window may breathe (the dialog throttles).
  std::function<void()> pump;
};

enum class ImportStatus {
  kFinished,     // the end of the archive
  kStopped,      // stopRequested answered true
  kNotFound,     // empty path, or no such file; nothing was read
  kCannotOpen,   // the file exists but cannot be opened (systemError)
  kBadFormat,    // format number 0 or above 101; nothing was added
  kReadFailed,   // a read failed at `line` (systemError); what came before stays
  kLineTooLong,  // a line at `line` is longer than any archive holds
  kWriteFailed,  // the catalogue refused a record; the import stopped there
  // The catalogue could not be read to find the supports it holds (the
  // catalogue's error hook said why); nothing was added.
  kCatalogueUnreadable,
};

struct ImportCounts {
  int32_t supportsRead = 0;
  int32_t supportsAdded = 0;
  int32_t supportsPassed = 0;
  int32_t fileBlocksRead = 0;
  int32_t filesAdded = 0;
  int32_t filesPassed = 0;
};

struct ImportResult {
  ImportStatus status = ImportStatus::kFinished;
  int32_t format = 0;
  int32_t supportTotal = 0;
  ImportCounts counts;
  // Blocks passed over as damaged (they are in the passed counts too).
  int32_t damagedBlocks = 0;
  // File rows the catalogue refused (in the passed count too): the import
  // stops at the first.
  int32_t refusedFiles = 0;
  // Rows the catalogue took that the disk refused to write: held in memory
  // for a later write, counted neither as added nor as passed.
  int32_t supportsUnwritten = 0;
  int32_t filesUnwritten = 0;
  int64_t line = 0;  // the line of kReadFailed and kLineTooLong
  int systemError = 0;
};

ImportResult ImportArchive(TDBWrapper& db, const std::string& path,
                           const ImportCallbacks& callbacks);

}  // namespace archive
