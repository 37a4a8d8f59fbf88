// A second recorder of flat-track runs for the import's tests, written apart
// from examples/RunRecorder so that the import is not tuned to one
// generator: sine sweeps instead of triangles, a load that wobbles with a
// slow drift plus a component at the wheel's rotation frequency, a cold-tire
// warm-up at the rated load and 0 deg that the programme holds again later,
// gaps in time, rows with a missing value, comma-separated CR LF files with
// SAE signs, and TYDEX files (ISO signs, slip angle in rad, speed in m/s,
// FNOMIN and RFREE constants, one data block per part, a byte order mark).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tiremodel/CoefficientSet.h"

namespace morvex::rigtest {

struct TRigProgramme {
  double rate_hz = 20;
  std::vector<double> inclinations = {0, 2, 4};   // deg
  std::vector<double> load_factors = {0.5, 0.75, 1.0, 1.25, 1.5};  // times Fz0
  double warmup_seconds = 60;                    // 0: none
  double warmup_grip = 0.92;                     // force factor of the cold tire
  double warmup_amplitude_share = 1;             // of the cornering sweep's amplitude
  double slip_angle_amplitude = 12;              // deg
  double slip_angle_period = 30;                 // s per sine sweep
  double slip_ratio_amplitude = 0.15;
  double slip_ratio_period = 24;                 // s
  bool cornering = true, drive_brake = true;
  double drift = 0.02;                           // relative amplitude of the slow load drift
  double drift_period = 45;                      // s
  double rotation = 0.01;                        // relative amplitude at the wheel's rotation frequency
  double speed_kph = 40;
  double pressure_kpa = 83;
  // Noise standard deviations, relative to Fz0 for forces and loads.
  double force_noise = 0.004, load_noise = 0.003;
  double angle_noise = 0.03;                     // deg
  double ratio_noise = 0.0008;
  uint32_t seed = 1;
};

// One sample in Morvex's signs (the model's own), deg, N, N m.
struct TRigSample {
  double time, speed, slip_angle, inclination, pressure, fx, fy, fz, mz, slip_ratio;
  bool missing_fy = false;   // the lateral force sensor gave nothing
};

struct TRigRun {
  std::vector<TRigSample> samples;
  std::vector<size_t> part_starts;  // first sample of each part (a TYDEX data block each)
};

// Samples of the programme on a tire: forces from Morvex's model at the
// actual inclination, load and slip.
TRigRun RecordRig(const TCoefficientSet& tire, const TRigProgramme& programme);

std::string WriteDelimited(const TRigRun& run);
std::string WriteTydex(const TRigRun& run, double fnomin, double rfree, bool bom);

}  // namespace morvex::rigtest
