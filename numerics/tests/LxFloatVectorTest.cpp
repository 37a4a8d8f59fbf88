#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "testing/TestSupport.h"
#include "numerics/LxFloatVector.h"

namespace morvex {
namespace {

using test::MessageOf;

std::shared_ptr<ILxFloatVector> Vec(std::initializer_list<Extended> values) {
  auto v = CreateFloatVector(static_cast<int64_t>(values.size()));
  uint32_t k = 1;
  for (Extended x : values) v->SetItem(k++, x);
  return v;
}

std::vector<Extended> Items(const ILxFloatVector& v) {
  return std::vector<Extended>(v.DataAddress(), v.DataAddress() + v.GetDimension());
}

TEST(LxFloatVector, CreationChecksTheDimension) {
  EXPECT_EQ(MessageOf<ELxFloatVector>([] { CreateFloatVector(0); }), "Dimension < 1 not allowed");
  EXPECT_EQ(MessageOf<ELxFloatVector>([] { CreateFloatVector(-1); }), "Dimension < 1 not allowed");
  EXPECT_EQ(MessageOf<ELxFloatVector>([] { CreateFloatVector(int64_t{1} << 28); }),
            "Dimension > TLxFloatVectorBounds not allowed");
  EXPECT_EQ(Items(*CreateFloatVector(3)), (std::vector<Extended>{0, 0, 0}));
}

TEST(LxFloatVector, ElementAccessIsBoundsChecked) {
  auto v = Vec({1, 2});
  EXPECT_EQ(MessageOf<ELxFloatVector>([&] { v->GetItem(0); }), "Element 0 out of bounds");
  EXPECT_EQ(MessageOf<ELxFloatVector>([&] { v->SetItem(3, 1); }), "Element 3 out of bounds");
  EXPECT_EQ(v->GetItem(2), 2);
}

TEST(LxFloatVector, HandlesShareAndCopiesDoNot) {
  auto v = Vec({1, 2});
  auto same = v;
  auto copy = CopyFloatVector(*v);
  v->SetItem(1, 9);
  EXPECT_EQ(same->GetItem(1), 9);
  EXPECT_EQ(copy->GetItem(1), 1);
}

TEST(LxFloatVector, SetDimensionKeepsHeadAndZeroFillsGrowth) {
  auto v = Vec({1, 2, 3});
  v->SetDimension(5);
  EXPECT_EQ(Items(*v), (std::vector<Extended>{1, 2, 3, 0, 0}));
  v->SetDimension(2);
  EXPECT_EQ(Items(*v), (std::vector<Extended>{1, 2}));
  v->SetDimension(4);
  EXPECT_EQ(Items(*v), (std::vector<Extended>{1, 2, 0, 0}));
}

TEST(LxFloatVector, TextForms) {
  auto v = Vec({1, -2.5});
  EXPECT_EQ(v->ToString(), "{ 1, -2.5 }");
  EXPECT_EQ(v->ToFormattedString(TFloatFormat::kFixed, 15, 2), "{  1.00, -2.50 }");
  EXPECT_EQ(Vec({1500})->ToExponentString(2, 3), "{ 1.5*10^+003 }");
  EXPECT_EQ(Vec({0})->ToFormattedString(TFloatFormat::kFixed, 15, 1), "{ 0.0 }");
}

TEST(LxFloatVector, FromStringReadsTheToStringLayout) {
  auto v = CreateFloatVector(1);
  v->FromString(Vec({1, -2.5, 3e-7})->ToString());
  EXPECT_EQ(Items(*v), (std::vector<Extended>{1, -2.5, 3e-7L}));
  v->FromString("4.25");
  EXPECT_EQ(Items(*v), (std::vector<Extended>{4.25}));
}

TEST(LxFloatVector, FromStringFailureKeepsTheElementsBeforeIt) {
  auto v = Vec({7, 7, 7});
  EXPECT_EQ(MessageOf<ELxFloatVector>([&] { v->FromString("{ 1, x, 3 }"); }),
            "False string format");
  EXPECT_EQ(v->GetDimension(), 3u);
  EXPECT_EQ(v->GetItem(1), 1);
  EXPECT_EQ(v->GetItem(3), 7);
}

TEST(LxFloatVector, StringsRoundTrip) {
  std::vector<std::string> lines{"header"};
  Vec({0.5, -3, 1e-9})->SaveToStrings(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"header", "3", "0.5", "-3", "1E-9"}));
  auto v = CreateFloatVector(1);
  v->LoadFromStrings(lines, 1);
  EXPECT_EQ(Items(*v), (std::vector<Extended>{0.5, -3, 1e-9L}));
}

TEST(LxFloatVector, LoadFromStringsFailureShowsMessageAndResizesToOne) {
  std::vector<std::string> shown;
  SetMessageSink([&](const std::string& text) { shown.push_back(text); });
  auto v = Vec({1, 2, 3});
  const std::vector<std::vector<std::string>> bad = {
      {"2", "1", "oops"}, {"3", "1", "2"}, {"-1"}, {"200000000"}, {}};
  for (const auto& lines : bad) {
    v->SetDimension(3);
    EXPECT_EQ(MessageOf<ELxFloatVector>([&] { v->LoadFromStrings(lines, 0); }),
              "Can't get vector from strings.");
    EXPECT_EQ(v->GetDimension(), 1u);
  }
  SetMessageSink(nullptr);
  ASSERT_EQ(shown.size(), bad.size());
  EXPECT_EQ(shown[0], "List of strings had at least one non numeric expression.");
}

