#include "fitting/FitCommands.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <limits>
#include <mutex>
#include <optional>
#include <span>
#include <type_traits>

#include "fitting/ChannelModel.h"
#include "fitting/FitReport.h"
#include "fitting/MeasuredCurves.h"
#include "fitting/FitSettings.h"
#include "fitting/FitVerdict.h"
#include "fitting/TrustRegionFit.h"
#include "optim/Identifiability.h"
#include "numerics/LxBasics.h"
#include "numerics/WorkerPool.h"
#include "optim/DiffEvol.h"
#include "optim/LxFit.h"
#include "tiremodel/DemoModels.h"
#include "tiremodel/MagicFormula.h"
#include "tiremodel/MagicFormulaKernels.h"
#include "tiremodel/RatedLoad.h"

namespace morvex {

const char* const kLateralFailureMessage =
    "Optimization failed. Possible reason : some initial null values affect the sensitivity of "
    "other parameters. Try other initial values. One possible initial value for the rated load is "
    "the mean load-case value.";

const char* const kAligningFailureMessage =
    "Optimization failed. Possible reason : some initial null values affect the sensitivity of "
    "other parameters. Try other initial values.";

const char* const kTrustRegionFailureMessage = "The trust-region fit failed: ";

namespace {

// The camber coefficients whose free flags the Levenberg-Marquardt path
// clears when the data hold a single load case at camber 0: they cannot be
// identified from such data.
constexpr std::string_view kLateralCamberFlags[] = {"PHy3", "PDy3", "PVy3", "PVy4", "PEy4", "PKy3"};
constexpr std::string_view kAligningCamberFlags[] = {"QBz4", "QBz5", "QDz3", "QDz4", "QDz8",
                                                     "QDz9", "QEz4", "QEz5", "QHz3", "QHz4"};
constexpr std::string_view kLongitudinalCamberFlags[] = {"PDx3"};

std::span<const std::string_view> CamberFlags(TFitChannel channel) {
  switch (channel) {
    case TFitChannel::kLateral: return kLateralCamberFlags;
    case TFitChannel::kAligning: return kAligningCamberFlags;
    case TFitChannel::kLongitudinal: return kLongitudinalCamberFlags;
  }
  return kLateralCamberFlags;
}

const char* FailureMessage(TFitChannel channel) {
  return channel == TFitChannel::kAligning ? kAligningFailureMessage : kLateralFailureMessage;
}

// The free coefficients of the channel, in its free-coefficient order.
std::vector<std::string_view> FreeNames(TFitChannel channel, const TCoefficientSet& set) {
  std::vector<std::string_view> names;
  for (std::string_view name : FreeOrder(channel))
    if (set.Free(name)) names.push_back(name);
  return names;
}

// Thrown through an optimizer when the host asks to stop; never leaves the
// command.  Not an std::exception, so no optimizer's own trap takes it.
struct TFitCancelled {};

// The best point an optimizer has evaluated so far, kept while it runs so
// that a cancelled fit can end there.
struct BestPoint {
  double cost = std::numeric_limits<double>::infinity();
  std::vector<long double> values;
  void Offer(double c, const std::vector<long double>& v) {
    if (c < cost) {
      cost = c;
      values = v;
    }
  }
};

// Restores the window around a command that ends with an error.
class HostRestorer {
 public:
  explicit HostRestorer(IFitHost& host) : host_(host) {}
  ~HostRestorer() {
    if (!armed_) return;
    try {
      if (wait_screen_) host_.HideWaitScreen();
      if (busy_) host_.SetBusyCursor(false);
    } catch (...) {
      // Restoring must not replace the error that is on its way out.
    }
  }
  void Busy() { busy_ = true; }
  void WaitScreenShown() { wait_screen_ = true; }
  void WaitScreenHidden() { wait_screen_ = false; }
  void Disarm() { armed_ = false; }

