#include "rigdata/tests/RigRecording.h"

#include <cmath>
#include <cstdio>
#include <random>

#include "tiremodel/MagicFormula.h"

namespace morvex::rigtest {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRampSeconds = 1.5;

class TRig {
 public:
  TRig(const TCoefficientSet& tire, const TRigProgramme& p)
      : p_(p),
        lateral_(ReadLateralCoefficients(tire)),
        aligning_(ReadAligningCoefficients(tire)),
        longitudinal_(ReadLongitudinalCoefficients(tire)),
        fz0_(tire.Value("Fz0")),
        r0_(tire.Value("R0")),
        random_(p.seed),
        phase_(std::uniform_real_distribution<double>(0, 2 * kPi)(random_)) {}

  void Part() { run.part_starts.push_back(run.samples.size()); }
  void Gap(double seconds) { time_ += seconds; }

  // `seconds` of samples; at(t) sets the inclination, the held load, both slips and the grip.
  template <class At>
  void Hold(double seconds, At&& at) {
    const auto n = static_cast<size_t>(std::llround(seconds * p_.rate_hz));
    for (size_t k = 0; k < n; ++k) {
      double ia = 0, load = 0, sa = 0, sr = 0, grip = 1;
      at(static_cast<double>(k) / p_.rate_hz, ia, load, sa, sr, grip);
      Emit(ia, load, sa, sr, grip);
    }
  }

  double Fz0() const { return fz0_; }
  TRigRun run;

 private:
  double Noise(double sd) { return std::normal_distribution<double>(0, sd)(random_); }

  void Emit(double ia, double load, double sa, double sr, double grip) {
    // The wheel turns at v / (2 pi R0): the load carries a component at that frequency.
    const double rotation_hz = p_.speed_kph / 3.6 / (2 * kPi * r0_);
    const double fz = load * (1 + p_.drift * std::sin(2 * kPi * time_ / p_.drift_period + phase_) +
                              p_.rotation * std::sin(2 * kPi * rotation_hz * time_));
    TRigSample s{};
    s.time = time_;
    s.speed = p_.speed_kph + Noise(0.1);
    s.slip_angle = sa + Noise(p_.angle_noise);
    s.inclination = ia + Noise(p_.angle_noise);
    s.pressure = p_.pressure_kpa + Noise(0.2);
    s.fy = grip * LateralForce(lateral_, ia, fz, sa) + Noise(p_.force_noise * fz0_);
    s.mz = grip * AligningMoment(lateral_, aligning_, r0_, ia, fz, sa) + Noise(p_.force_noise * fz0_ * 0.01);
    s.fx = grip * LongitudinalForce(longitudinal_, ia, fz, sr) + Noise(p_.force_noise * fz0_);
    s.fz = fz + Noise(p_.load_noise * fz0_);
    s.slip_ratio = sr + Noise(p_.ratio_noise);
    // Now and then the lateral force sensor drops a sample.
    s.missing_fy = std::uniform_real_distribution<double>(0, 1)(random_) < 0.002;
    run.samples.push_back(s);
    time_ += 1 / p_.rate_hz;
  }

  const TRigProgramme& p_;
  TLateralCoefficients lateral_;
  TAligningCoefficients aligning_;
  TLongitudinalCoefficients longitudinal_;
  double fz0_, r0_;
  std::mt19937 random_;
  double phase_;
  double time_ = 0;
};

std::string Number(double v, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  return buffer;
}

std::string Fixed(const std::string& s, size_t width) {
  std::string out = s.substr(0, width);
  out.resize(width, ' ');
  return out;
}

}  // namespace

