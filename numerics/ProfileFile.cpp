#include "numerics/ProfileFile.h"

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

#include "numerics/LxBasics.h"

namespace morvex {

namespace {

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// What one line of a profile file is.
struct TParsedLine {
  enum { kOther, kSection, kKey } kind = kOther;
  std::string name;   // section or key name, trimmed
  std::string value;  // key value, trimmed, unquoted, without comment
};

std::string ValueOf(std::string_view raw) {
  raw = Trim(raw);
  if (!raw.empty() && raw.front() == '"') {
    std::string out;
    for (size_t i = 1; i < raw.size(); ++i) {
      if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == '"') {
        out += '"';
        ++i;
      } else if (raw[i] == '"') {
        return out;
      } else {
        out += raw[i];
      }
    }
    return std::string(raw);  // no closing quote: the text as it stands
  }
  const size_t comment = raw.find_first_of(";#");
  return std::string(Trim(raw.substr(0, comment == std::string_view::npos ? raw.size() : comment)));
}

TParsedLine ParseLine(std::string_view line) {
  TParsedLine parsed;
  const std::string_view text = Trim(line);
  if (text.empty() || text.front() == ';' || text.front() == '#') return parsed;
  if (text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return parsed;
    parsed.kind = TParsedLine::kSection;
    parsed.name = std::string(Trim(text.substr(1, close - 1)));
    return parsed;
  }
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos) return parsed;
  parsed.kind = TParsedLine::kKey;
  parsed.name = std::string(Trim(text.substr(0, equals)));
  parsed.value = ValueOf(text.substr(equals + 1));
  return parsed;
}

// The value as written after "key=": quoted when blanks around it or a
// comment character would otherwise change what is read back.
std::string ValueText(const std::string& value) {
  const bool quote = !value.empty() &&
                     (IsBlank(value.front()) || IsBlank(value.back()) || value.front() == '"' ||
                      value.find_first_of(";#") != std::string::npos);
  if (!quote) return value;
  std::string out = "\"";
  for (char c : value) {
    if (c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

bool WriteAllowed(const std::string& path, const std::string& section, const std::string& key,
                  const std::string& value) {
  if (path.empty() || path.size() > kMaxProfilePath) return false;
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
  if (key.empty() || key.find('=') != std::string::npos) return false;
  if (section.find(']') != std::string::npos) return false;
  if (section.size() + 2 > kMaxProfileLine) return false;
  const size_t quotes = 2 + static_cast<size_t>(std::count(value.begin(), value.end(), '"'));
  return key.size() + 1 + value.size() + quotes <= kMaxProfileLine;
}

// Stores one entry in the lines of `file`.
void StoreEntry(TTextFile& file, const TProfileEntry& entry) {
  const std::string line = entry.key + "=" + ValueText(entry.value);
  auto& lines = file.lines;
  size_t i = 0;
  bool in_section = false;
  // Keys before any section belong to the section without a name.
  if (!entry.section.empty()) {
    for (; i < lines.size(); ++i) {
      const TParsedLine parsed = ParseLine(lines[i].text);
      if (parsed.kind == TParsedLine::kSection && SameAsciiText(parsed.name, entry.section)) {
        in_section = true;
        ++i;
        break;
      }
    }
  } else {
    in_section = true;
  }
  const std::string ending = file.Ending();
  if (!in_section) {
    if (!lines.empty() && lines.back().ending.empty()) lines.back().ending = ending;
    lines.push_back({"[" + entry.section + "]", ending});
    lines.push_back({line, ending});
    return;
  }
  size_t last_filled = i;  // insertion point: after the last non-blank line of the section
  for (; i < lines.size(); ++i) {
    const TParsedLine parsed = ParseLine(lines[i].text);
    if (parsed.kind == TParsedLine::kSection) break;
    if (parsed.kind == TParsedLine::kKey && SameAsciiText(parsed.name, entry.key)) {
      lines[i].text = line;  // the line keeps its own line end
      return;
    }
    if (!Trim(lines[i].text).empty()) last_filled = i + 1;
  }
  if (last_filled > 0 && lines[last_filled - 1].ending.empty()) lines[last_filled - 1].ending = ending;
  const std::string& new_ending = last_filled > 0 ? lines[last_filled - 1].ending : ending;
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last_filled), TTextLine{line, new_ending});
}

// Removes its file on destruction unless released.
class TTempFile {
 public:
  explicit TTempFile(std::string path) : path_(std::move(path)) {}
  ~TTempFile() {
    if (path_.empty()) return;
    std::remove(path_.c_str());
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

std::string TTextFile::Ending() const {
  size_t crlf = 0, lf = 0;
  for (const TTextLine& line : lines) {
    if (line.ending == "\r\n") ++crlf;
    if (line.ending == "\n") ++lf;
  }
  return crlf > lf ? "\r\n" : "\n";
}

std::string TTextFile::Join() const {
  std::string out = bom;
  for (const TTextLine& line : lines) out += line.text + line.ending;
  return out;
}

TTextFile SplitTextFile(std::string_view bytes) {
  TTextFile file;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    file.bom = std::string(bytes.substr(0, 3));
    bytes.remove_prefix(3);
  }
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    if (end == std::string_view::npos) {
      file.lines.push_back({std::string(bytes), ""});
      break;
    }
    const bool crlf = end > 0 && bytes[end - 1] == '\r';
    file.lines.push_back({std::string(bytes.substr(0, crlf ? end - 1 : end)), crlf ? "\r\n" : "\n"});
    bytes.remove_prefix(end + 1);
  }
  return file;
}

bool ReadTextFile(const std::string& path, TTextFile& file) {
  // stdio rather than streams: the fuzz targets serve these opens from memory.
  FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return false;
  std::string bytes;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) bytes.append(buffer, n);
  const bool ok = std::ferror(in) == 0;
  std::fclose(in);
  if (!ok) return false;
  file = SplitTextFile(bytes);
  return true;
}

