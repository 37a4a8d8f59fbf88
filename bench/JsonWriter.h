// A small streaming JSON writer for the benchmark's hand-over to its peer
// (bench/peer/): objects, arrays, strings, integers, booleans and doubles.
// Doubles are written with 17 significant digits, so the peer reads back
// exactly the double the bench used; a NaN or infinity becomes null.
//
// The writer only tracks where commas go; it does not check that keys and
// values alternate or that every Begin has its End.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace morvex::bench {

class JsonWriter {
 public:
  JsonWriter& BeginObject() { return Open('{'); }
  JsonWriter& EndObject() { return Close('}'); }
  JsonWriter& BeginArray() { return Open('['); }
  JsonWriter& EndArray() { return Close(']'); }

  JsonWriter& Key(std::string_view key) {
    Separate();
    Quoted(key);
    out_ += ':';
    after_key_ = true;
    return *this;
  }

  JsonWriter& Value(double value) {
    Separate();
    if (!std::isfinite(value)) {
      out_ += "null";
    } else {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", value);
      out_ += buf;
    }
    return *this;
  }
  JsonWriter& Value(int64_t value) {
    Separate();
    out_ += std::to_string(value);
    return *this;
  }
  JsonWriter& Value(int value) { return Value(static_cast<int64_t>(value)); }
  JsonWriter& Value(bool value) {
    Separate();
    out_ += value ? "true" : "false";
    return *this;
  }
  JsonWriter& Value(std::string_view value) {
    Separate();
    Quoted(value);
    return *this;
  }
  JsonWriter& Value(const char* value) { return Value(std::string_view(value)); }

  // Key and value in one call.
  template <class T>
  JsonWriter& Field(std::string_view key, const T& value) {
    Key(key);
    return Value(value);
  }

  const std::string& Text() const { return out_; }

 private:
  JsonWriter& Open(char bracket) {
    Separate();
    out_ += bracket;
    first_.push_back(true);
    return *this;
  }
  JsonWriter& Close(char bracket) {
    out_ += bracket;
    if (!first_.empty()) first_.pop_back();
    if (!first_.empty()) first_.back() = false;
    return *this;
  }
  // A comma before every element but the first of its container; none
  // between a key and its value.
  void Separate() {
    if (after_key_) {
      after_key_ = false;
      if (!first_.empty()) first_.back() = false;
      return;
    }
    if (first_.empty()) return;
    if (!first_.back()) out_ += ',';
    first_.back() = false;
  }
  void Quoted(std::string_view text) {
    out_ += '"';
    for (const char ch : text) {
      switch (ch) {
        case '"': out_ += "\\\""; break;
        case '\\': out_ += "\\\\"; break;
        case '\n': out_ += "\\n"; break;
        case '\r': out_ += "\\r"; break;
        case '\t': out_ += "\\t"; break;
        default:
          if (static_cast<unsigned char>(ch) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(ch));
            out_ += buf;
          } else {
            out_ += ch;
          }
      }
    }
    out_ += '"';
  }

  std::string out_;
  std::vector<bool> first_;
  bool after_key_ = false;
};

}  // namespace morvex::bench
