// The channels of a raw run that the import uses, the names rigs give them,
// the units they come in and the sign conventions they are recorded in.
//
// Units.  Internally the import works in degrees (slip angle, inclination),
// a plain fraction (slip ratio), newtons (load, forces), newton metres
// (moments), kilopascals (pressure), km/h (speed) and seconds (time): the
// units of Morvex's data files and of flat-track run files.
//
// Sign conventions.  Morvex's own data (and its model) give a positive
// lateral force for a positive slip angle and a positive load; the aligning
// moment then falls with the slip angle at small slip; slip ratio and
// longitudinal force are positive when driving.  A run is recorded in one of
// three conventions, and each is a table of signs applied to the channels
// as they are read, nothing else:
//   - SAE (z axis down, as flat-track machines record): the load is negative
//     and the lateral force falls with the slip angle.  To Morvex: slip
//     angle negated, load negated; forces, moments, inclination and slip
//     ratio as recorded.
//   - ISO / TYDEX W-axis (z up): the load is positive and the lateral force
//     falls with the slip angle (a .tir file's PKY1 < 0).  To Morvex: lateral
//     force and aligning moment negated.
//   - Morvex: as recorded.
// The overturning moment Mx and the rolling-resistance moment My are as
// recorded in every convention: Morvex keeps their ISO signs (those of
// property files), and public pipelines from SAE to ISO leave them as
// recorded.
// The two mappings agree with the flips that public TTC pipelines apply to
// reach ISO (slip angle, lateral force and aligning moment together, load
// made positive), followed by ISO to Morvex (lateral force and aligning
// moment negated), and they differ from each other by exactly that step.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace morvex {

enum class TRunRole {
  kTime,
  kSlipAngle,
  kSlipRatio,
  kInclination,
  kLoad,
  kLateralForce,
  kAligningMoment,
  kLongitudinalForce,
  kPressure,
  kSpeed,
  kOverturningMoment,
  kRollingMoment,
};
inline constexpr size_t kRunRoleCount = 12;

enum class TQuantity { kTime, kAngle, kRatio, kForce, kMoment, kPressure, kSpeed };

struct TRunRoleInfo {
  TRunRole role;
  std::string_view key;        // option key: "time", "slip-angle", ...
  std::string_view label;      // in messages: "slip angle", "load", ...
  std::string_view aliases;    // channel names matched (any case), blank-separated, by preference
  TQuantity quantity;
  std::string_view unit;       // the unit the import works in
};

// The twelve roles, in the order of TRunRole.
std::span<const TRunRoleInfo> RunRoles();
const TRunRoleInfo& RoleInfo(TRunRole role);
// The role whose key is `key` (any case).
std::optional<TRunRole> RoleByKey(std::string_view key);
// True when `name` is one of the aliases of some role (any case).
bool IsKnownChannelName(std::string_view name);

// The factor that takes a value in `unit` to the import's unit of the
// quantity, or nothing when the unit is not one the import knows.  An empty
// unit, "-" or "none" counts as the import's own unit (for a slip ratio
// also "1" and "ratio"; "%" is a percentage).
std::optional<double> UnitFactor(TQuantity quantity, std::string_view unit);
// The units UnitFactor accepts for a quantity, for messages: "N, kN, lbf".
std::string_view KnownUnits(TQuantity quantity);

enum class TRunConvention { kAuto, kSae, kIso, kMorvex };

// The sign each role is multiplied by to reach Morvex's convention (time,
// pressure and speed are never negated).  kAuto has no table: it is
// resolved from the data first.
std::array<double, kRunRoleCount> RunConventionSigns(TRunConvention convention);
// "auto", "sae", "iso", "morvex".
std::string_view RunConventionKey(TRunConvention convention);
// "SAE (as recorded by flat-track machines)", ...
std::string_view RunConventionName(TRunConvention convention);
std::optional<TRunConvention> RunConventionByKey(std::string_view key);

}  // namespace morvex
