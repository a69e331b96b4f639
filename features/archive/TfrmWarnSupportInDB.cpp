#include "features/archive/TfrmWarnSupportInDB.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/LocalText.h"
#include "app/ModalRunner.h"
#include "app/Named.h"

TfrmWarnSupportInDB* frmWarnSupportInDB = nullptr;

TfrmWarnSupportInDB::TfrmWarnSupportInDB(QWidget* parent)
    : QDialog(parent),
      lblSupportAlreadyPresent(
          Named(new QLabel(QStringLiteral(
                    "Le support que vous souhaitez importer se trouve déjà dans la base.")),
                "lblSupportAlreadyPresent")),
      cbNoMoreAsk(Named(
          new QCheckBox(QStringLiteral("Ne pas reposer la question lors du prochain doublon")),
          "cbNoMoreAsk")),
      btnNoImport(Named(new QPushButton(QStringLiteral("Ne pas l'importer")), "btnNoImport")),
      btnImportAgain(
          Named(new QPushButton(QStringLiteral("L'importer en double")), "btnImportAgain")) {
  setObjectName(QStringLiteral("frmWarnSupportInDB"));
  setWindowTitle(QStringLiteral("Attention support déjà dans la base ..."));

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnNoImport);
  buttons->addWidget(btnImportAgain);
  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addWidget(lblSupportAlreadyPresent);
  layout->addSpacing(8);
  layout->addWidget(cbNoMoreAsk);
  layout->addSpacing(8);
  layout->addLayout(buttons);
  btnNoImport->setDefault(true);

  connect(btnNoImport, &QPushButton::clicked, this, [this] { done(kNoImport); });
  connect(btnImportAgain, &QPushButton::clicked, this, [this] { done(kImportAgain); });

  ApplyLanguage();
  frmWarnSupportInDB = this;
}

TfrmWarnSupportInDB::~TfrmWarnSupportInDB() {
  if (frmWarnSupportInDB == this) frmWarnSupportInDB = nullptr;
}

void TfrmWarnSupportInDB::ApplyLanguage() {
  setWindowTitle(LocalText(177, windowTitle()));
  lblSupportAlreadyPresent->setText(LocalText(178, lblSupportAlreadyPresent->text()));
  cbNoMoreAsk->setText(LocalText(179, cbNoMoreAsk->text()));
  btnNoImport->setText(LocalText(180, btnNoImport->text()));
  btnImportAgain->setText(LocalText(181, btnImportAgain->text()));
}

void TfrmWarnSupportInDB::ResetNoMoreAsk() { cbNoMoreAsk->setChecked(false); }

archive::DuplicateAnswer TfrmWarnSupportInDB::Ask() {
  // The language may have changed since the dialog was made.
  ApplyLanguage();
  archive::DuplicateAnswer answer;
  answer.importAgain = RunModal(*this) == kImportAgain;
  answer.dontAskAgain = cbNoMoreAsk->isChecked();
  return answer;
}
