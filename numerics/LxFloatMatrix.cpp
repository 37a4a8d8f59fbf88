#include "numerics/LxFloatMatrix.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>
#include <utility>

namespace morvex {

namespace {

std::string RowOutOfBounds(uint32_t row) {
  return "Row " + std::to_string(row) + " out of bounds";
}

std::string ColumnOutOfBounds(uint32_t col) {
  return "Column " + std::to_string(col) + " out of bounds";
}

bool ValidCount(int64_t count) { return count >= 1 && count <= kLxFloatMatrixBounds; }

// The row `row` of a row-major block as a vector (1-based row).
std::shared_ptr<ILxFloatVector> RowVector(const Extended* data, uint32_t cols, uint32_t row) {
  auto v = CreateFloatVector(cols);
  std::memcpy(v->DataAddress(), data + static_cast<size_t>(row - 1) * cols,
              cols * sizeof(Extended));
  return v;
}

// Cofactor expansion along the first row; the caller checks the fault flags.
Extended CofactorDeterminant(const TMatrix& m) {
  const uint32_t n = m.GetRowCount();
  if (n == 1) return m.GetItem(1, 1);
  Extended sum = 0.0L;
  Extended sign = 1.0L;
  for (uint32_t i = 1; i <= n; ++i) {
    TMatrix minor(n - 1, n - 1);
    for (uint32_t r = 2; r <= n; ++r) {
      uint32_t target_col = 1;
      for (uint32_t c = 1; c <= n; ++c) {
        if (c == i) continue;
        minor.SetItem(r - 1, target_col++, m.GetItem(r, c));
      }
    }
    sum += sign * m.GetItem(1, i) * CofactorDeterminant(minor);
    sign = -sign;
  }
  return sum;
}

}  // namespace

TMatrix::TMatrix(uint32_t rows, uint32_t cols)
    : rows_(rows), cols_(cols), items_(static_cast<size_t>(rows) * cols, 0.0L) {}

void TMatrix::SetRowCount(uint32_t rows) {
  if (rows == rows_) return;
  if (!ValidCount(rows))
    throw ELxFloatMatrix("Cannot create matrix with " + std::to_string(rows) + " rows");
  // Row-major: the first min(old, new) rows are a prefix of the block.
  items_.resize(static_cast<size_t>(rows) * cols_, 0.0L);
  rows_ = rows;
}

uint32_t TMatrix::GetRowCount() const { return rows_; }

void TMatrix::SetColCount(uint32_t cols) {
  if (cols == cols_) return;
  if (!ValidCount(cols))
    throw ELxFloatMatrix("Cannot create matrix with " + std::to_string(cols) + " columns");
  std::vector<Extended> items(static_cast<size_t>(rows_) * cols, 0.0L);
  const uint32_t kept = std::min(cols, cols_);
  for (size_t r = 0; r < rows_; ++r)
    std::copy_n(items_.begin() + static_cast<ptrdiff_t>(r * cols_), kept,
                items.begin() + static_cast<ptrdiff_t>(r * cols));
  items_ = std::move(items);
  cols_ = cols;
}

uint32_t TMatrix::GetColCount() const { return cols_; }

void TMatrix::SetSize(uint32_t rows, uint32_t cols) {
  if (rows == rows_ && cols == cols_) return;
  SetRowCount(rows);
  SetColCount(cols);
}

Extended* TMatrix::DataAddress() { return items_.data(); }
const Extended* TMatrix::DataAddress() const { return items_.data(); }

Extended* TMatrix::RowAddress(uint32_t row) {
  return items_.data() + (static_cast<ptrdiff_t>(row) - 1) * static_cast<ptrdiff_t>(cols_);
}

void TMatrix::CheckItem(uint32_t row, uint32_t col) const {
  if (row > rows_) throw ELxFloatMatrix(RowOutOfBounds(row));
  if (col > cols_) throw ELxFloatMatrix(ColumnOutOfBounds(col));
  if (row == 0) throw ELxFloatMatrix(RowOutOfBounds(row));
  if (col == 0) throw ELxFloatMatrix(ColumnOutOfBounds(col));
}

Extended TMatrix::GetItem(uint32_t row, uint32_t col) const {
  CheckItem(row, col);
  return At(row, col);
}

void TMatrix::SetItem(uint32_t row, uint32_t col, Extended value) {
  CheckItem(row, col);
  At(row, col) = value;
}

std::shared_ptr<ILxFloatVector> TMatrix::GetRow(uint32_t row) const {
  if (row == 0 || row > rows_) throw ELxFloatMatrix(RowOutOfBounds(row));
  return RowVector(items_.data(), cols_, row);
}

void TMatrix::SetRow(uint32_t row, const ILxFloatVector& v) {
  if (v.GetDimension() != cols_)
    throw ELxFloatMatrix("SetRow failed: Dimension of v must be " + std::to_string(cols_));
  if (row == 0 || row > rows_) throw ELxFloatMatrix(RowOutOfBounds(row));
  std::memcpy(RowAddress(row), v.DataAddress(), cols_ * sizeof(Extended));
}

std::shared_ptr<ILxFloatVector> TMatrix::GetColumn(uint32_t col) const {
  if (col == 0 || col > cols_) throw ELxFloatMatrix("Col " + std::to_string(col) + " out of bounds");
  auto v = CreateFloatVector(rows_);
  Extended* out = v->DataAddress();
  for (uint32_t r = 1; r <= rows_; ++r) out[r - 1] = At(r, col);
  return v;
}

void TMatrix::SetColumn(uint32_t col, const ILxFloatVector& v) {
  if (v.GetDimension() != rows_)
    throw ELxFloatMatrix("SetCol failed: Dimension of v must be " + std::to_string(rows_));
  if (col == 0 || col > cols_) throw ELxFloatMatrix("Col " + std::to_string(col) + " out of bounds");
  const Extended* in = v.DataAddress();
  for (uint32_t r = 1; r <= rows_; ++r) At(r, col) = in[r - 1];
}

std::string TMatrix::ToString() const {
  std::string out = "{ ";
  for (uint32_t r = 1; r <= rows_; ++r) {
    if (r > 1) out += ", ";
    out += GetRow(r)->ToString();
  }
  return out + " }";
}

std::string TMatrix::ToFormattedString(TFloatFormat format, int precision, int digits) const {
  std::string out = "{ ";
  for (uint32_t r = 1; r <= rows_; ++r) {
    if (r > 1) out += ", ";
    out += GetRow(r)->ToFormattedString(format, precision, digits);
  }
  return out + " }";
}

void TMatrix::SaveToStrings(std::vector<std::string>& lines) const {
  lines.push_back(std::to_string(rows_));
  lines.push_back(std::to_string(cols_));
  for (Extended x : items_) lines.push_back(FloatToStr(x));
}

void TMatrix::SaveToStringsFormatted(std::vector<std::string>& lines, TFloatFormat format,
                                     int precision, int digits) const {
  lines.push_back(std::to_string(rows_));
  lines.push_back(std::to_string(cols_));
  for (Extended x : items_) lines.push_back(FloatToStrF(x, format, precision, digits));
}

void TMatrix::WriteLines(const std::string& file_name,
                         const std::vector<std::string>& lines) const {
  std::ofstream file(file_name, std::ios::binary | std::ios::trunc);
  if (!file) throw EWriteError(file_name);
  for (const std::string& line : lines) file << line << '\n';
  file.flush();
  if (!file) throw EWriteError(file_name);
}

void TMatrix::SaveToFile(const std::string& file_name) const {
  std::vector<std::string> lines{std::to_string(rows_), std::to_string(cols_)};
  for (uint32_t r = 1; r <= rows_; ++r) lines.push_back(GetRow(r)->ToString());
  WriteLines(file_name, lines);
}

void TMatrix::SaveToFileFormatted(const std::string& file_name, TFloatFormat format,
                                  int precision, int digits) const {
  std::vector<std::string> lines{std::to_string(rows_), std::to_string(cols_)};
  for (uint32_t r = 1; r <= rows_; ++r)
    lines.push_back(GetRow(r)->ToFormattedString(format, precision, digits));
  WriteLines(file_name, lines);
}

void TMatrix::SaveToFileAsBlock(const std::string& file_name, const std::string& name,
                                int precision, int digits) const {
  std::vector<std::string> lines{name + "=", "{"};
  for (uint32_t r = 1; r <= rows_; ++r) {
    std::string line = GetRow(r)->ToExponentString(precision, digits);
    if (r < rows_) line += ",";
    lines.push_back(line);
  }
  lines.push_back("}");
  WriteLines(file_name, lines);
}

void TMatrix::LoadFromStrings(const std::vector<std::string>& lines, int start_index) {
  auto read = [&]() -> bool {
    if (start_index < 0) return false;
    const auto start = static_cast<size_t>(start_index);
    if (lines.size() < 2 || start > lines.size() - 2) return false;
    int32_t rows, cols;
    if (!TryStrToInt(lines[start], rows) || !TryStrToInt(lines[start + 1], cols)) return false;
    if (!ValidCount(rows) || !ValidCount(cols)) return false;
    // Every element needs its own line: check before resizing, so that a
    // corrupt size cannot make us allocate a huge block.
    const uint64_t count = static_cast<uint64_t>(rows) * static_cast<uint64_t>(cols);
    if (count > lines.size() - start - 2) return false;
    if (count != items_.size()) items_.assign(count, 0.0L);
    rows_ = static_cast<uint32_t>(rows);
    cols_ = static_cast<uint32_t>(cols);
    for (size_t k = 0; k < count; ++k) {
      Extended value;
      if (!TryStrToExtended(lines[start + 2 + k], value)) return false;
      items_[k] = value;
    }
    return true;
  };
  if (!read()) {
    ShowMessage("List of strings had at least one non numeric expression.");
    throw ELxFloatMatrix("Can't get matrix from strings.");
  }
}

void TMatrix::SaveToStream(std::ostream& stream) const {
  WriteUInt32LE(stream, rows_);
  WriteUInt32LE(stream, cols_);
  for (Extended x : items_) WriteExtended10(stream, x);
}

void TMatrix::LoadFromStream(std::istream& stream) {
  uint32_t rows, cols;
  if (!ReadUInt32LE(stream, rows) || !ReadUInt32LE(stream, cols))
    throw ELxFloatMatrix("Stream read error");
  if (!ValidCount(rows))
    throw ELxFloatMatrix("Cannot create matrix with " + std::to_string(rows) + " rows");
  if (!ValidCount(cols))
    throw ELxFloatMatrix("Cannot create matrix with " + std::to_string(cols) + " columns");
  // Grow with the data actually read, never by the announced size alone.
  const uint64_t count = static_cast<uint64_t>(rows) * cols;
  std::vector<Extended> items;
  for (uint64_t k = 0; k < count; ++k) {
    Extended value;
    if (!ReadExtended10(stream, value)) throw ELxFloatMatrix("Stream read error");
    items.push_back(value);
  }
  items_ = std::move(items);
  rows_ = rows;
  cols_ = cols;
}

void TMatrix::ShowInGrid(IStringGridTarget& grid) const {
  if (rows_ > kLxMaxGridSize || cols_ > kLxMaxGridSize)
    throw Exception("Matrix too large to display in Stringgrid");
  const int grid_cols = static_cast<int>(cols_) + 1;
  const int grid_rows = static_cast<int>(rows_) + 1;
  grid.SetColCount(grid_cols);
  grid.SetRowCount(grid_rows);
  std::vector<int> widths(static_cast<size_t>(grid_cols), 0);
  auto put = [&](int col, int row, const std::string& text) {
    grid.SetCell(col, row, text);
    widths[static_cast<size_t>(col)] = std::max(widths[static_cast<size_t>(col)], grid.TextWidth(text));
  };
  for (int r = 1; r < grid_rows; ++r) put(0, r, std::to_string(r));
  for (int c = 1; c < grid_cols; ++c) put(c, 0, std::to_string(c));
  for (uint32_t r = 1; r <= rows_; ++r)
    for (uint32_t c = 1; c <= cols_; ++c)
      put(static_cast<int>(c), static_cast<int>(r), FloatToStr(At(r, c)));
  for (int c = 0; c < grid_cols; ++c) grid.SetColWidth(c, widths[static_cast<size_t>(c)] + 30);
}

void TMatrix::AddToItem(uint32_t row, uint32_t col, Extended x) {
  const Extended value = GetItem(row, col);
  ClearFpFaults();
  const Extended sum = x + value;
  RaiseFpFaults();
  SetItem(row, col, sum);
}

void TMatrix::MultiplyItem(uint32_t row, uint32_t col, Extended x) {
  const Extended value = GetItem(row, col);
  ClearFpFaults();
  const Extended product = x * value;
  RaiseFpFaults();
  SetItem(row, col, product);
}

void TMatrix::SwapItems(uint32_t row1, uint32_t col1, uint32_t row2, uint32_t col2) {
  const Extended a = GetItem(row1, col1);
  const Extended b = GetItem(row2, col2);
  SetItem(row1, col1, b);
  SetItem(row2, col2, a);
}

void TMatrix::CheckRowVector(const ILxFloatVector& v) const {
  if (v.GetDimension() != cols_) throw Exception("Dimension of v does not match ColCount");
}

void TMatrix::CheckColumnVector(const ILxFloatVector& v) const {
  if (v.GetDimension() != rows_) throw Exception("Dimension of v does not match RowCount");
}

std::shared_ptr<ILxFloatVector> TMatrix::RowPlusVector(uint32_t row,
                                                       const ILxFloatVector& v) const {
  CheckRowVector(v);
  auto result = CreateFloatVector(cols_);
  for (uint32_t c = 1; c <= cols_; ++c) {
    const Extended a = GetItem(row, c);
    ClearFpFaults();
    const Extended sum = a + v.GetItem(c);
    RaiseFpFaults();
    result->SetItem(c, sum);
  }
  return result;
}

void TMatrix::AddVectorToRow(uint32_t row, const ILxFloatVector& v) {
  CheckRowVector(v);
  for (uint32_t c = 1; c <= cols_; ++c) AddToItem(row, c, v.GetItem(c));
}

Extended TMatrix::RowDotVector(uint32_t row, const ILxFloatVector& v) const {
  CheckRowVector(v);
  Extended sum = 0.0L;
  for (uint32_t c = 1; c <= cols_; ++c) {
    const Extended a = GetItem(row, c);
    ClearFpFaults();
    sum += a * v.GetItem(c);
    RaiseFpFaults();
  }
  return sum;
}

std::shared_ptr<ILxFloatVector> TMatrix::ColumnPlusVector(uint32_t col,
                                                          const ILxFloatVector& v) const {
  CheckColumnVector(v);
  auto result = CreateFloatVector(rows_);
  for (uint32_t r = 1; r <= rows_; ++r) {
    const Extended a = GetItem(r, col);
    ClearFpFaults();
    const Extended sum = a + v.GetItem(r);
    RaiseFpFaults();
    result->SetItem(r, sum);
  }
  return result;
}

void TMatrix::AddVectorToColumn(uint32_t col, const ILxFloatVector& v) {
  CheckColumnVector(v);
  for (uint32_t r = 1; r <= rows_; ++r) AddToItem(r, col, v.GetItem(r));
}

Extended TMatrix::ColumnDotVector(uint32_t col, const ILxFloatVector& v) const {
  CheckColumnVector(v);
  Extended sum = 0.0L;
  for (uint32_t r = 1; r <= rows_; ++r) {
    const Extended a = GetItem(r, col);
    ClearFpFaults();
    sum += a * v.GetItem(r);
    RaiseFpFaults();
  }
  return sum;
}

void TMatrix::SwapRows(uint32_t row1, uint32_t row2) {
  if (row1 == 0 || row1 > rows_) throw Exception("r1 is out of bounds");
  if (row2 == 0 || row2 > rows_) throw Exception("r2 is out of bounds");
  if (row1 == row2) return;
  std::swap_ranges(RowAddress(row1), RowAddress(row1) + cols_, RowAddress(row2));
}

void TMatrix::SwapColumns(uint32_t col1, uint32_t col2) {
  if (col1 == 0 || col1 > cols_) throw Exception("c1 is out of bounds");
  if (col2 == 0 || col2 > cols_) throw Exception("c2 is out of bounds");
  for (uint32_t r = 1; r <= rows_; ++r) std::swap(At(r, col1), At(r, col2));
}

void TMatrix::AddRowMultiple(uint32_t row1, uint32_t row2, Extended factor) {
  if (row1 == 0 || row1 > rows_) throw Exception("r1 is out of bounds");
  if (row2 == 0 || row2 > rows_) throw Exception("r2 is out of bounds");
  ClearFpFaults();
  for (uint32_t c = 1; c <= cols_; ++c) At(row2, c) = At(row2, c) + factor * At(row1, c);
  RaiseFpFaults();
}

void TMatrix::AddColumnMultiple(uint32_t col1, uint32_t col2, Extended factor) {
  if (col1 == 0 || col1 > cols_) throw Exception("c1 is out of bounds");
  if (col2 == 0 || col2 > cols_) throw Exception("c2 is out of bounds");
  ClearFpFaults();
  for (uint32_t r = 1; r <= rows_; ++r) At(r, col2) = At(r, col2) + factor * At(r, col1);
  RaiseFpFaults();
}

Extended TMatrix::SumOfSquares() const {
  ClearFpFaults();
  Extended sum = 0.0L;
  for (Extended x : items_) sum += x * x;
  RaiseFpFaults();
  return sum;
}

std::shared_ptr<ILxFloatMatrix> TMatrix::MultipliedScalar(Extended x) const {
  auto result = CopyMatrix(*this);
  result->MultiplyScalar(x);
  return result;
}

void TMatrix::MultiplyScalar(Extended x) {
  ClearFpFaults();
  for (Extended& item : items_) item = x * item;
  RaiseFpFaults();
}

std::shared_ptr<ILxFloatVector> TMatrix::MultipliedVector(const ILxFloatVector& v) const {
  CheckRowVector(v);
  auto result = CreateFloatVector(rows_);
  MultiplyVector(v, *result);
  return result;
}

void TMatrix::MultiplyVector(const ILxFloatVector& v, ILxFloatVector& result) const {
  CheckRowVector(v);
  if (result.GetDimension() != rows_)
    throw Exception("Dimension of result does not match RowCount");
  // Sum into a scratch block first: `result` may be `v` itself.
  std::vector<Extended> products(rows_);
  const Extended* in = v.DataAddress();
  ClearFpFaults();
  for (uint32_t r = 1; r <= rows_; ++r) {
    Extended sum = 0.0L;
    for (uint32_t c = 1; c <= cols_; ++c) sum += At(r, c) * in[c - 1];
    products[r - 1] = sum;
  }
  RaiseFpFaults();
  std::copy(products.begin(), products.end(), result.DataAddress());
}

void TMatrix::ReplaceByVectorProduct(const ILxFloatVector& v) {
  auto product = MultipliedVector(v);
  items_.assign(product->DataAddress(), product->DataAddress() + rows_);
  cols_ = 1;
}

void TMatrix::Assign(const ILxFloatMatrix& source) {
  if (&source == this) return;
  SetSize(source.GetRowCount(), source.GetColCount());
  std::memcpy(items_.data(), source.DataAddress(), items_.size() * sizeof(Extended));
}

void TMatrix::CheckSameSize(const ILxFloatMatrix& n) const {
  if (n.GetRowCount() != rows_ || n.GetColCount() != cols_)
    throw ELxFloatMatrix("Cannot add matrices of different sizes");
}

std::shared_ptr<ILxFloatMatrix> TMatrix::Added(const ILxFloatMatrix& n) const {
  CheckSameSize(n);
  auto result = CopyMatrix(*this);
  result->Add(n);
  return result;
}

void TMatrix::Add(const ILxFloatMatrix& n) {
  CheckSameSize(n);
  const Extended* other = n.DataAddress();
  ClearFpFaults();
  for (size_t k = 0; k < items_.size(); ++k) items_[k] = items_[k] + other[k];
  RaiseFpFaults();
}

void TMatrix::Subtract(const ILxFloatMatrix& n) {
  CheckSameSize(n);
  const Extended* other = n.DataAddress();
  ClearFpFaults();
  for (size_t k = 0; k < items_.size(); ++k) items_[k] = items_[k] - other[k];
  RaiseFpFaults();
}

std::shared_ptr<ILxFloatMatrix> TMatrix::Multiplied(const ILxFloatMatrix& n) const {
  if (n.GetRowCount() != cols_)
    throw ELxFloatMatrix("Dimension of matrices does not match for multiplication");
  const uint32_t n_cols = n.GetColCount();
  auto result = CreateMatrix(rows_, n_cols);
  const Extended* other = n.DataAddress();
  Extended* out = result->DataAddress();
  ClearFpFaults();
  for (uint32_t r = 1; r <= rows_; ++r)
    for (uint32_t c = 1; c <= n_cols; ++c) {
      Extended sum = 0.0L;
      for (uint32_t k = 1; k <= cols_; ++k)
        sum += At(r, k) * other[static_cast<size_t>(k - 1) * n_cols + (c - 1)];
      out[static_cast<size_t>(r - 1) * n_cols + (c - 1)] = sum;
    }
  RaiseFpFaults();
  return result;
}

void TMatrix::Multiply(const ILxFloatMatrix& n) { Assign(*Multiplied(n)); }

std::shared_ptr<ILxFloatMatrix> TMatrix::Transposed() const {
  auto result = CreateMatrix(cols_, rows_);
  Extended* out = result->DataAddress();
  for (uint32_t r = 1; r <= rows_; ++r)
    for (uint32_t c = 1; c <= cols_; ++c) out[static_cast<size_t>(c - 1) * rows_ + (r - 1)] = At(r, c);
  return result;
}

void TMatrix::Transpose() { Assign(*Transposed()); }

void TMatrix::FillRandomNormal(Extended mean, Extended std_dev) {
  for (Extended& item : items_) item = RandomNormal(mean, std_dev);
}

void TMatrix::FillFromFunction(TLxMatrixFunction f) {
  for (uint32_t r = 1; r <= rows_; ++r)
    for (uint32_t c = 1; c <= cols_; ++c) At(r, c) = f(r, c);
}

void TMatrix::FillFromFunctionData(TLxMatrixFunctionData f, void* data) {
  for (uint32_t r = 1; r <= rows_; ++r)
    for (uint32_t c = 1; c <= cols_; ++c) At(r, c) = f(r, c, data);
}

void TMatrix::Fill(Extended value) { std::fill(items_.begin(), items_.end(), value); }

void TMatrix::Clear() { Fill(0.0L); }

void TMatrix::SetIdentity() {
  Clear();
  const uint32_t n = std::min(rows_, cols_);
  for (uint32_t i = 1; i <= n; ++i) At(i, i) = 1.0L;
}

std::shared_ptr<ILxFloatMatrix> TMatrix::Inverse() const {
  auto result = CopyMatrix(*this);
  result->Invert();
  return result;
}

// Gauss-Jordan elimination with partial pivoting.  W starts as a copy of the
// matrix and is reduced to the identity; the same row operations, applied to
// the matrix reset to the identity, turn it into the inverse.
void TMatrix::Invert() {
  if (rows_ != cols_) throw ELxFloatMatrix("Invert called on non square matrix");
  const uint32_t n = cols_;
  TMatrix w(*this);
  SetIdentity();
  for (uint32_t p = 1; p <= n; ++p) {
    // The first row of largest magnitude wins; NaNs never become the pivot.
    Extended pivot = 0.0L;
    uint32_t pivot_row = p;
    for (uint32_t i = p; i <= n; ++i)
      if (std::fabs(w.At(i, p)) > std::fabs(pivot)) {
        pivot = w.At(i, p);
        pivot_row = i;
      }
    // Absolute test: see the header.
    if (std::fabs(pivot) < SingularityThreshold()) throw ELxFloatMatrix("Invert: Singular matrix");
    if (pivot_row != p) {
      w.SwapRows(p, pivot_row);
      SwapRows(p, pivot_row);
    }
    ClearFpFaults();
    for (uint32_t g = 1; g <= n; ++g) {
      w.At(p, g) = w.At(p, g) / pivot;
      At(p, g) = At(p, g) / pivot;
    }
    for (uint32_t j = 1; j <= n; ++j) {
      if (j == p) continue;
      const Extended f = w.At(j, p);
      for (uint32_t t = 1; t <= n; ++t) w.At(j, t) = w.At(j, t) - w.At(p, t) * f;
      for (uint32_t u = 1; u <= n; ++u) At(j, u) = At(j, u) - At(p, u) * f;
    }
    RaiseFpFaults();
  }
}

Extended TMatrix::Determinant() const {
  if (rows_ != cols_) throw ELxFloatMatrix("Det called on non square matrix");
  ClearFpFaults();
  const Extended det = CofactorDeterminant(*this);
  RaiseFpFaults();
  return det;
}

std::shared_ptr<ILxFloatMatrix> CreateMatrix(int64_t rows, int64_t cols) {
  if (rows < 1) throw ELxFloatMatrix("RowCount < 1 not allowed");
  if (rows > kLxFloatMatrixBounds) throw ELxFloatMatrix("RowCount > TLxFloatMatrixBounds not allowed");
  if (cols < 1) throw ELxFloatMatrix("ColCount < 1 not allowed");
  if (cols > kLxFloatMatrixBounds) throw ELxFloatMatrix("ColCount > TLxFloatMatrixBounds not allowed");
  return std::make_shared<TMatrix>(static_cast<uint32_t>(rows), static_cast<uint32_t>(cols));
}

std::shared_ptr<ILxFloatMatrix> CopyMatrix(const ILxFloatMatrix& source) {
  auto result = CreateMatrix(source.GetRowCount(), source.GetColCount());
  result->Assign(source);
  return result;
}

}  // namespace morvex
