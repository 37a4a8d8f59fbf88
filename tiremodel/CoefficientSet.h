// The coefficient set: the 60 Magic Formula values the whole program works
// on, each held as text, and the 59 free flags that tell the fits which
// values they may change (R0 has none).
//
// The set is an interface because its storage belongs to whoever shows it:
// in the desktop window the texts are the edits of the coefficient panel
// and the flags its check boxes; on the command line and in tests it is
// TMemoryCoefficientSet.  Every consumer converts a text when it needs the
// number, so a value typed a moment ago is what the next use sees.
//
// Names are the table spellings of CoefficientTable.h ("PCy1", "Fz0").  An
// unknown name is a programming error and throws std::out_of_range.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "tiremodel/CoefficientTable.h"

namespace morvex {

class TCoefficientSet {
 public:
  virtual ~TCoefficientSet() = default;

  // The text of a value, exactly as its producer wrote it.
  virtual std::string Text(std::string_view name) const = 0;
  virtual void SetText(std::string_view name, const std::string& text) = 0;
  // The free flag; always false for R0, whose flag setter does nothing.
  virtual bool Free(std::string_view name) const = 0;
  virtual void SetFree(std::string_view name, bool free) = 0;

  // The text converted with the process-wide decimal separator; raises
  // EConvertError ("'<text>' n'est pas une valeur en virgule flottante
  // correcte") when it is not a number.
  double Value(std::string_view name) const;
};

// A coefficient set held in memory.  It starts with the table's default
// texts and every free flag set.
class TMemoryCoefficientSet : public TCoefficientSet {
 public:
  TMemoryCoefficientSet();
  std::string Text(std::string_view name) const override;
  void SetText(std::string_view name, const std::string& text) override;
  bool Free(std::string_view name) const override;
  void SetFree(std::string_view name, bool free) override;

 private:
  static size_t IndexOf(std::string_view name);
  std::array<std::string, kCoefficientCount> texts_;
  std::array<bool, kCoefficientCount> free_{};
};

// Copies every text and free flag of `from` into `to`.
void CopyCoefficients(const TCoefficientSet& from, TCoefficientSet& to);

}  // namespace morvex
