// The chart's drawing options in the window: each load's model and data in
// one colour of its own (kept between sessions), every camber at once, and
// the zoom reset from wherever the focus is.
#include <QAction>
#include <QApplication>
#include <QChart>
#include <QCheckBox>
#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QLegend>
#include <QLegendMarker>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QScatterSeries>
#include <QSet>
#include <QSettings>
#include <QTableWidget>
#include <QToolButton>
#include <QTest>
#include <QXYSeries>

#include "fitting/ChannelModel.h"
#include "ui/ChartView.h"
#include "ui/tests/UiTests.h"
#include "ui/tests/WindowFixture.h"

namespace morvex::test {

namespace {

QColor ColorOf(QAbstractSeries* series) { return qobject_cast<QXYSeries*>(series)->color(); }

}  // namespace

class TestChartOptions : public QObject, TWindowFixture {
  Q_OBJECT

  ScriptedDialogs dialogs_;
  void Load(const char* file) {
    dialogs_.answers.push_back(DataFile(file));
    Click("Button2");
  }
  // Triggers the context menu's item `name`, as a click on it does.
  void TriggerMenuItem(const char* name) {
    QMenu* menu = form_->ChartView()->BuildContextMenu();
    QAction* action = menu->findChild<QAction*>(QLatin1String(name));
    QVERIFY(action != nullptr && action->isCheckable());
    action->trigger();
    delete menu;
  }
  // Every test, here and in the other classes, starts from the user's
  // first session.
  static void ForgetChartSettings() {
    QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Morvex"), QStringLiteral("morvex"))
        .remove(QStringLiteral("chart"));
  }
  // For looking at: the chart as shown, when a folder for pictures is named.
  void Shoot(const char* name) {
    const QString shots = qEnvironmentVariable("MORVEX_SCREENSHOT_DIR");
    if (shots.isEmpty()) return;
    QCoreApplication::processEvents();
    QVERIFY(form_->ChartView()->grab().save(QDir(shots).filePath(QLatin1String(name))));
  }
  bool MenuItemChecked(const char* name) {
    QMenu* menu = form_->ChartView()->BuildContextMenu();
    const bool checked = menu->findChild<QAction*>(QLatin1String(name))->isChecked();
    delete menu;
    return checked;
  }

 private slots:
  void init() {
    ForgetChartSettings();
    dialogs_ = ScriptedDialogs();
    QVERIFY(OpenWindow(dialogs_));
  }

  void cleanup() {
    CloseWindow();
    ForgetChartSettings();
  }

  void pairedColoursGiveEachLoadOneHueAndAreKept() {
    Load("lateral.plt");  // three loads
    QChart* chart = form_->Chart();
    // Off at first: the red model and blue data shades.
    QVERIFY(!form_->ChartView()->PairedColours());
    QVERIFY(!MenuItemChecked("PairColours"));
    QCOMPARE(ColorOf(chart->series()[0]), QColor(255, 0, 0));
    QCOMPARE(ColorOf(chart->series()[3]), QColor(0, 90, 255));

    TriggerMenuItem("PairColours");  // redraws at once
    QVERIFY(MenuItemChecked("PairColours"));
    auto series = chart->series();
    QCOMPARE(series.size(), 6);
    QSet<QRgb> hues;
    for (int load = 0; load < 3; ++load) {
      QVERIFY(qobject_cast<QLineSeries*>(series[load]) != nullptr);
      QVERIFY(qobject_cast<QScatterSeries*>(series[3 + load]) != nullptr);
      QCOMPARE(ColorOf(series[3 + load]), ColorOf(series[load]));
      hues.insert(ColorOf(series[load]).rgb());
    }
    QCOMPARE(hues.size(), 3);
    Shoot("chart-paired-colours.png");
    // The legend's marks follow.
    QCOMPARE(chart->legend()->markers()[3]->brush().color(), ColorOf(series[0]));

    // The residuals of each load keep the load's colour.
    Find<QCheckBox>("CheckBox3")->setChecked(true);
    series = chart->series();
    QCOMPARE(series.size(), 3);
    for (int load = 0; load < 3; ++load) QVERIFY(hues.contains(ColorOf(series[load]).rgb()));
    QVERIFY(ColorOf(series[0]) != ColorOf(series[1]));
    Find<QCheckBox>("CheckBox3")->setChecked(false);

    // The next window (the next session) starts with the colours paired.
    CloseWindow();
    QVERIFY(OpenWindow(dialogs_));
    QVERIFY(form_->ChartView()->PairedColours());
    Load("lateral.plt");
    chart = form_->Chart();
    QCOMPARE(ColorOf(chart->series()[4]), ColorOf(chart->series()[1]));
    TriggerMenuItem("PairColours");
    QCOMPARE(ColorOf(chart->series()[0]), QColor(255, 0, 0));
    QCOMPARE(ColorOf(chart->series()[4]), QColor(0, 120, 255));
    CloseWindow();
    QVERIFY(OpenWindow(dialogs_));
    QVERIFY(!form_->ChartView()->PairedColours());
  }

