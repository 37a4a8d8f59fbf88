// The export under bad conditions: targets that are read-only, vanish or
// turn into something else while the export runs, symbolic links, and a
// process killed at random moments.  Whatever happens, the file at the
// target is one complete version (the old one or the new one) or an error
// says it was not written; it is never empty, cut short or mixed.
#include "files/CoefficientFile.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "testing/TestSupport.h"
#include "files/tests/FileTestSupport.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;
using test::MessageOf;

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

const char kForeign[] = "; notes kept by hand\n[VEHICLE]\nMass=1350\n";

// Two sets that differ in every one of the 60 values.
TMemoryCoefficientSet NumberedSet(double offset) {
  TMemoryCoefficientSet set;
  int k = 0;
  for (const auto& info : Coefficients()) set.SetText(info.name, FloatToStr(offset + 0.125 * ++k));
  return set;
}

// True when the file at `path` holds exactly the 60 values of `set`.
bool HoldsSet(const std::string& path, const TCoefficientSet& set) {
  TMemoryCoefficientSet back;
  for (const auto& info : Coefficients()) back.SetText(info.name, "missing");
  ImportCoefficients(back, path);
  for (const auto& info : Coefficients())
    if (back.Text(info.name) != FloatToStr(set.Value(info.name))) return false;
  return true;
}

// The same for a text already read, parsed from a private copy.
bool TextHoldsSet(const std::string& text, const TCoefficientSet& set) {
  const TempDir scratch;
  const std::string copy = scratch.File("copy.txt");
  WriteAll(copy, text);
  return HoldsSet(copy, set);
}

// A set whose reads run `action` when the export reads its last value,
// i.e. after the export started and before it writes.
class SetWithAction : public TMemoryCoefficientSet {
 public:
  explicit SetWithAction(std::function<void()> action) : action_(std::move(action)) {}
  std::string Text(std::string_view name) const override {
    if (name == FileOrder().back() && action_) std::exchange(action_, nullptr)();
    return TMemoryCoefficientSet::Text(name);
  }

 private:
  mutable std::function<void()> action_;
};

TEST(ExportCoefficients, ReadOnlyFolderOrFileIsRefusedAndLeftAsItWas) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  TempDir dir;
  const TMemoryCoefficientSet set;

  // A new file in a read-only folder: nothing appears.
  const fs::path locked = dir.path() / "locked";
  fs::create_directory(locked);
  WriteAll((locked / "old.txt").string(), kForeign);
  fs::permissions(locked, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  struct Unlock {  // so that the folder can be removed afterwards
    fs::path folder;
    ~Unlock() {
      std::error_code ec;
      fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ec);
    }
  } unlock{locked};
  const std::string fresh = (locked / "new.txt").string();
  EXPECT_EQ(MessageOf([&] { ExportCoefficients(set, fresh); }), "Impossible d'écrire dans " + fresh);
  EXPECT_EQ(std::distance(fs::directory_iterator(locked), fs::directory_iterator()), 1);

  // A read-only file in a writable folder is not replaced behind its back.
  const std::string protected_file = dir.File("protected.txt");
  WriteAll(protected_file, kForeign);
  fs::permissions(protected_file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(MessageOf([&] { ExportCoefficients(set, protected_file); }), "Impossible d'écrire dans " + protected_file);
  EXPECT_EQ(ReadAll(protected_file), kForeign);
  EXPECT_EQ(dir.Others("protected.txt"), std::vector<std::string>{"locked"});
}

