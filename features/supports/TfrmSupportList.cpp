#include "features/supports/TfrmSupportList.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "app/DBWrapperGlobal.h"
#include "app/DateTimeText.h"
#include "app/LocalText.h"
#include "app/MessageBoxes.h"
#include "app/ModalRunner.h"
#include "app/Named.h"
#include "app/QtText.h"
#include "app/TfrmMain.h"
#include "catalog/Udbwrapper.h"
#include "features/archive/TfrmExport.h"
#include "features/search/TfrmSearch.h"
#include "features/supports/TSupportGridModel.h"
#include "features/supports/TfrmSupportEdit.h"

TfrmSupportList* frmSupportList = nullptr;

namespace {

// btnRefresh keeps this far from the panel's right edge.
constexpr int kRefreshMargin = 5;
// The date column, and a date whose text is as long as most.
constexpr int32_t kDateColumn = 6;
constexpr double kSampleDate = 45000.75;  // 15 March 2023, 18:00
// A selected row: white on navy.
const QColor kSelectionColour(0x00, 0x00, 0x80);

}  // namespace

TfrmSupportList::TfrmSupportList(QWidget* parent)
    : QWidget(parent),
      layout_(TSupportGridModel::kColumns, kLayoutSection),
      model_(new TSupportGridModel(layout_.Layout(), this)),
      pnlCommand(Named(new QWidget, "pnlCommand")),
      lblClic(Named(new QLabel(QString::fromUtf8(
                        "Clic droit avec la souris pour les options supplémentaires ...")),
                    "lblClic")),
      btnRefresh(Named(new QPushButton(QStringLiteral("Actualiser")), "btnRefresh")),
      sgSupportData(Named(new QTableView, "sgSupportData")),
      popEditProp(Named(new QMenu(this), "popEditProp")),
      itmBrowseSupport(
          Named(popEditProp->addAction(QStringLiteral("Explorer le support")), "itmBrowseSupport")),
      itmEditSuppProp(Named(popEditProp->addAction(QString::fromUtf8("Editer les propriétés")),
                            "itmEditSuppProp")),
      itmSupportExport(
          Named(popEditProp->addAction(QStringLiteral("Exporter le support")), "itmSupportExport")),
      itmDeleteSupport(
          Named(popEditProp->addAction(QStringLiteral("Supprimer Support")), "itmDeleteSupport")) {
  setObjectName(QStringLiteral("frmSupportList"));
  setWindowTitle(QStringLiteral("Liste des supports"));
  setWindowIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
  popEditProp->insertSeparator(itmDeleteSupport);

  auto* command = new QHBoxLayout(pnlCommand);
  command->setContentsMargins(kRefreshMargin, kRefreshMargin, kRefreshMargin, kRefreshMargin);
  command->addWidget(lblClic);
  command->addStretch();
  command->addWidget(btnRefresh);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(pnlCommand);
  layout->addWidget(sgSupportData, 1);

  sgSupportData->setModel(model_);
  sgSupportData->setSelectionBehavior(QAbstractItemView::SelectRows);
  sgSupportData->setSelectionMode(QAbstractItemView::SingleSelection);
  sgSupportData->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sgSupportData->setWordWrap(false);
  sgSupportData->setContextMenuPolicy(Qt::CustomContextMenu);
  sgSupportData->verticalHeader()->hide();
  sgSupportData->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  QHeaderView* titles = sgSupportData->horizontalHeader();
  titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  titles->setHighlightSections(false);
  QPalette colours = sgSupportData->palette();
  for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    colours.setColor(group, QPalette::Highlight, kSelectionColour);
    colours.setColor(group, QPalette::HighlightedText, Qt::white);
    colours.setColor(group, QPalette::Text, Qt::black);
  }
  sgSupportData->setPalette(colours);

  connect(sgSupportData, &QTableView::doubleClicked, this, &TfrmSupportList::sgSupportDataDblClick);
  connect(sgSupportData, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    popEditProp->popup(sgSupportData->viewport()->mapToGlobal(at));
  });
  connect(itmBrowseSupport, &QAction::triggered, this, &TfrmSupportList::itmBrowseSupportClick);
  connect(itmEditSuppProp, &QAction::triggered, this, &TfrmSupportList::itmEditSuppPropClick);
  connect(itmSupportExport, &QAction::triggered, this, &TfrmSupportList::itmSupportExportClick);
  connect(itmDeleteSupport, &QAction::triggered, this, &TfrmSupportList::itmDeleteSupportClick);
  connect(btnRefresh, &QPushButton::clicked, this, &TfrmSupportList::btnRefreshClick);

  layout_.Attach(*titles, builtInWidths(), [this] { model_->Repaint(); });
  ApplyLanguage();
  frmSupportList = this;
}

TfrmSupportList::~TfrmSupportList() {
  if (frmSupportList == this) frmSupportList = nullptr;
  // The grid asks its model, which asks the layout, until the grid goes:
  // it goes before the layout does.
  delete sgSupportData;
}

