// The genetic search followed by the trust region ("de+tr").
//
// The search explores the intervals of the settings file; the trust region
// then polishes.  A search can end in a worse valley than its own start,
// so the trust region runs from the search's best member and from each
// further start given (the values the search began from, an estimate), and
// the lowest cost wins: the pair never ends worse than the trust region
// alone from any of those starts.
#pragma once

#include <string>
#include <vector>

#include "fitting/FitCommands.h"

namespace morvex {

// Runs the search on `set`, then the trust region from the search's result,
// from the set's values before the search and from each of `other_starts`
// (whole coefficient sets; only the channel's free coefficients are taken
// from them), and writes the best result into `set`.  The outcome is that of
// the winning trust-region run, labelled "de+tr", with the start cost of the
// search's start and the verdict on the result.  Errors as RunFitCommand.
TFitOutcome RunSearchThenTrustRegion(TFitChannel channel, TCoefficientSet& set, const TTireDataSet& data,
                                     const std::string& settings_path, IFitHost& host,
                                     const std::vector<const TCoefficientSet*>& other_starts = {});

}  // namespace morvex
