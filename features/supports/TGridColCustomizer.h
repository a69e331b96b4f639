// TGridColCustomizer: the column layout of a grid of n data columns, kept
// across sessions in a section of the ini file: which columns are shown,
// in what order, and how wide.
//
// Each data column i has a wanted display position (its order value), a
// visibility and a width; Recompute turns visibility and order into the
// display position of every column, the visible ones numbered 0 to k - 1
// without gaps in the order of their order values (-1 for a hidden one).
// Ini keys, for i = 0 .. n - 1: "Disp.<i>" (1 shown, 0 hidden),
// "Order.<i>" and "Width.<i>".
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

class TIniFile;

class TGridColCustomizer {
 public:
  // Values read from a damaged settings file are held to these bounds.
  static constexpr int32_t kMinWidth = 0;
  static constexpr int32_t kMaxWidth = 10000;
  static constexpr int32_t kDefaultWidth = 100;

  // Every column visible, in data order, 100 pixels wide.
  explicit TGridColCustomizer(int32_t columnCount);

  int32_t ColumnCount() const { return static_cast<int32_t>(visible_.size()); }
  bool IsVisible(int32_t column) const { return visible_[column]; }
  int32_t GetPosition(int32_t column) const { return position_[column]; }
  int32_t GetWidth(int32_t column) const { return width_[column]; }
  void SetWidth(int32_t column, int32_t width);

  // The lowest data column that is visible and stands at display position
  // `position`; -1 when none does.
  int32_t ColumnAtPosition(int32_t position) const;

  // Swaps the order values of the data columns at two display positions,
  // when both positions hold one; Recompute then shows the swap.
  void MoveColumn(int32_t from, int32_t to);

  // Display positions from visibility and order.
  void Recompute();

  // Widths between the layout and a grid's display columns (one entry per
  // display column): every display column that shows a data column gives
  // or takes that column's width.
  void CaptureWidths(const std::vector<int32_t>& gridWidths);
  void ApplyWidths(std::vector<int32_t>& gridWidths) const;

  // Reads and writes the section's keys, the current values being the
  // defaults. Order values outside 0 .. n - 1 and widths outside the bounds
  // above are held to them. Neither recomputes the positions.
  void Load(const TIniFile& ini, std::string_view section);
  void Save(TIniFile& ini, std::string_view section) const;

 private:
  std::vector<bool> visible_;
  std::vector<int32_t> order_;
  std::vector<int32_t> width_;
  std::vector<int32_t> position_;
};
