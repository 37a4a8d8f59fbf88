#include "ui/Dialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QStringList>
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

  std::optional<TFileChoice> OpenFileOfType(QWidget* parent, const std::string& title,
                                            const std::string& filter) override {
    QString selected;
    const QString name = QFileDialog::getOpenFileName(parent, QString::fromStdString(title), QString(),
                                                      QString::fromStdString(filter), &selected);
    if (name.isEmpty()) return std::nullopt;
    return TFileChoice{name.toStdString(), selected.toStdString()};
  }

  std::optional<TFileChoice> SaveFileOfType(QWidget* parent, const std::string& title,
                                            const std::string& filter) override {
    QString selected;
    const QString name =
        QFileDialog::getSaveFileName(parent, QString::fromStdString(title), QString(),
                                     QString::fromStdString(filter), &selected,
                                     QFileDialog::DontConfirmOverwrite);
    if (name.isEmpty()) return std::nullopt;
    return TFileChoice{name.toStdString(), selected.toStdString()};
  }

  std::optional<int> Choose(QWidget* parent, const std::string& title, const std::string& text,
                            const std::vector<std::string>& items, int preselected) override {
    QStringList list;
    for (const std::string& item : items) list << QString::fromStdString(item);
    bool ok = false;
    const QString chosen = QInputDialog::getItem(parent, QString::fromStdString(title),
                                                 QString::fromStdString(text), list, preselected, false, &ok);
    if (!ok) return std::nullopt;
    const int index = static_cast<int>(list.indexOf(chosen));
    return index >= 0 ? std::optional<int>(index) : std::nullopt;
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
