#include "fitting/DataAdvice.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <set>
#include <stdexcept>

#include "fitting/ChannelModel.h"
#include "fitting/FitReport.h"
#include "fitting/MeasuredCurves.h"
#include "fitting/StartEstimate.h"
#include "fitting/TrustRegionFit.h"
#include "numerics/LxBasics.h"
#include "optim/Identifiability.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex {

namespace {

// Coefficients that act only through the inclination, and only through the
// load change: one inclination, or one load, cannot show them.
const std::set<std::string, std::less<>> kCamberOnly = {
    "PHy3", "PVy3", "PVy4", "PDy3", "PEy4", "PKy3", "QHz3", "QHz4",
    "QBz4", "QBz5", "QDz3", "QDz4", "QEz5", "QDz8", "QDz9", "PDx3"};
const std::set<std::string, std::less<>> kLoadOnly = {
    "PHy2", "PVy2", "PVy4", "PDy2", "PEy2", "PKy2", "QHz2", "QHz4", "QBz2", "QBz3",
    "QDz2", "QEz2", "QEz3", "QDz7", "QDz9", "PHx2", "PVx2", "PDx2", "PEx2", "PEx3", "PKx2", "PKx3"};
// The peak and curvature coefficients: a slip range that stops before the
// peak leaves them to extrapolation.
const std::set<std::string, std::less<>> kPeakShape = {
    "PCy1", "PDy1", "PDy2", "PDy3", "PEy1", "PEy2", "PEy3", "PEy4",
    "QCz1", "QDz1", "QDz2", "QDz3", "QDz4", "QEz1", "QEz2", "QEz3", "QEz4", "QEz5",
    "PCx1", "PDx1", "PDx2", "PDx3", "PEx1", "PEx2", "PEx3", "PEx4"};
// Fewer slips than this per curve leave shape, peak, stiffness, curvature
// and shifts loosely tied.
constexpr size_t kFewCurvePoints = 10;
// The estimate and the analysis see at most this many rows of each load
// case (spread evenly over its rows, the ends and the smallest and largest
// slip always among them): what the data can determine shows in a few
// hundred points per curve as in a hundred thousand, and the time and the
// memory of both grow with the points they see.
constexpr size_t kAnalysedRows = 200;
// Inclinations (deg) and relative loads closer than these count as one.
constexpr double kSameCamber = 0.1;
constexpr double kSameLoad = 0.03;

std::string Join(const std::vector<std::string>& names) {
  std::string text;
  for (size_t k = 0; k < names.size(); ++k) text += (k ? ", " : "") + names[k];
  return text;
}

std::string Number(double v) { return FloatToStrF(v, TFloatFormat::kGeneral, 6, 0); }

// The trailing digits of a coefficient name, the order of its term.
int TermOrder(std::string_view name) {
  size_t k = name.size();
  while (k > 0 && name[k - 1] >= '0' && name[k - 1] <= '9') --k;
  int order = 0;
  for (size_t i = k; i < name.size(); ++i) order = order * 10 + (name[i] - '0');
  return order;
}

TMemoryCoefficientSet Copy(const TCoefficientSet& set) {
  TMemoryCoefficientSet copy;
  for (const TCoefficientInfo& info : Coefficients()) {
    copy.SetText(info.name, set.Text(info.name));
    if (info.HasFreeFlag()) copy.SetFree(info.name, set.Free(info.name));
  }
  return copy;
}

// The identity of the coefficients `active` (indices into `names`), from
// the columns of the full Jacobian.
TIdentifiability Analyse(const TResidualsAndJacobian& j, size_t columns, const std::vector<size_t>& active,
                         double scale) {
  std::vector<double> sub(j.points * active.size());
  for (size_t r = 0; r < j.points; ++r)
    for (size_t k = 0; k < active.size(); ++k) sub[r * active.size() + k] = j.jacobian[r * columns + active[k]];
  return AnalyseJacobian(sub, j.points, active.size(), j.ssr, scale);
}

// `data` with each case cut down to at most `max_rows` rows: the first and
// the last, the ones of the smallest and the largest slip, and the rest at
// even steps through the rows, in their file order.
TTireDataSet Thinned(const TTireDataSet& data, size_t max_rows) {
  TTireDataSet thin;
  thin.Cases.reserve(data.Cases.size());
  for (const TLoadCase& lc : data.Cases) {
    const size_t rows = lc.RowCount();
    if (rows <= max_rows) {
      thin.Cases.push_back(lc);
      continue;
    }
    std::vector<char> keep(rows, 0);
    const auto [lo, hi] = std::minmax_element(lc.Slips.begin(), lc.Slips.end());
    keep[static_cast<size_t>(lo - lc.Slips.begin())] = 1;
    keep[static_cast<size_t>(hi - lc.Slips.begin())] = 1;
    const size_t steps = max_rows - 3;  // room for the two extremes
    for (size_t k = 0; k <= steps; ++k) keep[k * (rows - 1) / steps] = 1;
    TLoadCase out;
    out.Camber = lc.Camber;
    out.Loads = lc.Loads;
    for (size_t r = 0; r < rows; ++r) {
      if (!keep[r]) continue;
      out.Slips.push_back(lc.Slips[r]);
      for (size_t j = 0; j < lc.LoadCount(); ++j) out.Values.push_back(lc.Value(r, j));
    }
    thin.Cases.push_back(std::move(out));
  }
  return thin;
}

}  // namespace

