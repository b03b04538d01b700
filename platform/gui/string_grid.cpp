#include "platform/gui/string_grid.h"

#include <QHeaderView>
#include <QSignalBlocker>
#include <QTableWidget>
#include <algorithm>

#include "platform/gui/application.h"
#include "platform/gui/qt_convert.h"
#include "platform/rtl/exceptions.h"

namespace jw {

namespace {

constexpr int kDefaultColWidth = 64;
constexpr int kDefaultRowHeight = 24;

}  // namespace

TStringGrid::TStringGrid(TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 320, 120);
  Resize();
}

void TStringGrid::SetColCount(int count) {
  col_count_ = std::max(count, 1);
  Resize();
}

void TStringGrid::SetRowCount(int count) {
  row_count_ = std::max(count, fixed_rows_ + 1);
  Resize();
}

void TStringGrid::SetFixedRows(int count) {
  fixed_rows_ = std::clamp(count, 0, 1);
  row_count_ = std::max(row_count_, fixed_rows_ + 1);
  Resize();
}

int TStringGrid::ColWidths(int col) const {
  CheckCell(col, 0);
  return col_widths_[static_cast<size_t>(col)];
}

void TStringGrid::SetColWidths(int col, int width) {
  CheckCell(col, 0);
  col_widths_[static_cast<size_t>(col)] = width;
  if (HandleAllocated()) static_cast<QTableWidget*>(Handle())->setColumnWidth(col, width);
}

void TStringGrid::SetEditing(bool on) {
  editing_ = on;
  if (HandleAllocated()) Fill(*static_cast<QTableWidget*>(Handle()));
}

const std::string& TStringGrid::Cells(int col, int row) const {
  CheckCell(col, row);
  return cells_[static_cast<size_t>(row)][static_cast<size_t>(col)];
}

void TStringGrid::SetCells(int col, int row, const std::string& text) {
  CheckCell(col, row);
  cells_[static_cast<size_t>(row)][static_cast<size_t>(col)] = text;
  if (!HandleAllocated()) return;
  auto& table = *static_cast<QTableWidget*>(Handle());
  const QSignalBlocker quiet(&table);
  PutCell(table, col, row);
}

void TStringGrid::CheckCell(int col, int row) const {
  if (col < 0 || col >= col_count_ || row < 0 || row >= row_count_)
    throw EListError("Grid index out of range");
}

void TStringGrid::Resize() {
  col_widths_.resize(static_cast<size_t>(col_count_), kDefaultColWidth);
  cells_.resize(static_cast<size_t>(row_count_));
  for (auto& row : cells_) row.resize(static_cast<size_t>(col_count_));
  if (HandleAllocated()) Fill(*static_cast<QTableWidget*>(Handle()));
}

void TStringGrid::PutCell(QTableWidget& table, int col, int row) const {
  auto* item =
      new QTableWidgetItem(ToQString(cells_[static_cast<size_t>(row)][static_cast<size_t>(col)]));
  if (row < fixed_rows_) {
    table.setHorizontalHeaderItem(col, item);
  } else {
    table.setItem(row - fixed_rows_, col, item);
  }
}

void TStringGrid::Fill(QTableWidget& table) const {
  const QSignalBlocker quiet(&table);
  table.setColumnCount(col_count_);
  table.setRowCount(row_count_ - fixed_rows_);
  table.horizontalHeader()->setVisible(fixed_rows_ > 0);
  table.setEditTriggers(editing_ ? QAbstractItemView::AllEditTriggers
                                 : QAbstractItemView::NoEditTriggers);
  for (int col = 0; col < col_count_; ++col) {
    table.setColumnWidth(col, col_widths_[static_cast<size_t>(col)]);
    for (int row = 0; row < row_count_; ++row) PutCell(table, col, row);
  }
}

std::unique_ptr<QWidget> TStringGrid::CreateWidget(const TCreateParams& params) {
  QWidget* parent = params.WndParent != nullptr ? params.WndParent->Handle() : nullptr;
  auto table = std::make_unique<QTableWidget>(parent);
  table->verticalHeader()->setVisible(false);
  table->verticalHeader()->setDefaultSectionSize(kDefaultRowHeight);
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  QObject::connect(table.get(), &QTableWidget::itemChanged, [this](QTableWidgetItem* item) {
    CallGuarded([this, item] {
      const size_t row = static_cast<size_t>(item->row() + fixed_rows_);
      if (row < cells_.size() && static_cast<size_t>(item->column()) < cells_[row].size())
        cells_[row][static_cast<size_t>(item->column())] = FromQString(item->text());
    });
  });
  Fill(*table);
  return table;
}

}  // namespace jw
