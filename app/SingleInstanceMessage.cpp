#include "app/SingleInstanceMessage.h"

#include <algorithm>

namespace single_instance {
namespace {

void putLittleEndian32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; i++) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint32_t getLittleEndian32(std::string_view in) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; i--) value = (value << 8) | static_cast<unsigned char>(in[i]);
  return value;
}

}  // namespace

std::string EncodeCopyData(uint32_t dataWord, std::string_view data) {
  std::string out;
  out.reserve(kHeaderSize + data.size());
  putLittleEndian32(out, dataWord);
  putLittleEndian32(out, static_cast<uint32_t>(data.size()));
  out.append(data);
  return out;
}

CopyDataReader::State CopyDataReader::Feed(std::string_view bytes) {
  if (state_ != State::kIncomplete) return state_;
  if (header_.size() < kHeaderSize) {
    const size_t taken = std::min(kHeaderSize - header_.size(), bytes.size());
    header_.append(bytes.substr(0, taken));
    bytes.remove_prefix(taken);
    if (header_.size() < kHeaderSize) return state_;
    message_.dataWord = getLittleEndian32(header_);
    length_ = getLittleEndian32(std::string_view(header_).substr(4));
    if (length_ > kMaxMessageData) return state_ = State::kRefused;
    message_.data.reserve(length_);
  }
  const size_t taken = std::min(length_ - message_.data.size(), bytes.size());
  message_.data.append(bytes.substr(0, taken));
  if (message_.data.size() == length_) state_ = State::kComplete;
  return state_;
}

}  // namespace single_instance
