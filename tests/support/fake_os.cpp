#include "tests/support/fake_os.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace testing_support {

void Gate::open() {
  {
    std::lock_guard guard(mutex_);
    isOpen_ = true;
  }
  opened_.notify_all();
}

void Gate::pass() {
  std::unique_lock lock(mutex_);
  opened_.wait(lock, [this] { return isOpen_; });
}

bool FakeOs::startThread(std::thread& thread, std::function<void()> body) {
  const int index = started_.fetch_add(1);
  const int refuseFrom = refuseThreadsFrom.load();
  if (refuseFrom >= 0 && index >= refuseFrom) return false;
  if (Gate* gate = threadGate) {
    return Os::startThread(thread, [gate, body = std::move(body)] {
      gate->pass();
      body();
    });
  }
  return Os::startThread(thread, std::move(body));
}

int64_t FakeOs::steadyMillis() { return Os::steadyMillis() + skew_.fetch_add(clockStep.load()); }

uint64_t FakeOs::availablePhysicalMemory() {
  const uint64_t answer = memory.load();
  return answer != 0 ? answer : Os::availablePhysicalMemory();
}

uint32_t FakeOs::sectorSize(const char* path) {
  const uint32_t answer = sector.load();
  return answer != 0 ? answer : Os::sectorSize(path);
}

namespace {
// Takes a pending injected errno, leaving none.
int takeFault(std::atomic<int>& fault) { return fault.exchange(0); }
}  // namespace

int FakeOs::openFile(const char* path, int flags, int mode) {
  if (int error = takeFault(openError)) return -error;
  const int fd = Os::openFile(path, flags, mode);
  if (fd >= 0) {
    std::lock_guard guard(filesMutex_);
    openNames_[fd] = path;
  }
  return fd;
}

int FakeOs::closeFile(int fd) {
  {
    std::lock_guard guard(filesMutex_);
    openNames_.erase(fd);
    memoryFiles_.erase(fd);
  }
  const int error = takeFault(closeError);
  const int rc = Os::closeFile(fd);  // the descriptor goes in any case
  return error != 0 ? -error : rc;
}

void FakeOs::holdOtherThreadsIo() {
  std::lock_guard guard(ioMutex_);
  holding_ = true;
  exempt_ = std::this_thread::get_id();
}

void FakeOs::releaseIo() {
  {
    std::lock_guard guard(ioMutex_);
    holding_ = false;
  }
  ioChanged_.notify_all();
}

bool FakeOs::ioHeld() {
  std::lock_guard guard(ioMutex_);
  return waiting_ > 0;
}

void FakeOs::slowOtherThreadsIo(int64_t micros) {
  std::lock_guard guard(ioMutex_);
  slowMicros_ = micros;
  exempt_ = std::this_thread::get_id();
}

void FakeOs::waitIfHeld() {
  std::unique_lock lock(ioMutex_);
  if (std::this_thread::get_id() == exempt_) return;
  if (slowMicros_ > 0) {
    const auto pause = std::chrono::microseconds(slowMicros_);
    lock.unlock();
    std::this_thread::sleep_for(pause);
    lock.lock();
  }
  if (!holding_) return;
  waiting_++;
  ioChanged_.notify_all();
  ioChanged_.wait(lock, [this] { return !holding_; });
  waiting_--;
}

std::vector<size_t> FakeOs::writeSizes() {
  std::lock_guard guard(ioMutex_);
  return writeSizes_;
}

void FakeOs::failFile(Io io, const std::string& nameEnd, int error, bool once) {
  std::lock_guard guard(filesMutex_);
  auto& faults = faults_[static_cast<int>(io)];
  if (error == 0)
    faults.erase(nameEnd);
  else
    faults[nameEnd] = Fault{error, once};
  anyFault_ = !faults_[0].empty() || !faults_[1].empty() || !faults_[2].empty();
}

std::string FakeOs::pathOf(int fd) {
  std::lock_guard guard(filesMutex_);
  auto name = openNames_.find(fd);
  if (name == openNames_.end()) {
    // Opened before this double was installed: the system knows its path.
    char path[4096];
    const ssize_t n =
        readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path - 1);
    if (n <= 0) return std::string();
    name = openNames_.emplace(fd, std::string(path, static_cast<size_t>(n))).first;
  }
  return name->second;
}

