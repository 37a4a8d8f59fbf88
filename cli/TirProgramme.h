// What a property file written from a fitted test programme carries, for
// `morvex-fit tir` and the window's "Build tire from runs" alike: the
// export options (combined coefficients when the fit reached USE_MODE 4,
// pressure, speed, USE_MODE with why not more, the data's ranges, a header
// listing every stage with the runs that fed it and its verdict) and the
// text of a stage's verdict.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "files/TirFile.h"
#include "fitting/TireProgramme.h"
#include "rigdata/Programme.h"

namespace morvex {

// "good", "cancelled", "poor (<reasons>)" or "not fitted: <reason>".
std::string StageVerdictText(const TStageResult& stage);

// One line of a stage for a terminal: name, points, verdict, RMS and the
// coefficients held at 0.
std::string StageSummaryLine(const TStageResult& stage);

// `value` with `digits` significant digits, "-" when it is not finite.
std::string ShortNumber(double value, int digits = 4);

// Whether a run's feed (rigdata's stage names: "lateral", ..., "combined")
// went into the fit stage `stage` (every combined stage takes "combined").
bool FeedsStage(const TProgrammeFeed& feed, const TStageResult& stage);

// The options of ExportTir for the fitted programme: ISO convention,
// `template_path`, the combined coefficients only at USE_MODE 4, LONGVL and
// the pressure where the runs held one, the USE_MODE line and its note, the
// header (the run files' names, one line per stage, the reasons for the
// mode) and the ranges the data covered.
TTirExportOptions ProgrammeTirOptions(const TProgrammeResult& programme, const TTireProgrammeResult& result,
                                      const std::vector<std::string>& run_paths,
                                      const std::optional<std::string>& template_path = std::nullopt);

}  // namespace morvex
