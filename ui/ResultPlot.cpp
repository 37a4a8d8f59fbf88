#include "ui/ResultPlot.h"

#include <QAbstractAxis>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QLegendMarker>
#include <QMargins>
#include <QRectF>
#include <QValueAxis>
#include <QBrush>
#include <QChart>
#include <QColor>
#include <QLegend>
#include <QGraphicsObject>
#include <QLineSeries>
#include <QScatterSeries>
#include <QLinearGradient>
#include <QList>
#include <QPen>
#include <QPointF>
#include <QString>

#include <algorithm>
#include <cmath>

#include "fitting/ChannelModel.h"
#include "numerics/LxBasics.h"

namespace morvex {

namespace {

// The colour index runs through the green component and wraps at 256.
int GreenOf(size_t index) { return static_cast<int>((30 * index) % 256); }

// Ten hues far apart from each other, none of them pale on the chart's
// light background.
constexpr TPlotColor kPairedHues[] = {{31, 119, 180}, {255, 127, 14}, {44, 160, 44},  {214, 39, 40},
                                      {148, 103, 189}, {140, 86, 75}, {227, 119, 194}, {127, 127, 127},
                                      {188, 189, 34},  {23, 190, 207}};

// About five intervals of 1, 2 or 5 times a power of ten over `span`.
double RoundTickInterval(double span) {
  if (!(span > 0) || !std::isfinite(span)) return 1.0;
  const double raw = span / 5;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 5.0})
    if (raw <= factor * power) return factor * power;
  return 10 * power;
}

// The range of an axis: the values' span and 4 % of it on each side; a
// single value gets a band of its own size (or 1 around zero).
std::pair<double, double> PaddedRange(double low, double high) {
  double pad = (high - low) * 0.04;
  if (!(pad > 0) || !std::isfinite(pad)) pad = std::max(std::abs(high) * 0.05, 1.0);
  return {low - pad, high + pad};
}

// Every series lies at one stacking level, painted in the order added, so
// the model curves (added first, for the legend's order) would lie under
// the markers.  The chart items of line series go one level up.
void RaiseModelLines(QChart* chart) {
  const QList<QGraphicsItem*> top = chart->childItems();
  std::vector<QGraphicsItem*> pending(top.begin(), top.end());
  while (!pending.empty()) {
    QGraphicsItem* item = pending.back();
    pending.pop_back();
    for (QGraphicsItem* child : item->childItems()) pending.push_back(child);
    QGraphicsObject* object = item->toGraphicsObject();
    if (object != nullptr && qstrcmp(object->metaObject()->className(), "LineChartItem") == 0)
      object->setZValue(object->zValue() + 0.5);
  }
}

constexpr qreal kLegendTop = 6;
constexpr qreal kLegendSide = 8;

// A legend on top lists every curve, wrapped over as many rows as its
// entries need: an attached legend keeps to one row and would cut the
// titles short.  The detached legend wraps its entries at its width; the
// plot area starts below it.
void PlaceLegend(QChart* chart) {
  QLegend* legend = chart->legend();
  const QList<QLegendMarker*> markers = legend->markers();
  if (markers.isEmpty()) {
    legend->attachToChart();
    chart->setMargins(QMargins(6, 6, 10, 6));
    return;
  }
  const QFontMetricsF metrics(legend->font());
  qreal widest = 0;
  for (const QLegendMarker* marker : markers) widest = std::max(widest, metrics.horizontalAdvance(marker->label()));
  // An entry: its colour mark, the title and the spaces around them.
  const qreal entry_width = widest + metrics.height() + 16;
  const qreal row_height = metrics.height() + 8;
  const qreal width = chart->size().width() - 2 * kLegendSide;
  const int per_row = std::max(1, static_cast<int>(width / entry_width));
  const int rows = static_cast<int>((markers.size() + per_row - 1) / per_row);
  const qreal height = rows * row_height + 4;

  legend->detachFromChart();
  legend->setGeometry(QRectF(kLegendSide, kLegendTop, per_row * entry_width, height));
  legend->update();
  chart->setMargins(QMargins(6, static_cast<int>(kLegendTop + height), 10, 6));
}

}  // namespace

