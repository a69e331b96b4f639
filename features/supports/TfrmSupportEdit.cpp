#include "features/supports/TfrmSupportEdit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/LocalText.h"
#include "app/Named.h"

TfrmSupportEdit* frmSupportEdit = nullptr;

namespace {

constexpr int kClientWidth = 430;
constexpr int kClientHeight = 361;

}  // namespace

TfrmSupportEdit::TfrmSupportEdit(QWidget* parent)
    : QDialog(parent),
      stTitle(Named(new QLabel, "stTitle")),
      lblYourID(
          Named(new QLabel(QStringLiteral("Votre identification du support :")), "lblYourID")),
      edtShortComment(Named(new QLineEdit, "edtShortComment")),
      lblYourComment(Named(new QLabel(QStringLiteral("Commentaire long :")), "lblYourComment")),
      meLongComment(Named(new QPlainTextEdit, "meLongComment")),
      btnOk(Named(new QPushButton(QStringLiteral("OK")), "btnOk")),
      btnClose(Named(new QPushButton(QStringLiteral("Fermer")), "btnClose")) {
  setObjectName(QStringLiteral("frmSupportEdit"));
  setWindowTitle(QString::fromUtf8("Propriétés du support"));
  resize(kClientWidth, kClientHeight);

  QFont bold = stTitle->font();
  bold.setBold(true);
  stTitle->setFont(bold);
  stTitle->setTextFormat(Qt::PlainText);
  edtShortComment->setMaxLength(kMaxShortComment);
  lblYourID->setBuddy(edtShortComment);
  lblYourComment->setBuddy(meLongComment);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOk);
  buttons->addWidget(btnClose);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(stTitle);
  layout->addSpacing(6);
  layout->addWidget(lblYourID);
  layout->addWidget(edtShortComment);
  layout->addWidget(lblYourComment);
  layout->addWidget(meLongComment, 1);
  layout->addLayout(buttons);

  btnOk->setDefault(true);
  connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
  frmSupportEdit = this;
}

TfrmSupportEdit::~TfrmSupportEdit() {
  if (frmSupportEdit == this) frmSupportEdit = nullptr;
}

void TfrmSupportEdit::ApplyLanguage() {
  setWindowTitle(LocalText(46, windowTitle()));
  lblYourID->setText(LocalText(47, lblYourID->text()));
  lblYourComment->setText(LocalText(48, lblYourComment->text()));
  btnOk->setText(LocalText(49, btnOk->text()));
  btnClose->setText(LocalText(50, btnClose->text()));
}

void TfrmSupportEdit::SetSupport(const QString& volume, const QString& shortComment,
                                 const QString& longComment) {
  stTitle->setText(volume);
  edtShortComment->setMaxLength(std::max<int>(kMaxShortComment, shortComment.size()));
  edtShortComment->setText(shortComment);
  meLongComment->setPlainText(longComment);
}

QString TfrmSupportEdit::ShortComment() const { return edtShortComment->text(); }

QString TfrmSupportEdit::LongComment() const { return meLongComment->toPlainText(); }
