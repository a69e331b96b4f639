#include "features/indexing/TfrmIndexing.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/DBWrapperGlobal.h"
#include "app/LocalText.h"
#include "app/MessageBoxes.h"
#include "app/MessagePump.h"
#include "app/Named.h"
#include "app/QtText.h"
#include "app/TfrmData.h"
#include "catalog/Udbwrapper.h"
#include "features/indexing/DriveEnumerator.h"
#include "features/indexing/MediumIndexing.h"
#include "features/indexing/VolumeInfo.h"

TfrmIndexing* frmIndexing = nullptr;

namespace {

// What a drive line keeps beside its text: the mount point as the file
// system spells it, and the device mounted there.
constexpr int kPathRole = Qt::UserRole;
constexpr int kDeviceRole = Qt::UserRole + 1;

constexpr int kDesignWidth = 624;
// The designed height less the hidden signing panel's; the dialog grows
// past it where the trace's lines need more (see reserveTraceLines).
constexpr int kHeightWithoutSigning = 413;

// The trace line of an insertion that did not store the whole walk: the
// rows on the disk, those waiting in memory for the disk to take them, and
// those refused.
QString partialInsertionLine(const TInsertionResult& result) {
  if (!result.written)
    return LocalFormat(218,
                       "Ecriture dans la base impossible : %d élément(s) enregistré(s), %d en "
                       "attente d'écriture, %d refusé(s)",
                       {result.recorded, result.stored - result.recorded, result.failed});
  return LocalFormat(219, "Ajout interrompu : %d élément(s) ajouté(s), %d refusé(s)",
                     {result.stored, result.failed});
}

// The trace shows every line of a finished scan and of its insertion
// without scrolling: three header lines, found, total size, over-long
// names, what was stored. A horizontal scroll bar (a long mount point) may
// lie under them.
constexpr int kTraceLines = 7;

void reserveTraceLines(QListWidget& trace) {
  trace.addItem(QStringLiteral("M"));
  const int line = trace.sizeHintForRow(0);
  trace.clear();
  trace.setMinimumHeight(kTraceLines * line + 2 * trace.frameWidth() +
                         trace.horizontalScrollBar()->sizeHint().height());
}

QFrame* panel(const char* name = nullptr) {
  auto* frame = new QFrame;
  frame->setFrameShape(QFrame::StyledPanel);
  if (name != nullptr) frame->setObjectName(QString::fromLatin1(name));
  return frame;
}

QPushButton* button(const char* caption, const char* name) {
  auto* made = Named(new QPushButton(QString::fromUtf8(caption)), name);
  // Enter in the comment fields must not start a step.
  made->setAutoDefault(false);
  return made;
}

// A row of widgets of which the `stretched`-th takes the free width.
QHBoxLayout* row(std::initializer_list<QWidget*> widgets, int stretched) {
  auto* layout = new QHBoxLayout;
  for (QWidget* widget : widgets) layout->addWidget(widget, layout->count() == stretched ? 1 : 0);
  return layout;
}

QIcon drivePicture(int32_t kind) {
  if (frmData == nullptr) return QIcon();
  return frmData->imgListSupport().value(kind == kDriveKindCdRom ? TfrmData::kCdRomPicture
                                                                 : TfrmData::kRemovablePicture);
}

}  // namespace

