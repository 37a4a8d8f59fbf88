// The fit report window: how well the last fit matches each measured curve,
// and, after a trust-region fit, how precisely the data fix each fitted
// coefficient and which ones they cannot determine.  The "Text" page holds
// the very report that morvex-fit prints, to copy into a test log.
#pragma once

#include <QDialog>

#include <string>

#include "fitting/FitReport.h"

class QLabel;
class QPlainTextEdit;
class QTabWidget;
class QTableWidget;

namespace morvex {

class TFitReportWindow : public QDialog {
  Q_OBJECT

 public:
  explicit TFitReportWindow(QWidget* parent = nullptr);

  // Shows `report` in place of the one shown before.  `text`: the report's
  // text as a session saved it, for the "Text" page; empty: the report's
  // own (FormatFitReport).
  void ShowReport(const TFitReport& report, const std::string& text = {});
  // What the window adds above the report: the fit's verdict ("Fit good",
  // or "Fit poor" with each reason and what to try) and `notes` (such as
  // the boxes the single-camber rule cleared).  Kept until set again.
  void SetNotes(const QString& notes, const TFitVerdict& verdict);

 private:
  QLabel* summary_ = nullptr;
  QLabel* verdict_ = nullptr;
  QTabWidget* pages_ = nullptr;
  QTableWidget* curves_ = nullptr;
  QTableWidget* coefficients_ = nullptr;
  QLabel* notes_ = nullptr;
  QPlainTextEdit* text_ = nullptr;
};

// A report read back from its text (FormatFitReport's, as a session keeps
// it): the channel, optimizer, points, per-curve and overall RMS, R², the
// standard errors with the notes that name their coefficient, and the
// solver's line; the verdict is not read (a session keeps it apart).
// Numbers are read with the program's decimal separator or '.'.  Raises
// Exception when the text holds no "fit" line or no overall RMS.
TFitReport FitReportFromText(const std::string& text);

// The verdict in words: "Fit good", or "Fit poor: <reason>; <reason>".
QString VerdictInWords(const TFitVerdict& verdict);

// The first line of the report in words: "Lateral force, trust region: RMS
// error 14.67 over 492 points (largest 41.3), R² 0.99991."
QString ReportSummary(const TFitReport& report);

}  // namespace morvex
