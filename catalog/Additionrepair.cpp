#include "catalog/Additionrepair.h"

#include <algorithm>

#include "catalog/Dbfieldvalues.h"
#include "catalog/Dbfiledatahandler.h"
#include "catalog/Dbidhandler.h"
#include "catalog/Dbsupportdatahandler.h"
#include "catalog/Owntablehandle.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/field4value.h"

TAdditionRepair::TAdditionRepair(TSupportDataHandler& supports, TFileDataHandler& files,
                                 TIDHandler& ids)
    : supports_(supports), files_(files), ids_(ids) {}

TAdditionRepair::Finding TAdditionRepair::Survey(const TPendingNote& note,
                                                 const TCatalogueMark& now, bool damaged) {
  const TCatalogueMark& before = note.before;
  // The mark's rows were on the disk, synced, before the note was written.
  // The counters are not compared: their rows may have lost what the
  // series drew, and are raised below.
  if (now.supports < before.supports || now.files < before.files) return Finding::kNotThisChange;
  noted_ = note.supportId;
  notedVolume_ = note.volume;
  supportCounter_ = now.lastSupportId;
  fileCounter_ = now.lastFileId;
  largestSupportId_ = std::max(before.lastSupportId, note.supportId);
  largestFileId_ = before.lastFileId;
  if (const Finding f = surveySupports(note, now); f != Finding::kNothingToDo) return f;
  // The files of the last support are gathered as they are read: it is
  // known once every row is, the highest id drawn.
  lastBegun_ = largestSupportId_;
  if (const Finding f = surveyFiles(note, now); f != Finding::kNothingToDo) return f;
  // Files of a last support with no row are orphans, removed in any case.
  removeLast_ = damaged && listed_.contains(lastBegun_);
  bool toRepair = !orphans_.empty() || removeLast_ || supportCounter_ < largestSupportId_ ||
                  fileCounter_ < largestFileId_;
  for (const auto& [id, s] : listed_)
    toRepair = toRepair || s.fileCount != s.heldFiles || s.size != s.heldSize;
  return toRepair ? Finding::kToRepair : Finding::kNothingToDo;
}

TAdditionRepair::Finding TAdditionRepair::surveySupports(const TPendingNote& note,
                                                         const TCatalogueMark& now) {
  TOwnTableHandle own(supports_);
  if (own.get() == nullptr) return Finding::kUnreadable;
  FIELD4* id = own.field("S_ID");
  for (int32_t record = note.before.supports + 1; record <= now.supports; record++) {
    if (data4go(own.get(), record) != 0) return Finding::kUnreadable;
    const int32_t supportId = field4long(id);
    // A row of a support drawn before the mark belongs to other tables.
    if (supportId <= note.before.lastSupportId) return Finding::kNotThisChange;
    largestSupportId_ = std::max(largestSupportId_, supportId);
    if (data4deleted(own.get())) continue;
    Support& s = listed_[supportId];
    s.record = record;
    s.fileCount = catalog::fieldInt64(own.field("S_FCOUNT"));
    s.size = catalog::fieldInt64(own.field("S_SIZE"));
    s.volume = catalog::fieldText(own.field("S_VOL"));
  }
  return Finding::kNothingToDo;
}

TAdditionRepair::Finding TAdditionRepair::surveyFiles(const TPendingNote& note,
                                                      const TCatalogueMark& now) {
  TOwnTableHandle own(files_);
  if (own.get() == nullptr) return Finding::kUnreadable;
  FIELD4* id = own.field("F_ID");
  FIELD4* supportId = own.field("F_SUPPID");
  FIELD4* size = own.field("F_SIZE");
  for (int32_t record = note.before.files + 1; record <= now.files; record++) {
    if (data4go(own.get(), record) != 0) return Finding::kUnreadable;
    const int32_t owner = field4long(supportId);
    if (owner <= note.before.lastSupportId) return Finding::kNotThisChange;
    largestFileId_ = std::max(largestFileId_, field4long(id));
    if (owner > largestSupportId_) {
      // Files of a support begun after every row that reached the disk.
      largestSupportId_ = owner;
      lastBegun_ = owner;
      lastFiles_.clear();
    }
    if (data4deleted(own.get())) continue;
    if (owner == lastBegun_) lastFiles_.push_back(record);
    auto listed = listed_.find(owner);
    if (listed == listed_.end()) {
      orphans_[owner].push_back(record);
      continue;
    }
    listed->second.heldFiles++;
    listed->second.heldSize =
        catalog::saturatingAdd(listed->second.heldSize, catalog::fieldInt64(size));
  }
  return Finding::kNothingToDo;
}

bool TAdditionRepair::Apply(TStartReport& report) {
  bool done = true;
  for (const auto& [owner, records] : orphans_) {
    done = removeFiles(records) && done;
    report.push_back(TStartRepair::OfSupport(TStartRepair::Kind::kFilesRemoved, owner,
                                             owner == noted_ ? notedVolume_ : "",
                                             static_cast<int64_t>(records.size())));
  }
  if (removeLast_) {
    const auto last = listed_.find(lastBegun_);
    if (last != listed_.end()) {
      done = removeFiles(lastFiles_) && supports_.GoTo(last->second.record) &&
             supports_.DeleteCurrent() && done;
      report.push_back(TStartRepair::OfSupport(TStartRepair::Kind::kSupportRemoved, lastBegun_,
                                               last->second.volume,
                                               static_cast<int64_t>(lastFiles_.size())));
      listed_.erase(last);
    }
  }
  for (const auto& [id, s] : listed_) {
    if (s.fileCount == s.heldFiles && s.size == s.heldSize) continue;
    done = supports_.UpdateSizeAndCount(id, s.heldSize, s.heldFiles) && done;
    report.push_back(
        TStartRepair::OfSupport(TStartRepair::Kind::kCountSet, id, s.volume, s.heldFiles));
  }
  if (supportCounter_ < largestSupportId_)
    done = ids_.RaiseCounter(supports_.TableName(), largestSupportId_) && done;
  if (fileCounter_ < largestFileId_)
    done = ids_.RaiseCounter(files_.TableName(), largestFileId_) && done;
  return done;
}

bool TAdditionRepair::removeFiles(const std::vector<int32_t>& records) {
  bool done = true;
  for (const int32_t record : records) {
    if (!files_.GoTo(record) || (!files_.IsDeleted() && !files_.DeleteCurrent())) done = false;
  }
  return done;
}
