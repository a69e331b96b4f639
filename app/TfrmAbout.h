// TfrmAbout: the about box: the program's icon, name and version, and the
// about text of the current language (empty without the language library).
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QTextEdit;

class TfrmAbout : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmAbout(QWidget* parent = nullptr);
  ~TfrmAbout() override;

  // Caption 40 and the button (241); the about text is strings 41 to 45
  // joined, each empty when missing.
  void ApplyLanguage();

 private:
  QLabel* imgIcon;
  QLabel* lblProdName;
  QLabel* lblProdVersion;
  QTextEdit* reDispAbout;
  QPushButton* btnOk;
};

// The program's about box (the last one made), null when none.
extern TfrmAbout* frmAbout;
