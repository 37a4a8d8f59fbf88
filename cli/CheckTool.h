// morvex-fit check: before a fit, what a tire data file can determine of a
// channel's coefficients, and which free boxes to clear (DataAdvice.h).
//
// Exit status: 0 the advice was printed; 2 an error (nothing printed on the
// standard output).
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "fitting/FitCommands.h"

namespace morvex {

struct TCheckToolOptions {
  TFitChannel channel = TFitChannel::kLateral;
  std::string data_path;
  std::optional<std::string> coefficients_path;  // values replacing the start-up defaults
  std::string free = "all";                      // "all" or a comma-separated list of names
  std::string executable_dir;                    // where param_fm_ini.ini lives
};

int RunCheckTool(const TCheckToolOptions& options, std::ostream& out, std::ostream& err);

}  // namespace morvex
