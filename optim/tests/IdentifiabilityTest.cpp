#include "optim/Identifiability.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace morvex {
namespace {

// Straight line y = a + b x through 5 points: the textbook covariance is
// s^2 (X^T X)^-1 with s^2 = SSR / (n - 2).
TEST(AnalyseJacobian, StandardErrorsOfAStraightLine) {
  const std::vector<double> x = {0, 1, 2, 3, 4};
  std::vector<double> j;
  for (double xi : x) j.insert(j.end(), {-1.0, -xi * 1000.0});  // b in units 1000 times smaller
  const double ssr = 0.3;
  const TIdentifiability id = AnalyseJacobian(j, 5, 2, ssr, 1.0);
  // X^T X = [[5, 10e3], [10e3, 30e6]]; det = 50e6; inverse diag = 30e6/50e6, 5/50e6.
  const double s2 = ssr / 3.0;
  EXPECT_EQ(id.rank, 2u);
  EXPECT_NEAR(id.residual_variance, s2, 1e-15);
  EXPECT_NEAR(id.coefficients[0].standard_error, std::sqrt(s2 * 0.6), 1e-12);
  EXPECT_NEAR(id.coefficients[1].standard_error, std::sqrt(s2 * 1e-7), 1e-15);
  EXPECT_TRUE(id.coefficients[0].determined && id.coefficients[1].determined);
}

TEST(AnalyseJacobian, ZeroAndProportionalColumnsAreNotDetermined) {
  // Columns: a, 2a (proportional), 0 (no effect), b (independent).
  std::vector<double> j;
  for (int i = 0; i < 6; ++i) j.insert(j.end(), {1.0 + i, 2.0 + 2.0 * i, 0.0, (i % 2) ? 1.0 : -0.5});
  const TIdentifiability id = AnalyseJacobian(j, 6, 4, 1.0, 10.0);
  EXPECT_EQ(id.rank, 2u);
  EXPECT_FALSE(id.coefficients[0].determined);
  EXPECT_EQ(id.coefficients[0].partners, std::vector<size_t>{1});
  EXPECT_EQ(id.coefficients[1].partners, std::vector<size_t>{0});
  EXPECT_FALSE(id.coefficients[2].determined);
  EXPECT_TRUE(id.coefficients[2].no_effect);
  EXPECT_TRUE(std::isnan(id.coefficients[2].standard_error));
  EXPECT_TRUE(id.coefficients[3].determined);
  EXPECT_TRUE(std::isfinite(id.coefficients[3].standard_error));
}

TEST(AnalyseJacobian, NoDegreesOfFreedomOrBrokenJacobian) {
  const TIdentifiability square = AnalyseJacobian({1, 0, 0, 1}, 2, 2, 0.0, 1.0);
  EXPECT_TRUE(std::isnan(square.residual_variance));
  EXPECT_TRUE(square.coefficients[0].determined);
  EXPECT_TRUE(std::isnan(square.coefficients[0].standard_error));

  const TIdentifiability broken = AnalyseJacobian({1, NAN, 0, 1, 2, 3}, 3, 2, 1.0, 1.0);
  EXPECT_FALSE(broken.coefficients[0].determined);
  EXPECT_FALSE(broken.coefficients[1].determined);
}

}  // namespace
}  // namespace morvex
