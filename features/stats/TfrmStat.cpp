#include "features/stats/TfrmStat.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/DBWrapperGlobal.h"
#include "app/LocalText.h"
#include "app/Named.h"
#include "app/ProgramFolder.h"
#include "app/QtText.h"
#include "catalog/Udbwrapper.h"
#include "features/indexing/VolumeInfo.h"
#include "features/stats/StatisticsReport.h"

TfrmStat* frmStat = nullptr;

namespace {

// The text of `id` in the current language, Windows-1252, or `builtIn`.
void localize(std::string& builtIn, int32_t id) {
  builtIn = toAnsi(LocalText(id, fromAnsi(builtIn)));
}

}  // namespace

TfrmStat::TfrmStat(QWidget* parent)
    : QDialog(parent),
      lblStatCap(Named(new QLabel(QStringLiteral("Statistiques sur l'ensemble de la base :")),
                       "lblStatCap")),
      meStats(Named(new QPlainTextEdit, "meStats")),
      btnOK(Named(new QPushButton(QStringLiteral("OK")), "btnOK")) {
  setObjectName(QStringLiteral("frmStat"));
  setWindowTitle(QStringLiteral("Informations sur la base"));
  resize(634, 424);

  meStats->setReadOnly(true);
  meStats->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  meStats->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOK);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblStatCap);
  layout->addWidget(meStats, 1);
  layout->addLayout(buttons);
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

  ApplyLanguage();
  frmStat = this;
}

TfrmStat::~TfrmStat() {
  if (frmStat == this) frmStat = nullptr;
}

void TfrmStat::ApplyLanguage() {
  setWindowTitle(LocalText(128, windowTitle()));
  lblStatCap->setText(LocalText(129, lblStatCap->text()));
  btnOK->setText(LocalText(130, btnOK->text()));
}

void TfrmStat::ComputeStats() {
  const TSupportTotals totals = dbWrapper != nullptr ? dbWrapper->SumSupports() : TSupportTotals{};
  DriveSpace drive;
  GetDriveSpace(ProgramFolder(), drive.free, drive.total);
  StatisticsTexts texts;
  localize(texts.title, 131);
  localize(texts.supports, 132);
  localize(texts.files, 133);
  localize(texts.size, 134);
  localize(texts.deleted, 135);
  localize(texts.driveTotal, 136);
  localize(texts.driveUsed, 137);
  localize(texts.driveFree, 138);
  localize(texts.unreadable, 276);
  QStringList lines;
  for (const std::string& line : StatisticsLines(totals, drive, texts)) lines << fromAnsi(line);
  meStats->setPlainText(lines.join(QLatin1Char('\n')));
}
