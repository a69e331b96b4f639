// What a support browser window shows of one support, without the window:
// the support's facts, its directory tree built once from its rows, the
// numbers of the status bar, and the directory listings, read afresh each
// time.
//
// The tree is read through the catalogue's current file (it moves); the
// listings through a handle of their own (DirectoryListing.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "catalog/Udbwrapper.h"
#include "features/browser/DirectoryListing.h"
#include "features/browser/SupportTree.h"

// A file found by SupportBrowser::LocateFile.
struct LocatedFile {
  SupportTreeNode* node = nullptr;  // its directory, to select
  DirectoryListing listing;         // that directory's listing
  int item = -1;                    // the file among the items; -1 not listed
};

class SupportBrowser {
 public:
  explicit SupportBrowser(TDBWrapper& db) : db_(db) {}
  SupportBrowser(const SupportBrowser&) = delete;
  SupportBrowser& operator=(const SupportBrowser&) = delete;

  // Reads the support and builds the tree from every row of the support in
  // the order they were stored, deleted rows left out. Once per browser.
  void LoadSupport(int32_t supportId);

  int32_t SupportId() const { return supportId_; }
  // The support's record, when DBSUPPORT holds it.
  const std::optional<TSupportRecord>& Support() const { return support_; }
  // The serial as the labels show it ("XXXX-XXXX"); empty without support.
  const std::string& SerialText() const { return serialText_; }
  // False when the support has no rows at all (the window says so).
  bool HasRows() const { return hasRows_; }
  // The support's rows could not all be read (the catalogue's error hook
  // said why): the tree stays empty.
  bool Unreadable() const { return unreadable_; }
  const SupportTree& Tree() const { return tree_; }
  SupportTree& Tree() { return tree_; }

  // Status bar: rows that are neither directories nor ".zip" files, and
  // rows that became tree nodes.
  int32_t FileCount() const { return fileCount_; }
  int32_t FolderCount() const { return folderCount_; }
  // The oldest and newest F_DATE of the rows (directories too); shown only
  // when the newest is above 0.
  double OldestDate() const { return oldestDate_; }
  double NewestDate() const { return newestDate_; }
  bool HasDates() const { return newestDate_ > 0; }

  // The directory a tree node stands for.
  DirectoryListing ListNode(const SupportTreeNode& node) const;
  // The child of `node` that a double-clicked listing item opens: the first
  // of the item's name when the item is a directory or its name ends in
  // ".zip"; null otherwise.
  SupportTreeNode* FolderOf(const SupportTreeNode& node, const DirectoryItem& item) const;
  // The directory `path` ('\'-separated) below the root and the file
  // `name` in its listing (exact names). Nothing when the directory is not
  // in the tree; item -1 when the file is not in its listing.
  std::optional<LocatedFile> LocateFile(std::string_view path, std::string_view name);

 private:
  void addRow(const TFileRecord& row);

  TDBWrapper& db_;
  int32_t supportId_ = 0;
  std::optional<TSupportRecord> support_;
  std::string serialText_;
  bool hasRows_ = false;
  bool unreadable_ = false;
  SupportTree tree_;
  int32_t fileCount_ = 0;
  int32_t folderCount_ = 0;
  double newestDate_ = -1e50;
  double oldestDate_ = 1e50;
};
