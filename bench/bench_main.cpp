// morvex-bench: how fast the cost functions and the fits run on the sample data.
//
// First, for each channel, it measures the differential-evolution cost
// (double sums) and the model object's ComputeCost over the sample data
// file, in point evaluations per second, and compares them with the floor:
// the bare transcendental calls (atan, sin, cos, exp) that the same points
// need, made in a loop of their own on the same slips.  A ratio near 1 means
// the cost is as fast as its library calls allow.
//
// Then it runs the fit commands on the cases that the peer benchmark
// (bench/peer/compare.py) also gives to scipy, per channel:
//   - lateral: Fz0 fixed, the 18 lateral coefficients free;
//   - aligning: the 25 aligning coefficients free on top of the true
//     lateral coefficients (Fz0, R0 and the lateral set fixed);
//   - longitudinal: Fz0 fixed, the 15 longitudinal coefficients free;
// each from the shipped start values (examples/start-values.txt) and from
// 0.8 and 0.5 times the true coefficients (examples/true-values.txt), with
// every least-squares optimizer of the fit commands, and one
// differential-evolution search per channel from the shipped start values.
//
//   morvex-bench [examples folder] [--quick] [--peer-json FILE]
//
// --quick runs one start per channel and 51 generations of the search
// instead of 501.  --peer-json writes the cases (coefficients, free sets,
// bounds, search size) and Morvex's results to FILE for the peer.
//
// Machines are shared and noisy: compare ratios, not absolute times.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/JsonWriter.h"
#include "files/CoefficientFile.h"
#include "fitting/ChannelModel.h"
#include "fitting/FitCommands.h"
#include "fitting/FitSettings.h"
#include "fitting/StartEstimate.h"
#include "numerics/LxBasics.h"
#include "tiredata/TireDataFile.h"
#include "tiremodel/CoefficientTable.h"
#include "tiremodel/DemoModels.h"
#include "tiremodel/MagicFormula.h"

namespace {

using namespace morvex;
using bench::JsonWriter;
using Clock = std::chrono::steady_clock;

volatile double g_sink = 0;

// Best of `repeats` timings of `rounds` calls of `fn`, in seconds per call.
double SecondsPerCall(const std::function<void()>& fn, int rounds, int repeats) {
  double best = 1e300;
  for (int r = 0; r < repeats; ++r) {
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) fn();
    const double s = std::chrono::duration<double>(Clock::now() - start).count() / rounds;
    if (s < best) best = s;
  }
  return best;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

size_t PointCount(const TTireDataSet& data) {
  size_t n = 0;
  for (const TLoadCase& lc : data.Cases) n += lc.RowCount() * lc.LoadCount();
  return n;
}

// The transcendental calls of one cost evaluation, on arguments of the
// size the model meets: per point the slip in radians scaled by a typical
// stiffness factor; per (case, load) what the model computes once there.
double Floor(TFitChannel channel, const TTireDataSet& data) {
  double acc = 0;
  const double k = M_PI / 180.0;
  for (const TLoadCase& lc : data.Cases) {
    for (size_t j = 0; j < lc.LoadCount(); ++j) {
      const double q = lc.Loads[j] * 1e-4;
      if (channel == TFitChannel::kLongitudinal)
        acc += std::exp(q);
      else
        acc += std::sin(2.0 * std::atan(q));
      for (size_t r = 0; r < lc.RowCount(); ++r) {
        const double s = lc.Slips[r];
        const double a = (channel == TFitChannel::kLongitudinal ? s : s * k) * (10.0 + q);
        // Fy0 or Fx: atan(B a), atan(B a - E(B a - atan(B a))), sin(C atan(...)).
        const double t1 = std::atan(a);
        const double t2 = std::atan(a - 0.5 * (a - t1));
        acc += std::sin(1.3 * t2);
        if (channel == TFitChannel::kAligning) {
          // Trail: atan(Bt Ct at), atan(Bt at), atan(...), cos(Ct atan(...)), cos(alpha);
          // residual moment: cos(atan(Br ar)).
          const double u1 = std::atan(1.2 * a);
          const double u2 = std::atan(a + u1 * 1e-3);
          const double u3 = std::atan(a - 0.3 * (a - u2));
          acc += std::cos(1.1 * u3) + std::cos(s * k) + std::cos(std::atan(2.0 * a));
        }
      }
    }
  }
  return acc;
}

// A window that shows nothing and remembers the last progress report: the
// cost where the optimizer itself ended (before the write-back rounds the
// Levenberg-Marquardt result to 5 decimals).
class QuietHost final : public IFitHost {
 public:
  void ShowWaitScreen() override {}
  void HideWaitScreen() override {}
  void SetBusyCursor(bool) override {}
  void ShowMessage(const std::string& text) override { std::printf("  message: %s\n", text.c_str()); }
  void Redraw() override {}
  void SetCostText(const std::string&) override {}
  void Progress(const TFitProgress& progress) override {
    last_ = progress;
    ++reports_;
  }

