// The whole path of the README with the default settings: a rig recording
// (warm-up, load wobble and drift, gaps, noise, SAE signs) imported for each
// channel, the three fits chained from the estimate at the rated load the
// import offers, and `convert` to a property file.  That file must be the
// true tire within 1.5 % of each channel's peak over the measured range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/FitTool.h"
#include "cli/ImportTool.h"
#include "fitting/ChannelModel.h"
#include "fitting/tests/PublishedTires.h"
#include "numerics/LxBasics.h"
#include "rigdata/RawImport.h"
#include "rigdata/tests/RigRecording.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

struct TChannelRun {
  TImportChannel import;
  TFitChannel fit;
  const char* name;
};
constexpr TChannelRun kChannels[] = {{TImportChannel::kLateral, TFitChannel::kLateral, "lateral"},
                                     {TImportChannel::kAligning, TFitChannel::kAligning, "aligning"},
                                     {TImportChannel::kLongitudinal, TFitChannel::kLongitudinal, "longitudinal"}};

// Largest |truth - model| over the recorded range (inclinations 0 to 4 deg,
// loads 0.5 to 1.5 x Fz0, slip to the sweep's amplitude), as a share of the
// channel's peak there.
double WorstShareOfPeak(TFitChannel channel, const TCoefficientSet& truth, const TCoefficientSet& model,
                        double fz0, double slip_amplitude, double load_limit) {
  double peak = 0, diff = 0;
  for (double camber : {0.0, 1.0, 2.0, 3.0, 4.0})
    for (double share : {0.5, 0.625, 0.75, 0.875, 1.0, 1.125, 1.25, 1.375, 1.5})
      for (int k = 0; share <= load_limit && k <= 80; ++k) {
        const double slip = slip_amplitude * (-1 + 2.0 * k / 80);
        const double t = EvaluatePoint(channel, truth, camber, share * fz0, slip);
        peak = std::max(peak, std::fabs(t));
        diff = std::max(diff, std::fabs(t - EvaluatePoint(channel, model, camber, share * fz0, slip)));
      }
  return diff / peak;
}

struct TRunCase {
  const char* tire;
  bool tydex;  // the run as an ISO TYDEX file, else a delimited SAE file
};

class RunToTirTest : public ::testing::TestWithParam<TRunCase> {
 protected:
  void SetUp() override {
    // One folder per run: ctest runs them side by side.
    dir_ = fs::temp_directory_path() /
           ("morvex-run-to-tir-" + std::string(GetParam().tire) + (GetParam().tydex ? "-tydex" : ""));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST_P(RunToTirTest, DefaultImportAndTheReadmeChainGiveTheTrueTire) {
  // The published tire in Morvex's signs: a tire as a rig records it.
  const TMemoryCoefficientSet truth = test::Mirrored(test::PublishedTire(GetParam().tire));
  const double fz0 = truth.Value("Fz0");
  rigtest::TRigProgramme programme;
  programme.seed = 7;
  programme.drift = 0.025;
  const rigtest::TRigRun recorded = rigtest::RecordRig(truth, programme);
  const std::string run = Path(GetParam().tydex ? "run.tdx" : "run.csv");
  std::ofstream(run, std::ios::binary)
      << (GetParam().tydex ? rigtest::WriteTydex(recorded, fz0, truth.Value("R0"), true)
                           : rigtest::WriteDelimited(recorded));

  std::string previous;  // the coefficient file of the fit before
  double offered_fz0 = 0;
  for (const TChannelRun& channel : kChannels) {
    SCOPED_TRACE(channel.name);
    std::ostringstream out, err;
    TImportToolOptions import;
    import.channel = channel.import;
    import.run_path = run;
    import.output_path = Path(std::string(channel.name) + ".plt");
    ASSERT_EQ(RunImportTool(import, out, err), 0) << out.str() << err.str();
    // The rated load the import offers: the middle held load.
    if (offered_fz0 == 0) {
      TRawImportOptions options;
      options.channel = channel.import;
      offered_fz0 = std::round(ImportRunFile(run, options).report.suggested_fz0);
      EXPECT_NEAR(offered_fz0, fz0, 0.03 * fz0);
    }

    TFitToolOptions fit;
    fit.channel = channel.fit;
    fit.executable_dir = dir_.string();  // no start-up file: the built-in texts
    fit.data_path = import.output_path;
    fit.output_path = Path(std::string(channel.name) + ".txt");
    fit.optimizer = TOptimizerChoice::kTrustRegion;
    fit.estimate_start = true;
    if (previous.empty())
      fit.fz0 = offered_fz0;
    else
      fit.coefficients_path = previous;
    const int status = RunFitTool(fit, out, err);
    EXPECT_EQ(status, 0) << out.str() << err.str();
    ASSERT_TRUE(fs::exists(*fit.output_path)) << err.str();
    previous = *fit.output_path;
  }

  std::ostringstream sink, err;
  TConvertToolOptions convert;
  convert.convention = TSignConvention::kIso;  // the published tire's own
  convert.input_path = previous;
  convert.output_path = Path("tire.tir");
  convert.executable_dir = dir_.string();
  ASSERT_EQ(RunConvertTool(convert, sink, err), 0) << err.str();
  TMemoryCoefficientSet tire;
  TCoefficientFileRead read;
  read.convention = TSignConvention::kIso;
  ImportCoefficientFile(tire, convert.output_path, read, err);
  EXPECT_EQ(tire.Value("Fz0"), offered_fz0);
  for (const TChannelRun& channel : kChannels) {
    const double amplitude = channel.fit == TFitChannel::kLongitudinal ? programme.slip_ratio_amplitude
                                                                       : programme.slip_angle_amplitude;
    const double worst = WorstShareOfPeak(channel.fit, truth, tire, fz0, amplitude, 1.5);
    RecordProperty(std::string(channel.name), FloatToStr(worst));
    EXPECT_LT(worst, 0.015) << channel.name;
  }
}

// FSAE to truck, two of them also as TYDEX files; the military tire is kept
// out of the import's tuning.
INSTANTIATE_TEST_SUITE_P(PublishedTires, RunToTirTest,
                         ::testing::Values(TRunCase{"fsae", false}, TRunCase{"car-245-40R18", false},
                                           TRunCase{"suv-265-70R18", false},
                                           TRunCase{"military-37x12.5R16.5", false},
                                           TRunCase{"truck-335-65R22.5", false}, TRunCase{"fsae", true},
                                           TRunCase{"truck-335-65R22.5", true}),
                         [](const auto& info) {
                           std::string name = std::string(info.param.tire) + (info.param.tydex ? "_tydex" : "");
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
}  // namespace morvex
