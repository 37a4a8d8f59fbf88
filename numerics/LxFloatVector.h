// The dense vector of the numeric library: a resizable array of
// extended-precision floats with 1-based indices.
//
// Vectors are handed out as `std::shared_ptr<ILxFloatVector>`; copying the
// handle shares the vector, `CopyFloatVector` duplicates the data.  The
// Levenberg-Marquardt fitter keeps its gradient, step and parameter vectors
// in it, and the matrix exchanges rows, columns and matrix-vector products
// through it.  Besides element access the vector offers text and binary
// serialisation, statistics, sorting and filling.
//
// Failures raise `ELxFloatVector` with a fixed message.  Floating-point
// faults (division by zero, overflow, invalid operation) in the arithmetic
// operations are raised to the caller as EZeroDivide, EOverflow or
// EInvalidOp (see numerics/LxBasics.h); the statistics of a vector that is
// too short for them fail this way.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"

namespace morvex {

// Largest dimension a vector may be created with (2^28 - 1).
inline constexpr int64_t kLxFloatVectorBounds = 268435455;

// The element of a vector as a function of its (1-based) index.
using TLxVectorFunction = Extended (*)(uint32_t index);
// The same with an opaque caller value handed through unchanged.
using TLxVectorFunctionData = Extended (*)(uint32_t index, void* data);

class ILxFloatVector {
 public:
  virtual ~ILxFloatVector() = default;

  // Resizes to `dimension` elements, keeping the first min(old, new) and
  // zero-filling the rest.  The size is not checked: 0 gives an empty vector.
  virtual void SetDimension(uint32_t dimension) = 0;
  virtual uint32_t GetDimension() const = 0;

  // Element `index` (1..dimension).  Any other index raises
  // "Element <index> out of bounds".
  virtual Extended GetItem(uint32_t index) const = 0;
  virtual void SetItem(uint32_t index, Extended value) = 0;

  // Address of element 1; the elements follow contiguously.  Invalidated by
  // any resize.
  virtual Extended* DataAddress() = 0;
  virtual const Extended* DataAddress() const = 0;

  // "{ x1, x2, ... }" with every element in the general format (15
  // significant digits, the process-wide decimal separator).
  virtual std::string ToString() const = 0;
  // The same layout with FloatToStrF(element, format, precision, digits);
  // an element greater than 0 gets one leading blank so that columns of
  // mixed signs line up.
  virtual std::string ToFormattedString(TFloatFormat format, int precision, int digits) const = 0;
  // The same layout in exponent format, with every "E" replaced by "*10^"
  // (1.5E+003 reads 1.5*10^+003).
  virtual std::string ToExponentString(int precision, int digits) const = 0;
  // Reads the ToString layout: braces are dropped, the text is split at the
  // commas (so the decimal separator must not be ','), and each piece is
  // parsed as a float, blanks around it allowed.  The dimension becomes the
  // number of pieces first; a piece that is not a number raises
  // "False string format" and leaves the pieces before it stored.
  virtual void FromString(const std::string& text) = 0;

  // Appends the dimension, then one line per element (general format).
  virtual void SaveToStrings(std::vector<std::string>& lines) const = 0;
  // As SaveToStrings with FloatToStrF(element, format, precision, digits).
  virtual void SaveToStringsFormatted(std::vector<std::string>& lines, TFloatFormat format,
                                      int precision, int digits) const = 0;
  // Reads the SaveToStrings layout starting at line `start_index` (0-based).
  // A missing or non-numeric line, or a dimension outside 0..bounds, shows
  // the message "List of strings had at least one non numeric expression.",
  // leaves a vector of dimension 1 and raises "Can't get vector from strings.".
  virtual void LoadFromStrings(const std::vector<std::string>& lines, int start_index) = 0;

  // Binary layout: the dimension as a 32-bit little-endian integer, then
  // every element as a 10-byte x87 extended float.
  virtual void SaveToStream(std::ostream& stream) const = 0;
  // Reads the SaveToStream layout.  The vector changes only when the whole
  // record was read: a short stream raises "Stream read error", a dimension
  // above the bounds "Dimension > TLxFloatVectorBounds not allowed".
  virtual void LoadFromStream(std::istream& stream) = 0;

