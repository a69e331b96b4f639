#include "features/search/MaskMatcher.h"

#include "features/TextCase.h"

namespace {

// The width of the file-name tag's key: UPPER(SUBSTR(F_NAME,1,60)).
constexpr size_t kNameKeyWidth = 60;

// A byte with a-z folded to A-Z.
uint8_t folded(uint8_t byte) { return static_cast<uint8_t>(UpperAscii(static_cast<char>(byte))); }

}  // namespace

MaskMatcher::MaskMatcher(std::string_view mask) {
  for (size_t at = 0; at < mask.size();) {
    const auto byte = static_cast<uint8_t>(mask[at]);
    if (byte == '*') {
      // A run of stars is one star.
      if (tokens_.empty() || tokens_.back().kind != Kind::kAnyRun)
        tokens_.push_back({Kind::kAnyRun, 0, 0});
      at++;
    } else if (byte == '?') {
      tokens_.push_back({Kind::kAnyOne, 0, 0});
      at++;
    } else if (const size_t after = byte == '[' ? parseSet(mask, at) : 0; after != 0) {
      tokens_.push_back({Kind::kSet, 0, static_cast<uint16_t>(sets_.size() - 1)});
      at = after;
    } else {
      tokens_.push_back({Kind::kLiteral, folded(byte), 0});
      at++;
    }
  }
}

size_t MaskMatcher::parseSet(std::string_view mask, size_t at) {
  ByteSet set{};
  auto add = [&set](uint8_t byte) {
    set[byte >> 6] |= uint64_t{1} << (byte & 63);
    const uint8_t upper = folded(byte);
    if (upper >= 'A' && upper <= 'Z') {
      const auto lower = static_cast<uint8_t>(upper - 'A' + 'a');
      set[lower >> 6] |= uint64_t{1} << (lower & 63);
      set[upper >> 6] |= uint64_t{1} << (upper & 63);
    }
  };
  size_t i = at + 1;
  const bool negated = i < mask.size() && mask[i] == '!';
  if (negated) i++;
  while (i < mask.size() && mask[i] != ']') {
    const auto first = static_cast<uint8_t>(mask[i]);
    if (i + 2 < mask.size() && mask[i + 1] == '-' && mask[i + 2] != ']') {
      const auto last = static_cast<uint8_t>(mask[i + 2]);
      for (unsigned byte = first; byte <= last; byte++) add(static_cast<uint8_t>(byte));
      i += 3;
    } else {
      add(first);
      i++;
    }
  }
  if (i >= mask.size()) return 0;
  if (negated) {
    for (uint64_t& word : set) word = ~word;
  }
  sets_.push_back(set);
  return i + 1;
}

bool MaskMatcher::tokenMatches(const Token& token, uint8_t byte) const {
  switch (token.kind) {
    case Kind::kLiteral:
      return folded(byte) == token.literal;
    case Kind::kAnyOne:
      return true;
    case Kind::kSet:
      return (sets_[token.set][byte >> 6] >> (byte & 63)) & 1;
    case Kind::kAnyRun:
      break;
  }
  return false;
}

bool MaskMatcher::Matches(std::string_view name) const {
  // Every token but the star takes exactly one character, so going back to
  // the latest star and letting it take one more character is enough: an
  // earlier star could only take what the latest one takes instead.
  constexpr size_t kNone = static_cast<size_t>(-1);
  size_t t = 0;
  size_t n = 0;
  size_t afterStar = kNone;
  size_t starTook = 0;
  while (n < name.size()) {
    if (t < tokens_.size() && tokens_[t].kind == Kind::kAnyRun) {
      if (++t == tokens_.size()) return true;  // a last star takes the rest
      afterStar = t;
      starTook = n;
    } else if (t < tokens_.size() && tokenMatches(tokens_[t], static_cast<uint8_t>(name[n]))) {
      t++;
      n++;
    } else if (afterStar != kNone) {
      t = afterStar;
      n = ++starTook;
    } else {
      return false;
    }
  }
  while (t < tokens_.size() && tokens_[t].kind == Kind::kAnyRun) t++;
  return t == tokens_.size();
}

std::string SeekPrefix(std::string_view mask) {
  std::string prefix(mask.substr(0, mask.find_first_of("*?[")));
  if (prefix.size() > kNameKeyWidth) prefix.resize(kNameKeyWidth);
  for (char& ch : prefix) ch = UpperAscii(ch);
  return prefix;
}
