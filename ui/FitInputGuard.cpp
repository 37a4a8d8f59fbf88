#include "ui/FitInputGuard.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>

namespace morvex {

TFitInputGuard::TFitInputGuard(QWidget* main_window, std::function<void()> on_cancel)
    : main_window_(main_window), on_cancel_(std::move(on_cancel)) {
  qApp->installEventFilter(this);
}

TFitInputGuard::~TFitInputGuard() { qApp->removeEventFilter(this); }

void TFitInputGuard::Allow(QWidget* widget) { allowed_.emplace_back(widget); }

bool TFitInputGuard::Allowed(QObject* watched) const {
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr) return false;
  // A box that the fit opens (its failure message) runs its own loop and
  // must be answerable.
  if (QWidget* modal = QApplication::activeModalWidget())
    if (modal == widget || modal->isAncestorOf(widget)) return true;
  for (const QPointer<QWidget>& allowed : allowed_)
    if (allowed && allowed->isVisible() && (allowed == widget || allowed->isAncestorOf(widget))) return true;
  return false;
}

bool TFitInputGuard::eventFilter(QObject* watched, QEvent* event) {
  // Input from the window system reaches a top-level QWindow first, which
  // hands it on to the widget under the pointer or with the focus: decide
  // there, where the target is known.  Escape is caught at either level.
  const bool widget = watched->isWidgetType();
  switch (event->type()) {
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Escape && !QApplication::activeModalWidget()) {
        if (on_cancel_) on_cancel_();
        return true;
      }
      return widget && !Allowed(watched);
    }
    case QEvent::Shortcut:
      // Shortcuts go to their QShortcut objects, not to a widget: none runs
      // during a fit, except in a box the fit itself opened.
      return QApplication::activeModalWidget() == nullptr;
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
      return widget && !Allowed(watched);
    case QEvent::Close:
      if (watched == main_window_) {
        event->ignore();
        return true;
      }
      return false;
    default:
      return false;
  }
}

}  // namespace morvex
