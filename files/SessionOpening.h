// What opening a session will do, in words, for the window's Open session
// dialog to show before anything of it is used: which data is used, every
// path the session names and what happens to it (nothing is read without the
// user's consent), whether the sources changed since saving, each channel's
// last verdict, and a tire's programme: its runs (named, left unread), the
// data it embeds, each stage with its verdict and the USE_MODE reached.
#pragma once

#include <string>
#include <vector>

#include "files/SessionFile.h"

namespace morvex {

struct TSessionOpeningLine {
  bool warning = false;  // something the user should weigh before opening
  std::string text;
};

// The lines, in the order the dialog shows them.  With `check_sources`, the
// source file and the runs named are hashed to tell whether they changed
// (CheckSourceFile: only regular files are read, nothing is written), the
// programme's runs too;
// without it they are listed as not checked.
std::vector<TSessionOpeningLine> DescribeSessionOpening(const TSessionRead& read, bool check_sources = true);

}  // namespace morvex
