// Magic Formula property files (.tir): the exchange format of vehicle
// simulators and of other tire-fitting tools.
//
// Layout.  A .tir file is line oriented: "[SECTION]" headers, "KEY = value"
// lines, comment lines starting with '$' or '!', and a trailing comment
// after '$' on a data line.  Strings are in single quotes ('meter');
// numbers use '.' whatever the locale, exponents as "1e+006" included.
// The keys Morvex reads are found in whatever section holds them, their own
// section first; other keys (such as the unit string MASS of [UNITS] and the
// number MASS of [INERTIA]) are not looked at.  Table sections ([SHAPE],
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
//   LFZO  Fz0 = FNOMIN*LFZO (and QDz1,2 by LFZO in the trail reading
//         R0/FNOMIN, see TTrailReading)  LCY   PCy1      LCX   PCx1
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
#include <string_view>
#include <utility>
#include <vector>

#include "files/SignConvention.h"
#include "tiredata/TireDataSet.h"
#include "tiremodel/CoefficientSet.h"
#include "tiremodel/CombinedSlipKernels.h"

namespace morvex {

// True when `path` ends in ".tir" (any case).
bool IsTirPath(const std::string& path);

// How the aligning trail of a file with LFZO other than 1 is read.  The
// trail's peak is Fz*(QDZ1 + QDZ2*dfz)*R0/Fz0 with dfz on Fz0 = FNOMIN*LFZO;
// published evaluators disagree on the Fz0 of the quotient R0/Fz0:
//   kBook          R0/(FNOMIN*LFZO), the equations as published in the book
//                  (and in one open vehicle simulator);
//   kUnscaledLoad  R0/FNOMIN, the trail of the book times LFZO (an evaluator
//                  tuned to a reference solver, and another that divides by
//                  the unscaled FNOMIN).
// The two agree when LFZO = 1, which is what Morvex writes.
enum class TTrailReading { kBook, kUnscaledLoad };

// "book" or "fnomin" (any case); nullopt otherwise.
std::optional<TTrailReading> ParseTrailReading(std::string_view text);
// A sentence part naming the reading: "R0/(FNOMIN*LFZO), the book's reading".
std::string DescribeTrailReading(TTrailReading reading);

struct TTirReadOptions {
  // The convention the set gets (by default that of the set before the
  // import, by the sign of its PKy1).
  std::optional<TSignConvention> convention;
  // FNOMIN (N) and UNLOADED_RADIUS (m) for a file that lacks them; a value
  // the file states is never replaced.  FNOMIN supplied is scaled by LFZO
  // as the file's own would be.
  std::optional<double> fz0;
  std::optional<double> r0;
  TTrailReading trail = TTrailReading::kBook;
};

struct TTirImportResult {
  // The convention the set was written in.
  TSignConvention convention = TSignConvention::kIso;
  // Messages for the user, one per subject: the convention, scaling factors
  // folded, the MF 6.x approximation, keys not in the file, the trail
  // reading of a file with LFZO other than 1.
  std::vector<std::string> notes;
  // The 2002 keys the file lacks, which were taken as 0.
  std::vector<std::string> absent;
  // FNOMIN / UNLOADED_RADIUS came from the options, not from the file.
  bool fz0_supplied = false;
  bool r0_supplied = false;
  // LFZO of the file when it is not 1 (the trail reading then matters).
  std::optional<double> lfzo;
  // Combined slip, the overturning moment Mx and the rolling resistance My:
  // the file's values in the set's convention, with their scaling factors
  // folded in.  A key the file lacks is 0, which leaves its term out
  // (weights of 1, no induced lateral force, no Fx arm, no Mx or My).
  TCombinedCoefficients combined;
  std::vector<std::string> combined_keys;  // the keys the file gave, in file spelling
  std::optional<double> longvl;            // LONGVL (m/s), the measurement speed
};

// Reads the property file at `path` into `set`: the 60 coefficients,
// converted to the chosen convention.  Nothing but the 60 texts is changed,
// and nothing at all when the import is refused.
//
// A key is found in whatever section holds it (some published files keep
// every key under one section such as [COEFFICIENTS]); its own section is
// looked at first.  What is refused (Exception naming the file, and the key
// and line where there is one):
//   - an empty file, one with no [SECTION] line, one with none of the
//     Magic Formula keys;
//   - a value of one of the 60 keys or of a scaling factor that is not a
//     finite number ("nan" and "inf" included);
//   - a key of those written twice with two values (twice with one value
//     is a note), naming both lines;
//   - FNOMIN or UNLOADED_RADIUS missing and not given in `options`;
//   - a key whose 0 would not leave its term out but break the equations:
//     the shape factors PCY1, PCX1, QCZ1, the peak factors PDY1, PDX1,
//     QDZ1, the stiffness factors PKY1, PKY2, PKX1 and the trail stiffness
//     QBZ1;
//   - an unsupported version, unit or scaling factor.
// Every other key the file lacks (or leaves empty) is 0, the value with
// which the 2002 equations leave its term out, and a note lists them: the
// values of the set before the import, start-up defaults or another tire's,
// never stand in for the file's.  A file that cannot be opened raises
// EFOpenError.  Texts are written with the process-wide decimal separator
// and 15 significant digits.  Free flags are not touched.
TTirImportResult ImportTir(TCoefficientSet& set, const std::string& path, const TTirReadOptions& options);
TTirImportResult ImportTir(TCoefficientSet& set, const std::string& path,
                           std::optional<TSignConvention> convention = std::nullopt);

// LFZO of the property file at `path` when it holds one other than 1 (a
// number); nullopt otherwise, also for a file that cannot be read.  Lets a
// caller ask for the trail reading before the import.
std::optional<double> TirLoadScale(const std::string& path);

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
  // replaced, wherever they stand.  A template must be a usable property
  // file: not empty, with a [MODEL] section, and no key of the 60 written
  // twice; otherwise Exception names what it lacks.  Without one, the full MF 5.2 (PAC2002) layout is written
  // with neutral values for what a pure-slip fit does not give.
  std::optional<std::string> template_path;
  TTirExportInfo info;
  // Combined-slip, overturning and rolling-resistance coefficients to write
  // (in the set's convention), as read from a property file; the file then
  // says USE_MODE = 4.  Without them the combined weights are written as 1.
  std::optional<TCombinedCoefficients> combined;
  std::optional<double> longvl;  // LONGVL (m/s)
  // NOMPRES and INFLPRES (Pa): the pressure the data were measured at.
  // Without it, placeholders are written.
  std::optional<double> pressure;
  // The USE_MODE to write, when the data gave less than `combined` says
  // (3: no combined slip), and the comment that says why.
  std::optional<int> use_mode;
  std::string use_mode_note;
};

// The property-file section of a combined-slip, overturning or rolling key
// ("LATERAL_COEFFICIENTS" for RVY1), and the factor (+1 or -1) that takes
// its value between the ISO and the positive-stiffness conventions: the
// induced lateral force (RVY1..3), the Fx arm of the aligning moment except
// its Fy share (SSZ1, SSZ3, SSZ4) and the Fy share of Mx (QSX3) turn with
// Fy and Mz; the weights, Mx's other terms and My keep their sign.
std::string_view CombinedKeySection(std::string_view key);
double CombinedSignFactor(std::string_view key);

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
