#include "features/supports/GridHeaderLayout.h"

#include <QHeaderView>
#include <QSignalBlocker>
#include <QStyle>
#include <QTableView>
#include <algorithm>
#include <utility>

#include "app/ProgramFolder.h"
#include "app/TIniFile.h"

GridHeaderLayout::GridHeaderLayout(int32_t columnCount, std::string section)
    : layout_(columnCount), section_(std::move(section)) {}

void GridHeaderLayout::Attach(QHeaderView& header, const std::vector<int32_t>& builtInWidths,
                              std::function<void()> moved) {
  const auto count = std::min<size_t>(builtInWidths.size(), layout_.ColumnCount());
  for (size_t column = 0; column < count; ++column)
    layout_.SetWidth(static_cast<int32_t>(column), builtInWidths[column]);
  layout_.Load(TIniFile(IniFilePath()), section_);
  layout_.Recompute();
  header_ = &header;
  moved_ = std::move(moved);
  header.setSectionsMovable(true);
  applyWidths();
  QObject::connect(&header, &QHeaderView::sectionMoved, &header,
                   [this](int, int from, int to) { sectionMoved(from, to); });
}

void GridHeaderLayout::Save() {
  captureWidths();
  TIniFile ini(IniFilePath());
  layout_.Save(ini, section_);
}

int32_t GridHeaderLayout::FittingWidth(const QTableView& grid, const QString& title,
                                       const QString& cell) {
  const int32_t padding = 4 * grid.style()->pixelMetric(QStyle::PM_HeaderMargin);
  const int32_t text = std::max(grid.horizontalHeader()->fontMetrics().horizontalAdvance(title),
                                grid.fontMetrics().horizontalAdvance(cell));
  return std::max(TGridColCustomizer::kDefaultWidth, text + padding);
}

void GridHeaderLayout::sectionMoved(int from, int to) {
  {
    // The header has moved one section and shifted those between; the grid
    // swaps two columns instead. Its own move is undone, so that display
    // positions and sections stay one and the same, and the layout swaps.
    const QSignalBlocker quiet(header_);
    header_->moveSection(to, from);
  }
  captureWidths();
  layout_.MoveColumn(from, to);
  layout_.Recompute();
  applyWidths();
  if (moved_) moved_();
}

void GridHeaderLayout::captureWidths() {
  if (header_ == nullptr) return;
  std::vector<int32_t> widths(static_cast<size_t>(header_->count()));
  for (int c = 0; c < header_->count(); ++c) widths[c] = header_->sectionSize(c);
  layout_.CaptureWidths(widths);
}

void GridHeaderLayout::applyWidths() {
  std::vector<int32_t> widths(static_cast<size_t>(header_->count()));
  for (int c = 0; c < header_->count(); ++c) widths[c] = header_->sectionSize(c);
  layout_.ApplyWidths(widths);
  for (int c = 0; c < header_->count(); ++c) header_->resizeSection(c, widths[c]);
}
