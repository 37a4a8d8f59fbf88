// morvex-fit import: a raw measured run (delimited run file or TYDEX) to a
// tire data file of one channel, with the import's report on the terminal.
//
// Exit status: 0 written; 2 an error of the run file or the options, or an
// import that leaves nothing usable (the report is printed, its reason goes
// to the error stream, and no file is written).
#pragma once

#include <ostream>
#include <string>

#include "rigdata/RawImport.h"

namespace morvex {

struct TImportToolOptions {
  TImportChannel channel = TImportChannel::kLateral;
  std::string run_path;
  std::string format = "auto";       // auto, delimited, tydex
  std::string delimiter = "auto";    // auto, tab, comma, semicolon, whitespace
  std::string convention = "auto";   // auto, sae, iso, morvex
  std::string filters;               // key=value,... (ApplyFilterText)
  std::string mapping;               // role=CHANNEL,... e.g. slip-angle=ALPHA,load=FZW
  std::string inclinations;          // set-points, comma-separated; empty: from the data
  std::string loads;
  std::string output_path;
};

int RunImportTool(const TImportToolOptions& options, std::ostream& out, std::ostream& err);

}  // namespace morvex
