// TStringGrid: a grid of text cells in columns and rows over a Qt table. A
// fixed first row is the heading, shown as the column header; the other rows
// scroll and, with editing on, take the user's typing. The control keeps the
// cells itself, so a grid without a window holds them too.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/gui/controls.h"

class QTableWidget;

namespace jw {

class TStringGrid : public TWinControl {
 public:
  explicit TStringGrid(TComponent* owner);

  int ColCount() const { return col_count_; }
  void SetColCount(int count);
  // Every row, the heading row included.
  int RowCount() const { return row_count_; }
  void SetRowCount(int count);
  // 0 or 1: whether row 0 is the heading.
  int FixedRows() const { return fixed_rows_; }
  void SetFixedRows(int count);
  int ColWidths(int col) const;
  void SetColWidths(int col, int width);
  // Whether the user may edit the cells below the heading.
  bool Editing() const { return editing_; }
  void SetEditing(bool on);

  // A cell outside the grid raises EListError.
  const std::string& Cells(int col, int row) const;
  void SetCells(int col, int row, const std::string& text);

 protected:
  std::unique_ptr<QWidget> CreateWidget(const TCreateParams& params) override;

 private:
  void CheckCell(int col, int row) const;
  // Sizes the cell store to the counts, keeping what fits.
  void Resize();
  // Puts the counts, widths, heading and cells into the table.
  void Fill(QTableWidget& table) const;
  void PutCell(QTableWidget& table, int col, int row) const;

  int col_count_ = 5;
  int row_count_ = 5;
  int fixed_rows_ = 1;
  bool editing_ = false;
  std::vector<int> col_widths_;
  std::vector<std::vector<std::string>> cells_;  // [row][col]
};

}  // namespace jw
