// The file search: every catalogued file whose name matches a mask and
// whose date and size lie within the bounds, read through a handle of the
// search's own on DBFILES, so that the catalogue's current file never
// moves.
//
// A mask with a literal beginning visits only the records whose name key
// begins with it (SeekPrefix), in the order of the file-name tag; a mask
// that begins with a wildcard visits the whole table in record order. The
// path and the support of a record are read only when it is a hit, and a
// support only when it differs from the previous hit's.
//
// The search runs on the caller's thread and lets the window breathe
// through its observer every 50 visited records: that is where hits are
// handed over, progress is shown, pending events are processed and a stop
// takes effect.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "catalog/Udbwrapper.h"
#include "features/search/SearchCriteria.h"

// One file found.
struct SearchHit {
  int32_t number = 0;         // 1 for the first hit of a search
  std::string name;           // F_NAME, trimmed
  std::string path;           // F_PATH, trimmed, as stored (a compact path stays so)
  double date = 0.0;          // F_DATE, days
  int64_t size = 0;           // F_SIZE, bytes
  int32_t supportId = 0;      // F_SUPPID
  bool supportFound = false;  // whether DBSUPPORT holds that support
  std::string volume;         // S_VOL; empty when the support is missing
  uint32_t volumeSerial = 0;  // S_VOLID; 0 when the support is missing
};

// The eight cells of a hit's row in the results grid, by data column: the
// number, the name, the volume, `dateText` (the window's text of the date),
// the size, the path as stored, the volume serial "XXXX-XXXX" and the
// support id "%05d". The three support cells are empty when the support is
// missing.
std::array<std::string, 8> SearchHitCells(const SearchHit& hit, std::string dateText);

// Where the search finds the support of a hit.
class SupportLookup {
 public:
  virtual ~SupportLookup() = default;
  // True with the support's values when it exists.
  virtual bool Read(int32_t supportId, TSupportRecord& support) = 0;
};

// The supports of the catalogue, through its current support (which moves).
class WrapperSupportLookup : public SupportLookup {
 public:
  explicit WrapperSupportLookup(TDBWrapper& db) : db_(db) {}
  bool Read(int32_t supportId, TSupportRecord& support) override;

 private:
  TDBWrapper& db_;
};

// The window's side of a running search. Every call comes from inside Run.
class SearchObserver {
 public:
  virtual ~SearchObserver() = default;
  // Before the first record: the table's record count, the progress scale.
  virtual void Started(int32_t recordCount) = 0;
  // New hits, in order, at each pause and once at the end.
  virtual void HitsFound(std::span<const SearchHit> hits) = 0;
  // Every 50 visited records (hit or not): show the progress and process
  // pending events. The search goes on when this returns.
  virtual void Pause(int32_t visited) = 0;
  // The hit limit, asked before each record: it may change during a pause.
  virtual int32_t HitLimit() = 0;
  // Asked before each record; true ends the search with the hits so far.
  virtual bool StopRequested() = 0;
};

enum class SearchEnd {
  kEmptyMask,  // nothing was searched
  kBusy,       // a search of this object is running already: refused
  kNoTable,    // DBFILES could not be opened (the engine has said why) or
               // lacks a field the search reads
  kLimit,      // the hit limit was reached
  kStopped,    // a stop was asked
  kExhausted,  // every candidate record was visited
  // A read the disk refused stopped the search (the catalogue's error hook
  // said why): the hits found before it were handed over.
  kUnreadable,
};

struct SearchOutcome {
  SearchEnd end = SearchEnd::kEmptyMask;
  int32_t hits = 0;
  int32_t visited = 0;
};

class FileSearch {
 public:
  // Supports are read through the catalogue, or through `lookup`.
  explicit FileSearch(TDBWrapper& db);
  FileSearch(TDBWrapper& db, SupportLookup& lookup);
  FileSearch(const FileSearch&) = delete;
  FileSearch& operator=(const FileSearch&) = delete;

  // Runs one search to its end. A search started from inside a pause of
  // this object's running search is refused.
  SearchOutcome Run(const SearchCriteria& criteria, SearchObserver& observer);
  bool Running() const { return running_; }

 private:
  TDBWrapper& db_;
  WrapperSupportLookup ownLookup_;
  SupportLookup& lookup_;
  bool running_ = false;
};
