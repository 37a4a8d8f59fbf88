#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "testing/TestSupport.h"
#include "optim/LxFit.h"

namespace morvex {
namespace {

using test::MessageOf;

// A model of two coefficients whose cost records every point it is asked
// to evaluate.
struct Model {
  Extended a = 0;
  Extended b = 0;
  std::function<Extended(Extended, Extended)> f;
  std::vector<std::pair<Extended, Extended>> calls;

  Extended Cost() {
    calls.emplace_back(a, b);
    return f(a, b);
  }
  TFitCostFunction Callback() {
    return [this] { return Cost(); };
  }
};

// Evaluations of one iteration before its first trial, and of one Hessian.
size_t FixedPart(size_t n) { return 1 + 3 * n + 9 * n * (n + 1) / 2; }
size_t HessianPart(size_t n) { return 9 * n * (n + 1) / 2; }

// 1 + (a-2)^2 + 3(b+1)^2 + (a-2)(b+1): Hessian [[2, 1], [1, 6]], minimum 1.
Extended Bowl(Extended a, Extended b) {
  return 1 + (a - 2) * (a - 2) + 3 * (b + 1) * (b + 1) + (a - 2) * (b + 1);
}

TEST(TFit, NestedCentralDifferencesVisitTheDocumentedPoints) {
  Model m;
  m.a = 5;
  m.f = [](Extended a, Extended) { return 1 + (a - 3) * (a - 3); };
  auto fit = CreateFit({&m.a}, m.Callback());
  fit->Fit();
  const Extended v = 5, h = std::fabs(v / 100000.0L);
  const Extended up = v + h, down = v - h;
  const std::vector<Extended> expected = {v,                        // c0
                                          v,  v + h,  v - h,         // gradient
                                          v,  v + h,  v - h,         // Hessian: G0
                                          up, up + h, up - h,        //          G+
                                          down, down + h, down - h}; //          G-
  ASSERT_GT(m.calls.size(), expected.size());
  for (size_t k = 0; k < expected.size(); ++k) EXPECT_EQ(m.calls[k].first, expected[k]) << k;
}

TEST(TFit, ZeroValuedParameterStepsByTenToTheMinusTen) {
  for (Extended offset : {Extended{4}, Extended{0}}) {
    Model m;
    m.f = [offset](Extended a, Extended) { return (a - 0.5L) * (a - 0.5L) + offset; };
    auto fit = CreateFit({&m.a}, m.Callback());
    fit->Fit();
    const Extended c0 = 0.25L + offset;
    const Extended h = c0 > 1 ? c0 * 1e-10L : 1e-10L;
    EXPECT_EQ(m.calls[2].first, h) << "offset " << static_cast<double>(offset);
  }
}

TEST(TFit, CrossDerivativeMovesTheSecondParameterByTheFirstOnesStep) {
  Model m;
  m.a = 1;     // step 1e-5
  m.b = 1000;  // step 1e-2
  m.f = [](Extended a, Extended b) { return Bowl(a, b / 1000); };
  auto fit = CreateFit({&m.a, &m.b}, m.Callback());
  fit->Fit();
  // Evaluation 1 is c0, 2-7 the gradient, 8-16 element (1, 1), 17-25 element (1, 2).
  std::set<Extended> b_values;
  for (size_t k = 16; k < 25; ++k) b_values.insert(m.calls[k].second);
  const Extended h_a = 1e-5L;
  EXPECT_EQ(b_values, (std::set<Extended>{1000 - h_a, 1000, 1000 + h_a}));
}

TEST(TFit, EvaluationCountsPerIterationAndFinalHessianWithLastSteps) {
  Model m;
  m.a = 5;
  m.b = 5;
  m.f = Bowl;
  std::vector<size_t> calls_at_end;
  auto fit = CreateFit({&m.a, &m.b}, m.Callback());
  fit->SetProgress([&](int iteration, Extended, Extended) {
    EXPECT_EQ(iteration, static_cast<int>(calls_at_end.size()) + 1);
    calls_at_end.push_back(m.calls.size());
  });
  fit->Fit();
  ASSERT_GE(calls_at_end.size(), 2u);
  size_t start = 0;
  for (size_t end : calls_at_end) {
    EXPECT_GT(end - start, FixedPart(2)) << "an iteration without a trial";
    start = end;
  }
  EXPECT_EQ(m.calls.size() - calls_at_end.back(), HessianPart(2));
  // The final Hessian starts at the fitted point and steps by the step of
  // the last iteration, computed from that iteration's base point.
  const size_t last_base = calls_at_end[calls_at_end.size() - 2];
  const Extended h = std::fabs(m.calls[last_base].first / 100000.0L);
  const size_t final_start = calls_at_end.back();
  EXPECT_EQ(m.calls[final_start].first, m.a);
  EXPECT_EQ(m.calls[final_start + 1].first, m.a + h);
}

TEST(TFit, FindsTheMinimumOfAQuadraticAndItsCovariance) {
  Model m;
  m.a = 5;
  m.b = 5;
  m.f = Bowl;
  auto fit = CreateFit({&m.a, &m.b}, m.Callback());
  EXPECT_EQ(fit->GetCovariance(), nullptr);
  fit->Fit();
  EXPECT_NEAR(static_cast<double>(m.a), 2, 1e-6);
  EXPECT_NEAR(static_cast<double>(m.b), -1, 1e-6);
  // Inverse of half the Hessian: [[1, 0.5], [0.5, 3]]^-1.
  const double det = 3 - 0.25;
  auto cov = fit->GetCovariance();
  ASSERT_NE(cov, nullptr);
  EXPECT_NEAR(static_cast<double>(cov->GetItem(1, 1)), 3 / det, 1e-7);
  EXPECT_NEAR(static_cast<double>(cov->GetItem(1, 2)), -0.5 / det, 1e-7);
  EXPECT_NEAR(static_cast<double>(cov->GetItem(2, 2)), 1 / det, 1e-7);
  EXPECT_NEAR(static_cast<double>(fit->ParameterError(2)), std::sqrt(1 / det), 1e-7);
}

TEST(TFit, FindsTheMinimumOfRosenbrocksFunction) {
  Model m;
  m.a = -1.2L;
  m.b = 1;
  m.f = [](Extended a, Extended b) { return 100 * (b - a * a) * (b - a * a) + (1 - a) * (1 - a); };
  auto fit = CreateFit({&m.a, &m.b}, m.Callback());
  fit->Fit();
  EXPECT_NEAR(static_cast<double>(m.a), 1, 1e-6);
  EXPECT_NEAR(static_cast<double>(m.b), 1, 1e-6);
}

TEST(TFit, ProgressCallbackDoesNotChangeTheResult) {
  Model quiet, watched;
  quiet.a = watched.a = -1.2L;
  quiet.b = watched.b = 1;
  quiet.f = watched.f = [](Extended a, Extended b) {
    return 100 * (b - a * a) * (b - a * a) + (1 - a) * (1 - a);
  };
  CreateFit({&quiet.a, &quiet.b}, quiet.Callback())->Fit();
  auto fit = CreateFit({&watched.a, &watched.b}, watched.Callback());
  int reports = 0;
  fit->SetProgress([&](int, Extended c0, Extended c1) {
    ++reports;
    EXPECT_LE(c1, c0);
  });
  fit->Fit();
  EXPECT_GT(reports, 1);
  EXPECT_EQ(watched.calls, quiet.calls);
}

TEST(TFit, ReversesTheDirectionOnceWhenEveryDampingFails) {
  // 2 - tanh(a) at a = -1: the curvature is negative, so the Newton step
  // points uphill; only the reversed step descends.
  Model m;
  m.a = -1;
  m.f = [](Extended a, Extended) { return 2 - std::tanh(a); };
  std::vector<size_t> calls_at_end;
  auto fit = CreateFit({&m.a}, m.Callback());
  fit->SetProgress([&](int, Extended, Extended) { calls_at_end.push_back(m.calls.size()); });
  fit->Fit();
  const size_t first_trial = FixedPart(1);
  ASSERT_GT(calls_at_end.at(0), first_trial + 22);
  // 22 dampings from 0.001 to about 1e18 along -A*g ...
  for (size_t k = 0; k < 22; ++k) EXPECT_LT(m.calls[first_trial + k].first, -1) << k;
  // ... then the same first step along +A*g.
  const Extended forward = m.calls[first_trial].first;
  const Extended reversed = m.calls[first_trial + 22].first;
  EXPECT_NEAR(static_cast<double>(reversed + 1), static_cast<double>(-1 - forward), 1e-15);
  EXPECT_GT(m.a, 5);  // it keeps descending towards the asymptote
}

TEST(TFit, EndsNextToTheBasePointWhenBothDirectionsFail) {
  // A kink at 0 with slopes 1 and -2: the central differences see a
  // gradient and a positive curvature, but every step raises the cost.
  Model m;
  m.f = [](Extended a, Extended) { return a > 0 ? a : -2 * a; };
  std::vector<size_t> calls_at_end;
  auto fit = CreateFit({&m.a}, m.Callback());
  fit->SetProgress([&](int, Extended, Extended) { calls_at_end.push_back(m.calls.size()); });
  fit->Fit();
  EXPECT_EQ(calls_at_end, (std::vector<size_t>{FixedPart(1) + 44}));
  EXPECT_EQ(m.calls.size(), FixedPart(1) + 44 + HessianPart(1));
  EXPECT_LT(m.a, 0);
  EXPECT_GT(m.a, -1e-27L);
  EXPECT_GT(fit->ParameterError(1), 0);  // fitted
}

TEST(TFit, ZeroCostEndsTheFitWithoutAnError) {
  Model m;
  m.f = [](Extended a, Extended) { return a * a; };
  auto fit = CreateFit({&m.a}, m.Callback());
  EXPECT_NO_THROW(fit->Fit());
  EXPECT_EQ(m.a, 0);
  EXPECT_EQ(m.calls.size(), FixedPart(1) + 1 + HessianPart(1));
  EXPECT_NEAR(static_cast<double>(fit->ParameterError(1)), 1, 1e-6);
  EXPECT_NO_THROW(RaiseFpFaults());  // no fault flag left behind
}

TEST(TFit, CoefficientsOutsideTheListAreNeverWritten) {
  struct {
    Extended a = 5, fixed = 7, b = 5;
  } model;
  std::vector<Extended> fixed_seen;
  auto fit = CreateFit({&model.a, &model.b}, [&] {
    fixed_seen.push_back(model.fixed);
    return Bowl(model.a, model.b) + model.fixed;
  });
  fit->Fit();
  ASSERT_FALSE(fixed_seen.empty());
  for (Extended x : fixed_seen) ASSERT_EQ(x, 7);
  EXPECT_EQ(model.fixed, 7);
}

TEST(TFit, ParameterErrorNeedsASuccessfulFitAndAValidIndex) {
  Model m;
  m.a = 5;
  m.b = 5;
  m.f = Bowl;
  auto fit = CreateFit({&m.a, &m.b}, m.Callback());
  EXPECT_EQ(MessageOf<Exception>([&] { fit->ParameterError(1); }),
            "No fit has been performed or fit failed.");
  fit->Fit();
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { fit->ParameterError(0); }), "Row 0 out of bounds");
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { fit->ParameterError(3); }), "Row 3 out of bounds");
}

