// The data grid `SG1` as a spreadsheet user expects it.
//
// - Typing on a selected cell replaces its whole text; F2 or a double-click
//   opens the editor with the old text kept and the cursor at its end, to
//   change it inside.  A click on a cell that is already selected only
//   selects it: it never opens an editor with the cursor at the click
//   point, where typed digits would land in the middle of the old value.
// - Columns and rows are resized by dragging the lines between them in the
//   fixed first row (columns) or the fixed first column (rows), as in a
//   classic string grid; a double-click on such a line fits the column to
//   its widest text.
#pragma once

#include <QTableWidget>

namespace morvex {

class TDataGrid : public QTableWidget {
  Q_OBJECT

 public:
  explicit TDataGrid(QWidget* parent = nullptr);

  // Widens every column whose texts do not fit, never below `min_width`.
  void FitColumnsToTexts(int min_width);

 protected:
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  // The column (or row) whose right (or bottom) line lies under `pos` in
  // the fixed first row (or column); -1 if none.
  int ColumnLineAt(const QPoint& pos) const;
  int RowLineAt(const QPoint& pos) const;

  enum class Drag { kNone, kColumn, kRow };
  Drag drag_ = Drag::kNone;
  int drag_index_ = -1;
  int drag_origin_ = 0;  // left edge of the column or top edge of the row
};

}  // namespace morvex
