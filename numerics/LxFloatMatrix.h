// The dense matrix of the numeric library: a resizable, row-major matrix of
// extended-precision floats with 1-based row and column indices.
//
// Matrices are handed out as `std::shared_ptr<ILxFloatMatrix>`; copying the
// handle shares the matrix, `CopyMatrix` duplicates the data.  The
// Levenberg-Marquardt fitter keeps its Hessian, its damped work matrix and
// its covariance here and relies above all on `Invert`: Gauss-Jordan
// elimination with partial pivoting (Press et al., Numerical Recipes,
// section 2.1) and an ABSOLUTE singularity threshold of three machine
// epsilons.  The threshold is not scaled by the size of the elements, so a
// matrix of uniformly tiny elements is reported singular; the fitter's
// Hessians are in the units of the cost and this is what it expects.
//
// Element (r, c) is at position (r - 1) * ColCount + (c - 1) of one
// contiguous block.  Failures raise `ELxFloatMatrix` or, where marked
// "general", `Exception`, with fixed messages.  Floating-point faults
// (division by zero, overflow, invalid operation) in the arithmetic raise
// EZeroDivide, EOverflow or EInvalidOp.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "numerics/LxBasics.h"
#include "numerics/LxFloatVector.h"
#include "numerics/LxTypes.h"

namespace morvex {

// Largest row or column count (2^28 - 1).
inline constexpr int64_t kLxFloatMatrixBounds = 268435455;
// ShowInGrid refuses matrices with more rows or columns than this.
inline constexpr uint32_t kLxMaxGridSize = 100;

// The element (r, c) of a matrix as a function of its 1-based position.
using TLxMatrixFunction = Extended (*)(uint32_t row, uint32_t col);
// The same with an opaque caller value handed through unchanged.
using TLxMatrixFunctionData = Extended (*)(uint32_t row, uint32_t col, void* data);

class ILxFloatMatrix {
 public:
  virtual ~ILxFloatMatrix() = default;

  // Resize.  A count of 0 or above the bounds raises "Cannot create matrix
  // with <n> rows" / "... columns".  Existing elements keep their (r, c)
  // position; added rows and columns are 0.  SetSize sets rows, then columns.
  virtual void SetRowCount(uint32_t rows) = 0;
  virtual uint32_t GetRowCount() const = 0;
  virtual void SetColCount(uint32_t cols) = 0;
  virtual uint32_t GetColCount() const = 0;
  virtual void SetSize(uint32_t rows, uint32_t cols) = 0;

  // Address of element (1, 1), and of element (row, 1) without any bounds
  // check.  Invalidated by any resize.
  virtual Extended* DataAddress() = 0;
  virtual const Extended* DataAddress() const = 0;
  virtual Extended* RowAddress(uint32_t row) = 0;

  // Bounds-checked access.  Checks, in this order: row above RowCount,
  // column above ColCount, row 0, column 0; raising "Row <r> out of bounds"
  // or "Column <c> out of bounds".
  virtual Extended GetItem(uint32_t row, uint32_t col) const = 0;
  virtual void SetItem(uint32_t row, uint32_t col, Extended value) = 0;

  // Rows and columns as new vectors.  A bad index raises "Row <r> out of
  // bounds" / "Col <c> out of bounds".  The setters first check the vector's
  // dimension ("SetRow failed: Dimension of v must be <ColCount>",
  // "SetCol failed: Dimension of v must be <RowCount>"), then the index.
  virtual std::shared_ptr<ILxFloatVector> GetRow(uint32_t row) const = 0;
  virtual void SetRow(uint32_t row, const ILxFloatVector& v) = 0;
  virtual std::shared_ptr<ILxFloatVector> GetColumn(uint32_t col) const = 0;
  virtual void SetColumn(uint32_t col, const ILxFloatVector& v) = 0;

  // "{ { a, b }, { c, d } }": the rows as vector ToString / ToFormattedString.
  virtual std::string ToString() const = 0;
  virtual std::string ToFormattedString(TFloatFormat format, int precision, int digits) const = 0;

