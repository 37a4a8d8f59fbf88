// Shared pieces of the fit-command tests.
#pragma once

#include <string>
#include <vector>

#include "fitting/FitCommands.h"
#include "tiremodel/CoefficientSet.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex::test {

// Records what a fit command asks of its window, in order.
class RecordingHost final : public IFitHost {
 public:
  void ShowWaitScreen() override { calls.push_back("wait"); }
  void HideWaitScreen() override { calls.push_back("main"); }
  void SetBusyCursor(bool busy) override { calls.push_back(busy ? "busy" : "normal"); }
  void ShowMessage(const std::string& text) override {
    calls.push_back("message");
    messages.push_back(text);
  }
  void Redraw() override { calls.push_back("redraw"); }
  void SetCostText(const std::string& text) override {
    calls.push_back("cost");
    cost_text = text;
  }
  void Progress(const TFitProgress&) override { ++progress_reports; }
  // Asks to stop at the poll after `cancel_after` polls (never when negative).
  bool CancelRequested() override { return cancel_after >= 0 && ++polls > cancel_after; }

  int cancel_after = -1;
  int polls = 0;
  std::vector<std::string> calls;
  std::vector<std::string> messages;
  std::string cost_text;
  int progress_reports = 0;
};

// Frees exactly the coefficients `names`.
inline void FreeOnly(TCoefficientSet& set, const std::vector<std::string>& names) {
  for (const TCoefficientInfo& info : Coefficients()) set.SetFree(info.name, false);
  for (const std::string& name : names) set.SetFree(name, true);
}

}  // namespace morvex::test
