#include "ui/BuildTireDialog.h"

#include <QChart>
#include <QChartView>
#include <QColor>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

#include <cmath>
#include <filesystem>

#include "cli/OutputGuard.h"
#include "cli/TirProgramme.h"
#include "files/TirFile.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "ui/CombinedPage.h"
#include "ui/Dialogs.h"
#include "ui/ResultPlot.h"

namespace morvex {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

QString Number(double value, int digits = 4) {
  return std::isfinite(value) ? Q(FloatToStrF(value, TFloatFormat::kGeneral, digits, 0)) : QStringLiteral("-");
}

std::string FileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

QTableWidget* MakeTable(const char* name, const QStringList& headers, QWidget* parent) {
  auto* table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
  table->setObjectName(QLatin1String(name));
  table->setHorizontalHeaderLabels(headers);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->verticalHeader()->setVisible(false);
  table->horizontalHeader()->setStretchLastSection(true);
  table->setWordWrap(false);
  return table;
}

void SetCell(QTableWidget* table, int row, int column, const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setToolTip(text);
  table->setItem(row, column, item);
}

// The optional number of a field: empty is "from the runs"; anything else
// must be a positive number.
std::optional<double> FieldValue(QLineEdit* edit, const char* what) {
  const std::string text = edit->text().trimmed().toStdString();
  if (text.empty()) return std::nullopt;
  double value = 0;
  if (!TryStrToFloat(text, value) || !std::isfinite(value) || value <= 0)
    throw Exception(std::string(what) + " '" + text + "' is not a positive number");
  return value;
}

// The fit's host on the worker thread: the cancel flag, and progress handed
// to the dialog's thread.
class TWorkerHost final : public TSilentFitHost {
 public:
  TWorkerHost(std::shared_ptr<std::atomic<bool>> cancel, QPointer<QProgressBar> bar)
      : cancel_(std::move(cancel)), bar_(std::move(bar)) {}
  bool CancelRequested() override { return cancel_->load(); }
  void Progress(const TFitProgress& progress) override {
    ++iterations_;
    if (!bar_) return;
    const QString text = QStringLiteral("iteration %1, cost %2").arg(iterations_).arg(progress.best_cost, 0, 'g', 5);
    QMetaObject::invokeMethod(bar_.data(), [bar = bar_, text] {
      if (bar) bar->setFormat(text);
    }, Qt::QueuedConnection);
  }

 private:
  std::shared_ptr<std::atomic<bool>> cancel_;
  QPointer<QProgressBar> bar_;
  int iterations_ = 0;
};

std::optional<TCombinedStage> CombinedStageNamed(const std::string& name) {
  for (TCombinedStage stage :
       {TCombinedStage::kFx, TCombinedStage::kFy, TCombinedStage::kMz, TCombinedStage::kMx, TCombinedStage::kMy})
    if (name == CombinedStageName(stage)) return stage;
  return std::nullopt;
}

const char* StageUnit(TCombinedStage stage) {
  switch (stage) {
    case TCombinedStage::kFx: return "Fx [N]";
    case TCombinedStage::kFy: return "Fy [N]";
    case TCombinedStage::kMz: return "Mz [N m]";
    case TCombinedStage::kMx: return "Mx [N m]";
    case TCombinedStage::kMy: return "My [N m]";
  }
  return "";
}

}  // namespace

