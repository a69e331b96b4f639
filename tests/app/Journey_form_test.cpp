// The whole journey of a new user, on the real program (its forms made and
// destroyed by the entry routine, twice: a start and a restart) driven
// through its tool buttons, menu items, clicks and typed text, on a folder
// listed as a USB stick. Boxes and modal dialogs are answered through the
// program's seams. Pictures of every window go to build/artifacts/journey_*.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSlider>
#include <QTableView>
#include <QToolBar>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <regex>

#include "app/MessagePump.h"
#include "app/TIniFile.h"
#include "app/TfrmMain.h"
#include "features/archive/TfrmWarnSupportInDB.h"
#include "features/browser/TfrmSupportDisplay.h"
#include "features/search/TfrmSearch.h"
#include "features/supports/TfrmSupportList.h"
#include "platform/os.h"
#include "tests/support/disk_file.h"
#include "tests/support/fake_media.h"
#include "tests/support/fake_os.h"
#include "tests/support/form_children.h"
#include "tests/support/program_run.h"
#include "tests/support/screenshot.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/test_program_folder.h"

namespace {

namespace fs = std::filesystem;

// 15 March 2023 at noon UTC for every entry but two files of 15 June 2001.
constexpr time_t kRecent = 1678881600;
constexpr time_t kOld = 992606400;
const QDate kOldDay = QDateTime::fromSecsSinceEpoch(kOld).date();
constexpr int64_t kBigFile = int64_t{3} << 30;
// Two folders whose paths share their first 50 characters and more.
const std::string kLongFolder = "Projets partag\xC3\xA9s sur le serveur du bureau, copie de 2023 ";

QString fr(const char* utf8) { return QString::fromUtf8(utf8); }

void writeFile(const fs::path& path, size_t bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
}

// The stick: 161 files in 5 folders (UTF-8 names as Linux keeps them).
// Returns the sum of the sizes.
int64_t makeStick(const fs::path& root) {
  int64_t total = 0;
  const std::pair<const char*, size_t> files[] = {
      {"notes de cours.txt", 12},
      {"\xC3\x89t\xC3\xA9 2023/r\xC3\xA9sum\xC3\xA9.txt", 20},
      {"x[1].txt", 3},
      {"x1.txt", 4},
      {"%d%s.txt", 5},
      {"back\\slash.txt", 6},
      {"new\nline.txt", 7},
      {".hidden", 8},
  };
  for (const auto& [name, bytes] : files) {
    writeFile(root / name, bytes);
    total += static_cast<int64_t>(bytes);
  }
  fs::create_directories(root / "empty folder");
  for (const char* last : {"A", "B"}) {
    writeFile(root / (kLongFolder + last) / (std::string("inside ") + last + ".txt"), 9);
    total += 9;
  }
  for (int i = 0; i < 150; i++) {
    writeFile(root / "many" / QString::asprintf("file%03d.dat", i).toStdString(), i);
    total += i;
  }
  std::ofstream(root / "big.iso").close();
  fs::resize_file(root / "big.iso", kBigFile);  // sparse
  total += kBigFile;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    const time_t when = name == "x1.txt" || name.starts_with("r\xC3\xA9sum") ? kOld : kRecent;
    const timespec times[2] = {{when, 0}, {when, 0}};
    EXPECT_EQ(utimensat(AT_FDCWD, entry.path().c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  }
  return total;
}

QAction* command(const char* name) { return Find<QAction>(*frmMain, name); }

// A child window of the main window, the most recently made of its kind.
template <class Form>
Form* lastChild() {
  Form* found = nullptr;
  for (QMdiSubWindow* child : frmMain->ChildArea().subWindowList(QMdiArea::CreationOrder))
    if (auto* form = qobject_cast<Form*>(child->widget())) found = form;
  return found;
}

void picture(QWidget& window, const std::string& name) {
  EXPECT_FALSE(SaveScreenshot(window, "journey_" + name).empty()) << name;
}

// "journey.cex" -> "journey"
std::string stem(const char* path) { return fs::path(path).stem().string(); }

QStringList gridColumn(QTableView& grid, int column) {
  QStringList texts;
  for (int row = 0; row < grid.model()->rowCount(); row++)
    texts << grid.model()->index(row, column).data().toString();
  return texts;
}

QStringList treeColumn(QTreeWidget& list, int column = 0) {
  QStringList texts;
  for (int i = 0; i < list.topLevelItemCount(); i++) texts << list.topLevelItem(i)->text(column);
  return texts;
}

QStringList sorted(QStringList texts) {
  texts.sort();
  return texts;
}

// The browser as a user works it: a click on the root, double clicks on
// folders in the list.
class BrowserUser {
 public:
  explicit BrowserUser(TfrmSupportDisplay& form)
      : form_(form),
        tree_(*Child<QTreeWidget>(form, "tview")),
        list_(*Child<QTreeWidget>(form, "lView")) {}

  QStringList openRoot() {
    QTreeWidgetItem* root = tree_.topLevelItem(0);
    QTest::mouseClick(tree_.viewport(), Qt::LeftButton, {}, tree_.visualItemRect(root).center());
    return names();
  }
  QStringList enter(const QString& folder) {
    const int row = static_cast<int>(names().indexOf(folder));
    EXPECT_GE(row, 0) << folder.toStdString();
    if (row < 0) return {};
    QTreeWidgetItem* item = list_.topLevelItem(row);
    list_.scrollToItem(item);
    DoubleClick(list_.viewport(), list_.visualItemRect(item).center());
    return names();
  }
  QStringList names() { return treeColumn(list_); }
  QString sizeOf(const QString& name) {
    return list_.topLevelItem(static_cast<int>(names().indexOf(name)))->text(1);
  }
  QString path() { return Child<QLineEdit>(form_, "edtPath")->text(); }
  QString selected() { return list_.currentItem() ? list_.currentItem()->text(0) : QString(); }
  QString label(const char* name) { return Child<QLabel>(form_, name)->text(); }
  // Whether every node below the root shows its whole name.
  bool treeNamesWhole() {
    QTreeWidgetItem* root = tree_.topLevelItem(0);
    for (int i = 0; i < root->childCount(); i++) {
      QTreeWidgetItem* node = root->child(i);
      if (tree_.visualItemRect(node).width() < tree_.fontMetrics().horizontalAdvance(node->text(0)))
        return false;
    }
    return root->childCount() > 0;
  }
  QStringList topFolders() {
    QStringList texts;
    QTreeWidgetItem* root = tree_.topLevelItem(0);
    for (int i = 0; i < root->childCount(); i++) texts << root->child(i)->text(0);
    return sorted(texts);
  }

 private:
  TfrmSupportDisplay& form_;
  QTreeWidget& tree_;
  QTreeWidget& list_;
};

// The search window as a user works it.
class SearchUser {
 public:
  explicit SearchUser(TfrmSearch& form) : form_(form) {}

  // Types the mask and clicks Go, or presses Enter.
  QStringList search(const QString& mask, bool enter = false) {
    QLineEdit* edit = Child<QLineEdit>(form_, "edtFileMask");
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    edit->insert(mask);  // pasted: QTest types ASCII only
    if (enter) {
      QTest::keyClick(edit, Qt::Key_Return);
    } else {
      Click(form_, "btnGo");
    }
    return gridColumn(grid(), 1);
  }
  void tick(const char* box, bool ticked) {
    if (Child<QCheckBox>(form_, box)->isChecked() != ticked) Click(form_, box);
  }
  void type(const char* edit, const char* text) {
    Child<QLineEdit>(form_, edit)->clear();
    QTest::keyClicks(Child<QLineEdit>(form_, edit), text);
  }
  QTableView& grid() { return *Child<QTableView>(form_, "sgResults"); }
  QString found() { return Child<QLabel>(form_, "lblFileFound")->text(); }

 private:
  TfrmSearch& form_;
};

// What the stick holds, as the catalogue names them.
const QStringList kTopEntries = {"notes de cours.txt",
                                 fr("Été 2023"),
                                 "x[1].txt",
                                 "x1.txt",
                                 "%d%s.txt",
                                 "back?slash.txt",
                                 "new?line.txt",
                                 ".hidden",
                                 "empty folder",
                                 fr(kLongFolder.c_str()) + "A",
                                 fr(kLongFolder.c_str()) + "B",
                                 "many",
                                 "big.iso"};
constexpr int kEntries = 166;  // 161 files, 5 folders

std::string exportCatalogue(const char* path) {
  ScriptedModals modals([&](QDialog& dialog) {
    QLineEdit* target = Child<QLineEdit>(dialog, "edtTargetArchive");
    target->clear();
    QTest::keyClicks(target, path);
    Click(dialog, "btnSave");
    EXPECT_EQ(ListLines(dialog, "lbTrace"),
              (QStringList{"Exporting: TESTVOL", "Export FINISHED!"}));
    picture(dialog, "export_" + stem(path));
    Click(dialog, "btnClose");
  });
  Click(*frmMain, "sbExport");
  EXPECT_EQ(modals.Count(), 1);
  return testing_support::readDiskFile(path);
}

// Imports `path`; the duplicate question, when it comes, is answered
// "import it again". Returns the import's trace.
QStringList importArchive(const char* path, int* questions) {
  QStringList trace;
  ScriptedModals modals([&](QDialog& dialog) {
    if (qobject_cast<TfrmWarnSupportInDB*>(&dialog) != nullptr) {
      ++*questions;
      picture(dialog, "import_question");
      return Click(dialog, "btnImportAgain");
    }
    QLineEdit* target = Child<QLineEdit>(dialog, "edtTargetArchive");
    target->clear();
    QTest::keyClicks(target, path);
    Click(dialog, "btnImport");
    trace = ListLines(dialog, "lbTrace");
    picture(dialog, "import_" + stem(path));
    Click(dialog, "btnClose");
  });
  Click(*frmMain, "sbImport");
  return trace;
}

TEST(JourneyScreenshot, ANewUserIndexesBrowsesSearchesExchangesAndRestarts) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  testing_support::FakeMedia media;
  const int64_t total = makeStick("stick");
  media.addRemovableDrive("stick", "TESTVOL", 0xDEADBEEF);
  ScriptedMessageBoxes boxes;  // none is expected: every one is a failure

  RunProgram([&] {
    QTableView& supports = *Find<QTableView>(*frmSupportList, "sgSupportData");
    EXPECT_EQ(supports.model()->rowCount(), 0);
    EXPECT_FALSE(command("sbSearch")->isEnabled());
    picture(*frmMain, "first_start");
    frmMain->resize(1000, 640);  // room for the grids

    // Index the stick.
    {
      ScriptedModals modals([&](QDialog& dialog) {
        Child<QComboBox>(dialog, "lbDriveList")->setCurrentIndex(0);
        Click(dialog, "btnIndexStart");
        QTest::keyClicks(Child<QLineEdit>(dialog, "edtShortComment"), "blue stick");
        auto* memo = Child<QPlainTextEdit>(dialog, "meLongComment");
        QTest::keyClicks(memo, "Course notes");
        QTest::keyClick(memo, Qt::Key_Return);
        QTest::keyClicks(memo, "and the 2023 backup");
        Click(dialog, "btnInsertDatabase");
        picture(dialog, "indexing");
        EXPECT_EQ(ListLines(dialog, "lbTrace").mid(1),
                  (QStringList{"Volume Name : TESTVOL", "Volume ID   : DEAD-BEEF",
                               QString("Scan finished: %1 file(s) found").arg(kEntries),
                               QString("Total size: %1 byte(s) of data").arg(total)}));
        Click(dialog, "btnCancel");
      });
      Click(*frmMain, "sbSupportIndex");
    }

    // List it.
    ASSERT_EQ(supports.model()->rowCount(), 1);
    QStringList row;
    for (int column = 0; column < 9; column++)
      row << supports.model()->index(0, column).data().toString();
    EXPECT_EQ(row.mid(0, 6), (QStringList{"00001", "FD", "TESTVOL", "DEAD-BEEF",
                                          QString::number(kEntries), "blue stick"}));
    EXPECT_EQ(row.mid(7),
              (QStringList{"Course notes and the 2023 backup", QString::number(total)}));
    EXPECT_TRUE(command("sbSearch")->isEnabled());
    picture(*frmMain, "list");

    // Browse it.
    DoubleClick(supports.viewport(), supports.visualRect(supports.model()->index(0, 2)).center());
    TfrmSupportDisplay* display = lastChild<TfrmSupportDisplay>();
    ASSERT_NE(display, nullptr);
    BrowserUser browser(*display);
    EXPECT_EQ(display->windowTitle(), " [00001] DEAD-BEEF  TESTVOL");
    EXPECT_EQ(browser.label("statusPanel0"), QString("Entries:%1").arg(kEntries));
    EXPECT_EQ(browser.label("statusPanel1"), QString("Bytes:%1 ").arg(total));
    EXPECT_EQ(browser.label("statusPanel2"), "Files:161  Folders:5");
    EXPECT_EQ(browser.topFolders(),
              sorted({fr("Été 2023"), "empty folder", fr(kLongFolder.c_str()) + "A",
                      fr(kLongFolder.c_str()) + "B", "many"}));
    EXPECT_EQ(sorted(browser.openRoot()), sorted(kTopEntries));
    EXPECT_EQ(browser.sizeOf("big.iso"), QString::number(kBigFile));
    EXPECT_EQ(browser.sizeOf("many"), "");
    EXPECT_EQ(browser.enter(fr("Été 2023")), QStringList{fr("résumé.txt")});
    EXPECT_EQ(browser.path(), fr("\\Été 2023"));
    for (const char* last : {"A", "B"}) {
      browser.openRoot();
      EXPECT_EQ(browser.enter(fr(kLongFolder.c_str()) + last),
                QStringList{QString("inside ") + last + ".txt"});
    }
    browser.openRoot();
    EXPECT_EQ(browser.enter("empty folder"), QStringList());
    browser.openRoot();
    EXPECT_EQ(browser.enter("many").size(), 150);
    EXPECT_EQ(browser.label("statusDir"), QString("Files:150 [Size:%1]").arg(149 * 150 / 2));
    // Two names that differ at their end are not cut to the same text.
    EXPECT_TRUE(browser.treeNamesWhole());
    picture(*frmMain, "browser");

    // Search it.
    Click(*frmMain, "sbSearch");
    TfrmSearch* searchForm = lastChild<TfrmSearch>();
    ASSERT_NE(searchForm, nullptr);
    SearchUser search(*searchForm);
    EXPECT_EQ(search.search("*").size(), kEntries);
    EXPECT_EQ(search.found(), QString("Found: %1").arg(kEntries));
    EXPECT_EQ(search.search("file1*").size(), 50);
    // Brackets make a set: the mask "x[1].txt" is "x1.txt"; a '[' is
    // found as the set "[[]".
    EXPECT_EQ(search.search("x[1].txt"), QStringList{"x1.txt"});
    EXPECT_EQ(search.search("x[[]1].txt"), QStringList{"x[1].txt"});
    EXPECT_EQ(search.search("%d%s*", true), QStringList{"%d%s.txt"});
    EXPECT_EQ(searchForm->windowTitle(), "Search - %d%s*");
    EXPECT_EQ(search.search("*slash*"), QStringList{"back?slash.txt"});
    search.tick("cbCheckDate", true);
    for (const auto& [box, picker] :
         {std::pair{"cbDtPick1", "dtPick1"}, {"cbDtPick2", "dtPick2"}}) {
      Child<QCheckBox>(*searchForm, box)->setChecked(true);
      Child<QDateEdit>(*searchForm, picker)->setDate(kOldDay);
    }
    EXPECT_EQ(sorted(search.search("*")), (QStringList{fr("résumé.txt"), "x1.txt"}));
    search.tick("cbCheckDate", false);
    search.tick("cbCheckSize", true);
    search.type("edtSizeMin", "3000000000");
    EXPECT_EQ(search.search("*"), QStringList{"big.iso"});
    EXPECT_EQ(gridColumn(search.grid(), 4), QStringList{QString::number(kBigFile)});
    search.tick("cbCheckSize", false);
    // The hit limit, then Stop at the first pause.
    Child<QSlider>(*searchForm, "tbMaxFiles")->setValue(100);
    EXPECT_EQ(search.search("*").size(), 100);
    EXPECT_EQ(search.found(), "Found: 100");
    Child<QSlider>(*searchForm, "tbMaxFiles")->setValue(10000);
    {
      bool stopped = false;
      ScopedMessagePump pump([&] {
        if (!std::exchange(stopped, true)) Click(*searchForm, "btnStop");
      });
      EXPECT_EQ(search.search("*").size(), 50);
    }
    // A double click on a hit shows it in the support's browser.
    EXPECT_EQ(search.search(fr("résumé.txt")), QStringList{fr("résumé.txt")});
    DoubleClick(search.grid().viewport(),
                search.grid().visualRect(search.grid().model()->index(0, 1)).center());
    EXPECT_EQ(lastChild<TfrmSupportDisplay>(), display);
    EXPECT_EQ(browser.path(), fr("\\Été 2023"));
    EXPECT_EQ(browser.selected(), fr("résumé.txt"));
    search.search("*.txt");
    picture(*frmMain, "search");

    // Statistics.
    {
      ScriptedModals modals([&](QDialog& dialog) {
        const QStringList lines =
            Child<QPlainTextEdit>(dialog, "meStats")->toPlainText().split('\n');
        EXPECT_EQ(
            lines.mid(1, 3),
            (QStringList{"Total media       : 1", QString("Total files       : %1").arg(kEntries),
                         QString::asprintf("Total size        : %.2f MB", total / 1048576.0)}));
        picture(dialog, "statistics");
        Click(dialog, "btnOK");
      });
      Click(*frmMain, "sbInfos");
      EXPECT_EQ(modals.Count(), 1);
    }

    // Export, empty, import, export again: the same archive but for the
    // ids. A second import asks about the duplicate.
    const std::string first = exportCatalogue("journey.cex");
    {
      ScriptedMessageBoxes yes({BoxAnswer::Yes});
      command("itmEmptyBase")->trigger();
      EXPECT_EQ(yes.Shown().size(), 1u);
    }
    EXPECT_EQ(supports.model()->rowCount(), 0);
    EXPECT_FALSE(command("sbSearch")->isEnabled());
    int questions = 0;
    EXPECT_EQ(importArchive("journey.cex", &questions).mid(0, 3),
              (QStringList{"Export format 101", "Adding MEDIUM: TESTVOL",
                           QString("   %1 file(s) added").arg(kEntries)}));
    EXPECT_EQ(questions, 0);
    const std::string second = exportCatalogue("again.cex");
    const std::regex ids("(S_ID|F_ID|F_SUPID)=[0-9]+");
    EXPECT_NE(first, second);
    EXPECT_EQ(std::regex_replace(first, ids, "$1="), std::regex_replace(second, ids, "$1="));
    importArchive("again.cex", &questions);
    EXPECT_EQ(questions, 1);
    ASSERT_EQ(supports.model()->rowCount(), 2);
    EXPECT_EQ(gridColumn(supports, 2), (QStringList{"TESTVOL", "TESTVOL"}));

    // French from now on, no tool bar, another place; then quit.
    {
      ScriptedModals modals([&](QDialog& dialog) {
        Child<QComboBox>(dialog, "cbLanguageSelect")->setCurrentIndex(1);
        picture(dialog, "preferences");
        Click(dialog, "btnOk");
      });
      command("itmPreferences")->trigger();
    }
    EXPECT_EQ(Find<QMenu>(*frmMain, "itmFile")->title(), "&Fichier");
    command("itmToolBar")->trigger();
    frmMain->move(30, 40);
    frmMain->resize(900, 560);
    picture(*frmMain, "french");
    command("itmQuit")->trigger();
    EXPECT_FALSE(frmMain->isVisible());
  });

  const TIniFile ini(folder.IniPath());
  EXPECT_EQ(ini.ReadInteger("Misc", "LangID", -1), 1);
  EXPECT_EQ(ini.ReadInteger("Misc", "ToolBars", -1), 0);

  RunProgram([&] {
    EXPECT_EQ(Find<QMenu>(*frmMain, "itmFile")->title(), "&Fichier");
    EXPECT_FALSE(command("itmToolBar")->isChecked());
    EXPECT_FALSE(Find<QToolBar>(*frmMain, "pnlToolBar")->isVisible());
    EXPECT_EQ(frmMain->pos(), QPoint(30, 40));
    EXPECT_EQ(frmMain->size(), QSize(900, 560));
    QTableView& supports = *Find<QTableView>(*frmSupportList, "sgSupportData");
    EXPECT_EQ(supports.model()->rowCount(), 2);
    EXPECT_EQ(supports.model()->headerData(3, Qt::Horizontal).toString(), fr("N° série"));
    supports.selectRow(1);
    Find<QAction>(*frmSupportList, "itmBrowseSupport")->trigger();
    TfrmSupportDisplay* display = lastChild<TfrmSupportDisplay>();
    ASSERT_NE(display, nullptr);
    BrowserUser browser(*display);
    browser.openRoot();
    browser.enter(fr("Été 2023"));
    EXPECT_EQ(browser.label("statusPanel2"), "Fichiers:161  Rep:5");
    picture(*frmMain, "restarted");
  });
  for (const BoxRequest& box : boxes.Shown())
    ADD_FAILURE() << box.caption.toStdString() << ": " << box.text.toStdString();
}

// Indexes the drive of the indexing dialog's list whose line holds `label`, its picture taken as
// the insertion ends; the dialog's trace.
QStringList indexDrive(const QString& label, const std::string& name) {
  QStringList trace;
  ScriptedModals modals([&](QDialog& dialog) {
    auto* drives = Child<QComboBox>(dialog, "lbDriveList");
    drives->setCurrentIndex(drives->findText(label, Qt::MatchContains));
    EXPECT_GE(drives->currentIndex(), 0) << label.toStdString();
    Click(dialog, "btnIndexStart");
    Click(dialog, "btnInsertDatabase");
    picture(dialog, name);
    trace = ListLines(dialog, "lbTrace");
    Click(dialog, "btnCancel");
  });
  Click(*frmMain, "sbSupportIndex");
  return trace;
}

// The disk fills while a second medium is indexed, and is still full when
// the program ends and when it starts again: each time the user reads it in
// words, never as an engine code, and the start on the still-full disk
// lists, browses and finds every medium as the disk holds it.
TEST(JourneyScreenshot, ADiskFilledByAnIndexingStillShowsEveryMediumAfterARestart) {
  TestProgramFolder folder(BuiltLanguageLibrary());
  testing_support::FakeMedia media;
  makeStick("stick");
  for (int i = 0; i < 3000; i++)
    writeFile(fs::path("second") / QString::asprintf("photo%04d.jpg", i).toStdString(), 10);
  media.addRemovableDrive("stick", "TESTVOL", 0xDEADBEEF);
  media.addRemovableDrive("second", "SECOND", 0x12345678);
  ScriptedMessageBoxes boxes;
  testing_support::FakeOs disk;
  platform::ScopedOs scoped(disk);

  int kept = 0;  // files of SECOND the disk holds, as its indexing said
  RunProgram([&] {
    frmMain->resize(1000, 640);
    indexDrive("stick", "full_first");
    disk.fillDiskAtWrite(20);
    const QStringList trace = indexDrive("second", "full_indexing");
    ASSERT_FALSE(trace.isEmpty());
    const QRegularExpressionMatch written = QRegularExpression("(\\d+) entr").match(trace.last());
    ASSERT_TRUE(written.hasMatch()) << trace.last().toStdString();
    kept = written.captured(1).toInt();
    QCoreApplication::processEvents();
    picture(*frmMain, "full_list");
    command("itmQuit")->trigger();
  });
  ASSERT_EQ(boxes.Shown().size(), 2u);  // as it is met, and as the program ends

  RunProgram([&] {
    frmMain->resize(1000, 640);
    QTableView& supports = *Find<QTableView>(*frmSupportList, "sgSupportData");
    ASSERT_EQ(supports.model()->rowCount(), kept > 0 ? 2 : 1);
    EXPECT_EQ(supports.model()->index(0, 4).data().toString(), QString::number(kEntries));
    if (kept > 0) {
      EXPECT_EQ(supports.model()->index(1, 4).data().toString(), QString::number(kept));
    }
    picture(*frmMain, "full_restarted");
    for (int row = 0; row < supports.model()->rowCount(); row++) {
      supports.selectRow(row);
      Find<QAction>(*frmSupportList, "itmBrowseSupport")->trigger();
      TfrmSupportDisplay* display = lastChild<TfrmSupportDisplay>();
      ASSERT_NE(display, nullptr);
      BrowserUser browser(*display);
      EXPECT_EQ(browser.label("statusPanel0"),
                QString("Entries:%1").arg(row == 0 ? kEntries : kept));
      picture(*frmMain, "full_browser_" + std::to_string(row + 1));
    }
    Click(*frmMain, "sbSearch");
    TfrmSearch* searchForm = lastChild<TfrmSearch>();
    ASSERT_NE(searchForm, nullptr);
    SearchUser search(*searchForm);
    Child<QSlider>(*searchForm, "tbMaxFiles")->setValue(10000);
    EXPECT_EQ(search.search("*").size(), kEntries + kept);
    picture(*frmMain, "full_search");
    command("itmQuit")->trigger();
  });
  ASSERT_EQ(boxes.Shown().size(), 3u);  // and the start's one message
  for (const BoxRequest& box : boxes.Shown()) {
    EXPECT_FALSE(box.text.contains("Code1=")) << box.text.toStdString();
  }
}

}  // namespace
