// morvex-plt-bench: how the tire data reader and the pre-fit check scale
// with the size of a .plt file.
//
//   morvex-plt-bench --make MEGABYTES PATH   writes a lateral-force file of
//       about that size: three inclinations, five loads, one row per slip
//       step, values of a smooth curve with a little deterministic noise;
//   morvex-plt-bench PATH [--repeat N]       reads PATH N times (default 3)
//       as the window and morvex-fit do, then runs the check (the advice of
//       morvex-fit check, lateral channel, every box ticked) once, and
//       prints one JSON object: the best read time, the check time, the
//       points, the file size and the peak resident memory of the process.
//
// Run one process per file so that each peak belongs to one size
// (scripts/bench-plt.sh does, and prints the ratios).
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fitting/DataAdvice.h"
#include "tiredata/TireDataFile.h"
#include "tiremodel/CoefficientSet.h"
#include "tiremodel/CoefficientTable.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

int Make(double megabytes, const char* path) {
  const double loads[] = {2000, 3000, 4000, 5000, 6000};
  const double cambers[] = {0, 2, 4};
  // About 60 bytes a row.
  const long rows = std::max(10L, static_cast<long>(megabytes * 1e6 / (60.0 * 3)));
  std::ofstream out(path, std::ios::binary);
  out << "Lateral force made by morvex-plt-bench\n";
  char line[256];
  for (double camber : cambers) {
    out << "LOAD_CASE\n" << camber << "\n2000;3000;4000;5000;6000\n";
    for (long r = 0; r < rows; ++r) {
      const double alpha = -12.0 + 24.0 * static_cast<double>(r) / static_cast<double>(rows - 1);
      int n = std::snprintf(line, sizeof line, "%.6f", alpha);
      for (int j = 0; j < 5; ++j) {
        const double x = 0.2 * alpha + 0.01 * camber;
        const double fy = -loads[j] * 1.1 * std::sin(1.3 * std::atan(x - 0.1 * (x - std::atan(x)))) +
                          0.01 * static_cast<double>((r * 7919 + j * 31) % 100);
        n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), ";%.3f", fy);
      }
      out << line << '\n';
    }
  }
  return out ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--make") == 0) return Make(std::atof(argv[2]), argv[3]);
  if (argc < 2) {
    std::fprintf(stderr, "usage: morvex-plt-bench --make MEGABYTES PATH | morvex-plt-bench PATH [--repeat N]\n");
    return 2;
  }
  int repeat = 3;
  if (argc == 4 && std::strcmp(argv[2], "--repeat") == 0) repeat = std::max(1, std::atoi(argv[3]));
  try {
    double best_read = 1e300;
    morvex::TTireDataSet data;
    for (int k = 0; k < repeat; ++k) {
      const auto start = Clock::now();
      data = morvex::ReadTireDataFile(argv[1]);
      best_read = std::min(best_read, Since(start));
    }
    morvex::TMemoryCoefficientSet set;
    for (std::string_view name : morvex::LateralFreeOrder()) set.SetFree(name, true);
    const auto start = Clock::now();
    const morvex::TDataAdvice advice = morvex::AdviseOnData(morvex::TFitChannel::kLateral, set, data);
    const double check = Since(start);
    struct stat st {};
    stat(argv[1], &st);
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("{\"file_mb\": %.2f, \"points\": %zu, \"read_seconds\": %.4f, \"check_seconds\": %.4f, "
                "\"peak_rss_mb\": %.1f}\n",
                static_cast<double>(st.st_size) / 1e6, advice.points, best_read, check,
                static_cast<double>(usage.ru_maxrss) / 1024.0);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "morvex-plt-bench: %s\n", error.what());
    return 1;
  }
  return 0;
}
