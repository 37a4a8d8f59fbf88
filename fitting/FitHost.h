// What a fit needs from the program around it, and the choices it is
// started with: which optimizer, what it reports while it runs, and the
// host (a window, or nothing at all on the command line) that shows it.
#pragma once

#include <string>

namespace morvex {

// The window's "Optimization strategy": the Levenberg-Marquardt fitter on
// the scalar cost, the differential-evolution search ("Genetic algorithm"),
// or the least-squares trust-region fit on the residuals ("Trust region").
enum class TOptimizerChoice { kLevenbergMarquardt, kDifferentialEvolution, kTrustRegion };

// What a long fit reports while it runs.
struct TFitProgress {
  TOptimizerChoice optimizer = TOptimizerChoice::kLevenbergMarquardt;
  int step = 0;          // iteration (1-based) or generation (0-based)
  int total_steps = 0;   // generations to run on the differential-evolution path; 0 if unknown
  double best_cost = 0;  // cost at the end of the iteration, or best cost of the population
};

// What belongs to the window around a fit command.
class IFitHost {
 public:
  virtual ~IFitHost() = default;
  // Show the wait screen (Levenberg-Marquardt only).
  virtual void ShowWaitScreen() = 0;
  // Hide the wait screen again.
  virtual void HideWaitScreen() = 0;
  virtual void SetBusyCursor(bool busy) = 0;
  virtual void ShowMessage(const std::string& text) = 0;
  // Redraw the result plot from the coefficient set.
  virtual void Redraw() = 0;
  // The hidden "Cost function" field receives the last cost (general format).
  virtual void SetCostText(const std::string& text) = 0;
  // Called after every Levenberg-Marquardt iteration and every generation.
  // It must not change anything the fit reads.
  virtual void Progress(const TFitProgress& /*progress*/) {}
  // Polled between cost evaluations.  Once it returns true the fit stops as
  // soon as it can; the command then writes the best point found so far
  // into the set and returns with TFitOutcome::cancelled set.  It must not
  // change anything the fit reads.  The window's fits call every member on
  // a worker thread (ui/FitSession.h): the host hands on what it shows.
  virtual bool CancelRequested() { return false; }
};

// A host with no window: it shows nothing and never asks to stop.  Derive
// from it to hear only what matters (progress, say).
class TSilentFitHost : public IFitHost {
 public:
  void ShowWaitScreen() override {}
  void HideWaitScreen() override {}
  void SetBusyCursor(bool) override {}
  void ShowMessage(const std::string&) override {}
  void Redraw() override {}
  void SetCostText(const std::string&) override {}
};

}  // namespace morvex
