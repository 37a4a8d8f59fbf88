// morvex-fit batch: many fits from one manifest, spread over the cores of
// one machine.
//
// Each line of the manifest is one fit:
//
//   DATA  CHANNEL  START  FREE  OPTIMIZER  OUTPUT
//
//   DATA       tire data file (.plt)
//   CHANNEL    lateral, aligning or longitudinal
//   START      a coefficient file (INI or .tir) to start from; "estimate" to
//              estimate the free coefficients from the data; or
//              "estimate:FILE" to take FILE first and then estimate (the
//              aligning moment takes its lateral set from FILE)
//   FREE       "all" or a comma-separated list of coefficient names
//   OPTIMIZER  lm, de, tr or de+tr
//   OUTPUT     the coefficient file to write (INI, or .tir by extension)
//
// After the six fields, a line may give the rated load and the radius
// the fit's single run takes as --fz0, --r0 and --trail-reading:
//
//   fz0=N  r0=M  trail-reading=book|fnomin
//
// Fields are separated by blanks or tabs; a '#' starts a comment; blank
// lines are skipped; relative paths are taken from the manifest's folder.
//
// Each fit runs as its own morvex-fit process, the very command a single
// run would use, so a batch result equals that fit run alone; at most
// `jobs` run at once, each on `threads` threads (by default MORVEX_THREADS,
// else the cores shared out among the jobs, so that fits do not crowd each
// other's cores).  One summary line per fit is printed in manifest
// order:
//
//   fit 3 data=lateral.plt channel=lateral optimizer=tr verdict=good cost=105925.8 seconds=0.41 exit=0
//
// The exit status is the worst of the fits' (2 an error, then 1 a failed
// optimizer, then 3 a poor verdict, then 0), and 2 for a manifest that
// cannot be read (nothing is run then).  A cluster goes further with an
// existing job runner: split the manifest and give each machine its part
// (see the README).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace morvex {

struct TBatchOptions {
  std::string manifest_path;
  int jobs = 0;                  // fits at once; 0: the number of cores
  int threads = 0;               // threads of each fit; 0: MORVEX_THREADS, else cores / jobs
  std::string executable;        // the morvex-fit program to run for each fit
};

// One fit of a manifest, as read.
struct TBatchEntry {
  int line = 0;  // 1-based line of the manifest
  std::string data, channel, start, free, optimizer, output;
  // The optional fields, as written ("" when absent).
  std::string fz0, r0, trail_reading;
  // The morvex-fit arguments of this fit (after the program name).
  std::vector<std::string> Arguments() const;
};

// Reads a manifest; relative paths are taken from its folder.  A line with
// the wrong number of fields, or an unknown channel or optimizer, raises
// Exception naming the file and line; so does an output that another line
// also writes, or that names the manifest or a file some fit reads.  A
// folder, or a manifest without a fit, raises Exception too.
std::vector<TBatchEntry> ReadBatchManifest(const std::string& path);

int RunBatchTool(const TBatchOptions& options, std::ostream& out, std::ostream& err);

}  // namespace morvex
