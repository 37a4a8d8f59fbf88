// Fuzzes the session reader: any bytes are either refused with a line and a
// reason (ESessionFormat) or give a state that, written again, reads back
// as the same text with its data's hash intact.  Any other exception, a
// crash, undefined behaviour, a leak or a hang is a fault.  The reader gets
// text, never a path: it reads nothing else and writes nothing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "files/SessionFile.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvex;
  TSessionRead read;
  try {
    read = ParseSession(fuzz::AsText(data, size), "fuzz");
  } catch (const ESessionFormat& error) {
    if (error.reason().empty()) fuzz::Fail("a refusal without a reason");
    return 0;
  } catch (const std::exception& error) {
    fuzz::Fail("the reader raised something other than a format error", error.what());
  }
  if (read.paths.size() != SessionPaths(read.state).size()) fuzz::Fail("the paths reported are not the session's");
  const std::string text = FormatSession(read.state);
  TSessionRead again;
  try {
    again = ParseSession(text, "again");
  } catch (const std::exception& error) {
    fuzz::Fail("a written session was refused", error.what());
  }
  if (!again.data_hash_matches) fuzz::Fail("a written session's data does not match its hash");
  if (FormatSession(again.state) != text) fuzz::Fail("a session changed on the way through its text");
  return 0;
}
