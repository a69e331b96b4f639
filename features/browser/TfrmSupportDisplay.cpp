#include "features/browser/TfrmSupportDisplay.h"

#include <QAction>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "app/DBWrapperGlobal.h"
#include "app/DateTimeText.h"
#include "app/LocalText.h"
#include "app/MdiChild.h"
#include "app/MessageBoxes.h"
#include "app/Named.h"
#include "app/QtText.h"
#include "features/browser/SupportBrowser.h"

namespace {

// List columns.
constexpr int kNameColumn = 0;
constexpr int kSizeColumn = 1;
constexpr int kDateColumn = 2;
constexpr int kExtColumn = 3;
constexpr int kMd5Column = 4;
constexpr int kListColumns = 5;

// Minimum widths of the four status panels; each grows to its text.
constexpr int kPanelWidths[4] = {100, 100, 160, 50};

SupportTreeNode* nodeOf(const QTreeWidgetItem& item) {
  return reinterpret_cast<SupportTreeNode*>(item.data(0, Qt::UserRole).value<quintptr>());
}

QTreeWidgetItem* makeItem(SupportTreeNode& node) {
  auto* item = new QTreeWidgetItem(QStringList{fromAnsi(node.Name())});
  item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(&node)));
  return item;
}

// The item and every item below it.
template <class Action>
void forSubtree(QTreeWidgetItem& top, Action action) {
  std::vector<QTreeWidgetItem*> pending{&top};
  while (!pending.empty()) {
    QTreeWidgetItem* item = pending.back();
    pending.pop_back();
    action(*item);
    for (int i = 0; i < item->childCount(); ++i) pending.push_back(item->child(i));
  }
}

}  // namespace

TfrmSupportDisplay::TfrmSupportDisplay(QWidget* parent)
    : QWidget(parent),
      pnlCommand(Named(new QFrame, "pnlCommand")),
      Panel1(Named(new QFrame, "Panel1")),
      lblVolumeID(Named(new QLabel, "lblVolumeID")),
      lblCapVolName(Named(new QLabel(QStringLiteral("Nom volume :")), "lblCapVolName")),
      lblVolName(Named(new QLabel, "lblVolName")),
      lblCapSerial(Named(new QLabel(QStringLiteral("N° série :")), "lblCapSerial")),
      lblVolSerial(Named(new QLabel, "lblVolSerial")),
      lblCaptionYourID(Named(new QLabel(QStringLiteral("Your ID :")), "lblCaptionYourID")),
      lblYourComment(Named(new QLabel, "lblYourComment")),
      meLongComment(Named(new QPlainTextEdit, "meLongComment")),
      btnClose(Named(new QPushButton(QStringLiteral("Fermer")), "btnClose")),
      tview(Named(new QTreeWidget, "tview")),
      popupTree(Named(new QMenu(this), "popupTree")),
      itmExpandNode(Named(popupTree->addAction(QStringLiteral("Expand")), "itmExpandNode")),
      itmCollapseNode(Named(popupTree->addAction(QStringLiteral("Collapse")), "itmCollapseNode")),
      lblCapContent(Named(new QLabel(QStringLiteral("Contenu du répertoire :")), "lblCapContent")),
      edtPath(Named(new QLineEdit, "edtPath")),
      lView(Named(new QTreeWidget, "lView")),
      statusDir(Named(new QLabel, "statusDir")),
      statusBar(Named(new QStatusBar, "statusBar")),
      statusPanels{} {
  setObjectName(QStringLiteral("frmSupportDisplay"));
  setAttribute(Qt::WA_DeleteOnClose);
  setMinimumSize(640, 300);
  resize(760, 480);
  if (dbWrapper != nullptr) browser_ = std::make_unique<SupportBrowser>(*dbWrapper);

  meLongComment->setReadOnly(true);
  meLongComment->setFrameShape(QFrame::NoFrame);
  meLongComment->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  tview->setHeaderHidden(true);
  // A long name widens the tree, which then scrolls sideways, rather than
  // being cut: two folders may differ only at the end of their names.
  tview->header()->setStretchLastSection(false);
  tview->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  tview->setIndentation(19);
  tview->setRootIsDecorated(false);
  tview->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tview->setContextMenuPolicy(Qt::CustomContextMenu);
  // Node text black, white on the selection.
  QPalette nodes = tview->palette();
  nodes.setColor(QPalette::Text, Qt::black);
  nodes.setColor(QPalette::HighlightedText, Qt::white);
  tview->setPalette(nodes);
  edtPath->setReadOnly(true);
  lView->setColumnCount(kListColumns);
  lView->setRootIsDecorated(false);
  lView->setUniformRowHeights(true);
  lView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lView->setSelectionMode(QAbstractItemView::SingleSelection);
  lView->setAllColumnsShowFocus(true);
  statusDir->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  statusBar->setSizeGripEnabled(false);
  for (int i = 0; i < 4; ++i) {
    statusPanels[i] = new QLabel;
    statusPanels[i]->setObjectName(QStringLiteral("statusPanel%1").arg(i));
    statusPanels[i]->setMinimumWidth(kPanelWidths[i]);
    statusBar->addWidget(statusPanels[i], i == 3 ? 1 : 0);
  }
  buildLayout();

  connect(tview, &QTreeWidget::itemClicked, this, &TfrmSupportDisplay::tviewClick);
  connect(tview, &QTreeWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { popupTree->popup(tview->viewport()->mapToGlobal(at)); });
  connect(itmExpandNode, &QAction::triggered, this, &TfrmSupportDisplay::itmExpandNodeClick);
  connect(itmCollapseNode, &QAction::triggered, this, &TfrmSupportDisplay::itmCollapseNodeClick);
  connect(lView, &QTreeWidget::itemDoubleClicked, this, &TfrmSupportDisplay::lViewDblClick);
  connect(lView->header(), &QHeaderView::sectionClicked, this,
          &TfrmSupportDisplay::lViewColumnClick);
  connect(btnClose, &QPushButton::clicked, this, [this] { CloseMdiChild(*this); });

  ApplyLanguage();
}

