// Coefficient files: the 60 Magic Formula values of a coefficient set in an
// INI-style profile file.
//
// One scheme of sections and keys serves three uses.  The export writes the
// whole set to a file the user names, the import reads such a file back, and
// at start-up the set is filled from "param_fm_ini.ini" beside the
// executable.  The sections are "TIRE RADIUS" (R0), "NOMINAL LOAD" (Fz0),
// "PARAMETERS FY" (lateral force), "PARAMETERS FX" (longitudinal force) and
// "PARAMETERS Mz" (aligning moment); each key is the coefficient's name in
// its own spelling ("Pcy1", "QBz10").  Names match without regard to case, so
// an exported file copied beside the executable serves as start-up defaults.
// Free flags are not stored.
//
// A new file written from the start-up set begins
//
//   [TIRE RADIUS]
//   R0=0.3
//   [NOMINAL LOAD]
//   Fz0=3000
//   [PARAMETERS FY]
//   Phy1=0
//
// and ends with "QCz1=10"; the keys follow FileOrder() of the coefficient
// table.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tiremodel/CoefficientSet.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex {

// File name of the start-up defaults, looked for in the executable's folder.
inline constexpr const char* kStartupDefaultsFileName = "param_fm_ini.ini";

// Writes the 60 values of `set` to the file at `path`.
//
// Every value text is converted with the process-wide decimal separator and
// written in the general number format (15 significant digits, trailing
// zeros dropped: a text "1.30000" is stored as "1.3").  All 60 texts are
// converted before anything is written: a text that is not a number raises
// EConvertError ("'<text>' n'est pas une valeur en virgule flottante
// correcte") and leaves the file untouched, or absent if it was.
//
// An existing file keeps all its other sections, keys, comments and blank
// lines; its 60 keys get the new values; a missing file is created.  The
// file is replaced in one step, so a failure never leaves it half written:
// when it cannot be written (folder missing or read-only, a read-only file,
// `path` a folder, ...) EWriteError ("Impossible d'écrire dans <path>") is raised and the file
// is as it was.
void ExportCoefficients(const TCoefficientSet& set, const std::string& path);

struct TCoefficientImportResult {
  // Messages for the user: lines the file holds that are no coefficient.
  std::vector<std::string> notes;
};

// Reads the 60 values from the file at `path` into `set`.  For each key
// present, the stored text becomes the value's text unchanged (nothing is
// converted, so a text that is not a number fails only when the value is
// used).  A missing section or key leaves the value's text as it is.  Free
// flags are not touched.
//
// The file must hold at least one key of `group` (any of the 60 without a
// group): a file with none of them is not a coefficient file of that
// channel, and Exception names the file and the keys it looked for, with
// nothing changed.  A file that cannot be read raises EFOpenError.  Keys
// and sections that are no coefficient of Morvex are named, with their
// lines, in a note, and otherwise ignored.
TCoefficientImportResult ImportCoefficients(TCoefficientSet& set, const std::string& path,
                                            std::optional<TCoefficientGroup> group = std::nullopt);

// Fills all 60 values of `set` from the start-up defaults file at `path`:
// the stored text, or the coefficient table's default text when the file or
// the key is missing.  A number written with '.' (the shipped file, the
// built-in texts) gets the process-wide decimal separator instead, so that
// it converts under any locale; every other text is taken as it stands.
// The file is only read, never written.
void LoadStartupDefaults(TCoefficientSet& set, const std::string& path);

// "<executable_dir>/param_fm_ini.ini" (just the file name for an empty folder).
std::string StartupDefaultsPath(const std::string& executable_dir);

}  // namespace morvex
