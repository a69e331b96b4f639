// TfrmParameters: the preferences dialog: the interface language, loaded
// at once when chosen and kept in the ini file ([Misc] LangID, the entry
// index of the language library) when the dialog ends with OK; and the
// tool bar, shown or hidden at once when the user ticks the box.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

class TfrmParameters : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmParameters(QWidget* parent = nullptr);
  ~TfrmParameters() override;

  // Captions 182 to 185, each falling back on the current one.
  void ApplyLanguage();
  // Sets the tool bar box without acting on the tool bar.
  void SetToolBarCheck(bool checked);

 signals:
  // The user ticked or unticked the tool bar box: the main window inverts
  // its tool bar.
  void toolBarClicked();

 private:
  void cbLanguageSelectChange(int index);
  void cbDisplayToolBarsClick();
  void btnOkClick();

  QLabel* lblSelectLanguage;
  QComboBox* cbLanguageSelect;
  QCheckBox* cbDisplayToolBars;
  QPushButton* btnOk;
  // False while the program itself sets the tool bar box.
  bool armed_ = true;
};

// The program's preferences dialog (the last one made), null when none.
extern TfrmParameters* frmParameters;
