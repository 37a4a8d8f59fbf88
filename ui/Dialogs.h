// The window's dialogs and its general error report.
//
// Every file dialog and message box of the program goes through one
// IDialogs object, so that tests can answer them from a script instead of
// blocking on a modal window.  The default implementation uses the Qt
// dialogs; SetDialogs() swaps in another (tests), nullptr restores it.
//
// Guarded() is the general error report: it runs one command and shows the
// message of any exception that escapes it in a message box; the program
// then carries on.  Every slot that runs a command goes through it, since an
// exception must never unwind through Qt's event loop.
#pragma once

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

class QWidget;

namespace morvex {

class IDialogs {
 public:
  virtual ~IDialogs() = default;
  // An open dialog; `filter` in Qt's form (".plt (*.plt)"). nullopt = cancelled.
  virtual std::optional<std::string> OpenFile(QWidget* parent, const std::string& title,
                                              const std::string& filter) = 0;
  // A save dialog without a default extension and without an overwrite prompt.
  virtual std::optional<std::string> SaveFile(QWidget* parent, const std::string& title,
                                              const std::string& filter) = 0;
  // A message box with an OK button.
  virtual void Message(QWidget* parent, const std::string& text) = 0;

  // A file and the filter the user had selected in the dialog (one of the
  // ";;"-separated filters; empty when not known).
  struct TFileChoice {
    std::string path;
    std::string selected_filter;
  };
  // OpenFile and SaveFile that also tell the selected filter.  By default
  // they ask OpenFile / SaveFile and know no filter, so a scripted test
  // answers them as it answers those.
  virtual std::optional<TFileChoice> OpenFileOfType(QWidget* parent, const std::string& title,
                                                    const std::string& filter) {
    auto path = OpenFile(parent, title, filter);
    if (!path) return std::nullopt;
    return TFileChoice{*path, {}};
  }
  virtual std::optional<TFileChoice> SaveFileOfType(QWidget* parent, const std::string& title,
                                                    const std::string& filter) {
    auto path = SaveFile(parent, title, filter);
    if (!path) return std::nullopt;
    return TFileChoice{*path, {}};
  }
  // One of `items`, offered with `preselected` chosen; nullopt = cancelled.
  // By default the preselected item is taken without asking.
  virtual std::optional<int> ChooseItem(QWidget* parent, const std::string& title, const std::string& text,
                                        const std::vector<std::string>& items, int preselected) {
    (void)parent, (void)title, (void)text, (void)items;
    return preselected;
  }
  // An error box with the warning icon: the error's own `text` and, on a
  // line of its own, what it is about (`subject`, such as "Coefficient
  // PCy1 (Lateral page)"; empty when not known).  By default a Message of
  // both lines.
  virtual void Error(QWidget* parent, const std::string& text, const std::string& subject);
  // A question with two answers; true for `first`, false for `second`
  // (also when the box is closed).  By default a Qt message box.
  virtual bool Choose(QWidget* parent, const std::string& text, const std::string& first,
                      const std::string& second);
};

IDialogs& Dialogs();
void SetDialogs(IDialogs* dialogs);

// Shows the message of the current exception (the general error report),
// with what it is about when `subject` is not empty.
void ReportException(QWidget* parent, const std::exception& error, const std::string& subject = {});

// Guarded with a subject: `subject()` runs only when an error is reported
// and says what the error is about.
template <class Fn, class Subject>
void GuardedAbout(QWidget* parent, Subject&& subject, Fn&& fn) {
  try {
    fn();
  } catch (const std::exception& error) {
    std::string about;
    try {
      about = subject(error);
    } catch (...) {
    }
    ReportException(parent, error, about);
  } catch (...) {
    ReportException(parent, std::runtime_error("Unknown error"));
  }
}

template <class Fn>
void Guarded(QWidget* parent, Fn&& fn) {
  try {
    fn();
  } catch (const std::exception& error) {
    ReportException(parent, error);
  } catch (...) {
    ReportException(parent, std::runtime_error("Unknown error"));
  }
}

}  // namespace morvex
