// Whole transfers over single calls that may each move only part of the
// bytes: a transfer goes on where the last call stopped, ends early only
// where the file ends, and an error that stops it is reported as the error,
// whatever moved before it, so that a caller never takes a failed disk for
// a short file or a full one for a write that was done.
#include "platform/os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

// A disk that answers each call from a script: a positive number moves at
// most that many bytes of the file image `disk`, 0 moves none, a negative
// number is the call's -errno.
class ScriptedOs : public platform::Os {
 public:
  ScriptedOs(std::vector<int64_t> answers, std::string image)
      : disk(std::move(image)), answers_(std::move(answers)) {}

  int64_t readAt(int, void* buffer, size_t n, uint64_t offset) override {
    const int64_t moved = next(n);
    if (moved > 0) std::memcpy(buffer, disk.data() + offset, static_cast<size_t>(moved));
    return moved;
  }
  int64_t writeAt(int, const void* data, size_t n, uint64_t offset) override {
    const int64_t moved = next(n);
    if (moved > 0)
      disk.replace(offset, static_cast<size_t>(moved), static_cast<const char*>(data),
                   static_cast<size_t>(moved));
    return moved;
  }

  std::string disk;

 private:
  int64_t next(size_t n) {
    if (answers_.empty()) {
      ADD_FAILURE() << "a call past the end of the script";
      return -EINVAL;
    }
    const int64_t answer = answers_.front();
    answers_.erase(answers_.begin());
    return std::min(answer, static_cast<int64_t>(n));
  }

  std::vector<int64_t> answers_;
};

TEST(OsTransfers, AnErrorAfterPartOfATransferIsTheAnswerAndAShortOneOnlyTheFilesEnd) {
  enum class Kind { read, write };
  const struct {
    const char* what;
    Kind kind;
    std::vector<int64_t> answers;
    int64_t result;
    const char* after;  // the bytes read, or the disk once written
  } cases[] = {
      {"a read failing after two parts", Kind::read, {3, 2, -EIO}, -EIO, nullptr},
      {"a read that meets the file's end", Kind::read, {3, 2, 0}, 5, "abcde"},
      {"a write that fills the disk after a part", Kind::write, {5, -ENOSPC}, -ENOSPC, nullptr},
      {"a write failing after a part", Kind::write, {5, -EIO}, -EIO, nullptr},
      {"a write in parts", Kind::write, {3, 1, 4}, 8, "..NEWBYTES.."},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    ScriptedOs os(test.answers, test.kind == Kind::read ? "..abcdefgh.." : "............");
    platform::ScopedOs scoped(os);
    char buffer[8] = {};
    const int64_t result = test.kind == Kind::read ? platform::readFully(3, buffer, 8, 2)
                                                   : platform::writeFully(3, "NEWBYTES", 8, 2);
    EXPECT_EQ(result, test.result);
    if (test.after == nullptr) continue;
    if (test.kind == Kind::read) {
      EXPECT_EQ(std::string(buffer, static_cast<size_t>(result)), test.after);
    } else {
      EXPECT_EQ(os.disk, test.after);
    }
  }
}

}  // namespace