  // New vectors: x + xk and x * xk element by element.
  virtual std::shared_ptr<ILxFloatVector> AddedScalar(Extended x) const = 0;
  virtual std::shared_ptr<ILxFloatVector> MultipliedScalar(Extended x) const = 0;
  // Sum of xk * x^(k-1): element 1 is the constant term.
  virtual Extended EvaluatePolynomial(Extended x) const = 0;
  // Arithmetic mean; an empty vector raises the floating-point fault.
  virtual Extended Mean() const = 0;
  // Square root of Variance.
  virtual Extended StdDev() const = 0;
  // Sample variance, sum of (xk - mean)^2 / (n - 1); a vector of one
  // element raises the floating-point fault.
  virtual Extended Variance() const = 0;
  virtual std::shared_ptr<ILxFloatVector> SortedCopy() const = 0;
  virtual std::shared_ptr<ILxFloatVector> SortedByMagnitudeCopy() const = 0;
  virtual Extended SumOfSquares() const = 0;

  // In place: xk := x + xk, xk := x * xk.
  virtual void AddScalar(Extended x) = 0;
  virtual void MultiplyScalar(Extended x) = 0;
  // Takes the source's dimension and elements.
  virtual void Assign(const ILxFloatVector& source) = 0;
  // Ascending exchange sort (stable for equal elements), by value and by
  // absolute value.
  virtual void Sort() = 0;
  virtual void SortByMagnitude() = 0;
  // Normally distributed elements from the process-wide random source.
  virtual void FillRandomNormal(Extended mean, Extended std_dev) = 0;
  // xk := f(k), and xk := f(k, data).
  virtual void FillFromFunction(TLxVectorFunction f) = 0;
  virtual void FillFromFunctionData(TLxVectorFunctionData f, void* data) = 0;
  virtual void Fill(Extended value) = 0;
  virtual void Clear() = 0;
};

// The implementation behind every ILxFloatVector.
class TLxFloatVector final : public ILxFloatVector {
 public:
  explicit TLxFloatVector(uint32_t dimension);

  void SetDimension(uint32_t dimension) override;
  uint32_t GetDimension() const override;
  Extended GetItem(uint32_t index) const override;
  void SetItem(uint32_t index, Extended value) override;
  Extended* DataAddress() override;
  const Extended* DataAddress() const override;
  std::string ToString() const override;
  std::string ToFormattedString(TFloatFormat format, int precision, int digits) const override;
  std::string ToExponentString(int precision, int digits) const override;
  void FromString(const std::string& text) override;
  void SaveToStrings(std::vector<std::string>& lines) const override;
  void SaveToStringsFormatted(std::vector<std::string>& lines, TFloatFormat format, int precision,
                              int digits) const override;
  void LoadFromStrings(const std::vector<std::string>& lines, int start_index) override;
  void SaveToStream(std::ostream& stream) const override;
  void LoadFromStream(std::istream& stream) override;
  std::shared_ptr<ILxFloatVector> AddedScalar(Extended x) const override;
  std::shared_ptr<ILxFloatVector> MultipliedScalar(Extended x) const override;
  Extended EvaluatePolynomial(Extended x) const override;
  Extended Mean() const override;
  Extended StdDev() const override;
  Extended Variance() const override;
  std::shared_ptr<ILxFloatVector> SortedCopy() const override;
  std::shared_ptr<ILxFloatVector> SortedByMagnitudeCopy() const override;
  Extended SumOfSquares() const override;
  void AddScalar(Extended x) override;
  void MultiplyScalar(Extended x) override;
  void Assign(const ILxFloatVector& source) override;
  void Sort() override;
  void SortByMagnitude() override;
  void FillRandomNormal(Extended mean, Extended std_dev) override;
  void FillFromFunction(TLxVectorFunction f) override;
  void FillFromFunctionData(TLxVectorFunctionData f, void* data) override;
  void Fill(Extended value) override;
  void Clear() override;

 private:
  void CheckIndex(uint32_t index) const;

  std::vector<Extended> items_;
};

// A new vector of `dimension` zeros.  Below 1 raises
// "Dimension < 1 not allowed", above kLxFloatVectorBounds
// "Dimension > TLxFloatVectorBounds not allowed".
std::shared_ptr<ILxFloatVector> CreateFloatVector(int64_t dimension);
// A new vector with the dimension and elements of `source`.
std::shared_ptr<ILxFloatVector> CopyFloatVector(const ILxFloatVector& source);

// Binary helpers shared by the vector and the matrix stream formats.
// A 32-bit unsigned integer, little-endian.
void WriteUInt32LE(std::ostream& stream, uint32_t value);
// False when the stream ran short.
bool ReadUInt32LE(std::istream& stream, uint32_t& value);
// The 10-byte x87 image of an extended float.
void WriteExtended10(std::ostream& stream, Extended value);
// Reads one 10-byte image; false when the stream ran short.
bool ReadExtended10(std::istream& stream, Extended& value);

}  // namespace morvex
