// morvex-fit with property files: convert, eval and fit on .tir files, the
// sign-convention option, and a fit under a decimal-comma locale.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/FitTool.h"
#include "files/TirFile.h"
#include "files/CoefficientFile.h"
#include "fitting/ChannelModel.h"
#include "numerics/LxBasics.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

class ConvertToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("morvex-convert-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    SetDecimalSeparator('.');
    fs::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  int Convert(const std::string& in, const std::string& out, std::optional<TSignConvention> convention = {}) {
    TConvertToolOptions options;
    options.input_path = in;
    options.output_path = out;
    options.convention = convention;
    options.executable_dir = dir_.string();  // no start-up file: the built-in texts (PKy1 = 10)
    std::ostringstream sink;
    return RunConvertTool(options, sink, err_);
  }

  // `morvex-fit eval` of one channel on a grid of cambers, loads and slips.
  std::vector<std::string> Eval(TFitChannel channel, const std::string& coefficients,
                                std::optional<TSignConvention> convention = {}) {
    const std::string points = Path("points.txt");
    {
      std::ofstream out(points);
      for (double camber : {-3.0, 0.0, 2.5})
        for (double load : {1500.0, 4000.0, 7000.0})
          for (double slip : channel == TFitChannel::kLongitudinal ? std::vector<double>{-0.3, -0.02, 0, 0.05, 0.4}
                                                                   : std::vector<double>{-12, -2, 0, 0.5, 6})
            out << camber << ' ' << load << ' ' << slip << '\n';
    }
    TEvalToolOptions options;
    options.channel = channel;
    options.coefficients_path = coefficients;
    options.convention = convention;
    options.points_path = points;
    options.executable_dir = dir_.string();
    std::ostringstream out;
    EXPECT_EQ(RunEvalTool(options, out, err_), kExitOk) << err_.str();
    std::vector<std::string> values;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) values.push_back(line);
    EXPECT_EQ(values.size(), 45u);
    return values;
  }

  fs::path dir_;
  std::ostringstream err_;
};

constexpr TFitChannel kChannels[] = {TFitChannel::kLateral, TFitChannel::kAligning, TFitChannel::kLongitudinal};

TEST_F(ConvertToolTest, SetThroughTirEvaluatesIdenticallyInBothConventions) {
  const std::string ini = std::string(MORVEX_SOURCE_DIR) + "/examples/true-values.txt";  // PKy1 > 0
  ASSERT_EQ(Convert(ini, Path("sample.tir")), kExitOk) << err_.str();
  EXPECT_NE(err_.str().find("PKY1, PVY1, PVY2, PVY3, PVY4, QBZ10, QDZ6, QDZ7, QDZ8, QDZ9 were negated"),
            std::string::npos)
      << err_.str();
  // Back in the positive-stiffness convention: the very same curves.
  for (TFitChannel channel : kChannels)
    EXPECT_EQ(Eval(channel, Path("sample.tir"), TSignConvention::kPositiveStiffness), Eval(channel, ini));
  // Read as ISO: Fy and Mz negated, Fx the same.
  for (TFitChannel channel : kChannels) {
    const std::vector<std::string> iso = Eval(channel, Path("sample.tir"), TSignConvention::kIso);
    const std::vector<std::string> positive = Eval(channel, ini);
    for (size_t i = 0; i < iso.size(); ++i) {
      const double a = StrToFloat(iso[i]), b = StrToFloat(positive[i]);
      if (channel == TFitChannel::kLongitudinal)
        EXPECT_EQ(a, b);
      else
        EXPECT_NEAR(a, -b, 1e-9 * std::fabs(b) + 1e-9);
    }
  }
  // An ISO set written and read as ISO: again the same curves.
  ASSERT_EQ(Convert(Path("sample.tir"), Path("iso.txt"), TSignConvention::kIso), kExitOk);
  ASSERT_EQ(Convert(Path("iso.txt"), Path("iso.tir")), kExitOk);  // PKy1 < 0: ISO by default
  for (TFitChannel channel : kChannels)
    EXPECT_EQ(Eval(channel, Path("iso.tir"), TSignConvention::kIso), Eval(channel, Path("iso.txt")));
}

TEST_F(ConvertToolTest, TirToTirGivesEveryValueBack) {
  const std::string published = std::string(MORVEX_SOURCE_DIR) + "/files/tests/data/fsae_mf52.tir";
  ASSERT_EQ(Convert(published, Path("copy.tir")), kExitOk) << err_.str();
  ASSERT_EQ(Convert(Path("copy.tir"), Path("copy2.tir")), kExitOk) << err_.str();
  std::ifstream a(Path("copy.tir")), b(Path("copy2.tir"));
  std::string la, lb;
  size_t compared = 0;
  while (std::getline(a, la) && std::getline(b, lb)) {
    if (la.rfind("$ Morvex:", 0) == 0) continue;
    EXPECT_EQ(la, lb);
    ++compared;
  }
  EXPECT_GT(compared, 150u);
  std::ifstream in(Path("copy.tir"));
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("\nPKY1                      = -19.0143\n"), std::string::npos);
  EXPECT_NE(text.find("\nPEX1                      = -1.0967e-14\n"), std::string::npos);
}

