// A list of files used lately, newest first, kept between runs of the
// program in its own user settings (never in the coefficient or settings
// files), and the menu that offers them again.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QMenu;
class QWidget;

namespace morvex {

class TRecentFiles {
 public:
  // `key`: where the list is kept ("recent/dataFiles"); at most `capacity`
  // files are kept.
  explicit TRecentFiles(QString key, int capacity = 8) : key_(std::move(key)), capacity_(capacity) {}

  // Puts `path` (made absolute) first, dropping an earlier entry of it and
  // what goes beyond the capacity.
  void Remember(const QString& path) const;
  QStringList Files() const;
  void Clear() const;

  // A menu (objectName `menu_name`, deleted when closed) with one entry per
  // file, which runs `open` with it, and "Clear the list"; with no file,
  // one disabled entry saying `empty_text`.
  QMenu* BuildMenu(QWidget* parent, const QString& menu_name, const QString& empty_text,
                   std::function<void(const QString&)> open) const;

 private:
  QString key_;
  int capacity_;
};

}  // namespace morvex