int FakeOs::fileFault(Io io, int fd) {
  if (!anyFault_) return 0;
  const std::string path = pathOf(fd);
  std::lock_guard guard(filesMutex_);
  auto& faults = faults_[static_cast<int>(io)];
  for (auto fault = faults.begin(); fault != faults.end(); ++fault) {
    const std::string& end = fault->first;
    if (path.size() < end.size() || path.compare(path.size() - end.size(), end.size(), end) != 0)
      continue;
    const int error = fault->second.error;
    if (fault->second.once) faults.erase(fault);
    return error;
  }
  return 0;
}

void FakeOs::noteEvent(const char* what, int fd, const void* data, uint64_t offset) {
  if (!recordEvents) return;
  const std::string path = pathOf(fd);
  std::string event = std::string(what) + " " + path.substr(path.rfind('/') + 1);
  if (data != nullptr && offset == 0) event += " " + std::string(static_cast<const char*>(data), 1);
  std::lock_guard guard(ioMutex_);
  events_.push_back(event);
}

std::vector<std::string> FakeOs::events() {
  std::lock_guard guard(ioMutex_);
  return events_;
}

void FakeOs::exitAtWrite(int64_t n, int exitCode) {
  exitCode_ = exitCode;
  writesSeen_ = 0;
  exitAt_ = n;
}

void FakeOs::fillDiskAtWrite(int64_t n) {
  writesSeen_ = 0;
  fullAt_ = n;
}

void FakeOs::dieIfDue() {
  const int64_t due = exitAt_.load();
  if (due > 0 && writesSeen_.load() + 1 >= due) _exit(exitCode_);
  writesSeen_++;
}

int64_t FakeOs::readAt(int fd, void* buffer, size_t n, uint64_t offset) {
  waitIfHeld();
  readCalls++;
  if (int error = fileFault(Io::read, fd)) return -error;
  return Os::readAt(fd, buffer, n, offset);
}

int64_t FakeOs::readAtIfCached(int fd, void* buffer, size_t n, uint64_t offset) {
  if (!pageCacheHolds) return -EAGAIN;
  readCalls++;
  if (int error = fileFault(Io::read, fd)) return -error;
  return Os::readAtIfCached(fd, buffer, n, offset);
}

int64_t FakeOs::writeAt(int fd, const void* data, size_t n, uint64_t offset) {
  waitIfHeld();
  dieIfDue();
  if (int error = fileFault(Io::write, fd)) return -error;
  if (n > 0) noteEvent("write", fd, data, offset);
  if (inMemory(fd)) return Os::writeAt(fd, data, n, offset);
  uint64_t size = 0;
  const bool sized = Os::fileSize(fd, size) == 0;
  // Bytes the disk holds room for: the file's, and what was set aside.
  const uint64_t room = sized ? std::max(size, roomEndOf(fd)) : 0;
  if (const int64_t full = fullAt_.load(); full > 0 && writesSeen_.load() >= full) {
    // The write that fills the disk puts its first half there; after it,
    // only bytes the disk holds room for can be written.
    if (writesSeen_.load() == full && n >= 2 && offset + n > room)
      return Os::writeAt(fd, data, n / 2, offset);
    if (offset >= room) return -ENOSPC;
    return Os::writeAt(fd, data, std::min<uint64_t>(n, room - offset), offset);
  }
  if (recordWrites) {
    std::lock_guard guard(ioMutex_);
    writeSizes_.push_back(n);
  }
  int64_t space = diskSpace.load();
  if (space < 0 || (sized && offset >= size && offset + n <= room))
    return Os::writeAt(fd, data, n, offset);
  if (space == 0) return -ENOSPC;
  const size_t allowed = std::min<size_t>(n, static_cast<size_t>(space));
  const int64_t put = Os::writeAt(fd, data, allowed, offset);
  if (put > 0) diskSpace -= put;
  return put;
}

bool FakeOs::inMemory(int fd) {
  std::lock_guard guard(filesMutex_);
  return memoryFiles_.contains(fd);
}

int FakeOs::openMemoryFile(const char* name) {
  const int fd = Os::openMemoryFile(name);
  if (fd < 0) return fd;
  std::lock_guard guard(filesMutex_);
  memoryFiles_[fd] = true;
  return fd;
}

