// What the import does by default with runs that are not what the channel
// needs or not what their header says: a run that sweeps the other slip,
// units that contradict the values, absurd samples, a warm-up to keep, and
// the TYDEX reader's constants, byte order mark and data blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "examples/RunRecorder.h"
#include "numerics/LxTypes.h"
#include "rigdata/RawImport.h"
#include "rigdata/RunFile.h"
#include "rigdata/tests/RigRecording.h"

namespace morvex {
namespace {

const TMemoryCoefficientSet& Car() {
  static const TMemoryCoefficientSet tire = examples::ReadCoefficientValues(
      std::string(MORVEX_SOURCE_DIR) + "/testing/data/published-tires/car-185-80R14.txt");
  return tire;
}

// A short programme: one inclination, three loads.
rigtest::TRigProgramme Short(uint32_t seed) {
  rigtest::TRigProgramme p;
  p.seed = seed;
  p.inclinations = {0};
  p.load_factors = {0.75, 1.0, 1.25};
  p.warmup_seconds = 0;
  return p;
}

TRawImportResult Import(const std::string& text, TImportChannel channel) {
  TRawImportOptions options;
  options.channel = channel;
  return ImportRunText(text, options);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A drive/brake run imported for a side-slip channel (and a cornering run
// for the longitudinal one) is refused with what it sweeps and where it
// belongs, never fitted from the few points at zero slip it holds.
TEST(ImportDefaults, RunThatDoesNotSweepTheChannelsSlipIsRefused) {
  rigtest::TRigProgramme p = Short(5);
  p.cornering = false;
  const std::string drive_brake = rigtest::WriteDelimited(rigtest::RecordRig(Car(), p));
  for (TImportChannel channel : {TImportChannel::kLateral, TImportChannel::kAligning}) {
    const TRawImportResult r = Import(drive_brake, channel);
    EXPECT_TRUE(r.data.Empty());
    EXPECT_TRUE(Contains(r.report.empty_reason, "sweeps the slip ratio")) << r.report.empty_reason;
    EXPECT_TRUE(Contains(r.report.empty_reason, "import it for the longitudinal channel")) << r.report.empty_reason;
  }
  EXPECT_FALSE(Import(drive_brake, TImportChannel::kLongitudinal).data.Empty());

  p = Short(6);
  p.drive_brake = false;
  const TRawImportResult cornering =
      Import(rigtest::WriteDelimited(rigtest::RecordRig(Car(), p)), TImportChannel::kLongitudinal);
  EXPECT_TRUE(cornering.data.Empty());
  EXPECT_TRUE(Contains(cornering.report.empty_reason, "sweeps the slip angle")) << cornering.report.empty_reason;
  EXPECT_TRUE(Contains(cornering.report.empty_reason, "lateral or aligning channel"));
}

// Replaces the units row of a delimited recording.
std::string WithUnits(std::string text, const std::string& units) {
  const size_t first = text.find("\r\n") + 2, second = text.find("\r\n", first) + 2;
  const size_t third = text.find("\r\n", second);
  return text.replace(second, third - second, units);
}

// Scales one comma-separated column of every data row.
std::string ScaledColumn(const std::string& text, size_t column, double factor) {
  std::string out;
  size_t pos = 0, line = 0;
  while (pos < text.size()) {
    const size_t end = text.find("\r\n", pos);
    std::string row = text.substr(pos, end - pos);
    if (++line > 3) {
      size_t from = 0;
      for (size_t k = 0; k < column; ++k) from = row.find(',', from) + 1;
      const size_t to = row.find(',', from);
      const std::string field = row.substr(from, to - from);
      if (!field.empty()) row.replace(from, to - from, std::to_string(std::stod(field) * factor));
    }
    out += row + "\r\n";
    pos = end + 2;
  }
  return out;
}

// Units that contradict their values are named with their channel; an
// import they leave empty says so in its reason.
TEST(ImportDefaults, MislabelledUnitsAreNamed) {
  const std::string run = rigtest::WriteDelimited(rigtest::RecordRig(Car(), Short(7)));
  // Columns: ET,V,SA,IA,P,FX,FY,FZ,MZ,SL.
  const TRawImportResult rad = Import(WithUnits(run, "s,kph,rad,deg,kPa,N,N,N,Nm,-"), TImportChannel::kLateral);
  ASSERT_FALSE(rad.report.unit_doubts.empty());
  EXPECT_TRUE(Contains(rad.report.unit_doubts[0], "slip angle channel SA (unit 'rad')")) << rad.report.unit_doubts[0];
  EXPECT_TRUE(Contains(rad.report.unit_doubts[0], "degrees labelled rad"));

  const TRawImportResult percent =
      Import(ScaledColumn(run, 9, 100), TImportChannel::kLongitudinal);  // per cent, labelled "-"
  ASSERT_FALSE(percent.report.unit_doubts.empty());
  EXPECT_TRUE(Contains(percent.report.unit_doubts[0], "slip ratio channel SL")) << percent.report.unit_doubts[0];
  EXPECT_TRUE(Contains(percent.report.unit_doubts[0], "per cent"));

  // Every force in kN, labelled N: nothing is left above the load floor,
  // and the refusal names the load channel's unit.
  std::string kilo = run;
  for (size_t column : {5, 6, 7}) kilo = ScaledColumn(kilo, column, 1e-3);
  const TRawImportResult kn = Import(kilo, TImportChannel::kLateral);
  EXPECT_TRUE(kn.data.Empty());
  EXPECT_TRUE(Contains(kn.report.empty_reason, "load channel FZ")) << kn.report.empty_reason;
  EXPECT_TRUE(Contains(kn.report.empty_reason, "kN labelled N"));

  // Only the lateral force in kN: the load is fine, the force is not.
  const TRawImportResult fy = Import(ScaledColumn(run, 6, 1e-3), TImportChannel::kLateral);
  bool named = false;
  for (const std::string& w : fy.report.unit_doubts) named = named || Contains(w, "lateral force channel FY");
  EXPECT_TRUE(named) << FormatImportReport(fy.report);

  // Right units: no doubt.
  EXPECT_TRUE(Import(run, TImportChannel::kLateral).report.unit_doubts.empty());
}

// One absurd sample (1e308 where a rig wrote "no value" its own way) is
// dropped and counted, and no cell of the data is left non-finite.
TEST(ImportDefaults, AbsurdSampleIsDroppedAndCounted) {
  std::string run = rigtest::WriteDelimited(rigtest::RecordRig(Car(), Short(8)));
  // The lateral force of the 500th data row.
  size_t pos = 0;
  for (int k = 0; k < 503; ++k) pos = run.find("\r\n", pos) + 2;
  size_t from = pos;
  for (int k = 0; k < 6; ++k) from = run.find(',', from) + 1;
  run.replace(from, run.find(',', from) - from, "1e308");
  const TRawImportResult r = Import(run, TImportChannel::kLateral);
  ASSERT_FALSE(r.data.Empty()) << FormatImportReport(r.report);
  bool counted = false;
  for (const TImportStep& s : r.report.steps) counted = counted || (s.name == "absurd values" && s.dropped == 1);
  EXPECT_TRUE(counted) << FormatImportReport(r.report);
  for (const TLoadCase& lc : r.data.Cases)
    for (double v : lc.Values) EXPECT_TRUE(std::isfinite(v));
}

// The warm-up: found and named by default, kept with warmup=0, and a run
// that starts straight with its programme loses nothing.
TEST(ImportDefaults, WarmupFoundKeptOnRequestAndNeverInvented) {
  rigtest::TRigProgramme p = Short(9);
  p.warmup_seconds = 45;
  p.warmup_grip = 0.93;
  const std::string run = rigtest::WriteDelimited(rigtest::RecordRig(Car(), p));
  TRawImportOptions options;
  const TRawImportResult found = ImportRunText(run, options);
  EXPECT_TRUE(Contains(found.report.warmup, "dropped from 0 s to 44.95 s")) << found.report.warmup;
  EXPECT_TRUE(Contains(FormatImportReport(found.report), "Warm-up: dropped"));

  ApplyFilterText(options, "warmup=0");
  const TRawImportResult kept = ImportRunText(run, options);
  EXPECT_TRUE(kept.report.warmup.empty());
  for (const TImportStep& s : kept.report.steps) EXPECT_NE(s.name, "warm-up");
  ApplyFilterText(options, "warmup=auto");
  EXPECT_TRUE(std::isnan(options.warmup_seconds));

  // No warm-up, and the programme run twice: the first pass is data.
  rigtest::TRigProgramme twice = Short(10);
  twice.load_factors = {0.75, 1.0, 1.25, 0.75, 1.0, 1.25};
  const TRawImportResult none = Import(rigtest::WriteDelimited(rigtest::RecordRig(Car(), twice)), TImportChannel::kLateral);
  EXPECT_TRUE(Contains(none.report.warmup, "none found")) << none.report.warmup;
  for (const TImportStep& s : none.report.steps) EXPECT_NE(s.name, "warm-up");
}

// Loads 25 % of Fz0 apart stay apart at a +/-3 % wobble; two loads closer
// than twice the wobble become one set-point with a line saying so.
TEST(ImportDefaults, NeighbouringLoadsNeitherMergeNorVanishSilently) {
  rigtest::TRigProgramme p = Short(11);
  p.load_factors = {0.5, 0.75, 1.0, 1.25, 1.5};
  p.drift = 0.02;
  p.rotation = 0.01;
  const TRawImportResult apart = Import(rigtest::WriteDelimited(rigtest::RecordRig(Car(), p)), TImportChannel::kLateral);
  EXPECT_EQ(apart.report.loads.size(), 5u) << FormatImportReport(apart.report);
  EXPECT_TRUE(apart.report.setpoint_notes.empty());

  p.load_factors = {0.75, 1.0, 1.15, 1.25};
  const TRawImportResult close = Import(rigtest::WriteDelimited(rigtest::RecordRig(Car(), p)), TImportChannel::kLateral);
  EXPECT_EQ(close.report.loads.size(), 3u) << FormatImportReport(close.report);
  ASSERT_EQ(close.report.setpoint_notes.size(), 1u) << FormatImportReport(close.report);
  EXPECT_TRUE(Contains(close.report.setpoint_notes[0], "taken as one set-point"));
  EXPECT_TRUE(Contains(FormatImportReport(close.report), "Set-point note: "));

  // Closer still, held one after the other: one stretch of two levels.
  for (const auto& [seed, factors] : {std::pair{12u, std::vector<double>{0.75, 1.0, 1.08, 1.25}},
                                      std::pair{13u, std::vector<double>{0.8, 0.86, 1.0, 1.2}}}) {
    p = Short(seed);
    p.load_factors = factors;
    p.drift = 0.025;
    p.rotation = 0.01;
    const TRawImportResult joined =
        Import(rigtest::WriteDelimited(rigtest::RecordRig(Car(), p)), TImportChannel::kLateral);
    const std::string shown = FormatImportReport(joined.report);
    if (joined.report.loads.size() < factors.size()) {
      ASSERT_EQ(joined.report.setpoint_notes.size(), 1u) << shown;
      EXPECT_TRUE(Contains(joined.report.setpoint_notes[0], "taken as one set-point")) << shown;
    }
  }
}

// TYDEX: a byte order mark, FNOMIN and RFREE in their units, the rows of
// every data block, and channels named after the samples refused.
TEST(ImportDefaults, TydexConstantsMarkAndBlocks) {
  const std::string text =
      "\xEF\xBB\xBF**HEADER\n"
      "**CONSTANTS\n"
      "FNOMIN    Rated load                    kN        4.5\n"
      "RFREE     Unloaded radius               mm        313.5\n"
      "**MEASURCHANNELS\n"
      "SLIPANGL  Slip angle                    deg       1\n"
      "FYW       Lateral force                 N         1\n"
      "**MEASURDATA\n"
      "1 10\n2 20\n"
      "**COMMENTS\n! between the sweeps\n"
      "**MEASURDATA\n"
      "3 30\n"
      "**END\n";
  const TRunHeader header = ReadRunHeader(text);
  EXPECT_EQ(header.format, TRunFormat::kTydex);
  EXPECT_DOUBLE_EQ(header.nominal_load, 4500);
  EXPECT_DOUBLE_EQ(header.unloaded_radius, 0.3135);
  EXPECT_EQ(header.data_blocks, 2u);
  const TRunTable table = ReadRunRows(text, header, {0, 1});
  ASSERT_EQ(table.rows, 3u);
  EXPECT_EQ(table.values[1][2], 30);

  // A constant that cannot be read is not offered, and the file says why.
  std::string bad = text;
  bad.replace(bad.find("4.5"), 3, "abc");
  const TRunHeader unread = ReadRunHeader(bad);
  EXPECT_TRUE(std::isnan(unread.nominal_load));
  ASSERT_EQ(unread.notes.size(), 1u);
  EXPECT_TRUE(Contains(unread.notes[0], "FNOMIN"));

  std::string late = text;
  late.replace(late.find("**COMMENTS"), 10, "**MEASURCHANNELS");
  try {
    ReadRunHeader(late);
    ADD_FAILURE() << "channels after the samples were read";
  } catch (const Exception& e) {
    EXPECT_TRUE(Contains(e.what(), "Line 11: a **MEASURCHANNELS block after the samples")) << e.what();
  }
  // The data block left open is still a file cut short.
  std::string cut = text.substr(0, text.find("**END"));
  EXPECT_THROW(ReadRunHeader(cut), Exception);
}

}  // namespace
}  // namespace morvex
