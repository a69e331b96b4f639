// The rows of the search window's results grid: one per hit, with its
// eight cells by data column (SearchHitCells), shown through the grid's
// column layout. The title row is the view's header.
//
// Cells are kept as stored (Windows-1252), the date as the text of its
// day count with the seconds; a path in the compact form
// "@<parent id>:<rest>" is shown expanded while its cell keeps the compact
// text.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "features/search/FileSearch.h"

class TGridColCustomizer;

class SearchResultsModel : public QAbstractTableModel {
 public:
  static constexpr int kColumns = 8;
  // Data columns of the cells.
  static constexpr int kNumberColumn = 0;
  static constexpr int kNameColumn = 1;
  static constexpr int kPathColumn = 5;

  struct Row {
    int32_t supportId = 0;
    std::array<std::string, kColumns> cells;
  };

  // `layout` outlives the model.
  SearchResultsModel(const TGridColCustomizer& layout, QObject* parent = nullptr);

  void Clear();
  void Append(std::span<const SearchHit> hits);
  const Row& Hit(int row) const { return rows_[static_cast<size_t>(row)]; }
  // Titles by data column.
  void SetTitles(const std::array<QString, kColumns>& titles);
  // The layout moved a column: every cell and title is read again.
  void LayoutMoved();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const TGridColCustomizer& layout_;
  std::vector<Row> rows_;
  std::array<QString, kColumns> titles_;
};
