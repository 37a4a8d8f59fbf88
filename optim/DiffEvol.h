// Differential evolution: a population-based global search inside box bounds.
//
// The optimizer keeps `PopulationSize` candidate vectors.  In every
// generation each member i gets a trial vector that mixes the member with
// the current best member b and three further random members r1, r2, r3:
//
//   trial = P_i + GainBest (P_b - P_i) + GainR1 (P_r1 - P_i)
//               + GainR2 (P_r2 - P_i) + GainR3 (P_r3 - P_i)
//
// on a circular run of components that starts at a random index and goes on
// to each further component with probability CR (exponential crossover, so
// at least one component is mutated); the other components are copied from
// P_i.  The trial replaces the member when its cost is strictly lower.  This
// is the DE/current-to-best scheme of R. Storn and K. Price, "Differential
// Evolution - A Simple and Efficient Heuristic for Global Optimization over
// Continuous Spaces", J. Global Optimization 11 (1997) 341-359.
//
// Reproducibility matters more than speed here: every random draw comes
// from the process-wide generator of numerics/LxBasics.h in a fixed order
// (see NextGeneration), and the arithmetic is fixed down to the precision of
// each step, so one seed always gives the same search.
//
// Bounds act only on the first population; trial vectors are not clipped.
// Vectors and costs are doubles; the cost callback returns an extended float
// that is stored as a double.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "numerics/LxTypes.h"

namespace morvex {

// The vector type of the optimizer: bounds, start values, members, trials.
using TDiffEvolPopulation = std::vector<double>;

// One member of the population (or one trial vector).
struct TEvaluatedPopulation {
  TDiffEvolPopulation Vector;  // Dimension values, zero when created
  double Cost = 0.0;           // callback result for Vector, once Evaluated
  bool Evaluated = false;
};

class TDiffEvol;

// The cost callback: receives the optimizer and a vector of Dimension values
// ordered like the bounds, returns its cost (smaller is better) and must not
// keep a reference to the vector.  A floating-point fault it raises
// (EMathError), or a cost that is not a number, makes that vector
// infinitely bad: the member or trial is kept with an infinite cost, counted
// in FailedTrials(), and the search goes on.  Any other exception leaves the
// generation (see NextGeneration).
using TDiffEvolEvaluate = std::function<Extended(TDiffEvol& sender, const TDiffEvolPopulation& vector)>;

// The cost callback of evaluation on several threads: `worker` (0 is the
// thread that runs the generation, 1 .. threads-1 the others) names the
// cost object to use.  It is called from several threads at once and must
// return exactly what OnEvaluate returns for the same vector, or raise.
using TDiffEvolEvaluateOn = std::function<Extended(int worker, const TDiffEvolPopulation& vector)>;

class TWorkerPool;

class TDiffEvol {
 public:
  // Creates the population and draws its first vectors; evaluates nothing.
  //
  // Dimension is the length of `MinValues`.  Preconditions, each raising
  // EAssertionFailed: PopulationSize >= 5, Dimension > 0, MaxValues of length
  // Dimension, InitialValues empty or holding at least Dimension values, and
  // MinValues[j] <= MaxValues[j] for every j (checked dimension by dimension
  // while drawing, so the random source has advanced for the dimensions
  // before a failing one).
  //
  // For each dimension j (outer loop) and member i (inner loop) one uniform
  // real u is drawn and Population[i].Vector[j] = u * (Max[j] - Min[j]) + Min[j].
  // Non-empty InitialValues then overwrite member 0 (its draws are discarded).
  TDiffEvol(int32_t PopulationSize, const TDiffEvolPopulation& MinValues,
            const TDiffEvolPopulation& MaxValues, const TDiffEvolPopulation& InitialValues);

  // The cost callback; assign it before the first generation.
  TDiffEvolEvaluate OnEvaluate;

  ~TDiffEvol();

