// "Build tire from runs" in the window: a small test programme recorded from
// a published tire with combined-slip coefficients (warm-up, load wobble,
// noise; TYDEX files carrying the rated load and radius), imported, fitted
// on the worker thread, cancelled, exported, and the "Combined" page drawn
// from the result.
#include <QAbstractSeries>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLegend>
#include <QLegendMarker>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <memory>
#include <sstream>

#include "examples/RunRecorderProgramme.h"
#include "files/SessionFile.h"
#include "files/TirFile.h"
#include "ui/BuildTireDialog.h"
#include "ui/CombinedPage.h"
#include "ui/SessionActions.h"
#include "ui/tests/UiTests.h"
#include "ui/tests/WindowFixture.h"

namespace morvex::test {

namespace {

constexpr int kFitTimeoutMs = 300000;  // generous: the sanitizer build is slow

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The value of "KEY = value" in a property file's text; empty if absent.
std::string TirValue(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
    const size_t eq = line.find('=', start + key.size());
    if (eq == std::string::npos || line.find_first_not_of(" \t", start + key.size()) != eq) continue;
    std::istringstream value(line.substr(eq + 1));
    std::string word;
    value >> word;
    return word;
  }
  return {};
}

}  // namespace

class TestBuildTire : public QObject, TWindowFixture {
  Q_OBJECT

  ScriptedDialogs dialogs_;
  QTemporaryDir runs_dir_;
  std::vector<std::string> runs_;
  examples::TCombinedTire tire_;

  std::unique_ptr<TBuildTireDialog> NewDialog() {
    auto dialog = std::make_unique<TBuildTireDialog>();
    dialog->SetRuns(runs_);
    return dialog;
  }

  static QString Cell(QTableWidget* table, int row, int column) {
    QTableWidgetItem* item = table->item(row, column);
    return item ? item->text() : QString();
  }

  static int RowOf(QTableWidget* table, const QString& stage) {
    for (int row = 0; row < table->rowCount(); ++row)
      if (Cell(table, row, 0) == stage) return row;
    return -1;
  }

 private slots:
  void initTestCase() {
    QVERIFY(runs_dir_.isValid());
    tire_ = examples::ReadCombinedTire(std::string(MORVEX_COMBINED_TIRES_DIR) + "/car-185-80R14.txt");
    const examples::TProgrammeOptions o = examples::SmallTydexProgramme(5);
    runs_ = examples::WriteProgramme(tire_, runs_dir_.path().toStdString(), o);
    QCOMPARE(runs_.size(), size_t{3});
  }

  void init() {
    dialogs_ = ScriptedDialogs();
    SetDialogs(&dialogs_);
  }

  void cleanup() { SetDialogs(nullptr); }

