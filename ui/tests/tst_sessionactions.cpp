// The window's session commands and validation report: a session saved by
// the window opens in a fresh process of the program with the same panel,
// data, free boxes, reports and view; sessions pass between the window and
// morvex-fit both ways; a malformed or declined session changes nothing;
// opening is one undo step and waits for a running fit; the report is
// written as a PDF holding the channel and verdict, never over an input.
#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>
#include <QChart>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QXYSeries>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QStatusBar>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>

#include "files/SessionFile.h"
#include "files/Sha256.h"
#include "numerics/LxBasics.h"
#include "rigdata/RawImport.h"
#include "tiredata/TireDataWriter.h"
#include "ui/RunImportDialog.h"
#include "tiredata/TireDataFile.h"
#include "ui/ChartView.h"
#include "ui/FitReportWindow.h"
#include "ui/RecentFiles.h"
#include "ui/SessionActions.h"
#include "ui/tests/UiTests.h"
#include "ui/tests/WindowFixture.h"

namespace morvex::test {

namespace {

const std::string kExampleRun = std::string(MORVEX_TEST_DATA_DIR) + "/../../../examples/run.dat";
const char* const kChildIn = "MORVEX_SESSION_CHILD_IN";
const char* const kChildOut = "MORVEX_SESSION_CHILD_OUT";

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// The chart's options the user keeps between runs of the program start as
// in a first run.
void ForgetChartSettings() {
  QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Morvex"), QStringLiteral("morvex"))
      .remove(QStringLiteral("chart"));
}

TSessionActions* Actions(TForm1& form) {
  return form.findChild<TSessionActions*>(QStringLiteral("SessionActions"));
}

// Opens `path` in `form`, agreeing to the dialog; the lines it showed go to
// `shown`.
bool OpenAccepting(TForm1& form, const std::string& path, std::vector<TSessionOpeningLine>* shown = nullptr) {
  Actions(form)->SetConfirm([shown](const QString&, const std::vector<TSessionOpeningLine>& lines) {
    if (shown != nullptr) *shown = lines;
    return true;
  });
  return Actions(form)->OpenSession(path);
}

}  // namespace

// Started as a child process by the round-trip test: opens the session it
// is given in a new window and saves what the window then holds.
class TestSessionChild : public QObject, TWindowFixture {
  Q_OBJECT
  ScriptedDialogs dialogs_;

 private slots:
  void openAndSaveAgain() {
    const QString in = qEnvironmentVariable(kChildIn), out = qEnvironmentVariable(kChildOut);
    if (in.isEmpty()) QSKIP("run by the session round trip only");
    QVERIFY(OpenWindow(dialogs_, true, true));
    QVERIFY(OpenAccepting(*form_, in.toStdString()));
    QVERIFY(dialogs_.messages.empty());
    Actions(*form_)->SaveSession(out.toStdString());
    CloseWindow();
  }
};

class TestSessionActions : public QObject, TWindowFixture {
  Q_OBJECT
  ScriptedDialogs dialogs_;
  QTemporaryDir files_;

  std::string Path(const char* name) const { return files_.filePath(QLatin1String(name)).toStdString(); }

  // Lateral data, a text typed, a box cleared, a trust-region fit, the
  // residual view and a curve hidden.
  void WorkOnLateral() {
    form_->LoadDataFile(DataFile("lateral.plt"));
    Edit("PCy1")->setText(QStringLiteral("1.35"));
    Box("PEy4")->setChecked(false);
    Find<QRadioButton>("RadioButton3")->setChecked(true);
    Fit("Button1");
    form_->SetResidualsShown(true);
    form_->ChartView()->ToggleCurve(1);
    form_->ChartView()->ZoomAround(2.0, form_->Chart()->plotArea().center());
  }

 private slots:
  void init() {
    dialogs_.messages.clear();
    dialogs_.subjects.clear();
    dialogs_.answers.clear();
    QVERIFY(OpenWindow(dialogs_, true, true));
  }
  void cleanup() {
    CloseWindow();
    ForgetChartSettings();
  }