TBuildTireDialog::TBuildTireDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("BuildTireDialog"));
  setWindowTitle(QStringLiteral("Build tire from runs"));
  resize(1180, 780);
  auto* layout = new QVBoxLayout(this);

  // Runs, and the rated load and radius.
  auto* top = new QHBoxLayout();
  run_list_ = new QListWidget(this);
  run_list_->setObjectName(QStringLiteral("RunList"));
  run_list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  run_list_->setMaximumHeight(96);
  top->addWidget(run_list_, 3);
  auto* run_buttons = new QVBoxLayout();
  add_button_ = new QPushButton(QStringLiteral("Add runs\u2026"), this);
  add_button_->setObjectName(QStringLiteral("AddRuns"));
  remove_button_ = new QPushButton(QStringLiteral("Remove"), this);
  remove_button_->setObjectName(QStringLiteral("RemoveRuns"));
  run_buttons->addWidget(add_button_);
  run_buttons->addWidget(remove_button_);
  run_buttons->addStretch(1);
  top->addLayout(run_buttons);
  auto* form = new QFormLayout();
  fz0_edit_ = new QLineEdit(this);
  fz0_edit_->setObjectName(QStringLiteral("ProgrammeFz0"));
  fz0_edit_->setPlaceholderText(QStringLiteral("from the runs"));
  r0_edit_ = new QLineEdit(this);
  r0_edit_->setObjectName(QStringLiteral("ProgrammeR0"));
  r0_edit_->setPlaceholderText(QStringLiteral("from the runs"));
  form->addRow(QStringLiteral("Rated load Fz0 [N]"), fz0_edit_);
  form->addRow(QStringLiteral("Unloaded radius R0 [m]"), r0_edit_);
  top->addLayout(form, 1);
  layout->addLayout(top);

  pages_ = new QTabWidget(this);
  pages_->setObjectName(QStringLiteral("BuildTirePages"));
  // The programme: one row per run and stage, then the whole text.
  auto* programme_page = new QSplitter(Qt::Vertical, pages_);
  feeds_ = MakeTable("ProgrammeFeeds", {"Run", "Stage", "Set-points", "Points", "Note"}, programme_page);
  programme_text_ = new QPlainTextEdit(programme_page);
  programme_text_->setObjectName(QStringLiteral("ProgrammeText"));
  programme_text_->setReadOnly(true);
  programme_text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  programme_page->setStretchFactor(0, 3);
  programme_page->setStretchFactor(1, 2);
  pages_->addTab(programme_page, QStringLiteral("Programme"));
  // The stages: verdicts and the chart of the selected one.
  auto* stage_page = new QSplitter(Qt::Horizontal, pages_);
  stages_ = MakeTable("ProgrammeStages", {"Stage", "Points", "Verdict", "RMS", "Held at 0"}, stage_page);
  auto* chart = new QChart();
  StyleResultChart(chart);
  chart->legend()->setAlignment(Qt::AlignBottom);
  stage_chart_ = new QChartView(chart, stage_page);
  stage_chart_->setObjectName(QStringLiteral("StageChart"));
  stage_chart_->setRenderHint(QPainter::Antialiasing);
  stage_page->setStretchFactor(0, 1);
  stage_page->setStretchFactor(1, 1);
  stage_page->setSizes({540, 600});
  pages_->addTab(stage_page, QStringLiteral("Stages"));
  combined_ = new TCombinedPage(pages_);
  pages_->addTab(combined_, QStringLiteral("Combined"));
  layout->addWidget(pages_, 1);

  // Progress, status and commands.
  auto* bottom = new QHBoxLayout();
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("ProgrammeProgress"));
  progress_->setRange(0, 1);
  progress_->setValue(0);
  progress_->setTextVisible(true);
  progress_->setFormat(QString());
  progress_->setMaximumWidth(260);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("ProgrammeStatus"));
  status_->setWordWrap(true);
  run_button_ = new QPushButton(QStringLiteral("Run programme"), this);
  run_button_->setObjectName(QStringLiteral("RunProgramme"));
  cancel_button_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_button_->setObjectName(QStringLiteral("CancelProgramme"));
  export_button_ = new QPushButton(QStringLiteral("Export .tir\u2026"), this);
  export_button_->setObjectName(QStringLiteral("ExportProgrammeTir"));
  auto* close_button = new QPushButton(QStringLiteral("Close"), this);
  close_button->setObjectName(QStringLiteral("CloseBuildTire"));
  bottom->addWidget(progress_);
  bottom->addWidget(status_, 1);
  for (QPushButton* button : {run_button_, cancel_button_, export_button_, close_button}) bottom->addWidget(button);
  layout->addLayout(bottom);
  run_button_->setDefault(true);

  connect(add_button_, &QPushButton::clicked, this, [this] { AddRunsClick(); });
  connect(remove_button_, &QPushButton::clicked, this, [this] { RemoveRunClick(); });
  connect(run_button_, &QPushButton::clicked, this, [this] { RunProgramme(); });
  connect(cancel_button_, &QPushButton::clicked, this, [this] { CancelProgramme(); });
  connect(export_button_, &QPushButton::clicked, this, [this] { ExportTir(); });
  connect(close_button, &QPushButton::clicked, this, &QDialog::reject);
  connect(stages_, &QTableWidget::currentCellChanged, this, [this](int row) { ShowStage(row); });
  SetStatus(QStringLiteral("Add the runs of the test programme."));
  UpdateButtons();
}

