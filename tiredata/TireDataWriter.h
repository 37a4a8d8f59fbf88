// Writing a data set as a tire data file, in the layout ReadTireDataFile
// reads (see TireDataFile.h): free header lines, then per load case a
// "LOAD_CASE <n>" line, the camber line, the loads line and one row per slip
// ("slip;value;value;...").
//
// Numbers are written in the general format with 15 significant digits and
// the process-wide decimal separator, so that the reader of the same
// process gives back the same values to 15 digits.  Fields are separated by
// ';', which stays a separator whichever decimal separator is in use.
#pragma once

#include <string>
#include <vector>

#include "tiredata/TireDataSet.h"

namespace morvex {

// The file's text.  `header` lines come first; a header line holding the
// block keyword, or a line break, would break the layout, so each is cut at
// its first line break and the keyword is written as "LOAD CASE".
std::string FormatTireData(const TTireDataSet& data, const std::vector<std::string>& header);

// Writes the text to `path` through a temporary file in the same folder that
// is renamed over the target, so a failed write leaves any existing file as
// it was.  Raises EWriteError ("Impossible d'écrire dans <path>") when the
// file cannot be written.
void WriteTireDataFile(const std::string& path, const TTireDataSet& data,
                       const std::vector<std::string>& header);

}  // namespace morvex
