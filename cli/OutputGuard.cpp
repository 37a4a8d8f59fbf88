#include "cli/OutputGuard.h"

#include <filesystem>

#include "numerics/LxTypes.h"

namespace morvex {

namespace fs = std::filesystem;

void RefuseOutputNamingInput(const std::string& output, const std::vector<std::optional<std::string>>& inputs) {
  for (const std::optional<std::string>& input : inputs) {
    if (!input || input->empty()) continue;
    if (SameFile(output, *input))
      throw Exception("The output " + output + " is the input " + *input +
                      ": an input is never overwritten; choose another output file");
  }
}

}  // namespace morvex
