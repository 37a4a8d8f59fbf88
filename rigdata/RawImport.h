// From a raw measured run to fitting data: the samples of a run file
// (RunFile.h) become a data set of one channel (lateral force, aligning
// moment or longitudinal force), one load case per inclination, one column
// per load, rows on a common slip grid.
//
// The steps, each counted in the report:
//   1. map the channels by name (RunChannels.h aliases, or the user's
//      mapping), convert their units and signs to Morvex's;
//   2. drop samples missing a needed value, the warm-up (the first N
//      seconds, or outside a time window), samples below the load floor,
//      outside the pressure and speed windows around their set-points (the
//      most held value unless given), and those that are not pure slip
//      (|slip ratio| above a limit for side-slip channels, |slip angle| for
//      the longitudinal one);
//   3. find the set-points of inclination and load as peaks of the samples'
//      histogram held at least a minimum time (or take the user's lists),
//      and keep the samples within a tolerance of one;
//   4. drop (inclination, load) bins with too few samples;
//   5. average each bin's swept slip onto cells of a common grid: a cell's
//      value is its samples' least-squares line evaluated at the cell
//      centre, so that samples crowded to one side of a cell do not shift
//      the curve (kept to 6 significant digits); only cells that every load
//      of the inclination covers make rows, since a load case is a full
//      table.
// The binned set, the kept raw samples (for a chart) and the report come
// back together; an import that ends empty carries the step that emptied
// it and why, and is not an error.  Errors of the file itself (a missing
// channel, a unit that cannot be read, a field that is not a number, a
// TYDEX file cut short) are exceptions that name the line and column.
//
// Cost: one pass over the text for the header, one for the samples; the
// rest is linear in the samples.  See RunFile.h for memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "rigdata/RunChannels.h"
#include "rigdata/RunFile.h"
#include "tiredata/TireDataSet.h"
#include "tiremodel/Channel.h"

namespace morvex {

// Which measured quantity becomes the data set: the model's channel, the
// one a fit of the data takes.
using TImportChannel = TFitChannel;

struct TRawImportOptions {
  TImportChannel channel = TImportChannel::kLateral;
  TRunReadOptions read;                                   // format, delimiter, decimal separator
  TRunConvention convention = TRunConvention::kAuto;    // auto: from the load's sign and the slope of Fy
  std::array<std::string, kRunRoleCount> mapping;         // channel name per role; empty: by alias

  // Filters (a NaN set-point means "the most held value").
  // Drop the first seconds of the run; NaN: find the warm-up in the data (a
  // first stretch whose inclination and load are held again later with
  // another force level or sweep) and drop it; 0: keep everything.
  double warmup_seconds = std::numeric_limits<double>::quiet_NaN();
  double time_from = -std::numeric_limits<double>::infinity();  // keep samples from this time (s)
  double time_to = std::numeric_limits<double>::infinity();     // ... up to this time (s)
  double load_floor = 200;                                // N: drop samples with a smaller load
  bool pressure_window = true;                            // keep one pressure only
  double pressure_setpoint = std::numeric_limits<double>::quiet_NaN();  // kPa
  double pressure_tolerance = 5;                          // kPa either side
  bool speed_window = true;                               // keep one speed only
  double speed_setpoint = std::numeric_limits<double>::quiet_NaN();     // km/h
  double speed_tolerance = 5;                             // km/h either side
  double max_slip_ratio = 0.005;                          // pure side slip: |slip ratio| at most this
  double max_slip_angle = 0.3;                            // pure longitudinal slip: |slip angle| at most this (deg)

  // Set-points.
  std::vector<double> inclinations;                       // deg; empty: found from the data
  // deg either side of a set-point; NaN: found per set-point from the spread held there.
  double inclination_tolerance = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> loads;                              // N; empty: found from the data
  // N either side of a set-point; NaN: found per set-point, relative to its
  // size and to the wobble held there.
  double load_tolerance = std::numeric_limits<double>::quiet_NaN();
  double min_dwell_seconds = 5;                           // a found set-point is held at least this long
  size_t min_bin_samples = 50;                            // fewer samples drop an (inclination, load) bin

  // The slip grid.
  double slip_angle_cell = 0.5;                           // deg
  double slip_ratio_cell = 0.01;                          // fraction
  size_t min_cell_samples = 3;                            // fewer samples leave a cell uncovered
  // Take each cell's value to its column's load (the loads of a cell's
  // samples wobble around the set-point), along the slope over the load
  // between neighbouring columns.
  bool load_wobble_correction = true;

