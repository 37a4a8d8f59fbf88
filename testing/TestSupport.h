// Small helpers shared by the unit tests.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "numerics/LxTypes.h"

namespace morvex::test {

// Runs `fn` and returns the message of the exception of type E it raises,
// or "<no exception>" when it returns normally (another type propagates).
template <class E = Exception, class Fn>
std::string MessageOf(Fn&& fn) {
  try {
    fn();
  } catch (const E& e) {
    return e.what();
  }
  return "<no exception>";
}

// The bytes of the file at `path` ("" when it cannot be read).
inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A property file's text without the minute it was written at (" written
// ..." on its first line), which is all two writes of the same tire may
// differ in.
inline std::string WithoutWriteTime(std::string text) {
  const size_t end = text.find('\n');
  const size_t at = text.find(" written ");
  if (at != std::string::npos && at < end) text.erase(at, end - at);
  return text;
}

}  // namespace morvex::test
