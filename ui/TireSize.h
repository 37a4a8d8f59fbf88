// Wheel-plus-tire radius from the size code on a tire's sidewall.
//
// A size code such as "205/55 R 16" gives the section width w in
// millimetres, the aspect ratio a (sidewall height as a percentage of the
// width) and the rim diameter d in inches.  The unloaded radius of the wheel
// with its tire is half the rim diameter plus one sidewall height:
//
//   r = (d * 25.4 / 2 + a * w / 100) / 1000   metres
//
// 205/55 R 16: 203.2 mm of rim radius + 112.75 mm of sidewall = 0.31595 m.
// Computed in extended precision; the caller rounds only when printing.
#pragma once

#include "numerics/LxTypes.h"

namespace morvex {

inline Extended WheelRadius(Extended width_mm, Extended aspect_percent, Extended rim_inches) {
  const Extended sidewall_mm = aspect_percent * width_mm / 100;
  return (rim_inches * 25.4L / 2 + sidewall_mm) / 1000;
}

}  // namespace morvex