TEST_F(ConvertToolTest, FitWritesATirWithTheFitInItsHeader) {
  TFitToolOptions options;
  options.executable_dir = dir_.string();
  options.data_path = std::string(MORVEX_SOURCE_DIR) + "/examples/lateral.plt";
  options.coefficients_path = std::string(MORVEX_SOURCE_DIR) + "/files/tests/data/sedan_pac02.tir";
  options.free = "PDy1,PKy1";
  options.output_path = Path("fitted.tir");
  options.template_path = std::string(MORVEX_SOURCE_DIR) + "/files/tests/data/sedan_pac02.tir";
  std::ostringstream out;
  // The sample data have positive stiffness: so must the start set.
  options.convention = TSignConvention::kPositiveStiffness;
  // Another tire's start with two coefficients free fits this data poorly:
  // the fit finishes (written, exit 3) and its header says so.
  ASSERT_EQ(RunFitTool(options, out, err_), kExitFitPoor) << err_.str();
  std::ifstream in(Path("fitted.tir"));
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("$ Morvex: data file: "), std::string::npos);
  EXPECT_NE(text.find("lateral.plt"), std::string::npos);
  EXPECT_NE(text.find("$ Morvex: fit: lateral: 492 points, RMS "), std::string::npos) << text.substr(0, 800);
  EXPECT_NE(text.find(", verdict poor:"), std::string::npos) << text.substr(0, 800);
  EXPECT_NE(text.find("! 245/40 R 18"), std::string::npos);  // the template's own lines
  EXPECT_NE(err_.str().find("positive-stiffness"), std::string::npos);

  // A template without a .tir output is refused before anything runs.
  options.output_path = Path("fitted.txt");
  EXPECT_EQ(RunFitTool(options, out, err_), kExitError);
  EXPECT_FALSE(fs::exists(Path("fitted.txt")));
}

TEST_F(ConvertToolTest, FitUnderADecimalCommaWithShippedOrNoFiles) {
  // Under LC_ALL=fr_FR.UTF-8 the separator is ','; the shipped files write '.'.
  SetDecimalSeparator(',');
  std::ifstream data_in(std::string(MORVEX_SOURCE_DIR) + "/examples/lateral.plt");
  std::string data((std::istreambuf_iterator<char>(data_in)), std::istreambuf_iterator<char>());
  std::replace(data.begin(), data.end(), '.', ',');  // data files of a French user
  std::ofstream(Path("lateral.plt")) << data;
  for (bool shipped : {false, true}) {
    if (shipped) {
      fs::copy_file(std::string(MORVEX_SOURCE_DIR) + "/files/param_fm_ini.ini", Path("param_fm_ini.ini"));
      fs::copy_file(std::string(MORVEX_SOURCE_DIR) + "/fitting/configuration.ini", Path("configuration.ini"));
    }
    TFitToolOptions options;
    options.executable_dir = dir_.string();
    options.data_path = Path("lateral.plt");
    options.free = "PDy1";
    std::ostringstream out;
    // The fit runs to its end (with one coefficient free its verdict may be poor).
    const int status = RunFitTool(options, out, err_);
    EXPECT_TRUE(status == kExitOk || status == kExitFitPoor) << status << err_.str();
    EXPECT_EQ(err_.str().find("n'est pas une valeur"), std::string::npos) << err_.str();
  }
}

}  // namespace
}  // namespace morvex

namespace morvex {
namespace {

TEST(TirRanges, NewFileTakesTheRangesOfTheFittedData) {
  TTireDataSet data;
  data.Cases.push_back({2.0, {2000, 6000}, {-8, 0, 10}, std::vector<double>(6, 0.0)});
  data.Cases.push_back({-1.0, {0, 4000}, {-12, 4}, std::vector<double>(4, 0.0)});
  TTirExportOptions options;
  AddDataRanges(options.info.ranges, data, true);
  const fs::path path = fs::temp_directory_path() / "morvex-ranges.tir";
  ExportTir(TMemoryCoefficientSet(), path.string(), options);
  std::ifstream in(path);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::remove(path);
  EXPECT_NE(text.find("\nFZMIN                     = 2000 "), std::string::npos);  // a load of 0 is no load
  EXPECT_NE(text.find("\nFZMAX                     = 6000\n"), std::string::npos);
  EXPECT_NE(text.find("\nALPMIN                    = " + TirNumber(-12 * M_PI / 180) + " "), std::string::npos);
  EXPECT_NE(text.find("\nALPMAX                    = " + TirNumber(10 * M_PI / 180) + "\n"), std::string::npos);
  EXPECT_NE(text.find("\nCAMMIN                    = " + TirNumber(-M_PI / 180) + " "), std::string::npos);
  EXPECT_NE(text.find("\nKPUMIN                    = -1.5\n"), std::string::npos);  // no slip-ratio data
}

}  // namespace
}  // namespace morvex
