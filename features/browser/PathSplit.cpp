#include "features/browser/PathSplit.h"

bool SplitAt(std::string_view text, std::string_view delimiters, std::string& left,
             std::string& right) {
  const size_t at = text.find_first_of(delimiters);
  if (at == std::string_view::npos) {
    left.clear();
    right = text;
    return false;
  }
  left = text.substr(0, at);
  right = text.substr(at + 1);
  return true;
}

int SplitToList(std::string_view text, std::string_view delimiters, std::vector<std::string>& list,
                bool keepEmpty) {
  list.clear();
  if (keepEmpty) {
    std::string left;
    std::string rest(text);
    while (SplitAt(std::string(rest), delimiters, left, rest)) list.push_back(left);
    if (!rest.empty()) list.push_back(rest);
  } else {
    for (size_t at = text.find_first_not_of(delimiters); at != std::string_view::npos;) {
      const size_t end = text.find_first_of(delimiters, at);
      list.emplace_back(text.substr(at, end == std::string_view::npos ? end : end - at));
      at = end == std::string_view::npos ? end : text.find_first_not_of(delimiters, end);
    }
  }
  return static_cast<int>(list.size());
}
