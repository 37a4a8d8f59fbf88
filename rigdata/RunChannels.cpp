#include "rigdata/RunChannels.h"

#include <cmath>

#include "numerics/LxBasics.h"

namespace morvex {

namespace {

constexpr double kPi = 3.14159265358979323846;

const TRunRoleInfo kRoles[kRunRoleCount] = {
    {TRunRole::kTime, "time", "time", "ET RUNTIME TIME", TQuantity::kTime, "s"},
    {TRunRole::kSlipAngle, "slip-angle", "slip angle", "SA SLIPANGL ALPHA", TQuantity::kAngle, "deg"},
    // SL before SR: newer flat-track files carry both, and SL is the one
    // computed from the effective radius.
    {TRunRole::kSlipRatio, "slip-ratio", "slip ratio", "SL SR LONGSLIP KAPPA", TQuantity::kRatio, "-"},
    {TRunRole::kInclination, "inclination", "inclination", "IA INCLANGL CAMBER GAMMA", TQuantity::kAngle, "deg"},
    {TRunRole::kLoad, "load", "load", "FZ FZW FZH", TQuantity::kForce, "N"},
    {TRunRole::kLateralForce, "lateral-force", "lateral force", "FY FYW FYH", TQuantity::kForce, "N"},
    {TRunRole::kAligningMoment, "aligning-moment", "aligning moment", "MZ MZW MZH", TQuantity::kMoment, "N m"},
    {TRunRole::kLongitudinalForce, "longitudinal-force", "longitudinal force", "FX FXW FXH", TQuantity::kForce, "N"},
    {TRunRole::kPressure, "pressure", "pressure", "P INFLPRES", TQuantity::kPressure, "kPa"},
    {TRunRole::kSpeed, "speed", "speed", "V LONGVEL", TQuantity::kSpeed, "km/h"},
    {TRunRole::kOverturningMoment, "overturning-moment", "overturning moment", "MX MXW MXH", TQuantity::kMoment, "N m"},
    {TRunRole::kRollingMoment, "rolling-moment", "rolling-resistance moment", "MY MYW MYH", TQuantity::kMoment, "N m"},
};

// `unit` without blanks, '.', '*' and '·' joining its parts, in lower case:
// "N-m", "N.m", "N*m", "N m" and "Nm" all read "nm".
std::string Squeezed(std::string_view unit) {
  std::string s;
  for (size_t i = 0; i < unit.size(); ++i) {
    const char c = unit[i];
    if (c == ' ' || c == '-' || c == '.' || c == '*' || c == '_' || c == '\t') continue;
    if (static_cast<unsigned char>(c) == 0xC2 && i + 1 < unit.size() &&
        static_cast<unsigned char>(unit[i + 1]) == 0xB7) {  // '·'
      ++i;
      continue;
    }
    s += c;
  }
  return AsciiLower(s);
}

struct TUnit {
  std::string_view name;  // squeezed
  double factor;
};

const TUnit kTimeUnits[] = {{"s", 1}, {"sec", 1}, {"second", 1}, {"seconds", 1}, {"ms", 1e-3}, {"min", 60}};
const TUnit kAngleUnits[] = {{"deg", 1}, {"degree", 1}, {"degrees", 1}, {"\xc2\xb0", 1},
                             {"rad", 180 / kPi}, {"radian", 180 / kPi}, {"radians", 180 / kPi}};
const TUnit kRatioUnits[] = {{"1", 1}, {"ratio", 1}, {"%", 0.01}, {"percent", 0.01}};
const TUnit kForceUnits[] = {{"n", 1}, {"kn", 1e3}, {"lbf", 4.4482216152605}, {"lb", 4.4482216152605}};
const TUnit kMomentUnits[] = {{"nm", 1},
                              {"knm", 1e3},
                              {"ftlb", 1.3558179483314004},
                              {"lbft", 1.3558179483314004},
                              {"ftlbf", 1.3558179483314004},
                              {"lbfft", 1.3558179483314004},
                              {"inlb", 0.1129848290276167},
                              {"lbin", 0.1129848290276167},
                              {"inlbf", 0.1129848290276167},
                              {"lbfin", 0.1129848290276167}};
const TUnit kPressureUnits[] = {{"kpa", 1}, {"pa", 1e-3}, {"mpa", 1e3}, {"bar", 100}, {"mbar", 0.1}, {"psi", 6.894757293168361}};
const TUnit kSpeedUnits[] = {{"kph", 1}, {"km/h", 1}, {"kmh", 1}, {"m/s", 3.6}, {"mps", 3.6}, {"mph", 1.609344}};

std::span<const TUnit> UnitsOf(TQuantity quantity) {
  switch (quantity) {
    case TQuantity::kTime: return kTimeUnits;
    case TQuantity::kAngle: return kAngleUnits;
    case TQuantity::kRatio: return kRatioUnits;
    case TQuantity::kForce: return kForceUnits;
    case TQuantity::kMoment: return kMomentUnits;
    case TQuantity::kPressure: return kPressureUnits;
    case TQuantity::kSpeed: return kSpeedUnits;
  }
  return {};
}

}  // namespace

std::span<const TRunRoleInfo> RunRoles() { return kRoles; }

const TRunRoleInfo& RoleInfo(TRunRole role) { return kRoles[static_cast<size_t>(role)]; }

std::optional<TRunRole> RoleByKey(std::string_view key) {
  for (const TRunRoleInfo& info : kRoles)
    if (SameAsciiText(info.key, key)) return info.role;
  return std::nullopt;
}

bool IsKnownChannelName(std::string_view name) {
  for (const TRunRoleInfo& info : kRoles) {
    std::string_view rest = info.aliases;
    while (!rest.empty()) {
      const size_t blank = rest.find(' ');
      if (SameAsciiText(rest.substr(0, blank), name)) return true;
      rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    }
  }
  return false;
}

std::optional<double> UnitFactor(TQuantity quantity, std::string_view unit) {
  const std::string s = Squeezed(unit);
  if (s.empty() || s == "none") return 1.0;
  for (const TUnit& u : UnitsOf(quantity))
    if (s == u.name) return u.factor;
  return std::nullopt;
}

std::string_view KnownUnits(TQuantity quantity) {
  switch (quantity) {
    case TQuantity::kTime: return "s, sec, ms, min";
    case TQuantity::kAngle: return "deg, rad";
    case TQuantity::kRatio: return "none, -, 1, %";
    case TQuantity::kForce: return "N, kN, lbf";
    case TQuantity::kMoment: return "N m (also N-m, Nm), kN m, ft lb, in lb";
    case TQuantity::kPressure: return "kPa, Pa, MPa, bar, psi";
    case TQuantity::kSpeed: return "km/h (kph), m/s, mph";
  }
  return "";
}

std::array<double, kRunRoleCount> RunConventionSigns(TRunConvention convention) {
  std::array<double, kRunRoleCount> signs;
  signs.fill(1.0);
  auto flip = [&signs](TRunRole role) { signs[static_cast<size_t>(role)] = -1.0; };
  switch (convention) {
    case TRunConvention::kSae:
      flip(TRunRole::kSlipAngle);
      flip(TRunRole::kLoad);
      break;
    case TRunConvention::kIso:
      flip(TRunRole::kLateralForce);
      flip(TRunRole::kAligningMoment);
      break;
    case TRunConvention::kAuto:
    case TRunConvention::kMorvex:
      break;
  }
  return signs;
}

std::string_view RunConventionKey(TRunConvention convention) {
  switch (convention) {
    case TRunConvention::kAuto: return "auto";
    case TRunConvention::kSae: return "sae";
    case TRunConvention::kIso: return "iso";
    case TRunConvention::kMorvex: return "morvex";
  }
  return "auto";
}

std::string_view RunConventionName(TRunConvention convention) {
  switch (convention) {
    case TRunConvention::kAuto: return "chosen from the data";
    case TRunConvention::kSae: return "SAE (load negative, as flat-track machines record)";
    case TRunConvention::kIso: return "ISO / TYDEX W-axis (load positive, lateral force falls with slip angle)";
    case TRunConvention::kMorvex: return "Morvex (as recorded: lateral force rises with slip angle)";
  }
  return "";
}

std::optional<TRunConvention> RunConventionByKey(std::string_view key) {
  for (TRunConvention c : {TRunConvention::kAuto, TRunConvention::kSae, TRunConvention::kIso,
                            TRunConvention::kMorvex})
    if (SameAsciiText(RunConventionKey(c), key)) return c;
  if (SameAsciiText(key, "tydex")) return TRunConvention::kIso;
  return std::nullopt;
}

}  // namespace morvex