TEST(ExportCoefficients, TargetThatChangesAfterTheExportStarted) {
  TempDir dir;
  const std::string path = dir.File("coefficients.txt");

  // Deleted: the export creates it anew, whole.
  WriteAll(path, kForeign);
  ExportCoefficients(SetWithAction([&] { fs::remove(path); }), path);
  EXPECT_TRUE(HoldsSet(path, TMemoryCoefficientSet()));
  EXPECT_EQ(ReadAll(path).find("VEHICLE"), std::string::npos);
  EXPECT_TRUE(dir.Others("coefficients.txt").empty());

  // Turned into a folder: refused, the folder untouched.
  EXPECT_EQ(MessageOf([&] {
              ExportCoefficients(SetWithAction([&] {
                                   fs::remove(path);
                                   fs::create_directory(path);
                                 }),
                                 path);
            }),
            "Impossible d'écrire dans " + path);
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_TRUE(fs::is_empty(path));
  EXPECT_TRUE(dir.Others("coefficients.txt").empty());
  fs::remove(path);

  // Its folder removed: refused, nothing left anywhere.
  const fs::path sub = dir.path() / "sub";
  fs::create_directory(sub);
  const std::string inner = (sub / "c.txt").string();
  EXPECT_EQ(MessageOf([&] { ExportCoefficients(SetWithAction([&] { fs::remove_all(sub); }), inner); }),
            "Impossible d'écrire dans " + inner);
  EXPECT_FALSE(fs::exists(sub));
}

TEST(ExportCoefficients, SymbolicLinks) {
  TempDir dir;
  const TMemoryCoefficientSet set = NumberedSet(3);

  // A link to a file: the file gets the values, the link stays a link.
  const std::string real = dir.File("real.txt");
  WriteAll(real, kForeign);
  const std::string link = dir.File("link.txt");
  fs::create_symlink(real, link);
  ExportCoefficients(set, link);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_TRUE(HoldsSet(real, set));
  EXPECT_EQ(ReadAll(real).rfind(kForeign, 0), 0u);

  // A dangling link: the new file takes the link's place.
  const std::string dangling = dir.File("dangling.txt");
  fs::create_symlink(dir.File("nowhere/none.txt"), dangling);
  ExportCoefficients(set, dangling);
  EXPECT_FALSE(fs::is_symlink(dangling));
  EXPECT_TRUE(HoldsSet(dangling, set));

  // A link turned dangling while the export ran: the same.
  const std::string moving = dir.File("moving.txt");
  fs::create_symlink(real, moving);
  ExportCoefficients(SetWithAction([&] {
                       fs::remove(moving);
                       fs::create_symlink(dir.File("gone.txt"), moving);
                     }),
                     moving);
  EXPECT_TRUE(HoldsSet(moving, TMemoryCoefficientSet()));
  EXPECT_TRUE(HoldsSet(real, set));  // the old target is not touched

  // A link to a folder, and a cycle of links: refused, links kept.
  const std::string to_folder = dir.File("to_folder.txt");
  fs::create_directory(dir.File("folder"));
  fs::create_symlink(dir.File("folder"), to_folder);
  EXPECT_THROW(ExportCoefficients(set, to_folder), EWriteError);
  EXPECT_TRUE(fs::is_empty(dir.File("folder")));
  fs::create_symlink(dir.File("b.txt"), dir.File("a.txt"));
  fs::create_symlink(dir.File("a.txt"), dir.File("b.txt"));
  EXPECT_THROW(ExportCoefficients(set, dir.File("a.txt")), EWriteError);
  EXPECT_TRUE(fs::is_symlink(dir.File("a.txt")));

  // No temporary file anywhere.
  for (const auto& entry : fs::directory_iterator(dir.path()))
    EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
}

TEST(ExportCoefficients, TargetDeletedAgainAndAgainDuringExports) {
  TempDir dir;
  const std::string path = dir.File("coefficients.txt");
  const TMemoryCoefficientSet sets[2] = {NumberedSet(10), NumberedSet(-20)};
  std::atomic<bool> stop{false};
  std::thread deleter([&] {
    while (!stop) {
      std::remove(path.c_str());
      std::this_thread::sleep_for(std::chrono::microseconds(700));
    }
  });
  int written = 0, refused = 0;
  for (int k = 0; k < 60; ++k) {
    try {
      ExportCoefficients(sets[k % 2], path);
      ++written;
    } catch (const EWriteError&) {
      ++refused;  // the file vanished between its check and its copy
    }
    // Whenever the file is there, it is whole.
    const std::string text = ReadAll(path);
    if (!text.empty()) {
      EXPECT_TRUE(TextHoldsSet(text, sets[0]) || TextHoldsSet(text, sets[1])) << text;
    }
  }
  stop = true;
  deleter.join();
  EXPECT_EQ(written + refused, 60);
  EXPECT_TRUE(dir.Others("coefficients.txt").empty());
}

