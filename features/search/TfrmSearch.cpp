#include "features/search/TfrmSearch.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDateEdit>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <vector>

#include "app/DBWrapperGlobal.h"
#include "app/DateTimeText.h"
#include "app/LocalText.h"
#include "app/MdiChild.h"
#include "app/MessagePump.h"
#include "app/Named.h"
#include "app/QtText.h"
#include "app/TerminationRequests.h"
#include "features/search/SearchResultsModel.h"
#include "features/supports/GridHeaderLayout.h"

namespace {

constexpr int kMinLimit = 100;
constexpr int kMaxLimit = 10000;
constexpr int kDefaultLimit = 1000;
constexpr int kRowHeight = 20;
constexpr int kTitleIds = 119;
// The date column, and a date whose text is as long as most.
constexpr int kDateColumn = 3;
constexpr double kSampleDate = 45000.75;  // 15 March 2023, 18:00

// The column titles in the current language, by data column.
std::array<QString, SearchResultsModel::kColumns> columnTitles() {
  static const char* const builtIn[SearchResultsModel::kColumns] = {
      "N°", "Nom fichier", "Volume", "Date", "Taille", "Path", "N°série Volume", "ID Volume"};
  std::array<QString, SearchResultsModel::kColumns> titles;
  for (int column = 0; column < SearchResultsModel::kColumns; ++column)
    titles[column] = LocalText(kTitleIds + column, QString::fromUtf8(builtIn[column]));
  return titles;
}

// A control that keeps its room in the layout while hidden, so that the
// rows below do not move when it comes and goes.
template <class Widget>
Widget* keepsRoom(Widget* widget) {
  QSizePolicy policy = widget->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  widget->setSizePolicy(policy);
  return widget;
}

QCheckBox* pickerBox(const char* name) {
  auto* box = Named(new QCheckBox, name);
  box->setChecked(true);
  return box;
}

QDateEdit* picker(const char* name, QCheckBox* box) {
  auto* edit = Named(new QDateEdit(QDate::currentDate()), name);
  edit->setCalendarPopup(true);
  QObject::connect(box, &QCheckBox::toggled, edit, &QDateEdit::setEnabled);
  return edit;
}

}  // namespace

int TfrmSearch::running_ = 0;

