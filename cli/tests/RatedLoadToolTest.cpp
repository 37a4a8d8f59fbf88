// The rated load Fz0 on the command line: `--free all` leaves it to the
// engineer, `--fz0` re-expresses a set at another one, and the fit chain of
// the README (lateral, aligning, longitudinal, each from the one before)
// ends in a property file of the true tire.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/CheckTool.h"
#include "cli/FitTool.h"
#include "files/CoefficientFile.h"
#include "files/TirFile.h"
#include "fitting/ChannelModel.h"
#include "fitting/tests/PublishedTires.h"
#include "numerics/LxBasics.h"
#include "tiremodel/RatedLoad.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

constexpr TFitChannel kChannels[] = {TFitChannel::kLateral, TFitChannel::kAligning, TFitChannel::kLongitudinal};

std::string PublishedPath(const std::string& stem) {
  return std::string(MORVEX_SOURCE_DIR) + "/testing/data/published-tires/" + stem + ".txt";
}

constexpr double kCambers[] = {0.0, 2.0, 4.0};
constexpr double kLoadShares[] = {0.5, 0.8, 1.1, 1.4};

double SlipAt(TFitChannel channel, int k, int steps) {
  return channel == TFitChannel::kLongitudinal ? -0.25 + 0.5 * k / steps : -12.0 + 24.0 * k / steps;
}

// The largest |truth - model| over a grid of the measured range (cambers 0
// to 4, loads 0.5 to 1.4 x `fz0`, the slips of the data, with points between
// those of the data), as a share of the peak: of each curve's own peak with
// `per_curve`, else of the channel's peak over the whole range.
double WorstShareOfPeak(TFitChannel channel, const TCoefficientSet& truth, const TCoefficientSet& model,
                        double fz0, bool per_curve = true) {
  double worst = 0, worst_diff = 0, channel_peak = 0;
  for (double camber : {0.0, 1.0, 2.0, 3.0, 4.0})
    for (double share : {0.5, 0.65, 0.8, 0.95, 1.1, 1.25, 1.4}) {
      const double fz = share * fz0;
      double peak = 0, diff = 0;
      for (int k = 0; k <= 96; ++k) {
        const double slip = SlipAt(channel, k, 96);
        const double t = EvaluatePoint(channel, truth, camber, fz, slip);
        peak = std::max(peak, std::fabs(t));
        diff = std::max(diff, std::fabs(t - EvaluatePoint(channel, model, camber, fz, slip)));
      }
      worst = std::max(worst, diff / peak);
      worst_diff = std::max(worst_diff, diff);
      channel_peak = std::max(channel_peak, peak);
    }
  return per_curve ? worst : worst_diff / channel_peak;
}

class RatedLoadToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("morvex-fz0-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // A .plt of one channel of `truth`: cambers 0, 2, 4, loads 0.5 to 1.4 x
  // Fz0, 41 slips, noise of `noise` x the largest value.
  std::string WriteData(const std::string& name, TFitChannel channel, const TCoefficientSet& truth, double noise,
                        uint64_t seed) {
    const double fz0 = truth.Value("Fz0");
    std::vector<double> loads;
    for (double share : kLoadShares) loads.push_back(std::round(share * fz0));
    double largest = 0;
    for (double camber : kCambers)
      for (int k = 0; k <= 40; ++k)
        for (double load : loads)
          largest = std::max(largest, std::fabs(EvaluatePoint(channel, truth, camber, load, SlipAt(channel, k, 40))));
    test::Noise random(seed);
    std::ostringstream text;
    for (double camber : kCambers) {
      text << "LOAD_CASE\n" << camber << '\n';
      for (size_t j = 0; j < loads.size(); ++j) text << (j ? ";" : "") << loads[j];
      text << '\n';
      for (int k = 0; k <= 40; ++k) {
        const double slip = SlipAt(channel, k, 40);
        text << FloatToStrF(slip, TFloatFormat::kGeneral, 17, 0);
        for (double load : loads) {
          const double value = EvaluatePoint(channel, truth, camber, load, slip) + noise * largest * random.Next();
          text << ';' << FloatToStrF(value, TFloatFormat::kGeneral, 17, 0);
        }
        text << '\n';
      }
    }
    const std::string path = Path(name);
    std::ofstream(path, std::ios::binary) << text.str();
    return path;
  }

  TFitToolOptions Fit(TFitChannel channel, const std::string& data, const std::string& output) {
    TFitToolOptions options;
    options.channel = channel;
    options.executable_dir = dir_.string();  // no start-up file: the built-in texts
    options.data_path = data;
    options.output_path = Path(output);
    options.optimizer = TOptimizerChoice::kTrustRegion;
    return options;
  }

  int Run(const TFitToolOptions& options) {
    out_.str("");
    return RunFitTool(options, out_, err_);
  }

  int Convert(const std::string& in, const std::string& out, std::optional<double> fz0) {
    TConvertToolOptions options;
    options.convention = TSignConvention::kIso;  // the published tires' own
    options.input_path = in;
    options.output_path = out;
    options.executable_dir = dir_.string();
    options.fz0 = fz0;
    std::ostringstream sink;
    return RunConvertTool(options, sink, err_);
  }

  fs::path dir_;
  std::ostringstream out_, err_;
};

