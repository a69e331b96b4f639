// The bytes of an archive being read: a file, or bytes in memory, taken
// through one buffer and cut into lines.
//
// A line ends at CR LF, at LF or at a lone CR; the end is not part of the
// line. A last line without an end is still a line. NUL is an ordinary byte.
// A line longer than kMaxLineBytes, or a failing read, ends the input with
// an error; what was read before stays valid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace archive {

class ArchiveInput {
 public:
  enum class Error { kNone, kReadFailed, kLineTooLong };

  // The archive at `path`; null with `systemError` (a negative errno) when
  // it cannot be opened.
  static std::unique_ptr<ArchiveInput> OpenFile(const std::string& path, int& systemError);
  // The archive held in `bytes`, fed to the buffer at most `chunk` bytes at
  // a time: small chunks put line ends across every buffer edge.
  explicit ArchiveInput(std::string bytes, size_t chunk = kBufferBytes);
  ~ArchiveInput();
  ArchiveInput(const ArchiveInput&) = delete;
  ArchiveInput& operator=(const ArchiveInput&) = delete;

  // The next line into `line`; false at the end of the input or at an error.
  bool ReadLine(std::string& line);
  // Gives back the line ReadLine just delivered: the next ReadLine delivers
  // it again. One line at most is held back.
  void PutBack(std::string line);
  // The next byte without taking it, or -1 at the end or at an error. Only
  // for reading before the first line: a line put back is not seen here.
  int Peek();
  // Takes the byte Peek showed; a line end taken so counts as a line read.
  void Advance();

  Error error() const { return error_; }
  // The errno of kReadFailed, negative.
  int systemError() const { return systemError_; }
  // Lines delivered so far, with the line ends Advance went over: the
  // number of the line an error stopped in, less one, as a text editor
  // numbers lines.
  int64_t linesRead() const { return linesRead_; }

 private:
  static constexpr size_t kBufferBytes = 64 * 1024;

  explicit ArchiveInput(int fd);
  // Refills an exhausted buffer; false at the end or at an error.
  bool Refill();

  int fd_ = -1;
  uint64_t fileOffset_ = 0;
  std::string bytes_;
  size_t bytesTaken_ = 0;
  size_t chunk_ = kBufferBytes;

  std::vector<char> buffer_;
  size_t at_ = 0;
  size_t end_ = 0;
  // The last line ended at a CR: an LF right after it belongs to that end.
  bool afterCr_ = false;
  // A line put back, delivered before the bytes that follow it.
  std::string heldLine_;
  bool lineHeld_ = false;
  Error error_ = Error::kNone;
  int systemError_ = 0;
  int64_t linesRead_ = 0;
};

}  // namespace archive
