#include "ui/ChartView.h"

#include <QAction>
#include <QBrush>
#include <QChart>
#include <QColor>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QLegend>
#include <QLegendMarker>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QResizeEvent>
#include <QSettings>
#include <QShortcut>
#include <QToolButton>
#include <QSvgGenerator>
#include <QValueAxis>
#include <QWheelEvent>
#include <QXYSeries>

#include <cmath>
#include <utility>

#include "numerics/LxTypes.h"
#include "ui/Dialogs.h"

namespace morvex {

namespace {

QValueAxis* AxisOf(const QChart* chart, Qt::Orientation orientation) {
  const auto axes = chart->axes(orientation);
  return axes.isEmpty() ? nullptr : qobject_cast<QValueAxis*>(axes.first());
}

// About five ticks at 1, 2 or 5 times a power of ten.
double RoundInterval(double span) {
  if (!(span > 0) || !std::isfinite(span)) return 1.0;
  const double raw = span / 5;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 5.0})
    if (raw <= factor * power) return factor * power;
  return 10 * power;
}

// Wheel steps are 120 units; one step zooms by 15 %.
constexpr double kWheelStepFactor = 1.15;
constexpr qreal kKeyPanPixels = 30;

// The window's own settings (recent files and the like), in the user's
// configuration folder.
QSettings ChartSettings() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Morvex"), QStringLiteral("morvex"));
}
const char* const kPairedColoursKey = "chart/pairedColours";

QString WithSuffix(const QString& path, const char* suffix) {
  return QFileInfo(path).suffix().isEmpty() ? path + QLatin1Char('.') + QLatin1String(suffix) : path;
}

}  // namespace

TResultChartView::TResultChartView(QChart* chart, QWidget* parent) : QChartView(chart, parent) {
  setRubberBand(QChartView::RectangleRubberBand);
  setFocusPolicy(Qt::StrongFocus);
  setToolTip(QStringLiteral(
      "Wheel: zoom. Drag: zoom to a rectangle. Shift+drag or middle button: pan.\n"
      "Double-click, Home or Ctrl+0: whole data. Click a legend entry: hide or show its curve.\n"
      "Right-click: save as PNG or SVG, residuals, colours."));
  paired_colours_ = ChartSettings().value(QLatin1String(kPairedColoursKey), false).toBool();

  reset_button_ = new QToolButton(this);
  reset_button_->setObjectName(QStringLiteral("ResetZoomButton"));
  reset_button_->setText(QStringLiteral("Whole data"));
  reset_button_->setToolTip(QStringLiteral("Show the whole data again (Home, Ctrl+0, double-click)"));
  // A click on it focuses the chart, as a click anywhere on the chart does.
  reset_button_->setFocusPolicy(Qt::NoFocus);
  reset_button_->hide();
  connect(reset_button_, &QToolButton::clicked, this, &TResultChartView::ResetZoom);
}

void TResultChartView::InstallResetShortcuts(QWidget* window) {
  // Home: the focus widget's own Home comes first (an edit box moves its
  // cursor), so the chart takes it from buttons, boxes, the grid and
  // itself.  Ctrl+0, as "actual size" elsewhere, no control claims.
  for (const auto& [keys, name] : {std::pair{QKeySequence(Qt::Key_Home), "ShortcutResetChart"},
                                   std::pair{QKeySequence(Qt::CTRL | Qt::Key_0), "ShortcutResetChartAnywhere"}}) {
    auto* shortcut = new QShortcut(keys, window);
    shortcut->setObjectName(QLatin1String(name));
    connect(shortcut, &QShortcut::activated, this, &TResultChartView::ResetZoom);
  }
}

void TResultChartView::UpdateResetButton() {
  const bool zoomed = IsZoomed();
  if (zoomed == reset_button_->isVisible()) return;
  reset_button_->setVisible(zoomed);
  if (zoomed) PlaceResetButton();
}

void TResultChartView::PlaceResetButton() {
  reset_button_->adjustSize();
  reset_button_->move(width() - reset_button_->width() - 6, height() - reset_button_->height() - 6);
  reset_button_->raise();
}

void TResultChartView::resizeEvent(QResizeEvent* event) {
  QChartView::resizeEvent(event);
  PlaceResetButton();
}

void TResultChartView::CurvesReplaced() {
  QChart* c = chart();
  for (QLegendMarker* marker : c->legend()->markers()) {
    connect(marker, &QLegendMarker::clicked, this, [this, marker] {
      const int index = static_cast<int>(chart()->legend()->markers().indexOf(marker));
      if (index >= 0) ToggleCurve(index);
    });
  }
  has_home_ = false;
  QValueAxis* x = AxisOf(c, Qt::Horizontal);
  QValueAxis* y = AxisOf(c, Qt::Vertical);
  if (x != nullptr && y != nullptr) {
    home_x_ = {x->min(), x->max()};
    home_y_ = {y->min(), y->max()};
    has_home_ = true;
    connect(x, &QValueAxis::rangeChanged, this, &TResultChartView::Retick);
    connect(y, &QValueAxis::rangeChanged, this, &TResultChartView::Retick);
  }
  UpdateResetButton();
}

