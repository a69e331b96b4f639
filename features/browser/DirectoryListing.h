// The contents of one directory of a support, read afresh from the
// catalogue through a handle of the listing's own on DBFILES, in the order
// of the tag T_SUP_PAT (for equal keys, the order the rows were stored),
// and the orders the list can be sorted in.
//
// The tag's key is STR(F_SUPPID,5,0)+UPPER(SUBSTR(F_PATH,1,50)): ids from
// 100,000 on all key as "*****", and paths that share their first 50
// characters share a key. The listing therefore takes only the rows of its
// support whose whole path is the directory. Deleted rows (their keys stay
// in the tag until the table is packed) are not listed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TDBWrapper;

// One row of a listing.
struct DirectoryItem {
  int32_t fileId = 0;      // F_ID
  std::string name;        // F_NAME
  std::string path;        // F_PATH, the directory listed
  std::string ext;         // F_EXT
  std::string md5;         // F_MD5
  bool directory = false;  // F_ATTR has 0x10: its size is not shown
  int64_t size = 0;        // F_SIZE
  double date = 0.0;       // F_DATE, days
};

struct DirectoryListing {
  std::string directory;  // as matched: '\' last
  std::vector<DirectoryItem> items;
  int64_t totalSize = 0;  // of the items that are not directories
  // Its rows could not all be read (the catalogue's error hook said why):
  // no item is listed.
  bool unreadable = false;
};

// The T_SUP_PAT key of the rows of a support stored with a directory: the
// id as the tag's STR(F_SUPPID,5,0) writes it, then the first 50 characters
// of the directory, a-z upper-cased (ListDirectory upper-cases the rest as
// the table's UPPER does), with blanks to 50 as the field has them. The rows of a directory of 50 characters or more share it with
// those of its subdirectories.
std::string SupportPathKey(int32_t supportId, std::string_view directory);

// The items of support `supportId` stored with the directory `path` (a '\'
// is added at its end when missing). Empty when DBFILES or its tag cannot be
// read (the engine has said why).
DirectoryListing ListDirectory(TDBWrapper& db, int32_t supportId, std::string_view path);

// The sort of the list: one state shared by every browser window.
// Clicking column c (from 0) sorts by it ascending, or, when it is the
// column sorted by, reverses the order.
struct ListSortState {
  int32_t lastColumn = 0;  // the last clicked column + 1
  int32_t code = 0;        // +k ascending or -k descending on column k - 1

  void ColumnClicked(int32_t column);
};

ListSortState& SharedListSort();

// Sorts the items (a stable sort) by a sort code: 1 names, 2 sizes (a
// directory counts 0), 3 dates (to the second), 4 extensions, a negative
// code the same reversed; names and extensions ignore a-z letter case. Any
// other code (0, 5 "md5" and -5) sorts by name ascending.
void SortDirectoryItems(std::vector<DirectoryItem>& items, int32_t code);
