#include "tests/support/io_fault_os.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

namespace testing_support {

namespace {

// The path absolute and lexically normal, without a trailing '/': the
// engine names some files relative to the current folder, some absolute.
std::string normal(const std::string& path) {
  std::string whole = std::filesystem::absolute(path).lexically_normal().string();
  while (whole.size() > 1 && whole.back() == '/') whole.pop_back();
  return whole;
}

}  // namespace

const char* IoFaultOs::nameOf(Call kind) {
  static const char* const names[kCallKinds] = {
      "read", "write", "sync", "length change", "rename", "reserve", "open", "creation", "removal"};
  return names[static_cast<int>(kind)];
}

IoFaultOs::IoFaultOs(std::string folder) : folder_(normal(folder)) {}

void IoFaultOs::failCalls(Call kind, const std::string& nameEnd, bool once) {
  std::lock_guard lock(mutex_);
  named_.push_back({kind, nameEnd, once});
}

int64_t IoFaultOs::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<IoFaultOs::Counted> IoFaultOs::counted() const {
  std::lock_guard lock(mutex_);
  return counted_;
}

int64_t IoFaultOs::callsOf(Call kind) const {
  std::lock_guard lock(mutex_);
  return callsOf_[static_cast<int>(kind)];
}

bool IoFaultOs::fired() const {
  std::lock_guard lock(mutex_);
  return fired_;
}

int64_t IoFaultOs::firedAt() const {
  std::lock_guard lock(mutex_);
  return firedAt_;
}

IoFaultOs::Call IoFaultOs::firedCall() const {
  std::lock_guard lock(mutex_);
  return firedCall_;
}

std::string IoFaultOs::firedFile() const {
  std::lock_guard lock(mutex_);
  return firedFile_;
}

bool IoFaultOs::wroteAfterFailedSync() const {
  std::lock_guard lock(mutex_);
  return !writtenAfter_.empty();
}

std::string IoFaultOs::writtenAfter() const {
  std::lock_guard lock(mutex_);
  return writtenAfter_;
}

std::string IoFaultOs::listing() const {
  std::set<std::string> lines;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
    struct stat status {};
    if (::lstat(entry.path().c_str(), &status) != 0) continue;
    lines.insert(entry.path().filename().string() + " " + std::to_string(status.st_size) + " " +
                 std::to_string(status.st_mtim.tv_sec) + "." +
                 std::to_string(status.st_mtim.tv_nsec));
  }
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::string IoFaultOs::folderChangedSinceFailedSync() const {
  std::lock_guard lock(mutex_);
  if (!syncFailed_) return {};
  const std::string now = listing();
  return now == listingAtFailedSync_ ? std::string()
                                     : "then:\n" + listingAtFailedSync_ + "now:\n" + now;
}

bool IoFaultOs::ours(const std::string& path) const {
  const std::string whole = normal(path);
  return whole == folder_ || std::filesystem::path(whole).parent_path().string() == folder_;
}

int IoFaultOs::namedFault(Call kind, const std::string& name) {
  const std::string whole = normal(name);
  for (auto named = named_.begin(); named != named_.end(); ++named) {
    if (named->kind != kind || !whole.ends_with(named->nameEnd)) continue;
    if (named->once) named_.erase(named);
    return errnoFor(kind);
  }
  return 0;
}

// A place for a debugger's breakpoint: every fault passes here.
__attribute__((noinline)) void ioFaultFired(int kind) { asm volatile("" ::"r"(kind)); }

int IoFaultOs::fault(Call kind, const std::string& name) {
  std::lock_guard lock(mutex_);
  int error = namedFault(kind, name);
  if (armed && (!onlyKind || *onlyKind == kind)) {
    const int64_t call = ++calls_;
    callsOf_[static_cast<int>(kind)]++;
    counted_.push_back({kind, name});
    if (failAt != 0 && (call == failAt || (persistent && fired_ && kind == firedCall_)))
      error = errnoFor(kind);
  }
  if (error == 0) return 0;
  if (!fired_) {
    firedCall_ = kind;
    firedAt_ = calls_;
    firedFile_ = normal(name);
  }
  fired_ = true;
  if (kind == Call::kSync && !syncFailed_) {
    syncFailed_ = true;
    listingAtFailedSync_ = listing();
  }
  ioFaultFired(static_cast<int>(kind));
  return error;
}

int IoFaultOs::faultOf(Call kind, int fd) {
  std::string name;
  {
    std::lock_guard lock(mutex_);
    const auto file = names_.find(fd);
    if (file == names_.end()) return 0;
    name = file->second;
  }
  return fault(kind, name);
}

void IoFaultOs::changed(const std::string& name) {
  if (syncFailed_ && writtenAfter_.empty()) writtenAfter_ = name;
}

int IoFaultOs::openFile(const char* path, int flags, int mode) {
  if (!ours(path)) return Os::openFile(path, flags, mode);
  if (const int error = fault((flags & O_CREAT) != 0 ? Call::kCreate : Call::kOpen, path))
    return -error;
  const bool made = (flags & O_CREAT) != 0 && !std::filesystem::exists(path);
  const int fd = Os::openFile(path, flags, mode);
  if (fd < 0) return fd;
  std::lock_guard lock(mutex_);
  names_[fd] = normal(path);
  if (made || (flags & O_TRUNC) != 0) changed(names_[fd]);
  return fd;
}

int IoFaultOs::closeFile(int fd) {
  {
    std::lock_guard lock(mutex_);
    names_.erase(fd);
  }
  return Os::closeFile(fd);
}

int64_t IoFaultOs::readAt(int fd, void* buffer, size_t n, uint64_t offset) {
  if (const int error = faultOf(Call::kRead, fd)) return -error;
  return Os::readAt(fd, buffer, n, offset);
}

int64_t IoFaultOs::readAtIfCached(int fd, void* buffer, size_t n, uint64_t offset) {
  return readAt(fd, buffer, n, offset);
}

int64_t IoFaultOs::writeAt(int fd, const void* data, size_t n, uint64_t offset) {
  if (const int error = faultOf(Call::kWrite, fd)) return -error;
  {
    std::lock_guard lock(mutex_);
    if (const auto file = names_.find(fd); file != names_.end()) changed(file->second);
  }
  return Os::writeAt(fd, data, n, offset);
}

int IoFaultOs::truncateFile(int fd, uint64_t size) {
  if (const int error = faultOf(Call::kLength, fd)) return -error;
  {
    std::lock_guard lock(mutex_);
    if (const auto file = names_.find(fd); file != names_.end()) changed(file->second);
  }
  return Os::truncateFile(fd, size);
}

int IoFaultOs::reserveSpace(int fd, uint64_t offset, uint64_t length) {
  if (const int error = faultOf(Call::kReserve, fd)) return -error;
  return Os::reserveSpace(fd, offset, length);
}

int IoFaultOs::syncFile(int fd) {
  if (const int error = faultOf(Call::kSync, fd)) return -error;
  return 0;
}

int IoFaultOs::syncFolder(const char* path) {
  if (ours(path)) {
    if (const int error = fault(Call::kSync, path)) return -error;
  }
  return 0;
}

int IoFaultOs::renameFile(const char* from, const char* to) {
  if (ours(from) || ours(to)) {
    if (const int error = fault(Call::kRename, to)) return -error;
    std::lock_guard lock(mutex_);
    changed(normal(to));
  }
  return Os::renameFile(from, to);
}

int IoFaultOs::removeFile(const char* path) {
  if (ours(path)) {
    if (const int error = fault(Call::kRemove, path)) return -error;
    std::lock_guard lock(mutex_);
    changed(normal(path));
  }
  return Os::removeFile(path);
}

}  // namespace testing_support
