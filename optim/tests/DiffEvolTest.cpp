#include "optim/DiffEvol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "numerics/LxBasics.h"

namespace morvex {
namespace {

// The generator written out from its definition, independent of LxBasics:
// state := state * 134775813 + 1 (mod 2^32).
struct Lcg {
  uint32_t state = 0;
  uint32_t Next() { return state = state * 134775813u + 1u; }
  int32_t Int(int32_t n) { return static_cast<int32_t>((uint64_t{Next()} * uint32_t(n)) >> 32); }
  double Real() { return Next() / 4294967296.0; }
};

Extended Sphere(const TDiffEvolPopulation& v, double cx = 0, double cy = 0) {
  Extended s = 0;
  for (size_t k = 0; k < v.size(); ++k) {
    const Extended d = v[k] - (k == 0 ? cx : k == 1 ? cy : 0.0);
    s += d * d;
  }
  return s;
}

TDiffEvolEvaluate SphereCost(int* calls = nullptr) {
  return [calls](TDiffEvol&, const TDiffEvolPopulation& v) {
    if (calls) ++*calls;
    return Sphere(v, 3.0, -0.5);
  };
}

TEST(TDiffEvol, InitialisationDrawsDimensionByDimension) {
  SetRandSeed(0);
  TDiffEvol de(6, {0.0, -2.0, 4.5}, {10.0, 2.0, 4.5}, {});
  Lcg lcg;
  const double lo[] = {0.0, -2.0, 4.5}, hi[] = {10.0, 2.0, 4.5};
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 6; ++i)
      EXPECT_EQ(de.Population()[i].Vector[j], lcg.Real() * (hi[j] - lo[j]) + lo[j]) << i << "," << j;
  EXPECT_EQ(RandSeed(), lcg.state);
  EXPECT_EQ(de.Dimension(), 3);
  EXPECT_EQ(de.BestIndex(), -1);
  for (const auto& m : de.Population()) {
    EXPECT_EQ(m.Vector[2], 4.5);  // equal bounds pin the value
    EXPECT_FALSE(m.Evaluated);
  }
  for (const auto& t : de.Trials()) EXPECT_EQ(t.Vector, TDiffEvolPopulation(3, 0.0));

  // Start values replace member 0 only, after its draws were consumed.
  SetRandSeed(0);
  TDiffEvol seeded(6, {0.0, -2.0, 4.5}, {10.0, 2.0, 4.5}, {100.0, 200.0, 300.0, 400.0});
  EXPECT_EQ(seeded.Population()[0].Vector, (TDiffEvolPopulation{100.0, 200.0, 300.0}));
  EXPECT_EQ(seeded.Population()[1].Vector, de.Population()[1].Vector);
  EXPECT_EQ(RandSeed(), lcg.state);
}

// One generation on 5 members and 2 dimensions, every draw and every sum
// recomputed here from the generator formula and the documented arithmetic.
TEST(TDiffEvol, FirstGenerationMatchesHandComputation) {
  const double gb = 0.5, g1 = 0.3, g2 = 0.2, g3 = 0.1, cr = 0.5;
  const int n = 5;
  SetRandSeed(0);
  TDiffEvol de(n, {0.0, -1.0}, {10.0, 1.0}, {});
  int calls = 0;
  de.OnEvaluate = SphereCost(&calls);

  Lcg lcg;
  double p[5][2];
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < n; ++i) p[i][j] = lcg.Real() * (j == 0 ? 10.0 : 2.0) + (j == 0 ? 0.0 : -1.0);
  double cost[5];
  int b = 0;
  for (int i = 0; i < n; ++i) {
    cost[i] = double(Sphere({p[i][0], p[i][1]}, 3.0, -0.5));
    if (cost[i] < cost[b]) b = i;
  }
  const double w = double(1.0L - gb - g1 - g2 - g3);
  EXPECT_EQ(w, -0.1);  // 1 - 0.5 - 0.3 - 0.2 - 0.1 rounded once
  int new_best = b;
  double best_cost = cost[b];
  double trial[5][2];
  int mutated_total = 0, replaced = 0;
  for (int i = 0; i < n; ++i) {
    int r1, r2, r3;
    do r1 = lcg.Int(n); while (r1 == i || r1 == b);
    do r2 = lcg.Int(n); while (r2 == i || r2 == b || r2 == r1);
    do r3 = lcg.Int(n); while (r3 == i || r3 == b || r3 == r1 || r3 == r2);
    int j = lcg.Int(2), len = 0;
    double u;
    do {
      trial[i][j] = double(Extended(w) * p[i][j] + Extended(g1) * p[r1][j] + Extended(g2) * p[r2][j] +
                           Extended(g3) * p[r3][j] + Extended(gb) * p[b][j]);
      j = (j + 1) % 2;
      ++len;
      u = lcg.Real();
    } while (len < 2 && u < cr);
    mutated_total += len;
    if (len < 2) trial[i][j] = p[i][j];
    const double c = double(Sphere({trial[i][0], trial[i][1]}, 3.0, -0.5));
    if (c < cost[i]) {
      if (c < best_cost) new_best = i, best_cost = c;
      p[i][0] = trial[i][0], p[i][1] = trial[i][1], cost[i] = c;
      ++replaced;
    }
  }

