// A tire's test programme in the session file: every field back as written
// (doubles to the bit, NaN where a record allows it), version 1 sessions
// still read, malformed programme records refused with their line and
// reason, and the programme's runs treated as the session's inputs.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>
#include <limits>

#include "files/SessionFile.h"
#include "files/SessionOpening.h"
#include "files/Sha256.h"
#include "files/tests/FileTestSupport.h"

namespace morvex {
namespace {

using test::TempDir;
using test::WriteAll;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

uint64_t Bits(double v) { return std::bit_cast<uint64_t>(v); }

int LineOf(const std::string& text, const std::string& prefix, int nth = 1) {
  int line = 1;
  for (size_t pos = 0; pos < text.size(); ++line) {
    if (text.compare(pos, prefix.size(), prefix) == 0 && --nth == 0) return line;
    const size_t end = text.find('\n', pos);
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return -1;
}

std::string ReplaceLine(std::string text, const std::string& prefix, const std::string& with, int nth = 1) {
  const int line = LineOf(text, prefix, nth);
  size_t pos = 0;
  for (int l = 1; l < line; ++l) pos = text.find('\n', pos) + 1;
  return text.replace(pos, text.find('\n', pos) - pos, with);
}

std::string InsertBefore(std::string text, const std::string& prefix, const std::string& line_text, int nth = 1) {
  const int line = LineOf(text, prefix, nth);
  size_t pos = 0;
  for (int l = 1; l < line; ++l) pos = text.find('\n', pos) + 1;
  return text.insert(pos, line_text + "\n");
}

// A programme as "Build tire from runs" leaves it: two runs, three pure
// sets and the combined set embedded (texts holding what a naive reader
// would take for records), a fitted pure stage, a poor combined one and
// stages that were not fitted.  Without NaN, so that states compare equal.
TSessionProgramme Programme() {
  TSessionProgramme p;
  p.runs = {{"/rig/fy sweep \"A\".tdx", Sha256Hex("fy run")}, {"/rig/combined.csv", ""}};
  p.fz0_typed = 4000.000000000001;
  p.lateral_text = "LOAD_CASE 1\n0\n2000;4000\n-4;-1523.5;-2811.25\n4;1530;2800.75\n";
  p.aligning_text = "LOAD_CASE 1\n0\n2000\n1;12.5\nend-programme\nend\n";  // no final line end kept as is
  p.longitudinal_text = "LOAD_CASE 1\n0\n4000\n-0.1;-3800\n0.1;3790";
  p.combined_text = "MORVEX_COMBINED_DATA 1\ncamber;load;slip_angle;slip_ratio;fx\n0;4000;-6;-0.2;-3415.2\n";
  p.feeds = {{"/rig/fy sweep \"A\".tdx", "lateral", "inclinations 0 deg; loads 2000, 4000 N", 84, ""},
             {"/rig/combined.csv", "combined", "slip angles -6, 6 deg", 1200, "warm-up cut: 30 s"},
             {"/rig/combined.csv", "nothing", "", 0, "no sweep\tof any stage"}};
  p.import_reports = {"channels: SA, FZ, FY\nwarm-up 30 s\n", "end\n\nrun 2\n"};
  p.ranges = {1999.5, 4012.25, -0.2, 0.2, -0.10471975511965977, 0.10471975511965977, -0.0, 0.06981317007977318};
  p.pressure = 220000;
  p.longvl = 16.666666666666668;
  p.fz0 = 4000.000000000001;
  p.fz0_source = "typed";
  p.r0 = 0.3135;
  p.r0_source = "RFREE of /rig/fy sweep \"A\".tdx";
  p.warnings = {"/rig/combined.csv: no aligning-moment channel"};
  TSessionProgramme::Fit fit;
  for (size_t i = 0; i < Coefficients().size(); ++i) fit.texts[i] = "0." + std::to_string(i) + "5000000000000001";
  fit.texts[static_cast<size_t>(ExactCoefficientIndex("PDy1"))] = "-0";
  fit.combined = {{"RBX1", 13.046}, {"RBX2", 9.718}, {"RCX1", 0.9995}, {"REX1", -4.9406564584124654e-324},
                  {"QSY4", 1.7976931348623157e+308}};
  fit.use_mode = 4;
  fit.mode_reasons = {"Mx: the data hold no measured Mx"};
  TSessionStage lateral;
  lateral.name = "lateral";
  lateral.points = 84;
  lateral.fitted = true;
  lateral.notes = {{"residuals-above-noise", "residuals 2.1 times the scatter", "check the loads"}};
  lateral.rms = 14.669999999999998;
  lateral.termination = "finished";
  lateral.iterations = 17;
  lateral.start_cost = 123456.78;
  lateral.final_cost = 18076.1;
  lateral.coefficients = {{"PCy1", 1.3507, 0.0021, ""}, {"PHy3", 0.0, 1e300, "PHy3 is not determined: one camber"}};
  TSessionStage fx;
  fx.name = "Fx combined";
  fx.points = 1200;
  fx.fitted = true;
  fx.poor = true;
  fx.cancelled = true;
  fx.reasons = {{"cancelled", "the fit was cancelled", "fit again"}};
  fx.rms = 40.5;
  fx.termination = "cancelled";
  fx.iterations = 3;
  fx.start_cost = 1e7;
  fx.final_cost = 2e6;
  fx.coefficients = {{"RBX1", 13.046, 0.5, ""}, {"REX2", 0, 0, ""}};
  fx.start_values = {12.5, -0.0};
  fx.held = {"REX2 (one load)"};
  TSessionStage mx;
  mx.name = "Mx";
  mx.not_fitted_reason = "the data hold no measured Mx";
  mx.termination = "not run";
  fit.stages = {lateral, fx, mx};
  p.fit = fit;
  return p;
}

TSessionState StateWithProgramme() {
  TSessionState state;
  state.programme = Programme();
  state.view.all_cambers = true;
  state.import.runs = {{"/rig/single.csv", ""}};
  return state;
}

TEST(SessionProgramme, EveryFieldComesBackThroughTheText) {
  const TSessionState state = StateWithProgramme();
  const std::string text = FormatSession(state);
  EXPECT_EQ(text.rfind("MORVEX SESSION 2\n", 0), 0u);
  const TSessionRead read = ParseSession(text);
  EXPECT_EQ(read.version, 2);
  ASSERT_TRUE(read.state.programme);
  EXPECT_TRUE(read.state == state);
  EXPECT_EQ(*read.state.programme, *state.programme);
  EXPECT_EQ(read.state.programme->aligning_text, Programme().aligning_text);
  EXPECT_TRUE(read.state.view.all_cambers);
  EXPECT_FALSE(read.state.view.paired_colours);
  // Doubles to the bit, the sign of zero and the extremes included.
  const TSessionProgramme& p = *read.state.programme;
  EXPECT_EQ(Bits(p.ranges[6]), Bits(-0.0));
  EXPECT_EQ(Bits(p.fit->combined[3].second), Bits(-4.9406564584124654e-324));
  EXPECT_EQ(Bits(p.fit->stages[1].start_values[1]), Bits(-0.0));
  EXPECT_EQ(p.fit->texts[static_cast<size_t>(ExactCoefficientIndex("PDy1"))], "-0");
  EXPECT_FALSE(p.r0_typed);
  // Written again, the text is the same.
  EXPECT_EQ(FormatSession(read.state), text);
  // The programme's runs are paths of the session, after the import's runs.
  const std::vector<TSessionPath> expected = {{"run", "/rig/single.csv"},
                                              {"programme run", "/rig/fy sweep \"A\".tdx"},
                                              {"programme run", "/rig/combined.csv"}};
  EXPECT_EQ(read.paths, expected);
}

TEST(SessionProgramme, NaNStandsForNoneWhereTheRecordsAllowIt) {
  TSessionState state;
  TSessionProgramme p = Programme();
  p.ranges = {kNaN, kNaN, kNaN, kNaN, -0.1, 0.1, kNaN, kNaN};
  p.pressure = kNaN;
  p.longvl = kNaN;
  p.r0 = kNaN;
  p.fit->stages[0].coefficients[0].standard_error = kNaN;
  p.fit->stages[2].rms = kNaN;
  p.fit->stages[2].start_cost = kNaN;
  p.fit->stages[2].final_cost = HUGE_VAL;
  p.fit = p.fit;  // a stage not fitted keeps no cost
  p.lateral_text.clear();
  state.programme = p;
  const std::string text = FormatSession(state);
  const TSessionRead read = ParseSession(text);
  const TSessionProgramme& back = *read.state.programme;
  for (const size_t i : {0, 1, 2, 3, 6, 7}) EXPECT_TRUE(std::isnan(back.ranges[i])) << i;
  EXPECT_EQ(back.ranges[5], 0.1);
  EXPECT_TRUE(std::isnan(back.pressure) && std::isnan(back.longvl) && std::isnan(back.r0));
  EXPECT_TRUE(std::isnan(back.fit->stages[0].coefficients[0].standard_error));
  EXPECT_TRUE(std::isnan(back.fit->stages[2].rms));
  EXPECT_EQ(back.fit->stages[2].final_cost, HUGE_VAL);
  EXPECT_TRUE(back.lateral_text.empty());
  EXPECT_EQ(FormatSession(read.state), text);
  // A programme imported and never fitted.
  state.programme->fit.reset();
  EXPECT_FALSE(ParseSession(FormatSession(state)).state.programme->fit);
}

// A session this program wrote before it knew programmes: version 1, with
// neither the programme nor the two chart switches.
TEST(SessionProgramme, VersionOneSessionsAreStillRead) {
  TSessionState state;
  state.texts[static_cast<size_t>(ExactCoefficientIndex("PCy1"))] = "1.25";
  state.view.camber_index = 2;
  std::string text = FormatSession(state);
  text.replace(0, text.find('\n'), "MORVEX SESSION 1");
  text = ReplaceLine(text, "view-paired-colours", "# (version 2 only)");
  text = ReplaceLine(text, "view-all-cambers", "# (version 2 only)");
  const TSessionRead read = ParseSession(text);
  EXPECT_EQ(read.version, 1);
  EXPECT_TRUE(read.state == state);
  EXPECT_FALSE(read.state.programme);
  EXPECT_FALSE(read.state.view.paired_colours || read.state.view.all_cambers);
  // Written again it becomes version 2.
  EXPECT_EQ(ParseSession(FormatSession(read.state)).version, 2);
  // A version 1 session holding version 2 records is malformed.
  for (const std::string record : {"programme", "view-all-cambers on"}) {
    const std::string bad = InsertBefore(text, "view-page", record);
    try {
      ParseSession(bad, "old.morvex");
      ADD_FAILURE() << record;
    } catch (const ESessionFormat& error) {
      EXPECT_EQ(error.line(), LineOf(bad, record)) << error.what();
      EXPECT_NE(error.reason().find("a record of session version 2, not of version 1"), std::string::npos)
          << error.what();
    }
  }
  // A version 2 session needs its switches.
  const std::string v2 = ReplaceLine(FormatSession(state), "view-all-cambers", "# gone");
  EXPECT_THROW(ParseSession(v2), ESessionFormat);
}

struct TMalformed {
  const char* what;
  std::function<std::string(std::string)> make;
  std::function<int(const std::string& bad)> line;
  const char* reason;
};

TEST(SessionProgramme, MalformedProgrammeRecordsAreRefusedWithLineAndReason) {
  const std::string good = FormatSession(StateWithProgramme());
  auto at = [](const char* prefix, int nth = 1) {
    return [prefix, nth](const std::string& b) { return LineOf(b, prefix, nth); };
  };
  auto before = [](const char* prefix) { return [prefix](const std::string& b) { return LineOf(b, prefix) - 1; }; };
  const std::vector<TMalformed> cases = {
      {"second programme", [](std::string g) { return InsertBefore(g, "view-page", "programme"); },
       before("view-page"), "second programme record"},
      {"programme with a field", [](std::string g) { return ReplaceLine(g, "programme", "programme 1"); },
       at("programme"), "programme takes 0 fields, not 1"},
      {"unknown record in the programme", [](std::string g) { return InsertBefore(g, "ranges", "speed 16.7"); },
       before("ranges"), "'speed' inside the programme block opened on line"},
      {"programme not closed",
       [](std::string g) { return ReplaceLine(g, "end-programme", "# gone", 2); },
       at("view-page"), "'view-page' inside the programme block"},
      {"programme cut off", [](std::string g) { return g.substr(0, g.rfind("end-programme")); },
       [](const std::string& b) { return static_cast<int>(std::count(b.begin(), b.end(), '\n')); },
       "has no end-programme: the session was cut off"},
      {"missing ranges", [](std::string g) { return ReplaceLine(g, "ranges", "# gone"); }, at("end-programme", 2),
       "has no ranges record"},
      {"seven ranges", [](std::string g) { return ReplaceLine(g, "ranges", "ranges 1 2 3 4 5 6 7"); }, at("ranges"),
       "ranges takes 8 fields, not 7"},
      {"infinite range", [](std::string g) { return ReplaceLine(g, "ranges", "ranges 1 inf 3 4 5 6 7 8"); },
       at("ranges"), "ranges is a finite number or nan, not 'inf'"},
      {"typed load not a number", [](std::string g) { return ReplaceLine(g, "typed-fz0", "typed-fz0 nan"); },
       at("typed-fz0"), "typed-fz0 is a finite number, not 'nan'"},
      {"second fz0", [](std::string g) { return InsertBefore(g, "r0 ", "fz0 3000 \"\""); }, before("r0 "),
       "a second fz0 record (the first is on line"},
      {"unknown data", [](std::string g) { return InsertBefore(g, "ranges", "data vertical 0"); }, before("ranges"),
       "unknown data 'vertical'"},
      {"second lateral data",
       [](std::string g) { return InsertBefore(g, "ranges", "data lateral 2\nx\n"); },
       [](const std::string& b) { return LineOf(b, "data lateral", 2); }, "a second data lateral record"},
      {"empty data", [](std::string g) { return InsertBefore(g, "data lateral", "data combined 0\n"); },
       at("data combined"), "the combined data is empty"},
      {"data block too long",
       [](std::string g) { return ReplaceLine(g, "data longitudinal", "data longitudinal 999999"); },
       at("data longitudinal"), "runs past the end of the session"},
      {"feed of an unknown stage",
       [](std::string g) { return InsertBefore(g, "ranges", "feed \"/r\" \"vertical\" \"\" 0 \"\""); },
       before("ranges"), "not 'vertical'"},
      {"negative feed points",
       [](std::string g) { return InsertBefore(g, "ranges", "feed \"/r\" \"lateral\" \"\" -3 \"\""); },
       before("ranges"), "'-3' is not a whole number"},
      {"run without hash field", [](std::string g) { return InsertBefore(g, "typed-fz0", "run \"/rig/x.csv\""); },
       before("typed-fz0"), "run takes 2 fields, not 1"},
      {"second fit", [](std::string g) { return InsertBefore(g, "end-programme", "fit\nend-fit", 2); },
       at("fit\nend-fit"), "a second fit record"},
      {"fit missing a coefficient", [](std::string g) { return ReplaceLine(g, "coefficient PKy3 \"", "# gone"); },
       at("end-fit"), "no coefficient record for PKy3"},
      {"fit coefficient twice",
       [](std::string g) { return InsertBefore(g, "use-mode", "coefficient PKy3 \"1\""); }, before("use-mode"),
       "a second coefficient record for PKy3"},
      {"unknown combined coefficient",
       [](std::string g) { return InsertBefore(g, "use-mode", "combined RBX9 1"); }, before("use-mode"),
       "unknown combined-slip coefficient 'RBX9'"},
      {"combined coefficient twice", [](std::string g) { return InsertBefore(g, "use-mode", "combined RBX2 1"); },
       before("use-mode"), "a second combined record for RBX2"},
      {"mode 5", [](std::string g) { return ReplaceLine(g, "use-mode", "use-mode 5"); }, at("use-mode"),
       "'5' is not a whole number from 0 to 4"},
      {"fit without use-mode", [](std::string g) { return ReplaceLine(g, "use-mode", "# gone"); }, at("end-fit"),
       "has no use-mode record"},
      {"unknown stage", [](std::string g) { return ReplaceLine(g, "stage \"Mx\"", "stage \"Fz combined\""); },
       at("stage \"Fz"), "unknown stage 'Fz combined'"},
      {"stage name not quoted", [](std::string g) { return ReplaceLine(g, "stage \"Mx\"", "stage Mx"); },
       at("stage Mx"), "must be a quoted text"},
      {"stage twice", [](std::string g) { return ReplaceLine(g, "stage \"Mx\"", "stage \"lateral\""); },
       at("stage \"lateral\"", 2), "a second block for the stage lateral"},
      {"stage without cost", [](std::string g) { return ReplaceLine(g, "cost ", "# gone"); }, at("end-stage"),
       "the stage block opened on line"},
      {"stage not closed", [](std::string g) { return ReplaceLine(g, "end-stage", "# gone"); },
       at("stage \"Fx combined\""), "'stage' inside the stage block"},
      {"unknown termination",
       [](std::string g) { return ReplaceLine(g, "termination", "termination \"converged\""); }, at("termination"),
       "unknown termination 'converged'"},
      {"fitted neither on nor off", [](std::string g) { return ReplaceLine(g, "fitted on", "fitted yes \"\""); },
       at("fitted yes"), "fitted is on or off, not 'yes'"},
      {"verdict of a stage", [](std::string g) { return ReplaceLine(g, "verdict poor", "verdict bad"); },
       at("verdict bad"), "verdict is good or poor, not 'bad'"},
      {"unknown stage coefficient",
       [](std::string g) { return InsertBefore(g, "end-stage", "coefficient PXy1 1 0 \"\""); }, before("end-stage"),
       "unknown coefficient 'PXy1'"},
      {"stage coefficient twice",
       [](std::string g) { return InsertBefore(g, "end-stage", "coefficient PCy1 1 0 \"\""); }, before("end-stage"),
       "a second coefficient record for PCy1"},
      {"stage coefficient without note",
       [](std::string g) { return InsertBefore(g, "end-stage", "coefficient PDy1 1 0"); }, before("end-stage"),
       "coefficient takes 4 fields, not 3"},
      {"iterations negative", [](std::string g) { return ReplaceLine(g, "iterations", "iterations -1"); },
       at("iterations"), "not a whole number"},
      {"stage outside a fit", [](std::string g) { return InsertBefore(g, "view-page", "stage \"lateral\""); },
       before("view-page"), "unknown record 'stage'"},
  };
  for (const TMalformed& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bad = c.make(good);
    const int expected_line = c.line(bad);
    try {
      ParseSession(bad, "tire.morvex");
      ADD_FAILURE() << "accepted";
    } catch (const ESessionFormat& error) {
      EXPECT_EQ(error.line(), expected_line) << error.what();
      EXPECT_NE(error.reason().find(c.reason), std::string::npos) << error.what();
    }
  }
}

TEST(SessionProgramme, TheRunsAreInputsNeverOverwritten) {
  TempDir dir;
  const std::string run = dir.File("fy.tdx");
  WriteAll(run, "TYDEX");
  TSessionState state = StateWithProgramme();
  state.programme->runs[1].path = run;
  EXPECT_THROW(WriteSessionFile(run, state), Exception);
  EXPECT_EQ(test::ReadAll(run), "TYDEX");
  EXPECT_NO_THROW(WriteSessionFile(dir.File("tire.morvex"), state));
}

// The fuzz target's seeds with a programme read as the format says.
TEST(SessionProgramme, TheSeedsWithAProgrammeRead) {
  const std::string dir = std::string(MORVEX_SOURCE_DIR) + "/fuzz/corpus/fuzz_session/";
  const TSessionRead fitted = ReadSessionFile(dir + "programme_fitted.morvex");
  ASSERT_TRUE(fitted.state.programme && fitted.state.programme->fit);
  EXPECT_EQ(fitted.state.programme->fit->stages.size(), 3u);
  const TSessionRead imported = ReadSessionFile(dir + "programme_imported.morvex");
  ASSERT_TRUE(imported.state.programme);
  EXPECT_FALSE(imported.state.programme->fit);
  EXPECT_TRUE(std::isnan(imported.state.programme->pressure));
  // Small enough for the fuzzer's input limit (4096 bytes), fit and all.
  const TSessionRead compact = ReadSessionFile(dir + "programme_compact.morvex");
  ASSERT_TRUE(compact.state.programme && compact.state.programme->fit);
  EXPECT_LE(test::ReadAll(dir + "programme_compact.morvex").size(), 4096u);
}

bool HasLine(const std::vector<TSessionOpeningLine>& lines, const std::string& text, bool warning) {
  for (const TSessionOpeningLine& line : lines)
    if (line.text == text) return line.warning == warning;
  ADD_FAILURE() << "no line \"" << text << "\"";
  return false;
}

// The Open session dialog names the programme: its runs, left unread, the
// data it embeds, every stage with its verdict and the USE_MODE.
TEST(SessionProgramme, OpeningDescribesTheProgramme) {
  TempDir dir;
  const std::string run = dir.File("fy.tdx");
  WriteAll(run, "fy run");
  TSessionState state = StateWithProgramme();
  state.programme->runs[0].path = run;
  const TSessionRead read = ParseSession(FormatSession(state));
  const std::vector<TSessionOpeningLine> lines = DescribeSessionOpening(read);
  EXPECT_TRUE(HasLine(lines,
                      "Tire programme of 2 runs: embedded data used (lateral, aligning, longitudinal, combined slip)",
                      false));
  EXPECT_TRUE(HasLine(lines, "Programme run: " + run + " (not read when the session opens; unchanged since the session was saved)", false));
  EXPECT_TRUE(HasLine(lines, "Programme run: /rig/combined.csv (not read when the session opens)", false));
  EXPECT_TRUE(HasLine(lines, "Tire programme: last fit 2 of 3 stages fitted, USE_MODE 4", false));
  EXPECT_TRUE(HasLine(lines, "Stage lateral: 84 points, good, RMS 14.67", false));
  EXPECT_TRUE(HasLine(lines, "Stage Fx combined: 1200 points, cancelled, RMS 40.5", false));
  EXPECT_TRUE(HasLine(lines, "Stage Mx: 0 points, not fitted: the data hold no measured Mx", false));
  EXPECT_EQ(lines.back().text, "Opening the session writes no file and runs nothing");
  // A changed run is a warning; a programme never fitted says so.
  WriteAll(run, "another run");
  state.programme->fit.reset();
  const std::vector<TSessionOpeningLine> later = DescribeSessionOpening(ParseSession(FormatSession(state)));
  EXPECT_TRUE(HasLine(later, "Programme run: " + run + " (not read when the session opens; the source changed since the session was saved)", true));
  EXPECT_TRUE(HasLine(later, "Tire programme: not fitted", false));
  // A poor stage gives its reasons.
  state.programme->fit = Programme().fit;
  state.programme->fit->stages[1].cancelled = false;
  state.programme->fit->stages[1].reasons = {{"low-r2", "R2 is 0.8", ""}, {"misfit", "RMS 5 times the noise", ""}};
  EXPECT_TRUE(HasLine(DescribeSessionOpening(ParseSession(FormatSession(state)), false),
                      "Stage Fx combined: 1200 points, poor (R2 is 0.8; RMS 5 times the noise), RMS 40.5", false));
}

}  // namespace
}  // namespace morvex