TBuildTireDialog::~TBuildTireDialog() {
  if (worker_) {
    cancel_->store(true);
    worker_->wait();
    delete worker_;
  }
}

QString TBuildTireDialog::StatusText() const { return status_->text(); }
QString TBuildTireDialog::ProgrammeText() const { return programme_text_->toPlainText(); }

void TBuildTireDialog::SetStatus(const QString& text, bool error) {
  status_->setText(text);
  status_->setStyleSheet(error ? QStringLiteral("color: #a00000;") : QString());
}

void TBuildTireDialog::UpdateButtons() {
  const bool running = worker_ != nullptr;
  add_button_->setEnabled(!running);
  remove_button_->setEnabled(!running && !runs_.empty());
  run_list_->setEnabled(!running);
  fz0_edit_->setEnabled(!running);
  r0_edit_->setEnabled(!running);
  run_button_->setEnabled(!running && programme_ && !programme_->Empty());
  cancel_button_->setEnabled(running);
  export_button_->setEnabled(!running && result_ && result_->use_mode > 0);
}

void TBuildTireDialog::AddRunsClick() {
  const QStringList paths = QFileDialog::getOpenFileNames(
      this, QStringLiteral("Runs of the test programme"), QString(),
      QStringLiteral("Run files (*.dat *.txt *.csv *.asc *.tdx);;All files (*)"));
  if (paths.isEmpty()) return;
  std::vector<std::string> runs = runs_;
  for (const QString& path : paths) {
    const std::string run = path.toStdString();
    bool known = false;
    for (const std::string& r : runs) known = known || SameFile(r, run);
    if (!known) runs.push_back(run);
  }
  SetRuns(runs);
}

void TBuildTireDialog::RemoveRunClick() {
  std::vector<std::string> runs;
  for (int i = 0; i < run_list_->count(); ++i)
    if (!run_list_->item(i)->isSelected() && i < static_cast<int>(runs_.size())) runs.push_back(runs_[i]);
  if (runs.size() == runs_.size() && !runs.empty()) runs.pop_back();  // nothing selected: the last one
  SetRuns(runs);
}

void TBuildTireDialog::SetRuns(const std::vector<std::string>& paths) {
  if (worker_) return;
  runs_ = paths;
  run_list_->clear();
  for (const std::string& path : runs_) {
    auto* item = new QListWidgetItem(Q(FileName(path)), run_list_);
    item->setToolTip(Q(path));
  }
  ImportRuns();
}

void TBuildTireDialog::SetOverrides(std::optional<double> fz0, std::optional<double> r0) {
  fz0_edit_->setText(fz0 ? Number(*fz0, 15) : QString());
  r0_edit_->setText(r0 ? Number(*r0, 15) : QString());
}

void TBuildTireDialog::ImportRuns() {
  programme_.reset();
  if (runs_.empty()) {
    SetStatus(QStringLiteral("Add the runs of the test programme."));
  } else {
    try {
      programme_ = std::make_shared<const TProgrammeResult>(ImportProgramme(runs_));
      if (programme_->Empty())
        SetStatus(QStringLiteral("Nothing usable remains: ") +
                      Q(programme_->empty_reason.empty() ? "no run holds a sweep of any stage" : programme_->empty_reason),
                  true);
      else
        SetStatus(QStringLiteral("%1 runs read: \"Run programme\" fits every stage.").arg(runs_.size()));
    } catch (const std::exception& error) {
      programme_.reset();
      SetStatus(Q(error.what()), true);
    }
  }
  FillProgramme();
  pages_->setCurrentIndex(0);
  UpdateButtons();
}

void TBuildTireDialog::FillProgramme() {
  feeds_->setRowCount(0);
  programme_text_->clear();
  if (!programme_) return;
  feeds_->setRowCount(static_cast<int>(programme_->feeds.size()));
  for (size_t i = 0; i < programme_->feeds.size(); ++i) {
    const TProgrammeFeed& feed = programme_->feeds[i];
    const int row = static_cast<int>(i);
    SetCell(feeds_, row, 0, Q(FileName(feed.path)));
    SetCell(feeds_, row, 1, Q(feed.stage));
    SetCell(feeds_, row, 2, Q(feed.set_points));
    SetCell(feeds_, row, 3, QString::number(feed.points));
    SetCell(feeds_, row, 4, Q(feed.note));
  }
  feeds_->resizeColumnsToContents();
  for (int column = 0; column < feeds_->columnCount() - 1; ++column)
    feeds_->setColumnWidth(column, std::min(feeds_->columnWidth(column), 420));
  programme_text_->setPlainText(Q(FormatProgramme(*programme_)));
}

