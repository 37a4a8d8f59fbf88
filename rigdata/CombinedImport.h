// From a raw drive/brake run at held slip angles to combined-slip points:
// the slip ratio swept while the wheel is held at a slip angle, with the
// forces and moments measured there (tiredata/CombinedData.h).
//
// The import runs the steps of the pure-slip import (RawImport.h) on the
// same run files, with the same options and report:
//   1. channels mapped by name, units and signs converted (besides the
//      pure-slip roles, the overturning and the rolling-resistance moment
//      when the run records them);
//   2. the same filters: missing and absurd values, warm-up (found in the
//      data, where the held slip angle tells the stretches apart too), time
//      window, load floor, pressure and speed windows; no pure-slip filter:
//      the slip angle is held, not filtered;
//   3. the set-points of inclination and load as for pure slip, then the
//      held slip angles as a third dimension, found from the data like the
//      inclinations (peaks held at least the dwell time, a tolerance from
//      the wobble held there) or given;
//   4. (inclination, load, slip angle) bins with too few samples dropped;
//   5. each bin's swept slip ratio averaged onto the cells of a common grid
//      (each cell's least-squares line at its centre, as for pure slip),
//      then taken from the samples' mean load to the held load along the
//      curve through the same cell at the neighbouring loads.
// A point is made where the longitudinal force covers the cell; the lateral
// force, the moments and the speed are NaN where the run does not record
// them or the cell holds too few of their samples.
//
// Signs: Morvex's (RunChannels.h).  The overturning moment Mx and the
// rolling-resistance moment My keep the ISO signs in Morvex's convention,
// as property files write them (My < 0 when rolling forward); SAE files
// give them as recorded, as public pipelines to ISO take them.
#pragma once

#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "rigdata/RawImport.h"
#include "tiredata/CombinedData.h"

namespace morvex {

struct TCombinedImportOptions {
  // Filters, set-points of inclination and load, the slip-ratio cell, the
  // mapping and the convention, as for pure slip (the channel is not used).
  TRawImportOptions run;
  std::vector<double> slip_angles;        // held slip angles (deg); empty: found from the data
  // deg either side of a held slip angle; NaN: found per set-point from the spread held there.
  double slip_angle_tolerance = std::numeric_limits<double>::quiet_NaN();
};

struct TCombinedBin {
  double inclination = 0, load = 0, slip_angle = 0;
  size_t samples = 0;
  std::string reason;    // why it was dropped; empty for a kept bin
};

struct TCombinedImportReport {
  TImportReport run;                              // the steps shared with the pure-slip import
  std::vector<TImportSetPoint> slip_angles;       // the held slip angles kept
  std::vector<TCombinedBin> bins;                 // every (inclination, load, slip angle) bin
  // What the run records besides the longitudinal force.
  bool lateral_force = false, aligning_moment = false, overturning_moment = false, rolling_moment = false,
       speed = false;
};

struct TCombinedImportResult {
  TCombinedDataSet data;           // empty when nothing usable remains (run.empty_reason says why)
  TCombinedImportReport report;
  TRunHeader header;
};

// The whole import of a run file's text.  Raises Exception for errors of
// the file (as the pure-slip import, and a run without a slip-angle
// channel) and for options that make no sense, naming the option.
TCombinedImportResult ImportCombinedText(std::string_view text, const TCombinedImportOptions& options);
TCombinedImportResult ImportCombinedFile(const std::string& path, const TCombinedImportOptions& options);

// The report as lines of text: the pure-slip import's, then the held slip
// angles, the bins and the grid.
std::string FormatCombinedImportReport(const TCombinedImportReport& report);

}  // namespace morvex
