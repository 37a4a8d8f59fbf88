// "Build tire from runs…": a whole tire from a test programme's runs, as
// `morvex-fit tir` builds it, with the steps in view.
//
//   - The engineer picks run files (delimited or TYDEX); the programme is
//     imported at once (rigdata/Programme.h) and shown: which run feeds
//     which stage, with its set-points and points, then the ranges, the
//     pressure, the speed, Fz0 and R0 (FormatProgramme).  Fz0 and R0 can be
//     typed; empty fields take the runs' values.
//   - "Run programme" fits every stage in order (fitting/TireProgramme.h) on
//     a worker thread; the window stays responsive, the progress bar tells
//     the iterations, "Cancel" sets the flag the fit polls through
//     IFitHost::CancelRequested (the running stage ends at its best point,
//     later ones are not fitted).  The fit reads only its own copy of the
//     data.
//   - The "Stages" page lists every stage with its points, verdict, RMS and
//     the coefficients held at 0; the chart shows the selected stage's data
//     against its model.  The "Combined" page (CombinedPage.h) shows the
//     last result's combined slip.
//   - "Export .tir…" writes the property file with the same content as the
//     command line (cli/TirProgramme.h), never over a run file.
//
// The dialog is kept by the main window, so the last result stays for the
// session; a session file keeps it too (State, Restore: the imported data
// travel embedded, so a restored dialog shows its stages, charts and
// export without reading a run).
#pragma once

#include <QDialog>
#include <QRect>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/ProgrammeSession.h"
#include "fitting/TireProgramme.h"
#include "rigdata/Programme.h"

class QChartView;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableWidget;
class QThread;

namespace morvex {

class TCombinedPage;

class TBuildTireDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TBuildTireDialog(QWidget* parent = nullptr);
  // Asks a running fit to stop and waits for its thread.
  ~TBuildTireDialog() override;

  // Makes `paths` the runs of the programme (no file dialog) and imports
  // them; an error of a file is shown in the status line and leaves no
  // programme.  Forgets the last fit.
  void SetRuns(const std::vector<std::string>& paths);
  const std::vector<std::string>& Runs() const { return runs_; }
  // The rated load and radius typed (empty text: from the runs).
  void SetOverrides(std::optional<double> fz0, std::optional<double> r0);

  // The programme as it stands: the runs, Fz0 and R0 typed (a text that
  // is no positive number counts as none), the import, and the last fit
  // when it was made on that import.  None without an import.
  std::optional<TProgrammeState> State() const;
  // Shows `state` as if its runs had been imported and fitted here, reading
  // no run; the last fit and what the dialog held before are replaced.
  // Refused (false) while a fit runs.
  bool Restore(const TProgrammeState& state);

  // Starts the fit on the worker thread; ProgrammeFinished follows.  Does
  // nothing while one runs; without a usable programme, Fz0 or R0 it says
  // why in the status line and emits nothing.
  void RunProgramme();
  void CancelProgramme();
  bool Running() const { return worker_ != nullptr; }
  // Asks for a .tir name (never a run file) and writes the last result;
  // the path written, or nullopt when nothing was written (the reason is
  // shown).
  std::optional<std::string> ExportTir();

  const TProgrammeResult* Programme() const { return programme_.get(); }
  const TTireProgrammeResult* Result() const { return result_.get(); }
  QString StatusText() const;
  QString ProgrammeText() const;
  QTableWidget* FeedTable() const { return feeds_; }
  QTableWidget* StageTable() const { return stages_; }
  QChartView* StageChart() const { return stage_chart_; }
  TCombinedPage* CombinedPage() const { return combined_; }
  QTabWidget* Pages() const { return pages_; }
  // Draws stage `row` of the stage table in the stage chart.
  void ShowStage(int row);

 signals:
  // The fit ended (done, cancelled, or failed with the reason in the
  // status line); Result() holds its result unless it failed.
  void ProgrammeFinished();

 private:
  void AddRunsClick();
  void RemoveRunClick();
  void ImportRuns();
  void FillProgramme();
  void FillStages();
  void SetStatus(const QString& text, bool error = false);
  void UpdateButtons();
  void FitEnded(std::shared_ptr<TTireProgrammeResult> result, const QString& error);
  // Shows result_ on the Stages and Combined pages, with its status line.
  void ShowResult();

  std::vector<std::string> runs_;
  std::shared_ptr<const TProgrammeResult> programme_;
  std::shared_ptr<const TTireProgrammeResult> result_;
  std::vector<std::string> result_runs_;  // the runs the result was fitted from
  std::shared_ptr<const TProgrammeResult> result_programme_;
  std::shared_ptr<std::atomic<bool>> cancel_;
  QThread* worker_ = nullptr;

  QListWidget* run_list_ = nullptr;
  QLineEdit* fz0_edit_ = nullptr;
  QLineEdit* r0_edit_ = nullptr;
  QTabWidget* pages_ = nullptr;
  QTableWidget* feeds_ = nullptr;
  QPlainTextEdit* programme_text_ = nullptr;
  QTableWidget* stages_ = nullptr;
  QChartView* stage_chart_ = nullptr;
  TCombinedPage* combined_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* status_ = nullptr;
  QPushButton* add_button_ = nullptr;
  QPushButton* remove_button_ = nullptr;
  QPushButton* run_button_ = nullptr;
  QPushButton* cancel_button_ = nullptr;
  QPushButton* export_button_ = nullptr;
};

// The main window's entry: a button "Build tire from runs…" (objectName
// BuildTireFromRuns) on `parent` at `geometry`, opening the one dialog of
// `window` (made on first use, kept for the session).
QPushButton* AddBuildTireButton(QWidget* window, QWidget* parent, const QRect& geometry);
// The dialog of `window`, once opened; nullptr before.
TBuildTireDialog* BuildTireDialogOf(QWidget* window);

}  // namespace morvex
