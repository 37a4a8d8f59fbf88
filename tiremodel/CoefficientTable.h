// The one table of the 60 Magic Formula coefficients.
//
// Everything the program knows about a coefficient by name lives here: its
// group (which model uses it), where the coefficient panel shows it, the
// object names of its edit and free-flag check box, its caption, the text
// it starts with when no defaults file gives one, the section and key under
// which coefficient files store it, and the stem of its search-bound keys
// in the fit settings file (`<STEM>_MIN`, `<STEM>_MAX`).  The free-coefficient
// orders of the three fits and the export order of coefficient files are
// lists of names that are checked against this table.
#pragma once

#include <array>
#include <span>
#include <string_view>

namespace morvex {

enum class TCoefficientGroup { kShared, kLateral, kLongitudinal, kAligning };
enum class TCoefficientPage { kAbovePages, kLateral, kLongitudinal, kAligning };
enum class TPageColumn { kNone, kLeft, kRight, kSingle };

struct TCoefficientInfo {
  std::string_view name;             // "PCy1"
  TCoefficientGroup group;
  TCoefficientPage page;
  TPageColumn column;
  std::string_view edit;             // object name of the edit, "edtpcy1"
  std::string_view check_box;        // object name of the free flag, "CBpcy1"; empty for R0
  std::string_view caption;          // label text left of the edit
  std::string_view default_text;     // start-up text without a defaults file
  std::string_view export_section;   // "PARAMETERS FY"
  std::string_view export_key;       // "Pcy1"
  std::string_view startup_section;  // "PARAMETERS FY" ("PARAMETERS MZ" for the aligning group)
  std::string_view startup_key;      // "PCY1"
  std::string_view bound_stem;       // "PCY1"; empty for R0, which no fit frees
  bool HasFreeFlag() const { return !check_box.empty(); }
};

constexpr int kCoefficientCount = 60;

// All coefficients in panel order: Fz0, the lateral page (left column, then
// right), the longitudinal page, the aligning page (left, then right), R0.
std::span<const TCoefficientInfo, kCoefficientCount> Coefficients();

// Index into Coefficients() of `name`, matched exactly; -1 if none.
int ExactCoefficientIndex(std::string_view name);
// Index into Coefficients() of `name`, matched without regard to case; -1 if none.
int FindCoefficient(std::string_view name);
// The entry of `name` (exact spelling of the table); throws std::out_of_range if none.
const TCoefficientInfo& Coefficient(std::string_view name);

// Free-coefficient orders: the order in which the free coefficients of each
// fit enter both optimizers.
std::span<const std::string_view> LateralFreeOrder();       // 19: Fz0, PCy1, PDy1..3, PEy1..4, PKy1..3, PHy1..3, PVy1..4
std::span<const std::string_view> AligningFreeOrder();      // 25: QBz1..5, QBz9, QBz10, QDz1..4, QDz6..9, QEz1..5, QHz1..4, QCz1
std::span<const std::string_view> LongitudinalFreeOrder();  // 16: Fz0, PCx1, PDx1..3, PEx1..4, PKx1..3, PHx1, PHx2, PVx1, PVx2

// The combined-slip, overturning and rolling-resistance coefficients, which
// the staged fit of a whole tire gives after the pure-slip channels and
// property files hold (the coefficient panel and INI coefficient files keep
// the 60 above).  Each belongs to one stage of that fit; the property file
// stores it under its section with its own name; `iso_sign` is -1 where the
// value turns sign between the ISO convention of property files and the
// positive-stiffness one (the terms that turn with Fy and Mz).
enum class TCombinedCoefficientPage { kFx, kFy, kMz, kMx, kMy };

struct TCombinedCoefficientInfo {
  std::string_view name;         // "RBX1", as property files spell it
  TCombinedCoefficientPage page;            // the stage that fits it
  std::string_view tir_section;  // "LONGITUDINAL_COEFFICIENTS"
  int iso_sign;                  // +1 or -1
};

constexpr int kCombinedCoefficientCount = 31;

// In the order of the stages: Fx, Fy, Mz, Mx, My.
std::span<const TCombinedCoefficientInfo, kCombinedCoefficientCount> CombinedCoefficientTable();
// The entry of `name` (exact spelling); nullptr if none.
const TCombinedCoefficientInfo* FindCombinedCoefficient(std::string_view name);

// The 60 names in the order in which coefficient files are written and the
// start-up defaults are read: R0, Fz0, the lateral group, the longitudinal
// group, the aligning group.
std::span<const std::string_view> FileOrder();

}  // namespace morvex
