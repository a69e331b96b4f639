#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QToolBar>
#include <QTreeWidget>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>

#include "app/DBWrapperGlobal.h"
#include "app/DbErrorBoxes.h"
#include "app/EntryRoutine.h"
#include "app/ProgramFolder.h"
#include "app/TIniFile.h"
#include "app/TfrmMain.h"
#include "catalog/Engine.h"
#include "catalog/Udbwrapper.h"
#include "engine/storage/error4.h"
#include "features/browser/TfrmSupportDisplay.h"
#include "features/search/TfrmSearch.h"
#include "features/supports/TfrmSupportEdit.h"
#include "features/supports/TfrmSupportList.h"
#include "tests/support/disk_file.h"
#include "tests/support/form_children.h"
#include "tests/support/program_run.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/test_catalogue.h"
#include "tests/support/test_program_folder.h"

// Stand-ins for the search and browser windows, which the window list
// knows by their class names.
namespace window_list_test {

class TfrmSearch : public QWidget {
  Q_OBJECT
};

class TfrmSupportDisplay : public QWidget {
  Q_OBJECT
};

}  // namespace window_list_test

namespace {

QAction* mainAction(const char* name) { return Find<QAction>(*frmMain, name); }

int listRows() { return Find<QTableView>(*frmSupportList, "sgSupportData")->model()->rowCount(); }

const char* const kSupportCommands[] = {"sbExport", "sbSearch", "sbSuppExport", "itmExportBase",
                                        "itmNewSearch"};

TEST(TfrmMain, FirstStartMakesTheCatalogueAndAnEmptyListThatARefreshFills) {
  TestProgramFolder folder;
  ScriptedMessageBoxes boxes;
  const int code = RunProgram([] {
    // The list, maximised, adds its caption after the program's.
    EXPECT_TRUE(frmMain->windowTitle().startsWith("Kavri Vantrelodisk v1.01"));
    ASSERT_EQ(frmMain->ChildArea().subWindowList().size(), 1);
    EXPECT_TRUE(frmSupportList->isVisible());
    EXPECT_EQ(listRows(), 0);
    for (const char* name : kSupportCommands) EXPECT_FALSE(mainAction(name)->isEnabled()) << name;
    EXPECT_FALSE(mainAction("sbPref")->isVisible());
    EXPECT_FALSE(mainAction("sbSmartSearch")->isVisible());

    TSupportRecord support;
    dbWrapper->AddSupportRecord(support);
    Find<QPushButton>(*frmSupportList, "btnRefresh")->click();
    EXPECT_EQ(listRows(), 1);
    for (const char* name : kSupportCommands) EXPECT_TRUE(mainAction(name)->isEnabled()) << name;
  });
  EXPECT_EQ(code, 0);
  std::set<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator("data"))
    files.insert(QString::fromStdString(entry.path().filename()).toUpper().toStdString());
  for (const char* name : {"DBID.DBF", "DBID.CDX", "DBFILES.DBF", "DBFILES.CDX", "DBFILES.FPT",
                           "DBSUPPORT.DBF", "DBSUPPORT.CDX", "DBSUPPORT.FPT"})
    EXPECT_EQ(files.count(name), 1u) << name;
  EXPECT_TRUE(boxes.Shown().empty());
  EXPECT_EQ(frmMain, nullptr);
  EXPECT_EQ(dbWrapper, nullptr);
}

// Every caption of the main window, the support list and its editor, by
// control name; the list's column titles by their place.
std::map<std::string, std::string> captions() {
  std::map<std::string, std::string> all;
  frmSupportEdit->ApplyLanguage();
  for (const QObject* form : std::initializer_list<const QObject*>{frmMain, frmSupportEdit}) {
    for (const QObject* control : form->findChildren<QObject*>()) {
      const QVariant caption = control->property(control->inherits("QMenu") ? "title" : "text");
      if (!control->objectName().isEmpty() && caption.isValid())
        all[control->objectName().toStdString()] = caption.toString().toStdString();
    }
  }
  all["frmSupportList"] = frmSupportList->windowTitle().toStdString();
  all["frmSupportEdit"] = frmSupportEdit->windowTitle().toStdString();
  const QAbstractItemModel& grid = *Find<QTableView>(*frmSupportList, "sgSupportData")->model();
  for (int c = 0; c < grid.columnCount(); c++)
    all["title " + std::to_string(c)] = grid.headerData(c, Qt::Horizontal).toString().toStdString();
  return all;
}

