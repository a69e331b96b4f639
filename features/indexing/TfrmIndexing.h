// TfrmIndexing: the modal dialog that turns one medium into one support of
// the catalogue, in three steps:
//   1. the volume facts of the chosen drive and the walk of its whole tree
//      (DirEnumerator), with a warning when the catalogue already holds
//      supports of the same serial number;
//   2. the files' digests: its panel is hidden and the step passed at once;
//   3. the support and one row per entry, in walk order (MediumIndexing.h).
//
// Made once at program start and kept (the global frmIndexing); before each
// showing the main window calls ApplyLanguage and ResetIndexing, shows it
// through RunModal, and afterwards refreshes the support list.
//
// The walk and the insertion let the window breathe every 100 entries, so
// a click on Close (or the window's close, or Escape) can come in while
// they run: it stops the walk after the current entry, lets an insertion
// finish, and closes the dialog once the running step has returned.
#pragma once

#include "app/BusyDialog.h"
#include "catalog/Mediatypes.h"
#include "features/indexing/DirEnumerator.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;

class TfrmIndexing : public BusyDialog {
  Q_OBJECT

 public:
  explicit TfrmIndexing(QWidget* parent = nullptr);
  ~TfrmIndexing() override;

  // Captions 82 to 94 and 106, each falling back on the current one.
  void ApplyLanguage();
  // Back to the start: the drives listed anew (the drive chosen stays
  // chosen while it is there, whatever its mount point now), the scan and
  // the trace emptied, the steps after the first unavailable. The comments
  // stay for the next medium. Nothing while a step runs.
  void ResetIndexing();

  // A close asked while the walk runs also stops the walk.
  void done(int result) override;

 protected:
  void FormCloseQuery() override;

 private:
  QFrame* buildStage1();
  QFrame* buildStage2();
  QFrame* buildStage3();

  void FillDriveList();
  void btnIndexStartClick();
  void ScanProgress(TFileEntry& entry, int32_t number);
  void btnAuthenticateClick();
  void btnAuthenticateSkipClick();
  void btnInsertDatabaseClick();

  // Step 1 on the drive mounted at `root`.
  void scanDrive(const std::string& root);
  void insertScan();
  void setButtons(bool start, bool sign, bool reset, bool insert);
  void addTrace(const QString& line);

  QLabel* lblStage1;
  QPushButton* btnIndexStart;
  QComboBox* lbDriveList;
  QCheckBox* cbZipIndex;
  QLabel* lblInfos;
  QListWidget* lbTrace;
  QFrame* pnlSign;
  QLabel* lblStage2;
  QPushButton* btnAuthenticate;
  QPushButton* btnAuthenticateSkip;
  QProgressBar* pgAuthentication;
  QLabel* lblStage3;
  QLabel* lblYourID;
  QLabel* lblYourComment;
  QLineEdit* edtShortComment;
  QPlainTextEdit* meLongComment;
  QProgressBar* pgInsertion;
  QPushButton* btnCancel;
  QPushButton* btnReset;
  QPushButton* btnInsertDatabase;
  QStatusBar* statBar;

  DirEnumerator scan;
  TVolumeInfo volume;  // of the drive last scanned
};

extern TfrmIndexing* frmIndexing;
