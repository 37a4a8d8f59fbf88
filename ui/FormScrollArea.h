// The main window's controls inside a scroll area, and the window's first
// placement on its screen.
//
// The controls keep the places of the reference layout.  At the reference
// size and above, the controls' client fills the view and no scroll bar
// shows; in a smaller window (an 800 x 600 screen, or a scale factor of 2
// that halves the screen in logical pixels) scroll bars reach every control,
// and moving the focus with Tab scrolls the control it reaches into view.
#pragma once

#include <QMargins>
#include <QRect>
#include <QScrollArea>
#include <QSize>

namespace morvex {

class TFormScrollArea : public QScrollArea {
  Q_OBJECT

 public:
  // Takes `client` (the controls' parent) as its widget; the client is
  // never made smaller than `reference`.
  TFormScrollArea(QWidget* client, QSize reference, QWidget* parent = nullptr);

  QWidget* Client() const { return widget(); }
  // Scrolls as little as needed to show `widget` (a descendant of the
  // client) whole, or its top-left part when it is larger than the view.
  void Reveal(QWidget* widget);
  // True when every pixel of `widget` lies in the view.
  bool ShowsWhole(const QWidget* widget) const;

 signals:
  // The client got a new size (the window grew or shrank).
  void clientResized(QSize size);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// What a window frame adds around the client area before the window system
// has told: generous, so that a window placed with it stays on screen.
inline constexpr QMargins kEstimatedFrame{8, 32, 8, 8};

// The frame geometry of a window of client size `wanted` placed on
// `available` (a screen's available geometry): no larger than the screen
// (the window shrinks, down to `minimum`), centred, and with its top-left
// corner on the screen whatever the sizes.  Returns the client geometry.
QRect PlacedGeometry(QSize wanted, QSize minimum, const QMargins& frame, const QRect& available);

// Places the top-level `window` on its screen as PlacedGeometry says, with
// its frame as known (shown) or estimated (not yet shown).
void PlaceOnScreen(QWidget* window);

}  // namespace morvex
