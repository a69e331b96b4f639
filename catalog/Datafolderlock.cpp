#include "catalog/Datafolderlock.h"

#include <fcntl.h>

#include <map>
#include <mutex>

#include "platform/os.h"

namespace {

// The folder locks this process holds, by canonical folder.
struct HeldLock {
  int fd = -1;
  int depth = 0;
};

std::mutex heldMutex;
std::map<std::string, HeldLock> held;  // guarded by heldMutex

constexpr int kLockFilePermissions = 0666;  // narrowed by the umask, as the tables

}  // namespace

TDataFolderLock::TDataFolderLock(const std::string& folder) {
  platform::Os& os = platform::os();
  folder_ = os.canonicalPath(folder.empty() ? "." : folder.c_str());
  if (folder_.empty()) return;
  std::lock_guard guard(heldMutex);
  HeldLock& lock = held[folder_];
  if (lock.depth == 0) {
    // Read access is enough for flock, and opens the file on read-only
    // media. Never waiting at open: a named pipe of that name serves as well.
    const std::string name = folder_ + "/" + kDataFolderLockName;
    const int fd = os.openFile(name.c_str(), O_RDONLY | O_CREAT | O_NONBLOCK, kLockFilePermissions);
    if (fd < 0) {
      held.erase(folder_);
      return;
    }
    if (os.waitExclusiveLock(fd) != 0) {
      os.closeFile(fd);
      held.erase(folder_);
      return;
    }
    lock.fd = fd;
  }
  lock.depth++;
  held_ = true;
}

TDataFolderLock::~TDataFolderLock() {
  if (!held_) return;
  std::lock_guard guard(heldMutex);
  auto found = held.find(folder_);
  if (found == held.end() || --found->second.depth > 0) return;
  // Closing the only descriptor of the open file description releases it.
  platform::os().closeFile(found->second.fd);
  held.erase(found);
}
