#include "files/TirFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <ctime>
#include <map>
#include <set>
#include <span>

#include "numerics/ProfileFile.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex {

namespace {

// ------------------------------------------------------------ small helpers

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::string Join(const std::vector<std::string>& items, const char* separator) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) out += (i ? separator : "") + items[i];
  return out;
}

// ------------------------------------------------------------------ mapping

// Where a coefficient lives in a property file.
struct TTirPlace {
  std::string section;
  std::string key;
};

TTirPlace PlaceOf(const TCoefficientInfo& info) {
  if (info.name == "Fz0") return {"VERTICAL", "FNOMIN"};
  if (info.name == "R0") return {"DIMENSION", "UNLOADED_RADIUS"};
  switch (info.group) {
    case TCoefficientGroup::kLateral:
      return {"LATERAL_COEFFICIENTS", AsciiUpper(info.name)};
    case TCoefficientGroup::kLongitudinal:
      return {"LONGITUDINAL_COEFFICIENTS", AsciiUpper(info.name)};
    default:
      return {"ALIGNING_COEFFICIENTS", AsciiUpper(info.name)};
  }
}

// Sections whose lines are tables of numbers, not key = value.
bool IsTableSection(std::string_view section) {
  return section == "SHAPE" || section == "DEFLECTION_LOAD_CURVE" || section == "BOTTOMING_CURVE";
}

// ------------------------------------------------------------------ parsing

struct TTirLine {
  enum TKind { kOther, kSection, kKey } kind = kOther;
  std::string section;  // the section the line is in (its own for a header), upper case
  std::string key;      // upper case
  std::string value;    // trimmed, without quotes and comment
  size_t value_begin = 0, value_end = 0;  // the raw value (quotes included) within the line
};

// Parses one line in `section` (updated by a section header).
TTirLine ParseTirLine(const std::string& text, std::string& section) {
  TTirLine line;
  const std::string_view trimmed = Trim(text);
  if (trimmed.empty() || trimmed.front() == '$' || trimmed.front() == '!') {
    line.section = section;
    return line;
  }
  if (trimmed.front() == '[') {
    const size_t close = trimmed.find(']');
    section = AsciiUpper(Trim(trimmed.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
    line.kind = TTirLine::kSection;
    line.section = section;
    return line;
  }
  line.section = section;
  if (IsTableSection(section)) return line;
  const size_t equals = text.find('=');
  if (equals == std::string::npos) return line;
  line.key = AsciiUpper(Trim(std::string_view(text).substr(0, equals)));
  if (line.key.empty()) return line;
  line.kind = TTirLine::kKey;
  size_t begin = equals + 1;
  while (begin < text.size() && IsSpace(text[begin])) ++begin;
  size_t end = begin;
  if (begin < text.size() && (text[begin] == '\'' || text[begin] == '"')) {
    const size_t close = text.find(text[begin], begin + 1);
    if (close != std::string::npos) {
      end = close + 1;
      line.value = std::string(Trim(std::string_view(text).substr(begin + 1, close - begin - 1)));
      line.value_begin = begin;
      line.value_end = end;
      return line;
    }
  }
  end = text.find_first_of("$!", begin);
  if (end == std::string::npos) end = text.size();
  while (end > begin && IsSpace(text[end - 1])) --end;
  line.value = text.substr(begin, end - begin);
  // An unclosed quote: the text without it.
  if (!line.value.empty() && (line.value.front() == '\'' || line.value.front() == '"'))
    line.value = std::string(Trim(std::string_view(line.value).substr(1)));
  line.value_begin = begin;
  line.value_end = end;
  return line;
}

std::vector<TTirLine> ParseTir(const TTextFile& file) {
  std::vector<TTirLine> lines;
  lines.reserve(file.lines.size());
  std::string section;
  for (const TTextLine& text : file.lines) lines.push_back(ParseTirLine(text.text, section));
  return lines;
}

// The key lines of a parsed file by key, each with its section and line.
struct TTirValue {
  std::string text;
  size_t line;  // 1-based
  std::string section;
};

class TTirKeys {
 public:
  explicit TTirKeys(const std::vector<TTirLine>& lines) {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].kind == TTirLine::kSection) ++sections_;
      // "KEY =" gives no value (published files write it so): as if absent.
      if (lines[i].kind == TTirLine::kKey && !Trim(lines[i].value).empty())
        values_[lines[i].key].push_back({lines[i].value, i + 1, lines[i].section});
    }
  }
  // `key` in `section` when it stands there, else the first occurrence in
  // another section; nullptr when the file lacks it.
  const TTirValue* Find(const std::string& section, const std::string& key) const {
    const auto it = values_.find(key);
    if (it == values_.end()) return nullptr;
    for (const TTirValue& v : it->second)
      if (v.section == section) return &v;
    return &it->second.front();
  }
  // Every occurrence of `key`, in file order.
  const std::vector<TTirValue>& All(const std::string& key) const {
    static const std::vector<TTirValue> none;
    const auto it = values_.find(key);
    return it == values_.end() ? none : it->second;
  }
  size_t SectionCount() const { return sections_; }
  bool HasSection(const std::string& section, const std::vector<TTirLine>& lines) const {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const TTirLine& l) { return l.kind == TTirLine::kSection && l.section == section; });
  }

 private:
  std::map<std::string, std::vector<TTirValue>> values_;
  size_t sections_ = 0;
};

std::string Where(const std::string& path, const TTirValue* value) {
  return value ? path + ", line " + std::to_string(value->line) : path;
}

// ---------------------------------------------------------------- versions

enum class TTirVersion { kMF52, kMF6 };

TTirVersion VersionOf(const TTirKeys& keys, const std::string& path, std::vector<std::string>& notes) {
  const TTirValue* fittyp = keys.Find("MODEL", "FITTYP");
  if (fittyp && fittyp->text.empty()) fittyp = nullptr;  // "FITTYP =" says nothing
  if (fittyp) {
    double value;
    if (TryStrToFloatPoint(fittyp->text, value)) {
      if (value == 6 || value == 21) return TTirVersion::kMF52;
      if (value == 61 || value == 62) return TTirVersion::kMF6;
      if (value == 5) {
        notes.push_back("FITTYP = 5 (MF-Tyre 5.0/5.1) in " + Where(path, fittyp) +
                        ": read with the Magic Formula 5.2 pure-slip equations, whose keys it shares.");
        return TTirVersion::kMF52;
      }
    }
    throw Exception("FITTYP = " + fittyp->text + " in " + Where(path, fittyp) +
                    ": Morvex reads Magic Formula 5.x (FITTYP 5, 6 or 21) and 6.1/6.2 (FITTYP 61 or 62) "
                    "property files");
  }
  const TTirValue* format = keys.Find("MODEL", "PROPERTY_FILE_FORMAT");
  if (format && !format->text.empty()) {
    const std::string name = AsciiUpper(format->text);
    if (name == "PAC2002" || name == "MF_05" || name == "MF_5.2" || name == "MF5.2") return TTirVersion::kMF52;
    throw Exception("PROPERTY_FILE_FORMAT = '" + format->text + "' in " + Where(path, format) +
                    ": Morvex reads PAC2002 (Magic Formula 5.2) and MF 6.1/6.2 property files");
  }
  notes.push_back(path + " states neither FITTYP nor PROPERTY_FILE_FORMAT in [MODEL]: read as Magic Formula 5.2.");
  return TTirVersion::kMF52;
}

