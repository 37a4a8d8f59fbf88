// morvex-fit-loop: runs many fit commands in one process and watches its
// memory, to show that a long session neither leaks nor drifts.
//
//   morvex-fit-loop [--fits N] [--examples DIR] [--tolerance-kb K]
//
// Each round loads a sample data file afresh (examples/lateral.plt,
// aligning.plt, longitudinal.plt in turn), starts from
// examples/start-values.txt with three coefficients of the channel free,
// and runs one fit command with a host that does nothing; every tenth round
// also exports the result.  The optimizers take turns: Levenberg-Marquardt,
// differential evolution (12 members, 5 generations, bounds around the
// start values) and the trust-region fit, so that every channel meets every
// optimizer.
//
// It prints the heap in use (glibc's count of allocated bytes) and the
// resident set size after rounds 10, 100 and 1000 (and after the last
// round).  It fails (exit status 1) when
//   - the heap in use after the last round exceeds that after round 100
//     (round 10 for shorter runs) by more than the tolerance, default
//     16 KB: one leaked allocation a round would exceed it within 600
//     rounds.  The first rounds are left out because libraries fill their
//     caches there (about 2 KB, once);
//   - the resident set size grows by more than 1 MB over the same rounds
//     (a coarser view, which also sees memory glibc does not count);
//   - a deterministic fit (Levenberg-Marquardt, trust region) of a channel
//     gives other values than its first run in this process: state left
//     behind by one command must not change the next;
//   - a command raises an error.
// Exit status 2 for bad arguments or missing sample files.  Under valgrind,
// whose allocator glibc's counts do not see, the heap check is skipped.
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "files/CoefficientFile.h"
#include "fitting/FitCommands.h"
#include "numerics/LxBasics.h"
#include "tiredata/TireDataFile.h"
#include "tiremodel/CoefficientTable.h"

#ifndef MORVEX_EXAMPLES_DIR
#define MORVEX_EXAMPLES_DIR "examples"
#endif

namespace morvex {
namespace {

namespace fs = std::filesystem;

// The window around a fit, reduced to nothing.
class NoHost final : public TSilentFitHost {};

struct TChannelCase {
  TFitChannel channel;
  const char* name;
  const char* data_file;
  std::vector<std::string_view> free;
};

const std::vector<TChannelCase>& Channels() {
  static const std::vector<TChannelCase> channels = {
      {TFitChannel::kLateral, "lateral", "lateral.plt", {"PCy1", "PDy1", "PKy1"}},
      {TFitChannel::kAligning, "aligning", "aligning.plt", {"QBz1", "QCz1", "QDz1"}},
      {TFitChannel::kLongitudinal, "longitudinal", "longitudinal.plt", {"PCx1", "PDx1", "PKx1"}},
  };
  return channels;
}

// A small search, with bounds around the start values of the free
// coefficients, so that a differential-evolution round takes about as long
// as a Levenberg-Marquardt one.
constexpr const char* kSettings =
    "[GENETIC]\n"
    "NB_POP=12\n"
    "NB_GEN=4\n"
    "PCY1_MIN=1.0\nPCY1_MAX=1.4\nPDY1_MIN=0.8\nPDY1_MAX=1.2\nPKY1_MIN=12\nPKY1_MAX=18\n"
    "QBZ1_MIN=8\nQBZ1_MAX=12\nQCZ1_MIN=1.0\nQCZ1_MAX=1.4\nQDZ1_MIN=0.05\nQDZ1_MAX=0.15\n"
    "PCX1_MIN=1.4\nPCX1_MAX=1.8\nPDX1_MIN=1.0\nPDX1_MAX=1.4\nPKX1_MIN=15\nPKX1_MAX=25\n";

struct TOptimizerCase {
  TOptimizerChoice optimizer;
  const char* name;
  bool deterministic;  // the same start gives the same result every time
};

const std::vector<TOptimizerCase>& Optimizers() {
  static const std::vector<TOptimizerCase> optimizers = {
      {TOptimizerChoice::kLevenbergMarquardt, "lm", true},
      {TOptimizerChoice::kDifferentialEvolution, "de", false},  // draws from the process-wide random source
      {TOptimizerChoice::kTrustRegion, "tr", true},
  };
  return optimizers;
}

size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

size_t ResidentBytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<size_t>(resident) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

bool UnderValgrind() {
  // Valgrind preloads libraries of its own (vgpreload_*.so) into the program.
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find("vgpreload") != std::string::npos) return true;
  return false;
}

constexpr long kResidentToleranceKb = 1024;

int Usage() {
  std::fprintf(stderr, "usage: morvex-fit-loop [--fits N] [--examples DIR] [--tolerance-kb K]\n");
  return 2;
}

// The fitted values of a channel, as text, to compare runs.
std::string ChannelValues(const TCoefficientSet& set, TFitChannel channel) {
  const TCoefficientGroup group = channel == TFitChannel::kLateral    ? TCoefficientGroup::kLateral
                                  : channel == TFitChannel::kAligning ? TCoefficientGroup::kAligning
                                                                      : TCoefficientGroup::kLongitudinal;
  std::string values;
  for (const auto& info : Coefficients())
    if (info.group == group) values += std::string(info.name) + "=" + set.Text(info.name) + " ";
  return values;
}

int Run(int argc, char** argv) {
  long fits = 1000;
  long tolerance_kb = 16;
  std::string examples = MORVEX_EXAMPLES_DIR;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return Usage();
    if (arg == "--fits")
      fits = std::atol(argv[++i]);
    else if (arg == "--examples")
      examples = argv[++i];
    else if (arg == "--tolerance-kb")
      tolerance_kb = std::atol(argv[++i]);
    else
      return Usage();
  }
  if (fits < 1 || tolerance_kb < 0) return Usage();

