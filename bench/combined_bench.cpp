// Times the combined-slip stages on a data file of points, for
// bench/peer/combined_fit_bench.py, which fits the same residuals with
// scipy from the start values printed here.
//
//   morvex-combined-bench TIRE.txt POINTS.csv [--stage fy|fx] [--repeat N]
//
// TIRE.txt: a coefficient file of testing/data/combined-slip (its pure-slip
// coefficients, R0, Fz0 and LONGVL are read; the combined ones are not).
// POINTS.csv: camber;load;slip_angle;slip_ratio;fx;fy;mz;mx;my;speed per line.
// Prints one JSON object: the stage's coefficients, start values, result,
// final cost, points and the seconds of one whole stage (start estimate and
// solves), the best of the repeats.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "fitting/CombinedStages.h"
#include "fitting/FitHost.h"
#include "numerics/LxBasics.h"
#include "tiremodel/CoefficientTable.h"

namespace {

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::map<std::string, double> ReadKeys(const std::string& path) {
  std::map<std::string, double> values;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const size_t a = line.find_first_not_of(" \t\r");
    if (a == std::string::npos || line[a] == ';' || line[a] == '[') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(a, eq - a);
    key.erase(key.find_last_not_of(" \t") + 1);
    values[Upper(key)] = std::stod(line.substr(eq + 1));
  }
  return values;
}

std::string Number(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return std::isfinite(v) ? buf : "null";
}

}  // namespace

int main(int argc, char** argv) {
  using namespace morvex;
  if (argc < 3) {
    std::cerr << "usage: morvex-combined-bench TIRE.txt POINTS.csv [--stage fy|fx] [--repeat N]\n";
    return 2;
  }
  TCombinedStage stage = TCombinedStage::kFy;
  int repeat = 3;
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::string flag = argv[i], value = argv[i + 1];
    if (flag == "--stage") stage = value == "fx" ? TCombinedStage::kFx : TCombinedStage::kFy;
    if (flag == "--repeat") repeat = std::max(1, std::stoi(value));
  }
  const auto keys = ReadKeys(argv[1]);
  TMemoryCoefficientSet pure;
  for (const TCoefficientInfo& info : Coefficients()) {
    const auto it = keys.find(Upper(std::string(info.name)));
    if (it != keys.end()) pure.SetText(info.name, FloatToStr(it->second));
  }
  const double longvl = keys.count("LONGVL") ? keys.at("LONGVL") : 16.7;

  TCombinedDataSet data;
  std::ifstream in(argv[2]);
  std::string line;
  while (std::getline(in, line)) {
    std::stringstream fields(line);
    std::string f;
    double v[10];
    int n = 0;
    while (n < 10 && std::getline(fields, f, ';')) v[n++] = f == "nan" ? std::nan("") : std::stod(f);
    if (n != 10) continue;
    TCombinedSample s;
    s.camber = v[0], s.load = v[1], s.slip_angle = v[2], s.slip_ratio = v[3];
    s.fx = v[4], s.fy = v[5], s.mz = v[6], s.mx = v[7], s.my = v[8], s.speed = v[9];
    data.samples.push_back(s);
  }

  TSilentFitHost host;
  TStageResult result;
  TCombinedCoefficients combined;
  double best = 1e300;
  for (int r = 0; r < repeat; ++r) {
    TCombinedCoefficients fresh;
    const auto t0 = std::chrono::steady_clock::now();
    result = FitCombinedStage(stage, pure, fresh, data, longvl, host);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    best = std::min(best, seconds);
    combined = fresh;
  }
  // The solver alone, from the start the estimate found, with the
  // coefficients the stage held held again: what scipy is timed on.
  std::vector<std::pair<std::string, double>> start;
  for (size_t k = 0; k < result.outcome.fitted.size() && k < result.start_values.size(); ++k)
    start.emplace_back(result.outcome.fitted[k], result.start_values[k]);
  double solve = 1e300;
  for (int r = 0; r < repeat; ++r) {
    TCombinedCoefficients fresh;
    const auto t0 = std::chrono::steady_clock::now();
    FitCombinedStage(stage, pure, fresh, data, longvl, host, &start);
    solve = std::min(solve, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  auto list = [](const auto& values, auto fn) {
    std::string s = "[";
    for (size_t k = 0; k < values.size(); ++k) s += (k ? ", " : "") + fn(values[k]);
    return s + "]";
  };
  const auto quote = [](const std::string& s) { return "\"" + s + "\""; };
  std::vector<double> fitted_values;
  for (const std::string& name : result.outcome.fitted) fitted_values.push_back(combined.*CombinedMember(name));
  std::vector<std::string> held;
  for (const std::string& h : result.held) held.push_back(h.substr(0, h.find(' ')));
  std::cout << "{\"stage\": " << quote(result.name) << ", \"points\": " << result.points
            << ", \"fitted\": " << list(result.outcome.fitted, quote) << ", \"held\": " << list(held, quote)
            << ", \"start\": " << list(result.start_values, Number)
            << ", \"result\": " << list(fitted_values, Number)
            << ", \"start_cost\": " << Number(result.outcome.start_cost)
            << ", \"final_cost\": " << Number(result.outcome.final_cost)
            << ", \"iterations\": " << result.outcome.iterations << ", \"seconds\": " << Number(best) << ", \"solve_seconds\": " << Number(solve)
            << ", \"verdict\": " << quote(result.outcome.verdict.poor ? "poor" : "good") << "}\n";
  return 0;
}
