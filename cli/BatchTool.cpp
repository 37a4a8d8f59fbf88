#include "cli/BatchTool.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "cli/FitTool.h"
#include "cli/OutputGuard.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "numerics/WorkerPool.h"

extern char** environ;

namespace morvex {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Resolve(const fs::path& folder, const std::string& path) {
  const fs::path p(path);
  return p.is_absolute() ? path : (folder / p).lexically_normal().string();
}

// How bad an exit status is: an error, a failed optimizer, a poor verdict, success.
int Severity(int status) {
  switch (status) {
    case kExitOk: return 0;
    case kExitFitPoor: return 1;
    case kExitFitFailed: return 2;
    default: return 3;
  }
}

struct Job {
  const TBatchEntry* entry = nullptr;
  std::string out_path, err_path;
  pid_t pid = -1;
  Clock::time_point start;
  double seconds = 0;
  int status = kExitError;
  bool done = false;
};

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The value after `key` on the last line that starts with it.
std::string LastValue(const std::string& text, const std::string& key) {
  std::string value;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line))
    if (line.rfind(key, 0) == 0) value = line.substr(key.size());
  return value;
}

std::string TempFile(const char* tag) {
  std::string pattern = (fs::temp_directory_path() / (std::string("morvex-batch-") + tag + "-XXXXXX")).string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int fd = mkstemp(buffer.data());
  if (fd < 0) throw Exception("Cannot create a temporary file for a batch fit");
  close(fd);
  return buffer.data();
}

void Start(Job& job, const std::string& executable, int threads) {
  job.out_path = TempFile("out");
  job.err_path = TempFile("err");
  std::vector<std::string> args = {executable};
  for (std::string& a : job.entry->Arguments()) args.push_back(std::move(a));
  if (threads > 0) args.insert(args.end(), {"--threads", std::to_string(threads)});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, job.out_path.c_str(), O_WRONLY | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, job.err_path.c_str(), O_WRONLY | O_TRUNC, 0600);
  job.start = Clock::now();
  const int rc = posix_spawn(&job.pid, executable.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    job.pid = -1;
    job.done = true;
    job.status = kExitError;
    std::ofstream(job.err_path) << "morvex-fit: cannot run " << executable << "\n";
  }
}

}  // namespace

std::vector<std::string> TBatchEntry::Arguments() const {
  std::vector<std::string> args = {"fit", "--channel", channel, "--data", data, "--free", free,
                                   "--optimizer", optimizer, "--output", output};
  if (start == "estimate") {
    args.insert(args.end(), {"--start", "estimate"});
  } else if (start.rfind("estimate:", 0) == 0) {
    args.insert(args.end(), {"--coefficients", start.substr(9), "--start", "estimate"});
  } else {
    args.insert(args.end(), {"--coefficients", start});
  }
  if (!fz0.empty()) args.insert(args.end(), {"--fz0", fz0});
  if (!r0.empty()) args.insert(args.end(), {"--r0", r0});
  if (!trail_reading.empty()) args.insert(args.end(), {"--trail-reading", trail_reading});
  return args;
}

namespace {

// The files a fit of the manifest reads: its data and its start file.
std::vector<std::optional<std::string>> Inputs(const TBatchEntry& e) {
  std::vector<std::optional<std::string>> inputs = {e.data};
  if (e.start.rfind("estimate:", 0) == 0)
    inputs.emplace_back(e.start.substr(9));
  else if (e.start != "estimate")
    inputs.emplace_back(e.start);
  return inputs;
}

// Before any fit runs: every output is a file of its own, and none is a
// file that a fit of the manifest reads (the fits run side by side, so one
// fit's output would overwrite another's input while it is being read) or
// the manifest itself.
void CheckOutputs(const std::string& path, const std::vector<TBatchEntry>& entries) {
  for (size_t a = 0; a < entries.size(); ++a) {
    const TBatchEntry& e = entries[a];
    const std::string where = path + ", line " + std::to_string(e.line) + ": ";
    try {
      RefuseOutputNamingInput(e.output, {path});
      for (const TBatchEntry& other : entries) RefuseOutputNamingInput(e.output, Inputs(other));
    } catch (const Exception& error) {
      throw Exception(where + error.what());
    }
    for (size_t b = 0; b < a; ++b)
      if (SameFile(entries[b].output, e.output))
        throw Exception(where + "the output " + e.output + " is already the output of line " +
                        std::to_string(entries[b].line) + "; give each fit an output file of its own");
  }
}

// One `key=value` field after the six a fit needs.
void ReadOptionalField(const std::string& where, const std::string& field, TBatchEntry& e) {
  const size_t eq = field.find('=');
  const std::string key = AsciiLower(field.substr(0, eq));
  const std::string value = eq == std::string::npos ? std::string() : field.substr(eq + 1);
  std::string* slot = key == "fz0" ? &e.fz0 : key == "r0" ? &e.r0 : key == "trail-reading" ? &e.trail_reading : nullptr;
  if (eq == std::string::npos || slot == nullptr)
    throw Exception(where + "'" + field + "' is not one of fz0=N, r0=M or trail-reading=book|fnomin after the 6 fields");
  if (!slot->empty()) throw Exception(where + key + "= is given twice");
  if (slot == &e.trail_reading) {
    if (AsciiLower(value) != "book" && AsciiLower(value) != "fnomin")
      throw Exception(where + "trail-reading must be book or fnomin, not '" + value + "'");
    *slot = AsciiLower(value);
    return;
  }
  double number = 0;
  if (!TryStrToFloatPoint(value, number) || !std::isfinite(number) || !(number > 0))
    throw Exception(where + key + "= needs a positive number, not '" + value + "'");
  *slot = value;
}

}  // namespace

