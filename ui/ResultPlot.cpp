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
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QPointF>
#include <QString>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "fitting/ChannelModel.h"
#include "numerics/LxBasics.h"
#include "report/ValidationReport.h"
#include "tiredata/DataGrid.h"

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

// The marks of each case when every camber is drawn, by group.
constexpr Qt::PenStyle kGroupLineStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine,
                                             Qt::DashDotDotLine};
constexpr QScatterSeries::MarkerShape kGroupShapes[] = {
    QScatterSeries::MarkerShapeCircle,           QScatterSeries::MarkerShapeRectangle,
    QScatterSeries::MarkerShapeTriangle,         QScatterSeries::MarkerShapeRotatedRectangle,
    QScatterSeries::MarkerShapeStar,             QScatterSeries::MarkerShapePentagon};

// The outline of marker shape `shape` in a box of `size` pixels.
QPainterPath ShapePath(QScatterSeries::MarkerShape shape, qreal size) {
  QPainterPath path;
  const QPointF c(size / 2, size / 2);
  const qreal r = size / 2 - 0.5;
  auto regular = [&](int corners, qreal start, bool star) {
    QPolygonF polygon;
    const int points = star ? 2 * corners : corners;
    for (int i = 0; i < points; ++i) {
      const qreal angle = start + i * 2 * std::numbers::pi / points;
      const qreal radius = star && i % 2 == 1 ? r * 0.45 : r;
      polygon << c + QPointF(radius * std::cos(angle), radius * std::sin(angle));
    }
    path.addPolygon(polygon);
    path.closeSubpath();
  };
  switch (shape) {
    case QScatterSeries::MarkerShapeCircle: path.addEllipse(c, r, r); break;
    case QScatterSeries::MarkerShapeRectangle: path.addRect(QRectF(c - QPointF(r * 0.8, r * 0.8), c + QPointF(r * 0.8, r * 0.8))); break;
    case QScatterSeries::MarkerShapeTriangle: regular(3, -std::numbers::pi / 2, false); break;
    case QScatterSeries::MarkerShapeRotatedRectangle: regular(4, -std::numbers::pi / 2, false); break;
    case QScatterSeries::MarkerShapeStar: regular(5, -std::numbers::pi / 2, true); break;
    case QScatterSeries::MarkerShapePentagon: regular(5, -std::numbers::pi / 2, false); break;
  }
  return path;
}

// A line series' point marks in the shape of `shape`: the chart draws the
// image at every point.
QImage MarkerImage(QScatterSeries::MarkerShape shape, const QColor& color, int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(color.darker(130), 1));
  painter.setBrush(color);
  painter.drawPath(ShapePath(shape, size));
  return image;
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
  // An entry: its colour mark, the title and the spaces around them.  A
  // series' own mark (every camber drawn) is a short line, wider than the
  // colour square.
  const qreal mark_width =
      legend->markerShape() == QLegend::MarkerShapeFromSeries ? 3 * metrics.height() : metrics.height();
  const qreal entry_width = widest + mark_width + 16;
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

void ComputeChartCurves(const TTireDataSet& data, int selected, const TPlotRequest& request,
                        const TCoefficientSet& coefficients, std::vector<TPlotCurve>& curves) {
  auto case_curves = [&](const TLoadCase* load_case) {
    if (request.residuals)
      ComputeResidualCurves(load_case, request.channel, coefficients, curves, request.paired_colours);
    else
      ComputePlotCurves(load_case, request, coefficients, curves);
  };
  if (!request.all_cambers) {
    case_curves(CaseAt(data, selected));
    return;
  }
  for (size_t index = 0; index < data.Cases.size(); ++index) {
    const size_t first = curves.size();
    // A failed evaluation leaves the curves of this case titled as well.
    struct Title {
      std::vector<TPlotCurve>& curves;
      size_t first;
      int group;
      std::string suffix;
      ~Title() {
        for (size_t c = first; c < curves.size(); ++c) {
          curves[c].title += suffix;
          curves[c].group = group;
        }
      }
    } title{curves, first, static_cast<int>(index),
            ", camber " + FloatToStrF(data.Cases[index].Camber, TFloatFormat::kGeneral, 6, 0)};
    case_curves(&data.Cases[index]);
  }
}

