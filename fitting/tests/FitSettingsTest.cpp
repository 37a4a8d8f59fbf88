#include "fitting/FitSettings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "testing/TestSupport.h"
#include "tiremodel/CoefficientTable.h"
#include "fitting/tests/PublishedTires.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

constexpr TFitChannel kChannels[] = {TFitChannel::kLateral, TFitChannel::kAligning,
                                     TFitChannel::kLongitudinal};

// A settings file in a private temporary folder, removed with the fixture.
class FitSettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("morvex-fitsettings-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    SetDecimalSeparator('.');
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Write(const std::string& text) {
    const fs::path path = dir_ / "configuration.ini";
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }
  TFitSettings Read(const std::string& text, TFitChannel channel = TFitChannel::kLateral) {
    return ReadFitSettings(Write(text), channel);
  }
  fs::path dir_;
};

// Position of a coefficient in the channel's bound vectors.
size_t Slot(TFitChannel channel, std::string_view name) {
  const auto order = FitFreeOrder(channel);
  for (size_t k = 0; k < order.size(); ++k)
    if (order[k] == name) return k;
  ADD_FAILURE() << name << " is not freed by this fit";
  return 0;
}

TEST_F(FitSettingsFile, MissingFileGivesTheChannelDefaults) {
  const std::string missing = (dir_ / "none.ini").string();
  const TFitSettings lateral = ReadFitSettings(missing, TFitChannel::kLateral);
  EXPECT_EQ(lateral.GainBest, 1.0);
  EXPECT_EQ(lateral.GainR1, 0.8);
  EXPECT_EQ(lateral.GainR3, 0.8);
  EXPECT_EQ(lateral.CR, 0.9);
  EXPECT_EQ(lateral.NbPop, 200);
  EXPECT_EQ(lateral.NbGen, 500);
  ASSERT_EQ(lateral.Max.size(), 19u);
  EXPECT_EQ(lateral.Min, std::vector<double>(19, 0.0));
  EXPECT_EQ(lateral.Max[Slot(TFitChannel::kLateral, "Fz0")], 100000);
  EXPECT_EQ(lateral.Max[Slot(TFitChannel::kLateral, "PKy2")], 20);

  const TFitSettings longitudinal = ReadFitSettings(missing, TFitChannel::kLongitudinal);
  EXPECT_EQ(longitudinal.GainBest, 1.0);
  EXPECT_EQ(longitudinal.GainR1, 0.08);
  EXPECT_EQ(longitudinal.GainR2, 0.08);
  EXPECT_EQ(longitudinal.GainR3, 0.08);
  ASSERT_EQ(longitudinal.Max.size(), 16u);
  EXPECT_EQ(longitudinal.Max[0], 100000);
  EXPECT_EQ(longitudinal.Max[Slot(TFitChannel::kLongitudinal, "PVx2")], 20);

  const TFitSettings aligning = ReadFitSettings(missing, TFitChannel::kAligning);
  EXPECT_EQ(aligning.GainR1, 0.8);
  EXPECT_EQ(aligning.Max, std::vector<double>(25, 50.0));
  EXPECT_EQ(aligning.Min, std::vector<double>(25, 0.0));

  for (TFitChannel c : kChannels) {
    EXPECT_EQ(ReadFitSettings(missing, c), DefaultFitSettings(c));
    EXPECT_EQ(ReadFitSettings(dir_.string(), c), DefaultFitSettings(c));  // a folder, not a file
  }
}

TEST_F(FitSettingsFile, IntegersInDecimalAndHex) {
  EXPECT_EQ(Read("[GENETIC]\nNB_POP=0x10\n").NbPop, 16);
  EXPECT_EQ(Read("[GENETIC]\nNB_POP=$10\n").NbPop, 16);
  EXPECT_EQ(Read("[GENETIC]\nNB_POP=0X1f\n").NbPop, 31);
  EXPECT_EQ(Read("[GENETIC]\nNB_GEN=0\n").NbGen, 0);
  EXPECT_EQ(Read("[GENETIC]\nNB_POP=\n").NbPop, 200);  // empty: the default
  // A fraction, an exponent or a number beyond 32 bits is a typing error,
  // refused rather than silently replaced by the default.
  EXPECT_THROW(Read("[GENETIC]\nNB_POP=16.5\n"), Exception);
  EXPECT_THROW(Read("[GENETIC]\nNB_GEN=1e3\n"), Exception);
  EXPECT_THROW(Read("[GENETIC]\nNB_POP=99999999999\n"), Exception);
}

