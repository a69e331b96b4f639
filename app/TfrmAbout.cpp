#include "app/TfrmAbout.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTextEdit>

#include "app/LocalText.h"
#include "app/Named.h"
#include "app/TfrmData.h"

TfrmAbout* frmAbout = nullptr;

namespace {

constexpr int kIconSize = 48;

// The application's icon, or the style's picture of a disc until the
// program has an icon of its own.
QPixmap applicationPicture(const QWidget& widget) {
  QIcon icon = QApplication::windowIcon();
  if (icon.isNull()) icon = widget.style()->standardIcon(QStyle::SP_DriveCDIcon);
  return icon.pixmap(kIconSize, kIconSize);
}

}  // namespace

TfrmAbout::TfrmAbout(QWidget* parent)
    : QDialog(parent),
      imgIcon(Named(new QLabel, "imgIcon")),
      lblProdName(Named(new QLabel, "lblProdName")),
      lblProdVersion(Named(new QLabel, "lblProdVersion")),
      reDispAbout(Named(new QTextEdit, "reDispAbout")),
      btnOk(Named(new QPushButton(QStringLiteral("OK")), "btnOk")) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("A propos"));
  resize(420, 320);

  imgIcon->setPixmap(applicationPicture(*this));
  QFont large = lblProdName->font();
  large.setPointSizeF(large.pointSizeF() * 1.4);
  large.setBold(true);
  lblProdName->setFont(large);
  if (frmData != nullptr) {
    lblProdName->setText(frmData->ProductName());
    lblProdVersion->setText(frmData->Version());
  }
  reDispAbout->setReadOnly(true);

  auto* header = new QGridLayout;
  header->addWidget(imgIcon, 0, 0, 2, 1, Qt::AlignTop);
  header->addWidget(lblProdName, 0, 1);
  header->addWidget(lblProdVersion, 1, 1);
  header->setColumnStretch(1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOk);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(header);
  layout->addWidget(reDispAbout, 1);
  layout->addLayout(buttons);
  btnOk->setDefault(true);
  connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);

  ApplyLanguage();
  frmAbout = this;
}

TfrmAbout::~TfrmAbout() {
  if (frmAbout == this) frmAbout = nullptr;
}

void TfrmAbout::ApplyLanguage() {
  setWindowTitle(LocalText(40, windowTitle()));
  btnOk->setText(LocalText(241, btnOk->text()));
  QString text;
  for (int32_t id = 41; id <= 45; id++) text += LocalText(id, QString());
  reDispAbout->setPlainText(text);
}