void TBuildTireDialog::RunProgramme() {
  if (worker_) return;
  if (!programme_ || programme_->Empty()) {
    SetStatus(QStringLiteral("No programme to fit: add runs that hold sweeps first."), true);
    return;
  }
  TTireProgrammeInput input;
  try {
    const std::optional<double> fz0 = FieldValue(fz0_edit_, "Fz0");
    const std::optional<double> r0 = FieldValue(r0_edit_, "R0");
    input.fz0 = fz0.value_or(programme_->fz0);
    input.r0 = r0.value_or(programme_->r0);
    if (!(std::isfinite(input.r0) && input.r0 > 0))
      throw Exception("No run states the unloaded radius (TYDEX RFREE): type R0");
    if (!(std::isfinite(input.fz0) && input.fz0 > 0))
      throw Exception("No rated load could be taken from the runs: type Fz0");
  } catch (const std::exception& error) {
    SetStatus(Q(error.what()), true);
    return;
  }
  input.lateral = programme_->lateral;
  input.aligning = programme_->aligning;
  input.longitudinal = programme_->longitudinal;
  input.combined = programme_->combined;
  if (std::isfinite(programme_->longvl) && programme_->longvl > 0) input.longvl = programme_->longvl;

  cancel_ = std::make_shared<std::atomic<bool>>(false);
  auto host = std::make_shared<TWorkerHost>(cancel_, QPointer<QProgressBar>(progress_));
  auto shared_input = std::make_shared<const TTireProgrammeInput>(std::move(input));
  QPointer<TBuildTireDialog> self(this);
  worker_ = QThread::create([self, host, shared_input] {
    std::shared_ptr<TTireProgrammeResult> result;
    QString error;
    try {
      result = std::make_shared<TTireProgrammeResult>(FitTireProgramme(*shared_input, *host));
    } catch (const std::exception& e) {
      error = Q(e.what());
    }
    // The dialog waits for this thread before it goes, so `self` is alive.
    QMetaObject::invokeMethod(self.data(), [self, result, error] {
      if (self) self->FitEnded(result, error);
    }, Qt::QueuedConnection);
  });
  result_programme_ = programme_;
  result_runs_ = runs_;
  progress_->setRange(0, 0);
  progress_->setFormat(QStringLiteral("fitting\u2026"));
  SetStatus(QStringLiteral("Fitting the stages in order: pure slip, then combined slip\u2026"));
  worker_->start();
  UpdateButtons();
}

void TBuildTireDialog::CancelProgramme() {
  if (!worker_) return;
  cancel_->store(true);
  SetStatus(QStringLiteral("Cancelling: the running stage stops at its best point\u2026"));
}

void TBuildTireDialog::FitEnded(std::shared_ptr<TTireProgrammeResult> result, const QString& error) {
  if (worker_) {
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
  }
  progress_->setRange(0, 1);
  progress_->setValue(result ? 1 : 0);
  progress_->setFormat(QString());
  if (!result) {
    SetStatus(QStringLiteral("The programme could not be fitted: ") + error, true);
    UpdateButtons();
    emit ProgrammeFinished();
    return;
  }
  result_ = result;
  ShowResult();
  pages_->setCurrentIndex(1);
  UpdateButtons();
  emit ProgrammeFinished();
}

void TBuildTireDialog::ShowResult() {
  size_t good = 0, poor = 0, fitted = 0;
  for (const TStageResult& stage : result_->stages) {
    fitted += stage.fitted;
    good += stage.Good();
    poor += stage.fitted && stage.outcome.verdict.poor;
  }
  QString text = result_->cancelled ? QStringLiteral("Cancelled: ") : QStringLiteral("Fitted: ");
  text += QStringLiteral("%1 of %2 stages fitted, %3 good, %4 poor; USE_MODE %5.")
              .arg(fitted)
              .arg(result_->stages.size())
              .arg(good)
              .arg(poor)
              .arg(result_->use_mode);
  SetStatus(text, result_->cancelled || poor > 0);
  FillStages();
  try {
    combined_->SetResult(result_programme_->combined,
                         MakeCombinedModel(result_->coefficients, result_->combined, result_programme_->longvl));
  } catch (const std::exception& e) {
    combined_->Clear(QStringLiteral("The model cannot be drawn: ") + Q(e.what()));
  }
}

