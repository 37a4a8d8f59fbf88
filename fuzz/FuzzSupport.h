// Helpers shared by the fuzz targets.
//
// The profile-file readers take a file name, not a
// buffer, so the targets that feed them write each input to one scratch file
// first.  The file lives in /dev/shm when there is one (a memory file system:
// millions of rewrites cost no disk traffic), else in $TMPDIR or /tmp, and is
// removed when the fuzzer exits normally.
//
// A reader may open the file anew for every key it looks up, a hundred or more
// per input, and those opens took most of a run's time.  So this header
// also replaces fopen and fclose in the fuzz executables: a read-only open of
// the scratch file returns a stdio stream over a copy of the bytes just
// written (fmemopen), which the reader then reads with the same calls as a
// file.  One such stream serves every open of an input: closing it only
// marks it closed, and the next open rewinds it, so an input costs one
// stream and one stdio buffer instead of one per key.  A stream still open
// when the next input is written means a reader forgot to close the file,
// and fails the run as the leak it would be.  Every other open, and any open
// for writing, goes to the C library.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace morvex::fuzz {

// What the scratch file holds, for the fopen replacement below.
struct TScratchContent {
  std::string path;
  std::vector<char> bytes;
  FILE* stream = nullptr;    // the memory stream over `bytes`, made at the first open
  bool stream_open = false;  // handed out by fopen and not yet closed
};
inline TScratchContent& ScratchContent() {
  static TScratchContent content;
  return content;
}

// A property of the code under test does not hold: report it as a crash.
[[noreturn]] inline void Fail(const char* what, std::string_view input_text = {}) {
  std::fprintf(stderr, "morvex fuzz: %s\n", what);
  if (!input_text.empty())
    std::fprintf(stderr, "  text: '%.*s'\n", static_cast<int>(input_text.size()), input_text.data());
  std::abort();
}

using CloseFunction = int (*)(FILE*);
// The C library's fclose, which the replacement at the end of this file hides.
inline CloseFunction RealClose() {
  static const CloseFunction real = reinterpret_cast<CloseFunction>(dlsym(RTLD_NEXT, "fclose"));
  return real;
}

class TScratchFile {
 public:
  TScratchFile() {
    std::string folder = "/dev/shm";
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || access(folder.c_str(), W_OK) != 0) {
      const char* tmp = std::getenv("TMPDIR");
      folder = tmp && *tmp ? tmp : "/tmp";
    }
    std::string name = folder + "/morvex-fuzz-XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0) {
      std::perror("morvex fuzz: cannot create a scratch file");
      std::abort();
    }
    close(fd);
    path_ = name;
  }
  ~TScratchFile() { std::remove(path_.c_str()); }
  TScratchFile(const TScratchFile&) = delete;
  TScratchFile& operator=(const TScratchFile&) = delete;

  // Replaces the file's content with `size` bytes of `data` and returns its path.
  const std::string& Write(const uint8_t* data, size_t size) {
    const char* begin = reinterpret_cast<const char*>(data);
    const size_t length = size;
    const int fd = open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    bool ok = fd >= 0;
    while (ok && size > 0) {
      const ssize_t n = write(fd, data, size);
      ok = n > 0;
      if (ok) {
        data += n;
        size -= static_cast<size_t>(n);
      }
    }
    if (fd >= 0) ok = close(fd) == 0 && ok;
    if (!ok) {
      std::perror("morvex fuzz: cannot write the scratch file");
      std::abort();
    }
    TScratchContent& content = ScratchContent();
    if (content.stream) {
      if (content.stream_open) Fail("the input file was left open after its input");
      RealClose()(content.stream);
      content.stream = nullptr;
    }
    content.path = path_;
    content.bytes.assign(begin, begin + length);
    return path_;
  }

 private:
  std::string path_;
};

// The fuzz input as text.
inline std::string_view AsText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace morvex::fuzz

// Replace the C library's fopen and fclose (and the sanitizer's weak
// interceptors of them) in the fuzz executables; see the top of this file.
// An empty input cannot be a memory stream, so it is read from the (empty)
// file.
extern "C" FILE* fopen(const char* path, const char* mode) {
  using Open = FILE* (*)(const char*, const char*);
  static const Open real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "fopen"));
  morvex::fuzz::TScratchContent& content = morvex::fuzz::ScratchContent();
  if (!path || !mode || mode[0] != 'r' || std::strchr(mode, '+') || content.bytes.empty() || content.path != path)
    return real(path, mode);
  // A second open while the first is still in use gets a stream of its own.
  if (content.stream_open) return fmemopen(content.bytes.data(), content.bytes.size(), "r");
  if (content.stream)
    rewind(content.stream);
  else
    content.stream = fmemopen(content.bytes.data(), content.bytes.size(), "r");
  content.stream_open = content.stream != nullptr;
  return content.stream;
}

extern "C" int fclose(FILE* stream) {
  morvex::fuzz::TScratchContent& content = morvex::fuzz::ScratchContent();
  if (stream && stream == content.stream) {
    if (!content.stream_open) morvex::fuzz::Fail("the input file was closed twice");
    content.stream_open = false;
    return 0;
  }
  return morvex::fuzz::RealClose()(stream);
}
