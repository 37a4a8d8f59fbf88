// The main window of Morvex, `TForm1` (its one instance is "Form1").
//
// It holds the three long-lived things of a session: the coefficient set
// (the "Pacejka coefficients" panel, whose edits and check boxes are the
// storage), the tire data set of the last successful load, and the result
// chart.  Every control carries its documented name as objectName, so tests
// and users' scripts find "edtpcy1", "Button1" or "SG1" directly.
//
// Commands and their handlers:
//   Button2 "Load tire data"                      Button2Click
//   Button1 "Fit lateral MFparameters"            Button1Click
//   Button6 "Fit aligning torque MF parameters"   Button6Click
//   Button7 "Fit longitudinal MF parameters"      Button7Click
//   Button3 "DRAW"                                Button3Click
//   Button4 "Export to file"                      Button4Click
//   Button5 "Import MF model"                     Button5Click
//   Button8 "Tire size calculator"                Button8Click
//   BitBtnWithColor1 "Help"                       BitBtnWithColor1Click
//   ButtonImportRun "Import measured run…"        ImportRunClick
//   CBbx_camber (pick an item or type)            CBbx_camberChange
//   SG1 (a cell editor closes)                    SG1SetEditText
// Each handler runs its work through Guarded (Dialogs.h): an error ends the
// command, its message is shown with what it is about (coefficient, grid
// cell, or file and line) on a line of its own, and the window carries on.
//
// Beside those commands (MainWindowTools.cpp):
//   Button10 "Estimate start values"              Button10Click
//   Button9 "Fit report"                          Button9Click
//   Ctrl+O load, Ctrl+I import, Ctrl+S export, F5 fit the page shown,
//   Ctrl+E estimate, F1 help, Ctrl+Q quit, Ctrl+Z undo, Ctrl+Shift+Z redo;
//   right-click on "Load tire data": recently loaded files.
// Every change that a fit, an import, an estimate, the single-camber rule
// or the calculator makes to the panel is one step of the undo history.
// A fit can be cancelled (Escape wherever the focus is, or "Cancel" on the
// wait screen or in the status bar); the user then keeps the best point
// found or reverts.  Home puts the chart back to the whole data wherever
// the focus is.
//
// The working state (data set, undo history, values that are a fit, last
// report and verdict, the single-camber rule's memory, the fit runner)
// belongs to the session, TFitSession; the window shows it and drives it.
// A fit runs on the session's worker thread and the window stays visible
// and responsive: on the Levenberg-Marquardt path the wait screen shows
// beside it, on every path the busy cursor is set, progress goes to the
// status bar (and the wait screen), and the controls that could change
// what the fit reads (coefficients, data, the commands that write them) are
// locked until it ends.  Then the window applies the values the fit wrote,
// records them as one undo step and redraws.  Fit commands return at once;
// FitRunning() and fitFinished() tell when the fit has ended.
//
// Data loads replace the data set only when the whole file was read: a
// cancelled dialog or a file with an error leaves the previous data, grid,
// selector and chart as they were.  The selected case is the selector item
// the user picked (or the item whose text they typed); when nothing matches,
// the grid shows only its corner and the chart stays empty.  A grid edit is
// stored when its cell editor closes.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "files/SessionFile.h"
#include "fitting/FitCommands.h"
#include "fitting/FitReport.h"
#include "fitting/StartEstimate.h"
#include "ui/FitSession.h"
#include "ui/PanelHistory.h"
#include "tiredata/TireDataSet.h"

class QChart;
class QChartView;
class QCheckBox;
class QCloseEvent;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTableWidget;
class QTableWidgetItem;
class QMenu;

class QResizeEvent;

namespace morvex {

class TCoefficientPanel;
class TDataGrid;
class TFitReportWindow;
class TResultChartView;
class TForm3;
class TPopcalcul;

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  // `settings_dir` is where param_fm_ini.ini (start-up coefficients) and
  // configuration.ini (fit settings) are looked for; empty means the
  // executable's folder.  Runs FormCreate.
  explicit TForm1(const QString& settings_dir = QString(), QWidget* parent = nullptr);
  ~TForm1() override;

  // The auxiliary windows.  The program creates them after the main window
  // and hands them over; when none was given, the window makes its own on
  // first use.  The main window does not take ownership of given ones.
  void SetWaitScreen(TPopcalcul* wait_screen);
  void SetCalculator(TForm3* calculator);