TAxisTitles AxisTitlesFor(TFitChannel channel, bool residuals) {
  auto [x, y] = ChannelAxisTitles(channel, residuals);
  return {std::move(x), std::move(y)};
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


std::string CamberText(double camber) { return FloatToStrF(camber, TFloatFormat::kGeneral, 6, 0); }

std::string TitleWith(TFitChannel page, std::optional<TFitChannel> data, const std::string& cambers,
                      const std::string& source, bool residuals) {
  std::string title = ChannelWords(page);
  if (residuals) title += ", measured - model";
  if (!cambers.empty()) title += ", " + cambers;
  if (!source.empty()) title += ", " + source;
  if (data && *data != page)
    title += " (" + std::string(ChannelName(*data)) + " data on the " + std::string(ChannelName(page)) + " page)";
  return title;
}

}  // namespace

std::string ChartTitle(TFitChannel page, std::optional<TFitChannel> data, double camber, const std::string& source,
                       bool residuals) {
  return TitleWith(page, data, std::isfinite(camber) ? "camber " + CamberText(camber) + " deg" : std::string(), source,
                   residuals);
}

std::string ChartTitle(TFitChannel page, std::optional<TFitChannel> data, const std::vector<double>& cambers,
                       const std::string& source, bool residuals) {
  std::vector<double> distinct;
  for (double camber : cambers)
    if (std::find(distinct.begin(), distinct.end(), camber) == distinct.end()) distinct.push_back(camber);
  std::string text = "all cambers";
  if (distinct.size() > 6) {
    const auto [low, high] = std::minmax_element(distinct.begin(), distinct.end());
    text = "all " + std::to_string(distinct.size()) + " cambers (" + CamberText(*low) + " to " + CamberText(*high) +
           " deg)";
  } else if (!distinct.empty()) {
    text += " (";
    for (size_t i = 0; i < distinct.size(); ++i) text += (i > 0 ? ", " : "") + CamberText(distinct[i]);
    text += " deg)";
  }
  return TitleWith(page, data, text, source, residuals);
}

std::string ChartTitleFor(const TTireDataSet& data, int selected, const TPlotRequest& request,
                          std::optional<TFitChannel> data_channel, const std::string& source) {
  if (request.all_cambers) {
    if (data.Cases.empty()) return {};
    std::vector<double> cambers;
    for (const TLoadCase& load_case : data.Cases) cambers.push_back(load_case.Camber);
    return ChartTitle(request.channel, data_channel, cambers, source, request.residuals);
  }
  const TLoadCase* shown = CaseAt(data, selected);
  return shown == nullptr ? std::string()
                          : ChartTitle(request.channel, data_channel, shown->Camber, source, request.residuals);
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
  // The joined curves of each group count their loads from the first.
  size_t joined_index = 0;
  const bool grouped =
      std::any_of(curves.begin(), curves.end(), [](const TPlotCurve& curve) { return curve.group != 0; });
  int last_group = 0;
  for (const TPlotCurve& curve : curves) {
    const QColor color(curve.color.red, curve.color.green, curve.color.blue);
    if (curve.group != last_group) joined_index = 0;
    last_group = curve.group;
    const size_t group = static_cast<size_t>(std::max(0, curve.group));
    const QScatterSeries::MarkerShape shape = kGroupShapes[group % std::size(kGroupShapes)];
    QXYSeries* series = nullptr;
    if (curve.measured && !curve.joined) {
      auto* markers = new QScatterSeries(chart);
      markers->setMarkerShape(shape);
      // Shapes other than the circle need a little more room to be told apart.
      markers->setMarkerSize(shape == QScatterSeries::MarkerShapeCircle ? 6 : 8);
      markers->setColor(color);
      markers->setBorderColor(color.darker(130));
      series = markers;
    } else {
      auto* line = new QLineSeries(chart);
      QPen pen(color);
      pen.setWidthF(curve.measured ? 1.0 : 2.0);
      if (curve.measured) pen.setStyle(kJoinedStyles[joined_index++ % std::size(kJoinedStyles)]);
      else pen.setStyle(kGroupLineStyles[group % std::size(kGroupLineStyles)]);
      line->setPen(pen);
      if (curve.measured) {
        line->setMarkerSize(grouped ? 8 : 5);
        line->setPointsVisible(true);
        if (grouped) line->setLightMarker(MarkerImage(shape, color, 8));
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
  // With every camber drawn, the legend shows each series' own mark: the
  // line's style, the markers' shape.
  chart->legend()->setMarkerShape(grouped ? QLegend::MarkerShapeFromSeries : QLegend::MarkerShapeDefault);
  PlaceLegend(chart);
}

}  // namespace morvex
