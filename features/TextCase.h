// Letter case of stored text as the catalogue's keys and comparisons have
// it: the ASCII letters a-z only, whatever the locale; Windows-1252 bytes
// above 127 keep their case.
#pragma once

inline char UpperAscii(char ch) {
  return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
}
