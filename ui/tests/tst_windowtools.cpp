// The main window's tools beside its specified commands, driven as a user
// drives them: grid editing and resizing, undo and redo, cancelling a fit,
// the single-camber notice, the verdict, error subjects, shortcuts, recent
// files, a grown window and the chart's zoom, legend, residuals and export.
#include <fstream>
#include <optional>

#include <QAbstractItemView>
#include <QApplication>
#include <QChart>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScatterSeries>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QAbstractAxis>
#include <QChart>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QValueAxis>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "files/CoefficientFile.h"
#include "fitting/ChannelModel.h"
#include "fitting/FitReport.h"
#include "numerics/LxBasics.h"
#include "tiremodel/CoefficientTable.h"
#include "ui/ChartView.h"
#include "ui/FitReportWindow.h"
#include "ui/PanelHistory.h"
#include "ui/Popcalcul.h"
#include "ui/ResultPlot.h"
#include "ui/TirChoices.h"
#include "ui/Unit1.h"
#include "ui/tests/UiTests.h"
#include "ui/tests/WindowFixture.h"

namespace morvex::test {

namespace {

// Spins on the fit's thread until the fit is asked to stop (true), or a
// minute has passed (false): a guard against a hanging test, not a measure.
bool SpinUntilCancelled(IFitHost& host) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (std::chrono::steady_clock::now() < give_up) {
    if (host.CancelRequested()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// Notes whether a widget was ever hidden while it is watched.
class TVisibilityWatch : public QObject {
 public:
  TVisibilityWatch(QWidget* widget, bool* hidden) : hidden_(hidden) { widget->installEventFilter(this); }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Hide) *hidden_ = true;
    return false;
  }

 private:
  bool* hidden_;
};

}  // namespace

class TestWindowTools : public QObject, TWindowFixture {
  Q_OBJECT

  ScriptedDialogs dialogs_;
  void Load(const char* file) {
    dialogs_.answers.push_back(DataFile(file));
    Click("Button2");
  }
  TCoefficientSnapshot Panel() const { return TakeSnapshot(form_->Coefficients()); }
  QTableWidget* Grid() const { return Find<QTableWidget>("SG1"); }
  QPoint CellCentre(int col, int row) const {
    return Grid()->visualItemRect(Grid()->item(row, col)).center();
  }
  // Starts the aligning fit and waits until it reports an iteration.
  [[nodiscard]] bool StartAligningFitAndWaitForProgress() {
    Click("Button6");
    return QTest::qWaitFor(
        [this] {
          return form_->FitRunning() && wait_->isVisible() &&
                 form_->statusBar()->currentMessage().startsWith(QStringLiteral("Iteration"));
        },
        120000);
  }
  QLineEdit* CellEditor(int col, int row) const {
    return qobject_cast<QLineEdit*>(Grid()->indexWidget(Grid()->model()->index(row, col)));
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

  // ------------------------------------------------------------------ grid

  void typingOnASelectedCellReplacesItsText() {
    Load("lateral.plt");
    auto* grid = Grid();
    grid->setFocus();
    // First click selects; a second, later click on the selected cell used
    // to open the editor with the cursor at the click point.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CellCentre(1, 2));
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CellCentre(1, 2));
    QVERIFY(CellEditor(1, 2) == nullptr);
    // The first key opens the editor; the others go where the focus is.
    QTest::keyClick(grid, Qt::Key_9);
    QVERIFY(CellEditor(1, 2) != nullptr);
    QTest::keyClicks(CellEditor(1, 2), QStringLiteral("876"));
    QCOMPARE(CellEditor(1, 2)->text(), QStringLiteral("9876"));
    QTest::keyClick(CellEditor(1, 2), Qt::Key_Return);
    QCoreApplication::processEvents();
    QCOMPARE(form_->DataSet().Cases[0].Value(1, 0), 9876.0);
  }

  void f2AndDoubleClickEditInsideTheText() {
    Load("lateral.plt");
    auto* grid = Grid();
    grid->setFocus();
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, CellCentre(2, 3));
    QLineEdit* editor = CellEditor(2, 3);
    QVERIFY(editor != nullptr);
    QVERIFY(!editor->hasSelectedText());
    QCOMPARE(editor->cursorPosition(), editor->text().size());
    QTest::keyClick(editor, Qt::Key_Escape);
    QCoreApplication::processEvents();

    grid->setCurrentCell(1, 1);
    const QString old = grid->item(1, 1)->text();
    QTest::keyClick(grid, Qt::Key_F2);
    editor = CellEditor(1, 1);
    QVERIFY(editor != nullptr);
    QVERIFY(!editor->hasSelectedText());
    QCOMPARE(editor->cursorPosition(), old.size());
    QTest::keyClicks(editor, QStringLiteral("5"));
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
    QCOMPARE(grid->item(1, 1)->text(), old + QStringLiteral("5"));
  }

