// What one file search looks for, and the test of a record's date and size
// against it. The window reads its controls once, before the search runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct SearchCriteria {
  // The file-name mask, trimmed of blanks; an empty mask starts no search.
  std::string mask;
  // Date bounds (days since 30 December 1899, as F_DATE stores them) of the
  // ticked pickers, with the date filter on; absent otherwise. Only the
  // whole day counts: the range runs from the first moment of the minimum's
  // day to the last moment of the maximum's, so a range of one day takes
  // every file of that day and none of the next midnight.
  std::optional<double> minDate;
  std::optional<double> maxDate;
  // Size bounds in bytes, inclusive, of the size texts given (not blank),
  // with the size filter on; absent otherwise.
  std::optional<int64_t> minSize;
  std::optional<int64_t> maxSize;
};

// A size typed by the user: absent when the text is blank; otherwise the
// decimal number at its start (leading blanks and a sign allowed, reading
// stops at the first other character, 0 without digits), held at the
// 64-bit bounds.
std::optional<int64_t> ParseSizeText(std::string_view text);

// The date and size bounds of a search, with the whole days worked out
// once.
class SearchBounds {
 public:
  explicit SearchBounds(const SearchCriteria& criteria);

  bool HasDateBound() const { return minDay_ || maxDay_; }
  bool HasSizeBound() const { return minSize_ || maxSize_; }
  // Whether a file of that whole day (WholeDay of its date) or that size
  // lies within the bounds given.
  bool AcceptsDay(int64_t day) const;
  bool AcceptsSize(int64_t size) const;

 private:
  std::optional<int32_t> minDay_;
  std::optional<int32_t> maxDay_;
  std::optional<int64_t> minSize_;
  std::optional<int64_t> maxSize_;
};

// The whole-day part of a day count: truncated toward zero, held within 32
// bits (the day count's fraction is the time of day on both sides of day 0).
int32_t WholeDay(double date);
