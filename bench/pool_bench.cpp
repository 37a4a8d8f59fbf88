// morvex-pool-bench: which way of spreading cost evaluations over the cores
// the fits should use, measured on the fits' own work.
//
// One batch is what a generation of the genetic search evaluates: 50 costs
// of the lateral channel on the sample data (about 40 microseconds each), or
// a Levenberg-Marquardt Hessian's worth of them (1000).  Each way runs the
// same batches and is reported as evaluations per second over one thread's:
//   - TWorkerPool: threads started once, woken per batch, items handed out
//     one at a time from an atomic counter (what the fits use);
//   - threads started anew for every batch (std::thread, same hand-out);
//   - OpenMP (libgomp, GCC's own), `parallel for schedule(dynamic)`, when
//     the compiler has it.
//
//   morvex-pool-bench [examples folder] [--threads N]
//
// Machines are shared and noisy: compare ratios, not absolute times.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifdef MORVEX_HAVE_OPENMP
#include <omp.h>
#endif

#include "numerics/LxBasics.h"
#include "numerics/WorkerPool.h"
#include "tiredata/TireDataFile.h"
#include "tiremodel/MagicFormula.h"

namespace {

using namespace morvex;
using Clock = std::chrono::steady_clock;

// Candidate coefficient sets around a plausible tire: one per item.
std::vector<TLateralCoefficients> Candidates(size_t count) {
  std::vector<TLateralCoefficients> sets(count);
  for (size_t k = 0; k < count; ++k) {
    TLateralCoefficients& c = sets[k];
    const double f = 1.0 + 0.001 * static_cast<double>(k % 97);
    c.Fz0 = 4000;
    c.PCy1 = 1.3 * f;
    c.PDy1 = 1.0 * f;
    c.PEy1 = -0.8;
    c.PKy1 = 15 * f;
    c.PKy2 = 2;
  }
  return sets;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

}  // namespace

int main(int argc, char** argv) {
  std::string folder = "examples";
  int threads = ThreadCount();
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc)
      threads = std::atoi(argv[++i]);
    else
      folder = argv[i];
  }
  if (threads < 1) threads = 1;
  SetDecimalSeparator('.');
  const TTireDataSet data = ReadTireDataFile(folder + "/lateral.plt");

  std::printf("%d threads; evaluations per second over one thread's (higher is better)\n", threads);
  std::printf("%-10s %8s %14s %14s %14s\n", "batch", "batches", "TWorkerPool", "thread/batch", "OpenMP");
  for (size_t batch : {size_t{50}, size_t{1000}}) {
    const std::vector<TLateralCoefficients> sets = Candidates(batch);
    std::vector<double> costs(batch);
    const int batches = batch == 50 ? 400 : 20;
    const auto item = [&](size_t k) { costs[k] = LateralCostValue(data, sets[k]); };

    Clock::time_point t0 = Clock::now();
    for (int b = 0; b < batches; ++b)
      for (size_t k = 0; k < batch; ++k) item(k);
    const double serial = Seconds(t0);

    TWorkerPool pool(threads);
    t0 = Clock::now();
    for (int b = 0; b < batches; ++b) pool.Run(batch, [&](int, size_t k) { item(k); });
    const double pooled = Seconds(t0);

    t0 = Clock::now();
    for (int b = 0; b < batches; ++b) {
      std::atomic<size_t> next{0};
      const auto work = [&] {
        for (size_t k; (k = next.fetch_add(1)) < batch;) item(k);
      };
      std::vector<std::thread> started;
      for (int w = 1; w < threads; ++w) started.emplace_back(work);
      work();
      for (std::thread& t : started) t.join();
    }
    const double spawned = Seconds(t0);

    double openmp = 0;
#ifdef MORVEX_HAVE_OPENMP
    omp_set_num_threads(threads);
    t0 = Clock::now();
    for (int b = 0; b < batches; ++b) {
#pragma omp parallel for schedule(dynamic, 1)
      for (long k = 0; k < static_cast<long>(batch); ++k) item(static_cast<size_t>(k));
    }
    openmp = Seconds(t0);
#endif
    std::printf("%-10zu %8d %14.2f %14.2f %14s\n", batch, batches, serial / pooled, serial / spawned,
                openmp > 0 ? std::to_string(serial / openmp).substr(0, 5).c_str() : "-");
  }
  return 0;
}