void TResultChartView::Retick() {
  for (QValueAxis* axis : {AxisOf(chart(), Qt::Horizontal), AxisOf(chart(), Qt::Vertical)}) {
    if (axis == nullptr) continue;
    const double interval = RoundInterval(axis->max() - axis->min());
    if (axis->tickInterval() != interval) axis->setTickInterval(interval);
  }
  UpdateResetButton();
}

void TResultChartView::ResetZoom() {
  if (!has_home_) return;
  if (QValueAxis* x = AxisOf(chart(), Qt::Horizontal)) x->setRange(home_x_.low, home_x_.high);
  if (QValueAxis* y = AxisOf(chart(), Qt::Vertical)) y->setRange(home_y_.low, home_y_.high);
}

bool TResultChartView::IsZoomed() const {
  const QValueAxis* x = AxisOf(chart(), Qt::Horizontal);
  const QValueAxis* y = AxisOf(chart(), Qt::Vertical);
  if (!has_home_ || x == nullptr || y == nullptr) return false;
  return x->min() != home_x_.low || x->max() != home_x_.high || y->min() != home_y_.low ||
         y->max() != home_y_.high;
}

void TResultChartView::ZoomAround(double factor, const QPointF& center) {
  if (!(factor > 0) || chart()->series().isEmpty()) return;
  const QPointF value = chart()->mapToValue(center);
  auto zoom = [factor](QValueAxis* axis, double at) {
    if (axis == nullptr || !std::isfinite(at)) return;
    const double low = at - (at - axis->min()) / factor;
    const double high = at + (axis->max() - at) / factor;
    if (high > low && std::isfinite(low) && std::isfinite(high)) axis->setRange(low, high);
  };
  zoom(AxisOf(chart(), Qt::Horizontal), value.x());
  zoom(AxisOf(chart(), Qt::Vertical), value.y());
}

void TResultChartView::Pan(qreal dx, qreal dy) {
  if (chart()->series().isEmpty()) return;
  chart()->scroll(dx, dy);
}

void TResultChartView::ToggleCurve(int index) {
  const auto markers = chart()->legend()->markers();
  if (index < 0 || index >= markers.size()) return;
  QLegendMarker* marker = markers[index];
  QAbstractSeries* series = marker->series();
  series->setVisible(!series->isVisible());
  // A hidden series would take its legend entry along; keep it, greyed.
  marker->setVisible(true);
  QColor label = marker->labelBrush().color();
  label.setAlphaF(series->isVisible() ? 1.0 : 0.4);
  marker->setLabelBrush(QBrush(label));
  QBrush brush = marker->brush();
  QColor mark = brush.color();
  mark.setAlphaF(series->isVisible() ? 1.0 : 0.3);
  brush.setColor(mark);
  marker->setBrush(brush);
}