TfrmSupportDisplay::~TfrmSupportDisplay() = default;

void TfrmSupportDisplay::buildLayout() {
  auto* facts = new QGridLayout(Panel1);
  facts->setContentsMargins(6, 4, 6, 4);
  facts->addWidget(lblVolumeID, 0, 0, 1, 2);
  facts->addWidget(lblCapVolName, 1, 0);
  facts->addWidget(lblVolName, 1, 1);
  facts->addWidget(lblCapSerial, 2, 0);
  facts->addWidget(lblVolSerial, 2, 1);
  facts->addWidget(lblCaptionYourID, 3, 0);
  facts->addWidget(lblYourComment, 3, 1);
  facts->setColumnStretch(1, 1);
  QFont bold = lblVolumeID->font();
  bold.setBold(true);
  lblVolumeID->setFont(bold);

  auto* top = new QSplitter(Qt::Horizontal);
  top->addWidget(Panel1);
  top->addWidget(meLongComment);
  top->setStretchFactor(1, 1);
  top->setSizes({260, 400});
  auto* pnlClose = Named(new QWidget, "pnlClose");
  auto* closeSide = new QVBoxLayout(pnlClose);
  closeSide->setContentsMargins(4, 4, 5, 4);
  closeSide->addWidget(btnClose);
  closeSide->addStretch(1);
  auto* command = new QHBoxLayout(pnlCommand);
  command->setContentsMargins(0, 0, 0, 0);
  command->addWidget(top, 1);
  command->addWidget(pnlClose);
  pnlCommand->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
  pnlCommand->setFixedHeight(Panel1->sizeHint().height() + 4);

  auto* content = new QWidget;
  auto* right = new QVBoxLayout(content);
  right->setContentsMargins(0, 0, 0, 0);
  right->addWidget(lblCapContent);
  right->addWidget(edtPath);
  right->addWidget(lView, 1);
  right->addWidget(statusDir);
  auto* main = new QSplitter(Qt::Horizontal);
  main->addWidget(tview);
  main->addWidget(content);
  main->setStretchFactor(1, 1);
  main->setSizes({220, 540});

  auto* window = new QVBoxLayout(this);
  window->setContentsMargins(0, 0, 0, 0);
  window->setSpacing(2);
  window->addWidget(pnlCommand);
  window->addWidget(main, 1);
  window->addWidget(statusBar);

  // Sizes and dates are read as they stand; the widths hold their longest
  // usual texts.
  QHeaderView& header = *lView->header();
  header.setStretchLastSection(false);
  header.setSectionsClickable(true);
  header.setSectionResizeMode(kNameColumn, QHeaderView::Stretch);
  const QFontMetrics metrics = lView->fontMetrics();
  header.resizeSection(kSizeColumn, std::max(100, metrics.horizontalAdvance("0000000000") + 12));
  header.resizeSection(kDateColumn,
                       std::max(120, metrics.horizontalAdvance(DateTimeText(45000.5)) + 16));
  header.resizeSection(kExtColumn, std::max(70, metrics.horizontalAdvance("Extension") + 16));
  header.resizeSection(kMd5Column, 100);
  for (int column : {kSizeColumn, kDateColumn, kExtColumn})
    lView->headerItem()->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
}

