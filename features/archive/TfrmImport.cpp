#include "features/archive/TfrmImport.h"

#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/DBWrapperGlobal.h"
#include "app/LocalText.h"
#include "app/MessageBoxes.h"
#include "app/MessagePump.h"
#include "app/ModalRunner.h"
#include "app/Named.h"
#include "app/QtText.h"
#include "app/TerminationRequests.h"
#include "features/archive/ArchiveDialogs.h"
#include "features/archive/ArchiveImport.h"
#include "features/archive/TfrmWarnSupportInDB.h"

TfrmImport* frmImport = nullptr;

namespace {

constexpr char kSection[] = "Import";
// An import handles every line in a few microseconds: letting events
// through after each one would spend the import in the event loop.
constexpr int64_t kPumpMillis = 16;

QString progressText(int32_t done, int32_t total) {
  return QStringLiteral("%1/%2").arg(done).arg(total);
}

// Why an import ended before the end of its archive, when the archive or
// the catalogue is at fault; empty otherwise.
QString failureLine(const archive::ImportResult& result) {
  switch (result.status) {
    case archive::ImportStatus::kReadFailed:
      return LocalFormat(235, "Lecture du fichier impossible, ligne %d", {result.line});
    case archive::ImportStatus::kLineTooLong:
      return LocalFormat(236, "Ligne %d trop longue : fichier endommagé", {result.line});
    case archive::ImportStatus::kCatalogueUnreadable:
      return LocalFormat(
          277, "Importation arrêtée : la base n'a pas pu être lue, rien n'a été importé.", {});
    case archive::ImportStatus::kWriteFailed:
      // What the disk holds, what waits in memory for it, and what the
      // catalogue refused: a partial import is never taken for a whole one.
      return LocalFormat(220,
                         "Ecriture dans la base impossible : importation arrêtée, %d fichier(s) "
                         "enregistré(s), %d en attente d'écriture, %d refusé(s)",
                         {result.counts.filesAdded, result.filesUnwritten, result.refusedFiles});
    default:
      return QString();
  }
}

}  // namespace

TfrmImport::TfrmImport(QWidget* parent)
    : BusyDialog(parent),
      lblInfile(Named(new QLabel(QStringLiteral("Fichier d'archive :")), "lblInfile")),
      edtTargetArchive(Named(new QLineEdit, "edtTargetArchive")),
      btnSelectTarget(Named(new QPushButton(QStringLiteral("...")), "btnSelectTarget")),
      lbTrace(Named(new QListWidget, "lbTrace")),
      btnImport(Named(new QPushButton(QStringLiteral("&Importer")), "btnImport")),
      btnStop(Named(new QPushButton(QStringLiteral("Stop")), "btnStop")),
      btnClose(Named(new QPushButton(QStringLiteral("&Fermer")), "btnClose")),
      lblProgress(Named(new QLabel, "lblProgress")),
      pgBar(Named(new QProgressBar, "pgBar")),
      openDlg(Named(new QFileDialog(this), "openDlg")) {
  setObjectName(QStringLiteral("frmImport"));
  setWindowTitle(QStringLiteral("Importation de données"));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(lblProgress, 1);
  buttons->addWidget(btnImport);
  buttons->addWidget(btnStop);
  buttons->addWidget(btnClose);
  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addWidget(lblInfile);
  layout->addLayout(ArchivePathRow(*edtTargetArchive, *btnSelectTarget));
  layout->addWidget(lbTrace);
  layout->addWidget(pgBar);
  layout->addLayout(buttons);
  PrepareTraceAndProgress(*lbTrace, *pgBar);
  btnStop->hide();

  PrepareArchiveFileDialog(*openDlg, QFileDialog::AcceptOpen,
                           QStringLiteral("Fichier d'importation"));

  LoadArchivePath(kSection, *edtTargetArchive, *openDlg);

  connect(btnSelectTarget, &QPushButton::clicked, this, &TfrmImport::btnSelectTargetClick);
  connect(btnImport, &QPushButton::clicked, this, &TfrmImport::btnImportClick);
  connect(btnStop, &QPushButton::clicked, this, [this] { stop_ = true; });
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);

  ApplyLanguage();
  frmImport = this;
}

TfrmImport::~TfrmImport() {
  if (frmImport == this) frmImport = nullptr;
}

void TfrmImport::ApplyLanguage() {
  setWindowTitle(LocalText(64, windowTitle()));
  lblInfile->setText(LocalText(65, lblInfile->text()));
  btnImport->setText(LocalText(66, btnImport->text()));
  btnStop->setText(LocalText(238, btnStop->text()));
  btnClose->setText(LocalText(67, btnClose->text()));
  openDlg->setWindowTitle(LocalText(68, openDlg->windowTitle()));
  SetArchiveFilters(*openDlg, LocalText(69, QStringLiteral("Export")),
                    LocalText(70, QStringLiteral("All files")));
}