uint64_t FakeOs::roomEndOf(int fd) {
  // Room set aside before this double was installed is the real disk's:
  // the blocks it allocated to the file.
  // (Only blocks past the one that holds the file's end count: that one is
  // the file's own.)
  struct stat status {};
  uint64_t allocated = 0;
  if (::fstat(fd, &status) == 0 && status.st_blksize > 0) {
    const uint64_t block = static_cast<uint64_t>(status.st_blksize);
    const uint64_t ownEnd = (static_cast<uint64_t>(status.st_size) + block - 1) / block * block;
    allocated = static_cast<uint64_t>(status.st_blocks) * 512;
    if (allocated <= ownEnd) allocated = 0;
  }
  const std::string path = pathOf(fd);
  std::lock_guard guard(filesMutex_);
  const auto room = roomEnds_.find(path);
  return std::max(allocated, room == roomEnds_.end() ? uint64_t{0} : room->second);
}

int FakeOs::reserveSpace(int fd, uint64_t offset, uint64_t length) {
  if (const int error = reserveError.load()) return -error;
  uint64_t size = 0;
  if (Os::fileSize(fd, size) != 0) return -EBADF;
  const uint64_t end = offset + length;
  const uint64_t had = std::max(size, roomEndOf(fd));
  if (end > had && !inMemory(fd)) {
    const bool full = fullAt_.load() > 0 && writesSeen_.load() >= fullAt_.load();
    const int64_t space = diskSpace.load();
    if (full || (space >= 0 && static_cast<uint64_t>(space) < end - had)) return -ENOSPC;
    if (space >= 0) diskSpace -= static_cast<int64_t>(end - had);
  }
  if (const int rc = Os::reserveSpace(fd, offset, length); rc != 0) return rc;
  const std::string path = pathOf(fd);
  std::lock_guard guard(filesMutex_);
  uint64_t& room = roomEnds_[path];
  room = std::max(room, end);
  return 0;
}

int FakeOs::truncateFile(int fd, uint64_t size) {
  dieIfDue();
  if (int error = fileFault(Io::write, fd)) return -error;
  noteEvent("length", fd);
  return Os::truncateFile(fd, size);
}

int FakeOs::syncFile(int fd) {
  syncCalls++;
  if (int error = takeFault(syncError)) return -error;
  if (int error = fileFault(Io::sync, fd)) return -error;
  noteEvent("sync", fd);
  return syncsAnsweredAtOnce ? 0 : Os::syncFile(fd);
}

int FakeOs::syncFolder(const char* path) { return syncsAnsweredAtOnce ? 0 : Os::syncFolder(path); }

int FakeOs::removeFile(const char* name) {
  if (removeErrno != 0) return -removeErrno;
  const int result = Os::removeFile(name);
  if (result == 0) {
    std::lock_guard guard(removedMutex_);
    removed_.emplace_back(name);
  }
  return result;
}

int FakeOs::renameFile(const char* from, const char* to) {
  if (renameErrno != 0) return -renameErrno;
  return Os::renameFile(from, to);
}

int FakeOs::waitExclusiveLock(int fd) {
  if (lockWaitErrno != 0) return -lockWaitErrno;
  return Os::waitExclusiveLock(fd);
}

int FakeOs::runWithTimeLimit(const std::vector<std::string>& arguments, int64_t limitMillis,
                             size_t outputLimit, platform::ChildEnd& end) {
  childRuns++;
  if (childRunErrno != 0) return -childRunErrno;
  return Os::runWithTimeLimit(arguments, limitMillis, outputLimit, end);
}

std::vector<std::string> FakeOs::removed() const {
  std::lock_guard guard(removedMutex_);
  return removed_;
}

platform::LocalTime FakeOs::localTime() { return now ? *now : Os::localTime(); }

const char* FakeOs::environment(const char* name) {
  if (!environmentVariables) return Os::environment(name);
  auto found = environmentVariables->find(name);
  return found == environmentVariables->end() ? nullptr : found->second.c_str();
}

void FakeOs::sleepMillis(int64_t millis) {
  slept_.fetch_add(millis);
  if (!skipSleeps) Os::sleepMillis(millis);
}

bool FakeOs::currentDirectory(char* buffer, size_t size) {
  if (!workingDirectory) return Os::currentDirectory(buffer, size);
  if (workingDirectory->empty() || workingDirectory->size() >= size) return false;
  std::memcpy(buffer, workingDirectory->c_str(), workingDirectory->size() + 1);
  return true;
}

}  // namespace testing_support
