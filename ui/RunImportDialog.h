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
#pragma once

#include <QDialog>

#include <array>
#include <string>

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
  TRunImportDialog(const std::string& path, const TCoefficientSet& coefficients, TFitChannel channel,
                   QWidget* parent = nullptr);

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
