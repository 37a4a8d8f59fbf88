#include "fitting/FitSettings.h"

#include "numerics/ProfileFile.h"
#include "numerics/LxBasics.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex {
namespace {

// The value text of `key`, trimmed and without an inline comment; empty
// when the file, the section or the key is missing.
std::string ValueText(const TProfileReader& file, const std::string& key) {
  return file.Get(kFitSettingsSection, key).value_or("");
}

// The shipped file writes '.', a user under a decimal-comma locale may
// write ','; both read as the same number.
double ReadFloat(const TProfileReader& file, const std::string& key, double default_value) {
  double value;
  return TryStrToFloatEither(ValueText(file, key), value) ? value : default_value;
}

int32_t ReadInt(const TProfileReader& file, const std::string& key, int32_t default_value) {
  int32_t value;
  return TryStrToInt(ValueText(file, key), value) ? value : default_value;
}

std::string BoundStem(std::string_view name) { return std::string(Coefficient(name).bound_stem); }

}  // namespace

std::span<const std::string_view> FitFreeOrder(TFitChannel channel) {
  switch (channel) {
    case TFitChannel::kLateral:
      return LateralFreeOrder();
    case TFitChannel::kAligning:
      return AligningFreeOrder();
    case TFitChannel::kLongitudinal:
      break;
  }
  return LongitudinalFreeOrder();
}

TFitSettings DefaultFitSettings(TFitChannel channel) {
  TFitSettings settings;
  if (channel == TFitChannel::kLongitudinal) {
    // Longitudinal curves are fitted with much smaller steps towards the
    // random members.
    settings.GainR1 = settings.GainR2 = settings.GainR3 = 0.08;
  }
  const double coefficient_max = channel == TFitChannel::kAligning ? 50.0 : 20.0;
  for (std::string_view name : FitFreeOrder(channel)) {
    settings.Min.push_back(0.0);
    // The rated load is in newtons, far above the dimensionless coefficients.
    settings.Max.push_back(BoundStem(name) == "FZ0" ? 100000.0 : coefficient_max);
  }
  return settings;
}

TFitSettings ReadFitSettings(const std::string& file_path, TFitChannel channel) {
  TFitSettings s = DefaultFitSettings(channel);
  const TProfileReader path(file_path);
  s.GainBest = ReadFloat(path, "GAIN_BEST", s.GainBest);
  s.GainR1 = ReadFloat(path, "GAIN_R1", s.GainR1);
  s.GainR2 = ReadFloat(path, "GAIN_R2", s.GainR2);
  s.GainR3 = ReadFloat(path, "GAIN_R3", s.GainR3);
  s.CR = ReadFloat(path, "CR", s.CR);
  s.NbPop = ReadInt(path, "NB_POP", s.NbPop);
  s.NbGen = ReadInt(path, "NB_GEN", s.NbGen);
  const auto order = FitFreeOrder(channel);
  for (size_t k = 0; k < order.size(); ++k) {
    const std::string stem = BoundStem(order[k]);
    s.Min[k] = ReadFloat(path, stem + "_MIN", s.Min[k]);
    s.Max[k] = ReadFloat(path, stem + "_MAX", s.Max[k]);
  }
  return s;
}

}  // namespace morvex
