// TfrmExport: the export dialog: writes the whole catalogue, or one
// support of it, to an archive file (ArchiveExport.h) and traces what it
// wrote.
//
// The main window exports the whole catalogue (SetExportScope(-1), then
// ApplyLanguage and a modal showing); the support list exports the support
// it has selected. The archive's path and the save dialog's folder are kept
// in the ini file, section "Export".
#pragma once

#include <QString>
#include <cstdint>

#include "app/BusyDialog.h"

class QFileDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

class TfrmExport : public BusyDialog {
  Q_OBJECT

 public:
  explicit TfrmExport(QWidget* parent = nullptr);
  ~TfrmExport() override;

  // -1 exports the whole catalogue, any other value the support of that
  // S_ID. Clears the trace and the progress; an existing archive will be
  // overwritten only when the user agrees (or chose it in the save dialog).
  void SetExportScope(int32_t id);
  // Captions 51 to 57, the scope (53 or 232) and the save dialog's filter
  // (58, 59).
  void ApplyLanguage();

 protected:
  void FormCloseQuery() override;

 private:
  void btnSelectTargetClick();
  void btnSaveClick();
  // False when an existing file is not to be overwritten.
  bool mayWrite(const QString& path);
  void showScope();
  void runExport(const QString& path);

  QLabel* lblExploreWhat;
  QLabel* lblWhatToExport;
  QLabel* lblOutFile;
  QLineEdit* edtTargetArchive;
  QPushButton* btnSelectTarget;
  QListWidget* lbTrace;
  QPushButton* btnSave;
  QPushButton* btnClose;
  QLabel* lblProgress;
  QProgressBar* pgBar;
  QFileDialog* saveDlg;

  int32_t scope_ = -1;
  // The path the save dialog confirmed (it asked about overwriting); empty
  // when every existing file is to be asked about.
  QString confirmedPath_;
};

extern TfrmExport* frmExport;
