#include "string_grid.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <algorithm>

namespace {

// The keys that end an edit in a cell and reach the grid's key handler.
bool EndsEdit(int key) {
  return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Insert ||
         key == Qt::Key_Delete;
}

// Paints fixed cells like buttons and gives them no editor. Enter, Insert and Delete in an
// editor commit its text into the cell and close it before the grid hears of the key: Qt's own
// Enter commits later (queued), which would both hide the typed text from the key handler and
// overwrite the value the handler shows.
class FixedCellDelegate : public QStyledItemDelegate {
 public:
  explicit FixedCellDelegate(StringGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    if (StringGrid::IsFixed(index.column(), index.row())) return nullptr;
    return QStyledItemDelegate::createEditor(parent, option, index);
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (!StringGrid::IsFixed(index.column(), index.row())) return;
    if (!index.data(Qt::BackgroundRole).isValid())
      option->backgroundBrush = option->palette.button();
    option->state &= ~QStyle::State_Selected;
    option->displayAlignment = Qt::AlignCenter;
  }

  bool eventFilter(QObject* object, QEvent* event) override {
    auto* editor = qobject_cast<QWidget*>(object);
    if (editor == nullptr || event->type() != QEvent::KeyPress) {
      return QStyledItemDelegate::eventFilter(object, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    if (!EndsEdit(key->key())) return QStyledItemDelegate::eventFilter(object, event);
    emit commitData(editor);
    emit closeEditor(editor, QAbstractItemDelegate::NoHint);
    emit grid_->KeyDown(key->key(), key->modifiers());
    return true;
  }

 private:
  StringGrid* grid_;
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

void StringGrid::SetCellColour(int col, int row, const QColor& colour) {
  if (col < 0 || row < 0 || col >= columnCount() || row >= rowCount()) return;
  if (item(row, col) == nullptr) SetCell(col, row, QString());
  item(row, col)->setData(Qt::BackgroundRole, colour.isValid() ? QVariant(colour) : QVariant());
}

QColor StringGrid::CellColour(int col, int row) const {
  const QTableWidgetItem* cell = item(row, col);
  if (cell == nullptr) return {};
  return cell->data(Qt::BackgroundRole).value<QColor>();
}

void StringGrid::keyPressEvent(QKeyEvent* event) {
  emit KeyDown(event->key(), event->modifiers());
  QTableWidget::keyPressEvent(event);
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
