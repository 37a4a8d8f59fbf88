// Writing a tire's coefficients at another rated load: every curve of every
// channel must stay the same, on the published tires of testing/data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "numerics/LxBasics.h"
#include "testing/TestSupport.h"
#include "tiremodel/CoefficientTable.h"
#include "tiremodel/MagicFormula.h"
#include "tiremodel/RatedLoad.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

struct Tire {
  std::string name;
  TMemoryCoefficientSet set;
};

// The published files hold one "Name=value" line per coefficient under
// INI sections; every one of the 60 names is present.
std::vector<Tire> PublishedTires() {
  std::vector<Tire> tires;
  const fs::path folder = fs::path(MORVEX_SOURCE_DIR) / "testing/data/published-tires";
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    Tire tire{file.stem().string(), {}};
    std::ifstream in(file);
    std::string line;
    int found = 0;
    while (std::getline(in, line)) {
      const size_t eq = line.find('=');
      if (line.empty() || line[0] == ';' || line[0] == '[' || eq == std::string::npos) continue;
      const std::string key = line.substr(0, eq);
      if (ExactCoefficientIndex(key) < 0) continue;
      std::string value = line.substr(eq + 1);
      while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
      tire.set.SetText(key, value);
      ++found;
    }
    EXPECT_EQ(found, kCoefficientCount) << file;
    tires.push_back(std::move(tire));
  }
  return tires;
}

// The three channels of a set, evaluated as the plot and the fits do.
struct Channels {
  TLateralCoefficients lateral;
  TAligningCoefficients aligning;
  TLongitudinalCoefficients longitudinal;
  double r0;
  explicit Channels(const TCoefficientSet& set)
      : lateral(ReadLateralCoefficients(set)),
        aligning(ReadAligningCoefficients(set)),
        longitudinal(ReadLongitudinalCoefficients(set)),
        r0(set.Value("R0")) {}
};

constexpr double kCambers[] = {-3.0, 0.0, 2.0, 5.0};
constexpr double kLoadShares[] = {0.3, 0.6, 1.0, 1.4, 2.0};

// The largest difference between the curves of `a` and `b`, each relative to
// the peak of its curve in `a`, over cambers, loads of 0.3 to 2 times
// `fz0` and the slip range (-15..15 degrees, or slip ratio -0.4..0.4).
struct Difference {
  double lateral = 0, aligning = 0, longitudinal = 0;
};

Difference CurveDifference(const Channels& a, const Channels& b, double fz0) {
  Difference worst;
  for (double camber : kCambers)
    for (double share : kLoadShares) {
      const double fz = share * fz0;
      std::vector<double> fy_a, fy_b, mz_a, mz_b, fx_a, fx_b;
      for (int k = 0; k <= 120; ++k) {
        const double alpha = -15.0 + 0.25 * k;
        const double kappa = -0.4 + k * (0.8 / 120);
        fy_a.push_back(LateralForce(a.lateral, camber, fz, alpha));
        fy_b.push_back(LateralForce(b.lateral, camber, fz, alpha));
        mz_a.push_back(AligningMoment(a.lateral, a.aligning, a.r0, camber, fz, alpha));
        mz_b.push_back(AligningMoment(b.lateral, b.aligning, b.r0, camber, fz, alpha));
        fx_a.push_back(LongitudinalForce(a.longitudinal, camber, fz, kappa));
        fx_b.push_back(LongitudinalForce(b.longitudinal, camber, fz, kappa));
      }
      const auto relative = [](const std::vector<double>& x, const std::vector<double>& y) {
        double peak = 0, diff = 0;
        for (size_t k = 0; k < x.size(); ++k) {
          peak = std::max(peak, std::fabs(x[k]));
          diff = std::max(diff, std::fabs(x[k] - y[k]));
        }
        return peak > 0 ? diff / peak : diff;
      };
      worst.lateral = std::max(worst.lateral, relative(fy_a, fy_b));
      worst.aligning = std::max(worst.aligning, relative(mz_a, mz_b));
      worst.longitudinal = std::max(worst.longitudinal, relative(fx_a, fx_b));
    }
  return worst;
}