  // The coefficient set shown by the panel.
  TCoefficientSet& Coefficients();
  // The edit of R0, which the tire size calculator fills.
  QLineEdit* RadiusEdit() const;
  const TTireDataSet& DataSet() const { return session_->Data(); }
  TFitSession& Session() { return *session_; }
  // Index of the case shown in the grid and the chart; -1 when none.
  int SelectedCase() const { return selected_case_; }
  // The text of status bar panel 0, 1 or 2.
  QString StatusText(int panel) const;
  QChart* Chart() const;

  // The load command after its dialog: reads `path` whole and, only if that
  // succeeded, makes it the data set, refills the camber selector, shows
  // case 0, puts the path into status panel 1 and redraws.  Errors of the
  // read propagate and leave everything as it was.
  void LoadDataFile(const std::string& path);
  // Makes `data` the data set as LoadDataFile makes a file's content: the
  // camber selector refilled, case 0 shown, `label` in status panel 1, the
  // chart redrawn.
  // `channel`: the channel the data were imported for (the chart's axes
  // follow it); nullopt when not known.
  void UseImportedData(TTireDataSet data, const std::string& label,
                       std::optional<TFitChannel> channel = std::nullopt);
  // The channel the data loaded hold, when the file or the import says so.
  std::optional<TFitChannel> DataChannel() const { return session_->DataChannel(); }
  // "Import measured run...": picks a raw run file and opens the import
  // dialog on it; the data set changes only when the dialog is accepted.
  void ImportRunClick();
  // The choices the import dialog opens with: those of the import accepted
  // last (with its run), or a session's; none: the dialog's defaults.
  const std::optional<TSessionImport>& ImportSettings() const { return import_settings_; }
  void SetImportSettings(std::optional<TSessionImport> settings) { import_settings_ = std::move(settings); }

  // Command handlers (see the table above).
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Button5Click();
  void Button6Click();
  void Button7Click();
  void Button8Click();
  void BitBtnWithColor1Click();
  // Opens the fit report window with the report of the last fit.
  void Button9Click();
  // The report window, once opened; nullptr before.
  TFitReportWindow* ReportWindow() const;
  void CBbx_camberChange();
  // Stores the text of data cell (col, row) into the selected case and
  // redraws; a text that is not a number raises the conversion error.
  void SG1SetEditText(int col, int row, const QString& text);
  void FormCreate();
  void FormClose();

  // Estimates start values of the free coefficients of the page shown from
  // the data; one undo step.  Without data: "Load tire data first".
  void Button10Click();
  // F5: the fit command of the page shown.
  void FitVisibleChannel();
  // Takes back or repeats the last command that changed the panel, then
  // redraws; says in the status bar what was undone.
  void Undo();
  void Redo();
  const TPanelHistory& History() const { return session_->History(); }

  // Asks the running fit to stop (Escape, the Cancel buttons).
  void RequestCancel();
  // From the start of a fit until the window has taken its result.
  bool FitRunning() const { return session_->Running(); }

  // The fit command and the estimate, replaceable by tests.
  using TFitRunner = TFitSession::TFitRunner;
  using TEstimator = TFitSession::TEstimator;
  void SetFitRunner(TFitRunner runner);
  void SetEstimator(TEstimator estimator);

  // Data files loaded lately, newest first (kept between sessions).
  QStringList RecentDataFiles() const;
  // The menu that right-clicking "Load tire data" opens.
  QMenu* BuildRecentFilesMenu();

  TResultChartView* ChartView() const { return Chart1; }
  // The residual view (measured - model) instead of the curves.
  bool ResidualsShown() const;
  void SetResidualsShown(bool shown);

  // The coefficients whose boxes the single-camber rule has cleared and
  // that come back with data of more than one camber.
  const std::vector<std::string>& HeldByCamberRule() const { return session_->HeldByCamberRule(); }
  // Whether the coefficients shown are, unchanged, the estimate or the fit
  // of `channel` on the data loaded: a fit from them that ends at their
  // cost is then no fault.
  bool ValuesAreAFit(TFitChannel channel) const;
  const TFitVerdict& LastVerdict() const { return session_->LastVerdict(); }

  // Shows the selected case in the grid.
  void draw_grid();
  // Rebuilds the chart for the selected case from the coefficient set and
  // the visible page.  A conversion or arithmetic error stops it with its
  // error; what was drawn before the error stays on the chart.
  void graph();

 signals:
  // A fit has ended and its result is on the panel (or was reverted).
  void fitFinished();
  // A run's import was accepted: its data are the data set, and
  // ImportSettings() holds its choices and run.
  void runImported();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  std::optional<TSessionImport> import_settings_;
  // What the running fit asks for, on the interface thread.
  void ShowWaitScreen(bool shown);
  void SetBusyCursor(bool busy);
  void ShowProgress(int optimizer, int step, int total_steps, double best_cost);
  // The fit has ended: applies its result, then judges and records it.
  void FitEnded();
  // Locks (or unlocks) the controls whose input could change what a fit
  // reads or writes.
  void LockFitInput(bool locked);

