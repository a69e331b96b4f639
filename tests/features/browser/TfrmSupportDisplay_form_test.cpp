// The support browser driven as a user drives it, on a real catalogue.
#include <gtest/gtest.h>

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QTreeWidget>

#include "features/browser/DirectoryListing.h"
#include "features/browser/TfrmSupportDisplay.h"
#include "platform/ansi.h"
#include "tests/support/form_children.h"
#include "tests/support/screenshot.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/test_catalogue.h"
#include "tests/support/test_program_folder.h"

namespace {

// A support record with the entry count and size the status bar shows.
int32_t addSupport(TestCatalogue& catalogue, const std::string& volume, int32_t id = -1,
                   int32_t entries = 0, int64_t size = 0) {
  TSupportRecord support;
  support.id = id;
  support.volume = volume;
  support.volumeSerial = 0x12345678;
  support.fileCount = entries;
  support.size = size;
  support.userId = "shelf 3";
  support.text = "Holiday pictures";
  return catalogue.Db().AddSupportRecord(support);
}

// A browser as the main window makes it, destroyed with the test.
class Browser {
 public:
  explicit Browser(int32_t supportId) : form_(new TfrmSupportDisplay) {
    form_->LoadSupport(supportId);
    form_->ApplyLanguage();
    form_->show();
  }
  ~Browser() { delete form_.data(); }

  TfrmSupportDisplay& form() { return *form_; }
  QTreeWidget& tree() { return *Child<QTreeWidget>(*form_, "tview"); }
  QTreeWidget& list() { return *Child<QTreeWidget>(*form_, "lView"); }
  QString text(const char* name) { return Child<QLabel>(*form_, name)->text(); }
  QString path() { return Child<QLineEdit>(*form_, "edtPath")->text(); }
  QString panel(int i) { return text(QByteArray("statusPanel") + char('0' + i)); }

  // The node at the end of a chain of names below the root "\".
  QTreeWidgetItem* node(const QStringList& names) {
    QTreeWidgetItem* item = tree().topLevelItem(0);
    for (const QString& name : names) {
      QTreeWidgetItem* parent = item;
      item = nullptr;
      for (int i = 0; parent != nullptr && i < parent->childCount(); ++i) {
        if (parent->child(i)->text(0) == name) item = parent->child(i);
      }
    }
    return item;
  }
  void clickNode(QTreeWidgetItem* item) {
    QTest::mouseClick(tree().viewport(), Qt::LeftButton, {}, tree().visualItemRect(item).center());
  }
  QStringList column(int column) {
    QStringList texts;
    for (int i = 0; i < list().topLevelItemCount(); ++i)
      texts << list().topLevelItem(i)->text(column);
    return texts;
  }
  void doubleClickRow(const QString& name) {
    const int row = static_cast<int>(column(0).indexOf(name));
    DoubleClick(list().viewport(), list().visualItemRect(list().topLevelItem(row)).center());
  }
  void clickTitle(int column) {
    QHeaderView* header = list().header();
    const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
  }

