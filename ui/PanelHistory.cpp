#include "ui/PanelHistory.h"

namespace morvex {

TCoefficientSnapshot TakeSnapshot(const TCoefficientSet& set) {
  TCoefficientSnapshot snapshot;
  const auto table = Coefficients();
  for (size_t i = 0; i < table.size(); ++i) {
    snapshot.texts[i] = set.Text(table[i].name);
    snapshot.free[i] = table[i].HasFreeFlag() && set.Free(table[i].name);
  }
  return snapshot;
}

void RestoreSnapshot(const TCoefficientSnapshot& snapshot, TCoefficientSet& set) {
  const auto table = Coefficients();
  for (size_t i = 0; i < table.size(); ++i) {
    set.SetText(table[i].name, snapshot.texts[i]);
    if (table[i].HasFreeFlag()) set.SetFree(table[i].name, snapshot.free[i]);
  }
}

std::vector<std::string> ChangedCoefficients(const TCoefficientSnapshot& a, const TCoefficientSnapshot& b) {
  std::vector<std::string> names;
  const auto table = Coefficients();
  for (size_t i = 0; i < table.size(); ++i)
    if (a.texts[i] != b.texts[i] || a.free[i] != b.free[i]) names.emplace_back(table[i].name);
  return names;
}

std::vector<std::string> ClearedFlags(const TCoefficientSnapshot& before, const TCoefficientSnapshot& after) {
  std::vector<std::string> names;
  const auto table = Coefficients();
  for (size_t i = 0; i < table.size(); ++i)
    if (before.free[i] && !after.free[i]) names.emplace_back(table[i].name);
  return names;
}

bool TPanelHistory::Record(const std::string& what, const TCoefficientSnapshot& before,
                           const TCoefficientSet& set) {
  if (TakeSnapshot(set) == before) return false;
  undo_.push_back({what, before, SaveCompanion()});
  if (undo_.size() > capacity_) undo_.erase(undo_.begin());
  redo_.clear();
  return true;
}

std::string TPanelHistory::UndoName() const { return undo_.empty() ? std::string() : undo_.back().what; }

std::string TPanelHistory::RedoName() const { return redo_.empty() ? std::string() : redo_.back().what; }

std::string TPanelHistory::Undo(TCoefficientSet& set) {
  if (undo_.empty()) return {};
  Step step = std::move(undo_.back());
  undo_.pop_back();
  redo_.push_back({step.what, TakeSnapshot(set), SaveCompanion()});
  RestoreSnapshot(step.state, set);
  RestoreCompanion(step.companion);
  return step.what;
}

std::string TPanelHistory::Redo(TCoefficientSet& set) {
  if (redo_.empty()) return {};
  Step step = std::move(redo_.back());
  redo_.pop_back();
  undo_.push_back({step.what, TakeSnapshot(set), SaveCompanion()});
  RestoreSnapshot(step.state, set);
  RestoreCompanion(step.companion);
  return step.what;
}

void TPanelHistory::SetCompanion(std::function<std::any()> save, std::function<void(const std::any&)> restore) {
  save_companion_ = std::move(save);
  restore_companion_ = std::move(restore);
}

void TPanelHistory::Clear() {
  undo_.clear();
  redo_.clear();
}

}  // namespace morvex
