// A whole test programme of one tire: many run files (delimited or TYDEX),
// each holding cornering sweeps, drive/brake sweeps or drive/brake sweeps at
// held slip angles, sorted into the data each fit stage takes.
//
// What a run feeds is found from its data, with the default import of each
// kind (RawImport.h, CombinedImport.h):
//   - lateral force and aligning moment: the slip angle swept at slip
//     ratio 0 (a load case of at least kMinSweepCells cells of the slip
//     grid; in a run holding combined slip, a sweep reaching beyond its
//     held angles, since the slip angle moves between them at slip ratio 0);
//   - longitudinal force: the slip ratio swept at slip angle 0 (as many
//     cells);
//   - combined slip: the slip ratio swept at held slip angles beyond the
//     pure-slip limit (max_slip_angle); its sweeps at slip angle 0 feed the
//     longitudinal set as well.
// Runs of one kind are merged: load cases of another inclination are
// added; at the same inclination the loads of both runs become the columns
// of one table on the slip cells they share (a load that both runs hold is
// kept from the run read first, and the line says so; a run that adds
// nothing to a stage gets no line for it).
//
// The result holds the data of each stage (each pure set only when some run
// gave it), one line per run and stage saying what it feeds with its
// set-points and points, the ranges the kept data cover in the units of a
// property file, the pressure and speed held, and one rated load and radius
// for every stage: the rated load (FNOMIN) of the first file giving one,
// else the middle held load; the unloaded radius (RFREE) of the first file
// giving one, else none.  Nothing usable in any run gives an empty result
// with the reason, not an error.  Errors of a file (it cannot be read, a
// channel is missing from every kind of import, a field is not a number)
// are Exceptions whose text starts with "<path>: "; an error of one kind
// of import only (a run without an aligning-moment channel) is a warning
// when the run feeds another stage.
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "rigdata/CombinedImport.h"
#include "rigdata/RawImport.h"
#include "tiredata/CombinedData.h"
#include "tiredata/TireDataSet.h"

namespace morvex {

// A load case with fewer slip cells than this is no sweep of its slip.
inline constexpr size_t kMinSweepCells = 8;

struct TProgrammeImportOptions {
  // Filters, set-points, cells, mapping and convention for every run (the
  // channel is set per kind).
  TRawImportOptions run;
  std::vector<double> slip_angles;   // held slip angles of the combined runs; empty: found
  double slip_angle_tolerance = std::numeric_limits<double>::quiet_NaN();
};

// What one run gives one stage.
struct TProgrammeFeed {
  std::string path;
  std::string stage;       // "lateral", "aligning", "longitudinal", "combined", or "nothing"
  std::string set_points;  // "inclinations 0, 2 deg; loads 2000, 4000 N" (combined: and slip angles)
  size_t points = 0;       // data points added (rows x loads, or combined points)
  std::string note;        // why nothing, or what was left out
};

// The ranges the kept data cover, as a property file writes them.
struct TProgrammeRanges {
  double fz_min = std::numeric_limits<double>::quiet_NaN(), fz_max = std::numeric_limits<double>::quiet_NaN();  // N
  double kappa_min = std::numeric_limits<double>::quiet_NaN(), kappa_max = std::numeric_limits<double>::quiet_NaN();
  double alpha_min = std::numeric_limits<double>::quiet_NaN(), alpha_max = std::numeric_limits<double>::quiet_NaN();  // rad
  double camber_min = std::numeric_limits<double>::quiet_NaN(), camber_max = std::numeric_limits<double>::quiet_NaN();  // rad
};

struct TProgrammeResult {
  std::optional<TTireDataSet> lateral, aligning, longitudinal;
  TCombinedDataSet combined;
  std::vector<TProgrammeFeed> feeds;     // per run, one per stage it feeds (or one "nothing")
  std::vector<std::string> reports;      // per run, its import reports as text
  TProgrammeRanges ranges;
  double pressure = std::numeric_limits<double>::quiet_NaN();  // Pa held: NOMPRES and INFLPRES
  double longvl = std::numeric_limits<double>::quiet_NaN();    // m/s held: LONGVL
  double fz0 = std::numeric_limits<double>::quiet_NaN();       // N, one for every stage
  std::string fz0_source;
  double r0 = std::numeric_limits<double>::quiet_NaN();        // m; NaN: no run gives one
  std::string r0_source;
  std::vector<std::string> warnings;
  std::string empty_reason;              // set when nothing usable remains

  bool Empty() const { return !lateral && !aligning && !longitudinal && combined.Empty(); }
};

TProgrammeResult ImportProgramme(const std::vector<std::string>& paths, const TProgrammeImportOptions& options = {});

// The result as text: one line per run and stage, then the ranges, the
// pressure, the speed, Fz0 and R0, the warnings.
std::string FormatProgramme(const TProgrammeResult& result);

}  // namespace morvex
