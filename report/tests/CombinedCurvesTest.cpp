// The combined-slip curves the window's Combined page and the report draw:
// model lines through the combined model, measured markers, the friction
// ellipse, and the residuals and per-curve fit of a stage, on points of a
// published tire with combined-slip coefficients.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "examples/RunRecorderProgramme.h"
#include "report/CombinedCurves.h"

namespace morvex {
namespace {

examples::TCombinedTire Car() {
  return examples::ReadCombinedTire(std::string(MORVEX_SOURCE_DIR) + "/testing/data/combined-slip/car-185-80R14.txt");
}

TCombinedModel ModelOf(const examples::TCombinedTire& tire) {
  TCombinedModel model;
  model.lateral = tire.lateral, model.aligning = tire.aligning, model.longitudinal = tire.longitudinal;
  model.combined = tire.combined, model.r0 = tire.r0, model.longvl = tire.longvl;
  return model;
}

TCombinedPoint TruthAt(const examples::TCombinedTire& tire, double load, double angle, double kappa) {
  return CombinedPointAt(tire.lateral, tire.aligning, tire.longitudinal, tire.combined, tire.r0, 0, load, angle, kappa,
                         tire.longvl, tire.longvl);
}

// Slip ratio -0.2 to 0.2 in steps of 0.02 at two held slip angles, the
// forces of the published tire.
TCombinedDataSet TwoAngles(const examples::TCombinedTire& tire) {
  TCombinedDataSet data;
  for (double angle : {-4.0, 4.0})
    for (int k = -10; k <= 10; ++k) {
      TCombinedSample s;
      s.camber = 0, s.load = tire.lateral.Fz0, s.slip_angle = angle, s.slip_ratio = 0.02 * k;
      const TCombinedPoint p = TruthAt(tire, s.load, angle, s.slip_ratio);
      s.fx = p.Fx, s.fy = p.Fy;
      data.samples.push_back(s);
    }
  return data;
}

// At the true tire's coefficients the model lines go through
// CombinedPointAt and the measured points lie on them.
TEST(CombinedCurves, SlipCurvesAndEllipseFollowTheModel) {
  const examples::TCombinedTire tire = Car();
  const TCombinedDataSet data = TwoAngles(tire);
  const TCombinedModel model = ModelOf(tire);
  const auto curves = CombinedSlipCurves(data, model, TCombinedStage::kFy, 0, tire.lateral.Fz0);
  ASSERT_EQ(curves.size(), 4u);
  EXPECT_EQ(curves[0].title, "-4 deg");
  EXPECT_TRUE(curves[0].in_legend && !curves[1].in_legend);
  EXPECT_TRUE(curves[1].measured);
  EXPECT_EQ(curves[0].color, curves[1].color);
  EXPECT_NE(curves[0].color, curves[2].color);
  ASSERT_EQ(curves[1].points.size(), 21u);
  EXPECT_EQ(curves[0].points.front().first, -0.2);
  EXPECT_EQ(curves[0].points.back().first, 0.2);
  // Model points every 0.01 of slip ratio: every second one is a data point.
  for (size_t i = 0; i < curves[1].points.size(); ++i)
    EXPECT_NEAR(curves[0].points[2 * i].second, curves[1].points[i].second,
                1e-9 * std::fabs(curves[1].points[i].second) + 1e-9);
  // Combined slip lowers Fy as the slip ratio grows: the weight is below 1.
  EXPECT_LT(std::fabs(curves[0].points[0].second), std::fabs(curves[0].points[20].second));
  const auto ellipse = FrictionEllipseCurves(data, model, 0);
  ASSERT_EQ(ellipse.size(), 3u);  // two lines, one set of markers
  EXPECT_TRUE(ellipse[0].in_legend && !ellipse[1].in_legend && ellipse[2].measured && !ellipse[2].in_legend);
  EXPECT_EQ(ellipse[2].points.size(), 42u);
  // Mz was not measured: no curve for it.
  EXPECT_TRUE(CombinedSlipCurves(data, model, TCombinedStage::kMz, 0, tire.lateral.Fz0).empty());
}

// Held values drift from sweep to sweep: near values are one set-point,
// given by their mean; far ones stay apart.
TEST(CombinedCurves, NearSetPointsAreOne) {
  TCombinedDataSet data;
  for (double load : {3990.0, 4010.0, 6000.0})
    for (double angle : {2.9, 3.1, -3.0}) {
      TCombinedSample s;
      s.camber = 0.05, s.load = load, s.slip_angle = angle, s.fx = 1;
      data.samples.push_back(s);
    }
  const auto cambers = CombinedCambers(data);
  ASSERT_EQ(cambers.size(), 1u);
  const auto loads = CombinedLoads(data, cambers[0]);
  ASSERT_EQ(loads.size(), 2u);
  EXPECT_DOUBLE_EQ(loads[0], 4000.0);
  const auto angles = CombinedSlipAngles(data, cambers[0], loads[0]);
  ASSERT_EQ(angles.size(), 2u);
  EXPECT_DOUBLE_EQ(angles[0], -3.0);
  EXPECT_DOUBLE_EQ(angles[1], 3.0);
}

// The residuals are measured - model at each point's own set-points: with
// a known error added to the data, they give it back, and the per-curve
// RMS, largest error and R^2 follow their definitions.
TEST(CombinedCurves, ResidualsAndCurveFitsGiveBackAKnownError) {
  const examples::TCombinedTire tire = Car();
  TCombinedDataSet data = TwoAngles(tire);
  // The load wobbles a little around its set-point, and the Fx of the
  // slip angle 4 deg carries an error of +-30 N alternating.
  for (size_t i = 0; i < data.samples.size(); ++i) {
    TCombinedSample& s = data.samples[i];
    s.load *= 1 + 0.01 * std::sin(static_cast<double>(i));
    const TCombinedPoint p = TruthAt(tire, s.load, s.slip_angle, s.slip_ratio);
    s.fx = p.Fx + (s.slip_angle > 0 ? (i % 2 == 0 ? 30.0 : -30.0) : 0.0);
    s.fy = p.Fy;
  }
  data.samples[3].fx = std::nan("");  // a gap in the recording
  const TCombinedModel model = ModelOf(tire);
  const auto residuals = CombinedResidualCurves(data, model, TCombinedStage::kFx, 0, tire.lateral.Fz0);
  ASSERT_EQ(residuals.size(), 2u);
  EXPECT_EQ(residuals[0].points.size(), 20u);  // the gap left out
  for (const auto& [kappa, r] : residuals[0].points) EXPECT_NEAR(r, 0, 1e-8) << kappa;
  ASSERT_EQ(residuals[1].points.size(), 21u);
  for (size_t i = 1; i < residuals[1].points.size(); ++i)
    EXPECT_LE(residuals[1].points[i - 1].first, residuals[1].points[i].first);
  for (const auto& [kappa, r] : residuals[1].points) EXPECT_NEAR(std::fabs(r), 30, 1e-8) << kappa;

  const auto fits = CombinedCurveFits(data, model, TCombinedStage::kFx);
  ASSERT_EQ(fits.size(), 2u);
  EXPECT_NEAR(fits[0].slip_angle, -4, 1e-12);
  EXPECT_EQ(fits[0].points, 20u);
  EXPECT_LT(fits[0].rms, 1e-8);
  EXPECT_NEAR(fits[0].r_squared, 1, 1e-12);
  EXPECT_EQ(fits[1].points, 21u);
  EXPECT_NEAR(fits[1].rms, 30, 1e-8);
  EXPECT_NEAR(fits[1].max_error, 30, 1e-8);
  // R^2 = 1 - SSR/SST from the measured values themselves.
  double mean = 0;
  for (size_t i = 21; i < 42; ++i) mean += data.samples[i].fx / 21;
  double sst = 0;
  for (size_t i = 21; i < 42; ++i) sst += (data.samples[i].fx - mean) * (data.samples[i].fx - mean);
  EXPECT_NEAR(fits[1].r_squared, 1 - 21 * 900 / sst, 1e-9);

  const TCombinedCurveFit all = CombinedStageFit(data, model, TCombinedStage::kFx);
  EXPECT_EQ(all.points, 41u);
  EXPECT_NEAR(all.rms, std::sqrt(21 * 900.0 / 41), 1e-8);
  // My needs the wheel's speed: none recorded, no point.
  EXPECT_EQ(CombinedStageFit(data, model, TCombinedStage::kMy).points, 0u);
}

}  // namespace
}  // namespace morvex
