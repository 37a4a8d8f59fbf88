#include "ui/Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QString>

namespace morvex {

namespace {

class QtDialogs final : public IDialogs {
 public:
  std::optional<std::string> OpenFile(QWidget* parent, const std::string& title,
                                      const std::string& filter) override {
    const QString name = QFileDialog::getOpenFileName(parent, QString::fromStdString(title), QString(),
                                                      QString::fromStdString(filter));
    if (name.isEmpty()) return std::nullopt;
    return name.toStdString();
  }

  std::optional<std::string> SaveFile(QWidget* parent, const std::string& title,
                                      const std::string& filter) override {
    const QString name =
        QFileDialog::getSaveFileName(parent, QString::fromStdString(title), QString(),
                                     QString::fromStdString(filter), nullptr,
                                     QFileDialog::DontConfirmOverwrite);
    if (name.isEmpty()) return std::nullopt;
    return name.toStdString();
  }

  void Message(QWidget* parent, const std::string& text) override {
    QMessageBox::information(parent, QStringLiteral("Morvex"), QString::fromStdString(text));
  }
};

QtDialogs g_qt_dialogs;
IDialogs* g_dialogs = nullptr;

}  // namespace

IDialogs& Dialogs() { return g_dialogs ? *g_dialogs : g_qt_dialogs; }

void SetDialogs(IDialogs* dialogs) { g_dialogs = dialogs; }

void ReportException(QWidget* parent, const std::exception& error) {
  Dialogs().Message(parent, error.what());
}

}  // namespace morvex