  // The programme is shown before any fit: every run with the stage it
  // feeds, its set-points and points; the fit then gives a verdict and RMS
  // per stage, USE_MODE 4, and the charts of the stages and the Combined page.
  void programmeFitsEveryStageOnTheWorker() {
    auto dialog = NewDialog();
    QVERIFY2(dialog->Programme() && !dialog->Programme()->Empty(), qPrintable(dialog->StatusText()));
    QTableWidget* feeds = dialog->FeedTable();
    QVERIFY(feeds->rowCount() >= 3);
    QStringList stages;
    for (int row = 0; row < feeds->rowCount(); ++row) {
      stages << Cell(feeds, row, 1);
      QVERIFY2(Cell(feeds, row, 3).toInt() > 0 || Cell(feeds, row, 1) == "nothing", qPrintable(Cell(feeds, row, 0)));
    }
    for (const char* stage : {"lateral", "aligning", "longitudinal", "combined"})
      QVERIFY2(stages.contains(QLatin1String(stage)), qPrintable(stages.join(", ")));
    const int combined_row = static_cast<int>(stages.indexOf(QStringLiteral("combined")));
    QCOMPARE(Cell(feeds, combined_row, 0), QStringLiteral("combined.tdx"));
    QVERIFY2(Cell(feeds, combined_row, 2).contains(QStringLiteral("slip angles")), qPrintable(Cell(feeds, combined_row, 2)));
    QVERIFY(dialog->ProgrammeText().contains(QStringLiteral("combined.tdx")));
    QVERIFY(!dialog->findChild<QPushButton*>(QStringLiteral("ExportProgrammeTir"))->isEnabled());

    QSignalSpy finished(dialog.get(), &TBuildTireDialog::ProgrammeFinished);
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("RunProgramme")), Qt::LeftButton);
    QVERIFY(dialog->Running());
    // While the worker fits, the dialog answers: the run buttons are off,
    // Cancel is on.
    QVERIFY(dialog->findChild<QPushButton*>(QStringLiteral("CancelProgramme"))->isEnabled());
    QVERIFY(!dialog->findChild<QPushButton*>(QStringLiteral("RunProgramme"))->isEnabled());
    QVERIFY(finished.wait(kFitTimeoutMs));
    QVERIFY(!dialog->Running());
    const TTireProgrammeResult* result = dialog->Result();
    QVERIFY2(result, qPrintable(dialog->StatusText()));
    QVERIFY(!result->cancelled);
    QCOMPARE(result->use_mode, 4);

    QTableWidget* table = dialog->StageTable();
    QCOMPARE(table->rowCount(), 8);
    for (const char* stage : {"lateral", "aligning", "longitudinal", "Fx combined", "Fy combined"}) {
      const int row = RowOf(table, QLatin1String(stage));
      QVERIFY2(row >= 0, stage);
      QVERIFY2(!Cell(table, row, 2).startsWith(QStringLiteral("not fitted")), qPrintable(Cell(table, row, 2)));
      bool number = false;
      QVERIFY(Cell(table, row, 3).toDouble(&number) > 0 && number);
      QVERIFY(Cell(table, row, 1).toInt() > 0);
    }
    for (int row = 0; row < table->rowCount(); ++row)
      QVERIFY2(!Cell(table, row, 2).isEmpty(), qPrintable(Cell(table, row, 0)));
    QVERIFY(dialog->StatusText().contains(QStringLiteral("USE_MODE 4")));

    // The selected stage's chart: the data and the model of the Fy stage,
    // per held slip angle; of the lateral stage, per load.
    dialog->StageTable()->setCurrentCell(RowOf(table, "Fy combined"), 0);
    QChart* chart = dialog->StageChart()->chart();
    QCOMPARE(chart->series().size(), qsizetype{8});
    QVERIFY(chart->title().startsWith(QStringLiteral("Fy combined")));
    dialog->StageTable()->setCurrentCell(RowOf(table, "lateral"), 0);
    QCOMPARE(chart->series().size(), qsizetype{6});

    // The Combined page: Fx and Fy against slip ratio per held slip angle
    // (model and data each), the ellipse per load.
    TCombinedPage* page = dialog->CombinedPage();
    QVERIFY(page->HasResult());
    QCOMPARE(page->CamberSelector()->count(), 2);
    QCOMPARE(page->LoadSelector()->count(), 3);
    QCOMPARE(page->FxChart()->series().size(), qsizetype{8});
    QCOMPARE(page->FyChart()->series().size(), qsizetype{8});
    // Per load: one marker series and one line per held slip angle.
    QCOMPARE(page->EllipseChart()->series().size(), qsizetype{3 * (1 + 4)});
    page->CamberSelector()->setCurrentIndex(1);
    QVERIFY2(page->FxChart()->title().contains(QStringLiteral("inclination 3 deg")), qPrintable(page->FxChart()->title()));

    // Pictures of the dialog for a person to look at, when asked for.
    const QString shots = qEnvironmentVariable("MORVEX_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
      page->CamberSelector()->setCurrentIndex(0);
      dialog->show();
      QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
      for (int row = 0; row < table->rowCount(); ++row)
        qInfo("%s | %s | %s | %s", qPrintable(Cell(table, row, 0)), qPrintable(Cell(table, row, 1)),
              qPrintable(Cell(table, row, 2)), qPrintable(Cell(table, row, 3)));
      dialog->Pages()->setCurrentIndex(0);
      QVERIFY(dialog->grab().save(QDir(shots).filePath(QStringLiteral("build-tire-programme.png"))));
      dialog->Pages()->setCurrentIndex(1);
      dialog->StageTable()->setCurrentCell(RowOf(table, "Fx combined"), 0);
      QTest::qWait(50);  // the chart's scene repaints from the event loop
      QVERIFY(dialog->grab().save(QDir(shots).filePath(QStringLiteral("build-tire-stages.png"))));
      dialog->Pages()->setCurrentIndex(2);
      QTest::qWait(50);
      QVERIFY(dialog->grab().save(QDir(shots).filePath(QStringLiteral("build-tire-combined.png"))));
    }
  }

  // The export writes a .tir that the strict reader reads, with USE_MODE 4,
  // the data's ranges and the stage header; a run file is never the output.
  void exportWritesAUseMode4TirAndNeverARun() {
    auto dialog = NewDialog();
    QSignalSpy finished(dialog.get(), &TBuildTireDialog::ProgrammeFinished);
    dialog->RunProgramme();
    QVERIFY(finished.wait(kFitTimeoutMs));
    QVERIFY(dialog->Result());

    // A run file as the output: refused, the run unchanged.
    const std::string run_before = ReadAll(runs_[2]);
    dialogs_.answers.push_back(runs_[2]);
    QVERIFY(!dialog->ExportTir());
    QCOMPARE(ReadAll(runs_[2]), run_before);
    QVERIFY(dialog->StatusText().contains(QStringLiteral("no property file")));
    // A new .tir: written.
    QTemporaryDir out_dir;
    const std::string tir = QDir(out_dir.path()).filePath(QStringLiteral("tire.tir")).toStdString();
    dialogs_.answers.push_back(tir);
    QCOMPARE(dialog->ExportTir(), std::optional<std::string>(tir));
    const std::string text = ReadAll(tir);
    QCOMPARE(TirValue(text, "USE_MODE"), std::string("4"));
    QVERIFY(text.find("stage Fy combined") != std::string::npos);
    QVERIFY(text.find("combined.tdx") != std::string::npos);
    QVERIFY(std::stod(TirValue(text, "FZMAX")) < 1.6 * tire_.lateral.Fz0);
    QVERIFY(std::stod(TirValue(text, "CAMMAX")) > 0.04 && std::stod(TirValue(text, "CAMMAX")) < 0.06);
    QVERIFY(std::stod(TirValue(text, "RBX1")) != 0);
    TMemoryCoefficientSet set;
    ImportTir(set, tir, TSignConvention::kIso);
    QVERIFY(std::fabs(set.Value("R0") - tire_.r0) < 1e-4 * tire_.r0);
    // Written in ISO, as the published file is: the cornering stiffness
    // keeps the published sign.
    QVERIFY(std::stod(TirValue(text, "PKY1")) * tire_.lateral.PKy1 > 0);
    // A name without an extension gets .tir.
    const std::string bare = QDir(out_dir.path()).filePath(QStringLiteral("bare")).toStdString();
    dialogs_.answers.push_back(bare);
    QCOMPARE(dialog->ExportTir(), std::optional<std::string>(bare + ".tir"));
  }

  // Cancel: the running stage stops at its best point, later stages are not
  // fitted, and the dialog says so; Fz0 and R0 typed wrong stop before any fit.
  void cancelEndsTheProgrammeAndBadFieldsStopIt() {
    auto dialog = NewDialog();
    dialog->SetOverrides(std::nullopt, std::nullopt);
    dialog->findChild<QLineEdit*>(QStringLiteral("ProgrammeR0"))->setText(QStringLiteral("-0.3"));
    QSignalSpy finished(dialog.get(), &TBuildTireDialog::ProgrammeFinished);
    dialog->RunProgramme();
    QVERIFY(!dialog->Running());
    QVERIFY2(dialog->StatusText().contains(QStringLiteral("not a positive number")), qPrintable(dialog->StatusText()));
    QCOMPARE(finished.count(), 0);

    dialog->SetOverrides(std::nullopt, tire_.r0);
    dialog->RunProgramme();
    QVERIFY(dialog->Running());
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("CancelProgramme")), Qt::LeftButton);
    QVERIFY(finished.wait(kFitTimeoutMs));
    const TTireProgrammeResult* result = dialog->Result();
    QVERIFY(result && result->cancelled);
    QVERIFY(dialog->StatusText().startsWith(QStringLiteral("Cancelled")));
    const int last = dialog->StageTable()->rowCount() - 1;
    QVERIFY(Cell(dialog->StageTable(), last, 2).contains(QStringLiteral("cancelled")));
    QVERIFY(dialog->findChild<QPushButton*>(QStringLiteral("RunProgramme"))->isEnabled());

    // Closing while a fit runs: the dialog stops the worker and goes.
    dialog->RunProgramme();
    QVERIFY(dialog->Running());
    dialog.reset();
  }

  // Delimited runs carry no radius: the dialog asks for R0 and fits nothing
  // until it is typed.  A run that cannot be read leaves no programme and
  // says which file.
  void missingRadiusAndUnreadableRunsStopBeforeTheFit() {
    QTemporaryDir dir;
    examples::TProgrammeOptions o;
    o.rate_hz = 20;
    o.inclinations = {0};
    o.load_factors = {0.7, 1.3};
    o.held_slip_angles = {-5, 5};
    o.slip_angle_period = 12;
    o.slip_ratio_period = 12;
    o.warmup_seconds = 0;
    const auto delimited = examples::WriteProgramme(tire_, dir.path().toStdString(), o);
    TBuildTireDialog dialog;
    dialog.SetRuns(delimited);
    QVERIFY2(dialog.Programme() && !dialog.Programme()->Empty(), qPrintable(dialog.StatusText()));
    QSignalSpy finished(&dialog, &TBuildTireDialog::ProgrammeFinished);
    dialog.RunProgramme();
    QVERIFY(!dialog.Running());
    QVERIFY2(dialog.StatusText().contains(QStringLiteral("type R0")), qPrintable(dialog.StatusText()));
    QCOMPARE(finished.count(), 0);

    const std::string missing = QDir(dir.path()).filePath(QStringLiteral("missing.dat")).toStdString();
    dialog.SetRuns({delimited[0], missing});
    QVERIFY(dialog.Programme() == nullptr);
    QVERIFY2(dialog.StatusText().contains(QStringLiteral("missing.dat")), qPrintable(dialog.StatusText()));
    QVERIFY(!dialog.findChild<QPushButton*>(QStringLiteral("RunProgramme"))->isEnabled());
    QCOMPARE(dialog.FeedTable()->rowCount(), 0);
  }

  // The programme and its fit travel in the window's session: a fresh
  // window opens it into the dialog (made for it) without reading a run,
  // the runs being moved away meanwhile, with the same stage table, and the
  // .tir it exports is byte for byte the one exported before (but for the
  // minute of writing in its first line).
  void programmeTravelsInTheWindowsSession() {
    QVERIFY(OpenWindow(dialogs_, false));
    Click("BuildTireFromRuns");
    TBuildTireDialog* dialog = BuildTireDialogOf(form_.get());
    QVERIFY(dialog != nullptr);
    dialog->SetRuns(runs_);
    QSignalSpy finished(dialog, &TBuildTireDialog::ProgrammeFinished);
    dialog->RunProgramme();
    QVERIFY(finished.wait(kFitTimeoutMs));
    QVERIFY(dialog->Result());
    QTemporaryDir out_dir;
    auto out = [&out_dir](const char* name) { return QDir(out_dir.path()).filePath(QLatin1String(name)).toStdString(); };
    dialogs_.answers.push_back(out("before.tir"));
    QVERIFY(dialog->ExportTir());
    auto cells = [](QTableWidget* table) {
      QStringList all;
      for (int row = 0; row < table->rowCount(); ++row)
        for (int column = 0; column < table->columnCount(); ++column) all << Cell(table, row, column);
      return all;
    };
    const QStringList stages = cells(dialog->StageTable()), feeds = cells(dialog->FeedTable());
    QVERIFY(stages.size() >= 5);
    auto* actions = form_->findChild<TSessionActions*>(QStringLiteral("SessionActions"));
    actions->SaveSession(out("programme.morvex"));
    const TSessionState saved = ReadSessionFile(out("programme.morvex")).state;
    QVERIFY(saved.programme.has_value() && saved.programme->fit.has_value());
    QCOMPARE(saved.programme->runs.size(), runs_.size());
    CloseWindow();

    // The runs are gone while the session opens and the .tir is written.
    struct TMovedAway {
      std::vector<std::string> paths;
      ~TMovedAway() {
        for (const std::string& path : paths) QFile::rename(QString::fromStdString(path + ".away"), QString::fromStdString(path));
      }
    } moved;
    for (const std::string& run : runs_) {
      QVERIFY(QFile::rename(QString::fromStdString(run), QString::fromStdString(run + ".away")));
      moved.paths.push_back(run);
    }
    QVERIFY(OpenWindow(dialogs_, false));
    QVERIFY(BuildTireDialogOf(form_.get()) == nullptr);
    actions = form_->findChild<TSessionActions*>(QStringLiteral("SessionActions"));
    actions->SetConfirm([](const QString&, const std::vector<TSessionOpeningLine>&) { return true; });
    QVERIFY(actions->OpenSession(out("programme.morvex")));
    QVERIFY2(dialogs_.messages.empty(), dialogs_.messages.empty() ? "" : dialogs_.messages[0].c_str());
    dialog = BuildTireDialogOf(form_.get());
    QVERIFY(dialog != nullptr);
    QCOMPARE(dialog->Runs(), runs_);
    QCOMPARE(cells(dialog->StageTable()), stages);
    QCOMPARE(cells(dialog->FeedTable()), feeds);
    QVERIFY(dialog->findChild<QPushButton*>(QStringLiteral("ExportProgrammeTir"))->isEnabled());
    dialogs_.answers.push_back(out("after.tir"));
    QVERIFY(dialog->ExportTir());
    // The same file but for the minute it was written at.
    auto without_write_time = [](std::string text) {
      const size_t at = text.find(" written ");
      if (at != std::string::npos && at < text.find('\n')) text.erase(at, text.find('\n') - at);
      return text;
    };
    QCOMPARE(without_write_time(ReadAll(out("after.tir"))), without_write_time(ReadAll(out("before.tir"))));
    const QString shots = qEnvironmentVariable("MORVEX_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
      Click("BuildTireFromRuns");
      QVERIFY(QTest::qWaitForWindowExposed(dialog));
      QVERIFY(dialog->grab().save(QDir(shots).filePath(QStringLiteral("build-tire-restored.png"))));
      dialog->Pages()->setCurrentIndex(2);
      QVERIFY(dialog->grab().save(QDir(shots).filePath(QStringLiteral("build-tire-restored-combined.png"))));
    }

    // The window's validation report holds the restored programme's pages
    // (no run read: they are still away).
    actions->WriteValidationReport(out("report.pdf"));
    QVERIFY(QFileInfo(QString::fromStdString(out("report.pdf"))).size() > 0);
    QVERIFY(form_->statusBar()->currentMessage().contains(QStringLiteral("the programme's stages")));
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (!pdftotext.isEmpty()) {
      QProcess text;
      text.start(pdftotext, {QString::fromStdString(out("report.pdf")), QStringLiteral("-")});
      QVERIFY(text.waitForFinished(60000));
      const QString pdf = QString::fromUtf8(text.readAllStandardOutput());
      for (const char* stage : {"Fx combined", "Fy combined", "USE_MODE", "combined.tdx"})
        QVERIFY2(pdf.contains(QLatin1String(stage)), stage);
    }

    // Saved again, the session holds the programme with the same fit.
    actions->SaveSession(out("again.morvex"));
    const TSessionState again = ReadSessionFile(out("again.morvex")).state;
    QVERIFY(again.programme.has_value() && again.programme->fit.has_value());
    QCOMPARE(again.programme->fit->texts, saved.programme->fit->texts);
    QCOMPARE(again.programme->lateral_text, saved.programme->lateral_text);
    CloseWindow();
  }

  // The main window's entry opens the one dialog and keeps it.
  void mainWindowButtonOpensTheDialog() {
    QVERIFY(OpenWindow(dialogs_, false));
    auto* button = Find<QPushButton>("BuildTireFromRuns");
    QCOMPARE(button->text(), QStringLiteral("Build tire from runs\u2026"));
    const QString shots = qEnvironmentVariable("MORVEX_SCREENSHOT_DIR");
    if (!shots.isEmpty()) QVERIFY(form_->grab().save(QDir(shots).filePath(QStringLiteral("main-window.png"))));
    QVERIFY(BuildTireDialogOf(form_.get()) == nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    TBuildTireDialog* dialog = BuildTireDialogOf(form_.get());
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->Pages()->tabText(2), QStringLiteral("Combined"));
    dialog->close();
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(BuildTireDialogOf(form_.get()), dialog);
    CloseWindow();
  }
};

namespace {
RegisterUiTest<TestBuildTire> register_build_tire;
}

}  // namespace morvex::test

#include "tst_buildtire.moc"