 private:
  IFitHost& host_;
  bool armed_ = true;
  bool busy_ = false;
  bool wait_screen_ = false;
};

// ------------------------------------------------------------ model objects

// The model object of a channel, behind one interface for the command.
struct LmModel {
  virtual ~LmModel() = default;
  virtual Extended* Field(std::string_view name) = 0;
  virtual Extended Cost() = 0;
  // The cost without storing it in LastCost (for a worker's own copy).
  virtual Extended Evaluate() const = 0;
  virtual std::unique_ptr<LmModel> Clone() const = 0;
};

template <class Model>
struct LmModelOf final : LmModel {
  // Every field from the set's texts, in field order.
  LmModelOf(const TCoefficientSet& set, const TTireDataSet& data) : model(&data) {
    model.Assign(set);
  }
  Extended* Field(std::string_view name) override { return model.Field(name); }
  // The aligning model keeps the lateral part of its points between calls:
  // the fit changes only aligning coefficients, mostly.
  Extended Cost() override {
    if constexpr (std::is_same_v<Model, TDemoModel2>)
      return model.ComputeCost(cache);
    else
      return model.ComputeCost();
  }
  Extended Evaluate() const override {
    if constexpr (std::is_same_v<Model, TDemoModel2>)
      return model.EvaluateCost(cache);
    else
      return model.EvaluateCost();
  }
  std::unique_ptr<LmModel> Clone() const override { return std::make_unique<LmModelOf>(*this); }
  Model model;
  mutable TAligningLateralCache cache;
};

std::unique_ptr<LmModel> MakeLmModel(TFitChannel channel, const TCoefficientSet& set,
                                     const TTireDataSet& data) {
  switch (channel) {
    case TFitChannel::kLateral: return std::make_unique<LmModelOf<TDemoModel1>>(set, data);
    case TFitChannel::kAligning: return std::make_unique<LmModelOf<TDemoModel2>>(set, data);
    case TFitChannel::kLongitudinal: return std::make_unique<LmModelOf<TDemoModel3>>(set, data);
  }
  return nullptr;
}

void RunLevenbergMarquardt(TFitChannel channel, TCoefficientSet& set, const TTireDataSet& data,
                           IFitHost& host, HostRestorer& restorer, TFitOutcome& outcome) {
  host.ShowWaitScreen();
  restorer.WaitScreenShown();

  const std::unique_ptr<LmModel> model = MakeLmModel(channel, set, data);

  if (data.CaseCount() == 1 && data.Cases[0].Camber == 0.0)
    for (std::string_view name : CamberFlags(channel))
      if (set.Free(name)) {
        set.SetFree(name, false);
        outcome.cleared_flags.emplace_back(name);
      }

  std::vector<Extended*> params;
  for (std::string_view name : FreeNames(channel, set)) {
    params.push_back(model->Field(name));
    outcome.fitted.emplace_back(name);
  }

  // Every evaluation first asks whether to stop, and the lowest cost seen
  // is remembered with its values: a cancelled fit ends there.
  BestPoint best;
  std::mutex best_mutex;
  std::vector<long double> current(params.size());
  const auto cost = [&] {
    if (host.CancelRequested()) throw TFitCancelled{};
    const Extended c = model->Cost();
    for (size_t k = 0; k < params.size(); ++k) current[k] = *params[k];
    const std::lock_guard<std::mutex> lock(best_mutex);
    best.Offer(static_cast<double>(c), current);
    return c;
  };
  const std::shared_ptr<TFit> fit = std::static_pointer_cast<TFit>(CreateFit(params, cost));

  // With more than one thread, the finite differences of each iteration
  // run on all of them, each with its own copy of the model; only this
  // thread asks whether to stop.  One thread is the plain serial fitter.
  struct Worker {
    std::unique_ptr<LmModel> model;
    std::vector<Extended*> fields;
  };
  std::vector<Worker> workers;
  const int threads = ThreadCount();
  for (int w = 0; threads > 1 && w < threads; ++w) {
    Worker worker{model->Clone(), {}};
    for (const std::string& name : outcome.fitted) worker.fields.push_back(worker.model->Field(name));
    workers.push_back(std::move(worker));
  }
  if (threads > 1)
    fit->SetWorkers(
        [&](int w, const std::vector<Extended>& values) {
          if (w == 0 && host.CancelRequested()) throw TFitCancelled{};
          Worker& worker = workers[static_cast<size_t>(w)];
          for (size_t k = 0; k < values.size(); ++k) *worker.fields[k] = values[k];
          const Extended c = worker.model->Evaluate();
          const std::vector<long double> at(values.begin(), values.end());
          const std::lock_guard<std::mutex> lock(best_mutex);
          best.Offer(static_cast<double>(c), at);
          return c;
        },
        threads);
  fit->SetProgress([&host](int iteration, Extended /*c0*/, Extended c1) {
    TFitProgress progress;
    progress.optimizer = TOptimizerChoice::kLevenbergMarquardt;
    progress.step = iteration;
    progress.best_cost = static_cast<double>(c1);
    host.Progress(progress);
  });
  try {
    fit->Fit();
  } catch (const TFitCancelled&) {
    outcome.cancelled = true;
    if (!best.values.empty())
      for (size_t k = 0; k < params.size(); ++k) *params[k] = best.values[k];
  } catch (const std::exception& error) {
    outcome.optimizer_failed = true;
    outcome.failure_message = FailureMessage(channel);
    outcome.failure_detail = error.what();
    host.ShowMessage(outcome.failure_message);
  }

  // Only the fitted coefficients get the fitter's values; a fixed
  // coefficient keeps the text the user gave it.
  for (size_t k = 0; k < params.size(); ++k)
    set.SetText(outcome.fitted[k], FloatToStrFixed5(*params[k]));
  host.SetCostText(FloatToStr(LastCost));

  host.HideWaitScreen();
  restorer.WaitScreenHidden();
}

// ------------------------------------------------------ differential evolution

// One coefficient struct whose free members come from a candidate vector:
// `fixed` holds the set's values of the fixed coefficients, `free` the
// members of the free ones in the free-coefficient order.
template <class Coefficients>
struct Candidate {
  Coefficients fixed;
  std::vector<double Coefficients::*> free;