constexpr double kNewShares[] = {0.5, 0.8, 1.3, 2.0};

TEST(RatedLoadTest, EveryCurveOfEveryPublishedTireStaysAtAnotherRatedLoad) {
  const std::vector<Tire> tires = PublishedTires();
  ASSERT_GE(tires.size(), 6u);
  double worst = 0;
  for (const Tire& tire : tires) {
    const double fz0 = tire.set.Value("Fz0");
    const Channels original(tire.set);
    for (double share : kNewShares) {
      TMemoryCoefficientSet moved = tire.set;
      ReexpressAtFz0(moved, share * fz0);
      EXPECT_EQ(moved.Value("Fz0"), share * fz0);
      const Difference d = CurveDifference(original, Channels(moved), fz0);
      EXPECT_LT(d.lateral, 1e-9) << tire.name << " at " << share << " x Fz0";
      EXPECT_LT(d.aligning, 1e-9) << tire.name << " at " << share << " x Fz0";
      EXPECT_LT(d.longitudinal, 1e-9) << tire.name << " at " << share << " x Fz0";
      worst = std::max({worst, d.lateral, d.aligning, d.longitudinal});
    }
  }
  RecordProperty("worst_relative_difference", FloatToStr(worst));
}

TEST(RatedLoadTest, ChangingFz0AloneMovesTheCurvesThatTheReexpressionKeeps) {
  // The comparison above can see a wrong re-expression: changing the rated
  // load without the coefficients moves every channel by whole percents.
  for (const Tire& tire : PublishedTires()) {
    const double fz0 = tire.set.Value("Fz0");
    TMemoryCoefficientSet moved = tire.set;
    moved.SetText("Fz0", FloatToStr(1.3 * fz0));
    const Difference d = CurveDifference(Channels(tire.set), Channels(moved), fz0);
    EXPECT_GT(d.lateral, 1e-3) << tire.name;
    EXPECT_GT(d.aligning, 1e-3) << tire.name;
    EXPECT_GT(d.longitudinal, 1e-3) << tire.name;
  }
}

TEST(RatedLoadTest, RoundTripReturnsTheOriginalCoefficients) {
  for (const Tire& tire : PublishedTires()) {
    const double fz0 = tire.set.Value("Fz0");
    for (double share : kNewShares) {
      TMemoryCoefficientSet moved = tire.set;
      ReexpressAtFz0(moved, share * fz0);
      ReexpressAtFz0(moved, fz0);
      for (const TCoefficientInfo& info : Coefficients()) {
        const double before = tire.set.Value(info.name), after = moved.Value(info.name);
        EXPECT_NEAR(after, before, 1e-12 * (1.0 + std::fabs(before)))
            << tire.name << ' ' << info.name << " via " << share << " x Fz0";
      }
    }
  }
}

TEST(RatedLoadTest, OnlyLoadTermsChangeAndTextsKeepTheirForm) {
  const std::vector<Tire> tires = PublishedTires();
  const auto truck = std::find_if(tires.begin(), tires.end(), [](const Tire& t) { return t.name.find("truck") == 0; });
  ASSERT_NE(truck, tires.end());
  TMemoryCoefficientSet set = truck->set;
  set.SetFree("PKy1", false);
  set.SetText("PCy1", "1.30");  // a text in the user's own form
  ReexpressAtFz0(set, 20000);
  EXPECT_EQ(set.Text("Fz0"), "20000");
  // Free of the rated load: the texts are untouched, zeros stay zeros.
  for (const char* name : {"PCy1", "PDy3", "PEy3", "PEy4", "PKy3", "PHy3", "PCx1", "PDx3", "PEx4", "QBz4",
                           "QBz5", "QBz9", "QBz10", "QCz1", "QDz3", "QDz4", "QEz4", "QEz5", "R0"})
    EXPECT_EQ(set.Text(name), name == std::string("PCy1") ? "1.30" : truck->set.Text(name)) << name;
  EXPECT_FALSE(set.Free("PKy1"));
  EXPECT_TRUE(set.Free("PDy1"));
  // The products with Fz0 stay: PKy1*Fz0 and PKy2*Fz0.
  EXPECT_NEAR(set.Value("PKy1") * 20000, truck->set.Value("PKy1") * 29912.0, 1e-9 * 29912.0 * 10);
  EXPECT_NEAR(set.Value("PKy2") * 20000, truck->set.Value("PKy2") * 29912.0, 1e-9 * 29912.0);
  // Every text reads back as the number it was written from.
  for (const TCoefficientInfo& info : Coefficients()) {
    double value = 0;
    EXPECT_TRUE(TryStrToFloat(set.Text(info.name), value)) << info.name;
  }
}

