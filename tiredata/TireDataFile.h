// Reading tire data files: measured curves of one channel over slip, one
// block per camber angle, one column per vertical load.
//
// File layout (plain text; lines end with CR LF, LF or CR; a final line
// break adds no line):
//
//   free header text              ignored up to the first block
//   LOAD_CASE 1                   any line containing "LOAD_CASE" (exact case) starts a block
//   0                             camber angle in degrees: the whole line is one number
//   2000;4000;6000                the loads: L fields
//   -10;-1850;-3400;-4700         R data rows: slip, then one value per load;
//   0;20;35;50                    further fields are ignored
//
// A block's rows run up to the next "LOAD_CASE" line or to the end of the
// file.  Numbers use the process-wide decimal separator (LxBasics.h).
//
// Errors (the first one stops the read):
//   - a camber line or field that is not a number (an empty field too):
//     EConvertError "'<text>' n'est pas une valeur en virgule flottante correcte";
//   - a row with fewer than L + 1 fields (a blank line inside a block
//     included): EListError "Indice de liste hors limites (<k>)", k the
//     index of the first missing field;
//   - a last block cut short by the end of the file (no camber or loads
//     line): EListError naming the missing line's index, i.e. the file's
//     line count;
//   - a file that cannot be opened or read: EFOpenError.
// A failed read returns no data set at all, so the caller keeps whatever it
// had before.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tiredata/TireDataSet.h"

namespace morvex {

// The keyword that starts a block, matched anywhere in a line.
inline constexpr std::string_view kLoadCaseKeyword = "LOAD_CASE";

// Splits `text` into lines at CR LF, LF or CR.  A line break at the very end
// adds no empty line; an empty text has no lines.
std::vector<std::string> SplitLines(std::string_view text);

// Splits one line into fields:
//   - blanks (character codes 1 to 32) at the start are skipped;
//   - a field is either a run of characters that are neither ';' nor of code
//     0 to 32, or a quoted text starting with '"' (a doubled quote inside
//     stands for one quote; the quotes are removed; an unterminated quote
//     runs to the end of the line);
//   - after a field, blanks are skipped, then at most one ';' together with
//     the blanks after it.
// So fields may be separated by ';', by blanks or by both; ";;" gives an
// empty field between them, and a ';' as the very last character gives an
// empty last field.  A NUL character ends the line's text.
std::vector<std::string> SplitFields(std::string_view line);

// Builds a data set from the lines of a tire data file.
TTireDataSet ParseTireData(const std::vector<std::string>& lines);
// The same from the whole file text.
TTireDataSet ParseTireDataText(std::string_view text);
// Reads the file at `path` whole and parses it.  Raises EFOpenError
// ("Impossible d'ouvrir le fichier <path>") when it cannot be read.
TTireDataSet ReadTireDataFile(const std::string& path);

}  // namespace morvex
