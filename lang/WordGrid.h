// The grid a word editor fills with CollectWords: column 0 holds keys, column n + 1 the texts of
// language n. Cells outside the grid read as empty; writing one widens the grid as needed.
#pragma once

#include <string>
#include <vector>

class TWordGrid {
 public:
  explicit TWordGrid(int rowCount = 1) { SetRowCount(rowCount); }

  int RowCount() const { return static_cast<int>(rows_.size()); }
  void SetRowCount(int count) { rows_.resize(count < 0 ? 0 : static_cast<std::size_t>(count)); }
  std::string Cell(int col, int row) const {
    if (row < 0 || row >= RowCount() || col < 0) return {};
    const auto& cells = rows_[static_cast<std::size_t>(row)];
    return static_cast<std::size_t>(col) < cells.size() ? cells[static_cast<std::size_t>(col)] : std::string();
  }
  // A row outside the grid is ignored.
  void SetCell(int col, int row, std::string text) {
    if (row < 0 || row >= RowCount() || col < 0) return;
    auto& cells = rows_[static_cast<std::size_t>(row)];
    if (static_cast<std::size_t>(col) >= cells.size()) cells.resize(static_cast<std::size_t>(col) + 1);
    cells[static_cast<std::size_t>(col)] = std::move(text);
  }
  void ClearRow(int row) {
    if (row >= 0 && row < RowCount()) rows_[static_cast<std::size_t>(row)].clear();
  }

 private:
  std::vector<std::vector<std::string>> rows_;
};
