// Coefficient sets of published tire property files (testing/data/
// published-tires, each file names its source) and noisy data made from
// them, for tests of the estimate and the verdict.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "files/CoefficientFile.h"
#include "fitting/ChannelModel.h"
#include "numerics/LxBasics.h"
#include "tiredata/TireDataSet.h"
#include "tiremodel/CoefficientSet.h"

namespace morvex::test {

// The set of published tire `stem` ("suv-265-70R18"), in the ISO sign
// convention of property files (cornering stiffness negative).
inline TMemoryCoefficientSet PublishedTire(const std::string& stem) {
  TMemoryCoefficientSet set;
  ImportCoefficients(set, std::string(MORVEX_SOURCE_DIR) + "/testing/data/published-tires/" + stem + ".txt");
  return set;
}

// The same tire in the convention of positive force for positive slip
// angle: Fy and Mz negated, slip angle, camber, load and Fx unchanged.
// The cornering stiffness, the vertical shifts of Fy, the share of By*Cy in
// the residual moment's stiffness and the residual moment's peak change sign.
inline TMemoryCoefficientSet Mirrored(const TMemoryCoefficientSet& iso) {
  TMemoryCoefficientSet set = iso;
  for (const char* name : {"PKy1", "PVy1", "PVy2", "PVy3", "PVy4", "QBz10", "QDz6", "QDz7", "QDz8", "QDz9"})
    set.SetText(name, FloatToStr(-iso.Value(name)));
  return set;
}

// Normally distributed numbers from a fixed seed (Box-Muller over a 64-bit
// linear congruential generator), so every run sees the same noise.
class Noise {
 public:
  explicit Noise(uint64_t seed) : state_(seed) {}
  double Next() {
    const double u1 = Uniform(), u2 = Uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }

 private:
  double Uniform() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return (static_cast<double>(state_ >> 11) + 0.5) / 9007199254740992.0;
  }
  uint64_t state_;
};

// Data of cambers 0, 2 and 4 degrees and loads of 0.5, 0.8, 1.1 and 1.4
// times the rated load, slip angles -12 to 12 degrees (or slip ratios -0.25
// to 0.25) in 41 steps, with noise of 1 % of the largest value.
inline TTireDataSet PublishedData(TFitChannel channel, const TCoefficientSet& truth, uint64_t seed = 1) {
  TTireDataSet data;
  const double fz0 = truth.Value("Fz0");
  const bool longitudinal = channel == TFitChannel::kLongitudinal;
  double largest = 0;
  for (double camber : {0.0, 2.0, 4.0}) {
    TLoadCase lc;
    lc.Camber = camber;
    for (double share : {0.5, 0.8, 1.1, 1.4}) lc.Loads.push_back(std::round(share * fz0));
    for (int r = 0; r <= 40; ++r) lc.Slips.push_back(longitudinal ? -0.25 + 0.0125 * r : -12.0 + 0.6 * r);
    for (double slip : lc.Slips)
      for (double load : lc.Loads) {
        lc.Values.push_back(EvaluatePoint(channel, truth, camber, load, slip));
        largest = std::max(largest, std::fabs(lc.Values.back()));
      }
    data.Cases.push_back(lc);
  }
  Noise noise(seed);
  for (TLoadCase& lc : data.Cases)
    for (double& v : lc.Values) v += 0.01 * largest * noise.Next();
  return data;
}

}  // namespace morvex::test
