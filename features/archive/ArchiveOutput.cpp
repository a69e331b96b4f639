#include "features/archive/ArchiveOutput.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "features/archive/ArchiveFormat.h"
#include "platform/os.h"

namespace archive {

namespace {

using namespace std::string_view_literals;

// Names tried for the temporary file. A live export holds an exclusive
// flock on its temporary file until it is renamed or removed; a name that
// exists is never written over, and is removed first only when it is the
// leftover of an export that was killed: a regular file whose lock can be
// taken and that begins with kUnfinished. A file system that keeps no
// flocks keeps every leftover.
constexpr int kTemporaryNames = 100;

// The first bytes of a temporary file until its export commits. An archive
// is text and never begins with a NUL, so no archive, whole or cut short,
// reads as this; the rest names what the file is to whoever opens it.
constexpr std::string_view kUnfinished = "\0unfinished archive export\r\n"sv;

std::string temporaryName(const std::string& target, int attempt) {
  std::string name = target;
  if (attempt > 0) name.append(".").append(std::to_string(attempt));
  return name.append(".tmp");
}

bool beginsUnfinished(int fd) {
  char start[kUnfinished.size()];
  return platform::readFully(fd, start, sizeof start, 0) == static_cast<int64_t>(sizeof start) &&
         std::string_view(start, sizeof start) == kUnfinished;
}

void removeIfLeftOver(const std::string& name) {
  platform::Os& os = platform::os();
  if (os.pathStatus(name.c_str()) != 0) return;
  // Never blocks on a FIFO, never follows a link.
  const int fd = os.openFile(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW, 0);
  if (fd < 0) return;
  platform::EntryStatus status;
  if (os.entryStatusAt(fd, "", status) == 0 && status.kind == platform::EntryStatus::Kind::kFile &&
      os.shareLock(fd, true) == 0 && beginsUnfinished(fd))
    os.removeFile(name.c_str());
  os.closeFile(fd);
}

}  // namespace

ArchiveOutput::~ArchiveOutput() { Discard(); }

int ArchiveOutput::Open(const std::string& target) {
  Discard();
  target_ = target;
  error_ = 0;
  offset_ = 0;
  head_.clear();
  buffer_.clear();
  platform::Os& os = platform::os();
  for (int attempt = 0; attempt < kTemporaryNames; attempt++)
    removeIfLeftOver(temporaryName(target, attempt));
  int fd = -EEXIST;
  for (int attempt = 0; attempt < kTemporaryNames && fd == -EEXIST; attempt++) {
    temporary_ = temporaryName(target, attempt);
    // An archive is the user's document: the usual permissions, not 0600.
    fd = os.openFile(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
  }
  if (fd < 0) {
    temporary_.clear();
    return error_ = fd;
  }
  fd_ = fd;
  // Locked before it is marked: a mark is only ever seen under the lock.
  os.shareLock(fd_, true);  // where flocks are kept; a new file's lock is free
  WriteAt(kUnfinished.data(), kUnfinished.size(), 0);
  if (error_ != 0) Discard();
  return error_;
}

void ArchiveOutput::EndLine() {
  buffer_.append(kLineEnd);
  if (buffer_.size() >= kFlushBytes) WriteBuffer();
}

void ArchiveOutput::WriteLine(std::string_view text) {
  buffer_.append(text);
  EndLine();
}

void ArchiveOutput::WriteAt(const char* data, size_t size, uint64_t offset) {
  if (error_ != 0 || size == 0) return;
  const int64_t written = platform::writeFully(fd_, data, size, offset);
  if (written < 0) {
    error_ = static_cast<int>(written);
  } else if (static_cast<size_t>(written) < size) {
    error_ = -ENOSPC;  // a short count without an error: the disk is full
  }
}

void ArchiveOutput::WriteBuffer() {
  if (fd_ >= 0 && !buffer_.empty()) {
    const size_t held =
        offset_ < kUnfinished.size()
            ? std::min(buffer_.size(), kUnfinished.size() - static_cast<size_t>(offset_))
            : 0;
    head_.append(buffer_, 0, held);
    WriteAt(buffer_.data() + held, buffer_.size() - held, offset_ + held);
    offset_ += buffer_.size();
  }
  buffer_.clear();
}

int ArchiveOutput::Commit() {
  if (fd_ < 0) return error_ != 0 ? error_ : -EBADF;
  WriteBuffer();
  platform::Os& os = platform::os();
  // The archive's first bytes replace the mark; an archive shorter than
  // the mark loses the mark's rest.
  WriteAt(head_.data(), head_.size(), 0);
  if (error_ == 0 && offset_ < kUnfinished.size()) error_ = os.truncateFile(fd_, offset_);
  if (error_ == 0) error_ = os.syncFile(fd_);
  const int closed = os.closeFile(fd_);
  fd_ = -1;
  if (error_ == 0) error_ = closed;
  if (error_ == 0) error_ = os.renameFile(temporary_.c_str(), target_.c_str());
  if (error_ == 0) temporary_.clear();
  Discard();
  return error_;
}

void ArchiveOutput::Discard() {
  platform::Os& os = platform::os();
  if (fd_ >= 0) os.closeFile(fd_);
  fd_ = -1;
  if (!temporary_.empty()) os.removeFile(temporary_.c_str());
  temporary_.clear();
}

}  // namespace archive
