// The rows the feature and form tests put in a catalogue, with exactly the
// values a test needs.
#pragma once

#include <cstdint>
#include <string>

#include "catalog/Udbwrapper.h"

namespace testing_support {

// A file row of a support (or, with `folder`, a directory row) stored with
// the directory `path` ("\sub\"); a file's extension is its name's from
// the last '.'.
inline TFileRecord FileRow(int32_t support, const std::string& path, const std::string& name,
                           int64_t size = 10, double date = 45000.5, bool folder = false) {
  TFileRecord row;
  row.name = name;
  row.path = path;
  const size_t dot = name.rfind('.');
  if (!folder && dot != std::string::npos) row.ext = name.substr(dot);
  row.supportId = support;
  row.category = -1;
  row.size = size;
  row.date = date;
  row.attributes = folder ? 0x10 : 0x20;
  return row;
}

}  // namespace testing_support
