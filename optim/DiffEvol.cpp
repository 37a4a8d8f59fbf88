#include "optim/DiffEvol.h"

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "numerics/LxBasics.h"
#include "numerics/WorkerPool.h"

namespace morvex {

TDiffEvol::TDiffEvol(int32_t PopulationSize, const TDiffEvolPopulation& MinValues,
                     const TDiffEvolPopulation& MaxValues, const TDiffEvolPopulation& InitialValues)
    : population_size_(PopulationSize), dimension_(static_cast<int32_t>(MinValues.size())) {
  LxAssert(PopulationSize >= 5, "PopulationSize >= 5");
  LxAssert(!MinValues.empty() && MinValues.size() <= INT32_MAX, "Dimension > 0");
  LxAssert(MaxValues.size() == MinValues.size(), "Length(MaxValues) = Dimension");
  // A short start vector would leave member 0 partly undefined.
  LxAssert(InitialValues.empty() || InitialValues.size() >= MinValues.size(),
           "InitialValues empty or Length(InitialValues) >= Dimension");

  const auto pop = static_cast<size_t>(population_size_);
  const auto dim = static_cast<size_t>(dimension_);
  // Every vector a generation touches is allocated here, once.
  population_.assign(pop, TEvaluatedPopulation{TDiffEvolPopulation(dim, 0.0), 0.0, false});
  trials_.assign(pop, TEvaluatedPopulation{TDiffEvolPopulation(dim, 0.0), 0.0, false});

  // Dimension outer, member inner: this order fixes which draw lands where.
  for (size_t j = 0; j < dim; ++j) {
    LxAssert(MinValues[j] <= MaxValues[j], "MinValues[j] <= MaxValues[j]");
    const double range = MaxValues[j] - MinValues[j];
    for (size_t i = 0; i < pop; ++i) {
      const double u = RandomReal();
      population_[i].Vector[j] = u * range + MinValues[j];
    }
  }
  if (!InitialValues.empty()) {
    for (size_t j = 0; j < dim; ++j) population_[0].Vector[j] = InitialValues[j];
  }
}

namespace {

constexpr double kFailedCost = std::numeric_limits<double>::infinity();

// One evaluation: a floating-point fault of the cost, or a cost that is not
// a number, makes the vector infinitely bad and sets `failed`; every other
// exception leaves.
template <class Cost>
double Judge(Cost&& cost, bool& failed) {
  double value;
  try {
    value = static_cast<double>(cost());
  } catch (const EMathError&) {
    failed = true;
    return kFailedCost;
  }
  if (std::isnan(value)) {
    failed = true;
    return kFailedCost;
  }
  failed = false;
  return value;
}

}  // namespace

double TDiffEvol::Evaluate(const TDiffEvolPopulation& vector) {
  bool failed;
  const double cost = Judge([&] { return OnEvaluate(*this, vector); }, failed);
  if (failed) ++failed_trials_;
  return cost;
}

double TDiffEvol::EvaluatePopulation() {
  if (best_index_ < 0) best_index_ = 0;
  const auto start = static_cast<size_t>(best_index_);
  const int64_t failed_before = failed_trials_;
  TEvaluatedPopulation& first = population_[start];
  if (!first.Evaluated) {
    first.Cost = Evaluate(first.Vector);
    first.Evaluated = true;
  }
  double best = first.Cost;
  for (size_t i = 0; i < population_.size(); ++i) {
    if (i == start) continue;
    TEvaluatedPopulation& member = population_[i];
    member.Cost = Evaluate(member.Vector);
    member.Evaluated = true;
    if (member.Cost < best) {
      best_index_ = static_cast<int32_t>(i);
      best = member.Cost;
    }
  }
  first_population_failures_ = static_cast<int32_t>(failed_trials_ - failed_before);
  return best;
}

namespace {

// The gains of a generation: the member's own weight w, the differences
// taken in extended precision and then rounded once to double.
struct TGains {
  Extended we, gb, g1, g2, g3;
  TGains(double GainBest, double GainR1, double GainR2, double GainR3) {
    const double w = static_cast<double>(static_cast<Extended>(1.0) - GainBest - GainR1 - GainR2 - GainR3);
    we = w;
    gb = GainBest;
    g1 = GainR1;
    g2 = GainR2;
    g3 = GainR3;
  }
};

}  // namespace

TDiffEvol::~TDiffEvol() = default;

void TDiffEvol::SetThreads(int threads, TDiffEvolEvaluateOn evaluate) {
  if (threads <= 1 || !evaluate) {
    pool_.reset();
    evaluate_on_ = nullptr;
    return;
  }
  if (!pool_ || pool_->Threads() != threads) pool_ = std::make_unique<TWorkerPool>(threads);
  evaluate_on_ = std::move(evaluate);
}

int TDiffEvol::Threads() const { return pool_ ? pool_->Threads() : 1; }

// Draws one member's partners and its run of mutated components, in the
// order of the serial search: r1, r2, r3, the start component, then one
// uniform real after each mutated component.
static void DrawMember(int32_t i, int32_t b, int32_t n, int32_t dim, double CR, int32_t& r1, int32_t& r2,
                       int32_t& r3, int32_t& start, int32_t& length) {
  do r1 = RandomInt(n); while (r1 == i || r1 == b);
  do r2 = RandomInt(n); while (r2 == i || r2 == b || r2 == r1);
  do r3 = RandomInt(n); while (r3 == i || r3 == b || r3 == r2 || r3 == r1);
  start = RandomInt(dim);
  length = 0;
  double u;
  do {
    ++length;
    u = RandomReal();
  } while (length != dim && u < CR);
}

// The trial vector: `length` components from `start` on (circularly) mixed,
// the others copied from the member.
static void MixTrial(const TGains& g, int32_t dim, int32_t start, int32_t length, const TDiffEvolPopulation& pi,
                     const TDiffEvolPopulation& p1, const TDiffEvolPopulation& p2, const TDiffEvolPopulation& p3,
                     const TDiffEvolPopulation& pb, TDiffEvolPopulation& trial) {
  int32_t j = start;
  for (int32_t done = 0; done < dim; ++done) {
    const auto k = static_cast<size_t>(j);
    if (done < length) {
      const Extended sum = g.we * pi[k] + g.g1 * p1[k] + g.g2 * p2[k] + g.g3 * p3[k] + g.gb * pb[k];
      trial[k] = static_cast<double>(sum);
    } else {
      trial[k] = pi[k];
    }
    j = (j + 1 == dim) ? 0 : j + 1;
  }
}

bool TDiffEvol::EvaluatePopulationInParallel() {
  const size_t start = static_cast<size_t>(best_index_ < 0 ? 0 : best_index_);
  const size_t n = population_.size();
  std::vector<double> costs(n);
  std::vector<char> failed(n, 0);
  try {
    pool_->Run(n, [&](int worker, size_t i) {
      if (i == start && population_[i].Evaluated) {
        costs[i] = population_[i].Cost;
        return;
      }
      bool f;
      costs[i] = Judge([&] { return evaluate_on_(worker, population_[i].Vector); }, f);
      failed[i] = f ? 1 : 0;
    });
  } catch (...) {
    return false;
  }
  int32_t failures = 0;
  for (char f : failed) failures += f;
  failed_trials_ += failures;
  first_population_failures_ = failures;
  best_index_ = static_cast<int32_t>(start);
  double best = costs[start];
  for (size_t i = 0; i < n; ++i) {
    population_[i].Cost = costs[i];
    population_[i].Evaluated = true;
    if (i != start && costs[i] < best) {
      best_index_ = static_cast<int32_t>(i);
      best = costs[i];
    }
  }
  return true;
}

bool TDiffEvol::GenerationInParallel(double GainBest, double GainR1, double GainR2, double GainR3, double CR,
                                     double& best) {
  const uint32_t seed = RandSeed();
  const int32_t b = best_index_;
  const int32_t n = population_size_;
  const int32_t dim = dimension_;
  const TGains gains(GainBest, GainR1, GainR2, GainR3);

  std::vector<TMemberDraw> draws(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    TMemberDraw& d = draws[static_cast<size_t>(i)];
    DrawMember(i, b, n, dim, CR, d.r1, d.r2, d.r3, d.start, d.length);
  }

  // decided[k]: trial k has been evaluated; accepted[k]: it beats member k.
  // Until the serial pass below, the population keeps its vectors from the
  // start of the generation, and a member that trial k replaces is read
  // from trials_[k].
  std::vector<std::atomic<bool>> decided(static_cast<size_t>(n));
  std::vector<char> accepted(static_cast<size_t>(n), 0);
  std::vector<char> failed(static_cast<size_t>(n), 0);
  for (auto& flag : decided) flag.store(false, std::memory_order_relaxed);
  struct TAbandoned {};
  try {
    pool_->Run(static_cast<size_t>(n), [&](int worker, size_t index) {
      const auto i = static_cast<int32_t>(index);
      const TMemberDraw& d = draws[index];
      // The vector of member k as the serial search sees it at trial i.
      const auto member = [&](int32_t k) -> const TDiffEvolPopulation& {
        const auto kk = static_cast<size_t>(k);
        if (k < i) {
          while (!decided[kk].load(std::memory_order_acquire)) {
            if (pool_->Failing()) throw TAbandoned{};
            std::this_thread::yield();
          }
          if (accepted[kk]) return trials_[kk].Vector;
        }
        return population_[kk].Vector;
      };
      const TDiffEvolPopulation& p1 = member(d.r1);
      const TDiffEvolPopulation& p2 = member(d.r2);
      const TDiffEvolPopulation& p3 = member(d.r3);
      const TDiffEvolPopulation& pb = member(b);
      TEvaluatedPopulation& trial = trials_[index];
      MixTrial(gains, dim, d.start, d.length, population_[index].Vector, p1, p2, p3, pb, trial.Vector);
      bool f;
      trial.Cost = Judge([&] { return evaluate_on_(worker, trial.Vector); }, f);
      failed[index] = f ? 1 : 0;
      trial.Evaluated = true;
      accepted[index] = trial.Cost < population_[index].Cost ? 1 : 0;
      decided[index].store(true, std::memory_order_release);
    });
  } catch (...) {
    SetRandSeed(seed);
    return false;
  }

  for (char f : failed) failed_trials_ += f;
  int32_t new_best = b;
  double best_cost = population_[static_cast<size_t>(b)].Cost;
  for (int32_t i = 0; i < n; ++i) {
    const auto k = static_cast<size_t>(i);
    if (!accepted[k]) continue;
    const TEvaluatedPopulation& trial = trials_[k];
    if (trial.Cost < best_cost) {
      new_best = i;
      best_cost = trial.Cost;
    }
    TEvaluatedPopulation& m = population_[k];
    m.Vector = trial.Vector;
    m.Cost = trial.Cost;
    m.Evaluated = trial.Evaluated;
  }
  best_index_ = new_best;
  best = best_cost;
  return true;
}

double TDiffEvol::NextGeneration(double GainBest, double GainR1, double GainR2, double GainR3,
                                 double CR) {
  LxAssert(CR >= 0.0 && CR <= 1.0, "(CR >= 0) and (CR <= 1)");
  LxAssert(static_cast<bool>(OnEvaluate), "Assigned(OnEvaluate)");
  if (best_index_ < 0 && !(pool_ && EvaluatePopulationInParallel())) {
    try {
      EvaluatePopulation();
    } catch (...) {
      // A half-evaluated population must be evaluated again by the next
      // call, not taken as evaluated with the zero costs it was created with.
      best_index_ = -1;
      throw;
    }
  }

  double parallel_best = 0.0;
  if (pool_ && GenerationInParallel(GainBest, GainR1, GainR2, GainR3, CR, parallel_best)) return parallel_best;

  const int32_t b = best_index_;
  const TGains gains(GainBest, GainR1, GainR2, GainR3);
  int32_t new_best = b;
  double best_cost = population_[static_cast<size_t>(b)].Cost;
  const int32_t n = population_size_;
  const int32_t dim = dimension_;

  for (int32_t i = 0; i < n; ++i) {
    int32_t r1, r2, r3, start, length;
    DrawMember(i, b, n, dim, CR, r1, r2, r3, start, length);

    // References into the population: a member replaced earlier in this
    // generation already contributes its new vector.
    TEvaluatedPopulation& trial = trials_[static_cast<size_t>(i)];
    MixTrial(gains, dim, start, length, population_[static_cast<size_t>(i)].Vector,
             population_[static_cast<size_t>(r1)].Vector, population_[static_cast<size_t>(r2)].Vector,
             population_[static_cast<size_t>(r3)].Vector, population_[static_cast<size_t>(b)].Vector,
             trial.Vector);

    trial.Cost = Evaluate(trial.Vector);
    trial.Evaluated = true;

    TEvaluatedPopulation& member = population_[static_cast<size_t>(i)];
    if (trial.Cost < member.Cost) {
      if (trial.Cost < best_cost) {
        new_best = i;
        best_cost = trial.Cost;
      }
      member.Vector = trial.Vector;  // same length: copies, never reallocates
      member.Cost = trial.Cost;
      member.Evaluated = trial.Evaluated;
    }
  }

  best_index_ = new_best;
  return best_cost;
}

void TDiffEvol::GetBest(TDiffEvolPopulation& Vector) const {
  LxAssert(best_index_ >= 0, "BestIndex >= 0");
  Vector = population_[static_cast<size_t>(best_index_)].Vector;
}

}  // namespace morvex
