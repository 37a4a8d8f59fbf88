// The help command of the main window's "Help" button.
//
// The program's help comes in one of two forms:
// - a compiled help file "morvex.chm" in the current working directory (not
//   the executable's directory: a user keeps it beside the data), opened
//   with whatever viewer the desktop associates with it;
// - the HTML user guide shipped with the program, help/index.html in the
//   executable's directory, opened in the desktop's browser.
// The first one found is opened; with neither present, a message box says
// where the help was looked for.  When the desktop has no viewer for it,
// the HTML guide opens in the program's own help window, a QTextBrowser
// (objectName "HelpBrowser") with "Back" (HelpBack) and "Close" (HelpClose)
// buttons; Escape closes it too.  An installed program finds the guide in
// share/morvex/help beside its bin folder.  The desktop opener is replaceable so that
// tests can check what would be opened without starting a viewer.
#pragma once

#include <functional>

#include <QString>
#include <QUrl>

class QWidget;

namespace morvex {

// Opens a URL with the desktop's viewer; returns false when nothing could
// open it.  The default is QDesktopServices::openUrl.
using UrlOpener = std::function<bool(const QUrl&)>;
// Replaces the opener; an empty function restores the default.
void SetUrlOpener(UrlOpener opener);

// The help command: looks in the current working directory and in the
// directory of the running executable.
void OpenHelp(QWidget* parent);

// The program's own help window, once opened; nullptr before.
QWidget* BuiltInHelpWindow();

// The same, with both directories given explicitly.  Returns the URL that
// was handed to the opener, or an empty URL when no help was found (a
// message box has then been shown through Dialogs()).  When the opener
// fails, the URL is that of the page shown in the built-in window.
QUrl OpenHelpFrom(QWidget* parent, const QString& working_dir, const QString& executable_dir);

}  // namespace morvex
