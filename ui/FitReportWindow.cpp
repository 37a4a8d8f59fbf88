#include "ui/FitReportWindow.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <sstream>

#include "fitting/ChannelModel.h"
#include "numerics/LxBasics.h"

namespace morvex {

namespace {

QString Number(double value, int digits = 6) {
  if (!std::isfinite(value)) return QStringLiteral("–");
  return QString::fromStdString(FloatToStrF(value, TFloatFormat::kGeneral, digits, 0));
}

QString ChannelTitle(TFitChannel channel) {
  switch (channel) {
    case TFitChannel::kLateral: return QStringLiteral("Lateral force");
    case TFitChannel::kAligning: return QStringLiteral("Aligning moment");
    case TFitChannel::kLongitudinal: return QStringLiteral("Longitudinal force");
  }
  return QString();
}

QString OptimizerTitle(TOptimizerChoice optimizer) {
  switch (optimizer) {
    case TOptimizerChoice::kLevenbergMarquardt: return QStringLiteral("Levenberg-Marquardt");
    case TOptimizerChoice::kDifferentialEvolution: return QStringLiteral("genetic algorithm");
    case TOptimizerChoice::kTrustRegion: return QStringLiteral("trust region");
  }
  return QString();
}

QTableWidget* MakeTable(const char* name, const QStringList& headers, QWidget* parent) {
  auto* table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
  table->setObjectName(QString::fromLatin1(name));
  table->setHorizontalHeaderLabels(headers);
  table->verticalHeader()->hide();
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  return table;
}

void SetRow(QTableWidget* table, int row, const QStringList& cells) {
  for (int col = 0; col < cells.size(); ++col) {
    auto* item = new QTableWidgetItem(cells[col]);
    if (col > 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    table->setItem(row, col, item);
  }
}

}  // namespace

QString ReportSummary(const TFitReport& report) {
  QString text = ChannelTitle(report.channel) + QStringLiteral(", ") + OptimizerTitle(report.optimizer);
  if (report.failed) text += QStringLiteral(" (the fit failed; the values are those it left)");
  text += QStringLiteral(": RMS error %1 over %2 points (largest %3)")
              .arg(Number(report.rms, 4))
              .arg(report.points)
              .arg(Number(report.max_error, 4));
  text += std::isfinite(report.r_squared) ? QStringLiteral(", R² %1.").arg(Number(report.r_squared, 6))
                                          : QStringLiteral(".");
  return text;
}

QString VerdictInWords(const TFitVerdict& verdict) {
  if (!verdict.poor) return QStringLiteral("Fit good");
  QStringList reasons;
  for (const TVerdictReason& reason : verdict.reasons) reasons << QString::fromStdString(reason.text);
  return reasons.isEmpty() ? QStringLiteral("Fit poor") : QStringLiteral("Fit poor: ") + reasons.join(QStringLiteral("; "));
}

TFitReportWindow::TFitReportWindow(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FitReportWindow"));
  setWindowTitle(QStringLiteral("Fit report"));
  resize(680, 560);

  auto* layout = new QVBoxLayout(this);
  summary_ = new QLabel(this);
  summary_->setObjectName(QStringLiteral("ReportSummary"));
  summary_->setWordWrap(true);
  layout->addWidget(summary_);
  verdict_ = new QLabel(this);
  verdict_->setObjectName(QStringLiteral("ReportVerdict"));
  verdict_->setWordWrap(true);
  verdict_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  verdict_->hide();
  layout->addWidget(verdict_);

  pages_ = new QTabWidget(this);
  pages_->setObjectName(QStringLiteral("ReportPages"));
  layout->addWidget(pages_, 1);

  curves_ = MakeTable("ReportCurves",
                      {QStringLiteral("Case"), QStringLiteral("Camber"), QStringLiteral("Load"),
                       QStringLiteral("Points"), QStringLiteral("RMS error"), QStringLiteral("Largest error")},
                      pages_);
  pages_->addTab(curves_, QStringLiteral("Curves"));

  auto* coefficient_page = new QWidget(pages_);
  auto* coefficient_layout = new QVBoxLayout(coefficient_page);
  coefficients_ = MakeTable("ReportCoefficients",
                            {QStringLiteral("Coefficient"), QStringLiteral("Value"),
                             QStringLiteral("Standard error")},
                            coefficient_page);
  coefficient_layout->addWidget(coefficients_, 1);
  notes_ = new QLabel(coefficient_page);
  notes_->setObjectName(QStringLiteral("ReportNotes"));
  notes_->setWordWrap(true);
  notes_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  coefficient_layout->addWidget(notes_);
  pages_->addTab(coefficient_page, QStringLiteral("Coefficients"));

  text_ = new QPlainTextEdit(pages_);
  text_->setObjectName(QStringLiteral("ReportText"));
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  pages_->addTab(text_, QStringLiteral("Text"));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
  layout->addWidget(buttons);
}

void TFitReportWindow::SetNotes(const QString& notes, const TFitVerdict& verdict) {
  QStringList lines{VerdictInWords(verdict)};
  for (const TVerdictReason& reason : verdict.reasons)
    if (!reason.advice.empty())
      lines << QStringLiteral("– ") + QString::fromStdString(reason.text) + QStringLiteral(": ") +
                   QString::fromStdString(reason.advice);
  // Notes never make a fit poor: facts about the result, after the reasons.
  for (const TVerdictReason& note : verdict.notes)
    lines << QStringLiteral("Note: ") + QString::fromStdString(note.text);
  if (!notes.isEmpty()) lines << notes;
  verdict_->setText(lines.join(QLatin1Char('\n')));
  verdict_->setStyleSheet(verdict.poor ? QStringLiteral("QLabel { background: rgb(255, 226, 160); padding: 3px; }")
                                       : QString());
  verdict_->show();
}

void TFitReportWindow::ShowReport(const TFitReport& report, const std::string& text) {
  summary_->setText(ReportSummary(report));

  curves_->setRowCount(static_cast<int>(report.curves.size()));
  for (int row = 0; row < curves_->rowCount(); ++row) {
    const TCurveFit& c = report.curves[static_cast<size_t>(row)];
    SetRow(curves_, row,
           {QString::number(c.case_number), Number(c.camber), Number(c.load), QString::number(c.points),
            Number(c.rms, 4), Number(c.max_error, 4)});
  }


  coefficients_->setRowCount(static_cast<int>(report.coefficients.size()));
  QStringList notes;
  for (int row = 0; row < coefficients_->rowCount(); ++row) {
    const TFittedCoefficient& c = report.coefficients[static_cast<size_t>(row)];
    QString error;
    if (!c.note.empty())
      error = QStringLiteral("not determined");
    else if (report.has_standard_errors)
      error = Number(c.standard_error, 3);
    SetRow(coefficients_, row, {QString::fromStdString(c.name), QString::fromStdString(c.value), error});
    if (!c.note.empty()) notes << QString::fromStdString(c.note) + QLatin1Char('.');
  }

  if (!report.has_standard_errors) {
    notes << QStringLiteral("Standard errors come with the trust-region and Levenberg-Marquardt fits.");
  } else {
    // What the error column says, in words.
    QString meaning = QString::fromLatin1(kStandardErrorExplanation);
    meaning[0] = meaning[0].toUpper();
    notes << meaning + QLatin1Char('.');
  }
  notes_->setText(notes.join(QLatin1Char('\n')));
  notes_->setVisible(!notes.isEmpty());

  text_->setPlainText(QString::fromStdString(text.empty() ? FormatFitReport(report) : text));
}

namespace {

// The "key=value" fields of a report line, after its first word.
std::map<std::string, std::string> Fields(const std::string& line) {
  std::map<std::string, std::string> fields;
  std::istringstream words(line);
  std::string word;
  words >> word;
  while (words >> word) {
    const size_t eq = word.find('=');
    if (eq != std::string::npos) fields[word.substr(0, eq)] = word.substr(eq + 1);
  }
  return fields;
}

double ReportNumber(const std::string& text) {
  double value = 0;
  if (TryStrToFloat(text, value)) return value;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc() && end == text.data() + text.size() && !text.empty()) return value;
  return std::numeric_limits<double>::quiet_NaN();
}

}  // namespace

TFitReport FitReportFromText(const std::string& text) {
  TFitReport report;
  bool has_fit = false, has_overall = false;
  std::vector<std::string> notes;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string first = line.substr(0, line.find(' '));
    if (first == "fit") {
      const auto f = Fields(line);
      has_fit = true;
      if (f.count("channel")) {
        for (TFitChannel c : {TFitChannel::kLateral, TFitChannel::kAligning, TFitChannel::kLongitudinal})
          if (f.at("channel") == ChannelName(c)) report.channel = c;
      }
      if (f.count("optimizer")) {
        const std::string& name = f.at("optimizer");
        if (name == "de+tr") {
          report.optimizer = TOptimizerChoice::kTrustRegion;
          report.optimizer_label = name;
        }
        for (TOptimizerChoice o : {TOptimizerChoice::kLevenbergMarquardt, TOptimizerChoice::kDifferentialEvolution,
                                   TOptimizerChoice::kTrustRegion})
          if (name == OptimizerName(o)) report.optimizer = o;
      }
      if (f.count("cases")) report.cases = static_cast<int>(ReportNumber(f.at("cases")));
      report.failed = f.count("status") && f.at("status") == "failed";
      report.cancelled = f.count("status") && f.at("status") == "cancelled";
    } else if (first == "rms") {
      const auto f = Fields(line);
      auto get = [&f](const char* key) { return f.count(key) ? ReportNumber(f.at(key)) : 0.0; };
      if (line.rfind("rms overall", 0) == 0) {
        has_overall = true;
        report.points = static_cast<size_t>(std::max(0.0, get("points")));
        report.rms = get("value");
        report.max_error = get("max");
        report.r_squared = f.count("r2") ? ReportNumber(f.at("r2")) : std::numeric_limits<double>::quiet_NaN();
      } else {
        TCurveFit curve;
        curve.case_number = static_cast<int>(get("case"));
        curve.camber = get("camber");
        curve.load = get("load");
        curve.points = static_cast<size_t>(std::max(0.0, get("points")));
        curve.rms = get("value");
        curve.max_error = get("max");
        report.curves.push_back(curve);
      }
    } else if (first == "stderr") {
      const auto f = Fields(line);
      if (!f.count("name")) continue;
      TFittedCoefficient c;
      c.name = f.at("name");
      c.value = f.count("value") ? f.at("value") : std::string();
      c.standard_error = f.count("error") ? ReportNumber(f.at("error")) : std::numeric_limits<double>::quiet_NaN();
      report.coefficients.push_back(c);
      report.has_standard_errors = true;
    } else if (first == "note") {
      notes.push_back(line.substr(5));
    } else if (first == "solver") {
      const size_t at = line.find(" message=");
      if (at != std::string::npos) report.solver_message = line.substr(at + 9);
      report.iterations = static_cast<int>(ReportNumber(Fields(line.substr(0, at))["iterations"]));
    } else if (first == "failure") {
      report.failure = line.substr(8);
    }
  }
  if (!has_fit || !has_overall) throw Exception("The saved fit report holds no fit line or no overall RMS");
  // A coefficient's note names it first ("PHy3 is not determined: ...").
  for (TFittedCoefficient& c : report.coefficients)
    for (const std::string& note : notes)
      if (note.rfind(c.name + " ", 0) == 0) c.note = note;
  return report;
}

}  // namespace morvex
