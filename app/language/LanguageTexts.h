// The texts of the languages that the library built with the program
// holds: entry i is the text the program shows under text id i, UTF-8 in
// the source (the library hands them out in Windows-1252), null where the
// language has no text of its own and the program's built-in text stands.
//
// Texts that are printf formats keep the conversions of the program's
// built-in French text, in the same order: the program falls back on its
// own text for a translation whose conversions differ.
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>

namespace language_texts {

// Text ids 0 to 257.
constexpr int kTextCount = 258;

using Table = std::array<const char*, kTextCount>;

struct Entry {
  int id;
  const char* text;
};

constexpr Table MakeTable(std::initializer_list<Entry> entries) {
  Table table{};
  for (const Entry& entry : entries) table[static_cast<std::size_t>(entry.id)] = entry.text;
  return table;
}

extern const Table kEnglish;
extern const Table kFrench;

}  // namespace language_texts
