// TfrmStat: the statistics dialog: the totals of the whole catalogue and
// the space of the drive the program runs from (StatisticsReport.h), as
// ten lines of fixed-pitch text, counted anew each time it is shown.
#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

class TfrmStat : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmStat(QWidget* parent = nullptr);
  ~TfrmStat() override;

  // Captions 128 to 130.
  void ApplyLanguage();
  // Counts the supports and asks the drive; the lines in texts 131 to 138.
  void ComputeStats();

 private:
  QLabel* lblStatCap;
  QPlainTextEdit* meStats;
  QPushButton* btnOK;
};

extern TfrmStat* frmStat;
