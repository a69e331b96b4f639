// TfrmImport: the import dialog: adds the supports and files of an
// archive to the catalogue (ArchiveImport.h), asking through
// TfrmWarnSupportInDB about supports whose serial the catalogue holds
// already, and traces what it added and passed over.
//
// The main window calls ApplyLanguage and ResetTrace, shows it modally,
// then recounts the supports and refreshes the support list. Stop ends an
// import after the line being read; what was added stays. The archive's
// path and the open dialog's folder are kept in the ini file, section
// "Import".
#pragma once

#include "app/BusyDialog.h"

namespace archive {
struct ImportResult;
}

class QFileDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

class TfrmImport : public BusyDialog {
  Q_OBJECT

 public:
  explicit TfrmImport(QWidget* parent = nullptr);
  ~TfrmImport() override;

  // Captions 64 to 68 and 238 (Stop), and the open dialog's filter (69,
  // 70).
  void ApplyLanguage();
  // Empties the trace and the progress text.
  void ResetTrace();

 protected:
  void FormCloseQuery() override;

 private:
  void btnSelectTargetClick();
  void btnImportClick();
  void runImport(const QString& path);
  // The boxes and closing trace lines of an import that has ended.
  void reportEnd(const archive::ImportResult& result, const QString& path);
  void showRunning(bool running);

  QLabel* lblInfile;
  QLineEdit* edtTargetArchive;
  QPushButton* btnSelectTarget;
  QListWidget* lbTrace;
  QPushButton* btnImport;
  QPushButton* btnStop;
  QPushButton* btnClose;
  QLabel* lblProgress;
  QProgressBar* pgBar;
  QFileDialog* openDlg;

  bool stop_ = false;
};

extern TfrmImport* frmImport;
