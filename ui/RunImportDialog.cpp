#include "ui/RunImportDialog.h"

#include <QAbstractAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineEdit>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScatterSeries>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>

#include "files/Sha256.h"
#include "fitting/DataAdvice.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiredata/TireDataFile.h"
#include "tiredata/TireDataWriter.h"
#include "ui/Dialogs.h"

namespace morvex {

namespace {

// Raw samples drawn per load at most: a million-sample run stays responsive.
constexpr size_t kMaxDrawnSamples = 3000;
// Runs larger than this open with the preview of their first rows.
constexpr size_t kPreviewBytes = size_t{20} << 20;
constexpr int kPreviewRows = 100000;

QLineEdit* NumberEdit(const char* name, const QString& text, const QString& tip, QWidget* parent) {
  auto* edit = new QLineEdit(text, parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setToolTip(tip);
  edit->setMaximumWidth(110);
  return edit;
}

QString Number(double v) { return QString::fromStdString(FloatToStr(v)); }

// The number in `edit`, `fallback` when it is empty.  A text that is not a
// number raises, naming the field.
double NumberOf(const QLineEdit* edit, const char* what, double fallback) {
  const std::string text = edit->text().trimmed().toStdString();
  if (text.empty()) return fallback;
  double value;
  if (!TryStrToFloat(text, value)) throw Exception(std::string(what) + ": '" + text + "' is not a number");
  return value;
}

std::vector<double> ListOf(const QLineEdit* edit, const char* what) {
  std::vector<double> values;
  for (const QString& item : edit->text().split(QRegularExpression(QStringLiteral("[\\s;]+")), Qt::SkipEmptyParts)) {
    double value;
    if (!TryStrToFloat(item.toStdString(), value))
      throw Exception(std::string(what) + ": '" + item.toStdString() + "' is not a number");
    values.push_back(value);
  }
  return values;
}

// A number as a session keeps it: '.' whatever the decimal separator, the
// shortest text that reads back to the same double.
std::string PlainNumber(double v) {
  char buffer[32];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
  return std::string(buffer, end);
}
// A number written that way; none when `text` is not one.
std::optional<double> ReadPlainNumber(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  double v = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return v;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The items of a session's list ("0,2,4"), trimmed, empty ones left out.
std::vector<std::string> Items(const std::string& text, char separator) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(start, end - start);
    while (!item.empty() && item.front() == ' ') item.erase(item.begin());
    while (!item.empty() && item.back() == ' ') item.pop_back();
    if (!item.empty()) items.push_back(std::move(item));
    start = end + 1;
  }
  return items;
}

const char* const kFormatKeys[] = {"auto", "delimited", "tydex"};
const char* const kDelimiterKeys[] = {"auto", "tab", "comma", "semicolon", "whitespace"};
const TRunConvention kConventions[] = {TRunConvention::kAuto, TRunConvention::kSae, TRunConvention::kIso,
                                       TRunConvention::kMorvex};

QColor LoadColour(size_t k) {
  static const QColor colours[] = {QColor(31, 119, 180), QColor(255, 127, 14), QColor(44, 160, 44),
                                   QColor(214, 39, 40),  QColor(148, 103, 189), QColor(140, 86, 75),
                                   QColor(227, 119, 194), QColor(127, 127, 127)};
  return colours[k % std::size(colours)];
}

}  // namespace

TRunImportDialog::TRunImportDialog(const std::string& path, const TCoefficientSet& coefficients,
                                   TFitChannel channel, QWidget* parent, const TSessionImport* settings)
    : QDialog(parent), path_(path), text_(ReadTireDataText(path)), coefficients_(coefficients) {
  setObjectName(QStringLiteral("RunImportDialog"));
  setWindowTitle(QStringLiteral("Import measured run - ") +
                 QString::fromStdString(std::filesystem::path(path).filename().string()));
  BuildControls();
  filling_ = true;
  channel_->setCurrentIndex(static_cast<int>(channel));
  filling_ = false;
  if (settings != nullptr) RestoreSettings(*settings);
  UpdateImport();
}

namespace {

// A filter's key (as ApplyFilterText reads it), its control, and the text
// the control starts with (the import's default).
struct TFilterField {
  const char* key;
  QLineEdit* edit;
  QString default_text;
};

}  // namespace

TSessionImport TRunImportDialog::Settings() const {
  TSessionImport settings;
  settings.format = kFormatKeys[std::max(0, format_->currentIndex())];
  settings.delimiter = kDelimiterKeys[static_cast<size_t>(delimiter_)];
  settings.convention = std::string(RunConventionKey(kConventions[std::max(0, convention_->currentIndex())]));
  const TRawImportOptions defaults;
  const TFilterField fields[] = {
      {"warmup", warmup_, QString()},
      {"time-from", time_from_, QString()},
      {"time-to", time_to_, QString()},
      {"load-floor", load_floor_, Number(defaults.load_floor)},
      {"pressure", pressure_, QString()},
      {"pressure-tol", pressure_tol_, Number(defaults.pressure_tolerance)},
      {"speed", speed_, QString()},
      {"speed-tol", speed_tol_, Number(defaults.speed_tolerance)},
      {"max-slip-ratio", max_slip_ratio_, Number(defaults.max_slip_ratio)},
      {"max-slip-angle", max_slip_angle_, Number(defaults.max_slip_angle)},
      {"ia-tol", ia_tol_, QString()},
      {"load-tol", load_tol_, QString()},
      {"dwell", dwell_, Number(defaults.min_dwell_seconds)},
      {"min-bin", min_bin_, Number(static_cast<double>(defaults.min_bin_samples))},
      {"cell", cell_, QString()},
      {"min-cell", min_cell_, Number(static_cast<double>(defaults.min_cell_samples))},
  };
  for (const TFilterField& field : fields) {
    const QString text = field.edit->text().trimmed();
    // An empty control is the default (or "auto"), as the import reads it.
    if (text.isEmpty() || text == field.default_text) continue;
    std::string value;
    double v = 0;
    if (text.compare(QStringLiteral("off"), Qt::CaseInsensitive) == 0) value = "off";
    else if (TryStrToFloat(text.toStdString(), v)) value = PlainNumber(v);
    else continue;  // not a number: the import refused it, nothing to keep
    settings.filters += (settings.filters.empty() ? "" : ",") + std::string(field.key) + "=" + value;
  }
  for (size_t k = 0; k < kRunRoleCount; ++k) {
    const QString chosen = mapping_[k]->count() == 0 ? wanted_mapping_[k] : mapping_[k]->currentData().toString();
    if (chosen.isEmpty()) continue;
    settings.mapping += (settings.mapping.empty() ? "" : ",") + std::string(RunRoles()[k].key) + "=" +
                        chosen.toStdString();
  }
  auto list = [](const QLineEdit* edit) {
    std::string text;
    for (const QString& item : edit->text().split(QRegularExpression(QStringLiteral("[\\s;]+")), Qt::SkipEmptyParts)) {
      double v = 0;
      if (!TryStrToFloat(item.toStdString(), v)) continue;
      text += (text.empty() ? "" : ",") + PlainNumber(v);
    }
    return text;
  };
  settings.inclinations = list(inclinations_);
  settings.loads = list(loads_);
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path_, error);
  settings.runs.push_back({error ? path_ : absolute.lexically_normal().string(), Sha256Hex(text_)});
  return settings;
}

