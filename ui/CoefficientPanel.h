// The "Pacejka coefficients" panel: the desktop window's coefficient set.
//
// The panel has no storage of its own.  Each of the 60 values is the text of
// a QLineEdit and each of the 59 free flags the state of a QCheckBox, so a
// value the user has just typed is what the next redraw or fit reads, and a
// fit's result is visible the moment it is written.  The widgets are made
// from the coefficient table (CoefficientTable.h): object names, captions
// and the page and column of each entry come from there, never from a
// second hand-written list.
//
// Placement: the rated load Fz0 sits in the panel's top row (its edit and
// check box at fixed positions of the group box); every other coefficient
// goes on its page, in a left or right column (the longitudinal page has a
// single column), one row per coefficient in table order.  Each edit has its
// caption as a right-aligned label on its left and its check box, without a
// caption, on its right.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "tiremodel/CoefficientSet.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace morvex {

class TCoefficientPanel final : public TCoefficientSet {
 public:
  // Creates the widgets of all 60 coefficients: Fz0 on `top` (the group
  // box), the others on the page widget of their group.  The widgets belong
  // to their Qt parents; the panel only keeps pointers to them.
  TCoefficientPanel(QWidget* top, QWidget* lateral_page, QWidget* longitudinal_page,
                    QWidget* aligning_page);

  // TCoefficientSet.  Names are the table spellings ("PCy1"); an unknown
  // name throws std::out_of_range.
  std::string Text(std::string_view name) const override;
  void SetText(std::string_view name, const std::string& text) override;
  bool Free(std::string_view name) const override;
  void SetFree(std::string_view name, bool free) override;

  // The widgets of a coefficient; CheckBox is nullptr for R0.
  QLineEdit* Edit(std::string_view name) const;
  QCheckBox* CheckBox(std::string_view name) const;
  QLabel* Label(std::string_view name) const;

  // Vertical distance between two rows of a page column, in pixels.
  static constexpr int kRowPitch = 23;
  // Where the first row of a page starts.
  static constexpr int kFirstRowTop = 6;

 private:
  struct Entry {
    QLineEdit* edit = nullptr;
    QCheckBox* check = nullptr;  // nullptr for R0
    QLabel* label = nullptr;
  };
  const Entry& EntryOf(std::string_view name) const;

  std::array<Entry, kCoefficientCount> entries_{};
};

}  // namespace morvex
