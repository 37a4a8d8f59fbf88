// Advice before a fit: which coefficients of a channel the data at hand can
// determine, which not and why, and which free boxes it is wise to clear.
//
// Two sources, combined:
//   - the identifiability analysis of the residuals' Jacobian
//     (optim/Identifiability.h) at the estimated start values
//     (StartEstimate.h; the set's present values when the estimate fails),
//     over every coefficient of the channel.  Coefficients it finds
//     undetermined are cleared one group at a time and the rest analysed
//     again, so that the advice names the few to clear rather than every
//     partner of a degenerate direction: first the rated load Fz0 (always
//     one with the load coefficients), then what one inclination or one
//     load cannot show, then coefficients the model ignores at these data,
//     then the higher-order partner of each remaining pair (QBz5 before
//     QBz4, PEy4 before PEy3);
//   - what the curves show directly: a slip range that stops before the
//     peak leaves the peak and curvature coefficients to extrapolation, and
//     curves of a few points leave the shape loosely tied.  Those
//     coefficients are "weak": determined in principle, poorly in practice.
// The reasons are the sentences of IdentityNotes (FitReport.h), so the
// advice and the fit report say the same things in the same words.
#pragma once

#include <string>
#include <vector>

#include "fitting/FitCommands.h"
#include "tiredata/TireDataSet.h"
#include "tiremodel/CoefficientSet.h"

namespace morvex {

struct TCoefficientAdvice {
  std::string name;
  bool determined = true;
  bool weak = false;      // determined, but only loosely (see above)
  bool free = false;      // its box is ticked in the set
  std::string reason;     // why not determined, or why weak; empty otherwise
};

struct TDataAdvice {
  TFitChannel channel = TFitChannel::kLateral;
  std::vector<double> cambers;            // distinct inclinations of the data, ascending
  std::vector<double> loads;              // distinct loads, ascending
  size_t points = 0;
  size_t min_curve_points = 0;            // fewest slips of a curve (one load of one case)
  size_t curves_before_peak = 0;          // curves whose slip range stops before the peak
  size_t curves = 0;
  std::vector<std::string> facts;         // what the data hold and what follows, in words
  std::vector<TCoefficientAdvice> coefficients;  // every coefficient of the channel, in free-box order
  std::vector<std::string> clear;         // free now, and wise to clear before fitting
  std::string start;                      // which values the analysis ran at
};

// Analyses without changing `set`.  Raises EConvertError for a coefficient
// text that is not a number, std::invalid_argument for a data set without
// points or with a malformed case.
TDataAdvice AdviseOnData(TFitChannel channel, const TCoefficientSet& set, const TTireDataSet& data);

// The advice as lines of text, for the terminal and the import window.
std::string FormatDataAdvice(const TDataAdvice& advice);

}  // namespace morvex