  void everyCamberAtOnceShowsEachCaseInItsOwnMarks() {
    Load("lateral.plt");  // cambers 0 and 2, three loads each
    QChart* chart = form_->Chart();
    QCOMPARE(chart->series().size(), 6);
    QVERIFY(!MenuItemChecked("AllCambers"));
    TriggerMenuItem("AllCambers");
    QVERIFY(form_->ChartView()->AllCambers() && MenuItemChecked("AllCambers"));
    QCOMPARE(chart->title(), QStringLiteral("Lateral force Fy, all cambers (0, 2 deg), lateral.plt"));
    Shoot("chart-all-cambers.png");
    const auto series = chart->series();
    QCOMPARE(series.size(), 12);
    QCOMPARE(series[0]->name(), QStringLiteral("MF model 2000, camber 0"));
    QCOMPARE(series[6]->name(), QStringLiteral("MF model 2000, camber 2"));
    QCOMPARE(series[9]->name(), QStringLiteral("tire data 2000, camber 2"));
    // Same load, same colour; the cambers differ in line style and marker shape.
    QCOMPARE(ColorOf(series[6]), ColorOf(series[0]));
    QVERIFY(qobject_cast<QLineSeries*>(series[6])->pen().style() !=
            qobject_cast<QLineSeries*>(series[0])->pen().style());
    QVERIFY(qobject_cast<QScatterSeries*>(series[9])->markerShape() !=
            qobject_cast<QScatterSeries*>(series[3])->markerShape());
    // The second case's model is evaluated at its own camber.
    const TLoadCase& second = form_->DataSet().Cases[1];
    QCOMPARE(qobject_cast<QXYSeries*>(series[6])->points().first().y(),
             EvaluatePoint(TFitChannel::kLateral, form_->Coefficients(), second.Camber, second.Loads[0],
                           second.Slips[0]));

    // Picking a camber changes the grid only; the residuals of every camber.
    Find<QCheckBox>("CheckBox3")->setChecked(true);
    QCOMPARE(chart->series().size(), 6);
    QCOMPARE(chart->series()[3]->name(), QStringLiteral("residual 2000, camber 2"));
    QVERIFY(chart->title().contains(QStringLiteral("measured - model, all cambers")));
    Find<QCheckBox>("CheckBox3")->setChecked(false);

    TriggerMenuItem("PairColours");
    Shoot("chart-all-cambers-paired.png");
    TriggerMenuItem("PairColours");

    // Off again: the selected camber alone, titled with it.
    TriggerMenuItem("AllCambers");
    QCOMPARE(chart->series().size(), 6);
    QCOMPARE(chart->title(), QStringLiteral("Lateral force Fy, camber 0 deg, lateral.plt"));
  }

  void resetWorksWhereverTheFocusIs() {
    Load("lateral.plt");
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    TResultChartView* view = form_->ChartView();
    auto zoom = [view] {
      view->ZoomAround(2, view->chart()->plotArea().center());
      return view->IsZoomed();
    };

    // In the grid: Home.
    auto* grid = Find<QTableWidget>("SG1");
    grid->setFocus();
    grid->setCurrentCell(2, 2);
    QVERIFY(zoom());
    QTest::keyClick(grid, Qt::Key_Home);
    QVERIFY(!view->IsZoomed());

    // In a coefficient's edit box Home moves the cursor to the start, as in
    // any edit box; Ctrl+0 resets the chart and leaves the text alone.
    QLineEdit* edit = Edit("PCy1");
    edit->setFocus();
    edit->setCursorPosition(3);
    QVERIFY(zoom());
    QTest::keyClick(edit, Qt::Key_Home);
    QCOMPARE(edit->cursorPosition(), 0);
    QVERIFY(view->IsZoomed());
    QTest::keyClick(edit, Qt::Key_0, Qt::ControlModifier);
    QVERIFY(!view->IsZoomed());
    QCOMPARE(edit->text(), QStringLiteral("1.30000"));

    // In a grid cell being edited: Ctrl+0 too.
    grid->setFocus();
    grid->editItem(grid->item(2, 2));
    auto* cell = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QVERIFY(cell != nullptr);
    const QString cell_text = cell->text();
    QVERIFY(zoom());
    QTest::keyClick(cell, Qt::Key_0, Qt::ControlModifier);
    QVERIFY(!view->IsZoomed());
    QCOMPARE(cell->text(), cell_text);
    QTest::keyClick(cell, Qt::Key_Escape);

    // On a button, a free box, the chart itself: Home.
    for (QWidget* focus : {Find("Button3"), static_cast<QWidget*>(Box("PCy1")), Find("Chart1")}) {
      focus->setFocus();
      QVERIFY(zoom());
      QTest::keyClick(focus, Qt::Key_Home);
      QVERIFY2(!view->IsZoomed(), qPrintable(focus->objectName()));
    }

    // The button in the chart's corner shows while zoomed.
    auto* whole = view->findChild<QToolButton*>(QStringLiteral("ResetZoomButton"));
    QVERIFY(whole != nullptr && !whole->isVisible());
    edit->setFocus();
    QVERIFY(zoom());
    QVERIFY(whole->isVisible());
    QVERIFY(view->rect().contains(whole->geometry()));
    Shoot("chart-zoomed-with-reset-button.png");
    QTest::mouseClick(whole, Qt::LeftButton);
    QVERIFY(!view->IsZoomed());
    QVERIFY(!whole->isVisible());
  }

  void optionsBeforeAnyDataDrawNothing() {
    // No data: the option is kept, and the chart stays empty without error.
    TriggerMenuItem("PairColours");
    QVERIFY(form_->ChartView()->PairedColours());
    QVERIFY(form_->Chart()->series().isEmpty());
    QVERIFY(dialogs_.messages.empty());
  }
};

namespace {
RegisterUiTest<TestChartOptions> register_chart_options;
}

}  // namespace morvex::test

#include "tst_chartoptions.moc"
