// A whole tire from a test programme: the pure-slip fits, then the
// combined-slip stages, with one rated load Fz0 and one radius R0 for all.
//
// FitTireProgramme runs, in order:
//   1. lateral force, aligning moment, longitudinal force under pure slip,
//      each where its data set is given: every coefficient of the channel
//      free but Fz0 and R0 (fixed at the input's values), start values
//      estimated from the data (EstimateStartValues), then the trust region
//      (RunFitCommand), the estimate counting as a fit (MarkStartAsFit), as
//      `morvex-fit fit --optimizer tr --start estimate` does;
//   2. the combined stages Fx, Fy, Mz, Mx, My (CombinedStages.h) with the
//      pure-slip coefficients fixed.  A combined stage whose pure-slip
//      channels were not fitted is not fitted either, with the reason.
// A cancel (IFitHost::CancelRequested) ends the stage that runs at its
// best point so far; every later stage is "not fitted: the programme was
// cancelled".
//
// The result holds one TStageResult per stage (eight, pure ones first, in
// the order run), the coefficient set, the combined coefficients, and the
// highest USE_MODE of a property file the fitted stages support:
//   4  combined slip: the three pure-slip channels and the Fx and Fy
//      combined stages fitted (Mz's s terms, Mx and My may be missing: their
//      coefficients are then 0, which the equations ignore);
//   3  the three pure-slip channels, no combined slip;
//   2  lateral force (and aligning moment) only;
//   1  longitudinal force only;
//   0  nothing fitted.
// `mode_reasons` says, for each stage not fitted, "<stage>: <reason>"; a
// .tir writer puts them on the USE_MODE line's comment.  A poor stage is
// fitted: its verdict tells (Good()).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fitting/CombinedStages.h"
#include "fitting/FitHost.h"
#include "tiredata/CombinedData.h"
#include "tiredata/TireDataSet.h"
#include "tiremodel/CoefficientSet.h"

namespace morvex {

struct TTireProgrammeInput {
  std::optional<TTireDataSet> lateral;       // Fy against slip angle, at zero slip ratio
  std::optional<TTireDataSet> aligning;      // Mz against slip angle, at zero slip ratio
  std::optional<TTireDataSet> longitudinal;  // Fx against slip ratio, at zero slip angle
  TCombinedDataSet combined;                 // slip ratio swept at held slip angles
  double fz0 = 0;                            // N, the one rated load of every stage (> 0)
  double r0 = 0;                             // m, the unloaded radius (> 0)
  double longvl = 16.7;                      // m/s, the speed that normalises My's speed terms
};

struct TTireProgrammeResult {
  TMemoryCoefficientSet coefficients;  // Fz0, R0 and the pure-slip channels
  TCombinedCoefficients combined;      // 0 where no stage fitted them
  std::vector<TStageResult> stages;    // lateral, aligning, longitudinal, Fx/Fy/Mz combined, Mx, My
  int use_mode = 0;
  std::vector<std::string> mode_reasons;  // "Mx: the data hold no measured Mx", ...
  bool cancelled = false;
  // A stage was fitted and judged poor.
  bool AnyPoor() const;
};

// Runs the programme.  Raises std::invalid_argument for an Fz0 or R0 that
// is not a positive number; any other fault of a stage (a data set the fit
// refuses, a model that cannot be evaluated) makes that stage "not fitted"
// with the error's text and the programme goes on.
TTireProgrammeResult FitTireProgramme(const TTireProgrammeInput& input, IFitHost& host);

}  // namespace morvex