 private:
  QPointer<TfrmSupportDisplay> form_;
};

// a.txt and b.zip at the top of the medium, the directory sub holding
// c.txt: the tree, the status bar, and going in and out through clicks.
TEST(TfrmSupportDisplay, ASmallMediumThroughClicksOnTheTreeAndTheList) {
  TestProgramFolder folder;
  TestCatalogue catalogue;
  const int32_t disc = addSupport(catalogue, "PHOTOS", -1, 4, 1234567);
  catalogue.AddRow(disc, "\\", "a.txt", 10, 45000.5);
  catalogue.AddRow(disc, "\\", "b.zip", 2000, 45001.25);
  catalogue.AddRow(disc, "\\", "sub", 0, 44999, true);
  catalogue.AddRow(disc, "\\sub\\", "c.txt", 30, 45002);
  Browser browser(disc);
  EXPECT_EQ(browser.form().GetSupportId(), disc);
  EXPECT_EQ(browser.form().windowTitle(), " [00001] 1234-5678  PHOTOS");
  EXPECT_EQ(browser.text("lblYourComment"), "shelf 3");
  EXPECT_EQ((QStringList{browser.panel(0), browser.panel(1), browser.panel(2)}),
            (QStringList{QString::fromUtf8("Entrées:4"), "Octets:1234567 ", "Fichiers:2  Rep:2"}));
  EXPECT_TRUE(browser.panel(3).contains(" - "));
  ASSERT_EQ(browser.tree().topLevelItemCount(), 1);
  QTreeWidgetItem* root = browser.node({});
  EXPECT_EQ(root->text(0), "\\");
  EXPECT_EQ(root->childCount(), 2);
  EXPECT_NE(browser.node({"b.zip"}), nullptr);
  EXPECT_FALSE(root->isExpanded() || root->isSelected());

  browser.clickNode(root);
  EXPECT_EQ(browser.path(), "\\");
  EXPECT_EQ(browser.column(0), (QStringList{"a.txt", "b.zip", "sub"}));
  EXPECT_EQ(browser.column(1), (QStringList{"10", "2000", ""}));
  EXPECT_EQ(browser.text("statusDir"), "Fichiers:3 [Taille:2010]");
  browser.doubleClickRow("sub");
  EXPECT_TRUE(browser.node({"sub"})->isSelected() && browser.node({"sub"})->isExpanded());
  EXPECT_EQ(browser.path(), "\\sub");
  EXPECT_EQ(browser.column(0), QStringList{"c.txt"});
  browser.doubleClickRow("c.txt");  // a file opens nothing
  EXPECT_EQ(browser.path(), "\\sub");

  browser.clickNode(root);
  browser.doubleClickRow("b.zip");
  EXPECT_TRUE(browser.node({"b.zip"})->isSelected());
  EXPECT_TRUE(browser.column(0).isEmpty());

  browser.tree().setCurrentItem(root);
  Child<QAction>(browser.form(), "itmCollapseNode")->trigger();
  EXPECT_FALSE(root->isExpanded() || browser.node({"sub"})->isExpanded());
  Child<QAction>(browser.form(), "itmExpandNode")->trigger();
  EXPECT_TRUE(root->isExpanded() && browser.node({"sub"})->isExpanded());
}

// Sorting follows the title clicks, shared by every browser: a click in
// one window turns the next click on that column in another around.
TEST(TfrmSupportDisplay, ColumnClicksSortTheListAndTheOrderIsSharedByAllBrowsers) {
  TestProgramFolder folder;
  TestCatalogue catalogue;
  const int32_t disc = addSupport(catalogue, "MIX");
  catalogue.AddRow(disc, "\\", "b.txt", 300, 45000.5);
  catalogue.AddRow(disc, "\\", "A.doc", 20, 45003);
  catalogue.AddRow(disc, "\\", "c.bin", 1000, 45001);
  catalogue.AddRow(disc, "\\", "zdir", 0, 44000, true);
  SharedListSort() = ListSortState{};
  Browser first(disc);
  Browser second(disc);
  first.clickNode(first.node({}));
  second.clickNode(second.node({}));
  const struct {
    Browser* browser;
    int column;
    QStringList names;
  } clicks[] = {
      {&first, 1, {"zdir", "A.doc", "b.txt", "c.bin"}},
      {&first, 1, {"c.bin", "b.txt", "A.doc", "zdir"}},
      {&first, 0, {"A.doc", "b.txt", "c.bin", "zdir"}},
      {&first, 2, {"zdir", "b.txt", "c.bin", "A.doc"}},
      {&second, 2, {"A.doc", "c.bin", "b.txt", "zdir"}},
      {&second, 3, {"zdir", "c.bin", "A.doc", "b.txt"}},
      {&first, 4, {"A.doc", "b.txt", "c.bin", "zdir"}},
  };
  for (const auto& click : clicks) {
    click.browser->clickTitle(click.column);
    EXPECT_EQ(click.browser->column(0), click.names) << click.column;
  }
}

TEST(TfrmSupportDisplay, LocateFileOpensTheTreeAtTheFolderAndSelectsTheFile) {
  TestProgramFolder folder;
  TestCatalogue catalogue;
  const int32_t disc = addSupport(catalogue, "DEEP");
  catalogue.AddRow(disc, "\\", "sub", 0, 45000, true);
  catalogue.AddRow(disc, "\\sub\\", "deeper", 0, 45000, true);
  catalogue.AddRow(disc, "\\sub\\deeper\\", "e.txt");
  catalogue.AddRow(disc, "\\sub\\deeper\\", "f.txt");
  const struct {
    const char *path, *name;
    QStringList node;  // selected in the tree; empty: nothing at all
    const char* file;  // selected in the list
  } cases[] = {
      {"\\sub\\deeper\\", "f.txt", {"sub", "deeper"}, "f.txt"},
      {"\\sub\\deeper", "e.txt", {"sub", "deeper"}, "e.txt"},
      {"\\sub\\", "none.txt", {"sub"}, ""},
      {"\\gone\\", "f.txt", {}, ""},
      {"\\SUB\\", "deeper", {}, ""},  // names compare exactly
  };
  for (const auto& c : cases) {
    Browser browser(disc);
    browser.form().LocateFile(c.path, c.name);
    QTreeWidgetItem* file = browser.list().currentItem();
    EXPECT_EQ(file != nullptr ? file->text(0) : QString(), QString(c.file)) << c.path;
    if (c.node.isEmpty()) {
      EXPECT_EQ(browser.tree().currentItem(), nullptr) << c.path;
      EXPECT_TRUE(browser.path().isEmpty()) << c.path;
      continue;
    }
    EXPECT_EQ(browser.tree().currentItem(), browser.node(c.node)) << c.path;
    EXPECT_TRUE(browser.node(c.node)->isSelected() && browser.node({})->isExpanded());
    EXPECT_EQ(browser.path(), "\\" + c.node.join('\\'));
  }
  // The list enters a folder of the directory it shows, wherever the
  // tree's keyboard selection has gone since.
  Browser browser(disc);
  browser.form().LocateFile("\\sub\\", "");
  QTest::keyClick(&browser.tree(), Qt::Key_Home);
  EXPECT_EQ(browser.tree().currentItem(), browser.node({}));
  browser.doubleClickRow("deeper");
  EXPECT_EQ(browser.tree().currentItem(), browser.node({"sub", "deeper"}));
}

// The path tag keys every id from 100,000 on as "*****": each support
// still lists its own files only. A support without rows says so.
TEST(TfrmSupportDisplay, LargeIdsListTheirOwnFilesAndASupportWithoutRowsSaysSo) {
  TestProgramFolder folder;
  TestCatalogue catalogue;
  const int32_t first = addSupport(catalogue, "FIRST", 100001);
  const int32_t second = addSupport(catalogue, "SECOND", 123456);
  for (const char* name : {"1.txt", "2.txt"}) {
    catalogue.AddRow(first, "\\", std::string("first") + name);
    catalogue.AddRow(second, "\\", std::string("second") + name);
  }
  Browser browser(second);
  EXPECT_EQ(browser.form().windowTitle(), " [123456] 1234-5678  SECOND");
  browser.clickNode(browser.node({}));
  EXPECT_EQ(browser.column(0), (QStringList{"second1.txt", "second2.txt"}));

  ScriptedMessageBoxes boxes({BoxAnswer::Ok});
  Browser empty(addSupport(catalogue, "BLANK"));
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].text + "|" + boxes.Shown()[0].caption,
            "Pas de fichiers trouves pour ce support|Attention");
  EXPECT_EQ(empty.node({})->childCount(), 0);
  EXPECT_TRUE(empty.panel(3).isEmpty());
}

