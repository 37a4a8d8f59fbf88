// A whole flat-track test programme of one tire, as a test consortium runs
// it and records it, in three runs:
//   - cornering: the slip angle swept (a sine of +/-A) at slip ratio 0;
//   - drive/brake: the slip ratio swept (a sine of +/-A) at slip angle 0;
//   - combined: the slip ratio swept while the slip angle is held at each of
//     several angles (-6 .. 6 deg by default).
// Each run sweeps every inclination and load, with what a rig adds:
//   - a warm-up at the first inclination and the middle load with the grip of
//     a cold tire, sweeping the run's own slip (the combined run: the slip
//     ratio at slip angle 0), which the programme holds again later;
//   - a load that wobbles at the wheel's rotation frequency and drifts
//     slowly, ramps between loads and slip angles, a gap in time before each
//     inclination;
//   - sensor noise on every channel and now and then a sample the lateral
//     force sensor misses.
// The forces and moments are the combined-slip model's (tiremodel/
// CombinedSlip.h) at the actual inclination, load and slips of the sample,
// from a property file's coefficients (ISO signs).  The run files carry the
// rated load and unloaded radius (TYDEX), the pressure and the speed held
// (the tire's LONGVL).
//
// Recorded signs: delimited files are SAE (load and slip angle negated from
// Morvex's, moments as recorded), TYDEX files ISO W-axis (lateral force and
// aligning moment negated from Morvex's).  Morvex's signs are ISO with the
// lateral force and the aligning moment negated.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tiremodel/CombinedSlip.h"

namespace morvex::examples {

// A tire of a property file with its combined-slip coefficients, ISO signs
// (a published tire of testing/data/combined-slip).
struct TCombinedTire {
  std::string name;
  TLateralCoefficients lateral;
  TAligningCoefficients aligning;
  TLongitudinalCoefficients longitudinal;
  TCombinedCoefficients combined;
  double r0 = 0;
  double longvl = 0;  // m/s
};

// Reads a coefficient file of testing/data/combined-slip ([sections],
// key=value, ';' comments).  Raises std::runtime_error naming the file and
// the first coefficient it lacks.
TCombinedTire ReadCombinedTire(const std::string& path);

enum class TProgrammeRun { kCornering, kDriveBrake, kCombined };

struct TProgrammeOptions {
  double rate_hz = 50;                                     // samples per second, as flat-track rigs record
  std::vector<double> inclinations = {0, 2, 4};            // deg
  std::vector<double> load_factors = {0.5, 1.0, 1.5};      // times the rated load
  std::vector<double> held_slip_angles = {-6, -3, 0, 3, 6};  // deg, the combined run
  double slip_angle_amplitude = 12;                        // deg
  double slip_angle_period = 30;                           // s per sine sweep
  double slip_ratio_amplitude = 0.2;
  double slip_ratio_period = 36;                           // s
  double warmup_seconds = 60;                              // 0: none
  double warmup_grip = 0.9;                                // force factor of the cold tire
  double drift = 0.02;                                     // relative amplitude of the slow load drift
  double drift_period = 45;                                // s
  double rotation = 0.01;                                  // relative amplitude at the wheel's rotation frequency
  double pressure_kpa = 220;
  double speed_kph = 0;                                    // 0: the tire's LONGVL
  // Noise standard deviations: forces and load relative to the rated load,
  // moments relative to the rated load times the radius.
  double force_noise = 0.004, load_noise = 0.003, moment_noise = 0.0005;
  double angle_noise = 0.03;                               // deg
  double ratio_noise = 0.0008;
  double missing_share = 0.002;                            // of lateral-force samples
  uint32_t seed = 1;
  bool tydex = false;                                      // WriteProgramme: TYDEX files, else delimited
};

// A small programme in TYDEX files, whose whole fit takes seconds: two
// inclinations, three loads, four held slip angles, short sweeps and a
// short warm-up, at 25 samples a second; noise from `seed`.
TProgrammeOptions SmallTydexProgramme(uint32_t seed);

// One sample in Morvex's signs: deg, N, N m, kPa, km/h, s.
struct TProgrammeSample {
  double time, speed, slip_angle, inclination, pressure, fx, fy, fz, mz, mx, my, slip_ratio;
  bool missing_fy = false;
};

std::vector<TProgrammeSample> RecordProgrammeRun(const TCombinedTire& tire, TProgrammeRun run,
                                                 const TProgrammeOptions& options = {});

// Tab-separated run file with title, names and units rows, SAE signs.
std::string FormatProgrammeDelimited(const std::vector<TProgrammeSample>& samples, const std::string& title);
// TYDEX file with FNOMIN, RFREE and NOMPRES constants, ISO signs.
std::string FormatProgrammeTydex(const std::vector<TProgrammeSample>& samples, const TCombinedTire& tire,
                                 const std::string& title);

// Records the three runs and writes them into `folder` (which must exist):
// cornering.dat, drive-brake.dat and combined.dat (or .tdx with
// options.tydex).  Returns the paths in that order; raises
// std::runtime_error when a file cannot be written.
std::vector<std::string> WriteProgramme(const TCombinedTire& tire, const std::string& folder,
                                        const TProgrammeOptions& options = {});

}  // namespace morvex::examples
