#include "features/browser/DirectoryListing.h"

#include <algorithm>
#include <cmath>

#include "catalog/Dbfieldvalues.h"
#include "catalog/Owntablehandle.h"
#include "catalog/Udbwrapper.h"
#include "engine/index/expr4.h"
#include "engine/storage/convert4.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/field4value.h"
#include "features/TextCase.h"

namespace {

// The parts of the path tag's key: STR(F_SUPPID,5,0)+UPPER(SUBSTR(F_PATH,1,50)).
constexpr int32_t kIdKeyWidth = 5;
constexpr size_t kPathKeyWidth = 50;

// The item of the current row.
DirectoryItem readItem(const TOwnTableHandle& files) {
  DirectoryItem item;
  item.fileId = field4long(files.field("F_ID"));
  item.name = catalog::fieldText(files.field("F_NAME"));
  item.path = catalog::fieldText(files.field("F_PATH"));
  item.ext = catalog::fieldText(files.field("F_EXT"));
  item.md5 = catalog::fieldText(files.field("F_MD5"));
  item.directory = (field4long(files.field("F_ATTR")) & kDirectoryAttribute) != 0;
  item.size = catalog::fieldInt64(files.field("F_SIZE"));
  item.date = field4double(files.field("F_DATE"));
  return item;
}

// CompareText: a-z as A-Z, then byte by byte.
int compareText(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; i++) {
    const auto x = static_cast<unsigned char>(UpperAscii(a[i]));
    const auto y = static_cast<unsigned char>(UpperAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

template <typename T>
int compareValues(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Dates to the whole second: nearer than that they compare equal.
int64_t seconds(double date) { return std::llround(date * 86400.0); }

// The order of two items under a sort code, as a negative, zero or
// positive number.
int compareItems(const DirectoryItem& a, const DirectoryItem& b, int32_t code) {
  switch (code < 0 ? -code : code) {
    case 2:
      return compareValues(a.directory ? 0 : a.size, b.directory ? 0 : b.size);
    case 3:
      return compareValues(seconds(a.date), seconds(b.date));
    case 4:
      return compareText(a.ext, b.ext);
    default:
      return compareText(a.name, b.name);
  }
}

// The id as STR(F_SUPPID,5,0) writes it, then the first 50 characters of
// the path, blank-padded and not yet upper-cased.
std::string keyParts(double supportId, std::string_view path) {
  std::string key(kIdKeyWidth, ' ');
  convert4doubleToText(supportId, key.data(), kIdKeyWidth, 0);
  key.append(path.substr(0, kPathKeyWidth));
  key.resize(kIdKeyWidth + kPathKeyWidth, ' ');
  return key;
}

// The path tag's key of the current row, from the row's own bytes.
std::string rowKey(DATA4* files, FIELD4* support, FIELD4* path) {
  std::string key =
      keyParts(field4double(support), std::string_view(field4ptr(path), field4len(path)));
  expr4upperAsTable(files, key.data() + kIdKeyWidth, kPathKeyWidth);
  return key;
}

}  // namespace

std::string SupportPathKey(int32_t supportId, std::string_view directory) {
  std::string key = keyParts(supportId, directory);
  for (size_t i = kIdKeyWidth; i < key.size(); i++) key[i] = UpperAscii(key[i]);
  return key;
}

DirectoryListing ListDirectory(TDBWrapper& db, int32_t supportId, std::string_view path) {
  DirectoryListing listing;
  listing.directory = path;
  if (listing.directory.empty() || listing.directory.back() != '\\') listing.directory += '\\';
  const TOwnTableHandle files(db.Files());
  // Without the path tag a seek would look in another tag: nothing listed.
  if (files.get() == nullptr || !files.selectTag("SUP_PAT")) {
    listing.unreadable = files.get() == nullptr;
    return listing;
  }
  if (const int top = data4top(files.get()); top != 0) {
    listing.unreadable = top < 0;
    return listing;
  }
  FIELD4* rowSupport = files.field("F_SUPPID");
  FIELD4* rowPath = files.field("F_PATH");
  if (rowSupport == nullptr || rowPath == nullptr) return listing;
  std::string key = SupportPathKey(supportId, listing.directory);
  // The tag's keys are upper-cased as its table's UPPER does them.
  expr4upperAsTable(files.get(), key.data() + kIdKeyWidth, kPathKeyWidth);
  // The rows of one key stand together in the tag: from the first, the
  // next entry is taken while its row still has the key. A seek of the
  // next occurrence would place the tag anew at every row, and paths that
  // share their first 50 characters may share a key over a whole medium.
  int rc = data4seek(files.get(), key.c_str());
  for (; rc == 0 && rowKey(files.get(), rowSupport, rowPath) == key;
       rc = data4skip(files.get(), 1)) {
    // Other supports of ids from 100,000 on share the key.
    if (field4long(rowSupport) != supportId) continue;
    if (catalog::fieldText(rowPath) != listing.directory) continue;
    if (data4deleted(files.get()) != 0) continue;
    DirectoryItem item = readItem(files);
    if (!item.directory) listing.totalSize += item.size;
    listing.items.push_back(std::move(item));
  }
  // Part of a directory is never shown for the whole of it.
  if (rc < 0) {
    listing.items.clear();
    listing.totalSize = 0;
    listing.unreadable = true;
  }
  return listing;
}

void ListSortState::ColumnClicked(int32_t column) {
  lastColumn = column + 1;
  code = (code < 0 ? -code : code) != lastColumn ? lastColumn : -code;
}

ListSortState& SharedListSort() {
  static ListSortState state;
  return state;
}

void SortDirectoryItems(std::vector<DirectoryItem>& items, int32_t code) {
  if (code < -4 || code > 4) code = 1;
  std::stable_sort(items.begin(), items.end(),
                   [code](const DirectoryItem& a, const DirectoryItem& b) {
                     const int order = compareItems(a, b, code);
                     return code < 0 ? order > 0 : order < 0;
                   });
}