// Without the library every form keeps its French captions; the library's
// French is the same, word for word, and its English replaces them.
TEST(TfrmMain, CaptionsComeFromTheLanguageLibraryOrStayFrench) {
  std::map<std::string, std::string> builtIn, french, english;
  const struct {
    bool library;
    int entry;  // [Misc] LangID
    std::map<std::string, std::string>* seen;
  } runs[] = {{false, 0, &builtIn}, {true, 1, &french}, {true, 0, &english}};
  for (const auto& run : runs) {
    TestProgramFolder folder(run.library ? BuiltLanguageLibrary() : std::string());
    TIniFile(folder.IniPath()).WriteInteger("Misc", "LangID", run.entry);
    RunProgram([&] { *run.seen = captions(); });
  }
  EXPECT_GT(builtIn.size(), 60u);
  EXPECT_EQ(french, builtIn);
  EXPECT_EQ(builtIn["itmOrganize"], "Réorganiser les fenêtres");
  EXPECT_EQ(builtIn["title 3"], "N° série");
  EXPECT_EQ(english["itmFile"], "&File");
  EXPECT_EQ(english["sbSuppExport"], "Export medium");
  EXPECT_EQ(english["title 3"], "Serial no.");
  EXPECT_EQ(english["btnClose"], "Close");
}

