#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QTableView>
#include <QToolBar>
#include <algorithm>
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
#include "app/TfrmParameters.h"
#include "catalog/Engine.h"
#include "catalog/Udbwrapper.h"
#include "engine/storage/error4.h"
#include "features/supports/TfrmSupportEdit.h"
#include "features/supports/TfrmSupportList.h"
#include "tests/support/disk_file.h"
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

// A menu's items as captions, "-" for a separator.
QStringList items(const QMenu& menu) {
  QStringList captions;
  for (const QAction* item : menu.actions()) captions << (item->isSeparator() ? "-" : item->text());
  return captions;
}

QMdiSubWindow* addChild(QWidget* form, const QString& caption) {
  form->setWindowTitle(caption);
  return frmMain->AddChildWindow(*form);
}

TEST(TfrmMain, FirstStartMakesTheCatalogueAndShowsAnEmptyList) {
  TestProgramFolder folder;
  ScriptedMessageBoxes boxes;
  EXPECT_FALSE(std::filesystem::exists("data"));
  const int code = RunProgram([] {
    // The list, maximised, adds its caption after the program's.
    EXPECT_TRUE(frmMain->windowTitle().startsWith("Kavri Vantrelodisk v1.01"));
    const QList<QMdiSubWindow*> children = frmMain->ChildArea().subWindowList();
    ASSERT_EQ(children.size(), 1);
    EXPECT_EQ(children[0]->widget(), frmSupportList);
    EXPECT_TRUE(frmSupportList->isVisible());
    EXPECT_EQ(listRows(), 0);
    for (const char* name :
         {"sbExport", "sbSearch", "sbSuppExport", "itmExportBase", "itmNewSearch"})
      EXPECT_FALSE(mainAction(name)->isEnabled()) << name;
    EXPECT_TRUE(mainAction("itmImportBase")->isEnabled());
    EXPECT_FALSE(mainAction("sbPref")->isVisible());
    EXPECT_FALSE(mainAction("sbSmartSearch")->isVisible());
  });
  EXPECT_EQ(code, 0);
  std::set<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator("data")) {
    std::string name = entry.path().filename().string();
    std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    files.insert(name);
  }
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
  for (const QObject* form :
       {static_cast<QObject*>(frmMain), static_cast<QObject*>(frmSupportEdit)}) {
    for (const QAction* item : form->findChildren<QAction*>())
      if (!item->objectName().isEmpty())
        all[item->objectName().toStdString()] = item->text().toStdString();
    for (const QMenu* menu : form->findChildren<QMenu*>())
      if (!menu->objectName().isEmpty())
        all[menu->objectName().toStdString()] = menu->title().toStdString();
    for (const QAbstractButton* button : form->findChildren<QAbstractButton*>())
      if (!button->text().isEmpty())
        all[button->objectName().toStdString()] = button->text().toStdString();
    for (const QLabel* label : form->findChildren<QLabel*>())
      if (!label->objectName().isEmpty())
        all[label->objectName().toStdString()] = label->text().toStdString();
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
    std::filesystem::remove_all("data");
  }
  EXPECT_GT(builtIn.size(), 55u);
  EXPECT_EQ(french, builtIn);
  EXPECT_EQ(builtIn["itmOrganize"], "Réorganiser les fenêtres");
  EXPECT_EQ(builtIn["title 3"], "N° série");
  EXPECT_EQ(english["itmFile"], "&File");
  EXPECT_EQ(english["sbSuppExport"], "Export medium");
  EXPECT_EQ(english["title 3"], "Serial no.");
  EXPECT_EQ(english["btnClose"], "Close");
}

TEST(TfrmMain, ToolBarAndPlacementSurviveARestart) {
  TestProgramFolder folder;
  ScriptedMessageBoxes boxes;
  RunProgram([] {
    QToolBar* toolBar = Find<QToolBar>(*frmMain, "pnlToolBar");
    EXPECT_TRUE(toolBar->isVisible());
    // The preferences' box shows the tool bar's state without acting on
    // it; ticking it acts at once.
    ScriptedModals modals([&](QDialog& dialog) {
      QCheckBox* box = Find<QCheckBox>(dialog, "cbDisplayToolBars");
      EXPECT_TRUE(box->isChecked());
      EXPECT_TRUE(toolBar->isVisible());
      box->click();
      EXPECT_FALSE(toolBar->isVisible());
      box->click();
      EXPECT_TRUE(toolBar->isVisible());
    });
    mainAction("itmPreferences")->trigger();
    EXPECT_EQ(modals.Count(), 1);

    mainAction("itmToolBar")->trigger();
    EXPECT_FALSE(toolBar->isVisible());
    frmMain->move(40, 50);
    frmMain->resize(700, 420);
    EXPECT_TRUE(frmMain->close());
  });
  const TIniFile ini(folder.IniPath());
  EXPECT_EQ(ini.ReadInteger("Misc", "ToolBars", -1), 0);
  EXPECT_EQ(ini.ReadInteger("MainForm", "Width", -1), 700);
  EXPECT_EQ(ini.ReadInteger("MainForm", "Height", -1), 420);

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
    EXPECT_EQ(listRows(), 2);
    EXPECT_TRUE(mainAction("sbSearch")->isEnabled());
    mainAction("itmEmptyBase")->trigger();
    EXPECT_EQ(listRows(), 2);
    EXPECT_EQ(dbWrapper->GetSupportCount(), 2);
    mainAction("itmEmptyBase")->trigger();
    EXPECT_EQ(listRows(), 0);
    EXPECT_EQ(dbWrapper->GetSupportCount(), 0);
    EXPECT_FALSE(dbWrapper->SeekFirstFileOfSupport(1));
    EXPECT_FALSE(mainAction("sbSearch")->isEnabled());
  });
  ASSERT_EQ(boxes.Shown().size(), 2u);
  EXPECT_EQ(boxes.Shown()[1].text, "Etes vous sur de vouloir tout effacer");
  EXPECT_EQ(boxes.Shown()[1].caption, "Attention");
  EXPECT_EQ(boxes.Shown()[1].buttons, BoxButtons::YesNo);
  EXPECT_EQ(boxes.Shown()[1].modality, BoxModality::System);
}

