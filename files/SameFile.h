// Whether two paths name one file: what every writer checks before it
// writes, so that an input is never overwritten through another spelling of
// its path ("./a.plt", "x/../a.plt"), a symbolic link or a hard link.
#pragma once

#include <string>

namespace morvex {

// True when `a` and `b` name one file: the same file when both exist (links
// resolved, hard links included), otherwise the same canonical path.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace morvex