TfrmSearch::TfrmSearch(QWidget* parent)
    : QWidget(parent),
      pnlCommand(Named(new QFrame, "pnlCommand")),
      lblDbleClick(Named(
          new QLabel(QStringLiteral("Double cliquez sur un résultat pour afficher le support ...")),
          "lblDbleClick")),
      btnClose(Named(new QPushButton(QStringLiteral("Fermer")), "btnClose")),
      lblMask(
          Named(new QLabel(QStringLiteral("Nom du fichier : (wildcards autorisés)")), "lblMask")),
      edtFileMask(Named(new QLineEdit, "edtFileMask")),
      btnGo(Named(new QPushButton(QStringLiteral("&Rechercher")), "btnGo")),
      btnStop(Named(new QPushButton(QStringLiteral("Stop")), "btnStop")),
      lblFileFound(Named(new QLabel, "lblFileFound")),
      lblLimit(Named(new QLabel(QStringLiteral("Limite :")), "lblLimit")),
      tbMaxFiles(Named(new QSlider(Qt::Horizontal), "tbMaxFiles")),
      lblMaxFind(Named(new QLabel, "lblMaxFind")),
      pgSearch(keepsRoom(Named(new QProgressBar, "pgSearch"))),
      cbCheckDate(Named(new QCheckBox(QStringLiteral("Filtrage selon la date :")), "cbCheckDate")),
      pnlDateOptions(keepsRoom(Named(new QWidget, "pnlDateOptions"))),
      lblDateMin(Named(new QLabel(QStringLiteral("Entre le :")), "lblDateMin")),
      cbDtPick1(pickerBox("cbDtPick1")),
      dtPick1(picker("dtPick1", cbDtPick1)),
      lblDateMax(Named(new QLabel(QStringLiteral("et le :")), "lblDateMax")),
      cbDtPick2(pickerBox("cbDtPick2")),
      dtPick2(picker("dtPick2", cbDtPick2)),
      cbCheckSize(Named(new QCheckBox(QStringLiteral("Filtrage selon la taille du fichier :")),
                        "cbCheckSize")),
      pnlSizeOptions(keepsRoom(Named(new QWidget, "pnlSizeOptions"))),
      lblSizeMin(Named(new QLabel(QStringLiteral("Entre :")), "lblSizeMin")),
      edtSizeMin(Named(new QLineEdit, "edtSizeMin")),
      lblSizeMax(Named(new QLabel(QStringLiteral("et :")), "lblSizeMax")),
      edtSizeMax(Named(new QLineEdit, "edtSizeMax")),
      sgResults(Named(new QTableView, "sgResults")),
      layout_(std::make_unique<GridHeaderLayout>(SearchResultsModel::kColumns, "SearchGrid")),
      results_(new SearchResultsModel(layout_->Layout(), this)) {
  setObjectName(QStringLiteral("frmSearch"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Recherche"));
  setMinimumSize(550, 350);
  resize(720, 480);

  tbMaxFiles->setRange(kMinLimit, kMaxLimit);
  tbMaxFiles->setValue(kDefaultLimit);
  tbMaxFiles->setTickInterval(1000);
  tbMaxFiles->setTickPosition(QSlider::TicksBelow);
  lblMaxFind->setText(QString::number(kDefaultLimit));
  pgSearch->setRange(0, 100);
  pgSearch->hide();
  btnStop->hide();
  pnlDateOptions->hide();
  pnlSizeOptions->hide();

  sgResults->setModel(results_);
  sgResults->setSelectionBehavior(QAbstractItemView::SelectRows);
  sgResults->setSelectionMode(QAbstractItemView::SingleSelection);
  sgResults->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sgResults->setWordWrap(false);
  sgResults->verticalHeader()->hide();
  sgResults->verticalHeader()->setDefaultSectionSize(kRowHeight);
  sgResults->horizontalHeader()->setHighlightSections(false);
  sgResults->horizontalHeader()->setStretchLastSection(false);
  QPalette selection = sgResults->palette();
  selection.setColor(QPalette::Highlight, QColor(0, 0, 128));
  selection.setColor(QPalette::HighlightedText, Qt::white);
  sgResults->setPalette(selection);
  const std::array<QString, SearchResultsModel::kColumns> titles = columnTitles();
  std::vector<int32_t> widths;
  for (int column = 0; column < SearchResultsModel::kColumns; ++column) {
    const bool date = column == kDateColumn;
    widths.push_back(GridHeaderLayout::FittingWidth(
        *sgResults, titles[column],
        date ? DateTimeText(kSampleDate, QLocale::LongFormat) : QString()));
  }
  layout_->Attach(*sgResults->horizontalHeader(), widths, [this] { results_->LayoutMoved(); });
  buildLayout();

  connect(edtFileMask, &QLineEdit::textChanged, this, &TfrmSearch::edtFileMaskChange);
  connect(tbMaxFiles, &QSlider::valueChanged, this, &TfrmSearch::tbMaxFilesChange);
  connect(cbCheckDate, &QCheckBox::toggled, this, &TfrmSearch::cbCheckDateClick);
  connect(cbCheckSize, &QCheckBox::toggled, this, &TfrmSearch::cbCheckSizeClick);
  connect(btnGo, &QPushButton::clicked, this, &TfrmSearch::btnGoClick);
  connect(btnStop, &QPushButton::clicked, this, &TfrmSearch::btnStopClick);
  connect(btnClose, &QPushButton::clicked, this, &TfrmSearch::btnCloseClick);
  connect(sgResults, &QTableView::doubleClicked, this, &TfrmSearch::sgResultsDblClick);
  // Go is the window's default button: Enter in the texts starts the search.
  btnGo->setDefault(true);
  for (QLineEdit* edit : {edtFileMask, edtSizeMin, edtSizeMax})
    connect(edit, &QLineEdit::returnPressed, this, &TfrmSearch::btnGoClick);

  ApplyLanguage();
}

TfrmSearch::~TfrmSearch() {
  // The grid asks its model, which asks the layout, until the grid goes:
  // it goes before the layout does.
  delete sgResults;
}

void TfrmSearch::buildLayout() {
  auto* command = new QHBoxLayout(pnlCommand);
  command->setContentsMargins(6, 4, 5, 4);
  command->addWidget(lblDbleClick, 1);
  command->addWidget(btnClose);
  pnlCommand->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);

  auto* maskLine = new QHBoxLayout;
  maskLine->addWidget(edtFileMask, 1);
  maskLine->addWidget(btnGo);
  maskLine->addWidget(btnStop);
  maskLine->addSpacing(12);
  lblFileFound->setMinimumWidth(160);
  maskLine->addWidget(lblFileFound);

  auto* limitLine = new QHBoxLayout;
  limitLine->addWidget(lblLimit);
  tbMaxFiles->setFixedWidth(220);
  limitLine->addWidget(tbMaxFiles);
  lblMaxFind->setMinimumWidth(lblMaxFind->fontMetrics().horizontalAdvance(QStringLiteral("00000")));
  limitLine->addWidget(lblMaxFind);
  limitLine->addStretch(1);
  pgSearch->setFixedWidth(220);
  limitLine->addWidget(pgSearch);

  auto* dates = new QHBoxLayout(pnlDateOptions);
  dates->setContentsMargins(0, 0, 0, 0);
  for (QWidget* control : std::initializer_list<QWidget*>{lblDateMin, cbDtPick1, dtPick1,
                                                          lblDateMax, cbDtPick2, dtPick2})
    dates->addWidget(control);
  auto* sizes = new QHBoxLayout(pnlSizeOptions);
  sizes->setContentsMargins(0, 0, 0, 0);
  for (QWidget* control :
       std::initializer_list<QWidget*>{lblSizeMin, edtSizeMin, lblSizeMax, edtSizeMax})
    sizes->addWidget(control);
  auto* filters = new QGridLayout;
  filters->addWidget(cbCheckDate, 0, 0);
  filters->addWidget(pnlDateOptions, 0, 1);
  filters->addWidget(cbCheckSize, 1, 0);
  filters->addWidget(pnlSizeOptions, 1, 1);
  filters->setColumnStretch(2, 1);

  auto* criteria = new QVBoxLayout;
  criteria->setContentsMargins(8, 6, 8, 0);
  criteria->addWidget(lblMask);
  criteria->addLayout(maskLine);
  criteria->addLayout(limitLine);
  criteria->addLayout(filters);

  auto* window = new QVBoxLayout(this);
  window->setContentsMargins(0, 0, 0, 0);
  window->addWidget(pnlCommand);
  window->addLayout(criteria);
  window->addWidget(sgResults, 1);
}

void TfrmSearch::ApplyLanguage() {
  edtFileMaskChange();
  btnClose->setText(LocalText(108, btnClose->text()));
  btnGo->setText(LocalText(109, btnGo->text()));
  btnStop->setText(LocalText(239, btnStop->text()));
  lblDbleClick->setText(LocalText(110, lblDbleClick->text()));
  lblMask->setText(LocalText(111, lblMask->text()));
  lblLimit->setText(LocalText(112, lblLimit->text()));
  cbCheckDate->setText(LocalText(113, cbCheckDate->text()));
  lblDateMin->setText(LocalText(114, lblDateMin->text()));
  lblDateMax->setText(LocalText(115, lblDateMax->text()));
  cbCheckSize->setText(LocalText(116, cbCheckSize->text()));
  lblSizeMin->setText(LocalText(117, lblSizeMin->text()));
  lblSizeMax->setText(LocalText(118, lblSizeMax->text()));
  results_->SetTitles(columnTitles());
  // The count of a search done shows in the language now chosen.
  if (!lblFileFound->text().isEmpty()) showCount();
}

void TfrmSearch::edtFileMaskChange() {
  QString caption = LocalText(107, QStringLiteral("Search"));
  const QString mask = edtFileMask->text().trimmed();
  if (!mask.isEmpty()) caption += QStringLiteral(" - ") + mask;
  setWindowTitle(caption);
}

void TfrmSearch::tbMaxFilesChange(int position) { lblMaxFind->setText(QString::number(position)); }

void TfrmSearch::cbCheckDateClick() { pnlDateOptions->setVisible(cbCheckDate->isChecked()); }

void TfrmSearch::cbCheckSizeClick() { pnlSizeOptions->setVisible(cbCheckSize->isChecked()); }

SearchCriteria TfrmSearch::criteria() const {
  SearchCriteria wanted;
  wanted.mask = toAnsi(edtFileMask->text().trimmed());
  if (cbCheckDate->isChecked()) {
    if (cbDtPick1->isChecked()) wanted.minDate = DayCount(dtPick1->date());
    if (cbDtPick2->isChecked()) wanted.maxDate = DayCount(dtPick2->date());
  }
  if (cbCheckSize->isChecked()) {
    wanted.minSize = ParseSizeText(toAnsi(edtSizeMin->text()));
    wanted.maxSize = ParseSizeText(toAnsi(edtSizeMax->text()));
  }
  return wanted;
}

void TfrmSearch::btnGoClick() {
  // A Go from inside this window's own pauses (Stop shows Go again before
  // the running search has noticed) is refused.
  if (busy_ || dbWrapper == nullptr) return;
  const SearchCriteria wanted = criteria();
  if (wanted.mask.empty()) return;
  btnGo->hide();
  btnStop->show();
  stop_ = false;
  busy_ = true;
  ++running_;
  lblFileFound->clear();
  results_->Clear();
  pgSearch->setValue(0);
  pgSearch->show();
  pump_ = std::make_unique<ThrottledPump>();

  FileSearch search(*dbWrapper);
  search.Run(wanted, *this);

  pgSearch->setValue(pgSearch->maximum());
  pgSearch->hide();
  btnGo->show();
  btnStop->hide();
  busy_ = false;
  --running_;
  showCount();
}

void TfrmSearch::btnStopClick() {
  btnGo->show();
  btnStop->hide();
  stop_ = true;
}

void TfrmSearch::btnCloseClick() { CloseMdiChild(*this); }

void TfrmSearch::sgResultsDblClick(const QModelIndex& index) {
  if (!index.isValid()) return;
  const SearchResultsModel::Row& hit = results_->Hit(index.row());
  emit OpenHitRequested(hit.supportId, hit.cells[SearchResultsModel::kPathColumn],
                        hit.cells[SearchResultsModel::kNameColumn]);
}

void TfrmSearch::closeEvent(QCloseEvent* event) {
  if (busy_) {
    event->ignore();
    return;
  }
  stop_ = true;
  layout_->Save();
  event->accept();
}

void TfrmSearch::showCount() {
  lblFileFound->setText(LocalFormat(127, "Trouvé(s) : %d", {results_->rowCount()}));
}

void TfrmSearch::Started(int32_t recordCount) {
  pgSearch->setRange(0, std::max(recordCount, 0));
  pgSearch->setValue(0);
}

void TfrmSearch::HitsFound(std::span<const SearchHit> hits) {
  results_->Append(hits);
  showCount();
}

void TfrmSearch::Pause(int32_t visited) {
  // The bar repaints as soon as its value moves; it moves only when the
  // window is about to breathe anyway.
  if (!pump_->Due()) return;
  pgSearch->setValue(std::min(visited, pgSearch->maximum()));
  pump_->Pump();
}

int32_t TfrmSearch::HitLimit() { return tbMaxFiles->value(); }

// The program ending (a logout) stops a search as its Stop button does.
bool TfrmSearch::StopRequested() { return stop_ || TerminationRequested(); }
