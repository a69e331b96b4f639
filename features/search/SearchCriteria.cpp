#include "features/search/SearchCriteria.h"

#include "catalog/Dbfieldvalues.h"
#include "engine/storage/convert4.h"

std::optional<int64_t> ParseSizeText(std::string_view text) {
  if (catalog::trimmed(text).empty()) return std::nullopt;
  return convert4textToInt64(text.data(), static_cast<int32_t>(text.size()));
}

int32_t WholeDay(double date) { return convert4truncate<int32_t>(date); }

SearchBounds::SearchBounds(const SearchCriteria& criteria)
    : minSize_(criteria.minSize), maxSize_(criteria.maxSize) {
  if (criteria.minDate) minDay_ = WholeDay(*criteria.minDate);
  if (criteria.maxDate) maxDay_ = WholeDay(*criteria.maxDate);
}

bool SearchBounds::AcceptsDay(int64_t day) const {
  return (!minDay_ || day >= *minDay_) && (!maxDay_ || day <= *maxDay_);
}

bool SearchBounds::AcceptsSize(int64_t size) const {
  return (!minSize_ || size >= *minSize_) && (!maxSize_ || size <= *maxSize_);
}
