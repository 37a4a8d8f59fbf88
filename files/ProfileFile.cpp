#include "files/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include <minIni.h>

namespace morvex {

namespace {

// minIni reports a missing key by handing back the default, so a key is
// present exactly when two reads with different defaults agree.  The defaults
// start with a control character that no hand-written file holds.
constexpr const char* kAbsentA = "\x01morvex-absent-a";
constexpr const char* kAbsentB = "\x01morvex-absent-b";

// Longest line minIni writes and reads back whole: its buffer of
// INI_BUFFERSIZE bytes holds the line, its line end and a terminating zero.
constexpr size_t kMaxLine = INI_BUFFERSIZE - 3;

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

bool WriteAllowed(const std::string& path, const std::string& section, const std::string& key,
                  const std::string& value) {
  // minIni builds its temporary file name in a buffer of the same size and
  // would cut a longer path short, writing somewhere else.
  if (path.empty() || path.size() >= INI_BUFFERSIZE - 1) return false;
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
  if (key.empty() || key.find('=') != std::string::npos) return false;
  if (section.find(']') != std::string::npos) return false;
  if (section.size() + 2 > kMaxLine) return false;
  // minIni may put the value in quotes and escape quotes inside it.
  const size_t quotes = 2 + static_cast<size_t>(std::count(value.begin(), value.end(), '"'));
  return key.size() + 1 + value.size() + quotes <= kMaxLine;
}

// Removes its file on destruction unless released.
class TTempFile {
 public:
  explicit TTempFile(std::string path) : path_(std::move(path)) {}
  ~TTempFile() {
    if (path_.empty()) return;
    std::remove(path_.c_str());
    // minIni's own scratch file beside it: our name with its last character
    // replaced by '~', left behind if minIni failed halfway.
    std::string scratch = path_;
    scratch.back() = '~';
    std::remove(scratch.c_str());
  }
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  const std::string& path() const { return path_; }
  void Release() { path_.clear(); }

 private:
  std::string path_;
};

// Creates an empty file of a new name in `folder` and returns its open
// descriptor and name; -1 when the folder cannot take a new file.  The mode
// 0666 lets the umask decide, as for any new file.
int CreateTempFile(const std::filesystem::path& folder, const std::string& file_name, std::string& temp_path) {
  static unsigned counter = 0;
  // A shortened stem keeps the name within the file-name limit of the
  // folder however long the target's own name is.
  const std::string stem = file_name.substr(0, 64);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = "." + stem + "." + std::to_string(getpid()) + "." + std::to_string(++counter) + ".tmp";
    temp_path = (folder / name).string();
    const int fd = open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST) return -1;
  }
  return -1;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Appends the whole content of `source` to `fd`.
bool CopyInto(const std::string& source, int fd) {
  const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  std::vector<char> buffer(65536);
  bool ok = true;
  for (;;) {
    const ssize_t n = read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    if (!WriteAll(fd, buffer.data(), static_cast<size_t>(n))) {
      ok = false;
      break;
    }
  }
  close(in);
  return ok;
}

// Flushes a file (or folder) to the disk, so that a rename never exposes a
// file whose content is not yet stored.
bool SyncPath(const std::string& path, bool folder) {
  const int fd = open(path.c_str(), (folder ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

}  // namespace

std::optional<std::string> ReadProfileString(const std::string& path, const std::string& section,
                                             const std::string& key) {
  char buffer[INI_BUFFERSIZE];
  ini_gets(section.c_str(), key.c_str(), kAbsentA, buffer, sizeof buffer, path.c_str());
  std::string first(buffer);
  if (first != kAbsentA) return first;
  ini_gets(section.c_str(), key.c_str(), kAbsentB, buffer, sizeof buffer, path.c_str());
  if (std::string(buffer) == kAbsentB) return std::nullopt;
  return first;  // the stored text happens to equal the first default
}

bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value) {
  if (!WriteAllowed(path, section, key, value)) return false;
  return ini_puts(section.c_str(), key.c_str(), value.c_str(), path.c_str()) != 0;
}

bool WriteProfileStrings(const std::string& path, std::span<const TProfileEntry> entries) {
  namespace fs = std::filesystem;
  if (path.empty()) return false;
  if (entries.empty()) return true;  // nothing to store, nothing to replace

  fs::path target(path);
  std::error_code ec;
  if (fs::is_symlink(target, ec)) {
    const fs::path resolved = fs::canonical(target, ec);
    if (!ec) target = resolved;  // a dangling link is replaced by the new file
  }
  const std::string target_name = target.string();
  if (!target.has_filename()) return false;

  struct stat info {};
  bool exists = false;
  if (stat(target_name.c_str(), &info) == 0) {
    // A folder, a device or a pipe is not a profile file: refuse rather than
    // copy from it or rename over it.
    if (!S_ISREG(info.st_mode)) return false;
    exists = true;
  } else if (errno != ENOENT) {
    return false;
  }

  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::string temp_name;
  const int fd = CreateTempFile(folder, target.filename().string(), temp_name);
  if (fd < 0) return false;
  TTempFile temp(temp_name);

  bool ok = !exists || CopyInto(target_name, fd);
  ok = (close(fd) == 0) && ok;
  if (!ok) return false;
  // minIni starts an empty file with a blank line but writes a file it has
  // to create without one: hand it no file rather than an empty one.  The
  // name stays ours, and a failure below still removes whatever is there.
  struct stat copy {};
  if (stat(temp.path().c_str(), &copy) != 0) return false;
  if (copy.st_size == 0 && std::remove(temp.path().c_str()) != 0) return false;

  for (const TProfileEntry& entry : entries)
    if (!WriteProfileString(temp.path(), entry.section, entry.key, entry.value)) return false;

  // minIni replaces the file it writes through a scratch file of its own, so
  // the copy now carries default permissions: give it those of the original.
  if (exists && chmod(temp.path().c_str(), info.st_mode & 07777) != 0) return false;
  if (!SyncPath(temp.path(), false)) return false;
  if (std::rename(temp.path().c_str(), target_name.c_str()) != 0) return false;
  temp.Release();
  SyncPath(folder.string(), true);  // best effort: the rename itself has succeeded
  return true;
}

}  // namespace morvex
