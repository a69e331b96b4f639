#include "engine/index/expr4scan.h"

#include "engine/index/expr4table.h"

bool expr4isDigit(char c) { return c >= '0' && c <= '9'; }

bool expr4isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool expr4isNameChar(char c) { return expr4isLetter(c) || expr4isDigit(c) || c == '_'; }

char Expr4Scan::peek(int32_t ahead) const {
  const int64_t at = int64_t{position_} + ahead;
  return at >= 0 && at < length_ ? text_[at] : '\0';
}

void Expr4Scan::advance(int32_t count) {
  position_ = count >= remaining() ? length_ : position_ + count;
}

void Expr4Scan::skipBlanks() {
  while (position_ < length_) {
    const auto c = static_cast<unsigned char>(text_[position_]);
    if (c < 1 || c > 32) break;
    position_++;
  }
}

int32_t Expr4Scan::nameLength() const {
  int32_t n = 0;
  while (expr4isNameChar(peek(n))) n++;
  return n;
}

bool Expr4Scan::dotWordAt(int32_t offset) const {
  const int32_t available = remaining() - offset;
  for (const int32_t row : {expr4rowAnd, expr4rowOr, expr4rowNot}) {
    if (expr4lookup(here() + offset, available, -1, row, row) == row) return true;
  }
  return false;
}

int32_t Expr4Scan::numberLength() const {
  int32_t n = 1;
  for (;;) {
    const char c = peek(n);
    if (expr4isDigit(c)) {
      n++;
    } else if (c == '.' && !dotWordAt(n) && !expr4isLetter(peek(n + 1))) {
      n++;
    } else {
      break;
    }
  }
  return expr4isLetter(peek(n)) ? 0 : n;
}

int32_t Expr4Scan::closingDistance(char close) const {
  for (int32_t n = 1; n < remaining(); n++) {
    if (text_[position_ + n] == close) return n;
  }
  return -1;
}
