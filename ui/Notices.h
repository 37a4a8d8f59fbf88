// What the window tells the user beside its message boxes: status-bar
// messages that fit the bar, and notices that never block the window.
#pragma once

#include <QString>

#include "fitting/FitCommands.h"

class QStatusBar;
class QWidget;

namespace morvex {

// How long a status message or a verdict stays, in milliseconds.
inline constexpr int kNoticeTimeoutMs = 60000;

// Shows `text` in `bar`, elided to the bar's width less `reserved` pixels,
// with the whole text in the bar's tooltip; 0 keeps it until the next
// message.  A hidden bar has no width yet: the text is kept whole.
void ShowStatusMessage(QStatusBar* bar, const QString& text, int timeout_ms, int reserved = 0);

// A notice box beside `parent` (objectName "VerdictNotice"): never modal,
// the user reads it and goes on working.  It replaces the previous notice,
// which closes at once and is no longer found by name.  `details`, when
// given, go under "Show Details".
void ShowNotice(QWidget* parent, const QString& text, bool warning, const QString& details = QString());

// The text of the notice of a poor fit: the first few reasons and the
// distinct advice, with `rms` (" (RMS ...)") after "Fit poor".  When the
// verdict has more than the notice shows, `details` receives every reason
// with its advice; otherwise it is emptied.
QString PoorFitNoticeText(const TFitVerdict& verdict, const QString& rms, QString& details);

}  // namespace morvex
