#include "ui/RecentFiles.h"

#include <QFileInfo>
#include <QMenu>
#include <QSettings>

namespace morvex {

namespace {

QSettings AppSettings() {
  // The program's own list of recent files; the coefficient and settings
  // files are never read or written through QSettings.
  return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Morvex"), QStringLiteral("morvex"));
}

}  // namespace

void TRecentFiles::Remember(const QString& path) const {
  QSettings settings = AppSettings();
  QStringList files = settings.value(key_).toStringList();
  const QString absolute = QFileInfo(path).absoluteFilePath();
  files.removeAll(absolute);
  files.prepend(absolute);
  while (files.size() > capacity_) files.removeLast();
  settings.setValue(key_, files);
}

QStringList TRecentFiles::Files() const { return AppSettings().value(key_).toStringList(); }

void TRecentFiles::Clear() const { AppSettings().remove(key_); }

QMenu* TRecentFiles::BuildMenu(QWidget* parent, const QString& menu_name, const QString& empty_text,
                               std::function<void(const QString&)> open) const {
  auto* menu = new QMenu(parent);
  menu->setObjectName(menu_name);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  const QStringList files = Files();
  if (files.isEmpty()) menu->addAction(empty_text)->setEnabled(false);
  for (const QString& file : files) menu->addAction(file, menu, [open, file] { open(file); });
  if (!files.isEmpty()) {
    menu->addSeparator();
    const QString key = key_;
    const int capacity = capacity_;
    menu->addAction(QStringLiteral("Clear the list"), menu, [key, capacity] { TRecentFiles(key, capacity).Clear(); });
  }
  return menu;
}

}  // namespace morvex
