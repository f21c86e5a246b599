// A grid of text cells addressed (column, row) like the designed string grids: row 0 and
// column 0 are fixed header cells (drawn in button colour, never edited or selected), the other
// cells are editable. Qt's own headers stay hidden so that indices match the design.
#pragma once

#include <QTableWidget>

class StringGrid : public QTableWidget {
  Q_OBJECT

 public:
  static constexpr int kFixedCols = 1;
  static constexpr int kFixedRows = 1;

  explicit StringGrid(QWidget* parent = nullptr);

  // Text of cell (col, row); empty for a cell never written or outside the grid.
  QString Cell(int col, int row) const;
  // Writes cell (col, row); cells outside the grid are ignored.
  void SetCell(int col, int row, const QString& text);
  static bool IsFixed(int col, int row) { return col < kFixedCols || row < kFixedRows; }
  // The current cell; (1, 1), the first non-fixed cell, before any selection.
  int Col() const;
  int Row() const;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
};
