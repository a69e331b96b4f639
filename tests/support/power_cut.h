// A power-cut model of one folder, for crash tests: installed as the
// platform door (platform::ScopedOs) for one run of the program, the
// recorder passes every call on (FakeOs, then the real system) and logs what
// reached the folder's files; afterwards it rebuilds the disks a power cut
// at a chosen moment of that run could leave, for the program to be started
// on each.
//
// What may survive a cut:
// - A file's data (writes, length changes, the emptying of O_TRUNC) is
//   durable once a syncFile of that file, begun after it, returned. Until
//   then each such operation may be lost, and they reach the disk in any
//   order: write-back keeps neither a file's order nor the order between
//   files. A descriptor opened with O_DSYNC gets no credit: its writes too
//   wait for a syncFile.
// - Folder entries (a file made, renamed or removed) are durable once a
//   syncFolder of the folder, begun after them, returned; until then each
//   may be lost. Files are followed by identity, as inodes are: a rename
//   carries the identity and its data to the new name, replacing what that
//   name held. A file whose entry is lost vanishes with its data; one whose
//   entry survived holds only its durable data (nothing, for a new file).
// - The disk writes 512-byte sectors whole: a torn write keeps whole sectors.
//
// An operation is logged only when it succeeded, and before the call
// returns, so that whatever a thread does after learning of it comes later
// in the log.
//
// Only regular files directly inside the folder are modelled; the run's
// other files (temporary files in TMPDIR, ...) pass through unrecorded.
// While recording, the folder changes only through the platform door. A
// file renamed into the folder from elsewhere arrives with its bytes
// durable and only its entry pending.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/fake_os.h"

namespace testing_support {

// Path -> bytes, as catalogue_files.h keeps a folder.
using FolderFiles = std::map<std::string, std::string>;

class PowerCutRecorder : public FakeOs {
 public:
  // `folder`, relative to the current folder or absolute, "./x" and "x"
  // alike. Its regular files now are the starting disk, all durable.
  explicit PowerCutRecorder(const std::string& folder);

  int openFile(const char* path, int flags, int mode) override;
  int closeFile(int fd) override;
  int64_t writeAt(int fd, const void* data, size_t n, uint64_t offset) override;
  int truncateFile(int fd, uint64_t size) override;
  int syncFile(int fd) override;
  int syncFolder(const char* path) override;
  int removeFile(const char* path) override;
  int renameFile(const char* from, const char* to) override;

  // Operations logged so far: a cut "at" this position keeps what the first
  // Position() operations may have left. A test notes it at the moments it
  // cares about (right after a flush reported success, ...).
  size_t Position() const;
  // The positions worth cutting at, ascending: just before each logged sync
  // (of a file or of the folder) returned, and the end of the run.
  std::vector<size_t> SyncPoints() const;

  struct DiskState {
    std::string label;  // which operations made it, for SCOPED_TRACE
    FolderFiles files;  // keyed "<folder>/<name>", the folder as given
  };
  // The disks a cut after the first `position` operations can leave, the
  // pending ones being those not durable by then, in log order: only the
  // durable ones; all of them; every proper prefix of them; all but each
  // one; only and all but each file's (the folder's entries counting as one
  // file); and all but one multi-sector write, of which the first half (in
  // whole sectors, at least one) landed. Distinct by content; the first
  // label is kept.
  std::vector<DiskState> StatesAt(size_t position) const;
  // What is durable at `position`: the operations synced by then, nothing
  // else.
  FolderFiles Durable(size_t position) const;

 private:
  static constexpr size_t kNever = SIZE_MAX;
  struct Op {
    enum class Kind : uint8_t { create, write, length, sync, syncFolder, rename, remove };
    Kind kind;
    uint32_t file = 0;          // the identity acted on; unused by syncFolder
    uint64_t at = 0;            // write: offset; length: the new length
    uint64_t size = 0;          // write: byte count
    size_t bytes = 0;           // write: where its bytes start in bytes_
    size_t durableAt = kNever;  // the sync that made it durable (this op, for one that needs none)
    std::string name{};         // the file's name then (rename: the new one)
    std::string from{};         // rename: the old name
  };
  struct Disk;

  // Whether `path` names an entry directly in the folder; `name` gets it.
  bool inFolder(const char* path, std::string& name) const;
  std::filesystem::path absolute(const char* path) const;
  // The bytes of a file as the real system has them, read past the double.
  std::string readWhole(const std::string& path);
  uint32_t newFileLocked(const std::string& name);
  // Appends `op`; unless `durable`, it waits for a sync.
  size_t logLocked(Op op, bool durable = false);
  // The operations of `unsynced` logged before `before` became durable by
  // the sync at `sync`.
  void syncedLocked(std::vector<size_t>& unsynced, size_t before, size_t sync);
  std::string keyOf(const std::string& name) const;

  std::string describe(const Op& op) const;
  Disk durableDisk(size_t position) const;
  // Replays `op` on `disk`; of a write, only the first `keep` bytes.
  void apply(Disk& disk, const Op& op, uint64_t keep = UINT64_MAX) const;
  FolderFiles filesOf(const Disk& disk) const;

  std::string folder_;                // as given, for the files' keys
  std::filesystem::path folderPath_;  // absolute and lexically normal
  std::filesystem::path workingFolder_;

  // Everything below is guarded by mutex_.
  mutable std::mutex mutex_;
  std::vector<Op> ops_;
  std::string bytes_;                    // every write's bytes, once
  std::vector<std::string> startBytes_;  // identities present at the start
  std::map<std::string, uint32_t> startNames_;
  std::vector<std::string> nameOf_;  // identity -> its last name in the run
  // Operations not yet covered by a sync, in log order: each identity's
  // data operations, and the folder's entry operations.
  std::vector<std::vector<size_t>> unsynced_;
  std::vector<size_t> unsyncedEntries_;
  std::map<std::string, uint32_t> live_;  // the folder's names now -> identity
  std::map<int, uint32_t> open_;          // descriptors of the folder's files -> identity
};

// The disk a start on a rebuilt state runs on: nothing is waited for.
class NoWaitOs : public platform::Os {
 public:
  int syncFile(int) override { return 0; }
  int syncFolder(const char*) override { return 0; }
  int startWriteback(int) override { return 0; }
};

// The same disk, read-only, as a copy on a read-only medium is.
class ReadOnlyOs : public NoWaitOs {
 public:
  int writeAccess(const char*) override { return -EROFS; }
};

}  // namespace testing_support