// ------------------------------------------------------------------- units

struct TUnit {
  const char* name;
  double factor;  // to metres / newtons / radians
};

constexpr TUnit kLengthUnits[] = {{"METER", 1},    {"METERS", 1},   {"METRE", 1},       {"M", 1},
                                  {"MM", 1e-3},    {"CM", 1e-2},    {"KM", 1e3},        {"MILE", 1609.344},
                                  {"FOOT", 0.3048}, {"FEET", 0.3048}, {"FT", 0.3048},  {"IN", 0.0254},
                                  {"INCH", 0.0254}};
constexpr TUnit kForceUnits[] = {{"N", 1},
                                 {"NEWTON", 1},
                                 {"NEWTONS", 1},
                                 {"KN", 1e3},
                                 {"KNEWTON", 1e3},
                                 {"POUND_FORCE", 4.4482216152605},
                                 {"LBF", 4.4482216152605},
                                 {"KPOUND_FORCE", 4448.2216152605},
                                 {"DYNE", 1e-5},
                                 {"OUNCE_FORCE", 0.27801385095378125},
                                 {"KG_FORCE", 9.80665},
                                 {"KGF", 9.80665}};
constexpr TUnit kAngleUnits[] = {{"RAD", 1}, {"RADIAN", 1}, {"RADIANS", 1}};

// The factor of the unit under [UNITS] `key` (1 when the key is missing).
double UnitFactor(const TTirKeys& keys, const char* key, std::span<const TUnit> units, const std::string& path,
                  const char* what) {
  const TTirValue* value = keys.Find("UNITS", key);
  if (!value || Trim(value->text).empty()) return 1.0;  // missing or empty: the SI default
  const std::string name = AsciiUpper(Trim(value->text));
  for (const TUnit& unit : units)
    if (name == unit.name) return unit.factor;
  throw Exception(std::string(key) + " = '" + value->text + "' in [UNITS] of " + Where(path, value) +
                  ": unit '" + value->text + "' is not supported; Morvex reads " + what);
}

// --------------------------------------------------------- scaling factors

// Reads a scaling factor of the pure-slip equations (1 when missing).
double Factor(const TTirKeys& keys, const char* key, const std::string& path, std::vector<std::string>& folded) {
  const TTirValue* value = keys.Find("SCALING_COEFFICIENTS", key);
  if (!value) return 1.0;
  double factor;
  if (!TryStrToFloatPoint(value->text, factor) || !std::isfinite(factor) || factor == 0.0)
    throw Exception("Scaling factor " + std::string(key) + " = '" + value->text + "' in " + Where(path, value) +
                    " cannot be folded into the coefficients: Morvex's equations have every scaling factor "
                    "1, and a factor of 0 or one that is not a number has no equivalent set");
  if (factor != 1.0) folded.push_back(std::string(key) + " = " + value->text);
  return factor;
}

// Multiplies each named coefficient of `values` by `factor`.
void Scale(std::map<std::string, double>& values, std::initializer_list<const char*> names, double factor) {
  for (const char* name : names) {
    auto it = values.find(name);
    if (it != values.end()) it->second *= factor;
  }
}

// Folds the pure-slip scaling factors into `values` (table names).
void FoldScalingFactors(std::map<std::string, double>& v, const TTirKeys& keys, const std::string& path,
                        TTrailReading trail, std::vector<std::string>& notes) {
  // Speed-dependent friction has no counterpart in Morvex's equations.
  if (const TTirValue* lmuv = keys.Find("SCALING_COEFFICIENTS", "LMUV")) {
    double value;
    if (!TryStrToFloatPoint(lmuv->text, value) || value != 0.0)
      throw Exception("Scaling factor LMUV = '" + lmuv->text + "' in " + Where(path, lmuv) +
                      " makes the friction depend on speed, which Morvex's equations do not: set it to 0 "
                      "to import the file");
  }
  std::vector<std::string> folded;
  const double lfzo = Factor(keys, "LFZO", path, folded);
  const double lcy = Factor(keys, "LCY", path, folded), lmuy = Factor(keys, "LMUY", path, folded);
  const double ley = Factor(keys, "LEY", path, folded), lky = Factor(keys, "LKY", path, folded);
  const double lhy = Factor(keys, "LHY", path, folded), lvy = Factor(keys, "LVY", path, folded);
  const double lgay = Factor(keys, "LGAY", path, folded), ltr = Factor(keys, "LTR", path, folded);
  const double lres = Factor(keys, "LRES", path, folded), lgaz = Factor(keys, "LGAZ", path, folded);
  const double lkzc = Factor(keys, "LKZC", path, folded);
  const double lcx = Factor(keys, "LCX", path, folded), lmux = Factor(keys, "LMUX", path, folded);
  const double lex = Factor(keys, "LEX", path, folded), lkx = Factor(keys, "LKX", path, folded);
  const double lhx = Factor(keys, "LHX", path, folded), lvx = Factor(keys, "LVX", path, folded);
  const double lgax = Factor(keys, "LGAX", path, folded);
  if (folded.empty()) return;

  Scale(v, {"Fz0"}, lfzo);
  // The trail's R0/Fz0 read as R0/FNOMIN: the book's trail times LFZO.
  if (trail == TTrailReading::kUnscaledLoad) Scale(v, {"QDz1", "QDz2"}, lfzo);
  // Lateral force.
  Scale(v, {"PCy1"}, lcy);
  Scale(v, {"PDy1", "PDy2"}, lmuy);
  Scale(v, {"PEy1", "PEy2"}, ley);
  Scale(v, {"PKy1"}, lky);
  Scale(v, {"PHy1", "PHy2"}, lhy);
  Scale(v, {"PVy1", "PVy2"}, lvy * lmuy);
  Scale(v, {"PVy3", "PVy4"}, lgay * lmuy);
  Scale(v, {"PHy3", "PEy4"}, lgay);
  Scale(v, {"PKy3"}, std::fabs(lgay));
  Scale(v, {"PDy3"}, lgay * lgay);
  // Aligning moment.
  Scale(v, {"QBz1", "QBz2", "QBz3", "QBz9"}, lky / lmuy);
  Scale(v, {"QDz1", "QDz2"}, ltr);
  Scale(v, {"QDz6", "QDz7"}, lres * lmuy);
  Scale(v, {"QDz8", "QDz9"}, lgaz * lkzc * lmuy);
  Scale(v, {"QBz4", "QDz3", "QEz5", "QHz3", "QHz4"}, lgaz);
  Scale(v, {"QBz5"}, std::fabs(lgaz));
  Scale(v, {"QDz4"}, lgaz * lgaz);
  // Longitudinal force.
  Scale(v, {"PCx1"}, lcx);
  Scale(v, {"PDx1", "PDx2"}, lmux);
  Scale(v, {"PEx1", "PEx2", "PEx3"}, lex);
  Scale(v, {"PKx1", "PKx2"}, lkx);
  Scale(v, {"PHx1", "PHx2"}, lhx);
  Scale(v, {"PVx1", "PVx2"}, lvx * lmux);
  Scale(v, {"PDx3"}, lgax * lgax);
  notes.push_back("Scaling factors other than 1 were folded exactly into the coefficients they multiply "
                  "(Morvex's equations have every factor 1): " +
                  Join(folded, ", ") + ".");
}

