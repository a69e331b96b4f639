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
  if (const Finding f = surveyFiles(note, now); f != Finding::kNothingToDo) return f;
  // The support begun last, the highest id drawn, is the one damage can
  // leave incomplete; a decision noted by an earlier start stands, its
  // evidence being gone.
  removed_ = note.removedSupport != 0 ? note.removedSupport : damaged ? largestSupportId_ : 0;
  if (!listed_.contains(removed_)) removed_ = 0;
  // A removal an earlier start decided and made is said until the note
  // goes: that start may have been cut before its user read it.
  if (note.removedSupport != 0 && removed_ == 0 && volumes_.contains(note.removedSupport))
    madeEarlier_ = note.removedSupport;
  // A row that reached the disk ahead of every file it counts (the cache
  // let it go early) stands for an addition that never got going: kept, it
  // would be a medium of none of its files.
  for (const auto& [id, s] : listed_) {
    if (s.heldFiles == 0 && s.fileCount > 0) empty_.push_back(id);
  }
  bool toRepair = removed_ != 0 || !empty_.empty() || supportCounter_ < largestSupportId_ ||
                  fileCounter_ < largestFileId_;
  for (const auto& [owner, records] : filesOf_) toRepair = toRepair || !listed_.contains(owner);
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
    volumes_[supportId] = catalog::ListedName(catalog::fieldText(own.field("S_VOL")),
                                              catalog::fieldText(own.field("S_USRID")));
    if (data4deleted(own.get())) continue;
    Support& s = listed_[supportId];
    s.record = record;
    s.fileCount = catalog::fieldInt64(own.field("S_FCOUNT"));
    s.size = catalog::fieldInt64(own.field("S_SIZE"));
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
    // Files of a support begun after every row that reached the disk.
    largestSupportId_ = std::max(largestSupportId_, owner);
    if (data4deleted(own.get())) {
      deletedFiles_[owner]++;
      continue;
    }
    filesOf_[owner].push_back(record);
    auto listed = listed_.find(owner);
    if (listed == listed_.end()) continue;
    listed->second.heldFiles++;
    listed->second.heldSize =
        catalog::saturatingAdd(listed->second.heldSize, catalog::fieldInt64(size));
  }
  return Finding::kNothingToDo;
}

void TAdditionRepair::SayDecisionMade(TStartReport& report) const {
  if (madeEarlier_ == 0) return;
  const auto deleted = deletedFiles_.find(madeEarlier_);
  report.push_back(TStartRepair::OfSupport(TStartRepair::Kind::kSupportRemoved, madeEarlier_,
                                           volumeOf(madeEarlier_),
                                           deleted == deletedFiles_.end() ? 0 : deleted->second));
}

bool TAdditionRepair::Apply(TStartReport& report) {
  SayDecisionMade(report);
  bool done = true;
  for (const auto& [owner, records] : filesOf_) {
    if (listed_.contains(owner)) continue;
    done = removeFiles(records) && done;
    report.push_back(TStartRepair::OfSupport(TStartRepair::Kind::kFilesRemoved, owner,
                                             volumeOf(owner),
                                             static_cast<int64_t>(records.size())));
  }
  if (const auto last = listed_.find(removed_); last != listed_.end()) {
    const std::vector<int32_t>& records = filesOf_[removed_];
    done = removeFiles(records) && supports_.GoTo(last->second.record) &&
           supports_.DeleteCurrent() && done;
    report.push_back(TStartRepair::OfSupport(TStartRepair::Kind::kSupportRemoved, removed_,
                                             volumeOf(removed_),
                                             static_cast<int64_t>(records.size())));
    listed_.erase(last);
  }
  for (const int32_t id : empty_) {
    const auto row = listed_.find(id);
    if (row == listed_.end()) continue;
    done = supports_.GoTo(row->second.record) && supports_.DeleteCurrent() && done;
    report.push_back(
        TStartRepair::OfSupport(TStartRepair::Kind::kSupportNeverFilled, id, volumeOf(id), 0));
    listed_.erase(row);
  }
  for (const auto& [id, s] : listed_) {
    if (s.fileCount == s.heldFiles && s.size == s.heldSize) continue;
    done = supports_.UpdateSizeAndCount(id, s.heldSize, s.heldFiles) && done;
    report.push_back(
        TStartRepair::OfSupport(TStartRepair::Kind::kCountSet, id, volumeOf(id), s.heldFiles));
  }
  if (supportCounter_ < largestSupportId_)
    done = ids_.RaiseCounter(supports_.TableName(), largestSupportId_) && done;
  if (fileCounter_ < largestFileId_)
    done = ids_.RaiseCounter(files_.TableName(), largestFileId_) && done;
  return done;
}

std::string TAdditionRepair::volumeOf(int32_t id) const {
  if (const auto row = volumes_.find(id); row != volumes_.end() && !row->second.empty())
    return row->second;
  return id == noted_ ? notedVolume_ : std::string();
}

bool TAdditionRepair::removeFiles(const std::vector<int32_t>& records) {
  bool done = true;
  for (const int32_t record : records) {
    if (!files_.GoTo(record) || (!files_.IsDeleted() && !files_.DeleteCurrent())) done = false;
  }
  return done;
}