TfrmIndexing::TfrmIndexing(QWidget* parent)
    : BusyDialog(parent),
      lblStage1(Named(new QLabel(QString::fromUtf8(
                          "Etape 1 : Analyse du support, recensement de tous les fichiers et "
                          "répertoires.")),
                      "lblStage1")),
      btnIndexStart(button("&Démarrer Indexation support", "btnIndexStart")),
      lbDriveList(Named(new QComboBox, "lbDriveList")),
      cbZipIndex(Named(new QCheckBox(QStringLiteral("Indexer ZIP (1 niveau)")), "cbZipIndex")),
      lblInfos(Named(new QLabel(QStringLiteral("Informations :")), "lblInfos")),
      lbTrace(Named(new QListWidget, "lbTrace")),
      pnlSign(panel("pnlSign")),
      lblStage2(Named(new QLabel(QStringLiteral("Etape 2 : Signature (optionnelle) de chaque "
                                                "fichier.")),
                      "lblStage2")),
      btnAuthenticate(button("Authentification fichiers", "btnAuthenticate")),
      btnAuthenticateSkip(button("Passer authentification", "btnAuthenticateSkip")),
      pgAuthentication(Named(new QProgressBar, "pgAuthentication")),
      lblStage3(Named(new QLabel(QString::fromUtf8(
                          "Etape 3 : Ajout de toutes les données dans la base de données.")),
                      "lblStage3")),
      lblYourID(
          Named(new QLabel(QStringLiteral("Votre identification du support :")), "lblYourID")),
      lblYourComment(Named(new QLabel(QStringLiteral("Commentaire long :")), "lblYourComment")),
      edtShortComment(Named(new QLineEdit, "edtShortComment")),
      meLongComment(Named(new QPlainTextEdit, "meLongComment")),
      pgInsertion(Named(new QProgressBar, "pgInsertion")),
      btnCancel(button("Fermer", "btnCancel")),
      btnReset(button("Réinitialiser", "btnReset")),
      btnInsertDatabase(button("Ajouter à la base de données", "btnInsertDatabase")),
      statBar(Named(new QStatusBar, "statBar")) {
  setObjectName(QStringLiteral("frmIndexing"));
  setWindowTitle(QStringLiteral("Indexation"));

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(buildStage1(), 3);
  layout->addWidget(buildStage2());
  layout->addWidget(buildStage3(), 2);
  layout->addWidget(statBar);
  statBar->setSizeGripEnabled(false);

  connect(btnIndexStart, &QPushButton::clicked, this, &TfrmIndexing::btnIndexStartClick);
  connect(btnAuthenticate, &QPushButton::clicked, this, &TfrmIndexing::btnAuthenticateClick);
  connect(btnAuthenticateSkip, &QPushButton::clicked, this,
          &TfrmIndexing::btnAuthenticateSkipClick);
  connect(btnInsertDatabase, &QPushButton::clicked, this, &TfrmIndexing::btnInsertDatabaseClick);
  connect(btnReset, &QPushButton::clicked, this, &TfrmIndexing::ResetIndexing);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  // The ZIP option has no effect on the walk: it stays off.
  cbZipIndex->setChecked(false);
  cbZipIndex->setEnabled(false);
  pnlSign->hide();
  resize(kDesignWidth, kHeightWithoutSigning);
  ResetIndexing();
  ApplyLanguage();
  frmIndexing = this;
}

TfrmIndexing::~TfrmIndexing() {
  if (frmIndexing == this) frmIndexing = nullptr;
}

QFrame* TfrmIndexing::buildStage1() {
  QFrame* stage = panel();
  QFont arial(QStringLiteral("Arial"));
  arial.setPixelSize(12);
  lbDriveList->setFont(arial);
  lbDriveList->setIconSize(QSize(16, 16));
  lbDriveList->setMinimumContentsLength(16);
  QFont courier(QStringLiteral("Courier New"));
  courier.setStyleHint(QFont::TypeWriter);
  lbTrace->setFont(courier);
  reserveTraceLines(*lbTrace);

  auto* layout = new QVBoxLayout(stage);
  layout->addWidget(lblStage1);
  // The drive list has the row's width: mount points are long.
  layout->addLayout(row({btnIndexStart, lbDriveList}, 1));
  layout->addLayout(row({lblInfos, cbZipIndex}, 0));
  layout->addWidget(lbTrace, 1);
  return stage;
}

QFrame* TfrmIndexing::buildStage2() {
  auto* layout = new QVBoxLayout(pnlSign);
  layout->addWidget(lblStage2);
  layout->addLayout(row({btnAuthenticate, btnAuthenticateSkip, pgAuthentication}, 2));
  return pnlSign;
}

QFrame* TfrmIndexing::buildStage3() {
  QFrame* stage = panel();
  edtShortComment->setMaxLength(250);  // the width of the support's field
  meLongComment->setTabChangesFocus(true);
  // The buttons keep their size whether the bar is shown or not.
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(pgInsertion, 1);
  buttons->addStretch();
  buttons->addWidget(btnInsertDatabase);
  buttons->addWidget(btnReset);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(stage);
  layout->addWidget(lblStage3);
  layout->addLayout(row({lblYourID, edtShortComment}, 1));
  layout->addWidget(lblYourComment);
  layout->addWidget(meLongComment, 1);
  layout->addLayout(buttons);
  return stage;
}