  // Converts the fixed coefficients, walking the free-coefficient order.
  void Prepare(std::span<const std::string_view> order, const TCoefficientSet& set) {
    for (std::string_view name : order) {
      double Coefficients::*member = Coefficients::Member(name);
      if (set.Free(name))
        free.push_back(member);
      else
        fixed.*member = set.Value(name);
    }
  }

  Coefficients With(const TDiffEvolPopulation& vector) const {
    Coefficients c = fixed;
    for (size_t k = 0; k < free.size(); ++k) c.*free[k] = vector[k];
    return c;
  }
};

// The differential-evolution cost of a channel: the candidate vector
// supplies the free coefficients, the set's texts the fixed ones.  Nothing
// can change the set while a fit runs, so the fixed values are converted
// once, at the first evaluation, in the order the cost functions read them
// (for the aligning moment first Fz0 and the lateral coefficients).
class DeCost {
 public:
  DeCost(TFitChannel channel, const TCoefficientSet& set, const TTireDataSet& data)
      : channel_(channel), set_(set), data_(data) {}

  Extended operator()(const TDiffEvolPopulation& vector) {
    if (!ready_) Prepare();
    switch (channel_) {
      case TFitChannel::kLateral:
        return LateralCostSum(data_, lateral_.With(vector));
      case TFitChannel::kAligning:
      case TFitChannel::kLongitudinal:
        return Value(vector);
    }
    return 0;
  }

  // The same cost with LastCost untouched, from a prepared copy: safe on
  // several threads at once, each with its own copy.
  Extended Value(const TDiffEvolPopulation& vector) const {
    switch (channel_) {
      case TFitChannel::kLateral:
        return LateralCostValue(data_, lateral_.With(vector));
      case TFitChannel::kAligning:
        return AligningCostSum(data_, lateral_.fixed, aligning_.With(vector), CurrentTireRadius, cache_);
      case TFitChannel::kLongitudinal:
        return LongitudinalCostSum(data_, longitudinal_.With(vector));
    }
    return 0;
  }

  void Prepare() {
    switch (channel_) {
      case TFitChannel::kLateral:
        lateral_.Prepare(LateralFreeOrder(), set_);
        break;
      case TFitChannel::kAligning:
        lateral_.fixed = ReadLateralCoefficients(set_);
        aligning_.Prepare(AligningFreeOrder(), set_);
        break;
      case TFitChannel::kLongitudinal:
        longitudinal_.Prepare(LongitudinalFreeOrder(), set_);
        break;
    }
    ready_ = true;
  }

