#include "features/supports/GridHeaderLayout.h"

#include <QHeaderView>
#include <QSignalBlocker>
#include <utility>
#include <vector>

#include "app/ProgramFolder.h"
#include "app/TIniFile.h"

GridHeaderLayout::GridHeaderLayout(int32_t columnCount, std::string section)
    : layout_(columnCount), section_(std::move(section)) {
  const TIniFile ini(IniFilePath());
  layout_.Load(ini, section_);
  layout_.Recompute();
}

void GridHeaderLayout::Attach(QHeaderView& header, std::function<void()> moved) {
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

void GridHeaderLayout::sectionMoved(int from, int to) {
  {
    // The view keeps its columns in place: the layout says what each shows.
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
