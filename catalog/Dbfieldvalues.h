// Catalogue values in the fields of a table's current record: texts as
// Windows-1252 byte strings, 32- and 64-bit integers, memo texts.
//
// Texts read back are trimmed of blanks and control characters (every byte
// up to 0x20) at both ends, as the catalogue shows and compares them.
// Numbers go through locale-free conversions only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct FIELD4;

namespace catalog {

// `bytes` without the bytes up to 0x20 at either end.
std::string trimmed(std::string_view bytes);

// The field's bytes, trimmed. Empty for a null field.
std::string fieldText(FIELD4* field);
// The memo's text up to its first NUL, trimmed, in `text`: false, with
// `text` empty, when the memo file could not be read (the engine said why).
bool memoText(FIELD4* field, std::string& text);
// An N field's integer read without passing through 32 bits (saturating at
// the 64-bit bounds).
int64_t fieldInt64(FIELD4* field);

// A support's name as the list of supports shows it to the user: its
// volume's label, or the user's own name for it (the short comment) when
// the volume has none.
inline std::string ListedName(const std::string& volume, const std::string& userId) {
  return volume.empty() ? userId : volume;
}

// a + b, held at the type's bounds: a damaged table may store any digits.
int64_t saturatingAdd(int64_t a, int64_t b);

// Assigns the bytes left-aligned, cut to the field's width: 0, -1 when cut.
int32_t assignText(FIELD4* field, const std::string& text);
int32_t assignMemo(FIELD4* field, const std::string& text);
// Assigns an integer to an N field without decimals as right-justified
// digits: 0, or -440 with the field filled with '*' when the digits do not
// fit (as the engine writes every number too wide for its field).
int32_t assignInt64(FIELD4* field, int64_t value);

// The first failure among the assignments of one record: a number too wide
// for its field (-440, the field then holds '*') or a value the engine
// refused. A text cut to its field's width is no failure.
class AssignResults {
 public:
  void Keep(int32_t rc) {
    if (rc < 0 && first_ == 0) first_ = rc;
  }
  bool AllFit() const { return first_ == 0; }

 private:
  int32_t first_ = 0;
};

}  // namespace catalog
