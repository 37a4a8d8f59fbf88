// The wait screen, `Popcalcul`.
//
// While a Levenberg-Marquardt fit runs, this small frameless portrait
// window shows beside the main window, which stays visible and usable (the
// fit runs on a thread of its own).  It is shown without taking the
// keyboard from the main window.  It paints synchronously all the same: the
// picture when the window is shown (FormActivate) and the progress line
// whenever the fit reports one (SetProgressText), both with repaint().
//
// The window is created hidden at start-up and lives until exit.  Its one
// control is a "Cancel" button above the progress line, shown only while
// the fit that runs can be cancelled; Escape cancels too while the wait
// screen has the keyboard.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>

class QPushButton;

namespace morvex {

class TPopcalcul : public QWidget {
 public:
  explicit TPopcalcul(QWidget* parent = nullptr);

  // Repaints the picture at once.  Runs whenever the window is shown
  // (show() / setVisible(true)), so that the caller can start its long
  // computation right after show().  A freshly shown window is not on the
  // screen until the window system has mapped it, and Qt learns that only
  // from the window system's events: when the window is not exposed yet,
  // this processes events other than user input until it is (at most half
  // a second), then paints.
  void FormActivate();

  // Centres the window on the screen before showing it; paints on showing.
  void setVisible(bool visible) override;

  // Writes one short line (e.g. "Iteration 12   cost 3.41E-2") over the
  // bottom of the picture and repaints immediately.  An empty text removes
  // the line.  A text too long for one line is wrapped onto a second.
  void SetProgressText(const QString& text);
  QString ProgressText() const;

  // The picture widget, `Image1`.
  QWidget* Image1() const;

  // The "Cancel" button (objectName "CancelButton"): hidden until
  // SetCancelHandler gives it work; an empty handler hides it again.
  void SetCancelHandler(std::function<void()> handler);
  QPushButton* CancelButton() const { return cancel_button_; }

 private:
  class TImage;
  TImage* image1_ = nullptr;
  QPushButton* cancel_button_ = nullptr;
  std::function<void()> cancel_handler_;
};

}  // namespace morvex
