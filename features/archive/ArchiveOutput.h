// A new archive file that replaces its target only once it is whole.
//
// The lines go to a temporary file beside the target (same folder, so the
// final rename cannot cross file systems); Commit writes the rest, syncs,
// closes and renames it over the target. Until then, and whenever any step
// fails, the target keeps what it held before (or stays absent) and the
// temporary file is removed.
//
// Until Commit, a temporary file begins with a mark no archive begins with
// (the archive's first bytes wait in memory in its place). A temporary file
// left beside the same target by an export that was killed carries that
// mark, and the next Open removes it; a file under such a name that does
// not begin with the mark is someone else's and is never touched.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace archive {

class ArchiveOutput {
 public:
  ArchiveOutput() = default;
  // Removes the temporary file of an archive that was not committed.
  ~ArchiveOutput();
  ArchiveOutput(const ArchiveOutput&) = delete;
  ArchiveOutput& operator=(const ArchiveOutput&) = delete;

  // Starts the archive that is to become `target`: 0, or a negative errno
  // when no temporary file can be made beside it.
  int Open(const std::string& target);
  // Appends to the line being built (lines are built in place, without
  // temporaries) and ends it with CR LF.
  std::string& LineBuffer() { return buffer_; }
  void EndLine();
  // A whole line.
  void WriteLine(std::string_view text);
  // 0 when every byte reached the disk under the target's name; else the
  // first error met (a negative errno) and the target untouched.
  int Commit();

 private:
  // Writes the buffer out once it holds this much.
  static constexpr size_t kFlushBytes = 256 * 1024;

  void WriteBuffer();
  void WriteAt(const char* data, size_t size, uint64_t offset);
  void Discard();

  std::string target_;
  std::string temporary_;
  int fd_ = -1;
  // The bytes written so far; those below the mark's end are held in head_.
  uint64_t offset_ = 0;
  std::string head_;
  std::string buffer_;
  int error_ = 0;
};

}  // namespace archive
