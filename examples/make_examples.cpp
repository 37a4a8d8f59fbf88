// Writes the sample data files of examples/: one tire data file per channel
// (three cambers, four loads, 41 slips), made from a realistic coefficient
// set with seeded measurement noise, plus that coefficient set itself.
//
// The coefficients are the published Magic Formula 2002 set of a
// 205/60 R15 passenger car tire (rated load 4000 N, radius 0.3135 m), with
// the signs of the lateral force coefficients turned so that a positive
// slip angle gives a positive lateral force.
//
//   make_examples <output folder>
//
// The output is the same on every run (fixed seed), so the committed files
// can be remade and compared.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "files/CoefficientFile.h"
#include "fitting/ChannelModel.h"
#include "numerics/LxBasics.h"

namespace {

using morvex::TFitChannel;

const std::pair<const char*, const char*> kTrueValues[] = {
    {"Fz0", "4000"},    {"R0", "0.3135"},
    // Lateral force.
    {"PCy1", "1.193"},  {"PDy1", "0.99"},   {"PDy2", "-0.145"}, {"PDy3", "-11.23"},
    {"PEy1", "-1.003"}, {"PEy2", "-0.537"}, {"PEy3", "-0.083"}, {"PEy4", "-4.787"},
    {"PKy1", "14.95"},  {"PKy2", "2.13"},   {"PKy3", "-0.028"}, {"PHy1", "0.003"},
    {"PHy2", "-0.001"}, {"PHy3", "0.075"},  {"PVy1", "-0.045"}, {"PVy2", "0.024"},
    {"PVy3", "0.532"},  {"PVy4", "-0.039"},
    // Longitudinal force.
    {"PCx1", "1.685"},  {"PDx1", "1.21"},   {"PDx2", "-0.037"}, {"PDx3", "0"},
    {"PEx1", "0.344"},  {"PEx2", "0.095"},  {"PEx3", "-0.02"},  {"PEx4", "0"},
    {"PKx1", "21.51"},  {"PKx2", "-0.163"}, {"PKx3", "0.245"},  {"PHx1", "-0.002"},
    {"PHx2", "0.002"},  {"PVx1", "0"},      {"PVx2", "0"},
    // Aligning moment.
    {"QBz1", "10.904"}, {"QBz2", "-1.689"}, {"QBz3", "0.524"},  {"QBz4", "0.059"},
    {"QBz5", "0.1"},    {"QBz9", "18.47"},  {"QBz10", "0"},     {"QCz1", "1.18"},
    {"QDz1", "0.092"},  {"QDz2", "-0.006"}, {"QDz3", "0.3"},    {"QDz4", "0"},
    {"QDz6", "0.0017"}, {"QDz7", "-0.002"}, {"QDz8", "-0.153"}, {"QDz9", "0.002"},
    {"QEz1", "-8.865"}, {"QEz2", "0"},      {"QEz3", "0"},      {"QEz4", "0.254"},
    {"QEz5", "0"},      {"QHz1", "0.0065"}, {"QHz2", "0.0056"}, {"QHz3", "0.2"},
    {"QHz4", "0"},
};

struct ChannelData {
  TFitChannel channel;
  const char* file_name;
  const char* title;
  double slip_from, slip_step;  // 41 slips from slip_from
  double noise;                 // standard deviation of the measurement noise
};

const ChannelData kChannels[] = {
    {TFitChannel::kLateral, "lateral.plt", "Lateral force Fy [N] over slip angle [deg]", -12.0, 0.6,
     15.0},
    {TFitChannel::kAligning, "aligning.plt", "Aligning moment Mz [N m] over slip angle [deg]", -12.0,
     0.6, 0.8},
    {TFitChannel::kLongitudinal, "longitudinal.plt",
     "Longitudinal force Fx [N] over longitudinal slip [-]", -0.25, 0.0125, 15.0},
};

const double kCambers[] = {0.0, 2.0, 4.0};
const double kLoads[] = {2000.0, 4000.0, 6000.0, 8000.0};
constexpr int kSlipCount = 41;

// Rounds for the file: two decimals are far below the noise.
std::string Cell(double value, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  std::string text = buf;
  if (text == "-0" || text.find_first_not_of("-0.") == std::string::npos) text = "0";
  return text;
}

void WriteChannel(const ChannelData& ch, const morvex::TCoefficientSet& set,
                  const std::filesystem::path& folder, std::mt19937& random) {
  std::normal_distribution<double> noise(0.0, ch.noise);
  std::ofstream out(folder / ch.file_name, std::ios::binary);
  out << "Morvex sample data: " << ch.title << "\n";
  out << "Made by examples/make_examples from a published 205/60 R15 coefficient set with noise "
         "of standard deviation "
      << ch.noise << ".\n";
  const bool ratio = ch.channel == TFitChannel::kLongitudinal;
  for (size_t c = 0; c < std::size(kCambers); ++c) {
    out << "LOAD_CASE " << c + 1 << "\n" << Cell(kCambers[c], 1) << "\n";
    for (size_t j = 0; j < std::size(kLoads); ++j) out << (j ? ";" : "") << Cell(kLoads[j], 0);
    out << "\n";
    for (int r = 0; r < kSlipCount; ++r) {
      const double slip = ch.slip_from + r * ch.slip_step;
      out << Cell(slip, ratio ? 4 : 2);
      for (double load : kLoads) {
        const double value = morvex::EvaluatePoint(ch.channel, set, kCambers[c], load, slip);
        out << ";" << Cell(value + noise(random), 2);
      }
      out << "\n";
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_examples <output folder>\n";
    return 2;
  }
  morvex::SetDecimalSeparator('.');
  const std::filesystem::path folder = argv[1];
  morvex::TMemoryCoefficientSet set;
  for (const auto& [name, text] : kTrueValues) set.SetText(name, text);
  std::mt19937 random(20021);
  try {
    for (const ChannelData& ch : kChannels) WriteChannel(ch, set, folder, random);
    std::filesystem::remove(folder / "true-values.txt");
    morvex::ExportCoefficients(set, (folder / "true-values.txt").string());
  } catch (const std::exception& error) {
    std::cerr << "make_examples: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
