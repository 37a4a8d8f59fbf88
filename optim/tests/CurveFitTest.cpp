#include "optim/CurveFit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

namespace morvex {
namespace {

// y = a exp(-b x) + c at x = 0, 0.25, ..., 5.
struct Decay {
  std::vector<double> x, y;
  Decay(double a, double b, double c) {
    for (int i = 0; i <= 20; ++i) {
      x.push_back(0.25 * i);
      y.push_back(a * std::exp(-b * x.back()) + c);
    }
  }
  TCurveResiduals Residuals() const {
    return [this](const double* p, double* r) {
      for (size_t i = 0; i < x.size(); ++i) r[i] = y[i] - (p[0] * std::exp(-p[1] * x[i]) + p[2]);
    };
  }
};

TEST(CurveFit, RecoversAnExponentialDecayFromAFarStart) {
  const Decay data(3.0, 0.7, -1.0);
  const TCurveFitResult fit = FitCurve(data.Residuals(), data.x.size(), {1.0, 2.0, 0.0});
  ASSERT_EQ(fit.x.size(), 3u);
  EXPECT_NEAR(fit.x[0], 3.0, 1e-7);
  EXPECT_NEAR(fit.x[1], 0.7, 1e-7);
  EXPECT_NEAR(fit.x[2], -1.0, 1e-7);
  EXPECT_LT(fit.cost, 1e-14);
}

TEST(CurveFit, FixedParametersKeepTheirStartValues) {
  const Decay data(3.0, 0.7, -1.0);
  const TCurveFitResult fit = FitCurve(data.Residuals(), data.x.size(), {1.0, 0.7, 0.0}, {false, true, false});
  EXPECT_EQ(fit.x[1], 0.7);
  EXPECT_NEAR(fit.x[0], 3.0, 1e-7);
}

TEST(CurveFit, UnusablePointsAreStepsNotFailures) {
  const Decay data(3.0, 0.7, -1.0);
  // The model refuses b < 0.5: the fit must stay where it can evaluate.
  const TCurveResiduals guarded = [&data](const double* p, double* r) {
    if (p[1] < 0.5) throw std::domain_error("b below 0.5");
    data.Residuals()(p, r);
  };
  const TCurveFitResult fit = FitCurve(guarded, data.x.size(), {2.0, 0.6, 0.0});
  EXPECT_GE(fit.x[1], 0.5);
  EXPECT_TRUE(std::isfinite(fit.cost));
  // A start that cannot be evaluated comes back unchanged with an infinite cost.
  const TCurveFitResult dead = FitCurve(guarded, data.x.size(), {2.0, 0.1, 0.0});
  EXPECT_EQ(dead.x, (std::vector<double>{2.0, 0.1, 0.0}));
  EXPECT_TRUE(std::isinf(dead.cost));
  const TCurveResiduals nan = [](const double*, double* r) { r[0] = NAN; };
  EXPECT_TRUE(std::isinf(FitCurve(nan, 1, {1.0}).cost));
}

}  // namespace
}  // namespace morvex
