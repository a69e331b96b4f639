// Writing the catalogue, or one support of it, to an archive file: the
// engine behind the export dialog.
//
// The archive is built beside the target and replaces it only when it was
// written whole (ArchiveOutput): a failed export leaves the target as it
// was. Supports are written in record order, each followed by its files in
// the order of the DBFILES tag on F_SUPPID. Runs on the caller's thread with
// the catalogue; it cannot be stopped, as the dialog has no stop button.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "catalog/Udbwrapper.h"

namespace archive {

// The scope of the whole catalogue; any other value is the S_ID of the one
// support to export.
inline constexpr int32_t kWholeCatalogue = -1;

// What the dialog shows while the export runs. Every member may be empty.
struct ExportCallbacks {
  // A support is about to be written: the `index`-th (from 1) of `count`.
  // The dialog traces its volume name and sizes its progress bar to
  // fileCount files.
  std::function<void(const TSupportRecord& support, int32_t index, int32_t count)> supportStarted;
  // Every 10 files of a support: the files of it written so far.
  std::function<void(int32_t filesWritten)> fileProgress;
  // Every 10 files, after fileProgress: the window may breathe.
  std::function<void()> pump;
};

enum class ExportStatus {
  kDone,
  // The one support asked for is not in the catalogue; nothing was written.
  kNoSuchSupport,
  // The archive could not be made or written (systemError tells why); the
  // target is untouched.
  kCannotWrite,
  // The catalogue could not be read whole (the catalogue's error hook said
  // why); the target is untouched.
  kCatalogueUnreadable,
};

struct ExportResult {
  ExportStatus status = ExportStatus::kDone;
  int systemError = 0;  // negative errno of kCannotWrite
  int32_t supports = 0;
  int64_t files = 0;
};

// Writes `scope` (kWholeCatalogue or an S_ID) to the archive `path`. The
// dialog has asked before overwriting, and ends without calling this when
// the path is empty.
ExportResult ExportArchive(TDBWrapper& db, const std::string& path, int32_t scope,
                           const ExportCallbacks& callbacks);

}  // namespace archive