  int reports() const { return reports_; }
  const TFitProgress& last() const { return last_; }

 private:
  TFitProgress last_;
  int reports_ = 0;
};

// The least-squares optimizers of the fit commands that every case runs,
// with the labels the peer's report uses.  This is the one place that lists
// them: the trust-region optimizer joins by itself as soon as
// TOptimizerChoice has kTrustRegion.
template <class Choice = TOptimizerChoice>
std::vector<std::pair<Choice, std::string>> LeastSquaresOptimizers() {
  std::vector<std::pair<Choice, std::string>> list{{Choice::kLevenbergMarquardt, "lm"}};
  if constexpr (requires { Choice::kTrustRegion; })
    list.emplace_back(Choice::kTrustRegion, "tr");
  return list;
}

struct ChannelBench {
  TFitChannel channel;
  const char* file;
};

const ChannelBench kChannels[] = {{TFitChannel::kLateral, "lateral.plt"},
                                  {TFitChannel::kAligning, "aligning.plt"},
                                  {TFitChannel::kLongitudinal, "longitudinal.plt"}};

// The coefficients each channel's cases free: its whole free-coefficient
// order except the rated load.
std::vector<std::string_view> CaseFreeNames(TFitChannel channel) {
  std::vector<std::string_view> names;
  for (std::string_view name : FitFreeOrder(channel))
    if (name != "Fz0") names.push_back(name);
  return names;
}

// A case's coefficient set: the true coefficients, the channel's free ones
// replaced by the shipped start values (`start`) or by `factor` times their
// true value, and exactly those free.
void MakeCaseSet(TFitChannel channel, const TCoefficientSet& truth, const TCoefficientSet* start,
                 double factor, TCoefficientSet& set) {
  CopyCoefficients(truth, set);
  for (const TCoefficientInfo& info : Coefficients()) set.SetFree(info.name, false);
  for (std::string_view name : CaseFreeNames(channel)) {
    set.SetText(name, start ? start->Text(name) : FloatToStr(factor * truth.Value(name)));
    set.SetFree(name, true);
  }
}

// All 60 coefficients as the set's texts convert them.
void WriteCoefficients(JsonWriter& json, const TCoefficientSet& set) {
  json.Key("coefficients").BeginObject();
  for (const TCoefficientInfo& info : Coefficients()) json.Field(info.name, set.Value(info.name));
  json.EndObject();
}

void WriteNames(JsonWriter& json, std::string_view key, const std::vector<std::string_view>& names) {
  json.Key(key).BeginArray();
  for (std::string_view name : names) json.Value(name);
  json.EndArray();
}

// The differential-evolution cost (double sum) of the set's coefficients.
double SearchCost(TFitChannel channel, const TCoefficientSet& set, const TTireDataSet& data) {
  switch (channel) {
    case TFitChannel::kLateral:
      return LateralCostSum(data, ReadLateralCoefficients(set));
    case TFitChannel::kAligning:
      return AligningCostSum(data, ReadLateralCoefficients(set), ReadAligningCoefficients(set),
                             set.Value("R0"));
    case TFitChannel::kLongitudinal:
      return LongitudinalCostSum(data, ReadLongitudinalCoefficients(set));
  }
  return 0;
}

std::string WriteSettingsFile(int nb_gen) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "morvex-bench-configuration.ini").string();
  std::ofstream out(path, std::ios::trunc);
  out << "[GENETIC]\nNB_GEN=" << nb_gen << "\n";
  return path;
}

// What one fit command reported.
struct FitResult {
  double seconds = 0;
  double cost = NAN;          // where the optimizer ended (its last progress report)
  double written_cost = NAN;  // model cost of the coefficients written back
  int steps = 0;              // iterations or generations reported
  bool failed = false;
  std::string message;
  std::string status;         // why the optimizer stopped, where it says so
};