TEST(TFit, NegativeVarianceIsAnInvalidOperation) {
  // A saddle: b = 1 is a maximum along b, so the half Hessian is indefinite.
  Model m;
  m.a = 3;
  m.b = 1;
  m.f = [](Extended a, Extended b) { return 10 + (a - 1) * (a - 1) - 0.5L * (b - 1) * (b - 1); };
  auto fit = CreateFit({&m.a, &m.b}, m.Callback());
  fit->Fit();
  ASSERT_NE(fit->GetCovariance(), nullptr);
  EXPECT_LT(fit->GetCovariance()->GetItem(2, 2), 0);
  EXPECT_THROW(fit->ParameterError(2), EInvalidOp);
  EXPECT_NEAR(static_cast<double>(fit->ParameterError(1)), 1, 1e-6);
}

TEST(TFit, FailuresLeaveTheFitUnfitted) {
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([] { CreateFit({}, [] { return 0.0L; })->Fit(); }),
            "RowCount < 1 not allowed");

  // A cost that does not depend on b: the Hessian is singular.
  Model flat;
  flat.a = 5;
  flat.f = [](Extended a, Extended) { return 1 + (a - 3) * (a - 3); };
  auto singular = CreateFit({&flat.a, &flat.b}, flat.Callback());
  EXPECT_EQ(MessageOf<ELxFloatMatrix>([&] { singular->Fit(); }), "Invert: Singular matrix");
  EXPECT_EQ(singular->GetCovariance(), nullptr);

  // The callback's own exception comes through unchanged.
  Model failing;
  failing.a = 5;
  failing.f = [&](Extended a, Extended) -> Extended {
    if (failing.calls.size() > 20) throw EZeroDivide();
    return a * a;
  };
  auto fit = CreateFit({&failing.a}, failing.Callback());
  EXPECT_THROW(fit->Fit(), EZeroDivide);
  EXPECT_EQ(MessageOf<Exception>([&] { fit->ParameterError(1); }),
            "No fit has been performed or fit failed.");

  // A NaN cost is an invalid operation rather than an endless trial loop.
  Model nan;
  nan.a = 1;
  nan.f = [](Extended a, Extended) { return a > 1.5L ? NAN : (a - 2) * (a - 2); };
  EXPECT_THROW(CreateFit({&nan.a}, nan.Callback())->Fit(), EInvalidOp);
}

}  // namespace
}  // namespace morvex
