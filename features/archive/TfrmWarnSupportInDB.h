// TfrmWarnSupportInDB: the question an import asks when the catalogue
// already holds a support with the serial of the one it has just read:
// import it again, or pass it over; the answer may hold for the rest of
// the import ("don't ask again").
#pragma once

#include <QDialog>

#include "features/archive/ArchiveImport.h"

class QCheckBox;
class QLabel;
class QPushButton;

class TfrmWarnSupportInDB : public QDialog {
  Q_OBJECT

 public:
  // The results of the two buttons; the close box gives Rejected, which
  // passes the support over as btnNoImport does.
  static constexpr int kImportAgain = QDialog::Accepted;
  static constexpr int kNoImport = 3;

  explicit TfrmWarnSupportInDB(QWidget* parent = nullptr);
  ~TfrmWarnSupportInDB() override;

  // Captions 177 to 181.
  void ApplyLanguage();
  // Unticks "don't ask again": every import starts by asking.
  void ResetNoMoreAsk();
  // Asks, modally, in the current language.
  archive::DuplicateAnswer Ask();

 private:
  QLabel* lblSupportAlreadyPresent;
  QCheckBox* cbNoMoreAsk;
  QPushButton* btnNoImport;
  QPushButton* btnImportAgain;
};

extern TfrmWarnSupportInDB* frmWarnSupportInDB;
