#include "features/archive/ArchiveExport.h"

#include <cerrno>
#include <filesystem>
#include <utility>
#include <vector>

#include "features/archive/ArchiveOutput.h"
#include "features/archive/ArchiveWriter.h"
#include "platform/os.h"

namespace archive {

namespace {

constexpr int32_t kProgressEvery = 10;

// The live supports, read in one pass before anything is written: the
// header's count is then the number of volume blocks that follow, whatever
// the catalogue's own count says. False when the table could not be read
// to its end.
bool liveSupports(TDBWrapper& db, std::vector<TSupportRecord>& supports) {
  for (int32_t n = 1;; n++) {
    const TFound found = db.FindSupport(n);
    if (found != TFound::kRecord) return found == TFound::kNone;
    if (!db.ReadCurrentSupport(supports.emplace_back())) return false;
  }
}

// Writes one support and its files; false when they could not all be read.
bool exportSupport(TDBWrapper& db, ArchiveOutput& out, const TSupportRecord& support,
                   const ExportCallbacks& callbacks, int64_t& files) {
  WriteVolumeBlock(out, support);
  int32_t written = 0;
  TFileRecord file;
  TFound found = db.FindFirstFileOfSupport(support.id);
  for (; found == TFound::kRecord; found = db.NextFile()) {
    if (!db.ReadCurrentFile(file)) return false;
    if (file.supportId != support.id) break;
    if (++written % kProgressEvery == 0) {
      if (callbacks.fileProgress) callbacks.fileProgress(written);
      if (callbacks.pump) callbacks.pump();
    }
    WriteFileBlock(out, file);
    files++;
  }
  return found != TFound::kFailed;
}

// Whether `path` names an entry of `folder`, whatever path leads to either.
bool inFolder(const std::string& path, const std::string& folder) {
  const std::string parent = std::filesystem::path(path).parent_path().string();
  const std::string where = platform::os().canonicalPath(parent.empty() ? "." : parent.c_str());
  return !where.empty() && where == platform::os().canonicalPath(folder.c_str());
}

}  // namespace

ExportResult ExportArchive(TDBWrapper& db, const std::string& path, int32_t scope,
                           const ExportCallbacks& callbacks) {
  ExportResult result;
  // Only a catalogue read whole is written: an archive without some of its
  // rows never replaces the target.
  const auto unreadable = [&result] {
    result.status = ExportStatus::kCatalogueUnreadable;
    return result;
  };
  if (!db.OpenedWhole()) return unreadable();
  std::vector<TSupportRecord> supports;
  if (scope < 0) {
    if (!liveSupports(db, supports)) return unreadable();
  } else {
    // A deleted support is not found by its id.
    const TFound found = db.FindSupportById(scope);
    if (found == TFound::kFailed) return unreadable();
    TSupportRecord support;
    if (found == TFound::kRecord && !db.ReadCurrentSupport(support)) return unreadable();
    if (support.id != scope) {
      result.status = ExportStatus::kNoSuchSupport;
      return result;
    }
    supports.push_back(std::move(support));
  }

  // The catalogue's folder holds its open tables: an archive put there
  // could replace one of them under the catalogue.
  if (inFolder(path, db.DataFolder())) {
    result.status = ExportStatus::kCannotWrite;
    result.systemError = -EACCES;
    return result;
  }
  ArchiveOutput out;
  if (const int rc = out.Open(path); rc != 0) {
    result.status = ExportStatus::kCannotWrite;
    result.systemError = rc;
    return result;
  }
  const auto count = static_cast<int32_t>(supports.size());
  WriteArchiveHeader(out, count);
  for (const TSupportRecord& support : supports) {
    result.supports++;
    if (callbacks.supportStarted) callbacks.supportStarted(support, result.supports, count);
    if (!exportSupport(db, out, support, callbacks, result.files)) return unreadable();
  }
  if (const int rc = out.Commit(); rc != 0) {
    result.status = ExportStatus::kCannotWrite;
    result.systemError = rc;
  }
  return result;
}

}  // namespace archive
