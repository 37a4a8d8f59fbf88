// Two references for the property-file tests, written from published
// descriptions and not from Morvex's code:
//
// - StrictTirRead: a reader that parses a .tir as the strictest public
//   reader does (see the layout notes of TirFile.h): lines through a
//   200-character buffer, a comment from '$' on with the character before
//   the '$' dropped as well, keys compared as written (upper case), [UNITS]
//   keys cut one character before the '=', unit strings accepted only in
//   single quotes, numbers through std::stod.  It collects every complaint
//   such a reader would make instead of failing.
//
// - Mf52: the pure-slip equations of the 2002 Magic Formula (Pacejka, Tyre
//   and Vehicle Dynamics, 2002, section 4.3.2, equations 4.E1-4.E49), with
//   the scaling factors in their places, evaluated straight from the keys of
//   a property file (radians, newtons, metres, ISO signs).
#pragma once

#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace morvex::test {

struct TStrictTir {
  std::map<std::string, std::map<std::string, std::string>> text;  // section -> key -> raw value text
  std::vector<std::string> complaints;

  double Number(const std::string& section, const std::string& key) const {
    const auto s = text.find(section);
    if (s == text.end()) return NAN;
    const auto k = s->second.find(key);
    if (k == s->second.end()) return NAN;
    try {
      return std::stod(k->second);
    } catch (...) {
      return NAN;
    }
  }
  bool Has(const std::string& section, const std::string& key) const {
    const auto s = text.find(section);
    return s != text.end() && s->second.count(key) > 0;
  }
  // A factor, 1 when the file leaves it out; a key, 0 when left out (the
  // readers' default for every coefficient of the pure-slip equations
  // that these tests use).
  double Factor(const std::string& key) const {
    return Has("SCALING_COEFFICIENTS", key) ? Number("SCALING_COEFFICIENTS", key) : 1.0;
  }
  double Key(const std::string& section, const std::string& key) const {
    return Has(section, key) ? Number(section, key) : 0.0;
  }
};

inline std::string StrictTrim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  const size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

inline TStrictTir StrictTirRead(const std::string& path) {
  TStrictTir out;
  FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) {
    out.complaints.push_back("cannot open " + path);
    return out;
  }
  char buffer[200];
  std::string section;
  int chunk = 0;
  while (std::fgets(buffer, sizeof buffer, in)) {
    ++chunk;
    std::string line = buffer;
    if (line.empty() || line.back() != '\n') {
      if (!std::feof(in)) out.complaints.push_back("line chunk " + std::to_string(chunk) + " longer than 199 characters");
    } else {
      line.pop_back();
    }
    const std::string trimmed = StrictTrim(line);
    if (trimmed.empty() || trimmed[0] == '$' || trimmed[0] == '!') continue;
    if (trimmed[0] == '[') {
      section = trimmed.substr(1, trimmed.find(']') - 1);
      continue;
    }
    if (section == "SHAPE" || section == "DEFLECTION_LOAD_CURVE" || section == "BOTTOMING_CURVE") continue;
    std::string data = line;
    const size_t dollar = data.find('$');
    if (dollar != std::string::npos) data = data.substr(0, dollar == 0 ? 0 : dollar - 1);
    const size_t eq = data.find('=');
    if (eq == std::string::npos) {
      out.complaints.push_back("no '=' in [" + section + "]: " + line);
      continue;
    }
    std::string key = section == "UNITS" ? StrictTrim(data.substr(0, eq == 0 ? 0 : eq - 1)) : StrictTrim(data.substr(0, eq));
    const std::string value = StrictTrim(data.substr(eq + 1));
    for (char c : key)
      if (c >= 'a' && c <= 'z') out.complaints.push_back("key not in upper case: " + key);
    if (section == "UNITS") {
      if (value.size() < 2 || value.front() != '\'' || value.back() != '\'')
        out.complaints.push_back("unit not quoted: " + line);
    } else if (!value.empty() && value.front() != '\'') {
      size_t used = 0;
      try {
        std::stod(value, &used);
      } catch (...) {
        used = 0;
      }
      if (used == 0 || StrictTrim(value.substr(used)) != "")
        out.complaints.push_back("not a number for " + key + ": '" + value + "'");
    }
    if (section == "MODEL" && key == "PROPERTY_FILE_FORMAT" && value != "'PAC2002'" && value != "'MF_05'")
      out.complaints.push_back("PROPERTY_FILE_FORMAT " + value);
    out.text[section][key] = value;
  }
  std::fclose(in);
  return out;
}

// ------------------------------------------------ the 2002 pure-slip model

struct TMf52Point {
  double fy, mz, fx;
};

