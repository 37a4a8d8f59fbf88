// The channels of the model that a fit, an import or a file can be about:
// the lateral force and the aligning moment under side slip, the
// longitudinal force under longitudinal slip.  One list for every layer,
// so that a new channel is added here once.
#pragma once

namespace morvex {

enum class TFitChannel { kLateral, kAligning, kLongitudinal };

}  // namespace morvex