// ------------------------------------------------------------- MF 6.x terms

// Terms of the MF 6.1/6.2 pure-slip equations that the 2002 ones lack, with
// the value at which they drop out.
struct TDroppedTerm {
  const char* section;
  const char* key;
  double neutral;
};
constexpr TDroppedTerm kMF6Terms[] = {
    {"LATERAL_COEFFICIENTS", "PKY4", 2},      {"LATERAL_COEFFICIENTS", "PKY5", 0},
    {"LATERAL_COEFFICIENTS", "PKY6", 0},      {"LATERAL_COEFFICIENTS", "PKY7", 0},
    {"LATERAL_COEFFICIENTS", "PEY5", 0},      {"LATERAL_COEFFICIENTS", "PPY1", 0},
    {"LATERAL_COEFFICIENTS", "PPY2", 0},      {"LATERAL_COEFFICIENTS", "PPY3", 0},
    {"LATERAL_COEFFICIENTS", "PPY4", 0},      {"LATERAL_COEFFICIENTS", "PPY5", 0},
    {"LONGITUDINAL_COEFFICIENTS", "PPX1", 0}, {"LONGITUDINAL_COEFFICIENTS", "PPX2", 0},
    {"LONGITUDINAL_COEFFICIENTS", "PPX3", 0}, {"LONGITUDINAL_COEFFICIENTS", "PPX4", 0},
    {"ALIGNING_COEFFICIENTS", "QDZ10", 0},    {"ALIGNING_COEFFICIENTS", "QDZ11", 0},
    {"ALIGNING_COEFFICIENTS", "PPZ1", 0},     {"ALIGNING_COEFFICIENTS", "PPZ2", 0},
    {"SCALING_COEFFICIENTS", "LKYC", 1},
};

std::string MF6Note(const TTirKeys& keys, const std::string& path) {
  std::vector<std::string> dropped;
  for (const TDroppedTerm& term : kMF6Terms) {
    const TTirValue* value = keys.Find(term.section, term.key);
    double number;
    if (value && TryStrToFloatPoint(value->text, number) && number != term.neutral)
      dropped.push_back(std::string(term.key) + " = " + value->text);
  }
  return path +
         " is a Magic Formula 6.x property file; Morvex fits the 2002 (MF 5.2) equations, which lack "
         "the pressure terms, the camber stiffness PKY6/PKY7 and the terms PKY4, PKY5, PEY5, QDZ10, QDZ11. " +
         (dropped.empty() ? std::string("No such term is set in this file, ")
                          : "Dropped: " + Join(dropped, ", ") + ". ") +
         "camber and large slip angles enter the two models differently: the set is an approximation, "
         "refit it to measured data before use.";
}

// ---------------------------------------------------------------- numbers

bool EndsWithTir(const std::string& path) {
  if (path.size() < 4) return false;
  return AsciiUpper(path.substr(path.size() - 4)) == ".TIR";
}

std::string DateNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M", &local);
  return buffer;
}

// Comment lines of at most `width` characters after "$ ", long words cut.
std::vector<std::string> CommentLines(const std::string& prefix, const std::string& text, size_t width = 150) {
  std::vector<std::string> lines;
  std::string rest = text;
  while (true) {
    if (rest.size() <= width) {
      lines.push_back(prefix + rest);
      break;
    }
    size_t cut = rest.rfind(' ', width);
    if (cut == std::string::npos || cut < width / 2) cut = width;
    lines.push_back(prefix + rest.substr(0, cut));
    rest = std::string(Trim(rest.substr(cut)));
  }
  return lines;
}

// ------------------------------------------------------------ export layout

struct TKeyLine {
  const char* key;
  std::string value;  // as written (quoted strings included)
  const char* comment;
};

struct TSectionLayout {
  const char* name;
  std::vector<TKeyLine> keys;
};

std::string Q(const char* text) { return std::string("'") + text + "'"; }
// A placeholder derived from a fitted value; 0 when the derivation overflows.
std::string N(double value) { return TirNumber(std::isfinite(value) ? value : 0.0); }