  void columnsAndRowsAreResizedByDraggingTheirLines() {
    Load("lateral.plt");
    auto* grid = Grid();
    const int width = grid->columnWidth(1);
    const QPoint column_line(grid->columnViewportPosition(1) + width, grid->rowHeight(0) / 2);
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, column_line);
    QTest::mouseMove(grid->viewport(), column_line + QPoint(40, 0));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, column_line + QPoint(40, 0));
    QCOMPARE(grid->columnWidth(1), width + 40);

    const int height = grid->rowHeight(2);
    const QPoint row_line(grid->columnWidth(0) / 2, grid->rowViewportPosition(2) + height);
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, row_line);
    QTest::mouseMove(grid->viewport(), row_line + QPoint(0, 12));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, row_line + QPoint(0, 12));
    QCOMPARE(grid->rowHeight(2), height + 12);
    // Dragging lines selects nothing and edits nothing.
    QCOMPARE(form_->DataSet().Cases[0].Value(0, 0), -2201.44);
  }

  // ------------------------------------------------------------ fit report

  void reportButtonOnlyWithAReport() {
    Fit("Button1");  // no data: nothing to report
    QVERIFY(!Find<QPushButton>("Button9")->isEnabled());
    Load("lateral_single.plt");
    Fit("Button1");
    QVERIFY(Find<QPushButton>("Button9")->isEnabled());
    Click("Button9");
    QVERIFY(form_->ReportWindow() != nullptr && form_->ReportWindow()->isVisible());
  }

  // ------------------------------------------------------------------ undo

  void undoRestoresThePanelAfterFitImportAndEstimate() {
    Load("lateral_single.plt");
    const TCoefficientSnapshot start = Panel();

    Fit("Button1");  // Levenberg-Marquardt: values and camber boxes change
    const TCoefficientSnapshot fitted = Panel();
    QVERIFY(!(fitted == start));
    QVERIFY(!Box("PHy3")->isChecked());
    form_->Undo();
    QVERIFY(Panel() == start);
    QVERIFY(Box("PHy3")->isChecked());
    form_->Redo();
    QVERIFY(Panel() == fitted);
    form_->Undo();

    dialogs_.answers.push_back(DataFile("true-values.txt"));
    Click("Button5");
    QVERIFY(!(Panel() == start));
    // Ctrl+Z as the user presses it.
    QApplication::setActiveWindow(form_.get());
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    Find<QPushButton>("Button3")->setFocus();
    QTest::keyClick(form_.get(), Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(Panel() == start);
    QTest::keyClick(form_.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(!(Panel() == start));
    form_->Undo();

    // The estimate fills values and leaves the boxes as the user set them.
    Box("PKy3")->setChecked(false);
    const TCoefficientSnapshot before_estimate = Panel();
    form_->SetEstimator([](TFitChannel channel, TCoefficientSet& set, const TTireDataSet&) {
      [&] { QCOMPARE(channel, TFitChannel::kLateral); }();
      set.SetText("PCy1", "1.42");
      set.SetText("PKy1", "17.5");
      set.SetFree("PCy1", false);  // an estimate must not change a box
      return TStartEstimate{{"PCy1", "PKy1"}, 1.0, {}};
    });
    Click("Button10");
    QCOMPARE(Edit("PCy1")->text(), QStringLiteral("1.42"));
    QVERIFY(Box("PCy1")->isChecked());
    QVERIFY(!Box("PKy3")->isChecked());
    form_->Undo();
    QVERIFY(Panel() == before_estimate);
    QVERIFY(dialogs_.messages.empty());
  }

  // The values an estimate or a fit left are a fit of the data loaded until
  // a value changes or other data come; a fit from them that ends at their
  // cost is then not faulted for it.
  void valuesAreAFitUntilChangedOrNewData() {
    Load("lateral.plt");
    QVERIFY(!form_->ValuesAreAFit(TFitChannel::kLateral));
    form_->SetEstimator([](TFitChannel, TCoefficientSet& set, const TTireDataSet&) {
      set.SetText("PKy1", "17.5");
      return TStartEstimate{{"PKy1"}, 1.0, {}};
    });
    Click("Button10");
    QVERIFY(form_->ValuesAreAFit(TFitChannel::kLateral));
    QVERIFY(!form_->ValuesAreAFit(TFitChannel::kLongitudinal));
    // A runner whose own verdict faults the unchanged cost: the window
    // judges again, knowing the start was a fit.
    form_->SetFitRunner([&](TFitChannel channel, TCoefficientSet&, const TTireDataSet&, TOptimizerChoice,
                            const std::string&, IFitHost&) {
      TFitOutcome outcome;
      outcome.channel = channel;
      outcome.fitted = {"PKy1"};
      outcome.start_cost = outcome.final_cost = 1;
      outcome.verdict.poor = true;
      outcome.verdict.reasons.push_back({"cost-not-lowered", "the cost did not fall", ""});
      return outcome;
    });
    const auto faults_cost = [this] {
      const auto& reasons = form_->LastVerdict().reasons;
      return std::any_of(reasons.begin(), reasons.end(),
                         [](const TVerdictReason& r) { return r.code == "cost-not-lowered"; });
    };
    Fit("Button1");
    QVERIFY(!faults_cost());
    QVERIFY(form_->ValuesAreAFit(TFitChannel::kLateral));
    Edit("PKy1")->setText(QStringLiteral("18"));
    QVERIFY(!form_->ValuesAreAFit(TFitChannel::kLateral));
    Edit("PKy1")->setText(QStringLiteral("17.5"));
    QVERIFY(form_->ValuesAreAFit(TFitChannel::kLateral));
    form_->UseImportedData(form_->DataSet(), "run.dat");
    QVERIFY(!form_->ValuesAreAFit(TFitChannel::kLateral));
    Fit("Button1");
    QVERIFY(faults_cost());
  }

  // The chart says what it shows: the title names the page's channel, the
  // camber and the file; the axes follow the data's channel, which a file
  // of Morvex's import names in its first line.
  void chartTitleAndAxesSayWhatIsShown() {
    Load("lateral.plt");
    QChart* chart = form_->ChartView()->chart();
    QVERIFY(chart->title().startsWith(QStringLiteral("Lateral force Fy, camber ")));
    QVERIFY(chart->title().endsWith(QStringLiteral(", lateral.plt")));
    QVERIFY(!form_->DataChannel().has_value());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fx.plt"));
    {
      std::ofstream out(path.toStdString(), std::ios::binary);
      out << "Morvex longitudinal data imported from brake.csv\nLOAD_CASE 1\n2\n3000;5000\n"
             "-0.1;-2900;-4600\n0;10;20\n0.1;2950;4700\n";
    }
    dialogs_.answers.push_back(path.toStdString());
    Click("Button2");
    QCOMPARE(form_->DataChannel(), std::optional(TFitChannel::kLongitudinal));
    QCOMPARE(chart->title(),
             QStringLiteral("Lateral force Fy, camber 2 deg, fx.plt (longitudinal data on the lateral page)"));
    QStringList titles;
    for (QAbstractAxis* axis : chart->axes()) titles << axis->titleText();
    QVERIFY2(titles.contains(QStringLiteral("slip ratio [-]")) && titles.contains(QStringLiteral("Fx [N]")),
             qPrintable(titles.join(QStringLiteral(" | "))));
    // Imported data: the import's channel and the run's label.
    form_->UseImportedData(form_->DataSet(), "run.dat (imported)", TFitChannel::kAligning);
    QVERIFY(chart->title().contains(QStringLiteral("run.dat (imported) (aligning data on the lateral page)")));
  }

  // The chart's context menu is drawn in the window's colours: the chart's
  // transparent background is not passed on to it.
  void chartMenuIsDrawnOnALightBackground() {
    QMenu* menu = form_->ChartView()->BuildContextMenu();
    menu->popup(form_->ChartView()->mapToGlobal(QPoint(20, 20)));
    QTest::qWait(50);
    const QImage shot = menu->grab().toImage();
    QVERIFY(!shot.isNull());
    double lightness = 0;
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 0; x < shot.width(); ++x) lightness += QColor(shot.pixel(x, y)).lightnessF();
    lightness /= shot.width() * shot.height();
    QVERIFY2(lightness > 0.6, qPrintable(QString::number(lightness)));
    menu->close();
  }

  // A value wider than its box shows whole on hover; a short one has no tip.
  void longValueShowsWholeOnHover() {
    form_->Coefficients().SetText("PKy1", "17.1234567890123");
    QCOMPARE(Edit("PKy1")->toolTip(), QStringLiteral("17.1234567890123"));
    QCOMPARE(form_->Coefficients().Text("PKy1"), std::string("17.1234567890123"));
    form_->Coefficients().SetText("PKy1", "17.5");
    QVERIFY(Edit("PKy1")->toolTip().isEmpty());
  }

  void estimateWithoutDataAsksForData() {
    Click("Button10");
    QCOMPARE(dialogs_.messages, std::vector<std::string>{"Load tire data first"});
    QVERIFY(!form_->History().CanUndo());
  }

  // ------------------------------------------------------- single camber

  void singleCamberRuleIsToldAndUndoneByDataWithMoreCambers() {
    Load("lateral_single.plt");
    Fit("Button1");
    // The whole message: a long one is elided in the bar, whole in its tooltip.
    const QString tip = form_->statusBar()->toolTip();
    const QString status = tip.isEmpty() ? form_->statusBar()->currentMessage() : tip;
    QVERIFY2(status.contains(QStringLiteral("Single camber at 0")), qPrintable(status));
    for (const char* name : {"PHy3", "PDy3", "PVy3", "PVy4", "PEy4", "PKy3"}) {
      QVERIFY(!Box(name)->isChecked());
      QVERIFY2(status.contains(QLatin1String(name)), name);
    }
    Click("Button9");
    const QString notes = form_->ReportWindow()->findChild<QLabel*>(QStringLiteral("ReportVerdict"))->text();
    QVERIFY2(notes.contains(QStringLiteral("PHy3")) && notes.contains(QStringLiteral("camber 0")), qPrintable(notes));

    Load("lateral.plt");  // cambers 0 and 2
    for (const char* name : {"PHy3", "PDy3", "PVy3", "PVy4", "PEy4", "PKy3"}) QVERIFY(Box(name)->isChecked());
    QVERIFY(form_->HeldByCamberRule().empty());
    QVERIFY(form_->statusBar()->currentMessage().contains(QStringLiteral("ticked again")));
    form_->Undo();  // the restore is a step of its own
    QVERIFY(!Box("PHy3")->isChecked());
  }

  // ---------------------------------------------------------------- cancel

  void cancelledFitKeepsBestPointOrReverts() {
    Load("lateral.plt");
    const TCoefficientSnapshot start = Panel();
    std::atomic<bool> writing{false};
    // A fit that writes its best point, then runs until the user cancels.
    auto runner = [&](bool wait_screen) {
      return [&, wait_screen](TFitChannel channel, TCoefficientSet& set, const TTireDataSet&, TOptimizerChoice,
                              const std::string&, IFitHost& host) {
        if (wait_screen) host.ShowWaitScreen();
        set.SetText("PCy1", "1.55555");
        set.SetText("PDy1", "0.98765");
        writing = true;
        const bool cancelled = SpinUntilCancelled(host);
        if (wait_screen) host.HideWaitScreen();
        TFitOutcome outcome;
        outcome.channel = channel;
        outcome.cancelled = cancelled;
        return outcome;
      };
    };

    // Cancel on the wait screen; the commands that would change the panel
    // are locked meanwhile, and the panel shows the values before the fit.
    form_->SetFitRunner(runner(true));
    dialogs_.choices.push_back(true);
    Click("Button1");
    QVERIFY(QTest::qWaitFor([&] { return writing.load() && wait_->isVisible(); }, 60000));
    QVERIFY(form_->FitRunning());
    QVERIFY(form_->isVisible());
    const size_t dialogs_before = dialogs_.filters.size();
    QTest::mouseClick(Find<QPushButton>("Button5"), Qt::LeftButton);
    QCOMPARE(dialogs_.filters.size(), dialogs_before);
    QCOMPARE(Edit("PCy1")->text(), QString::fromStdString(start.texts[static_cast<size_t>(ExactCoefficientIndex("PCy1"))]));
    QVERIFY(Edit("PCy1")->isReadOnly());
    QVERIFY(!Box("PCy1")->isEnabled());
    const auto grid_triggers = Grid()->editTriggers();
    QCOMPARE(grid_triggers, QAbstractItemView::EditTriggers(QAbstractItemView::NoEditTriggers));
    // Undo waits, and the window does not close while the fit reads its data.
    form_->Undo();
    QVERIFY(form_->FitRunning());
    QVERIFY(!form_->close());
    QVERIFY(form_->isVisible());
    QVERIFY(wait_->CancelButton()->isVisible());
    // Through the window system's path: the window, then the button.
    QTest::mouseClick(wait_->windowHandle(), Qt::LeftButton, {}, wait_->CancelButton()->geometry().center());
    QVERIFY(WaitForFit());
    QCOMPARE(dialogs_.questions.size(), size_t{1});
    QCOMPARE(Edit("PCy1")->text(), QStringLiteral("1.55555"));
    QCOMPARE(Edit("PDy1")->text(), QStringLiteral("0.98765"));
    QVERIFY(!Edit("PCy1")->isReadOnly());
    QVERIFY(Box("PCy1")->isEnabled());
    QVERIFY(Grid()->editTriggers() & QAbstractItemView::DoubleClicked);
    QVERIFY(form_->isVisible() && !wait_->isVisible());
    QVERIFY(!wait_->CancelButton()->isVisible());
    form_->Undo();
    QVERIFY(Panel() == start);

    // Escape while the window has the keyboard (status-bar path); "Load
    // tire data" by its key waits for the fit.  The user reverts.
    form_->SetFitRunner(runner(false));
    writing = false;
    QApplication::setActiveWindow(form_.get());
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    Click("Button1");
    QVERIFY(QTest::qWaitFor([&] { return writing.load(); }, 60000));
    QVERIFY(Find<QPushButton>("CancelFitButton")->isVisible());
    const size_t filters_before = dialogs_.filters.size();
    QTest::keyClick(form_.get(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(dialogs_.filters.size(), filters_before);
    QTest::keyClick(form_.get(), Qt::Key_Escape);
    QVERIFY(WaitForFit());
    QCOMPARE(dialogs_.questions.size(), size_t{2});
    QVERIFY(Panel() == start);
    QVERIFY(!Find<QPushButton>("CancelFitButton")->isVisible());
    QVERIFY(form_->statusBar()->currentMessage().startsWith(QStringLiteral("Fit cancelled")));
    QVERIFY(!form_->History().CanRedo() || form_->History().UndoName() != "lateral fit");
  }

  // Escape cancels the fit wherever the keyboard is in the window: in a
  // coefficient edit, in the data grid, on the chart.
  void escapeCancelsTheFitWithTheFocusAnywhere() {
    Load("lateral.plt");
    const TCoefficientSnapshot start = Panel();
    std::atomic<bool> running{false};
    form_->SetFitRunner([&](TFitChannel channel, TCoefficientSet& set, const TTireDataSet&, TOptimizerChoice,
                            const std::string&, IFitHost& host) {
      set.SetText("PKy1", "21.5");
      running = true;
      TFitOutcome outcome;
      outcome.channel = channel;
      outcome.cancelled = SpinUntilCancelled(host);
      running = false;
      return outcome;
    });
    QApplication::setActiveWindow(form_.get());
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QWidget* const places[] = {Edit("PCy1"), Grid(), form_->ChartView()};
    size_t asked = 0;
    for (QWidget* place : places) {
      const QByteArray where = place->objectName().toLatin1();
      place->setFocus();
      QVERIFY2(QTest::qWaitFor([place] { return place->hasFocus(); }, 10000), where.constData());
      // F5 from the same place starts the fit of the page shown.
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
      QVERIFY2(QTest::qWaitFor([&] { return running.load(); }, 60000), where.constData());
      // The focus stays where the user was while the fit runs.
      QVERIFY2(place->hasFocus(), where.constData());
      dialogs_.choices.push_back(false);
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
      QVERIFY2(WaitForFit(), where.constData());
      QVERIFY2(!running.load(), where.constData());
      QCOMPARE(dialogs_.questions.size(), ++asked);
      QVERIFY2(form_->statusBar()->currentMessage().startsWith(QStringLiteral("Fit cancelled")), where.constData());
      QVERIFY2(Panel() == start, where.constData());
    }
    QVERIFY(dialogs_.messages.empty());
  }

  // A real Levenberg-Marquardt fit: the window stays visible and works
  // (its pages redraw, progress shows in the status bar) while the wait
  // screen shows beside it; Escape on the chart stops it at its best point.
  void windowStaysVisibleAndWorksDuringALevenbergMarquardtFit() {
    Load("aligning.plt");
    // From the sample tire's own set: a fit of many seconds that converges.
    ImportCoefficients(form_->Coefficients(), DataFile("true-values.txt"));
    auto* pages = Find<QTabWidget>("Pagecontrol1");
    pages->setCurrentIndex(2);
    const double start_cost =
        static_cast<double>(ChannelCost(TFitChannel::kAligning, form_->Coefficients(), form_->DataSet()));
    const TCoefficientSnapshot start = Panel();
    bool main_hidden = false;
    TVisibilityWatch watch(form_.get(), &main_hidden);
    QApplication::setActiveWindow(form_.get());
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));

    QVERIFY(StartAligningFitAndWaitForProgress());
    QVERIFY(form_->isVisible());
    QVERIFY(wait_->isVisible());
    // The window still answers: another page redraws its chart from the
    // values before the fit.
    pages->setCurrentIndex(0);
    QVERIFY(form_->Chart()->title().startsWith(QStringLiteral("Lateral force")));
    pages->setCurrentIndex(2);
    QVERIFY(form_->Chart()->title().startsWith(QStringLiteral("Aligning")));
    QVERIFY(Panel() == start);
    if (qEnvironmentVariableIsSet("MORVEX_UI_SHOTS")) {
      const QDir shots(qEnvironmentVariable("MORVEX_UI_SHOTS"));
      form_->grab().save(shots.filePath(QStringLiteral("window-during-fit.png")));
      wait_->grab().save(shots.filePath(QStringLiteral("wait-screen-during-fit.png")));
    }

    dialogs_.choices.push_back(true);
    // The offscreen platform activates every window shown, the wait screen
    // too; a desktop leaves the keyboard where it was.
    QApplication::setActiveWindow(form_.get());
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    form_->ChartView()->setFocus();
    QVERIFY(QTest::qWaitFor([this] { return form_->ChartView()->hasFocus(); }, 10000));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(WaitForFit());
    QVERIFY(!main_hidden);
    QCOMPARE(dialogs_.questions.size(), size_t{1});
    QVERIFY(form_->statusBar()->currentMessage().startsWith(QStringLiteral("Fit cancelled")));
    // The best point (the start was the exact solution of these data),
    // written back with the fitter's 5 decimals.
    QVERIFY(static_cast<double>(ChannelCost(TFitChannel::kAligning, form_->Coefficients(), form_->DataSet())) <=
            start_cost + 1e-3);
    QVERIFY(form_->isVisible() && !wait_->isVisible());
  }

  // A real Levenberg-Marquardt fit of the aligning moment, cancelled on the
  // wait screen: it stops at the best point it had evaluated, which the
  // user keeps.
  void realFitStopsAtItsBestPointWhenCancelled() {
    Load("aligning.plt");
    ImportCoefficients(form_->Coefficients(), DataFile("true-values.txt"));
    Find<QTabWidget>("Pagecontrol1")->setCurrentIndex(2);
    const double start_cost =
        static_cast<double>(ChannelCost(TFitChannel::kAligning, form_->Coefficients(), form_->DataSet()));
    QVERIFY(StartAligningFitAndWaitForProgress());
    QVERIFY(wait_->CancelButton()->isVisible());
    dialogs_.choices.push_back(true);
    QTest::mouseClick(wait_->windowHandle(), Qt::LeftButton, {}, wait_->CancelButton()->geometry().center());
    QVERIFY(WaitForFit());
    QCOMPARE(dialogs_.questions.size(), size_t{1});
    QVERIFY(form_->statusBar()->currentMessage().startsWith(QStringLiteral("Fit cancelled")));
    QVERIFY(static_cast<double>(ChannelCost(TFitChannel::kAligning, form_->Coefficients(), form_->DataSet())) <=
            start_cost + 1e-3);
    QVERIFY(form_->isVisible() && !wait_->isVisible());
  }

  // Home puts the chart back to the whole data wherever the keyboard is;
  // in a coefficient edit it still moves the cursor to the start.
  void homeResetsTheChartWithTheFocusAnywhere() {
    Load("lateral.plt");
    TResultChartView* view = form_->ChartView();
    QApplication::setActiveWindow(form_.get());
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QWidget* const places[] = {Grid(), Find<QWidget>("Button3"), Find<QWidget>("Pagecontrol1")};
    for (QWidget* place : places) {
      const QByteArray where = place->objectName().toLatin1();
      view->ZoomAround(2.0, form_->Chart()->plotArea().center());
      QVERIFY(view->IsZoomed());
      place->setFocus();
      QVERIFY2(QTest::qWaitFor([place] { return place->hasFocus(); }, 10000), where.constData());
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Home);
      QVERIFY2(!view->IsZoomed(), where.constData());
    }
    QLineEdit* edit = Edit("PCy1");
    edit->setFocus();
    QVERIFY(QTest::qWaitFor([edit] { return edit->hasFocus(); }, 10000));
    edit->setCursorPosition(2);
    view->ZoomAround(2.0, form_->Chart()->plotArea().center());
    QTest::keyClick(edit, Qt::Key_Home);
    QCOMPARE(edit->cursorPosition(), 0);
    QVERIFY(view->IsZoomed());
  }

  // --------------------------------------------------------------- verdict

  void poorVerdictShowsInStatusBarNoticeAndReport() {
    Load("lateral.plt");
    TFitVerdict verdict;
    verdict.poor = true;
    verdict.reasons.push_back({"low-r2", "the model explains little of the data", "press Estimate start values"});
    form_->SetFitRunner([&](TFitChannel channel, TCoefficientSet&, const TTireDataSet&, TOptimizerChoice,
                            const std::string&, IFitHost&) {
      TFitOutcome outcome;
      outcome.channel = channel;
      outcome.verdict = verdict;
      return outcome;
    });
    Fit("Button1");
    // The verdict names this fit's RMS, in the channel's unit.
    TFitOutcome lateral_poor;
    lateral_poor.channel = TFitChannel::kLateral;
    const QString rms = QString::fromStdString(
        FloatToStrF(BuildFitReport(lateral_poor, form_->Coefficients(), form_->DataSet()).rms, TFloatFormat::kGeneral, 4, 0));
    QCOMPARE(form_->statusBar()->currentMessage(),
             QStringLiteral("Fit poor (RMS %1 N): the model explains little of the data").arg(rms));
    auto* notice = form_->findChild<QMessageBox*>(QStringLiteral("VerdictNotice"));
    QVERIFY(notice != nullptr && notice->isVisible());
    QVERIFY(notice->text().startsWith(QStringLiteral("Fit poor (RMS %1 N):\n").arg(rms)));
    QVERIFY(!notice->isModal());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QVERIFY(notice->text().contains(QStringLiteral("press Estimate start values")));
    Click("Button9");
    QVERIFY(form_->ReportWindow()->findChild<QLabel*>(QStringLiteral("ReportVerdict"))->text().startsWith(
        QStringLiteral("Fit poor: the model explains little")));

    // A reason for every coefficient: the notice shows three and the
    // distinct advice, keeps them all in its details, and fits the screen.
    verdict.reasons.clear();
    for (int k = 1; k <= 18; ++k)
      verdict.reasons.push_back({"at-bound", "coefficient " + std::to_string(k) + " ended at an edge of its interval",
                                 "widen interval " + std::to_string(k % 4)});
    Fit("Button1");
    notice = form_->findChild<QMessageBox*>(QStringLiteral("VerdictNotice"));
    QVERIFY(notice != nullptr);
    QVERIFY(notice->text().contains(QStringLiteral("coefficient 3 ended")));
    QVERIFY(!notice->text().contains(QStringLiteral("coefficient 4 ended")));
    QVERIFY(notice->text().contains(QStringLiteral("and 15 more")));
    QCOMPARE(notice->text().count(QStringLiteral("widen interval")), 3);
    QVERIFY(notice->detailedText().contains(QStringLiteral("coefficient 18 ended at an edge of its interval\n  try: widen interval 2")));
    QVERIFY(notice->sizeHint().height() < form_->screen()->availableGeometry().height());

    verdict = TFitVerdict{};
    Fit("Button1");
    QCOMPARE(form_->statusBar()->currentMessage(), QStringLiteral("Fit good (RMS %1 N)").arg(rms));
    Load("aligning.plt");
    Find<QTabWidget>("Pagecontrol1")->setCurrentIndex(2);
    Fit("Button6");
    QVERIFY(form_->statusBar()->currentMessage().startsWith(QStringLiteral("Fit good (RMS ")));
    QVERIFY(form_->statusBar()->currentMessage().endsWith(QStringLiteral(" N m)")));
  }

  void statusBarForgetsTheLastFileAndShowsLongMessagesWhole() {
    // A poor fit leaves its verdict on a yellow bar ...
    Load("lateral.plt");
    TFitVerdict poor;
    poor.poor = true;
    poor.reasons.push_back({"low-r2", "the model explains little of the data", ""});
    form_->SetFitRunner([&](TFitChannel channel, TCoefficientSet&, const TTireDataSet&, TOptimizerChoice,
                            const std::string&, IFitHost&) {
      TFitOutcome outcome;
      outcome.channel = channel;
      outcome.verdict = poor;
      return outcome;
    });
    Fit("Button1");
    QVERIFY(form_->statusBar()->currentMessage().startsWith(QStringLiteral("Fit poor")));
    QVERIFY(!form_->statusBar()->styleSheet().isEmpty());
    // ... which the next file takes away, loaded or imported.
    Load("lateral_single.plt");
    QCOMPARE(form_->statusBar()->currentMessage(), QString());
    QVERIFY(form_->statusBar()->styleSheet().isEmpty());
    Fit("Button1");
    QVERIFY(!form_->statusBar()->styleSheet().isEmpty());
    form_->UseImportedData(form_->DataSet(), "run.dat");
    QCOMPARE(form_->statusBar()->currentMessage(), QString());
    QVERIFY(form_->statusBar()->styleSheet().isEmpty());
    // Undo takes the poor fit's values back, and its yellow with them.
    form_->SetFitRunner([&](TFitChannel channel, TCoefficientSet& set, const TTireDataSet&, TOptimizerChoice,
                            const std::string&, IFitHost&) {
      set.SetText("PDy1", "0.93");
      TFitOutcome outcome;
      outcome.channel = channel;
      outcome.verdict = poor;
      return outcome;
    });
    Fit("Button1");
    QVERIFY(!form_->statusBar()->styleSheet().isEmpty());
    form_->Undo();
    QVERIFY(form_->statusBar()->currentMessage().startsWith(QStringLiteral("Undone: lateral fit")));
    QVERIFY(form_->statusBar()->styleSheet().isEmpty());

    // A message wider than the bar ends in an ellipsis; the tooltip holds it all.
    std::string note = "the slip range of the data";
    while (note.size() < 600) note += " and much more about the slip range";
    form_->SetEstimator([&](TFitChannel, TCoefficientSet& set, const TTireDataSet&) {
      set.SetText("PKy1", "21.5");
      return TStartEstimate{{"PKy1"}, 1.0, {note}};
    });
    Click("Button10");
    const QString shown = form_->statusBar()->currentMessage();
    const QString whole = form_->statusBar()->toolTip();
    const qsizetype ellipsis = shown.endsWith(QChar(0x2026)) ? 1 : shown.endsWith(QStringLiteral("...")) ? 3 : 0;
    QVERIFY(ellipsis > 0);
    QVERIFY(form_->statusBar()->fontMetrics().horizontalAdvance(shown) <= form_->statusBar()->width());
    QVERIFY(whole.startsWith(shown.chopped(ellipsis)));
    QVERIFY(whole.endsWith(QString::fromStdString(note)));
    // A short message is whole, and has no tooltip.
    form_->Undo();
    QVERIFY(form_->statusBar()->currentMessage().startsWith(QStringLiteral("Undone: start-value estimate")));
    QVERIFY(form_->statusBar()->toolTip().isEmpty());

    // A coefficient import confirms; a failed one does not.
    dialogs_.answers.push_back(DataFile("true-values.txt"));
    Click("Button5");
    QVERIFY(form_->statusBar()->currentMessage().startsWith(QStringLiteral("Imported from true-values.txt: ")));
    QVERIFY(form_->statusBar()->currentMessage().contains(QStringLiteral(" coefficients changed (Ctrl+Z goes back)")));
    form_->statusBar()->clearMessage();
    dialogs_.answers.push_back(DataFile("bad.plt"));
    Click("Button5");
    QVERIFY(!form_->statusBar()->currentMessage().startsWith(QStringLiteral("Imported")));
  }

  // ------------------------------------------------------------ rated load

  void ratedLoadEditReexpressesEveryChannelAsOneStep() {
    Load("lateral.plt");
    TCoefficientSet& panel = form_->Coefficients();
    // Fz0 is the engineer's: every box starts ticked but its own.
    QVERIFY(!Box("Fz0")->isChecked());
    QVERIFY(Box("PKy2")->isChecked() && Box("PKx3")->isChecked() && Box("QDz2")->isChecked());
    ImportCoefficients(panel, std::string(MORVEX_TEST_DATA_DIR) + "/../../../testing/data/published-tires/car-185-80R14.txt");
    const TCoefficientSnapshot tire = Panel();
    const double fz0 = panel.Value("Fz0");
    const auto worst_change = [&](const TCoefficientSet& before) {
      double worst = 0;
      for (TFitChannel channel : {TFitChannel::kLateral, TFitChannel::kAligning, TFitChannel::kLongitudinal})
        for (double camber : {0.0, 3.0})
          for (double share : {0.4, 1.0, 1.8})
            for (double slip : {-0.2, -0.05, 0.02, 0.15}) {
              const double s = channel == TFitChannel::kLongitudinal ? slip : 60 * slip;
              const double a = EvaluatePoint(channel, before, camber, share * fz0, s);
              const double b = EvaluatePoint(channel, panel, camber, share * fz0, s);
              worst = std::max(worst, std::fabs(a - b) / (1 + std::fabs(a)));
            }
      return worst;
    };
    TMemoryCoefficientSet original;
    RestoreSnapshot(tire, original);

    // Typed and confirmed: every channel follows, the curves stay.
    QLineEdit* edit = Edit("Fz0");
    dialogs_.choices.push_back(true);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("5000"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(dialogs_.questions.size(), size_t{1});
    QVERIFY(dialogs_.questions[0].find("Fz0 changes from 3800 to 5000") != std::string::npos);
    QCOMPARE(panel.Text("Fz0"), std::string("5000"));
    QVERIFY(panel.Text("PKy1") != original.Text("PKy1"));
    QVERIFY(panel.Text("QDz1") != original.Text("QDz1"));
    QVERIFY(panel.Text("PKx1") != original.Text("PKx1"));
    QVERIFY(worst_change(original) < 1e-9);
    QVERIFY(dialogs_.messages.empty());
    // One step takes it all back.
    form_->Undo();
    QVERIFY(Panel() == tire);

    // "Change the value only": Fz0 alone is new, and the curves move.
    dialogs_.choices.push_back(false);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("6000"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(dialogs_.questions.size(), size_t{2});
    QCOMPARE(ChangedCoefficients(tire, Panel()), std::vector<std::string>{"Fz0"});
    QVERIFY(worst_change(original) > 1e-3);
    form_->Undo();
    QVERIFY(Panel() == tire);
    // After the undo the settled value is the tire's again: a new edit is
    // judged from 3800.
    dialogs_.choices.push_back(true);
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("3200"));
    QTest::keyClick(edit, Qt::Key_Return);
    QVERIFY(dialogs_.questions.back().find("from 3800 to 3200") != std::string::npos);
    QVERIFY(worst_change(original) < 1e-9);

    // A text that is no load asks nothing and re-expresses nothing; the
    // same text again is no edit.
    const TCoefficientSnapshot at3200 = Panel();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("abc"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(dialogs_.questions.size(), size_t{3});
    QCOMPARE(ChangedCoefficients(at3200, Panel()), std::vector<std::string>{"Fz0"});
    form_->Undo();
    QVERIFY(Panel() == at3200);
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("3200"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(dialogs_.questions.size(), size_t{3});
    QVERIFY(Panel() == at3200);
  }

  void estimateThatMovesFz0CarriesTheOtherChannels() {
    Load("lateral.plt");
    TCoefficientSet& panel = form_->Coefficients();
    ImportCoefficients(panel, std::string(MORVEX_TEST_DATA_DIR) + "/../../../testing/data/published-tires/fsae.txt");
    const TCoefficientSnapshot tire = Panel();
    TMemoryCoefficientSet original;
    RestoreSnapshot(tire, original);
    // An estimate with the box of Fz0 ticked puts it at the data's loads.
    form_->SetEstimator([](TFitChannel, TCoefficientSet& set, const TTireDataSet&) {
      set.SetText("Fz0", "3100");
      set.SetText("PDy1", "1.2");
      return TStartEstimate{};
    });
    Click("Button10");
    QCOMPARE(panel.Text("Fz0"), std::string("3100"));
    QCOMPARE(panel.Text("PDy1"), std::string("1.2"));  // the estimate's own channel as estimated
    QVERIFY(panel.Text("PKx1") != original.Text("PKx1"));
    for (double share : {0.5, 1.0, 1.5})
      for (double slip : {-0.1, 0.03, 0.2}) {
        const double a = EvaluatePoint(TFitChannel::kLongitudinal, original, 1.0, share * 2700, slip);
        const double b = EvaluatePoint(TFitChannel::kLongitudinal, panel, 1.0, share * 2700, slip);
        QVERIFY(std::fabs(a - b) <= 1e-9 * std::fabs(a));
      }
    form_->Undo();
    QVERIFY(Panel() == tire);
  }

  void fitThatFreedFz0SaysSoInItsNotes() {
    Load("lateral.plt");
    form_->SetFitRunner([&](TFitChannel channel, TCoefficientSet&, const TTireDataSet&, TOptimizerChoice,
                            const std::string&, IFitHost&) {
      TFitOutcome outcome;
      outcome.channel = channel;
      outcome.fitted = {"Fz0", "PKy1"};
      return outcome;
    });
    Box("Fz0")->setChecked(true);
    Fit("Button1");
    Click("Button9");
    // Beside the verdict, with the window's other notes on the fit.
    QVERIFY(form_->ReportWindow()->findChild<QLabel*>(QStringLiteral("ReportVerdict"))->text().contains(
        QStringLiteral("the curves of the other channels were fitted at the old value")));
  }

  // --------------------------------------------------------- small things

  void exportAddsTxtToABareName() {
    dialogs_.answers.push_back(dir_->filePath(QStringLiteral("bare")).toStdString());
    Click("Button4");
    QVERIFY(QFile::exists(dir_->filePath(QStringLiteral("bare.txt"))));
    QVERIFY(!QFile::exists(dir_->filePath(QStringLiteral("bare"))));
    dialogs_.answers.push_back(dir_->filePath(QStringLiteral("named.coef")).toStdString());
    Click("Button4");
    QVERIFY(QFile::exists(dir_->filePath(QStringLiteral("named.coef"))));
  }

  void errorBoxesSayWhatTheyAreAbout() {
    const std::string not_a_number = "'abc' n'est pas une valeur en virgule flottante correcte";
    dialogs_.answers.push_back(DataFile("bad.plt"));
    Click("Button2");
    Load("lateral.plt");
    // Row 1 of the grid is the first slip (-10), column 1 the first load.
    auto* grid = Grid();
    grid->setCurrentCell(1, 1);
    grid->editItem(grid->item(1, 1));
    CellEditor(1, 1)->selectAll();
    QTest::keyClicks(CellEditor(1, 1), QStringLiteral("abc"));
    QTest::keyClick(CellEditor(1, 1), Qt::Key_Return);
    QCoreApplication::processEvents();
    Edit("PDy2")->setText(QStringLiteral("abc"));
    Click("Button3");
    QCOMPARE(dialogs_.messages,
             (std::vector<std::string>{not_a_number + " (file " + DataFile("bad.plt") + ", line 7, field 1: the slip)",
                                       not_a_number, not_a_number}));
    QCOMPARE(dialogs_.subjects,
             (std::vector<std::string>{"File: " + DataFile("bad.plt") + ", line 7",
                                       "Cell: camber 0, load 2000, slip -10", "Coefficient: PDy2 (Lateral page)"}));

    // The real box: the warning icon, the subject on a line of its own.
    SetDialogs(nullptr);
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        text = box->text();
        icon = box->icon();
        box->accept();
      }
    });
    Click("Button3");
    SetDialogs(&dialogs_);
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(text, QString::fromStdString(not_a_number) + QStringLiteral("\nCoefficient: PDy2 (Lateral page)"));
  }

  void shortcutsAndTooltips() {
    const std::pair<const char*, const char*> keys[] = {{"Button2", "Ctrl+O"}, {"Button5", "Ctrl+I"},
                                                        {"Button4", "Ctrl+S"}, {"Button1", "F5"},
                                                        {"Button6", "F5"},     {"Button7", "F5"},
                                                        {"Button10", "Ctrl+E"}, {"BitBtnWithColor1", "F1"}};
    for (const auto& [name, key] : keys) QVERIFY2(Find(name)->toolTip().contains(QLatin1String(key)), name);

    QApplication::setActiveWindow(form_.get());
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    Find<QPushButton>("Button3")->setFocus();
    QTest::keyClick(form_.get(), Qt::Key_O, Qt::ControlModifier);
    QTest::keyClick(form_.get(), Qt::Key_I, Qt::ControlModifier);
    QTest::keyClick(form_.get(), Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(dialogs_.filters,
             (std::vector<std::string>{".plt (*.plt)", kImportFilter, kExportFilter}));
    // F5 fits the channel of the page shown: the aligning fit clears the
    // Fz0 box, which only it does.
    Load("lateral.plt");
    Find<QRadioButton>("RadioButton3")->setChecked(true);
    Find<QTabWidget>("Pagecontrol1")->setCurrentIndex(2);
    QApplication::setActiveWindow(form_.get());
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QTest::keyClick(form_.get(), Qt::Key_F5);
    QVERIFY(WaitForFit());
    QVERIFY(!Box("Fz0")->isChecked());
    QApplication::setActiveWindow(form_.get());
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QTest::keyClick(form_.get(), Qt::Key_Q, Qt::ControlModifier);
    QVERIFY(!form_->isVisible());
  }

  void recentFilesReloadFromTheContextMenu() {
    Load("lateral_single.plt");
    Load("lateral.plt");
    const QStringList recent = form_->RecentDataFiles();
    QVERIFY(recent.size() >= 2);
    QCOMPARE(recent[0], QString::fromStdString(DataFile("lateral.plt")));
    QCOMPARE(recent[1], QString::fromStdString(DataFile("lateral_single.plt")));
    QMenu* menu = form_->BuildRecentFilesMenu();
    QAction* single = nullptr;
    for (QAction* action : menu->actions())
      if (action->text() == recent[1]) single = action;
    QVERIFY(single != nullptr);
    single->trigger();
    QCOMPARE(form_->DataSet().CaseCount(), 1);
    QCOMPARE(form_->StatusText(1), recent[1]);
    delete menu;
  }

  void grownWindowGivesTheSpaceToChartAndGrid() {
    const QRect button = Find("Button2")->geometry();
    const QRect chart = Find("Chart1")->geometry();
    const QRect grid = Grid()->geometry();
    form_->resize(1280, 1000);
    QCoreApplication::processEvents();
    QCOMPARE(Find("Chart1")->geometry(), QRect(chart.topLeft(), chart.size() + QSize(287, 296)));
    QCOMPARE(Grid()->geometry(), QRect(grid.topLeft(), grid.size() + QSize(0, 296)));
    QCOMPARE(Find("Button2")->geometry(), button);
    // A smaller window scrolls the controls, which keep the reference layout.
    form_->resize(800, 600);
    QCoreApplication::processEvents();
    QCOMPARE(form_->size(), QSize(800, 600));
    QCOMPARE(Find("Chart1")->geometry(), chart);
    QCOMPARE(Grid()->geometry(), grid);
    QCOMPARE(Find("Button2")->geometry(), button);
  }

  // ---------------------------------------------------------------- chart

  void chartFollowsPageAndShowsResiduals() {
    Load("lateral.plt");
    QChart* chart = form_->Chart();
    QCOMPARE(chart->axes(Qt::Vertical).first()->titleText(), QStringLiteral("Fy [N]"));
    Find<QTabWidget>("Pagecontrol1")->setCurrentIndex(2);  // no DRAW needed
    QCOMPARE(chart->axes(Qt::Vertical).first()->titleText(), QStringLiteral("Mz [N m]"));
    const TLoadCase& c = form_->DataSet().Cases[0];
    auto* model = qobject_cast<QLineSeries*>(chart->series()[0]);
    QCOMPARE(model->points().first().y(),
             EvaluatePoint(TFitChannel::kAligning, form_->Coefficients(), c.Camber, c.Loads[0], c.Slips[0]));
    Find<QTabWidget>("Pagecontrol1")->setCurrentIndex(0);

    Find<QCheckBox>("CheckBox3")->setChecked(true);
    const auto series = chart->series();
    QCOMPARE(series.size(), 3);
    QCOMPARE(series[0]->name(), QStringLiteral("residual 2000"));
    const QPointF first = qobject_cast<QXYSeries*>(series[0])->points().first();
    QCOMPARE(first.y(), c.Value(0, 0) - EvaluatePoint(TFitChannel::kLateral, form_->Coefficients(), c.Camber,
                                                       c.Loads[0], c.Slips[0]));
    QVERIFY(chart->axes(Qt::Vertical).first()->titleText().contains(QStringLiteral("measured - model")));
    Find<QCheckBox>("CheckBox3")->setChecked(false);
    QCOMPARE(chart->series().size(), 6);
  }

  void chartZoomsPansResetsTogglesAndSaves() {
    Load("lateral.plt");
    TResultChartView* view = form_->ChartView();
    auto* x = qobject_cast<QValueAxis*>(form_->Chart()->axes(Qt::Horizontal).first());
    const double low = x->min(), high = x->max();
    // The axes leave a margin around the data (slips -10 .. 10).
    QVERIFY(low < -10 && high > 10);
    view->ZoomAround(2.0, form_->Chart()->plotArea().center());
    QVERIFY(view->IsZoomed());
    QVERIFY(x->max() - x->min() < (high - low) * 0.6);
    view->Pan(20, 0);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->viewport()->rect().center());
    QVERIFY(!view->IsZoomed());
    QCOMPARE(x->min(), low);
    QTest::keyClick(view, Qt::Key_Plus);
    QVERIFY(view->IsZoomed());
    QTest::keyClick(view, Qt::Key_Home);
    QVERIFY(!view->IsZoomed());

    QLegendMarker* marker = form_->Chart()->legend()->markers()[1];
    emit marker->clicked();
    QVERIFY(!form_->Chart()->series()[1]->isVisible());
    QVERIFY(marker->isVisible());
    emit marker->clicked();
    QVERIFY(form_->Chart()->series()[1]->isVisible());

    dialogs_.answers.push_back(dir_->filePath(QStringLiteral("chart")).toStdString());
    dialogs_.answers.push_back(dir_->filePath(QStringLiteral("chart.svg")).toStdString());
    QMenu* menu = view->BuildContextMenu();
    menu->findChild<QAction*>(QStringLiteral("SaveChartPng"))->trigger();
    menu->findChild<QAction*>(QStringLiteral("SaveChartSvg"))->trigger();
    delete menu;
    QImage png(dir_->filePath(QStringLiteral("chart.png")));
    QCOMPARE(png.size(), view->size() * 2);
    QFile svg(dir_->filePath(QStringLiteral("chart.svg")));
    QVERIFY(svg.open(QIODevice::ReadOnly));
    QVERIFY(svg.readAll().contains("<svg"));
    QVERIFY(dialogs_.messages.empty());
  }
};

