// The message a later instance of the program sends to the first one over
// its local socket: the command line it was started with.
//
//   OFFSET  SIZE  FIELD
//   0       4     data word, little-endian (0 from this program)
//   4       4     length N of the data, little-endian
//   8       N     the data: the command line with its terminating zero
//
// The first instance answers with one byte, kAcknowledgement, once it has
// taken the text. What arrives on the socket is not trusted: a length
// above kMaxMessageData ends the conversation unanswered.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace single_instance {

constexpr size_t kHeaderSize = 8;
constexpr size_t kMaxMessageData = 4 * 1024 * 1024;
constexpr char kAcknowledgement = 1;

struct CopyData {
  uint32_t dataWord = 0;
  std::string data;  // exactly the N bytes sent
};

std::string EncodeCopyData(uint32_t dataWord, std::string_view data);

// Collects one message from the bytes of a connection as they arrive.
class CopyDataReader {
 public:
  enum class State { kIncomplete, kComplete, kRefused };

  // Takes the next bytes; the state after them. Bytes past the end of the
  // message are ignored.
  State Feed(std::string_view bytes);
  State Current() const { return state_; }
  // The message, once complete.
  const CopyData& Message() const { return message_; }

 private:
  std::string header_;
  uint32_t length_ = 0;
  CopyData message_;
  State state_ = State::kIncomplete;
};

}  // namespace single_instance
