// File-name masks as the search takes them: the whole name against the
// whole mask.
//
//   *        any run of characters, the empty one too
//   ?        exactly one character
//   [set]    one character of the set: single characters and ranges "a-f";
//            a leading '!' negates the set; a '-' first or last is itself
//   other    the character itself
//
// Letters a to z match either case, in sets and ranges too; other bytes
// (Windows-1252 accented letters among them) match only themselves. A '['
// without its ']' is an ordinary character, so every mask is valid.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class MaskMatcher {
 public:
  // Compiles the mask once; matching then allocates nothing.
  explicit MaskMatcher(std::string_view mask);

  bool Matches(std::string_view name) const;

 private:
  // 256 bits, one per byte value.
  using ByteSet = std::array<uint64_t, 4>;

  enum class Kind : uint8_t { kLiteral, kAnyOne, kAnyRun, kSet };
  struct Token {
    Kind kind;
    uint8_t literal;  // kLiteral: the byte, a-z folded to upper case
    uint16_t set;     // kSet: index into sets_
  };

  // Parses a set whose '[' is at mask[at]; returns the position after its
  // ']', or 0 when the set is not closed.
  size_t parseSet(std::string_view mask, size_t at);
  bool tokenMatches(const Token& token, uint8_t byte) const;

  std::vector<Token> tokens_;
  std::vector<ByteSet> sets_;
};

// The text a mask's matches all begin with, as the file-name tag keys it:
// the mask up to its first '*', '?' or '[', at most 60 characters (the
// key's width), a-z upper-cased. Empty when the mask starts with a
// wildcard: the whole table must then be read.
std::string SeekPrefix(std::string_view mask);
