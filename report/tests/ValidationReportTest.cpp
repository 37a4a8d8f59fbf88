#include "report/ValidationReport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "fitting/ChannelModel.h"
#include "fitting/FitVerdict.h"
#include "report/ReportRender.h"
#include "report/ReportText.h"
#include "report/tests/ReportTestSupport.h"

namespace morvex {
namespace {

using test::FreeExactly;
using test::PublishedData;
using test::PublishedTire;

constexpr double kDeg = M_PI / 180.0;

// A trust-region fit of six lateral coefficients from a disturbed start on
// the published car tire's data (three cambers, four loads, 1 % noise).
struct LateralFit {
  TMemoryCoefficientSet truth = PublishedTire("car-185-80R14");
  TTireDataSet data = PublishedData(TFitChannel::kLateral, truth, 7);
  TMemoryCoefficientSet set = truth;
  TFitOutcome outcome;
  LateralFit() {
    set.SetText("PDy1", FloatToStr(truth.Value("PDy1") * 1.06));
    set.SetText("PKy1", FloatToStr(truth.Value("PKy1") * 0.92));
    FreeExactly(set, {"PCy1", "PDy1", "PEy1", "PKy1", "PHy1", "PVy1"});
    TSilentFitHost host;
    outcome = RunFitCommand(TFitChannel::kLateral, set, data, TOptimizerChoice::kTrustRegion, "", host);
  }
  TReportInputs Inputs() const {
    TReportInputs inputs;
    inputs.source_files = {"/rig/car-185/lateral.plt"};
    inputs.channels.push_back({TFitChannel::kLateral, &data, &set, outcome, "/rig/car-185/lateral.plt"});
    return inputs;
  }
};

TEST(ValidationReport, GathersTheFitOfEveryCurveItsCoefficientsAndTheRanges) {
  const LateralFit fit;
  ASSERT_EQ(fit.outcome.termination, TFitTermination::kFinished);
  const TValidationReport report = BuildValidationReport(fit.Inputs());
  ASSERT_EQ(report.channels.size(), 1u);
  const TChannelReport& lateral = report.channels[0];
  EXPECT_EQ(lateral.verdict_word, "good");
  EXPECT_NE(lateral.how.find("trust region"), std::string::npos) << lateral.how;

  // Twelve curves (3 cambers x 4 loads), each explained nearly whole.
  ASSERT_EQ(lateral.curves.size(), 12u);
  for (const TReportCurveRow& row : lateral.curves) {
    EXPECT_EQ(row.points, 41u);
    EXPECT_GT(row.r_squared, 0.99) << "camber " << row.camber << " load " << row.load;
    EXPECT_GE(row.max_error, row.rms);
  }

  // The channel's whole table in free-box order; the six fitted carry a
  // finite standard error, the rest are fixed at the published values.
  ASSERT_EQ(lateral.coefficients.size(), LateralFreeOrder().size());
  for (size_t k = 0; k < lateral.coefficients.size(); ++k) {
    const TReportCoefficient& c = lateral.coefficients[k];
    EXPECT_EQ(c.name, LateralFreeOrder()[k]);
    EXPECT_EQ(c.value, fit.set.Text(c.name));
    const bool fitted = fit.set.Free(c.name);
    EXPECT_EQ(c.free, fitted) << c.name;
    if (fitted) {
      EXPECT_TRUE(std::isfinite(c.standard_error) && c.standard_error > 0) << c.name;
      EXPECT_FALSE(c.not_determined) << c.name;
    } else {
      EXPECT_EQ(ErrorCell(c), "-");
    }
  }

  // The ranges of a .tir written from this fit: loads 0.5 to 1.4 rated,
  // slip angles -12 to 12 deg and cambers 0 to 4 deg, in radians.
  const double fz0 = fit.truth.Value("Fz0");
  ASSERT_TRUE(lateral.ranges.load && lateral.ranges.slip_angle && lateral.ranges.camber);
  EXPECT_EQ(*lateral.ranges.load, std::make_pair(std::round(0.5 * fz0), std::round(1.4 * fz0)));
  EXPECT_NEAR(lateral.ranges.slip_angle->first, -12 * kDeg, 1e-12);
  EXPECT_NEAR(lateral.ranges.slip_angle->second, 12 * kDeg, 1e-12);
  EXPECT_NEAR(lateral.ranges.camber->second, 4 * kDeg, 1e-12);
  EXPECT_FALSE(lateral.ranges.slip_ratio);
  const std::vector<std::string> lines = RangeLines(lateral.ranges);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[1].find("-12 to 12 deg"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("0 to 4 deg"), std::string::npos) << lines[2];

  ASSERT_TRUE(lateral.advice.has_value()) << lateral.advice_error;
  EXPECT_FALSE(AdviceLines(lateral).empty());
}

TEST(ValidationReport, ChartsShowEachLoadAsTheWindowsPlotDoesAndResidualsCloseTheGap) {
  const LateralFit fit;
  const TChannelReport lateral = BuildValidationReport(fit.Inputs()).channels[0];
  ASSERT_EQ(lateral.charts.size(), 3u);
  ASSERT_EQ(lateral.residuals.size(), 3u);
  for (size_t c = 0; c < 3; ++c) {
    const TReportChart& chart = lateral.charts[c];
    const TReportChart& residual = lateral.residuals[c];
    const TLoadCase& lc = fit.data.Cases[c];
    EXPECT_NE(chart.title.find("Lateral force Fy, camber " + ReportNumber(lc.Camber) + " deg, lateral.plt"),
              std::string::npos)
        << chart.title;
    EXPECT_NE(residual.title.find("measured - model"), std::string::npos);
    EXPECT_EQ(chart.x_title, "slip angle [deg]");
    EXPECT_EQ(chart.y_title, "Fy [N]");
    EXPECT_EQ(residual.y_title, "Fy measured - model [N]");
    // Model lines first, in red rising through green; data in blue after them.
    ASSERT_EQ(chart.series.size(), 8u);
    ASSERT_EQ(residual.series.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
      const TReportSeries& model = chart.series[i];
      const TReportSeries& data = chart.series[4 + i];
      EXPECT_FALSE(model.measured);
      EXPECT_TRUE(data.measured);
      EXPECT_EQ(model.color, (TReportColor{255, static_cast<int>(30 * i), 0}));
      EXPECT_EQ(data.color, (TReportColor{0, static_cast<int>(30 * (4 + i)), 255}));
      EXPECT_EQ(residual.series[i].color, (TReportColor{0, static_cast<int>(30 * i), 255}));
      EXPECT_TRUE(residual.series[i].joined);
      ASSERT_EQ(model.points.size(), lc.RowCount());
      for (size_t r = 0; r < lc.RowCount(); ++r) {
        // Same slip everywhere; measured = model + residual at each point.
        EXPECT_EQ(model.points[r].first, lc.Slips[r]);
        EXPECT_EQ(data.points[r].second, lc.Value(r, i));
        EXPECT_NEAR(model.points[r].second + residual.series[i].points[r].second, data.points[r].second,
                    1e-9 * std::fabs(data.points[r].second) + 1e-9);
      }
    }
  }
}

TEST(ValidationReport, PerCurveRSquaredFollowsItsDefinition) {
  // One curve whose measured values are the model's plus or minus d: the
  // residual sum is n d^2 whatever the model, R^2 = 1 - n d^2 / SST.
  const TMemoryCoefficientSet set = PublishedTire("suv-265-70R18");
  TTireDataSet data;
  TLoadCase lc;
  lc.Camber = 1;
  lc.Loads = {6000};
  const double d = 150;
  for (int r = 0; r <= 20; ++r) {
    lc.Slips.push_back(-10 + r);
    lc.Values.push_back(EvaluatePoint(TFitChannel::kLateral, set, 1, 6000, -10 + r) + (r % 2 ? d : -d));
  }
  data.Cases.push_back(lc);
  double mean = 0;
  for (double v : lc.Values) mean += v / lc.Values.size();
  double sst = 0;
  for (double v : lc.Values) sst += (v - mean) * (v - mean);

  TReportInputs inputs;
  inputs.channels.push_back({TFitChannel::kLateral, &data, &set, {}, ""});
  const TChannelReport channel = BuildValidationReport(inputs).channels[0];
  ASSERT_EQ(channel.curves.size(), 1u);
  EXPECT_NEAR(channel.curves[0].rms, d, 1e-9);
  EXPECT_NEAR(channel.curves[0].max_error, d, 1e-9);
  EXPECT_NEAR(channel.curves[0].r_squared, 1 - 21 * d * d / sst, 1e-12);
  EXPECT_EQ(channel.termination, TFitTermination::kNotRun);
  EXPECT_NE(channel.how.find("no fit was run"), std::string::npos);

  // A gap in the recording leaves the point out, not the curve.
  TTireDataSet gapped = data;
  gapped.Cases[0].Value(20, 0) = std::nan("");
  TReportInputs with_gap = inputs;
  with_gap.channels[0].data = &gapped;
  const TChannelReport gap = BuildValidationReport(with_gap).channels[0];
  double gap_mean = 0;
  for (int r = 0; r < 20; ++r) gap_mean += lc.Values[r] / 20;
  double gap_sst = 0;
  for (int r = 0; r < 20; ++r) gap_sst += (lc.Values[r] - gap_mean) * (lc.Values[r] - gap_mean);
  EXPECT_NEAR(gap.curves[0].r_squared, 1 - 20 * d * d / gap_sst, 1e-12);
  // Drawn without the gap: no "nan" coordinate reaches either document.
  TValidationReport gap_report = BuildValidationReport(with_gap);
  const std::regex nan_number("(^|[ ,\"])-?nan[ ,\"\n]");
  EXPECT_FALSE(std::regex_search(RenderPdf(gap_report), nan_number));
  EXPECT_FALSE(std::regex_search(RenderHtml(gap_report), nan_number));

  // A curve that does not vary has no R^2.
  for (double& v : data.Cases[0].Values) v = 100;
  EXPECT_TRUE(std::isnan(BuildValidationReport(inputs).channels[0].curves[0].r_squared));
}

TEST(ValidationReport, MarksWhatOneCamberCannotDetermine) {
  const TMemoryCoefficientSet truth = PublishedTire("car-185-80R14");
  TTireDataSet data = PublishedData(TFitChannel::kLateral, truth, 3);
  data.Cases.resize(1);  // camber 0 only
  TMemoryCoefficientSet set = truth;
  FreeExactly(set, {"PCy1", "PDy1", "PKy1", "PHy3"});
  TSilentFitHost host;
  const TFitOutcome outcome =
      RunFitCommand(TFitChannel::kLateral, set, data, TOptimizerChoice::kTrustRegion, "", host);
  TReportInputs inputs;
  inputs.channels.push_back({TFitChannel::kLateral, &data, &set, outcome, "one-camber.plt"});
  const TChannelReport channel = BuildValidationReport(inputs).channels[0];
  bool seen = false;
  for (const TReportCoefficient& c : channel.coefficients) {
    if (c.name != "PHy3") continue;
    seen = true;
    EXPECT_TRUE(c.not_determined);
    EXPECT_EQ(ErrorCell(c), "not determined");
    EXPECT_NE(c.note.find("one camber angle"), std::string::npos) << c.note;
  }
  EXPECT_TRUE(seen);
  EXPECT_EQ(channel.charts.size(), 1u);
  EXPECT_FALSE(channel.ranges.camber->first != 0 || channel.ranges.camber->second != 0);
}

TEST(ValidationReport, RefusesAChannelWithoutItsDataOrCoefficients) {
  TReportInputs inputs;
  inputs.channels.push_back({TFitChannel::kAligning, nullptr, nullptr, {}, ""});
  EXPECT_THROW(BuildValidationReport(inputs), Exception);
}

}  // namespace
}  // namespace morvex
