// The working state behind the main window, without any widget: the data
// set and where it came from, the undo history of the coefficient set, the
// values each channel's last estimate or fit left, the last fit's report
// and verdict, the coefficients the single-camber rule holds, and the fit
// runner with the fit it runs.
//
// A fit runs on a worker thread of its own.  It works on a copy of the
// coefficient set taken when it starts and on a copy of the data set, so
// nothing the window does meanwhile can change what the fit reads; the
// window applies the copy the fit wrote once the fit has ended
// (FitResult()).  The session is the fit's host (IFitHost): the fit calls
// it on the worker thread, and it hands everything on to the interface
// thread as queued signals (wait screen, busy cursor, cost text, progress)
// or keeps it for the end (messages).  Cancelling sets an atomic flag that
// the fit polls between cost evaluations; no event is processed inside a
// cost.  fitFinished() comes on the interface thread after the worker has
// stopped.
//
// Uses QtCore only: the window, a test or a batch tool can drive it.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "fitting/FitCommands.h"
#include "fitting/FitReport.h"
#include "fitting/StartEstimate.h"
#include "tiredata/TireDataSet.h"
#include "tiremodel/CoefficientSet.h"
#include "ui/PanelHistory.h"

class QThread;

namespace morvex {

class TFitSession : public QObject, private IFitHost {
  Q_OBJECT

 public:
  // The fit command and the estimate, replaceable by tests.
  using TFitRunner = std::function<TFitOutcome(TFitChannel, TCoefficientSet&, const TTireDataSet&,
                                               TOptimizerChoice, const std::string&, IFitHost&)>;
  using TEstimator = std::function<TStartEstimate(TFitChannel, TCoefficientSet&, const TTireDataSet&)>;

  // `settings_path`: the fit settings file the fits read.
  explicit TFitSession(std::string settings_path, QObject* parent = nullptr);
  // A fit still running is asked to stop and waited for.
  ~TFitSession() override;

  // ---------------------------------------------------------------- data
  const TTireDataSet& Data() const { return data_; }
  // For grid edits; never while a fit runs.
  TTireDataSet& MutableData() { return data_; }
  bool HasData() const { return data_.CaseCount() > 0; }
  // Makes `data` the data set: `channel` is the channel it holds when the
  // file or the import says so, `source` the file or run named on the
  // chart.  No value shown is a fit of the new data.
  void UseData(TTireDataSet data, std::optional<TFitChannel> channel, std::string source);
  // Forgets the data set (the window closes).
  void ClearData() { data_ = TTireDataSet{}; }
  std::optional<TFitChannel> DataChannel() const { return data_channel_; }
  const std::string& DataSource() const { return data_source_; }

  // ------------------------------------------------------------- history
  TPanelHistory& History() { return history_; }
  const TPanelHistory& History() const { return history_; }

  // ------------------------------------------- values that are a fit
  // Whether `shown` are, unchanged, the values the last estimate or fit of
  // `channel` on the data loaded left.
  bool ValuesAreAFit(TFitChannel channel, const TCoefficientSnapshot& shown) const;
  void RememberValuesAsFit(TFitChannel channel, const TCoefficientSnapshot& shown);

  // ----------------------------------------------------- camber rule
  // The coefficients whose boxes the single-camber rule has cleared.
  const std::vector<std::string>& HeldByCamberRule() const { return held_by_camber_rule_; }
  void HoldByCamberRule(const std::vector<std::string>& names);
  // With data of more than one camber: the coefficients held, which the
  // rule then releases (it forgets them); otherwise none.
  std::vector<std::string> ReleaseCamberHold();

  // ------------------------------------------------- report and verdict
  const std::optional<TFitReport>& LastReport() const { return last_report_; }
  // The last report's text as a session saved it; empty for a report made
  // here (its text is FormatFitReport's).
  const std::string& LastReportText() const { return last_report_text_; }
  // A session's report (read back from `text`) becomes the last report;
  // none: there is no last report.
  void UseSavedReport(std::optional<TFitReport> report, std::string text);
  const TFitVerdict& LastVerdict() const { return last_verdict_; }
  const QString& LastNotes() const { return last_notes_; }
  void SetVerdict(const TFitVerdict& verdict, const QString& notes);
  // What became of the report after a fit.
  enum class TReportUpdate { kNew, kKept, kNone };
  // Makes the report of `outcome` over `set` and the data the last report.
  // kKept: the model could not be evaluated, the previous report stays;
  // kNone: the fit had no measured point, there is no report now.
  TReportUpdate UpdateReport(const TFitOutcome& outcome, const TCoefficientSet& set);

