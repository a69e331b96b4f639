// The steps of indexing a medium that follow its walk (DirEnumerator),
// without the dialog: signing the files and storing the support with one
// row per entry. The indexing dialog runs them and shows their progress;
// the benchmark runs them bare.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "catalog/Mediatypes.h"

class DirEnumerator;
class TDBWrapper;

// The walk and the insertion report their progress, and let the window
// breathe, every this many entries.
inline constexpr int32_t kIndexingProgressStep = 100;

// Entries whose name or folder path is longer than the catalogue's name or
// path field holds: they are stored cut.
int32_t CountOverlongEntries(const DirEnumerator& scan);

// Gives every file of the walk that still exists the digest of its
// contents; folders, and files that are gone or cannot be read, keep an
// empty signature. `progress` is called before each entry with its index.
void SignEntries(DirEnumerator& scan, const std::function<void(int32_t index)>& progress);

struct TInsertionResult {
  int32_t supportId = -1;  // -1: the support could not be stored, nor any entry
  int32_t stored = 0;      // entries stored
  int32_t failed = 0;      // entries not stored: from the first the catalogue
                           // refused (it reported why) to the last
  bool written = false;    // the catalogue was written to disk at the end
  int32_t recorded = 0;    // entries on the disk: all those stored when written;
                           // else those the disk holds, the rest waiting in memory
};

// Stores the walk in the catalogue: a new support with the user's short and
// long comments (Windows-1252), the walk's total size and entry count and
// the volume's facts, then every entry in walk order under that support,
// each given its new id, until the catalogue refuses one; the support then
// takes the count and size of the entries stored. The catalogue is
// written to disk once, at the end; when it cannot be, the result says how
// much of it the disk holds. `progress` is called with the index of
// every kIndexingProgressStep-th entry (0, 100, ...) before it is stored.
TInsertionResult InsertScan(TDBWrapper& db, DirEnumerator& scan, const TVolumeInfo& volume,
                            const std::string& shortComment, const std::string& longComment,
                            const std::function<void(int32_t index)>& progress);
