#include "ui/Unit1.h"

#include <QApplication>
#include <QBrush>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColor>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTableWidgetItem>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <vector>

#include "files/CoefficientFile.h"
#include "fitting/FitVerdict.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiredata/DataGrid.h"
#include "tiredata/TireDataFile.h"
#include "ui/CoefficientPanel.h"
#include "ui/FitReportWindow.h"
#include "ui/TirChoices.h"
#include "ui/Dialogs.h"
#include "ui/RunImportDialog.h"
#include "ui/BuildTireDialog.h"
#include "ui/ResultPlot.h"
#include "ui/ChartView.h"
#include "ui/FormScrollArea.h"
#include "ui/FormStyle.h"
#include "ui/GridWidget.h"

#include "ui/BitBtnWithColor.h"
#include "ui/HelpLauncher.h"
#include "ui/Popcalcul.h"
#include "ui/Unit3.h"

namespace morvex {

namespace {

constexpr int kClientWidth = 993;
constexpr int kClientHeight = 704;
constexpr int kStatusBarHeight = 19;
// Below the reference size the controls scroll; the window may shrink to a
// size that fits a small screen at a large scale factor.
constexpr int kSmallestWidth = 320;
constexpr int kSmallestHeight = 240;
const QColor kFormColor(120, 188, 188);
const QColor kHelpButtonColor(64, 128, 128);

const char* const kSettingsFileName = "configuration.ini";
const char* const kContactText = "Morvex - questions: see Help";

QPushButton* MakeButton(const char* name, const QString& caption, QWidget* parent, int left, int top,
                        int width, int height) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QLatin1String(name));
  button->setGeometry(left, top, width, height);
  return button;
}

QGroupBox* MakeGroupBox(const char* name, const QString& caption, QWidget* parent, int left, int top,
                        int width, int height) {
  auto* box = new QGroupBox(caption, parent);
  box->setObjectName(QLatin1String(name));
  box->setGeometry(left, top, width, height);
  return box;
}

// Fixed cells of the grid (its header row and column): not editable, not
// selectable, shaded like buttons.
QTableWidgetItem* MakeGridItem(const std::string& text, bool fixed, const QPalette& palette) {
  auto* item = new QTableWidgetItem(QString::fromStdString(text));
  if (fixed) {
    item->setFlags(Qt::ItemIsEnabled);
    item->setBackground(palette.brush(QPalette::Button));
  } else {
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
  }
  return item;
}

}  // namespace

TForm1::TForm1(const QString& settings_dir, QWidget* parent)
    : QMainWindow(parent),
      settings_dir_(settings_dir.isEmpty() ? QCoreApplication::applicationDirPath() : settings_dir) {
  session_ = std::make_unique<TFitSession>(SettingsPath());
  BuildControls();
  ConnectHandlers();
  BuildTools();
  session_->History().SetCompanion(SaveRecordedFits, RestoreRecordedFits);
  FormCreate();
}

TForm1::~TForm1() {
  // Closing the window commits an open cell editor; the members that its
  // handler uses are about to go, so nothing may react any more.
  disconnect(SG1, nullptr, this, nullptr);
  // A fit still running stops here; nothing it sends arrives any more.
  disconnect(session_.get(), nullptr, this, nullptr);
  session_.reset();
}