TDataAdvice AdviseOnData(TFitChannel channel, const TCoefficientSet& set, const TTireDataSet& data) {
  TDataAdvice advice;
  advice.channel = channel;
  std::set<double> cambers, loads;
  advice.min_curve_points = SIZE_MAX;
  for (const TLoadCase& lc : data.Cases) {
    if (lc.RowCount() == 0 || lc.LoadCount() == 0) continue;
    cambers.insert(lc.Camber);
    for (size_t j = 0; j < lc.LoadCount(); ++j) {
      loads.insert(lc.Loads[j]);
      ++advice.curves;
      advice.min_curve_points = std::min(advice.min_curve_points, lc.RowCount());
      // The peak is inside the range when the largest or the smallest value
      // of the curve lies between its ends.
      size_t hi = 0, lo = 0;
      for (size_t r = 1; r < lc.RowCount(); ++r) {
        if (lc.Value(r, j) > lc.Value(hi, j)) hi = r;
        if (lc.Value(r, j) < lc.Value(lo, j)) lo = r;
      }
      const size_t last = lc.RowCount() - 1;
      const bool inside = (hi != 0 && hi != last) || (lo != 0 && lo != last);
      if (!inside) ++advice.curves_before_peak;
    }
    advice.points += lc.RowCount() * lc.LoadCount();
  }
  if (advice.points == 0) throw std::invalid_argument("The data set holds no points to judge.");
  // Imported data label each inclination's columns with their own mean
  // loads: values within a few percent are one load of the test programme.
  for (double c : cambers)
    if (advice.cambers.empty() || c - advice.cambers.back() > kSameCamber) advice.cambers.push_back(c);
  for (double l : loads)
    if (advice.loads.empty() || l - advice.loads.back() > kSameLoad * std::fabs(advice.loads.back())) advice.loads.push_back(l);

  // ---- facts
  std::vector<std::string> camber_texts, load_texts;
  for (double c : advice.cambers) camber_texts.push_back(Number(c));
  advice.facts.push_back(std::to_string(advice.cambers.size()) +
                         (advice.cambers.size() == 1 ? " inclination (" : " inclinations (") + Join(camber_texts) +
                         " deg), " + std::to_string(advice.loads.size()) + (advice.loads.size() == 1 ? " load (" : " loads (") +
                         Number(advice.loads.front()) + (advice.loads.size() > 1 ? " to " + Number(advice.loads.back()) : "") +
                         " N), " + std::to_string(advice.points) + " points, at least " +
                         std::to_string(advice.min_curve_points) + " per curve");
  const bool one_signed = std::none_of(advice.cambers.begin(), advice.cambers.end(), [](double c) { return c < 0; }) ||
                          std::none_of(advice.cambers.begin(), advice.cambers.end(), [](double c) { return c > 0; });
  if (advice.cambers.size() == 1)
    advice.facts.push_back("one inclination: the camber coefficients cannot be determined");
  else if (one_signed && channel == TFitChannel::kAligning)
    advice.facts.push_back("the inclinations all have one sign: camber and its magnitude act alike");
  if (advice.loads.size() == 1)
    advice.facts.push_back("one load: the load-change coefficients cannot be determined");
  const bool before_peak = advice.curves_before_peak * 2 > advice.curves;
  if (advice.curves_before_peak > 0)
    advice.facts.push_back("the slip range stops before the peak on " + std::to_string(advice.curves_before_peak) +
                           " of " + std::to_string(advice.curves) + " curves" +
                           (before_peak ? ": the peak and curvature coefficients are extrapolated" : ""));
  const bool few_points = advice.min_curve_points < kFewCurvePoints;
  if (few_points)
    advice.facts.push_back("curves of " + std::to_string(advice.min_curve_points) +
                           " points are too few to fix the shape, peak, stiffness and curvature of each");

  // ---- the start point
  std::vector<std::string> names;
  for (std::string_view name : FreeOrder(channel))
    if (!(channel == TFitChannel::kAligning && name == "Fz0")) names.emplace_back(name);
  TMemoryCoefficientSet start = Copy(set);
  for (const std::string& name : names) start.SetFree(name, true);
  // The estimate and the analysis run on a bounded sample of the rows; the
  // facts above come from every point.
  TTireDataSet programme = Thinned(data, kAnalysedRows);
  try {
    EstimateStartValues(channel, start, programme);
    advice.start = "at the estimated start values";
  } catch (const std::exception& error) {
    start = Copy(set);
    advice.start = std::string("at the present values (the estimate failed: ") + error.what() + ")";
  }
  // The analysis sees the test programme: loads and inclinations that count
  // as one (above) are made one, so that the few newtons between the mean
  // loads of two inclinations do not pass for a change of load.
  auto snap = [](double v, const std::vector<double>& groups, double width, bool relative) {
    for (double g : groups)
      if (v >= g && v - g <= (relative ? width * std::fabs(g) : width)) return g;
    return v;
  };
  for (TLoadCase& lc : programme.Cases) {
    lc.Camber = snap(lc.Camber, advice.cambers, kSameCamber, false);
    for (double& load : lc.Loads) load = snap(load, advice.loads, kSameLoad, true);
  }
  const TResidualsAndJacobian jacobian = ResidualsAndJacobian(channel, start, names, programme);
  const double scale = DataScale(data);

  // ---- clear what the data cannot show, group by group
  std::vector<std::string> reasons(names.size());
  std::vector<char> cleared(names.size(), 0);
  // What one inclination or one load cannot show is cleared from the start:
  // imported data label each inclination's columns with their own mean
  // loads, and the small spread of those would otherwise pass for a change
  // of load that fixes them.
  for (size_t k = 0; k < names.size(); ++k) {
    if (advice.cambers.size() == 1 && kCamberOnly.count(names[k])) {
      cleared[k] = 1;
      reasons[k] = "the data holds one camber angle";
    } else if (advice.loads.size() == 1 && kLoadOnly.count(names[k])) {
      cleared[k] = 1;
      reasons[k] = "the data holds one load";
    }
  }
  std::vector<size_t> active;
  for (size_t k = 0; k < names.size(); ++k)
    if (!cleared[k]) active.push_back(k);
  for (size_t round = 0; round < names.size() && !active.empty(); ++round) {
    const TIdentifiability identity = Analyse(jacobian, names.size(), active, scale);
    std::vector<std::string> active_names;
    for (size_t k : active) active_names.push_back(names[k]);
    const std::vector<std::string> notes = IdentityNotes(channel, active_names, programme, identity);
    std::vector<size_t> undetermined;  // positions in `active`
    for (size_t p = 0; p < active.size(); ++p)
      if (!identity.coefficients[p].determined) undetermined.push_back(p);
    if (undetermined.empty()) break;

    auto pick = [&](auto&& rule) {
      std::vector<size_t> chosen;
      for (size_t p : undetermined)
        if (rule(p)) chosen.push_back(p);
      return chosen;
    };
    std::vector<size_t> victims = pick([&](size_t p) { return names[active[p]] == "Fz0"; });
    if (victims.empty() && advice.cambers.size() == 1)
      victims = pick([&](size_t p) { return kCamberOnly.count(names[active[p]]) > 0; });
    if (victims.empty() && advice.loads.size() == 1)
      victims = pick([&](size_t p) { return kLoadOnly.count(names[active[p]]) > 0; });
    if (victims.empty()) victims = pick([&](size_t p) { return identity.coefficients[p].no_effect; });
    if (victims.empty()) {
      // The highest-order term of the undetermined ones, the later in the
      // box order on a tie.
      size_t best = undetermined.front();
      for (size_t p : undetermined)
        if (TermOrder(names[active[p]]) >= TermOrder(names[active[best]])) best = p;
      victims = {best};
    }
    for (size_t p : victims) {
      const size_t k = active[p];
      cleared[k] = 1;
      const std::string& note = notes[p];
      const size_t colon = note.find(": ");
      reasons[k] = colon == std::string::npos ? note : note.substr(colon + 2);
      if (names[k] == "Fz0")
        reasons[k] = "the rated load cannot be told apart from the load-change coefficients; set it to the tire's "
                     "rated load";
    }
    std::vector<size_t> next;
    for (size_t k : active)
      if (!cleared[k]) next.push_back(k);
    active = std::move(next);
  }

  for (size_t k = 0; k < names.size(); ++k) {
    TCoefficientAdvice c;
    c.name = names[k];
    c.free = set.Free(names[k]);
    c.determined = !cleared[k];
    c.reason = reasons[k];
    if (c.determined && before_peak && kPeakShape.count(c.name)) {
      c.weak = true;
      c.reason = "the slip range stops before the peak on most curves";
    } else if (c.determined && few_points) {
      c.weak = true;
      c.reason = "the curves hold few points";
    }
    if (!c.determined && c.free) advice.clear.push_back(c.name);
    advice.coefficients.push_back(std::move(c));
  }
  return advice;
}

std::string FormatDataAdvice(const TDataAdvice& advice) {
  std::string out = "What the data can determine for the " + std::string(ChannelName(advice.channel)) + " fit (" +
                    advice.start + "):\n";
  for (const std::string& fact : advice.facts) out += "  " + fact + "\n";
  std::vector<std::string> determined, weak;
  for (const TCoefficientAdvice& c : advice.coefficients) {
    if (c.determined && !c.weak) determined.push_back(c.name);
    if (c.weak) weak.push_back(c.name);
  }
  out += "Determined: " + (determined.empty() ? std::string("none") : Join(determined)) + "\n";
  if (!weak.empty()) {
    out += "Loosely determined:\n";
    for (const TCoefficientAdvice& c : advice.coefficients)
      if (c.weak) out += "  " + c.name + ": " + c.reason + "\n";
  }
  bool any = false;
  for (const TCoefficientAdvice& c : advice.coefficients)
    if (!c.determined) {
      if (!any) out += "Not determined:\n";
      any = true;
      out += "  " + c.name + ": " + c.reason + "\n";
    }
  out += "Clear these boxes before fitting: " + (advice.clear.empty() ? std::string("none") : Join(advice.clear)) + "\n";
  return out;
}

}  // namespace morvex