void TfrmIndexing::ApplyLanguage() {
  setWindowTitle(LocalText(82, windowTitle()));
  lblStage1->setText(LocalText(83, lblStage1->text()));
  lblStage2->setText(LocalText(84, lblStage2->text()));
  lblStage3->setText(LocalText(85, lblStage3->text()));
  btnIndexStart->setText(LocalText(86, btnIndexStart->text()));
  lblInfos->setText(LocalText(87, lblInfos->text()));
  btnAuthenticate->setText(LocalText(88, btnAuthenticate->text()));
  btnAuthenticateSkip->setText(LocalText(89, btnAuthenticateSkip->text()));
  btnInsertDatabase->setText(LocalText(90, btnInsertDatabase->text()));
  lblYourID->setText(LocalText(91, lblYourID->text()));
  lblYourComment->setText(LocalText(92, lblYourComment->text()));
  btnReset->setText(LocalText(93, btnReset->text()));
  btnCancel->setText(LocalText(94, btnCancel->text()));
  cbZipIndex->setText(LocalText(106, cbZipIndex->text()));
}

void TfrmIndexing::ResetIndexing() {
  if (IsBusy()) return;
  setButtons(true, false, false, false);
  pgAuthentication->hide();
  pgInsertion->hide();
  scan.Clear();
  lbTrace->clear();
  statBar->showMessage(LocalText(105, QStringLiteral("Ready")));
  FillDriveList();
}

void TfrmIndexing::done(int result) {
  if (IsBusy()) scan.Abort();
  BusyDialog::done(result);
}

void TfrmIndexing::FormCloseQuery() {
  cbZipIndex->setChecked(false);
  cbZipIndex->setEnabled(false);
}

// Removable and CD-ROM drives, in path order. The drive chosen before stays
// chosen when its device is still mounted; otherwise the first CD-ROM
// drive is, or none.
void TfrmIndexing::FillDriveList() {
  const QVariant chosen = lbDriveList->currentData(kDeviceRole);
  DriveEnumerator drives;
  drives.Refresh();
  lbDriveList->clear();
  int selected = -1;
  int firstCdRom = -1;
  for (int32_t i = 0; i < drives.Count(); i++) {
    const TDriveEntry& drive = *drives.GetDrive(i);
    if (drive.Kind() != kDriveKindRemovable && drive.Kind() != kDriveKindCdRom) continue;
    const int item = lbDriveList->count();
    lbDriveList->addItem(drivePicture(drive.Kind()), QFile::decodeName(drive.Name().c_str()));
    lbDriveList->setItemData(item, QByteArray::fromStdString(drive.Name()), kPathRole);
    const QByteArray device = QByteArray::fromStdString(drive.Device());
    lbDriveList->setItemData(item, device, kDeviceRole);
    if (drive.Kind() == kDriveKindCdRom && firstCdRom < 0) firstCdRom = item;
    if (selected < 0 && chosen.isValid() && chosen.toByteArray() == device) selected = item;
  }
  lbDriveList->setCurrentIndex(selected >= 0 ? selected : firstCdRom);
}

void TfrmIndexing::btnIndexStartClick() {
  // Without a drive there is nothing to walk (the root of "no drive" would
  // be the whole file system).
  if (IsBusy() || lbDriveList->currentIndex() < 0) return;
  BeginBusy();
  scanDrive(lbDriveList->currentData(kPathRole).toByteArray().toStdString());
  EndBusy();
}

