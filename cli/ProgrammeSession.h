// A tire's test programme in a session file: what "Build tire from runs"
// and `morvex-fit tir` hold (the runs, the data imported from them, the
// rated load and radius typed, the last fit of every stage) to and from the
// session's plain record (files/SessionFile.h, TSessionProgramme).
//
// The imported data travel embedded, so a received session shows its
// programme, its charts and its report, and exports its .tir, without
// reading a run.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "files/SessionFile.h"
#include "fitting/TireProgramme.h"
#include "rigdata/Programme.h"

namespace morvex {

// A programme as the window's dialog and the command line hold it.
struct TProgrammeState {
  std::vector<std::string> runs;                        // the run files, in the order given
  std::optional<double> fz0_typed;                      // N, typed over the runs' value
  std::optional<double> r0_typed;                       // m
  std::shared_ptr<const TProgrammeResult> programme;    // the import; never null
  std::shared_ptr<const TTireProgrammeResult> result;   // the last fit; null before one
};

// The session's record of `state`.  The runs' hashes are those of
// `run_sha256` where given (same order as state.runs), empty otherwise.
TSessionProgramme ProgrammeToSession(const TProgrammeState& state,
                                     const std::vector<std::string>& run_sha256 = {});

// The programme a session holds.  Embedded data that do not read back
// raise ESessionFormat (line 0) with the reason; nothing is half-made.
TProgrammeState ProgrammeFromSession(const TSessionProgramme& session);

}  // namespace morvex
