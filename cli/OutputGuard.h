// An output file never names an input file.
//
// Every command that writes a file checks its output against each file it
// reads, before it reads or writes anything: the same path, another spelling
// of it ("./a.plt", "x/../a.plt"), a symbolic link to it or a hard link of it
// all name the same file, and writing there would destroy the input.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "files/SameFile.h"

namespace morvex {

// Raises Exception naming both when `output` names one of `inputs` (empty
// inputs are skipped): "The output <output> is the input <input>: an input
// is never overwritten; choose another output file".
void RefuseOutputNamingInput(const std::string& output, const std::vector<std::optional<std::string>>& inputs);

}  // namespace morvex
