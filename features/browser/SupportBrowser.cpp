#include "features/browser/SupportBrowser.h"

#include <vector>

#include "engine/storage/data4record.h"
#include "features/browser/PathSplit.h"
#include "features/indexing/DirEnumerator.h"

void SupportBrowser::LoadSupport(int32_t supportId) {
  supportId_ = supportId;
  TSupportRecord support;
  if (db_.ReadSupportById(supportId, support)) {
    serialText_ = TDBWrapper::FormatVolumeSerial(static_cast<uint32_t>(support.volumeSerial));
    support_ = std::move(support);
  }
  TFileRecord row;
  TFound found = db_.FindFirstFileOfSupport(supportId);
  hasRows_ = found == TFound::kRecord;
  for (; found == TFound::kRecord; found = db_.NextFile()) {
    if (!db_.ReadCurrentFile(row)) {
      found = TFound::kFailed;
      break;
    }
    if (row.supportId != supportId) break;
    // A deleted row keeps its key in the tag until the table is packed.
    if (data4deleted(db_.Files().Handle()) == 0) addRow(row);
  }
  // Part of a tree is never shown for the whole of it.
  if (found == TFound::kFailed) {
    unreadable_ = true;
    tree_.Clear();
    fileCount_ = folderCount_ = 0;
  }
}

void SupportBrowser::addRow(const TFileRecord& row) {
  if (row.date < oldestDate_) oldestDate_ = row.date;
  if (row.date > newestDate_) newestDate_ = row.date;
  if ((row.attributes & kDirectoryAttribute) == 0 && !IsZipExtension(row.ext)) {
    fileCount_++;
    return;
  }
  tree_.AddRow(row.path, row.name);
  folderCount_++;
}

DirectoryListing SupportBrowser::ListNode(const SupportTreeNode& node) const {
  return ListDirectory(db_, supportId_, SupportTree::NodePath(node));
}

SupportTreeNode* SupportBrowser::FolderOf(const SupportTreeNode& node,
                                          const DirectoryItem& item) const {
  if (!item.directory && !EndsWithZip(item.name)) return nullptr;
  return node.Child(item.name);
}

std::optional<LocatedFile> SupportBrowser::LocateFile(std::string_view path,
                                                      std::string_view name) {
  std::vector<std::string> parts;
  SplitToList(path, "\\", parts, false);
  SupportTreeNode* node = tree_.FindNode(parts);
  if (node == nullptr) return std::nullopt;
  LocatedFile located{node, ListNode(*node), -1};
  for (size_t i = 0; i < located.listing.items.size(); i++) {
    if (located.listing.items[i].name == name) {
      located.item = static_cast<int>(i);
      break;
    }
  }
  return located;
}
