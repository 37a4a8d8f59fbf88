// What the result plot draws: curves, titles, colours, point order, and what
// stays drawn when an evaluation fails.
#include <cmath>
#include <optional>
#include <set>
#include <tuple>

#include <QAbstractAxis>
#include <QLegend>
#include <QChart>
#include <QLineSeries>
#include <QScatterSeries>
#include <QXYSeries>
#include <QObject>
#include <QTest>

#include "fitting/ChannelModel.h"
#include "numerics/LxTypes.h"
#include "tiremodel/CoefficientSet.h"
#include "ui/ResultPlot.h"
#include "ui/tests/UiTests.h"

namespace morvex::test {

namespace {

// A case with `loads` loads of 1000, 2000, ... and three slip rows.
TLoadCase MakeCase(int loads) {
  TLoadCase c;
  c.Camber = 1;
  for (int j = 0; j < loads; ++j) c.Loads.push_back(1000.0 * (j + 1));
  c.Slips = {-4, 0, 4};
  for (size_t r = 0; r < c.Slips.size(); ++r)
    for (int j = 0; j < loads; ++j) c.Values.push_back(100.0 * r + j);
  return c;
}

}  // namespace

class TestResultPlot : public QObject {
  Q_OBJECT

 private slots:
  void headerNamesTheDataChannelAndTheTitleWhatIsShown() {
    QCOMPARE(DataChannelOfHeader("Morvex aligning data imported from run.tdx"), std::optional(TFitChannel::kAligning));
    QCOMPARE(DataChannelOfHeader("Morvex lateral data imported from a.csv"), std::optional(TFitChannel::kLateral));
    QVERIFY(!DataChannelOfHeader("LOAD_CASE 1").has_value());
    QVERIFY(!DataChannelOfHeader("morvex lateral data").has_value());
    QCOMPARE(ChartTitle(TFitChannel::kAligning, TFitChannel::kAligning, -1.5, "mz.plt", false),
             std::string("Aligning moment Mz, camber -1.5 deg, mz.plt"));
    QCOMPARE(ChartTitle(TFitChannel::kLongitudinal, std::nullopt, 0, "", true),
             std::string("Longitudinal force Fx, measured - model, camber 0 deg"));
    QCOMPARE(ChartTitle(TFitChannel::kLateral, TFitChannel::kAligning, std::nan(""), "x.plt", false),
             std::string("Lateral force Fy, x.plt (aligning data on the lateral page)"));
  }

  void modelCurvesFirstThenDataWithWrappingGreen() {
    const TLoadCase c = MakeCase(10);
    TMemoryCoefficientSet set;
    std::vector<TPlotCurve> curves;
    ComputePlotCurves(&c, {TFitChannel::kLateral, true, true}, set, curves);

    QCOMPARE(curves.size(), size_t{20});
    QCOMPARE(curves[0].title, std::string("MF model 1000"));
    QCOMPARE(curves[9].title, std::string("MF model 10000"));
    QCOMPARE(curves[10].title, std::string("tire data 1000"));
    QVERIFY((curves[0].color == TPlotColor{255, 0, 0}));
    QVERIFY((curves[1].color == TPlotColor{255, 30, 0}));
    QVERIFY((curves[9].color == TPlotColor{255, 14, 0}));   // 270 mod 256
    QVERIFY((curves[10].color == TPlotColor{0, 44, 255}));  // index L + 0 = 10: 300 mod 256
    for (const TPlotCurve& curve : curves) QCOMPARE(curve.points.size(), size_t{3});
    // Model points: the one-point function at each row's slip; data points:
    // the measured values of that load.
    QCOMPARE(curves[2].points[1].second, EvaluatePoint(TFitChannel::kLateral, set, 1, 3000, 0));
    QCOMPARE(curves[12].points[2], (std::pair<double, double>{4, 202}));
  }

