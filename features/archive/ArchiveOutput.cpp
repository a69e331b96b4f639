#include "features/archive/ArchiveOutput.h"

#include <fcntl.h>

#include <cerrno>

#include "features/archive/ArchiveFormat.h"
#include "platform/os.h"

namespace archive {

namespace {

// Names tried for the temporary file: a name left by an interrupted export
// is never reused, so nothing of another run can be clobbered.
constexpr int kTemporaryNames = 100;

std::string temporaryName(const std::string& target, int attempt) {
  std::string name = target;
  if (attempt > 0) name.append(".").append(std::to_string(attempt));
  return name.append(".tmp");
}

}  // namespace

ArchiveOutput::~ArchiveOutput() { Discard(); }

int ArchiveOutput::Open(const std::string& target) {
  Discard();
  target_ = target;
  error_ = 0;
  offset_ = 0;
  buffer_.clear();
  int fd = -EEXIST;
  for (int attempt = 0; attempt < kTemporaryNames && fd == -EEXIST; attempt++) {
    temporary_ = temporaryName(target, attempt);
    // An archive is the user's document: the usual permissions, not 0600.
    fd = platform::os().openFile(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
  }
  if (fd < 0) {
    temporary_.clear();
    return error_ = fd;
  }
  fd_ = fd;
  return 0;
}

void ArchiveOutput::EndLine() {
  buffer_.append(kLineEnd);
  if (buffer_.size() >= kFlushBytes) WriteBuffer();
}

void ArchiveOutput::WriteLine(std::string_view text) {
  buffer_.append(text);
  EndLine();
}

void ArchiveOutput::WriteBuffer() {
  if (error_ == 0 && fd_ >= 0 && !buffer_.empty()) {
    const int64_t written = platform::writeFully(fd_, buffer_.data(), buffer_.size(), offset_);
    if (written < 0) {
      error_ = static_cast<int>(written);
    } else if (static_cast<size_t>(written) < buffer_.size()) {
      error_ = -ENOSPC;  // a short count without an error: the disk is full
    }
    offset_ += buffer_.size();
  }
  buffer_.clear();
}

int ArchiveOutput::Commit() {
  if (fd_ < 0) return error_ != 0 ? error_ : -EBADF;
  WriteBuffer();
  platform::Os& os = platform::os();
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
