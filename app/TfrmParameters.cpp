#include "app/TfrmParameters.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/CatalogueNotices.h"
#include "app/LocalText.h"
#include "app/MessageBoxes.h"
#include "app/Named.h"
#include "app/ProgramFolder.h"
#include "app/QtText.h"
#include "app/TIniFile.h"
#include "app/TfrmData.h"

TfrmParameters* frmParameters = nullptr;

namespace {

// The box that says a setting was not kept, with the cause and the file.
void tellUnsaved(const TIniFile& ini, const QString& caption) {
  const QString text = LocalFormat(256,
                                   "Le réglage n'a pas pu être enregistré dans le fichier des "
                                   "réglages (%s) : il ne sera pas repris au prochain démarrage.",
                                   {toAnsi(SystemErrorText(ini.WriteError()))}) +
                       QLatin1Char('\n') +
                       QFile::decodeName(QByteArray::fromStdString(ini.FileName()));
  ShowMessageBox(text, caption, BoxButtons::Ok);
}

}  // namespace

TfrmParameters::TfrmParameters(QWidget* parent)
    : QDialog(parent),
      lblSelectLanguage(
          Named(new QLabel(QStringLiteral("Choisissez votre langage")), "lblSelectLanguage")),
      cbLanguageSelect(Named(new QComboBox, "cbLanguageSelect")),
      cbDisplayToolBars(
          Named(new QCheckBox(QStringLiteral("Voir barre d'outils")), "cbDisplayToolBars")),
      btnOk(Named(new QPushButton(QStringLiteral("OK")), "btnOk")) {
  setObjectName(QStringLiteral("frmParameters"));
  setWindowTitle(QStringLiteral("Parametres"));
  setMinimumWidth(320);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOk);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblSelectLanguage);
  layout->addWidget(cbLanguageSelect);
  layout->addSpacing(8);
  layout->addWidget(cbDisplayToolBars);
  layout->addStretch();
  layout->addLayout(buttons);
  btnOk->setDefault(true);

  CStandardTextResources* texts = frmData != nullptr ? &frmData->Texts() : nullptr;
  const int32_t count = texts != nullptr ? texts->GetLanguageCount() : 0;
  if (count < 1) {
    QPalette grey = lblSelectLanguage->palette();
    grey.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    lblSelectLanguage->setPalette(grey);
    cbLanguageSelect->setEnabled(false);
  } else {
    int selected = -1;  // none when the current language is no entry's
    for (int32_t i = 0; i < count; i++) {
      const int32_t id = texts->GetLanguageId(i);
      cbLanguageSelect->addItem(fromAnsi(texts->GetLanguageName(id)));
      if (selected < 0 && id == texts->GetCurrentLanguage()) selected = i;
    }
    cbLanguageSelect->setCurrentIndex(selected);
    cbLanguageSelect->setEnabled(true);
  }

  connect(cbLanguageSelect, &QComboBox::currentIndexChanged, this,
          &TfrmParameters::cbLanguageSelectChange);
  connect(cbDisplayToolBars, &QCheckBox::toggled, this, &TfrmParameters::cbDisplayToolBarsClick);
  connect(btnOk, &QPushButton::clicked, this, &TfrmParameters::btnOkClick);
  frmParameters = this;
}

TfrmParameters::~TfrmParameters() {
  if (frmParameters == this) frmParameters = nullptr;
}

void TfrmParameters::ApplyLanguage() {
  setWindowTitle(LocalText(182, windowTitle()));
  lblSelectLanguage->setText(LocalText(183, lblSelectLanguage->text()));
  cbDisplayToolBars->setText(LocalText(184, cbDisplayToolBars->text()));
  btnOk->setText(LocalText(185, btnOk->text()));
}

void TfrmParameters::SetToolBarCheck(bool checked) {
  armed_ = false;
  cbDisplayToolBars->setChecked(checked);
  armed_ = true;
}

void TfrmParameters::cbLanguageSelectChange(int index) {
  if (frmData == nullptr || index < 0) return;
  CStandardTextResources& texts = frmData->Texts();
  texts.LoadLanguage(texts.GetLanguageId(index));
  ApplyLanguage();
}

void TfrmParameters::cbDisplayToolBarsClick() {
  if (armed_) emit toolBarClicked();
}

void TfrmParameters::btnOkClick() {
  // Without a language to choose there is no entry index to keep. The
  // language chosen stays loaded for this run even when it cannot be kept.
  if (cbLanguageSelect->currentIndex() >= 0) {
    TIniFile ini(IniFilePath());
    ini.WriteInteger("Misc", "LangID", cbLanguageSelect->currentIndex());
    if (!ini.UpdateFile()) tellUnsaved(ini, windowTitle());
  }
  accept();
}
