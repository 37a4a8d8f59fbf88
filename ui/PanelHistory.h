// Undo and redo of the commands that rewrite the coefficient panel.
//
// A fit, an import, an estimate of start values, the single-camber rule or
// the tire size calculator can change many values and free flags at once.
// The window takes a snapshot of the whole set (60 texts, 59 flags) before
// such a command and hands it to Record() afterwards; one command is one
// step, whatever it changed.  A command that changed nothing leaves no step.
//
// Undo() restores the snapshot taken before the last step and keeps the
// state it replaced for Redo(); a new step drops what could be redone.
// Restoring writes every text and flag, so the panel comes back exactly as
// it was, texts character for character.
//
// A step may also carry state kept beside the panel (the window keeps there
// the fits that an exported property file names, so that the file's header
// follows undo and redo).  The companion's save() is called when a step is
// recorded, so a command changes that state only after Record(); undo and
// redo swap it together with the coefficients.
//
// Qt-free: the set is any TCoefficientSet, the panel or one in memory.
#pragma once

#include <any>
#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "tiremodel/CoefficientSet.h"

namespace morvex {

// The whole state of a coefficient set.
struct TCoefficientSnapshot {
  std::array<std::string, kCoefficientCount> texts;
  std::array<bool, kCoefficientCount> free{};  // false for R0, which has no flag
  friend bool operator==(const TCoefficientSnapshot&, const TCoefficientSnapshot&) = default;
};

TCoefficientSnapshot TakeSnapshot(const TCoefficientSet& set);
// Writes every text and free flag of `snapshot` into `set`.
void RestoreSnapshot(const TCoefficientSnapshot& snapshot, TCoefficientSet& set);
// Names of the coefficients whose text or flag differ, in panel order.
std::vector<std::string> ChangedCoefficients(const TCoefficientSnapshot& a, const TCoefficientSnapshot& b);
// Names whose free flag is set in `before` and cleared in `after`.
std::vector<std::string> ClearedFlags(const TCoefficientSnapshot& before, const TCoefficientSnapshot& after);

class TPanelHistory {
 public:
  // At most this many steps are kept; the oldest go first.
  explicit TPanelHistory(size_t capacity = 100) : capacity_(capacity) {}

  // Records one command named `what` ("lateral fit") that turned the set
  // from `before` into its present state.  Returns false (and records
  // nothing) when the set is unchanged.
  bool Record(const std::string& what, const TCoefficientSnapshot& before, const TCoefficientSet& set);

  bool CanUndo() const { return !undo_.empty(); }
  bool CanRedo() const { return !redo_.empty(); }
  // The name of the step that Undo / Redo would take back or repeat.
  std::string UndoName() const;
  std::string RedoName() const;

  // Takes back the last step; returns its name, or an empty text when
  // there is none.  The state replaced is kept for Redo.
  std::string Undo(TCoefficientSet& set);
  std::string Redo(TCoefficientSet& set);
  void Clear();

  // The state kept with every step beside the coefficients; none by default.
  void SetCompanion(std::function<std::any()> save, std::function<void(const std::any&)> restore);

 private:
  struct Step {
    std::string what;
    TCoefficientSnapshot state;  // before the step (undo list) or after it (redo list)
    std::any companion;          // the companion's state at the same moment
  };
  std::any SaveCompanion() const { return save_companion_ ? save_companion_() : std::any(); }
  void RestoreCompanion(const std::any& state) const {
    if (restore_companion_) restore_companion_(state);
  }

  std::function<std::any()> save_companion_;
  std::function<void(const std::any&)> restore_companion_;
  size_t capacity_;
  std::vector<Step> undo_;
  std::vector<Step> redo_;
};

}  // namespace morvex