// The model line is painted over the data markers, though the legend lists
// it first.
class TestChartDrawing : public QObject {
  Q_OBJECT

 private slots:
  void modelLineLiesOverTheMarkers() {
    auto* chart = new QChart();
    StyleResultChart(chart);
    TResultChartView view(chart);
    view.resize(400, 300);
    std::vector<TPlotCurve> curves{{"MF model 1000", {255, 0, 0}, {{-1, 0}, {1, 0}}, false},
                                   {"tire data 1000", {0, 30, 255}, {{0, 0}, {-1, 1}, {1, -1}}, true}};
    ShowCurves(chart, curves, AxisTitlesFor(TFitChannel::kLateral, false));
    view.CurvesReplaced();
    QCOMPARE(chart->legend()->markers()[0]->label(), QStringLiteral("MF model 1000"));
    QCOMPARE(chart->axes(Qt::Horizontal).first()->titleText(), QStringLiteral("slip angle [deg]"));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QImage image = view.grab().toImage();
    const QPoint centre = view.mapFromScene(chart->mapToScene(chart->mapToPosition(QPointF(0, 0)))) *
                          image.devicePixelRatio();
    const QColor pixel = image.pixelColor(centre);
    QVERIFY2(pixel.red() > 200 && pixel.blue() < 80,
             qPrintable(QStringLiteral("colour at the marker centre: %1").arg(pixel.name())));
  }
};