  // Saved by the window, opened in another process of the program, saved
  // again there: the same panel texts, free boxes, data, reports and view.
  void roundTripInAFreshProcess() {
    WorkOnLateral();
    const std::string saved = Path("work.morvex"), again = Path("again.morvex");
    dialogs_.answers.push_back(saved);
    form_->findChild<QAction*>(QStringLiteral("SaveSession"))->trigger();
    QVERIFY2(dialogs_.messages.empty(), dialogs_.messages.empty() ? "" : dialogs_.messages[0].c_str());
    QVERIFY(TRecentFiles(QStringLiteral("recent/sessions")).Files().contains(QFileInfo(QString::fromStdString(saved)).absoluteFilePath()));
    const TSessionState state = ReadSessionFile(saved).state;
    QCOMPARE(state.texts[static_cast<size_t>(ExactCoefficientIndex("PCy1"))], Edit("PCy1")->text().toStdString());
    QVERIFY(!state.free[static_cast<size_t>(ExactCoefficientIndex("PEy4"))]);
    QVERIFY(state.data.has_value());
    QCOMPARE(state.data->text, ReadText(DataFile("lateral.plt")));
    QVERIFY(!state.data->source_sha256.empty());
    QVERIFY(state.Channel(TFitChannel::kLateral).has_value());
    QVERIFY(!state.Channel(TFitChannel::kLateral)->report.empty());
    QVERIFY(state.Channel(TFitChannel::kLateral)->fitted.has_value());  // the values shown are the fit's
    QVERIFY(!state.Channel(TFitChannel::kAligning).has_value());
    QCOMPARE(state.fit.optimizer, TSessionOptimizer::kTrustRegion);
    QVERIFY(state.view.residuals);
    QCOMPARE(state.view.hidden_curves, std::vector<int>{1});
    QVERIFY(state.view.zoom.has_value());

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MORVEX_UI_TESTS_ONLY"), QStringLiteral("morvex::test::TestSessionChild"));
    env.insert(QLatin1String(kChildIn), QString::fromStdString(saved));
    env.insert(QLatin1String(kChildOut), QString::fromStdString(again));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForFinished(300000));
    QVERIFY2(child.exitCode() == 0, child.readAllStandardOutput().constData());
    QCOMPARE(ReadSessionFile(again).state, state);
    QCOMPARE(ReadText(again), ReadText(saved));
  }

  // The command line's session opens in the window as it fitted; the
  // window's session is accepted by the command line.
  void sessionsPassBetweenWindowAndCommandLine() {
#ifndef MORVEX_FIT_TOOL
    QSKIP("built without morvex-fit");
#else
    const std::string from_cli = Path("cli.morvex");
    QProcess cli;
    cli.start(QStringLiteral(MORVEX_FIT_TOOL),
              {QStringLiteral("fit"), QStringLiteral("--channel"), QStringLiteral("lateral"), QStringLiteral("--data"),
               QString::fromStdString(DataFile("lateral.plt")), QStringLiteral("--optimizer"), QStringLiteral("tr"),
               QStringLiteral("--save-session"), QString::fromStdString(from_cli)});
    QVERIFY(cli.waitForFinished(300000));
    QVERIFY2(cli.exitCode() == 0 || cli.exitCode() == 3, cli.readAllStandardError().constData());
    const TSessionState state = ReadSessionFile(from_cli).state;

    std::vector<TSessionOpeningLine> lines;
    QVERIFY(OpenAccepting(*form_, from_cli, &lines));
    QVERIFY(!lines.empty());
    QVERIFY(dialogs_.messages.empty());
    for (size_t i = 0; i < state.texts.size(); ++i) {
      QCOMPARE(form_->Coefficients().Text(Coefficients()[i].name), state.texts[i]);
      if (Coefficients()[i].name != "R0")
        QCOMPARE(form_->Coefficients().Free(Coefficients()[i].name), state.free[i]);
    }
    QCOMPARE(form_->DataSet().CaseCount(), ReadTireDataFile(DataFile("lateral.plt")).CaseCount());
    QCOMPARE(Actions(*form_)->LastFit(TFitChannel::kLateral)->report, state.Channel(TFitChannel::kLateral)->report);
    // The command line's fit left the values shown: a fit from them ending
    // at their cost is no fault.
    QVERIFY(form_->ValuesAreAFit(TFitChannel::kLateral));
    QVERIFY(form_->statusBar()->currentMessage().contains(
        state.Channel(TFitChannel::kLateral)->poor ? QStringLiteral("last lateral fit: poor")
                                                   : QStringLiteral("last lateral fit: good")));
    QCOMPARE(Find<QTabWidget>("Pagecontrol1")->currentIndex(), 0);
    QVERIFY(Find<QRadioButton>("RadioButton3")->isChecked());

    const std::string from_window = Path("window.morvex");
    Actions(*form_)->SaveSession(from_window);
    QCOMPARE(ReadSessionFile(from_window).state.data, state.data);
    QProcess back;
    back.start(QStringLiteral(MORVEX_FIT_TOOL),
               {QStringLiteral("fit"), QStringLiteral("--session"), QString::fromStdString(from_window)});
    QVERIFY(back.waitForFinished(300000));
    QVERIFY2(back.exitCode() == 0 || back.exitCode() == 3, back.readAllStandardError().constData());
    QVERIFY(back.readAllStandardOutput().contains("verdict="));
#endif
  }

