// A support as its browser shows it, on a real catalogue: the tree and its
// counts, directory listings through the path tag, sorting, entering a
// folder and locating a file.
#include "features/browser/SupportBrowser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "catalog/Owntablehandle.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "features/indexing/DirEnumerator.h"
#include "features/indexing/MediumIndexing.h"
#include "tests/features/catalogue_fixture.h"

using testing_support::FeatureCatalogueTest;

namespace {

using Names = std::vector<std::string>;

Names names(const std::vector<DirectoryItem>& items) {
  Names result;
  for (const DirectoryItem& item : items) result.push_back(item.name);
  return result;
}

class SupportBrowserTest : public FeatureCatalogueTest {
 protected:
  // The medium of a.txt and b.zip at the top and sub holding c.txt, as a
  // scan stores it (breadth first).
  int32_t addSmallMedium(int32_t id = -1) {
    const int32_t s = addSupport("SMALL", 0xDEADBEEF, id);
    addRow(s, "\\", "a.txt", 100, 45000.5);
    addRow(s, "\\", "b.zip", 2000, 45001.25);
    addRow(s, "\\", "sub", 0, 44999.0, true);
    addRow(s, "\\sub\\", "c.txt", 30, 45002.0);
    return s;
  }
};

TEST_F(SupportBrowserTest, ASmallMediumShowsItsTreeCountsAndListings) {
  const int32_t s = addSmallMedium();
  SupportBrowser browser(*db);
  browser.LoadSupport(s);
  ASSERT_TRUE(browser.Support().has_value());
  EXPECT_EQ(browser.Support()->volume, "SMALL");
  EXPECT_EQ(browser.SerialText(), "DEAD-BEEF");
  const SupportTreeNode& root = browser.Tree().Root();
  ASSERT_EQ(root.Children().size(), 2u);
  EXPECT_EQ(root.Children()[0]->Name(), "b.zip");
  EXPECT_EQ(root.Children()[1]->Name(), "sub");
  EXPECT_EQ(browser.FileCount(), 2);
  EXPECT_EQ(browser.FolderCount(), 2);
  EXPECT_EQ(browser.OldestDate(), 44999.0);
  EXPECT_EQ(browser.NewestDate(), 45002.0);

  const DirectoryListing top = browser.ListNode(root);
  EXPECT_EQ(top.directory, "\\");
  EXPECT_EQ(names(top.items), (Names{"a.txt", "b.zip", "sub"}));
  EXPECT_TRUE(top.items[2].directory);
  EXPECT_EQ(top.totalSize, 2100);
  EXPECT_EQ(names(browser.ListNode(*root.Children()[1]).items), (Names{"c.txt"}));

  // Double-clicking b.zip opens its node, which lists nothing.
  SupportTreeNode* zip = browser.FolderOf(root, top.items[1]);
  ASSERT_NE(zip, nullptr);
  EXPECT_EQ(zip->Name(), "b.zip");
  EXPECT_TRUE(browser.ListNode(*zip).items.empty());
  EXPECT_EQ(browser.FolderOf(root, top.items[0]), nullptr);
}

TEST_F(SupportBrowserTest, ASupportWithoutRowsOrDatesOrRecord) {
  SupportBrowser none(*db);
  none.LoadSupport(addSupport("EMPTY"));
  EXPECT_FALSE(none.HasRows());
  addRow(42, "\\", "undated.txt", 1, 0.0);  // support 42 has rows but no record
  SupportBrowser orphan(*db);
  orphan.LoadSupport(42);
  EXPECT_FALSE(orphan.Support().has_value());
  EXPECT_FALSE(orphan.HasDates());
  EXPECT_EQ(names(orphan.ListNode(orphan.Tree().Root()).items), (Names{"undated.txt"}));
}

TEST_F(SupportBrowserTest, DirectoriesSharingTheirFirst50CharactersAreListedApart) {
  const int32_t s = addSupport("LONG");
  const std::string common = "\\" + std::string(55, 'd');
  addRow(s, "\\", common.substr(1), 0, 45000, true);
  addRow(s, common + "\\", "one", 0, 45000, true);
  addRow(s, common + "\\", "two", 0, 45000, true);
  addRow(s, common + "\\one\\", "in-one.txt");
  addRow(s, common + "\\two\\", "in-two.txt");
  addRow(s, common + "\\", "beside.txt");
  SupportBrowser browser(*db);
  browser.LoadSupport(s);
  EXPECT_EQ(names(ListDirectory(*db, s, common + "\\one").items), (Names{"in-one.txt"}));
  EXPECT_EQ(names(ListDirectory(*db, s, common + "\\two\\").items), (Names{"in-two.txt"}));
  EXPECT_EQ(names(ListDirectory(*db, s, common).items), (Names{"one", "two", "beside.txt"}));
}

TEST_F(SupportBrowserTest, AnAccentedDirectoryOfATableOfWindowsTextIsListed) {
  recreateWithCodePage(3);
  const int32_t s = addSupport("VOL");
  addRow(s, "\\", "\xE9t\xE9", 0, 45000.5, true);
  addRow(s, "\\\xE9t\xE9\\", "in.txt");
  addRow(s, "\\\xE9t\xE9\\", "also.txt");
  EXPECT_EQ(names(ListDirectory(*db, s, "\\\xE9t\xE9\\").items), (Names{"in.txt", "also.txt"}));
}

TEST_F(SupportBrowserTest, SupportsOfIdsFrom100000OnListTheirOwnFilesOnly) {
  EXPECT_EQ(SupportPathKey(7, "\\Sub\\").substr(0, 11), "    7\\SUB\\ ");
  EXPECT_EQ(SupportPathKey(100000, "\\").substr(0, 6), "*****\\");
  const int32_t big = addSmallMedium(100001);
  const int32_t bigger = addSupport("OTHER", 1, 123456);
  addRow(bigger, "\\", "other.txt");
  addRow(big, "\\", "last.txt");
  EXPECT_EQ(names(ListDirectory(*db, big, "\\").items),
            (Names{"a.txt", "b.zip", "sub", "last.txt"}));
  EXPECT_EQ(names(ListDirectory(*db, bigger, "\\").items), (Names{"other.txt"}));
}

// Another dBase tool deletes by marking rows; the program deletes a support
// the same way while a browser of it may still be open. Either way a deleted
// row is gone from the tree, the counts and every listing.
TEST_F(SupportBrowserTest, DeletedRowsAreNeitherInTheTreeNorListed) {
  const int32_t s = addSmallMedium();
  {
    const TOwnTableHandle files(db->Files());
    for (const int32_t record : {1, 3}) {  // a.txt and sub
      ASSERT_EQ(data4go(files.get(), record), 0);
      ASSERT_EQ(data4delete(files.get()), 0);
    }
  }
  SupportBrowser browser(*db);
  browser.LoadSupport(s);
  const SupportTreeNode& root = browser.Tree().Root();
  ASSERT_EQ(root.Children().size(), 1u);
  EXPECT_EQ(root.Children()[0]->Name(), "b.zip");
  EXPECT_EQ(browser.FileCount(), 1);
  EXPECT_EQ(browser.FolderCount(), 1);
  const DirectoryListing top = browser.ListNode(root);
  EXPECT_EQ(names(top.items), (Names{"b.zip"}));
  EXPECT_EQ(top.totalSize, 2000);

  ASSERT_TRUE(db->DeleteSupport(s));
  EXPECT_TRUE(browser.ListNode(root).items.empty());
  EXPECT_TRUE(browser.ListNode(*root.Children()[0]).items.empty());
}

// Linux names may begin or end with blanks, which the catalogue drops when
// it reads a name back; the folders inside must still be reached by the
// name the browser shows.
TEST_F(SupportBrowserTest, FoldersNamedWithBlanksAtTheirEndsShowWhatTheyHold) {
  for (const char* file :
       {"medium/ lead/a.txt", "medium/trail /b.txt", "medium/ both /deeper/c.txt"}) {
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file) << "x";
  }
  DirEnumerator walk;
  ASSERT_EQ(walk.Enumerate("medium"), 7);
  const TInsertionResult stored = InsertScan(*db, walk, TVolumeInfo(), "", "", nullptr);
  ASSERT_EQ(stored.stored, 7);
  SupportBrowser browser(*db);
  browser.LoadSupport(stored.supportId);
  const SupportTreeNode& root = browser.Tree().Root();
  ASSERT_EQ(root.Children().size(), 3u);
  for (const auto& [folder, inside] : std::vector<std::pair<std::string, std::string>>{
           {"lead", "a.txt"}, {"trail", "b.txt"}, {"both", "deeper"}}) {
    const SupportTreeNode* node = root.Child(folder);
    ASSERT_NE(node, nullptr) << folder;
    EXPECT_EQ(names(browser.ListNode(*node).items), (Names{inside})) << folder;
  }
  const SupportTreeNode* deeper = root.Child("both")->Child("deeper");
  ASSERT_NE(deeper, nullptr);
  EXPECT_EQ(names(browser.ListNode(*deeper).items), (Names{"c.txt"}));
}

