#include "ui/CombinedPage.h"

#include <QAbstractAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPen>
#include <QScatterSeries>
#include <QValueAxis>
#include <QVBoxLayout>
#include <QXYSeries>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"

namespace morvex {

namespace {

std::string Num(double value) { return FloatToStrF(value, TFloatFormat::kGeneral, 4, 0); }

}  // namespace

void ShowCombinedCurves(QChart* chart, const std::vector<TCombinedCurve>& curves, const TAxisTitles& titles) {
  chart->removeAllSeries();
  for (QAbstractAxis* axis : chart->axes()) {
    chart->removeAxis(axis);
    delete axis;
  }
  if (curves.empty()) return;
  double x_min = std::numeric_limits<double>::infinity(), x_max = -x_min, y_min = x_min, y_max = -x_min;
  for (const TCombinedCurve& curve : curves)
    for (const auto& [x, y] : curve.points) {
      if (!std::isfinite(x) || !std::isfinite(y)) continue;
      x_min = std::min(x_min, x), x_max = std::max(x_max, x);
      y_min = std::min(y_min, y), y_max = std::max(y_max, y);
    }
  if (!std::isfinite(x_min)) return;
  auto widen = [](double& low, double& high) {
    const double margin = high > low ? 0.04 * (high - low) : std::max(1.0, std::fabs(low)) * 0.04;
    low -= margin, high += margin;
  };
  widen(x_min, x_max);
  widen(y_min, y_max);
  auto* x_axis = new QValueAxis();
  auto* y_axis = new QValueAxis();
  // The axes keep to the data; their ticks fall on round numbers (1, 2 or 5
  // times a power of ten, four to eight of them).
  for (auto [axis, low, high] : {std::tuple{x_axis, x_min, x_max}, std::tuple{y_axis, y_min, y_max}}) {
    axis->setRange(low, high);
    const double raw = (high - low) / 5;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double step = raw / power < 1.5 ? power : raw / power < 3.5 ? 2 * power : raw / power < 7.5 ? 5 * power
                                                                                                  : 10 * power;
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    axis->setTickInterval(step);
    axis->setLabelFormat(QStringLiteral("%.6g"));
  }
  x_axis->setTitleText(QString::fromStdString(titles.x));
  y_axis->setTitleText(QString::fromStdString(titles.y));
  chart->addAxis(x_axis, Qt::AlignBottom);
  chart->addAxis(y_axis, Qt::AlignLeft);
  // Markers first, so the model lines are drawn above them.
  for (bool measured : {true, false}) {
    for (const TCombinedCurve& curve : curves) {
      if (curve.measured != measured) continue;
      const QColor color(curve.color.red, curve.color.green, curve.color.blue);
      QXYSeries* series = nullptr;
      if (measured) {
        auto* scatter = new QScatterSeries();
        scatter->setMarkerSize(4.5);
        scatter->setBorderColor(color);
        scatter->setColor(color);
        series = scatter;
      } else {
        auto* line = new QLineSeries();
        line->setPen(QPen(color.darker(125), 2));
        series = line;
      }
      series->setName(QString::fromStdString(curve.title));
      for (const auto& [x, y] : curve.points)
        if (std::isfinite(x) && std::isfinite(y)) series->append(x, y);
      chart->addSeries(series);
      series->attachAxis(x_axis);
      series->attachAxis(y_axis);
      if (!curve.in_legend)
        for (QLegendMarker* marker : chart->legend()->markers(series)) marker->setVisible(false);
    }
  }
}

// -------------------------------------------------------------------- page

namespace {

QChartView* MakeChartView(const char* name, QWidget* parent) {
  auto* chart = new QChart();
  StyleResultChart(chart);
  chart->legend()->setAlignment(Qt::AlignBottom);
  QFont small = chart->legend()->font();
  small.setPointSizeF(std::max(6.0, small.pointSizeF() - 1));
  chart->legend()->setFont(small);
  auto* view = new QChartView(chart, parent);
  view->setObjectName(QLatin1String(name));
  view->setRenderHint(QPainter::Antialiasing);
  view->setMinimumSize(260, 240);
  return view;
}

}  // namespace

TCombinedPage::TCombinedPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("CombinedPage"));
  setWindowTitle(QStringLiteral("Combined"));
  auto* layout = new QVBoxLayout(this);
  auto* selectors = new QHBoxLayout();
  auto* camber_label = new QLabel(QStringLiteral("Inclination [deg]"), this);
  camber_ = new QComboBox(this);
  camber_->setObjectName(QStringLiteral("CombinedCamber"));
  camber_label->setBuddy(camber_);
  auto* load_label = new QLabel(QStringLiteral("Load of the slip-ratio charts [N]"), this);
  load_ = new QComboBox(this);
  load_->setObjectName(QStringLiteral("CombinedLoad"));
  load_label->setBuddy(load_);
  note_ = new QLabel(this);
  note_->setObjectName(QStringLiteral("CombinedNote"));
  selectors->addWidget(camber_label);
  selectors->addWidget(camber_);
  selectors->addSpacing(16);
  selectors->addWidget(load_label);
  selectors->addWidget(load_);
  selectors->addSpacing(16);
  selectors->addWidget(note_, 1);
  layout->addLayout(selectors);
  auto* charts = new QGridLayout();
  fx_view_ = MakeChartView("CombinedFxChart", this);
  fy_view_ = MakeChartView("CombinedFyChart", this);
  ellipse_view_ = MakeChartView("CombinedEllipseChart", this);
  charts->addWidget(fx_view_, 0, 0);
  charts->addWidget(fy_view_, 0, 1);
  charts->addWidget(ellipse_view_, 0, 2);
  layout->addLayout(charts, 1);
  connect(camber_, &QComboBox::currentIndexChanged, this, [this] { CamberChanged(); });
  connect(load_, &QComboBox::currentIndexChanged, this, [this] {
    if (!filling_) Redraw();
  });
  Clear(QStringLiteral("No programme fitted yet: build a tire from runs first."));
}

