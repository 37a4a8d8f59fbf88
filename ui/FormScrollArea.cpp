#include "ui/FormScrollArea.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>

namespace morvex {

TFormScrollArea::TFormScrollArea(QWidget* client, QSize reference, QWidget* parent) : QScrollArea(parent) {
  setObjectName(QStringLiteral("FormScrollArea"));
  setFrameShape(QFrame::NoFrame);
  setWidgetResizable(true);
  client->setMinimumSize(reference);
  setWidget(client);
  // The client paints the form's colour; the corner between the scroll
  // bars takes it too.
  setBackgroundRole(client->backgroundRole());
  client->installEventFilter(this);
}

bool TFormScrollArea::eventFilter(QObject* watched, QEvent* event) {
  if (watched == widget() && event->type() == QEvent::Resize) emit clientResized(widget()->size());
  return QScrollArea::eventFilter(watched, event);
}

void TFormScrollArea::Reveal(QWidget* target) {
  // ensureWidgetVisible would show only the text cursor of an edit box.
  if (target == nullptr || widget() == nullptr || !widget()->isAncestorOf(target)) return;
  const QRect area(target->mapTo(widget(), QPoint(0, 0)), target->size());
  auto scroll = [](QScrollBar* bar, int low, int high, int view) {
    int value = bar->value();
    if (high > value + view) value = high - view;
    if (low < value) value = low;
    bar->setValue(value);
  };
  scroll(horizontalScrollBar(), area.left(), area.right() + 1, viewport()->width());
  scroll(verticalScrollBar(), area.top(), area.bottom() + 1, viewport()->height());
}

bool TFormScrollArea::ShowsWhole(const QWidget* target) const {
  if (target == nullptr || widget() == nullptr || !widget()->isAncestorOf(target)) return false;
  const QRect in_view(target->mapTo(viewport(), QPoint(0, 0)), target->size());
  return viewport()->rect().contains(in_view);
}

QRect PlacedGeometry(QSize wanted, QSize minimum, const QMargins& frame, const QRect& available) {
  const QSize room(available.width() - frame.left() - frame.right(),
                   available.height() - frame.top() - frame.bottom());
  const QSize size(std::max(minimum.width(), std::min(wanted.width(), room.width())),
                   std::max(minimum.height(), std::min(wanted.height(), room.height())));
  const QSize outer(size.width() + frame.left() + frame.right(), size.height() + frame.top() + frame.bottom());
  // Centred; a window larger than the screen (its minimum is) keeps its
  // top-left corner, with the title bar, on the screen.
  const int left = std::max(available.left(), available.left() + (available.width() - outer.width()) / 2);
  const int top = std::max(available.top(), available.top() + (available.height() - outer.height()) / 2);
  return QRect(QPoint(left + frame.left(), top + frame.top()), size);
}

void PlaceOnScreen(QWidget* window) {
  QScreen* screen = window->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QMargins frame = kEstimatedFrame;
  if (window->isVisible()) {
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                     outer.bottom() - inner.bottom());
  }
  const QRect placed = PlacedGeometry(window->size(), window->minimumSize(), frame, screen->availableGeometry());
  window->resize(placed.size());
  window->move(placed.topLeft() - QPoint(frame.left(), frame.top()));
}

}  // namespace morvex
