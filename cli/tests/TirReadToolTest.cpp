// morvex-fit reading property and coefficient files strictly: refusals
// with exit 2 and nothing written, --fz0/--r0 for a .tir that lacks FNOMIN
// or UNLOADED_RADIUS, --trail-reading for a .tir with LFZO other than 1,
// and an unusable --template.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/FitTool.h"
#include "files/TirFile.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

const std::string kSedan = std::string(MORVEX_SOURCE_DIR) + "/files/tests/data/sedan_pac02.tir";  // LFZO 0.81

class TirReadToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("morvex-tirread-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  void Write(const std::string& path, const std::string& text) const { std::ofstream(path, std::ios::binary) << text; }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  // `text` without the lines that start with one of `keys`.
  static std::string Without(const std::string& text, std::initializer_list<const char*> keys) {
    std::istringstream in(text);
    std::string out;
    for (std::string line; std::getline(in, line);) {
      bool drop = false;
      for (const char* key : keys) drop = drop || line.rfind(std::string(key) + " ", 0) == 0;
      if (!drop) out += line + "\n";
    }
    return out;
  }

  int Convert(const std::string& in, const std::string& out, const TConvertToolOptions& extra = {}) {
    TConvertToolOptions options = extra;
    options.input_path = in;
    options.output_path = out;
    options.convention = TSignConvention::kIso;
    options.executable_dir = dir_.string();
    err_.str("");
    std::ostringstream sink;
    return RunConvertTool(options, sink, err_);
  }

  TMemoryCoefficientSet ReadBack(const std::string& tir) {
    TMemoryCoefficientSet set;
    ImportTir(set, tir, TSignConvention::kIso);
    return set;
  }

  fs::path dir_;
  std::ostringstream err_;
};