// alpha, gamma in radians, fz in newtons, kappa a fraction.
inline TMf52Point Mf52(const TStrictTir& f, double alpha, double gamma, double fz, double kappa) {
  const std::string L = "LATERAL_COEFFICIENTS", X = "LONGITUDINAL_COEFFICIENTS", Z = "ALIGNING_COEFFICIENTS";
  auto y = [&](const char* k) { return f.Key(L, k); };
  auto x = [&](const char* k) { return f.Key(X, k); };
  auto z = [&](const char* k) { return f.Key(Z, k); };
  auto l = [&](const char* k) { return f.Factor(k); };
  auto sgn = [](double v) { return v > 0 ? 1.0 : (v < 0 ? -1.0 : 0.0); };
  const double r0 = f.Number("DIMENSION", "UNLOADED_RADIUS");
  const double fz0 = f.Number("VERTICAL", "FNOMIN") * l("LFZO");  // (4.E1)
  const double dfz = (fz - fz0) / fz0;                               // (4.E2)

  // Lateral force (4.E19-4.E30).
  const double gy = gamma * l("LGAY");
  const double shy = (y("PHY1") + y("PHY2") * dfz) * l("LHY") + y("PHY3") * gy;
  const double ay = alpha + shy;
  const double cy = y("PCY1") * l("LCY");
  const double muy = (y("PDY1") + y("PDY2") * dfz) * (1 - y("PDY3") * gy * gy) * l("LMUY");
  const double dy = muy * fz;
  const double ey = std::min(1.0, (y("PEY1") + y("PEY2") * dfz) * (1 - (y("PEY3") + y("PEY4") * gy) * sgn(ay)) * l("LEY"));
  const double kya = y("PKY1") * fz0 * std::sin(2 * std::atan(fz / (y("PKY2") * fz0))) * (1 - y("PKY3") * std::fabs(gy)) *
                     l("LKY");
  const double by = kya / (cy * dy);
  const double svy = fz * ((y("PVY1") + y("PVY2") * dfz) * l("LVY") + (y("PVY3") + y("PVY4") * dfz) * gy) * l("LMUY");
  const double fy = dy * std::sin(cy * std::atan(by * ay - ey * (by * ay - std::atan(by * ay)))) + svy;

  // Aligning moment (4.E31-4.E49): trail times Fy0 plus the residual moment.
  const double gz = gamma * l("LGAZ");
  const double sht = z("QHZ1") + z("QHZ2") * dfz + (z("QHZ3") + z("QHZ4") * dfz) * gz;
  const double at = alpha + sht;
  const double shf = shy + svy / kya;
  const double ar = alpha + shf;
  const double bt = (z("QBZ1") + z("QBZ2") * dfz + z("QBZ3") * dfz * dfz) * (1 + z("QBZ4") * gz + z("QBZ5") * std::fabs(gz)) *
                    l("LKY") / l("LMUY");
  const double ct = z("QCZ1");
  const double dt = fz * (z("QDZ1") + z("QDZ2") * dfz) * (1 + z("QDZ3") * gz + z("QDZ4") * gz * gz) * (r0 / fz0) * l("LTR");
  const double et = std::min(
      1.0, (z("QEZ1") + z("QEZ2") * dfz + z("QEZ3") * dfz * dfz) *
               (1 + (z("QEZ4") + z("QEZ5") * gz) * (2 / M_PI) * std::atan(bt * ct * at)));
  const double t = dt * std::cos(ct * std::atan(bt * at - et * (bt * at - std::atan(bt * at)))) * std::cos(alpha);
  const double br = z("QBZ9") * l("LKY") / l("LMUY") + z("QBZ10") * by * cy;
  const double dr = fz * ((z("QDZ6") + z("QDZ7") * dfz) * l("LRES") + (z("QDZ8") + z("QDZ9") * dfz) * gz) * r0 * l("LMUY");
  const double mzr = dr * std::cos(std::atan(br * ar)) * std::cos(alpha);
  const double mz = -t * fy + mzr;

  // Longitudinal force (4.E9-4.E18).
  const double gx = gamma * l("LGAX");
  const double shx = (x("PHX1") + x("PHX2") * dfz) * l("LHX");
  const double kx_ = kappa + shx;
  const double cx = x("PCX1") * l("LCX");
  const double dx = (x("PDX1") + x("PDX2") * dfz) * (1 - x("PDX3") * gx * gx) * l("LMUX") * fz;
  const double ex = std::min(
      1.0, (x("PEX1") + x("PEX2") * dfz + x("PEX3") * dfz * dfz) * (1 - x("PEX4") * sgn(kx_)) * l("LEX"));
  const double kxk = fz * (x("PKX1") + x("PKX2") * dfz) * std::exp(x("PKX3") * dfz) * l("LKX");
  const double bx = kxk / (cx * dx);
  const double svx = fz * (x("PVX1") + x("PVX2") * dfz) * l("LVX") * l("LMUX");
  const double fx = dx * std::sin(cx * std::atan(bx * kx_ - ex * (bx * kx_ - std::atan(bx * kx_)))) + svx;
  return {fy, mz, fx};
}

}  // namespace morvex::test
