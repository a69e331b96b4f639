// The expression scanner: a cursor over the text and the shapes of its
// tokens. Reading at or past the end of the text gives 0, so a token can
// be looked at without checking the length first. Character classes are
// ASCII only, whatever the process locale.
#pragma once

#include <cstdint>

bool expr4isDigit(char c);
bool expr4isLetter(char c);
// Letters, digits and '_'.
bool expr4isNameChar(char c);

class Expr4Scan {
 public:
  Expr4Scan(const char* text, int32_t length) : text_(text), length_(length) {}

  // The character `ahead` places after the cursor, 0 beyond the end.
  char peek(int32_t ahead = 0) const;
  const char* here() const { return text_ + position_; }
  // Bytes readable from the cursor on.
  int32_t remaining() const { return length_ - position_; }
  int32_t position() const { return position_; }
  void advance(int32_t count);

  // Passes over the characters 1 to 32.
  void skipBlanks();

  // The length of the run of name characters at the cursor.
  int32_t nameLength() const;

  // The length of the number at the cursor: its first character (a digit,
  // a sign or '.'), then digits and dots, a dot ending it where ".AND.",
  // ".OR." or ".NOT." begins or a letter follows the dot. 0 when a letter
  // follows the number: the text is a name, not a number.
  int32_t numberLength() const;

  // The distance from the cursor to the next `close` after the opening
  // character, or -1 when the text ends first.
  int32_t closingDistance(char close) const;

 private:
  bool dotWordAt(int32_t offset) const;

  const char* text_;
  int32_t length_;
  int32_t position_ = 0;
};
