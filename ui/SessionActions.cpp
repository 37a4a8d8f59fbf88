#include "ui/SessionActions.h"

#include <QAction>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValueAxis>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/ProgrammeSession.h"
#include "files/SameFile.h"
#include "files/Sha256.h"
#include "fitting/ChannelModel.h"
#include "fitting/FitReport.h"
#include "fitting/FitVerdict.h"
#include "report/ReportRender.h"
#include "report/ValidationReport.h"
#include "tiredata/TireDataFile.h"
#include "tiredata/TireDataWriter.h"
#include "ui/BuildTireDialog.h"
#include "ui/ChartView.h"
#include "ui/Dialogs.h"
#include "ui/FitReportWindow.h"
#include "ui/PanelHistory.h"
#include "ui/RecentFiles.h"
#include "ui/Unit1.h"

namespace morvex {

namespace fs = std::filesystem;

namespace {

constexpr int kStatusMs = 60000;
const char* const kSessionFilter = "Morvex session (*.morvex)";

TRecentFiles RecentSessions() { return TRecentFiles(QStringLiteral("recent/sessions")); }

// The page index of each channel in the window's tabs.
int PageOf(TFitChannel channel) {
  switch (channel) {
    case TFitChannel::kLongitudinal: return 1;
    case TFitChannel::kAligning: return 2;
    default: return 0;
  }
}
TFitChannel ChannelOfPage(int page) {
  return page == 1 ? TFitChannel::kLongitudinal : page == 2 ? TFitChannel::kAligning : TFitChannel::kLateral;
}

std::vector<TSessionReason> SessionReasons(const std::vector<TVerdictReason>& reasons) {
  std::vector<TSessionReason> out;
  for (const TVerdictReason& reason : reasons) out.push_back({reason.code, reason.text, reason.advice});
  return out;
}
std::vector<TVerdictReason> VerdictReasons(const std::vector<TSessionReason>& reasons) {
  std::vector<TVerdictReason> out;
  for (const TSessionReason& reason : reasons) {
    TVerdictReason r;
    r.code = reason.code;
    r.text = reason.text;
    r.advice = reason.advice;
    out.push_back(r);
  }
  return out;
}
TFitVerdict VerdictOf(const TSessionChannel& fit) {
  TFitVerdict verdict;
  verdict.poor = fit.poor;
  verdict.reasons = VerdictReasons(fit.reasons);
  verdict.notes = VerdictReasons(fit.notes);
  return verdict;
}

}  // namespace

// ------------------------------------------------------------ the dialog

namespace {

void FillLines(QListWidget* list, const std::vector<TSessionOpeningLine>& lines) {
  list->clear();
  for (const TSessionOpeningLine& line : lines) {
    auto* item = new QListWidgetItem(
        (line.warning ? QStringLiteral("⚠ ") : QStringLiteral("• ")) + QString::fromStdString(line.text), list);
    if (line.warning) {
      item->setForeground(QColor(160, 60, 0));
      QFont bold = item->font();
      bold.setBold(true);
      item->setFont(bold);
    }
  }
}

}  // namespace

QDialog* NewSessionOpeningDialog(QWidget* parent, const QString& session_path,
                                 const std::vector<TSessionOpeningLine>& lines,
                                 std::function<std::vector<TSessionOpeningLine>()> check_sources) {
  auto* dialog = new QDialog(parent);
  dialog->setObjectName(QStringLiteral("SessionOpeningDialog"));
  dialog->setWindowTitle(QStringLiteral("Open session"));
  auto* layout = new QVBoxLayout(dialog);
  auto* heading = new QLabel(QStringLiteral("Opening %1 will do this. Opening reads no file it names, writes no file "
                                            "and runs no fit.")
                                 .arg(QFileInfo(session_path).fileName()),
                             dialog);
  heading->setWordWrap(true);
  layout->addWidget(heading);
  auto* list = new QListWidget(dialog);
  list->setObjectName(QStringLiteral("SessionOpeningLines"));
  list->setWordWrap(true);
  list->setSelectionMode(QAbstractItemView::NoSelection);
  list->setFocusPolicy(Qt::NoFocus);
  FillLines(list, lines);
  layout->addWidget(list, 1);
  auto* buttons = new QDialogButtonBox(dialog);
  if (check_sources) {
    QPushButton* check = buttons->addButton(QStringLiteral("Compare with the files named"),
                                            QDialogButtonBox::ActionRole);
    check->setObjectName(QStringLiteral("SessionCheckSources"));
    check->setToolTip(QStringLiteral("Reads the files the session names (only to hash them) and tells whether "
                                     "they changed since it was saved"));
    QObject::connect(check, &QPushButton::clicked, dialog, [list, check, check_sources] {
      FillLines(list, check_sources());
      check->setEnabled(false);
    });
  }
  QPushButton* open = buttons->addButton(QStringLiteral("Open"), QDialogButtonBox::AcceptRole);
  open->setObjectName(QStringLiteral("SessionOpenButton"));
  buttons->addButton(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("SessionCancelButton"));
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog->resize(560, 320);
  return dialog;
}

// -------------------------------------------------------------- commands

TSessionActions::TSessionActions(TForm1* form) : QObject(form), form_(form) {
  setObjectName(QStringLiteral("SessionActions"));
  confirm_ = [this](const QString& path, const std::vector<TSessionOpeningLine>& lines) {
    std::function<std::vector<TSessionOpeningLine>()> check;
    if (asking_ != nullptr) {
      const TSessionRead read = *asking_;
      check = [read] { return DescribeSessionOpening(read, true); };
    }
    QDialog* dialog = NewSessionOpeningDialog(form_, path, lines, check);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    delete dialog;
    return accepted;
  };

  auto action = [this](const QString& text, const char* name, const QKeySequence& keys, auto slot) {
    auto* a = new QAction(text, form_);
    a->setObjectName(QLatin1String(name));
    if (!keys.isEmpty()) {
      a->setShortcut(keys);
      a->setShortcutContext(Qt::WindowShortcut);
    }
    connect(a, &QAction::triggered, this, slot);
    form_->addAction(a);
    return a;
  };
  QAction* save = action(QStringLiteral("Save session…"), "SaveSession", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
                         [this] { SaveSessionClick(); });
  QAction* open = action(QStringLiteral("Open session…"), "OpenSession", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O),
                         [this] { OpenSessionClick(); });
  QAction* report = action(QStringLiteral("Validation report…"), "ValidationReport", QKeySequence(),
                           [this] { ValidationReportClick(); });
  save->setToolTip(QStringLiteral("Save the whole working state as a session file (Ctrl+Shift+S)"));
  open->setToolTip(QStringLiteral("Open a session file; shows what it holds first (Ctrl+Shift+O)"));
  report->setToolTip(QStringLiteral("Write the validation report (PDF or HTML) of the channels fitted"));

