#include "fitting/MeasuredCurves.h"

#include <gtest/gtest.h>

#include <cmath>

#include "fitting/tests/PublishedTires.h"

namespace morvex {
namespace {

TEST(MeasuredCurves, OneCurvePerLoadWithFiniteValuesOnly) {
  TTireDataSet data;
  TLoadCase lc;
  lc.Camber = 2;
  lc.Loads = {0.0, 3000.0};  // a column at load 0 is no curve
  lc.Slips = {-1, 0, 1, 2, NAN};
  lc.Values = {0, -10, 0, 0, 0, 10, 0, 20, 0, 5};
  data.Cases = {lc};
  const std::vector<TMeasuredCurve> curves = MeasuredCurves(data, true);
  ASSERT_EQ(curves.size(), 1u);
  EXPECT_EQ(curves[0].fz, 3000.0);
  EXPECT_EQ(curves[0].slip, (std::vector<double>{-1, 0, 1, 2}));
  EXPECT_NEAR(curves[0].x[3], 2 * M_PI / 180, 1e-15);
  EXPECT_NEAR(curves[0].gamma, 2 * M_PI / 180, 1e-15);
  EXPECT_TRUE(MeasuredCurves(data, true, 5).empty());
}

TEST(MeasuredCurves, ScatterOfNoisyCurvesIsTheNoise) {
  // Straight and gently curved lines with noise of deviation 2.
  TTireDataSet data;
  test::Noise noise(11);
  for (int c = 0; c < 4; ++c) {
    TLoadCase lc;
    lc.Camber = c;
    lc.Loads = {1000, 2000, 3000};
    for (int r = 0; r <= 40; ++r) lc.Slips.push_back(-10 + 0.5 * r);
    for (double s : lc.Slips)
      for (double load : lc.Loads) lc.Values.push_back(load * 0.1 * std::tanh(0.2 * s) + 2.0 * noise.Next());
    data.Cases.push_back(lc);
  }
  const double scatter = MeasurementScatter(MeasuredCurves(data, false));
  EXPECT_NEAR(scatter, 2.0, 0.3);
  // Without noise only the small curvature is left.
  for (TLoadCase& lc : data.Cases)
    for (size_t r = 0; r < lc.RowCount(); ++r)
      for (size_t j = 0; j < lc.LoadCount(); ++j) lc.Value(r, j) = lc.Loads[j] * 0.1 * std::tanh(0.2 * lc.Slips[r]);
  EXPECT_LT(MeasurementScatter(MeasuredCurves(data, false)), 0.5);
  EXPECT_TRUE(std::isnan(MeasurementScatter({})));
}

TEST(Regress, ColumnsTheDataCannotTellApartGetZero) {
  const std::vector<double> ones = {1, 1, 1, 1}, x = {1, 2, 3, 4}, twice = {2, 4, 6, 8};
  const std::vector<double> y = {3, 5, 7, 9};  // 1 + 2 x
  const std::vector<double> beta = Regress({ones, x, twice}, y);
  EXPECT_NEAR(beta[0], 1.0, 1e-12);
  EXPECT_NEAR(beta[1], 2.0, 1e-12);
  EXPECT_EQ(beta[2], 0.0);
  EXPECT_EQ(Regress({ones, x}, {}), (std::vector<double>{0, 0}));
  EXPECT_EQ(Median({3, NAN, 1, 2}), 2.0);
}

}  // namespace
}  // namespace morvex
