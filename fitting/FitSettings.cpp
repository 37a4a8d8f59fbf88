#include "fitting/FitSettings.h"

#include <cmath>

#include "numerics/ProfileFile.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex {
namespace {

// The value text of `key`, trimmed and without an inline comment; empty
// when the file, the section or the key is missing.
std::string ValueText(const TProfileReader& file, const std::string& key) {
  return file.Get(kFitSettingsSection, key).value_or("");
}

// A value the file gives but that cannot be used: refused, naming the key
// and the file, rather than silently replaced by the default.
[[noreturn]] void Unreadable(const std::string& path, const std::string& key, const std::string& text,
                             const char* kind) {
  throw Exception("The fit settings file " + path + " gives " + key + "=" + text + ", which is not " + kind +
                  "; correct the value, or remove the line to use the default");
}

// The shipped file writes '.', a user under a decimal-comma locale may
// write ','; both read as the same number.  An empty value, like a missing
// key, keeps the default.
double ReadFloat(const TProfileReader& file, const std::string& path, const std::string& key,
                 double default_value) {
  const std::string text = ValueText(file, key);
  if (text.empty()) return default_value;
  double value;
  if (!TryStrToFloatEither(text, value) || !std::isfinite(value)) Unreadable(path, key, text, "a finite number");
  return value;
}

int32_t ReadInt(const TProfileReader& file, const std::string& path, const std::string& key,
                int32_t default_value) {
  const std::string text = ValueText(file, key);
  if (text.empty()) return default_value;
  int32_t value;
  if (!TryStrToInt(text, value)) Unreadable(path, key, text, "a whole number in the 32-bit range");
  return value;
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
  const TProfileReader file(file_path);
  s.GainBest = ReadFloat(file, file_path, "GAIN_BEST", s.GainBest);
  s.GainR1 = ReadFloat(file, file_path, "GAIN_R1", s.GainR1);
  s.GainR2 = ReadFloat(file, file_path, "GAIN_R2", s.GainR2);
  s.GainR3 = ReadFloat(file, file_path, "GAIN_R3", s.GainR3);
  s.CR = ReadFloat(file, file_path, "CR", s.CR);
  s.NbPop = ReadInt(file, file_path, "NB_POP", s.NbPop);
  s.NbGen = ReadInt(file, file_path, "NB_GEN", s.NbGen);
  // Values the search cannot run with are the file's fault: named here,
  // not left to the search's own checks.
  if (!(s.CR >= 0 && s.CR <= 1))
    throw Exception("The fit settings file " + file_path + " gives CR=" + FloatToStr(s.CR) +
                    ": the crossover rate is a probability, from 0 to 1");
  if (s.NbPop < 5)
    throw Exception("The fit settings file " + file_path + " gives NB_POP=" + std::to_string(s.NbPop) +
                    ": the genetic search needs at least 5 members");
  if (s.NbGen < 0)
    throw Exception("The fit settings file " + file_path + " gives NB_GEN=" + std::to_string(s.NbGen) +
                    ": the number of generations cannot be negative");
  const auto order = FitFreeOrder(channel);
  for (size_t k = 0; k < order.size(); ++k) {
    const std::string stem = BoundStem(order[k]);
    s.Min[k] = ReadFloat(file, file_path, stem + "_MIN", s.Min[k]);
    s.Max[k] = ReadFloat(file, file_path, stem + "_MAX", s.Max[k]);
    // A reversed pair (the default of the other end counts) is an interval
    // that holds nothing.
    if (s.Min[k] > s.Max[k])
      throw Exception("The fit settings file " + file_path + " gives " + stem + "_MIN=" + FloatToStr(s.Min[k]) +
                      " above " + stem + "_MAX=" + FloatToStr(s.Max[k]) +
                      ": the lower bound of an interval must not exceed its upper bound");
  }
  return s;
}

}  // namespace morvex