  const double result = de.NextGeneration(gb, g1, g2, g3, cr);
  EXPECT_EQ(calls, 2 * n);
  EXPECT_EQ(result, best_cost);
  EXPECT_EQ(de.BestIndex(), new_best);
  EXPECT_EQ(RandSeed(), lcg.state);
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(de.Trials()[i].Vector, (TDiffEvolPopulation{trial[i][0], trial[i][1]})) << i;
    EXPECT_EQ(de.Population()[i].Vector, (TDiffEvolPopulation{p[i][0], p[i][1]})) << i;
    EXPECT_EQ(de.Population()[i].Cost, cost[i]) << i;
  }
  // Guard against a degenerate fixture: the crossover must have stopped early
  // at least once, and some trials must have won.
  EXPECT_LT(mutated_total, 2 * n);
  EXPECT_GT(replaced, 0);

  calls = 0;
  de.NextGeneration(gb, g1, g2, g3, cr);
  EXPECT_EQ(calls, n);  // later generations evaluate the trials only
}

TEST(TDiffEvol, SameSeedGivesSameSearch) {
  auto run = [] {
    TDiffEvol de(12, {-5, -5, -5}, {5, 5, 5}, {1, 2, 3});
    de.OnEvaluate = SphereCost();
    std::vector<double> costs;
    for (int g = 0; g < 30; ++g) costs.push_back(de.NextGeneration(1.0, 0.8, 0.8, 0.8, 0.9));
    TDiffEvolPopulation best;
    de.GetBest(best);
    costs.insert(costs.end(), best.begin(), best.end());
    return costs;
  };
  SetRandSeed(0);
  const auto first = run();
  const auto continued = run();  // the generator is not reseeded between runs
  SetRandSeed(0);
  const auto again = run();
  EXPECT_EQ(first, again);
  EXPECT_NE(first, continued);
}

TEST(TDiffEvol, FindsKnownMinima) {
  SetRandSeed(0);
  {
    // Shifted sphere with DE/best/1 (F = 0.7): best + F (r1 - r2).
    TDiffEvol de(30, {-10, -10, -10}, {10, 10, 10}, {});
    de.OnEvaluate = SphereCost();
    double cost = 0;
    for (int g = 0; g < 300; ++g) cost = de.NextGeneration(1.0, 0.7, -0.7, 0.0, 0.9);
    TDiffEvolPopulation best;
    de.GetBest(best);
    EXPECT_LT(cost, 1e-12);
    EXPECT_NEAR(best[0], 3.0, 1e-6);
    EXPECT_NEAR(best[1], -0.5, 1e-6);
    EXPECT_NEAR(best[2], 0.0, 1e-6);
  }
  {
    // Rosenbrock's valley, minimum 0 at (1, 1).
    TDiffEvol de(40, {-2, -2}, {2, 2}, {-1.5, 1.5});
    de.OnEvaluate = [](TDiffEvol&, const TDiffEvolPopulation& v) {
      const Extended a = 1.0L - v[0], c = Extended(v[1]) - Extended(v[0]) * v[0];
      return a * a + 100 * c * c;
    };
    double cost = 0;
    for (int g = 0; g < 1000; ++g) cost = de.NextGeneration(0.0, 1.0, 0.7, -0.7, 0.9);  // DE/rand/1: r1 + F (r2 - r3)
    TDiffEvolPopulation best;
    de.GetBest(best);
    EXPECT_LT(cost, 1e-10);
    EXPECT_NEAR(best[0], 1.0, 1e-4);
    EXPECT_NEAR(best[1], 1.0, 1e-4);
  }
}

// Number of components in which each trial differs from its member, with a
// constant cost so that no member is replaced.
std::vector<int> MutatedComponents(double cr) {
  TDiffEvol de(8, {0, 0, 0, 0, 0}, {1, 1, 1, 1, 1}, {});
  de.OnEvaluate = [](TDiffEvol&, const TDiffEvolPopulation&) { return 1.0L; };
  std::vector<int> counts;
  for (int g = 0; g < 3; ++g) {
    de.NextGeneration(1.0, 0.8, 0.8, 0.8, cr);
    for (int i = 0; i < 8; ++i) {
      int differ = 0;
      for (int j = 0; j < 5; ++j) differ += de.Trials()[i].Vector[j] != de.Population()[i].Vector[j];
      counts.push_back(differ);
    }
  }
  return counts;
}

TEST(TDiffEvol, CrossoverRateBoundsTheMutatedRun) {
  SetRandSeed(0);
  for (int c : MutatedComponents(0.0)) EXPECT_EQ(c, 1);
  for (int c : MutatedComponents(1.0)) EXPECT_EQ(c, 5);
}