  // The chart's colours paired per load and every camber at once are part
  // of the view: a fresh window (whose own settings say otherwise) shows
  // the same curves, with the same legend entry hidden, and a session
  // without them turns them off again.
  void chartOptionsTravelWithTheSession() {
    form_->LoadDataFile(DataFile("lateral.plt"));  // cambers 0 and 2, three loads each
    form_->ChartView()->SetPairedColours(true);
    form_->ChartView()->SetAllCambers(true);
    QCOMPARE(form_->Chart()->series().size(), 12);
    form_->ChartView()->ToggleCurve(7);  // the model of camber 2 at the second load: drawn only with every camber
    QStringList names;
    for (QAbstractSeries* series : form_->Chart()->series()) names << series->name();
    const TSessionState state = Actions(*form_)->CaptureState();
    QVERIFY(state.view.paired_colours);
    QVERIFY(state.view.all_cambers);
    QCOMPARE(state.view.hidden_curves, std::vector<int>{7});
    // The file keeps them.
    Actions(*form_)->SaveSession(Path("options.morvex"));
    QCOMPARE(ReadSessionFile(Path("options.morvex")).state.view, state.view);

    CloseWindow();
    ForgetChartSettings();
    QVERIFY(OpenWindow(dialogs_, true, true));
    QVERIFY(!form_->ChartView()->PairedColours());
    QVERIFY(OpenAccepting(*form_, Path("options.morvex")));
    QVERIFY(form_->ChartView()->PairedColours());
    QVERIFY(form_->ChartView()->AllCambers());
    const auto series = form_->Chart()->series();
    QStringList reopened;
    for (QAbstractSeries* s : series) reopened << s->name();
    QCOMPARE(reopened, names);
    QVERIFY(!series[7]->isVisible());
    QCOMPARE(std::count_if(series.begin(), series.end(), [](QAbstractSeries* s) { return !s->isVisible(); }), 1);
    // Each load's model line and markers in one colour.
    QCOMPARE(qobject_cast<QXYSeries*>(series[3])->color(), qobject_cast<QXYSeries*>(series[0])->color());
    QVERIFY(qobject_cast<QXYSeries*>(series[1])->color() != qobject_cast<QXYSeries*>(series[0])->color());
    QCOMPARE(Actions(*form_)->CaptureState().view, state.view);

    TSessionRead plain;
    plain.state = state;
    plain.state.view.paired_colours = false;
    plain.state.view.all_cambers = false;
    plain.state.view.hidden_curves.clear();
    QVERIFY(Actions(*form_)->OpenSessionRead(plain, Path("plain.morvex")));
    QVERIFY(!form_->ChartView()->PairedColours());
    QVERIFY(!form_->ChartView()->AllCambers());
    QCOMPARE(form_->Chart()->series().size(), 6);
    QCOMPARE(qobject_cast<QXYSeries*>(form_->Chart()->series()[0])->color(), QColor(255, 0, 0));
    ForgetChartSettings();
  }