  // Appends RowCount, ColCount, then every element row by row, one per line.
  virtual void SaveToStrings(std::vector<std::string>& lines) const = 0;
  virtual void SaveToStringsFormatted(std::vector<std::string>& lines, TFloatFormat format,
                                      int precision, int digits) const = 0;
  // Text files: RowCount, ColCount, then one row per line as vector text.
  // A file that cannot be written raises EWriteError.
  virtual void SaveToFile(const std::string& file_name) const = 0;
  virtual void SaveToFileFormatted(const std::string& file_name, TFloatFormat format,
                                   int precision, int digits) const = 0;
  // Writes "<name>=", "{", one line per row as vector ToExponentString
  // (each followed by "," except the last), then "}".
  virtual void SaveToFileAsBlock(const std::string& file_name, const std::string& name,
                                 int precision, int digits) const = 0;
  // Reads the SaveToStrings layout from line `start_index` (0-based).  The
  // storage is replaced (zeroed) only when the element count changes.  A
  // missing or non-numeric line, or a size outside 1..bounds, shows
  // "List of strings had at least one non numeric expression." and raises
  // "Can't get matrix from strings.".
  virtual void LoadFromStrings(const std::vector<std::string>& lines, int start_index) = 0;

  // Binary layout: RowCount and ColCount as 32-bit little-endian integers,
  // then the elements row by row as 10-byte x87 extended floats.
  virtual void SaveToStream(std::ostream& stream) const = 0;
  // Reads that layout.  The matrix changes only when the whole record was
  // read: a short stream raises "Stream read error", a bad size "Cannot
  // create matrix with <n> rows" / "... columns".
  virtual void LoadFromStream(std::istream& stream) = 0;

  // Fills `grid` with the matrix: row and column numbers in row 0 and
  // column 0, element (r, c) in cell (c, r) in the general format, each
  // column as wide as its widest text plus 30 pixels.  More than 100 rows or
  // columns raises the general "Matrix too large to display in Stringgrid".
  virtual void ShowInGrid(IStringGridTarget& grid) const = 0;

  // Element operations (bounds-checked like GetItem).
  virtual void AddToItem(uint32_t row, uint32_t col, Extended x) = 0;
  virtual void MultiplyItem(uint32_t row, uint32_t col, Extended x) = 0;
  virtual void SwapItems(uint32_t row1, uint32_t col1, uint32_t row2, uint32_t col2) = 0;

  // Row and column with a vector.  The vector must have ColCount (rows) or
  // RowCount (columns) elements, else the general "Dimension of v does not
  // match ColCount" / "... RowCount".
  virtual std::shared_ptr<ILxFloatVector> RowPlusVector(uint32_t row,
                                                        const ILxFloatVector& v) const = 0;
  virtual void AddVectorToRow(uint32_t row, const ILxFloatVector& v) = 0;
  virtual Extended RowDotVector(uint32_t row, const ILxFloatVector& v) const = 0;
  virtual std::shared_ptr<ILxFloatVector> ColumnPlusVector(uint32_t col,
                                                           const ILxFloatVector& v) const = 0;
  virtual void AddVectorToColumn(uint32_t col, const ILxFloatVector& v) = 0;
  virtual Extended ColumnDotVector(uint32_t col, const ILxFloatVector& v) const = 0;

  // Elementary operations.  Bad indices raise the general "r1 is out of
  // bounds", "r2 is out of bounds", "c1 ..." or "c2 ...".
  virtual void SwapRows(uint32_t row1, uint32_t row2) = 0;
  virtual void SwapColumns(uint32_t col1, uint32_t col2) = 0;
  // Row row2 := row row2 + factor * row row1 (columns likewise).
  virtual void AddRowMultiple(uint32_t row1, uint32_t row2, Extended factor) = 0;
  virtual void AddColumnMultiple(uint32_t col1, uint32_t col2, Extended factor) = 0;

  virtual Extended SumOfSquares() const = 0;
  virtual std::shared_ptr<ILxFloatMatrix> MultipliedScalar(Extended x) const = 0;
  virtual void MultiplyScalar(Extended x) = 0;

