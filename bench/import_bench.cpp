// morvex-import-bench: the time of a raw-run import, from reading the file
// to the binned data set, as morvex-fit import and the import window run it.
//
//   morvex-import-bench RUNFILE [--repeat N] [--warmup SECONDS]
//
// Imports the lateral force of RUNFILE N times (default 3) with the
// import's defaults (and the given warm-up), and prints one JSON object:
// the best and the median time in seconds, the samples read, the binned
// cases and points, and the peak resident memory of the process in MB.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "rigdata/RawImport.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: morvex-import-bench RUNFILE [--repeat N] [--warmup SECONDS]\n");
    return 2;
  }
  int repeat = 3;
  morvex::TRawImportOptions options;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--repeat") == 0) repeat = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--warmup") == 0) options.warmup_seconds = std::atof(argv[i + 1]);
  }
  std::vector<double> seconds;
  morvex::TRawImportResult result;
  try {
    for (int k = 0; k < repeat; ++k) {
      const auto start = std::chrono::steady_clock::now();
      result = morvex::ImportRunFile(argv[1], options);
      seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "morvex-import-bench: %s\n", error.what());
    return 1;
  }
  std::sort(seconds.begin(), seconds.end());
  size_t points = 0;
  for (const morvex::TLoadCase& lc : result.data.Cases) points += lc.Values.size();
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("{\"best_seconds\": %.6f, \"median_seconds\": %.6f, \"samples\": %zu, \"cases\": %zu, \"points\": %zu, "
              "\"peak_rss_mb\": %.1f}\n",
              seconds.front(), seconds[seconds.size() / 2], result.report.samples_read, result.data.Cases.size(),
              points, static_cast<double>(usage.ru_maxrss) / 1024.0);
  return 0;
}
