// TAdditionRepair: what a start does with an addition of media that a
// death or a power cut stopped, so that every medium is whole or gone.
//
// An addition's note is on the disk before the addition's first row, tied to
// the tables' mark at that moment; additions one after the other (an import)
// share it, each beginning once the ones before it are synced. So the rows
// appended since the mark are the series': they belong to supports drawn
// since (ids above the mark's counter), and only the support begun last can
// be incomplete. The note names that support, but its renaming is not
// waited for: a power cut may leave the name of an earlier one, and the
// series is recognised by its rows alone.
//
// After a power cut the last support may have reached the disk in any part:
// its row without all its files, its files without its row, or some of the
// rows written last lost while later ones arrived (the tables' opening then
// cut those with them: recordsLost). The repair:
//   - removes the files of a support whose row is not there, or is deleted
//     (orphans);
//   - removes the last support with its files when the rows written last
//     were damaged: it is incomplete in a way its count cannot tell. The
//     damage goes with the repair's first write, so the decision is noted
//     first (TPendingNote::removedSupport) and a later start, after a cut
//     in the middle of this one, removes the same support;
//   - removes a support whose row reached the disk without any of the
//     files it counts: the addition never got going;
//   - sets every other support's file count and size to the files it holds
//     (a support a full disk cut short keeps what was recorded);
//   - raises the id counters above every id the rows use, so that no id is
//     handed out twice, whatever became of the counters' own rows.
//
// Thread rule: the user-interface thread, as every catalogue call.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "catalog/Cataloguenotices.h"
#include "catalog/Pendingchange.h"

class TSupportDataHandler;
class TFileDataHandler;
class TIDHandler;

class TAdditionRepair {
 public:
  TAdditionRepair(TSupportDataHandler& supports, TFileDataHandler& files, TIDHandler& ids);

  enum class Finding {
    kNothingToDo,    // every support of the series is whole, the counters above its ids
    kToRepair,       // Apply has work
    kNotThisChange,  // the rows since the mark are not the series' (other tables)
    kUnreadable,     // a table could not be read
  };
  // Reads the rows appended since the note's mark, changing nothing. `now`
  // is the tables' mark now; `damaged`, that their opening found rows
  // written last after a damaged one.
  Finding Survey(const TPendingNote& note, const TCatalogueMark& now, bool damaged);
  // The support Apply removes with its files (0 none): the decision a
  // start notes before it writes.
  int32_t RemovedSupport() const { return removed_; }
  // Does what Survey found and adds what it did to `report`. False when a
  // table refused a change (what was done stays, for a later flush).
  bool Apply(TStartReport& report);
  // Adds to `report` the removal the note decided that an earlier start
  // made already (Apply adds it too): nothing when there is none.
  void SayDecisionMade(TStartReport& report) const;

 private:
  struct Support {
    int32_t record = 0;
    int64_t fileCount = 0;  // as the row says
    int64_t size = 0;
    int32_t heldFiles = 0;  // live files appended since the mark
    int64_t heldSize = 0;
  };
  Finding surveySupports(const TPendingNote& note, const TCatalogueMark& now);
  Finding surveyFiles(const TPendingNote& note, const TCatalogueMark& now);
  bool removeFiles(const std::vector<int32_t>& records);
  // The volume name of support `id` as its row holds it, live or deleted,
  // or as the note names it; empty when neither does.
  std::string volumeOf(int32_t id) const;

  TSupportDataHandler& supports_;
  TFileDataHandler& files_;
  TIDHandler& ids_;

  int32_t noted_ = 0;                                // the support the note names
  std::string notedVolume_;                          // and its volume
  std::map<int32_t, Support> listed_;                // live rows drawn since the mark
  std::map<int32_t, std::string> volumes_;           // every row drawn since, deleted ones too
  std::map<int32_t, std::vector<int32_t>> filesOf_;  // live files since the mark, by support
  int32_t removed_ = 0;                              // removed with its files: incomplete
  int32_t madeEarlier_ = 0;                          // the note's removal, found made
  std::map<int32_t, int32_t> deletedFiles_;          // deleted files since the mark, by support
  std::vector<int32_t> empty_;                       // rows holding none of the files they count
  int32_t largestSupportId_ = 0;  // in the rows, or named by the note
  int32_t largestFileId_ = 0;
  int32_t supportCounter_ = 0;  // the counters now
  int32_t fileCounter_ = 0;
};