  // MainWindowTools.cpp
  void BuildTools();
  // The user finished editing Fz0: re-express every channel at the new
  // value or change the value only, as the user chooses; one undo step.
  void RatedLoadEdited();
  void LayOutForSize();
  void RecordStep(const std::string& what, const TCoefficientSnapshot& before);
  void AfterFit(TFitOutcome outcome, const TCoefficientSnapshot& before);
  void RestoreCamberBoxes();
  // Shows `text` in the status bar (Notices.h), beside the Cancel button
  // while a fit runs; 0 keeps it until the next message.
  void ShowStatus(const QString& text, int timeout_ms = 60000);
  // Forgets the recorded fits of the channels the coefficients `changed`
  // belong to; called after the step is recorded, so undo brings them back.
  void ForgetFitsOf(const std::vector<std::string>& changed);
  // Takes the last verdict (message and background) off the status bar.
  void ClearVerdict();
  void ShowVerdict(const TFitOutcome& outcome, const QString& status, const QString& rms);
  void RememberDataFile(const QString& path);
  void SetCancelAvailable(bool available);
  std::string CoefficientSubject(const std::exception& error) const;
  std::string FileSubject(const std::string& path, const std::exception& error) const;
  std::string CellSubject(int col, int row) const;
  static std::string FitName(TFitChannel channel);

  void BuildControls();
  void ConnectHandlers();
  void RunFit(TFitChannel channel);
  // True when the last report is now this fit's.
  bool UpdateReport(const TFitOutcome& outcome);
  // The commands that need the data and the panel to themselves.
  bool Idle() const { return !FitRunning(); }
  void EndFit();
  TPopcalcul* WaitScreen();
  void ShowProgressText(const QString& text);
  TFitChannel VisibleChannel() const;
  std::string SettingsPath() const;
  void OnGridItemChanged(QTableWidgetItem* item);
  void SelectCaseByText(const QString& text);

  QString settings_dir_;
  std::unique_ptr<TFitSession> session_;
  int selected_case_ = -1;
  bool filling_grid_ = false;
  bool busy_cursor_ = false;

  std::unique_ptr<TCoefficientPanel> panel_;
  TPopcalcul* wait_screen_ = nullptr;
  std::unique_ptr<TPopcalcul> own_wait_screen_;
  TForm3* calculator_ = nullptr;

  QGroupBox* GroupBox1 = nullptr;
  QPushButton* Button5 = nullptr;
  QPushButton* Button4 = nullptr;
  QTabWidget* Pagecontrol1 = nullptr;
  QWidget* TabSheet1 = nullptr;
  QWidget* TabSheet2 = nullptr;
  QWidget* TabSheet3 = nullptr;
  QPushButton* Button8 = nullptr;
  QGroupBox* GroupBox3 = nullptr;
  QLabel* Label1 = nullptr;
  QComboBox* CBbx_camber = nullptr;
  TDataGrid* SG1 = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QCheckBox* CheckBox1 = nullptr;
  QCheckBox* CheckBox2 = nullptr;
  QPushButton* Button3 = nullptr;
  QGroupBox* RadioGroup1 = nullptr;
  QRadioButton* RadioButton1 = nullptr;
  QRadioButton* RadioButton2 = nullptr;
  QRadioButton* RadioButton3 = nullptr;
  QPushButton* Button9 = nullptr;
  QPushButton* ButtonImportRun = nullptr;
  TFitReportWindow* report_window_ = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button6 = nullptr;
  QPushButton* Button7 = nullptr;
  QPushButton* BitBtnWithColor1 = nullptr;
  QLineEdit* Lbledt1 = nullptr;
  QLabel* Lbledt1Label = nullptr;
  TResultChartView* Chart1 = nullptr;
  QCheckBox* CheckBox3 = nullptr;  // "Residuals"
  QPushButton* Button10 = nullptr;
  QPushButton* cancel_button_ = nullptr;  // in the status bar while a fit runs
  void RememberValuesAsFit(TFitChannel channel);
  // The grid's edit triggers while no fit runs.
  int grid_edit_triggers_ = 0;
  // The Fz0 text before the user's edit began.
  QString settled_fz0_;
  QLabel* status_panels_[3] = {nullptr, nullptr, nullptr};
};

}  // namespace morvex
