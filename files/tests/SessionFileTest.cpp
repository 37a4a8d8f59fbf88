// The session file: every field back as written (doubles to the bit),
// malformed sessions refused with their line and reason, the embedded data's
// hash and the source file checked, and writes that replace a file in one
// step or not at all.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

#include "files/CoefficientFile.h"
#include "files/SessionFile.h"
#include "files/SessionOpening.h"
#include "files/Sha256.h"
#include "files/tests/FileTestSupport.h"

namespace morvex {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;
using namespace std::string_literals;

size_t Idx(const char* name) { return static_cast<size_t>(ExactCoefficientIndex(name)); }

std::string PublishedTire(const char* stem) {
  return std::string(MORVEX_SOURCE_DIR) + "/testing/data/published-tires/" + stem + ".txt";
}

// A data file's text as engineers keep them: a header, blocks, and bytes
// that would break a naive format (a line "end", a record keyword, quotes,
// CR, NUL, UTF-8, no final line end).
const std::string kDataText =
    "Tyre 185/80 R14, rig run 12 \"warm\"\r\nend\ndata-text 0 0\nLOAD_CASE 1\n0;2000;4000\n"
    "-4;-1523.5;-2811.25\n0;12.5;20\n4;1530;2800.75\n\xC2\xB0 camber\tnotes \\x00 \x00 tail"s;

TSessionState RichState() {
  TSessionState state;
  TMemoryCoefficientSet set;
  ImportCoefficients(set, PublishedTire("car-185-80R14"));
  state.TakeCoefficients(set);
  // Values a fit leaves at full precision, extremes, and what a panel edit
  // may hold while being typed.
  state.texts[Idx("PCy1")] = "1.4675000000000002";
  state.texts[Idx("PDy1")] = "-0";
  state.texts[Idx("PDy2")] = "4.9406564584124654e-324";
  state.texts[Idx("PDy3")] = "1.7976931348623157e+308";
  state.texts[Idx("PEy1")] = " 1,5 \"typed\" ";
  state.texts[Idx("PEy2")] = "";
  state.free[Idx("PCy1")] = false;
  state.free[Idx("PKy2")] = false;

  TSessionData data;
  data.text = kDataText;
  data.channel = TFitChannel::kLateral;
  data.label = "run12.csv (imported)";
  data.source_path = "/rig/runs/run 12 \"a\".csv";
  data.source_sha256 = Sha256Hex("the run file");
  state.data = data;

  state.fit.optimizer = TSessionOptimizer::kSearchThenTrustRegion;
  state.fit.estimate_start = true;
  state.fit.settings_path = "/home/eng/configuration.ini";
  state.import.format = "tydex";
  state.import.delimiter = "semicolon";
  state.import.convention = "sae";
  state.import.filters = "warmup=30,load-floor=300,pressure=off";
  state.import.mapping = "slip-angle=ALPHA,load=FZW";
  state.import.inclinations = "0,2,4";
  state.import.loads = "2000,4000";
  state.import.runs = {{"/rig/runs/run12.csv", Sha256Hex("a")}, {"/rig/runs/run13.csv", ""}};

  TSessionChannel lateral;
  lateral.poor = true;
  lateral.rms = 14.669999999999998;
  lateral.reasons = {{"low-r2", "R\xC2\xB2 is 0.91", "clear \"PHy3\"\nthen fit again"}};
  lateral.notes = {{"single-camber", "one camber", ""}, {"", "", ""}};
  lateral.report = "fit channel=lateral optimizer=tr\nverdict poor\nend-channel\nend\n";
  state.Channel(TFitChannel::kLateral) = lateral;
  TSessionChannel aligning;
  aligning.rms = 0.1 + 0.2;
  aligning.report = "";  // a report can be empty
  aligning.fitted = state.texts;
  state.Channel(TFitChannel::kAligning) = aligning;

  state.view.page = TFitChannel::kAligning;
  state.view.camber_index = 3;
  state.view.zoom = std::array<double, 4>{-12.000000000000002, 1e-300, -0.1, 3.0000000000000004};
  state.view.residuals = true;
  state.view.model_shown = false;
  state.view.hidden_curves = {4, 0, 17};
  state.view.paired_colours = true;
  return state;
}

uint64_t Bits(double v) { return std::bit_cast<uint64_t>(v); }

// The number of the first line that starts with `prefix` (1-based).
int LineOf(const std::string& text, const std::string& prefix) {
  int line = 1;
  for (size_t pos = 0; pos < text.size(); ++line) {
    if (text.compare(pos, prefix.size(), prefix) == 0) return line;
    const size_t end = text.find('\n', pos);
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return -1;
}

TEST(Sha256, PublishedVectorsAndBlockBoundaries) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  // The lengths at which the padding spills into another block.
  const std::pair<size_t, const char*> edges[] = {
      {55, "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {56, "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {63, "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
      {64, "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {119, "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
      {120, "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"}};
  for (const auto& [n, hex] : edges) EXPECT_EQ(Sha256Hex(std::string(n, 'a')), hex) << n;
  // A million 'a' fed in pieces that straddle the blocks.
  TSha256 hash;
  const std::string piece(997, 'a');
  size_t fed = 0;
  for (; fed + piece.size() <= 1000000; fed += piece.size()) hash.Update(piece);
  hash.Update(std::string(1000000 - fed, 'a'));
  std::string hex;
  for (const uint8_t b : hash.Final()) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  EXPECT_EQ(hex, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_TRUE(IsSha256Hex(Sha256Hex("x")));
  EXPECT_FALSE(IsSha256Hex(std::string(64, 'A')));
}

TEST(SessionRoundTrip, EveryFieldComesBackFromAFile) {
  TempDir dir;
  const TSessionState state = RichState();
  const std::string path = dir.File("work.morvex");
  WriteSessionFile(path, state);
  const TSessionRead read = ReadSessionFile(path);
  EXPECT_EQ(read.version, kSessionVersion);
  EXPECT_TRUE(read.data_hash_matches);
  EXPECT_TRUE(read.state == state);
  ASSERT_TRUE(read.state.data);
  EXPECT_EQ(read.state.data->text, kDataText);
  EXPECT_EQ(read.state.texts, state.texts);
  EXPECT_EQ(read.state.free, state.free);
  EXPECT_EQ(read.state.Channel(TFitChannel::kLateral), state.Channel(TFitChannel::kLateral));
  EXPECT_FALSE(read.state.Channel(TFitChannel::kLongitudinal));
  EXPECT_EQ(read.state.view, state.view);
  EXPECT_EQ(read.state.import, state.import);
  // Doubles to the bit, the sign of zero included.
  EXPECT_EQ(Bits(read.state.Channel(TFitChannel::kAligning)->rms), Bits(0.1 + 0.2));
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(Bits((*read.state.view.zoom)[i]), Bits((*state.view.zoom)[i]));
  // A coefficient set given from the session has the same values, bit for bit.
  TMemoryCoefficientSet before, after;
  state.GiveCoefficients(before);
  read.state.GiveCoefficients(after);
  for (const TCoefficientInfo& info : Coefficients()) {
    EXPECT_EQ(after.Text(info.name), before.Text(info.name));
    EXPECT_EQ(after.Free(info.name), before.Free(info.name)) << info.name;
  }
  EXPECT_EQ(Bits(after.Value("PCy1")), Bits(1.4675000000000002));
  EXPECT_EQ(Bits(after.Value("PDy1")), Bits(-0.0));
  EXPECT_EQ(after.Value("PDy2"), std::numeric_limits<double>::denorm_min());
  // The paths it names, for the user to see before anything is read.
  const std::vector<TSessionPath> expected = {{"data source", "/rig/runs/run 12 \"a\".csv"},
                                              {"run", "/rig/runs/run12.csv"},
                                              {"run", "/rig/runs/run13.csv"},
                                              {"fit settings", "/home/eng/configuration.ini"}};
  EXPECT_EQ(read.paths, expected);
  // Written again, the text is the same.
  EXPECT_EQ(FormatSession(read.state), ReadAll(path));
}

TEST(SessionRoundTrip, DefaultsAndEmptyStateAndRandomDoubles) {
  const TSessionState fresh;
  const TSessionRead read = ParseSession(FormatSession(fresh));
  EXPECT_TRUE(read.state == fresh);
  EXPECT_FALSE(read.state.data);
  EXPECT_TRUE(read.paths.empty());
  TMemoryCoefficientSet defaults, given;
  given.SetText("PCy1", "7");
  read.state.GiveCoefficients(given);
  for (const TCoefficientInfo& info : Coefficients()) {
    EXPECT_EQ(given.Text(info.name), defaults.Text(info.name));
    EXPECT_EQ(given.Free(info.name), defaults.Free(info.name));
  }
  // Any finite double, written as the shortest text, reads back to its bits;
  // NaN and infinities stay what they are.
  std::mt19937_64 random(20261209);
  TSessionState state;
  TSessionChannel channel;
  channel.report = "r";
  for (int i = 0; i < 3000; ++i) {
    double v = std::bit_cast<double>(random());
    if (!std::isfinite(v)) continue;
    channel.rms = v;
    state.Channel(TFitChannel::kLongitudinal) = channel;
    state.view.zoom = std::array<double, 4>{v, std::nextafter(v, INFINITY), -1, 1};
    if (!std::isfinite((*state.view.zoom)[1])) continue;
    const TSessionRead back = ParseSession(FormatSession(state));
    ASSERT_EQ(Bits(back.state.Channel(TFitChannel::kLongitudinal)->rms), Bits(v));
    ASSERT_EQ(Bits((*back.state.view.zoom)[1]), Bits((*state.view.zoom)[1]));
  }
  for (const double v : {std::numeric_limits<double>::quiet_NaN(), HUGE_VAL, -HUGE_VAL}) {
    channel.rms = v;
    state.Channel(TFitChannel::kLateral) = channel;
    const double back = ParseSession(FormatSession(state)).state.Channel(TFitChannel::kLateral)->rms;
    EXPECT_TRUE(std::isnan(v) ? std::isnan(back) : back == v);
  }
}

// One malformed session: how it is made from a good one, and the line and
// reason of its refusal.
struct TMalformed {
  const char* what;
  std::function<std::string(std::string)> make;
  std::function<int(const std::string& good)> line;
  const char* reason;
};

std::string ReplaceLine(std::string text, const std::string& prefix, const std::string& with) {
  const int line = LineOf(text, prefix);
  size_t pos = 0;
  for (int l = 1; l < line; ++l) pos = text.find('\n', pos) + 1;
  const size_t end = text.find('\n', pos);
  return text.replace(pos, end - pos, with);
}

std::string InsertBefore(std::string text, const std::string& prefix, const std::string& line_text) {
  const int line = LineOf(text, prefix);
  size_t pos = 0;
  for (int l = 1; l < line; ++l) pos = text.find('\n', pos) + 1;
  return text.insert(pos, line_text + "\n");
}

TEST(SessionReader, MalformedSessionsAreRefusedWithLineAndReason) {
  const std::string good = FormatSession(RichState());
  auto at = [](const char* prefix) { return [prefix](const std::string& g) { return LineOf(g, prefix); }; };
  auto fixed = [](int n) { return [n](const std::string&) { return n; }; };
  auto before = [](const char* prefix) { return [prefix](const std::string& g) { return LineOf(g, prefix) - 1; }; };
  auto end_line = [](const std::string& g) { return LineOf(g, "view-hidden 17") + 1; };
  auto last_line = [](const std::string& g) { return static_cast<int>(std::count(g.begin(), g.end(), '\n')); };
  auto last_end_channel = [](const std::string& g) {
    const size_t pos = g.rfind("\nend-channel\n");
    return static_cast<int>(std::count(g.begin(), g.begin() + static_cast<long>(pos) + 1, '\n')) + 1;
  };
  const std::vector<TMalformed> cases = {
      {"another file", [](std::string) { return std::string("[TIRE RADIUS]\nR0=0.3\n"); }, fixed(1), "no Morvex session"},
      {"newer version", [](std::string g) { return g.replace(15, 1, "3"); }, fixed(1), "newer Morvex"},
      {"version zero", [](std::string g) { return g.replace(15, 1, "0"); }, fixed(1), "no session version"},
      {"line ends changed to CR LF",
       [](std::string g) {
         std::string out;
         for (char c : g) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
         return out;
       },
       fixed(1), "CR LF"},
      {"cut off in a line", [](std::string g) { return g.substr(0, g.find("view-page") + 5); }, at("view-"),
       "cut off"},
      {"cut off at a line end", [](std::string g) { return g.substr(0, g.find("view-page")); },
       last_line, "no end line"},
      {"text after the end", [](std::string g) { return g + "coefficient PCy1 free \"1\"\n"; },
       [](const std::string& g) { return LineOf(g, "view-hidden 17") + 2; }, "after the end"},
      {"unknown record", [](std::string g) { return InsertBefore(g, "view-page", "view-colour blue"); }, before("view-page"),
       "unknown record 'view-colour'"},
      {"second coefficient record",
       [](std::string g) { return InsertBefore(g, "fit-optimizer", "coefficient PKy1 free \"-12\""); },
       before("fit-optimizer"), "second coefficient record for PKy1 (the first is on line"},
      {"missing coefficient", [](std::string g) { return ReplaceLine(g, "coefficient PEy4", "# removed"); },
       end_line, "no coefficient record for PEy4"},
      {"R0 set free", [](std::string g) { return ReplaceLine(g, "coefficient R0", "coefficient R0 free \"0.376\""); },
       at("coefficient R0"), "R0 has no free flag"},
      {"unknown coefficient", [](std::string g) { return InsertBefore(g, "fit-optimizer", "coefficient PXy9 free \"1\""); },
       before("fit-optimizer"), "unknown coefficient 'PXy9'"},
      {"text not quoted", [](std::string g) { return ReplaceLine(g, "import-loads", "import-loads 2000"); },
       at("import-loads"), "must be a quoted text"},
      {"word quoted", [](std::string g) { return ReplaceLine(g, "fit-optimizer", "fit-optimizer \"lm\""); },
       at("fit-optimizer"), "must not be quoted"},
      {"unknown optimizer", [](std::string g) { return ReplaceLine(g, "fit-optimizer", "fit-optimizer simplex"); },
       at("fit-optimizer"), "unknown optimizer 'simplex'"},
      {"unclosed quote", [](std::string g) { return ReplaceLine(g, "import-loads", "import-loads \"2000"); },
       at("import-loads"), "not closed"},
      {"unknown escape", [](std::string g) { return ReplaceLine(g, "import-loads", "import-loads \"2\\q\""); },
       at("import-loads"), "unknown escape \\q"},
      {"short hex escape", [](std::string g) { return ReplaceLine(g, "import-loads", "import-loads \"\\x4\""); },
       at("import-loads"), "two hexadecimal digits"},
      {"raw tab in a text", [](std::string g) { return ReplaceLine(g, "import-loads", "import-loads \"a\tb\""); },
       at("import-loads"), "control character"},
      {"two spaces", [](std::string g) { return ReplaceLine(g, "view-camber", "view-camber  3"); }, at("view-camber"),
       "two spaces"},
      {"trailing space", [](std::string g) { return ReplaceLine(g, "view-camber", "view-camber 3 "); },
       at("view-camber"), "space at the end"},
      {"quoted keyword", [](std::string g) { return InsertBefore(g, "view-page", "\"end\""); }, before("view-page"),
       "starts with its keyword"},
      {"empty line", [](std::string g) { return InsertBefore(g, "view-page", ""); }, before("view-page"), "empty line"},
      {"missing field", [](std::string g) { return ReplaceLine(g, "rms", "rms"); }, at("rms"),
       "rms takes 1 field, not 0"},
      {"number not a number", [](std::string g) { return ReplaceLine(g, "rms", "rms 14,67"); }, at("rms"),
       "'14,67' is not a number"},
      {"negative camber index", [](std::string g) { return ReplaceLine(g, "view-camber", "view-camber -1"); },
       at("view-camber"), "whole number"},
      {"reversed zoom", [](std::string g) { return ReplaceLine(g, "view-zoom", "view-zoom 2 1 0 1"); }, at("view-zoom"),
       "empty or reversed"},
      {"infinite zoom", [](std::string g) { return ReplaceLine(g, "view-zoom", "view-zoom 0 inf 0 1"); },
       at("view-zoom"), "not a finite number"},
      {"curve hidden twice", [](std::string g) { return InsertBefore(g, "view-hidden 17", "view-hidden 4"); },
       before("view-hidden 17"), "hidden twice"},
      {"bad hash", [](std::string g) { return ReplaceLine(g, "data-source", "data-source \"/x\" ABC"); },
       at("data-source"), "no SHA-256 hash"},
      {"block longer than the file",
       [](std::string g) {
         return ReplaceLine(g, "data-text", "data-text " + Sha256Hex(kDataText) + " 99999999");
       },
       at("data-text"), "runs past the end"},
      {"block one byte short",
       [](std::string g) {
         return ReplaceLine(g, "data-text", "data-text " + Sha256Hex(kDataText) + " " + std::to_string(kDataText.size() - 1));
       },
       at("data-text"), "not closed by a line end"},
      {"data without its source", [](std::string g) { return ReplaceLine(g, "data-source", "# gone"); }, end_line,
       "data is incomplete"},
      {"duplicate record", [](std::string g) { return InsertBefore(g, "view-page", "fit-start files"); },
       before("view-page"), "second fit-start record (the first is on line"},
      {"missing record", [](std::string g) { return ReplaceLine(g, "view-residuals", "# gone"); }, end_line,
       "no view-residuals record"},
      {"channel block not closed",
       [](std::string g) { return g.replace(g.rfind("\nend-channel\n") + 1, 11, "view-page lateral"); },
       [](const std::string& g) { return LineOf(g, "view-page lateral"); },
       "inside the channel block opened on line"},
      {"channel block without report",
       [](std::string g) { return g.erase(g.rfind("report 0\n\n"), 10); }, last_end_channel,
       "has no report record"},
      {"second block of a channel",
       [](std::string g) { return InsertBefore(g, "view-page", "channel lateral\nverdict good\nrms 1\nreport 0\n\nend-channel"); },
       [](const std::string& g) { return LineOf(g, "view-page") - 6; }, "second block for the lateral channel"},
      {"end-channel outside a block", [](std::string g) { return InsertBefore(g, "view-page", "end-channel"); },
       before("view-page"), "unknown record 'end-channel'"},
      {"some fitted values only",
       [](std::string g) { return ReplaceLine(g, "fitted PDy1", "# gone"); },
       last_end_channel, "no fitted record for PDy1"},
  };
  for (const TMalformed& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bad = c.make(good);
    const int expected_line = c.line(bad);
    try {
      ParseSession(bad, "s.morvex");
      ADD_FAILURE() << "accepted";
    } catch (const ESessionFormat& error) {
      EXPECT_EQ(error.line(), expected_line) << error.what();
      EXPECT_NE(error.reason().find(c.reason), std::string::npos) << error.what();
      EXPECT_EQ(std::string(error.what()).rfind("s.morvex, line " + std::to_string(expected_line) + ": ", 0), 0u)
          << error.what();
    }
  }
}

TEST(SessionReader, CommentsAreSkippedAndLineNumbersCountBlockLines) {
  std::string text = FormatSession(RichState());
  text = InsertBefore(text, "view-page", "# the chart");
  EXPECT_NO_THROW(ParseSession(text));
  // A fault after the blocks is reported at its line in the file.
  const std::string bad = ReplaceLine(text, "view-camber", "view-camber x");
  try {
    ParseSession(bad);
    FAIL();
  } catch (const ESessionFormat& error) {
    EXPECT_EQ(error.line(), LineOf(bad, "view-camber x"));
  }
}

TEST(SessionReader, ChangedEmbeddedDataIsReportedNotHidden) {
  std::string text = FormatSession(RichState());
  EXPECT_TRUE(ParseSession(text).data_hash_matches);
  // One byte of the data changed, its length kept: still a session, but
  // the data no longer is what was saved.
  text[text.find("2811.25")] = '3';
  const TSessionRead read = ParseSession(text);
  EXPECT_FALSE(read.data_hash_matches);
  EXPECT_NE(read.state.data->text, kDataText);
  // Without data there is nothing to doubt.
  EXPECT_TRUE(ParseSession(FormatSession(TSessionState())).data_hash_matches);
}

TEST(SessionReader, FileLimitsAndNonFiles) {
  TempDir dir;
  const std::string path = dir.File("big.morvex");
  WriteSessionFile(path, RichState());
  EXPECT_NO_THROW(ReadSessionFile(path));
  try {
    ReadSessionFile(path, 100);
    FAIL();
  } catch (const ESessionFormat& error) {
    EXPECT_EQ(error.line(), 0);
    EXPECT_NE(error.reason().find("larger than 100 bytes"), std::string::npos);
  }
  EXPECT_THROW(ReadSessionFile(dir.path().string()), ESessionFormat);  // a folder
  EXPECT_THROW(ReadSessionFile(dir.File("none.morvex")), EFOpenError);
  // A pipe is refused without being opened (opening would wait for a writer).
  const std::string fifo = dir.File("pipe.morvex");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_THROW(ReadSessionFile(fifo), ESessionFormat);
}

TEST(SessionSource, ChangedMissingAndUncheckedSources) {
  TempDir dir;
  const std::string source = dir.File("run.dat");
  WriteAll(source, kDataText);
  TSessionState state = RichState();
  state.data->source_path = source;
  state.data->source_sha256 = Sha256Hex(kDataText);
  const TSessionRead read = ParseSession(FormatSession(state));
  EXPECT_EQ(CheckDataSource(read.state), TSourceState::kUnchanged);
  WriteAll(source, kDataText + "\n4.5;1600;2900");
  EXPECT_EQ(CheckDataSource(read.state), TSourceState::kChanged);
  std::filesystem::remove(source);
  EXPECT_EQ(CheckDataSource(read.state), TSourceState::kMissing);
  ASSERT_EQ(mkfifo(source.c_str(), 0600), 0);  // never opened, so never waited on
  EXPECT_EQ(CheckDataSource(read.state), TSourceState::kUnreadable);
  EXPECT_EQ(CheckSourceFile(dir.path().string(), Sha256Hex("")), TSourceState::kUnreadable);
  EXPECT_EQ(CheckSourceFile(source, ""), TSourceState::kNotChecked);
  EXPECT_EQ(CheckDataSource(TSessionState()), TSourceState::kNotChecked);
  // A run's hash is checked the same way.
  const std::string run = dir.File("run12.csv");
  WriteAll(run, "a");
  EXPECT_EQ(CheckSourceFile(run, state.import.runs[0].sha256), TSourceState::kUnchanged);
}

TEST(SessionWrite, ReplacesInOneStepAndLeavesNothingBehind) {
  TempDir dir;
  const std::string path = dir.File("work.morvex");
  TSessionState first = RichState();
  WriteSessionFile(path, first);
  TSessionState second = first;
  second.view.camber_index = 1;
  WriteSessionFile(path, second);
  EXPECT_EQ(ReadSessionFile(path).state.view.camber_index, 1);
  EXPECT_EQ(dir.Others("work.morvex"), std::vector<std::string>{});
}

TEST(SessionWrite, AFailedWriteKeepsTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir.File("work.morvex");
  TSessionState state = RichState();
  WriteSessionFile(path, state);
  const std::string before = ReadAll(path);
  // A file size limit makes the write of the larger session fail halfway,
  // whoever runs the test.
  state.data->text.append(200000, 'x');
  struct rlimit old_limit {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct rlimit limit = old_limit;
  limit.rlim_cur = 100000;
  const auto old_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  bool refused = false;
  try {
    WriteSessionFile(path, state);
  } catch (const EWriteError&) {
    refused = true;
  }
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);
  EXPECT_TRUE(refused);
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_EQ(dir.Others("work.morvex"), std::vector<std::string>{});
  // A folder that does not exist: nothing is created.
  EXPECT_THROW(WriteSessionFile(dir.File("no/such/work.morvex"), state), EWriteError);
}

TEST(SessionWrite, NeverOverwritesAnInputOrAnotherFile) {
  TempDir dir;
  const std::string data = dir.File("run.dat");
  WriteAll(data, kDataText);
  TSessionState state = RichState();
  state.data->source_path = data;
  // The data's source, another spelling of it, a link to it, or a given input.
  for (const std::string& target : {data, dir.File("./x/../run.dat")}) {
    std::filesystem::create_directory(dir.File("x"));
    EXPECT_THROW(WriteSessionFile(target, state), Exception) << target;
  }
  std::filesystem::create_symlink(data, dir.File("link.morvex"));
  EXPECT_THROW(WriteSessionFile(dir.File("link.morvex"), state), Exception);
  const std::string settings = dir.File("fit.ini");
  WriteAll(settings, "[x]\n");
  EXPECT_THROW(WriteSessionFile(dir.File("s.morvex"), TSessionState(), {settings, dir.File("s.morvex")}), Exception);
  // An existing file that is no session is not replaced by one.
  const std::string other = dir.File("notes.morvex");
  WriteAll(other, "my notes");
  try {
    WriteSessionFile(other, TSessionState());
    FAIL();
  } catch (const Exception& error) {
    EXPECT_NE(std::string(error.what()).find("is no Morvex session"), std::string::npos);
  }
  EXPECT_EQ(ReadAll(data), kDataText);
  EXPECT_EQ(ReadAll(other), "my notes");
  EXPECT_FALSE(std::filesystem::exists(dir.File("s.morvex")));
}

}  // namespace
}  // namespace morvex

namespace morvex {
namespace {

// Sessions written by hand from the format described in the header (the
// fuzz target's seeds) are read as described.
TEST(SessionReader, HandWrittenSessionsFollowTheDocumentedFormat) {
  const std::string dir = std::string(MORVEX_SOURCE_DIR) + "/fuzz/corpus/fuzz_session/";
  const TSessionRead empty = ReadSessionFile(dir + "empty_state.morvex");
  EXPECT_TRUE(empty.state == TSessionState());
  const TSessionRead full = ReadSessionFile(dir + "data_and_reports.morvex");
  EXPECT_TRUE(full.data_hash_matches);
  ASSERT_TRUE(full.state.data);
  EXPECT_EQ(full.state.data->label, "run \"1\"\x01");
  EXPECT_EQ(full.state.fit.optimizer, TSessionOptimizer::kSearchThenTrustRegion);
  EXPECT_EQ(full.state.import.filters, "warmup=30,load-floor=300");
  ASSERT_TRUE(full.state.Channel(TFitChannel::kLateral));
  EXPECT_TRUE(full.state.Channel(TFitChannel::kLateral)->poor);
  EXPECT_TRUE(full.state.Channel(TFitChannel::kLateral)->fitted);
  EXPECT_TRUE(std::isnan(full.state.Channel(TFitChannel::kAligning)->rms));
  EXPECT_EQ(full.state.view.hidden_curves, (std::vector<int>{2, 0}));
  EXPECT_EQ(CheckDataSource(full.state), TSourceState::kMissing);  // /data/run1.dat
  EXPECT_THROW(ReadSessionFile(dir + "newer_version.morvex"), ESessionFormat);
  EXPECT_THROW(ReadSessionFile(dir + "cut_block.morvex"), ESessionFormat);
}

}  // namespace
}  // namespace morvex

namespace morvex {
namespace {

bool HasLine(const std::vector<TSessionOpeningLine>& lines, const std::string& part, bool warning) {
  for (const TSessionOpeningLine& line : lines)
    if (line.text.find(part) != std::string::npos) return line.warning == warning;
  return false;
}

// The Open session dialog's list: what is used, every path and its state,
// and warnings only where the user has something to weigh.
TEST(SessionOpening, ListsTheDataThePathsAndWhatChanged) {
  TempDir dir;
  const std::string source = dir.File("fy.plt");
  WriteAll(source, kDataText);
  TSessionState state = RichState();
  state.data->source_path = source;
  state.data->source_sha256 = Sha256Hex(kDataText);
  state.import.runs = {{dir.File("run12.csv"), Sha256Hex("run")}};
  TSessionRead read = ParseSession(FormatSession(state));
  std::vector<TSessionOpeningLine> lines = DescribeSessionOpening(read);
  EXPECT_TRUE(HasLine(lines, "Embedded data used: run12.csv (imported)", false));
  EXPECT_TRUE(HasLine(lines, "Data source: " + source + " (not read when the session opens; unchanged", false));
  EXPECT_TRUE(HasLine(lines, "Run imported: " + dir.File("run12.csv") + " (not read when the session opens; the file is missing here)", true));
  EXPECT_TRUE(HasLine(lines, "Fit settings: /home/eng/configuration.ini (read only if you confirm", true));
  EXPECT_TRUE(HasLine(lines, "Lateral force: last fit poor, RMS 14.67", false));
  EXPECT_TRUE(HasLine(lines, "Aligning moment: last fit good", false));
  EXPECT_TRUE(HasLine(lines, "writes no file and runs nothing", false));
  EXPECT_FALSE(HasLine(lines, "does not match its hash", true));

  WriteAll(source, kDataText + "more");
  std::string text = FormatSession(state);
  text[text.find("2811.25")] = '3';
  read = ParseSession(text);
  lines = DescribeSessionOpening(read);
  EXPECT_TRUE(HasLine(lines, "the source changed since the session was saved", true));
  EXPECT_TRUE(HasLine(lines, "The embedded data was changed after the session was saved", true));
  // Without consent to look at the sources, they are only listed.
  lines = DescribeSessionOpening(read, false);
  EXPECT_TRUE(HasLine(lines, "Data source: " + source + " (not read when the session opens)", false));
  EXPECT_TRUE(HasLine(DescribeSessionOpening(ParseSession(FormatSession(TSessionState()))), "No data", false));
}

}  // namespace
}  // namespace morvex
