#include "ui/GridWidget.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>

#include <algorithm>

namespace morvex {

namespace {

// How close to a line the pointer must be to grab it, in pixels.
constexpr int kGrip = 3;
constexpr int kMinSection = 8;

}  // namespace

TDataGrid::TDataGrid(QWidget* parent) : QTableWidget(parent) {
  setMouseTracking(true);
  // Any key replaces the text; F2 (EditKeyPressed) and double-click edit
  // inside it.  No SelectedClicked: see the header.
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);
}

bool TDataGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  const bool opened = QTableWidget::edit(index, trigger, event);
  if (opened && (trigger == DoubleClicked || trigger == EditKeyPressed)) {
    // The item view selects the whole text of a new editor; here the user
    // asked to change the text, not to replace it.
    if (auto* editor = qobject_cast<QLineEdit*>(indexWidget(index))) {
      editor->deselect();
      editor->end(false);
    }
  }
  return opened;
}

int TDataGrid::ColumnLineAt(const QPoint& pos) const {
  if (rowCount() == 0 || pos.y() >= rowViewportPosition(0) + rowHeight(0)) return -1;
  for (int col = 0; col < columnCount(); ++col) {
    const int line = columnViewportPosition(col) + columnWidth(col);
    if (std::abs(pos.x() - line) <= kGrip) return col;
  }
  return -1;
}

int TDataGrid::RowLineAt(const QPoint& pos) const {
  if (columnCount() == 0 || pos.x() >= columnViewportPosition(0) + columnWidth(0)) return -1;
  for (int row = 0; row < rowCount(); ++row) {
    const int line = rowViewportPosition(row) + rowHeight(row);
    if (std::abs(pos.y() - line) <= kGrip) return row;
  }
  return -1;
}

void TDataGrid::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    const QPoint pos = event->position().toPoint();
    if (const int col = ColumnLineAt(pos); col >= 0) {
      drag_ = Drag::kColumn;
      drag_index_ = col;
      drag_origin_ = columnViewportPosition(col);
      event->accept();
      return;
    }
    if (const int row = RowLineAt(pos); row >= 0) {
      drag_ = Drag::kRow;
      drag_index_ = row;
      drag_origin_ = rowViewportPosition(row);
      event->accept();
      return;
    }
  }
  QTableWidget::mousePressEvent(event);
}

void TDataGrid::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (drag_ == Drag::kColumn) {
    setColumnWidth(drag_index_, std::max(kMinSection, pos.x() - drag_origin_));
    event->accept();
    return;
  }
  if (drag_ == Drag::kRow) {
    setRowHeight(drag_index_, std::max(kMinSection, pos.y() - drag_origin_));
    event->accept();
    return;
  }
  if (event->buttons() == Qt::NoButton) {
    if (ColumnLineAt(pos) >= 0) viewport()->setCursor(Qt::SplitHCursor);
    else if (RowLineAt(pos) >= 0) viewport()->setCursor(Qt::SplitVCursor);
    else viewport()->unsetCursor();
  }
  QTableWidget::mouseMoveEvent(event);
}

void TDataGrid::mouseReleaseEvent(QMouseEvent* event) {
  if (drag_ != Drag::kNone) {
    drag_ = Drag::kNone;
    event->accept();
    return;
  }
  QTableWidget::mouseReleaseEvent(event);
}

void TDataGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (const int col = ColumnLineAt(pos); col >= 0) {
    resizeColumnToContents(col);
    event->accept();
    return;
  }
  // A double-click on a cell edits it, whatever the presses before it did.
  const QModelIndex index = indexAt(pos);
  if (event->button() == Qt::LeftButton && index.isValid() && (index.flags() & Qt::ItemIsEditable)) {
    setCurrentIndex(index);
    if (edit(index, DoubleClicked, event)) {
      event->accept();
      return;
    }
  }
  QTableWidget::mouseDoubleClickEvent(event);
}

void TDataGrid::FitColumnsToTexts(int min_width) {
  const QFontMetrics metrics(font());
  for (int col = 0; col < columnCount(); ++col) {
    int widest = 0;
    for (int row = 0; row < rowCount(); ++row)
      if (const QTableWidgetItem* cell = item(row, col))
        widest = std::max(widest, metrics.horizontalAdvance(cell->text()));
    setColumnWidth(col, std::max(min_width, widest + 8));
  }
}

}  // namespace morvex