std::vector<TBatchEntry> ReadBatchManifest(const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) throw Exception("The manifest " + path + " is a folder, not a file of fits");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EFOpenError(path);
  const fs::path folder = fs::absolute(fs::path(path)).parent_path();
  std::vector<TBatchEntry> entries;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (const size_t hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string field; fields >> field;) f.push_back(field);
    if (f.empty()) continue;
    const std::string where = path + ", line " + std::to_string(number) + ": ";
    if (f.size() < 6)
      throw Exception(where + "a fit needs 6 fields (data, channel, start, free, optimizer, output), not " +
                      std::to_string(f.size()));
    TBatchEntry e;
    e.line = number;
    e.data = Resolve(folder, f[0]);
    e.channel = AsciiLower(f[1]);
    if (!ParseChannel(e.channel)) throw Exception(where + "unknown channel '" + f[1] + "'");
    const std::string start = f[2];
    if (AsciiLower(start) == "estimate")
      e.start = "estimate";
    else if (AsciiLower(start).rfind("estimate:", 0) == 0)
      e.start = "estimate:" + Resolve(folder, start.substr(9));
    else
      e.start = Resolve(folder, start);
    e.free = f[3];
    e.optimizer = AsciiLower(f[4]);
    if (e.optimizer != "lm" && e.optimizer != "de" && e.optimizer != "tr" && e.optimizer != "de+tr")
      throw Exception(where + "unknown optimizer '" + f[4] + "' (lm, de, tr or de+tr)");
    e.output = Resolve(folder, f[5]);
    for (size_t k = 6; k < f.size(); ++k) ReadOptionalField(where, f[k], e);
    entries.push_back(std::move(e));
  }
  if (in.bad()) throw EFOpenError(path);
  if (entries.empty()) throw Exception("The manifest " + path + " holds no fit: write one line per fit");
  CheckOutputs(path, entries);
  return entries;
}

int RunBatchTool(const TBatchOptions& options, std::ostream& out, std::ostream& err) {
  std::vector<TBatchEntry> entries;
  try {
    entries = ReadBatchManifest(options.manifest_path);
  } catch (const std::exception& error) {
    err << "morvex-fit: " << error.what() << '\n';
    return kExitError;
  }
  int jobs = options.jobs > 0 ? options.jobs : static_cast<int>(std::thread::hardware_concurrency());
  jobs = std::max(jobs, 1);
  // Threads per fit: asked for, else MORVEX_THREADS (which each fit reads
  // itself), else the cores shared out among the fits that run at once.
  int threads = options.threads;
  if (threads <= 0 && !ParseThreadCount(std::getenv("MORVEX_THREADS") ? std::getenv("MORVEX_THREADS") : ""))
    threads = std::max(1, static_cast<int>(std::thread::hardware_concurrency()) / jobs);

  std::vector<Job> all(entries.size());
  for (size_t k = 0; k < entries.size(); ++k) all[k].entry = &entries[k];
  std::map<pid_t, size_t> running;
  size_t next = 0, printed = 0;
  int worst = kExitOk;
  const auto print_ready = [&] {
    while (printed < all.size() && all[printed].done) {
      Job& job = all[printed];
      const std::string stdout_text = ReadWhole(job.out_path);
      const std::string stderr_text = ReadWhole(job.err_path);
      std::string verdict = LastValue(stdout_text, "verdict=");
      std::string cost = LastValue(stdout_text, "cost=");
      if (verdict.empty()) verdict = "none";
      if (cost.empty()) cost = "none";
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.2f", job.seconds);
      out << "fit " << printed + 1 << " data=" << fs::path(job.entry->data).filename().string()
          << " channel=" << job.entry->channel << " optimizer=" << job.entry->optimizer
          << " verdict=" << verdict << " cost=" << cost << " seconds=" << seconds << " exit=" << job.status
          << '\n';
      if (job.status != kExitOk && job.status != kExitFitPoor) {
        // The fit's own words about what went wrong.
        std::istringstream lines(stderr_text);
        for (std::string line; std::getline(lines, line);) err << "fit " << printed + 1 << ": " << line << '\n';
      }
      if (Severity(job.status) > Severity(worst)) worst = job.status;
      std::remove(job.out_path.c_str());
      std::remove(job.err_path.c_str());
      ++printed;
    }
    out.flush();
  };

  // Outputs may go to folders of their own.
  for (const TBatchEntry& e : entries) {
    std::error_code ec;
    const fs::path parent = fs::path(e.output).parent_path();
    if (!parent.empty()) fs::create_directories(parent, ec);
  }

  while (printed < all.size()) {
    while (next < all.size() && static_cast<int>(running.size()) < jobs) {
      Start(all[next], options.executable, threads);
      if (all[next].pid > 0) running[all[next].pid] = next;
      ++next;
    }
    print_ready();
    if (running.empty()) continue;
    int status = 0;
    const pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0) break;
    const auto it = running.find(pid);
    if (it == running.end()) continue;
    Job& job = all[it->second];
    job.seconds = std::chrono::duration<double>(Clock::now() - job.start).count();
    job.status = WIFEXITED(status) ? WEXITSTATUS(status) : kExitError;
    job.done = true;
    running.erase(it);
    print_ready();
  }
  return worst;
}

}  // namespace morvex
