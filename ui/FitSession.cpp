#include "ui/FitSession.h"

#include <QThread>

#include <algorithm>
#include <utility>

#include "fitting/FitVerdict.h"

namespace morvex {

namespace {

// How often, at most, a running fit hands its progress on.
constexpr qint64 kProgressIntervalMs = 100;

}  // namespace

TFitSession::TFitSession(std::string settings_path, QObject* parent)
    : QObject(parent),
      settings_path_(std::move(settings_path)),
      fit_runner_(RunFitCommand),
      estimator_(EstimateStartValues) {}

TFitSession::~TFitSession() {
  if (worker_ != nullptr) {
    // The fit never waits for this thread, so it stops at its next poll.
    cancel_ = true;
    worker_->wait();
    delete worker_;
  }
}

// -------------------------------------------------------------------- data

void TFitSession::UseData(TTireDataSet data, std::optional<TFitChannel> channel, std::string source) {
  data_ = std::move(data);
  data_channel_ = channel;
  data_source_ = std::move(source);
  fitted_texts_ = {};
}

bool TFitSession::ValuesAreAFit(TFitChannel channel, const TCoefficientSnapshot& shown) const {
  const auto& fitted = fitted_texts_[static_cast<size_t>(channel)];
  return fitted && *fitted == shown.texts;
}

void TFitSession::RememberValuesAsFit(TFitChannel channel, const TCoefficientSnapshot& shown) {
  fitted_texts_[static_cast<size_t>(channel)] = shown.texts;
}

// ------------------------------------------------------------- camber rule

void TFitSession::HoldByCamberRule(const std::vector<std::string>& names) {
  for (const std::string& name : names)
    if (std::find(held_by_camber_rule_.begin(), held_by_camber_rule_.end(), name) == held_by_camber_rule_.end())
      held_by_camber_rule_.push_back(name);
}

std::vector<std::string> TFitSession::ReleaseCamberHold() {
  if (held_by_camber_rule_.empty()) return {};
  std::vector<double> cambers;
  for (const TLoadCase& c : data_.Cases)
    if (std::find(cambers.begin(), cambers.end(), c.Camber) == cambers.end()) cambers.push_back(c.Camber);
  if (cambers.size() < 2) return {};
  return std::exchange(held_by_camber_rule_, {});
}

// ------------------------------------------------------ report and verdict

void TFitSession::SetVerdict(const TFitVerdict& verdict, const QString& notes) {
  last_verdict_ = verdict;
  last_notes_ = notes;
}

TFitSession::TReportUpdate TFitSession::UpdateReport(const TFitOutcome& outcome, const TCoefficientSet& set) {
  // A model that cannot be evaluated for the report leaves the report of
  // the previous fit.
  TFitReport report;
  try {
    report = BuildFitReport(outcome, set, data_);
  } catch (const std::exception&) {
    return TReportUpdate::kKept;
  }
  // A fit without measured points has nothing to report.
  if (report.points == 0) {
    last_report_.reset();
    last_report_text_.clear();
    return TReportUpdate::kNone;
  }
  last_report_ = std::move(report);
  last_report_text_.clear();
  return TReportUpdate::kNew;
}

void TFitSession::UseSavedReport(std::optional<TFitReport> report, std::string text) {
  last_report_ = std::move(report);
  last_report_text_ = last_report_ ? std::move(text) : std::string();
}

// ------------------------------------------------------------------ fits

void TFitSession::SetFitRunner(TFitRunner runner) { fit_runner_ = runner ? std::move(runner) : RunFitCommand; }

void TFitSession::SetEstimator(TEstimator estimator) {
  estimator_ = estimator ? std::move(estimator) : EstimateStartValues;
}

TStartEstimate TFitSession::Estimate(TFitChannel channel, TCoefficientSet& set) const {
  return estimator_(channel, set, data_);
}

bool TFitSession::StartFit(TFitChannel channel, const TCoefficientSet& start, TOptimizerChoice optimizer) {
  if (running_) return false;
  running_ = true;
  cancel_ = false;
  fit_channel_ = channel;
  fit_optimizer_ = optimizer;
  fit_start_ = TakeSnapshot(start);
  CopyCoefficients(start, fit_set_);
  fit_data_ = data_;
  outcome_ = TFitOutcome{};
  fit_error_ = nullptr;
  {
    const std::lock_guard<std::mutex> lock(messages_mutex_);
    messages_.clear();
  }
  progress_clock_.invalidate();

  // The runner as it is now: a new one set meanwhile serves the next fit.
  worker_ = QThread::create([this, runner = fit_runner_] {
    try {
      outcome_ = runner(fit_channel_, fit_set_, fit_data_, fit_optimizer_, settings_path_, *this);
    } catch (...) {
      fit_error_ = std::current_exception();
    }
  });
  worker_->setObjectName(QStringLiteral("FitWorker"));
  // Emitted on the worker thread, handled on this object's (the interface's).
  connect(worker_, &QThread::finished, this, &TFitSession::WorkerStopped, Qt::QueuedConnection);
  worker_->start();
  return true;
}

void TFitSession::WorkerStopped() {
  if (worker_ == nullptr) return;
  worker_->wait();
  delete worker_;
  worker_ = nullptr;
  running_ = false;
  emit fitFinished();
}

bool TFitSession::RequestCancel() {
  if (!running_ || cancel_.load()) return false;
  cancel_ = true;
  return true;
}

std::vector<std::string> TFitSession::TakeMessages() {
  const std::lock_guard<std::mutex> lock(messages_mutex_);
  return std::exchange(messages_, {});
}

void TFitSession::JudgeFinishedFit(TFitOutcome& outcome, const TCoefficientSet& set) {
  if (outcome.cancelled || outcome.optimizer_failed) return;
  const bool started_from_fit = ValuesAreAFit(outcome.channel, fit_start_);
  // Only the unchanged cost's reason depends on where the fit started.
  const auto& reasons = outcome.verdict.reasons;
  if (started_from_fit && std::any_of(reasons.begin(), reasons.end(), [](const TVerdictReason& r) {
        return r.code == "cost-not-lowered";
      }))
    MarkStartAsFit(outcome, set, data_);
  RememberValuesAsFit(outcome.channel, TakeSnapshot(set));
}

// ------------------------------------------------- host, on the worker thread

void TFitSession::ShowWaitScreen() { emit waitScreenRequested(true); }

void TFitSession::HideWaitScreen() { emit waitScreenRequested(false); }

void TFitSession::SetBusyCursor(bool busy) { emit busyChanged(busy); }

void TFitSession::ShowMessage(const std::string& text) {
  // Shown when the fit has ended: a box must not wait on the fit's thread.
  const std::lock_guard<std::mutex> lock(messages_mutex_);
  messages_.push_back(text);
}

// The set the fit writes is a copy; the window redraws once it is applied.
void TFitSession::Redraw() {}

void TFitSession::SetCostText(const std::string& text) { emit costTextChanged(QString::fromStdString(text)); }

void TFitSession::Progress(const TFitProgress& progress) {
  const bool last = progress.total_steps > 0 && progress.step + 1 >= progress.total_steps;
  if (progress_clock_.isValid() && progress_clock_.elapsed() < kProgressIntervalMs && !last) return;
  progress_clock_.start();
  emit progressed(static_cast<int>(progress.optimizer), progress.step, progress.total_steps, progress.best_cost);
}

bool TFitSession::CancelRequested() { return cancel_.load(std::memory_order_relaxed); }

}  // namespace morvex
