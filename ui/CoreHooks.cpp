#include "ui/CoreHooks.h"

#include <QFontMetrics>
#include <QPointer>
#include <QString>
#include <QTableWidget>
#include <QTableWidgetItem>

#include "ui/Dialogs.h"

namespace morvex {

void InstallCoreMessageSink(QWidget* parent) {
  QPointer<QWidget> owner(parent);
  SetMessageSink([owner](const std::string& text) { Dialogs().Message(owner.data(), text); });
}

void TQtStringGrid::SetColCount(int count) { table_->setColumnCount(count); }

void TQtStringGrid::SetRowCount(int count) { table_->setRowCount(count); }

void TQtStringGrid::SetCell(int col, int row, const std::string& text) {
  QTableWidgetItem* item = table_->item(row, col);
  if (item == nullptr) {
    item = new QTableWidgetItem();
    table_->setItem(row, col, item);
  }
  item->setText(QString::fromStdString(text));
}

int TQtStringGrid::TextWidth(const std::string& text) const {
  return QFontMetrics(table_->font()).horizontalAdvance(QString::fromStdString(text));
}

void TQtStringGrid::SetColWidth(int col, int width) { table_->setColumnWidth(col, width); }

}  // namespace morvex
