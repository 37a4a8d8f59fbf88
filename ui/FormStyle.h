// The look the program's windows share: the 8-point form font and the
// place a fixed-size window opens at.
#pragma once

#include <QFont>
#include <QSize>

class QWidget;

namespace morvex {

// The reference font or, where it is missing (the font service would
// substitute a wide face for it), a condensed sans serif that keeps the
// captions inside their controls and a progress line with a 15-digit cost
// on one line.
QFont FormFont();

// Moves `window` so that a client area of `size` is centred on the
// primary screen's available area; nothing without a screen.
void CentreOnScreen(QWidget* window, QSize size);

}  // namespace morvex
