// The main window driven as a user drives it: through the widgets' object
// names, with file dialogs and message boxes answered by a script.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QChart>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLineEdit>
#include <QLineSeries>
#include <QXYSeries>
#include <QLocale>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <map>
#include <memory>

#include "fitting/FitCommands.h"
#include "numerics/LxBasics.h"
#include "tiremodel/CoefficientTable.h"
#include "ui/BitBtnWithColor.h"
#include "ui/FitReportWindow.h"
#include "ui/HelpLauncher.h"
#include "ui/Popcalcul.h"
#include "ui/Unit1.h"
#include "ui/Unit3.h"
#include "ui/tests/UiTests.h"
#include "ui/tests/WindowFixture.h"

namespace morvex::test {

namespace {

// Records the Show and Hide events of the watched widgets, in order.
class VisibilityLog : public QObject {
 public:
  std::vector<QString> events;
  void Watch(QWidget* widget, const QString& name) {
    names_[widget] = name;
    widget->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show || event->type() == QEvent::Hide)
      events.push_back(names_[watched] + (event->type() == QEvent::Show ? " show" : " hide"));
    return false;
  }

 private:
  std::map<QObject*, QString> names_;
};

// Records each message and shows it in a real modal message box, which
// takes the focus like the user's box would, and closes it soon after.
class ModalDialogs final : public IDialogs {
 public:
  std::vector<std::string> messages;
  std::optional<std::string> OpenFile(QWidget*, const std::string&, const std::string&) override { return {}; }
  std::optional<std::string> SaveFile(QWidget*, const std::string&, const std::string&) override { return {}; }
  void Error(QWidget* parent, const std::string& text, const std::string&) override { Message(parent, text); }
  void Message(QWidget* parent, const std::string& text) override {
    messages.push_back(text);
    QMessageBox box(QMessageBox::Information, QStringLiteral("Morvex"), QString::fromStdString(text),
                    QMessageBox::Ok, parent);
    QTimer::singleShot(50, &box, &QMessageBox::accept);
    box.exec();
  }
};

bool IsFixed5(const QString& text) {
  static const QRegularExpression fixed5(QStringLiteral("^-?\\d+\\.\\d{5}$"));
  return fixed5.match(text).hasMatch();
}

// The general format gives back exactly the text it would print.
bool IsGeneralFormat(const QString& text) {
  double value = 0;
  return TryStrToFloat(text.toStdString(), value) && QString::fromStdString(FloatToStr(value)) == text;
}

}  // namespace

class TestMainWindow : public QObject, TWindowFixture {
  Q_OBJECT