TPlotColor PairedColor(size_t index) {
  const size_t count = std::size(kPairedHues);
  TPlotColor color = kPairedHues[index % count];
  // Each further round of the hues is darker by a third.
  for (size_t round = index / count; round > 0; --round)
    color = {color.red * 2 / 3, color.green * 2 / 3, color.blue * 2 / 3};
  return color;
}

void ComputePlotCurves(const TLoadCase* load_case, const TPlotRequest& request,
                       const TCoefficientSet& coefficients, std::vector<TPlotCurve>& curves) {
  if (load_case == nullptr) return;
  const size_t loads = load_case->LoadCount();
  const size_t rows = load_case->RowCount();

  size_t first_data_index = 0;
  if (request.draw_model) {
    for (size_t i = 0; i < loads; ++i) {
      const TPlotColor color = request.paired_colours ? PairedColor(i) : TPlotColor{255, GreenOf(i), 0};
      curves.push_back({"MF model " + FloatToStr(load_case->Loads[i]), color, {}});
      for (size_t r = 0; r < rows; ++r) {
        const double slip = load_case->Slips[r];
        const double value =
            EvaluatePoint(request.channel, coefficients, load_case->Camber, load_case->Loads[i], slip);
        curves.back().points.emplace_back(slip, value);
      }
    }
    first_data_index = loads;
  }
  if (request.draw_data) {
    for (size_t k = 0; k < loads; ++k) {
      const TPlotColor color =
          request.paired_colours ? PairedColor(k) : TPlotColor{0, GreenOf(first_data_index + k), 255};
      curves.push_back({"tire data " + FloatToStr(load_case->Loads[k]), color, {}, true});
      for (size_t r = 0; r < rows; ++r) curves.back().points.emplace_back(load_case->Slips[r], load_case->Value(r, k));
    }
  }
}

void ComputeResidualCurves(const TLoadCase* load_case, TFitChannel channel,
                           const TCoefficientSet& coefficients, std::vector<TPlotCurve>& curves,
                           bool paired_colours) {
  if (load_case == nullptr) return;
  for (size_t k = 0; k < load_case->LoadCount(); ++k) {
    const TPlotColor color = paired_colours ? PairedColor(k) : TPlotColor{0, GreenOf(k), 255};
    curves.push_back({"residual " + FloatToStr(load_case->Loads[k]), color, {}, true, true});
    for (size_t r = 0; r < load_case->RowCount(); ++r) {
      const double slip = load_case->Slips[r];
      const double model = EvaluatePoint(channel, coefficients, load_case->Camber, load_case->Loads[k], slip);
      curves.back().points.emplace_back(slip, load_case->Value(r, k) - model);
    }
  }
}

TAxisTitles AxisTitlesFor(TFitChannel channel, bool residuals) {
  std::string quantity = "Fy";
  std::string unit = "[N]";
  if (channel == TFitChannel::kAligning) {
    quantity = "Mz";
    unit = "[N m]";
  } else if (channel == TFitChannel::kLongitudinal) {
    quantity = "Fx";
  }
  const std::string x = channel == TFitChannel::kLongitudinal ? "slip ratio [-]" : "slip angle [deg]";
  return {x, residuals ? quantity + " measured - model " + unit : quantity + " " + unit};
}

std::optional<TFitChannel> DataChannelOfHeader(std::string_view line) {
  for (const auto& [name, channel] : {std::pair{"lateral", TFitChannel::kLateral},
                                      std::pair{"aligning", TFitChannel::kAligning},
                                      std::pair{"longitudinal", TFitChannel::kLongitudinal}})
    if (line.rfind("Morvex " + std::string(name) + " data imported from", 0) == 0) return channel;
  return std::nullopt;
}

namespace {

const char* ChannelWords(TFitChannel channel) {
  switch (channel) {
    case TFitChannel::kLateral: return "Lateral force Fy";
    case TFitChannel::kAligning: return "Aligning moment Mz";
    case TFitChannel::kLongitudinal: return "Longitudinal force Fx";
  }
  return "";
}

}  // namespace

std::string ChartTitle(TFitChannel page, std::optional<TFitChannel> data, double camber, const std::string& source,
                       bool residuals) {
  std::string title = ChannelWords(page);
  if (residuals) title += ", measured - model";
  if (std::isfinite(camber)) title += ", camber " + FloatToStrF(camber, TFloatFormat::kGeneral, 6, 0) + " deg";
  if (!source.empty()) title += ", " + source;
  if (data && *data != page)
    title += " (" + std::string(ChannelName(*data)) + " data on the " + std::string(ChannelName(page)) + " page)";
  return title;
}