  auto* button = new QToolButton(form_->statusBar());
  button->setObjectName(QStringLiteral("SessionMenuButton"));
  button->setText(QStringLiteral("Session"));
  button->setToolTip(QStringLiteral("Save or open a session, write the validation report"));
  button->setPopupMode(QToolButton::InstantPopup);
  button->setFixedHeight(17);
  auto* menu = new QMenu(button);
  menu->setObjectName(QStringLiteral("SessionMenu"));
  menu->addAction(save);
  menu->addAction(open);
  QMenu* recent = menu->addMenu(QStringLiteral("Recent sessions"));
  recent->setObjectName(QStringLiteral("RecentSessionsMenu"));
  connect(recent, &QMenu::aboutToShow, this, [this, recent] {
    recent->clear();
    for (QMenu* old : recent->findChildren<QMenu*>(QStringLiteral("RecentSessions"), Qt::FindDirectChildrenOnly))
      old->deleteLater();
    QMenu* built = BuildRecentMenu(recent);
    for (QAction* a : built->actions()) recent->addAction(a);
  });
  menu->addSeparator();
  menu->addAction(report);
  button->setMenu(menu);
  form_->statusBar()->addPermanentWidget(button);

  connect(form_, &TForm1::fitFinished, this, &TSessionActions::FitEnded);
  connect(form_, &TForm1::runImported, this, [this] { import_data_hash_ = DataHash(); });
}

std::optional<TSessionImport> TSessionActions::CurrentImport() const {
  std::optional<TSessionImport> settings = form_->ImportSettings();
  if (settings && (import_data_hash_.empty() || import_data_hash_ != DataHash())) settings->runs.clear();
  return settings;
}