  ScriptedDialogs dialogs_;
  void Load(const char* file) {
    dialogs_.answers.push_back(DataFile(file));
    Click("Button2");
  }
  QList<QAbstractSeries*> Series() const { return form_->Chart()->series(); }
  QString Cell(int col, int row) const {
    QTableWidgetItem* item = Find<QTableWidget>("SG1")->item(row, col);
    return item ? item->text() : QString();
  }
  void SetText(std::string_view coefficient, const QString& text) {
    QLineEdit* edit = Edit(coefficient);
    edit->selectAll();
    QTest::keyClicks(edit, text);
  }
  // Types `text` into grid cell (col, row) and closes the editor with Return.
  void EditCell(int col, int row, const QString& text) {
    auto* grid = Find<QTableWidget>("SG1");
    grid->setCurrentCell(row, col);
    grid->editItem(grid->item(row, col));
    auto* editor = qobject_cast<QLineEdit*>(grid->indexWidget(grid->model()->index(row, col)));
    QVERIFY(editor != nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    // The item view commits and closes the editor from the event loop.
    QCoreApplication::processEvents();
    QVERIFY(grid->indexWidget(grid->model()->index(row, col)) == nullptr);
  }
  std::map<std::string, QString> Texts(TCoefficientGroup group) const {
    std::map<std::string, QString> texts;
    for (const TCoefficientInfo& info : Coefficients())
      if (info.group == group) texts[std::string(info.name)] = Edit(info.name)->text();
    return texts;
  }

 private slots:
  void init() {
    dialogs_ = ScriptedDialogs();
    QVERIFY(OpenWindow(dialogs_));
  }

  void cleanup() {
    CloseWindow();
    QCOMPARE(QApplication::overrideCursor(), nullptr);
  }

  void startupShowsControlsAndDefaults() {
    QCOMPARE(form_->size(), QSize(993, 704));
    QCOMPARE(form_->windowTitle(), QStringLiteral("Morvex"));
    const std::pair<const char*, const char*> captions[] = {
        {"Button1", "Fit lateral MFparameters"}, {"Button2", "Load tire data"},
        {"Button3", "DRAW"},                     {"Button4", "Export to file"},
        {"Button5", "Import MF model"},          {"Button6", "Fit aligning torque MF parameters"},
        {"Button7", "Fit longitudinal MF parameters"}, {"Button8", "Tire size calculator"},
        {"BitBtnWithColor1", "Help"},            {"CheckBox1", "MF model"},
        {"CheckBox2", "Tire data"},              {"RadioButton1", "Levenberg-Marquardt"},
        {"RadioButton2", "Genetic algorithm"},   {"RadioButton3", "Trust region"},
        {"Button9", "Fit report"}};
    for (const auto& [name, caption] : captions) QCOMPARE(Find<QAbstractButton>(name)->text(), QLatin1String(caption));
    // The specified tooltip, followed by its shortcut.
    QVERIFY(Find<QPushButton>("Button6")->toolTip().startsWith(QStringLiteral("Fit lateral MF parameters first (F5")));
    QCOMPARE(Find<TBitBtnWithColor>("BitBtnWithColor1")->Color(), QColor(64, 128, 128));

    auto* pages = Find<QTabWidget>("Pagecontrol1");
    QCOMPARE(pages->tabPosition(), QTabWidget::South);
    QCOMPARE(pages->currentIndex(), 0);
    QCOMPARE(pages->tabText(2), QStringLiteral("Aligning torque"));
    QCOMPARE(Find<QPushButton>("Button8")->parentWidget(), Find("TabSheet3"));
    QVERIFY(Find<QRadioButton>("RadioButton1")->isChecked());
    QVERIFY(Find<QCheckBox>("CheckBox1")->isChecked() && Find<QCheckBox>("CheckBox2")->isChecked());
    QVERIFY(!Find<QLineEdit>("Lbledt1")->isVisible());
    QVERIFY(!Find<QPushButton>("Button9")->isEnabled());  // no fit, no report
    // The three strategies sit inside their group, above the chart.
    const QRect group = Find("RadioGroup1")->geometry();
    for (const char* name : {"RadioButton1", "RadioButton2", "RadioButton3"})
      QVERIFY(group.contains(Find(name)->geometry()));
    QVERIFY(group.bottom() < Find("Chart1")->geometry().top());

    // Every coefficient has its edit, and all but R0 a free box, checked but
    // that of Fz0 (the engineer's choice); the defaults file's texts are
    // shown exactly as stored.
    for (const TCoefficientInfo& info : Coefficients()) {
      QVERIFY(Edit(info.name) != nullptr);
      if (info.HasFreeFlag()) QCOMPARE(Box(info.name)->isChecked(), info.name != "Fz0");
    }
    QCOMPARE(Edit("PCy1")->text(), QStringLiteral("1.30000"));
    QCOMPARE(Edit("Fz0")->text(), QStringLiteral("4000"));
    QCOMPARE(Edit("QBz1")->text(), QStringLiteral("2"));    // section "PARAMETERS Mz", key "QBz1"
    QCOMPARE(Edit("PHx1")->text(), QStringLiteral("1.3"));  // built-in default
    QCOMPARE(Edit("R0")->parentWidget(), Find("TabSheet3"));

    QCOMPARE(Find<QComboBox>("CBbx_camber")->currentText(), QStringLiteral("0"));
    QCOMPARE(Find<QComboBox>("CBbx_camber")->count(), 0);
    QVERIFY(!form_->StatusText(0).isEmpty());
    QVERIFY(form_->StatusText(1).isEmpty());
    QCOMPARE(form_->StatusText(2), QLocale().toString(QDate::currentDate(), QLocale::ShortFormat));
    QVERIFY(Series().isEmpty());
  }

  void drawBeforeLoadAsksForData() {
    Click("Button3");
    QCOMPARE(dialogs_.messages, std::vector<std::string>{"Load tire data first"});
    QVERIFY(Series().isEmpty());
    // The empty design grid takes edits without touching any case.
    EditCell(1, 2, QStringLiteral("5"));
    QVERIFY(form_->DataSet().Empty());
    QVERIFY(Series().isEmpty());
    QCOMPARE(dialogs_.messages.size(), size_t{1});
  }

  void fileWithoutCasesShowsNoCase() {
    Load("lateral.plt");
    const QString path = dir_->filePath(QStringLiteral("empty.plt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("a header line and no load case\n");
    file.close();
    dialogs_.answers.push_back(path.toStdString());
    Click("Button2");
    QVERIFY(dialogs_.messages.empty());
    QCOMPARE(form_->DataSet().CaseCount(), 0);
    QCOMPARE(form_->SelectedCase(), -1);
    QCOMPARE(Find<QComboBox>("CBbx_camber")->count(), 0);
    QCOMPARE(Find<QTableWidget>("SG1")->rowCount(), 1);
    QVERIFY(Series().isEmpty());
    Click("Button3");
    QCOMPARE(dialogs_.messages, std::vector<std::string>{"Load tire data first"});
  }

  void loadShowsSelectorGridStatusAndChart() {
    Load("lateral.plt");
    QVERIFY(dialogs_.messages.empty());
    QCOMPARE(dialogs_.filters, std::vector<std::string>{".plt (*.plt)"});

    auto* camber = Find<QComboBox>("CBbx_camber");
    QCOMPARE(camber->count(), 2);
    QCOMPARE(camber->itemText(1), QStringLiteral("2"));
    QCOMPARE(camber->currentText(), QStringLiteral("0"));

    auto* grid = Find<QTableWidget>("SG1");
    QCOMPARE(grid->columnCount(), 4);
    QCOMPARE(grid->rowCount(), 12);
    QCOMPARE(Cell(0, 0), QStringLiteral("angle/load"));
    QCOMPARE(Cell(3, 0), QStringLiteral("6000"));
    QCOMPARE(Cell(0, 1), QStringLiteral("-10"));
    QCOMPARE(Cell(1, 1), QStringLiteral("-2201.44"));
    QVERIFY(!(grid->item(0, 1)->flags() & Qt::ItemIsEditable));
    QVERIFY(grid->item(1, 1)->flags() & Qt::ItemIsEditable);

    QCOMPARE(form_->StatusText(1), QString::fromStdString(DataFile("lateral.plt")));

    const auto series = Series();
    QCOMPARE(series.size(), 6);
    QCOMPARE(series[0]->name(), QStringLiteral("MF model 2000"));
    QCOMPARE(series[3]->name(), QStringLiteral("tire data 2000"));
    QCOMPARE(qobject_cast<QXYSeries*>(series[3])->color(), QColor(0, 90, 255));
    QCOMPARE(qobject_cast<QXYSeries*>(series[5])->points().first(), QPointF(-10, -5549.74));

    form_->close();
    QVERIFY(form_->DataSet().Empty());
  }

  void cancelledOrFailedLoadKeepsPreviousData() {
    Load("lateral.plt");
    dialogs_.answers.push_back(std::nullopt);
    Click("Button2");
    dialogs_.answers.push_back(DataFile("bad.plt"));
    Click("Button2");
    QCOMPARE(dialogs_.messages,
             std::vector<std::string>{"'abc' n'est pas une valeur en virgule flottante correcte (file " +
                                      DataFile("bad.plt") + ", line 7, field 1: the slip)"});

    QCOMPARE(form_->DataSet().CaseCount(), 2);
    QCOMPARE(Find<QComboBox>("CBbx_camber")->count(), 2);
    QCOMPARE(Cell(1, 1), QStringLiteral("-2201.44"));
    QCOMPARE(form_->StatusText(1), QString::fromStdString(DataFile("lateral.plt")));
    QCOMPARE(Series().size(), 6);
    Click("Button3");
    QCOMPARE(dialogs_.messages.size(), size_t{1});
  }

  void camberSelectorPicksCaseOrNone() {
    Load("lateral.plt");
    auto* camber = Find<QComboBox>("CBbx_camber");
    QTest::keyClick(camber, Qt::Key_Down);
    QCOMPARE(form_->SelectedCase(), 1);
    QCOMPARE(Cell(1, 1), QStringLiteral("-2177.26"));
    QCOMPARE(qobject_cast<QXYSeries*>(Series()[3])->points().first(), QPointF(-10, -2177.26));

    // Typed text that names no camber: nothing is shown, nothing fails.
    camber->lineEdit()->selectAll();
    QTest::keyClicks(camber->lineEdit(), QStringLiteral("7"));
    QCOMPARE(form_->SelectedCase(), -1);
    QCOMPARE(Find<QTableWidget>("SG1")->columnCount(), 1);
    QCOMPARE(Find<QTableWidget>("SG1")->rowCount(), 1);
    QVERIFY(Series().isEmpty());
    QCOMPARE(camber->count(), 2);

    QTest::keyClick(camber->lineEdit(), Qt::Key_Return);
    QCOMPARE(form_->SelectedCase(), -1);
    QCOMPARE(camber->count(), 2);

    camber->lineEdit()->selectAll();
    QTest::keyClicks(camber->lineEdit(), QStringLiteral("2"));
    QTest::keyClick(camber->lineEdit(), Qt::Key_Return);
    QCOMPARE(form_->SelectedCase(), 1);
    QCOMPARE(Series().size(), 6);
    QVERIFY(dialogs_.messages.empty());
  }

  void gridEditStoresValueOnCommitAndRedraws() {
    Load("lateral.plt");
    auto* model_0 = qobject_cast<QXYSeries*>(Series()[0]);
    const QList<QPointF> model_before = model_0->points();

    EditCell(3, 1, QStringLiteral("125"));
    QVERIFY(dialogs_.messages.empty());
    QCOMPARE(form_->DataSet().Cases[0].Value(0, 2), 125.0);
    const auto series = Series();
    QCOMPARE(qobject_cast<QXYSeries*>(series[5])->points().first(), QPointF(-10, 125));
    QCOMPARE(qobject_cast<QXYSeries*>(series[5])->points()[1], QPointF(-8, -5299.82));
    QCOMPARE(qobject_cast<QXYSeries*>(series[0])->points(), model_before);

    // A text that is not a number is reported once; the value stays.
    EditCell(3, 1, QStringLiteral("abc"));
    QCOMPARE(dialogs_.messages,
             std::vector<std::string>{"'abc' n'est pas une valeur en virgule flottante correcte"});
    QCOMPARE(form_->DataSet().Cases[0].Value(0, 2), 125.0);

    // Shown again, the edited value comes back in the general format.
    auto* camber = Find<QComboBox>("CBbx_camber");
    QTest::keyClick(camber, Qt::Key_Down);
    QTest::keyClick(camber, Qt::Key_Up);
    QCOMPARE(form_->SelectedCase(), 0);
    QCOMPARE(Cell(3, 1), QStringLiteral("125"));
    QCOMPARE(dialogs_.messages.size(), size_t{1});
  }

  void gridErrorInRealMessageBoxIsReportedOnce() {
    Load("lateral.plt");
    ModalDialogs modal;
    SetDialogs(&modal);
    EditCell(2, 3, QStringLiteral("1e"));
    SetDialogs(&dialogs_);
    QCOMPARE(modal.messages, std::vector<std::string>{"'1e' n'est pas une valeur en virgule flottante correcte"});
    QCOMPARE(form_->DataSet().Cases[0].Value(2, 1), -3589.33);
    QVERIFY(form_->isVisible());
  }

  void drawFollowsCheckBoxesPageAndTypedCoefficients() {
    Load("lateral.plt");
    const double before = qobject_cast<QXYSeries*>(Series()[1])->points().first().y();
    SetText("PDy1", QStringLiteral("0.5"));
    Click("Button3");
    const double after = qobject_cast<QXYSeries*>(Series()[1])->points().first().y();
    QVERIFY(std::abs(after) < std::abs(before) * 0.75);

    Find<QCheckBox>("CheckBox1")->setChecked(false);
    Click("Button3");
    QCOMPARE(Series().size(), 3);
    QCOMPARE(qobject_cast<QXYSeries*>(Series()[0])->color(), QColor(0, 0, 255));
    Find<QCheckBox>("CheckBox2")->setChecked(false);
    Click("Button3");
    QVERIFY(Series().isEmpty());

    // The longitudinal page draws its own model over the same data.
    Find<QCheckBox>("CheckBox1")->setChecked(true);
    Find<QTabWidget>("Pagecontrol1")->setCurrentIndex(1);
    SetText("PCy1", QStringLiteral("abc"));
    Click("Button3");
    QCOMPARE(Series().size(), 3);
    QVERIFY(dialogs_.messages.empty());
  }

  void badCoefficientReportsAndProgramGoesOn() {
    Load("lateral.plt");
    SetText("PCy1", QStringLiteral("abc"));
    Click("Button3");
    const std::string message = "'abc' n'est pas une valeur en virgule flottante correcte";
    QCOMPARE(dialogs_.messages, std::vector<std::string>{message});
    // The redraw stopped at the first model point.
    QCOMPARE(Series().size(), 1);

    // The fit stops too, and the window comes back with its normal cursor.
    Fit("Button1");
    QCOMPARE(dialogs_.messages.size(), size_t{2});
    QCOMPARE(dialogs_.messages[1], message);
    QVERIFY(form_->isVisible());
    QVERIFY(!wait_->isVisible());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(Edit("PCy1")->text(), QStringLiteral("abc"));

    SetText("PCy1", QStringLiteral("1.3"));
    Click("Button3");
    QCOMPARE(Series().size(), 6);
    QCOMPARE(dialogs_.messages.size(), size_t{2});
  }

  void lateralLevenbergMarquardtSingleCamber() {
    Load("lateral_single.plt");
    VisibilityLog log;
    log.Watch(form_.get(), QStringLiteral("main"));
    log.Watch(wait_.get(), QStringLiteral("wait"));
    const auto lateral = Texts(TCoefficientGroup::kLateral);
    const auto longitudinal = Texts(TCoefficientGroup::kLongitudinal);
    const QString fz0 = Edit("Fz0")->text();

    Fit("Button1");

    QVERIFY2(dialogs_.messages.empty(), dialogs_.messages.empty() ? "" : dialogs_.messages[0].c_str());
    // The wait screen shows beside the window, which is never hidden.
    const std::vector<QString> expected_events{"wait show", "wait hide"};
    QCOMPARE(log.events, expected_events);
    for (const char* name : {"PHy3", "PDy3", "PVy3", "PVy4", "PEy4", "PKy3"}) QVERIFY(!Box(name)->isChecked());
    for (const char* name : {"PCy1", "PDy1", "PKy1", "PHy1", "PVy1"}) QVERIFY(Box(name)->isChecked());
    QVERIFY(!Box("Fz0")->isChecked());  // never ticked: held
    // Fitted coefficients get 5 decimals; held ones keep their text.
    for (std::string_view name : LateralFreeOrder()) {
      if (Box(name)->isChecked()) QVERIFY2(IsFixed5(Edit(name)->text()), name.data());
      else QCOMPARE(Edit(name)->text(), name == "Fz0" ? fz0 : lateral.at(std::string(name)));
    }
    QCOMPARE(Edit("PHy3")->text(), QStringLiteral("0.25"));
    QCOMPARE(Edit("R0")->text(), QStringLiteral("0.3"));
    QCOMPARE(Texts(TCoefficientGroup::kLongitudinal), longitudinal);
    QVERIFY(IsGeneralFormat(Find<QLineEdit>("Lbledt1")->text()));
    QVERIFY(!Find<QLineEdit>("Lbledt1")->isVisible());
    QCOMPARE(Series().size(), 6);
  }

  void lateralGeneticKeepsWindowAndBoxes() {
    Load("lateral_single.plt");
    Find<QRadioButton>("RadioButton2")->setChecked(true);
    Box("PKy3")->setChecked(false);
    SetText("PKy3", QStringLiteral("0.000"));
    VisibilityLog log;
    log.Watch(form_.get(), QStringLiteral("main"));
    log.Watch(wait_.get(), QStringLiteral("wait"));
    QSignalSpy progress(form_->statusBar(), &QStatusBar::messageChanged);

    Fit("Button1");

    QVERIFY(dialogs_.messages.empty());
    QVERIFY(log.events.empty());
    for (std::string_view name : LateralFreeOrder()) {
      if (name == "PKy3") continue;
      QCOMPARE(Box(name)->isChecked(), name != "Fz0");
      QVERIFY2(IsGeneralFormat(Edit(name)->text()), name.data());
    }
    QCOMPARE(Edit("PKy3")->text(), QStringLiteral("0.000"));  // fixed: untouched
    QVERIFY(Find<QLineEdit>("Lbledt1")->text().isEmpty());
    // Progress was shown in the status bar and removed at the end; the
    // fit's verdict follows it.
    QVERIFY(progress.count() >= 2);
    QVERIFY(progress.first().first().toString().startsWith(QStringLiteral("Generation")));
    int last_progress = 0;
    for (int i = 0; i < progress.count(); ++i)
      if (progress.at(i).first().toString().startsWith(QStringLiteral("Generation"))) last_progress = i;
    QVERIFY(last_progress + 1 < progress.count());
    QVERIFY(progress.at(last_progress + 1).first().toString().isEmpty());
  }

  void trustRegionKeepsBoxesAndReportsWhatDataCannotDetermine() {
    Load("lateral_single.plt");
    Find<QRadioButton>("RadioButton3")->setChecked(true);
    VisibilityLog log;
    log.Watch(form_.get(), QStringLiteral("main"));
    log.Watch(wait_.get(), QStringLiteral("wait"));
    Box("PHy3")->setChecked(true);
    SetText("PKy3", QStringLiteral("0.000"));
    Box("PKy3")->setChecked(false);
    QSignalSpy progress(form_->statusBar(), &QStatusBar::messageChanged);

    Fit("Button1");

    QVERIFY2(dialogs_.messages.empty(), dialogs_.messages.empty() ? "" : dialogs_.messages[0].c_str());
    QVERIFY(log.events.empty());  // the window stays; no wait screen
    QVERIFY(Box("PHy3")->isChecked());  // no flag cleared
    for (std::string_view name : LateralFreeOrder())
      if (name != "PKy3") QVERIFY2(IsGeneralFormat(Edit(name)->text()), name.data());
    QCOMPARE(Edit("PKy3")->text(), QStringLiteral("0.000"));
    QVERIFY(IsGeneralFormat(Find<QLineEdit>("Lbledt1")->text()));
    QVERIFY(progress.count() >= 1);
    QCOMPARE(Series().size(), 6);

    auto* report_button = Find<QPushButton>("Button9");
    QVERIFY(report_button->isEnabled());
    Click("Button9");
    TFitReportWindow* report = form_->ReportWindow();
    QVERIFY(report != nullptr && report->isVisible());
    QVERIFY(report->findChild<QLabel*>("ReportSummary")->text().startsWith(
        QStringLiteral("Lateral force, trust region: RMS error")));
    auto* coefficients = report->findChild<QTableWidget*>("ReportCoefficients");
    bool phy3_listed = false;
    for (int row = 0; row < coefficients->rowCount(); ++row)
      if (coefficients->item(row, 0)->text() == QStringLiteral("PHy3")) {
        phy3_listed = true;
        QCOMPARE(coefficients->item(row, 2)->text(), QStringLiteral("not determined"));
      }
    QVERIFY(phy3_listed);
    QVERIFY(report->findChild<QLabel*>("ReportNotes")->text().contains(
        QStringLiteral("PHy3 is not determined: the data holds one camber angle.")));
    const QString text = report->findChild<QPlainTextEdit*>("ReportText")->toPlainText();
    QVERIFY(text.startsWith(QStringLiteral("fit channel=lateral optimizer=tr cases=1")));
    QVERIFY(text.contains(QStringLiteral("stderr name=PCy1 value=") + Edit("PCy1")->text() + " error="));
    QCOMPARE(report->findChild<QTableWidget*>("ReportCurves")->rowCount(), 3);

    // A later fit refreshes the open report.
    Find<QRadioButton>("RadioButton1")->setChecked(true);
    Fit("Button1");
    QVERIFY(report->findChild<QLabel*>("ReportSummary")->text().startsWith(
        QStringLiteral("Lateral force, Levenberg-Marquardt")));
  }

  void aligningFitsClearFz0AndKeepLateral() {
    dialogs_.answers.push_back(DataFile("true-values.txt"));
    Click("Button5");
    Load("aligning.plt");
    const auto lateral = Texts(TCoefficientGroup::kLateral);
    const QString fz0 = Edit("Fz0")->text();

    Fit("Button6");
    QVERIFY(!Box("Fz0")->isChecked());
    QCOMPARE(Edit("Fz0")->text(), fz0);
    QCOMPARE(Texts(TCoefficientGroup::kLateral), lateral);
    for (std::string_view name : AligningFreeOrder()) QVERIFY2(IsFixed5(Edit(name)->text()), name.data());
    QVERIFY(form_->isVisible());

    Box("Fz0")->setChecked(true);
    Find<QRadioButton>("RadioButton2")->setChecked(true);
    Fit("Button6");
    QVERIFY(!Box("Fz0")->isChecked());
    QCOMPARE(Edit("Fz0")->text(), fz0);
    QCOMPARE(Texts(TCoefficientGroup::kLateral), lateral);
    for (std::string_view name : AligningFreeOrder()) QVERIFY2(IsGeneralFormat(Edit(name)->text()), name.data());
  }

  void longitudinalLevenbergMarquardtSingleCamber() {
    Load("longitudinal_single.plt");
    Find<QTabWidget>("Pagecontrol1")->setCurrentIndex(1);
    const QString fz0 = Edit("Fz0")->text();
    Fit("Button7");
    for (std::string_view name : LongitudinalFreeOrder()) {
      if (name == "Fz0") continue;  // never ticked: held
      QCOMPARE(Box(name)->isChecked(), name != "PDx3");
      if (name != "PDx3") QVERIFY2(IsFixed5(Edit(name)->text()), name.data());
    }
    QVERIFY(!Box("Fz0")->isChecked());
    QCOMPARE(Edit("Fz0")->text(), fz0);
    QCOMPARE(Edit("PDx3")->text(), QStringLiteral("0.25"));
    QVERIFY(form_->isVisible());
    QVERIFY(!wait_->isVisible());
  }

  void levenbergMarquardtFailureIsReportedAndWindowReturns() {
    Load("lateral.plt");
    for (std::string_view name : LateralFreeOrder()) Box(name)->setChecked(false);
    Fit("Button1");
    QCOMPARE(dialogs_.messages, std::vector<std::string>{kLateralFailureMessage});
    QVERIFY(form_->isVisible());
    QVERIFY(!wait_->isVisible());
    QCOMPARE(Edit("PCy1")->text(), QStringLiteral("1.30000"));
    QCOMPARE(Edit("PEy1")->text(), QStringLiteral("-1"));
    QCOMPARE(Series().size(), 6);
  }

  void calculatorAndHelpButtonsOpenTheirWindows() {
    QString modal_class;
    QTimer::singleShot(0, [&modal_class] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        modal_class = QString::fromLatin1(modal->metaObject()->className());
        modal->close();
      }
    });
    Click("Button8");
    QVERIFY2(modal_class.contains(QStringLiteral("QDialog")) || modal_class.contains(QStringLiteral("TForm3")),
             qPrintable(modal_class));
    QVERIFY(form_->findChild<TForm3*>() != nullptr);

    // The help command either opens a help page or says where it looked.
    QUrl opened;
    SetUrlOpener([&opened](const QUrl& url) {
      opened = url;
      return true;
    });
    Click("BitBtnWithColor1");
    SetUrlOpener({});
    QVERIFY(!opened.isEmpty() || dialogs_.messages.size() == 1);
  }

  void exportThenImportRoundTrips() {
    const std::string path = dir_->filePath(QStringLiteral("set.txt")).toStdString();
    const auto before = Texts(TCoefficientGroup::kLateral);
    dialogs_.answers.push_back(path);
    Click("Button4");
    QVERIFY(QFile::exists(QString::fromStdString(path)));

    SetText("PCy1", QStringLiteral("9"));
    SetText("PVy4", QStringLiteral("-3"));
    SetText("R0", QStringLiteral("0.5"));
    dialogs_.answers.push_back(path);
    Click("Button5");

    auto after = Texts(TCoefficientGroup::kLateral);
    QCOMPARE(after["PCy1"], QStringLiteral("1.3"));  // stored in the general format
    after["PCy1"] = before.at("PCy1");
    QCOMPARE(after, before);
    QCOMPARE(Edit("R0")->text(), QStringLiteral("0.3"));
    QCOMPARE(dialogs_.filters,
             (std::vector<std::string>{".txt (*.txt);;.tir (*.tir)", ".txt (*.txt *.text);;.tir (*.tir)"}));

    // Cancelled dialogs change nothing.
    SetText("PCy1", QStringLiteral("2"));
    Click("Button4");
    Click("Button5");
    QCOMPARE(Edit("PCy1")->text(), QStringLiteral("2"));
    QVERIFY(dialogs_.messages.empty());
  }
};

namespace {
RegisterUiTest<TestMainWindow> register_main_window;
}

}  // namespace morvex::test

#include "tst_mainwindow.moc"
