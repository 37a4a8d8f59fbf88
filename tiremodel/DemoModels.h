// The model objects that the Levenberg-Marquardt fitter drives: one per
// channel, each a plain object whose fields are the channel's coefficients
// in extended precision.  The fitter receives the addresses of the free
// fields (Field), writes trial values straight into them and calls
// ComputeCost, which reads every field afresh.
//
// ComputeCost rounds the fields to double, evaluates the channel with the
// same double-precision code as the one-point functions and cost sums of
// MagicFormula.h, and adds each (measured - predicted)^2, formed in double,
// to an extended-precision sum.  It checks the floating-point flags once
// per call (a fault raises EZeroDivide, EOverflow or EInvalidOp, LastCost
// untouched), otherwise stores the sum in LastCost and returns it.
//
// A model evaluates over the data set it was given, which it does not own
// and which must outlive it; without one (nullptr) every cost is 0.
#pragma once

#include <string_view>

#include "numerics/LxTypes.h"
#include "tiredata/TireDataSet.h"
#include "tiremodel/CoefficientSet.h"
#include "tiremodel/MagicFormula.h"

namespace morvex {

#define MORVEX_EXTENDED_FIELD(name) Extended name = 0.0L;

// Lateral force: Fz0 and the 18 lateral coefficients.
class TDemoModel1 {
 public:
  MORVEX_LATERAL_COEFFICIENTS(MORVEX_EXTENDED_FIELD)

  explicit TDemoModel1(const TTireDataSet* data = nullptr) : data_(data) {}
  virtual ~TDemoModel1() = default;

  virtual Extended ComputeCost();
  // The same cost without storing it in LastCost: safe on several threads
  // at once, each with its own model.
  Extended EvaluateCost() const;

  void SetDataSet(const TTireDataSet* data) { data_ = data; }
  const TTireDataSet* DataSet() const { return data_; }
  // Sets every field from the set's texts (EConvertError for a bad one).
  void Assign(const TCoefficientSet& set);
  // The field of coefficient `name` (table spelling), or nullptr.
  Extended* Field(std::string_view name);
  // The fields rounded to double.
  TLateralCoefficients Coefficients() const;

 private:
  const TTireDataSet* data_;
};

// Aligning moment: the 19 fields of TDemoModel1, then the 25 aligning
// coefficients.  R0 is CurrentTireRadius; the load change is guarded
// (|Fz0| <= 1e-12 gives dfz = (Fz - 1e-12)/1e-12), no other divisor is.
class TDemoModel2 {
 public:
  MORVEX_LATERAL_COEFFICIENTS(MORVEX_EXTENDED_FIELD)
  MORVEX_ALIGNING_COEFFICIENTS(MORVEX_EXTENDED_FIELD)

  explicit TDemoModel2(const TTireDataSet* data = nullptr) : data_(data) {}
  virtual ~TDemoModel2() = default;

  virtual Extended ComputeCost();
  // The same cost without storing it in LastCost: safe on several threads
  // at once, each with its own model.
  Extended EvaluateCost() const;

  // The same two with the lateral part of each point kept in `cache`
  // between calls: for fits of the aligning coefficients, whose lateral
  // coefficients stay as they are.
  Extended ComputeCost(TAligningLateralCache& cache);
  Extended EvaluateCost(TAligningLateralCache& cache) const;

  void SetDataSet(const TTireDataSet* data) { data_ = data; }
  const TTireDataSet* DataSet() const { return data_; }
  void Assign(const TCoefficientSet& set);
  Extended* Field(std::string_view name);
  TLateralCoefficients LateralCoefficients() const;
  TAligningCoefficients AligningCoefficients() const;

 private:
  const TTireDataSet* data_;
};

// Longitudinal force: Fz0 and the 15 longitudinal coefficients.
class TDemoModel3 {
 public:
  MORVEX_LONGITUDINAL_COEFFICIENTS(MORVEX_EXTENDED_FIELD)

  explicit TDemoModel3(const TTireDataSet* data = nullptr) : data_(data) {}
  virtual ~TDemoModel3() = default;

  virtual Extended ComputeCost();
  // The same cost without storing it in LastCost: safe on several threads
  // at once, each with its own model.
  Extended EvaluateCost() const;

  void SetDataSet(const TTireDataSet* data) { data_ = data; }
  const TTireDataSet* DataSet() const { return data_; }
  void Assign(const TCoefficientSet& set);
  Extended* Field(std::string_view name);
  TLongitudinalCoefficients Coefficients() const;

 private:
  const TTireDataSet* data_;
};

#undef MORVEX_EXTENDED_FIELD

}  // namespace morvex
