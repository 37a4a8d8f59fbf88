// The fit settings file, configuration.ini beside the executable: the
// tuning of the differential-evolution search ("Genetic algorithm") and the
// interval from which the search draws its first population for every
// coefficient a fit can free.
//
//   [GENETIC]
//   GAIN_BEST=1.0        weight of the best member in a mutated component
//   GAIN_R1=0.8          weights of the three random members
//   GAIN_R2=0.8          (0.08 each by default for the longitudinal fit)
//   GAIN_R3=0.8
//   CR=0.9               crossover rate, 0 to 1
//   NB_POP=200           population size, at least 5
//   NB_GEN=500           generations run: NB_GEN + 1
//   PKY2_MIN=0           bounds of PKy2: <STEM>_MIN and <STEM>_MAX, the stem
//   PKY2_MAX=20          being the coefficient's name in capitals
//
// Section and key names match without regard to case.  Floats are read with
// the process-wide decimal separator or with '.' (exponents allowed), so the
// shipped file reads the same under every locale; integers in
// decimal or, after 0x, 0X or $, in hexadecimal.  The file is only read.  A
// missing file, section or key, or an empty value, gives that key's
// default.  A value that does not convert (or a float that is not finite),
// and a _MIN above its _MAX (the other end's default counting when only one
// is given) of any of the channel's pairs, raise Exception naming the key
// and the file: a typing error never becomes a silent default.  The other
// ranges are not checked here; the optimizer's preconditions catch a
// population below 5 and a CR outside 0 to 1.
//
// Defaults: gains 1.0 / 0.8 / 0.8 / 0.8 (longitudinal 1.0 / 0.08 / 0.08 /
// 0.08), CR 0.9, NB_POP 200, NB_GEN 500; every _MIN 0; _MAX 100000 for FZ0,
// 20 for the other lateral and longitudinal coefficients, 50 for the
// aligning-moment ones.  The lateral and longitudinal fits share the FZ0
// pair; the aligning-moment fit reads none.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fitting/FitCommands.h"

namespace morvex {

inline constexpr const char* kFitSettingsFileName = "configuration.ini";
inline constexpr const char* kFitSettingsSection = "GENETIC";

struct TFitSettings {
  double GainBest = 1.0;  // GAIN_BEST: weight of the best member
  double GainR1 = 0.8;    // GAIN_R1: weight of the first random member
  double GainR2 = 0.8;    // GAIN_R2: weight of the second random member
  double GainR3 = 0.8;    // GAIN_R3: weight of the third random member
  double CR = 0.9;        // CR: probability of mutating each further component
  int32_t NbPop = 200;    // NB_POP: population size
  int32_t NbGen = 500;    // NB_GEN: the search runs NbGen + 1 generations
  // Search bounds of the channel's coefficients, indexed like FitFreeOrder().
  std::vector<double> Min;
  std::vector<double> Max;

  bool operator==(const TFitSettings&) const = default;
};

// The coefficients a fit can free, in the order in which they enter the
// optimizers (the free-coefficient order of CoefficientTable.h).
std::span<const std::string_view> FitFreeOrder(TFitChannel channel);

// The settings a fit uses when the file gives none.
TFitSettings DefaultFitSettings(TFitChannel channel);

// Reads the search settings and the bound pairs of `channel` from the
// settings file at `path`; every key the file does not give keeps its
// default, and an unusable value raises Exception (see above).
TFitSettings ReadFitSettings(const std::string& path, TFitChannel channel);

}  // namespace morvex