TEST(SupportDisplayScreenshot, AMediumOpenAtAFileInTheMainWindowsArea) {
  TestProgramFolder folder;
  TestCatalogue catalogue;
  const auto ansi = [](const char* utf8) { return platform::utf8ToAnsi(utf8); };  // as stored
  const int32_t disc = addSupport(catalogue, ansi("Vacances été"), -1, 9, 4700000000LL);
  const std::string azur = ansi("\\Photos\\Côte d'Azur\\");
  catalogue.AddRow(disc, "\\", ansi("Lisez-moi.txt"), 1520, 45000.5);
  catalogue.AddRow(disc, "\\", ansi("Archives.zip"), 73400320, 45001.25);
  catalogue.AddRow(disc, "\\", ansi("Photos"), 0, 44999, true);
  catalogue.AddRow(disc, "\\", ansi("Vidéos"), 0, 44999, true);
  catalogue.AddRow(disc, "\\Photos\\", ansi("Côte d'Azur"), 0, 44999.5, true);
  catalogue.AddRow(disc, "\\Photos\\", ansi("Noël"), 0, 44999.5, true);
  catalogue.AddRow(disc, azur, ansi("Plage n°1.jpg"), 2457600, 45002.75);
  catalogue.AddRow(disc, azur, ansi("Œillets.jpg"), 3145728, 45003.1);
  catalogue.AddRow(disc, azur, ansi("Soirée.png"), 512000, 45004);
  QMdiArea area;
  area.resize(900, 600);
  auto* form = new TfrmSupportDisplay;
  form->LoadSupport(disc);
  form->LocateFile(azur, ansi("Œillets.jpg"));
  form->ApplyLanguage();
  area.addSubWindow(form)->resize(860, 540);
  EXPECT_EQ(Child<QTreeWidget>(*form, "lView")->topLevelItemCount(), 3);
  EXPECT_FALSE(SaveScreenshot(area, "support_display_fr").empty());
}

}  // namespace
