// The "Import measured run" dialog: a raw run file (delimited or TYDEX) is
// turned into the data set of one channel with the choices of the import
// (rigdata/RawImport.h) in view: the channel map, the sign convention, the
// filters and the set-points on the left; a preview chart of the raw
// samples and the binned curves of one inclination on the right; the
// import's report and the advice on what the data can determine below.
//
// The dialog reads the file once, when it opens (an unreadable file raises
// before the dialog shows).  A long run (over 20 MB) opens with a preview of
// its first 100 000 rows, for quick updates; using or saving the data
// imports the whole run first.  "Update" runs the whole import again with the
// choices as they stand; a choice that cannot be used (a channel the file
// lacks, a number that is not one) is shown in the report, and "Use as tire
// data" stays disabled until an import gives data.  Nothing reaches the main
// window unless the user accepts: the window's data set is replaced only
// then, whole.  "Save as .plt..." writes the binned data as a tire data file.
//
// The choices travel in a session as morvex-fit import takes them
// (TSessionImport: format, delimiter, convention, "key=value" filters,
// "role=CHANNEL" mapping, set-point lists), so a dialog can open with the
// choices of an earlier import or of a session.
#pragma once

#include <QDialog>

#include <array>
#include <string>

#include "files/SessionFile.h"
#include "fitting/FitCommands.h"
#include "rigdata/RawImport.h"
#include "tiremodel/CoefficientSet.h"

class QChartView;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace morvex {

class TRunImportDialog : public QDialog {
  Q_OBJECT

 public:
  // Reads `path` whole (the size limit of tire data files); its errors
  // propagate.  `coefficients` serve the advice (read, never changed);
  // `channel` is the channel chosen at first.
  // With `settings`, the controls start with those choices (their runs
  // are not read); a choice the dialog cannot take (an unknown format or
  // filter) is left as it was and named in the report.
  TRunImportDialog(const std::string& path, const TCoefficientSet& coefficients, TFitChannel channel,
                   QWidget* parent = nullptr, const TSessionImport* settings = nullptr);

  // The choices as they stand, and the run this dialog read (its absolute
  // path and SHA-256).  Numbers are written with '.' whatever the decimal
  // separator, and only the filters that differ from the defaults.
  TSessionImport Settings() const;
  // Puts `settings` into the controls without importing; the names of the
  // choices it could not take (empty: none).
  std::vector<std::string> RestoreSettings(const TSessionImport& settings);

  // The data set of the last successful import (empty before one).
  const TTireDataSet& Data() const { return result_.data; }
  TFitChannel Channel() const;
  // "run.dat (imported, lateral)": what the main window shows as the source.
  std::string Label() const;
  // The report and the advice as shown.
  QString ReportText() const;
  QString AdviceText() const;

  // Runs the import with the choices of the widgets (the "Update" button).
  void UpdateImport();
  // Writes the binned data as a tire data file (after its dialog).
  void SaveAsPlt();

 private:
  void BuildControls();
  TRawImportOptions OptionsFromControls() const;
  void FillMappingChoices();
  void ShowPreview();
  // Imports the whole run when only a preview was imported; true when the
  // whole run gives data.
  bool ImportWholeRun();

  std::string path_;
  std::string text_;
  const TCoefficientSet& coefficients_;
  TRawImportResult result_;
  // A delimiter chosen outside the dialog (a session of the command line);
  // the dialog itself finds it from the file.
  TRunDelimiter delimiter_ = TRunDelimiter::kAuto;
  // The channel per role a session chose, until the file's channels fill
  // the mapping lists.
  std::array<QString, kRunRoleCount> wanted_mapping_{};
  std::vector<std::string> not_restored_;
  bool filling_ = false;

  QComboBox* channel_ = nullptr;
  QComboBox* format_ = nullptr;
  QComboBox* convention_ = nullptr;
  std::array<QComboBox*, kRunRoleCount> mapping_{};
  QLineEdit* warmup_ = nullptr;
  QLineEdit* time_from_ = nullptr;
  QLineEdit* time_to_ = nullptr;
  QLineEdit* load_floor_ = nullptr;
  QLineEdit* pressure_ = nullptr;
  QLineEdit* pressure_tol_ = nullptr;
  QLineEdit* speed_ = nullptr;
  QLineEdit* speed_tol_ = nullptr;
  QLineEdit* max_slip_ratio_ = nullptr;
  QLineEdit* max_slip_angle_ = nullptr;
  QLineEdit* inclinations_ = nullptr;
  QLineEdit* ia_tol_ = nullptr;
  QLineEdit* loads_ = nullptr;
  QLineEdit* load_tol_ = nullptr;
  QLineEdit* dwell_ = nullptr;
  QLineEdit* min_bin_ = nullptr;
  QLineEdit* cell_ = nullptr;
  QLineEdit* min_cell_ = nullptr;
  QComboBox* preview_case_ = nullptr;
  QChartView* chart_ = nullptr;
  QTabWidget* pages_ = nullptr;
  QPlainTextEdit* report_ = nullptr;
  QPlainTextEdit* advice_ = nullptr;
  QLabel* status_ = nullptr;
  QCheckBox* preview_ = nullptr;
  QPushButton* update_ = nullptr;
  QPushButton* save_ = nullptr;
  QPushButton* accept_ = nullptr;
};

}  // namespace morvex