void TfrmIndexing::scanDrive(const std::string& root) {
  setButtons(false, false, false, false);
  GetVolumeInfo(root, volume);
  lbTrace->clear();
  addTrace(LocalText(95, QStringLiteral("Scanning    :")) + QFile::decodeName(root.c_str()));
  addTrace(LocalText(96, QStringLiteral("Volume Name : ")) + fromAnsi(volume.volumeName));
  addTrace(LocalText(97, QStringLiteral("Volume ID   : ")) +
           QString::fromStdString(TDBWrapper::FormatVolumeSerial(volume.serialNumber)));

  scan.Enumerate(root, [this](TFileEntry& entry, int32_t number) { ScanProgress(entry, number); });
  const int32_t found = scan.Count();
  addTrace(LocalFormat(98, "Scanning terminé : %d fichier(s) trouvé(s)", {found}));
  statBar->showMessage(LocalFormat(100, "%d files processed", {found}));
  addTrace(LocalFormat(101, "Taille totale : %ld octet(s) de données", {scan.TotalSize()}));
  if (const int32_t overlong = CountOverlongEntries(scan); overlong > 0)
    addTrace(LocalFormat(104, "%d nom(s) ou chemin(s) de plus de 250 caractères seront coupés",
                         {overlong}));
  if (found == 0) {
    setButtons(true, false, false, false);
    return;
  }

  const int32_t same =
      dbWrapper != nullptr ? dbWrapper->CountSupportsWithSerial(volume.serialNumber, nullptr) : 0;
  if (same < 0) {
    // The catalogue's error hook said why.
    addTrace(LocalFormat(278, "Indexation arrêtée : la base n'a pas pu être lue.", {}));
    setButtons(true, false, false, false);
    return;
  }
  if (same > 0)
    ShowMessageBox(
        LocalFormat(102, "La base contient déjà :\n%d support(s) avec le même N° de série !",
                    {same}),
        LocalText(103, QStringLiteral("Attention !")), BoxButtons::Ok);
  setButtons(false, true, true, false);
  btnAuthenticateSkipClick();
}

void TfrmIndexing::ScanProgress(TFileEntry&, int32_t number) {
  if (number % kIndexingProgressStep != 0) return;
  statBar->showMessage(LocalFormat(100, "%d files processed", {number}));
  PumpMessages();
}

void TfrmIndexing::btnAuthenticateSkipClick() {
  btnAuthenticateSkip->setEnabled(false);
  btnAuthenticate->setEnabled(false);
  pgAuthentication->hide();
  pgInsertion->hide();
  btnReset->setEnabled(true);
  btnInsertDatabase->setEnabled(true);
}

// Reset stays unavailable while the files are read: it would discard the
// entries being signed.
void TfrmIndexing::btnAuthenticateClick() {
  if (IsBusy()) return;
  BeginBusy();
  setButtons(false, false, false, false);
  pgAuthentication->setRange(0, scan.Count());
  pgAuthentication->setValue(0);
  pgAuthentication->show();
  SignEntries(scan, [this](int32_t index) {
    pgAuthentication->setValue(index);
    PumpMessages();
  });
  pgAuthentication->setValue(scan.Count());
  setButtons(false, false, true, true);
  EndBusy();
}

void TfrmIndexing::btnInsertDatabaseClick() {
  if (IsBusy() || dbWrapper == nullptr) return;
  BeginBusy();
  insertScan();
  EndBusy();
}

// A scan is inserted once: the button stays off until a reset and a new
// scan. Reset stays unavailable while the rows are stored, as it would
// discard the entries being stored.
void TfrmIndexing::insertScan() {
  setButtons(false, false, false, false);
  const int32_t count = scan.Count();
  // A bar from 0 to the count: a bar whose maximum is 0 would show Qt's
  // busy indicator.
  pgInsertion->setRange(0, count);
  pgInsertion->setValue(0);
  pgInsertion->show();
  // The memo's lines end as they always did in the catalogue, in CR LF.
  const std::string longComment =
      toAnsi(meLongComment->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\r\n")));
  const TInsertionResult result =
      InsertScan(*dbWrapper, scan, volume, toAnsi(edtShortComment->text()), longComment,
                 [this](int32_t index) {
                   pgInsertion->setValue(index);
                   PumpMessages();
                 });
  if (result.supportId < 0) {
    pgInsertion->hide();
    ShowMessageBox(LocalText(99, QString::fromUtf8("Le support n'a pas pu être ajouté à la base "
                                                   "de données : aucun fichier n'a été ajouté.")),
                   LocalText(103, QStringLiteral("Attention !")), BoxButtons::Ok);
  } else if (result.failed > 0 || !result.written) {
    // Not a success: the bar stays at the rows the disk holds.
    pgInsertion->setValue(result.recorded);
    addTrace(partialInsertionLine(result));
  } else {
    pgInsertion->setValue(count);
  }
  btnReset->setEnabled(true);
}

void TfrmIndexing::setButtons(bool start, bool sign, bool reset, bool insert) {
  btnIndexStart->setEnabled(start);
  btnAuthenticate->setEnabled(sign);
  btnAuthenticateSkip->setEnabled(sign);
  btnReset->setEnabled(reset);
  btnInsertDatabase->setEnabled(insert);
}

void TfrmIndexing::addTrace(const QString& line) { lbTrace->addItem(line); }