// The undo history on a coefficient set in memory.
class TestPanelHistory : public QObject {
  Q_OBJECT

 private slots:
  void stepsUndoRedoAndDropWhatCouldBeRedone() {
    TMemoryCoefficientSet set;
    TPanelHistory history(2);
    const TCoefficientSnapshot start = TakeSnapshot(set);
    QVERIFY(!history.Record("nothing", start, set));  // an unchanged set is no step
    QVERIFY(!history.CanUndo());

    set.SetText("PCy1", "1.50000");
    set.SetFree("PHy3", false);
    QVERIFY(history.Record("fit", start, set));
    QCOMPARE(ChangedCoefficients(start, TakeSnapshot(set)), (std::vector<std::string>{"PCy1", "PHy3"}));
    QCOMPARE(ClearedFlags(start, TakeSnapshot(set)), std::vector<std::string>{"PHy3"});
    const TCoefficientSnapshot fitted = TakeSnapshot(set);

    QCOMPARE(history.Undo(set), std::string("fit"));
    QVERIFY(TakeSnapshot(set) == start);
    QCOMPARE(set.Text("PCy1"), std::string(Coefficient("PCy1").default_text));
    QCOMPARE(history.Redo(set), std::string("fit"));
    QVERIFY(TakeSnapshot(set) == fitted);

    // A new step after an undo drops the redo; the oldest steps go first.
    history.Undo(set);
    set.SetText("R0", "0.31");
    QVERIFY(history.Record("calculator", start, set));
    QVERIFY(!history.CanRedo());
    for (const char* text : {"1", "2", "3"}) {
      const TCoefficientSnapshot before = TakeSnapshot(set);
      set.SetText("PDy1", text);
      history.Record(text, before, set);
    }
    QCOMPARE(history.Undo(set), std::string("3"));
    QCOMPARE(history.Undo(set), std::string("2"));
    QCOMPARE(history.Undo(set), std::string());
    QCOMPARE(set.Text("PDy1"), std::string("1"));
  }

