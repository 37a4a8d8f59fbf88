// Profile files: INI-style text files of [sections] holding key=value lines.
//
// This is the program's one door to such files, a thin layer over the minIni
// library that behaves like the classic profile-file functions of desktop
// systems: section and key names match without regard to case; a write
// replaces the one line of its key (or adds the key to its section, or the
// section at the end of the file, or creates the file) and keeps every other
// byte of the file, comments and blank lines included.
//
// Reading.  Blanks around the equals sign and around the value are dropped,
// a value in double quotes loses its quotes, and a ';' or '#' after the value
// starts a comment that is not part of it.
//
// Limits.  minIni reads a file through a line buffer of 512 bytes.  A value
// is therefore at most about 500 characters long: a longer one comes back
// cut short.  A line longer than 511 bytes is read in pieces, and each piece
// after the first is parsed as a line of its own, so text beyond byte 511 of
// a long comment could in principle be taken for a key or section.  A write
// whose section or key line would not fit, or whose file name is too long
// for minIni's own temporary file name, is refused here (the functions
// return false) rather than left to minIni, which would silently truncate it.
#pragma once

#include <optional>
#include <span>
#include <string>

namespace morvex {

// The text stored under `section`/`key` in the file at `path`, or nullopt
// when the file, the section or the key is missing.  An empty value is an
// empty string, not nullopt.
std::optional<std::string> ReadProfileString(const std::string& path, const std::string& section,
                                             const std::string& key);

// Stores `value` under `section`/`key` in the file at `path`, creating the
// file or the section when missing.  The key line is written as
// "<key>=<value>" in the caller's spelling of the key.  Returns false when
// the file cannot be written, or when a name or the value holds a line break,
// the key is empty or holds '=', the section holds ']', or a line would
// exceed minIni's limits.
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