TEST(RatedLoadTest, ChosenChannelsOnlyAndFromAnFz0AlreadyTyped) {
  const Tire tire = PublishedTires().front();
  const double fz0 = tire.set.Value("Fz0");
  TMemoryCoefficientSet set = tire.set;
  ReexpressAtFz0(set, 2 * fz0, {.lateral = false, .aligning = true, .longitudinal = false});
  for (const char* name : {"PDy1", "PKy1", "PHx1", "PKx1"}) EXPECT_EQ(set.Text(name), tire.set.Text(name)) << name;
  EXPECT_NE(set.Text("QDz1"), tire.set.Text("QDz1"));

  // The window's case: the user typed the new value; the coefficients
  // follow from the old one.
  TMemoryCoefficientSet typed = tire.set;
  typed.SetText("Fz0", FloatToStr(0.8 * fz0));
  ReexpressFromFz0(typed, fz0);
  TMemoryCoefficientSet direct = tire.set;
  ReexpressAtFz0(direct, 0.8 * fz0);
  for (const TCoefficientInfo& info : Coefficients()) EXPECT_EQ(typed.Text(info.name), direct.Text(info.name)) << info.name;
}

TEST(RatedLoadTest, RefusesLoadsThatCannotBeRatedAndLeavesTheSetAlone) {
  const Tire tire = PublishedTires().front();
  for (double bad : {0.0, -2000.0, std::nan(""), double(INFINITY)}) {
    TMemoryCoefficientSet set = tire.set;
    EXPECT_NE(test::MessageOf([&] { ReexpressAtFz0(set, bad); }).find("positive load"), std::string::npos);
    for (const TCoefficientInfo& info : Coefficients()) EXPECT_EQ(set.Text(info.name), tire.set.Text(info.name));
  }
  TMemoryCoefficientSet zero = tire.set;
  zero.SetText("Fz0", "0");
  EXPECT_NE(test::MessageOf([&] { ReexpressAtFz0(zero, 3000); }).find("Fz0 must be a positive load"), std::string::npos);
  // exp(PKx3*(r - 1)) beyond the double range: refused, nothing written.
  TMemoryCoefficientSet steep = tire.set;
  steep.SetText("PKx3", "1000");
  EXPECT_NE(test::MessageOf([&] { ReexpressAtFz0(steep, 10 * tire.set.Value("Fz0")); }).find("PKx1 would not be finite"),
            std::string::npos);
  EXPECT_EQ(steep.Text("PDy1"), tire.set.Text("PDy1"));
  EXPECT_EQ(steep.Text("Fz0"), tire.set.Text("Fz0"));
}

TEST(RatedLoadTest, AllFreesEveryCoefficientButTheEngineersChoices) {
  int freed = 0;
  for (const TCoefficientInfo& info : Coefficients()) freed += FreedByAll(info) ? 1 : 0;
  EXPECT_EQ(freed, kCoefficientCount - 2);
  EXPECT_FALSE(FreedByAll(Coefficient("Fz0")));
  EXPECT_FALSE(FreedByAll(Coefficient("R0")));
  EXPECT_TRUE(FreedByAll(Coefficient("PKy2")));
}

}  // namespace
}  // namespace morvex