TProfileReader::TProfileReader(const std::string& path) {
  TTextFile file;
  if (!ReadTextFile(path, file)) return;
  sections_.push_back("");
  size_t current = 0;
  for (const TTextLine& line : file.lines) {
    TParsedLine parsed = ParseLine(line.text);
    if (parsed.kind == TParsedLine::kSection) {
      sections_.push_back(std::move(parsed.name));
      current = sections_.size() - 1;
    } else if (parsed.kind == TParsedLine::kKey) {
      entries_.push_back({current, std::move(parsed.name), std::move(parsed.value)});
    }
  }
}

std::optional<std::string> TProfileReader::Get(std::string_view section, std::string_view key) const {
  // The first section of the name is the one searched, as the classic
  // functions do; a key in a later section of the same name is not seen.
  size_t index = 0;
  bool found = section.empty();
  for (size_t i = 1; !found && i < sections_.size(); ++i)
    if (SameAsciiText(sections_[i], section)) {
      index = i;
      found = true;
    }
  if (!found) return std::nullopt;
  for (const TEntry& entry : entries_)
    if (entry.section == index && SameAsciiText(entry.key, key)) return entry.value;
  return std::nullopt;
}

std::optional<std::string> ReadProfileString(const std::string& path, const std::string& section,
                                             const std::string& key) {
  return TProfileReader(path).Get(section, key);
}

bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value) {
  const TProfileEntry entry{section, key, value};
  return WriteProfileStrings(path, std::span<const TProfileEntry>(&entry, 1));
}

bool WriteProfileStrings(const std::string& path, std::span<const TProfileEntry> entries) {
  if (path.empty()) return false;
  if (entries.empty()) return true;  // nothing to store, nothing to replace
  for (const TProfileEntry& entry : entries)
    if (!WriteAllowed(path, entry.section, entry.key, entry.value)) return false;
  TTextFile file;
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode) || !ReadTextFile(path, file)) return false;
  } else if (errno != ENOENT) {
    return false;
  }
  for (const TProfileEntry& entry : entries) StoreEntry(file, entry);
  return ReplaceFileContent(path, file.Join());
}

bool ReplaceFileContent(const std::string& path, std::string_view content) {
  namespace fs = std::filesystem;
  if (path.empty()) return false;
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
    // A folder, a device or a pipe is not a text file: refuse rather than
    // rename over it.
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
  bool ok = WriteAll(fd, content.data(), content.size());
  // The new file gets the permission bits of the one it replaces; a new
  // name keeps what the umask gave it.
  if (ok && exists) ok = fchmod(fd, info.st_mode & 07777) == 0;
  if (ok) ok = fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  if (!ok) return false;
  if (std::rename(temp.path().c_str(), target_name.c_str()) != 0) return false;
  temp.Release();
  SyncPath(folder.string(), true);  // best effort: the rename itself has succeeded
  return true;
}

}  // namespace morvex
