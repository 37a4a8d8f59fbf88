// Readers of raw measured runs as test rigs write them: one row per sample,
// one column per channel (slip angle, slip ratio, inclination, load, forces,
// moments, pressure, speed, time, ...).  Two layouts:
//
// Delimited run files (flat-track machines and teams' own exports):
//
//   TIRF Data File: Project 1320; Run 50        optional free-text title line
//   ET  V   N   SA  IA  P   FX  FY  FZ  MZ  SR  channel names
//   sec kph rpm deg deg kPa N   N   N   N-m none   optional units row
//   0.00  40.1 ...                              data rows
//
//   The fields are separated by tabs, commas, semicolons or runs of blanks
//   (found from the first data row, or given).  The header is at most three
//   lines: the data start at the first line whose fields are all numbers,
//   and the lines above it are the title, the names and the units.  The
//   units row is split on the delimiter like every row, so a unit may hold a
//   blank ("deg C").  Names and units may be in double quotes.
//
// TYDEX (.tdx) files: blocks introduced by lines starting with "**"
// (keyword case-insensitive): **HEADER, **COMMENTS, **CONSTANTS,
// **MEASURCHANNELS, **MEASURDATA, **END and the **MODEL... blocks, which are
// skipped.  A file may hold several **MEASURDATA blocks (one per sweep):
// their rows are read one after the other.  **CONSTANTS lines hold name
// (1-10), description (11-40), unit (41-50) and value (from 51): FNOMIN and
// RFREE are kept as the rated load and the unloaded radius.  A **MEASURCHANNELS line has fixed columns: name (1-10),
// description (11-40), unit (41-50), conversion factor (51-60) and two
// offsets (61-70, 71-80); the value of a channel is its raw number times the
// factor, in the unit of the line.  Offsets other than 0 are not applied and
// are reported as a note.  **MEASURDATA rows hold one number per channel,
// separated by blanks; the token NOTAVAIL marks a missing value.  Lines that
// start with '!' are notes.  The file must end with **END: a file that stops
// inside its data is reported as cut short.
//
// A UTF-8 byte order mark at the start of the text is skipped.
// Lines end with LF or CR LF (with CR alone in a file that has no LF).  In
// both layouts an empty field, "NaN" or "NOTAVAIL" is a missing value
// (kept as NaN: the import drops such samples and counts them).  Numbers use
// the decimal separator of the read options, '.' unless told otherwise,
// whatever the process uses for its own files: rigs write '.'.
//
// Errors are Exception texts that name the line (1-based) and, where it
// helps, the column: a field that is not a number, a row with too few
// fields, a TYDEX channel line without its columns, a TYDEX file cut short,
// a file without channel names.  A failed read returns nothing.
//
// Cost.  The readers make one pass over the text, and convert only the
// columns asked for (a run file has twenty channels, the import needs about
// eight), 8 bytes per value: since every field takes at least 2 bytes of
// text, the table takes at most 4 times the text, and the text itself is
// limited as for tire data files (kMaxTireDataFileBytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace morvex {

enum class TRunFormat { kAuto, kDelimited, kTydex };
enum class TRunDelimiter { kAuto, kTab, kComma, kSemicolon, kWhitespace };

struct TRunReadOptions {
  TRunFormat format = TRunFormat::kAuto;           // auto: TYDEX when a line starts with "**"
  TRunDelimiter delimiter = TRunDelimiter::kAuto;  // delimited files only
  char decimal_separator = '.';                    // '.' or ','
};

// One channel of a run file, as the file declares it.
struct TRunColumn {
  std::string name;    // as written (quotes and blanks removed)
  std::string unit;    // as written; empty when the file gives none
  double factor = 1;   // TYDEX conversion factor; 1 for delimited files
  size_t line = 0;     // line of the name, 1-based
  size_t column = 0;   // field (delimited) or character column (TYDEX) of the name, 1-based
  size_t unit_line = 0;    // line of the unit, 0 when none
};

struct TRunHeader {
  TRunFormat format = TRunFormat::kDelimited;
  TRunDelimiter delimiter = TRunDelimiter::kWhitespace;  // the one used
  std::string title;                  // the free-text line, or the TYDEX header entries
  std::vector<TRunColumn> columns;
  bool has_units = false;
  size_t first_data_line = 0;         // 1-based line of the first sample row
  size_t data_offset = 0;             // byte offset of that line in the text
  std::vector<std::string> notes;     // what the reader did not apply (TYDEX offsets)
  // TYDEX **CONSTANTS the import offers: the rated load (FNOMIN, in N) and
  // the unloaded radius (RFREE, in m); NaN when the file gives none.
  double nominal_load = std::numeric_limits<double>::quiet_NaN();
  double unloaded_radius = std::numeric_limits<double>::quiet_NaN();
  size_t data_blocks = 0;             // TYDEX **MEASURDATA blocks (their rows are read in order)
};

// The samples of some columns of a run file.
struct TRunTable {
  std::vector<size_t> columns;               // header column indices, in the order of `values`
  std::vector<std::vector<double>> values;   // per chosen column, one value per row (NaN: missing)
  size_t rows = 0;
  bool truncated = false;                    // stopped at the row limit
};

// The layout of `text`: TYDEX when its first non-blank line starts with "**",
// else delimited (unless the options say which).
TRunFormat DetectRunFormat(std::string_view text);

// Reads the header: the channels and where the samples start.
TRunHeader ReadRunHeader(std::string_view text, const TRunReadOptions& options = {});

// Converts the samples of the header columns `columns` (indices into
// header.columns), at most `row_limit` rows when it is not 0.  Values are
// the raw numbers times the column's factor; no unit conversion.
TRunTable ReadRunRows(std::string_view text, const TRunHeader& header,
                      const std::vector<size_t>& columns, const TRunReadOptions& options = {},
                      size_t row_limit = 0);

}  // namespace morvex
