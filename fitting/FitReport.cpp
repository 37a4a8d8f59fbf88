#include "fitting/FitReport.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <sstream>

#include "fitting/ChannelModel.h"
#include "numerics/LxBasics.h"
#include "tiremodel/RatedLoad.h"

namespace morvex {

namespace {

// Coefficients that act only through the camber angle: with a single camber
// angle in the data their effect merges with that of the others.
const std::set<std::string, std::less<>> kCamberCoefficients = {
    "PHy3", "PVy3", "PVy4", "PDy3", "PEy4", "PKy3",                          // lateral
    "QHz3", "QHz4", "QBz4", "QBz5", "QDz3", "QDz4", "QEz5", "QDz8", "QDz9",  // aligning
    "PDx3"};                                                                 // longitudinal

// Coefficients that act only through the load change dfz (or, for PKy2 and
// Fz0, through the shape of the curve over the load): a single load cannot
// show that effect.
const std::set<std::string, std::less<>> kLoadCoefficients = {
    "Fz0",  "PHy2", "PVy2", "PVy4", "PDy2", "PEy2", "PKy2",                   // lateral
    "QHz2", "QHz4", "QBz2", "QBz3", "QDz2", "QEz2", "QEz3", "QDz7", "QDz9",  // aligning
    "PHx2", "PVx2", "PDx2", "PEx2", "PEx3", "PKx2", "PKx3"};                 // longitudinal

size_t DistinctCambers(const TTireDataSet& data) {
  std::set<double> cambers;
  for (const TLoadCase& lc : data.Cases)
    if (lc.RowCount() > 0 && lc.LoadCount() > 0) cambers.insert(lc.Camber);
  return cambers.size();
}

size_t DistinctLoads(const TTireDataSet& data) {
  std::set<double> loads;
  for (const TLoadCase& lc : data.Cases)
    if (lc.RowCount() > 0)
      for (double load : lc.Loads)
        if (load != 0.0) loads.insert(load);
  return loads.size();
}

// True when no two cambers of the data have opposite signs: then gamma and
// |gamma| are proportional.
bool OneSigned(const TTireDataSet& data) {
  bool negative = false, positive = false;
  for (const TLoadCase& lc : data.Cases) {
    negative = negative || lc.Camber < 0;
    positive = positive || lc.Camber > 0;
  }
  return !(negative && positive);
}

std::string Join(const std::vector<std::string>& names) {
  std::string text;
  for (size_t k = 0; k < names.size(); ++k) {
    if (k > 0) text += k + 1 == names.size() ? " and " : ", ";
    text += names[k];
  }
  return text;
}

std::string ErrorText(double error) {
  return std::isfinite(error) ? FloatToStr(error) : std::string("not-determined");
}

}  // namespace

const char* const kStandardErrorExplanation =
    "standard errors are scaled by the residual variance SSR/(points - free); a coefficient "
    "marked not-determined (- in the window) has no finite error because the data cannot fix it "
    "whatever its value: its note says why, and it is wise to fix it at a sensible value";

std::string FitSummaryLine(const TFitReport& report) {
  std::ostringstream text;
  text << ChannelName(report.channel) << ": " << report.points << " points, RMS "
       << FloatToStrF(report.rms, TFloatFormat::kGeneral, 6, 0);
  if (report.failed) text << ", the fit failed: " << report.failure;
  if (report.verdict.poor) {
    text << ", verdict poor:";
    for (const TVerdictReason& reason : report.verdict.reasons) text << ' ' << reason.text;
  }
  return text.str();
}

std::string OptimizerName(TOptimizerChoice optimizer) {
  switch (optimizer) {
    case TOptimizerChoice::kLevenbergMarquardt: return "lm";
    case TOptimizerChoice::kDifferentialEvolution: return "de";
    case TOptimizerChoice::kTrustRegion: return "tr";
  }
  return "lm";
}

std::vector<std::string> IdentityNotes(TFitChannel /*channel*/, const std::vector<std::string>& names,
                                       const TTireDataSet& data, const TIdentifiability& identity) {
  std::vector<std::string> notes(names.size());
  const size_t cambers = DistinctCambers(data);
  const size_t loads = DistinctLoads(data);
  for (size_t k = 0; k < names.size() && k < identity.coefficients.size(); ++k) {
    const TCoefficientIdentity& id = identity.coefficients[k];
    if (id.determined) continue;
    const std::string& name = names[k];
    std::string why;
    if (cambers <= 1 && kCamberCoefficients.count(name))
      why = "the data holds one camber angle";
    else if (OneSigned(data) && (name == "QBz4" || name == "QBz5"))
      why = "the camber angles of the data all have one sign, so camber and its magnitude act alike";
    else if (loads <= 1 && kLoadCoefficients.count(name))
      why = "the data holds one load";
    else if (id.no_effect)
      why = "the model does not depend on it at these data points";
    else if (!id.partners.empty()) {
      std::vector<std::string> partners;
      for (size_t p : id.partners)
        if (p < names.size()) partners.push_back(names[p]);
      why = "its effect cannot be told apart from that of " + Join(partners);
    } else {
      why = "the fit has no points left to judge it by";
    }
    notes[k] = name + " is not determined: " + why;
  }
  return notes;
}

TFitReport BuildFitReport(const TFitOutcome& outcome, const TCoefficientSet& set,
                          const TTireDataSet& data) {
  TFitReport report;
  report.channel = outcome.channel;
  report.optimizer = outcome.optimizer;
  report.failed = outcome.optimizer_failed;
  report.failure = outcome.failure_message;
  report.cases = data.CaseCount();
  report.solver_message = outcome.solver_message;
  report.iterations = outcome.iterations;
  report.cancelled = outcome.cancelled;
  report.optimizer_label = outcome.optimizer_label;
  report.cleared_flags = outcome.cleared_flags;
  report.verdict = outcome.verdict;
  report.trials_failed = outcome.trials_failed;

  long double ssr = 0;
  long double sum = 0, sum_squares = 0;
  for (size_t c = 0; c < data.Cases.size(); ++c) {
    const TLoadCase& lc = data.Cases[c];
    for (size_t j = 0; j < lc.LoadCount(); ++j) {
      TCurveFit curve;
      curve.case_number = static_cast<int>(c) + 1;
      curve.camber = lc.Camber;
      curve.load = lc.Loads[j];
      curve.points = lc.RowCount();
      long double curve_ssr = 0;
      for (size_t r = 0; r < lc.RowCount(); ++r) {
        const double measured = lc.Value(r, j);
        const double error =
            measured - EvaluatePoint(outcome.channel, set, lc.Camber, lc.Loads[j], lc.Slips[r]);
        curve_ssr += static_cast<long double>(error) * error;
        curve.max_error = std::max(curve.max_error, std::fabs(error));
        sum += measured;
        sum_squares += static_cast<long double>(measured) * measured;
      }
      curve.rms = curve.points ? static_cast<double>(std::sqrt(curve_ssr / curve.points)) : 0.0;
      ssr += curve_ssr;
      report.points += curve.points;
      report.max_error = std::max(report.max_error, curve.max_error);
      report.curves.push_back(curve);
    }
  }
  report.cost = static_cast<double>(ChannelCost(outcome.channel, set, data));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  if (report.points > 0) {
    report.rms = static_cast<double>(std::sqrt(ssr / report.points));
    const long double sst = sum_squares - sum * sum / report.points;
    report.r_squared = sst > 0 ? static_cast<double>(1.0L - ssr / sst) : nan;
  } else {
    report.r_squared = nan;
  }
  const size_t free = outcome.fitted.size();
  report.residual_variance = report.points > free ? static_cast<double>(ssr) / static_cast<double>(report.points - free) : nan;

  report.has_standard_errors = !outcome.standard_errors.empty();
  for (size_t k = 0; k < outcome.fitted.size(); ++k) {
    TFittedCoefficient coefficient;
    coefficient.name = outcome.fitted[k];
    coefficient.value = set.Text(coefficient.name);
    coefficient.standard_error = k < outcome.standard_errors.size() ? outcome.standard_errors[k] : nan;
    if (k < outcome.notes.size()) coefficient.note = outcome.notes[k];
    report.coefficients.push_back(coefficient);
  }
  return report;
}

std::string FormatFitReport(const TFitReport& report) {
  std::ostringstream out;
  const std::string optimizer = report.optimizer_label.empty() ? OptimizerName(report.optimizer) : report.optimizer_label;
  const char* status = report.failed ? "failed" : (report.cancelled ? "cancelled" : "ok");
  out << "fit channel=" << ChannelName(report.channel) << " optimizer=" << optimizer
      << " cases=" << report.cases << " points=" << report.points
      << " free=" << report.coefficients.size() << " status=" << status << '\n';
  for (const TCurveFit& curve : report.curves)
    out << "rms case=" << curve.case_number << " camber=" << FloatToStr(curve.camber)
        << " load=" << FloatToStr(curve.load) << " points=" << curve.points
        << " value=" << FloatToStr(curve.rms) << " max=" << FloatToStr(curve.max_error) << '\n';
  out << "rms overall points=" << report.points << " value=" << FloatToStr(report.rms)
      << " max=" << FloatToStr(report.max_error) << " r2="
      << (std::isfinite(report.r_squared) ? FloatToStr(report.r_squared) : std::string("undefined"))
      << '\n';
  if (report.has_standard_errors) {
    for (const TFittedCoefficient& c : report.coefficients)
      out << "stderr name=" << c.name << " value=" << c.value
          << " error=" << ErrorText(c.standard_error) << '\n';
    out << "stderr-meaning " << kStandardErrorExplanation << '\n';
  }
  for (const TFittedCoefficient& c : report.coefficients) {
    if (!c.note.empty()) out << "note " << c.note << '\n';
    if (c.name == "Fz0") out << "note " << kRatedLoadFreedNote << '\n';
  }
  if (!report.cleared_flags.empty())
    out << "note the data hold a single load case at camber 0: the fit held " << Join(report.cleared_flags)
        << " fixed and cleared their free boxes\n";
  if (report.optimizer == TOptimizerChoice::kTrustRegion && !report.solver_message.empty())
    out << "solver iterations=" << report.iterations << " message=" << report.solver_message << '\n';
  if (report.trials_failed >= 0) out << "trials-failed " << report.trials_failed << '\n';
  if (report.failed) out << "failure " << report.failure << '\n';
  out << "verdict " << (report.verdict.poor ? "poor" : "good") << '\n';
  for (const TVerdictReason& reason : report.verdict.reasons)
    out << "reason " << reason.code << ": " << reason.text << "; try: " << reason.advice << '\n';
  for (const TVerdictReason& note : report.verdict.notes)
    out << "note " << note.code << ": " << note.text << "; try: " << note.advice << '\n';
  return out.str();
}

}  // namespace morvex