void TfrmImport::ResetTrace() {
  lbTrace->clear();
  lblProgress->clear();
}

void TfrmImport::FormCloseQuery() { SaveArchivePath(kSection, *edtTargetArchive, *openDlg); }

void TfrmImport::btnSelectTargetClick() {
  if (RunModal(*openDlg) == QDialog::Accepted && !openDlg->selectedFiles().isEmpty())
    edtTargetArchive->setText(openDlg->selectedFiles().constFirst());
}

void TfrmImport::btnImportClick() {
  if (dbWrapper == nullptr || IsBusy()) return;
  BeginBusy();
  showRunning(true);
  runImport(edtTargetArchive->text());
  pgBar->hide();
  showRunning(false);
  EndBusy();
}

void TfrmImport::showRunning(bool running) {
  btnImport->setVisible(!running);
  btnStop->setVisible(running);
}

void TfrmImport::runImport(const QString& path) {
  stop_ = false;
  if (frmWarnSupportInDB != nullptr) frmWarnSupportInDB->ResetNoMoreAsk();
  ThrottledPump pump(kPumpMillis);
  int32_t supportTotal = 0;
  archive::ImportCallbacks callbacks;
  callbacks.formatRead = [&](int32_t format) {
    lbTrace->addItem(LocalFormat(71, "Format d'export %d", {format}));
  };
  callbacks.headerAccepted = [&](int32_t total) {
    supportTotal = total;
    lblProgress->setText(progressText(1, total));
  };
  callbacks.supportStarted = [&](const TSupportRecord& support, bool imported, int32_t read,
                                 int32_t fileMaximum) {
    lbTrace->addItem((imported ? LocalText(74, QStringLiteral("Ajout SUPPORT : "))
                               : LocalText(75, QStringLiteral("Passe SUPPORT : "))) +
                     fromAnsi(support.volume));
    lblProgress->setText(progressText(read, supportTotal));
    pgBar->setRange(0, fileMaximum);
    pgBar->setValue(0);
    pgBar->show();
  };
  callbacks.supportFinished = [&](int32_t fileBlocks, bool imported) {
    lbTrace->addItem(QStringLiteral("   ") + QString::number(fileBlocks) +
                     (imported ? LocalText(72, QStringLiteral(" Fichier(s) Ajouté(s)"))
                               : LocalText(73, QStringLiteral(" Fichier(s) Passé(s)"))));
  };
  callbacks.fileProgress = [&](int32_t fileBlocks) { pgBar->setValue(fileBlocks); };
  callbacks.askDuplicate = [](const TSupportRecord&) {
    return frmWarnSupportInDB != nullptr ? frmWarnSupportInDB->Ask() : archive::DuplicateAnswer{};
  };
  // The program ending (a logout) stops an import as its Stop button does.
  callbacks.stopRequested = [&] { return stop_ || TerminationRequested(); };
  callbacks.pump = [&] { pump.Pump(); };

  reportEnd(archive::ImportArchive(*dbWrapper, QFile::encodeName(path).toStdString(), callbacks),
            path);
}

void TfrmImport::reportEnd(const archive::ImportResult& result, const QString& path) {
  using archive::ImportStatus;
  if (result.status == ImportStatus::kNotFound || result.status == ImportStatus::kCannotOpen) {
    showRunning(false);
    ShowMessageBox(LocalFormat(81, "Fichier infrouvable:\n%s", {toAnsi(path)}),
                   LocalText(79, QStringLiteral("Attention")), BoxButtons::Ok);
    return;
  }
  if (result.status == ImportStatus::kBadFormat) {
    // Id 79 stands for three texts: a translation of it is this box's
    // text and caption at once.
    ShowMessageBox(LocalText(79, QStringLiteral("Format Export invalide")),
                   LocalText(79, QStringLiteral("Error")), BoxButtons::Ok);
  }
  if (const QString failure = failureLine(result); !failure.isEmpty()) lbTrace->addItem(failure);
  if (result.damagedBlocks > 0)
    lbTrace->addItem(LocalFormat(237, "Blocs endommagés passés : %d", {result.damagedBlocks}));
  const archive::ImportCounts& counts = result.counts;
  lbTrace->addItem(LocalText(78, QStringLiteral("Finished")));
  lbTrace->addItem(LocalFormat(76, "SUPPORTS : %5d  traité(s), %d importé(s), %d passé(s)",
                               {counts.supportsRead, counts.supportsAdded, counts.supportsPassed}));
  lbTrace->addItem(LocalFormat(77, "FICHIERS : %5d  traité(s), %d importé(s), %d passé(s)",
                               {counts.fileBlocksRead, counts.filesAdded, counts.filesPassed}));
}