void TfrmSupportDisplay::ApplyLanguage() {
  UpdateTitle();
  lblCapVolName->setText(LocalText(140, lblCapVolName->text()));
  lblCapSerial->setText(LocalText(141, lblCapSerial->text()));
  lblCapContent->setText(LocalText(144, lblCapContent->text()));
  QTreeWidgetItem& titles = *lView->headerItem();
  titles.setText(kNameColumn, LocalText(145, QStringLiteral("Nom")));
  titles.setText(kSizeColumn, LocalText(146, QStringLiteral("Taille")));
  titles.setText(kDateColumn, LocalText(147, QStringLiteral("Date")));
  titles.setText(kExtColumn, LocalText(148, QStringLiteral("Extension")));
  titles.setText(kMd5Column, LocalText(240, QStringLiteral("md5")));
  btnClose->setText(LocalText(149, btnClose->text()));
  itmCollapseNode->setText(LocalText(155, itmCollapseNode->text()));
  itmExpandNode->setText(LocalText(156, itmExpandNode->text()));
  lblCaptionYourID->setText(LocalText(157, lblCaptionYourID->text()));
  UpdateStatus();
  if (listed_ != nullptr) showFolderStatus();
}

void TfrmSupportDisplay::UpdateTitle() {
  setWindowTitle(LocalText(139, QString()) + QString::asprintf(" [%05d] ", supportId_) +
                 serialText_ + QStringLiteral("  ") + volumeName_);
}

void TfrmSupportDisplay::UpdateStatus() {
  statusPanels[0]->setText(LocalFormat(150, "Entrées:%ld", {entryCount_}));
  statusPanels[1]->setText(LocalFormat(151, "Octets:%ld ", {byteCount_}));
  const int32_t files = browser_ ? browser_->FileCount() : 0;
  const int32_t folders = browser_ ? browser_->FolderCount() : 0;
  statusPanels[2]->setText(LocalFormat(154, "Fichiers:%d  Rep:%d", {files, folders}));
  QString dates;
  if (browser_ && browser_->HasDates()) {
    dates = DateTimeText(browser_->OldestDate()) + QStringLiteral(" - ") +
            DateTimeText(browser_->NewestDate());
  }
  statusPanels[3]->setText(dates);
}

void TfrmSupportDisplay::LoadSupport(int32_t supportId) {
  supportId_ = supportId;
  lblVolumeID->setText(QString::asprintf("[%05d]", supportId));
  if (!browser_) return;
  browser_->LoadSupport(supportId);
  if (const auto& support = browser_->Support()) {
    volumeName_ = fromAnsi(support->volume);
    serialText_ = fromAnsi(browser_->SerialText());
    lblVolName->setText(volumeName_);
    lblVolSerial->setText(serialText_);
    lblYourComment->setText(fromAnsi(support->userId));
    meLongComment->setPlainText(fromAnsi(support->text));
    entryCount_ = support->fileCount;
    byteCount_ = support->size;
  }
  UpdateTitle();
  if (!browser_->HasRows() && !browser_->Unreadable()) {
    ShowMessageBox(LocalText(152, QStringLiteral("Pas de fichiers trouves pour ce support")),
                   LocalText(153, QStringLiteral("Attention")), BoxButtons::Ok);
  }
  fillTree();
  UpdateStatus();
}

void TfrmSupportDisplay::fillTree() {
  tview->setUpdatesEnabled(false);
  tview->clear();
  items_.clear();
  listed_ = nullptr;
  // Each level's items are made first and handed to their parent at once.
  QTreeWidgetItem* root = makeItem(browser_->Tree().Root());
  items_[&browser_->Tree().Root()] = root;
  std::vector<std::pair<SupportTreeNode*, QTreeWidgetItem*>> pending{
      {&browser_->Tree().Root(), root}};
  while (!pending.empty()) {
    auto [node, item] = pending.back();
    pending.pop_back();
    QList<QTreeWidgetItem*> children;
    children.reserve(static_cast<qsizetype>(node->Children().size()));
    for (const auto& child : node->Children()) {
      QTreeWidgetItem* childItem = makeItem(*child);
      items_[child.get()] = childItem;
      children.append(childItem);
      if (!child->Children().empty()) pending.emplace_back(child.get(), childItem);
    }
    item->addChildren(children);
  }
  tview->addTopLevelItem(root);
  tview->setUpdatesEnabled(true);
}