 private:
  TFitChannel channel_;
  const TCoefficientSet& set_;
  const TTireDataSet& data_;
  bool ready_ = false;
  Candidate<TLateralCoefficients> lateral_;
  Candidate<TAligningCoefficients> aligning_;
  Candidate<TLongitudinalCoefficients> longitudinal_;
  // Fy0 of every point: the lateral coefficients are fixed during the search.
  mutable TAligningLateralCache cache_;
};

void RunDifferentialEvolution(TFitChannel channel, TCoefficientSet& set, const TTireDataSet& data,
                              const TFitSettings& settings, IFitHost& host, HostRestorer& restorer,
                              TFitOutcome& outcome) {
  const auto order = FreeOrder(channel);
  TDiffEvolPopulation min_values, max_values, start;
  for (size_t k = 0; k < order.size(); ++k) {
    if (!set.Free(order[k])) continue;
    min_values.push_back(settings.Min[k]);
    max_values.push_back(settings.Max[k]);
    outcome.fitted.emplace_back(order[k]);
  }
  for (const std::string& name : outcome.fitted) start.push_back(set.Value(name));
  outcome.search_min = min_values;
  outcome.search_max = max_values;

  TDiffEvol optimizer(settings.NbPop, min_values, max_values, start);
  DeCost cost(channel, set, data);
  BestPoint seen;
  std::mutex seen_mutex;
  std::vector<long double> as_long(min_values.size());
  optimizer.OnEvaluate = [&](TDiffEvol&, const TDiffEvolPopulation& vector) {
    if (host.CancelRequested()) throw TFitCancelled{};
    const Extended c = cost(vector);
    for (size_t k = 0; k < vector.size() && k < as_long.size(); ++k) as_long[k] = vector[k];
    const std::lock_guard<std::mutex> lock(seen_mutex);
    seen.Offer(static_cast<double>(c), as_long);
    return c;
  };

  host.SetBusyCursor(true);
  restorer.Busy();

  // Trials on every thread, each with its own copy of the cost; only this
  // thread asks whether to stop.  The copies are made from a prepared cost,
  // so the set is read here, at the moment the first evaluation would read
  // it, and never from another thread.
  std::vector<DeCost> costs;
  const int threads = ThreadCount();
  bool parallel = false;
  if (threads > 1) {
    try {
      if (host.CancelRequested()) throw TFitCancelled{};
      cost.Prepare();
      costs.reserve(static_cast<size_t>(threads));
      for (int w = 0; w < threads; ++w) costs.push_back(cost);
      parallel = true;
    } catch (...) {
      // Left to the first evaluation, which raises it as before.
    }
  }
  if (parallel)
    optimizer.SetThreads(threads, [&](int worker, const TDiffEvolPopulation& vector) {
      if (worker == 0 && host.CancelRequested()) throw TFitCancelled{};
      const Extended c = costs[static_cast<size_t>(worker)].Value(vector);
      const std::vector<long double> at(vector.begin(), vector.end());
      const std::lock_guard<std::mutex> lock(seen_mutex);
      seen.Offer(static_cast<double>(c), at);
      return c;
    });
  TDiffEvolPopulation best;
  std::vector<double> best_costs;
  try {
    for (int32_t generation = 0; generation <= settings.NbGen; ++generation) {
      const double best_cost = optimizer.NextGeneration(settings.GainBest, settings.GainR1,
                                                        settings.GainR2, settings.GainR3, settings.CR);
      // The lateral cost stores each sum in LastCost; the threads leave it
      // alone, so it gets the last trial's, as after a serial generation.
      if (parallel && channel == TFitChannel::kLateral) LastCost = optimizer.Trials().back().Cost;
      best_costs.push_back(best_cost);
      outcome.trials_failed = optimizer.FailedTrials();
      if (generation == 0 && optimizer.FirstPopulationFailures() == settings.NbPop)
        throw Exception("Every one of the " + std::to_string(settings.NbPop) +
                        " members of the genetic search's first population raised a floating-point fault: "
                        "the cost cannot be computed anywhere in the search intervals. Narrow the intervals "
                        "of the free coefficients in the fit settings file, or start from other values.");
      TFitProgress progress;
      progress.optimizer = TOptimizerChoice::kDifferentialEvolution;
      progress.step = generation;
      progress.total_steps = settings.NbGen + 1;
      progress.best_cost = best_cost;
      host.Progress(progress);
    }
    optimizer.GetBest(best);
  } catch (const TFitCancelled&) {
    outcome.trials_failed = optimizer.FailedTrials();
    outcome.cancelled = true;
    best.assign(seen.values.begin(), seen.values.end());
    if (best.empty()) best = start;
  }
  host.SetBusyCursor(false);
  // Still falling by more than 1 % over the last tenth of the generations.
  if (best_costs.size() >= 10) {
    const double earlier = best_costs[best_costs.size() - 1 - best_costs.size() / 10];
    const double last = best_costs.back();
    outcome.search_still_improving = std::isfinite(earlier) && earlier > last * 1.01 && !outcome.cancelled;
  }

  for (size_t k = 0; k < outcome.fitted.size(); ++k)
    set.SetText(outcome.fitted[k], FloatToStr(best[k]));
}

// ---------------------------------------------------------------- trust region

void RunTrustRegion(TFitChannel channel, TCoefficientSet& set, const TTireDataSet& data,
                    IFitHost& host, TFitOutcome& outcome) {
  for (std::string_view name : FreeNames(channel, set)) outcome.fitted.emplace_back(name);

  TTrustRegionOptions options;
  options.cancel = [&host] { return host.CancelRequested(); };
  const TTrustRegionResult result =
      FitTrustRegion(channel, set, outcome.fitted, data, options,
                     [&host](int iteration, double cost) {
                       TFitProgress progress;
                       progress.optimizer = TOptimizerChoice::kTrustRegion;
                       progress.step = iteration;
                       progress.best_cost = cost;
                       host.Progress(progress);
                     });
  outcome.iterations = result.iterations;
  outcome.converged = result.converged;
  outcome.solver_message = result.message;
  outcome.cancelled = result.cancelled;
  outcome.iteration_limit = result.iteration_limit && !result.cancelled;
  if (!result.usable) {
    outcome.optimizer_failed = true;
    outcome.failure_message = kTrustRegionFailureMessage + result.message;
    outcome.failure_detail = result.message;
    host.ShowMessage(outcome.failure_message);
    return;
  }

  for (size_t k = 0; k < outcome.fitted.size(); ++k)
    set.SetText(outcome.fitted[k], FloatToStr(result.values[k]));
  ChannelCost(channel, set, data);
  host.SetCostText(FloatToStr(LastCost));
}

// The standard errors and the not-determined notes of the fitted
// coefficients, from the Jacobian of the residuals at the values written:
// the same analysis after either least-squares optimizer, so that both
// report errors scaled by the residual variance SSR / (points - free).
void AnalyseSolution(TFitChannel channel, const TCoefficientSet& set, const TTireDataSet& data,
                     TFitOutcome& outcome) {
  outcome.standard_errors.clear();
  outcome.notes.clear();
  if (outcome.fitted.empty() || !std::isfinite(outcome.final_cost)) return;
  size_t points = 0;
  std::vector<double> jacobian;
  try {
    jacobian = ResidualJacobian(channel, set, outcome.fitted, data, points);
  } catch (const std::exception&) {
    return;
  }
  if (jacobian.empty()) return;
  const TIdentifiability identity =
      AnalyseJacobian(jacobian, points, outcome.fitted.size(), outcome.final_cost, DataScale(data));
  for (const TCoefficientIdentity& id : identity.coefficients) outcome.standard_errors.push_back(id.standard_error);
  outcome.notes = IdentityNotes(channel, outcome.fitted, data, identity);
}

// The channel's cost for the set as it stands, or NaN when it cannot be
// evaluated; the shared last cost and tire radius are left as they were.
double CostOrNaN(TFitChannel channel, const TCoefficientSet& set, const TTireDataSet& data) {
  const double last_cost = LastCost;
  const double radius = CurrentTireRadius;
  double cost = std::numeric_limits<double>::quiet_NaN();
  try {
    cost = static_cast<double>(ChannelCost(channel, set, data));
  } catch (const std::exception&) {
  }
  ClearFpFaults();
  LastCost = last_cost;
  CurrentTireRadius = radius;
  return cost;
}

void RequirePoints(const TTireDataSet& data) {
  if (data.Cases.empty())
    throw Exception("The data set holds no load case: load a tire data file with LOAD_CASE blocks first.");
  if (mf::PointCount(data) == 0) throw Exception("The data set holds no measured point to fit.");
}

// How many coefficients the fit will change: the free ones, less the
// camber flags the Levenberg-Marquardt path clears for one case at camber 0.
size_t FittedCount(TFitChannel channel, const TCoefficientSet& set, const TTireDataSet& data,
                   TOptimizerChoice optimizer) {
  const bool clears = optimizer == TOptimizerChoice::kLevenbergMarquardt && data.CaseCount() == 1 &&
                      data.Cases[0].Camber == 0.0;
  size_t count = 0;
  for (std::string_view name : FreeNames(channel, set)) {
    const auto flags = CamberFlags(channel);
    if (!(clears && std::find(flags.begin(), flags.end(), name) != flags.end())) ++count;
  }
  return count;
}

}  // namespace

std::span<const std::string_view> FreeOrder(TFitChannel channel) {
  switch (channel) {
    case TFitChannel::kLateral: return LateralFreeOrder();
    case TFitChannel::kAligning: return AligningFreeOrder();
    case TFitChannel::kLongitudinal: return LongitudinalFreeOrder();
  }
  return LateralFreeOrder();
}

TReexpressChannels OtherChannels(TFitChannel channel) {
  TReexpressChannels others;
  others.lateral = channel != TFitChannel::kLateral;
  others.aligning = true;  // Fz0 is never an aligning fit's
  others.longitudinal = channel != TFitChannel::kLongitudinal;
  return others;
}

const char* TerminationName(TFitTermination termination) {
  switch (termination) {
    case TFitTermination::kNotRun: return "not run";
    case TFitTermination::kFinished: return "finished";
    case TFitTermination::kIterationLimit: return "iteration limit";
    case TFitTermination::kCancelled: return "cancelled";
    case TFitTermination::kFailed: return "failed";
  }
  return "not run";
}

TFitOutcome RunFitCommand(TFitChannel channel, TCoefficientSet& coefficients,
                          const TTireDataSet& data, TOptimizerChoice optimizer,
                          const std::string& settings_path, IFitHost& host) {
  TFitOutcome outcome;
  outcome.channel = channel;
  outcome.optimizer = optimizer;
  RequirePoints(data);

  // The rated load belongs to the lateral fit: the aligning fit never frees it.
  if (channel == TFitChannel::kAligning) coefficients.SetFree("Fz0", false);
  RequireEnoughPoints(channel, data, FittedCount(channel, coefficients, data, optimizer));
  const TFitSettings settings = ReadFitSettings(settings_path, channel);
  if (channel == TFitChannel::kAligning) CurrentTireRadius = coefficients.Value("R0");
  outcome.start_cost = CostOrNaN(channel, coefficients, data);
  const std::string rated_load_before = coefficients.Text("Fz0");

  HostRestorer restorer(host);
  host.SetBusyCursor(true);
  restorer.Busy();
  switch (optimizer) {
    case TOptimizerChoice::kLevenbergMarquardt:
      RunLevenbergMarquardt(channel, coefficients, data, host, restorer, outcome);
      break;
    case TOptimizerChoice::kDifferentialEvolution:
      RunDifferentialEvolution(channel, coefficients, data, settings, host, restorer, outcome);
      break;
    case TOptimizerChoice::kTrustRegion:
      RunTrustRegion(channel, coefficients, data, host, outcome);
      break;
  }

  outcome.termination = outcome.cancelled          ? TFitTermination::kCancelled
                        : outcome.optimizer_failed ? TFitTermination::kFailed
                        : outcome.iteration_limit  ? TFitTermination::kIterationLimit
                                                   : TFitTermination::kFinished;

  // A fit that moved Fz0 (the user freed it) leaves the other channels'
  // coefficients written at the old value: they follow, so their curves stay.
  FollowRatedLoad(coefficients, rated_load_before, OtherChannels(channel));
  outcome.final_cost = CostOrNaN(channel, coefficients, data);
  if (optimizer != TOptimizerChoice::kDifferentialEvolution && !outcome.optimizer_failed)
    AnalyseSolution(channel, coefficients, data, outcome);
  outcome.verdict = JudgeFit(outcome, coefficients, data);

  host.Redraw();
  host.SetBusyCursor(false);
  restorer.Disarm();
  return outcome;
}

}  // namespace morvex
