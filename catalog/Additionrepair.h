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
//   - removes the files of a support whose row is not there (orphans);
//   - removes the last support with its files when the rows written last
//     were damaged: it is incomplete in a way its count cannot tell;
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
  // is the tables' mark now; `damaged`, that their opening cut rows written
  // last after a damaged one.
  Finding Survey(const TPendingNote& note, const TCatalogueMark& now, bool damaged);
  // Does what Survey found and adds what it did to `report`. False when a
  // table refused a change (what was done stays, for a later flush).
  bool Apply(TStartReport& report);

 private:
  struct Support {
    int32_t record = 0;
    int64_t fileCount = 0;  // as the row says
    int64_t size = 0;
    std::string volume;
    int32_t heldFiles = 0;  // live files appended since the mark
    int64_t heldSize = 0;
  };
  Finding surveySupports(const TPendingNote& note, const TCatalogueMark& now);
  Finding surveyFiles(const TPendingNote& note, const TCatalogueMark& now);
  bool removeFiles(const std::vector<int32_t>& records);

  TSupportDataHandler& supports_;
  TFileDataHandler& files_;
  TIDHandler& ids_;

  int32_t noted_ = 0;                                // the support the note names
  std::string notedVolume_;                          // and its volume
  int32_t lastBegun_ = 0;                            // the support the series began last
  std::map<int32_t, Support> listed_;                // live rows drawn since the mark
  std::map<int32_t, std::vector<int32_t>> orphans_;  // live files of supports with no row
  std::vector<int32_t> lastFiles_;                   // live files of lastBegun_
  bool removeLast_ = false;       // lastBegun_ is incomplete: removed with its files
  int32_t largestSupportId_ = 0;  // in the rows, or named by the note
  int32_t largestFileId_ = 0;
  int32_t supportCounter_ = 0;  // the counters now
  int32_t fileCounter_ = 0;
};
