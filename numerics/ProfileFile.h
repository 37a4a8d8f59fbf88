// Profile files: INI-style text files of [sections] holding key=value lines.
//
// This is the program's one door to such files.  It behaves like the
// classic profile-file functions of desktop systems: section and key names
// match without regard to case; a write replaces the one line of its key
// (or adds the key to its section, or the section at the end of the file,
// or creates the file) and keeps every other byte of the file, comments and
// blank lines included.  It reads and writes the files itself rather than
// through minIni: that library reads through a fixed 512-byte line buffer
// (a longer line was cut short, and its rest read as a line of its own),
// takes a byte-order mark for part of the first section name, and writes
// LF line ends into CR LF files.
//
// Reading.  Blanks around the equals sign and around the value are dropped,
// a value in double quotes loses its quotes, and a ';' or '#' after the value
// starts a comment that is not part of it.  Lines beginning with ';' or '#'
// are comments.  A UTF-8 byte-order mark at the start of the file is not
// part of the first line.  Lines of any length are read whole, ended by LF
// or CR LF.  When a section or key occurs twice, the first one counts.
//
// Writing.  A rewritten key line keeps its own line end (CR LF in a file
// written on Windows); a new line takes the line end of the section
// it joins, a new section the line end most lines of the file have.  A key
// missing from its section is added after the section's last non-blank
// line; a missing section is added at the end of the file.  A written line
// stays within kMaxProfileLine bytes and a path within kMaxProfilePath
// bytes, the limits of the classic profile functions, so that every program
// that reads these files reads them whole: a longer one is refused (the
// functions return false), never cut short.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morvex {

inline constexpr size_t kMaxProfileLine = 509;
inline constexpr size_t kMaxProfilePath = 510;

// A profile file read once, for callers that look up many keys: the same
// lookups as ReadProfileString without reading the file again per key.  A
// missing or unreadable file reads as empty.
class TProfileReader {
 public:
  explicit TProfileReader(const std::string& path);
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;

 private:
  struct TEntry {
    size_t section;  // index into sections_
    std::string key, value;
  };
  std::vector<TEntry> entries_;        // every key line in file order
  std::vector<std::string> sections_;  // section names in file order; "" for keys before any
};

// A text file as lines: the byte-order mark (if any), and each line's text
// with its own line end ("\r\n", "\n", or "" for a last line without one).
// Shared by the profile files and the property files.
struct TTextLine {
  std::string text;
  std::string ending;
};
struct TTextFile {
  std::string bom;
  std::vector<TTextLine> lines;
  // The line end most lines have ("\n" on a tie or when there is none).
  std::string Ending() const;
  std::string Join() const;
};
// Reads the whole file at `path`; false when it cannot be opened or read.
bool ReadTextFile(const std::string& path, TTextFile& file);
// Splits `bytes` as ReadTextFile does.
TTextFile SplitTextFile(std::string_view bytes);

// Replaces the file at `path` by `content` in one step: written to a new
// file in the same folder, flushed, given the permission bits of the old
// file and renamed over it; a symbolic link is followed.  False, with the
// file as it was and no temporary file left, on any failure.  `path` must
// name a regular file or nothing.
bool ReplaceFileContent(const std::string& path, std::string_view content);

// The text stored under `section`/`key` in the file at `path`, or nullopt
// when the file, the section or the key is missing.  An empty value is an
// empty string, not nullopt.
std::optional<std::string> ReadProfileString(const std::string& path, const std::string& section,
                                             const std::string& key);

// Stores `value` under `section`/`key` in the file at `path`, creating the
// file or the section when missing.  The key line is written as
// "<key>=<value>" in the caller's spelling of the key.  Returns false when
// the file cannot be written, or when a name or the value holds a line break,
// the key is empty or holds '=', the section holds ']', or a line or the
// path would exceed the limits above.
bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value);

// One key to store with WriteProfileStrings.
struct TProfileEntry {
  std::string section;
  std::string key;
  std::string value;
};

// Stores every entry, in order, as WriteProfileString would, but replaces the
// file in one step: the existing file (if any) is copied to a temporary file
// in the same folder, the writes go to the copy, and the copy is renamed over
// `path`.  Either every entry is stored or the file at `path` is left exactly
// as it was; on failure the temporary file is removed and false is returned.
// The replaced file keeps its permission bits; a symbolic link is followed,
// so the file it points to is the one replaced.  `path` must name a regular
// file or nothing.
bool WriteProfileStrings(const std::string& path, std::span<const TProfileEntry> entries);

}  // namespace morvex