  // The import dialog's choices and the run they read go into the session;
  // a fresh window opens them into the dialog's controls without reading
  // the run (it is gone by then: the data are embedded).  Other data
  // loaded later keep the choices but no longer name the run.
  void importSettingsAndRunTravelWithTheSession() {
    const QString run = QString::fromStdString(Path("rig-run.dat"));
    QVERIFY(QFile::copy(QString::fromStdString(kExampleRun), run));
    dialogs_.answers.push_back(run.toStdString());
    QTimer::singleShot(0, [] {
      auto* dialog = qobject_cast<TRunImportDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      dialog->findChild<QLineEdit*>(QStringLiteral("edtWarmup"))->setText(QStringLiteral("30"));
      dialog->findChild<QLineEdit*>(QStringLiteral("edtPressure"))->setText(QStringLiteral("off"));
      dialog->findChild<QLineEdit*>(QStringLiteral("edtLoads"))->setText(QStringLiteral("4000; 6000"));
      dialog->findChild<QComboBox*>(QStringLiteral("cbImportConvention"))->setCurrentIndex(1);  // SAE
      auto* slip = dialog->findChild<QComboBox*>(QStringLiteral("cbMap_slip-angle"));
      slip->setCurrentIndex(slip->findData(QStringLiteral("SA")));
      QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("btnImportUpdate")), Qt::LeftButton);
      QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("btnImportAccept")), Qt::LeftButton);
    });
    form_->ImportRunClick();
    QCOMPARE(form_->DataSet().Cases.size(), size_t{3});
    QCOMPARE(form_->DataSet().Cases[0].LoadCount(), size_t{2});  // the two loads asked for

    const std::string saved = Path("imported.morvex");
    Actions(*form_)->SaveSession(saved);
    const TSessionState state = ReadSessionFile(saved).state;
    QCOMPARE(state.import.convention, std::string("sae"));
    QCOMPARE(state.import.filters, std::string("warmup=30,pressure=off"));
    QCOMPARE(state.import.mapping, std::string("slip-angle=SA"));
    QCOMPARE(state.import.loads, std::string("4000,6000"));
    QCOMPARE(state.import.runs.size(), size_t{1});
    QCOMPARE(state.import.runs[0].path, QFileInfo(run).absoluteFilePath().toStdString());
    QCOMPARE(state.import.runs[0].sha256, Sha256Hex(ReadText(run.toStdString())));
    // The same choices import the same data on the command line's terms.
    TRawImportOptions options;
    options.convention = TRunConvention::kSae;
    ApplyFilterText(options, state.import.filters);
    options.mapping[static_cast<size_t>(TRunRole::kSlipAngle)] = "SA";
    options.loads = {4000, 6000};
    QCOMPARE(FormatTireData(ImportRunFile(run.toStdString(), options).data, {}),
             FormatTireData(form_->DataSet(), {}));

    QVERIFY(QFile::remove(run));
    CloseWindow();
    QVERIFY(OpenWindow(dialogs_, true, true));
    QVERIFY(!form_->ImportSettings().has_value());
    QVERIFY(OpenAccepting(*form_, saved));
    QVERIFY(dialogs_.messages.empty());
    QCOMPARE(form_->DataSet().Cases[0].LoadCount(), size_t{2});
    QVERIFY(form_->ImportSettings().has_value());
    QCOMPARE(*form_->ImportSettings(), state.import);
    QCOMPARE(Actions(*form_)->CaptureState().import, state.import);

    // The next import starts from the session's choices.
    QVERIFY(QFile::copy(QString::fromStdString(kExampleRun), run));
    dialogs_.answers.push_back(run.toStdString());
    QStringList shown;
    QTimer::singleShot(0, [&shown] {
      auto* dialog = qobject_cast<TRunImportDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      shown << dialog->findChild<QLineEdit*>(QStringLiteral("edtWarmup"))->text()
            << dialog->findChild<QLineEdit*>(QStringLiteral("edtPressure"))->text()
            << dialog->findChild<QLineEdit*>(QStringLiteral("edtLoads"))->text()
            << dialog->findChild<QComboBox*>(QStringLiteral("cbImportConvention"))->currentText()
            << dialog->findChild<QComboBox*>(QStringLiteral("cbMap_slip-angle"))->currentData().toString()
            << QString::number(dialog->Data().Cases[0].LoadCount());
      QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("btnImportCancel")), Qt::LeftButton);
    });
    form_->ImportRunClick();
    QCOMPARE(shown, QStringList({QStringLiteral("30"), QStringLiteral("off"), QStringLiteral("4000 6000"),
                                 QStringLiteral("SAE (load negative)"), QStringLiteral("SA"), QStringLiteral("2")}));

    // Data of a file: the choices stay, the run no longer stands for the data.
    form_->LoadDataFile(DataFile("lateral.plt"));
    const TSessionImport later = Actions(*form_)->CaptureState().import;
    QVERIFY(later.runs.empty());
    QCOMPARE(later.filters, state.import.filters);
  }

  // Choices a session holds that the dialog cannot take are named in its
  // report and leave the control as it was; the others are taken, and
  // written back the same whatever the decimal separator.
  void importDialogTakesWhatItCanOfASession() {
    TMemoryCoefficientSet set;
    TSessionImport settings;
    settings.format = "delimited";
    settings.delimiter = "tab";
    settings.convention = "hexagonal";
    settings.filters = "warmup=12.5,cell=0.25,min-bin=8";
    settings.mapping = "load=FZ,wheel-speed=N";
    settings.inclinations = "0, 2";
    SetDecimalSeparator(',');
    {
      TRunImportDialog dialog(kExampleRun, set, TFitChannel::kLateral, nullptr, &settings);
      QCOMPARE(dialog.findChild<QLineEdit*>(QStringLiteral("edtWarmup"))->text(), QStringLiteral("12,5"));
      QCOMPARE(dialog.findChild<QLineEdit*>(QStringLiteral("edtInclinations"))->text(), QStringLiteral("0 2"));
      QCOMPARE(dialog.findChild<QComboBox*>(QStringLiteral("cbImportConvention"))->currentIndex(), 0);
      QVERIFY2(dialog.ReportText().contains(QStringLiteral("sign convention 'hexagonal'")), qPrintable(dialog.ReportText()));
      QVERIFY(dialog.ReportText().contains(QStringLiteral("mapping 'wheel-speed=N'")));
      QVERIFY(!dialog.Data().Empty());
      const TSessionImport back = dialog.Settings();
      QCOMPARE(back.format, std::string("delimited"));
      QCOMPARE(back.delimiter, std::string("tab"));
      QCOMPARE(back.convention, std::string("auto"));
      QCOMPARE(back.filters, std::string("warmup=12.5,min-bin=8,cell=0.25"));
      QCOMPARE(back.mapping, std::string("load=FZ"));
      QCOMPARE(back.inclinations, std::string("0,2"));
    }
    SetDecimalSeparator('.');
    // Filters the command line would refuse are taken as none.
    settings.filters = "warmup=12.5,coffee=2";
    TRunImportDialog dialog(kExampleRun, set, TFitChannel::kLateral, nullptr, &settings);
    QVERIFY(dialog.findChild<QLineEdit*>(QStringLiteral("edtWarmup"))->text().isEmpty());
    QVERIFY(dialog.ReportText().contains(QStringLiteral("coffee")));
  }

  // After opening, "Fit report" shows the session's report of the page
  // shown, with the text it was saved with, not the report this window
  // made before; a session without one takes the report away.
  void fitReportIsTheSessionsAfterOpening() {
    WorkOnLateral();  // a trust-region fit: standard errors and notes
    const std::string lateral = Path("lateral-fit.morvex");
    Actions(*form_)->SaveSession(lateral);
    const TSessionChannel saved = *ReadSessionFile(lateral).state.Channel(TFitChannel::kLateral);

    // Read back, the report formats to the text saved.
    TFitReport read = FitReportFromText(saved.report);
    read.verdict = form_->Session().LastReport()->verdict;
    QCOMPARE(FormatFitReport(read), saved.report);
    QVERIFY(read.has_standard_errors);
    QCOMPARE(read.curves.size(), form_->Session().LastReport()->curves.size());

    // Other work in this window: an aligning fit and its report shown.
    form_->LoadDataFile(DataFile("aligning.plt"));
    Find<QTabWidget>("Pagecontrol1")->setCurrentIndex(2);
    Fit("Button6");
    Click("Button9");
    TFitReportWindow* window = form_->ReportWindow();
    QVERIFY(window != nullptr && window->isVisible());
    auto* text = window->findChild<QPlainTextEdit*>(QStringLiteral("ReportText"));
    QVERIFY(text->toPlainText().startsWith(QStringLiteral("fit channel=aligning")));

    QVERIFY(OpenAccepting(*form_, lateral));
    QVERIFY(window->isVisible());
    QCOMPARE(text->toPlainText().toStdString(), saved.report);
    QVERIFY(window->findChild<QLabel*>(QStringLiteral("ReportSummary"))->text().startsWith(QStringLiteral("Lateral")));
    QCOMPARE(window->findChild<QTableWidget*>(QStringLiteral("ReportCurves"))->rowCount(),
             static_cast<int>(read.curves.size()));
    window->hide();
    Click("Button9");
    QVERIFY(window->isVisible());
    QCOMPARE(text->toPlainText().toStdString(), saved.report);

    // A session of values without a fit: no report to show.
    TSessionRead plain;
    plain.state = Actions(*form_)->CaptureState();
    for (auto& channel : plain.state.channels) channel.reset();
    QVERIFY(Actions(*form_)->OpenSessionRead(plain, Path("no-fit.morvex")));
    QVERIFY(!window->isVisible());
    QVERIFY(!Find<QAbstractButton>("Button9")->isEnabled());
    QVERIFY(!form_->Session().LastReport().has_value());

    QVERIFY_EXCEPTION_THROWN(FitReportFromText("verdict good\n"), Exception);
  }

  // The dialog shows a fit's RMS to five significant digits; the file
  // keeps every digit.
  void openingDialogRoundsTheRms() {
    WorkOnLateral();
    TSessionRead read;
    read.state = Actions(*form_)->CaptureState();
    read.state.Channel(TFitChannel::kLateral)->rms = 14.673019384756123;
    const std::string path = Path("rms.morvex");
    WriteSessionFile(path, read.state);
    QCOMPARE(ReadSessionFile(path).state.Channel(TFitChannel::kLateral)->rms, 14.673019384756123);
    std::vector<TSessionOpeningLine> lines;
    QVERIFY(OpenAccepting(*form_, path, &lines));
    QString shown;
    for (const TSessionOpeningLine& line : lines) shown += QString::fromStdString(line.text) + QLatin1Char('\n');
    QVERIFY2(shown.contains(QStringLiteral("last fit good, RMS 14.673")) ||
                 shown.contains(QStringLiteral("last fit poor, RMS 14.673")),
             qPrintable(shown));
    QVERIFY2(!shown.contains(QStringLiteral("14.6730")), qPrintable(shown));
  }

  // A malformed session is refused with its line and reason before any
  // question; a declined one changes nothing either.
  void malformedOrDeclinedSessionChangesNothing() {
    form_->LoadDataFile(DataFile("lateral.plt"));
    const std::string good = Path("good.morvex");
    Actions(*form_)->SaveSession(good);
    form_->LoadDataFile(DataFile("aligning.plt"));
    Edit("PCy1")->setText(QStringLiteral("1.21"));
    const TSessionState before = Actions(*form_)->CaptureState();
    const std::string undo_name = form_->History().UndoName();

    std::string text = ReadText(good);
    const size_t at = text.find("view-residuals off");
    QVERIFY(at != std::string::npos);
    const int line = static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(at), '\n')) + 1;
    text.replace(at, 18, "view-residuals maybe");
    const std::string bad = Path("bad.morvex");
    WriteText(bad, text);
    bool asked = false;
    Actions(*form_)->SetConfirm([&asked](const QString&, const std::vector<TSessionOpeningLine>&) {
      asked = true;
      return true;
    });
    QVERIFY(!Actions(*form_)->OpenSession(bad));
    QVERIFY(!asked);
    QCOMPARE(dialogs_.messages.size(), size_t(1));
    QVERIFY2(dialogs_.messages[0].find("line " + std::to_string(line)) != std::string::npos, dialogs_.messages[0].c_str());
    QVERIFY(dialogs_.messages[0].find("residuals") != std::string::npos);
    QCOMPARE(Actions(*form_)->CaptureState(), before);

    Actions(*form_)->SetConfirm([](const QString&, const std::vector<TSessionOpeningLine>&) { return false; });
    QVERIFY(!Actions(*form_)->OpenSession(good));
    QCOMPARE(Actions(*form_)->CaptureState(), before);
    QCOMPARE(form_->History().UndoName(), undo_name);
  }

  // Opening is one undo step for the panel; while a fit runs it waits.
  void openingIsOneUndoStepAndWaitsForAFit() {
    form_->LoadDataFile(DataFile("lateral.plt"));
    Edit("PCy1")->setText(QStringLiteral("1.41"));
    const std::string saved = Path("undo.morvex");
    Actions(*form_)->SaveSession(saved);
    Edit("PCy1")->setText(QStringLiteral("1.22"));
    QVERIFY(OpenAccepting(*form_, saved));
    QCOMPARE(Edit("PCy1")->text(), QStringLiteral("1.41"));
    form_->Undo();
    QCOMPARE(Edit("PCy1")->text(), QStringLiteral("1.22"));

    std::atomic<bool> release{false};
    form_->SetFitRunner([&release](TFitChannel channel, TCoefficientSet&, const TTireDataSet&, TOptimizerChoice,
                                   const std::string&, IFitHost&) {
      while (!release) QThread::msleep(5);
      TFitOutcome outcome;
      outcome.channel = channel;
      return outcome;
    });
    Click("Button1");
    QVERIFY(form_->FitRunning());
    QVERIFY(!OpenAccepting(*form_, saved));
    release = true;
    QVERIFY(WaitForFit());
    QCOMPARE(Edit("PCy1")->text(), QStringLiteral("1.22"));
  }

  // The report button writes a PDF of the fitted channel whose text names
  // the channel and the verdict; a file the window read is never its
  // output.
  void reportButtonWritesThePdf() {
    WorkOnLateral();
    const std::string pdf = Path("report.pdf");
    dialogs_.answers.push_back(pdf);
    form_->findChild<QAction*>(QStringLiteral("ValidationReport"))->trigger();
    QVERIFY2(dialogs_.messages.empty(), dialogs_.messages.empty() ? "" : dialogs_.messages[0].c_str());
    QVERIFY(QFileInfo(QString::fromStdString(pdf)).size() > 0);
    QVERIFY(form_->statusBar()->currentMessage().contains(QStringLiteral("report.pdf")));
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (!pdftotext.isEmpty()) {
      QProcess text;
      text.start(pdftotext, {QString::fromStdString(pdf), QStringLiteral("-")});
      QVERIFY(text.waitForFinished(60000));
      const QString out = QString::fromUtf8(text.readAllStandardOutput()).toLower();
      QVERIFY2(out.contains(QStringLiteral("lateral")), qPrintable(out.left(400)));
      const bool poor = form_->LastVerdict().poor;
      QVERIFY(out.contains(poor ? QStringLiteral("poor") : QStringLiteral("good")));
    }

    // Other data: the lateral fit was not made on them and leaves the
    // report; the aligning fit on them is its channel.
    form_->LoadDataFile(DataFile("aligning.plt"));
    QVERIFY(!Actions(*form_)->LastFit(TFitChannel::kLateral).has_value());
    Fit("Button6");
    QVERIFY(Actions(*form_)->LastFit(TFitChannel::kAligning).has_value());
    const std::string second = Path("second.pdf");
    Actions(*form_)->WriteValidationReport(second);
    if (!pdftotext.isEmpty()) {
      QProcess text;
      text.start(pdftotext, {QString::fromStdString(second), QStringLiteral("-")});
      QVERIFY(text.waitForFinished(60000));
      const QString out = QString::fromUtf8(text.readAllStandardOutput());
      QVERIFY2(out.contains(QStringLiteral("Aligning")), qPrintable(out.left(400)));
      QVERIFY2(!out.contains(QStringLiteral("Lateral force")), qPrintable(out.left(400)));
    }

    // Data read from a file named like a report: that file stays.
    const std::string data_html = Path("data.html");
    QVERIFY(QFile::copy(QString::fromStdString(DataFile("lateral.plt")), QString::fromStdString(data_html)));
    form_->LoadDataFile(data_html);
    const std::string original = ReadText(data_html);
    dialogs_.answers.push_back(data_html);
    form_->findChild<QAction*>(QStringLiteral("ValidationReport"))->trigger();
    QCOMPARE(dialogs_.messages.size(), size_t(1));
    QCOMPARE(ReadText(data_html), original);
  }

  // The opening dialog lists the lines, warnings marked; with
  // MORVEX_SCREENSHOT_DIR set its picture is saved there.
  void openingDialogShowsTheLines() {
    WorkOnLateral();
    const std::string saved = Path("shown.morvex");
    Actions(*form_)->SaveSession(saved);
    TSessionRead read = ReadSessionFile(saved);
    read.state.data->source_sha256 = std::string(64, '0');  // as if the source changed since
    const auto unread = DescribeSessionOpening(read, false);
    const auto lines = DescribeSessionOpening(read, true);
    std::unique_ptr<QDialog> dialog(NewSessionOpeningDialog(form_.get(), QString::fromStdString(saved), unread,
                                                            [&lines] { return lines; }));
    auto* list = dialog->findChild<QListWidget*>(QStringLiteral("SessionOpeningLines"));
    QCOMPARE(list->count(), static_cast<int>(unread.size()));
    const QString shots = qEnvironmentVariable("MORVEX_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
      dialog->show();
      QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
      QVERIFY(dialog->grab().save(QDir(shots).filePath(QStringLiteral("open-session-dialog.png"))));
    }
    // The source is compared only when the user asks.
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("SessionCheckSources")), Qt::LeftButton);
    QCOMPARE(list->count(), static_cast<int>(lines.size()));
    bool any_warning = false;
    for (size_t i = 0; i < lines.size(); ++i) {
      QVERIFY(list->item(static_cast<int>(i))->text().endsWith(QString::fromStdString(lines[i].text)));
      any_warning = any_warning || lines[i].warning;
      QCOMPARE(list->item(static_cast<int>(i))->font().bold(), lines[i].warning);
    }
    QVERIFY(any_warning);
    if (!shots.isEmpty())
      QVERIFY(dialog->grab().save(QDir(shots).filePath(QStringLiteral("open-session-dialog-compared.png"))));
  }
};

namespace {
RegisterUiTest<TestSessionChild> register_child;
RegisterUiTest<TestSessionActions> register_actions;
}  // namespace

}  // namespace morvex::test

#include "tst_sessionactions.moc"
