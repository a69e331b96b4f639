#include "features/indexing/MediumIndexing.h"

#include "catalog/Dbschema.h"
#include "catalog/Udbwrapper.h"
#include "features/indexing/DirEnumerator.h"
#include "features/indexing/FileDigest.h"

int32_t CountOverlongEntries(const DirEnumerator& scan) {
  const auto nameWidth = static_cast<size_t>(kFilesFields[dbfiles::kName].length);
  const auto pathWidth = static_cast<size_t>(kFilesFields[dbfiles::kPath].length);
  int32_t overlong = 0;
  for (int32_t i = 0; i < scan.Count(); i++) {
    const TFileEntry& entry = *scan.GetEntry(i);
    if (entry.name.size() > nameWidth || entry.directory.size() > pathWidth) overlong++;
  }
  return overlong;
}

void SignEntries(DirEnumerator& scan, const std::function<void(int32_t index)>& progress) {
  for (int32_t i = 0; i < scan.Count(); i++) {
    if (progress) progress(i);
    TFileEntry& entry = *scan.GetEntry(i);
    if (entry.attributes & kDirectoryAttribute) continue;
    entry.signature = GetFileMD5(GetFullPath(entry));
  }
}

TInsertionResult InsertScan(TDBWrapper& db, DirEnumerator& scan, const TVolumeInfo& volume,
                            const std::string& shortComment, const std::string& longComment,
                            const std::function<void(int32_t index)>& progress) {
  TInsertionResult result;
  const int32_t count = scan.Count();
  result.supportId =
      db.AddScannedSupport(shortComment, longComment, scan.TotalSize(), count, volume);
  // Rows under a support that was never stored would belong to none.
  if (result.supportId < 0) return result;
  int64_t storedSize = 0;
  for (int32_t i = 0; i < count; i++) {
    if (progress && i % kIndexingProgressStep == 0) progress(i);
    TFileEntry& entry = *scan.GetEntry(i);
    const TFileEntry* parent = scan.GetEntry(entry.parentIndex);
    // A refused row is what every later one would meet (a full disk, ids
    // used up): the insertion ends there, with one report, instead of one
    // for every entry left.
    if (db.AddScannedFile(result.supportId, entry, parent) < 0) {
      result.failed = count - i;
      break;
    }
    result.stored++;
    storedSize += entry.size;
  }
  // The support says what it holds, not what the walk found; one that
  // cannot is not written whole.
  const bool totalsSet =
      result.failed == 0 || db.UpdateSupportTotals(result.supportId, storedSize, result.stored);
  result.written = db.FinishChange() && totalsSet;
  result.recorded = result.stored;
  TDBWrapper::TRowsOnDisk onDisk;
  if (!result.written) result.recorded = db.OnDisk(result.supportId, onDisk) ? onDisk.files : 0;
  return result;
}
