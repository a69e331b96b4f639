// A grid of the program (a QTableView) laid out by a TGridColCustomizer
// kept in a section of the ini file: display column c of the view shows
// data column DataColumn(c), or nothing when no visible data column stands
// there (the slots of hidden columns, at the end).
//
// The user sizes the columns; a column dragged onto another swaps places
// with it (TGridColCustomizer::MoveColumn), and the view's model must then
// read every cell and title again. The widths and the order reach the ini
// file through Save, when the window closes.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "features/supports/TGridColCustomizer.h"

class QHeaderView;
class QTableView;

class GridHeaderLayout {
 public:
  // Every column shown, in data order; nothing is read before Attach.
  GridHeaderLayout(int32_t columnCount, std::string section);
  GridHeaderLayout(const GridHeaderLayout&) = delete;
  GridHeaderLayout& operator=(const GridHeaderLayout&) = delete;

  // Reads the layout from the section of the program's ini file, a
  // column's width there defaulting to its `builtInWidths` entry; gives the
  // header (whose model has its columns already) the widths, and takes its
  // column moves: `moved` runs after each.
  void Attach(QHeaderView& header, const std::vector<int32_t>& builtInWidths,
              std::function<void()> moved);

  const TGridColCustomizer& Layout() const { return layout_; }
  int32_t DataColumn(int32_t displayColumn) const {
    return layout_.ColumnAtPosition(displayColumn);
  }

  // Takes the header's widths and writes the layout to its section.
  void Save();

  // The built-in width of a column: the designed 100 pixels, or more when
  // the grid's fonts need more for its title or for a typical cell.
  static int32_t FittingWidth(const QTableView& grid, const QString& title,
                              const QString& cell = QString());

 private:
  void sectionMoved(int from, int to);
  void captureWidths();
  void applyWidths();

  TGridColCustomizer layout_;
  std::string section_;
  QHeaderView* header_ = nullptr;
  std::function<void()> moved_;
};