std::optional<TProgrammeState> TBuildTireDialog::State() const {
  if (!programme_) return std::nullopt;
  TProgrammeState state;
  state.runs = runs_;
  try {
    state.fz0_typed = FieldValue(fz0_edit_, "Fz0");
  } catch (const std::exception&) {
  }
  try {
    state.r0_typed = FieldValue(r0_edit_, "R0");
  } catch (const std::exception&) {
  }
  state.programme = programme_;
  if (result_ && result_programme_ == programme_) state.result = result_;
  return state;
}

bool TBuildTireDialog::Restore(const TProgrammeState& state) {
  if (worker_ || !state.programme) return false;
  runs_ = state.runs;
  run_list_->clear();
  for (const std::string& path : runs_) {
    auto* item = new QListWidgetItem(Q(FileName(path)), run_list_);
    item->setToolTip(Q(path));
  }
  SetOverrides(state.fz0_typed, state.r0_typed);
  programme_ = state.programme;
  result_ = state.result;
  result_programme_ = state.result ? state.programme : nullptr;
  result_runs_ = state.result ? state.runs : std::vector<std::string>{};
  FillProgramme();
  progress_->setRange(0, 1);
  progress_->setValue(result_ ? 1 : 0);
  if (result_) {
    ShowResult();
    pages_->setCurrentIndex(1);
  } else {
    FillStages();
    combined_->Clear(QStringLiteral("Run the programme to see its combined slip."));
    SetStatus(QStringLiteral("%1 runs, from the session: \"Run programme\" fits every stage.").arg(runs_.size()));
    pages_->setCurrentIndex(0);
  }
  UpdateButtons();
  return true;
}

void TBuildTireDialog::FillStages() {
  stages_->setRowCount(0);
  if (!result_) return;
  stages_->setRowCount(static_cast<int>(result_->stages.size()));
  for (size_t i = 0; i < result_->stages.size(); ++i) {
    const TStageResult& stage = result_->stages[i];
    const int row = static_cast<int>(i);
    SetCell(stages_, row, 0, Q(stage.name));
    SetCell(stages_, row, 1, QString::number(stage.points));
    SetCell(stages_, row, 2, Q(StageVerdictText(stage)));
    SetCell(stages_, row, 3, stage.fitted ? Number(stage.rms) : QStringLiteral("-"));
    QString held;
    for (const std::string& h : stage.held) held += (held.isEmpty() ? "" : ", ") + Q(h);
    SetCell(stages_, row, 4, held);
    const QColor shade = !stage.fitted ? QColor(225, 225, 225)
                         : stage.Good() ? QColor(200, 235, 200)
                                        : QColor(245, 200, 200);
    stages_->item(row, 2)->setBackground(shade);
  }
  stages_->resizeColumnsToContents();
  stages_->setColumnWidth(2, std::min(stages_->columnWidth(2), 260));
  int first = 0;
  while (first < stages_->rowCount() && !result_->stages[first].fitted) ++first;
  stages_->setCurrentCell(first < stages_->rowCount() ? first : 0, 0);
  ShowStage(stages_->currentRow());
}