  void dataOnlyStartsWithPureBlue() {
    const TLoadCase c = MakeCase(3);
    TMemoryCoefficientSet set;
    std::vector<TPlotCurve> curves;
    ComputePlotCurves(&c, {TFitChannel::kLateral, false, true}, set, curves);
    QCOMPARE(curves.size(), size_t{3});
    QVERIFY((curves[0].color == TPlotColor{0, 0, 255}));
    QVERIFY((curves[2].color == TPlotColor{0, 60, 255}));

    curves.clear();
    ComputePlotCurves(&c, {TFitChannel::kLateral, false, false}, set, curves);
    QVERIFY(curves.empty());
    ComputePlotCurves(nullptr, {TFitChannel::kLateral, true, true}, set, curves);
    QVERIFY(curves.empty());
  }

  void badCoefficientKeepsWhatWasDrawn() {
    const TLoadCase c = MakeCase(2);
    TMemoryCoefficientSet set;
    set.SetText("PCy1", "abc");
    std::vector<TPlotCurve> curves;
    try {
      ComputePlotCurves(&c, {TFitChannel::kLateral, true, true}, set, curves);
      QFAIL("a coefficient that is not a number must stop the plot");
    } catch (const EConvertError& error) {
      QCOMPARE(std::string(error.what()), std::string("'abc' n'est pas une valeur en virgule flottante correcte"));
    }
    // The first model curve was created before its first point failed.
    QCOMPARE(curves.size(), size_t{1});
    QVERIFY(curves[0].points.empty());

    // The longitudinal page does not read PCy1: the same set draws fully.
    curves.clear();
    ComputePlotCurves(&c, {TFitChannel::kLongitudinal, true, true}, set, curves);
    QCOMPARE(curves.size(), size_t{4});
  }

  // With the colours paired, model line and markers of a load share one
  // colour, and no two loads of a case share one: twelve loads take the ten
  // hues and then the first two again, darker.
  void pairedColoursShareOneColourPerLoad() {
    const TLoadCase c = MakeCase(12);
    TMemoryCoefficientSet set;
    std::vector<TPlotCurve> curves;
    TPlotRequest request{TFitChannel::kLateral, true, true};
    request.paired_colours = true;
    ComputePlotCurves(&c, request, set, curves);
    QCOMPARE(curves.size(), size_t{24});
    std::set<std::tuple<int, int, int>> colours;
    for (size_t load = 0; load < 12; ++load) {
      QVERIFY(!curves[load].measured && curves[12 + load].measured);
      QVERIFY(curves[load].color == curves[12 + load].color);
      QVERIFY(curves[load].color == PairedColor(load));
      colours.insert({curves[load].color.red, curves[load].color.green, curves[load].color.blue});
    }
    QCOMPARE(colours.size(), size_t{12});
    const TPlotColor first = PairedColor(0);
    QVERIFY((PairedColor(10) == TPlotColor{first.red * 2 / 3, first.green * 2 / 3, first.blue * 2 / 3}));

    // Data alone keep the colours they have beside the model.
    curves.clear();
    request.draw_model = false;
    ComputePlotCurves(&c, request, set, curves);
    QVERIFY(curves[3].color == PairedColor(3));
    // So do the residuals of each load.
    curves.clear();
    ComputeResidualCurves(&c, TFitChannel::kLateral, set, curves, true);
    QCOMPARE(curves.size(), size_t{12});
    QVERIFY(curves[5].color == PairedColor(5));
    curves.clear();
    ComputeResidualCurves(&c, TFitChannel::kLateral, set, curves);
    QVERIFY((curves[5].color == TPlotColor{0, 150, 255}));
  }