TEST(TfrmMain, ToolBarAndPlacementSurviveARestartAndAChildMayRefuseTheEnd) {
  TestProgramFolder folder;
  ScriptedMessageBoxes boxes;
  RunProgram([] {
    QToolBar* toolBar = Find<QToolBar>(*frmMain, "pnlToolBar");
    // The preferences' box shows the tool bar's state without acting on
    // it; ticking it acts at once.
    ScriptedModals modals([&](QDialog& dialog) {
      QCheckBox* box = Find<QCheckBox>(dialog, "cbDisplayToolBars");
      EXPECT_TRUE(box->isChecked());
      EXPECT_TRUE(toolBar->isVisible());
      box->click();
      EXPECT_FALSE(toolBar->isVisible());
      box->click();
    });
    mainAction("itmPreferences")->trigger();
    EXPECT_TRUE(toolBar->isVisible());
    mainAction("itmToolBar")->trigger();
    EXPECT_FALSE(toolBar->isVisible());
    frmMain->move(40, 50);
    frmMain->resize(700, 420);

    // A child that refuses to close (a search at work) keeps the program;
    // the list, asked first, has kept its layout.
    class Busy : public QWidget {
      void closeEvent(QCloseEvent* event) override { event->ignore(); }
    };
    QMdiSubWindow* busy = frmMain->AddChildWindow(*new Busy);
    EXPECT_FALSE(frmMain->close());
    EXPECT_EQ(TIniFile(IniFilePath()).ReadInteger("SupportList", "Width.0", -1), 100);
    EXPECT_EQ(TIniFile(IniFilePath()).ReadInteger("MainForm", "Width", -1), -1);
    delete busy;
    EXPECT_TRUE(frmMain->close());
  });
  const TIniFile ini(folder.IniPath());
  EXPECT_EQ(ini.ReadInteger("Misc", "ToolBars", -1), 0);
  EXPECT_EQ(ini.ReadInteger("MainForm", "Width", -1), 700);

  RunProgram([] {
    EXPECT_FALSE(mainAction("itmToolBar")->isChecked());
    EXPECT_FALSE(Find<QToolBar>(*frmMain, "pnlToolBar")->isVisible());
    EXPECT_EQ(frmMain->size(), QSize(700, 420));
  });
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST(TfrmMain, EmptyingTheCatalogueAsksFirst) {
  TestProgramFolder folder;
  {
    TestCatalogue catalogue;
    catalogue.AddSupport("ONE", 1, {"a.txt"});
    catalogue.AddSupport("TWO", 2, {"b.txt"});
  }
  ScriptedMessageBoxes boxes({BoxAnswer::No, BoxAnswer::Yes});
  RunProgram([&] {
    mainAction("itmEmptyBase")->trigger();
    EXPECT_EQ(listRows(), 2);
    mainAction("itmEmptyBase")->trigger();
    EXPECT_EQ(listRows(), 0);
    EXPECT_EQ(dbWrapper->GetSupportCount(), 0);
    EXPECT_NE(dbWrapper->FindFirstFileOfSupport(1), TFound::kRecord);
    EXPECT_FALSE(mainAction("sbSearch")->isEnabled());
  });
  ASSERT_EQ(boxes.Shown().size(), 2u);
  const BoxRequest& box = boxes.Shown()[1];
  EXPECT_EQ(box.text, "Etes vous sur de vouloir tout effacer");
  EXPECT_EQ(box.caption, "Attention");
  EXPECT_EQ(box.buttons, BoxButtons::YesNo);
  EXPECT_EQ(box.modality, BoxModality::System);
}

TEST(TfrmMain, DisplayMenuListsTheSearchesThenTheBrowsers) {
  TestProgramFolder folder;
  RunProgram([] {
    QMenu* display = Find<QMenu>(*frmMain, "itmDisplay");
    auto items = [display] {
      emit display->aboutToShow();
      QStringList captions;
      for (const QAction* item : display->actions().mid(5))
        captions << (item->isSeparator() ? "-" : item->text());
      return captions;
    };
    auto addChild = [](QWidget* form, const char* caption) {
      form->setWindowTitle(caption);
      return frmMain->AddChildWindow(*form);
    };
    QMdiSubWindow* search = addChild(new window_list_test::TfrmSearch, "Recherche 1");
    EXPECT_EQ(items(), QStringList({"Recherche 1", "-"}));
    EXPECT_EQ(items(), QStringList({"Recherche 1", "-"}));
    addChild(new window_list_test::TfrmSupportDisplay, "DISC & CO");
    addChild(new window_list_test::TfrmSearch, "Recherche 2");
    EXPECT_EQ(items(), QStringList({"Recherche 1", "Recherche 2", "-", "DISC && CO"}));
    EXPECT_EQ(display->actions()[2]->objectName(), "itmToolBar");

    // A window's item brings it back from an icon to the front.
    search->showMinimized();
    display->actions()[5]->trigger();
    EXPECT_FALSE(search->isMinimized());
    EXPECT_EQ(frmMain->ChildArea().activeSubWindow(), search);

    // Side by side: the four windows over the whole width, each as high as
    // the area; one above the other: each as wide as the area.
    const QSize area = frmMain->ChildArea().viewport()->size();
    mainAction("itmFormTileVert")->trigger();
    std::set<int> lefts;
    for (QMdiSubWindow* child : frmMain->ChildArea().subWindowList()) {
      EXPECT_EQ(child->geometry().top(), 0);
      EXPECT_EQ(child->height(), area.height());
      lefts.insert(child->geometry().left());
    }
    EXPECT_EQ(lefts,
              (std::set<int>{0, area.width() / 4, area.width() / 4 * 2, area.width() / 4 * 3}));
    mainAction("itmFormTileHoriz")->trigger();
    for (QMdiSubWindow* child : frmMain->ChildArea().subWindowList())
      EXPECT_EQ(child->width(), area.width());
  });
}

TEST(TfrmMain, ASearchHitOpensItsSupportsBrowserOnceAtTheFile) {
  TestProgramFolder folder;
  {
    TestCatalogue catalogue;
    const int32_t disc = catalogue.AddSupport("DISC", 0x12345678, {"a.txt"});
    catalogue.AddRow(disc, "\\", "sub", 0, 45000.5, true);
    catalogue.AddRow(disc, "\\sub\\", "c.txt");
    catalogue.Db().FlushAll();
  }
  RunProgram([] {
    auto browsers = [] {
      std::vector<TfrmSupportDisplay*> found;
      for (QMdiSubWindow* child : frmMain->ChildArea().subWindowList())
        if (auto* browser = qobject_cast<TfrmSupportDisplay*>(child->widget()))
          found.push_back(browser);
      return found;
    };
    mainAction("itmNewSearch")->trigger();
    auto* search = qobject_cast<TfrmSearch*>(frmMain->ChildArea().activeSubWindow()->widget());
    ASSERT_NE(search, nullptr);
    QTest::keyClicks(Child<QLineEdit>(*search, "edtFileMask"), "c.txt");
    Click(*search, "btnGo");
    auto* grid = Child<QTableView>(*search, "sgResults");
    ASSERT_EQ(grid->model()->rowCount(), 1);
    for (int twice = 0; twice < 2; twice++)
      DoubleClick(grid->viewport(), grid->visualRect(grid->model()->index(0, 1)).center());
    ASSERT_EQ(browsers().size(), 1u);
    const auto* tree = Child<QTreeWidget>(*browsers()[0], "tview");
    ASSERT_NE(tree->currentItem(), nullptr);
    EXPECT_EQ(tree->currentItem()->text(0), "sub");
    const auto* list = Child<QTreeWidget>(*browsers()[0], "lView");
    ASSERT_NE(list->currentItem(), nullptr);
    EXPECT_EQ(list->currentItem()->text(0), "c.txt");
    // The support list's browse command finds the same window.
    frmMain->ShowSupportDisplay(browsers()[0]->GetSupportId(), "", "");
    EXPECT_EQ(browsers().size(), 1u);
  });
}

TEST(TfrmMain, DataFolderFailureOrEscapedExceptionEndsWithCode1AfterItsBox) {
  const struct {
    const char* name;
    bool blockDataFolder;
    int language;      // [Misc] LangID with the built library, -1 without it
    const char* text;  // followed by the folder's path when blocked
    const char* caption;
  } cases[] = {
      {"data folder", true, -1, "Création répertoire impossible", "Attention"},
      {"exception", false, -1, "broken", "form_tests"},
      // Said in the language chosen, though the forms are gone.
      {"unknown exception, English", false, 0, "Unknown exception", "form_tests"},
      {"unknown exception, French", false, 1, "Exception inconnue", "form_tests"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove("QuendrixResDemo.dll");
    TestProgramFolder folder(c.language >= 0 ? BuiltLanguageLibrary() : std::string());
    TIniFile(folder.IniPath()).WriteInteger("Misc", "LangID", std::max(c.language, 0));
    if (c.blockDataFolder) testing_support::writeDiskFile("data", "not a folder");
    std::vector<bool> formsGone;
    ScopedMessageBoxes boxes([&](const BoxRequest& box) {
      EXPECT_EQ(box.text.toStdString(),
                c.text + (c.blockDataFolder ? folder.Folder() + "data" : std::string()));
      EXPECT_EQ(box.caption, c.caption);
      formsGone.push_back(frmMain == nullptr && dbWrapper == nullptr);
      return BoxAnswer::Ok;
    });
    ResetEngineForTests();
    EXPECT_EQ(RunEntryRoutine([&]() -> int {
                if (c.language >= 0) throw 42;
                throw std::runtime_error("broken");
              }),
              1);
    ResetEngineForTests();
    EXPECT_EQ(formsGone, std::vector<bool>{true});
    if (c.blockDataFolder) {
      EXPECT_EQ(testing_support::readDiskFile("data"), "not a folder");
      std::filesystem::remove("data");
    }
  }
}

TEST(TfrmMain, DatabaseErrorBoxWaitsUntilTheEngineCallHasReturned) {
  InitEngine();
  int open = 0;
  int deepest = 0;
  std::vector<QString> texts;
  ScopedMessageBoxes boxes([&](const BoxRequest& box) {
    deepest = std::max(deepest, ++open);
    texts.push_back(box.text);
    EXPECT_EQ(box.caption, "Erreur de base de données");
    EXPECT_EQ(box.modality, BoxModality::Plain);
    // An error while the box is open waits for it.
    if (texts.size() == 1) error4(&GlobalCode4(), e4read, 90077);
    QCoreApplication::processEvents();
    open--;
    return BoxAnswer::Ok;
  });
  {
    const ScopedDbErrorBoxes errorBoxes;
    EXPECT_EQ(error4(&GlobalCode4(), e4permiss, 90071), e4permiss);
    EXPECT_EQ(error4code(&GlobalCode4()), 0);  // cleared at once
    EXPECT_TRUE(texts.empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(texts.size(), 2u);
    // The last errors, raised as the catalogue closes, are shown as the
    // boxes go.
    error4(&GlobalCode4(), e4close, 90072);
  }
  ResetEngineForTests();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], "Error de base de données : Code1=-61\nCode2=90071\n");
  EXPECT_TRUE(texts[1].contains("Code1=-70\nCode2=90077"));
  EXPECT_TRUE(texts[2].contains("Code1=-10\nCode2=90072"));
  EXPECT_EQ(deepest, 1);
}

}  // namespace

#include "TfrmMain_form_test.moc"
