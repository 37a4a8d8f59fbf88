// Magic Formula property files (.tir): the exchange format of vehicle
// simulators and of other tire-fitting tools.
//
// Layout.  A .tir file is line oriented: "[SECTION]" headers, "KEY = value"
// lines, comment lines starting with '$' or '!', and a trailing comment
// after '$' on a data line.  Strings are in single quotes ('meter');
// numbers use '.' whatever the locale, exponents as "1e+006" included.
// Keys are read by (section, key), so the unit string MASS of [UNITS] and
// the number MASS of [INERTIA] never meet.  Table sections ([SHAPE],
// [DEFLECTION_LOAD_CURVE], [BOTTOMING_CURVE]) are skipped; unknown sections
// and keys are ignored; a malformed value of a key Morvex does not need is
// ignored too.
//
// What maps.  FNOMIN ([VERTICAL]) is Fz0, UNLOADED_RADIUS ([DIMENSION]) is
// R0, and each of the other 58 coefficients is the key of its name in
// capitals in [LATERAL_COEFFICIENTS], [LONGITUDINAL_COEFFICIENTS] or
// [ALIGNING_COEFFICIENTS] (PCy1 is PCY1, QBz10 is QBZ10).
//
// Versions.  FITTYP 6 and 21 (or PROPERTY_FILE_FORMAT 'PAC2002' / 'MF_05'
// without FITTYP) are MF 5.2, whose pure-slip equations are Morvex's own.
// FITTYP 5 (MF-Tyre 5.0/5.1, same keys) is read as MF 5.2, with a note.
// FITTYP 61 and 62 are MF 6.1 / 6.2: their pure-slip equations put camber
// into the shifts through a camber stiffness and add pressure terms, so
// their set imports as an approximation to refit, with one message that
// names the terms dropped.  Other versions are refused.
//
// Units.  [UNITS] LENGTH and FORCE convert UNLOADED_RADIUS and FNOMIN to
// metres and newtons (the coefficients themselves carry no unit); ANGLE
// must be radians, as the coefficients of every published file assume.
// Any other unit is refused with its name.
//
// Scaling factors.  Morvex's equations are those of the 2002 Magic Formula
// with every scaling factor 1.  Each factor of the pure-slip equations
// folds exactly into the coefficients it multiplies:
//   LFZO  Fz0 = FNOMIN*LFZO            LCY   PCy1      LCX   PCx1
//   LMUY  PDy1,2  PVy1..4  QDz6..9, and 1/LMUY in QBz1..3, QBz9
//   LKY   PKy1, and QBz1..3, QBz9      LEY   PEy1,2    LHY   PHy1,2
//   LVY   PVy1,2     LGAY (camber of Fy): PHy3, PVy3,4, PEy4, PKy3 by |LGAY|,
//   PDy3 by LGAY^2     LTR QDz1,2      LRES QDz6,7     LKZC QDz8,9 (MF 6.x)
//   LGAZ (camber of Mz): QBz4, QBz5 by |LGAZ|, QDz3, QDz4 by LGAZ^2, QEz5,
//   QHz3,4, QDz8,9     LMUX PDx1,2, PVx1,2     LEX PEx1..3     LKX PKx1,2
//   LHX PHx1,2         LVX PVx1,2      LGAX PDx3 by LGAX^2
// A factor of the pure-slip equations that is zero or not a number, or a
// speed-dependent friction LMUV other than 0, cannot be folded: the import
// is refused and names it.  Factors of the other parts of the model
// (combined slip, relaxation, overturning and rolling moments, vertical
// stiffness, pressure) do not touch the pure-slip equations and are
// ignored.
//
// Sign conventions: see SignConvention.h.  A property file is ISO.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "files/SignConvention.h"
#include "tiredata/TireDataSet.h"
#include "tiremodel/CoefficientSet.h"

namespace morvex {

// True when `path` ends in ".tir" (any case).
bool IsTirPath(const std::string& path);

struct TTirImportResult {
  // The convention the set was written in.
  TSignConvention convention = TSignConvention::kIso;
  // Messages for the user, one per subject: the convention, scaling factors
  // folded, the MF 6.x approximation, coefficients missing or unreadable.
  std::vector<std::string> notes;
};

// Reads the property file at `path` into `set`: every coefficient the file
// holds, converted to the convention `convention` (by default that of the
// set before the import, by the sign of its PKy1).  A coefficient missing
// from the file, or whose value is not a number, keeps its text (a note
// names it).  Texts are written with the process-wide decimal separator and
// 15 significant digits.  Free flags are not touched.  Nothing is changed
// when the import is refused: a file that cannot be opened raises
// EFOpenError; an unsupported version, unit or scaling factor raises
// Exception with a message naming the file, the key and its line.
TTirImportResult ImportTir(TCoefficientSet& set, const std::string& path,
                           std::optional<TSignConvention> convention = std::nullopt);

// The ranges of the fitted data, for the *_RANGE sections of a new file
// (without them, wide neutral ranges are written).
struct TTirRanges {
  std::optional<std::pair<double, double>> load;        // FZMIN, FZMAX (N)
  std::optional<std::pair<double, double>> slip_angle;  // ALPMIN, ALPMAX (rad)
  std::optional<std::pair<double, double>> slip_ratio;  // KPUMIN, KPUMAX
  std::optional<std::pair<double, double>> camber;      // CAMMIN, CAMMAX (rad)
};

// Widens `ranges` by the loads, slips and cambers of a data set (slip
// angles and cambers in degrees, as in data files).  `slip_is_angle`: the
// data are of the lateral or aligning channel.
void AddDataRanges(TTirRanges& ranges, const TTireDataSet& data, bool slip_is_angle);

// What the header of an exported file tells about where the set came from.
struct TTirExportInfo {
  std::string data_file;          // empty: none known
  std::vector<std::string> fits;  // one line per fit, e.g. "lateral: RMS 15.2, verdict good"
  std::string date;               // empty: now, "YYYY-MM-DD HH:MM" local time
  TTirRanges ranges;
};

struct TTirExportOptions {
  // The convention the set is in (by default the sign of its PKy1 tells);
  // the file is always ISO.
  std::optional<TSignConvention> convention;
  // An existing property file whose every other line is kept: only the 60
  // coefficients' values (and pure-slip scaling factors other than 1) are
  // replaced.  Without one, the full MF 5.2 (PAC2002) layout is written
  // with neutral values for what a pure-slip fit does not give.
  std::optional<std::string> template_path;
  TTirExportInfo info;
};

struct TTirExportResult {
  TSignConvention convention = TSignConvention::kIso;
  std::vector<std::string> notes;
};

// Writes `set` as a property file to `path`, replacing the file in one step
// (a failure leaves it as it was).  Values are written "KEY = value" with
// '.' as decimal point and 15 significant digits; lines stay below 200
// characters.  A text that is not a number raises EConvertError before
// anything is written; a path that cannot be written raises EWriteError; a
// template that cannot be read raises EFOpenError, one of MF 6.x or in
// units that cannot be converted raises Exception.
TTirExportResult ExportTir(const TCoefficientSet& set, const std::string& path,
                           const TTirExportOptions& options = {});

// The text of a number in a property file: C locale, 15 significant digits,
// shortest form ("4000", "-0.0125", "1.5e-05"); 17 digits next to the
// largest double, where 15 would round beyond it; 0 for a subnormal number,
// which std::stod-based readers refuse.
std::string TirNumber(double value);

}  // namespace morvex