// ------------------------------------------------------------- free flags

TEST_F(RatedLoadToolTest, AllLeavesFz0ToTheEngineerAndNamingItFreesItWithANote) {
  const TMemoryCoefficientSet truth = test::PublishedTire("car-245-40R18");
  TFitToolOptions options = Fit(TFitChannel::kLateral, WriteData("lateral.plt", TFitChannel::kLateral, truth, 0.0, 1),
                                "all.txt");
  options.coefficients_path = PublishedPath("car-245-40R18");
  options.fz0 = 5000;  // not the tire's own 3928.5 N
  const int status = Run(options);
  ASSERT_TRUE(status == kExitOk || status == kExitFitPoor) << err_.str();
  EXPECT_NE(out_.str().find(" free=18 "), std::string::npos) << out_.str();
  EXPECT_EQ(out_.str().find("name=Fz0"), std::string::npos) << out_.str();
  EXPECT_EQ(out_.str().find("fitted at the old value"), std::string::npos);
  TMemoryCoefficientSet written;
  ImportCoefficients(written, Path("all.txt"));
  EXPECT_EQ(written.Text("Fz0"), "5000");

  // Naming Fz0 frees it; the other channels' coefficients follow it so
  // their curves stay, and the report says why Fz0 should stay fixed.
  TMemoryCoefficientSet start;
  ImportCoefficients(start, PublishedPath("car-245-40R18"));
  ReexpressAtFz0(start, 5000);
  options.free = "PKy1,PDy1,Fz0";
  options.output_path = Path("named.txt");
  const TMemoryCoefficientSet shifted = [&] {
    // The data of a tire whose lateral stiffness grows with load differently.
    TMemoryCoefficientSet s = truth;
    s.SetText("PKy2", FloatToStr(truth.Value("PKy2") * 0.9));
    return s;
  }();
  options.data_path = WriteData("shifted.plt", TFitChannel::kLateral, shifted, 0.0, 1);
  const int named = Run(options);
  ASSERT_TRUE(named == kExitOk || named == kExitFitPoor) << err_.str();
  EXPECT_NE(out_.str().find("name=Fz0"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("note Fz0 was freed on request: the curves of the other channels were fitted at the old "
                            "value"),
            std::string::npos)
      << out_.str();
  TMemoryCoefficientSet fitted;
  ImportCoefficients(fitted, Path("named.txt"));
  ASSERT_GT(std::fabs(fitted.Value("Fz0") - 5000), 1.0) << "the fit did not move Fz0";
  EXPECT_LT(WorstShareOfPeak(TFitChannel::kLongitudinal, start, fitted, 4000), 1e-9);
  // The aligning channel's own terms followed too: with the lateral
  // coefficients of the start put back at the new Fz0, Mz is the start's.
  TMemoryCoefficientSet aligning_check = start;
  ReexpressAtFz0(aligning_check, fitted.Value("Fz0"), {.lateral = true, .aligning = false, .longitudinal = false});
  for (const TCoefficientInfo& info : Coefficients())
    if (info.group == TCoefficientGroup::kAligning) aligning_check.SetText(info.name, fitted.Text(info.name));
  EXPECT_LT(WorstShareOfPeak(TFitChannel::kAligning, start, aligning_check, 4000), 1e-9);
}

TEST_F(RatedLoadToolTest, AnEstimateThatMovesAFreedFz0CarriesTheOtherChannelsAlong) {
  // With Fz0 named, the estimate puts it at the mean load of the data; the
  // fit then starts from there.  The longitudinal and aligning coefficients
  // of the file follow both moves.
  const TMemoryCoefficientSet truth = test::PublishedTire("fsae");
  TMemoryCoefficientSet other = truth;  // data of a tire a little different in Fy
  other.SetText("PKy2", FloatToStr(truth.Value("PKy2") * 1.2));
  other.SetText("PDy2", FloatToStr(truth.Value("PDy2") * 0.8));
  TFitToolOptions options = Fit(TFitChannel::kLateral, WriteData("fy.plt", TFitChannel::kLateral, other, 0.005, 5),
                                "fy.txt");
  options.coefficients_path = PublishedPath("fsae");
  options.fz0 = 2000;
  options.free = "Fz0,PDy1,PKy1,PCy1";
  options.estimate_start = true;
  const int status = Run(options);
  ASSERT_TRUE(status == kExitOk || status == kExitFitPoor) << err_.str();
  TMemoryCoefficientSet written;
  ImportCoefficients(written, Path("fy.txt"));
  ASSERT_GT(std::fabs(written.Value("Fz0") - 2000), 1.0);
  EXPECT_LT(WorstShareOfPeak(TFitChannel::kLongitudinal, truth, written, 2700), 1e-9);
  TMemoryCoefficientSet aligning_check = truth;
  ReexpressAtFz0(aligning_check, written.Value("Fz0"), {.lateral = true, .aligning = false, .longitudinal = false});
  for (const TCoefficientInfo& info : Coefficients())
    if (info.group == TCoefficientGroup::kAligning) aligning_check.SetText(info.name, written.Text(info.name));
  EXPECT_LT(WorstShareOfPeak(TFitChannel::kAligning, truth, aligning_check, 2700), 1e-9);
}

TEST_F(RatedLoadToolTest, CheckOfAllNeverAsksToClearTheRatedLoad) {
  // One load cannot show how anything changes with load, Fz0 included; with
  // "all" its box is not ticked, so it is not among the boxes to clear.
  const TMemoryCoefficientSet truth = test::PublishedTire("fsae");
  std::ostringstream text;
  text << "LOAD_CASE\n0\n2700\n";
  for (int k = 0; k <= 40; ++k)
    text << SlipAt(TFitChannel::kLongitudinal, k, 40) << ';'
         << EvaluatePoint(TFitChannel::kLongitudinal, truth, 0, 2700, SlipAt(TFitChannel::kLongitudinal, k, 40)) << '\n';
  std::ofstream(Path("one.plt")) << text.str();
  TCheckToolOptions check;
  check.channel = TFitChannel::kLongitudinal;
  check.data_path = Path("one.plt");
  check.executable_dir = dir_.string();
  for (const char* free : {"all", "all ", "PKx2,Fz0"}) {
    check.free = free;
    std::ostringstream advice;
    ASSERT_EQ(RunCheckTool(check, advice, err_), kExitOk) << err_.str();
    const std::string clear = advice.str().substr(advice.str().find("Clear these boxes"));
    EXPECT_EQ(clear.find("Fz0") != std::string::npos, std::string(free) == "PKx2,Fz0") << free << '\n' << clear;
    EXPECT_NE(clear.find("PKx2"), std::string::npos) << clear;
  }
}

// ------------------------------------------------------------------ --fz0

TEST_F(RatedLoadToolTest, ConvertReexpressesAtTheGivenRatedLoadWithTheSameCurves) {
  for (const char* stem : {"fsae", "truck-335-65R22.5"}) {
    const TMemoryCoefficientSet truth = test::PublishedTire(stem);
    const double fz0 = truth.Value("Fz0");
    err_.str("");
    ASSERT_EQ(Convert(PublishedPath(stem), Path("moved.txt"), 1.3 * fz0), kExitOk) << err_.str();
    EXPECT_NE(err_.str().find("re-expressed at Fz0 = " + FloatToStr(1.3 * fz0)), std::string::npos) << err_.str();
    TMemoryCoefficientSet moved;
    ImportCoefficients(moved, Path("moved.txt"));
    EXPECT_EQ(moved.Value("Fz0"), 1.3 * fz0);
    for (TFitChannel channel : kChannels) EXPECT_LT(WorstShareOfPeak(channel, truth, moved, fz0), 1e-9) << stem;

    // Through a property file and back to the tire's own rated load.
    ASSERT_EQ(Convert(Path("moved.txt"), Path("moved.tir"), std::nullopt), kExitOk) << err_.str();
    ASSERT_EQ(Convert(Path("moved.tir"), Path("back.txt"), fz0), kExitOk) << err_.str();
    TMemoryCoefficientSet back;
    ImportCoefficients(back, Path("back.txt"));
    for (const TCoefficientInfo& info : Coefficients())
      EXPECT_NEAR(back.Value(info.name), truth.Value(info.name), 1e-9 * (1 + std::fabs(truth.Value(info.name))))
          << stem << ' ' << info.name;
  }
}

TEST_F(RatedLoadToolTest, ConvertGivesARatedLoadToAFileWithoutOneAndRefusesANonsenseLoad) {
  const std::string partial = Path("partial.txt");
  std::ofstream(partial) << "[PARAMETERS FY]\nPcy1=1.45\nPdy2=-0.2\n";
  ASSERT_EQ(Convert(partial, Path("given.txt"), 4200), kExitOk) << err_.str();
  EXPECT_NE(err_.str().find("gives no rated load: Fz0 = 4200 from --fz0"), std::string::npos) << err_.str();
  TMemoryCoefficientSet given;
  ImportCoefficients(given, Path("given.txt"));
  EXPECT_EQ(given.Text("Fz0"), "4200");
  EXPECT_EQ(given.Text("PDy2"), "-0.2");  // taken as the file wrote it, not re-expressed
  EXPECT_EQ(given.Text("PCy1"), "1.45");

  for (double bad : {0.0, -100.0}) {
    err_.str("");
    EXPECT_EQ(Convert(PublishedPath("fsae"), Path("bad.txt"), bad), kExitError);
    EXPECT_NE(err_.str().find("--fz0 must be a positive load"), std::string::npos) << err_.str();
    EXPECT_FALSE(fs::exists(Path("bad.txt")));
  }
}

TEST_F(RatedLoadToolTest, FitAtAnotherRatedLoadStartsFromTheSameCurves) {
  // The data of the published tire itself, the start set the tire moved to
  // 0.8 x Fz0: a fit from there has nothing to improve.
  const TMemoryCoefficientSet truth = test::PublishedTire("suv-265-70R18");
  const double fz0 = truth.Value("Fz0");
  TFitToolOptions options = Fit(TFitChannel::kLongitudinal,
                                WriteData("fx.plt", TFitChannel::kLongitudinal, truth, 0.0, 3), "fx.txt");
  options.coefficients_path = PublishedPath("suv-265-70R18");
  options.free = "PCx1";
  options.fz0 = 0.8 * fz0;
  ASSERT_EQ(Run(options), kExitOk) << err_.str() << out_.str();
  TMemoryCoefficientSet written;
  ImportCoefficients(written, Path("fx.txt"));
  EXPECT_EQ(written.Value("Fz0"), 0.8 * fz0);
  EXPECT_NEAR(written.Value("PCx1"), truth.Value("PCx1"), 1e-6);
  EXPECT_NE(written.Text("PDx1"), truth.Text("PDx1"));  // written at the new rated load
  for (TFitChannel channel : kChannels) EXPECT_LT(WorstShareOfPeak(channel, truth, written, fz0), 1e-8);
}

// --------------------------------------------------------------- the chain

// lateral -> aligning -> longitudinal, each `--free all --start estimate
// --optimizer tr` from the output of the one before, then `convert` to a
// property file: that file is the true tire within 1.5 % of the peak over
// the measured range, in every channel.
TEST_F(RatedLoadToolTest, ReadmeChainEndsInThePropertyFileOfTheTrueTire) {
  for (const char* stem : {"car-185-80R14", "suv-265-70R18"}) {
    SCOPED_TRACE(stem);
    const TMemoryCoefficientSet truth = test::PublishedTire(stem);
    const double fz0 = truth.Value("Fz0");
    const std::string lateral = WriteData("fy.plt", TFitChannel::kLateral, truth, 0.01, 11);
    const std::string aligning = WriteData("mz.plt", TFitChannel::kAligning, truth, 0.01, 12);
    const std::string longitudinal = WriteData("fx.plt", TFitChannel::kLongitudinal, truth, 0.01, 13);

    TFitToolOptions fy = Fit(TFitChannel::kLateral, lateral, "fy.txt");
    fy.estimate_start = true;
    fy.fz0 = std::round(0.8 * fz0);  // the engineer's choice: the middle held load, say
    const int fy_status = Run(fy);
    ASSERT_TRUE(fy_status == kExitOk || fy_status == kExitFitPoor) << err_.str() << out_.str();

    TFitToolOptions mz = Fit(TFitChannel::kAligning, aligning, "mz.txt");
    mz.estimate_start = true;
    mz.coefficients_path = Path("fy.txt");
    const int mz_status = Run(mz);
    ASSERT_TRUE(mz_status == kExitOk || mz_status == kExitFitPoor) << err_.str() << out_.str();

    TFitToolOptions fx = Fit(TFitChannel::kLongitudinal, longitudinal, "fx.txt");
    fx.estimate_start = true;
    fx.coefficients_path = Path("mz.txt");
    const int fx_status = Run(fx);
    ASSERT_TRUE(fx_status == kExitOk || fx_status == kExitFitPoor) << err_.str() << out_.str();

    ASSERT_EQ(Convert(Path("fx.txt"), Path("tire.tir"), std::nullopt), kExitOk) << err_.str();
    TMemoryCoefficientSet tire;
    ImportCoefficientFile(tire, Path("tire.tir"), TSignConvention::kIso, err_);
    EXPECT_EQ(tire.Value("Fz0"), std::round(0.8 * fz0));
    for (TFitChannel channel : kChannels) {
      const double worst = WorstShareOfPeak(channel, truth, tire, fz0, false);
      RecordProperty(std::string(stem) + "_" + std::to_string(static_cast<int>(channel)), FloatToStr(worst));
      EXPECT_LT(worst, 0.015) << "channel " << static_cast<int>(channel);
    }
  }
}

}  // namespace
}  // namespace morvex