// The full MF 5.2 (PAC2002) layout; the 60 coefficients' values are filled in
// afterwards.  Values that a pure-slip fit does not give are neutral: every
// scaling factor 1, pressure, overturning and combined-slip terms 0 (with
// RCX1 = RCY1 = 1 the combined-slip weights are 1), and the placeholders of
// a passenger car tire elsewhere.
std::vector<TSectionLayout> FullLayout(double r0, double fz0, const TTirExportOptions& options) {
  const TTirRanges& ranges = options.info.ranges;
  const bool combined = options.combined.has_value();
  const bool longvl_read = options.longvl.has_value();
  // Comments point into `options` or are literals: the layout is used while `options` lives.
  const char* use_mode_note = !options.use_mode_note.empty() ? options.use_mode_note.c_str()
                              : combined ? "combined slip: coefficients of the property file read"
                                         : "uncombined: no combined-slip coefficients were fitted";
  const char* pressure_note = options.pressure ? "as measured" : "placeholder";
  auto range = [](const std::optional<std::pair<double, double>>& r, double low, double high) {
    return r ? std::pair<std::string, std::string>{N(r->first), N(r->second)}
             : std::pair<std::string, std::string>{N(low), N(high)};
  };
  const auto kappa = range(ranges.slip_ratio, -1.5, 1.5);
  const auto alpha = range(ranges.slip_angle, -1.5708, 1.5708);
  const auto gamma = range(ranges.camber, -0.26181, 0.26181);
  const auto load = range(ranges.load, 0, std::fabs(fz0) * 3);
  std::vector<TSectionLayout> s;
  s.push_back({"MDI_HEADER",
               {{"FILE_TYPE", Q("tir"), nullptr}, {"FILE_VERSION", "3.0", nullptr}, {"FILE_FORMAT", Q("ASCII"), nullptr}}});
  s.push_back({"UNITS",
               {{"LENGTH", Q("meter"), nullptr},
                {"FORCE", Q("newton"), nullptr},
                {"ANGLE", Q("radian"), nullptr},
                {"MASS", Q("kg"), nullptr},
                {"TIME", Q("second"), nullptr}}});
  s.push_back({"MODEL",
               {{"PROPERTY_FILE_FORMAT", Q("PAC2002"), nullptr},
                {"FITTYP", "6", "Magic Formula 5.2"},
                {"USE_MODE", "3", use_mode_note},
                {"TYRESIDE", Q("LEFT"), nullptr},
                {"LONGVL", "16.7", longvl_read ? "measurement speed, as read" : "reference speed, not fitted"},
                {"VXLOW", "1", nullptr}}});
  s.push_back({"DIMENSION",
               {{"UNLOADED_RADIUS", N(r0), "fitted set"},
                {"WIDTH", "0.205", "placeholder"},
                {"ASPECT_RATIO", "0.6", "placeholder"},
                {"RIM_RADIUS", N(std::fabs(r0) * 0.6), "placeholder"},
                {"RIM_WIDTH", "0.15", "placeholder"},
                {"BOTTOMING_RADIUS", N(std::fabs(r0) * 0.63), "placeholder"}}});
  s.push_back({"OPERATING_CONDITIONS",
               {{"INFLPRES", "220000", pressure_note}, {"NOMPRES", "220000", pressure_note}}});
  s.push_back({"TIRE_CONDITIONS", {{"IP", "220000", pressure_note}, {"IP_NOM", "220000", pressure_note}}});
  s.push_back({"VERTICAL",
               {{"FNOMIN", N(fz0), "fitted set"},
                {"VERTICAL_STIFFNESS", "200000", "placeholder"},
                {"VERTICAL_DAMPING", "50", "placeholder"},
                {"BREFF", "8.4", "placeholder"},
                {"DREFF", "0.27", "placeholder"},
                {"FREFF", "0.07", "placeholder"}}});
  const char* kData = "range of the fitted data";
  s.push_back({"LONG_SLIP_RANGE", {{"KPUMIN", kappa.first, ranges.slip_ratio ? kData : nullptr},
                                   {"KPUMAX", kappa.second, nullptr}}});
  s.push_back({"SLIP_ANGLE_RANGE", {{"ALPMIN", alpha.first, ranges.slip_angle ? kData : nullptr},
                                    {"ALPMAX", alpha.second, nullptr}}});
  s.push_back({"INCLINATION_ANGLE_RANGE", {{"CAMMIN", gamma.first, ranges.camber ? kData : nullptr},
                                           {"CAMMAX", gamma.second, nullptr}}});
  s.push_back({"VERTICAL_FORCE_RANGE", {{"FZMIN", load.first, ranges.load ? kData : nullptr},
                                        {"FZMAX", load.second, nullptr}}});
  TSectionLayout scaling{"SCALING_COEFFICIENTS", {}};
  for (const char* key : {"LFZO", "LCX", "LMUX", "LEX", "LKX", "LHX", "LVX", "LGAX", "LCY", "LMUY", "LEY",
                          "LKY", "LHY", "LVY", "LGAY", "LTR", "LRES", "LGAZ", "LXAL", "LYKA", "LVYKA", "LS",
                          "LSGKP", "LSGAL", "LGYR", "LMX", "LVMX", "LMY", "LIP"})
    scaling.keys.push_back({key, "1", nullptr});
  s.push_back(scaling);
  auto coefficients = [](const char* section, std::initializer_list<const char*> fitted,
                         std::vector<TKeyLine> neutral) {
    TSectionLayout layout{section, {}};
    for (const char* key : fitted) layout.keys.push_back({key, "0", nullptr});
    for (TKeyLine& line : neutral) layout.keys.push_back(std::move(line));
    return layout;
  };
  s.push_back(coefficients("LONGITUDINAL_COEFFICIENTS",
                           {"PCX1", "PDX1", "PDX2", "PDX3", "PEX1", "PEX2", "PEX3", "PEX4", "PKX1", "PKX2", "PKX3",
                            "PHX1", "PHX2", "PVX1", "PVX2"},
                           {{"PPX1", "0", "not fitted"},
                            {"PPX2", "0", nullptr},
                            {"PPX3", "0", nullptr},
                            {"PPX4", "0", nullptr},
                            {"RBX1", "0", combined ? "combined slip, as read" : "combined slip not fitted: weights of 1"},
                            {"RBX2", "0", nullptr},
                            {"RCX1", "1", nullptr},
                            {"REX1", "0", nullptr},
                            {"REX2", "0", nullptr},
                            {"RHX1", "0", nullptr},
                            {"PTX1", "1.5", "relaxation, placeholder"},
                            {"PTX2", "1.4", nullptr},
                            {"PTX3", "1", nullptr}}));
  s.push_back({"OVERTURNING_COEFFICIENTS",
               {{"QSX1", "0", combined ? "as read" : "not fitted"}, {"QSX2", "0", nullptr}, {"QSX3", "0", nullptr}}});
  s.push_back(coefficients("LATERAL_COEFFICIENTS",
                           {"PCY1", "PDY1", "PDY2", "PDY3", "PEY1", "PEY2", "PEY3", "PEY4", "PKY1", "PKY2", "PKY3",
                            "PHY1", "PHY2", "PHY3", "PVY1", "PVY2", "PVY3", "PVY4"},
                           {{"PPY1", "0", "not fitted"},
                            {"PPY2", "0", nullptr},
                            {"PPY3", "0", nullptr},
                            {"PPY4", "0", nullptr},
                            {"RBY1", "0", combined ? "combined slip, as read" : "combined slip not fitted: weights of 1"},
                            {"RBY2", "0", nullptr},
                            {"RBY3", "0", nullptr},
                            {"RCY1", "1", nullptr},
                            {"REY1", "0", nullptr},
                            {"REY2", "0", nullptr},
                            {"RHY1", "0", nullptr},
                            {"RHY2", "0", nullptr},
                            {"RVY1", "0", nullptr},
                            {"RVY2", "0", nullptr},
                            {"RVY3", "0", nullptr},
                            {"RVY4", "0", nullptr},
                            {"RVY5", "0", nullptr},
                            {"RVY6", "0", nullptr},
                            {"PTY1", "1.2", "relaxation, placeholder"},
                            {"PTY2", "2.5", nullptr}}));
  s.push_back({"ROLLING_COEFFICIENTS",
               {{"QSY1", "0.01", combined ? "as read" : "placeholder"},
                {"QSY2", "0", nullptr},
                {"QSY3", "0", nullptr},
                {"QSY4", "0", nullptr}}});
  s.push_back(coefficients("ALIGNING_COEFFICIENTS",
                           {"QBZ1", "QBZ2", "QBZ3", "QBZ4", "QBZ5", "QBZ9", "QBZ10", "QCZ1", "QDZ1", "QDZ2", "QDZ3",
                            "QDZ4", "QDZ6", "QDZ7", "QDZ8", "QDZ9", "QEZ1", "QEZ2", "QEZ3", "QEZ4", "QEZ5", "QHZ1",
                            "QHZ2", "QHZ3", "QHZ4"},
                           {{"QPZ1", "0", "not fitted"},
                            {"QPZ2", "0", nullptr},
                            {"SSZ1", "0", nullptr},
                            {"SSZ2", "0", nullptr},
                            {"SSZ3", "0", nullptr},
                            {"SSZ4", "0", nullptr},
                            {"QTZ1", "0", nullptr},
                            {"MBELT", "0", nullptr}}));
  return s;
}

std::string KeyLineText(const std::string& key, const std::string& value, const char* comment) {
  std::string line = key;
  if (line.size() < 25) line.resize(25, ' ');
  line += " = " + value;
  if (comment) {
    if (line.size() < 50) line.resize(50, ' ');
    line += std::string(" $") + comment;
  }
  return line;
}

std::string SeparatorLine(const std::string& section) {
  const std::string name = AsciiLower(section);
  std::string line = "$";
  const size_t dashes = name.size() < 70 ? 70 - name.size() : 4;
  line += std::string(dashes, '-') + name;
  return line;
}

constexpr const char* kHeaderPrefix = "$ Morvex: ";

}  // namespace

bool IsTirPath(const std::string& path) { return EndsWithTir(path); }

