// The genetic search and the Levenberg-Marquardt fitter on several threads
// against the same search and fit on one: every vector, cost, covariance
// and the random source must agree to the last bit, also when a cost raises.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "numerics/LxBasics.h"
#include "numerics/WorkerPool.h"
#include "optim/DiffEvol.h"
#include "optim/LxFit.h"

namespace morvex {
namespace {

// Thread counts worth trying: one, two, an odd count, the machine's.
std::vector<int> ThreadCounts() {
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  return {1, 2, 3, cores > 0 ? cores : 4, 8};
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A multimodal cost with many nearly equal values, so that acceptance
// decisions (and with them the reads of replaced members) are frequent.
Extended Rastrigin(const TDiffEvolPopulation& x) {
  Extended sum = 10.0L * static_cast<Extended>(x.size());
  for (double v : x) sum += v * v - 10.0 * std::cos(2.0 * M_PI * v);
  return sum;
}

struct DeState {
  std::vector<TEvaluatedPopulation> population;
  int32_t best = -1;
  uint32_t seed = 0;
  std::vector<double> best_costs;
  std::string error;
};

void ExpectSame(const DeState& serial, const DeState& parallel, const std::string& what) {
  ASSERT_EQ(serial.population.size(), parallel.population.size()) << what;
  for (size_t i = 0; i < serial.population.size(); ++i) {
    EXPECT_TRUE(SameBits(serial.population[i].Cost, parallel.population[i].Cost)) << what << " member " << i;
    EXPECT_EQ(serial.population[i].Evaluated, parallel.population[i].Evaluated) << what << " member " << i;
    for (size_t k = 0; k < serial.population[i].Vector.size(); ++k)
      EXPECT_TRUE(SameBits(serial.population[i].Vector[k], parallel.population[i].Vector[k]))
          << what << " member " << i << " component " << k;
  }
  EXPECT_EQ(serial.best, parallel.best) << what;
  EXPECT_EQ(serial.seed, parallel.seed) << what;
  EXPECT_EQ(serial.best_costs.size(), parallel.best_costs.size()) << what;
  for (size_t g = 0; g < serial.best_costs.size() && g < parallel.best_costs.size(); ++g)
    EXPECT_TRUE(SameBits(serial.best_costs[g], parallel.best_costs[g])) << what << " generation " << g;
  EXPECT_EQ(serial.error, parallel.error) << what;
}

// Runs `generations` generations; `cost` may raise, which ends the run.
DeState RunSearch(int threads, int32_t population, int dimension, int generations, double cr,
                  const std::function<Extended(const TDiffEvolPopulation&)>& cost) {
  SetRandSeed(20261208);
  TDiffEvol search(population, TDiffEvolPopulation(static_cast<size_t>(dimension), -5.0),
                   TDiffEvolPopulation(static_cast<size_t>(dimension), 5.0), {});
  search.OnEvaluate = [&](TDiffEvol&, const TDiffEvolPopulation& v) { return cost(v); };
  search.SetThreads(threads, [&](int, const TDiffEvolPopulation& v) { return cost(v); });
  DeState state;
  try {
    for (int g = 0; g < generations; ++g) state.best_costs.push_back(search.NextGeneration(0.5, 0.7, -0.7, 0.3, cr));
  } catch (const std::exception& e) {
    state.error = e.what();
  }
  state.population = search.Population();
  state.best = search.BestIndex();
  state.seed = RandSeed();
  return state;
}

TEST(ParallelSearch, EqualsTheSerialSearchBitForBit) {
  // The smallest population makes each trial read members replaced just
  // before it; a large one keeps several threads busy.
  for (const auto& [population, cr] : {std::pair{5, 0.9}, std::pair{12, 0.5}, std::pair{40, 1.0}}) {
    const DeState serial = RunSearch(1, population, 6, 40, cr, Rastrigin);
    for (int threads : ThreadCounts())
      ExpectSame(serial, RunSearch(threads, population, 6, 40, cr, Rastrigin),
                 std::to_string(threads) + " threads, population " + std::to_string(population));
  }
}

TEST(ParallelSearch, AnErrorLeavesTheStateOfTheSerialSearch) {
  // The cost raises for vectors at an edge of the box (met in the first
  // population) or near the minimum (met after some generations).
  for (const auto& region : {std::pair{2.0, 99.0}, std::pair{-0.6, 0.6}}) {
    const double low = region.first, high = region.second;
    const auto cost = [low, high](const TDiffEvolPopulation& v) -> Extended {
      if (v[0] > low && v[0] < high && v[1] > low && v[1] < high) throw std::runtime_error("region reached");
      return Rastrigin(v);
    };
    const DeState serial = RunSearch(1, 10, 3, 150, 0.9, cost);
    ASSERT_EQ(serial.error, "region reached") << low;
    // The first region is met while the first population is evaluated, the
    // second in the middle of a later generation.
    if (low > 0) EXPECT_EQ(serial.best_costs.size(), 0u);
    if (low < 0) EXPECT_GT(serial.best_costs.size(), 2u);
    const double limit = low;
    for (int threads : ThreadCounts())
      ExpectSame(serial, RunSearch(threads, 10, 3, 150, 0.9, cost),
                 std::to_string(threads) + " threads, limit " + std::to_string(limit));
  }
}

// y = a exp(-b t) + c sin(d t): four coefficients, a curved valley.
struct Curve {
  std::vector<double> t, y;
  Curve() {
    for (int k = 0; k < 40; ++k) {
      const double tk = 0.1 * k;
      t.push_back(tk);
      y.push_back(3.0 * std::exp(-0.7 * tk) + 0.5 * std::sin(2.1 * tk) + 0.01 * std::cos(17.0 * k));
    }
  }
  Extended Cost(const std::vector<Extended>& p) const {
    Extended sum = 0;
    for (size_t k = 0; k < t.size(); ++k) {
      const double r = y[k] - static_cast<double>(p[0] * std::exp(-p[1] * t[k]) + p[2] * std::sin(p[3] * t[k]));
      sum += static_cast<Extended>(r * r);
    }
    return sum;
  }
};

struct LmRun {
  std::vector<Extended> values;
  std::vector<Extended> covariance;
  std::vector<std::pair<Extended, Extended>> progress;
  std::vector<Extended> last_point;  // where the cost function was called last
  std::string error;
};

LmRun RunLm(int threads, std::vector<Extended> start,
            const std::function<Extended(const std::vector<Extended>&)>& cost) {
  std::vector<Extended> params = start;
  std::vector<Extended*> addresses;
  for (Extended& p : params) addresses.push_back(&p);
  LmRun run;
  TFit fit(addresses, [&] {
    run.last_point = params;
    return cost(params);
  });
  fit.SetProgress([&](int, Extended c0, Extended c1) { run.progress.emplace_back(c0, c1); });
  if (threads > 0) fit.SetWorkers([&](int, const std::vector<Extended>& values) { return cost(values); }, threads);
  try {
    fit.Fit();
    const auto covariance = fit.GetCovariance();
    for (uint32_t i = 1; i <= params.size(); ++i)
      for (uint32_t j = 1; j <= params.size(); ++j) run.covariance.push_back(covariance->GetItem(i, j));
  } catch (const std::exception& e) {
    run.error = e.what();
  }
  run.values = params;
  return run;
}

bool SameBits(const std::vector<Extended>& a, const std::vector<Extended>& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k)
    if (std::memcmp(&a[k], &b[k], 10) != 0) return false;
  return true;
}

void ExpectSame(const LmRun& serial, const LmRun& parallel, const std::string& what) {
  EXPECT_TRUE(SameBits(serial.values, parallel.values)) << what;
  EXPECT_TRUE(SameBits(serial.covariance, parallel.covariance)) << what;
  EXPECT_TRUE(SameBits(serial.last_point, parallel.last_point)) << what;
  ASSERT_EQ(serial.progress.size(), parallel.progress.size()) << what;
  for (size_t k = 0; k < serial.progress.size(); ++k) {
    EXPECT_EQ(serial.progress[k].first, parallel.progress[k].first) << what << " iteration " << k;
    EXPECT_EQ(serial.progress[k].second, parallel.progress[k].second) << what << " iteration " << k;
  }
  EXPECT_EQ(serial.error, parallel.error) << what;
}

TEST(ParallelLevenbergMarquardt, EqualsTheSerialFitBitForBit) {
  const Curve curve;
  const auto cost = [&](const std::vector<Extended>& p) { return curve.Cost(p); };
  // One start near the answer, one far, and one with a zero (its own step
  // rule) where the Hessian is singular: the error must be the same too.
  for (const std::vector<Extended>& start : {std::vector<Extended>{2.8L, 0.6L, 0.4L, 2.0L},
                                            std::vector<Extended>{1.0L, 0.2L, 1.0L, 1.8L},
                                            std::vector<Extended>{3.0L, 0.7L, 0.0L, 2.1L}}) {
    const LmRun serial = RunLm(0, start, cost);
    if (start[2] != 0.0L) ASSERT_GT(serial.progress.size(), 1u);
    for (int threads : ThreadCounts())
      ExpectSame(serial, RunLm(threads, start, cost), std::to_string(threads) + " threads");
  }
}

TEST(ParallelLevenbergMarquardt, AnErrorLeavesTheVariablesOfTheSerialFit) {
  // The cost raises at every point past a = 2.9, which finite differences
  // near the start reach: the serial fit raises there with a = that point.
  const Curve curve;
  const auto cost = [&](const std::vector<Extended>& p) -> Extended {
    if (p[0] > 2.9000001L) throw std::range_error("a out of range");
    return curve.Cost(p);
  };
  const LmRun serial = RunLm(0, {2.9L, 0.7L, 0.5L, 2.1L}, cost);
  ASSERT_EQ(serial.error, "a out of range");
  for (int threads : ThreadCounts())
    ExpectSame(serial, RunLm(threads, {2.9L, 0.7L, 0.5L, 2.1L}, cost), std::to_string(threads) + " threads");
}

TEST(ParallelLevenbergMarquardt, AFaultInTheDifferencesIsTheSerialFault) {
  // Every cost is finite, but past a = 1 and b = 1 it jumps so far that a
  // difference quotient of the Hessian element (a, b) overflows: the serial
  // fitter raises there with b moved by a's step, and so must the parallel
  // one, although it found every cost first.
  const auto cost = [](const std::vector<Extended>& p) -> Extended {
    return p[0] + p[1] + ((p[0] > 1.0L && p[1] > 1.0L) ? 1e4932L * p[0] / 1.01L : 0.0L);
  };
  const LmRun serial = RunLm(0, {1.0L, 1.0L}, cost);
  ASSERT_EQ(serial.progress.size(), 0u);
  ASSERT_NE(serial.error, "");
  ASSERT_NE(serial.values[1], 1.0L);  // left at the finite-difference point
  for (int threads : ThreadCounts())
    ExpectSame(serial, RunLm(threads, {1.0L, 1.0L}, cost), std::to_string(threads) + " threads");
}

TEST(WorkerPool, RunsEveryItemOnceAndRethrowsTheLowestFailure) {
  TWorkerPool pool(4);
  std::vector<int> runs(1000, 0);
  std::mutex mutex;
  pool.Run(runs.size(), [&](int, size_t i) {
    const std::lock_guard<std::mutex> lock(mutex);
    ++runs[i];
  });
  for (int count : runs) EXPECT_EQ(count, 1);

  // Items 300 and 700 fail; whatever ran first, 300's error comes out, and
  // the pool serves the next batch as before.
  try {
    pool.Run(1000, [&](int, size_t i) {
      if (i == 300 || i == 700) throw std::runtime_error("item " + std::to_string(i));
    });
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "item 300");
  }
  size_t total = 0;
  pool.Run(10, [&](int, size_t i) {
    const std::lock_guard<std::mutex> lock(mutex);
    total += i;
  });
  EXPECT_EQ(total, 45u);
}

TEST(WorkerPool, ThreadCountComesFromTheOverrideTheEnvironmentOrTheCores) {
  EXPECT_EQ(ParseThreadCount("4"), 4);
  for (const char* bad : {"", "0", "-2", "two", "3.5", " 2", "99999999"}) EXPECT_FALSE(ParseThreadCount(bad)) << bad;
  SetThreadCount(3);
  EXPECT_EQ(ThreadCount(), 3);
  SetThreadCount(0);
  EXPECT_GE(ThreadCount(), 1);
}

}  // namespace
}  // namespace morvex
