#include "tiremodel/RatedLoad.h"

#include <cmath>
#include <span>
#include <utility>
#include <vector>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"

namespace morvex {

const char* const kRatedLoadFreedNote =
    "Fz0 was freed on request: the curves of the other channels were fitted at the old value; the fit "
    "re-expressed their coefficients at the new Fz0, so their curves are unchanged, but Fz0 is a choice, "
    "not a property of the tire: hold it fixed unless you mean to move it";

bool EngineersChoice(std::string_view name) { return name == "Fz0" || name == "R0"; }

namespace {

// a + b*dfz0 with dfz0 = r*dfz1 + s (s = r - 1): the coefficients in dfz1.
void Linear(double& a, double& b, double r, double s) {
  a = a + b * s;
  b = b * r;
}

// a + b*dfz0 + c*dfz0^2 in dfz1.
void Quadratic(double& a, double& b, double& c, double r, double s) {
  const double a1 = a + b * s + c * s * s;
  const double b1 = (b + 2.0 * c * s) * r;
  const double c1 = c * r * r;
  a = a1;
  b = b1;
  c = c1;
}

void RequireRatedLoad(double value, const char* what) {
  if (!(std::isfinite(value) && value > 0.0))
    throw Exception(std::string(what) + " must be a positive load in N to re-express the coefficients, not " +
                    FloatToStr(value));
}

// The lateral terms at ratio r = new/old.
void LateralTerms(TLateralCoefficients& c, double r) {
  const double s = r - 1.0;
  Linear(c.PHy1, c.PHy2, r, s);
  Linear(c.PVy1, c.PVy2, r, s);
  Linear(c.PVy3, c.PVy4, r, s);
  Linear(c.PDy1, c.PDy2, r, s);
  Linear(c.PEy1, c.PEy2, r, s);
  // PKy1*Fz0 and PKy2*Fz0 are what the curves see.
  c.PKy1 = c.PKy1 / r;
  c.PKy2 = c.PKy2 / r;
}

void AligningTerms(TAligningCoefficients& c, double r) {
  const double s = r - 1.0;
  Linear(c.QHz1, c.QHz2, r, s);
  Linear(c.QHz3, c.QHz4, r, s);
  Quadratic(c.QBz1, c.QBz2, c.QBz3, r, s);
  // Dt = Fz*(QDz1 + QDz2*dfz)*...*R0/Fz0: the polynomial takes the factor r
  // that R0/Fz0 loses.
  Linear(c.QDz1, c.QDz2, r, s);
  c.QDz1 = c.QDz1 * r;
  c.QDz2 = c.QDz2 * r;
  Quadratic(c.QEz1, c.QEz2, c.QEz3, r, s);
  Linear(c.QDz6, c.QDz7, r, s);
  Linear(c.QDz8, c.QDz9, r, s);
}

void LongitudinalTerms(TLongitudinalCoefficients& c, double r) {
  const double s = r - 1.0;
  Linear(c.PHx1, c.PHx2, r, s);
  Linear(c.PVx1, c.PVx2, r, s);
  Linear(c.PDx1, c.PDx2, r, s);
  Quadratic(c.PEx1, c.PEx2, c.PEx3, r, s);
  // Kx = Fz*(PKx1 + PKx2*dfz0)*exp(PKx3*dfz0)
  //    = Fz*exp(PKx3*s)*(PKx1 + PKx2*s + PKx2*r*dfz1)*exp(PKx3*r*dfz1).
  const double growth = std::exp(c.PKx3 * s);
  Linear(c.PKx1, c.PKx2, r, s);
  c.PKx1 = c.PKx1 * growth;
  c.PKx2 = c.PKx2 * growth;
  c.PKx3 = c.PKx3 * r;
}

// The shortest text that reads back as `value`: 15 digits when they do,
// else 17.
std::string ExactText(double value) {
  std::string text = FloatToStr(value);
  double back = 0;
  if (!TryStrToFloat(text, back) || back != value) text = FloatToStrF(value, TFloatFormat::kGeneral, 17, 0);
  return text;
}

template <class Struct>
void Collect(const Struct& before, const Struct& after,
             double Struct::*(*member)(std::string_view), std::span<const std::string_view> names,
             std::vector<std::pair<std::string, double>>& changes) {
  for (std::string_view name : names) {
    double Struct::*m = member(name);
    if (m == nullptr || name == "Fz0") continue;
    if (after.*m != before.*m) changes.emplace_back(std::string(name), after.*m);
  }
}

}  // namespace

void ReexpressLateral(TLateralCoefficients& c, double new_fz0) {
  RequireRatedLoad(c.Fz0, "Fz0");
  RequireRatedLoad(new_fz0, "The new Fz0");
  LateralTerms(c, new_fz0 / c.Fz0);
  c.Fz0 = new_fz0;
}

void ReexpressAligning(TAligningCoefficients& c, double old_fz0, double new_fz0) {
  RequireRatedLoad(old_fz0, "Fz0");
  RequireRatedLoad(new_fz0, "The new Fz0");
  AligningTerms(c, new_fz0 / old_fz0);
}

void ReexpressLongitudinal(TLongitudinalCoefficients& c, double new_fz0) {
  RequireRatedLoad(c.Fz0, "Fz0");
  RequireRatedLoad(new_fz0, "The new Fz0");
  LongitudinalTerms(c, new_fz0 / c.Fz0);
  c.Fz0 = new_fz0;
}

namespace {

// Reads the chosen channels with `old_fz0` as their rated load, re-expresses
// them, and writes back every changed value; nothing is written when any
// new value is not finite.
void Rewrite(TCoefficientSet& set, double old_fz0, double new_fz0, TReexpressChannels channels) {
  RequireRatedLoad(old_fz0, "Fz0");
  RequireRatedLoad(new_fz0, "The new Fz0");
  std::vector<std::pair<std::string, double>> changes;
  if (channels.lateral) {
    TLateralCoefficients c = ReadLateralCoefficients(set);
    c.Fz0 = old_fz0;
    const TLateralCoefficients before = c;
    ReexpressLateral(c, new_fz0);
    Collect(before, c, &TLateralCoefficients::Member, LateralFreeOrder(), changes);
  }
  if (channels.aligning) {
    TAligningCoefficients c = ReadAligningCoefficients(set);
    const TAligningCoefficients before = c;
    ReexpressAligning(c, old_fz0, new_fz0);
    Collect(before, c, &TAligningCoefficients::Member, AligningFreeOrder(), changes);
  }
  if (channels.longitudinal) {
    TLongitudinalCoefficients c = ReadLongitudinalCoefficients(set);
    c.Fz0 = old_fz0;
    const TLongitudinalCoefficients before = c;
    ReexpressLongitudinal(c, new_fz0);
    Collect(before, c, &TLongitudinalCoefficients::Member, LongitudinalFreeOrder(), changes);
  }
  for (const auto& [name, value] : changes)
    if (!std::isfinite(value))
      throw Exception(name + " would not be finite at Fz0 = " + FloatToStr(new_fz0) +
                      ": the coefficients cannot be re-expressed there");
  for (const auto& [name, value] : changes) set.SetText(name, ExactText(value));
}

}  // namespace

void ReexpressAtFz0(TCoefficientSet& set, double new_fz0, TReexpressChannels channels) {
  const double old_fz0 = set.Value("Fz0");
  Rewrite(set, old_fz0, new_fz0, channels);
  if (new_fz0 != old_fz0) set.SetText("Fz0", ExactText(new_fz0));
}

void ReexpressFromFz0(TCoefficientSet& set, double old_fz0, TReexpressChannels channels) {
  Rewrite(set, old_fz0, set.Value("Fz0"), channels);
}

void FollowRatedLoad(TCoefficientSet& set, const std::string& fz0_before, TReexpressChannels channels) {
  double old_fz0 = 0;
  if (set.Text("Fz0") == fz0_before || !TryStrToFloat(fz0_before, old_fz0)) return;
  try {
    ReexpressFromFz0(set, old_fz0, channels);
  } catch (const std::exception&) {
    // Left as they were: the fit report's note says why Fz0 should stay fixed.
  }
}

}  // namespace morvex