QChart* TCombinedPage::FxChart() const { return fx_view_->chart(); }
QChart* TCombinedPage::FyChart() const { return fy_view_->chart(); }
QChart* TCombinedPage::EllipseChart() const { return ellipse_view_->chart(); }

void TCombinedPage::Clear(const QString& reason) {
  has_result_ = false;
  data_ = {};
  filling_ = true;
  camber_->clear();
  load_->clear();
  filling_ = false;
  note_->setText(reason);
  for (QChartView* view : {fx_view_, fy_view_, ellipse_view_}) ShowCombinedCurves(view->chart(), {}, {});
  FxChart()->setTitle(QStringLiteral("Fx per slip angle"));
  FyChart()->setTitle(QStringLiteral("Fy per slip angle"));
  EllipseChart()->setTitle(QStringLiteral("Friction ellipse per load"));
}

void TCombinedPage::SetResult(const TCombinedDataSet& data, const TCombinedModel& model) {
  if (data.Empty()) {
    Clear(QStringLiteral("The programme held no slip ratio swept at held slip angles."));
    return;
  }
  data_ = data;
  model_ = model;
  has_result_ = true;
  note_->setText(QStringLiteral("Lines: the model; markers: the data."));
  filling_ = true;
  camber_->clear();
  for (double camber : CombinedCambers(data_)) camber_->addItem(QString::fromStdString(Num(camber)), camber);
  filling_ = false;
  camber_->setCurrentIndex(0);
  CamberChanged();
}

void TCombinedPage::CamberChanged() {
  if (filling_ || !has_result_ || camber_->currentIndex() < 0) return;
  const std::vector<double> loads = CombinedLoads(data_, camber_->currentData().toDouble());
  filling_ = true;
  load_->clear();
  for (double load : loads) load_->addItem(QString::fromStdString(Num(load)), load);
  load_->setCurrentIndex(loads.empty() ? -1 : static_cast<int>(loads.size() / 2));
  filling_ = false;
  Redraw();
}

void TCombinedPage::Redraw() {
  if (!has_result_ || camber_->currentIndex() < 0) return;
  const double camber = camber_->currentData().toDouble();
  const QString at_camber = QStringLiteral(", inclination %1 deg").arg(camber_->currentText());
  EllipseChart()->setTitle(QStringLiteral("Friction ellipse per load") + at_camber);
  ShowCombinedCurves(EllipseChart(), FrictionEllipseCurves(data_, model_, camber), {"Fx [N]", "Fy [N]"});
  if (load_->currentIndex() < 0) return;
  const double load = load_->currentData().toDouble();
  const QString at = at_camber + QStringLiteral(", %1 N").arg(load_->currentText());
  FxChart()->setTitle(QStringLiteral("Fx per slip angle") + at);
  FyChart()->setTitle(QStringLiteral("Fy per slip angle") + at);
  ShowCombinedCurves(FxChart(), CombinedSlipCurves(data_, model_, TCombinedStage::kFx, camber, load),
                     {"slip ratio [-]", "Fx [N]"});
  ShowCombinedCurves(FyChart(), CombinedSlipCurves(data_, model_, TCombinedStage::kFy, camber, load),
                     {"slip ratio [-]", "Fy [N]"});
}

}  // namespace morvex