void AddDataRanges(TTirRanges& ranges, const TTireDataSet& data, bool slip_is_angle) {
  auto widen = [](std::optional<std::pair<double, double>>& r, double v) {
    if (!std::isfinite(v)) return;
    if (!r)
      r = std::pair<double, double>{v, v};
    else
      r = std::pair<double, double>{std::min(r->first, v), std::max(r->second, v)};
  };
  constexpr double kRad = M_PI / 180.0;
  for (const TLoadCase& lc : data.Cases) {
    if (lc.Loads.empty() || lc.Slips.empty()) continue;
    widen(ranges.camber, lc.Camber * kRad);
    for (double load : lc.Loads)
      if (load > 0) widen(ranges.load, load);
    for (double slip : lc.Slips) widen(slip_is_angle ? ranges.slip_angle : ranges.slip_ratio, slip_is_angle ? slip * kRad : slip);
  }
}

std::string TirNumber(double value) {
  // A subnormal number is written as 0: readers that parse with std::stod
  // throw on it (the C library reports it as a range error).
  if (value == 0.0 || std::fpclassify(value) == FP_SUBNORMAL) return "0";
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  double back;
  // Next to the largest double, 15 digits round beyond the double range.
  if (!TryStrToFloatPoint(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)), back))
    result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 17);
  return std::string(buffer, result.ptr);
}

// ------------------------------------------------------------------ import

namespace {

// Keys whose 0 would not leave a term out but break the equations: a shape
// factor of 0 flattens the curve to its shift, a peak or stiffness factor
// of 0 divides B by zero or leaves no force, PKY2 = 0 makes the cornering
// stiffness sin(2*atan(infinity)) = 0, and QBZ1 = 0 keeps the trail at its
// peak at every slip angle.
constexpr const char* kKeysWithoutNeutralZero[] = {"PCY1", "PDY1", "PKY1", "PKY2", "PCX1",
                                                   "PDX1", "PKX1", "QBZ1", "QCZ1", "QDZ1"};

// The other keys the import reads: scaling factors and version keys.  With
// the 60 coefficients, a key of these written twice must not be ambiguous.
constexpr const char* kOtherReadKeys[] = {
    "LFZO", "LCY",  "LMUY", "LEY", "LKY", "LHY", "LVY", "LGAY", "LTR", "LRES", "LGAZ", "LKZC", "LCX",
    "LMUX", "LEX",  "LKX",  "LHX", "LVX", "LGAX", "LMUV", "FITTYP", "PROPERTY_FILE_FORMAT", "TYRESIDE"};

bool SameValue(const std::string& a, const std::string& b) {
  double x, y;
  if (TryStrToFloatPoint(a, x) && TryStrToFloatPoint(b, y)) return x == y || (std::isnan(x) && std::isnan(y));
  return AsciiUpper(a) == AsciiUpper(b);
}

// Refuses a file that is empty, not text, or has no section; `what` names
// the file's role ("" for an imported file, "template " for a template).
void CheckPropertyFileShape(const TTextFile& file, const TTirKeys& keys, const std::string& path,
                            const std::string& what) {
  bool any = false;
  for (size_t i = 0; i < file.lines.size(); ++i) {
    const std::string& text = file.lines[i].text;
    if (text.find('\0') != std::string::npos)
      throw Exception("The " + what + "file " + path + " is not a property file: line " + std::to_string(i + 1) +
                      " holds a NUL byte, which no text file does");
    if (!Trim(text).empty()) any = true;
  }
  if (!any) throw Exception("The " + what + "file " + path + " is empty: a property file holds [SECTION] lines and "
                            "KEY = value lines");
  if (keys.SectionCount() == 0)
    throw Exception("The " + what + "file " + path + " has no section line such as [VERTICAL]: it is not a property "
                    "file");
}

// A key the import reads that stands twice: the same value is a note, two
// values are refused with both lines.
// The combined-slip, overturning and rolling-resistance keys, in the
// order of the coefficient struct.
constexpr std::string_view kCombinedKeys[] = {
#define MORVEX_KEY(name) #name,
    MORVEX_COMBINED_COEFFICIENTS(MORVEX_KEY)
#undef MORVEX_KEY
};

// Scaling factors of the combined-slip, Mx and My equations, each a plain
// product in them: folded into the coefficients they multiply.
void FoldCombinedFactors(std::map<std::string, double>& v, const TTirKeys& keys, const std::string& path,
                         std::vector<std::string>& folded) {
  Scale(v, {"RBX1"}, Factor(keys, "LXAL", path, folded));
  Scale(v, {"RBY1"}, Factor(keys, "LYKA", path, folded));
  Scale(v, {"RVY1", "RVY2", "RVY3"}, Factor(keys, "LVYKA", path, folded));
  Scale(v, {"SSZ1", "SSZ2", "SSZ3", "SSZ4"}, Factor(keys, "LS", path, folded));
  const double lmx = Factor(keys, "LMX", path, folded);
  Scale(v, {"QSX1"}, lmx * Factor(keys, "LVMX", path, folded));
  Scale(v, {"QSX2", "QSX3"}, lmx);
  Scale(v, {"QSY1", "QSY2", "QSY3", "QSY4"}, Factor(keys, "LMY", path, folded));
}

void CheckRepeatedKeys(const TTirKeys& keys, const std::string& path, std::vector<std::string>& notes) {
  std::vector<std::string> names;
  for (const TCoefficientInfo& info : Coefficients()) names.push_back(PlaceOf(info).key);
  for (const char* key : kOtherReadKeys) names.push_back(key);
  for (std::string_view key : kCombinedKeys) names.emplace_back(key);
  std::vector<std::string> repeated;
  for (const std::string& name : names) {
    const std::vector<TTirValue>& all = keys.All(name);
    if (all.size() < 2) continue;
    for (size_t i = 1; i < all.size(); ++i)
      if (!SameValue(all[0].text, all[i].text))
        throw Exception(name + " stands twice in " + path + ": line " + std::to_string(all[0].line) + " (" + name +
                        " = " + all[0].text + ") and line " + std::to_string(all[i].line) + " (" + name + " = " +
                        all[i].text + "); which one is meant is not clear, so the file is not read: remove one");
    repeated.push_back(name + " (lines " + std::to_string(all[0].line) + " and " + std::to_string(all[1].line) + ")");
  }
  if (!repeated.empty())
    notes.push_back("Written twice with the same value in " + path + ": " + Join(repeated, ", ") + ".");
}

}  // namespace

std::optional<TTrailReading> ParseTrailReading(std::string_view text) {
  const std::string upper = AsciiUpper(text);
  if (upper == "BOOK") return TTrailReading::kBook;
  if (upper == "FNOMIN") return TTrailReading::kUnscaledLoad;
  return std::nullopt;
}

std::string DescribeTrailReading(TTrailReading reading) {
  return reading == TTrailReading::kBook ? "R0/(FNOMIN*LFZO), the book's reading"
                                         : "R0/FNOMIN, the book's trail times LFZO";
}

std::optional<double> TirLoadScale(const std::string& path) {
  TTextFile file;
  if (!ReadTextFile(path, file)) return std::nullopt;
  const TTirKeys keys(ParseTir(file));
  const TTirValue* value = keys.Find("SCALING_COEFFICIENTS", "LFZO");
  double lfzo;
  if (!value || !TryStrToFloatPoint(value->text, lfzo) || !std::isfinite(lfzo) || lfzo == 1.0) return std::nullopt;
  return lfzo;
}

TTirImportResult ImportTir(TCoefficientSet& set, const std::string& path, std::optional<TSignConvention> convention) {
  TTirReadOptions options;
  options.convention = convention;
  return ImportTir(set, path, options);
}

