// morvex-bench: how fast the cost functions and the fits run on the sample data.
//
// For each channel it measures the differential-evolution cost (double
// sums) and the model object's ComputeCost over the sample data file, in
// point evaluations per second, and compares them with the floor: the bare
// transcendental calls (atan, sin, cos, exp) that the same points need,
// made in a loop of their own on the same slips.  A ratio near 1 means the
// cost is as fast as its library calls allow.  Then it times a default
// lateral differential-evolution fit and a lateral Levenberg-Marquardt fit.
//
//   morvex-bench [examples folder] [--quick]
//
// Machines are shared and noisy: compare ratios, not absolute times.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "files/CoefficientFile.h"
#include "fitting/ChannelModel.h"
#include "fitting/FitCommands.h"
#include "numerics/LxBasics.h"
#include "tiredata/TireDataFile.h"
#include "tiremodel/DemoModels.h"
#include "tiremodel/MagicFormula.h"

namespace {

using namespace morvex;
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

class QuietHost final : public IFitHost {
 public:
  void ShowWaitScreen() override {}
  void HideWaitScreen() override {}
  void SetBusyCursor(bool) override {}
  void ShowMessage(const std::string& text) override { std::printf("  message: %s\n", text.c_str()); }
  void Redraw() override {}
  void SetCostText(const std::string&) override {}
};

struct ChannelBench {
  TFitChannel channel;
  const char* file;
};

}  // namespace

int main(int argc, char** argv) {
  SetDecimalSeparator('.');
  std::string folder = "examples";
  bool quick = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0)
      quick = true;
    else
      folder = argv[i];
  }
  const int repeats = quick ? 2 : 5;

  TMemoryCoefficientSet set;
  const std::string truth = folder + "/true-values.txt";
  if (std::filesystem::exists(truth)) ImportCoefficients(set, truth);
  CurrentTireRadius = set.Value("R0");

  std::printf("%-13s %8s %16s %16s %16s %10s %10s\n", "channel", "points", "DE cost [pt/s]",
              "ComputeCost", "floor [pt/s]", "DE/floor", "LM/floor");
  const ChannelBench channels[] = {{TFitChannel::kLateral, "lateral.plt"},
                                   {TFitChannel::kAligning, "aligning.plt"},
                                   {TFitChannel::kLongitudinal, "longitudinal.plt"}};
  for (const ChannelBench& ch : channels) {
    const TTireDataSet data = ReadTireDataFile(folder + "/" + ch.file);
    const size_t points = PointCount(data);
    const int rounds = quick ? 200 : 1000;

    const TLateralCoefficients lateral = ReadLateralCoefficients(set);
    const TAligningCoefficients aligning = ReadAligningCoefficients(set);
    const TLongitudinalCoefficients longitudinal = ReadLongitudinalCoefficients(set);
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
    m1.Assign(set);
    m2.Assign(set);
    m3.Assign(set);
    const std::function<void()> model_cost = [&] {
      switch (ch.channel) {
        case TFitChannel::kLateral: g_sink = m1.ComputeCost(); break;
        case TFitChannel::kAligning: g_sink = m2.ComputeCost(); break;
        case TFitChannel::kLongitudinal: g_sink = m3.ComputeCost(); break;
      }
    };
    const double t_de = SecondsPerCall(de_cost, rounds, repeats);
    const double t_lm = SecondsPerCall(model_cost, rounds, repeats);
    const double t_floor =
        SecondsPerCall([&] { g_sink = Floor(ch.channel, data); }, rounds, repeats);
    std::printf("%-13s %8zu %16.3e %16.3e %16.3e %10.2f %10.2f\n",
                std::string(ChannelName(ch.channel)).c_str(), points, points / t_de,
                points / t_lm, points / t_floor, t_de / t_floor, t_lm / t_floor);
  }

  // Whole fits of the lateral sample data.
  const TTireDataSet lateral_data = ReadTireDataFile(folder + "/lateral.plt");
  QuietHost host;
  const std::string start_values = folder + "/start-values.txt";
  for (TOptimizerChoice optimizer :
       {TOptimizerChoice::kLevenbergMarquardt, TOptimizerChoice::kDifferentialEvolution}) {
    TMemoryCoefficientSet fit_set;
    if (std::filesystem::exists(start_values)) ImportCoefficients(fit_set, start_values);
    const bool lm = optimizer == TOptimizerChoice::kLevenbergMarquardt;
    // The DE fit with every default: 200 members, 501 generations (fewer with --quick).
    std::string settings = "/nonexistent/configuration.ini";
    if (!lm && quick) {
      settings = (std::filesystem::temp_directory_path() / "morvex-bench-quick.ini").string();
      std::FILE* f = std::fopen(settings.c_str(), "w");
      if (f) {
        std::fputs("[GENETIC]\nNB_GEN=50\n", f);
        std::fclose(f);
      }
    }
    SetRandSeed(0);
    const auto start = Clock::now();
    RunFitCommand(TFitChannel::kLateral, fit_set, lateral_data, optimizer, settings, host);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cost = static_cast<double>(ChannelCost(TFitChannel::kLateral, fit_set, lateral_data));
    std::printf("lateral %s fit%s: %.3f s, cost of the written coefficients %s\n",
                lm ? "Levenberg-Marquardt" : "differential-evolution",
                (!lm && quick) ? " (51 generations)" : (!lm ? " (defaults: 200 x 501)" : ""),
                seconds, FloatToStr(cost).c_str());
  }
  return 0;
}
