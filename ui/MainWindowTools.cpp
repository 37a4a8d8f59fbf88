// The main window's tools beside its specified commands: undo history,
// start-value estimate, cancelling a fit, the fit's verdict and notices,
// keyboard shortcuts, recent files, error subjects and the layout of a
// resized window.
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QShortcut>
#include <QAbstractItemView>
#include <QStatusBar>
#include <QTabWidget>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiredata/DataGrid.h"
#include "tiredata/TireDataFile.h"
#include "tiremodel/RatedLoad.h"
#include "ui/ChartView.h"
#include "ui/CoefficientPanel.h"
#include "ui/Dialogs.h"
#include "ui/FitReportWindow.h"
#include "ui/GridWidget.h"
#include "ui/Notices.h"
#include "ui/RecentFiles.h"
#include "ui/Popcalcul.h"
#include "ui/SessionActions.h"
#include "ui/TirChoices.h"
#include "ui/Unit1.h"

namespace morvex {

namespace {

constexpr int kReferenceWidth = 993;
constexpr int kReferenceHeight = 704;

std::string PageName(TCoefficientPage page) {
  switch (page) {
    case TCoefficientPage::kAbovePages: return "above the pages";
    case TCoefficientPage::kLateral: return "Lateral page";
    case TCoefficientPage::kLongitudinal: return "Longitudinal page";
    case TCoefficientPage::kAligning: return "Aligning torque page";
  }
  return {};
}

// The text that an EConvertError message names, or nullopt for other errors.
std::optional<std::string> NotANumberText(const std::exception& error) {
  if (dynamic_cast<const EConvertError*>(&error) == nullptr) return std::nullopt;
  const std::string message = error.what();
  const std::string tail = "' n'est pas une valeur en virgule flottante correcte";
  if (message.size() < tail.size() + 1 || message.front() != '\'' ||
      message.compare(message.size() - tail.size(), tail.size(), tail) != 0)
    return std::nullopt;
  return message.substr(1, message.size() - tail.size() - 1);
}

QString Join(const std::vector<std::string>& names) {
  QStringList list;
  for (const std::string& name : names) list << QString::fromStdString(name);
  return list.join(QStringLiteral(", "));
}

}  // namespace

void TForm1::BuildTools() {
  QWidget* client = Button7->parentWidget();

  Button10 = new QPushButton(QStringLiteral("Estimate start values"), client);
  Button10->setObjectName(QStringLiteral("Button10"));
  Button10->setGeometry(Button7->x(), 184, Button7->width(), 25);
  connect(Button10, &QPushButton::clicked, this, &TForm1::Button10Click);

  cancel_button_ = new QPushButton(QStringLiteral("Cancel"), statusBar());
  cancel_button_->setObjectName(QStringLiteral("CancelFitButton"));
  cancel_button_->setToolTip(QStringLiteral("Stop the fit at the best point found so far (Escape)"));
  cancel_button_->setFixedHeight(17);
  statusBar()->addPermanentWidget(cancel_button_);
  cancel_button_->hide();
  connect(cancel_button_, &QPushButton::clicked, this, &TForm1::RequestCancel);
  // A message's tooltip goes with it.
  connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& text) {
    if (text.isEmpty()) statusBar()->setToolTip(QString());
  });

  // Keyboard shortcuts; each control's tooltip names its key.  They work
  // wherever the focus is in the window; the commands that change the panel
  // or the data do nothing while a fit runs.
  auto shortcut = [this](const QKeySequence& keys, const char* name, auto slot) {
    auto* sc = new QShortcut(keys, this);
    sc->setObjectName(QLatin1String(name));
    connect(sc, &QShortcut::activated, this, slot);
    return sc;
  };
  shortcut(QKeySequence(Qt::Key_Escape), "ShortcutCancelFit", [this] { RequestCancel(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_O), "ShortcutLoad", [this] { Button2Click(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_I), "ShortcutImport", [this] { Button5Click(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_S), "ShortcutExport", [this] { Button4Click(); });
  shortcut(QKeySequence(Qt::Key_F5), "ShortcutFit", [this] { FitVisibleChannel(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_E), "ShortcutEstimate", [this] { Button10Click(); });
  shortcut(QKeySequence(Qt::Key_F1), "ShortcutHelp", [this] { BitBtnWithColor1Click(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), "ShortcutQuit", [this] { close(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), "ShortcutUndo", [this] { Undo(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), "ShortcutRedo", [this] { Redo(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Y), "ShortcutRedo2", [this] { Redo(); });

  Button2->setToolTip(QStringLiteral("Load a tire data file (Ctrl+O). Right-click: recent files"));
  Button5->setToolTip(QStringLiteral("Import a coefficient file (Ctrl+I)"));
  Button4->setToolTip(QStringLiteral("Export the coefficients to a file (Ctrl+S)"));
  Button1->setToolTip(QStringLiteral("Fit the lateral coefficients (F5 on the Lateral page; Ctrl+Z undoes it)"));
  // The specified tooltip, then the key.
  Button6->setToolTip(Button6->toolTip() + QStringLiteral(" (F5 on the Aligning torque page)"));
  Button7->setToolTip(
      QStringLiteral("Fit the longitudinal coefficients (F5 on the Longitudinal page; Ctrl+Z undoes it)"));
  Button10->setToolTip(QStringLiteral(
      "Estimate start values of the free coefficients of the page shown from the data (Ctrl+E; Ctrl+Z undoes it)"));
  BitBtnWithColor1->setToolTip(QStringLiteral("Help (F1)"));
  Button9->setToolTip(QStringLiteral("How well the last fit matches each measured curve"));

  Button2->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(Button2, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { BuildRecentFilesMenu()->popup(Button2->mapToGlobal(pos)); });

  // The chart follows the page shown and the residual switch at once.
  connect(Pagecontrol1, &QTabWidget::currentChanged, this, [this] {
    if (!session_->HasData()) return;
    GuardedAbout(this, [this](const std::exception& error) { return CoefficientSubject(error); },
                 [this] { graph(); });
  });
  connect(CheckBox3, &QCheckBox::toggled, this, [this](bool shown) {
    Chart1->SetResidualsShown(shown);
    if (!session_->HasData()) return;
    GuardedAbout(this, [this](const std::exception& error) { return CoefficientSubject(error); },
                 [this] { graph(); });
  });
  connect(Chart1, &TResultChartView::residualsRequested, CheckBox3, &QCheckBox::setChecked);
  // The chart's own drawing options (its context menu) redraw it.
  connect(Chart1, &TResultChartView::drawingOptionsChanged, this, [this] {
    if (!session_->HasData() || FitRunning()) return;
    GuardedAbout(this, [this](const std::exception& error) { return CoefficientSubject(error); },
                 [this] { graph(); });
  });

  // Fz0 as typed: a text the program writes (start-up, import, fit, undo)
  // is the settled value; the user's edit is judged when it is finished.
  QLineEdit* fz0 = panel_->Edit("Fz0");
  settled_fz0_ = fz0->text();
  connect(fz0, &QLineEdit::textChanged, this, [this, fz0](const QString& text) {
    if (!fz0->isModified()) settled_fz0_ = text;
  });
  connect(fz0, &QLineEdit::editingFinished, this, &TForm1::RatedLoadEdited);

  // Save session, Open session, recent sessions and the validation report.
  new TSessionActions(this);
}

// --------------------------------------------------------------- rated load

void TForm1::RatedLoadEdited() {
  QLineEdit* edit = panel_->Edit("Fz0");
  if (!edit->isModified() || FitRunning()) return;
  // Settled before anything is asked: the question takes the focus, which
  // finishes the edit once more.
  edit->setModified(false);
  const std::string old_text = settled_fz0_.toStdString();
  const std::string new_text = edit->text().toStdString();
  settled_fz0_ = edit->text();
  if (new_text == old_text) return;
  TCoefficientSnapshot before = TakeSnapshot(*panel_);
  before.texts[static_cast<size_t>(ExactCoefficientIndex("Fz0"))] = old_text;
  double old_fz0 = 0, new_fz0 = 0;
  const bool loads = TryStrToFloat(old_text, old_fz0) && TryStrToFloat(new_text, new_fz0) && std::isfinite(old_fz0) &&
                     std::isfinite(new_fz0) && old_fz0 > 0 && new_fz0 > 0;
  const bool reexpress =
      loads && Dialogs().Choose(this,
                                "Fz0 changes from " + old_text + " to " + new_text +
                                    " N.\nRe-express the coefficients of every channel at the new Fz0, so that every "
                                    "curve stays as it is, or change only the value (the curves then change)?",
                                "Re-express", "Change the value only");
  GuardedAbout(this, [this](const std::exception& error) { return CoefficientSubject(error); }, [&] {
    try {
      if (reexpress) ReexpressFromFz0(*panel_, old_fz0);
    } catch (...) {
      RecordStep("Fz0 changed", before);
      throw;
    }
    RecordStep(reexpress ? "Fz0 changed, every channel re-expressed" : "Fz0 changed", before);
    statusBar()->showMessage(reexpress ? QStringLiteral("Fz0 is %1: every channel re-expressed, every curve as it was "
                                                        "(Ctrl+Z goes back)")
                                             .arg(edit->text())
                                       : QStringLiteral("Fz0 is %1: the other coefficients are as they were, so the "
                                                        "curves changed (Ctrl+Z goes back)")
                                             .arg(edit->text()),
                             kNoticeTimeoutMs);
    if (session_->HasData()) graph();
  });
}

// ------------------------------------------------------------------- layout

void TForm1::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  LayOutForSize();
}

void TForm1::LayOutForSize() {
  if (Chart1 == nullptr) return;
  // Growth of the controls' client beyond the reference size goes to the
  // chart (both ways) and to the grid (downwards); every other control
  // keeps its place.  The client never gets smaller: the window scrolls it.
  const QWidget* client = Chart1->parentWidget();
  const int grow_x = std::max(0, client->width() - kReferenceWidth);
  const int grow_y = std::max(0, client->height() - (kReferenceHeight - statusBar()->height()));
  Chart1->setGeometry(528, 214, 457 + grow_x, 465 + grow_y);
  GroupBox3->setGeometry(2, 464, 521, 217 + grow_y);
  SG1->setGeometry(4, 48, 513, 163 + grow_y);
}

// --------------------------------------------------------------- status bar

void TForm1::ShowStatus(const QString& text, int timeout_ms) {
  // The Cancel button beside the message takes its share of the bar.
  const int reserved =
      cancel_button_ != nullptr && cancel_button_->isVisible() ? cancel_button_->width() + 6 : 0;
  ShowStatusMessage(statusBar(), text, timeout_ms, reserved);
}

void TForm1::ForgetFitsOf(const std::vector<std::string>& changed) {
  // The header of an exported property file names the fit of each channel;
  // a channel whose coefficients came from elsewhere afterwards has none.
  // The aligning torque is computed over the lateral coefficients.
  for (const std::string& name : changed) {
    const TCoefficientPage page = Coefficient(name).page;
    if (page == TCoefficientPage::kAbovePages || page == TCoefficientPage::kLateral) {
      ForgetRecordedFit(TFitChannel::kLateral);
      ForgetRecordedFit(TFitChannel::kAligning);
    }
    if (page == TCoefficientPage::kAbovePages || page == TCoefficientPage::kLongitudinal)
      ForgetRecordedFit(TFitChannel::kLongitudinal);
    if (page == TCoefficientPage::kAligning) ForgetRecordedFit(TFitChannel::kAligning);
  }
}

void TForm1::ClearVerdict() {
  statusBar()->setStyleSheet(QString());
  statusBar()->clearMessage();
}

// ------------------------------------------------------------- undo history

void TForm1::RecordStep(const std::string& what, const TCoefficientSnapshot& before) {
  session_->History().Record(what, before, *panel_);
}

void TForm1::Undo() {
  if (FitRunning()) return;
  const std::string what = session_->History().Undo(*panel_);
  // The last verdict's background belongs to values no longer shown.
  if (!what.empty()) statusBar()->setStyleSheet(QString());
  ShowStatus(what.empty() ? QStringLiteral("Nothing to undo")
                                        : QStringLiteral("Undone: %1 (Ctrl+Shift+Z redoes it)").arg(QString::fromStdString(what)),
                           kNoticeTimeoutMs);
  if (!what.empty() && session_->HasData())
    GuardedAbout(this, [this](const std::exception& error) { return CoefficientSubject(error); },
                 [this] { graph(); });
}

void TForm1::Redo() {
  if (FitRunning()) return;
  const std::string what = session_->History().Redo(*panel_);
  if (!what.empty()) statusBar()->setStyleSheet(QString());
  ShowStatus(what.empty() ? QStringLiteral("Nothing to redo")
                                        : QStringLiteral("Redone: %1").arg(QString::fromStdString(what)),
                           kNoticeTimeoutMs);
  if (!what.empty() && session_->HasData())
    GuardedAbout(this, [this](const std::exception& error) { return CoefficientSubject(error); },
                 [this] { graph(); });
}

// ----------------------------------------------------------------- estimate

void TForm1::SetEstimator(TEstimator estimator) { session_->SetEstimator(std::move(estimator)); }

void TForm1::Button10Click() {
  if (FitRunning()) return;
  GuardedAbout(this, [this](const std::exception& error) { return CoefficientSubject(error); }, [this] {
    if (!session_->HasData()) {
      Dialogs().Message(this, "Load tire data first");
      return;
    }
    const TFitChannel channel = VisibleChannel();
    const TCoefficientSnapshot before = TakeSnapshot(*panel_);
    TStartEstimate estimate;
    try {
      estimate = session_->Estimate(channel, *panel_);
      FollowRatedLoad(*panel_, before.texts[static_cast<size_t>(ExactCoefficientIndex("Fz0"))], OtherChannels(channel));
    } catch (...) {
      RecordStep("start-value estimate", before);
      throw;
    }
    // The estimate fills values; which ones are free stays the user's call.
    const auto table = morvex::Coefficients();
    for (size_t i = 0; i < table.size(); ++i)
      if (table[i].HasFreeFlag()) panel_->SetFree(table[i].name, before.free[i]);
    RecordStep("start-value estimate", before);
    RememberValuesAsFit(channel);
    graph();
    const std::vector<std::string> changed = ChangedCoefficients(before, TakeSnapshot(*panel_));
    ForgetFitsOf(changed);
    QString text = changed.empty()
                       ? QStringLiteral("Start values estimated: no value changed")
                       : QStringLiteral("Start values estimated for %1 coefficients (Ctrl+Z goes back)").arg(changed.size());
    for (const std::string& note : estimate.notes) text += QStringLiteral("; ") + QString::fromStdString(note);
    ShowStatus(text, kNoticeTimeoutMs);
  });
}

// ---------------------------------------------------------------------- fits

void TForm1::SetFitRunner(TFitRunner runner) { session_->SetFitRunner(std::move(runner)); }

void TForm1::FitVisibleChannel() {
  switch (VisibleChannel()) {
    case TFitChannel::kLateral: Button1Click(); break;
    case TFitChannel::kAligning: Button6Click(); break;
    case TFitChannel::kLongitudinal: Button7Click(); break;
  }
}

std::string TForm1::FitName(TFitChannel channel) {
  switch (channel) {
    case TFitChannel::kLateral: return "lateral fit";
    case TFitChannel::kAligning: return "aligning torque fit";
    case TFitChannel::kLongitudinal: return "longitudinal fit";
  }
  return "fit";
}

void TForm1::SetCancelAvailable(bool available) {
  LockFitInput(available);
  if (available) {
    TPopcalcul* wait = WaitScreen();
    wait->SetCancelHandler([this] { RequestCancel(); });
    // Escape on the wait screen too, when the user has clicked it.
    if (wait->findChild<QShortcut*>(QStringLiteral("WaitScreenEscape"), Qt::FindDirectChildrenOnly) == nullptr) {
      auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), wait);
      escape->setObjectName(QStringLiteral("WaitScreenEscape"));
      connect(escape, &QShortcut::activated, this, &TForm1::RequestCancel);
    }
    cancel_button_->show();
  } else {
    if (wait_screen_ != nullptr) wait_screen_->SetCancelHandler({});
    cancel_button_->hide();
  }
}

void TForm1::LockFitInput(bool locked) {
  // Edits stay focusable (read-only), so the keyboard stays where the user
  // was; boxes and commands are disabled.
  for (const TCoefficientInfo& info : morvex::Coefficients()) {
    panel_->Edit(info.name)->setReadOnly(locked);
    if (QCheckBox* box = panel_->CheckBox(info.name)) box->setEnabled(!locked);
  }
  QWidget* const controls[] = {Button1,  Button2,         Button4,      Button5,      Button6,      Button7,
                               Button8,  Button10,        ButtonImportRun, RadioButton1, RadioButton2, RadioButton3};
  for (QWidget* control : controls)
    control->setEnabled(!locked);
  if (locked) {
    grid_edit_triggers_ = static_cast<int>(SG1->editTriggers());
    SG1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  } else {
    SG1->setEditTriggers(QAbstractItemView::EditTriggers(grid_edit_triggers_));
  }
}

void TForm1::RequestCancel() {
  if (!session_->RequestCancel()) return;
  const QString text = QStringLiteral("Cancelling: the fit stops at its next step");
  ShowStatus(text, 0);
  if (wait_screen_ != nullptr && wait_screen_->isVisible()) wait_screen_->SetProgressText(text);
}

void TForm1::AfterFit(TFitOutcome outcome, const TCoefficientSnapshot& before) {
  const std::string what = FitName(outcome.channel);
  QString status;
  if (outcome.cancelled) {
    const bool keep = Dialogs().Choose(
        this,
        "The fit was cancelled.\nKeep the best values it found so far, or go back to the values "
        "before the fit?",
        "Keep best values", "Revert");
    if (!keep) RestoreSnapshot(before, *panel_);
    status = keep ? QStringLiteral("Fit cancelled: the best values found so far were kept (Ctrl+Z goes back)")
                  : QStringLiteral("Fit cancelled: the values before the fit are back");
    if (session_->HasData())
      GuardedAbout(this, [this](const std::exception& error) { return CoefficientSubject(error); },
                   [this] { graph(); });
  }

  // Boxes the command cleared on its own: the single-camber rule's, and
  // Fz0 on the aligning fit.
  const std::vector<std::string> cleared = ClearedFlags(before, TakeSnapshot(*panel_));
  std::vector<std::string> camber;
  bool rated_load = false;
  for (const std::string& name : cleared) {
    if (name == "Fz0") rated_load = true;
    else camber.push_back(name);
  }
  QStringList notes;
  if (!camber.empty()) {
    session_->HoldByCamberRule(camber);
    notes << QStringLiteral(
                 "The data hold one case at camber 0, so the fit held %1 fixed and cleared their boxes; "
                 "they are ticked again when data with more than one camber is loaded.")
                 .arg(Join(camber));
  }
  if (rated_load) notes << QStringLiteral("The aligning fit holds Fz0 fixed and cleared its box.");
  if (std::find(outcome.fitted.begin(), outcome.fitted.end(), "Fz0") != outcome.fitted.end())
    notes << QString::fromUtf8(kRatedLoadFreedNote) + QLatin1Char('.');
  RecordStep(what, before);

  session_->SetVerdict(outcome.verdict, notes.join(QLatin1Char('\n')));
  // The verdict names the RMS of this fit's report, never that of an earlier one.
  QString rms;
  if (UpdateReport(outcome))
    rms = QStringLiteral(" (RMS %1 %2)")
              .arg(QString::fromStdString(FloatToStrF(session_->LastReport()->rms, TFloatFormat::kGeneral, 4, 0)),
                   outcome.channel == TFitChannel::kAligning ? QStringLiteral("N m") : QStringLiteral("N"));

  if (status.isEmpty()) {
    if (outcome.optimizer_failed) status = QStringLiteral("Fit failed (Ctrl+Z goes back to the values before it)");
    else status = VerdictInWords(outcome.verdict).insert(QStringLiteral("Fit good").size(), rms);  // after "Fit good"/"Fit poor"
  }
  if (!camber.empty())
    status += QStringLiteral(". Single camber at 0: boxes of %1 cleared").arg(Join(camber));
  ShowVerdict(outcome, status, rms);
}

void TForm1::ShowVerdict(const TFitOutcome& outcome, const QString& status, const QString& rms) {
  const bool poor = !outcome.cancelled && !outcome.optimizer_failed && outcome.verdict.poor;
  statusBar()->setStyleSheet(poor ? QStringLiteral("QStatusBar { background: rgb(255, 226, 160); }") : QString());
  ShowStatus(status, kNoticeTimeoutMs);
  if (!poor) return;
  QString details;
  const QString text = PoorFitNoticeText(outcome.verdict, rms, details);
  ShowNotice(this, text, true, details);
}

void TForm1::RestoreCamberBoxes() {
  const std::vector<std::string> held = session_->ReleaseCamberHold();
  if (held.empty()) return;
  const TCoefficientSnapshot before = TakeSnapshot(*panel_);
  for (const std::string& name : held) panel_->SetFree(name, true);
  const std::vector<std::string> back = ChangedCoefficients(before, TakeSnapshot(*panel_));
  RecordStep("camber boxes ticked again", before);
  if (!back.empty())
    ShowStatus(
        QStringLiteral("The data hold more than one camber: the boxes of %1 are ticked again (Ctrl+Z clears them)")
            .arg(Join(back)),
        kNoticeTimeoutMs);
}

// -------------------------------------------------------------- recent files

namespace {

const TRecentFiles& RecentData() {
  static const TRecentFiles files(QStringLiteral("recent/dataFiles"));
  return files;
}

}  // namespace

void TForm1::RememberDataFile(const QString& path) { RecentData().Remember(path); }

QStringList TForm1::RecentDataFiles() const { return RecentData().Files(); }

QMenu* TForm1::BuildRecentFilesMenu() {
  return RecentData().BuildMenu(this, QStringLiteral("RecentFilesMenu"), QStringLiteral("No recent data files"),
                                [this](const QString& file) {
                                  if (FitRunning()) return;
                                  const std::string path = file.toStdString();
                                  GuardedAbout(
                                      this,
                                      [this, path](const std::exception& error) { return FileSubject(path, error); },
                                      [this, path] { LoadDataFile(path); });
                                });
}

// ---------------------------------------------------------------- residuals

bool TForm1::ResidualsShown() const { return CheckBox3->isChecked(); }

void TForm1::SetResidualsShown(bool shown) { CheckBox3->setChecked(shown); }

// ------------------------------------------------------- what errors are about

std::string TForm1::CoefficientSubject(const std::exception& error) const {
  const auto bad = NotANumberText(error);
  if (!bad) return {};
  std::string subject;
  for (const TCoefficientInfo& info : morvex::Coefficients()) {
    const std::string text = panel_->Text(info.name);
    double value = 0;
    if (text != *bad || TryStrToFloat(text, value)) continue;
    subject += subject.empty() ? "Coefficient: " : "; ";
    subject += std::string(info.name) + " (" + PageName(info.page) + ")";
  }
  return subject;
}

std::string TForm1::CellSubject(int col, int row) const {
  const TLoadCase* c = CaseAt(DataSet(), selected_case_);
  const size_t load = static_cast<size_t>(col - 1);
  const size_t slip = static_cast<size_t>(row - 1);
  if (c == nullptr || col < 1 || row < 1 || load >= c->LoadCount() || slip >= c->RowCount())
    return "Cell: column " + std::to_string(col) + ", row " + std::to_string(row);
  return "Cell: camber " + FloatToStr(c->Camber) + ", load " + FloatToStr(c->Loads[load]) + ", slip " +
         FloatToStr(c->Slips[slip]);
}

std::string TForm1::FileSubject(const std::string& path, const std::exception& error) const {
  if (path.empty()) return CoefficientSubject(error);
  std::string subject = "File: " + path;
  // The data file reader names the line itself, counted from 1.
  const std::string message = error.what();
  const std::string place = "(file " + path + ", line ";
  if (const size_t at = message.rfind(place); at != std::string::npos)
    return subject + ", line " + std::to_string(std::atoll(message.c_str() + at + place.size()));
  if (const auto* missing = dynamic_cast<const EListError*>(&error)) {
    // The reader names the index of the line it missed, counted from 0.
    const std::string message = missing->what();
    const size_t open = message.rfind('(');
    if (open != std::string::npos) {
      const long long index = std::atoll(message.c_str() + open + 1);
      subject += ", line " + std::to_string(index + 1);
    }
    return subject;
  }
  const auto bad = NotANumberText(error);
  if (!bad) return subject;
  // The first line holding the offending text as a field (or as the whole
  // camber line) is the line the reader stopped at.
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return subject;
  std::string prefix = *bad;
  const bool shortened = prefix.size() > 3 && prefix.compare(prefix.size() - 3, 3, "...") == 0;
  if (shortened) prefix.resize(prefix.size() - 3);
  long long line_number = 0;
  while (!file.atEnd()) {
    ++line_number;
    std::string line = file.readLine().toStdString();
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    const auto matches = [&](const std::string& field) {
      return shortened ? field.rfind(prefix, 0) == 0 : field == *bad;
    };
    bool found = matches(line);
    if (!found)
      for (const std::string& field : SplitFields(line))
        if (matches(field)) {
          found = true;
          break;
        }
    if (found) return subject + ", line " + std::to_string(line_number);
  }
  return subject;
}

}  // namespace morvex