std::vector<std::string> TRunImportDialog::RestoreSettings(const TSessionImport& settings) {
  std::vector<std::string> refused;
  const bool was_filling = filling_;
  filling_ = true;
  const std::string format = Lower(settings.format);
  if (const auto* at = std::find(std::begin(kFormatKeys), std::end(kFormatKeys), format); at != std::end(kFormatKeys))
    format_->setCurrentIndex(static_cast<int>(at - std::begin(kFormatKeys)));
  else
    refused.push_back("format '" + settings.format + "'");
  const std::string delimiter = Lower(settings.delimiter);
  if (const auto* at = std::find(std::begin(kDelimiterKeys), std::end(kDelimiterKeys), delimiter);
      at != std::end(kDelimiterKeys))
    delimiter_ = static_cast<TRunDelimiter>(at - std::begin(kDelimiterKeys));
  else
    refused.push_back("delimiter '" + settings.delimiter + "'");
  if (const auto convention = RunConventionByKey(settings.convention)) {
    const auto* at = std::find(std::begin(kConventions), std::end(kConventions), *convention);
    convention_->setCurrentIndex(static_cast<int>(at - std::begin(kConventions)));
  } else {
    refused.push_back("sign convention '" + settings.convention + "'");
  }

  // The filters: all of them or none, as the command line takes them.
  bool filters_ok = true;
  try {
    TRawImportOptions check;
    ApplyFilterText(check, settings.filters);
  } catch (const std::exception& error) {
    refused.push_back(std::string("filters (") + error.what() + ")");
    filters_ok = false;
  }
  if (filters_ok) {
    const std::pair<const char*, QLineEdit*> fields[] = {
        {"warmup", warmup_},     {"time-from", time_from_},       {"time-to", time_to_},
        {"load-floor", load_floor_}, {"pressure", pressure_},     {"pressure-tol", pressure_tol_},
        {"speed", speed_},       {"speed-tol", speed_tol_},       {"max-slip-ratio", max_slip_ratio_},
        {"max-slip-angle", max_slip_angle_}, {"ia-tol", ia_tol_}, {"load-tol", load_tol_},
        {"dwell", dwell_},       {"min-bin", min_bin_},           {"cell", cell_},
        {"min-cell", min_cell_}};
    for (const std::string& item : Items(settings.filters, ',')) {
      const size_t eq = item.find('=');
      std::string key = Lower(item.substr(0, eq));
      std::string value = Lower(item.substr(eq + 1));
      while (!key.empty() && key.back() == ' ') key.pop_back();
      while (!value.empty() && value.front() == ' ') value.erase(value.begin());
      for (const auto& [name, edit] : fields) {
        if (key != name) continue;
        if (value == "auto") edit->clear();
        else if (value == "off") edit->setText(QStringLiteral("off"));
        else if (const auto v = ReadPlainNumber(value)) edit->setText(Number(*v));
      }
    }
  }

  wanted_mapping_ = {};
  for (const std::string& item : Items(settings.mapping, ',')) {
    const size_t eq = item.find('=');
    const auto role = eq == std::string::npos ? std::nullopt : RoleByKey(item.substr(0, eq));
    if (!role) {
      refused.push_back("mapping '" + item + "'");
      continue;
    }
    wanted_mapping_[static_cast<size_t>(*role)] = QString::fromStdString(item.substr(eq + 1));
  }
  if (result_.header.columns.size() > 0) FillMappingChoices();

  auto list = [&refused](QLineEdit* edit, const std::string& text, const char* what) {
    QStringList shown;
    for (const std::string& item : Items(text, ',')) {
      const auto v = ReadPlainNumber(item);
      if (!v) {
        refused.push_back(std::string(what) + " '" + text + "'");
        return;
      }
      shown << Number(*v);
    }
    edit->setText(shown.join(QLatin1Char(' ')));
  };
  list(inclinations_, settings.inclinations, "inclinations");
  list(loads_, settings.loads, "loads");
  filling_ = was_filling;
  not_restored_ = refused;
  return refused;
}