TTirImportResult ImportTir(TCoefficientSet& set, const std::string& path, const TTirReadOptions& options) {
  TTextFile file;
  if (!ReadTextFile(path, file)) throw EFOpenError(path);
  const std::vector<TTirLine> lines = ParseTir(file);
  const TTirKeys keys(lines);
  CheckPropertyFileShape(file, keys, path, "");
  TTirImportResult result;

  // Values first: what the file holds decides whether it is a property
  // file at all, before its version or units are judged.
  std::map<std::string, double> values;  // by table name, in the file's convention and units
  std::vector<std::string> absent, unreadable, lacking;
  bool any_key = false;
  for (const TCoefficientInfo& info : Coefficients()) {
    const TTirPlace place = PlaceOf(info);
    const TTirValue* value = keys.Find(place.section, place.key);
    if (value) any_key = true;
    if (!value) {
      absent.push_back(place.key);
      continue;
    }
    double number;
    if (!TryStrToFloatPoint(value->text, number) || !std::isfinite(number)) {
      unreadable.push_back(place.key + " = '" + value->text + "' (line " + std::to_string(value->line) + ")");
      continue;
    }
    values[std::string(info.name)] = number;
  }
  std::map<std::string, double> combined;  // by key, in the file's convention
  for (std::string_view key_view : kCombinedKeys) {
    const std::string key(key_view);
    const TTirValue* value = keys.Find(std::string(CombinedKeySection(key)), key);
    if (!value || Trim(value->text).empty()) continue;
    double number;
    if (!TryStrToFloatPoint(value->text, number) || !std::isfinite(number)) {
      unreadable.push_back(key + " = '" + value->text + "' (line " + std::to_string(value->line) + ")");
      continue;
    }
    combined[key] = number;
    result.combined_keys.push_back(key);
  }
  if (!any_key)
    throw Exception(path + " holds none of the keys of a Magic Formula property file (FNOMIN, UNLOADED_RADIUS, "
                           "PCY1, PCX1, QBZ1, ...): it is not a property file");
  if (!unreadable.empty())
    throw Exception("Not a finite number in " + path + ": " + Join(unreadable, ", ") +
                    ". Morvex does not read a coefficient it cannot take as a number; correct the line");
  CheckRepeatedKeys(keys, path, result.notes);

  const TTirVersion version = VersionOf(keys, path, result.notes);
  const double length = UnitFactor(keys, "LENGTH", kLengthUnits, path,
                                   "lengths in meter, mm, cm, km, mile, foot or in");
  const double force = UnitFactor(keys, "FORCE", kForceUnits, path,
                                  "forces in newton, kn, pound_force, kpound_force, dyne, ounce_force or kg_force");
  UnitFactor(keys, "ANGLE", kAngleUnits, path, "angles in radians, the unit of the coefficients of the 2002 equations");
  if (values.count("R0")) values["R0"] *= length;
  if (values.count("Fz0")) values["Fz0"] *= force;
  if (length != 1.0 || force != 1.0)
    result.notes.push_back("UNLOADED_RADIUS and FNOMIN were converted from the units of [UNITS] to metres and "
                           "newtons.");

  // FNOMIN and UNLOADED_RADIUS: the file's, else the caller's, else refused.
  auto supply = [&](const char* name, const char* key, const std::optional<double>& given, bool& supplied) {
    const auto it = std::find(absent.begin(), absent.end(), key);
    if (it == absent.end()) return;
    absent.erase(it);
    if (given) {
      values[name] = *given;
      supplied = true;
    } else {
      lacking.push_back(key);
    }
  };
  supply("Fz0", "FNOMIN", options.fz0, result.fz0_supplied);
  supply("R0", "UNLOADED_RADIUS", options.r0, result.r0_supplied);
  const bool lacks_size = !lacking.empty();
  bool lacks_factor = false;
  for (const char* key : kKeysWithoutNeutralZero)
    if (std::find(absent.begin(), absent.end(), key) != absent.end()) {
      lacking.push_back(key);
      lacks_factor = true;
    }
  if (!lacking.empty()) {
    std::string message = path + " lacks " + Join(lacking, ", ") + ".";
    if (lacks_size)
      message += " The rated load FNOMIN and the radius UNLOADED_RADIUS come from the file or are given with the "
                 "import (morvex-fit --fz0 N, --r0 M); Morvex takes no other tire's value for them.";
    if (lacks_factor)
      message += " A shape, peak or stiffness factor has no value that leaves its term out (0 breaks the "
                 "equations), so the file must give it.";
    throw Exception(message);
  }
  if (result.fz0_supplied)
    result.notes.push_back("FNOMIN is not in " + path + ": the rated load given with the import, " +
                           TirNumber(*options.fz0) + " N, was taken.");
  if (result.r0_supplied)
    result.notes.push_back("UNLOADED_RADIUS is not in " + path + ": the radius given with the import, " +
                           TirNumber(*options.r0) + " m, was taken.");
  for (const std::string& key : absent)
    for (const TCoefficientInfo& info : Coefficients())
      if (PlaceOf(info).key == key) values[std::string(info.name)] = 0.0;
  result.absent = absent;

  FoldScalingFactors(values, keys, path, options.trail, result.notes);
  if (!combined.empty()) {
    std::vector<std::string> folded;
    FoldCombinedFactors(combined, keys, path, folded);
    if (!folded.empty())
      result.notes.push_back("Scaling factors of the combined-slip, Mx and My equations folded into their "
                             "coefficients: " + Join(folded, ", ") + ".");
    for (const auto& [key, value] : combined)
      if (!std::isfinite(value))
        throw Exception("Folding the scaling factors of " + path + " into " + key +
                        " gives a number beyond the double range");
  }
  if (const TTirValue* longvl = keys.Find("MODEL", "LONGVL")) {
    double speed;
    if (TryStrToFloatPoint(longvl->text, speed) && std::isfinite(speed) && speed > 0) result.longvl = speed;
  }
  for (const auto& [name, value] : values)
    if (!std::isfinite(value))
      throw Exception("Folding the scaling factors of " + path + " into " + name +
                      " gives a number beyond the double range");
  if (const TTirValue* lfzo = keys.Find("SCALING_COEFFICIENTS", "LFZO")) {
    double factor;
    if (TryStrToFloatPoint(lfzo->text, factor) && factor != 1.0) {
      result.lfzo = factor;
      result.notes.push_back(
          "LFZO = " + lfzo->text + " in " + Where(path, lfzo) + ": the aligning trail was read as " +
          DescribeTrailReading(options.trail) + ". Published evaluators differ here: the other reading, " +
          DescribeTrailReading(options.trail == TTrailReading::kBook ? TTrailReading::kUnscaledLoad
                                                                     : TTrailReading::kBook) +
          ", gives another Mz (Fx and Fy are the same) and can be chosen for the import.");
    }
  }
  if (version == TTirVersion::kMF6) result.notes.push_back(MF6Note(keys, path));
  if (const TTirValue* side = keys.Find("MODEL", "TYRESIDE"); side && AsciiUpper(side->text) == "RIGHT")
    result.notes.push_back("TYRESIDE = 'RIGHT' in " + Where(path, side) +
                           ": the coefficients describe the tire as measured on the right side; they were "
                           "taken as they are, not mirrored.");

  // Signs: the file is ISO; the set gets the chosen convention.
  result.convention = options.convention.value_or(ConventionOfSet(set));
  const auto pky1 = values.find("PKy1");
  if (pky1 != values.end() && pky1->second > 0)
    result.notes.push_back("PKY1 = " + TirNumber(pky1->second) + " in " + path +
                           " is positive although property files are ISO (PKY1 < 0); the file was read as "
                           "ISO all the same.");
  std::vector<std::string> flipped;
  if (result.convention == TSignConvention::kPositiveStiffness) {
    for (auto& [name, value] : values)
      if (SignFactor(name) < 0) {
        if (value != 0.0) value = -value;  // no "-0" in the panel
        flipped.push_back(AsciiUpper(name));
      }
  }
  for (auto& [key, value] : combined) {
    if (result.convention == TSignConvention::kPositiveStiffness && CombinedSignFactor(key) < 0 && value != 0.0) {
      value = -value;
      flipped.push_back(key);
    }
    result.combined.*CombinedMember(key) = value;
  }
  if (!combined.empty())
    result.notes.push_back("Combined slip, overturning and rolling resistance: " +
                           std::to_string(result.combined_keys.size()) + " of their " +
                           std::to_string(std::size(kCombinedKeys)) +
                           " keys were read; any other is 0, which leaves its term out.");
  std::string convention_note = "Sign convention of the imported set: " + DescribeSignConvention(result.convention);
  if (result.convention == TSignConvention::kPositiveStiffness)
    convention_note += "; converted from the file's ISO values by negating " +
                       Join(flipped, ", ") + ".";
  else
    convention_note += "; the file's ISO values were taken as they are.";
  result.notes.insert(result.notes.begin(), convention_note);

  if (!absent.empty())
    result.notes.push_back("Not in " + path + ", taken as 0, the value with which the 2002 equations leave their "
                           "term out: " + Join(absent, ", ") + ".");

  for (const auto& [name, value] : values) {
    std::string text = FloatToStrF(value, TFloatFormat::kGeneral, 15, 0);
    double back;
    if (!TryStrToFloat(text, back)) text = FloatToStrF(value, TFloatFormat::kGeneral, 17, 0);
    set.SetText(name, text);
  }
  return result;
}

