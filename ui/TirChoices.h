// "Export to file" and "Import MF model" with both file types: Morvex's
// coefficient file (*.txt, as ever) and the Magic Formula property file
// (*.tir) of vehicle simulators.
//
// The type is the file's extension (.tir, or .txt/.text); a name with
// another or no extension takes the type of the filter selected in the
// dialog (a property file then gets ".tir" appended).  For a property file
// the user chooses the sign convention of the panel's set, preselected by
// the sign of PKy1, and a message then tells what was converted, folded or
// dropped.  A property file with LFZO other than 1 also asks how its
// aligning trail is read (see TTrailReading).  A file the import refuses
// changes nothing; the message names the reason.  Exporting into an
// existing .tir keeps all its other lines: the file is the template.
//
// The header of an exported property file names the data file and the last
// fit of each channel, which the window records with RecordFitForExport.
#pragma once

#include <any>
#include <string>

#include "fitting/FitReport.h"
#include "tiremodel/CoefficientSet.h"

class QWidget;

namespace morvex {

inline constexpr const char* kExportFilter = ".txt (*.txt);;.tir (*.tir)";
inline constexpr const char* kImportFilter = ".txt (*.txt *.text);;.tir (*.tir)";

// Remembers a finished fit for the header of the next property file, and
// the ranges of its data for the file's *_RANGE sections.
void RecordFitForExport(const TFitReport& report, const std::string& data_file,
                        const TTireDataSet& data);
// Forgets every recorded fit (tests).
void ClearRecordedFits();
// The recorded fits as a value, which the window's undo history keeps with
// each step, so that the header names the fits of the coefficients written.
std::any SaveRecordedFits();
// Puts back fits saved by SaveRecordedFits; an empty value means none.
void RestoreRecordedFits(const std::any& fits);
// Forgets the fit of `channel`: its coefficients no longer come from it.
void ForgetRecordedFit(TFitChannel channel);

// The commands behind "Export to file" and "Import MF model".  `chosen`, when
// given, receives the file the user picked (for the error report's subject);
// it stays as it was when the dialog was cancelled.  A coefficient file
// named without an extension is written with ".txt".
void ExportCoefficientsCommand(QWidget* parent, const TCoefficientSet& set, std::string* chosen = nullptr);
void ImportCoefficientsCommand(QWidget* parent, TCoefficientSet& set, std::string* chosen = nullptr);

}  // namespace morvex
