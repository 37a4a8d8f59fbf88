#include "tiremodel/DemoModels.h"

#include "numerics/LxBasics.h"
#include "tiremodel/MagicFormulaKernels.h"

namespace morvex {

namespace {

// Checks a finished cost pass.  The flags are checked after the sum has
// been rounded to double (as LastCost stores it), so a sum beyond the double
// range is an overflow of this evaluation rather than an infinite LastCost.
Extended FinishCost(Extended sum) {
  volatile double rounded = static_cast<double>(sum);
  (void)rounded;
  RaiseFpFaults();
  return sum;
}

Extended StoreLastCost(Extended sum) {
  LastCost = static_cast<double>(sum);
  return sum;
}

}  // namespace

#define MORVEX_ROUND(name) c.name = static_cast<double>(name);
#define MORVEX_SET(name) name = c.name;
#define MORVEX_FIELD_CASE(name) \
  if (key == #name) return &name;

// ------------------------------------------------------------ TDemoModel1

TLateralCoefficients TDemoModel1::Coefficients() const {
  TLateralCoefficients c;
  MORVEX_LATERAL_COEFFICIENTS(MORVEX_ROUND)
  return c;
}

void TDemoModel1::Assign(const TCoefficientSet& set) {
  const TLateralCoefficients c = ReadLateralCoefficients(set);
  MORVEX_LATERAL_COEFFICIENTS(MORVEX_SET)
}

Extended* TDemoModel1::Field(std::string_view key) {
  MORVEX_LATERAL_COEFFICIENTS(MORVEX_FIELD_CASE)
  return nullptr;
}

Extended TDemoModel1::ComputeCost() { return StoreLastCost(EvaluateCost()); }

Extended TDemoModel1::EvaluateCost() const {
  // Rounding happens inside the checked span: a field beyond the double
  // range is an overflow, not an infinite coefficient.
  ClearFpFaults();
  const TLateralCoefficients c = Coefficients();
  const Extended sum = data_ ? mf::LateralResidualSum<Extended>(*data_, c) : 0.0L;
  return FinishCost(sum);
}

// ------------------------------------------------------------ TDemoModel2

TLateralCoefficients TDemoModel2::LateralCoefficients() const {
  TLateralCoefficients c;
  MORVEX_LATERAL_COEFFICIENTS(MORVEX_ROUND)
  return c;
}

TAligningCoefficients TDemoModel2::AligningCoefficients() const {
  TAligningCoefficients c;
  MORVEX_ALIGNING_COEFFICIENTS(MORVEX_ROUND)
  return c;
}

void TDemoModel2::Assign(const TCoefficientSet& set) {
  const TLateralCoefficients lateral = ReadLateralCoefficients(set);
  const TAligningCoefficients aligning = ReadAligningCoefficients(set);
  {
    const TLateralCoefficients& c = lateral;
    MORVEX_LATERAL_COEFFICIENTS(MORVEX_SET)
  }
  {
    const TAligningCoefficients& c = aligning;
    MORVEX_ALIGNING_COEFFICIENTS(MORVEX_SET)
  }
}

Extended* TDemoModel2::Field(std::string_view key) {
  MORVEX_LATERAL_COEFFICIENTS(MORVEX_FIELD_CASE)
  MORVEX_ALIGNING_COEFFICIENTS(MORVEX_FIELD_CASE)
  return nullptr;
}

Extended TDemoModel2::ComputeCost() { return StoreLastCost(EvaluateCost()); }

Extended TDemoModel2::EvaluateCost() const {
  ClearFpFaults();
  const TLateralCoefficients lateral = LateralCoefficients();
  const TAligningCoefficients aligning = AligningCoefficients();
  const Extended sum =
      data_ ? mf::AligningResidualSum<Extended>(*data_, lateral, aligning, CurrentTireRadius, true)
            : 0.0L;
  return FinishCost(sum);
}

Extended TDemoModel2::ComputeCost(TAligningLateralCache& cache) { return StoreLastCost(EvaluateCost(cache)); }

Extended TDemoModel2::EvaluateCost(TAligningLateralCache& cache) const {
  if (!data_) return EvaluateCost();
  const TLateralCoefficients lateral = LateralCoefficients();
  if (!mf::AligningCacheFits(cache, *data_, lateral, lateral.Fz0, true))
    mf::FillAligningCache(*data_, lateral, lateral.Fz0, true, cache);
  ClearFpFaults();
  const TLateralCoefficients checked = LateralCoefficients();
  const TAligningCoefficients aligning = AligningCoefficients();
  const Extended sum =
      mf::AligningResidualSumCached<Extended>(*data_, checked, aligning, CurrentTireRadius, true, cache);
  return FinishCost(sum);
}

// ------------------------------------------------------------ TDemoModel3

TLongitudinalCoefficients TDemoModel3::Coefficients() const {
  TLongitudinalCoefficients c;
  MORVEX_LONGITUDINAL_COEFFICIENTS(MORVEX_ROUND)
  return c;
}

void TDemoModel3::Assign(const TCoefficientSet& set) {
  const TLongitudinalCoefficients c = ReadLongitudinalCoefficients(set);
  MORVEX_LONGITUDINAL_COEFFICIENTS(MORVEX_SET)
}

Extended* TDemoModel3::Field(std::string_view key) {
  MORVEX_LONGITUDINAL_COEFFICIENTS(MORVEX_FIELD_CASE)
  return nullptr;
}

Extended TDemoModel3::ComputeCost() { return StoreLastCost(EvaluateCost()); }

Extended TDemoModel3::EvaluateCost() const {
  ClearFpFaults();
  const TLongitudinalCoefficients c = Coefficients();
  const Extended sum = data_ ? mf::LongitudinalResidualSum<Extended>(*data_, c) : 0.0L;
  return FinishCost(sum);
}

#undef MORVEX_ROUND
#undef MORVEX_SET
#undef MORVEX_FIELD_CASE

}  // namespace morvex