TEST(DirectorySortTest, ColumnClicksSortAndReverse) {
  std::vector<DirectoryItem> items(4);
  const char* itemNames[] = {"beta.TXT", "Alpha.doc", "gamma", "delta.txt"};
  const double dates[] = {45000.5, 45000.5 + 0.4 / 86400, 44000.0, 46000.0};
  for (size_t i = 0; i < items.size(); i++) {
    items[i].name = itemNames[i];
    items[i].ext = items[i].name.substr(5);
    items[i].size = 20 * (4 - static_cast<int64_t>(i));
    items[i].date = dates[i];
  }
  items[2].directory = true;  // its size counts 0
  ListSortState state;
  state.ColumnClicked(1);
  state.ColumnClicked(1);
  EXPECT_EQ(state.code, -2);
  SortDirectoryItems(items, state.code);
  EXPECT_EQ(names(items), (Names{"beta.TXT", "Alpha.doc", "delta.txt", "gamma"}));
  state.ColumnClicked(0);
  SortDirectoryItems(items, state.code);
  EXPECT_EQ(names(items), (Names{"Alpha.doc", "beta.TXT", "delta.txt", "gamma"}));
  // Dates less than a second apart are equal: the stable sort keeps them.
  SortDirectoryItems(items, 3);
  EXPECT_EQ(names(items), (Names{"gamma", "Alpha.doc", "beta.TXT", "delta.txt"}));
  SortDirectoryItems(items, -4);  // TXT and txt are one extension
  EXPECT_EQ(names(items), (Names{"beta.TXT", "delta.txt", "Alpha.doc", "gamma"}));
  SortDirectoryItems(items, -5);  // "md5": names ascending
  EXPECT_EQ(names(items), (Names{"Alpha.doc", "beta.TXT", "delta.txt", "gamma"}));
}

TEST_F(SupportBrowserTest, LocatingAFileOpensItsDirectoryAndSelectsIt) {
  const int32_t s = addSupport("DEEP");
  addRow(s, "\\", "sub", 0, 45000, true);
  addRow(s, "\\sub\\", "deeper", 0, 45000, true);
  addRow(s, "\\sub\\deeper\\", "first.txt");
  addRow(s, "\\sub\\deeper\\", "wanted.txt");
  SupportBrowser browser(*db);
  browser.LoadSupport(s);
  const std::optional<LocatedFile> found = browser.LocateFile("\\sub\\deeper\\", "wanted.txt");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(SupportTree::NodePath(*found->node), "\\sub\\deeper");
  EXPECT_EQ(found->item, 1);
  EXPECT_EQ(browser.LocateFile("\\sub\\deeper\\", "WANTED.TXT")->item, -1);
  EXPECT_FALSE(browser.LocateFile("\\sub\\other\\", "wanted.txt").has_value());
}

}  // namespace
