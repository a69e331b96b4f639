#include "features/supports/TGridColCustomizer.h"

#include <algorithm>
#include <string>

#include "app/TIniFile.h"

namespace {

std::string key(const char* name, int32_t column) { return name + std::to_string(column); }

}  // namespace

TGridColCustomizer::TGridColCustomizer(int32_t columnCount)
    : visible_(std::max(columnCount, 0), true),
      order_(std::max(columnCount, 0)),
      width_(std::max(columnCount, 0), kDefaultWidth),
      position_(std::max(columnCount, 0)) {
  for (int32_t i = 0; i < ColumnCount(); ++i) order_[i] = position_[i] = i;
}

void TGridColCustomizer::SetWidth(int32_t column, int32_t width) {
  width_[column] = std::clamp(width, kMinWidth, kMaxWidth);
}

int32_t TGridColCustomizer::ColumnAtPosition(int32_t position) const {
  for (int32_t i = 0; i < ColumnCount(); ++i) {
    if (visible_[i] && position_[i] == position) return i;
  }
  return -1;
}

void TGridColCustomizer::MoveColumn(int32_t from, int32_t to) {
  const int32_t a = ColumnAtPosition(from);
  const int32_t b = ColumnAtPosition(to);
  if (a >= 0 && b >= 0) std::swap(order_[a], order_[b]);
}

void TGridColCustomizer::Recompute() {
  const int32_t n = ColumnCount();
  for (int32_t i = 0; i < n; ++i) position_[i] = visible_[i] ? order_[i] : -1;
  // Closes every gap: while nothing stands at p but something stands
  // beyond it, everything beyond moves one place down.
  for (int32_t p = 0; p < n; ++p) {
    for (;;) {
      const bool taken = std::find(position_.begin(), position_.end(), p) != position_.end();
      const bool beyond =
          std::any_of(position_.begin(), position_.end(), [p](int32_t q) { return q > p; });
      if (taken || !beyond) break;
      for (int32_t& q : position_) {
        if (q > p) --q;
      }
    }
  }
}

void TGridColCustomizer::CaptureWidths(const std::vector<int32_t>& gridWidths) {
  for (int32_t c = 0; c < static_cast<int32_t>(gridWidths.size()); ++c) {
    const int32_t column = ColumnAtPosition(c);
    if (column >= 0) SetWidth(column, gridWidths[c]);
  }
}

void TGridColCustomizer::ApplyWidths(std::vector<int32_t>& gridWidths) const {
  for (int32_t c = 0; c < static_cast<int32_t>(gridWidths.size()); ++c) {
    const int32_t column = ColumnAtPosition(c);
    if (column >= 0) gridWidths[c] = width_[column];
  }
}

void TGridColCustomizer::Load(const TIniFile& ini, std::string_view section) {
  const int32_t n = ColumnCount();
  for (int32_t i = 0; i < n; ++i) {
    visible_[i] = ini.ReadInteger(section, key("Disp.", i), visible_[i] ? 1 : 0) != 0;
    order_[i] = std::clamp(ini.ReadInteger(section, key("Order.", i), order_[i]), 0, n - 1);
    SetWidth(i, ini.ReadInteger(section, key("Width.", i), width_[i]));
  }
}

void TGridColCustomizer::Save(TIniFile& ini, std::string_view section) const {
  for (int32_t i = 0; i < ColumnCount(); ++i) {
    ini.WriteInteger(section, key("Disp.", i), visible_[i] ? 1 : 0);
    ini.WriteInteger(section, key("Order.", i), order_[i]);
    ini.WriteInteger(section, key("Width.", i), width_[i]);
  }
}