QTreeWidgetItem* TfrmSupportDisplay::treeItem(const SupportTreeNode& node) {
  const auto found = items_.find(&node);
  return found == items_.end() ? nullptr : found->second;
}

void TfrmSupportDisplay::tviewClick(QTreeWidgetItem* item) {
  if (item != nullptr) listNode(*item);
}

void TfrmSupportDisplay::listNode(QTreeWidgetItem& item) {
  const SupportTreeNode& node = *nodeOf(item);
  listed_ = &item;
  showListing(browser_->ListNode(node), fromAnsi(SupportTree::NodePath(node)));
}

void TfrmSupportDisplay::showListing(DirectoryListing listing, const QString& shown) {
  edtPath->setText(shown);
  listing_ = std::move(listing);
  fillList();
  showFolderStatus();
}

void TfrmSupportDisplay::showFolderStatus() {
  statusDir->setText(
      LocalFormat(158, "Fichiers:%d [Taille:%ld]",
                  {static_cast<int32_t>(listing_.items.size()), listing_.totalSize}));
}

void TfrmSupportDisplay::fillList() {
  lView->setUpdatesEnabled(false);
  lView->clear();
  QList<QTreeWidgetItem*> rows;
  rows.reserve(static_cast<qsizetype>(listing_.items.size()));
  for (const DirectoryItem& entry : listing_.items) {
    auto* row = new QTreeWidgetItem;
    row->setText(kNameColumn, fromAnsi(entry.name));
    if (!entry.directory) row->setText(kSizeColumn, QString::number(entry.size));
    row->setText(kDateColumn, DateTimeText(entry.date));
    row->setText(kExtColumn, fromAnsi(entry.ext));
    row->setText(kMd5Column, fromAnsi(entry.md5));
    for (int column : {kSizeColumn, kDateColumn, kExtColumn})
      row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    rows.append(row);
  }
  lView->addTopLevelItems(rows);
  lView->setUpdatesEnabled(true);
}

void TfrmSupportDisplay::lViewDblClick(QTreeWidgetItem* item) {
  if (item == nullptr || listed_ == nullptr) return;
  const int row = lView->indexOfTopLevelItem(item);
  if (row < 0) return;
  // Among the children of the directory listed, whatever the tree's
  // keyboard selection has moved to since.
  SupportTreeNode* folder =
      browser_->FolderOf(*nodeOf(*listed_), listing_.items[static_cast<size_t>(row)]);
  QTreeWidgetItem* target = folder != nullptr ? treeItem(*folder) : nullptr;
  if (target == nullptr) return;
  target->setExpanded(true);
  tview->setCurrentItem(target);
  tview->scrollToItem(target);
  listNode(*target);
}

void TfrmSupportDisplay::lViewColumnClick(int column) {
  ListSortState& sort = SharedListSort();
  sort.ColumnClicked(column);
  SortDirectoryItems(listing_.items, sort.code);
  fillList();
}

void TfrmSupportDisplay::LocateFile(const std::string& path, const std::string& fileName) {
  if (!browser_) return;
  std::optional<LocatedFile> located = browser_->LocateFile(path, fileName);
  if (!located) return;
  QTreeWidgetItem* item = treeItem(*located->node);
  if (item == nullptr) return;
  tview->setCurrentItem(item);
  tview->scrollToItem(item);
  listed_ = item;
  showListing(std::move(located->listing), fromAnsi(SupportTree::NodePath(*located->node)));
  if (located->item >= 0) {
    QTreeWidgetItem* file = lView->topLevelItem(located->item);
    lView->setCurrentItem(file);
    lView->scrollToItem(file);
  }
}

void TfrmSupportDisplay::itmExpandNodeClick() {
  QTreeWidgetItem* item = tview->currentItem();
  if (item != nullptr) tview->expandRecursively(tview->indexFromItem(item));
}

void TfrmSupportDisplay::itmCollapseNodeClick() {
  QTreeWidgetItem* item = tview->currentItem();
  if (item == nullptr) return;
  tview->setUpdatesEnabled(false);
  forSubtree(*item, [](QTreeWidgetItem& below) { below.setExpanded(false); });
  tview->setUpdatesEnabled(true);
}
