// TfrmMain: the program's main window: menus, a tool bar and a status bar
// around the area where the child windows (the support list, searches and
// support browsers) live.
//
// Its construction sets the program up: the application context
// (TfrmData), the data folder beside the executable, the catalogue (the
// global `dbWrapper`, owned here), the placement and tool bar kept in the
// ini file ([MainForm] Left, Top, Width, Height; [Misc] ToolBars) and the
// interface texts. Its destruction closes the catalogue, after the child
// windows it still holds.
//
// One instance, reached by every form through the global frmMain (null
// before and after).
#pragma once

#include <QMainWindow>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

class QAction;
class QCloseEvent;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QToolBar;
class CWinCHMHelp;
class TDBWrapper;
class TfrmData;

// The data folder cannot serve: it could not be made, or another process
// holds its catalogue. The user has been told already.
class TDataFolderError : public std::runtime_error {
 public:
  TDataFolderError(const std::string& reason, const std::string& folder)
      : std::runtime_error("data folder " + reason + ": " + folder) {}
};

class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  // Throws TDataFolderError, after its box, when the data folder is not a
  // folder and cannot be made, or when another process holds its catalogue.
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;

  // Every caption from the language strings (ids 1-21, 26-34, 36-38), then
  // the browsers', the searches' and the support list's own.
  void ApplyLanguage();

  // Brings up the browser of a support: the open one when there is one
  // (restored and brought to front), else a new one; with a file name, the
  // browser shows that file of `path`. Texts are Windows-1252 bytes.
  void ShowSupportDisplay(int32_t supportId, const std::string& path, const std::string& fileName);

  // Places `form` in a child window of the main window and shows it; the
  // child window keeps the form's caption.
  QMdiSubWindow* AddChildWindow(QWidget& form);
  QMdiArea& ChildArea() { return *mdiArea; }

  // The commands that need a support in the catalogue: exporting the
  // catalogue or the selected support, and searching.
  void EnableSupportCommands(bool enabled);

  // The commands, shared by the menu items and the tool buttons.
  void itmImportBaseClick();
  void itmExportBaseClick();
  void itmInfoBaseClick();
  void itmQuitClick();
  void itmSupportIndexClick();
  void itmEmptyBaseClick();
  void itmDisplayClick();
  void itmSupportListClick();
  void itmToolBarClick();
  void itmFormCascadClick();
  void itmFormTileVertClick();
  void itmFormTileHorizClick();
  void itmNewSearchClick();
  void itmPreferencesClick();
  void itmCommonHelpClick();
  // Both web items: the page depends on the item that sent it.
  void itmSendFeedBackClick();
  void itmAboutClick();
  void sbSuppExportClick();
  void itmGoFormClick(QMdiSubWindow* child);
  void sbSmartSearchClick();

 protected:
  // The children's close queries first (a child may refuse), then the
  // placement and the tool bar setting go to the ini file.
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMenus();
  void buildToolBar();
  QAction* menuItem(QMenu* menu, const char* name, const char* caption,
                    void (TfrmMain::*handler)());
  QAction* toolButton(const char* name, const char* caption, int icon, void (TfrmMain::*handler)());
  QAction* action(const char* name) const;
  QMenu* menu(const char* name) const;
  // Asks every child window whether it may close; false when one refuses.
  bool childrenMayClose();
  void formClose();
  // Writes what the catalogue holds before the window goes, saying once
  // when the disk refuses it.
  void writeBeforeClosing();
  void tile(bool sideBySide);
  void bringToFront(QMdiSubWindow* child);
  // The data folder made when missing; throws TDataFolderError after the
  // box when that fails.
  // One box at the start when the language library in place was refused.
  void tellRefusedLanguageLibrary();
  std::string prepareDataFolder();
  // Tells the user that another process holds the catalogue of `folder`,
  // then throws TDataFolderError.
  [[noreturn]] void refuseHeldCatalogue(const std::string& folder);

  std::unique_ptr<TfrmData> data_;
  std::unique_ptr<TDBWrapper> db_;
  // Made by the first help command.
  std::unique_ptr<CWinCHMHelp> help_;
  QMenuBar* MainMenu1;
  QToolBar* pnlToolBar;
  QStatusBar* StatusBar1;
  QMdiArea* mdiArea;
};

extern TfrmMain* frmMain;