TEST(TfrmMain, DisplayMenuListsTheSearchesThenTheBrowsers) {
  TestProgramFolder folder;
  RunProgram([] {
    QMenu* display = Find<QMenu>(*frmMain, "itmDisplay");
    const QStringList own = {"Liste des supports", "-", "Barre d'outil",
                             QString::fromUtf8("Réorganiser les fenêtres"), "-"};
    auto* search = new window_list_test::TfrmSearch;
    addChild(search, "Recherche 1");
    for (int i = 0; i < 2; i++) {
      emit display->aboutToShow();
      EXPECT_EQ(items(*display), own + QStringList({"Recherche 1", "-"}));
    }
    addChild(new window_list_test::TfrmSupportDisplay, "DISC & CO");
    addChild(new window_list_test::TfrmSearch, "Recherche 2");
    emit display->aboutToShow();
    emit display->aboutToShow();
    EXPECT_EQ(items(*display),
              own + QStringList({"Recherche 1", "Recherche 2", "-", "DISC && CO"}));

    // A window's item brings it back from an icon to the front.
    QMdiSubWindow* searchWindow = frmMain->ChildArea().subWindowList()[1];
    ASSERT_EQ(searchWindow->widget(), search);
    searchWindow->showMinimized();
    display->actions()[5]->trigger();
    EXPECT_FALSE(searchWindow->isMinimized());
    EXPECT_EQ(frmMain->ChildArea().activeSubWindow(), searchWindow);

    // Tiled side by side: four windows over the whole width, each as high
    // as the area; one above the other: as wide as the area.
    const QSize area = frmMain->ChildArea().viewport()->size();
    mainAction("itmFormTileVert")->trigger();
    std::set<int> lefts;
    for (QMdiSubWindow* child : frmMain->ChildArea().subWindowList()) {
      EXPECT_EQ(child->geometry().top(), 0);
      EXPECT_EQ(child->height(), area.height());
      lefts.insert(child->geometry().left());
    }
    EXPECT_EQ(lefts.size(), 4u);
    mainAction("itmFormTileHoriz")->trigger();
    for (QMdiSubWindow* child : frmMain->ChildArea().subWindowList())
      EXPECT_EQ(child->width(), area.width());
  });
}

TEST(TfrmMain, ClosingSavesTheChildrensLayoutsAndCanBeRefusedByOne) {
  TestProgramFolder folder;
  RunProgram([] {
    // A child that refuses to close (a search at work) keeps the program.
    class Busy : public QWidget {
     protected:
      void closeEvent(QCloseEvent* event) override { event->ignore(); }
    };
    auto* busy = new Busy;
    QMdiSubWindow* child = frmMain->AddChildWindow(*busy);
    EXPECT_FALSE(frmMain->close());
    EXPECT_TRUE(frmMain->isVisible());
    // The list was asked first and saved its layout.
    EXPECT_EQ(TIniFile(IniFilePath()).ReadInteger("SupportList", "Width.0", -1), 100);
    EXPECT_EQ(TIniFile(IniFilePath()).ReadInteger("MainForm", "Width", -1), -1);
    delete child;
    EXPECT_TRUE(frmMain->close());
    EXPECT_NE(TIniFile(IniFilePath()).ReadInteger("MainForm", "Width", -1), -1);
  });
}

TEST(TfrmMain, DataFolderFailureOrEscapedExceptionEndsWithCode1AfterItsBox) {
  const struct {
    const char* name;
    bool blockDataFolder;
    const char* text;  // after the folder's path when blocked
    const char* caption;
  } cases[] = {
      {"data folder", true, "Création répertoire impossible", "Attention"},
      {"exception", false, "broken", "form_tests"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestProgramFolder folder;
    if (c.blockDataFolder) testing_support::writeDiskFile("data", "not a folder");
    std::vector<bool> formsGone;
    ScopedMessageBoxes boxes([&](const BoxRequest& box) {
      std::string expected = c.text;
      if (c.blockDataFolder) expected += folder.Folder() + "data";
      EXPECT_EQ(box.text.toStdString(), expected);
      EXPECT_EQ(box.caption, c.caption);
      formsGone.push_back(frmMain == nullptr && dbWrapper == nullptr);
      return BoxAnswer::Ok;
    });
    ResetEngineForTests();
    EXPECT_EQ(RunEntryRoutine([]() -> int { throw std::runtime_error("broken"); }), 1);
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
    EXPECT_EQ(box.caption, QString::fromUtf8("Erreur de base de données"));
    EXPECT_EQ(box.modality, BoxModality::Plain);
    // An error while the box is open waits for it.
    if (texts.size() == 1) error4(&GlobalCode4(), e4write, 90075);
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
  EXPECT_EQ(texts[0], QString::fromUtf8("Error de base de données : Code1=-61\nCode2=90071\n"));
  EXPECT_TRUE(texts[1].contains("Code1=-120\nCode2=90075"));
  EXPECT_TRUE(texts[2].contains("Code2=90072"));
  EXPECT_EQ(deepest, 1);
}

}  // namespace

#include "TfrmMain_form_test.moc"
