#include "cli/BatchTool.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <fstream>
#include <sstream>

#include "cli/FitTool.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

// A private folder with the sample data and the example manifest.
class BatchToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("morvex-batch-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    for (const char* name : {"lateral.plt", "aligning.plt", "longitudinal.plt", "start-values.txt",
                             "true-values.txt", "batch.manifest"})
      fs::copy_file(fs::path(MORVEX_SOURCE_DIR) / "examples" / name, dir_ / name);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name) << text;
    return (dir_ / name).string();
  }
  TBatchOptions Options(const std::string& manifest, int jobs) {
    TBatchOptions options;
    options.manifest_path = manifest;
    options.jobs = jobs;
    options.executable = std::string(MORVEX_BINARY_DIR) + "/bin/morvex-fit";
    return options;
  }
  std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  fs::path dir_;
  std::ostringstream out_, err_;
};

// The example manifest runs; each result, written by fits running side by
// side, is byte for byte the result of the same fits run one at a time.
TEST_F(BatchToolTest, ExampleManifestGivesTheResultsOfSingleRuns) {
  const std::string manifest = (dir_ / "batch.manifest").string();
  ASSERT_EQ(RunBatchTool(Options(manifest, 3), out_, err_), kExitOk) << err_.str() << out_.str();
  std::map<std::string, std::string> side_by_side;
  for (const auto& entry : fs::directory_iterator(dir_ / "batch-results"))
    side_by_side[entry.path().filename().string()] = Read(entry.path());
  ASSERT_EQ(side_by_side.size(), 6u);
  const std::string summary = out_.str();
  // One line per fit, in manifest order.
  size_t at = 0;
  for (int fit = 1; fit <= 6; ++fit) {
    const size_t line = summary.find("fit " + std::to_string(fit) + " data=", at);
    ASSERT_NE(line, std::string::npos) << summary;
    at = line + 1;
  }
  EXPECT_NE(summary.find("fit 4 data=aligning.plt channel=aligning optimizer=tr verdict=good cost="),
            std::string::npos) << summary;

  fs::remove_all(dir_ / "batch-results");
  std::ostringstream again;
  ASSERT_EQ(RunBatchTool(Options(manifest, 1), again, err_), kExitOk);
  for (const auto& [name, text] : side_by_side) EXPECT_EQ(Read(dir_ / "batch-results" / name), text) << name;
}

TEST_F(BatchToolTest, ExitStatusIsTheWorstOfTheFits) {
  const std::string manifest = Write("mixed.manifest",
                                     "lateral.plt lateral start-values.txt PKy1 tr good.txt\n"
                                     "missing.plt lateral start-values.txt all tr missing.txt  # no such data\n"
                                     "lateral.plt lateral start-values.txt PCx1 lm failed.txt\n");
  EXPECT_EQ(RunBatchTool(Options(manifest, 2), out_, err_), kExitError);
  EXPECT_NE(out_.str().find("fit 2 data=missing.plt channel=lateral optimizer=tr verdict=none cost=none"),
            std::string::npos) << out_.str();
  EXPECT_NE(err_.str().find("fit 2: morvex-fit: Impossible d'ouvrir le fichier"), std::string::npos) << err_.str();
  EXPECT_NE(out_.str().find("exit=1\n"), std::string::npos) << out_.str();
  EXPECT_TRUE(fs::exists(dir_ / "good.txt"));
}

TEST_F(BatchToolTest, BrokenManifestNamesItsLineAndRunsNothing) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"lateral.plt lateral start-values.txt all tr a.txt\nlateral.plt lateral all tr b.txt\n",
       "line 2: a fit needs 6 fields"},
      {"# comment\n\nlateral.plt sideways start-values.txt all tr a.txt\n", "line 3: unknown channel 'sideways'"},
      {"lateral.plt lateral start-values.txt all newton a.txt\n", "line 1: unknown optimizer 'newton'"},
      {"lateral.plt lateral estimate all tr a.txt fz0=4000\nlateral.plt lateral estimate all tr b.txt 4000\n",
       "line 2: '4000' is not one of fz0=N"},
      {"lateral.plt lateral estimate all tr a.txt fz0=-4000\n", "line 1: fz0= needs a positive number, not '-4000'"},
      {"lateral.plt lateral estimate all tr a.txt fz0=4000 fz0=4100\n", "line 1: fz0= is given twice"},
      {"lateral.plt lateral estimate all tr a.txt trail-reading=solver\n",
       "line 1: trail-reading must be book or fnomin, not 'solver'"},
  };
  for (const auto& c : cases) {
    err_.str("");
    const std::string manifest = Write("broken.manifest", c.text);
    EXPECT_EQ(RunBatchTool(Options(manifest, 2), out_, err_), kExitError);
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
    EXPECT_FALSE(fs::exists(dir_ / "a.txt"));
  }
  EXPECT_EQ(RunBatchTool(Options((dir_ / "none.manifest").string(), 1), out_, err_), kExitError);
  EXPECT_EQ(out_.str(), "");
}

// The rated load and radius of a line reach its fit as they would a single
// run: an estimate at fz0=N is written at Fz0 = N.
TEST_F(BatchToolTest, RatedLoadOfALineReachesItsFit) {
  const std::vector<TBatchEntry> entries = ReadBatchManifest(
      Write("tir.manifest", "lateral.plt lateral tire.tir all tr out.txt FZ0=4200 r0=0.31 trail-reading=BOOK\n"));
  ASSERT_EQ(entries.size(), 1u);
  const std::vector<std::string> args = entries[0].Arguments();
  const std::vector<std::string> tail(args.end() - 6, args.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"--fz0", "4200", "--r0", "0.31", "--trail-reading", "book"}));

  const std::string manifest = Write("rated.manifest", "lateral.plt lateral estimate all tr at-4200.txt fz0=4200\n");
  ASSERT_EQ(RunBatchTool(Options(manifest, 1), out_, err_), kExitOk) << err_.str() << out_.str();
  EXPECT_NE(Read(dir_ / "at-4200.txt").find("Fz0=4200\n"), std::string::npos) << Read(dir_ / "at-4200.txt");
}

}  // namespace
}  // namespace morvex
