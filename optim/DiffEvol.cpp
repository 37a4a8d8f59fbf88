#include "optim/DiffEvol.h"

#include "numerics/LxBasics.h"

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

double TDiffEvol::Evaluate(const TDiffEvolPopulation& vector) {
  return static_cast<double>(OnEvaluate(*this, vector));
}

double TDiffEvol::EvaluatePopulation() {
  if (best_index_ < 0) best_index_ = 0;
  const auto start = static_cast<size_t>(best_index_);
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
  return best;
}

double TDiffEvol::NextGeneration(double GainBest, double GainR1, double GainR2, double GainR3,
                                 double CR) {
  LxAssert(CR >= 0.0 && CR <= 1.0, "(CR >= 0) and (CR <= 1)");
  LxAssert(static_cast<bool>(OnEvaluate), "Assigned(OnEvaluate)");
  if (best_index_ < 0) {
    try {
      EvaluatePopulation();
    } catch (...) {
      // A half-evaluated population must be evaluated again by the next
      // call, not taken as evaluated with the zero costs it was created with.
      best_index_ = -1;
      throw;
    }
  }

  const int32_t b = best_index_;
  // The member's own weight: the differences taken in extended precision,
  // then rounded once to double.
  const double w = static_cast<double>(static_cast<Extended>(1.0) - GainBest - GainR1 - GainR2 - GainR3);
  const Extended we = w, gb = GainBest, g1 = GainR1, g2 = GainR2, g3 = GainR3;
  int32_t new_best = b;
  double best_cost = population_[static_cast<size_t>(b)].Cost;
  const int32_t n = population_size_;
  const int32_t dim = dimension_;

  for (int32_t i = 0; i < n; ++i) {
    int32_t r1, r2, r3;
    do r1 = RandomInt(n); while (r1 == i || r1 == b);
    do r2 = RandomInt(n); while (r2 == i || r2 == b || r2 == r1);
    do r3 = RandomInt(n); while (r3 == i || r3 == b || r3 == r2 || r3 == r1);

    // References into the population: a member replaced earlier in this
    // generation already contributes its new vector.
    const TDiffEvolPopulation& pi = population_[static_cast<size_t>(i)].Vector;
    const TDiffEvolPopulation& p1 = population_[static_cast<size_t>(r1)].Vector;
    const TDiffEvolPopulation& p2 = population_[static_cast<size_t>(r2)].Vector;
    const TDiffEvolPopulation& p3 = population_[static_cast<size_t>(r3)].Vector;
    const TDiffEvolPopulation& pb = population_[static_cast<size_t>(b)].Vector;
    TEvaluatedPopulation& trial = trials_[static_cast<size_t>(i)];

    int32_t j = RandomInt(dim);
    int32_t length = 0;
    double u;
    do {
      const auto k = static_cast<size_t>(j);
      const Extended sum = we * pi[k] + g1 * p1[k] + g2 * p2[k] + g3 * p3[k] + gb * pb[k];
      trial.Vector[k] = static_cast<double>(sum);
      j = (j + 1 == dim) ? 0 : j + 1;
      ++length;
      u = RandomReal();
    } while (length != dim && u < CR);
    for (; length < dim; ++length) {
      trial.Vector[static_cast<size_t>(j)] = pi[static_cast<size_t>(j)];
      j = (j + 1 == dim) ? 0 : j + 1;
    }

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