  // Every camber at once: each case's curves in the colours of a single
  // case, titled with their camber and grouped by case; the title lists the
  // cambers.
  void everyCamberAtOnceGroupsTheCurvesByCase() {
    TTireDataSet data;
    data.Cases = {MakeCase(2), MakeCase(2), MakeCase(2)};
    data.Cases[1].Camber = -2.5;  // the third repeats camber 1
    TMemoryCoefficientSet set;
    TPlotRequest request{TFitChannel::kLateral, true, true};
    request.all_cambers = true;
    std::vector<TPlotCurve> curves;
    ComputeChartCurves(data, 0, request, set, curves);
    QCOMPARE(curves.size(), size_t{12});
    QCOMPARE(curves[0].title, std::string("MF model 1000, camber 1"));
    QCOMPARE(curves[4].title, std::string("MF model 1000, camber -2.5"));
    QCOMPARE(curves[7].title, std::string("tire data 2000, camber -2.5"));
    QCOMPARE(curves[4].group, 1);
    QCOMPARE(curves[11].group, 2);
    QVERIFY(curves[4].color == curves[0].color);
    QCOMPARE(curves[4].points[1].second, EvaluatePoint(TFitChannel::kLateral, set, -2.5, 1000, 0));
    QCOMPARE(ChartTitleFor(data, 0, request, std::nullopt, "a.plt"),
             std::string("Lateral force Fy, all cambers (1, -2.5 deg), a.plt"));

    // Without the option: the selected case alone, as ComputePlotCurves draws it.
    request.all_cambers = false;
    curves.clear();
    ComputeChartCurves(data, 1, request, set, curves);
    QCOMPARE(curves.size(), size_t{4});
    QCOMPARE(curves[0].title, std::string("MF model 1000"));
    QCOMPARE(curves[0].group, 0);
    QCOMPARE(curves[0].points[1].second, EvaluatePoint(TFitChannel::kLateral, set, -2.5, 1000, 0));
    QCOMPARE(ChartTitleFor(data, 1, request, std::nullopt, "a.plt"),
             std::string("Lateral force Fy, camber -2.5 deg, a.plt"));
    QVERIFY(ChartTitleFor(data, 5, request, std::nullopt, "a.plt").empty());

    // Residuals of every camber; a failed evaluation keeps the titles of
    // what was drawn.
    request.all_cambers = request.residuals = true;
    curves.clear();
    ComputeChartCurves(data, 0, request, set, curves);
    QCOMPARE(curves.size(), size_t{6});
    QCOMPARE(curves[5].title, std::string("residual 2000, camber 1"));
    set.SetText("PCy1", "abc");
    curves.clear();
    QVERIFY_THROWS_EXCEPTION(EConvertError, ComputeChartCurves(data, 0, request, set, curves));
    QCOMPARE(curves.size(), size_t{1});
    QCOMPARE(curves[0].title, std::string("residual 1000, camber 1"));

    TTireDataSet many;
    for (int camber = -4; camber <= 4; ++camber) {
      many.Cases.push_back(MakeCase(1));
      many.Cases.back().Camber = camber;
    }
    QCOMPARE(ChartTitleFor(many, 0, request, std::nullopt, ""),
             std::string("Lateral force Fy, measured - model, all 9 cambers (-4 to 4 deg)"));
    QVERIFY(ChartTitleFor(TTireDataSet{}, 0, request, std::nullopt, "").empty());
  }

  void everyCamberDrawnInItsOwnLineStyleAndMarkerShape() {
    const std::vector<std::pair<double, double>> points{{-1, -1}, {0, 0}, {1, 1}};
    std::vector<TPlotCurve> curves{{"m0", {255, 0, 0}, points, false}, {"d0", {0, 0, 255}, points, true},
                                   {"m1", {255, 0, 0}, points, false, false, 1},
                                   {"d1", {0, 0, 255}, points, true, false, 1}};
    QChart chart;
    StyleResultChart(&chart);
    ShowCurves(&chart, curves);
    auto series = chart.series();
    QCOMPARE(qobject_cast<QLineSeries*>(series[0])->pen().style(), Qt::SolidLine);
    QVERIFY(qobject_cast<QLineSeries*>(series[2])->pen().style() != Qt::SolidLine);
    QCOMPARE(qobject_cast<QScatterSeries*>(series[1])->markerShape(), QScatterSeries::MarkerShapeCircle);
    QVERIFY(qobject_cast<QScatterSeries*>(series[3])->markerShape() != QScatterSeries::MarkerShapeCircle);
    QCOMPARE(chart.legend()->markerShape(), QLegend::MarkerShapeFromSeries);

    // Residuals: each group counts its loads' line styles from the first,
    // and marks its points in its own shape.
    std::vector<TPlotCurve> residuals{{"r0", {0, 0, 255}, points, true, true},
                                      {"r0b", {0, 30, 255}, points, true, true},
                                      {"r1", {0, 0, 255}, points, true, true, 1}};
    ShowCurves(&chart, residuals);
    series = chart.series();
    QCOMPARE(qobject_cast<QLineSeries*>(series[1])->pen().style(), Qt::DashLine);
    QCOMPARE(qobject_cast<QLineSeries*>(series[2])->pen().style(), Qt::SolidLine);
    QVERIFY(!qobject_cast<QLineSeries*>(series[2])->lightMarker().isNull());

    // One camber: the plain look, legend marks by default.
    ShowCurves(&chart, {curves[0], curves[1]});
    QVERIFY(chart.legend()->markerShape() != QLegend::MarkerShapeFromSeries);
    QVERIFY(qobject_cast<QLineSeries*>(chart.series()[0])->lightMarker().isNull());
  }

