// Sign conventions of coefficient sets.
//
// The Magic Formula equations are the same in every convention; what
// differs is which way the axes point, and so the signs of some
// coefficients.  Two conventions meet in Morvex:
//
//   iso                 ISO / TYDEX W-axis, the convention of every
//                       property file (.tir): a positive slip angle gives a
//                       negative lateral force, so PKy1 < 0, and a positive
//                       aligning moment.
//   positive-stiffness  the lateral force and the aligning moment negated,
//                       slip angle, camber, load, slip ratio and Fx as in
//                       ISO (the adapted SAE convention of Pacejka's book):
//                       a positive slip angle gives a positive lateral force,
//                       PKy1 > 0.  Morvex's sample data and start-up values
//                       are in this convention.
//
// From Fy_p(a, g) = -Fy_iso(a, g) and Mz_p(a, g) = -Mz_iso(a, g) in the
// 2002 pure-slip equations: negating PKy1 turns the sign of Kya and By, so
// the sine term of Fy turns while Dy, Cy, Ey and SHy stay; negating PVy1..4
// turns SVy; SHf = SHy + SVy/Kya keeps its value.  In Mz the trail keeps its
// value and multiplies the negated Fy0; Br = QBz9 + QBz10*By*Cy keeps its
// value when QBz10 turns with By; the residual moment turns with Dr, so
// QDz6..9 are negated.  Fx is the same in both.  The mapping is its own
// inverse.  It is not a left/right mirror of the tire (which negates the
// slip angle and camber as well and turns the asymmetry terms PHy1, PHy2,
// PEy3, QHz1, ...); data in the other convention must have its lateral force
// and aligning moment negated, not its slip angle.
//
// The mapping is applied only at the edges, where a set enters or leaves
// the program through a property file.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tiremodel/CoefficientSet.h"

namespace morvex {

enum class TSignConvention { kIso, kPositiveStiffness };

// "iso" or "positive-stiffness" (any case); nullopt for anything else.
std::optional<TSignConvention> ParseSignConvention(std::string_view text);
// "iso" / "positive-stiffness".
std::string_view SignConventionName(TSignConvention convention);
// One sentence for messages and file headers.
std::string DescribeSignConvention(TSignConvention convention);

// The coefficients (table names) whose sign differs between the two
// conventions: PKy1, PVy1..4, QBz10, QDz6..9.
std::span<const std::string_view> SignFlippedCoefficients();
// +1 or -1: the factor that takes `name` from one convention to the other.
double SignFactor(std::string_view name);

// The convention a set is in by the sign of its PKy1: positive-stiffness
// when PKy1 > 0, else ISO.  A PKy1 that is not a number counts as ISO.
TSignConvention ConventionOfSet(const TCoefficientSet& set);

}  // namespace morvex
