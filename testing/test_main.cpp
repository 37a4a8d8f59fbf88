// Entry point of the unit tests: the same number and random set-up as the
// program, pinned so that results do not depend on the machine's locale.
#include <gtest/gtest.h>

#include "numerics/LxBasics.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  morvex::SetDecimalSeparator('.');
  morvex::SetRandSeed(0);
  return RUN_ALL_TESTS();
}
