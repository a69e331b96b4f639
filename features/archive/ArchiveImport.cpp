#include "features/archive/ArchiveImport.h"

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <vector>

#include "features/archive/ArchiveFormat.h"
#include "features/archive/ArchiveInput.h"
#include "features/archive/ArchiveReader.h"
#include "platform/os.h"

namespace archive {

namespace {

enum class DuplicatePolicy { kAsk, kAlwaysSkip, kAlwaysImport };

// The support whose file blocks are being read.
struct CurrentSupport {
  bool present = false;
  bool imported = false;
  int32_t newId = -1;
  int32_t fileBlocks = 0;
  int64_t sizeAdded = 0;
  int32_t filesAdded = 0;
};

// One run of the import; the line loop and its block handlers.
class Importer {
 public:
  Importer(TDBWrapper& db, const ImportCallbacks& callbacks) : db_(db), callbacks_(callbacks) {}

  ImportResult Run(const std::string& path);

 private:
  // Each handler returns false when the import must end (a refused write).
  bool OnVolumeBlock(ArchiveInput& in);
  bool OnFileBlock(ArchiveInput& in);
  bool ImportThisSupport();
  // Closes the current support: at a volume block only when it had file
  // blocks, at the end of the import always.
  void CloseSupport(bool atEnd);
  void NoteInputError(const ArchiveInput& in) {
    const bool tooLong = in.error() == ArchiveInput::Error::kLineTooLong;
    result_.status = tooLong ? ImportStatus::kLineTooLong : ImportStatus::kReadFailed;
    result_.systemError = in.systemError();
    result_.line = in.linesRead() + 1;
  }
  void Fail() {
    if (result_.status == ImportStatus::kFinished) result_.status = ImportStatus::kWriteFailed;
  }
  // The current support could not be written: what the disk does not hold
  // of it is not added.
  void CountUnwritten();

