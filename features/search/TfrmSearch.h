// TfrmSearch: the window that finds files in the whole catalogue by a name
// mask (wildcards *, ? and [set]), with an optional range of dates and of
// sizes and a limit on the number of hits. An MDI child of the main window;
// any number may be open at once, each searching on its own.
//
// A search runs on the interface thread and lets the program breathe at
// its pauses (every 50 visited records, at most every few tens of
// milliseconds, through PumpMessages): the Stop button, this window's limit
// slider and other windows respond there, and the hits found so far appear.
// Meanwhile the window refuses to close and a second Go is refused; other
// windows must not change the catalogue under it: the main window refuses
// its emptying, deleting, indexing and importing commands while
// AnySearchRunning() holds.
//
// The results grid keeps its column layout (shown columns, order, widths)
// in section "SearchGrid" of the ini file, written when the window closes.
// Closing destroys the window.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "features/search/FileSearch.h"

class GridHeaderLayout;
class QCheckBox;
class QDateEdit;
class QFrame;
class QLabel;
class QLineEdit;
class QModelIndex;
class QProgressBar;
class QPushButton;
class QSlider;
class QTableView;
class SearchResultsModel;
class ThrottledPump;

class TfrmSearch : public QWidget, private SearchObserver {
  Q_OBJECT

 public:
  explicit TfrmSearch(QWidget* parent = nullptr);
  ~TfrmSearch() override;

  // Captions 107 to 118 and 239 (Stop), the column titles 119 to 126, the
  // caption made from the mask, each falling back on the current one, and
  // the count found (127).
  void ApplyLanguage();

  // Whether this window is searching.
  bool IsSearching() const { return busy_; }
  // Whether any search window of the program is searching.
  static bool AnySearchRunning() { return running_ > 0; }

 signals:
  // A double click on a hit: the main window opens the support's browser on
  // the file's folder and selects the file (TfrmMain::ShowSupportDisplay).
  // The path is F_PATH as stored (a compact "@<id>:" path stays compact),
  // path and name are Windows-1252 bytes. Emitted from the interface
  // thread; connect directly (the texts live for the call only).
  void OpenHitRequested(int32_t supportId, const std::string& path, const std::string& fileName);

 protected:
  // Refused while searching; otherwise stops and keeps the grid's layout.
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildLayout();
  void edtFileMaskChange();
  void tbMaxFilesChange(int position);
  void cbCheckDateClick();
  void cbCheckSizeClick();
  void btnGoClick();
  void btnStopClick();
  void btnCloseClick();
  void sgResultsDblClick(const QModelIndex& index);
  // The filters as the controls give them, read once before a search.
  SearchCriteria criteria() const;
  void showCount();

  // SearchObserver
  void Started(int32_t recordCount) override;
  void HitsFound(std::span<const SearchHit> hits) override;
  void Pause(int32_t visited) override;
  int32_t HitLimit() override;
  bool StopRequested() override;

  QFrame* pnlCommand;
  QLabel* lblDbleClick;
  QPushButton* btnClose;
  QLabel* lblMask;
  QLineEdit* edtFileMask;
  QPushButton* btnGo;
  QPushButton* btnStop;
  QLabel* lblFileFound;
  QLabel* lblLimit;
  QSlider* tbMaxFiles;
  QLabel* lblMaxFind;
  QProgressBar* pgSearch;
  QCheckBox* cbCheckDate;
  QWidget* pnlDateOptions;
  QLabel* lblDateMin;
  QCheckBox* cbDtPick1;  // the picker's own box: the bound counts when ticked
  QDateEdit* dtPick1;
  QLabel* lblDateMax;
  QCheckBox* cbDtPick2;
  QDateEdit* dtPick2;
  QCheckBox* cbCheckSize;
  QWidget* pnlSizeOptions;
  QLabel* lblSizeMin;
  QLineEdit* edtSizeMin;
  QLabel* lblSizeMax;
  QLineEdit* edtSizeMax;
  QTableView* sgResults;

  std::unique_ptr<GridHeaderLayout> layout_;
  SearchResultsModel* results_;
  std::unique_ptr<ThrottledPump> pump_;
  bool stop_ = false;
  bool busy_ = false;
  // Search windows searching, program-wide (interface thread only).
  static int running_;
};