TEST_F(FitSettingsFile, FloatsUseTheProcessDecimalSeparator) {
  const std::string text = "[GENETIC]\nCR=0,5\nGAIN_BEST=2.5E-1\nGAIN_R1=\n";
  // "0,5" is no number with a point as separator: refused, naming the key.
  EXPECT_THROW(Read(text), Exception);
  SetDecimalSeparator(',');
  const TFitSettings s = Read(text);
  EXPECT_EQ(s.CR, 0.5);
  // '.' still reads under a decimal comma: the shipped file is written so.
  EXPECT_EQ(s.GainBest, 0.25);
  EXPECT_EQ(s.GainR1, 0.8);  // empty: the default
}

TEST_F(FitSettingsFile, NamesInAnyCaseBlanksAndComments) {
  const TFitSettings s = Read(
      "; settings for the test rig\n"
      "[genetic]\n"
      "gain_best=0.5\n"
      "  Gain_R3   =   0.125   \n"
      "CR = 0.75 ; a lower rate mutates shorter runs\n"
      "nb_pop=12 # twelve members\n"
      "pky2_min = -5\n"
      "pky2_max = -3.5\n");
  EXPECT_EQ(s.GainBest, 0.5);
  EXPECT_EQ(s.GainR3, 0.125);
  EXPECT_EQ(s.CR, 0.75);
  EXPECT_EQ(s.NbPop, 12);
  EXPECT_EQ(s.Max[Slot(TFitChannel::kLateral, "PKy2")], -3.5);
}

TEST_F(FitSettingsFile, OnlyTheGeneticSectionCounts) {
  const TFitSettings s = Read(
      "CR=0.1\n"
      "[OTHER]\nCR=0.2\nNB_POP=7\n"
      "[GENETIC]\nNB_GEN=3\n"
      "[MORE]\nGAIN_BEST=9\n");
  EXPECT_EQ(s.CR, 0.9);
  EXPECT_EQ(s.NbPop, 200);
  EXPECT_EQ(s.NbGen, 3);
  EXPECT_EQ(s.GainBest, 1.0);
}

TEST_F(FitSettingsFile, EachBoundKeySetsItsOwnSlot) {
  const std::string path = Write(
      "[GENETIC]\nQBZ1_MIN=-3\nQBZ1_MAX=7\nQCZ1_MAX=12\nFZ0_MIN=1000\nFZ0_MAX=9000\n"
      "PCX1_MIN=1\nPDY3_MAX=4\n");
  const TFitSettings aligning = ReadFitSettings(path, TFitChannel::kAligning);
  std::vector<double> min(25, 0.0), max(25, 50.0);
  min[Slot(TFitChannel::kAligning, "QBz1")] = -3;
  max[Slot(TFitChannel::kAligning, "QBz1")] = 7;
  max[Slot(TFitChannel::kAligning, "QCz1")] = 12;
  EXPECT_EQ(aligning.Min, min);  // no FZ0 pair for the aligning moment
  EXPECT_EQ(aligning.Max, max);

  const TFitSettings lateral = ReadFitSettings(path, TFitChannel::kLateral);
  EXPECT_EQ(lateral.Min[0], 1000);
  EXPECT_EQ(lateral.Max[0], 9000);
  EXPECT_EQ(lateral.Max[Slot(TFitChannel::kLateral, "PDy3")], 4);
  EXPECT_EQ(lateral.Min[Slot(TFitChannel::kLateral, "PDy3")], 0);

  const TFitSettings longitudinal = ReadFitSettings(path, TFitChannel::kLongitudinal);
  EXPECT_EQ(longitudinal.Min[0], 1000);
  EXPECT_EQ(longitudinal.Max[0], 9000);
  EXPECT_EQ(longitudinal.Min[Slot(TFitChannel::kLongitudinal, "PCx1")], 1);
}