QMenu* TSessionActions::BuildRecentMenu(QWidget* parent) {
  return RecentSessions().BuildMenu(parent, QStringLiteral("RecentSessions"), QStringLiteral("No session used yet"),
                                    [this](const QString& path) { OpenSession(path.toStdString()); });
}

void TSessionActions::Status(const QString& text) { form_->statusBar()->showMessage(text, kStatusMs); }

bool TSessionActions::RefusedWhileFitting(const QString& what) {
  if (!form_->FitRunning()) return false;
  Status(QStringLiteral("%1 waits until the fit has ended (Escape cancels it)").arg(what));
  return true;
}

// A fit has ended and the window has taken its result: it is the channel's
// last fit, for the session and the report.
void TSessionActions::FitEnded() {
  TFitSession& session = form_->Session();
  if (session.FitError()) return;
  const TFitChannel channel = session.FitChannel();
  TChannelFit& fit = fits_[static_cast<size_t>(channel)];
  fit.outcome = session.Outcome();
  fit.outcome.verdict = session.LastVerdict();
  fit.data_hash = DataHash();
  TSessionChannel saved;
  saved.poor = session.LastVerdict().poor;
  saved.reasons = SessionReasons(session.LastVerdict().reasons);
  saved.notes = SessionReasons(session.LastVerdict().notes);
  if (session.LastReport() && session.LastReport()->channel == channel) {
    saved.rms = session.LastReport()->rms;
    saved.report = FormatFitReport(*session.LastReport());
  }
  fit.saved = std::move(saved);
}

std::string TSessionActions::DataHash() const {
  return form_->Session().HasData() ? Sha256Hex(FormatTireData(form_->Session().Data(), {})) : std::string();
}

const TSessionActions::TChannelFit* TSessionActions::CurrentFit(TFitChannel channel) const {
  const TChannelFit& fit = fits_[static_cast<size_t>(channel)];
  if (!fit.saved || fit.data_hash != DataHash()) return nullptr;
  return &fit;
}

const TSessionData* TSessionActions::OpenedDataShown() const {
  if (!opened_data_ || !form_->Session().HasData()) return nullptr;
  if (FormatTireData(form_->Session().Data(), {}) != opened_fingerprint_) return nullptr;
  return &*opened_data_;
}

std::string TSessionActions::DataSourcePath() const {
  if (const TSessionData* opened = OpenedDataShown()) return opened->source_path;
  const std::string shown = form_->StatusText(1).toStdString();
  std::error_code error;
  if (shown.empty() || !fs::is_regular_file(shown, error)) return {};
  return fs::absolute(shown, error).string();
}

std::vector<std::string> TSessionActions::Inputs() const {
  std::vector<std::string> inputs;
  if (const std::string source = DataSourcePath(); !source.empty()) inputs.push_back(source);
  for (const QString& path : RecentSessions().Files()) inputs.push_back(path.toStdString());
  return inputs;
}