TEST_F(TirReadToolTest, FilesThatCannotBeReadFaithfullyEndInExitTwoWithNothingWritten) {
  const std::string sedan = Read(kSedan);
  const std::pair<std::string, std::string> inputs[] = {
      {"", "is empty"},
      {"\x89PNG\r\n\x1a\n garbage bytes", "no section line"},
      {sedan.substr(0, sedan.size() / 2), "lacks"},  // truncated
      {Without(sedan, {"PKY1"}) + "[X]\nPKY1 = nan\n", "PKY1 = 'nan'"},
      {sedan + "[X]\nPDY1 = 7\n", "PDY1 stands twice"},
  };
  for (const auto& [text, reason] : inputs) {
    SCOPED_TRACE(reason);
    Write(Path("in.tir"), text);
    EXPECT_EQ(Convert(Path("in.tir"), Path("out.txt")), kExitError);
    EXPECT_NE(err_.str().find(reason), std::string::npos) << err_.str();
    EXPECT_FALSE(fs::exists(Path("out.txt")));
  }
  // A coefficient file with none of the coefficients.
  Write(Path("in.txt"), "[NOTES]\nsomething=else\n");
  EXPECT_EQ(Convert(Path("in.txt"), Path("out.tir")), kExitError);
  EXPECT_NE(err_.str().find("none of the coefficients"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(Path("out.tir")));
}

TEST_F(TirReadToolTest, RatedLoadAndRadiusFlagsServeOnlyAFileThatLacksThem) {
  Write(Path("bare.tir"), Without(Read(kSedan), {"FNOMIN", "UNLOADED_RADIUS"}));
  EXPECT_EQ(Convert(Path("bare.tir"), Path("out.tir")), kExitError);
  EXPECT_NE(err_.str().find("lacks FNOMIN, UNLOADED_RADIUS"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(Path("out.tir")));

  TConvertToolOptions given;
  given.fz0 = 4850;
  given.r0 = 0.344;
  ASSERT_EQ(Convert(Path("bare.tir"), Path("out.tir"), given), kExitOk) << err_.str();
  EXPECT_NE(err_.str().find("FNOMIN is not in"), std::string::npos) << err_.str();
  ASSERT_EQ(Convert(kSedan, Path("full.tir")), kExitOk) << err_.str();
  const TMemoryCoefficientSet supplied = ReadBack(Path("out.tir")), full = ReadBack(Path("full.tir"));
  for (const auto& info : Coefficients()) EXPECT_EQ(supplied.Value(info.name), full.Value(info.name)) << info.name;

  // The file states them: --r0 does not replace its radius (and --fz0
  // would re-express the set at another rated load, not replace FNOMIN).
  EXPECT_EQ(Convert(kSedan, Path("again.tir"), given), kExitError);
  EXPECT_NE(err_.str().find("states UNLOADED_RADIUS"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(Path("again.tir")));
  TConvertToolOptions radius_only;
  radius_only.r0 = 0.3;
  Write(Path("in.txt"), "[TIRE RADIUS]\nR0=0.3\n[PARAMETERS FY]\nPcy1=1.3\n");
  EXPECT_EQ(Convert(Path("in.txt"), Path("again.tir"), radius_only), kExitError);
  EXPECT_NE(err_.str().find("is no .tir"), std::string::npos) << err_.str();
}

TEST_F(TirReadToolTest, TrailReadingOfAFileWithLfzoIsNamedAndCanBeChosen) {
  ASSERT_EQ(Convert(kSedan, Path("book.tir")), kExitOk);
  EXPECT_NE(err_.str().find("LFZO = 0.81"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("R0/(FNOMIN*LFZO), the book's reading"), std::string::npos) << err_.str();
  TConvertToolOptions other;
  other.trail_reading = TTrailReading::kUnscaledLoad;
  ASSERT_EQ(Convert(kSedan, Path("fnomin.tir"), other), kExitOk);
  EXPECT_NE(err_.str().find("read as R0/FNOMIN"), std::string::npos) << err_.str();
  // Morvex writes LFZO = 1: the reading is folded into QDZ1 and QDZ2.
  const TMemoryCoefficientSet book = ReadBack(Path("book.tir")), fnomin = ReadBack(Path("fnomin.tir"));
  for (const auto& info : Coefficients()) {
    const double factor = info.name == "QDz1" || info.name == "QDz2" ? 0.81 : 1.0;
    EXPECT_NEAR(fnomin.Value(info.name), book.Value(info.name) * factor, 1e-15 * std::fabs(book.Value(info.name)))
        << info.name;
  }
  EXPECT_EQ(Read(Path("book.tir")).find("LFZO                      = 1\n") != std::string::npos, true);
}

TEST_F(TirReadToolTest, UnusableTemplateIsRefusedBeforeAnythingIsWritten) {
  Write(Path("template.tir"), "this is not a property file\n");
  TConvertToolOptions options;
  options.template_path = Path("template.tir");
  EXPECT_EQ(Convert(kSedan, Path("out.tir"), options), kExitError);
  EXPECT_NE(err_.str().find("no section line"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(Path("out.tir")));
  Write(Path("template.tir"), "[VERTICAL]\nFNOMIN = 4000\n");
  EXPECT_EQ(Convert(kSedan, Path("out.tir"), options), kExitError);
  EXPECT_NE(err_.str().find("no [MODEL] section"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(Path("out.tir")));
}

TEST_F(TirReadToolTest, FitRefusesACoefficientFileWithoutTheChannelsKeys) {
  Write(Path("fx.txt"), "[PARAMETERS FX]\nPcx1=1.6\nPdx1=1.2\n");
  TFitToolOptions options;
  options.executable_dir = dir_.string();
  options.channel = TFitChannel::kLateral;
  options.data_path = std::string(MORVEX_SOURCE_DIR) + "/examples/lateral.plt";
  options.coefficients_path = Path("fx.txt");
  options.output_path = Path("fitted.txt");
  std::ostringstream out;
  EXPECT_EQ(RunFitTool(options, out, err_), kExitError);
  EXPECT_NE(err_.str().find("none of the coefficients of the lateral force"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(Path("fitted.txt")));
}

}  // namespace
}  // namespace morvex