std::string ShippedFile() {
  std::ifstream in(std::string(MORVEX_SOURCE_DIR) + "/fitting/configuration.ini", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The shipped file keeps the search's default tuning and sets intervals that
// hold the coefficients of published tires from a formula-student tire to a
// truck tire, in both sign conventions.
TEST_F(FitSettingsFile, ShippedIntervalsHoldPublishedTiresInBothConventions) {
  const std::string shipped = ShippedFile();
  ASSERT_FALSE(shipped.empty());
  for (TFitChannel c : kChannels) {
    TFitSettings settings = Read(shipped, c);
    const TFitSettings defaults = DefaultFitSettings(c);
    EXPECT_EQ(settings.GainBest, defaults.GainBest);
    EXPECT_EQ(settings.GainR1, defaults.GainR1);
    EXPECT_EQ(settings.CR, defaults.CR);
    EXPECT_EQ(settings.NbPop, defaults.NbPop);
    EXPECT_EQ(settings.NbGen, defaults.NbGen);
    for (const char* stem :
         {"car-185-80R14", "car-245-40R18", "suv-265-70R18", "truck-335-65R22.5", "military-37x12.5R16.5", "fsae"}) {
      const TMemoryCoefficientSet iso = test::PublishedTire(stem);
      for (const TMemoryCoefficientSet& tire : {iso, test::Mirrored(iso)}) {
        const auto order = FitFreeOrder(c);
        for (size_t k = 0; k < order.size(); ++k) {
          const std::string name(order[k]);
          // The extremes too (the car's PEy4 of -760, the military tire's
          // QEz5 of -645): a fit of such a tire ends inside its interval.
          const double value = tire.Value(name);
          EXPECT_LE(settings.Min[k], value) << stem << ' ' << name;
          EXPECT_GE(settings.Max[k], value) << stem << ' ' << name;
        }
      }
    }
  }
}

TEST_F(FitSettingsFile, ShippedFileDocumentsTheSearchSettingsAndSetsEveryInterval) {
  // The commented-out search settings, uncommented, must give the defaults
  // of the lateral and aligning-moment fits, and of the longitudinal fit
  // apart from its smaller random-member gains; every bound key is set once.
  const std::string shipped = ShippedFile();
  const std::regex commented(R"(^;([A-Z0-9_]+)=(\S+)$)", std::regex::multiline);
  const std::regex set_key(R"(^([A-Z0-9_]+)=(\S+)$)", std::regex::multiline);
  std::map<std::string, int> keys, bounds;
  std::string uncommented = "[GENETIC]\n";
  for (auto it = std::sregex_iterator(shipped.begin(), shipped.end(), commented); it != std::sregex_iterator();
       ++it) {
    ++keys[(*it)[1]];
    uncommented += (*it)[1].str() + "=" + (*it)[2].str() + "\n";
  }
  for (auto it = std::sregex_iterator(shipped.begin(), shipped.end(), set_key); it != std::sregex_iterator(); ++it)
    ++bounds[(*it)[1]];
  std::map<std::string, int> expected_keys, expected_bounds;
  for (const char* key : {"GAIN_BEST", "GAIN_R1", "GAIN_R2", "GAIN_R3", "CR", "NB_POP", "NB_GEN"})
    expected_keys[key] = 1;
  for (TFitChannel c : kChannels)
    for (std::string_view name : FitFreeOrder(c)) {
      const std::string stem(Coefficient(name).bound_stem);
      expected_bounds[stem + "_MIN"] = expected_bounds[stem + "_MAX"] = 1;
    }
  EXPECT_EQ(expected_bounds.size(), 118u);
  EXPECT_EQ(keys, expected_keys);
  EXPECT_EQ(bounds, expected_bounds);
  for (TFitChannel c : {TFitChannel::kLateral, TFitChannel::kAligning}) {
    const TFitSettings read = Read(uncommented, c);
    const TFitSettings defaults = DefaultFitSettings(c);
    EXPECT_EQ(read.GainR1, defaults.GainR1);
    EXPECT_EQ(read.NbGen, defaults.NbGen);
    EXPECT_EQ(read.NbPop, defaults.NbPop);
  }
  EXPECT_EQ(Read(uncommented, TFitChannel::kLongitudinal).GainR1, 0.8);
}

}  // namespace
}  // namespace morvex

namespace morvex {
namespace {

// A settings file saved by an editor that puts a UTF-8 byte-order mark first.
TEST_F(FitSettingsFile, ByteOrderMarkBeforeTheSectionIsSkipped) {
  const TFitSettings s = Read("\xEF\xBB\xBF[GENETIC]\r\nNB_POP=40\r\nCR=0.5\r\n");
  EXPECT_EQ(s.NbPop, 40);
  EXPECT_EQ(s.CR, 0.5);
}

// The shipped file gives the same settings under a decimal comma.
TEST_F(FitSettingsFile, ShippedFileReadsAlikeUnderEveryDecimalSeparator) {
  const std::string shipped = std::string(MORVEX_SOURCE_DIR) + "/fitting/configuration.ini";
  for (TFitChannel channel : kChannels) {
    const TFitSettings point = ReadFitSettings(shipped, channel);
    SetDecimalSeparator(',');
    EXPECT_EQ(ReadFitSettings(shipped, channel), point);
    SetDecimalSeparator('.');
  }
  const TFitSettings s = Read("[GENETIC]\nGAIN_R1=0.08\n");
  SetDecimalSeparator(',');
  EXPECT_EQ(Read("[GENETIC]\nGAIN_R1=0.08\n").GainR1, s.GainR1);
}

}  // namespace
}  // namespace morvex