  // Evaluates on `threads` threads (the caller's included) with `evaluate`;
  // 1 or an empty callback evaluates on the caller's thread only.  The
  // search stays the same to the last bit: every random number of a
  // generation is drawn first, in the order below, and each trial waits only
  // for the members its vector reads, so every trial vector, cost and
  // replacement equals the serial one.  A floating-point fault marks its
  // vector infinitely bad on every thread, as in the serial search.  When
  // any evaluation of a generation raises anything else, the generation is
  // run again serially from its start (random source included) with
  // OnEvaluate, so an error leaves the state the serial search would leave.
  void SetThreads(int threads, TDiffEvolEvaluateOn evaluate);
  int Threads() const;

  // Runs one generation and returns the best cost after it.
  //
  // The first call evaluates the whole population first (PopulationSize
  // callbacks) and picks the best member (strictly lower cost wins, ties keep
  // the lower index).  Then, with b the best member at the start of the
  // generation and w = 1 - GainBest - GainR1 - GainR2 - GainR3, for each
  // member i in order:
  //   - draw r1, then r2, then r3 with RandomInt(PopulationSize), redrawing
  //     each until it differs from i, b and the ones drawn before it;
  //   - draw the start component j with RandomInt(Dimension);
  //   - mutate components j, j+1, ... (circularly): after each one draw a
  //     uniform real u and stop when all Dimension components are done or
  //     u >= CR; the remaining ones are copied from P_i;
  //   - evaluate the trial and let it replace member i when its cost is
  //     strictly lower.
  // Members are replaced in place, so later members of the same generation
  // already see the new vectors.  Gains are not restricted.
  //
  // Preconditions (EAssertionFailed): 0 <= CR <= 1 and OnEvaluate assigned.
  // An exception from the callback propagates; members replaced before it
  // stay replaced and BestIndex keeps its value from before the call.
  double NextGeneration(double GainBest, double GainR1, double GainR2, double GainR3, double CR);

  // Evaluations whose cost raised a floating-point fault or was not a
  // number, since the optimizer was created (first population included).
  // The same on any number of threads.
  int64_t FailedTrials() const { return failed_trials_; }
  // How many members of the first population failed so; equal to
  // PopulationSize() when no member could be judged.
  int32_t FirstPopulationFailures() const { return first_population_failures_; }

  // Copies the best member's vector into `Vector`.  Precondition
  // (EAssertionFailed): at least one generation has run.
  void GetBest(TDiffEvolPopulation& Vector) const;

  int32_t PopulationSize() const { return population_size_; }
  int32_t Dimension() const { return dimension_; }
  // 0-based index of the best member; -1 until the population was evaluated.
  int32_t BestIndex() const { return best_index_; }
  const std::vector<TEvaluatedPopulation>& Population() const { return population_; }
  // Trials()[i] is member i's trial vector of the latest generation.
  const std::vector<TEvaluatedPopulation>& Trials() const { return trials_; }

 private:
  double EvaluatePopulation();
  double Evaluate(const TDiffEvolPopulation& vector);
  // The parallel forms of the two steps; false when an evaluation raised,
  // with the population and the random source as before the call.
  bool EvaluatePopulationInParallel();
  bool GenerationInParallel(double GainBest, double GainR1, double GainR2, double GainR3, double CR,
                            double& best);

  // The draws of one member in a generation: its three partners and its
  // run of mutated components.
  struct TMemberDraw {
    int32_t r1, r2, r3;
    int32_t start;   // first mutated component
    int32_t length;  // mutated components, 1 .. Dimension
  };

  int32_t population_size_;
  int32_t dimension_;
  int32_t best_index_ = -1;
  std::vector<TEvaluatedPopulation> population_;
  std::vector<TEvaluatedPopulation> trials_;
  std::unique_ptr<TWorkerPool> pool_;
  TDiffEvolEvaluateOn evaluate_on_;
  int64_t failed_trials_ = 0;
  int32_t first_population_failures_ = 0;
};

}  // namespace morvex