// Kills its child process when it goes out of scope, whatever happened.
class ChildProcess {
 public:
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  ~ChildProcess() {
    if (pid_ > 0) KillAndWait();
  }
  // SIGKILL, then the exit status.
  int KillAndWait() {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_;
};

TEST(ExportCoefficients, KilledAtRandomMomentsLeavesOneCompleteVersion) {
  TempDir dir;
  const std::string name = "coefficients.txt";
  const std::string path = dir.File(name);
  const TMemoryCoefficientSet sets[2] = {NumberedSet(100), NumberedSet(-7)};

  // The complete versions: either set over the hand-written file, or either
  // set in a file the export created.
  std::vector<std::string> versions;
  {
    TempDir reference;
    const std::string over = reference.File("over.txt");
    const std::string fresh = reference.File("fresh.txt");
    WriteAll(over, kForeign);
    for (int round = 0; round < 2; ++round) {
      for (int k = 0; k < 2; ++k) {
        ExportCoefficients(sets[k], over);
        ExportCoefficients(sets[k], fresh);
        if (round == 0) {
          versions.push_back(ReadAll(over));
          versions.push_back(ReadAll(fresh));
        } else {  // replacing keeps the layout: each set always gives the same bytes
          ASSERT_EQ(ReadAll(over), versions[2 * k]);
          ASSERT_EQ(ReadAll(fresh), versions[2 * k + 1]);
        }
      }
    }
  }

  // An export takes from under a millisecond (writing the temporary copy)
  // to some milliseconds more when it syncs the copy to a disk.  Delays
  // spread evenly on a log scale from 50 us to 15 ms hit every phase of the
  // first export and the next ones.
  std::mt19937 random(20240607);
  std::uniform_real_distribution<double> log_delay_us(std::log(50.0), std::log(15000.0));
  int rounds_with_leftovers = 0;
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const bool start_absent = round % 4 == 0;
    if (start_absent)
      fs::remove(path);
    else if (!fs::exists(path))
      WriteAll(path, kForeign);
    const std::string before = fs::exists(path) ? ReadAll(path) : "";

    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (unsigned k = 0;; ++k) {
        try {
          ExportCoefficients(sets[k % 2], path);
        } catch (...) {
          _exit(3);
        }
      }
    }
    ChildProcess child(pid);
    std::this_thread::sleep_for(std::chrono::duration<double, std::micro>(std::exp(log_delay_us(random))));
    const int status = child.KillAndWait();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the exporting child failed by itself";

    if (!fs::exists(path)) {
      EXPECT_TRUE(start_absent) << "the file vanished";
    } else {
      const std::string text = ReadAll(path);
      ASSERT_FALSE(text.empty());
      const bool whole = text == before || std::find(versions.begin(), versions.end(), text) != versions.end();
      EXPECT_TRUE(whole) << text;
      if (text != before && text != kForeign) {
        EXPECT_TRUE(HoldsSet(path, sets[0]) || HoldsSet(path, sets[1]));
      }
    }

    // A kill during an export leaves its temporary file, and the INI
    // library's scratch file beside it: hidden names made of the target's
    // name and the dead process's id.  Never more than those two.
    const std::vector<std::string> others = dir.Others(name);
    EXPECT_LE(others.size(), 2u);
    const std::string prefix = "." + name + "." + std::to_string(pid) + ".";
    for (const std::string& other : others) {
      EXPECT_EQ(other.rfind(prefix, 0), 0u) << other;
      const std::string end = other.substr(other.size() - 4);
      EXPECT_TRUE(end == ".tmp" || end == ".tm~") << other;
      fs::remove(dir.path() / other);
    }
    rounds_with_leftovers += !others.empty();
  }
  // Most kills land inside an export; were none to, this test would prove
  // nothing.
  EXPECT_GT(rounds_with_leftovers, 0);
  ::testing::Test::RecordProperty("rounds_killed_mid_export", rounds_with_leftovers);
}

}  // namespace
}  // namespace morvex
