// A simulated flat-track test run: what a tire test machine records while it
// runs a cornering and a drive/brake programme on a tire whose Magic Formula
// coefficients are known.  The import's tests, the example run files and the
// import benchmark are made from it.
//
// The programme, in order:
//   - a warm-up at the first inclination and the middle load, sweeping the
//     slip angle, with the grip of a cold tire (forces 15 % low), which an
//     import must drop by its warm-up filter;
//   - cornering: per inclination (a gap in the recorded time before each),
//     per load (a two-second ramp between loads), one slow triangular sweep
//     of the slip angle 0 -> +A -> -A -> 0, slip ratio held near 0;
//   - a short cornering block at another pressure, which the pressure
//     window must leave out;
//   - drive/brake: the same inclinations and loads, slip angle held near 0,
//     one triangular sweep of the slip ratio.
// The held load wobbles slowly (a sine of 1 % of the load) and every channel
// carries sensor noise; forces and moments are the model's at the actual
// inclination, load and slip, plus noise.
//
// Recorded signs: the delimited file is SAE (load negative, slip angle
// negated relative to Morvex's), the TYDEX file ISO W-axis (lateral force and
// aligning moment negated relative to Morvex's), as rigs write them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tiremodel/CoefficientSet.h"

namespace morvex::examples {

struct TRunProgramme {
  double rate_hz = 10;                                 // samples per second
  std::vector<double> inclinations = {0, 2, 4};        // deg
  std::vector<double> loads = {2000, 4000, 6000, 8000};  // N
  double warmup_seconds = 30;
  double slip_angle_amplitude = 12;                    // deg
  double slip_angle_rate = 2;                          // deg/s
  double slip_ratio_amplitude = 0.2;
  double slip_ratio_rate = 0.04;                       // 1/s
  double pressure = 83;                                // kPa
  double other_pressure = 97;                          // kPa, the extra block; 0 for none
  double speed = 40;                                   // km/h
  double load_wobble = 0.01;                           // relative amplitude of the slow load wobble
  // Standard deviations of the sensor noise.
  double noise_force = 15;                             // N
  double noise_moment = 0.8;                           // N m
  double noise_load = 20;                              // N
  double noise_angle = 0.02;                           // deg
  double noise_ratio = 0.0005;
  uint32_t seed = 14;
  size_t repeat = 1;                                   // run the programme, warm-up included, this many times
};

// One sample in Morvex's convention and units (deg, N, N m, kPa, km/h, s).
struct TRunSample {
  double time, speed, slip_angle, inclination, pressure, fx, fy, fz, mz, slip_ratio, temperature;
};

std::vector<TRunSample> RecordRun(const TCoefficientSet& truth, const TRunProgramme& programme = {});

// Tab-separated run file: a title line, names, units (SAE signs).
std::string FormatDelimitedRun(const std::vector<TRunSample>& samples);
// TYDEX file of the same samples (ISO W-axis signs, SI channel units).
std::string FormatTydexRun(const std::vector<TRunSample>& samples);

// The coefficient set of a coefficient file's "key=value" lines
// (examples/true-values.txt), other coefficients at their defaults.
TMemoryCoefficientSet ReadCoefficientValues(const std::string& path);

}  // namespace morvex::examples