TSessionState TSessionActions::CaptureState() const {
  TSessionState state;
  TCoefficientSet& set = form_->Coefficients();
  state.TakeCoefficients(set);
  const TFitSession& session = form_->Session();

  if (const TSessionData* opened = OpenedDataShown()) {
    state.data = *opened;
  } else if (session.HasData()) {
    TSessionData data;
    data.channel = session.DataChannel();
    data.label = session.DataSource();
    data.source_path = DataSourcePath();
    // The file's own text when it still holds the data shown; otherwise (an
    // import, grid edits, a changed file) the data as the window holds them.
    const std::string empty_hash;
    bool verbatim = false;
    if (!data.source_path.empty()) {
      try {
        const std::string text = ReadTireDataText(data.source_path);
        if (FormatTireData(ParseTireDataText(text, data.source_path), {}) == FormatTireData(session.Data(), {})) {
          data.text = text;
          data.source_sha256 = Sha256Hex(text);
          verbatim = true;
        }
      } catch (const std::exception&) {
      }
    }
    if (!verbatim) data.text = FormatTireData(session.Data(), {"Morvex data of " + data.label});
    state.data = std::move(data);
  }

  if (std::optional<TSessionImport> settings = CurrentImport()) state.import = std::move(*settings);

  if (form_->findChild<QRadioButton*>(QStringLiteral("RadioButton2"))->isChecked())
    state.fit.optimizer = TSessionOptimizer::kDifferentialEvolution;
  else if (form_->findChild<QRadioButton*>(QStringLiteral("RadioButton3"))->isChecked())
    state.fit.optimizer = TSessionOptimizer::kTrustRegion;

  const TCoefficientSnapshot shown = TakeSnapshot(set);
  for (TFitChannel channel : {TFitChannel::kLateral, TFitChannel::kAligning, TFitChannel::kLongitudinal}) {
    std::optional<TSessionChannel> fit = LastFit(channel);
    if (!fit) continue;
    fit->fitted.reset();
    if (session.ValuesAreAFit(channel, shown)) fit->fitted = state.texts;
    state.Channel(channel) = std::move(fit);
  }

  // The "Build tire from runs" dialog's programme, with the runs' hashes a
  // session gave while its runs are still those listed.
  if (const TBuildTireDialog* dialog = BuildTireDialogOf(form_)) {
    if (const std::optional<TProgrammeState> programme = dialog->State()) {
      std::vector<std::string> hashes;
      if (programme->runs.size() == opened_programme_runs_.size()) {
        for (size_t i = 0; i < programme->runs.size(); ++i) {
          if (programme->runs[i] != opened_programme_runs_[i].path) {
            hashes.clear();
            break;
          }
          hashes.push_back(opened_programme_runs_[i].sha256);
        }
      }
      state.programme = ProgrammeToSession(*programme, hashes);
    }
  }

  TSessionView& view = state.view;
  view.page = ChannelOfPage(form_->findChild<QTabWidget*>(QStringLiteral("Pagecontrol1"))->currentIndex());
  view.camber_index = std::max(0, form_->SelectedCase());
  view.residuals = form_->ResidualsShown();
  view.model_shown = form_->findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->isChecked();
  view.data_shown = form_->findChild<QCheckBox*>(QStringLiteral("CheckBox2"))->isChecked();
  view.paired_colours = form_->ChartView()->PairedColours();
  view.all_cambers = form_->ChartView()->AllCambers();
  QChart* chart = form_->Chart();
  if (form_->ChartView()->IsZoomed()) {
    const auto xs = chart->axes(Qt::Horizontal), ys = chart->axes(Qt::Vertical);
    auto* x = xs.isEmpty() ? nullptr : qobject_cast<QValueAxis*>(xs.first());
    auto* y = ys.isEmpty() ? nullptr : qobject_cast<QValueAxis*>(ys.first());
    if (x != nullptr && y != nullptr) view.zoom = std::array<double, 4>{x->min(), x->max(), y->min(), y->max()};
  }
  const auto markers = chart->legend()->markers();
  for (int i = 0; i < markers.size(); ++i)
    if (markers[i]->series() != nullptr && !markers[i]->series()->isVisible()) view.hidden_curves.push_back(i);
  return state;
}

void TSessionActions::SaveSessionClick() {
  if (RefusedWhileFitting(QStringLiteral("Saving the session"))) return;
  std::optional<std::string> path = Dialogs().SaveFile(form_, "Save session", kSessionFilter);
  if (!path) return;
  if (fs::path(*path).extension().empty()) *path += ".morvex";
  GuardedAbout(form_, [path](const std::exception&) { return "File " + *path; }, [this, path] { SaveSession(*path); });
}

void TSessionActions::SaveSession(const std::string& path) {
  if (form_->FitRunning()) throw Exception("A fit is running: the session is saved once it has ended");
  const TSessionState state = CaptureState();
  std::vector<std::string> inputs;
  if (const std::string source = DataSourcePath(); !source.empty()) inputs.push_back(source);
  WriteSessionFile(path, state, inputs);
  RecentSessions().Remember(QString::fromStdString(path));
  Status(QStringLiteral("Session saved: %1").arg(QString::fromStdString(path)));
}

void TSessionActions::OpenSessionClick() {
  if (RefusedWhileFitting(QStringLiteral("Opening a session"))) return;
  const std::optional<std::string> path = Dialogs().OpenFile(form_, "Open session", kSessionFilter);
  if (path) OpenSession(*path);
}