namespace morvex {
namespace {

// A value that cannot be used stops the read with the key and the file
// named; before, a bound typed as "1,5" became 0 and a reversed pair ended
// in an assertion that named neither.
TEST_F(FitSettingsFile, UnusableValuesAndReversedPairsAreRefusedNamingKeyAndFile) {
  const std::string path = Write("[GENETIC]\nPKY1_MIN=abc\n");
  const std::string unreadable = test::MessageOf<Exception>([&] { ReadFitSettings(path, TFitChannel::kLateral); });
  EXPECT_EQ(unreadable, "The fit settings file " + path +
                            " gives PKY1_MIN=abc, which is not a finite number; correct the value, or remove the "
                            "line to use the default");
  for (const char* text : {"[GENETIC]\nGAIN_R2=x\n", "[GENETIC]\nCR=nan\n", "[GENETIC]\nFZ0_MAX=inf\n",
                           "[GENETIC]\nQBZ1_MAX=1,5\n", "[GENETIC]\nNB_GEN=ten\n"}) {
    const TFitChannel channel = std::string(text).find("QBZ") != std::string::npos ? TFitChannel::kAligning
                                                                                   : TFitChannel::kLateral;
    const std::string message = test::MessageOf<Exception>([&] { Read(text, channel); });
    const std::string key = std::string(text).substr(10, std::string(text).find('=') - 10);
    EXPECT_NE(message.find(" gives " + key + "="), std::string::npos) << text << ": " << message;
  }

  // Reversed, given both ways or against the other end's default (PCY1_MAX
  // is 20 by default).
  EXPECT_EQ(test::MessageOf<Exception>([&] { Read("[GENETIC]\nPDY1_MIN=3\nPDY1_MAX=2\n"); }),
            "The fit settings file " + (dir_ / "configuration.ini").string() +
                " gives PDY1_MIN=3 above PDY1_MAX=2: the lower bound of an interval must not exceed its upper "
                "bound");
  EXPECT_NE(test::MessageOf<Exception>([&] { Read("[GENETIC]\nPCY1_MIN=25\n"); }).find("PCY1_MIN=25 above PCY1_MAX=20"),
            std::string::npos);
  // Values the genetic search cannot run with.
  for (const auto& [file_text, said] :
       {std::pair{"[GENETIC]\nNB_POP=4\n", " gives NB_POP=4: the genetic search needs at least 5 members"},
        std::pair{"[GENETIC]\nCR=1.5\n", " gives CR=1.5: the crossover rate is a probability, from 0 to 1"},
        std::pair{"[GENETIC]\nCR=-0.1\n", " gives CR=-0.1: "},
        std::pair{"[GENETIC]\nNB_GEN=-1\n", " gives NB_GEN=-1: the number of generations cannot be negative"}}) {
    const char* text = file_text;  // a plain variable: the lambda captures it
    EXPECT_NE(test::MessageOf<Exception>([&] { Read(text); }).find(said), std::string::npos) << text;
  }
  EXPECT_NO_THROW(Read("[GENETIC]\nNB_POP=5\nCR=0\nNB_GEN=0\n"));
  EXPECT_NO_THROW(Read("[GENETIC]\nCR=1\n"));
  // A pair of another channel is not this fit's business; an empty interval
  // (both ends equal) and negative bounds are fine.
  EXPECT_NO_THROW(Read("[GENETIC]\nQBZ1_MIN=9\nQBZ1_MAX=1\n", TFitChannel::kLateral));
  EXPECT_EQ(Read("[GENETIC]\nPDY1_MIN=2\nPDY1_MAX=2\nPKY1_MIN=-30\nPKY1_MAX=-5\n").Max[Slot(TFitChannel::kLateral, "PKy1")], -5);
}

}  // namespace
}  // namespace morvex
