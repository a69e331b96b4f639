// DirEnumerator: the breadth-first walk of a medium's folder tree into a
// list of entries, one `TFileEntry` per file or folder.
//
// The list is in breadth-first order: every entry of the root, then the
// contents of the first folder found, then of the second, and so on; each
// folder's contents in the order the file system gives them. "." and ".."
// are never listed; names starting with '.' are.
//
// What an entry holds (catalog/Mediatypes.h):
//   drive       the root folder as given (a mount point), not converted;
//   directory   the folder holding the entry below the root, '\' between
//               levels, first and last: "\" at the top, "\sub\deeper\" below;
//   name        converted from UTF-8 to Windows-1252 ('?' for characters it
//               lacks); a '\' and bytes below 0x20 also become '?', as they
//               would break stored paths and archive lines; blanks at
//               either end are left out, as the catalogue reads names
//               back without them (unless the name is nothing else);
//   extension   from the name's last '.' to its end, the '.' included;
//   size        64-bit, from lstat; 0 for a folder;
//   attributes  0x10 folder, 0x20 anything else, 0x01 when no write
//               permission bit is set, 0x02 when the name starts with '.';
//   date        the modification time in local time, seconds rounded down
//               to even (a DOS date-time's precision), as days since
//               1899-12-30 with the time of day as the fraction.
//
// Symbolic links are listed as files and never entered. A folder reached a
// second time (a bind mount of an ancestor) is listed but not walked again.
// A folder that cannot be opened or read contributes no entries; the walk
// goes on with the next one.
//
// Everything runs on the caller's thread. The callback may pump messages:
// from there, Abort stops the walk after the current entry, while Clear and
// a second Enumerate are refused.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalog/Mediatypes.h"

// Called for every entry as it is appended, with the running number of
// entries reported in this walk (1 for the first).
using TDirEnumEvent = std::function<void(TFileEntry& entry, int32_t number)>;

class DirEnumerator {
 public:
  DirEnumerator() = default;
  ~DirEnumerator() = default;
  DirEnumerator(const DirEnumerator&) = delete;
  DirEnumerator& operator=(const DirEnumerator&) = delete;

  // Walks the folder `root` (a drive's mount point) and returns the number
  // of entries found; -1, changing nothing, while a walk is running. The
  // previous walk's entries are discarded first and the abort flag cleared.
  // A root that cannot be opened gives 0 entries.
  int32_t Enumerate(const std::string& root, const TDirEnumEvent& callback = nullptr);

  // Discards every entry and zeroes the counts; nothing while busy. The
  // abort flag keeps its value.
  void Clear();

  // Stops a running walk after the entry being reported.
  void Abort() { abort_ = true; }
  bool Aborted() const { return abort_; }
  bool Busy() const { return busy_; }

  // The entry at `index` in walk order, null out of range. Entries stay
  // valid (and writable: the catalogue stores its ids in them) until the
  // next walk or Clear.
  TFileEntry* GetEntry(int32_t index) const;
  int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
  int32_t FileCount() const { return fileCount_; }
  int32_t DirectoryCount() const { return directoryCount_; }
  // The sum of every entry's size.
  int64_t TotalSize() const { return totalSize_; }

 private:
  class Walk;

  std::vector<std::unique_ptr<TFileEntry>> entries_;
  int32_t fileCount_ = 0;
  int32_t directoryCount_ = 0;
  int64_t totalSize_ = 0;
  bool busy_ = false;
  bool abort_ = false;
};

// The path on this machine of a walked entry: the drive without a trailing
// '/', the directory with '/' between levels, then the name, converted back
// to UTF-8 (drive /media/usb, directory \sub\ and name a.txt give
// /media/usb/sub/a.txt). A name that lost characters in the conversion to
// Windows-1252, or blanks at its ends, gives a path that names no file.
std::string GetFullPath(const TFileEntry& entry);

// True when `text` ends in ".zip", ignoring case.
bool EndsWithZip(const std::string& text);
// True when the whole `text` is ".zip", ignoring case (a file extension).
bool IsZipExtension(const std::string& text);
