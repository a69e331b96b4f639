#include "features/supports/TSupportGridModel.h"

#include "app/DBWrapperGlobal.h"
#include "app/DateTimeText.h"
#include "app/LocalText.h"
#include "app/QtText.h"
#include "app/TextFormat.h"
#include "features/supports/TGridColCustomizer.h"

namespace {

// The language string of each data column's title, and its own title.
constexpr int32_t kFirstTitleId = 162;
constexpr const char* kTitles[TSupportGridModel::kColumns] = {
    "ID",          "Type",     "Nom volume",       "N° série",
    "Nb Fichiers", "Votre ID", "Date recensement", "Commentaires",
    "Taille",
};

bool rightAligned(int32_t column) { return column == 4 || column == 8; }

QString number(const char* format, int64_t value) { return fromAnsi(FormatText(format, {value})); }

// A memo's lines side by side, as a cell shows one line.
QString oneLine(const std::string& text) {
  QString line = fromAnsi(text);
  line.replace(QLatin1String("\r\n"), QLatin1String(" "));
  line.replace(QLatin1Char('\r'), QLatin1Char(' '));
  line.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return line;
}

}  // namespace

TSupportGridModel::TSupportGridModel(const TGridColCustomizer& layout, QObject* parent)
    : QAbstractTableModel(parent), layout_(layout) {}

int TSupportGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int TSupportGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant TSupportGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const int32_t column = layout_.ColumnAtPosition(index.column());
  if (column < 0) return {};
  switch (role) {
    case Qt::DisplayRole:
      if (LoadRow(index.row() + 1) < 0) return {};
      return CellText(cached_, column);
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::AlignVCenter |
                                 (rightAligned(column) ? Qt::AlignRight : Qt::AlignLeft));
    default:
      return {};
  }
}

QVariant TSupportGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  const int32_t column = layout_.ColumnAtPosition(section);
  return column < 0 ? QString() : Title(column);
}

void TSupportGridModel::Refresh() {
  beginResetModel();
  rows_ = dbWrapper != nullptr ? std::max(dbWrapper->GetSupportCount(), 0) : 0;
  cachedRow_ = cachedRecord_ = -1;
  endResetModel();
}

void TSupportGridModel::RemoveRow(int32_t row) {
  if (row < 1 || row > rows_) return;
  beginRemoveRows(QModelIndex(), row - 1, row - 1);
  rows_--;
  cachedRow_ = cachedRecord_ = -1;
  endRemoveRows();
}

void TSupportGridModel::Repaint() {
  cachedRow_ = cachedRecord_ = -1;
  emit headerDataChanged(Qt::Horizontal, 0, kColumns - 1);
  if (rows_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, kColumns - 1));
}

int32_t TSupportGridModel::LoadRow(int32_t row) const {
  if (row < 1 || row > rows_ || dbWrapper == nullptr) return -1;
  if (row == cachedRow_ && dbWrapper->CurrentSupportRecord() == cachedRecord_) return cachedRecord_;
  cachedRow_ = cachedRecord_ = -1;
  if (!dbWrapper->GotoSupport(row)) return -1;
  cached_ = TSupportRecord();
  dbWrapper->ReadCurrentSupport(cached_);
  cachedRow_ = row;
  cachedRecord_ = dbWrapper->CurrentSupportRecord();
  return cachedRecord_;
}

QString TSupportGridModel::Title(int32_t column) {
  if (column < 0 || column >= kColumns) return {};
  return LocalText(kFirstTitleId + column, QString::fromUtf8(kTitles[column]));
}

QString TSupportGridModel::CellText(const TSupportRecord& support, int32_t column) {
  switch (column) {
    case 0:
      return number("%05d", support.id);
    case 1:
      return fromAnsi(support.type);
    case 2:
      return fromAnsi(support.volume);
    case 3:
      return fromAnsi(TDBWrapper::FormatVolumeSerial(static_cast<uint32_t>(support.volumeSerial)));
    case 4:
      return number("%ld", support.fileCount);
    case 5:
      return fromAnsi(support.userId);
    case 6:
      return DateTimeText(support.dateRecorded);
    case 7:
      return oneLine(support.text);
    case 8:
      return number("%ld", support.size);
    default:
      return {};
  }
}
