// Small helpers shared by the unit tests.
#pragma once

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

}  // namespace morvex::test