  TDBWrapper& db_;
  const ImportCallbacks& callbacks_;
  ImportResult result_;
  DuplicatePolicy policy_ = DuplicatePolicy::kAsk;
  // Live supports per serial, kept current as supports are added.
  std::unordered_map<uint32_t, int32_t> serials_;
  CurrentSupport current_;
  // The values as the block readers leave them.
  TSupportRecord support_;
  TFileRecord file_;
  std::vector<std::string> work_;
};

ImportResult Importer::Run(const std::string& path) {
  if (path.empty() || platform::os().pathStatus(path.c_str()) != 0) {
    result_.status = ImportStatus::kNotFound;
    return result_;
  }
  int openError = 0;
  std::unique_ptr<ArchiveInput> in = ArchiveInput::OpenFile(path, openError);
  if (in == nullptr) {
    result_.status = ImportStatus::kCannotOpen;
    result_.systemError = openError;
    return result_;
  }

  const ArchiveHeader header = ReadArchiveHeader(*in);
  if (in->error() != ArchiveInput::Error::kNone) {
    NoteInputError(*in);
    return result_;
  }
  result_.format = header.format;
  if (callbacks_.formatRead) callbacks_.formatRead(header.format);
  if (header.format == 0 || header.format > kFormatNumber) {
    result_.status = ImportStatus::kBadFormat;
    return result_;
  }
  result_.supportTotal = header.supportTotal;
  if (callbacks_.headerAccepted) callbacks_.headerAccepted(header.supportTotal);
  // Without every serial held, a support already there would be added again
  // unasked.
  if (!db_.CountSupportsBySerial(serials_)) {
    result_.status = ImportStatus::kCatalogueUnreadable;
    return result_;
  }

  std::string line;
  while (ReadArchiveLine(*in, line)) {
    if (callbacks_.stopRequested && callbacks_.stopRequested()) {
      result_.status = ImportStatus::kStopped;
      break;
    }
    const bool goOn = IsVolumeBlockStart(line) ? OnVolumeBlock(*in)
                      : IsFileBlockStart(line) ? OnFileBlock(*in)
                                               : true;
    if (!goOn) break;
    if (callbacks_.pump) callbacks_.pump();
  }
  if (result_.status == ImportStatus::kFinished && in->error() != ArchiveInput::Error::kNone)
    NoteInputError(*in);
  CloseSupport(true);
  // Each support was written as it closed; the indexes are made whole on
  // the disk once, at the end.
  if (!db_.FinishChange()) Fail();
  return result_;
}

bool Importer::ImportThisSupport() {
  const uint32_t serial = static_cast<uint32_t>(support_.volumeSerial);
  const auto known = serials_.find(serial);
  if (known == serials_.end() || known->second == 0) return true;
  switch (policy_) {
    case DuplicatePolicy::kAlwaysSkip:
      return false;
    case DuplicatePolicy::kAlwaysImport:
      return true;
    case DuplicatePolicy::kAsk:
      break;
  }
  const DuplicateAnswer answer =
      callbacks_.askDuplicate ? callbacks_.askDuplicate(support_) : DuplicateAnswer{};
  if (answer.dontAskAgain)
    policy_ = answer.importAgain ? DuplicatePolicy::kAlwaysImport : DuplicatePolicy::kAlwaysSkip;
  return answer.importAgain;
}

bool Importer::OnVolumeBlock(ArchiveInput& in) {
  CloseSupport(false);
  if (result_.status != ImportStatus::kFinished) return false;
  const bool complete = ReadVolumeBlock(in, support_, work_);
  result_.counts.supportsRead++;
  current_ = CurrentSupport{};
  current_.present = true;
  // A value too wide for its column is damage found only as it is stored.
  bool damaged = !complete;
  bool refused = false;
  if (complete && ImportThisSupport()) {
    TSupportRecord added = support_;
    added.id = -1;
    current_.newId = db_.AddSupportRecord(added);
    current_.imported = current_.newId >= 0;
    damaged = current_.newId == TDBWrapper::kValueDoesNotFit;
    refused = !current_.imported && !damaged;
  }
  if (damaged) result_.damagedBlocks++;
  const TSupportRecord shown = damaged ? TSupportRecord{} : support_;
  if (callbacks_.supportStarted)
    callbacks_.supportStarted(shown, current_.imported, result_.counts.supportsRead,
                              std::max(shown.fileCount, 0));
  if (!current_.imported) {
    result_.counts.supportsPassed++;
    if (refused) Fail();
    return !refused;
  }
  serials_[static_cast<uint32_t>(support_.volumeSerial)]++;
  result_.counts.supportsAdded++;
  return true;
}

bool Importer::OnFileBlock(ArchiveInput& in) {
  const bool complete = ReadFileBlock(in, file_, work_);
  result_.counts.fileBlocksRead++;
  if (!current_.present || !complete) {
    result_.damagedBlocks++;
    result_.counts.filesPassed++;
    if (!current_.present) return true;
  }
  current_.fileBlocks++;
  if (callbacks_.fileProgress) callbacks_.fileProgress(current_.fileBlocks);
  if (!complete) return true;
  if (!current_.imported || file_.path.starts_with('@')) {
    result_.counts.filesPassed++;
    return true;
  }
  TFileRecord added = file_;
  added.id = -1;
  added.supportId = current_.newId;
  const int32_t id = db_.AddFileRecord(added);
  if (id < 0) {
    result_.counts.filesPassed++;
    if (id == TDBWrapper::kValueDoesNotFit) {
      result_.damagedBlocks++;
      return true;
    }
    result_.refusedFiles++;
    Fail();
    return false;
  }
  // Sizes read saturate at the 64-bit bounds; so does their sum.
  if (__builtin_add_overflow(current_.sizeAdded, file_.size, &current_.sizeAdded))
    current_.sizeAdded = file_.size < 0 ? INT64_MIN : INT64_MAX;
  current_.filesAdded++;
  result_.counts.filesAdded++;
  return true;
}

void Importer::CloseSupport(bool atEnd) {
  if (!current_.present) return;
  if (current_.imported && (atEnd || current_.fileBlocks > 0)) {
    if (!db_.UpdateSupportTotals(current_.newId, current_.sizeAdded, current_.filesAdded)) Fail();
  }
  const bool written = !current_.imported || db_.FlushAll();
  if (!written) {
    CountUnwritten();
    Fail();
  }
  // A support the disk did not take is not called added: the failure's
  // line says what the disk holds of it.
  if (current_.fileBlocks > 0 && written && callbacks_.supportFinished)
    callbacks_.supportFinished(current_.fileBlocks, current_.imported);
  current_ = CurrentSupport{};
}

void Importer::CountUnwritten() {
  TDBWrapper::TRowsOnDisk onDisk;
  if (!db_.OnDisk(current_.newId, onDisk)) onDisk = TDBWrapper::TRowsOnDisk{};
  const int32_t unwritten = current_.filesAdded - std::min(onDisk.files, current_.filesAdded);
  result_.counts.filesAdded -= unwritten;
  result_.filesUnwritten += unwritten;
  if (!onDisk.support) {
    result_.counts.supportsAdded--;
    result_.supportsUnwritten++;
  }
}

}  // namespace

ImportResult ImportArchive(TDBWrapper& db, const std::string& path,
                           const ImportCallbacks& callbacks) {
  const ImportResult result = Importer(db, callbacks).Run(path);
  db.CountSupports();
  return result;
}

}  // namespace archive