bool TSessionActions::OpenSession(const std::string& path) {
  if (RefusedWhileFitting(QStringLiteral("Opening a session"))) return false;
  TSessionRead read;
  try {
    read = ReadSessionFile(path);
  } catch (const std::exception& error) {
    ReportException(form_, error, "Session " + path);
    Status(QStringLiteral("The session was not opened: nothing changed"));
    return false;
  }
  return OpenSessionRead(std::move(read), path);
}

bool TSessionActions::OpenSessionRead(TSessionRead read, const std::string& path) {
  if (RefusedWhileFitting(QStringLiteral("Opening a session"))) return false;
  // Everything is checked before anything of the window changes.
  TTireDataSet data;
  std::optional<TProgrammeState> programme;
  try {
    if (read.state.data) data = ParseTireDataText(read.state.data->text, path + " (its embedded data)");
    if (read.state.programme) programme = ProgrammeFromSession(*read.state.programme);
    TMemoryCoefficientSet check;
    read.state.GiveCoefficients(check);
  } catch (const std::exception& error) {
    ReportException(form_, error, "Session " + path);
    Status(QStringLiteral("The session was not opened: nothing changed"));
    return false;
  }
  // No file the session names is read before the user asks for it.
  const std::vector<TSessionOpeningLine> lines = DescribeSessionOpening(read, false);
  asking_ = &read;
  const bool agreed = confirm_(QString::fromStdString(path), lines);
  asking_ = nullptr;
  if (!agreed) {
    Status(QStringLiteral("The session was not opened"));
    return false;
  }
  if (RefusedWhileFitting(QStringLiteral("Opening a session"))) return false;
  TBuildTireDialog* build = BuildTireDialogOf(form_);
  if (programme && build != nullptr && build->Running()) {
    Status(QStringLiteral("Opening a session with a programme waits until the programme's fit has ended"));
    return false;
  }
  const TSessionState& state = read.state;
  if (state.data) {
    opened_fingerprint_ = FormatTireData(data, {});
    opened_data_ = state.data;
    form_->UseImportedData(std::move(data), state.data->label, state.data->channel);
  }
  ApplyState(read, path);
  if (programme) {
    // The dialog is made as its button makes it, and shows the programme
    // without reading a run.
    if (build == nullptr) build = new TBuildTireDialog(form_);
    build->Restore(*programme);
    opened_programme_runs_ = state.programme->runs;
    form_->statusBar()->showMessage(form_->statusBar()->currentMessage() +
                                        QStringLiteral("; \"Build tire from runs\" holds its programme"),
                                    kStatusMs);
  }
  RecentSessions().Remember(QString::fromStdString(path));
  return true;
}

