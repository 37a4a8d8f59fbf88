#include "ui/Dialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QStringList>
#include <QMessageBox>
#include <QPushButton>
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

  std::optional<int> ChooseItem(QWidget* parent, const std::string& title, const std::string& text,
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

  void Error(QWidget* parent, const std::string& text, const std::string& subject) override {
    QString shown = QString::fromStdString(text);
    if (!subject.empty()) shown += QLatin1Char('\n') + QString::fromStdString(subject);
    QMessageBox::warning(parent, QStringLiteral("Morvex"), shown);
  }
};

QtDialogs g_qt_dialogs;
IDialogs* g_dialogs = nullptr;

}  // namespace

void IDialogs::Error(QWidget* parent, const std::string& text, const std::string& subject) {
  Message(parent, subject.empty() ? text : text + "\n" + subject);
}

bool IDialogs::Choose(QWidget* parent, const std::string& text, const std::string& first,
                      const std::string& second) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Morvex"), QString::fromStdString(text),
                  QMessageBox::NoButton, parent);
  QPushButton* first_button = box.addButton(QString::fromStdString(first), QMessageBox::AcceptRole);
  QPushButton* second_button = box.addButton(QString::fromStdString(second), QMessageBox::RejectRole);
  box.setDefaultButton(first_button);
  box.setEscapeButton(second_button);
  box.exec();
  return box.clickedButton() == first_button;
}

IDialogs& Dialogs() { return g_dialogs ? *g_dialogs : g_qt_dialogs; }

void SetDialogs(IDialogs* dialogs) { g_dialogs = dialogs; }

void ReportException(QWidget* parent, const std::exception& error, const std::string& subject) {
  Dialogs().Error(parent, error.what(), subject);
}

}  // namespace morvex
