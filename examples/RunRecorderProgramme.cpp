#include "examples/RunRecorderProgramme.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>

namespace morvex::examples {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRampSeconds = 1.5;
constexpr double kGapSeconds = 8;

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string Trimmed(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r");
  const size_t b = s.find_last_not_of(" \t\r");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

class TProgrammeRig {
 public:
  TProgrammeRig(const TCombinedTire& tire, const TProgrammeOptions& o)
      : tire_(tire), o_(o), fz0_(tire.lateral.Fz0), random_(o.seed),
        phase_(std::uniform_real_distribution<double>(0, 2 * kPi)(random_)) {
    speed_ = o.speed_kph > 0 ? o.speed_kph : tire.longvl * 3.6;
  }

  void Gap() { time_ += kGapSeconds; }

  // `seconds` of samples; at(t, ia, load, sa, sr, grip) sets the moment's set-up.
  template <class At>
  void Hold(double seconds, At&& at) {
    const auto n = static_cast<size_t>(std::llround(seconds * o_.rate_hz));
    for (size_t k = 0; k < n; ++k) {
      double ia = 0, load = 0, sa = 0, sr = 0, grip = 1;
      at(static_cast<double>(k) / o_.rate_hz, ia, load, sa, sr, grip);
      Emit(ia, load, sa, sr, grip);
    }
  }

  double Fz0() const { return fz0_; }
  std::vector<TProgrammeSample> samples;

 private:
  double Noise(double sd) { return sd > 0 ? std::normal_distribution<double>(0, sd)(random_) : 0.0; }

  void Emit(double ia, double load, double sa, double sr, double grip) {
    const double vx = speed_ / 3.6;
    const double rotation_hz = vx / (2 * kPi * tire_.r0);
    const double fz = load * (1 + o_.drift * std::sin(2 * kPi * time_ / o_.drift_period + phase_) +
                              o_.rotation * std::sin(2 * kPi * rotation_hz * time_));
    // The property file's model in ISO signs; Morvex's negate Fy and Mz.
    const TCombinedPoint p = CombinedPointAt(tire_.lateral, tire_.aligning, tire_.longitudinal, tire_.combined,
                                             tire_.r0, ia, fz, sa, sr, vx, tire_.longvl);
    const double moment_sd = o_.moment_noise * fz0_ * tire_.r0;
    TProgrammeSample s{};
    s.time = time_;
    s.speed = speed_ + Noise(0.1);
    s.slip_angle = sa + Noise(o_.angle_noise);
    s.inclination = ia + Noise(o_.angle_noise);
    s.pressure = o_.pressure_kpa + Noise(0.3);
    s.fx = grip * p.Fx + Noise(o_.force_noise * fz0_);
    s.fy = -grip * p.Fy + Noise(o_.force_noise * fz0_);
    s.mz = -grip * p.Mz + Noise(moment_sd);
    s.mx = grip * p.Mx + Noise(moment_sd);
    s.my = p.My + Noise(0.1 * moment_sd);
    s.fz = fz + Noise(o_.load_noise * fz0_);
    s.slip_ratio = sr + Noise(o_.ratio_noise);
    s.missing_fy = std::uniform_real_distribution<double>(0, 1)(random_) < o_.missing_share;
    samples.push_back(s);
    time_ += 1 / o_.rate_hz;
  }

  const TCombinedTire& tire_;
  const TProgrammeOptions& o_;
  double fz0_;
  double speed_ = 0;
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

TCombinedTire ReadCombinedTire(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read the tire " + path);
  std::map<std::string, double> values;
  std::string line;
  while (std::getline(in, line)) {
    line = Trimmed(line);
    if (line.empty() || line[0] == ';' || line[0] == '[') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    try {
      values[Upper(Trimmed(line.substr(0, eq)))] = std::stod(line.substr(eq + 1));
    } catch (const std::exception&) {
      throw std::runtime_error(path + ": the value of " + Trimmed(line.substr(0, eq)) + " is not a number");
    }
  }
  auto get = [&](const std::string& name) {
    const auto it = values.find(Upper(name));
    if (it == values.end()) throw std::runtime_error(path + " lacks the coefficient " + name);
    return it->second;
  };
  TCombinedTire t;
  const size_t slash = path.find_last_of('/');
  t.name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  if (t.name.size() > 4 && t.name.substr(t.name.size() - 4) == ".txt") t.name.resize(t.name.size() - 4);
#define MORVEX_GET_LAT(name) t.lateral.name = get(#name);
  MORVEX_LATERAL_COEFFICIENTS(MORVEX_GET_LAT)
#undef MORVEX_GET_LAT
#define MORVEX_GET_ALI(name) t.aligning.name = get(#name);
  MORVEX_ALIGNING_COEFFICIENTS(MORVEX_GET_ALI)
#undef MORVEX_GET_ALI
#define MORVEX_GET_LON(name) t.longitudinal.name = get(#name);
  MORVEX_LONGITUDINAL_COEFFICIENTS(MORVEX_GET_LON)
#undef MORVEX_GET_LON
#define MORVEX_GET_COMB(name) t.combined.name = get(#name);
  MORVEX_COMBINED_COEFFICIENTS(MORVEX_GET_COMB)
#undef MORVEX_GET_COMB
  t.r0 = get("R0");
  t.longvl = get("LONGVL");
  return t;
}

std::vector<TProgrammeSample> RecordProgrammeRun(const TCombinedTire& tire, TProgrammeRun run,
                                                 const TProgrammeOptions& o) {
  TProgrammeRig rig(tire, o);
  const double fz0 = rig.Fz0();
  const bool cornering = run == TProgrammeRun::kCornering;
  const double period = cornering ? o.slip_angle_period : o.slip_ratio_period;
  const double amplitude = cornering ? o.slip_angle_amplitude : o.slip_ratio_amplitude;
  const std::vector<double> angles =
      run == TProgrammeRun::kCombined ? o.held_slip_angles : std::vector<double>{0.0};
  if (o.warmup_seconds > 0 && !o.inclinations.empty() && !o.load_factors.empty()) {
    const double load = o.load_factors[(o.load_factors.size() - 1) / 2] * fz0;
    rig.Hold(o.warmup_seconds, [&](double t, double& ia, double& fz, double& sa, double& sr, double& grip) {
      ia = o.inclinations.front();
      fz = load;
      const double wave = amplitude * std::sin(2 * kPi * t / period);
      sa = cornering ? wave : 0;
      sr = cornering ? 0 : wave;
      grip = o.warmup_grip;
    });
  }
  for (double camber : o.inclinations) {
    rig.Gap();
    double previous_load = 0.3 * fz0, previous_angle = 0;
    for (double factor : o.load_factors) {
      const double target = factor * fz0;
      for (double held : angles) {
        // Load and slip angle move to the next set-up at zero slip ratio.
        rig.Hold(kRampSeconds, [&](double t, double& ia, double& fz, double& sa, double& sr, double&) {
          ia = camber;
          fz = previous_load + (target - previous_load) * t / kRampSeconds;
          sa = previous_angle + (held - previous_angle) * t / kRampSeconds;
          sr = 0;
        });
        previous_load = target;
        previous_angle = held;
        rig.Hold(period, [&](double t, double& ia, double& fz, double& sa, double& sr, double&) {
          ia = camber;
          fz = target;
          const double wave = amplitude * std::sin(2 * kPi * t / period);
          sa = cornering ? wave : held;
          sr = cornering ? 0 : wave;
        });
      }
    }
  }
  return std::move(rig.samples);
}

std::string FormatProgrammeDelimited(const std::vector<TProgrammeSample>& samples, const std::string& title) {
  std::string out;
  out.reserve(samples.size() * 110 + 256);
  out += title + "\n";
  out += "ET\tV\tSA\tIA\tP\tFX\tFY\tFZ\tMX\tMY\tMZ\tSL\n";
  out += "sec\tkph\tdeg\tdeg\tkPa\tN\tN\tN\tN-m\tN-m\tN-m\tnone\n";
  for (const TProgrammeSample& s : samples) {
    // SAE: load and slip angle negated from Morvex's; forces and moments as Morvex's.
    out += Number(s.time, 3) + "\t" + Number(s.speed, 2) + "\t" + Number(-s.slip_angle, 4) + "\t" +
           Number(s.inclination, 4) + "\t" + Number(s.pressure, 2) + "\t" + Number(s.fx, 2) + "\t" +
           (s.missing_fy ? std::string() : Number(s.fy, 2)) + "\t" + Number(-s.fz, 2) + "\t" + Number(s.mx, 3) +
           "\t" + Number(s.my, 3) + "\t" + Number(s.mz, 3) + "\t" + Number(s.slip_ratio, 5) + "\n";
  }
  return out;
}

std::string FormatProgrammeTydex(const std::vector<TProgrammeSample>& samples, const TCombinedTire& tire,
                                 const std::string& title) {
  std::string out = "**HEADER\n";
  out += Fixed("RELEASE", 10) + Fixed("Release of the format", 40) + "1.3\n";
  out += Fixed("MEASID", 10) + Fixed("Measurement", 40) + title.substr(0, 60) + "\n";
  out += "**CONSTANTS\n";
  out += Fixed("FNOMIN", 10) + Fixed("Rated load", 30) + Fixed("N", 10) + Number(tire.lateral.Fz0, 2) + "\n";
  out += Fixed("RFREE", 10) + Fixed("Unloaded radius", 30) + Fixed("m", 10) + Number(tire.r0, 4) + "\n";
  out += "**MEASURCHANNELS\n";
  const char* channels[][4] = {
      {"RUNTIME", "Time", "s", "1"},          {"LONGVEL", "Speed", "m/s", "1"},
      {"SLIPANGL", "Slip angle", "rad", "0.0174532925"}, {"INCLANGL", "Inclination", "deg", "1"},
      {"INFLPRES", "Pressure", "Pa", "1000"}, {"FX", "Longitudinal force", "N", "1"},
      {"FYW", "Lateral force", "N", "1"},     {"FZW", "Load", "N", "1"},
      {"MXW", "Overturning moment", "Nm", "1"}, {"MYW", "Rolling resistance moment", "Nm", "1"},
      {"MZW", "Aligning moment", "Nm", "1"},  {"LONGSLIP", "Slip ratio", "-", "1"}};
  for (const auto& c : channels) out += Fixed(c[0], 10) + Fixed(c[1], 30) + Fixed(c[2], 10) + Fixed(c[3], 10) + "\n";
  out += "**MEASURDATA\n";
  for (const TProgrammeSample& s : samples) {
    // ISO W-axis: lateral force and aligning moment negated from Morvex's;
    // the slip angle in degrees times the factor to radians, the pressure in kPa times 1000.
    out += Number(s.time, 3) + " " + Number(s.speed / 3.6, 4) + " " + Number(s.slip_angle, 4) + " " +
           Number(s.inclination, 4) + " " + Number(s.pressure, 2) + " " + Number(s.fx, 2) + " " +
           (s.missing_fy ? std::string("NOTAVAIL") : Number(-s.fy, 2)) + " " + Number(s.fz, 2) + " " +
           Number(s.mx, 3) + " " + Number(s.my, 3) + " " + Number(-s.mz, 3) + " " + Number(s.slip_ratio, 5) + "\n";
  }
  out += "**END\n";
  return out;
}

TProgrammeOptions SmallTydexProgramme(uint32_t seed) {
  TProgrammeOptions o;
  o.rate_hz = 25;
  o.inclinations = {0, 3};
  o.load_factors = {0.6, 1.0, 1.4};
  o.held_slip_angles = {-6, -3, 3, 6};
  o.slip_angle_period = 16;
  o.slip_ratio_period = 16;
  o.warmup_seconds = 20;
  o.seed = seed;
  o.tydex = true;
  return o;
}

std::vector<std::string> WriteProgramme(const TCombinedTire& tire, const std::string& folder,
                                        const TProgrammeOptions& options) {
  std::vector<std::string> paths;
  const struct {
    TProgrammeRun run;
    const char* stem;
    const char* what;
  } runs[] = {{TProgrammeRun::kCornering, "cornering", "cornering"},
              {TProgrammeRun::kDriveBrake, "drive-brake", "drive/brake"},
              {TProgrammeRun::kCombined, "combined", "drive/brake at held slip angles"}};
  for (const auto& r : runs) {
    const std::string title = "Simulated flat-track run, " + std::string(r.what) + ", tire " + tire.name;
    const std::vector<TProgrammeSample> samples = RecordProgrammeRun(tire, r.run, options);
    const std::string text = options.tydex ? FormatProgrammeTydex(samples, tire, title)
                                           : FormatProgrammeDelimited(samples, title);
    const std::string path = folder + "/" + r.stem + (options.tydex ? ".tdx" : ".dat");
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
    paths.push_back(path);
  }
  return paths;
}

}  // namespace morvex::examples