// The solver's own account of how it stopped, for outcomes that carry one
// (the trust-region fit); the other optimizers leave `status` empty.
template <class Outcome>
void CopySolverStatus(const Outcome& outcome, FitResult& result) {
  if constexpr (requires { outcome.converged; outcome.solver_message; }) {
    if (!outcome.solver_message.empty())
      result.status = (outcome.converged ? "converged: " : "not converged: ") + outcome.solver_message;
  }
}

FitResult RunFit(TFitChannel channel, TOptimizerChoice optimizer, const TCoefficientSet& case_set,
                 const TTireDataSet& data, const std::string& settings) {
  TMemoryCoefficientSet set;
  CopyCoefficients(case_set, set);
  QuietHost host;
  FitResult result;
  SetRandSeed(0);
  const auto start = Clock::now();
  try {
    const TFitOutcome outcome = RunFitCommand(channel, set, data, optimizer, settings, host);
    result.seconds = SecondsSince(start);
    result.failed = outcome.optimizer_failed;
    result.message = outcome.failure_detail;
    CopySolverStatus(outcome, result);
  } catch (const std::exception& error) {
    result.seconds = SecondsSince(start);
    result.failed = true;
    result.message = error.what();
    return result;
  }
  if (host.reports() > 0 && host.last().optimizer == optimizer) {
    result.cost = host.last().best_cost;
    // Iterations are reported 1-based, generations 0-based.
    result.steps = host.last().step + (optimizer == TOptimizerChoice::kDifferentialEvolution ? 1 : 0);
  }
  try {
    result.written_cost = static_cast<double>(ChannelCost(channel, set, data));
  } catch (const std::exception& error) {
    result.message += (result.message.empty() ? "" : "; ") + std::string(error.what());
  }
  if (std::isnan(result.cost)) result.cost = result.written_cost;
  return result;
}

void WriteFitResult(JsonWriter& json, const FitResult& r) {
  json.Field("seconds", r.seconds)
      .Field("cost", r.cost)
      .Field("written_cost", r.written_cost)
      .Field("steps", r.steps)
      .Field("failed", r.failed)
      .Field("message", r.message)
      .Field("status", r.status);
}

struct CostSpeed {
  size_t points = 0;
  double search_seconds = 0;  // one differential-evolution cost sum
  double model_seconds = 0;   // one ComputeCost
  double floor_seconds = 0;   // the transcendental calls of one evaluation
};

}  // namespace