void TForm1::BuildControls() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Morvex"));
  // The controls keep their places, and the chart and the grid take
  // whatever the window grows by; a smaller window scrolls the controls.
  resize(kClientWidth, kClientHeight);
  setMinimumSize(kSmallestWidth, kSmallestHeight);

  QFont form_font = FormFont();
  setFont(form_font);

  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("Form1Client"));
  client->setAutoFillBackground(true);
  QPalette form_palette = client->palette();
  form_palette.setColor(QPalette::Window, kFormColor);
  client->setPalette(form_palette);
  auto* scroll = new TFormScrollArea(client, QSize(kClientWidth, kClientHeight - kStatusBarHeight), this);
  setCentralWidget(scroll);
  connect(scroll, &TFormScrollArea::clientResized, this, &TForm1::LayOutForSize);

  // Coefficient panel.
  GroupBox1 = MakeGroupBox("GroupBox1", QStringLiteral("Pacejka coefficients"), client, 2, 0, 521, 462);
  Button5 = MakeButton("Button5", QStringLiteral("Import MF model"), GroupBox1, 280, 16, 115, 25);
  Button4 = MakeButton("Button4", QStringLiteral("Export to file"), GroupBox1, 400, 16, 113, 25);

  Pagecontrol1 = new QTabWidget(GroupBox1);
  Pagecontrol1->setObjectName(QStringLiteral("Pagecontrol1"));
  Pagecontrol1->setTabPosition(QTabWidget::South);
  Pagecontrol1->setGeometry(13, 47, 492, 407);
  // The pages keep the toolkit's own face colour, as on any property sheet.
  Pagecontrol1->setPalette(QApplication::palette());
  TabSheet1 = new QWidget();
  TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
  TabSheet2 = new QWidget();
  TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
  TabSheet3 = new QWidget();
  TabSheet3->setObjectName(QStringLiteral("TabSheet3"));
  Pagecontrol1->addTab(TabSheet1, QStringLiteral("Lateral"));
  Pagecontrol1->addTab(TabSheet2, QStringLiteral("Longitudinal"));
  Pagecontrol1->addTab(TabSheet3, QStringLiteral("Aligning torque"));
  Pagecontrol1->setCurrentIndex(0);

  panel_ = std::make_unique<TCoefficientPanel>(GroupBox1, TabSheet1, TabSheet2, TabSheet3);
  Button8 = MakeButton("Button8", QStringLiteral("Tire size calculator"), TabSheet3, 364, 304, 112, 23);

  // Experimental data.
  GroupBox3 = MakeGroupBox("GroupBox3", QStringLiteral("Experimental data"), client, 2, 464, 521, 217);
  Label1 = new QLabel(QStringLiteral("Camber angle (+/- degrees)"), GroupBox3);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(12, 19, 144, 21);
  Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  CBbx_camber = new QComboBox(GroupBox3);
  CBbx_camber->setObjectName(QStringLiteral("CBbx_camber"));
  CBbx_camber->setEditable(true);
  // Typing selects a case; it never adds items, and no completion changes
  // what the user typed.
  CBbx_camber->setInsertPolicy(QComboBox::NoInsert);
  CBbx_camber->setCompleter(nullptr);
  CBbx_camber->setGeometry(160, 19, 121, 21);
  Label1->setBuddy(CBbx_camber);

  SG1 = new TDataGrid(GroupBox3);
  SG1->setObjectName(QStringLiteral("SG1"));
  SG1->setGeometry(4, 48, 513, 163);
  SG1->horizontalHeader()->hide();
  SG1->verticalHeader()->hide();
  SG1->horizontalHeader()->setMinimumSectionSize(8);
  SG1->verticalHeader()->setMinimumSectionSize(8);
  SG1->horizontalHeader()->setDefaultSectionSize(70);
  SG1->verticalHeader()->setDefaultSectionSize(19);
  SG1->setShowGrid(true);
  SG1->setSelectionMode(QAbstractItemView::ContiguousSelection);
  SG1->setTabKeyNavigation(true);
  // Design state: two columns by five rows, header row and column, empty.
  SG1->setColumnCount(2);
  SG1->setRowCount(5);
  for (int row = 0; row < 5; ++row)
    for (int col = 0; col < 2; ++col) SG1->setItem(row, col, MakeGridItem("", row == 0 || col == 0, palette()));

  // Plot options and optimizer choice.
  GroupBox2 = MakeGroupBox("GroupBox2", QStringLiteral("Plot results"), client, 552, 16, 185, 105);
  CheckBox1 = new QCheckBox(QStringLiteral("MF model"), GroupBox2);
  CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
  CheckBox1->setGeometry(40, 21, 90, 17);
  CheckBox1->setChecked(true);
  CheckBox2 = new QCheckBox(QStringLiteral("Tire data"), GroupBox2);
  CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
  CheckBox2->setGeometry(40, 40, 70, 17);
  CheckBox2->setChecked(true);
  // Beside the two specified boxes: the residual view instead of the curves.
  CheckBox3 = new QCheckBox(QStringLiteral("Residuals"), GroupBox2);
  CheckBox3->setObjectName(QStringLiteral("CheckBox3"));
  CheckBox3->setGeometry(110, 40, 73, 17);
  CheckBox3->setToolTip(QStringLiteral("Show measured - model for each load instead of the curves"));
  Button3 = MakeButton("Button3", QStringLiteral("DRAW"), GroupBox2, 54, 64, 75, 25);

  // Three strategies in the space above the chart.
  RadioGroup1 = MakeGroupBox("RadioGroup1", QStringLiteral("Optimization strategy"), client, 552, 124, 185, 88);
  RadioButton1 = new QRadioButton(QStringLiteral("Levenberg-Marquardt"), client);
  RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
  RadioButton1->setGeometry(576, 144, 150, 17);
  RadioButton1->setChecked(true);
  RadioButton2 = new QRadioButton(QStringLiteral("Genetic algorithm"), client);
  RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
  RadioButton2->setGeometry(576, 166, 150, 17);
  RadioButton3 = new QRadioButton(QStringLiteral("Trust region"), client);
  RadioButton3->setObjectName(QStringLiteral("RadioButton3"));
  RadioButton3->setGeometry(576, 188, 150, 17);
  RadioButton3->setToolTip(QStringLiteral(
      "Least squares on every residual with exact derivatives; reports standard errors"));

  // Commands.
  Button2 = MakeButton("Button2", QStringLiteral("Load tire data"), client, 808, 24, 161, 25);
  Button1 = MakeButton("Button1", QStringLiteral("Fit lateral MFparameters"), client, 808, 56, 161, 25);
  Button6 = MakeButton("Button6", QStringLiteral("Fit aligning torque MF parameters"), client, 808, 88, 161, 25);
  Button6->setToolTip(QStringLiteral("Fit lateral MF parameters first"));
  Button7 = MakeButton("Button7", QStringLiteral("Fit longitudinal MF parameters"), client, 808, 120, 161, 25);
  // The command column keeps its right edge and grows to the left when a
  // caption needs more room in the font at hand.
  int command_width = 161;
  for (QPushButton* button : {Button2, Button1, Button6, Button7})
    command_width = std::max(command_width, button->fontMetrics().horizontalAdvance(button->text()) + 14);
  for (QPushButton* button : {Button2, Button1, Button6, Button7})
    button->setGeometry(969 - command_width, button->y(), command_width, button->height());

  // The report of the last fit, available once a fit has run.
  Button9 = MakeButton("Button9", QStringLiteral("Fit report"), client, 808, 152, 121, 25);
  Button9->setEnabled(false);

  auto* help_button = new TBitBtnWithColor(QStringLiteral("Help"), client);
  help_button->SetColor(kHelpButtonColor);
  BitBtnWithColor1 = help_button;
  BitBtnWithColor1->setObjectName(QStringLiteral("BitBtnWithColor1"));
  BitBtnWithColor1->setGeometry(935, 152, 33, 25);

  // Raw measured runs, turned into a data set by the import dialog: right
  // above "Load tire data", the other way to bring in measurements.
  ButtonImportRun = MakeButton("ButtonImportRun", QStringLiteral("Import measured run\u2026"), client,
                               Button2->x(), 1, Button2->width(), 21);
  // A whole tire from a test programme's runs, left of the single-run import.
  AddBuildTireButton(this, client, QRect(ButtonImportRun->x() - 150, 1, 146, 21));

  // The cost of the last Levenberg-Marquardt fit is kept here, out of sight.
  Lbledt1 = new QLineEdit(client);
  Lbledt1->setObjectName(QStringLiteral("Lbledt1"));
  Lbledt1->setGeometry(856, 176, 121, 21);
  Lbledt1->setFrame(false);
  Lbledt1->setPalette(form_palette);
  Lbledt1->hide();
  Lbledt1Label = new QLabel(QStringLiteral("Cost function"), client);
  Lbledt1Label->setObjectName(QStringLiteral("Lbledt1Label"));
  Lbledt1Label->setBuddy(Lbledt1);
  Lbledt1Label->setGeometry(856, 160, 121, 16);
  Lbledt1Label->hide();

  // Result plot.
  auto* chart = new QChart();
  StyleResultChart(chart);
  chart->legend()->setFont(form_font);
  Chart1 = new TResultChartView(chart, client);
  Chart1->setObjectName(QStringLiteral("Chart1"));
  Chart1->setGeometry(528, 214, 457, 465);
  Chart1->setRenderHint(QPainter::Antialiasing);
  // Only the view itself is transparent (the chart paints its gradient): a
  // bare "background" rule would pass on to the context menu, which then
  // draws black with its items unreadable.
  Chart1->setStyleSheet(QStringLiteral("#Chart1 { background: transparent }"));

  // Chart zoom reset (Home, Ctrl+0) from wherever the focus is in the window.
  Chart1->InstallResetShortcuts(this);

  // Status bar: contact text, loaded file, date.
  QStatusBar* status = statusBar();
  status->setObjectName(QStringLiteral("StatusBar1"));
  status->setSizeGripEnabled(false);
  status->setFixedHeight(kStatusBarHeight);
  const int widths[3] = {200, 700, 50};
  for (int i = 0; i < 3; ++i) {
    auto* panel = new QLabel(status);
    panel->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
    panel->setFixedWidth(widths[i]);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    if (i == 2) panel->setAlignment(Qt::AlignCenter);
    status->addWidget(panel);
    status_panels_[i] = panel;
  }
  status_panels_[0]->setText(QString::fromLatin1(kContactText));
}

