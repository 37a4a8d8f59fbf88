// Writes the example run files of examples/: one simulated flat-track
// recording (RunRecorder.h) of the tire of true-values.txt, as a
// tab-separated run file in SAE signs and as a TYDEX file in ISO signs.
//
//   make_runs <examples folder> [rows output-file]
//   make_runs --programme <tire.txt> <output folder> [--tydex]
//
// With `rows`, the programme repeats until the run holds at least that many
// samples and only the delimited file is written, to `output-file` (for the
// import benchmark).  With --programme, the whole programme of a tire with
// combined-slip coefficients (testing/data/combined-slip) is written
// (RunRecorderProgramme.h): cornering, drive/brake and drive/brake at held
// slip angles, delimited or TYDEX.  The output is the same on every run
// (fixed seed).
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

#include "examples/RunRecorder.h"
#include "examples/RunRecorderProgramme.h"

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--programme") {
    try {
      morvex::examples::TProgrammeOptions options;
      options.tydex = argc == 5 && std::string(argv[4]) == "--tydex";
      if (argc > 5 || (argc == 5 && !options.tydex)) throw std::runtime_error("unknown option " + std::string(argv[4]));
      for (const std::string& path :
           morvex::examples::WriteProgramme(morvex::examples::ReadCombinedTire(argv[2]), argv[3], options))
        std::cout << path << "\n";
    } catch (const std::exception& error) {
      std::cerr << "make_runs: " << error.what() << "\n";
      return 1;
    }
    return 0;
  }
  if (argc != 2 && argc != 4) {
    std::cerr << "usage: make_runs <examples folder> [rows output-file]\n"
                 "       make_runs --programme <tire.txt> <output folder> [--tydex]\n";
    return 2;
  }
  namespace ex = morvex::examples;
  const std::filesystem::path folder = argv[1];
  try {
    const morvex::TMemoryCoefficientSet truth = ex::ReadCoefficientValues((folder / "true-values.txt").string());
    if (truth.Text("PCy1") != "1.193") throw std::runtime_error("true-values.txt was not found in " + folder.string());
    ex::TRunProgramme programme;
    auto write = [](const std::filesystem::path& path, const std::string& text) {
      std::ofstream out(path, std::ios::binary);
      out << text;
      if (!out) throw std::runtime_error("cannot write " + path.string());
    };
    if (argc == 4) {
      const long rows = std::atol(argv[2]);
      const size_t once = ex::RecordRun(truth, programme).size();
      programme.repeat = static_cast<size_t>(rows) / once + 1;
      write(argv[3], ex::FormatDelimitedRun(ex::RecordRun(truth, programme)));
      return 0;
    }
    const auto samples = ex::RecordRun(truth, programme);
    write(folder / "run.dat", ex::FormatDelimitedRun(samples));
    write(folder / "run.tdx", ex::FormatTydexRun(samples));
  } catch (const std::exception& error) {
    std::cerr << "make_runs: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
