// morvex-fit convert: one coefficient file into another format.
#include <sstream>

#include "cli/FitTool.h"
#include "cli/OutputGuard.h"
#include "files/CoefficientFile.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiremodel/CombinedSlip.h"

namespace morvex {

int RunConvertTool(const TConvertToolOptions& options, std::ostream& out, std::ostream& err) {
  std::ostringstream notes;
  try {
    RefuseOutputNamingInput(options.output_path, {options.input_path, options.template_path,
                                                  StartupDefaultsPath(options.executable_dir)});
    CheckOutputOptions(options.output_path, options.template_path);
    // The same start as the window: the start-up defaults, then the file,
    // so that a key the file lacks has the value the window would show.
    TMemoryCoefficientSet set;
    const std::string defaults = StartupDefaultsPath(options.executable_dir);
    LoadStartupDefaults(set, defaults);
    TCoefficientFileRead read;
    read.convention = options.convention;
    read.fz0 = options.fz0;
    read.r0 = options.r0;
    read.trail = options.trail_reading;
    bool fz0_supplied = false;  // a .tir without FNOMIN took --fz0 for it
    // A .tir's combined-slip, Mx and My coefficients go on into a .tir.
    TCombinedPart combined;
    const bool file_gave_fz0 =
        ImportCoefficientFileGivesFz0(set, options.input_path, read, notes, &fz0_supplied, &combined);
    const double fz0_before = set.Value("Fz0");
    if (!fz0_supplied) ApplyFz0Option(set, options.fz0, file_gave_fz0, notes);
    if (combined.coefficients) ReexpressCombinedAtFz0(*combined.coefficients, fz0_before, set.Value("Fz0"));
    if (combined.coefficients && !IsTirPath(options.output_path))
      notes << "morvex-fit: the combined-slip, Mx and My coefficients of " << options.input_path
            << " have no place in a coefficient file and were left out\n";
    TTirExportInfo info;
    info.fits.push_back("none: converted from " + options.input_path +
                        (options.fz0 ? " at Fz0 = " + FloatToStr(*options.fz0) : std::string()));
    ExportCoefficientFile(set, options.output_path, options.template_path, options.convention, info, notes, &combined);
  } catch (const std::exception& error) {
    err << notes.str() << "morvex-fit: " << error.what() << '\n';
    return kExitError;
  }
  err << notes.str();
  out << "wrote " << options.output_path << '\n';
  return kExitOk;
}

}  // namespace morvex
