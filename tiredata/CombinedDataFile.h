// The combined-slip data file: points of slip ratio swept at held slip
// angles (CombinedData.h), one per line, with the quantities measured there.
//
// Layout (plain text, '.' decimal point whatever the process uses for its
// own .plt files; lines end with LF, CR LF or CR):
//
//   MORVEX_COMBINED_DATA 1                      the first line: the form and its version
//   # free comment lines start with '#'         anywhere; blank lines too
//   camber;load;slip_angle;slip_ratio;fx;fy;mz;mx;my;speed     the columns
//   0;4000;-6;-0.2;-3415.2;1021.7;35.1;nan;nan;16.7           one point per line
//
// Columns: camber (deg), load (N, > 0), slip_angle (deg) and slip_ratio
// (fraction) are required; then any of fx, fy (N), mz, mx, my (N m) and
// speed (m/s, the wheel's forward speed), at least one force or moment.
// Each name once, in any order, any case.  Fields are separated by ';'
// with optional blanks around them.  A value not measured is "nan" (any
// case) or an empty field; the set-points (camber, load, slip angle, slip
// ratio) are always numbers.  Signs are Morvex's, as in .plt files:
// positive lateral force for a positive slip angle; Mx and My as a property
// file has them (My < 0 when rolling forward).
//
// The reader is strict: the first line that breaks the layout stops it with
// an Exception whose text ends with "(file <path>, line <n>, field <k>:
// <column>)" (the file left out when the text came from no file, the field
// for a whole line): a missing or other first line, an unknown or repeated
// column, a required column missing, a row with too few or too many fields,
// a field that is not a number, a set-point that is not finite or out of
// range (|camber| and |slip angle| <= 90 deg, 0 < load <= 1e7 N,
// |slip ratio| <= 10), a value beyond 1e12 or infinite, a row with no
// measured value, a file without any point.  The file is read whole within
// the size limit of tire data files (kMaxTireDataFileBytes).  A failed read
// returns nothing.
//
// The writer writes every column, each number in the shortest form that
// reads back to the same double (full precision), NaN as "nan".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tiredata/CombinedData.h"

namespace morvex {

inline constexpr std::string_view kCombinedDataMagic = "MORVEX_COMBINED_DATA";
inline constexpr int kCombinedDataVersion = 1;

// Parses the text of a combined data file; `source` names it in messages.
TCombinedDataSet ParseCombinedDataText(std::string_view text, std::string_view source = {});
// Reads the file at `path` (the errors of ReadTireDataText, then the layout's).
TCombinedDataSet ReadCombinedDataFile(const std::string& path);

// The text of a combined data file holding `data`; `comments` go into '#'
// lines after the first line (each cut at its first line break).
std::string FormatCombinedData(const TCombinedDataSet& data, const std::vector<std::string>& comments = {});
// Writes the text through a temporary file renamed over `path`, so a failed
// write leaves an existing file as it was; raises EWriteError.
void WriteCombinedDataFile(const std::string& path, const TCombinedDataSet& data,
                           const std::vector<std::string>& comments = {});

}  // namespace morvex
