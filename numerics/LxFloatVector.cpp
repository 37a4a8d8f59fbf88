#include "numerics/LxFloatVector.h"

#include <cmath>
#include <cstring>
#include <istream>
#include <limits>
#include <ostream>
#include <utility>

namespace morvex {

static_assert(std::numeric_limits<Extended>::digits == 64,
              "Extended must be the 80-bit x87 format (64-bit mantissa)");

namespace {

std::string OutOfBounds(uint32_t index) {
  return "Element " + std::to_string(index) + " out of bounds";
}

// Joins element texts into the "{ a, b, c }" layout.
template <class Format>
std::string Braced(const std::vector<Extended>& items, Format format) {
  std::string out = "{ ";
  for (size_t k = 0; k < items.size(); ++k) {
    if (k > 0) out += ", ";
    out += format(items[k]);
  }
  out += " }";
  return out;
}

}  // namespace

void WriteUInt32LE(std::ostream& stream, uint32_t value) {
  char bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
  stream.write(bytes, 4);
}

bool ReadUInt32LE(std::istream& stream, uint32_t& value) {
  unsigned char bytes[4];
  if (!stream.read(reinterpret_cast<char*>(bytes), 4)) return false;
  value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
  return true;
}

// On x86 the 80-bit value occupies the first 10 bytes of a long double in
// memory (little-endian mantissa, then sign and exponent); the rest is padding.
void WriteExtended10(std::ostream& stream, Extended value) {
  char bytes[sizeof(Extended)] = {};
  std::memcpy(bytes, &value, sizeof(Extended));
  stream.write(bytes, 10);
}

bool ReadExtended10(std::istream& stream, Extended& value) {
  char bytes[sizeof(Extended)] = {};
  if (!stream.read(bytes, 10)) return false;
  std::memcpy(&value, bytes, sizeof(Extended));
  return true;
}

TLxFloatVector::TLxFloatVector(uint32_t dimension) : items_(dimension, 0.0L) {}

void TLxFloatVector::SetDimension(uint32_t dimension) {
  if (dimension == items_.size()) return;
  items_.resize(dimension, 0.0L);
}

uint32_t TLxFloatVector::GetDimension() const { return static_cast<uint32_t>(items_.size()); }

void TLxFloatVector::CheckIndex(uint32_t index) const {
  if (index > items_.size() || index == 0) throw ELxFloatVector(OutOfBounds(index));
}

Extended TLxFloatVector::GetItem(uint32_t index) const {
  CheckIndex(index);
  return items_[index - 1];
}

void TLxFloatVector::SetItem(uint32_t index, Extended value) {
  CheckIndex(index);
  items_[index - 1] = value;
}

Extended* TLxFloatVector::DataAddress() { return items_.data(); }
const Extended* TLxFloatVector::DataAddress() const { return items_.data(); }

std::string TLxFloatVector::ToString() const {
  return Braced(items_, [](Extended x) { return FloatToStr(x); });
}

std::string TLxFloatVector::ToFormattedString(TFloatFormat format, int precision,
                                              int digits) const {
  return Braced(items_, [&](Extended x) {
    std::string text = FloatToStrF(x, format, precision, digits);
    return x > 0 ? " " + text : text;
  });
}

std::string TLxFloatVector::ToExponentString(int precision, int digits) const {
  const std::string text = Braced(items_, [&](Extended x) {
    return FloatToStrF(x, TFloatFormat::kExponent, precision, digits);
  });
  std::string out;
  for (char c : text) {
    if (c == 'E')
      out += "*10^";
    else
      out += c;
  }
  return out;
}

void TLxFloatVector::FromString(const std::string& text) {
  std::string rest;
  for (char c : text)
    if (c != '{' && c != '}') rest += c;
  uint32_t count = 1;
  for (char c : rest)
    if (c == ',') ++count;
  SetDimension(count);
  for (uint32_t k = 1; k <= count; ++k) {
    std::string piece;
    const auto comma = rest.find(',');
    if (k < count && comma != std::string::npos) {
      piece = rest.substr(0, comma);
      rest.erase(0, comma + 1);
    } else {
      piece = rest;
    }
    Extended value;
    if (!TryStrToExtended(piece, value)) throw ELxFloatVector("False string format");
    items_[k - 1] = value;
  }
}

void TLxFloatVector::SaveToStrings(std::vector<std::string>& lines) const {
  lines.push_back(std::to_string(items_.size()));
  for (Extended x : items_) lines.push_back(FloatToStr(x));
}

void TLxFloatVector::SaveToStringsFormatted(std::vector<std::string>& lines, TFloatFormat format,
                                            int precision, int digits) const {
  lines.push_back(std::to_string(items_.size()));
  for (Extended x : items_) lines.push_back(FloatToStrF(x, format, precision, digits));
}

void TLxFloatVector::LoadFromStrings(const std::vector<std::string>& lines, int start_index) {
  auto read = [&]() -> bool {
    if (start_index < 0 || static_cast<size_t>(start_index) >= lines.size()) return false;
    const auto start = static_cast<size_t>(start_index);
    int32_t count;
    if (!TryStrToInt(lines[start], count)) return false;
    // Every element needs its own line: check before resizing, so that a
    // corrupt count cannot make us allocate a huge block.
    if (count < 0 || count > kLxFloatVectorBounds ||
        static_cast<size_t>(count) > lines.size() - start - 1)
      return false;
    SetDimension(static_cast<uint32_t>(count));
    for (size_t k = 1; k <= static_cast<size_t>(count); ++k) {
      Extended value;
      if (!TryStrToExtended(lines[start + k], value)) return false;
      items_[k - 1] = value;
    }
    return true;
  };
  if (!read()) {
    ShowMessage("List of strings had at least one non numeric expression.");
    SetDimension(1);
    throw ELxFloatVector("Can't get vector from strings.");
  }
}

void TLxFloatVector::SaveToStream(std::ostream& stream) const {
  WriteUInt32LE(stream, GetDimension());
  for (Extended x : items_) WriteExtended10(stream, x);
}

void TLxFloatVector::LoadFromStream(std::istream& stream) {
  uint32_t count;
  if (!ReadUInt32LE(stream, count)) throw ELxFloatVector("Stream read error");
  if (count > kLxFloatVectorBounds)
    throw ELxFloatVector("Dimension > TLxFloatVectorBounds not allowed");
  // Grow with the data actually read, never by the announced count alone.
  std::vector<Extended> items;
  for (uint32_t k = 0; k < count; ++k) {
    Extended value;
    if (!ReadExtended10(stream, value)) throw ELxFloatVector("Stream read error");
    items.push_back(value);
  }
  items_ = std::move(items);
}

std::shared_ptr<ILxFloatVector> TLxFloatVector::AddedScalar(Extended x) const {
  auto result = CopyFloatVector(*this);
  result->AddScalar(x);
  return result;
}

std::shared_ptr<ILxFloatVector> TLxFloatVector::MultipliedScalar(Extended x) const {
  auto result = CopyFloatVector(*this);
  result->MultiplyScalar(x);
  return result;
}

Extended TLxFloatVector::EvaluatePolynomial(Extended x) const {
  ClearFpFaults();
  Extended sum = 0.0L;
  Extended power = 1.0L;
  for (Extended a : items_) {
    sum += a * power;
    power *= x;
  }
  RaiseFpFaults();
  return sum;
}

Extended TLxFloatVector::Mean() const {
  ClearFpFaults();
  Extended sum = 0.0L;
  for (Extended x : items_) sum += x;
  const Extended mean = sum / static_cast<Extended>(items_.size());
  RaiseFpFaults();
  return mean;
}

Extended TLxFloatVector::StdDev() const {
  const Extended variance = Variance();
  ClearFpFaults();
  const Extended result = std::sqrt(variance);
  RaiseFpFaults();
  return result;
}

Extended TLxFloatVector::Variance() const {
  const Extended mean = Mean();
  ClearFpFaults();
  Extended sum = 0.0L;
  for (Extended x : items_) sum += (x - mean) * (x - mean);
  const Extended variance = sum / (static_cast<Extended>(items_.size()) - 1.0L);
  RaiseFpFaults();
  return variance;
}

std::shared_ptr<ILxFloatVector> TLxFloatVector::SortedCopy() const {
  auto result = CopyFloatVector(*this);
  result->Sort();
  return result;
}

std::shared_ptr<ILxFloatVector> TLxFloatVector::SortedByMagnitudeCopy() const {
  auto result = CopyFloatVector(*this);
  result->SortByMagnitude();
  return result;
}

Extended TLxFloatVector::SumOfSquares() const {
  ClearFpFaults();
  Extended sum = 0.0L;
  for (Extended x : items_) sum += x * x;
  RaiseFpFaults();
  return sum;
}

void TLxFloatVector::AddScalar(Extended x) {
  ClearFpFaults();
  for (Extended& item : items_) item = x + item;
  RaiseFpFaults();
}

void TLxFloatVector::MultiplyScalar(Extended x) {
  ClearFpFaults();
  for (Extended& item : items_) item = x * item;
  RaiseFpFaults();
}

void TLxFloatVector::Assign(const ILxFloatVector& source) {
  if (&source == this) return;
  SetDimension(source.GetDimension());
  if (!items_.empty())
    std::memcpy(items_.data(), source.DataAddress(), items_.size() * sizeof(Extended));
}

// Exchange sort: O(n^2), but it never swaps equal elements, so the order of
// ties (e.g. -2 and 2 by magnitude) is kept.
void TLxFloatVector::Sort() {
  const size_t n = items_.size();
  for (size_t a = 0; a + 1 < n; ++a)
    for (size_t b = a + 1; b < n; ++b)
      if (items_[b] < items_[a]) std::swap(items_[a], items_[b]);
}

void TLxFloatVector::SortByMagnitude() {
  const size_t n = items_.size();
  for (size_t a = 0; a + 1 < n; ++a)
    for (size_t b = a + 1; b < n; ++b)
      if (std::fabs(items_[a]) > std::fabs(items_[b])) std::swap(items_[a], items_[b]);
}

void TLxFloatVector::FillRandomNormal(Extended mean, Extended std_dev) {
  for (Extended& item : items_) item = RandomNormal(mean, std_dev);
}

void TLxFloatVector::FillFromFunction(TLxVectorFunction f) {
  for (size_t k = 0; k < items_.size(); ++k) items_[k] = f(static_cast<uint32_t>(k + 1));
}

void TLxFloatVector::FillFromFunctionData(TLxVectorFunctionData f, void* data) {
  for (size_t k = 0; k < items_.size(); ++k) items_[k] = f(static_cast<uint32_t>(k + 1), data);
}

void TLxFloatVector::Fill(Extended value) {
  for (Extended& item : items_) item = value;
}

void TLxFloatVector::Clear() { Fill(0.0L); }

std::shared_ptr<ILxFloatVector> CreateFloatVector(int64_t dimension) {
  if (dimension < 1) throw ELxFloatVector("Dimension < 1 not allowed");
  if (dimension > kLxFloatVectorBounds)
    throw ELxFloatVector("Dimension > TLxFloatVectorBounds not allowed");
  return std::make_shared<TLxFloatVector>(static_cast<uint32_t>(dimension));
}

std::shared_ptr<ILxFloatVector> CopyFloatVector(const ILxFloatVector& source) {
  auto result = CreateFloatVector(source.GetDimension());
  result->Assign(source);
  return result;
}

}  // namespace morvex