void TForm1::ConnectHandlers() {
  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
  connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
  connect(Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
  connect(Button7, &QPushButton::clicked, this, &TForm1::Button7Click);
  connect(Button8, &QPushButton::clicked, this, &TForm1::Button8Click);
  connect(BitBtnWithColor1, &QPushButton::clicked, this, &TForm1::BitBtnWithColor1Click);
  connect(Button9, &QPushButton::clicked, this, &TForm1::Button9Click);
  connect(ButtonImportRun, &QPushButton::clicked, this, &TForm1::ImportRunClick);
  // The selector changes when the user picks an item or types; filling it
  // from the program raises neither signal.
  connect(CBbx_camber, &QComboBox::activated, this, [this](int index) {
    selected_case_ = index;
    CBbx_camberChange();
  });
  connect(CBbx_camber->lineEdit(), &QLineEdit::textEdited, this, &TForm1::SelectCaseByText);
  connect(SG1, &QTableWidget::itemChanged, this, &TForm1::OnGridItemChanged);

  // The running fit's requests, queued from its thread.
  connect(session_.get(), &TFitSession::waitScreenRequested, this, &TForm1::ShowWaitScreen);
  connect(session_.get(), &TFitSession::busyChanged, this, &TForm1::SetBusyCursor);
  connect(session_.get(), &TFitSession::costTextChanged, Lbledt1, &QLineEdit::setText);
  connect(session_.get(), &TFitSession::progressed, this, &TForm1::ShowProgress);
  connect(session_.get(), &TFitSession::fitFinished, this, &TForm1::FitEnded);
}

void TForm1::FormCreate() {
  QLabel* date_panel = status_panels_[2];
  date_panel->setText(QLocale().toString(QDate::currentDate(), QLocale::ShortFormat));
  // Wide enough for the date in any locale's short form.
  date_panel->setFixedWidth(std::max(50, date_panel->fontMetrics().horizontalAdvance(date_panel->text()) + 10));
  CBbx_camber->setEditText(QStringLiteral("0"));
  Guarded(this, [this] { LoadStartupDefaults(*panel_, StartupDefaultsPath(settings_dir_.toStdString())); });
}

void TForm1::FormClose() { session_->ClearData(); }

void TForm1::closeEvent(QCloseEvent* event) {
  // A running fit still reads the data set.
  if (FitRunning()) {
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

void TForm1::SetWaitScreen(TPopcalcul* wait_screen) { wait_screen_ = wait_screen; }

void TForm1::SetCalculator(TForm3* calculator) { calculator_ = calculator; }

TCoefficientSet& TForm1::Coefficients() { return *panel_; }

QLineEdit* TForm1::RadiusEdit() const { return panel_->Edit("R0"); }

QString TForm1::StatusText(int panel) const {
  return panel >= 0 && panel < 3 ? status_panels_[panel]->text() : QString();
}

QChart* TForm1::Chart() const { return Chart1->chart(); }

// ------------------------------------------------------------------ loading

void TForm1::Button2Click() {
  std::string chosen;
  GuardedAbout(this, [&](const std::exception& error) { return FileSubject(chosen, error); }, [&] {
    if (!Idle()) return;
    const auto path = Dialogs().OpenFile(this, "Load tire data", ".plt (*.plt)");
    if (!path) return;
    chosen = *path;
    LoadDataFile(*path);
  });
}

void TForm1::LoadDataFile(const std::string& path) {
  TTireDataSet loaded = ReadTireDataFile(path);
  std::optional<TFitChannel> channel;
  {
    std::ifstream in(path, std::ios::binary);
    std::string first;
    std::getline(in, first);
    channel = DataChannelOfHeader(first);
  }
  session_->UseData(std::move(loaded), channel, std::filesystem::path(path).filename().string());

  CBbx_camber->clear();
  for (const std::string& item : CamberItems(DataSet())) CBbx_camber->addItem(QString::fromStdString(item));
  selected_case_ = DataSet().Empty() ? -1 : 0;
  if (selected_case_ >= 0) CBbx_camber->setCurrentIndex(selected_case_);

  draw_grid();
  ClearVerdict();
  status_panels_[1]->setText(QString::fromStdString(path));
  RememberDataFile(QString::fromStdString(path));
  RestoreCamberBoxes();
  graph();
}

void TForm1::UseImportedData(TTireDataSet data, const std::string& label, std::optional<TFitChannel> channel) {
  session_->UseData(std::move(data), channel, label);

  CBbx_camber->clear();
  for (const std::string& item : CamberItems(DataSet())) CBbx_camber->addItem(QString::fromStdString(item));
  selected_case_ = DataSet().Empty() ? -1 : 0;
  if (selected_case_ >= 0) CBbx_camber->setCurrentIndex(selected_case_);

  draw_grid();
  ClearVerdict();
  status_panels_[1]->setText(QString::fromStdString(label));
  graph();
}

void TForm1::ImportRunClick() {
  Guarded(this, [this] {
    if (!Idle()) return;
    const auto path = Dialogs().OpenFile(this, "Import measured run",
                                         "Run files (*.dat *.txt *.csv *.asc *.tdx);;All files (*)");
    if (!path) return;
    TRunImportDialog dialog(*path, *panel_, VisibleChannel(), this,
                            import_settings_ ? &*import_settings_ : nullptr);
    if (dialog.exec() != QDialog::Accepted || dialog.Data().Empty()) return;
    UseImportedData(dialog.Data(), dialog.Label(), dialog.Channel());
    import_settings_ = dialog.Settings();
    emit runImported();
  });
}

// ---------------------------------------------------------- grid and selector

void TForm1::SelectCaseByText(const QString& text) {
  selected_case_ = CBbx_camber->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
  CBbx_camberChange();
}

void TForm1::CBbx_camberChange() {
  GuardedAbout(this, [this](const std::exception& error) { return CoefficientSubject(error); }, [this] {
    draw_grid();
    graph();
  });
}

void TForm1::draw_grid() {
  const TGridView view = BuildGridView(CaseAt(DataSet(), selected_case_));
  filling_grid_ = true;
  SG1->clearSelection();
  SG1->setColumnCount(view.col_count);
  SG1->setRowCount(view.row_count);
  const QPalette grid_palette = palette();
  for (int row = 0; row < view.row_count; ++row)
    for (int col = 0; col < view.col_count; ++col)
      SG1->setItem(row, col, MakeGridItem(view.Cell(col, row), !view.Editable(col, row), grid_palette));
  // Long values are shown whole; the user may still narrow any column.
  SG1->FitColumnsToTexts(70);
  filling_grid_ = false;
}

void TForm1::OnGridItemChanged(QTableWidgetItem* item) {
  if (filling_grid_ || item == nullptr) return;
  const int col = item->column();
  const int row = item->row();
  const QString text = item->text();
  GuardedAbout(
      this,
      [&](const std::exception& error) {
        // A text that is not a number is the cell's; any other error comes
        // from the redraw.
        if (dynamic_cast<const EConvertError*>(&error) != nullptr &&
            std::string(error.what()) == EConvertError::NotAFloat(text.toStdString()).what())
          return CellSubject(col, row);
        return CoefficientSubject(error);
      },
      [&] { SG1SetEditText(col, row, text); });
}

void TForm1::SG1SetEditText(int col, int row, const QString& text) {
  // The grid is locked during a fit; the data set stays as the fit read it.
  if (!Idle()) return;
  StoreGridEdit(session_->MutableData(), selected_case_, col, row, text.toStdString());
  graph();
}

// -------------------------------------------------------------------- plot

TFitChannel TForm1::VisibleChannel() const {
  switch (Pagecontrol1->currentIndex()) {
    case 1:
      return TFitChannel::kLongitudinal;
    case 2:
      return TFitChannel::kAligning;
    default:
      return TFitChannel::kLateral;
  }
}

void TForm1::graph() {
  TPlotRequest request;
  request.channel = VisibleChannel();
  request.draw_model = CheckBox1->isChecked();
  request.draw_data = CheckBox2->isChecked();
  request.paired_colours = Chart1->PairedColours();
  request.residuals = CheckBox3->isChecked();
  request.all_cambers = Chart1->AllCambers();
  // The axes name what the data hold; the title what is shown and whence.
  const TAxisTitles titles = AxisTitlesFor(DataChannel().value_or(request.channel), request.residuals);
  Chart1->chart()->setTitle(QString::fromStdString(
      ChartTitleFor(DataSet(), selected_case_, request, DataChannel(), session_->DataSource())));
  std::vector<TPlotCurve> curves;
  try {
    ComputeChartCurves(DataSet(), selected_case_, request, *panel_, curves);
  } catch (...) {
    ShowCurves(Chart1->chart(), curves, titles);
    Chart1->CurvesReplaced();
    throw;
  }
  ShowCurves(Chart1->chart(), curves, titles);
  Chart1->CurvesReplaced();
}

void TForm1::Button3Click() {
  GuardedAbout(this, [this](const std::exception& error) { return CoefficientSubject(error); }, [this] {
    if (!session_->HasData()) {
      Dialogs().Message(this, "Load tire data first");
      return;
    }
    graph();
  });
}

// ------------------------------------------------------------------- files

void TForm1::Button4Click() {
  std::string chosen;
  GuardedAbout(this,
               [&](const std::exception& error) {
                 const std::string about = CoefficientSubject(error);
                 return about.empty() ? FileSubject(chosen, error) : about;
               },
               [&] {
                 if (Idle()) ExportCoefficientsCommand(this, *panel_, &chosen);
               });
}

void TForm1::Button5Click() {
  std::string chosen;
  GuardedAbout(this, [&](const std::exception& error) { return FileSubject(chosen, error); }, [&] {
    if (!Idle()) return;
    const TCoefficientSnapshot before = TakeSnapshot(*panel_);
    try {
      ImportCoefficientsCommand(this, *panel_, &chosen);
    } catch (...) {
      RecordStep("import", before);
      throw;
    }
    RecordStep("import", before);
    const std::vector<std::string> changed = ChangedCoefficients(before, TakeSnapshot(*panel_));
    ForgetFitsOf(changed);
    if (!changed.empty())
      ShowStatus(QStringLiteral("Imported from %1: %2 coefficients changed (Ctrl+Z goes back)")
                     .arg(QFileInfo(QString::fromStdString(chosen)).fileName())
                     .arg(changed.size()));
    // The chart shows the coefficients on screen.
    if (session_->HasData()) graph();
  });
}

// --------------------------------------------------------- auxiliary windows

void TForm1::Button8Click() {
  GuardedAbout(this, [this](const std::exception& error) { return CoefficientSubject(error); }, [this] {
    if (!Idle()) return;
    if (calculator_ == nullptr) calculator_ = new TForm3(RadiusEdit(), this);
    const TCoefficientSnapshot before = TakeSnapshot(*panel_);
    calculator_->exec();
    RecordStep("tire size calculator", before);
    if (session_->HasData() && VisibleChannel() == TFitChannel::kAligning) graph();
  });
}

void TForm1::BitBtnWithColor1Click() {
  Guarded(this, [this] { OpenHelp(this); });
}

TPopcalcul* TForm1::WaitScreen() {
  if (wait_screen_ == nullptr) {
    own_wait_screen_ = std::make_unique<TPopcalcul>();
    wait_screen_ = own_wait_screen_.get();
  }
  return wait_screen_;
}

// -------------------------------------------------------------------- fits

void TForm1::Button1Click() {
  GuardedAbout(this, [this](const std::exception& error) { return CoefficientSubject(error); },
               [this] { RunFit(TFitChannel::kLateral); });
}

void TForm1::Button6Click() {
  GuardedAbout(this, [this](const std::exception& error) { return CoefficientSubject(error); },
               [this] { RunFit(TFitChannel::kAligning); });
}

void TForm1::Button7Click() {
  GuardedAbout(this, [this](const std::exception& error) { return CoefficientSubject(error); },
               [this] { RunFit(TFitChannel::kLongitudinal); });
}

std::string TForm1::SettingsPath() const {
  return QDir(settings_dir_).filePath(QString::fromLatin1(kSettingsFileName)).toStdString();
}

void TForm1::RunFit(TFitChannel channel) {
  if (FitRunning()) return;
  TOptimizerChoice optimizer = TOptimizerChoice::kLevenbergMarquardt;
  if (RadioButton2->isChecked()) optimizer = TOptimizerChoice::kDifferentialEvolution;
  if (RadioButton3->isChecked()) optimizer = TOptimizerChoice::kTrustRegion;
  // The fit works on a copy of the panel; the panel and the data are locked
  // until FitEnded has applied what it wrote.
  SetCancelAvailable(true);
  if (!session_->StartFit(channel, *panel_, optimizer)) SetCancelAvailable(false);
}

void TForm1::FitEnded() {
  const TCoefficientSnapshot before = session_->FitStart();
  const TFitChannel channel = session_->FitChannel();
  // The window comes back with its normal cursor, without progress text
  // and without the Cancel offers, however the fit ended.
  SetCancelAvailable(false);
  EndFit();

  // The values the fit wrote go onto the panel; only what changed is
  // rewritten, so an edit keeps its text and cursor where nothing moved.
  const TCoefficientSnapshot shown = TakeSnapshot(*panel_);
  const TCoefficientSnapshot result = TakeSnapshot(session_->FitResult());
  const auto table = morvex::Coefficients();
  for (size_t i = 0; i < table.size(); ++i) {
    if (shown.texts[i] != result.texts[i]) panel_->SetText(table[i].name, result.texts[i]);
    if (table[i].HasFreeFlag() && shown.free[i] != result.free[i]) panel_->SetFree(table[i].name, result.free[i]);
  }
  for (const std::string& text : session_->TakeMessages()) Dialogs().Message(this, text);

  if (const std::exception_ptr error = session_->FitError()) {
    // What the fit wrote before its error is still one undo step.
    RecordStep(FitName(channel), before);
    GuardedAbout(this, [this](const std::exception& e) { return CoefficientSubject(e); },
                 [&] { std::rethrow_exception(error); });
    emit fitFinished();
    return;
  }

  TFitOutcome outcome = session_->Outcome();
  session_->JudgeFinishedFit(outcome, *panel_);
  GuardedAbout(this, [this](const std::exception& e) { return CoefficientSubject(e); }, [&] {
    if (!outcome.cancelled) graph();
  });
  AfterFit(std::move(outcome), before);
  emit fitFinished();
}

bool TForm1::ValuesAreAFit(TFitChannel channel) const {
  return session_->ValuesAreAFit(channel, TakeSnapshot(*panel_));
}

void TForm1::RememberValuesAsFit(TFitChannel channel) {
  session_->RememberValuesAsFit(channel, TakeSnapshot(*panel_));
}

bool TForm1::UpdateReport(const TFitOutcome& outcome) {
  // The fit itself is done and shown; a model that cannot be evaluated
  // for the report leaves the report of the previous fit.
  switch (session_->UpdateReport(outcome, *panel_)) {
    case TFitSession::TReportUpdate::kKept:
      return false;
    case TFitSession::TReportUpdate::kNone:
      Button9->setEnabled(false);
      if (report_window_ != nullptr) report_window_->hide();
      return false;
    case TFitSession::TReportUpdate::kNew:
      break;
  }
  const TFitReport& report = *session_->LastReport();
  RecordFitForExport(report, StatusText(1).toStdString(), DataSet());
  Button9->setEnabled(true);
  if (report_window_ != nullptr) report_window_->SetNotes(session_->LastNotes(), outcome.verdict);
  if (report_window_ != nullptr && report_window_->isVisible()) report_window_->ShowReport(report);
  return true;
}

void TForm1::Button9Click() {
  const std::optional<TFitReport>& report = session_->LastReport();
  if (!report) return;
  if (report_window_ == nullptr) report_window_ = new TFitReportWindow(this);
  report_window_->SetNotes(session_->LastNotes(), session_->LastVerdict());
  report_window_->ShowReport(*report, session_->LastReportText());
  report_window_->show();
  report_window_->raise();
  report_window_->activateWindow();
}

TFitReportWindow* TForm1::ReportWindow() const { return report_window_; }

void TForm1::EndFit() {
  if (wait_screen_ != nullptr && wait_screen_->isVisible()) wait_screen_->hide();
  SetBusyCursor(false);
  statusBar()->clearMessage();
  if (wait_screen_ != nullptr) wait_screen_->SetProgressText(QString());
}

void TForm1::ShowWaitScreen(bool shown) {
  // The wait screen shows beside the window, which stays usable: it must
  // not take the keyboard from the control the user is in.
  TPopcalcul* wait = WaitScreen();
  if (!shown) {
    wait->hide();
    return;
  }
  if (!FitRunning()) return;
  wait->setAttribute(Qt::WA_ShowWithoutActivating);
  wait->show();
}

void TForm1::SetBusyCursor(bool busy) {
  // The cursor is a state, not a stack: setting it twice and restoring it
  // once gives the normal cursor.  The window still works meanwhile: the
  // busy cursor is the arrow with the hourglass.
  if (busy && !busy_cursor_ && FitRunning()) {
    QApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
    busy_cursor_ = true;
  } else if (!busy && busy_cursor_) {
    QApplication::restoreOverrideCursor();
    busy_cursor_ = false;
  }
}

void TForm1::ShowProgress(int optimizer, int step, int total_steps, double best_cost) {
  // Once cancelling, the status bar says so until the fit has stopped.
  if (!FitRunning() || session_->CancelPending()) return;
  // Six digits are plenty to watch a cost fall.
  const QString cost = QString::fromStdString(FloatToStrF(best_cost, TFloatFormat::kGeneral, 6, 0));
  QString text;
  if (optimizer != static_cast<int>(TOptimizerChoice::kDifferentialEvolution)) {
    text = QStringLiteral("Iteration %1, cost %2").arg(step).arg(cost);
  } else if (total_steps > 0) {
    text = QStringLiteral("Generation %1 of %2, best cost %3").arg(step + 1).arg(total_steps).arg(cost);
  } else {
    text = QStringLiteral("Generation %1, best cost %2").arg(step + 1).arg(cost);
  }
  ShowProgressText(text);
}

void TForm1::ShowProgressText(const QString& text) {
  statusBar()->showMessage(text);
  if (wait_screen_ != nullptr && wait_screen_->isVisible()) wait_screen_->SetProgressText(text);
}

}  // namespace morvex