  // Matrix-vector product M * v (v has ColCount elements, else the general
  // "Dimension of v does not match ColCount").  MultiplyVector writes into
  // `result`, which must have RowCount elements ("Dimension of result does
  // not match RowCount"); ReplaceByVectorProduct makes the matrix the
  // RowCount x 1 product.
  virtual std::shared_ptr<ILxFloatVector> MultipliedVector(const ILxFloatVector& v) const = 0;
  virtual void MultiplyVector(const ILxFloatVector& v, ILxFloatVector& result) const = 0;
  virtual void ReplaceByVectorProduct(const ILxFloatVector& v) = 0;

  // Takes the source's size and elements.
  virtual void Assign(const ILxFloatMatrix& source) = 0;
  // M + N, M += N, M -= N; different sizes raise "Cannot add matrices of
  // different sizes".
  virtual std::shared_ptr<ILxFloatMatrix> Added(const ILxFloatMatrix& n) const = 0;
  virtual void Add(const ILxFloatMatrix& n) = 0;
  virtual void Subtract(const ILxFloatMatrix& n) = 0;
  // M * N; N must have ColCount rows, else "Dimension of matrices does not
  // match for multiplication".
  virtual std::shared_ptr<ILxFloatMatrix> Multiplied(const ILxFloatMatrix& n) const = 0;
  virtual void Multiply(const ILxFloatMatrix& n) = 0;
  virtual std::shared_ptr<ILxFloatMatrix> Transposed() const = 0;
  virtual void Transpose() = 0;

  // Fills, row by row.
  virtual void FillRandomNormal(Extended mean, Extended std_dev) = 0;
  virtual void FillFromFunction(TLxMatrixFunction f) = 0;
  virtual void FillFromFunctionData(TLxMatrixFunctionData f, void* data) = 0;
  virtual void Fill(Extended value) = 0;
  virtual void Clear() = 0;
  // Zero, with 1 on the leading diagonal (also for a non-square matrix).
  virtual void SetIdentity() = 0;

  // The inverse as a new matrix / in place.  A non-square matrix raises
  // "Invert called on non square matrix"; a pivot of magnitude below
  // SingularityThreshold() raises "Invert: Singular matrix" and leaves the
  // matrix partly transformed.
  virtual std::shared_ptr<ILxFloatMatrix> Inverse() const = 0;
  virtual void Invert() = 0;
  // Cofactor expansion along the first row: O(n!), for small matrices.
  // A non-square matrix raises "Det called on non square matrix".
  virtual Extended Determinant() const = 0;
};

// The implementation behind every ILxFloatMatrix.
class TMatrix final : public ILxFloatMatrix {
 public:
  TMatrix(uint32_t rows, uint32_t cols);