int main(int argc, char** argv) {
  SetDecimalSeparator('.');
  std::string folder = "examples";
  std::string peer_json;
  bool quick = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else if (std::strcmp(argv[i], "--peer-json") == 0 && i + 1 < argc) {
      peer_json = argv[++i];
    } else if (argv[i][0] == '-') {
      std::fprintf(stderr, "usage: morvex-bench [examples folder] [--quick] [--peer-json FILE]\n");
      return 2;
    } else {
      folder = argv[i];
    }
  }
  const int repeats = quick ? 2 : 5;

  TMemoryCoefficientSet truth;
  TMemoryCoefficientSet shipped_start;
  try {
    ImportCoefficients(truth, folder + "/true-values.txt");
    ImportCoefficients(shipped_start, folder + "/start-values.txt");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "morvex-bench: %s\n", error.what());
    return 2;
  }
  CurrentTireRadius = truth.Value("R0");

  // ---------------------------------------------- cost speed against the floor
  std::printf("%-13s %8s %16s %16s %16s %10s %10s\n", "channel", "points", "DE cost [pt/s]",
              "ComputeCost", "floor [pt/s]", "DE/floor", "LM/floor");
  std::vector<TTireDataSet> data_sets;
  std::vector<CostSpeed> speeds;
  for (const ChannelBench& ch : kChannels) {
    data_sets.push_back(ReadTireDataFile(folder + "/" + ch.file));
    const TTireDataSet& data = data_sets.back();
    CostSpeed speed;
    speed.points = PointCount(data);
    const int rounds = quick ? 200 : 1000;

    const TLateralCoefficients lateral = ReadLateralCoefficients(truth);
    const TAligningCoefficients aligning = ReadAligningCoefficients(truth);
    const TLongitudinalCoefficients longitudinal = ReadLongitudinalCoefficients(truth);
    std::function<void()> de_cost;
    switch (ch.channel) {
      case TFitChannel::kLateral:
        de_cost = [&] { g_sink = LateralCostSum(data, lateral); };
        break;
      case TFitChannel::kAligning:
        de_cost = [&] { g_sink = AligningCostSum(data, lateral, aligning, CurrentTireRadius); };
        break;
      case TFitChannel::kLongitudinal:
        de_cost = [&] { g_sink = LongitudinalCostSum(data, longitudinal); };
        break;
    }
    // The model objects alone, without converting the set's texts.
    TDemoModel1 m1(&data);
    TDemoModel2 m2(&data);
    TDemoModel3 m3(&data);
    m1.Assign(truth);
    m2.Assign(truth);
    m3.Assign(truth);
    const std::function<void()> model_cost = [&] {
      switch (ch.channel) {
        case TFitChannel::kLateral: g_sink = m1.ComputeCost(); break;
        case TFitChannel::kAligning: g_sink = m2.ComputeCost(); break;
        case TFitChannel::kLongitudinal: g_sink = m3.ComputeCost(); break;
      }
    };
    speed.search_seconds = SecondsPerCall(de_cost, rounds, repeats);
    speed.model_seconds = SecondsPerCall(model_cost, rounds, repeats);
    speed.floor_seconds =
        SecondsPerCall([&] { g_sink = Floor(ch.channel, data); }, rounds, repeats);
    const double points = static_cast<double>(speed.points);
    std::printf("%-13s %8zu %16.3e %16.3e %16.3e %10.2f %10.2f\n",
                std::string(ChannelName(ch.channel)).c_str(), speed.points,
                points / speed.search_seconds, points / speed.model_seconds,
                points / speed.floor_seconds, speed.search_seconds / speed.floor_seconds,
                speed.model_seconds / speed.floor_seconds);
    speeds.push_back(speed);
  }

  // ------------------------------------ start values estimated from the data
  // From the shipped start values with every coefficient of the channel but
  // the rated load free; the best of a few runs, since the machine is shared.
  std::printf("\n%-13s %14s %22s\n", "estimate", "time [s]", "cost at the estimate");
  for (size_t c = 0; c < std::size(kChannels); ++c) {
    const TFitChannel channel = kChannels[c].channel;
    double best_seconds = 1e300, cost = 0;
    for (int run = 0; run < repeats; ++run) {
      TMemoryCoefficientSet set;
      MakeCaseSet(channel, truth, &shipped_start, 0, set);
      const auto start = Clock::now();
      cost = EstimateStartValues(channel, set, data_sets[c]).cost;
      best_seconds = std::min(best_seconds, SecondsSince(start));
    }
    std::printf("%-13s %14.3f %22.15g\n", std::string(ChannelName(channel)).c_str(), best_seconds, cost);
  }

  // ------------------------------------------------------------- the fits
  const auto optimizers = LeastSquaresOptimizers();
  // The search: the default population, 501 generations (51 with --quick).
  const int nb_gen = quick ? 50 : 500;
  const std::string settings_path = WriteSettingsFile(nb_gen);
  struct StartPoint {
    const char* label;
    const TCoefficientSet* start;
    double factor;
  };
  std::vector<StartPoint> starts = {{"start-values", &shipped_start, 0}};
  if (!quick) {
    starts.push_back({"0.8 x true", nullptr, 0.8});
    starts.push_back({"0.5 x true", nullptr, 0.5});
  }

  JsonWriter json;
  json.BeginObject()
      .Field("examples", folder)
      .Field("quick", quick)
      .Field("trust_region", optimizers.size() > 1);
  json.Key("channels").BeginArray();
  std::printf("\n%-13s %-13s %-4s %9s %7s %22s %22s\n", "channel", "start", "opt", "time [s]",
              "steps", "final cost", "written coefficients");
  for (size_t c = 0; c < std::size(kChannels); ++c) {
    const TFitChannel channel = kChannels[c].channel;
    const TTireDataSet& data = data_sets[c];
    const std::string name(ChannelName(channel));
    const std::vector<std::string_view> free = CaseFreeNames(channel);

    json.BeginObject()
        .Field("channel", name)
        .Field("data", folder + "/" + kChannels[c].file)
        .Field("points", static_cast<int64_t>(speeds[c].points));
    WriteNames(json, "free", free);

    // The costs both sides must agree on.
    TMemoryCoefficientSet start_set;
    MakeCaseSet(channel, truth, &shipped_start, 0, start_set);
    json.Key("checks").BeginArray();
    for (const auto& [label, set] :
         {std::pair<const char*, const TCoefficientSet*>{"true", &truth}, {"start", &start_set}}) {
      json.BeginObject().Field("label", label);
      WriteCoefficients(json, *set);
      json.Field("morvex_model_cost", static_cast<double>(ChannelCost(channel, *set, data)))
          .Field("morvex_search_cost", SearchCost(channel, *set, data))
          .EndObject();
    }
    json.EndArray();

    json.Key("speed").BeginObject();
    WriteCoefficients(json, truth);
    json.Field("search_cost_evals_per_second", 1.0 / speeds[c].search_seconds)
        .Field("model_cost_evals_per_second", 1.0 / speeds[c].model_seconds)
        .Field("floor_evals_per_second", 1.0 / speeds[c].floor_seconds)
        .EndObject();

    // Least-squares fits from every start.
    json.Key("cases").BeginArray();
    for (const StartPoint& s : starts) {
      TMemoryCoefficientSet case_set;
      MakeCaseSet(channel, truth, s.start, s.factor, case_set);
      json.BeginObject().Field("label", s.label);
      WriteCoefficients(json, case_set);
      WriteNames(json, "free", free);
      json.Key("morvex").BeginArray();
      for (const auto& [optimizer, label] : optimizers) {
        const FitResult r = RunFit(channel, optimizer, case_set, data, settings_path);
        std::printf("%-13s %-13s %-4s %9.3f %7d %22.15g %22.15g%s%s\n", name.c_str(), s.label,
                    label.c_str(), r.seconds, r.steps, r.cost, r.written_cost,
                    r.failed ? "  FAILED: " : "", r.failed ? r.message.c_str() : "");
        json.BeginObject().Field("optimizer", label);
        WriteFitResult(json, r);
        json.EndObject();
      }
      json.EndArray().EndObject();
    }
    json.EndArray();

    // One differential-evolution search from the shipped start values.
    {
      const TFitSettings settings = ReadFitSettings(settings_path, channel);
      const auto order = FitFreeOrder(channel);
      json.Key("de").BeginObject();
      WriteCoefficients(json, start_set);
      WriteNames(json, "free", free);
      json.Key("min").BeginArray();
      for (size_t k = 0; k < order.size(); ++k)
        if (start_set.Free(order[k])) json.Value(settings.Min[k]);
      json.EndArray().Key("max").BeginArray();
      for (size_t k = 0; k < order.size(); ++k)
        if (start_set.Free(order[k])) json.Value(settings.Max[k]);
      json.EndArray();
      // The population is evaluated once, then once per generation.
      const int64_t evaluations = static_cast<int64_t>(settings.NbPop) * (settings.NbGen + 2);
      json.Field("population", settings.NbPop)
          .Field("generations", settings.NbGen + 1)
          .Field("gain_best", settings.GainBest)
          .Field("gain_r", settings.GainR1)
          .Field("cr", settings.CR);
      const FitResult r = RunFit(channel, TOptimizerChoice::kDifferentialEvolution, start_set,
                                 data, settings_path);
      std::printf("%-13s %-13s %-4s %9.3f %7d %22.15g %22.15g  (%d x %d generations, %lld "
                  "evaluations)%s%s\n",
                  name.c_str(), "start-values", "de", r.seconds, r.steps, r.cost,
                  r.written_cost, settings.NbPop, settings.NbGen + 1,
                  static_cast<long long>(evaluations), r.failed ? "  FAILED: " : "",
                  r.failed ? r.message.c_str() : "");
      json.Key("morvex").BeginObject().Field("evaluations", evaluations);
      WriteFitResult(json, r);
      json.EndObject().EndObject();
    }
    json.EndObject();
  }
  json.EndArray().EndObject();
  std::filesystem::remove(settings_path);

  if (!peer_json.empty()) {
    std::ofstream out(peer_json, std::ios::trunc);
    out << json.Text() << "\n";
    if (!out) {
      std::fprintf(stderr, "morvex-bench: cannot write %s\n", peer_json.c_str());
      return 2;
    }
  }
  return 0;
}
