#include "features/archive/TfrmExport.h"

#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/DBWrapperGlobal.h"
#include "app/LocalText.h"
#include "app/MessageBoxes.h"
#include "app/MessagePump.h"
#include "app/ModalRunner.h"
#include "app/Named.h"
#include "app/QtText.h"
#include "features/archive/ArchiveDialogs.h"
#include "features/archive/ArchiveExport.h"
#include "platform/os.h"

TfrmExport* frmExport = nullptr;

namespace {

constexpr char kSection[] = "Export";

}  // namespace

TfrmExport::TfrmExport(QWidget* parent)
    : BusyDialog(parent),
      lblExploreWhat(Named(new QLabel(QStringLiteral("Exportation de :")), "lblExploreWhat")),
      lblWhatToExport(
          Named(new QLabel(QStringLiteral("la totalité de la base")), "lblWhatToExport")),
      lblOutFile(Named(new QLabel(QStringLiteral("Fichier d'archive :")), "lblOutFile")),
      edtTargetArchive(Named(new QLineEdit, "edtTargetArchive")),
      btnSelectTarget(Named(new QPushButton(QStringLiteral("...")), "btnSelectTarget")),
      lbTrace(Named(new QListWidget, "lbTrace")),
      btnSave(Named(new QPushButton(QStringLiteral("&Exporter")), "btnSave")),
      btnClose(Named(new QPushButton(QStringLiteral("&Fermer")), "btnClose")),
      lblProgress(Named(new QLabel, "lblProgress")),
      pgBar(Named(new QProgressBar, "pgBar")),
      saveDlg(Named(new QFileDialog(this), "saveDlg")) {
  setObjectName(QStringLiteral("frmExport"));
  setWindowTitle(QStringLiteral("Exportation de données"));

  auto* scope = new QHBoxLayout;
  scope->addWidget(lblExploreWhat);
  scope->addWidget(lblWhatToExport, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(lblProgress, 1);
  buttons->addWidget(btnSave);
  buttons->addWidget(btnClose);
  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addLayout(scope);
  layout->addWidget(lblOutFile);
  layout->addLayout(ArchivePathRow(*edtTargetArchive, *btnSelectTarget));
  layout->addWidget(lbTrace);
  layout->addWidget(pgBar);
  layout->addLayout(buttons);
  PrepareTraceAndProgress(*lbTrace, *pgBar);

  PrepareArchiveFileDialog(*saveDlg, QFileDialog::AcceptSave,
                           QStringLiteral("Fichier d'exportation"));

  LoadArchivePath(kSection, *edtTargetArchive, *saveDlg);

  connect(btnSelectTarget, &QPushButton::clicked, this, &TfrmExport::btnSelectTargetClick);
  connect(btnSave, &QPushButton::clicked, this, &TfrmExport::btnSaveClick);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);

  ApplyLanguage();
  frmExport = this;
}

TfrmExport::~TfrmExport() {
  if (frmExport == this) frmExport = nullptr;
}

void TfrmExport::SetExportScope(int32_t id) {
  scope_ = id;
  showScope();
  lbTrace->clear();
  lblProgress->clear();
  pgBar->hide();
  confirmedPath_.clear();
}

void TfrmExport::showScope() {
  lblWhatToExport->setText(scope_ < 0 ? LocalText(53, QStringLiteral("la totalité de la base"))
                                      : LocalFormat(232, "support N°%05d", {scope_}));
}

void TfrmExport::ApplyLanguage() {
  setWindowTitle(LocalText(51, windowTitle()));
  lblExploreWhat->setText(LocalText(52, lblExploreWhat->text()));
  showScope();
  lblOutFile->setText(LocalText(54, lblOutFile->text()));
  btnSave->setText(LocalText(55, btnSave->text()));
  btnClose->setText(LocalText(56, btnClose->text()));
  saveDlg->setWindowTitle(LocalText(57, saveDlg->windowTitle()));
  SetArchiveFilters(*saveDlg, LocalText(58, QStringLiteral("Export")),
                    LocalText(59, QStringLiteral("All files")));
}

void TfrmExport::FormCloseQuery() { SaveArchivePath(kSection, *edtTargetArchive, *saveDlg); }

void TfrmExport::btnSelectTargetClick() {
  if (RunModal(*saveDlg) != QDialog::Accepted || saveDlg->selectedFiles().isEmpty()) return;
  confirmedPath_ = saveDlg->selectedFiles().constFirst();
  edtTargetArchive->setText(confirmedPath_);
}

void TfrmExport::btnSaveClick() {
  const QString path = edtTargetArchive->text();
  if (path.isEmpty() || dbWrapper == nullptr || IsBusy() || !mayWrite(path)) return;
  BeginBusy();
  btnSave->setEnabled(false);
  btnSelectTarget->setEnabled(false);
  runExport(path);
  btnSave->setEnabled(true);
  btnSelectTarget->setEnabled(true);
  EndBusy();
}

bool TfrmExport::mayWrite(const QString& path) {
  if (path == confirmedPath_ || platform::os().pathStatus(QFile::encodeName(path).constData()) != 0)
    return true;
  return ShowMessageBox(LocalText(61, QStringLiteral("Confirmez vous l'ecrasement de ce fichier")),
                        LocalText(62, QStringLiteral("Attention")),
                        BoxButtons::YesNo) == BoxAnswer::Yes;
}

void TfrmExport::runExport(const QString& path) {
  ThrottledPump pump;
  archive::ExportCallbacks callbacks;
  callbacks.supportStarted = [&](const TSupportRecord& support, int32_t index, int32_t count) {
    if (scope_ < 0) lblProgress->setText(LocalFormat(233, "Support : %d/%d", {index, count}));
    lbTrace->addItem(LocalText(234, QStringLiteral("Exportation : ")) + fromAnsi(support.volume));
    pgBar->setRange(0, std::max(support.fileCount, 0));
    pgBar->setValue(0);
    pgBar->show();
  };
  callbacks.fileProgress = [&](int32_t written) { pgBar->setValue(written); };
  callbacks.pump = [&] { pump.Pump(); };

  const archive::ExportResult result =
      archive::ExportArchive(*dbWrapper, QFile::encodeName(path).toStdString(), scope_, callbacks);
  pgBar->hide();
  if (result.status == archive::ExportStatus::kDone) {
    lbTrace->addItem(LocalText(60, QStringLiteral("Exportation TERMINEE !")));
    return;
  }
  // The catalogue's own box says which file could not be read, and why.
  if (result.status == archive::ExportStatus::kCatalogueUnreadable) {
    lbTrace->addItem(LocalText(
        274, QString::fromUtf8("Exportation arrêtée : la base n'a pas pu être lue en entier, le "
                               "fichier n'a pas été écrit.")));
    return;
  }
  ShowMessageBox(LocalFormat(63, "Ecriture du fichier impossible:\n%s", {toAnsi(path)}),
                 LocalText(62, QStringLiteral("Attention")), BoxButtons::Ok);
}