// ------------------------------------------------------------------ export

namespace {

// The 60 values in ISO, by (section, key) of the property file.
std::map<std::pair<std::string, std::string>, double> IsoValues(const TCoefficientSet& set,
                                                                TSignConvention convention,
                                                                const TTirExportOptions& options) {
  std::map<std::pair<std::string, std::string>, double> out;
  for (const TCoefficientInfo& info : Coefficients()) {
    double value = set.Value(info.name);  // EConvertError before anything is written
    if (convention == TSignConvention::kPositiveStiffness) value *= SignFactor(info.name);
    const TTirPlace place = PlaceOf(info);
    out[{place.section, place.key}] = value;
  }
  if (options.combined) {
    for (std::string_view key : kCombinedKeys) {
      double value = (*options.combined).*CombinedMember(key);
      if (convention == TSignConvention::kPositiveStiffness) value *= CombinedSignFactor(key);
      if (!std::isfinite(value)) throw EConvertError("The combined-slip coefficient " + std::string(key) + " is not a finite number");
      out[{std::string(CombinedKeySection(key)), std::string(key)}] = value == 0.0 ? 0.0 : value;
    }
    out[{"MODEL", "USE_MODE"}] = 4;
  }
  if (options.use_mode) out[{"MODEL", "USE_MODE"}] = *options.use_mode;
  if (options.longvl) out[{"MODEL", "LONGVL"}] = *options.longvl;
  if (options.pressure) {
    if (!std::isfinite(*options.pressure) || *options.pressure <= 0)
      throw EConvertError("The inflation pressure to write is not a positive number");
    for (const char* key : {"NOMPRES", "INFLPRES"}) out[{"OPERATING_CONDITIONS", key}] = *options.pressure;
    for (const char* key : {"IP", "IP_NOM"}) out[{"TIRE_CONDITIONS", key}] = *options.pressure;
  }
  return out;
}

std::vector<std::string> HeaderLines(const TTirExportOptions& options, TSignConvention convention) {
  const TTirExportInfo& info = options.info;
  std::vector<std::string> lines;
  auto add = [&lines](const std::string& text) {
    for (std::string& line : CommentLines(kHeaderPrefix, text)) lines.push_back(std::move(line));
  };
  add(std::string(options.combined ? "Magic Formula 2002 pure- and combined-slip coefficients written "
                                    : "Magic Formula 2002 pure-slip coefficients written ") +
      (info.date.empty() ? DateNow() : info.date));
  add("data file: " + (info.data_file.empty() ? std::string("none recorded") : info.data_file));
  if (info.fits.empty())
    add("channels fitted: none recorded in this session");
  else
    for (const std::string& fit : info.fits) add("fit: " + fit);
  std::vector<std::string> flipped;
  for (std::string_view name : SignFlippedCoefficients()) flipped.push_back(AsciiUpper(name));
  add(convention == TSignConvention::kIso
          ? "sign convention: ISO (TYDEX W-axis); the set was in ISO and is written as it is"
          : "sign convention: ISO (TYDEX W-axis); the set was in the positive-stiffness convention and was "
            "converted by negating " +
                Join(flipped, ", "));
  add("scaling factors are 1; only FNOMIN, UNLOADED_RADIUS and the pure-slip coefficients of Fy, Mz and Fx "
      "come from the set, " +
      std::string(options.template_path ? "every other value is the template's" : "every other value is neutral"));
  return lines;
}

// Factors of the pure-slip equations: reset to 1 in a template so that the
// file evaluates the exported set.
constexpr const char* kPureSlipFactors[] = {"LFZO", "LCY", "LMUY", "LEY", "LKY",  "LHY", "LVY",
                                            "LGAY", "LTR", "LRES", "LGAZ", "LKZC", "LCX", "LMUX",
                                            "LEX",  "LKX", "LHX",  "LVX",  "LGAX"};

// The combined-slip, Mx and My scaling factors (folded into their
// coefficients on import).
constexpr const char* kCombinedFactors[] = {"LXAL", "LYKA", "LVYKA", "LS", "LMX", "LVMX", "LMY"};

// Writes `value` in place of the value of a parsed key line.
void ReplaceValue(TTextLine& line, const TTirLine& parsed, const std::string& value) {
  std::string text = line.text;
  std::string replacement = value;
  // One blank between the value and a trailing comment: a reader that cuts
  // the comment one character early would eat a digit otherwise.
  if (parsed.value_end < text.size() && text[parsed.value_end] == '$') replacement += ' ';
  if (parsed.value_begin == parsed.value_end && (parsed.value_begin == 0 || text[parsed.value_begin - 1] == '='))
    replacement = " " + replacement;
  text.replace(parsed.value_begin, parsed.value_end - parsed.value_begin, replacement);
  line.text = text;
}

std::string ExportFromTemplate(const std::map<std::pair<std::string, std::string>, double>& iso,
                               const TTirExportOptions& options, TSignConvention convention,
                               std::vector<std::string>& notes) {
  const std::string& tpath = *options.template_path;
  TTextFile file;
  if (!ReadTextFile(tpath, file)) throw EFOpenError(tpath);
  std::vector<TTirLine> parsed = ParseTir(file);
  const TTirKeys keys(parsed);
  CheckPropertyFileShape(file, keys, tpath, "template ");
  if (!keys.HasSection("MODEL", parsed))
    throw Exception("The template file " + tpath + " has no [MODEL] section: it is not a usable property file; "
                    "use a .tir that a simulator reads, such as one Morvex wrote");
  for (const auto& [place, value] : iso) {
    const std::vector<TTirValue>& all = keys.All(place.second);
    if (all.size() > 1)
      throw Exception(place.second + " stands twice in the template file " + tpath + ", lines " +
                      std::to_string(all[0].line) + " and " + std::to_string(all[1].line) +
                      ": a file written from it would hold the key twice; remove one");
  }
  std::vector<std::string> ignored;
  if (VersionOf(keys, tpath, ignored) == TTirVersion::kMF6)
    throw Exception(tpath + " is a Magic Formula 6.x property file: a 2002 set written into it would be "
                            "evaluated with the MF 6.x equations; use an MF 5.2 (PAC2002) template");
  const double length = UnitFactor(keys, "LENGTH", kLengthUnits, tpath, "lengths in meter, mm, cm, km, mile, foot or in");
  const double force = UnitFactor(keys, "FORCE", kForceUnits, tpath,
                                  "forces in newton, kn, pound_force, kpound_force, dyne, ounce_force or kg_force");
  UnitFactor(keys, "ANGLE", kAngleUnits, tpath, "angles in radians");

  std::map<std::pair<std::string, std::string>, std::string> texts;
  for (const auto& [place, value] : iso) {
    double v = value;
    if (place.second == "UNLOADED_RADIUS") v /= length;
    if (place.second == "FNOMIN") v /= force;
    texts[place] = TirNumber(v);
  }
  std::vector<std::string> reset;
  std::set<std::pair<std::string, std::string>> written;
  for (size_t i = 0; i < parsed.size(); ++i) {
    const TTirLine& line = parsed[i];
    if (line.kind != TTirLine::kKey) continue;
    // A key is replaced in whatever section the template keeps it.
    const auto it = std::find_if(texts.begin(), texts.end(),
                                 [&](const auto& entry) { return entry.first.second == line.key; });
    if (it != texts.end()) {
      if (!written.insert(it->first).second) continue;
      ReplaceValue(file.lines[i], line, it->second);
    } else {  // a scaling factor, in whatever section the template keeps it
      std::vector<const char*> factors(std::begin(kPureSlipFactors), std::end(kPureSlipFactors));
      if (options.combined) factors.insert(factors.end(), std::begin(kCombinedFactors), std::end(kCombinedFactors));
      for (const char* factor : factors) {
        double value;
        if (line.key == factor && (!TryStrToFloatPoint(line.value, value) || value != 1.0)) {
          reset.push_back(line.key + " = " + line.value);
          ReplaceValue(file.lines[i], line, "1");
        }
      }
    }
  }
  // Keys the template lacks: after the last key line of their section, or
  // in a new section at the end.
  const std::string ending = file.Ending();
  for (const auto& [place, text] : texts) {
    if (written.count(place)) continue;
    const std::string new_line = KeyLineText(place.second, text, nullptr);
    size_t insert_at = file.lines.size();
    bool found = false;
    for (size_t i = 0; i < parsed.size(); ++i) {
      if (parsed[i].section != place.first) continue;
      if (parsed[i].kind == TTirLine::kSection || parsed[i].kind == TTirLine::kKey) {
        insert_at = i + 1;
        found = true;
      }
    }
    if (!file.lines.empty() && file.lines.back().ending.empty()) file.lines.back().ending = ending;
    if (!found) {
      file.lines.push_back({"[" + place.first + "]", ending});
      parsed.push_back({TTirLine::kSection, place.first, "", "", 0, 0});
      insert_at = file.lines.size();
    }
    const std::string& line_ending = insert_at > 0 ? file.lines[insert_at - 1].ending : ending;
    file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(insert_at), TTextLine{new_line, line_ending});
    TTirLine entry{TTirLine::kKey, place.first, place.second, text, 0, 0};
    parsed.insert(parsed.begin() + static_cast<std::ptrdiff_t>(insert_at), entry);
    written.insert(place);
  }
  if (!reset.empty())
    notes.push_back("The template's scaling factors were set to 1, since the set "
                    "holds them folded in: " +
                    Join(reset, ", ") + ".");
  if (length != 1.0 || force != 1.0)
    notes.push_back("UNLOADED_RADIUS and FNOMIN were written in the template's units.");

