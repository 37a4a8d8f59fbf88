// The genetic search when a trial's cost raises a floating-point fault: the
// trial counts as infinitely bad and the search goes on, on one thread and
// on several alike.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "optim/DiffEvol.h"

namespace morvex {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A bowl with its minimum 0 at (1, 1, 1) whose cost overflows wherever the
// first component exceeds 3, as an exponential term of a tire model does far
// from sensible coefficients.
Extended OverflowingBowl(const TDiffEvolPopulation& x) {
  if (x[0] > 3.0) throw EOverflow();
  Extended sum = 0;
  for (double v : x) sum += (v - 1.0) * (v - 1.0);
  return sum;
}

struct SearchRun {
  std::vector<TEvaluatedPopulation> population;
  std::vector<double> best_costs;
  int64_t failed = 0;
  int32_t first_failed = 0;
  int32_t best = -1;
  uint32_t seed = 0;
  std::string error;
};

SearchRun Search(int threads, int32_t population, double low, double high, int generations,
           const std::function<Extended(const TDiffEvolPopulation&)>& cost) {
  SetRandSeed(7);
  TDiffEvol de(population, TDiffEvolPopulation(3, low), TDiffEvolPopulation(3, high), {});
  de.OnEvaluate = [&](TDiffEvol&, const TDiffEvolPopulation& v) { return cost(v); };
  de.SetThreads(threads, [&](int, const TDiffEvolPopulation& v) { return cost(v); });
  SearchRun run;
  try {
    for (int g = 0; g < generations; ++g) run.best_costs.push_back(de.NextGeneration(1.0, 0.8, 0.8, 0.8, 0.9));
  } catch (const std::exception& e) {
    run.error = e.what();
  }
  run.population = de.Population();
  run.failed = de.FailedTrials();
  run.first_failed = de.FirstPopulationFailures();
  run.best = de.BestIndex();
  run.seed = RandSeed();
  return run;
}

// Before, the first overflowing trial ended the whole search with
// "Débordement en virgule flottante".
TEST(SearchFaults, AFaultingTrialIsInfinitelyBadAndTheSearchGoesOn) {
  const SearchRun run = Search(1, 20, -5.0, 5.0, 200, OverflowingBowl);
  EXPECT_EQ(run.error, "");
  ASSERT_EQ(run.best_costs.size(), 200u);
  // About a fifth of the box overflows: members of the first population
  // among them are kept with an infinite cost and replaced later.
  EXPECT_GT(run.first_failed, 0);
  EXPECT_LT(run.first_failed, 20);
  EXPECT_GT(run.failed, run.first_failed);
  EXPECT_LT(run.best_costs.back(), run.best_costs.front());
  for (const TEvaluatedPopulation& member : run.population) EXPECT_TRUE(std::isfinite(member.Cost));
  // The very search of a cost that is infinite in that region.
  const SearchRun infinite = Search(1, 20, -5.0, 5.0, 200, [](const TDiffEvolPopulation& x) -> Extended {
    return x[0] > 3.0 ? std::numeric_limits<Extended>::infinity() : OverflowingBowl(x);
  });
  EXPECT_EQ(infinite.failed, 0);
  EXPECT_EQ(infinite.best, run.best);
  ASSERT_EQ(infinite.best_costs.size(), run.best_costs.size());
  for (size_t g = 0; g < run.best_costs.size(); ++g) EXPECT_TRUE(SameBits(infinite.best_costs[g], run.best_costs[g]));
  for (size_t i = 0; i < run.population.size(); ++i)
    for (size_t k = 0; k < 3; ++k)
      EXPECT_TRUE(SameBits(infinite.population[i].Vector[k], run.population[i].Vector[k]));

  // Each other exception still ends the generation.
  const SearchRun stopped = Search(1, 20, -5.0, 5.0, 5, [](const TDiffEvolPopulation& x) -> Extended {
    if (x[1] > 4.0) throw Exception("cancelled");
    return OverflowingBowl(x);
  });
  EXPECT_EQ(stopped.error, "cancelled");
}

TEST(SearchFaults, EveryThreadCountGivesTheSerialSearchAndCount) {
  for (const auto& [population, cost] :
       {std::pair<int32_t, std::function<Extended(const TDiffEvolPopulation&)>>{5, OverflowingBowl},
        {17, OverflowingBowl},
        {12, [](const TDiffEvolPopulation& x) -> Extended {
           // A division by zero and an invalid operation, and a plain NaN.
           if (x[1] < -2.0) throw EZeroDivide();
           if (x[2] > 2.5) throw EInvalidOp();
           if (x[0] < -3.0) return std::nan("");
           return OverflowingBowl(x);
         }}}) {
    const SearchRun serial = Search(1, population, -5.0, 5.0, 60, cost);
    ASSERT_EQ(serial.error, "");
    EXPECT_GT(serial.failed, 0);
    for (int threads : {2, 3, 8}) {
      const SearchRun parallel = Search(threads, population, -5.0, 5.0, 60, cost);
      const std::string what = std::to_string(threads) + " threads, population " + std::to_string(population);
      EXPECT_EQ(parallel.error, "") << what;
      EXPECT_EQ(parallel.failed, serial.failed) << what;
      EXPECT_EQ(parallel.first_failed, serial.first_failed) << what;
      EXPECT_EQ(parallel.best, serial.best) << what;
      EXPECT_EQ(parallel.seed, serial.seed) << what;
      ASSERT_EQ(parallel.best_costs.size(), serial.best_costs.size()) << what;
      for (size_t g = 0; g < serial.best_costs.size(); ++g)
        EXPECT_TRUE(SameBits(parallel.best_costs[g], serial.best_costs[g])) << what << " generation " << g;
      for (size_t i = 0; i < serial.population.size(); ++i) {
        EXPECT_TRUE(SameBits(parallel.population[i].Cost, serial.population[i].Cost)) << what << " member " << i;
        for (size_t k = 0; k < 3; ++k)
          EXPECT_TRUE(SameBits(parallel.population[i].Vector[k], serial.population[i].Vector[k])) << what;
      }
    }
  }
}

// A box where every member faults: the count says so, and the search still
// runs, its best cost infinite until a trial leaves the faulting region.
TEST(SearchFaults, AFirstPopulationThatFaultsEverywhereIsCounted) {
  for (int threads : {1, 3}) {
    const SearchRun run = Search(threads, 8, 3.5, 4.0, 1, OverflowingBowl);
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.first_failed, 8);
    ASSERT_EQ(run.best_costs.size(), 1u);
    EXPECT_EQ(run.best_costs[0], kInf);
    EXPECT_EQ(run.best, 0);  // ties keep the lowest index
  }
}

}  // namespace
}  // namespace morvex
