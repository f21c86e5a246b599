// A grid of text cells addressed (column, row) like the designed string grids: row 0 and
// column 0 are fixed header cells (drawn in button colour unless given another, never edited or
// selected), the other cells are editable. Qt's own headers stay hidden so that indices match the
// design.
#pragma once

#include <QColor>
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

  // Fill colour of cell (col, row); an invalid colour gives the cell its default back (button
  // face for header cells). Cells outside the grid are ignored.
  void SetCellColour(int col, int row, const QColor& colour);
  // The colour set for the cell, or an invalid colour for the default.
  QColor CellColour(int col, int row) const;

 signals:
  // A key pressed in the grid, before the grid's own handling of it. Enter, Insert and Delete
  // pressed in a cell's editor come here too, once the editor has put its text into the cell
  // and closed, so a handler reads the text the user typed and its own writes to the cell stay.
  void KeyDown(int qt_key, Qt::KeyboardModifiers modifiers);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
};
