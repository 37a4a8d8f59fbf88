// The rated load Fz0 as the engineer's choice.
//
// Fz0 is not a property of the tire that a fit finds: it is the load at
// which the coefficients are written down.  Every load term of the pure-slip
// equations is a function of the normalised load change
//   dfz = (Fz - Fz0)/Fz0,
// and writing the same tire at another rated load F1 = r*F0 only relabels
// it:  1 + dfz0 = r*(1 + dfz1), so  dfz0 = r*dfz1 + (r - 1).
// Substituting that into every place the kernels use Fz0 gives new
// coefficients with exactly the same curves (MagicFormulaKernels.h):
//   - a polynomial a + b*dfz (+ c*dfz^2) in dfz0 is again one in dfz1;
//   - PKy1*Fz0 and Fz/(PKy2*Fz0) keep their products: PKy1 and PKy2 divide by r;
//   - the trail's peak carries R0/Fz0: QDz1 and QDz2 multiply by r as well;
//   - exp(PKx3*dfz0) = exp(PKx3*(r - 1))*exp(r*PKx3*dfz1): PKx3 multiplies by
//     r and the factor exp(PKx3*(r - 1)) goes into PKx1 and PKx2.
// Every coefficient not named above is free of Fz0 and stays as it is.
//
// So a fit never needs to move Fz0, and `all` never frees it.  A fit that
// does move it (the user ticked it) leaves the other channels' coefficients
// written at the old value.
#pragma once

#include <string>
#include <string_view>

#include "tiremodel/CoefficientSet.h"
#include "tiremodel/CoefficientTable.h"
#include "tiremodel/MagicFormula.h"

namespace morvex {

// True for the values a fit of "all" never frees: the rated load Fz0 and
// the unloaded radius R0 (which has no free flag at all), the engineer's
// choices.  Every other coefficient with a free flag is freed by "all".
bool EngineersChoice(std::string_view name);
inline bool FreedByAll(const TCoefficientInfo& info) { return info.HasFreeFlag() && !EngineersChoice(info.name); }

// The sentence of a fit report when a fit freed Fz0 on the user's word.
extern const char* const kRatedLoadFreedNote;

// The channel's coefficients, written at rated load `old_fz0`, re-expressed
// at `new_fz0` in place (Fz0 itself included where the struct has it).  The
// aligning coefficients need no lateral ones: their own load terms and the
// R0/Fz0 factor are all they carry.
void ReexpressLateral(TLateralCoefficients& c, double new_fz0);
void ReexpressAligning(TAligningCoefficients& c, double old_fz0, double new_fz0);
void ReexpressLongitudinal(TLongitudinalCoefficients& c, double new_fz0);

// Which channels of a set to re-express.
struct TReexpressChannels {
  bool lateral = true;
  bool aligning = true;
  bool longitudinal = true;
};

// Re-expresses the set's coefficients of the chosen channels at `new_fz0`
// and writes Fz0 = `new_fz0`; every curve of those channels stays the same.
// Only texts whose value changes are rewritten (with 17 significant digits,
// so that nothing is lost); free flags are left alone.  Raises Exception when
// the set's Fz0 or `new_fz0` is not a positive finite number, or when a new
// value would not be finite; the set is then unchanged.
void ReexpressAtFz0(TCoefficientSet& set, double new_fz0, TReexpressChannels channels = {});

// The same when the set's Fz0 text already holds the new value and the
// coefficients are still written at `old_fz0` (the window, after the user
// typed a new rated load).
void ReexpressFromFz0(TCoefficientSet& set, double old_fz0, TReexpressChannels channels = {});

// After a command changed the set's Fz0 text from `fz0_before` (a fit or a
// start-value estimate with Fz0 free): the chosen channels, whose
// coefficients are still written at the old value, are re-expressed at the
// new one.  Nothing happens when the text is unchanged, when either text is
// not a positive load, or when a value cannot be re-expressed.
void FollowRatedLoad(TCoefficientSet& set, const std::string& fz0_before, TReexpressChannels channels);

}  // namespace morvex
