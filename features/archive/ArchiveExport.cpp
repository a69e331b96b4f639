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
// the catalogue's own count says.
std::vector<TSupportRecord> liveSupports(TDBWrapper& db) {
  std::vector<TSupportRecord> supports;
  for (int32_t n = 1; db.GotoSupport(n); n++) {
    supports.emplace_back();
    db.ReadCurrentSupport(supports.back());
  }
  return supports;
}

// Writes one support and its files; the number of files written.
int64_t exportSupport(TDBWrapper& db, ArchiveOutput& out, const TSupportRecord& support,
                      const ExportCallbacks& callbacks) {
  WriteVolumeBlock(out, support);
  int32_t written = 0;
  if (!db.SeekFirstFileOfSupport(support.id)) return written;
  TFileRecord file;
  do {
    db.ReadCurrentFile(file);
    if (file.supportId != support.id) break;
    if (++written % kProgressEvery == 0) {
      if (callbacks.fileProgress) callbacks.fileProgress(written);
      if (callbacks.pump) callbacks.pump();
    }
    WriteFileBlock(out, file);
  } while (db.Skip(1));
  return written;
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
  // A read the disk refuses ends the rows early, taken for their end: an
  // archive without them never replaces the target.
  const uint64_t failuresBefore = db.DiskFailures();
  const auto unreadable = [&] {
    if (db.DiskFailures() == failuresBefore) return false;
    result.status = ExportStatus::kCatalogueUnreadable;
    return true;
  };
  std::vector<TSupportRecord> supports;
  if (scope < 0) {
    supports = liveSupports(db);
    if (unreadable()) return result;
  } else {
    // A deleted support is still found by its id but reads as nothing.
    TSupportRecord support;
    if (db.SeekSupport(scope)) db.ReadCurrentSupport(support);
    if (unreadable()) return result;
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
    result.files += exportSupport(db, out, support, callbacks);
    if (unreadable()) return result;
  }
  if (const int rc = out.Commit(); rc != 0) {
    result.status = ExportStatus::kCannotWrite;
    result.systemError = rc;
  }
  return result;
}

}  // namespace archive