  void SetRowCount(uint32_t rows) override;
  uint32_t GetRowCount() const override;
  void SetColCount(uint32_t cols) override;
  uint32_t GetColCount() const override;
  void SetSize(uint32_t rows, uint32_t cols) override;
  Extended* DataAddress() override;
  const Extended* DataAddress() const override;
  Extended* RowAddress(uint32_t row) override;
  Extended GetItem(uint32_t row, uint32_t col) const override;
  void SetItem(uint32_t row, uint32_t col, Extended value) override;
  std::shared_ptr<ILxFloatVector> GetRow(uint32_t row) const override;
  void SetRow(uint32_t row, const ILxFloatVector& v) override;
  std::shared_ptr<ILxFloatVector> GetColumn(uint32_t col) const override;
  void SetColumn(uint32_t col, const ILxFloatVector& v) override;
  std::string ToString() const override;
  std::string ToFormattedString(TFloatFormat format, int precision, int digits) const override;
  void SaveToStrings(std::vector<std::string>& lines) const override;
  void SaveToStringsFormatted(std::vector<std::string>& lines, TFloatFormat format, int precision,
                              int digits) const override;
  void SaveToFile(const std::string& file_name) const override;
  void SaveToFileFormatted(const std::string& file_name, TFloatFormat format, int precision,
                           int digits) const override;
  void SaveToFileAsBlock(const std::string& file_name, const std::string& name, int precision,
                         int digits) const override;
  void LoadFromStrings(const std::vector<std::string>& lines, int start_index) override;
  void SaveToStream(std::ostream& stream) const override;
  void LoadFromStream(std::istream& stream) override;
  void ShowInGrid(IStringGridTarget& grid) const override;
  void AddToItem(uint32_t row, uint32_t col, Extended x) override;
  void MultiplyItem(uint32_t row, uint32_t col, Extended x) override;
  void SwapItems(uint32_t row1, uint32_t col1, uint32_t row2, uint32_t col2) override;
  std::shared_ptr<ILxFloatVector> RowPlusVector(uint32_t row,
                                                const ILxFloatVector& v) const override;
  void AddVectorToRow(uint32_t row, const ILxFloatVector& v) override;
  Extended RowDotVector(uint32_t row, const ILxFloatVector& v) const override;
  std::shared_ptr<ILxFloatVector> ColumnPlusVector(uint32_t col,
                                                   const ILxFloatVector& v) const override;
  void AddVectorToColumn(uint32_t col, const ILxFloatVector& v) override;
  Extended ColumnDotVector(uint32_t col, const ILxFloatVector& v) const override;
  void SwapRows(uint32_t row1, uint32_t row2) override;
  void SwapColumns(uint32_t col1, uint32_t col2) override;
  void AddRowMultiple(uint32_t row1, uint32_t row2, Extended factor) override;
  void AddColumnMultiple(uint32_t col1, uint32_t col2, Extended factor) override;
  Extended SumOfSquares() const override;
  std::shared_ptr<ILxFloatMatrix> MultipliedScalar(Extended x) const override;
  void MultiplyScalar(Extended x) override;
  std::shared_ptr<ILxFloatVector> MultipliedVector(const ILxFloatVector& v) const override;
  void MultiplyVector(const ILxFloatVector& v, ILxFloatVector& result) const override;
  void ReplaceByVectorProduct(const ILxFloatVector& v) override;
  void Assign(const ILxFloatMatrix& source) override;
  std::shared_ptr<ILxFloatMatrix> Added(const ILxFloatMatrix& n) const override;
  void Add(const ILxFloatMatrix& n) override;
  void Subtract(const ILxFloatMatrix& n) override;
  std::shared_ptr<ILxFloatMatrix> Multiplied(const ILxFloatMatrix& n) const override;
  void Multiply(const ILxFloatMatrix& n) override;
  std::shared_ptr<ILxFloatMatrix> Transposed() const override;
  void Transpose() override;
  void FillRandomNormal(Extended mean, Extended std_dev) override;
  void FillFromFunction(TLxMatrixFunction f) override;
  void FillFromFunctionData(TLxMatrixFunctionData f, void* data) override;
  void Fill(Extended value) override;
  void Clear() override;
  void SetIdentity() override;
  std::shared_ptr<ILxFloatMatrix> Inverse() const override;
  void Invert() override;
  Extended Determinant() const override;

 private:
  // Element (row, col), 1-based, unchecked.
  Extended& At(uint32_t row, uint32_t col) {
    return items_[static_cast<size_t>(row - 1) * cols_ + (col - 1)];
  }
  Extended At(uint32_t row, uint32_t col) const {
    return items_[static_cast<size_t>(row - 1) * cols_ + (col - 1)];
  }
  void CheckItem(uint32_t row, uint32_t col) const;
  void CheckRowVector(const ILxFloatVector& v) const;
  void CheckColumnVector(const ILxFloatVector& v) const;
  void CheckSameSize(const ILxFloatMatrix& n) const;
  void WriteLines(const std::string& file_name, const std::vector<std::string>& lines) const;

  uint32_t rows_;
  uint32_t cols_;
  std::vector<Extended> items_;
};

// A new rows x cols matrix of zeros.  The row count is checked first
// ("RowCount < 1 not allowed", "RowCount > TLxFloatMatrixBounds not
// allowed"), then the column count likewise.
std::shared_ptr<ILxFloatMatrix> CreateMatrix(int64_t rows, int64_t cols);
// A new matrix with the size and elements of `source`.
std::shared_ptr<ILxFloatMatrix> CopyMatrix(const ILxFloatMatrix& source);

}  // namespace morvex