  // ----------------------------------------------------------- the fit
  void SetFitRunner(TFitRunner runner);
  void SetEstimator(TEstimator estimator);
  TStartEstimate Estimate(TFitChannel channel, TCoefficientSet& set) const;

  // Starts a fit of `channel` from a copy of `start` on the data set; false
  // (and nothing starts) while another fit runs.
  bool StartFit(TFitChannel channel, const TCoefficientSet& start, TOptimizerChoice optimizer);
  // From StartFit until fitFinished() has been handled.
  bool Running() const { return running_; }
  // Asks the running fit to stop at its next cost evaluation; false when
  // there is no fit or it was asked already.
  bool RequestCancel();
  bool CancelPending() const { return cancel_.load(); }

  // After fitFinished: the set as the fit left it, how it ended, the
  // error that ended it (null when it returned), the messages it asked
  // to show (in order) and the values it started from.
  const TCoefficientSet& FitResult() const { return fit_set_; }
  const TFitOutcome& Outcome() const { return outcome_; }
  std::exception_ptr FitError() const { return fit_error_; }
  std::vector<std::string> TakeMessages();
  TFitChannel FitChannel() const { return fit_channel_; }
  const TCoefficientSnapshot& FitStart() const { return fit_start_; }

  // Judges where the fit started: a fit that ended at the cost of values
  // that were themselves a fit is no fault; those values are remembered as
  // the channel's fit.  `set` holds the fit's result.
  void JudgeFinishedFit(TFitOutcome& outcome, const TCoefficientSet& set);

 signals:
  // All from the fit, queued to the interface thread.
  void waitScreenRequested(bool shown);
  void busyChanged(bool busy);
  void costTextChanged(const QString& text);
  void progressed(int optimizer, int step, int total_steps, double best_cost);
  // The worker has stopped; Running() is false from here on.
  void fitFinished();

 private:
  // IFitHost, called on the worker thread.
  void ShowWaitScreen() override;
  void HideWaitScreen() override;
  void SetBusyCursor(bool busy) override;
  void ShowMessage(const std::string& text) override;
  void Redraw() override;
  void SetCostText(const std::string& text) override;
  void Progress(const TFitProgress& progress) override;
  bool CancelRequested() override;

  void WorkerStopped();

  std::string settings_path_;
  TTireDataSet data_;
  std::optional<TFitChannel> data_channel_;
  std::string data_source_;
  TPanelHistory history_;
  // Per channel: every coefficient's text right after its last estimate or
  // fit on the data loaded (none after a new load).
  std::array<std::optional<std::array<std::string, kCoefficientCount>>, 3> fitted_texts_;
  std::vector<std::string> held_by_camber_rule_;
  std::optional<TFitReport> last_report_;
  std::string last_report_text_;
  TFitVerdict last_verdict_;
  QString last_notes_;

  TFitRunner fit_runner_;
  TEstimator estimator_;
  QThread* worker_ = nullptr;
  bool running_ = false;
  std::atomic<bool> cancel_{false};
  // Written by the worker, read after it has stopped.
  TFitChannel fit_channel_ = TFitChannel::kLateral;
  TCoefficientSnapshot fit_start_;
  TMemoryCoefficientSet fit_set_;
  TTireDataSet fit_data_;
  TOptimizerChoice fit_optimizer_ = TOptimizerChoice::kLevenbergMarquardt;
  TFitOutcome outcome_;
  std::exception_ptr fit_error_;
  std::mutex messages_mutex_;
  std::vector<std::string> messages_;
  // The worker's: when progress was last handed on.
  QElapsedTimer progress_clock_;
};

}  // namespace morvex