  size_t row_limit = 0;                                   // read at most this many rows (preview); 0: all
};

// One filter step of the report.
struct TImportStep {
  std::string name;      // "load floor"
  std::string limit;     // "load >= 200 N"
  size_t dropped = 0;
  size_t remaining = 0;
};

struct TImportSetPoint {
  double value = 0;      // the set-point's centre (mean of its samples)
  size_t samples = 0;
  double tolerance = 0;  // either side; a fraction of the value when `relative`
  bool relative = false;
};

struct TImportBin {
  double inclination = 0;
  double load = 0;
  size_t samples = 0;
  std::string reason;    // why it was dropped; empty for a kept bin
};

// Which file column each role was read from.
struct TImportMapping {
  TRunRole role = TRunRole::kTime;
  std::string column;    // empty: not in the file
  std::string unit;      // the file's unit
  double factor = 1;     // file value (after any TYDEX factor) to the import's unit
  double sign = 1;       // of the convention
};

struct TImportReport {
  std::string file_title;
  TRunFormat format = TRunFormat::kDelimited;
  TRunConvention convention = TRunConvention::kAuto;   // the one applied
  std::string convention_note;                            // how it was chosen, or why it looks wrong
  std::vector<TImportMapping> mapping;
  size_t samples_read = 0;
  bool preview = false;                                   // stopped at the row limit
  std::vector<TImportStep> steps;
  std::vector<TImportSetPoint> pressures, speeds;         // found in the data (the window keeps one)
  std::vector<TImportSetPoint> inclinations, loads;       // kept set-points
  std::vector<TImportBin> bins;                           // every bin, kept or dropped
  std::vector<std::string> setpoint_notes;                // values joined or not held, so never set-points
  std::string warmup;                                     // the warm-up found and dropped, or why none was
  std::vector<std::string> grid_notes;                    // per inclination: cells kept and dropped
  std::vector<std::string> warnings;
  std::vector<std::string> unit_doubts;                   // the warnings about units that contradict their values
  std::string empty_reason;                               // set when nothing usable remains
  // Rated load and unloaded radius the file gives (TYDEX FNOMIN, RFREE), NaN
  // when none; the Fz0 offered for fitting: the file's, else the middle held load.
  double nominal_load = std::numeric_limits<double>::quiet_NaN();
  double unloaded_radius = std::numeric_limits<double>::quiet_NaN();
  double suggested_fz0 = std::numeric_limits<double>::quiet_NaN();
  std::string suggested_fz0_source;                       // "FNOMIN of the file", "the middle held load"
  double suggested_r0 = std::numeric_limits<double>::quiet_NaN();
};

// The kept raw samples, in Morvex's units and signs, for a chart.
struct TRawPoints {
  std::vector<int32_t> case_index;   // load case of the data set
  std::vector<int32_t> load_index;   // load column within it
  std::vector<double> slip;
  std::vector<double> value;
  size_t size() const { return slip.size(); }
};

struct TRawImportResult {
  TTireDataSet data;                 // empty when nothing usable remains
  TImportReport report;
  TRawPoints raw;
  TRunHeader header;                 // the file's channels, for a mapping editor
};

// The whole import of a run file's text.  Raises Exception for errors of
// the file (see above) and for options that make no sense (a tolerance or
// cell that is not positive), naming the option.
TRawImportResult ImportRunText(std::string_view text, const TRawImportOptions& options);
// The same from a file, read whole within the size limit of tire data files.
TRawImportResult ImportRunFile(const std::string& path, const TRawImportOptions& options);

// The report as lines of text, for the terminal and the import window.
std::string FormatImportReport(const TImportReport& report);

// "lateral", "aligning", "longitudinal".
std::string_view ImportChannelName(TImportChannel channel);

// Sets options from "key=value" items (a comma-separated list), as
// morvex-fit's --filters takes them:
//   warmup, time-from, time-to, load-floor, pressure, pressure-tol,
//   speed, speed-tol, max-slip-ratio, max-slip-angle, ia-tol, load-tol,
//   dwell, min-bin, cell, min-cell
// "pressure=off" and "speed=off" switch a window off, "pressure=auto" back
// to the most held value; "warmup=auto", "load-tol=auto" and "ia-tol=auto"
// (the defaults) find the warm-up and the tolerances in the data, "warmup=0" keeps
// the whole run.  Raises Exception naming an unknown key or a
// value that is not a number.
void ApplyFilterText(TRawImportOptions& options, std::string_view text);

}  // namespace morvex