void TRunImportDialog::BuildControls() {
  resize(1180, 820);
  auto* top = new QHBoxLayout();

  // Choices, in a scroll area so that small screens reach them all.
  auto* choices = new QWidget();
  auto* form = new QVBoxLayout(choices);
  form->setContentsMargins(4, 4, 4, 4);

  auto* run_box = new QGroupBox(QStringLiteral("Run"), choices);
  auto* run = new QFormLayout(run_box);
  channel_ = new QComboBox(run_box);
  channel_->setObjectName(QStringLiteral("cbImportChannel"));
  channel_->addItems({QStringLiteral("Lateral force"), QStringLiteral("Aligning moment"),
                      QStringLiteral("Longitudinal force")});
  run->addRow(QStringLiteral("Channel"), channel_);
  format_ = new QComboBox(run_box);
  format_->setObjectName(QStringLiteral("cbImportFormat"));
  format_->addItems({QStringLiteral("auto"), QStringLiteral("delimited"), QStringLiteral("TYDEX")});
  run->addRow(QStringLiteral("Format"), format_);
  convention_ = new QComboBox(run_box);
  convention_->setObjectName(QStringLiteral("cbImportConvention"));
  convention_->addItems({QStringLiteral("auto (from the data)"), QStringLiteral("SAE (load negative)"),
                         QStringLiteral("ISO / TYDEX W-axis"), QStringLiteral("Morvex (as recorded)")});
  run->addRow(QStringLiteral("Sign convention"), convention_);
  form->addWidget(run_box);

  auto* map_box = new QGroupBox(QStringLiteral("Channel mapping"), choices);
  auto* map = new QFormLayout(map_box);
  for (const TRunRoleInfo& info : RunRoles()) {
    auto* combo = new QComboBox(map_box);
    combo->setObjectName(QStringLiteral("cbMap_") + QString::fromLatin1(info.key.data(), static_cast<int>(info.key.size())));
    combo->setToolTip(QStringLiteral("By name looks for ") + QString::fromLatin1(info.aliases.data(), static_cast<int>(info.aliases.size())));
    QString label = QString::fromLatin1(info.label.data(), static_cast<int>(info.label.size()));
    label[0] = label[0].toUpper();
    map->addRow(label + QStringLiteral(" [") + QString::fromUtf8(info.unit.data(), static_cast<int>(info.unit.size())) +
                    QStringLiteral("]"),
                combo);
    mapping_[static_cast<size_t>(info.role)] = combo;
  }
  form->addWidget(map_box);

  const TRawImportOptions defaults;
  auto* filter_box = new QGroupBox(QStringLiteral("Filters"), choices);
  auto* filters = new QFormLayout(filter_box);
  warmup_ = NumberEdit("edtWarmup", QString(), QStringLiteral("Drop the first seconds of the run; empty: find the warm-up in the data; 0: keep the whole run"), filter_box);
  warmup_->setPlaceholderText(QStringLiteral("auto"));
  filters->addRow(QStringLiteral("Warm-up [s]"), warmup_);
  time_from_ = NumberEdit("edtTimeFrom", QString(), QStringLiteral("Keep samples from this time; empty: from the start"), filter_box);
  time_to_ = NumberEdit("edtTimeTo", QString(), QStringLiteral("Keep samples up to this time; empty: to the end"), filter_box);
  auto* window = new QHBoxLayout();
  window->addWidget(time_from_);
  window->addWidget(new QLabel(QStringLiteral("to"), filter_box));
  window->addWidget(time_to_);
  filters->addRow(QStringLiteral("Time window [s]"), window);
  load_floor_ = NumberEdit("edtLoadFloor", Number(defaults.load_floor), QStringLiteral("Drop samples with a smaller load"), filter_box);
  filters->addRow(QStringLiteral("Load floor [N]"), load_floor_);
  pressure_ = NumberEdit("edtPressure", QString(), QStringLiteral("Pressure set-point; empty: the most held; off: keep every pressure"), filter_box);
  pressure_tol_ = NumberEdit("edtPressureTol", Number(defaults.pressure_tolerance), QStringLiteral("Either side of the set-point"), filter_box);
  auto* pressure = new QHBoxLayout();
  pressure->addWidget(pressure_);
  pressure->addWidget(new QLabel(QStringLiteral("+/-"), filter_box));
  pressure->addWidget(pressure_tol_);
  filters->addRow(QStringLiteral("Pressure [kPa]"), pressure);
  speed_ = NumberEdit("edtSpeed", QString(), QStringLiteral("Speed set-point; empty: the most held; off: keep every speed"), filter_box);
  speed_tol_ = NumberEdit("edtSpeedTol", Number(defaults.speed_tolerance), QStringLiteral("Either side of the set-point"), filter_box);
  auto* speed = new QHBoxLayout();
  speed->addWidget(speed_);
  speed->addWidget(new QLabel(QStringLiteral("+/-"), filter_box));
  speed->addWidget(speed_tol_);
  filters->addRow(QStringLiteral("Speed [km/h]"), speed);
  max_slip_ratio_ = NumberEdit("edtMaxSlipRatio", Number(defaults.max_slip_ratio), QStringLiteral("Side-slip channels keep samples with |slip ratio| up to this"), filter_box);
  filters->addRow(QStringLiteral("Pure side slip: |slip ratio| <="), max_slip_ratio_);
  max_slip_angle_ = NumberEdit("edtMaxSlipAngle", Number(defaults.max_slip_angle), QStringLiteral("The longitudinal channel keeps samples with |slip angle| up to this"), filter_box);
  filters->addRow(QStringLiteral("Pure longitudinal slip: |slip angle| <= [deg]"), max_slip_angle_);
  form->addWidget(filter_box);

  auto* set_box = new QGroupBox(QStringLiteral("Set-points and grid"), choices);
  auto* sets = new QFormLayout(set_box);
  inclinations_ = new QLineEdit(set_box);
  inclinations_->setObjectName(QStringLiteral("edtInclinations"));
  inclinations_->setPlaceholderText(QStringLiteral("from the data, e.g. 0 2 4"));
  ia_tol_ = NumberEdit("edtInclinationTol", QString(), QStringLiteral("Either side of a set-point; empty: each set-point's own, from the spread held there"), set_box);
  ia_tol_->setPlaceholderText(QStringLiteral("auto"));
  sets->addRow(QStringLiteral("Inclinations [deg]"), inclinations_);
  sets->addRow(QStringLiteral("  tolerance [deg]"), ia_tol_);
  loads_ = new QLineEdit(set_box);
  loads_->setObjectName(QStringLiteral("edtLoads"));
  loads_->setPlaceholderText(QStringLiteral("from the data, e.g. 2000 4000 6000"));
  load_tol_ = NumberEdit("edtLoadTol", QString(), QStringLiteral("Either side of a set-point; empty: each set-point's own, from its size and wobble"), set_box);
  load_tol_->setPlaceholderText(QStringLiteral("auto"));
  sets->addRow(QStringLiteral("Loads [N]"), loads_);
  sets->addRow(QStringLiteral("  tolerance [N]"), load_tol_);
  dwell_ = NumberEdit("edtDwell", Number(defaults.min_dwell_seconds), QStringLiteral("A set-point found in the data is held at least this long"), set_box);
  sets->addRow(QStringLiteral("Minimum dwell [s]"), dwell_);
  min_bin_ = NumberEdit("edtMinBin", Number(static_cast<double>(defaults.min_bin_samples)), QStringLiteral("Bins of inclination and load with fewer samples are dropped"), set_box);
  sets->addRow(QStringLiteral("Samples per bin at least"), min_bin_);
  cell_ = NumberEdit("edtCell", QString(), QStringLiteral("Width of a slip cell; empty: 0.5 deg for slip angle, 0.01 for slip ratio"), set_box);
  sets->addRow(QStringLiteral("Slip cell"), cell_);
  min_cell_ = NumberEdit("edtMinCell", Number(static_cast<double>(defaults.min_cell_samples)), QStringLiteral("A slip cell needs this many samples of every load"), set_box);
  sets->addRow(QStringLiteral("Samples per cell at least"), min_cell_);
  form->addWidget(set_box);

  update_ = new QPushButton(QStringLiteral("Update"), choices);
  update_->setObjectName(QStringLiteral("btnImportUpdate"));
  update_->setToolTip(QStringLiteral("Run the import again with these choices"));
  preview_ = new QCheckBox(QStringLiteral("Preview the first %1 rows only").arg(kPreviewRows), choices);
  preview_->setObjectName(QStringLiteral("chkImportPreview"));
  preview_->setToolTip(QStringLiteral("Faster updates on a long run; the whole run is imported when you use or save the data"));
  preview_->setChecked(text_.size() > kPreviewBytes);
  form->addWidget(preview_);
  form->addWidget(update_);
  form->addStretch();

  auto* scroll = new QScrollArea(this);
  scroll->setWidget(choices);
  scroll->setWidgetResizable(true);
  scroll->setMinimumWidth(380);
  scroll->setMaximumWidth(430);
  top->addWidget(scroll);

  // Preview and texts.
  auto* right = new QVBoxLayout();
  auto* case_row = new QHBoxLayout();
  case_row->addWidget(new QLabel(QStringLiteral("Preview of inclination"), this));
  preview_case_ = new QComboBox(this);
  preview_case_->setObjectName(QStringLiteral("cbImportCase"));
  case_row->addWidget(preview_case_);
  case_row->addStretch();
  right->addLayout(case_row);
  auto* chart = new QChart();
  chart->legend()->setAlignment(Qt::AlignTop);
  chart->setAnimationOptions(QChart::NoAnimation);
  chart_ = new QChartView(chart, this);
  chart_->setObjectName(QStringLiteral("ImportChart"));
  chart_->setRenderHint(QPainter::Antialiasing);
  chart_->setMinimumHeight(360);
  right->addWidget(chart_, 3);
  pages_ = new QTabWidget(this);
  report_ = new QPlainTextEdit(this);
  report_->setObjectName(QStringLiteral("ImportReport"));
  report_->setReadOnly(true);
  advice_ = new QPlainTextEdit(this);
  advice_->setObjectName(QStringLiteral("ImportAdvice"));
  advice_->setReadOnly(true);
  pages_->addTab(report_, QStringLiteral("Report"));
  pages_->addTab(advice_, QStringLiteral("What the data can determine"));
  right->addWidget(pages_, 2);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("ImportStatus"));
  status_->setWordWrap(true);
  right->addWidget(status_);

  auto* buttons = new QDialogButtonBox(this);
  save_ = buttons->addButton(QStringLiteral("Save as .plt..."), QDialogButtonBox::ActionRole);
  save_->setObjectName(QStringLiteral("btnImportSave"));
  accept_ = buttons->addButton(QStringLiteral("Use as tire data"), QDialogButtonBox::AcceptRole);
  accept_->setObjectName(QStringLiteral("btnImportAccept"));
  QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
  cancel->setObjectName(QStringLiteral("btnImportCancel"));
  right->addWidget(buttons);
  top->addLayout(right, 1);
  setLayout(top);

  connect(update_, &QPushButton::clicked, this, [this] { UpdateImport(); });
  for (QComboBox* combo : {channel_, format_, convention_})
    connect(combo, &QComboBox::currentIndexChanged, this, [this] {
      if (!filling_) UpdateImport();
    });
  for (QComboBox* combo : mapping_)
    connect(combo, &QComboBox::currentIndexChanged, this, [this] {
      if (!filling_) UpdateImport();
    });
  connect(preview_case_, &QComboBox::currentIndexChanged, this, [this] {
    if (!filling_) ShowPreview();
  });
  connect(save_, &QPushButton::clicked, this, [this] {
    if (ImportWholeRun()) Guarded(this, [this] { SaveAsPlt(); });
  });
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (ImportWholeRun()) accept();
  });
  connect(preview_, &QCheckBox::toggled, this, [this] {
    if (!filling_) UpdateImport();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

TFitChannel TRunImportDialog::Channel() const {
  switch (channel_->currentIndex()) {
    case 1: return TFitChannel::kAligning;
    case 2: return TFitChannel::kLongitudinal;
    default: return TFitChannel::kLateral;
  }
}

std::string TRunImportDialog::Label() const {
  const char* names[] = {"lateral", "aligning", "longitudinal"};
  return path_ + " (imported, " + names[channel_->currentIndex() < 0 ? 0 : channel_->currentIndex()] + ")";
}

QString TRunImportDialog::ReportText() const { return report_->toPlainText(); }
QString TRunImportDialog::AdviceText() const { return advice_->toPlainText(); }

TRawImportOptions TRunImportDialog::OptionsFromControls() const {
  TRawImportOptions o;
  o.channel = Channel();
  o.read.format = format_->currentIndex() == 1   ? TRunFormat::kDelimited
                  : format_->currentIndex() == 2 ? TRunFormat::kTydex
                                                 : TRunFormat::kAuto;
  const TRunConvention conventions[] = {TRunConvention::kAuto, TRunConvention::kSae, TRunConvention::kIso,
                                         TRunConvention::kMorvex};
  o.convention = conventions[std::max(0, convention_->currentIndex())];
  for (size_t k = 0; k < kRunRoleCount; ++k)
    o.mapping[k] = (mapping_[k]->count() == 0 ? wanted_mapping_[k] : mapping_[k]->currentData().toString()).toStdString();
  o.read.delimiter = delimiter_;
  const double inf = std::numeric_limits<double>::infinity();
  o.warmup_seconds = NumberOf(warmup_, "Warm-up", std::numeric_limits<double>::quiet_NaN());
  o.time_from = NumberOf(time_from_, "Time window from", -inf);
  o.time_to = NumberOf(time_to_, "Time window to", inf);
  o.load_floor = NumberOf(load_floor_, "Load floor", o.load_floor);
  auto setpoint = [](const QLineEdit* edit, const char* what, bool& on, double& value) {
    if (edit->text().trimmed().compare(QStringLiteral("off"), Qt::CaseInsensitive) == 0) {
      on = false;
      return;
    }
    value = NumberOf(edit, what, std::numeric_limits<double>::quiet_NaN());
  };
  setpoint(pressure_, "Pressure", o.pressure_window, o.pressure_setpoint);
  o.pressure_tolerance = NumberOf(pressure_tol_, "Pressure tolerance", o.pressure_tolerance);
  setpoint(speed_, "Speed", o.speed_window, o.speed_setpoint);
  o.speed_tolerance = NumberOf(speed_tol_, "Speed tolerance", o.speed_tolerance);
  o.max_slip_ratio = NumberOf(max_slip_ratio_, "Pure side slip limit", o.max_slip_ratio);
  o.max_slip_angle = NumberOf(max_slip_angle_, "Pure longitudinal slip limit", o.max_slip_angle);
  o.inclinations = ListOf(inclinations_, "Inclinations");
  o.inclination_tolerance = NumberOf(ia_tol_, "Inclination tolerance", o.inclination_tolerance);
  o.loads = ListOf(loads_, "Loads");
  o.load_tolerance = NumberOf(load_tol_, "Load tolerance", o.load_tolerance);
  o.min_dwell_seconds = NumberOf(dwell_, "Minimum dwell", o.min_dwell_seconds);
  auto count = [](const QLineEdit* edit, const char* what, size_t fallback) {
    const double v = NumberOf(edit, what, static_cast<double>(fallback));
    if (!(v >= 0 && v <= 1e9) || v != std::floor(v)) throw Exception(std::string(what) + " must be a whole number");
    return static_cast<size_t>(v);
  };
  o.min_bin_samples = count(min_bin_, "Samples per bin", o.min_bin_samples);
  o.slip_angle_cell = NumberOf(cell_, "Slip cell", o.slip_angle_cell);
  o.slip_ratio_cell = NumberOf(cell_, "Slip cell", o.slip_ratio_cell);
  o.min_cell_samples = count(min_cell_, "Samples per cell", o.min_cell_samples);
  o.row_limit = preview_->isChecked() ? kPreviewRows : 0;
  return o;
}

void TRunImportDialog::FillMappingChoices() {
  filling_ = true;
  for (size_t k = 0; k < kRunRoleCount; ++k) {
    QComboBox* combo = mapping_[k];
    const QString chosen = combo->count() == 0 ? wanted_mapping_[k] : combo->currentData().toString();
    combo->clear();
    combo->addItem(QStringLiteral("(by name)"), QString());
    for (const TRunColumn& column : result_.header.columns)
      combo->addItem(QString::fromStdString(column.name) +
                         (column.unit.empty() ? QString() : QStringLiteral(" [") + QString::fromStdString(column.unit) + QStringLiteral("]")),
                     QString::fromStdString(column.name));
    const int at = combo->findData(chosen);
    combo->setCurrentIndex(at < 0 ? 0 : at);
  }
  filling_ = false;
}

void TRunImportDialog::UpdateImport() {
  TRawImportResult result;
  QString error;
  try {
    result = ImportRunText(text_, OptionsFromControls());
  } catch (const std::exception& e) {
    error = QString::fromStdString(e.what());
  }
  const bool header_changed = result.header.columns.size() != result_.header.columns.size();
  if (error.isEmpty()) {
    result_ = std::move(result);
    if (header_changed || mapping_[0]->count() == 0) FillMappingChoices();
    QString report = QString::fromStdString(FormatImportReport(result_.report));
    if (!not_restored_.empty()) {
      QStringList names;
      for (const std::string& name : not_restored_) names << QString::fromStdString(name);
      report = QStringLiteral("Choices of the session not taken: ") + names.join(QStringLiteral("; ")) +
               QStringLiteral("\n\n") + report;
    }
    report_->setPlainText(report);
    QString advice;
    if (!result_.data.Empty()) {
      try {
        advice = QString::fromStdString(FormatDataAdvice(AdviseOnData(Channel(), coefficients_, result_.data)));
      } catch (const std::exception& e) {
        advice = QStringLiteral("No advice: ") + QString::fromStdString(e.what());
      }
    } else {
      advice = QStringLiteral("No data to judge.");
    }
    advice_->setPlainText(advice);
  } else {
    // No data until the choices work again; the report says what is wrong.
    result_ = TRawImportResult{};
    report_->setPlainText(QStringLiteral("The import failed: ") + error);
    advice_->setPlainText(QString());
  }
  size_t points = 0;
  for (const TLoadCase& lc : result_.data.Cases) points += lc.Values.size();
  if (!error.isEmpty())
    status_->setText(QStringLiteral("The import failed: ") + error);
  else if (result_.data.Empty())
    status_->setText(QStringLiteral("Nothing usable remains: ") + QString::fromStdString(result_.report.empty_reason));
  else
    status_->setText(QStringLiteral("%1 load cases, %2 points from %3 samples.")
                         .arg(result_.data.Cases.size())
                         .arg(points)
                         .arg(result_.report.samples_read));
  accept_->setEnabled(!result_.data.Empty());
  save_->setEnabled(!result_.data.Empty());

  filling_ = true;
  const int previous = preview_case_->currentIndex();
  preview_case_->clear();
  for (const TLoadCase& lc : result_.data.Cases) preview_case_->addItem(Number(lc.Camber) + QStringLiteral(" deg"));
  preview_case_->setCurrentIndex(previous >= 0 && previous < preview_case_->count() ? previous : 0);
  filling_ = false;
  ShowPreview();
}

void TRunImportDialog::ShowPreview() {
  QChart* chart = chart_->chart();
  chart->removeAllSeries();
  for (QAbstractAxis* axis : chart->axes()) {
    chart->removeAxis(axis);
    delete axis;
  }
  const int c = preview_case_->currentIndex();
  if (c < 0 || static_cast<size_t>(c) >= result_.data.Cases.size()) return;
  const TLoadCase& lc = result_.data.Cases[static_cast<size_t>(c)];
  const TRawPoints& raw = result_.raw;
  for (size_t j = 0; j < lc.LoadCount(); ++j) {
    size_t count = 0;
    for (size_t i = 0; i < raw.size(); ++i)
      count += raw.case_index[i] == c && raw.load_index[i] == static_cast<int32_t>(j) ? 1 : 0;
    const size_t stride = count / kMaxDrawnSamples + 1;
    auto* samples = new QScatterSeries(chart);
    samples->setName(QStringLiteral("samples ") + Number(lc.Loads[j]));
    samples->setMarkerSize(3.5);
    samples->setBorderColor(Qt::transparent);
    QColor light = LoadColour(j);
    light.setAlpha(90);
    samples->setColor(light);
    size_t seen = 0;
    for (size_t i = 0; i < raw.size(); ++i)
      if (raw.case_index[i] == c && raw.load_index[i] == static_cast<int32_t>(j) && seen++ % stride == 0)
        samples->append(raw.slip[i], raw.value[i]);
    chart->addSeries(samples);
    auto* binned = new QLineSeries(chart);
    binned->setName(Number(lc.Loads[j]) + QStringLiteral(" N"));
    QPen pen(LoadColour(j));
    pen.setWidthF(2);
    binned->setPen(pen);
    for (size_t r = 0; r < lc.RowCount(); ++r) binned->append(lc.Slips[r], lc.Value(r, j));
    chart->addSeries(binned);
    // The legend names the loads once: the samples share their curve's colour.
    for (QLegendMarker* marker : chart->legend()->markers(samples)) marker->setVisible(false);
  }
  chart->createDefaultAxes();
  const TFitChannel channel = Channel();
  const QList<QAbstractAxis*> horizontal = chart->axes(Qt::Horizontal), vertical = chart->axes(Qt::Vertical);
  if (!horizontal.isEmpty())
    horizontal.front()->setTitleText(channel == TFitChannel::kLongitudinal ? QStringLiteral("Slip ratio")
                                                                           : QStringLiteral("Slip angle [deg]"));
  if (!vertical.isEmpty())
    vertical.front()->setTitleText(channel == TFitChannel::kLateral    ? QStringLiteral("Lateral force [N]")
                                   : channel == TFitChannel::kAligning ? QStringLiteral("Aligning moment [N m]")
                                                                       : QStringLiteral("Longitudinal force [N]"));
}

bool TRunImportDialog::ImportWholeRun() {
  if (preview_->isChecked()) {
    preview_->setChecked(false);  // runs the whole import
    if (filling_) UpdateImport();
  }
  return !result_.data.Empty();
}

void TRunImportDialog::SaveAsPlt() {
  if (result_.data.Empty()) return;
  const auto path = Dialogs().SaveFile(this, "Save imported data", ".plt (*.plt)");
  if (!path) return;
  WriteTireDataFile(*path, result_.data,
                    {"Morvex " + std::string(ImportChannelName(Channel())) + " data imported from " +
                         std::filesystem::path(path_).filename().string(),
                     "Sign convention: " + std::string(RunConventionName(result_.report.convention))});
}

}  // namespace morvex
