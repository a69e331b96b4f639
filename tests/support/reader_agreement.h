// Whether the independent readers agree with what the engine stored:
// python3-dbfread reads the records, index_dump (libdbd-xbase-perl) lists
// every tag of the index, and each listed key must belong to a stored
// record whose values make that key, once per record.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct TagAgreement {
  std::string tag;   // the tag's name in the index file
  std::string type;  // index_dump's key type: "char" or "num"
  // A Python expression over the record `r` (a dict of dbfread values)
  // giving the key as index_dump prints it, e.g. "r['NAME'].upper()".
  std::string key;
};

// The disagreements, one a line; empty when the readers agree that every
// key of every tag belongs to a stored record with that value and that
// every record has exactly one key in every tag, and the data file ends
// right after its counted records with its end-of-file mark, so that
// dbfread, which reads to the end of the file, reads exactly those. `table` names the data
// file and its index without extension.
std::string readersDisagree(const std::string& table, const std::vector<TagAgreement>& tags);

// The same for the three tables of the catalogue in `folder`, and, as
// dbfread reads them, no live file row under a support that is missing or
// deleted, and every live support's file count and size those of its live
// file rows.
std::string catalogueDisagrees(const std::string& folder);

}  // namespace testing_support