void TfrmSupportList::ApplyLanguage() {
  setWindowTitle(LocalText(159, windowTitle()));
  lblClic->setText(LocalText(160, lblClic->text()));
  btnRefresh->setText(LocalText(161, btnRefresh->text()));
  itmBrowseSupport->setText(LocalText(173, itmBrowseSupport->text()));
  itmEditSuppProp->setText(LocalText(174, itmEditSuppProp->text()));
  itmSupportExport->setText(LocalText(175, itmSupportExport->text()));
  itmDeleteSupport->setText(LocalText(176, itmDeleteSupport->text()));
  model_->Repaint();
}

void TfrmSupportList::RefreshList() {
  const int32_t selected = selectedRow();
  model_->Refresh();
  selectRow(selected);
  UpdateMainCommands();
}

void TfrmSupportList::UpdateMainCommands() {
  if (frmMain != nullptr) frmMain->EnableSupportCommands(model_->rowCount() >= 1);
}

int32_t TfrmSupportList::LoadRow(int32_t row) { return model_->LoadRow(row); }

bool TfrmSupportList::FormCloseQuery() {
  layout_.Save();
  return true;
}

void TfrmSupportList::sgSupportDataDblClick(const QModelIndex& cell) {
  if (cell.isValid()) browse(cell.row() + 1);
}

void TfrmSupportList::itmBrowseSupportClick() { browse(selectedRow()); }

void TfrmSupportList::itmEditSuppPropClick() {
  const int32_t row = selectedRow();
  if (row < 1 || frmSupportEdit == nullptr || LoadRow(row) < 0 || !dbWrapper->MayChange()) return;
  const TSupportRecord support = model_->Cached();
  frmSupportEdit->SetSupport(fromAnsi(support.volume), fromAnsi(support.userId),
                             fromAnsiMemo(support.text));
  frmSupportEdit->ApplyLanguage();
  if (RunModal(*frmSupportEdit) != QDialog::Accepted) return;
  dbWrapper->UpdateSupportInfo(support.id, toAnsi(frmSupportEdit->ShortComment()),
                               toAnsiMemo(frmSupportEdit->LongComment()));
  model_->Repaint();
}

void TfrmSupportList::itmSupportExportClick() {
  const int32_t row = selectedRow();
  if (row < 1 || LoadRow(row) < 0 || frmExport == nullptr) return;
  frmExport->SetExportScope(model_->Cached().id);
  frmExport->ApplyLanguage();
  RunModal(*frmExport);
}

void TfrmSupportList::itmDeleteSupportClick() {
  if (TfrmSearch::AnySearchRunning()) return;
  const int32_t row = selectedRow();
  if (row < 1 || LoadRow(row) < 0 || !dbWrapper->MayChange()) return;
  const int32_t id = model_->Cached().id;
  const BoxAnswer answer =
      ShowMessageBox(LocalFormat(171, "Confirmez vous l'effacement de ce support %05d", {id}),
                     LocalText(172, QStringLiteral("Attention")), BoxButtons::YesNo);
  if (answer != BoxAnswer::Yes) return;
  // A deletion the catalogue refused (and said why) leaves the row listed;
  // one the disk did not take stands in memory, to be written later: the
  // list shows the catalogue as it stands.
  if (!dbWrapper->DeleteSupport(id)) {
    RefreshList();
    return;
  }
  model_->RemoveRow(row);
  model_->Repaint();
  selectRow(row);
  UpdateMainCommands();
}

void TfrmSupportList::btnRefreshClick() { RefreshList(); }

void TfrmSupportList::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  RefreshList();
}

void TfrmSupportList::closeEvent(QCloseEvent* event) {
  FormCloseQuery();
  event->ignore();
  if (auto* child = qobject_cast<QMdiSubWindow*>(parentWidget())) child->showMinimized();
}

int32_t TfrmSupportList::selectedRow() const {
  const QModelIndexList rows = sgSupportData->selectionModel()->selectedRows();
  return rows.isEmpty() ? 0 : rows.first().row() + 1;
}

void TfrmSupportList::selectRow(int32_t row) {
  // The grid always has a current row while it has rows: the one asked
  // for, held to the rows there are.
  const int32_t rows = model_->rowCount();
  if (rows > 0) sgSupportData->selectRow(std::clamp(row, 1, rows) - 1);
}

void TfrmSupportList::browse(int32_t row) {
  if (row < 1 || frmMain == nullptr || LoadRow(row) < 0) return;
  frmMain->ShowSupportDisplay(model_->Cached().id, std::string(), std::string());
}

std::vector<int32_t> TfrmSupportList::builtInWidths() const {
  std::vector<int32_t> widths;
  for (int32_t column = 0; column < TSupportGridModel::kColumns; column++) {
    widths.push_back(GridHeaderLayout::FittingWidth(
        *sgSupportData, TSupportGridModel::Title(column),
        column == kDateColumn ? DateTimeText(kSampleDate) : QString()));
  }
  return widths;
}
