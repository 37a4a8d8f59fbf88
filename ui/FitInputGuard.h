// What the window lets through while a fit runs.
//
// A fit runs on the GUI thread; between cost evaluations the window
// processes its pending events (IFitHost::CancelRequested) so that a click
// on "Cancel" or the Escape key is noticed.  Meanwhile this filter, set on
// the whole application, swallows every other input: no second command can
// start, no value the fit reads can change, and closing the main window is
// refused until the fit has ended.  Painting and other system events pass.
// Input to a modal box that the fit itself opens (a failure message) and to
// the allowed widgets (the Cancel buttons) passes too.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

namespace morvex {

class TFitInputGuard : public QObject {
 public:
  // `on_cancel` runs for the Escape key.  `main_window` is the window whose
  // closing is refused.
  TFitInputGuard(QWidget* main_window, std::function<void()> on_cancel);
  ~TFitInputGuard() override;

  // Widgets (with their children) that still take mouse input.
  void Allow(QWidget* widget);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool Allowed(QObject* watched) const;

  QPointer<QWidget> main_window_;
  std::function<void()> on_cancel_;
  std::vector<QPointer<QWidget>> allowed_;
};

}  // namespace morvex
