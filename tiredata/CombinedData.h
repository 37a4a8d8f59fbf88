// Measured combined slip: the slip ratio swept while the wheel is held at a
// slip angle (drive and brake runs on a flat track at a non-zero slip
// angle).  Unlike the pure-slip data set, which is a full table per camber,
// these are points: each holds its set-points (camber, load, slip angle),
// the swept slip ratio and what was measured there.
#pragma once

#include <limits>
#include <string>
#include <vector>

namespace morvex {

struct TCombinedSample {
  // The held set-points.
  double camber = 0.0;      // deg
  double load = 0.0;        // N (Fz > 0)
  double slip_angle = 0.0;  // deg
  // The swept slip.
  double slip_ratio = 0.0;  // fraction
  // What was measured, in Morvex's signs (those of the pure-slip data);
  // NaN where the run did not record the quantity.
  double fx = std::numeric_limits<double>::quiet_NaN();     // N
  double fy = std::numeric_limits<double>::quiet_NaN();     // N
  double mz = std::numeric_limits<double>::quiet_NaN();     // N m
  double mx = std::numeric_limits<double>::quiet_NaN();     // N m, overturning moment
  double my = std::numeric_limits<double>::quiet_NaN();     // N m, rolling-resistance moment
  double speed = std::numeric_limits<double>::quiet_NaN();  // m/s, the wheel's forward speed
};

struct TCombinedDataSet {
  std::vector<TCombinedSample> samples;

  bool Empty() const { return samples.empty(); }
};

}  // namespace morvex