  SetDecimalSeparator('.');  // the sample files use a point
  TMemoryCoefficientSet start;
  const std::string start_file = (fs::path(examples) / "start-values.txt").string();
  if (!fs::exists(start_file)) {
    std::fprintf(stderr, "morvex-fit-loop: no sample data in %s\n", examples.c_str());
    return 2;
  }
  ImportCoefficients(start, start_file);

  std::string scratch = (fs::temp_directory_path() / "morvex-fit-loop-XXXXXX").string();
  if (mkdtemp(scratch.data()) == nullptr) {
    std::perror("morvex-fit-loop: mkdtemp");
    return 2;
  }
  struct RemoveScratch {
    std::string path;
    ~RemoveScratch() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  } remove_scratch{scratch};
  const std::string settings = (fs::path(scratch) / "configuration.ini").string();
  std::ofstream(settings) << kSettings;
  const std::string exported = (fs::path(scratch) / "fit.txt").string();

  const bool valgrind = UnderValgrind();
  // The first line also gives the output stream its buffer before anything
  // is measured.
  std::printf("%ld fits on the sample data of %s\n", fits, examples.c_str());
  std::fflush(stdout);
  NoHost host;
  std::map<std::pair<int, int>, std::string> first_results;
  long drifts = 0, errors = 0, optimizer_failures = 0;
  std::vector<long> runs(Optimizers().size(), 0);
  const long baseline_round = fits > 100 ? 100 : 10;
  size_t baseline_heap = 0, baseline_resident = 0;
  size_t last_heap = 0, last_resident = 0;

  for (long round = 1; round <= fits; ++round) {
    const int c = static_cast<int>(round % 3);
    const int o = static_cast<int>((round / 3) % static_cast<long>(Optimizers().size()));
    const TChannelCase& channel = Channels()[c];
    const TOptimizerCase& optimizer = Optimizers()[o];
    ++runs[o];
    try {
      const TTireDataSet data = ReadTireDataFile((fs::path(examples) / channel.data_file).string());
      TMemoryCoefficientSet set = start;
      for (const auto& info : Coefficients()) set.SetFree(info.name, false);
      for (std::string_view name : channel.free) set.SetFree(name, true);
      const TFitOutcome outcome = RunFitCommand(channel.channel, set, data, optimizer.optimizer, settings, host);
      optimizer_failures += outcome.optimizer_failed;
      if (optimizer.deterministic) {
        const std::string values = ChannelValues(set, channel.channel);
        const auto [it, first] = first_results.emplace(std::make_pair(c, o), values);
        if (!first && it->second != values) {
          if (drifts++ == 0)
            std::fprintf(stderr, "round %ld: %s fit by %s drifted\n  first: %s\n  now:   %s\n", round, channel.name,
                         optimizer.name, it->second.c_str(), values.c_str());
        }
      }
      if (round % 10 == 0) ExportCoefficients(set, exported);
    } catch (const std::exception& e) {
      if (errors++ == 0)
        std::fprintf(stderr, "round %ld: %s fit by %s failed: %s\n", round, channel.name, optimizer.name, e.what());
    }

    if (round == 10 || round == 100 || round == 1000 || round == fits) {
      last_heap = HeapInUse();
      last_resident = ResidentBytes();
      if (round == baseline_round) {
        baseline_heap = last_heap;
        baseline_resident = last_resident;
      }
      std::printf("fit %ld: heap in use %zu bytes, resident %zu KB\n", round, last_heap, last_resident / 1024);
      std::fflush(stdout);
    }
  }

  int status = 0;
  std::printf("fits by optimizer:");
  for (size_t o = 0; o < runs.size(); ++o) std::printf(" %s %ld", Optimizers()[o].name, runs[o]);
  std::printf("\n");
  std::printf("%ld fits: %ld errors, %ld drifted results, %ld optimizer failures shown to the user\n", fits, errors,
              drifts, optimizer_failures);
  if (errors > 0 || drifts > 0) status = 1;
  if (valgrind || fits <= baseline_round) {
    std::printf("heap growth: not checked (%s)\n", valgrind ? "under valgrind" : "too few fits");
  } else {
    const long growth = static_cast<long>(last_heap) - static_cast<long>(baseline_heap);
    std::printf("heap growth from fit %ld to fit %ld: %ld bytes (tolerance %ld KB)\n", baseline_round, fits, growth,
                tolerance_kb);
    if (growth > tolerance_kb * 1024) {
      std::printf("FAIL: the heap grew\n");
      status = 1;
    }
    const long resident_growth = static_cast<long>(last_resident) - static_cast<long>(baseline_resident);
    std::printf("resident growth from fit %ld to fit %ld: %ld KB (tolerance %ld KB)\n", baseline_round, fits,
                resident_growth / 1024, kResidentToleranceKb);
    if (resident_growth > kResidentToleranceKb * 1024) {
      std::printf("FAIL: the resident set grew\n");
      status = 1;
    }
  }
  if (status == 0) std::printf("OK\n");
  return status;
}

}  // namespace
}  // namespace morvex

int main(int argc, char** argv) {
  try {
    return morvex::Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "morvex-fit-loop: %s\n", e.what());
    return 2;
  }
}
