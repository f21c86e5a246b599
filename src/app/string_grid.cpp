#include "string_grid.h"

#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <algorithm>

namespace {

// Paints fixed cells like buttons and gives them no editor.
class FixedCellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    if (StringGrid::IsFixed(index.column(), index.row())) return nullptr;
    return QStyledItemDelegate::createEditor(parent, option, index);
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (!StringGrid::IsFixed(index.column(), index.row())) return;
    option->backgroundBrush = option->palette.button();
    option->state &= ~QStyle::State_Selected;
    option->displayAlignment = Qt::AlignCenter;
  }
};

}  // namespace

StringGrid::StringGrid(QWidget* parent) : QTableWidget(parent) {
  setItemDelegate(new FixedCellDelegate(this));
}

QString StringGrid::Cell(int col, int row) const {
  const QTableWidgetItem* cell = item(row, col);
  return cell == nullptr ? QString() : cell->text();
}

void StringGrid::SetCell(int col, int row, const QString& text) {
  if (col < 0 || row < 0 || col >= columnCount() || row >= rowCount()) return;
  QTableWidgetItem* cell = item(row, col);
  if (cell == nullptr) {
    cell = new QTableWidgetItem;
    if (IsFixed(col, row)) cell->setFlags(Qt::ItemIsEnabled);
    setItem(row, col, cell);
  }
  cell->setText(text);
}

int StringGrid::Col() const {
  const int col = currentColumn();
  return col < kFixedCols ? kFixedCols : col;
}

int StringGrid::Row() const {
  const int row = currentRow();
  return row < kFixedRows ? kFixedRows : row;
}

void StringGrid::mousePressEvent(QMouseEvent* event) {
  const QModelIndex at = indexAt(event->position().toPoint());
  if (at.isValid() && IsFixed(at.column(), at.row())) return;  // header cells take no clicks
  QTableWidget::mousePressEvent(event);
}

QModelIndex StringGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  const QModelIndex next = QTableWidget::moveCursor(action, modifiers);
  if (!next.isValid() || !IsFixed(next.column(), next.row())) return next;
  // Keyboard moves stop at the first non-fixed row and column.
  return model()->index(std::max(next.row(), kFixedRows), std::max(next.column(), kFixedCols));
}
