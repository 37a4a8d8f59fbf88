// The report of a fit: how well the model now matches each measured curve,
// and, after a trust-region fit, how well the data determine each fitted
// coefficient.  The window shows it in its report window; morvex-fit prints
// the same text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fitting/FitCommands.h"
#include "optim/Identifiability.h"
#include "tiredata/TireDataSet.h"
#include "tiremodel/CoefficientSet.h"

namespace morvex {

// The fit of one measured curve: one load of one load case.
struct TCurveFit {
  int case_number = 0;  // 1-based
  double camber = 0;
  double load = 0;
  size_t points = 0;
  double rms = 0;        // root mean square of measured - model
  double max_error = 0;  // largest |measured - model|
};

struct TFittedCoefficient {
  std::string name;
  std::string value;        // the set's text after the fit
  double standard_error = 0;  // NaN when not known or not determined
  std::string note;         // why the data cannot determine it, or empty
};

struct TFitReport {
  TFitChannel channel = TFitChannel::kLateral;
  TOptimizerChoice optimizer = TOptimizerChoice::kLevenbergMarquardt;
  bool failed = false;
  std::string failure;              // the message shown for a failed fit
  int cases = 0;
  std::vector<TCurveFit> curves;
  size_t points = 0;
  double cost = 0;                  // sum of squared residuals (model object)
  double rms = 0;
  double max_error = 0;
  double r_squared = 0;             // 1 - SSR/SST; NaN when the data do not vary
  std::vector<TFittedCoefficient> coefficients;
  bool has_standard_errors = false;
  std::string solver_message;       // trust region: why the solver stopped
  int iterations = 0;
  bool cancelled = false;
  std::string optimizer_label;      // "de+tr" for the combined run; empty otherwise
  std::vector<std::string> cleared_flags;  // free boxes the single-camber rule cleared
  double residual_variance = 0;     // SSR / (points - free); NaN without degrees of freedom
  int64_t trials_failed = -1;       // genetic search: trials with a floating-point fault; -1 without one
  TFitVerdict verdict;
};

// Evaluates the channel's model for the set as it now stands at every
// data point.  A coefficient text that is not a number raises EConvertError;
// a floating-point fault of the model raises its error.
TFitReport BuildFitReport(const TFitOutcome& outcome, const TCoefficientSet& set,
                          const TTireDataSet& data);

// The report as lines of text:
//   fit channel=lateral optimizer=tr cases=3 points=492 free=18 status=ok
//   rms case=1 camber=0 load=2000 points=41 value=14.2 max=38.5
//   rms overall points=492 value=14.67 max=41.3 r2=0.99991
//   stderr name=PCy1 value=1.19301 error=0.0021
//   stderr name=PHy3 value=0 error=not-determined
//   note PHy3 is not determined: the data holds one camber angle
//   solver iterations=12 converged=yes message=...
//   trials-failed 3     (after a genetic search: trials whose cost raised a
//                        floating-point fault and counted as infinitely bad)
//   verdict poor
//   reason misfit: the residuals (RMS 96.1) are 6.2 times ... ; try: press ...
std::string FormatFitReport(const TFitReport& report);

// One line that sums a fit up, for the header of a property file:
// "lateral: 492 points, RMS 14.67", then ", the fit failed: ..." or
// ", verdict poor: <reasons>" where they apply.
std::string FitSummaryLine(const TFitReport& report);

// What the standard errors mean and what "not-determined" says, in words.
extern const char* const kStandardErrorExplanation;

// "lm", "de", "tr".
std::string OptimizerName(TOptimizerChoice optimizer);

// For each fitted coefficient (`names`, in the order of the analysed
// Jacobian's columns), the sentence that says why the data cannot determine
// it, or an empty text when they do.
std::vector<std::string> IdentityNotes(TFitChannel channel, const std::vector<std::string>& names,
                                       const TTireDataSet& data, const TIdentifiability& identity);

}  // namespace morvex
