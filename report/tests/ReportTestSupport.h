// Shared pieces of the report tests: a trust-region fit on a published
// tire's data, and reading a PDF back with pdftotext.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

#include "fitting/FitCommands.h"
#include "fitting/tests/PublishedTires.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex::test {

// Frees exactly `names` (every other box cleared).
inline void FreeExactly(TCoefficientSet& set, std::initializer_list<const char*> names) {
  for (const TCoefficientInfo& info : Coefficients())
    if (info.HasFreeFlag()) set.SetFree(info.name, false);
  for (const char* name : names) set.SetFree(name, true);
}

// True when pdftotext runs here.
inline bool HavePdfToText() { return std::system("pdftotext -v >/dev/null 2>&1") == 0; }

// The text pdftotext extracts from the PDF at `path` ("" when it fails).
inline std::string PdfText(const std::string& path, bool layout = false) {
  const std::string out = path + ".txt";
  const std::string command =
      std::string("pdftotext ") + (layout ? "-layout " : "") + "'" + path + "' '" + out + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) return "";
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  std::remove(out.c_str());
  return text.str();
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

#define MORVEX_SKIP_WITHOUT_PDFTOTEXT()                                                                  \
  if (!::morvex::test::HavePdfToText())                                                                  \
  GTEST_SKIP() << "pdftotext is not installed here (poppler-utils, installed by scripts/install-deps.sh " \
                  "--test and in CI): the PDF's text is not checked"

}  // namespace morvex::test
