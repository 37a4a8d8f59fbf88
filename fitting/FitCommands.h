// The three fit commands: lateral force, aligning moment and longitudinal
// force.  Each runs a whole fit against a coefficient set, the data set,
// the chosen optimizer and a host that stands for the window around it:
//
//   1. read the search settings (configuration.ini; also on the
//      Levenberg-Marquardt path, where none of them is used);
//   2. set the busy cursor;
//   3a. Levenberg-Marquardt: swap the window for the wait screen, fill a
//      model object from the set, clear the camber flags when the data hold
//      a single case at camber 0, fit the free coefficients with TFit inside
//      an error trap (a failure shows the command's message box), write the
//      fitted coefficients back with 5 decimals, put the last cost into the
//      cost field, swap the windows back;
//   3b. differential evolution: build bounds and start values of the free
//      coefficients, run NB_GEN + 1 generations of TDiffEvol on the channel's
//      cost, write the best member back in the general format;
//   3c. trust region: fit the free coefficients on the residuals (no flag
//      is cleared), write them back in the general format, put the cost
//      into the cost field, and judge from the Jacobian at the solution
//      which coefficients the data determine and how well;
//   4. redraw and restore the normal cursor.
//
// A command that ends with an error (a coefficient text that is not a
// number, a broken optimizer precondition, a fault in a cost evaluation of
// the differential-evolution path) restores the window, the wait screen and
// the cursor before the error leaves it.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fitting/FitHost.h"
#include "tiredata/TireDataSet.h"
#include "tiremodel/Channel.h"
#include "tiremodel/CoefficientSet.h"
#include "tiremodel/RatedLoad.h"

namespace morvex {

// One reason why a fit is poor, in words, with what to try about it.
struct TVerdictReason {
  std::string code;    // short key: "cost-not-lowered", "low-r2", "iteration-limit", ...
  std::string text;    // "the cost did not fall below that of the start values"
  std::string advice;  // "press Estimate start values, then fit again"
};

// The judgement of a finished fit: good, or poor with its reasons; and the
// notes, facts about the result that never make it poor.
struct TFitVerdict {
  bool poor = false;
  std::vector<TVerdictReason> reasons;
  std::vector<TVerdictReason> notes;
};

// How a fit command ended.  An outcome that no command filled says so:
// it is never mistaken for a finished fit.
enum class TFitTermination {
  kNotRun,          // no command has run for this outcome
  kFinished,        // the optimizer ran to its own end
  kIterationLimit,  // the trust region stopped at its iteration cap
  kCancelled,       // the user stopped it; the set holds the best point so far
  kFailed,          // the optimizer failed (trapped and shown)
};
const char* TerminationName(TFitTermination termination);

// What the caller may want to know after a command returned normally.
struct TFitOutcome {
  TFitChannel channel = TFitChannel::kLateral;
  TFitTermination termination = TFitTermination::kNotRun;
  TOptimizerChoice optimizer = TOptimizerChoice::kLevenbergMarquardt;
  bool optimizer_failed = false;      // Levenberg-Marquardt failure, trapped and shown
  std::string failure_message;        // the message box text shown for it
  std::string failure_detail;         // the trapped error's own message
  std::vector<std::string> fitted;    // names of the free coefficients, in the fit's order
  // Levenberg-Marquardt after success: the standard error of each fitted
  // coefficient (same order), NaN where the covariance diagonal is not
  // positive (the coefficient is not determined by the data).
  // Trust region after success: the standard error scaled by the residual
  // variance, NaN for a coefficient the data cannot determine.
  std::vector<double> standard_errors;
  // Trust region: for each fitted coefficient, empty or the sentence that
  // says why the data cannot determine it ("PHy3 is not determined: the
  // data holds one camber angle").
  std::vector<std::string> notes;
  // Trust region: the solver's iterations and its reason for stopping.
  int iterations = 0;
  bool converged = false;
  std::string solver_message;
  // The user asked to stop: the set holds the best point found until then.
  bool cancelled = false;
  // Trust region: still at its iteration cap after its last round.
  bool iteration_limit = false;
  // Differential evolution: the search interval of each fitted coefficient
  // (same order as `fitted`), and whether the best cost still fell by more
  // than 1 % over the last tenth of the generations.
  std::vector<double> search_min, search_max;
  bool search_still_improving = false;
  // Differential evolution: members and trials whose cost raised a
  // floating-point fault and counted as infinitely bad; -1 when no search ran.
  int64_t trials_failed = -1;
  // The free flags the single-camber rule cleared, in the fit's order.
  std::vector<std::string> cleared_flags;
  // The name of a combined run ("de+tr") for the report; empty for one optimizer.
  std::string optimizer_label;
  // Sum of squared residuals of the start values and of the written result
  // (NaN where it could not be evaluated).
  double start_cost = std::nan("");
  double final_cost = std::nan("");
  // The start values were themselves a fit (estimated start values, an
  // earlier result): ending at their cost is then no fault of the fit.
  bool start_was_fit = false;
  // Good, or poor with reasons (filled by every command that ran to its end).
  TFitVerdict verdict;
};

// The message boxes of a Levenberg-Marquardt failure.
extern const char* const kLateralFailureMessage;       // also the longitudinal one
extern const char* const kAligningFailureMessage;
// The message box of a trust-region failure begins with this text, followed
// by the solver's reason.
extern const char* const kTrustRegionFailureMessage;

// The channels whose coefficients a command on `channel` leaves alone:
// when it moves Fz0 they are re-expressed at the new value (RatedLoad.h).
TReexpressChannels OtherChannels(TFitChannel channel);

// Runs one fit command.  `settings_path` is the fit settings file
// (configuration.ini beside the executable in the window); a missing file
// gives every setting its default.
TFitOutcome RunFitCommand(TFitChannel channel, TCoefficientSet& coefficients,
                          const TTireDataSet& data, TOptimizerChoice optimizer,
                          const std::string& settings_path, IFitHost& host);

// The channel's coefficients in the order of its free-coefficient vector.
std::span<const std::string_view> FreeOrder(TFitChannel channel);

}  // namespace morvex
