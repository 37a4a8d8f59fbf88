// The view of the result chart, `Chart1`: the chart of ResultPlot.h made
// into a tool for judging a fit.
//
// - Wheel: zoom in or out around the mouse pointer.  Dragging a rectangle
//   with the left button zooms to it.  Dragging with the middle button, or
//   with Shift and the left button, pans; so do the arrow keys.  A
//   double-click, the Home key, Ctrl+0 (the window's shortcuts, see
//   InstallResetShortcuts) or the "Whole data" button that shows in the
//   corner while zoomed go back to the whole data.
// - Clicking an entry of the legend hides its curve or shows it again; the
//   entry stays, greyed while its curve is hidden.
// - The context menu saves the chart as a PNG or an SVG picture, switches
//   between the curves and the residuals (measured - model), pairs the
//   colours of each load's model line and markers, shows every camber at
//   once, and resets the zoom.
//   The colour pairing is kept between sessions (off at first, so the
//   chart starts with the red model and blue data shades).
//
// The window rebuilds the chart's series on every redraw (ShowCurves) and
// then calls CurvesReplaced(), which connects the new legend entries and
// remembers the new axes' ranges as the "whole data" view.
#pragma once

#include <QChartView>
#include <QString>

class QAction;
class QMenu;
class QToolButton;

namespace morvex {

class TResultChartView : public QChartView {
  Q_OBJECT

 public:
  explicit TResultChartView(QChart* chart, QWidget* parent = nullptr);

  // After the chart's series were replaced: legend entries, home ranges,
  // round ticks for zoomed ranges.
  void CurvesReplaced();

  // The window's keys for ResetZoom, wherever the focus is in `window`:
  // Home (an edit box keeps Home for its cursor) and Ctrl+0 (everywhere).
  void InstallResetShortcuts(QWidget* window);

  // Zooms by `factor` (> 1 zooms in) around the chart position `center`.
  void ZoomAround(double factor, const QPointF& center);
  // Moves the visible part of the plot by (dx, dy) pixels, as if the
  // contents were dragged by (-dx, -dy).
  void Pan(qreal dx, qreal dy);
  // True while the axes show less or more than the whole data.
  bool IsZoomed() const;

  // Hides or shows the curve of legend entry `index`, as a click on it does.
  void ToggleCurve(int index);

  // The chart as a picture, at twice the view's size for PNG.  Errors
  // ("Impossible d'écrire dans <file>") are raised as EWriteError.
  void SavePng(const QString& path) const;
  void SaveSvg(const QString& path) const;

  // The context menu's residual switch follows the window's setting.
  void SetResidualsShown(bool shown);
  // Each load's model line and markers in one colour of their own; the
  // setting is saved for the next session.  Setting it emits
  // drawingOptionsChanged when it changes.
  bool PairedColours() const { return paired_colours_; }
  void SetPairedColours(bool paired);
  // The curves of every camber at once instead of the selected camber's.
  bool AllCambers() const { return all_cambers_; }
  void SetAllCambers(bool all);
  // The context menu as it would pop up (for tests and the keyboard).
  QMenu* BuildContextMenu();

 public slots:
  // Back to the ranges the redraw gave the axes.
  void ResetZoom();

 signals:
  // The user asked for the residual view (true) or the curves (false).
  void residualsRequested(bool shown);
  // An option of what the curves look like changed: redraw them.
  void drawingOptionsChanged();

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void SaveWithDialog(bool svg);
  void Retick();
  // The "Whole data" button shows while the axes are zoomed or panned.
  void UpdateResetButton();
  void PlaceResetButton();
  // Renders the view without the button onto `device`.
  void RenderPicture(QPaintDevice* device) const;

  struct Range {
    double low = 0;
    double high = 0;
  };
  Range home_x_;
  Range home_y_;
  bool has_home_ = false;
  bool panning_ = false;
  QPoint last_pan_pos_;
  bool residuals_shown_ = false;
  bool paired_colours_ = false;
  bool all_cambers_ = false;
  QToolButton* reset_button_ = nullptr;
};

}  // namespace morvex