TEST(LxFloatVector, StreamLayoutIsLittleEndianCountAndTenByteElements) {
  auto v = Vec({1, -0.1L});
  std::stringstream stream;
  v->SaveToStream(stream);
  const std::string bytes = stream.str();
  ASSERT_EQ(bytes.size(), 4u + 2 * 10);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\x02\x00\x00\x00", 4));
  // 1.0 in x87 format: mantissa 0x8000000000000000, exponent 0x3FFF.
  EXPECT_EQ(bytes.substr(4, 10), std::string("\0\0\0\0\0\0\0\x80\xff\x3f", 10));
  auto back = CreateFloatVector(5);
  back->LoadFromStream(stream);
  EXPECT_EQ(Items(*back), Items(*v));  // bit-exact
}

TEST(LxFloatVector, ShortStreamLeavesTheVectorUnchanged) {
  std::stringstream stream;
  Vec({1, 2, 3})->SaveToStream(stream);
  std::string bytes = stream.str();
  std::stringstream truncated(bytes.substr(0, bytes.size() - 1));
  auto v = Vec({9});
  EXPECT_EQ(MessageOf<ELxFloatVector>([&] { v->LoadFromStream(truncated); }), "Stream read error");
  EXPECT_EQ(Items(*v), (std::vector<Extended>{9}));
  // A corrupt count far beyond the data is refused without allocating it.
  std::stringstream huge(std::string("\xff\xff\xff\x0f", 4));
  EXPECT_EQ(MessageOf<ELxFloatVector>([&] { v->LoadFromStream(huge); }), "Stream read error");
  std::stringstream beyond(std::string("\x00\x00\x00\x10", 4));
  EXPECT_EQ(MessageOf<ELxFloatVector>([&] { v->LoadFromStream(beyond); }),
            "Dimension > TLxFloatVectorBounds not allowed");
}

TEST(LxFloatVector, Statistics) {
  auto v = Vec({2, 4, 4, 4, 5, 5, 7, 9});
  EXPECT_EQ(v->Mean(), 5);
  EXPECT_NEAR(static_cast<double>(v->Variance()), 32.0 / 7.0, 1e-15);
  EXPECT_NEAR(static_cast<double>(v->StdDev()), std::sqrt(32.0 / 7.0), 1e-15);
  EXPECT_EQ(v->SumOfSquares(), 232);
  EXPECT_EQ(Vec({1, -2, 3})->EvaluatePolynomial(2), 1 - 4 + 12);
}

TEST(LxFloatVector, StatisticsOfTooShortVectorsRaiseTheFault) {
  auto one = Vec({3});
  EXPECT_THROW(one->Variance(), EMathError);
  EXPECT_THROW(one->StdDev(), EMathError);
  auto empty = Vec({3});
  empty->SetDimension(0);
  EXPECT_THROW(empty->Mean(), EMathError);
  EXPECT_NO_THROW(RaiseFpFaults());  // nothing left behind
}

TEST(LxFloatVector, ArithmeticOverflowRaises) {
  auto v = Vec({1e4000L});
  EXPECT_THROW(v->MultiplyScalar(1e4000L), EOverflow);
}

TEST(LxFloatVector, SortingIsAscendingAndKeepsTies) {
  EXPECT_EQ(Items(*Vec({-3, 1, 2})->SortedByMagnitudeCopy()), (std::vector<Extended>{1, 2, -3}));
  EXPECT_EQ(Items(*Vec({-2, 2, 1})->SortedByMagnitudeCopy()), (std::vector<Extended>{1, 2, -2}));
  EXPECT_EQ(Items(*Vec({3, -1, 2, -1})->SortedCopy()), (std::vector<Extended>{-1, -1, 2, 3}));
  auto v = Vec({2, 1});
  v->SortedCopy();
  EXPECT_EQ(Items(*v), (std::vector<Extended>{2, 1}));  // the copy, not the source
}

TEST(LxFloatVector, Fills) {
  auto v = CreateFloatVector(3);
  v->FillFromFunction([](uint32_t k) -> Extended { return k * k; });
  EXPECT_EQ(Items(*v), (std::vector<Extended>{1, 4, 9}));
  Extended offset = 0.5;
  v->FillFromFunctionData(
      [](uint32_t k, void* data) -> Extended { return k + *static_cast<Extended*>(data); },
      &offset);
  EXPECT_EQ(Items(*v), (std::vector<Extended>{1.5, 2.5, 3.5}));
  auto noise = CreateFloatVector(4000);
  noise->FillRandomNormal(10, 2);
  EXPECT_NEAR(static_cast<double>(noise->Mean()), 10, 0.15);
  EXPECT_NEAR(static_cast<double>(noise->StdDev()), 2, 0.15);
}

}  // namespace
}  // namespace morvex
