#include "bench/JsonWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace morvex::bench {
namespace {

TEST(JsonWriter, NestsContainersWithCommasOnlyBetweenElements) {
  JsonWriter json;
  json.BeginObject()
      .Field("a", 1)
      .Key("list")
      .BeginArray()
      .Value(true)
      .BeginObject()
      .EndObject()
      .BeginArray()
      .EndArray()
      .Value("x")
      .EndArray()
      .Key("o")
      .BeginObject()
      .Field("b", false)
      .EndObject()
      .Field("c", "d")
      .EndObject();
  EXPECT_EQ(json.Text(), R"({"a":1,"list":[true,{},[],"x"],"o":{"b":false},"c":"d"})");
}

TEST(JsonWriter, DoublesReadBackExactlyAndNonFiniteBecomesNull) {
  const double values[] = {0.1, -11.23, 1.0 / 3.0, 1e-300, 5e-324, 1.7976931348623157e308};
  for (double v : values) {
    JsonWriter json;
    json.Value(v);
    EXPECT_EQ(std::strtod(json.Text().c_str(), nullptr), v) << json.Text();
  }
  JsonWriter json;
  json.BeginArray()
      .Value(std::nan(""))
      .Value(std::numeric_limits<double>::infinity())
      .Value(-std::numeric_limits<double>::infinity())
      .EndArray();
  EXPECT_EQ(json.Text(), "[null,null,null]");
}

TEST(JsonWriter, EscapesQuotesBackslashesAndControlCharacters) {
  JsonWriter json;
  json.Value(std::string("a\"b\\c\nd\te\x01", 10));
  EXPECT_EQ(json.Text(), R"("a\"b\\c\nd\te\u0001")");
}

}  // namespace
}  // namespace morvex::bench
