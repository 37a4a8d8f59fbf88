#include "files/SameFile.h"

#include <filesystem>
#include <system_error>

namespace morvex {

namespace fs = std::filesystem;

bool SameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  std::error_code ec;
  // Both exist: the file system knows whether they are one file, whatever
  // links or spellings lead to it.
  if (fs::exists(a, ec) && fs::exists(b, ec)) {
    const bool same = fs::equivalent(a, b, ec);
    if (!ec) return same;
  }
  // One of them does not exist yet (or cannot be asked): compare the paths
  // with every link of the existing part resolved.
  const fs::path ca = fs::weakly_canonical(fs::absolute(a, ec), ec);
  if (ec) return fs::absolute(a).lexically_normal() == fs::absolute(b).lexically_normal();
  const fs::path cb = fs::weakly_canonical(fs::absolute(b, ec), ec);
  if (ec) return fs::absolute(a).lexically_normal() == fs::absolute(b).lexically_normal();
  return ca == cb;
}

}  // namespace morvex
