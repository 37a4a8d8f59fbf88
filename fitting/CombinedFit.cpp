#include "fitting/CombinedFit.h"

#include <cmath>
#include <limits>
#include <memory>

#include "fitting/FitVerdict.h"
#include "numerics/LxBasics.h"

namespace morvex {

namespace {

// The host of the trust-region runs from the candidates: they report
// progress and may be cancelled, but show nothing of their own; the
// winner is shown once at the end.
class CandidateHost final : public TSilentFitHost {
 public:
  explicit CandidateHost(IFitHost& host) : host_(host) {}
  void Progress(const TFitProgress& progress) override { host_.Progress(progress); }
  bool CancelRequested() override { return host_.CancelRequested(); }

 private:
  IFitHost& host_;
};

}  // namespace

TFitOutcome RunSearchThenTrustRegion(TFitChannel channel, TCoefficientSet& set, const TTireDataSet& data,
                                     const std::string& settings_path, IFitHost& host,
                                     const std::vector<const TCoefficientSet*>& other_starts) {
  TMemoryCoefficientSet before;
  CopyCoefficients(set, before);
  TFitOutcome search = RunFitCommand(channel, set, data, TOptimizerChoice::kDifferentialEvolution,
                                     settings_path, host);
  search.optimizer_label = "de+tr";
  if (search.cancelled) return search;

  std::vector<const TCoefficientSet*> starts = {&set, &before};
  starts.insert(starts.end(), other_starts.begin(), other_starts.end());

  CandidateHost quiet(host);
  std::unique_ptr<TMemoryCoefficientSet> best_set;
  TFitOutcome best;
  double best_cost = std::numeric_limits<double>::infinity();
  for (const TCoefficientSet* start : starts) {
    auto trial = std::make_unique<TMemoryCoefficientSet>();
    CopyCoefficients(set, *trial);
    for (const std::string& name : search.fitted) trial->SetText(name, start->Text(name));
    TFitOutcome polished =
        RunFitCommand(channel, *trial, data, TOptimizerChoice::kTrustRegion, settings_path, quiet);
    const bool usable = !polished.optimizer_failed && std::isfinite(polished.final_cost);
    if (usable && polished.final_cost < best_cost) {
      best_cost = polished.final_cost;
      best = polished;
      best_set = std::move(trial);
    }
    if (polished.cancelled) break;
  }
  if (!best_set) {
    host.Redraw();
    return search;
  }

  for (const std::string& name : best.fitted) set.SetText(name, best_set->Text(name));
  host.SetCostText(FloatToStr(best_cost));
  best.optimizer_label = "de+tr";
  best.start_cost = search.start_cost;
  best.trials_failed = search.trials_failed;
  best.verdict = JudgeFit(best, set, data);
  host.Redraw();
  return best;
}

}  // namespace morvex
