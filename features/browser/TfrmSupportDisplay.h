// TfrmSupportDisplay: the window that shows one support as its medium
// looked: the support's facts above, the tree of its directories (and
// ".zip" files) on the left, the contents of the directory clicked on the
// right, sortable by column, and the support's numbers in the status bar.
// An MDI child of the main window, one per support; closing destroys it.
//
// The main window makes it (TfrmMain::ShowSupportDisplay): construct,
// LoadSupport, LocateFile when a file is to be shown, ApplyLanguage, show;
// and finds an open one by GetSupportId. The tree is built once, when the
// support is loaded; each listing is read afresh from the catalogue.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "features/browser/DirectoryListing.h"

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;
class SupportBrowser;
class SupportTreeNode;

class TfrmSupportDisplay : public QWidget {
  Q_OBJECT

 public:
  explicit TfrmSupportDisplay(QWidget* parent = nullptr);
  ~TfrmSupportDisplay() override;

  // Shows the support's facts and builds its tree; once per window. A
  // support without rows says so in a notice and shows the root alone.
  void LoadSupport(int32_t supportId);
  int32_t GetSupportId() const { return supportId_; }
  // Opens the tree at the directory `path` (as F_PATH stores it, '\'
  // separated), lists it and selects the file `fileName` in the list
  // (Windows-1252, exact names). Nothing changes when the directory is not
  // in the tree; the directory is listed without a selection when the file
  // is not in it.
  void LocateFile(const std::string& path, const std::string& fileName);

  // Captions 139 to 158 and 240 (the md5 column), the caption (UpdateTitle)
  // and the status texts.
  void ApplyLanguage();
  // Caption: text 139, " [" + the id as "%05d" + "] ", the serial, two
  // blanks and the volume name.
  void UpdateTitle();
  // The four status panels: entries, bytes, files and folders, the dates.
  void UpdateStatus();

 private:
  void buildLayout();
  void fillTree();
  QTreeWidgetItem* treeItem(const SupportTreeNode& node);
  // Lists the directory of a tree node, as a click on it does.
  void listNode(QTreeWidgetItem& item);
  void showListing(DirectoryListing listing, const QString& shown);
  void fillList();
  // The listed folder's count and size (statusDir).
  void showFolderStatus();
  void tviewClick(QTreeWidgetItem* item);
  void lViewDblClick(QTreeWidgetItem* item);
  void lViewColumnClick(int column);
  void itmExpandNodeClick();
  void itmCollapseNodeClick();

  QFrame* pnlCommand;
  QFrame* Panel1;
  QLabel* lblVolumeID;
  QLabel* lblCapVolName;
  QLabel* lblVolName;
  QLabel* lblCapSerial;
  QLabel* lblVolSerial;
  QLabel* lblCaptionYourID;
  QLabel* lblYourComment;
  QPlainTextEdit* meLongComment;
  QPushButton* btnClose;
  QTreeWidget* tview;
  QMenu* popupTree;
  QAction* itmExpandNode;
  QAction* itmCollapseNode;
  QLabel* lblCapContent;
  QLineEdit* edtPath;
  QTreeWidget* lView;
  QLabel* statusDir;
  QStatusBar* statusBar;
  QLabel* statusPanels[4];

  std::unique_ptr<SupportBrowser> browser_;
  // The tree item of each node, and the item whose directory is listed.
  std::unordered_map<const SupportTreeNode*, QTreeWidgetItem*> items_;
  QTreeWidgetItem* listed_ = nullptr;
  DirectoryListing listing_;
  int32_t supportId_ = 0;
  // S_FCOUNT and S_SIZE of the support record.
  int32_t entryCount_ = 0;
  int64_t byteCount_ = 0;
  QString volumeName_;
  QString serialText_;
};
