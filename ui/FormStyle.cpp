#include "ui/FormStyle.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace morvex {

QFont FormFont() {
  for (const char* family : {"MS Sans Serif", "Microsoft Sans Serif"}) {
    if (QFontDatabase::hasFamily(QLatin1String(family))) {
      QFont font{QLatin1String(family)};
      font.setPointSize(8);
      return font;
    }
  }
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setStretch(QFont::SemiCondensed);
  font.setPointSize(8);
  return font;
}

void CentreOnScreen(QWidget* window, QSize size) {
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    window->move(screen->availableGeometry().center() - QPoint(size.width() / 2, size.height() / 2));
}

}  // namespace morvex
