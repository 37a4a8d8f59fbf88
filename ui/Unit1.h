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
// command, its message is shown, and the window carries on.
//
// A fit runs to completion on the GUI thread.  The window is the fit
// command's host: on the Levenberg-Marquardt path it hides itself and shows
// the wait screen, on both paths it sets the busy cursor, shows progress
// (status bar, or the wait screen while the window is hidden) by repainting
// only the progress text, and redraws the chart at the end.
//
// Data loads replace the data set only when the whole file was read: a
// cancelled dialog or a file with an error leaves the previous data, grid,
// selector and chart as they were.  The selected case is the selector item
// the user picked (or the item whose text they typed); when nothing matches,
// the grid shows only its corner and the chart stays empty.  A grid edit is
// stored when its cell editor closes.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>

#include <memory>
#include <optional>
#include <string>

#include "fitting/FitCommands.h"
#include "fitting/FitReport.h"
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

namespace morvex {

class TCoefficientPanel;
class TFitReportWindow;
class TForm3;
class TPopcalcul;

class TForm1 : public QMainWindow, private IFitHost {
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
  const TTireDataSet& DataSet() const { return data_; }
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
  void UseImportedData(TTireDataSet data, const std::string& label);
  // "Import measured run...": picks a raw run file and opens the import
  // dialog on it; the data set changes only when the dialog is accepted.
  void ImportRunClick();

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

  // Shows the selected case in the grid.
  void draw_grid();
  // Rebuilds the chart for the selected case from the coefficient set and
  // the visible page.  A conversion or arithmetic error stops it with its
  // error; what was drawn before the error stays on the chart.
  void graph();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // IFitHost
  void ShowWaitScreen() override;
  void HideWaitScreen() override;
  void SetBusyCursor(bool busy) override;
  void ShowMessage(const std::string& text) override;
  void Redraw() override;
  void SetCostText(const std::string& text) override;
  void Progress(const TFitProgress& progress) override;

  void BuildControls();
  void ConnectHandlers();
  void RunFit(TFitChannel channel);
  void UpdateReport(const TFitOutcome& outcome);
  void EndFit();
  TPopcalcul* WaitScreen();
  void ShowProgressText(const QString& text);
  TFitChannel VisibleChannel() const;
  std::string SettingsPath() const;
  void OnGridItemChanged(QTableWidgetItem* item);
  void SelectCaseByText(const QString& text);

  QString settings_dir_;
  TTireDataSet data_;
  int selected_case_ = -1;
  bool filling_grid_ = false;
  bool busy_cursor_ = false;
  QElapsedTimer progress_clock_;

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
  QTableWidget* SG1 = nullptr;
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
  std::optional<TFitReport> last_report_;
  TFitReportWindow* report_window_ = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button6 = nullptr;
  QPushButton* Button7 = nullptr;
  QPushButton* BitBtnWithColor1 = nullptr;
  QLineEdit* Lbledt1 = nullptr;
  QLabel* Lbledt1Label = nullptr;
  QChartView* Chart1 = nullptr;
  QLabel* status_panels_[3] = {nullptr, nullptr, nullptr};
};

}  // namespace morvex
