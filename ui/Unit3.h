// The tire size calculator window, `Form3`.
//
// A small modal dialog over the main window: the user reads the size code
// on a tire's sidewall (the drawing `Image1` shows where each number sits),
// types the section width, the aspect ratio and the rim diameter, and
// "(Wheel+tire) radius (m)" writes the unloaded radius into the main
// window's R0 edit and closes the dialog.
//
// The window is created once at start-up and only hidden when closed, so
// the three edits keep their texts between openings.  A text that is not a
// number is reported through the general error report (its conversion
// message); the dialog then stays open and R0 keeps its text.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace morvex {

class TForm3 : public QDialog {
 public:
  // `radius_edit` is the main window's R0 edit (`edtr0`); it must outlive
  // the dialog.
  explicit TForm3(QLineEdit* radius_edit, QWidget* parent = nullptr);

  // Reads the three edits, computes the radius and writes it into the R0
  // edit in the general number format, then closes the dialog.
  void Button1Click();

  QLabel* Image1() const { return image1_; }
  QLineEdit* LabeledEdit1() const { return labeled_edit1_; }
  QLineEdit* LabeledEdit2() const { return labeled_edit2_; }
  QLineEdit* LabeledEdit3() const { return labeled_edit3_; }
  QPushButton* Button1() const { return button1_; }

 private:
  QLineEdit* AddLabeledEdit(const char* name, const QString& caption, int left, int top);

  QLineEdit* radius_edit_;
  QLabel* image1_ = nullptr;
  QLineEdit* labeled_edit1_ = nullptr;
  QLineEdit* labeled_edit2_ = nullptr;
  QLineEdit* labeled_edit3_ = nullptr;
  QPushButton* button1_ = nullptr;
};

}  // namespace morvex