  void companionStateFollowsUndoAndRedo() {
    // What the window keeps beside the panel: here the name of the fit
    // that produced the values.  A command changes it after its step is
    // recorded, as the window records a fit for the export header.
    TMemoryCoefficientSet set;
    TPanelHistory history;
    std::string fit = "none";
    history.SetCompanion([&] { return std::any(fit); }, [&](const std::any& saved) { fit = std::any_cast<std::string>(saved); });
    for (const char* run : {"run a", "run b"}) {
      const TCoefficientSnapshot before = TakeSnapshot(set);
      set.SetText("PCy1", run == std::string("run a") ? "1.37" : "1.61");
      QVERIFY(history.Record(run, before, set));
      fit = run;
    }
    history.Undo(set);
    QCOMPARE(fit, std::string("run a"));
    QCOMPARE(set.Text("PCy1"), std::string("1.37"));
    history.Undo(set);
    QCOMPARE(fit, std::string("none"));
    history.Redo(set);
    history.Redo(set);
    QCOMPARE(fit, std::string("run b"));
    QCOMPARE(set.Text("PCy1"), std::string("1.61"));
    // A command that changed no value leaves the companion as it is.
    fit = "run c";
    QVERIFY(!history.Record("run c", TakeSnapshot(set), set));
    QCOMPARE(history.Undo(set), std::string("run b"));
    QCOMPARE(fit, std::string("run a"));
    QCOMPARE(history.Redo(set), std::string("run b"));
    QCOMPARE(fit, std::string("run c"));
  }
};

namespace {
RegisterUiTest<TestPanelHistory> register_panel_history;
RegisterUiTest<TestWindowTools> register_window_tools;
RegisterUiTest<TestChartDrawing> register_chart_drawing;
}  // namespace

}  // namespace morvex::test

#include "tst_windowtools.moc"
