#include "tests/support/io_fault_os.h"

#include <filesystem>

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

IoFaultOs::IoFaultOs(std::string folder) : folder_(normal(folder)) {}

void IoFaultOs::failCalls(Call kind, const std::string& nameEnd, bool once) {
  named_.push_back({kind, nameEnd, once});
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
    return errnoOf(kind);
  }
  return 0;
}

__attribute__((noinline)) void ioFaultFired(int kind) { asm volatile("" ::"r"(kind)); }

int IoFaultOs::fault(Call kind, const std::string& name) {
  int error = namedFault(kind, name);
  if (armed) {
    const int64_t call = ++calls_;
    if (failAt != 0 && (call == failAt || (persistent && fired_ && kind == firedCall_)))
      error = errnoOf(kind);
  }
  if (error == 0) return 0;
  if (!fired_) {
    firedCall_ = kind;
    firedAt_ = calls_;
  }
  fired_ = true;
  if (kind == Call::kSync) syncFailed_ = true;
  ioFaultFired(static_cast<int>(kind));
  return error;
}

void IoFaultOs::wrote(int fd) {
  if (syncFailed_ && writtenAfter_.empty()) writtenAfter_ = names_[fd];
}

int IoFaultOs::openFile(const char* path, int flags, int mode) {
  const int fd = Os::openFile(path, flags, mode);
  if (fd >= 0 && ours(path)) names_[fd] = normal(path);
  return fd;
}

int IoFaultOs::closeFile(int fd) {
  names_.erase(fd);
  return Os::closeFile(fd);
}

int64_t IoFaultOs::readAt(int fd, void* buffer, size_t n, uint64_t offset) {
  const auto file = names_.find(fd);
  if (file != names_.end()) {
    if (const int error = fault(Call::kRead, file->second)) return -error;
  }
  return Os::readAt(fd, buffer, n, offset);
}

int64_t IoFaultOs::writeAt(int fd, const void* data, size_t n, uint64_t offset) {
  const auto file = names_.find(fd);
  if (file != names_.end()) {
    if (const int error = fault(Call::kWrite, file->second)) return -error;
    wrote(fd);
  }
  return Os::writeAt(fd, data, n, offset);
}

int IoFaultOs::truncateFile(int fd, uint64_t size) {
  const auto file = names_.find(fd);
  if (file != names_.end()) {
    if (const int error = fault(Call::kLength, file->second)) return -error;
    wrote(fd);
  }
  return Os::truncateFile(fd, size);
}

int IoFaultOs::reserveSpace(int fd, uint64_t offset, uint64_t length) {
  const auto file = names_.find(fd);
  if (file != names_.end()) {
    if (const int error = fault(Call::kReserve, file->second)) return -error;
  }
  return Os::reserveSpace(fd, offset, length);
}

int IoFaultOs::syncFile(int fd) {
  const auto file = names_.find(fd);
  if (file != names_.end()) {
    if (const int error = fault(Call::kSync, file->second)) return -error;
  }
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
  }
  return Os::renameFile(from, to);
}

}  // namespace testing_support
