// TDataFolderLock: while one lives, no other process creates or opens the
// catalogue tables of its data folder. Two copies of the program started
// together on an empty folder would otherwise both find a table missing and
// create it over each other, leaving it without its index.
//
// The lock is an exclusive flock on the file CATALOG.LCK in the data folder,
// created when missing and never removed: removing it would let a process
// that waits on the old file and one that creates a new file both go on.
// Taking it waits for as long as another process holds it, which is for the
// time one start takes to create or open the tables.
//
// Locks of one folder nest within a process: an inner one (each table's open
// inside the opening of all three) takes nothing more, and the lock goes
// when the outermost one does.
//
// When the lock cannot be taken (a read-only folder without the lock file, a
// file system that keeps no such locks) the work goes on unguarded, as it
// would without the lock: refusing would make a catalogue on read-only media
// unreadable.
//
// Thread rule: the user-interface thread, as every catalogue call.
#pragma once

#include <string>

// The lock file's name, in the data folder.
inline constexpr char kDataFolderLockName[] = "CATALOG.LCK";

class TDataFolderLock {
 public:
  // Waits for the lock of `folder` ("" is the current folder).
  explicit TDataFolderLock(const std::string& folder);
  ~TDataFolderLock();
  TDataFolderLock(const TDataFolderLock&) = delete;
  TDataFolderLock& operator=(const TDataFolderLock&) = delete;

  // Whether this process holds the folder's lock now.
  bool Held() const { return held_; }

 private:
  std::string folder_;  // canonical; empty when the folder could not be named
  bool held_ = false;
};
