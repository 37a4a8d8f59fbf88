#include "examples/RunRecorder.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>

#include "tiremodel/CoefficientTable.h"
#include "tiremodel/MagicFormula.h"

namespace morvex::examples {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLoadRampSeconds = 2;
constexpr double kTimeGapSeconds = 4;
constexpr double kColdGrip = 0.85;
constexpr double kOtherPressureGrip = 1.05;

// 0 -> +a -> -a -> 0 at `rate` per second.
double Triangle(double t, double a, double rate) {
  const double u = t * rate;
  if (u <= a) return u;
  if (u <= 3 * a) return 2 * a - u;
  return u - 4 * a;
}

class TRecorder {
 public:
  TRecorder(const TCoefficientSet& truth, const TRunProgramme& p)
      : p_(p),
        lateral_(ReadLateralCoefficients(truth)),
        aligning_(ReadAligningCoefficients(truth)),
        longitudinal_(ReadLongitudinalCoefficients(truth)),
        r0_(truth.Value("R0")),
        random_(p.seed) {}

  void Gap() { time_ += kTimeGapSeconds; }

  // Samples for `seconds`, with the inclination, load and slips of each
  // moment given by `at(t)` (t from the start of the stretch).
  template <class At>
  void Stretch(double seconds, At&& at) {
    const double dt = 1 / p_.rate_hz;
    const auto n = static_cast<size_t>(std::llround(seconds * p_.rate_hz));
    for (size_t k = 0; k < n; ++k) {
      const double t = static_cast<double>(k) * dt;
      double ia, load, sa, sl, pressure = p_.pressure, grip = 1;
      at(t, ia, load, sa, sl, pressure, grip);
      Emit(ia, load, sa, sl, pressure, grip);
    }
  }

  std::vector<TRunSample> samples;

 private:
  double Noise(double sd) { return sd > 0 ? std::normal_distribution<double>(0, sd)(random_) : 0.0; }

  void Emit(double ia, double load, double sa, double sl, double pressure, double grip) {
    const double fz = load * (1 + p_.load_wobble * std::sin(2 * kPi * time_ / 7.0));
    TRunSample s;
    s.time = time_;
    s.speed = p_.speed + Noise(0.2);
    s.slip_angle = sa + Noise(p_.noise_angle);
    s.inclination = ia + Noise(p_.noise_angle);
    s.pressure = pressure + Noise(0.3);
    s.fy = grip * LateralForce(lateral_, ia, fz, sa) + Noise(p_.noise_force);
    s.mz = grip * AligningMoment(lateral_, aligning_, r0_, ia, fz, sa) + Noise(p_.noise_moment);
    s.fx = grip * LongitudinalForce(longitudinal_, ia, fz, sl) + Noise(p_.noise_force);
    s.fz = fz + Noise(p_.noise_load);
    s.slip_ratio = sl + Noise(p_.noise_ratio);
    s.temperature = 45 + 10 * std::tanh(time_ / 200) + Noise(0.5);
    samples.push_back(s);
    time_ += 1 / p_.rate_hz;
  }

  const TRunProgramme& p_;
  TLateralCoefficients lateral_;
  TAligningCoefficients aligning_;
  TLongitudinalCoefficients longitudinal_;
  double r0_;
  std::mt19937 random_;
  double time_ = 0;
};

void Programme(TRecorder& r, const TRunProgramme& p) {
  const double mid_ia = p.inclinations.front();
  const double mid_load = p.loads[(p.loads.size() - 1) / 2];
  const double sweep = 4 * p.slip_angle_amplitude / p.slip_angle_rate;
  const double ratio_sweep = 4 * p.slip_ratio_amplitude / p.slip_ratio_rate;
  const double warm_amplitude = p.slip_angle_amplitude / 3;

  // Warm-up: cold tire, repeated small sweeps.
  r.Stretch(p.warmup_seconds, [&](double t, double& ia, double& load, double& sa, double& sl, double&, double& grip) {
    ia = mid_ia;
    load = mid_load;
    sa = Triangle(std::fmod(t, 4 * warm_amplitude / p.slip_angle_rate), warm_amplitude, p.slip_angle_rate);
    sl = 0;
    grip = kColdGrip;
  });

  // Cornering, then drive/brake.
  for (int part = 0; part < 2; ++part) {
    const bool cornering = part == 0;
    for (double camber : p.inclinations) {
      r.Gap();
      double previous = p.loads.front();
      for (double target : p.loads) {
        r.Stretch(kLoadRampSeconds, [&](double t, double& ia, double& load, double& sa, double& sl, double&, double&) {
          ia = camber;
          load = previous + (target - previous) * t / kLoadRampSeconds;
          sa = sl = 0;
        });
        previous = target;
        r.Stretch(cornering ? sweep : ratio_sweep,
                  [&](double t, double& ia, double& load, double& sa, double& sl, double&, double&) {
                    ia = camber;
                    load = target;
                    sa = cornering ? Triangle(t, p.slip_angle_amplitude, p.slip_angle_rate) : 0;
                    sl = cornering ? 0 : Triangle(t, p.slip_ratio_amplitude, p.slip_ratio_rate);
                  });
      }
    }
    if (cornering && p.other_pressure > 0) {
      r.Gap();
      r.Stretch(sweep / 2, [&](double t, double& ia, double& load, double& sa, double& sl, double& pressure,
                              double& grip) {
        ia = mid_ia;
        load = mid_load;
        sa = Triangle(t, p.slip_angle_amplitude / 2, p.slip_angle_rate);
        sl = 0;
        pressure = p.other_pressure;
        grip = kOtherPressureGrip;
      });
    }
  }
}

void Append(std::string& out, const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  out += buffer;
}

std::string Padded(std::string text, size_t width) {
  text.resize(width, ' ');
  return text;
}

}  // namespace

