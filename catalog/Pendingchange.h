// TPendingChange: the change to the catalogue's media that has begun and is
// not yet wholly written to the disk.
//
// The block cache holds the catalogue's writes until a flush, and lets some
// of them go earlier when it is full, in an order of its own across the
// tables: a death or a full disk in the middle of adding, deleting or
// emptying can leave part of it on the disk, rows without their support, or
// a support whose counts are not its rows. So the change is noted on the
// disk before any of its writes can get there, and the note taken away once
// a flush has written every table; a start that finds a note finishes or
// undoes the change as the disk holds it (TDBWrapper).
//
// The file CATALOG.PND in the data folder holds the note in twelve bytes:
// the kind ('A' adding, 'D' deleting, 'E' emptying, ' ' none), the support's
// id as ten digits, and a line feed. It is made when missing and rewritten
// in place, so that a note never needs room on a full disk once the file is
// there. Other tools ignore it.
//
// Thread rule: the user-interface thread, as every catalogue call.
#pragma once

#include <cstdint>
#include <string>

inline constexpr char kPendingChangeName[] = "CATALOG.PND";

enum class TChangeKind : char {
  kNone = ' ',
  kAdding = 'A',    // a support and its files
  kDeleting = 'D',  // a support and its files
  kEmptying = 'E',  // every support and file
};

class TPendingChange {
 public:
  // Opens (or makes) the file of `folder` ("" is the current folder) and
  // reads the note a previous run left.
  explicit TPendingChange(const std::string& folder);
  ~TPendingChange();
  TPendingChange(const TPendingChange&) = delete;
  TPendingChange& operator=(const TPendingChange&) = delete;

  // The change noted, kNone when there is none or nothing can be told (a
  // file that is absent, unreadable or damaged).
  TChangeKind Kind() const { return kind_; }
  int32_t SupportId() const { return id_; }
  // Notes a change on the disk: true, or false when the file could not be
  // written (then nothing may be changed that depends on it).
  bool Begin(TChangeKind kind, int32_t supportId);
  // Nothing is pending any more: every table is written. True when the
  // file says so now.
  bool Clear();

 private:
  // Opens (or makes) the file when it is not open: whether it is now.
  bool opened();
  bool write(TChangeKind kind, int32_t supportId);

  std::string name_;
  int fd_ = -1;
  TChangeKind kind_ = TChangeKind::kNone;
  int32_t id_ = 0;
};
