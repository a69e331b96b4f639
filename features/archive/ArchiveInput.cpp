#include "features/archive/ArchiveInput.h"

#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "features/archive/ArchiveFormat.h"
#include "platform/os.h"

namespace archive {

std::unique_ptr<ArchiveInput> ArchiveInput::OpenFile(const std::string& path, int& systemError) {
  const int fd = platform::os().openFile(path.c_str(), O_RDONLY, 0);
  systemError = fd < 0 ? fd : 0;
  if (fd < 0) return nullptr;
  return std::unique_ptr<ArchiveInput>(new ArchiveInput(fd));
}

ArchiveInput::ArchiveInput(int fd) : fd_(fd), buffer_(kBufferBytes) {}

ArchiveInput::ArchiveInput(std::string bytes, size_t chunk)
    : bytes_(std::move(bytes)),
      chunk_(std::clamp<size_t>(chunk, 1, kBufferBytes)),
      buffer_(chunk_) {}

ArchiveInput::~ArchiveInput() {
  if (fd_ >= 0) platform::os().closeFile(fd_);
}

bool ArchiveInput::Refill() {
  if (error_ != Error::kNone) return false;
  at_ = end_ = 0;
  if (fd_ < 0) {
    const size_t n = std::min(chunk_, bytes_.size() - bytesTaken_);
    std::memcpy(buffer_.data(), bytes_.data() + bytesTaken_, n);
    bytesTaken_ += n;
    end_ = n;
    return n > 0;
  }
  const int64_t n = platform::os().readAt(fd_, buffer_.data(), buffer_.size(), fileOffset_);
  if (n < 0) {
    error_ = Error::kReadFailed;
    systemError_ = static_cast<int>(n);
    return false;
  }
  fileOffset_ += static_cast<uint64_t>(n);
  end_ = static_cast<size_t>(n);
  return n > 0;
}

int ArchiveInput::Peek() {
  if (error_ != Error::kNone || (at_ == end_ && !Refill())) return -1;
  return static_cast<unsigned char>(buffer_[at_]);
}

void ArchiveInput::Advance() {
  if (at_ == end_) return;
  const char c = buffer_[at_++];
  // The header is read byte by byte: its line ends count as ReadLine's do,
  // CR LF as one.
  if (c == '\r' || (c == '\n' && !afterCr_)) linesRead_++;
  afterCr_ = c == '\r';
}

void ArchiveInput::PutBack(std::string line) {
  heldLine_ = std::move(line);
  lineHeld_ = true;
  linesRead_--;
}

bool ArchiveInput::ReadLine(std::string& line) {
  line.clear();
  if (error_ != Error::kNone) return false;
  if (lineHeld_) {
    line.swap(heldLine_);
    lineHeld_ = false;
    linesRead_++;
    return true;
  }
  if (afterCr_ && Peek() == '\n') Advance();
  afterCr_ = false;
  for (;;) {
    if (at_ == end_ && !Refill()) {
      if (error_ != Error::kNone || line.empty()) return false;
      linesRead_++;
      return true;
    }
    const char* begin = buffer_.data() + at_;
    const char* stop = buffer_.data() + end_;
    const char* lineEnd = std::find_if(begin, stop, [](char c) { return c == '\r' || c == '\n'; });
    if (line.size() + static_cast<size_t>(lineEnd - begin) > kMaxLineBytes) {
      error_ = Error::kLineTooLong;
      line.clear();
      return false;
    }
    line.append(begin, lineEnd);
    at_ = static_cast<size_t>(lineEnd - buffer_.data());
    if (lineEnd != stop) {
      afterCr_ = *lineEnd == '\r';
      at_++;
      linesRead_++;
      return true;
    }
  }
}

}  // namespace archive
