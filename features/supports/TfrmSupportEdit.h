// TfrmSupportEdit: the dialog that edits the two texts a user gives a
// support: a short identification (at most 249 characters, as the
// catalogue keeps 250) and a long comment. The support list fills it,
// shows it, and stores its texts only when it ends with OK.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TfrmSupportEdit : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMaxShortComment = 249;

  explicit TfrmSupportEdit(QWidget* parent = nullptr);
  ~TfrmSupportEdit() override;

  // Captions 46 to 50, each falling back on the current one.
  void ApplyLanguage();

  // The volume name as the title, and the two texts to edit; the long
  // comment with LF line ends (QtText.h: fromAnsiMemo). Typing stops at
  // kMaxShortComment characters, but a longer stored short comment (the
  // field holds 250) is shown and given back whole.
  void SetSupport(const QString& volume, const QString& shortComment, const QString& longComment);
  QString ShortComment() const;
  QString LongComment() const;

 private:
  QLabel* stTitle;
  QLabel* lblYourID;
  QLineEdit* edtShortComment;
  QLabel* lblYourComment;
  QPlainTextEdit* meLongComment;
  QPushButton* btnOk;
  QPushButton* btnClose;
};

// The program's support editor (the last one made), null when none.
extern TfrmSupportEdit* frmSupportEdit;