void TBuildTireDialog::ShowStage(int row) {
  QChart* chart = stage_chart_->chart();
  ShowCombinedCurves(chart, {}, {});
  chart->setTitle(QString());
  if (!result_ || !result_programme_ || row < 0 || row >= static_cast<int>(result_->stages.size())) return;
  const TStageResult& stage = result_->stages[row];
  if (!stage.fitted) {
    chart->setTitle(Q(stage.name + ": not fitted"));
    return;
  }
  try {
    const TProgrammeResult& programme = *result_programme_;
    if (const auto combined = CombinedStageNamed(stage.name)) {
      const std::vector<double> cambers = CombinedCambers(programme.combined);
      if (cambers.empty()) return;
      const std::vector<double> loads = CombinedLoads(programme.combined, cambers.front());
      if (loads.empty()) return;
      const double load = loads[loads.size() / 2];
      const TCombinedModel model =
          MakeCombinedModel(result_->coefficients, result_->combined, programme.longvl);
      ShowCombinedCurves(chart, CombinedSlipCurves(programme.combined, model, *combined, cambers.front(), load),
                         {"slip ratio [-]", StageUnit(*combined)});
      chart->setTitle(Q(stage.name) + QStringLiteral(": inclination %1 deg, load %2 N, per held slip angle")
                                          .arg(Number(cambers.front()), Number(load)));
      return;
    }
    const std::optional<TTireDataSet>* data = nullptr;
    TFitChannel channel = TFitChannel::kLateral;
    if (stage.name == "lateral") data = &programme.lateral;
    if (stage.name == "aligning") data = &programme.aligning, channel = TFitChannel::kAligning;
    if (stage.name == "longitudinal") data = &programme.longitudinal, channel = TFitChannel::kLongitudinal;
    if (!data || !*data || (*data)->Empty()) return;
    const TLoadCase& load_case = (*data)->Cases.front();
    std::vector<TPlotCurve> plot;
    ComputePlotCurves(&load_case, TPlotRequest{channel, true, true}, result_->coefficients, plot);
    // Drawn as the combined stages are: one legend entry per load, by its line.
    std::vector<TCombinedCurve> curves;
    for (const TPlotCurve& curve : plot) {
      TCombinedCurve c;
      c.color = {curve.color.red, curve.color.green, curve.color.blue};
      c.measured = curve.measured;
      c.in_legend = !curve.measured;
      c.title = curve.measured ? curve.title : curve.title.substr(curve.title.rfind(' ') + 1) + " N";
      c.points = SortedBySlip(curve.points);
      curves.push_back(std::move(c));
    }
    ShowCombinedCurves(chart, curves, AxisTitlesFor(channel, false));
    chart->setTitle(Q(stage.name) + QStringLiteral(": inclination %1 deg, every load").arg(Number(load_case.Camber)));
  } catch (const std::exception& error) {
    chart->setTitle(Q(stage.name) + QStringLiteral(": cannot be drawn: ") + Q(error.what()));
  }
}

std::optional<std::string> TBuildTireDialog::ExportTir() {
  if (worker_ || !result_ || !result_programme_) {
    SetStatus(QStringLiteral("Run the programme before exporting."), true);
    return std::nullopt;
  }
  if (result_->use_mode <= 0) {
    SetStatus(QStringLiteral("No stage was fitted: there is nothing to export."), true);
    return std::nullopt;
  }
  const auto path = Dialogs().SaveFile(this, "Export tire property file", "Property files (*.tir)");
  if (!path) return std::nullopt;
  try {
    std::string output = *path;
    if (std::filesystem::path(output).extension().empty()) output += ".tir";
    if (AsciiLower(std::filesystem::path(output).extension().string()) != ".tir")
      throw Exception("The output " + output + " is no property file: give a name ending in .tir");
    std::vector<std::optional<std::string>> inputs(result_runs_.begin(), result_runs_.end());
    RefuseOutputNamingInput(output, inputs);
    const TTirExportOptions options = ProgrammeTirOptions(*result_programme_, *result_, result_runs_);
    const TTirExportResult written = morvex::ExportTir(result_->coefficients, output, options);
    QString text = QStringLiteral("Written %1: USE_MODE %2.").arg(Q(output)).arg(result_->use_mode);
    for (const std::string& note : written.notes) text += QStringLiteral(" ") + Q(note);
    SetStatus(text);
    return output;
  } catch (const std::exception& error) {
    SetStatus(Q(error.what()), true);
    return std::nullopt;
  }
}

// ------------------------------------------------------- main window entry

TBuildTireDialog* BuildTireDialogOf(QWidget* window) {
  return window ? window->findChild<TBuildTireDialog*>(QStringLiteral("BuildTireDialog"), Qt::FindDirectChildrenOnly)
                : nullptr;
}

QPushButton* AddBuildTireButton(QWidget* window, QWidget* parent, const QRect& geometry) {
  auto* button = new QPushButton(QStringLiteral("Build tire from runs\u2026"), parent);
  button->setObjectName(QStringLiteral("BuildTireFromRuns"));
  button->setGeometry(geometry);
  QObject::connect(button, &QPushButton::clicked, window, [window] {
    TBuildTireDialog* dialog = BuildTireDialogOf(window);
    if (!dialog) dialog = new TBuildTireDialog(window);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
  });
  return button;
}

}  // namespace morvex
