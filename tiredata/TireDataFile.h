// Reading tire data files: measured curves of one channel over slip, one
// block per camber angle, one column per vertical load.
//
// File layout (plain text; lines end with CR LF, LF or CR; a final line
// break adds no line):
//
//   free header text              ignored up to the first block
//   LOAD_CASE 1                   any line containing "LOAD_CASE" (exact case) starts a block
//   0                             camber angle in degrees: the whole line is one number
//   2000;4000;6000                the loads: L fields
//   -10;-1850;-3400;-4700         R data rows: slip, then one value per load,
//   0;20;35;50                    and nothing more
//
// A block's rows run up to the next "LOAD_CASE" line or to the end of the
// file.  Numbers use the process-wide decimal separator (LxBasics.h).
//
// Errors (the first one stops the read).  Each message of the data ends
// with where the fault is and what was due there, in parentheses:
// "(file <path>, line <n>, field <k>: <what>)", lines and fields counted
// from 1 as an editor shows them; the field is left out for a whole line,
// the file when the text was not read from one.
//   - a camber line or field that is not a number (an empty field too):
//     EConvertError "'<text>' n'est pas une valeur en virgule flottante
//     correcte (...: the value at load 4000)"; a text longer than 200
//     characters is quoted by its first 200 followed by "...", so that a
//     runaway line cannot flood the message box;
//   - a row with fewer than L + 1 fields (a blank line inside a block
//     included): EListError "Indice de liste hors limites (<k>) (...)", k
//     the 0-based index of the first missing field;
//   - a row with more than L + 1 fields: Exception "Too many fields on a
//     data row (...)", the field being the first one too many;
//   - a last block cut short by the end of the file (no camber or loads
//     line): EListError naming the missing line's 0-based index, i.e. the
//     file's line count;
//   - a file that cannot be opened or read, or a folder: EFOpenError;
//   - a file larger than the read limit (kMaxTireDataFileBytes, 256 MB):
//     Exception "The file <path> is too large to load as tire data (more
//     than 256 MB)", raised from its size before anything is read;
//   - a file that changes while it is read (it shrinks, grows or is
//     rewritten in place between the opening and the end of the read):
//     Exception "The file <path> changed while it was being read; load it
//     again when nothing is writing to it".
// A failed read returns no data set at all, so the caller keeps whatever it
// had before.
//
// Changes during the read.  The size and the modification time are taken
// when the file is opened and compared with the bytes read and with the
// file's state after the read, so a file truncated or rewritten in place by
// another program is reported, never loaded half old and half new.  A file
// replaced whole (written elsewhere and renamed over the name) or deleted
// while it is read is not a change: the open file still holds one complete
// version, and that version loads.  Two limits remain: a rewrite of the same
// length within one tick of the file system's clock leaves no trace, and a
// file that another program has only half written when it is opened loads
// as the half it holds (typically failing at its cut-off last row).  Pipes
// and devices have no size; they are read to their end, up to the limit.
//
// Cost.  Time is linear in the text: every line is scanned a bounded number
// of times, however long it is and however many blocks there are.  Memory:
// the file's text (its size, allocated once), plus the data set, reserved
// once per list.  The data set takes at most about 10 bytes per byte of
// text: numeric rows take at most 4 (8-byte doubles from fields of at least
// 2 bytes; files of real numbers take about 1), and the extreme is a file
// of tiny blocks ("LOAD_CASE\n0\n1\n1 1\n"), where each block's bookkeeping
// outweighs its 18 bytes.  So the peak stays below 11 times the file size
// plus a few megabytes, at most about 3 GB at the read limit.  Measured: a
// million rows of four loads (46 MB) peak at 87 MB; 252 MB of tiny blocks
// at 2.7 GB; a 1.2 GB file is refused at once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tiredata/TireDataSet.h"

namespace morvex {

// The keyword that starts a block, matched anywhere in a line.
inline constexpr std::string_view kLoadCaseKeyword = "LOAD_CASE";

// Files larger than this are refused by ReadTireDataFile: 256 MB holds a
// million rows of ten loads written with 13 significant digits (about
// 150 MB), while the peak memory of a load stays within what a desktop can
// spare (see Cost above).
inline constexpr uint64_t kMaxTireDataFileBytes = uint64_t{256} << 20;

// Splits `text` into lines at CR LF, LF or CR.  A line break at the very end
// adds no empty line; an empty text has no lines.
std::vector<std::string> SplitLines(std::string_view text);

// Splits one line into fields:
//   - blanks (character codes 1 to 32) at the start are skipped;
//   - a field is either a run of characters that are neither ';' nor of code
//     0 to 32, or a quoted text starting with '"' (a doubled quote inside
//     stands for one quote; the quotes are removed; an unterminated quote
//     runs to the end of the line);
//   - after a field, blanks are skipped, then at most one ';' together with
//     the blanks after it.
// So fields may be separated by ';', by blanks or by both; ";;" gives an
// empty field between them, and a ';' as the very last character gives an
// empty last field.  A NUL character ends the line's text.
std::vector<std::string> SplitFields(std::string_view line);

// Builds a data set from the lines of a tire data file.  `source` is the
// file's name for the error messages; empty leaves it out.
TTireDataSet ParseTireData(const std::vector<std::string>& lines, std::string_view source = {});
// The same from the whole file text, without splitting it into line copies
// first.  No size limit applies here; the memory bound above does.
TTireDataSet ParseTireDataText(std::string_view text, std::string_view source = {});
// Reads the file at `path` whole and parses it.  Raises EFOpenError
// ("Impossible d'ouvrir le fichier <path>") when it cannot be read, and the
// size and change errors above.  `max_bytes` is the read limit; the
// default suits the window and morvex-fit.
TTireDataSet ReadTireDataFile(const std::string& path, uint64_t max_bytes = kMaxTireDataFileBytes);
// The whole text of the file at `path`, read as ReadTireDataFile reads it:
// the same size limit, the same open, size and change errors.  The raw
// run-file readers share it.
std::string ReadTireDataText(const std::string& path, uint64_t max_bytes = kMaxTireDataFileBytes);

namespace detail {
// Called by ReadTireDataFile, when set, after the file is opened and its
// size and time are taken and before a byte is read: tests change the file
// there to check that such a change is caught.  The program never sets it.
extern std::function<void()> g_tire_data_read_hook;
}  // namespace detail

}  // namespace morvex
