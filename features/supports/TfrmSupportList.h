// TfrmSupportList: the child window of the main window that lists every
// support of the catalogue, one row each, and acts on one: browse it, edit
// its texts, export it, delete it (from the grid's popup menu).
//
// Made at the start and kept for the life of the program; it fills itself
// when shown, and the main window refreshes it after indexing, import and
// emptying. Closing it minimises it. The grid's column layout (shown
// columns, order, widths) lives in the ini file's section "SupportList",
// read when the window is made and written whenever it is asked to close.
#pragma once

#include <QWidget>
#include <cstdint>
#include <vector>

#include "features/supports/GridHeaderLayout.h"

class QAction;
class QLabel;
class QMenu;
class QModelIndex;
class QPushButton;
class QTableView;
class TSupportGridModel;

class TfrmSupportList : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* kLayoutSection = "SupportList";

  explicit TfrmSupportList(QWidget* parent = nullptr);
  ~TfrmSupportList() override;

  // Captions 159-161 and 173-176; the grid's titles follow.
  void ApplyLanguage();
  // One row per support of the catalogue; the main window's commands
  // follow.
  void RefreshList();
  // The main window's export and search commands are enabled exactly when
  // the list has a support.
  void UpdateMainCommands();
  // The support of grid row `row` (from 1) into the cache; its record
  // number, or -1 when there is none.
  int32_t LoadRow(int32_t row);
  // The grid's layout to the ini file; closing is allowed.
  bool FormCloseQuery();

  void sgSupportDataDblClick(const QModelIndex& cell);
  void itmBrowseSupportClick();
  void itmEditSuppPropClick();
  // Also the main window's tool button for exporting one support.
  void itmSupportExportClick();
  void itmDeleteSupportClick();
  void btnRefreshClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // The selected grid row (from 1), 0 when none.
  int32_t selectedRow() const;
  void selectRow(int32_t row);
  void browse(int32_t row);
  // The widths the columns take when the ini file has none for them.
  std::vector<int32_t> builtInWidths() const;

  // A title dropped on another column swaps the two (GridHeaderLayout).
  GridHeaderLayout layout_;
  TSupportGridModel* model_;
  QWidget* pnlCommand;
  QLabel* lblClic;
  QPushButton* btnRefresh;
  QTableView* sgSupportData;
  QMenu* popEditProp;
  QAction* itmBrowseSupport;
  QAction* itmEditSuppProp;
  QAction* itmSupportExport;
  QAction* itmDeleteSupport;
};

// The program's support list (the last one made), null when none.
extern TfrmSupportList* frmSupportList;