std::vector<TRunSample> RecordRun(const TCoefficientSet& truth, const TRunProgramme& programme) {
  TRecorder recorder(truth, programme);
  for (size_t k = 0; k < std::max<size_t>(1, programme.repeat); ++k) Programme(recorder, programme);
  return std::move(recorder.samples);
}

std::string FormatDelimitedRun(const std::vector<TRunSample>& samples) {
  std::string out;
  out.reserve(samples.size() * 96 + 256);
  out += "Morvex simulated flat-track run: cornering and drive/brake of a 205/60 R15 tire (examples/true-values.txt)\n";
  out += "ET\tV\tN\tSA\tIA\tP\tFX\tFY\tFZ\tMX\tMZ\tTSTC\tSL\n";
  out += "sec\tkph\trpm\tdeg\tdeg\tkPa\tN\tN\tN\tN-m\tN-m\tdeg C\tnone\n";
  for (const TRunSample& s : samples) {
    // SAE: load negative, slip angle opposite to Morvex's.
    Append(out, "%.2f", s.time);
    Append(out, "\t%.2f", s.speed);
    Append(out, "\t%.1f", s.speed / 3.6 / (2 * kPi * 0.3) * 60);
    Append(out, "\t%.3f", -s.slip_angle);
    Append(out, "\t%.3f", s.inclination);
    Append(out, "\t%.2f", s.pressure);
    Append(out, "\t%.1f", s.fx);
    Append(out, "\t%.1f", s.fy);
    Append(out, "\t%.1f", -s.fz);
    Append(out, "\t%.2f", 0.01 * s.fy);
    Append(out, "\t%.2f", s.mz);
    Append(out, "\t%.1f", s.temperature);
    Append(out, "\t%.5f\n", s.slip_ratio);
  }
  return out;
}

std::string FormatTydexRun(const std::vector<TRunSample>& samples) {
  struct TChannel {
    const char* name;
    const char* description;
    const char* unit;
    const char* factor;
  };
  // The slip angle is stored in degrees with the factor to radians, and the
  // pressure in kPa with the factor to Pa, as TYDEX files do.
  const TChannel channels[] = {
      {"RUNTIME", "Running time", "s", "1"},          {"LONGVEL", "Longitudinal velocity", "m/s", "1"},
      {"SLIPANGL", "Slip angle", "rad", "0.01745329"}, {"INCLANGL", "Inclination angle", "deg", "1"},
      {"INFLPRES", "Inflation pressure", "Pa", "1000"}, {"LONGSLIP", "Longitudinal slip", "-", "1"},
      {"FX", "Longitudinal force", "N", "1"},         {"FYW", "Lateral force, W-axis", "N", "1"},
      {"FZW", "Vertical load, W-axis", "N", "1"},     {"MZW", "Aligning moment, W-axis", "Nm", "1"},
      {"TRCKTEMP", "Track temperature", "deg C", "1"},
  };
  std::string out;
  out.reserve(samples.size() * 100 + 2048);
  out += "**HEADER\n";
  out += Padded("RELEASE", 10) + Padded("Release of TYDEX format", 40) + "1.3\n";
  out += Padded("MEASID", 10) + Padded("Measurement identifier", 40) + "MORVEX-SIMULATED-RUN\n";
  out += "**COMMENTS\n";
  out += "Simulated flat-track run of a 205/60 R15 tire (examples/true-values.txt), ISO W-axis signs\n";
  out += "**CONSTANTS\n";
  out += Padded("FNOMIN", 10) + Padded("Nominal load", 30) + Padded("N", 10) + "4000\n";
  out += Padded("NOMPRES", 10) + Padded("Nominal inflation pressure", 30) + Padded("Pa", 10) + "83000\n";
  out += "**MEASURCHANNELS\n";
  for (const TChannel& c : channels)
    out += Padded(c.name, 10) + Padded(c.description, 30) + Padded(c.unit, 10) + Padded(c.factor, 10) +
           Padded("0", 10) + "0\n";
  out += "**MEASURDATA\n";
  for (const TRunSample& s : samples) {
    // ISO W-axis: lateral force and aligning moment opposite to Morvex's.
    Append(out, "%.2f", s.time);
    Append(out, " %.3f", s.speed / 3.6);
    Append(out, " %.3f", s.slip_angle);
    Append(out, " %.3f", s.inclination);
    Append(out, " %.2f", s.pressure);
    Append(out, " %.5f", s.slip_ratio);
    Append(out, " %.1f", s.fx);
    Append(out, " %.1f", -s.fy);
    Append(out, " %.1f", s.fz);
    Append(out, " %.2f", -s.mz);
    Append(out, " %.1f\n", s.temperature);
  }
  out += "**END\n";
  return out;
}

TMemoryCoefficientSet ReadCoefficientValues(const std::string& path) {
  TMemoryCoefficientSet set;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    for (const TCoefficientInfo& info : Coefficients())
      if (info.export_key == line.substr(0, eq)) set.SetText(info.name, line.substr(eq + 1));
  }
  return set;
}

}  // namespace morvex::examples
