// The window's side of the numeric core's user-interface hooks.
//
// The core reports some conditions to the user through a message sink
// (ShowMessage) and can show a matrix in a grid of text cells
// (IStringGridTarget); it knows neither Qt nor the window.  These adapters
// connect both to the desktop: messages go to the window's message box,
// grids are QTableWidgets.
#pragma once

#include "numerics/LxBasics.h"

class QTableWidget;
class QWidget;

namespace morvex {

// Routes the core's messages to the window's message box (Dialogs()),
// owned by `parent`.
void InstallCoreMessageSink(QWidget* parent);

// A QTableWidget seen as the core's string grid: row 0 and column 0 hold
// the headers, cells are plain texts, widths are measured in the table's font.
class TQtStringGrid final : public IStringGridTarget {
 public:
  explicit TQtStringGrid(QTableWidget* table) : table_(table) {}
  void SetColCount(int count) override;
  void SetRowCount(int count) override;
  void SetCell(int col, int row, const std::string& text) override;
  int TextWidth(const std::string& text) const override;
  void SetColWidth(int col, int width) override;

 private:
  QTableWidget* table_;
};

}  // namespace morvex
