// The import of raw runs, checked against a simulated flat-track recording
// of a tire with known coefficients (examples/RunRecorder.h): what comes out
// must be the model's curves at the set-points within the noise, whichever
// file layout and sign convention carried them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "examples/RunRecorder.h"
#include "fitting/ChannelModel.h"
#include "fitting/StartEstimate.h"
#include "fitting/TrustRegionFit.h"
#include "numerics/LxBasics.h"
#include "rigdata/RawImport.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex {
namespace {

namespace ex = examples;

const TMemoryCoefficientSet& Truth() {
  static const TMemoryCoefficientSet truth =
      ex::ReadCoefficientValues(std::string(MORVEX_SOURCE_DIR) + "/examples/true-values.txt");
  return truth;
}

const std::vector<ex::TRunSample>& Recording() {
  static const std::vector<ex::TRunSample> samples = ex::RecordRun(Truth());
  return samples;
}

const std::string& DelimitedRun() {
  static const std::string text = ex::FormatDelimitedRun(Recording());
  return text;
}

const std::string& TydexRun() {
  static const std::string text = ex::FormatTydexRun(Recording());
  return text;
}

TRawImportOptions Options(TImportChannel channel) {
  TRawImportOptions options;
  options.channel = channel;
  options.warmup_seconds = 30;  // the recording's warm-up
  return options;
}

struct LayoutCase {
  const char* layout;
  TImportChannel channel;
};

class ImportFromRecording : public ::testing::TestWithParam<LayoutCase> {
 protected:
  TRawImportResult Import() const {
    const std::string& text = std::string(GetParam().layout) == "tydex" ? TydexRun() : DelimitedRun();
    return ImportRunText(text, Options(GetParam().channel));
  }
};

// Blocks per inclination set-point, columns per load set-point, labelled with
// the bins' means, which lie within the wobble and noise of the held values.
TEST_P(ImportFromRecording, BlocksMatchTheSetPoints) {
  const TRawImportResult result = Import();
  ASSERT_TRUE(result.report.empty_reason.empty()) << FormatImportReport(result.report);
  const ex::TRunProgramme programme;
  ASSERT_EQ(result.data.Cases.size(), programme.inclinations.size()) << FormatImportReport(result.report);
  for (size_t c = 0; c < programme.inclinations.size(); ++c) {
    const TLoadCase& lc = result.data.Cases[c];
    EXPECT_NEAR(lc.Camber, programme.inclinations[c], 0.02);
    ASSERT_EQ(lc.Loads.size(), programme.loads.size());
    for (size_t j = 0; j < lc.Loads.size(); ++j) EXPECT_NEAR(lc.Loads[j], programme.loads[j], 0.01 * programme.loads[j]);
    EXPECT_EQ(lc.Values.size(), lc.Slips.size() * lc.Loads.size());
    // The sweep spans the grid it was recorded over.
    const bool ratio = GetParam().channel == TImportChannel::kLongitudinal;
    EXPECT_NEAR(lc.Slips.front(), ratio ? -programme.slip_ratio_amplitude : -programme.slip_angle_amplitude, 1e-9);
    EXPECT_NEAR(lc.Slips.back(), ratio ? programme.slip_ratio_amplitude : programme.slip_angle_amplitude, 1e-9);
  }
  // The other pressure and the warm-up leave nothing behind.
  EXPECT_EQ(result.report.pressures.size(), 2u);
  EXPECT_EQ(result.report.warnings.size(), 0u) << FormatImportReport(result.report);
  EXPECT_EQ(result.raw.size(), result.report.steps.back().remaining);
}

// Every binned value is the model's at its block's inclination, its column's
// load and its row's slip, within the noise of a mean of a few samples plus
// the small spread of the load wobble.
TEST_P(ImportFromRecording, EveryBinnedPointIsTheModelWithinTheNoise) {
  const TRawImportResult result = Import();
  ASSERT_FALSE(result.data.Empty());
  const ex::TRunProgramme programme;
  const TFitChannel channel = GetParam().channel;
  const double noise = channel == TFitChannel::kAligning ? programme.noise_moment : programme.noise_force;
  const bool ratio = channel == TFitChannel::kLongitudinal;
  size_t points = 0;
  double worst = 0;
  for (const TLoadCase& lc : result.data.Cases)
    for (size_t r = 0; r < lc.RowCount(); ++r)
      for (size_t j = 0; j < lc.LoadCount(); ++j) {
        const double model = EvaluatePoint(channel, Truth(), lc.Camber, lc.Loads[j], lc.Slips[r]);
        // The noise of one sample: the sensor's, and the slip sensor's
        // through the slope of the curve.
        const double h = ratio ? 1e-5 : 1e-3;
        const double slope = (EvaluatePoint(channel, Truth(), lc.Camber, lc.Loads[j], lc.Slips[r] + h) -
                              EvaluatePoint(channel, Truth(), lc.Camber, lc.Loads[j], lc.Slips[r] - h)) / (2 * h);
        const double sample_noise = std::hypot(noise, slope * (ratio ? programme.noise_ratio : programme.noise_angle));
        // A cell holds at least 3 samples: 5 standard deviations of their
        // mean, plus 1 % of the value for the load wobble.
        const double tolerance = 5 * sample_noise / std::sqrt(3.0) + 0.01 * std::fabs(model);
        const double error = std::fabs(lc.Value(r, j) - model);
        worst = std::max(worst, error / tolerance);
        EXPECT_LE(error, tolerance) << "camber " << lc.Camber << " load " << lc.Loads[j] << " slip " << lc.Slips[r];
        ++points;
      }
  EXPECT_GT(points, 200u);
  EXPECT_LT(worst, 1.0);
}

INSTANTIATE_TEST_SUITE_P(RawImport, ImportFromRecording,
                         ::testing::Values(LayoutCase{"delimited", TImportChannel::kLateral},
                                           LayoutCase{"delimited", TImportChannel::kAligning},
                                           LayoutCase{"delimited", TImportChannel::kLongitudinal},
                                           LayoutCase{"tydex", TImportChannel::kLateral},
                                           LayoutCase{"tydex", TImportChannel::kAligning},
                                           LayoutCase{"tydex", TImportChannel::kLongitudinal}),
                         [](const auto& info) {
                           return std::string(info.param.layout) + "_" +
                                  std::string(ImportChannelName(info.param.channel));
                         });

// The largest |model| over the data range, and the largest gap between two
// coefficient sets' curves over the same range (every inclination and load
// of the data, slips on a fine grid).
void CurveGap(TFitChannel channel, const TCoefficientSet& a, const TCoefficientSet& b, const TTireDataSet& data,
              double& peak, double& gap) {
  peak = gap = 0;
  for (const TLoadCase& lc : data.Cases)
    for (double load : lc.Loads)
      for (int k = 0; k <= 200; ++k) {
        const double slip = lc.Slips.front() + (lc.Slips.back() - lc.Slips.front()) * k / 200.0;
        const double va = EvaluatePoint(channel, a, lc.Camber, load, slip);
        const double vb = EvaluatePoint(channel, b, lc.Camber, load, slip);
        peak = std::max(peak, std::fabs(va));
        gap = std::max(gap, std::fabs(va - vb));
      }
}

// From the imported data, start values estimated from the data and a
// trust-region fit recover the tire: its curves lie within 2 % of the peak
// force of the true ones over the data range.  Every coefficient of the
// channel is first put at 0.9 times its true value (rated load and radius
// exact); the estimate then replaces what it can estimate (where it
// estimates nothing, the fit starts from there).
TEST(RawImport, FitFromImportedDataRecoversTheTire) {
  for (TImportChannel channel : {TImportChannel::kLateral, TImportChannel::kLongitudinal, TImportChannel::kAligning}) {
    const TRawImportResult result = ImportRunText(DelimitedRun(), Options(channel));
    ASSERT_FALSE(result.data.Empty());
    const TFitChannel fit_channel = channel;
    TMemoryCoefficientSet start = Truth();
    std::vector<std::string> names;
    const auto order = channel == TImportChannel::kLateral    ? LateralFreeOrder()
                       : channel == TImportChannel::kAligning ? AligningFreeOrder()
                                                              : LongitudinalFreeOrder();
    for (std::string_view name : order) {
      if (name == "Fz0") continue;
      names.emplace_back(name);
      start.SetText(name, FloatToStr(0.9 * Truth().Value(name)));
    }
    for (const TCoefficientInfo& info : Coefficients())
      if (info.HasFreeFlag()) start.SetFree(info.name, std::find(names.begin(), names.end(), info.name) != names.end());
    EstimateStartValues(fit_channel, start, result.data);
    const TTrustRegionResult fit = FitTrustRegion(fit_channel, start, names, result.data);
    ASSERT_TRUE(fit.usable) << fit.message;
    TMemoryCoefficientSet fitted = start;
    for (size_t k = 0; k < names.size(); ++k) fitted.SetText(names[k], FloatToStr(fit.values[k]));
    double peak = 0, gap = 0;
    CurveGap(fit_channel, Truth(), fitted, result.data, peak, gap);
    EXPECT_LE(gap, 0.02 * peak) << ImportChannelName(channel) << ": gap " << gap << " of peak " << peak;
  }
}

// ------------------------------------------------------------ conventions

TEST(RawImport, ConventionIsFoundFromTheData) {
  const TRawImportResult sae = ImportRunText(DelimitedRun(), Options(TImportChannel::kLateral));
  EXPECT_EQ(sae.report.convention, TRunConvention::kSae);
  EXPECT_NE(sae.report.convention_note.find("loads are negative"), std::string::npos);
  const TRawImportResult iso = ImportRunText(TydexRun(), Options(TImportChannel::kLateral));
  EXPECT_EQ(iso.report.convention, TRunConvention::kIso);
  // The aligning moment alone tells the convention too.
  std::string without_fy = TydexRun();
  without_fy.replace(without_fy.find("FYW "), 4, "QYW ");
  const TRawImportResult moment = ImportRunText(without_fy, Options(TImportChannel::kAligning));
  EXPECT_EQ(moment.report.convention, TRunConvention::kIso);
  EXPECT_NE(moment.report.convention_note.find("aligning moment rises"), std::string::npos)
      << moment.report.convention_note;
}

// A convention that contradicts the data imports as told, with a warning
// that names the convention the data point to.
TEST(RawImport, WrongConventionIsReported) {
  TRawImportOptions options = Options(TImportChannel::kLateral);
  options.convention = TRunConvention::kIso;
  options.load_floor = -1e9;  // keep the (negative) loads to see the warning, not an empty import
  const TRawImportResult wrong = ImportRunText(DelimitedRun(), options);
  ASSERT_FALSE(wrong.report.warnings.empty());
  EXPECT_NE(wrong.report.warnings[0].find("loads come out negative"), std::string::npos) << wrong.report.warnings[0];
  EXPECT_NE(wrong.report.warnings[0].find("SAE"), std::string::npos);

  options = Options(TImportChannel::kLateral);
  options.convention = TRunConvention::kMorvex;
  const TRawImportResult flipped = ImportRunText(TydexRun(), options);
  ASSERT_FALSE(flipped.report.warnings.empty());
  EXPECT_NE(flipped.report.warnings[0].find("lateral force falls"), std::string::npos) << flipped.report.warnings[0];
  EXPECT_NE(flipped.report.warnings[0].find("ISO"), std::string::npos);
}

// The sign tables against the flips of a public TTC pipeline
// (teasit/magic-formula-tyre-library, FSAETTC_SI_ISO_Mat: SAE to ISO negates
// SA, FY, MZ and takes |FZ|) followed by ISO to Morvex (lateral force and
// aligning moment negated): SAE to Morvex negates the slip angle and the load.
TEST(RawImport, SaeToMorvexIsSaeToIsoThenIsoToMorvex) {
  const auto sae = RunConventionSigns(TRunConvention::kSae);
  const auto iso = RunConventionSigns(TRunConvention::kIso);
  std::array<double, kRunRoleCount> sae_to_iso;
  sae_to_iso.fill(1);
  for (TRunRole r : {TRunRole::kSlipAngle, TRunRole::kLateralForce, TRunRole::kAligningMoment, TRunRole::kLoad})
    sae_to_iso[static_cast<size_t>(r)] = -1;
  for (size_t k = 0; k < kRunRoleCount; ++k) EXPECT_EQ(sae[k], sae_to_iso[k] * iso[k]) << RunRoles()[k].key;
}

// ------------------------------------------------------------ empty imports

TEST(RawImport, EmptyImportSaysWhichStepEmptiedIt) {
  // Only the drive/brake part: nothing is pure side slip.
  ex::TRunProgramme programme;
  programme.slip_angle_amplitude = 0.0;
  programme.warmup_seconds = 0;
  programme.other_pressure = 0;
  std::vector<ex::TRunSample> samples = ex::RecordRun(Truth(), programme);
  for (ex::TRunSample& s : samples)
    if (std::fabs(s.slip_ratio) < 0.01) s.slip_ratio = 0.05;
  const std::string run = ex::FormatDelimitedRun(samples);
  const TRawImportResult lateral = ImportRunText(run, Options(TImportChannel::kLateral));
  EXPECT_TRUE(lateral.data.Empty());
  EXPECT_EQ(lateral.report.empty_reason, "no sample with |slip ratio| <= 0.005: is this a drive/brake run?");
  EXPECT_NE(FormatImportReport(lateral.report).find("Nothing usable remains: no sample with |slip ratio|"),
            std::string::npos);

  TRawImportOptions options = Options(TImportChannel::kLateral);
  options.warmup_seconds = 1e6;
  EXPECT_NE(ImportRunText(DelimitedRun(), options).report.empty_reason.find("warm-up"), std::string::npos);
  options = Options(TImportChannel::kLateral);
  options.inclinations = {10, 20};
  EXPECT_NE(ImportRunText(DelimitedRun(), options).report.empty_reason.find("inclination set-points given"),
            std::string::npos);
  options = Options(TImportChannel::kLateral);
  options.min_bin_samples = 1000000;
  EXPECT_NE(ImportRunText(DelimitedRun(), options).report.empty_reason.find("fewer than 1000000"), std::string::npos);
}

// Every filter's count adds up: what each step dropped and left chains from
// the samples read to the samples binned.
TEST(RawImport, ReportCountsChain) {
  const TRawImportResult result = ImportRunText(DelimitedRun(), Options(TImportChannel::kLateral));
  size_t left = result.report.samples_read;
  EXPECT_EQ(left, Recording().size());
  for (const TImportStep& step : result.report.steps) {
    EXPECT_EQ(step.remaining + step.dropped, left) << step.name;
    left = step.remaining;
  }
  size_t in_sets = 0;
  for (const TImportSetPoint& p : result.report.inclinations) in_sets += p.samples;
  EXPECT_GE(in_sets, left);
  const std::string text = FormatImportReport(result.report);
  for (const char* part : {"Samples read: ", "warm-up", "pressure window", "pure side slip", "Load set-points: ",
                           "Inclination set-points: ", "Bins: 12 kept, 0 dropped"})
    EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
}

// User set-points pick a subset; a load bin below the sample minimum is
// dropped with its reason.
TEST(RawImport, UserSetPointsAndDroppedBins) {
  TRawImportOptions options = Options(TImportChannel::kLateral);
  options.inclinations = {2};
  options.loads = {4000, 8000};
  TRawImportResult result = ImportRunText(DelimitedRun(), options);
  ASSERT_EQ(result.data.Cases.size(), 1u);
  EXPECT_NEAR(result.data.Cases[0].Camber, 2, 0.02);
  ASSERT_EQ(result.data.Cases[0].Loads.size(), 2u);

  options = Options(TImportChannel::kLateral);
  options.min_bin_samples = 250;  // the 2000 N bins hold fewer samples than the rest? No: same sweeps.
  result = ImportRunText(DelimitedRun(), options);
  size_t largest = 0;
  for (const TImportBin& b : result.report.bins) largest = std::max(largest, b.samples);
  options.min_bin_samples = largest;
  result = ImportRunText(DelimitedRun(), options);
  size_t dropped = 0;
  for (const TImportBin& b : result.report.bins)
    if (!b.reason.empty()) {
      ++dropped;
      EXPECT_NE(b.reason.find("fewer than " + std::to_string(largest)), std::string::npos);
    }
  EXPECT_GT(dropped, 0u);
}

// A long run passes many times through the loads between its set-points
// while it ramps: that adds up to many samples, but never a held load.
TEST(RawImport, RampsAreNotSetPoints) {
  ex::TRunProgramme programme;
  programme.repeat = 5;
  const std::string run = ex::FormatDelimitedRun(ex::RecordRun(Truth(), programme));
  const TRawImportResult result = ImportRunText(run, Options(TImportChannel::kLateral));
  ASSERT_EQ(result.report.loads.size(), programme.loads.size()) << FormatImportReport(result.report);
  ASSERT_EQ(result.data.Cases.size(), 3u);
  EXPECT_EQ(result.data.Cases[0].Loads.size(), programme.loads.size());
}

TEST(RawImport, FilterText) {
  TRawImportOptions options;
  ApplyFilterText(options, "warmup=30, load-floor=500,pressure=off,speed=40,cell=0.25,min-bin=10");
  EXPECT_EQ(options.warmup_seconds, 30);
  EXPECT_EQ(options.load_floor, 500);
  EXPECT_FALSE(options.pressure_window);
  EXPECT_EQ(options.speed_setpoint, 40);
  EXPECT_EQ(options.slip_angle_cell, 0.25);
  EXPECT_EQ(options.min_bin_samples, 10u);
  EXPECT_THROW(ApplyFilterText(options, "warmpu=3"), Exception);
  EXPECT_THROW(ApplyFilterText(options, "warmup=abc"), Exception);
  EXPECT_THROW(ApplyFilterText(options, "min-bin=2.5"), Exception);
  options.slip_angle_cell = 0;
  EXPECT_THROW(ImportRunText(DelimitedRun(), options), Exception);
}

}  // namespace
}  // namespace morvex