void TResultChartView::SavePng(const QString& path) const {
  // The view as the user sees it, at twice its size for a sharp picture.
  constexpr int kScale = 2;
  QImage image(size() * kScale, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(kScale);
  image.fill(Qt::white);
  RenderPicture(&image);
  if (!image.save(path, "PNG")) throw EWriteError(path.toStdString());
}

void TResultChartView::SaveSvg(const QString& path) const {
  QSvgGenerator generator;
  generator.setFileName(path);
  generator.setSize(size());
  generator.setViewBox(QRect(QPoint(0, 0), size()));
  generator.setTitle(QStringLiteral("Morvex result chart"));
  RenderPicture(&generator);
  // QSvgGenerator reports no write error: check that the file is there.
  if (!QFileInfo(path).isFile() || QFileInfo(path).size() == 0) throw EWriteError(path.toStdString());
}

void TResultChartView::RenderPicture(QPaintDevice* device) const {
  // The picture shows the chart, not the button over it.
  const bool button = reset_button_->isVisible();
  reset_button_->hide();
  const_cast<TResultChartView*>(this)->QWidget::render(device, QPoint(), QRegion(), QWidget::DrawChildren);
  reset_button_->setVisible(button);
}

void TResultChartView::SaveWithDialog(bool svg) {
  Guarded(this, [this, svg] {
    const auto path = Dialogs().SaveFile(this, svg ? "Save chart as SVG" : "Save chart as PNG",
                                         svg ? "SVG picture (*.svg)" : "PNG picture (*.png)");
    if (!path) return;
    const QString file = WithSuffix(QString::fromStdString(*path), svg ? "svg" : "png");
    if (svg) SaveSvg(file);
    else SavePng(file);
  });
}

void TResultChartView::SetResidualsShown(bool shown) { residuals_shown_ = shown; }

void TResultChartView::SetPairedColours(bool paired) {
  if (paired == paired_colours_) return;
  paired_colours_ = paired;
  ChartSettings().setValue(QLatin1String(kPairedColoursKey), paired);
  emit drawingOptionsChanged();
}

void TResultChartView::SetAllCambers(bool all) {
  if (all == all_cambers_) return;
  all_cambers_ = all;
  emit drawingOptionsChanged();
}

QMenu* TResultChartView::BuildContextMenu() {
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("ChartMenu"));
  menu->setAttribute(Qt::WA_DeleteOnClose);
  QAction* png = menu->addAction(QStringLiteral("Save chart as PNG..."), this, [this] { SaveWithDialog(false); });
  png->setObjectName(QStringLiteral("SaveChartPng"));
  QAction* svg = menu->addAction(QStringLiteral("Save chart as SVG..."), this, [this] { SaveWithDialog(true); });
  svg->setObjectName(QStringLiteral("SaveChartSvg"));
  menu->addSeparator();
  QAction* residuals = menu->addAction(QStringLiteral("Show residuals (measured - model)"));
  residuals->setObjectName(QStringLiteral("ShowResiduals"));
  residuals->setCheckable(true);
  residuals->setChecked(residuals_shown_);
  connect(residuals, &QAction::toggled, this, &TResultChartView::residualsRequested);
  QAction* paired = menu->addAction(QStringLiteral("One colour per load (model and data)"));
  paired->setObjectName(QStringLiteral("PairColours"));
  paired->setCheckable(true);
  paired->setChecked(paired_colours_);
  connect(paired, &QAction::toggled, this, &TResultChartView::SetPairedColours);
  QAction* all = menu->addAction(QStringLiteral("Every camber at once"));
  all->setObjectName(QStringLiteral("AllCambers"));
  all->setCheckable(true);
  all->setChecked(all_cambers_);
  connect(all, &QAction::toggled, this, &TResultChartView::SetAllCambers);
  QAction* reset = menu->addAction(QStringLiteral("Show the whole data"), this, &TResultChartView::ResetZoom);
  reset->setObjectName(QStringLiteral("ResetZoom"));
  reset->setShortcut(QKeySequence(Qt::Key_Home));
  reset->setEnabled(IsZoomed());
  return menu;
}

void TResultChartView::contextMenuEvent(QContextMenuEvent* event) {
  BuildContextMenu()->popup(event->globalPos());
  event->accept();
}

void TResultChartView::wheelEvent(QWheelEvent* event) {
  const double steps = event->angleDelta().y() / 120.0;
  if (steps == 0) return;
  ZoomAround(std::pow(kWheelStepFactor, steps), chart()->mapFromScene(mapToScene(event->position().toPoint())));
  event->accept();
}

void TResultChartView::mousePressEvent(QMouseEvent* event) {
  const bool pan = event->button() == Qt::MiddleButton ||
                   (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier));
  if (pan) {
    panning_ = true;
    last_pan_pos_ = event->position().toPoint();
    setCursor(Qt::ClosedHandCursor);
    event->accept();
    return;
  }
  // The right button opens the context menu; the base view would zoom out.
  if (event->button() == Qt::RightButton) {
    event->accept();
    return;
  }
  QChartView::mousePressEvent(event);
}

void TResultChartView::mouseMoveEvent(QMouseEvent* event) {
  if (panning_) {
    const QPoint pos = event->position().toPoint();
    const QPoint delta = pos - last_pan_pos_;
    last_pan_pos_ = pos;
    Pan(-delta.x(), delta.y());
    event->accept();
    return;
  }
  QChartView::mouseMoveEvent(event);
}

void TResultChartView::mouseReleaseEvent(QMouseEvent* event) {
  if (panning_) {
    panning_ = false;
    unsetCursor();
    event->accept();
    return;
  }
  if (event->button() == Qt::RightButton) {
    event->accept();
    return;
  }
  QChartView::mouseReleaseEvent(event);
}

void TResultChartView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    ResetZoom();
    event->accept();
    return;
  }
  QChartView::mouseDoubleClickEvent(event);
}

void TResultChartView::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Home: ResetZoom(); break;
    case Qt::Key_Plus:
    case Qt::Key_Equal: ZoomAround(kWheelStepFactor, chart()->plotArea().center()); break;
    case Qt::Key_Minus: ZoomAround(1 / kWheelStepFactor, chart()->plotArea().center()); break;
    case Qt::Key_Left: Pan(-kKeyPanPixels, 0); break;
    case Qt::Key_Right: Pan(kKeyPanPixels, 0); break;
    case Qt::Key_Up: Pan(0, kKeyPanPixels); break;
    case Qt::Key_Down: Pan(0, -kKeyPanPixels); break;
    default: QChartView::keyPressEvent(event); return;
  }
  event->accept();
}

}  // namespace morvex
