#include "fitting/StartEstimate.h"

#include <stdexcept>

namespace morvex {

TStartEstimate EstimateStartValues(TFitChannel /*channel*/, TCoefficientSet& /*set*/,
                                   const TTireDataSet& data) {
  if (data.Cases.empty()) throw std::invalid_argument("The data set holds no load case.");
  return {};
}

}  // namespace morvex
