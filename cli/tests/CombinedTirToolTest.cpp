// A property file's combined-slip part on the command line: `eval` gives
// the forces of the independent reference evaluation, and `convert` keeps
// the part, also at another rated load.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/FitTool.h"
#include "files/TirFile.h"
#include "numerics/LxBasics.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

const std::string kCarTir = std::string(MORVEX_SOURCE_DIR) + "/files/tests/data/car_185_80R14_pac2002.tir";
const std::string kReference = std::string(MORVEX_SOURCE_DIR) + "/testing/data/combined-slip/reference.txt";

class CombinedTirTool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("morvex-combined-tool-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // `eval` of `channel` over the points, one number per line.
  std::vector<double> Eval(const std::string& tir, TFitChannel channel, const std::string& points) {
    const std::string path = Path("points.txt");
    std::ofstream(path, std::ios::binary) << points;
    TEvalToolOptions options;
    options.channel = channel;
    options.coefficients_path = tir;
    options.convention = TSignConvention::kIso;
    options.points_path = path;
    options.executable_dir = dir_.string();
    std::ostringstream out, err;
    EXPECT_EQ(RunEvalTool(options, out, err), 0) << err.str();
    std::vector<double> values;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) values.push_back(StrToFloat(line));
    return values;
  }
  fs::path dir_;
};

// The reference rows of the car, written by bench/peer/combined_peer.py
// from the published equations: Fx, Fy and Mz within 1e-9.
TEST_F(CombinedTirTool, EvalGivesTheIndependentEvaluation) {
  std::ifstream in(kReference);
  ASSERT_TRUE(in);
  std::string points;
  std::vector<std::vector<double>> expected;  // Fx, Fy, Mz
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("car-185-80R14;", 0) != 0) continue;
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, ';');) f.push_back(field);
    ASSERT_EQ(f.size(), 11u);
    points += f[1] + ";" + f[2] + ";" + f[3] + ";" + f[4] + "\n";
    expected.push_back({std::stod(f[6]), std::stod(f[7]), std::stod(f[8])});
  }
  ASSERT_GT(expected.size(), 100u);
  const TFitChannel channels[] = {TFitChannel::kLongitudinal, TFitChannel::kLateral, TFitChannel::kAligning};
  for (size_t c = 0; c < 3; ++c) {
    const std::vector<double> got = Eval(kCarTir, channels[c], points);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t k = 0; k < got.size(); ++k)
      EXPECT_NEAR(got[k], expected[k][c], 1e-9 * std::max(1.0, std::fabs(expected[k][c]))) << c << " row " << k;
  }
  // Three fields: the pure-slip channel as before.
  EXPECT_EQ(Eval(kCarTir, TFitChannel::kLateral, "0;3800;2\n").size(), 1u);
}

TEST_F(CombinedTirTool, ConvertKeepsTheCombinedPartAtAnyRatedLoad) {
  const std::string points = "1;2000;-4;0.1\n0;3800;3;-0.2\n2;6000;8;0.05\n-1;4500;-1;-0.03\n";
  const std::vector<double> before_fy = Eval(kCarTir, TFitChannel::kLateral, points);
  const std::vector<double> before_mz = Eval(kCarTir, TFitChannel::kAligning, points);
  for (std::optional<double> fz0 : {std::optional<double>(), std::optional<double>(4400.0)}) {
    TConvertToolOptions convert;
    convert.input_path = kCarTir;
    convert.output_path = Path("out.tir");
    convert.convention = TSignConvention::kIso;
    convert.fz0 = fz0;
    convert.executable_dir = dir_.string();
    std::ostringstream out, err;
    ASSERT_EQ(RunConvertTool(convert, out, err), 0) << err.str();
    TMemoryCoefficientSet set;
    const TTirImportResult read = ImportTir(set, convert.output_path, TSignConvention::kIso);
    EXPECT_EQ(read.combined_keys.size(), 31u);
    const std::vector<double> fy = Eval(convert.output_path, TFitChannel::kLateral, points);
    const std::vector<double> mz = Eval(convert.output_path, TFitChannel::kAligning, points);
    for (size_t k = 0; k < fy.size(); ++k) {
      EXPECT_NEAR(fy[k], before_fy[k], 1e-9 * std::fabs(before_fy[k])) << k;
      EXPECT_NEAR(mz[k], before_mz[k], 1e-9 * std::max(1.0, std::fabs(before_mz[k]))) << k;
    }
  }
  // Into a coefficient file the part has no place: said, not silently lost.
  TConvertToolOptions convert;
  convert.input_path = kCarTir;
  convert.output_path = Path("out.txt");
  convert.convention = TSignConvention::kIso;
  convert.executable_dir = dir_.string();
  std::ostringstream out, err;
  ASSERT_EQ(RunConvertTool(convert, out, err), 0) << err.str();
  EXPECT_NE(err.str().find("have no place in a coefficient file"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace morvex