std::vector<std::pair<double, double>> SortedBySlip(std::vector<std::pair<double, double>> points) {
  std::stable_sort(points.begin(), points.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return points;
}

void StyleResultChart(QChart* chart) {
  chart->setTitle(QString());
  chart->legend()->setVisible(true);
  chart->legend()->setAlignment(Qt::AlignTop);
  chart->legend()->setBackgroundVisible(false);

  QLinearGradient gradient(0.0, 0.0, 0.0, 1.0);
  gradient.setCoordinateMode(QGradient::ObjectBoundingMode);
  gradient.setColorAt(0.0, QColor(255, 255, 255));
  gradient.setColorAt(1.0, QColor(160, 207, 207));
  chart->setBackgroundBrush(QBrush(gradient));
  chart->setBackgroundRoundness(0);
  chart->layout()->setContentsMargins(0, 0, 0, 0);
  chart->setPlotAreaBackgroundVisible(false);
  chart->setAnimationOptions(QChart::NoAnimation);
}

void ShowCurves(QChart* chart, const std::vector<TPlotCurve>& curves, const TAxisTitles& titles) {
  chart->removeAllSeries();
  for (QAbstractAxis* axis : chart->axes()) {
    chart->removeAxis(axis);
    delete axis;
  }
  if (curves.empty()) {
    PlaceLegend(chart);
    return;
  }

  double x_low = INFINITY, x_high = -INFINITY, y_low = INFINITY, y_high = -INFINITY;
  // Joined measured curves (the residuals of each load) have colours a
  // few steps of green apart: each load also gets a line style of its own.
  constexpr Qt::PenStyle kJoinedStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine,
                                            Qt::DashDotDotLine};
  size_t joined_index = 0;
  for (const TPlotCurve& curve : curves) {
    const QColor color(curve.color.red, curve.color.green, curve.color.blue);
    QXYSeries* series = nullptr;
    if (curve.measured && !curve.joined) {
      auto* markers = new QScatterSeries(chart);
      markers->setMarkerShape(QScatterSeries::MarkerShapeCircle);
      markers->setMarkerSize(6);
      markers->setColor(color);
      markers->setBorderColor(color.darker(130));
      series = markers;
    } else {
      auto* line = new QLineSeries(chart);
      QPen pen(color);
      pen.setWidthF(curve.measured ? 1.0 : 2.0);
      if (curve.measured) pen.setStyle(kJoinedStyles[joined_index++ % std::size(kJoinedStyles)]);
      line->setPen(pen);
      if (curve.measured) {
        line->setMarkerSize(5);
        line->setPointsVisible(true);
      }
      series = line;
    }
    series->setName(QString::fromStdString(curve.title));
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(curve.points.size()));
    for (const auto& [slip, value] : SortedBySlip(curve.points)) {
      points.append(QPointF(slip, value));
      if (std::isfinite(slip) && std::isfinite(value)) {
        x_low = std::min(x_low, slip);
        x_high = std::max(x_high, slip);
        y_low = std::min(y_low, value);
        y_high = std::max(y_high, value);
      }
    }
    series->replace(points);
    chart->addSeries(series);
  }
  chart->createDefaultAxes();
  for (QAbstractAxis* axis : chart->axes()) {
    const bool horizontal = axis->orientation() == Qt::Horizontal;
    axis->setTitleText(QString::fromStdString(horizontal ? titles.x : titles.y));
    if (auto* values = qobject_cast<QValueAxis*>(axis)) {
      if (x_low <= x_high) {
        const auto [low, high] = horizontal ? PaddedRange(x_low, x_high) : PaddedRange(y_low, y_high);
        values->setRange(low, high);
      }
      // The ticks go at round values.
      values->setTickType(QValueAxis::TicksDynamic);
      values->setTickAnchor(0.0);
      values->setTickInterval(RoundTickInterval(values->max() - values->min()));
      values->setLabelFormat(QStringLiteral("%g"));
    }
  }
  RaiseModelLines(chart);
  PlaceLegend(chart);
}

}  // namespace morvex