void TSessionActions::ApplyState(const TSessionRead& read, const std::string& path) {
  const TSessionState& state = read.state;
  TCoefficientSet& set = form_->Coefficients();
  TFitSession& session = form_->Session();

  // The panel: one undo step.
  const TCoefficientSnapshot before = TakeSnapshot(set);
  state.GiveCoefficients(set);
  const std::string name = fs::path(path).filename().string();
  const bool undoable = session.History().Record("opening session " + name, before, set);

  // The import dialog's settings; the runs stand for the data embedded.
  form_->SetImportSettings(state.import == TSessionImport{} ? std::nullopt : std::optional(state.import));
  import_data_hash_ = state.data && !state.import.runs.empty() ? DataHash() : std::string();

  // The optimizer.
  const char* radio = state.fit.optimizer == TSessionOptimizer::kDifferentialEvolution ? "RadioButton2"
                      : state.fit.optimizer == TSessionOptimizer::kTrustRegion          ? "RadioButton3"
                                                                                         : "RadioButton1";
  form_->findChild<QRadioButton*>(QLatin1String(radio))->setChecked(true);

  // Each channel's last fit; values still that fit's count as a fit.
  const TCoefficientSnapshot shown = TakeSnapshot(set);
  for (TFitChannel channel : {TFitChannel::kLateral, TFitChannel::kAligning, TFitChannel::kLongitudinal}) {
    TChannelFit& fit = fits_[static_cast<size_t>(channel)];
    fit = TChannelFit{};
    const std::optional<TSessionChannel>& saved = state.Channel(channel);
    if (!saved) continue;
    fit.saved = saved;
    fit.data_hash = DataHash();
    fit.outcome.channel = channel;
    fit.outcome.verdict = VerdictOf(*saved);
    if (saved->fitted && *saved->fitted == shown.texts) session.RememberValuesAsFit(channel, shown);
  }
  if (const auto& page_fit = state.Channel(state.view.page))
    session.SetVerdict(VerdictOf(*page_fit), QString());

  // The fit report is the session's of the page shown; the window's report
  // from before belongs to other work and goes.
  std::optional<TFitReport> report;
  std::string report_text;
  if (const auto& page_fit = state.Channel(state.view.page); page_fit && !page_fit->report.empty()) {
    try {
      report = FitReportFromText(page_fit->report);
      report->verdict = VerdictOf(*page_fit);
      report_text = page_fit->report;
    } catch (const std::exception&) {
      report.reset();  // a report that does not read back is not shown
    }
  }
  session.UseSavedReport(report, report_text);
  form_->findChild<QAbstractButton*>(QStringLiteral("Button9"))->setEnabled(report.has_value());
  if (TFitReportWindow* window = form_->ReportWindow()) {
    if (report) {
      window->SetNotes(QString(), report->verdict);
      window->ShowReport(*report, report_text);
    } else {
      window->hide();
    }
  }

  // The view.
  const TSessionView& view = state.view;
  form_->findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->setChecked(view.model_shown);
  form_->findChild<QCheckBox*>(QStringLiteral("CheckBox2"))->setChecked(view.data_shown);
  form_->SetResidualsShown(view.residuals);
  // The chart's own options before the redraw below, so that the legend
  // entries hidden and the zoom apply to the curves as they were drawn.
  form_->ChartView()->SetPairedColours(view.paired_colours);
  form_->ChartView()->SetAllCambers(view.all_cambers);
  form_->findChild<QTabWidget*>(QStringLiteral("Pagecontrol1"))->setCurrentIndex(PageOf(view.page));
  auto* camber = form_->findChild<QComboBox*>(QStringLiteral("CBbx_camber"));
  if (session.HasData() && view.camber_index >= 0 && view.camber_index < camber->count()) {
    camber->setCurrentIndex(view.camber_index);
    emit camber->activated(view.camber_index);
  } else if (session.HasData()) {
    form_->CBbx_camberChange();
  }
  if (session.HasData()) {
    QChart* chart = form_->Chart();
    const auto markers = chart->legend()->markers();
    for (int index : view.hidden_curves)
      if (index >= 0 && index < markers.size() && markers[index]->series()->isVisible())
        form_->ChartView()->ToggleCurve(index);
    if (view.zoom) {
      const auto xs = chart->axes(Qt::Horizontal), ys = chart->axes(Qt::Vertical);
      auto* x = xs.isEmpty() ? nullptr : qobject_cast<QValueAxis*>(xs.first());
      auto* y = ys.isEmpty() ? nullptr : qobject_cast<QValueAxis*>(ys.first());
      const auto& z = *view.zoom;
      if (x != nullptr && y != nullptr && z[0] < z[1] && z[2] < z[3]) {
        x->setRange(z[0], z[1]);
        y->setRange(z[2], z[3]);
      }
    }
  }

  QString text = QStringLiteral("Session opened: %1.").arg(QString::fromStdString(path));
  text += undoable ? QStringLiteral(" Ctrl+Z takes back its coefficients") : QStringLiteral(" Its coefficients were those shown");
  text += state.data ? QStringLiteral("; the data it brought replace those loaded (undo does not bring them back)")
                     : QStringLiteral("; it holds no data, the data loaded stay");
  if (const auto& page_fit = state.Channel(view.page))
    text += QStringLiteral("; last %1 fit: %2")
                .arg(QString::fromLatin1(SessionChannelName(view.page)),
                     page_fit->poor ? QStringLiteral("poor") : QStringLiteral("good"));
  Status(text);
}

// ------------------------------------------------------------ the report