TEST(TDiffEvol, EqualCostKeepsMemberAndLowerIndexWinsTies) {
  SetRandSeed(0);
  TDiffEvol de(6, {-1, -1}, {1, 1}, {});
  de.OnEvaluate = [](TDiffEvol&, const TDiffEvolPopulation&) { return 2.5L; };
  const auto before = de.Population();
  EXPECT_EQ(de.NextGeneration(1.0, 0.8, 0.8, 0.8, 1.0), 2.5);
  EXPECT_EQ(de.BestIndex(), 0);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(de.Population()[i].Vector, before[i].Vector);
    EXPECT_TRUE(de.Population()[i].Evaluated);
    EXPECT_TRUE(de.Trials()[i].Evaluated);
    EXPECT_NE(de.Trials()[i].Vector, before[i].Vector);
  }
}

TEST(TDiffEvol, StartMemberThatIsBestStaysBest) {
  SetRandSeed(0);
  TDiffEvol de(10, {-5, -5}, {5, 5}, {3.0, -0.5});  // the exact minimum
  de.OnEvaluate = SphereCost();
  EXPECT_EQ(de.NextGeneration(1.0, 0.8, 0.8, 0.8, 0.9), 0.0);
  EXPECT_EQ(de.BestIndex(), 0);
  TDiffEvolPopulation best;
  de.GetBest(best);
  EXPECT_EQ(best, (TDiffEvolPopulation{3.0, -0.5}));
}

TEST(TDiffEvol, BrokenPreconditionsThrow) {
  const TDiffEvolPopulation lo{0, 0}, hi{1, 1};
  EXPECT_THROW(TDiffEvol(4, lo, hi, {}), EAssertionFailed);
  EXPECT_THROW(TDiffEvol(5, {}, {}, {}), EAssertionFailed);
  EXPECT_THROW(TDiffEvol(5, lo, {1}, {}), EAssertionFailed);
  EXPECT_THROW(TDiffEvol(5, lo, {1, 1, 1}, {}), EAssertionFailed);
  EXPECT_THROW(TDiffEvol(5, lo, {1, -0.5}, {}), EAssertionFailed);
  EXPECT_THROW(TDiffEvol(5, lo, {1, NAN}, {}), EAssertionFailed);
  EXPECT_THROW(TDiffEvol(5, lo, hi, {0.5}), EAssertionFailed);
  EXPECT_NO_THROW(TDiffEvol(5, lo, hi, {0.5, 0.5, 9.0}));
  EXPECT_NO_THROW(TDiffEvol(5, {-3, 7}, {-3, 7}, {}));

  TDiffEvol de(5, lo, hi, {});
  TDiffEvolPopulation best;
  EXPECT_THROW(de.GetBest(best), EAssertionFailed);
  EXPECT_THROW(de.NextGeneration(1, 0.8, 0.8, 0.8, 0.5), EAssertionFailed);  // no callback
  de.OnEvaluate = SphereCost();
  EXPECT_THROW(de.NextGeneration(1, 0.8, 0.8, 0.8, -0.01), EAssertionFailed);
  EXPECT_THROW(de.NextGeneration(1, 0.8, 0.8, 0.8, 1.01), EAssertionFailed);
  EXPECT_THROW(de.NextGeneration(1, 0.8, 0.8, 0.8, NAN), EAssertionFailed);
  EXPECT_EQ(de.BestIndex(), -1);
}

TEST(TDiffEvol, CallbackErrorsLeaveAConsistentState) {
  SetRandSeed(0);
  TDiffEvol de(6, {-5, -5}, {5, 5}, {});
  int calls = 0, fail_at = 3;
  de.OnEvaluate = [&](TDiffEvol& sender, const TDiffEvolPopulation& v) -> Extended {
    EXPECT_EQ(&sender, &de);
    if (++calls == fail_at) throw std::runtime_error("cost failed");
    return Sphere(v);
  };
  // Failing while the first population is evaluated: the next call starts over.
  EXPECT_THROW(de.NextGeneration(1, 0.8, 0.8, 0.8, 0.9), std::runtime_error);
  EXPECT_EQ(de.BestIndex(), -1);
  calls = 0;
  fail_at = 6 + 4;  // the fourth trial
  EXPECT_THROW(de.NextGeneration(1, 0.8, 0.8, 0.8, 0.9), std::runtime_error);
  const int32_t best_before = de.BestIndex();
  EXPECT_GE(best_before, 0);
  for (const auto& m : de.Population()) EXPECT_TRUE(m.Evaluated);

  // A failing later generation keeps the previous best member.
  fail_at = -1;
  de.NextGeneration(1, 0.8, 0.8, 0.8, 0.9);
  const int32_t best_ok = de.BestIndex();
  calls = 0;
  fail_at = 2;
  EXPECT_THROW(de.NextGeneration(1, 0.8, 0.8, 0.8, 0.9), std::runtime_error);
  EXPECT_EQ(de.BestIndex(), best_ok);
}

}  // namespace
}  // namespace morvex
