#include "features/search/SearchResultsModel.h"

#include "app/DBWrapperGlobal.h"
#include "app/DateTimeText.h"
#include "app/QtText.h"
#include "catalog/Udbwrapper.h"
#include "features/supports/TGridColCustomizer.h"

namespace {

// The number, the size, the serial and the support id.
bool rightAligned(int dataColumn) {
  return dataColumn == 0 || dataColumn == 4 || dataColumn == 6 || dataColumn == 7;
}

}  // namespace

SearchResultsModel::SearchResultsModel(const TGridColCustomizer& layout, QObject* parent)
    : QAbstractTableModel(parent), layout_(layout) {}

void SearchResultsModel::Clear() {
  beginResetModel();
  rows_.clear();
  endResetModel();
}

void SearchResultsModel::Append(std::span<const SearchHit> hits) {
  if (hits.empty()) return;
  const int first = static_cast<int>(rows_.size());
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(hits.size()) - 1);
  for (const SearchHit& hit : hits)
    rows_.push_back(Row{hit.supportId,
                        SearchHitCells(hit, toAnsi(DateTimeText(hit.date, QLocale::LongFormat)))});
  endInsertRows();
}

void SearchResultsModel::SetTitles(const std::array<QString, kColumns>& titles) {
  titles_ = titles;
  emit headerDataChanged(Qt::Horizontal, 0, kColumns - 1);
}

void SearchResultsModel::LayoutMoved() {
  emit headerDataChanged(Qt::Horizontal, 0, kColumns - 1);
  if (!rows_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, kColumns - 1));
}

int SearchResultsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int SearchResultsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant SearchResultsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return QVariant();
  const int column = layout_.ColumnAtPosition(index.column());
  if (column < 0) return QVariant();
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(Qt::AlignVCenter |
                               (rightAligned(column) ? Qt::AlignRight : Qt::AlignLeft));
  }
  if (role != Qt::DisplayRole) return QVariant();
  const std::string& cell = rows_[static_cast<size_t>(index.row())].cells[column];
  if (column == kPathColumn && !cell.empty() && cell.front() == '@' && dbWrapper != nullptr) {
    int32_t parentId = -1;
    return fromAnsi(dbWrapper->ResolveFilePath(cell, parentId));
  }
  return fromAnsi(cell);
}

QVariant SearchResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return QVariant();
  const int column = layout_.ColumnAtPosition(section);
  if (column < 0) return role == Qt::DisplayRole ? QVariant(QString()) : QVariant();
  if (role == Qt::DisplayRole) return titles_[column];
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  return QVariant();
}