void TSessionActions::ValidationReportClick() {
  if (RefusedWhileFitting(QStringLiteral("The report"))) return;
  const std::optional<IDialogs::TFileChoice> choice =
      Dialogs().SaveFileOfType(form_, "Validation report", "PDF document (*.pdf);;HTML page (*.html *.htm)");
  if (!choice) return;
  std::string path = choice->path;
  if (fs::path(path).extension().empty())
    path += choice->selected_filter.find("HTML") != std::string::npos ? ".html" : ".pdf";
  GuardedAbout(form_, [path](const std::exception&) { return "File " + path; },
               [this, path] { WriteValidationReport(path); });
}

void TSessionActions::WriteValidationReport(const std::string& path) {
  if (form_->FitRunning()) throw Exception("A fit is running: the report is written once it has ended");
  // A tire built from runs in "Build tire from runs" has pages of its own.
  const TBuildTireDialog* build = BuildTireDialogOf(form_);
  const std::optional<TProgrammeState> programme = build != nullptr ? build->State() : std::nullopt;
  const bool programme_fitted = programme && programme->result != nullptr;
  if (build != nullptr && build->Running())
    throw Exception("The programme's fit is running: the report is written once it has ended");
  if (!form_->Session().HasData() && !programme_fitted) throw Exception("Load tire data first");
  if (ReportFormatOf(path).empty()) throw Exception("The report is written as .pdf or .html, not " + path);
  std::vector<std::string> inputs_read = Inputs();
  if (programme_fitted) inputs_read.insert(inputs_read.end(), programme->runs.begin(), programme->runs.end());
  for (const std::string& input : inputs_read)
    if (SameFile(path, input)) throw Exception("The report would overwrite " + input + ", which the window read");

  const TTireDataSet& data = form_->Session().Data();
  const TCoefficientSet& set = form_->Coefficients();
  const std::string source = DataSourcePath();
  TReportInputs inputs;
  {
    const QDateTime now = QDateTime::currentDateTime();
    inputs.created = now.toString(QStringLiteral("yyyy-MM-dd HH:mm")).toStdString();
  }
  if (form_->Session().HasData())
    inputs.source_files.push_back("data: " + (source.empty() ? form_->Session().DataSource() : source));
  if (const std::optional<TSessionImport> import = CurrentImport())
    for (const TSessionRun& run : import->runs) inputs.source_files.push_back("run: " + run.path);
  inputs.source_files.push_back("coefficients: as shown in the window");
  for (TFitChannel channel : {TFitChannel::kLateral, TFitChannel::kAligning, TFitChannel::kLongitudinal}) {
    const TChannelFit* fit = CurrentFit(channel);
    if (fit == nullptr) continue;
    TFitOutcome outcome = fit->outcome;
    outcome.channel = channel;
    inputs.channels.push_back({channel, &data, &set, outcome, source});
  }
  if (programme_fitted) {
    TReportProgrammeInput part;
    part.result = programme->result.get();
    part.programme = programme->programme.get();
    part.runs = programme->runs;
    if (std::isfinite(part.programme->longvl) && part.programme->longvl > 0) part.longvl = part.programme->longvl;
    inputs.programme = part;
    for (const std::string& run : programme->runs) inputs.source_files.push_back("run: " + run);
  }
  if (inputs.channels.empty() && form_->Session().HasData()) {
    // No fit yet: the page shown, judged as its values stand.
    const TFitChannel channel =
        ChannelOfPage(form_->findChild<QTabWidget*>(QStringLiteral("Pagecontrol1"))->currentIndex());
    TFitOutcome outcome;
    outcome.channel = channel;
    outcome.start_was_fit = true;
    outcome.verdict = JudgeFit(outcome, set, data);
    inputs.channels.push_back({channel, &data, &set, outcome, source});
  }
  const TValidationReport report = BuildValidationReport(inputs);
  WriteReport(report, path);
  QString summary;
  for (const TChannelReport& channel : report.channels)
    summary += (summary.isEmpty() ? QString() : QStringLiteral(", ")) +
               QString::fromStdString(std::string(ChannelName(channel.channel))) + QLatin1Char(' ') +
               QString::fromStdString(channel.verdict_word);
  if (programme_fitted)
    summary += (summary.isEmpty() ? QString() : QStringLiteral(", ")) + QStringLiteral("the programme's stages");
  Status(QStringLiteral("Validation report written: %1 (%2)").arg(QString::fromStdString(path), summary));
}

}  // namespace morvex
