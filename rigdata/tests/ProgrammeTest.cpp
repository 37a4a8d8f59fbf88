// A whole test programme imported at once: each run routed to the stages
// its sweeps feed, the ranges the data cover, the pressure and speed held,
// one Fz0 and R0; a programme with nothing usable is empty with its reason;
// the errors of a file name the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "examples/RunRecorderProgramme.h"
#include "numerics/LxTypes.h"
#include "rigdata/Programme.h"

namespace morvex {
namespace {

constexpr double kDeg = 3.14159265358979323846 / 180;

std::string Folder(const std::string& name) {
  const std::filesystem::path p = std::filesystem::temp_directory_path() / ("morvex_programme_" + name);
  std::filesystem::create_directories(p);
  return p.string();
}

std::vector<std::string> StagesOf(const TProgrammeResult& r, const std::string& path) {
  std::vector<std::string> stages;
  for (const TProgrammeFeed& f : r.feeds)
    if (f.path == path) stages.push_back(f.stage);
  return stages;
}

TEST(Programme, RunsRoutedToTheirStagesWithRangesPressureAndSpeed) {
  const examples::TCombinedTire tire = examples::ReadCombinedTire(
      std::string(MORVEX_SOURCE_DIR) + "/testing/data/combined-slip/car-245-40R18-opentire.txt");
  const double fz0 = tire.lateral.Fz0;
  for (bool tydex : {false, true}) {
    SCOPED_TRACE(tydex ? "tydex" : "delimited");
    examples::TProgrammeOptions o;
    o.tydex = tydex;
    o.seed = 5;
    o.inclinations = {0, 3};
    const std::vector<std::string> paths = examples::WriteProgramme(tire, Folder(tydex ? "t" : "d"), o);
    ASSERT_EQ(paths.size(), 3u);
    const TProgrammeResult r = ImportProgramme(paths);
    const std::string shown = FormatProgramme(r);
    ASSERT_TRUE(r.empty_reason.empty()) << shown;
    EXPECT_EQ(StagesOf(r, paths[0]), (std::vector<std::string>{"lateral", "aligning"})) << shown;
    EXPECT_EQ(StagesOf(r, paths[1]), (std::vector<std::string>{"longitudinal"})) << shown;
    // The combined run's sweeps at slip angle 0 are pure longitudinal slip
    // too, but at the loads the drive/brake run holds already; the slip angle
    // moving between its held angles is no cornering sweep.
    EXPECT_EQ(StagesOf(r, paths[2]), (std::vector<std::string>{"combined"})) << shown;
    ASSERT_TRUE(r.lateral && r.aligning && r.longitudinal) << shown;
    EXPECT_EQ(r.lateral->Cases.size(), 2u);
    EXPECT_EQ(r.longitudinal->Cases.size(), 2u);
    for (const TLoadCase& lc : r.longitudinal->Cases) EXPECT_EQ(lc.LoadCount(), 3u) << shown;
    for (const TCombinedSample& s : r.combined.samples) EXPECT_GT(std::fabs(s.slip_angle), 1.0);
    EXPECT_GT(r.combined.samples.size(), 400u);
    // The pure sets against the true tire (Morvex's signs: ISO's Fy and Mz
    // negated), within 2 % of each curve's peak.
    auto check = [&](const TTireDataSet& data, int which) {
      double worst = 0;
      for (const TLoadCase& lc : data.Cases)
        for (size_t j = 0; j < lc.LoadCount(); ++j) {
          auto truth = [&](double slip) {
            const bool ratio = which == 2;
            const TCombinedPoint p =
                CombinedPointAt(tire.lateral, tire.aligning, tire.longitudinal, tire.combined, tire.r0, lc.Camber,
                                lc.Loads[j], ratio ? 0.0 : slip, ratio ? slip : 0.0, tire.longvl, tire.longvl);
            return which == 0 ? -p.Fy : which == 1 ? -p.Mz : p.Fx;
          };
          double peak = 0;
          for (double slip : lc.Slips) peak = std::max(peak, std::fabs(truth(slip)));
          for (size_t k = 0; k < lc.RowCount(); ++k)
            worst = std::max(worst, std::fabs(lc.Value(k, j) - truth(lc.Slips[k])) / peak);
        }
      return worst;
    };
    EXPECT_LT(check(*r.lateral, 0), 0.02);
    EXPECT_LT(check(*r.aligning, 1), 0.02);
    EXPECT_LT(check(*r.longitudinal, 2), 0.02);

    // Ranges from the data, in the units of a property file.
    const TProgrammeRanges& g = r.ranges;
    EXPECT_NEAR(g.fz_min, 0.5 * fz0, 0.03 * fz0) << shown;
    EXPECT_NEAR(g.fz_max, 1.5 * fz0, 0.05 * fz0) << shown;
    EXPECT_NEAR(g.kappa_min, -0.2, 0.011);
    EXPECT_NEAR(g.kappa_max, 0.2, 0.011);
    EXPECT_NEAR(g.alpha_min, -12 * kDeg, 0.6 * kDeg);
    EXPECT_NEAR(g.alpha_max, 12 * kDeg, 0.6 * kDeg);
    EXPECT_NEAR(g.camber_min, 0, 0.02 * kDeg);
    EXPECT_NEAR(g.camber_max, 3 * kDeg, 0.02 * kDeg);
    EXPECT_NEAR(r.pressure, 220000, 300);
    EXPECT_NEAR(r.longvl, tire.longvl, 0.05);
    if (tydex) {
      EXPECT_NEAR(r.fz0, fz0, 0.01);
      EXPECT_NEAR(r.r0, tire.r0, 1e-4);
    } else {
      EXPECT_NEAR(r.fz0, fz0, 0.02 * fz0) << r.fz0_source;
      EXPECT_TRUE(std::isnan(r.r0));
      EXPECT_FALSE(r.warnings.empty());
    }
    for (const std::string& p : paths) std::filesystem::remove(p);
  }
}

// Without a drive/brake run, the combined run's sweeps at slip angle 0 are
// the longitudinal data; their points at held angles the combined data.
TEST(Programme, ACombinedRunAloneFeedsTheLongitudinalStageToo) {
  const examples::TCombinedTire tire = examples::ReadCombinedTire(
      std::string(MORVEX_SOURCE_DIR) + "/testing/data/combined-slip/suv-265-70R18.txt");
  examples::TProgrammeOptions o;
  o.inclinations = {0};
  o.held_slip_angles = {-4, 0, 4};
  o.seed = 9;
  const std::string path = Folder("alone") + "/combined.dat";
  {
    std::ofstream out(path);
    out << examples::FormatProgrammeDelimited(
        examples::RecordProgrammeRun(tire, examples::TProgrammeRun::kCombined, o), "combined only");
  }
  const TProgrammeResult r = ImportProgramme({path});
  const std::string shown = FormatProgramme(r);
  EXPECT_EQ(StagesOf(r, path), (std::vector<std::string>{"longitudinal", "combined"})) << shown;
  EXPECT_FALSE(r.lateral || r.aligning) << shown;
  ASSERT_TRUE(r.longitudinal) << shown;
  EXPECT_EQ(r.longitudinal->Cases.size(), 1u);
  EXPECT_NEAR(r.ranges.alpha_min, -4 * kDeg, 0.05 * kDeg) << shown;
  EXPECT_NEAR(r.ranges.alpha_max, 4 * kDeg, 0.05 * kDeg) << shown;

  // A drive/brake run read after it, at the same loads, adds nothing, and
  // its line says why instead of a refusal of another kind of import.
  const std::string drive = Folder("alone") + "/drive-brake.dat";
  {
    std::ofstream out(drive);
    out << examples::FormatProgrammeDelimited(
        examples::RecordProgrammeRun(tire, examples::TProgrammeRun::kDriveBrake, o), "drive and brake");
  }
  const TProgrammeResult both = ImportProgramme({path, drive});
  EXPECT_EQ(StagesOf(both, drive), (std::vector<std::string>{"nothing"})) << FormatProgramme(both);
  EXPECT_NE(FormatProgramme(both).find("longitudinal: every load it holds came from a run read before"),
            std::string::npos)
      << FormatProgramme(both);
  std::filesystem::remove(drive);
  std::filesystem::remove(path);
}

TEST(Programme, NothingUsableIsEmptyWithTheReasonAndFileErrorsNameTheFile) {
  const std::string folder = Folder("empty");
  const std::string still = folder + "/still.dat";
  {
    std::ofstream out(still);
    out << "ET\tSA\tIA\tFX\tFY\tFZ\tMZ\tSL\n";
    for (int k = 0; k < 400; ++k) out << k * 0.05 << "\t0\t0\t10\t5\t-4000\t1\t0\n";
  }
  const TProgrammeResult r = ImportProgramme({still});
  EXPECT_TRUE(r.Empty());
  EXPECT_NE(r.empty_reason.find("still.dat"), std::string::npos) << r.empty_reason;
  EXPECT_NE(FormatProgramme(r).find("feeds nothing"), std::string::npos);
  EXPECT_FALSE(ImportProgramme({}).empty_reason.empty());

  const std::string missing = folder + "/missing.tdx";
  try {
    ImportProgramme({still, missing});
    FAIL() << "a missing file was read";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message().rfind(missing + ": ", 0), 0u) << e.Message();
  }
  // A run without an aligning-moment channel still feeds the lateral stage, and says what it lacks.
  const std::string no_mz = folder + "/no_mz.dat";
  {
    const examples::TCombinedTire tire = examples::ReadCombinedTire(
        std::string(MORVEX_SOURCE_DIR) + "/testing/data/combined-slip/car-185-80R14.txt");
    examples::TProgrammeOptions o;
    o.inclinations = {0};
    o.warmup_seconds = 0;
    std::string text = examples::FormatProgrammeDelimited(
        examples::RecordProgrammeRun(tire, examples::TProgrammeRun::kCornering, o), "cornering");
    // Rename the MZ column so that no alias finds it.
    text.replace(text.find("\tMZ\t"), 4, "\tTQ\t");
    std::ofstream(no_mz) << text;
  }
  const TProgrammeResult partial = ImportProgramme({no_mz});
  EXPECT_EQ(StagesOf(partial, no_mz), (std::vector<std::string>{"lateral"})) << FormatProgramme(partial);
  bool said = false;
  for (const std::string& w : partial.warnings)
    said = said || (w.rfind(no_mz + ": not imported for aligning: ", 0) == 0 &&
                    w.find("no channel for the aligning moment") != std::string::npos);
  EXPECT_TRUE(said) << FormatProgramme(partial);

  const std::string bad = folder + "/bad.dat";
  { std::ofstream(bad) << "ET\tSA\tFX\n0\tx\t1\n"; }
  try {
    ImportProgramme({bad});
    FAIL() << "a file that is no run was read";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message().rfind(bad + ": ", 0), 0u) << e.Message();
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace morvex
