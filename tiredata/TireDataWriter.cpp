#include "tiredata/TireDataWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiredata/TireDataFile.h"

namespace morvex {

namespace {

std::string Number(double value) { return FloatToStrF(value, TFloatFormat::kGeneral, 15, 0); }

std::string SafeHeaderLine(std::string line) {
  const size_t cut = line.find_first_of("\r\n");
  if (cut != std::string::npos) line.resize(cut);
  for (size_t at = line.find(kLoadCaseKeyword); at != std::string::npos; at = line.find(kLoadCaseKeyword, at))
    line[at + 4] = ' ';
  return line;
}

}  // namespace

std::string FormatTireData(const TTireDataSet& data, const std::vector<std::string>& header) {
  std::string text;
  for (const std::string& line : header) text += SafeHeaderLine(line) + '\n';
  for (size_t c = 0; c < data.Cases.size(); ++c) {
    const TLoadCase& lc = data.Cases[c];
    text += std::string(kLoadCaseKeyword) + ' ' + std::to_string(c + 1) + '\n';
    text += Number(lc.Camber) + '\n';
    for (size_t j = 0; j < lc.LoadCount(); ++j) text += (j ? ";" : "") + Number(lc.Loads[j]);
    text += '\n';
    for (size_t r = 0; r < lc.RowCount(); ++r) {
      text += Number(lc.Slips[r]);
      for (size_t j = 0; j < lc.LoadCount(); ++j) text += ';' + Number(lc.Value(r, j));
      text += '\n';
    }
  }
  return text;
}

void WriteTireDataFile(const std::string& path, const TTireDataSet& data,
                       const std::vector<std::string>& header) {
  const std::string text = FormatTireData(data, header);
  const std::string temp = path + ".part";
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw EWriteError(path);
  size_t done = 0;
  bool ok = true;
  while (ok && done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    throw EWriteError(path);
  }
}

}  // namespace morvex