TRigRun RecordRig(const TCoefficientSet& tire, const TRigProgramme& p) {
  TRig rig(tire, p);
  const double fz0 = rig.Fz0();
  if (p.warmup_seconds > 0) {
    rig.Part();
    const double amplitude = p.slip_angle_amplitude * p.warmup_amplitude_share;
    rig.Hold(p.warmup_seconds, [&](double t, double& ia, double& load, double& sa, double& sr, double& grip) {
      ia = 0;
      load = fz0;
      sa = amplitude * std::sin(2 * kPi * t / p.slip_angle_period);
      sr = 0;
      grip = p.warmup_grip;
    });
    rig.Gap(20);
  }
  for (int part = 0; part < 2; ++part) {
    const bool cornering = part == 0;
    if (cornering ? !p.cornering : !p.drive_brake) continue;
    for (double camber : p.inclinations) {
      rig.Part();
      double previous = 0.3 * fz0;
      for (double factor : p.load_factors) {
        const double target = factor * fz0;
        rig.Hold(kRampSeconds, [&](double t, double& ia, double& load, double& sa, double& sr, double&) {
          ia = camber;
          load = previous + (target - previous) * t / kRampSeconds;
          sa = sr = 0;
        });
        previous = target;
        const double period = cornering ? p.slip_angle_period : p.slip_ratio_period;
        rig.Hold(period, [&](double t, double& ia, double& load, double& sa, double& sr, double&) {
          ia = camber;
          load = target;
          const double wave = std::sin(2 * kPi * t / period);
          sa = cornering ? p.slip_angle_amplitude * wave : 0;
          sr = cornering ? 0 : p.slip_ratio_amplitude * wave;
        });
      }
      rig.Gap(8);
    }
  }
  return rig.run;
}

// Comma-separated, CR LF, SAE signs (slip angle and load negated from
// Morvex's).
std::string WriteDelimited(const TRigRun& run) {
  std::string out = "Rig run, test bench recording\r\nET,V,SA,IA,P,FX,FY,FZ,MZ,SL\r\ns,kph,deg,deg,kPa,N,N,N,Nm,-\r\n";
  for (const TRigSample& s : run.samples) {
    out += Number(s.time, 3) + "," + Number(s.speed, 2) + "," + Number(-s.slip_angle, 4) + "," +
           Number(s.inclination, 4) + "," + Number(s.pressure, 2) + "," + Number(s.fx, 2) + "," +
           (s.missing_fy ? std::string() : Number(s.fy, 2)) + "," + Number(-s.fz, 2) + "," + Number(s.mz, 3) +
           "," + Number(s.slip_ratio, 5) + "\r\n";
  }
  return out;
}

// TYDEX, ISO signs (lateral force and aligning moment negated from
// Morvex's): slip angle in rad, speed in m/s, one data block per part.
std::string WriteTydex(const TRigRun& run, double fnomin, double rfree, bool bom) {
  std::string out = bom ? "\xEF\xBB\xBF" : "";
  out += "**HEADER\n" + Fixed("RELEASE", 10) + Fixed("Release of the format", 40) + "1.3\n";
  out += Fixed("MEASID", 10) + Fixed("Measurement", 40) + "rig test\n";
  out += "**CONSTANTS\n";
  out += Fixed("FNOMIN", 10) + Fixed("Rated load", 30) + Fixed("N", 10) + Number(fnomin, 1) + "\n";
  out += Fixed("RFREE", 10) + Fixed("Unloaded radius", 30) + Fixed("mm", 10) + Number(rfree * 1000, 1) + "\n";
  out += "**MEASURCHANNELS\n";
  const char* channels[][3] = {{"RUNTIME", "Time", "s"},         {"LONGVEL", "Speed", "m/s"},
                               {"SLIPANGL", "Slip angle", "rad"}, {"INCLANGL", "Inclination", "deg"},
                               {"INFLPRES", "Pressure", "kPa"},    {"FX", "Longitudinal force", "N"},
                               {"FYW", "Lateral force", "N"},      {"FZW", "Load", "N"},
                               {"MZW", "Aligning moment", "Nm"},   {"LONGSLIP", "Slip ratio", "-"}};
  for (const auto& c : channels) out += Fixed(c[0], 10) + Fixed(c[1], 30) + Fixed(c[2], 10) + Fixed("1", 10) + "\n";
  size_t part = 0;
  for (size_t k = 0; k < run.samples.size(); ++k) {
    if (part < run.part_starts.size() && run.part_starts[part] == k) {
      if (part > 0) out += "**COMMENTS\n! next part of the programme\n";
      out += "**MEASURDATA\n";
      ++part;
    }
    const TRigSample& s = run.samples[k];
    out += Number(s.time, 3) + " " + Number(s.speed / 3.6, 4) + " " + Number(s.slip_angle * kPi / 180, 6) + " " +
           Number(s.inclination, 4) + " " + Number(s.pressure, 2) + " " + Number(s.fx, 2) + " " +
           (s.missing_fy ? std::string("NOTAVAIL") : Number(-s.fy, 2)) + " " + Number(s.fz, 2) + " " +
           Number(-s.mz, 3) + " " + Number(s.slip_ratio, 5) + "\n";
  }
  out += "**END\n";
  return out;
}

}  // namespace morvex::rigtest
