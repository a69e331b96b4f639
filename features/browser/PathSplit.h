// Splitting texts at delimiter characters, as the support browser splits
// the stored directory paths ("\sub\deeper\") into their parts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Finds the first character of `text` that is one of `delimiters`: `left`
// is the text before it, `right` the text after it, and the result true.
// Without one, `left` is empty, `right` the whole text and the result false.
bool SplitAt(std::string_view text, std::string_view delimiters, std::string& left,
             std::string& right);

// Replaces `list` with the fields of `text` and returns their count. Without
// `keepEmpty`, every run of delimiters separates two fields and empty
// fields are dropped ("\sub\deeper\" gives sub and deeper); with it, each
// delimiter ends a field, empty fields inside the text are kept and an
// empty last field is dropped (an empty first field, sub and deeper).
int SplitToList(std::string_view text, std::string_view delimiters, std::vector<std::string>& list,
                bool keepEmpty);