  void pointsSortedBySlipKeepingEqualSlipsInOrder() {
    const auto sorted = SortedBySlip({{3, 1}, {-1, 2}, {3, 3}, {0, 4}, {-1, 5}});
    const std::vector<std::pair<double, double>> expected{{-1, 2}, {-1, 5}, {0, 4}, {3, 1}, {3, 3}};
    QCOMPARE(sorted, expected);
  }

  void chartShowsCurvesInOrderAndEmptiesWhenNone() {
    QChart chart;
    StyleResultChart(&chart);
    QCOMPARE(chart.legend()->alignment(), Qt::AlignTop);

    std::vector<TPlotCurve> curves{{"MF model 2000", {255, 0, 0}, {{2, 20}, {-2, -20}, {0, 1}}, false},
                                   {"tire data 2000", {0, 30, 255}, {{0, 5}}, true}};
    ShowCurves(&chart, curves);
    const auto series = chart.series();
    QCOMPARE(series.size(), 2);
    // The model as a line, the measurements as markers without lines.
    auto* model = qobject_cast<QLineSeries*>(series[0]);
    QVERIFY(model != nullptr);
    QVERIFY(qobject_cast<QScatterSeries*>(series[1]) != nullptr);
    QCOMPARE(model->name(), QStringLiteral("MF model 2000"));
    QCOMPARE(model->color(), QColor(255, 0, 0));
    QCOMPARE(model->points(), (QList<QPointF>{{-2, -20}, {0, 1}, {2, 20}}));
    QCOMPARE(qobject_cast<QXYSeries*>(series[1])->color(), QColor(0, 30, 255));
    QCOMPARE(chart.axes().size(), 2);
    for (QAbstractAxis* axis : chart.axes()) QVERIFY(axis->titleText().isEmpty());

    ShowCurves(&chart, {});
    QVERIFY(chart.series().isEmpty());
    QVERIFY(chart.axes().isEmpty());
  }

  // Residuals of neighbouring loads differ in green by a few steps only:
  // each load's line has its own style as well, so the loads tell apart.
  void residualsOfEachLoadHaveTheirOwnLineStyle() {
    TLoadCase c = MakeCase(3);
    TMemoryCoefficientSet set;
    std::vector<TPlotCurve> curves;
    ComputeResidualCurves(&c, TFitChannel::kLateral, set, curves);
    QChart chart;
    ShowCurves(&chart, curves);
    QList<Qt::PenStyle> styles;
    for (QAbstractSeries* series : chart.series()) {
      auto* line = qobject_cast<QLineSeries*>(series);
      QVERIFY(line != nullptr);
      QVERIFY(!styles.contains(line->pen().style()));
      styles << line->pen().style();
    }
    QCOMPARE(styles.size(), 3);
  }
};

namespace {
RegisterUiTest<TestResultPlot> register_result_plot;
}

}  // namespace morvex::test

#include "tst_resultplot.moc"