  // The header: our own comment lines replace those of an earlier export.
  std::vector<TTextLine> out;
  const std::string header_ending = file.lines.empty() ? ending : file.lines.front().ending.empty() ? ending
                                                                                                    : file.lines.front().ending;
  for (const std::string& line : HeaderLines(options, convention)) out.push_back({line, header_ending});
  for (TTextLine& line : file.lines)
    if (line.text.rfind(kHeaderPrefix, 0) != 0) out.push_back(std::move(line));
  file.lines = std::move(out);
  return file.Join();
}

std::string ExportFullLayout(const std::map<std::pair<std::string, std::string>, double>& iso,
                             const TTirExportOptions& options, TSignConvention convention) {
  const double r0 = iso.at({"DIMENSION", "UNLOADED_RADIUS"});
  const double fz0 = iso.at({"VERTICAL", "FNOMIN"});
  std::string text;
  for (const std::string& line : HeaderLines(options, convention)) text += line + "\n";
  for (const TSectionLayout& section : FullLayout(r0, fz0, options)) {
    text += SeparatorLine(section.name) + "\n[" + section.name + "]\n";
    for (const TKeyLine& key : section.keys) {
      const auto it = iso.find({section.name, key.key});
      text += KeyLineText(key.key, it != iso.end() ? TirNumber(it->second) : key.value, key.comment) + "\n";
    }
  }
  return text;
}

}  // namespace

std::string_view CombinedKeySection(std::string_view key) {
  const TCombinedCoefficientInfo* info = FindCombinedCoefficient(key);
  return info ? info->tir_section : std::string_view();
}

double CombinedSignFactor(std::string_view key) {
  const TCombinedCoefficientInfo* info = FindCombinedCoefficient(key);
  return info ? info->iso_sign : 1.0;
}

TTirExportResult ExportTir(const TCoefficientSet& set, const std::string& path, const TTirExportOptions& options) {
  TTirExportResult result;
  result.convention = options.convention.value_or(ConventionOfSet(set));
  const auto iso = IsoValues(set, result.convention, options);
  const std::string text = options.template_path ? ExportFromTemplate(iso, options, result.convention, result.notes)
                                                 : ExportFullLayout(iso, options, result.convention);
  if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) throw EWriteError(path);
  if (!ReplaceFileContent(path, text)) throw EWriteError(path);
  std::string note = "Sign convention: the set was taken as " + DescribeSignConvention(result.convention) +
                     "; the file is ISO";
  if (result.convention == TSignConvention::kPositiveStiffness) {
    std::vector<std::string> flipped;
    for (std::string_view name : SignFlippedCoefficients()) flipped.push_back(AsciiUpper(name));
    note += ", so " + Join(flipped, ", ") + " were negated.";
  } else {
    note += " as well, so no sign was changed.";
  }
  result.notes.insert(result.notes.begin(), note);
  return result;
}

}  // namespace morvex
