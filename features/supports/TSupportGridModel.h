// TSupportGridModel: the support list's grid, one row per live support of
// the catalogue in record order, read through the global TDBWrapper, and
// nine display columns laid out by a TGridColCustomizer.
//
// The grid holds no texts. A view asks for every cell of a row in turn, so
// the model keeps the one support last read with the grid row it stands in
// and the DBSUPPORT record number it was read from: a row costs one read,
// and the record number tells when the catalogue's current support has
// been moved since (any other reader may move it), which makes the row be
// read again. Rows are counted from 1 as the grid counts them, the title
// row being 0; the model's own rows are one less.
//
// Cells: 0 the id ("%05d"), 1 the type, 2 the volume name, 3 the serial
// ("%04X-%04X"), 4 the entry count, 5 the user's id, 6 the date recorded,
// 7 the comment on one line, 8 the size; 4 and 8 right-aligned. A display
// column that shows no data column (the layout hides one) is empty, title
// included.
#pragma once

#include <QAbstractTableModel>
#include <cstdint>

#include "catalog/Udbwrapper.h"

class TGridColCustomizer;

class TSupportGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int32_t kColumns = 9;

  // `layout` outlives the model.
  explicit TSupportGridModel(const TGridColCustomizer& layout, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // As many rows as the catalogue counts supports; the cache emptied.
  void Refresh();
  // The support of grid row `row` is gone: one row fewer.
  void RemoveRow(int32_t row);
  // The cache emptied; every title and cell shown anew (after an edit, a
  // change of layout or of language).
  void Repaint();

  // Makes the cache hold the support of grid row `row`, reading it only
  // when the cache holds another row or the current support moved. The
  // record number, or -1 when no support stands at that row.
  int32_t LoadRow(int32_t row) const;
  const TSupportRecord& Cached() const { return cached_; }

  // The title of data column `column` in the current language.
  static QString Title(int32_t column);
  // The text of data column `column` of a support.
  static QString CellText(const TSupportRecord& support, int32_t column);

 private:
  const TGridColCustomizer& layout_;
  int32_t rows_ = 0;
  mutable int32_t cachedRow_ = -1;
  mutable int32_t cachedRecord_ = -1;
  mutable TSupportRecord cached_;
};
