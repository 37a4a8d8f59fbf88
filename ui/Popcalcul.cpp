#include "ui/Popcalcul.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFont>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QThread>
#include <QWindow>
#include <QtDebug>

#include "ui/FormStyle.h"
#include "ui/Jpeg.h"

namespace morvex {

namespace {

constexpr int kClientWidth = 204;
constexpr int kClientHeight = 402;
// The progress line covers the bottom of the picture, which the picture
// keeps plain for it.
constexpr int kProgressBandHeight = 34;
constexpr int kExposeWaitMs = 500;

}  // namespace

// The picture at its natural size from the top-left corner, the rest of the
// client area in the colour of the picture's bottom edge, and the progress
// line over the bottom band.
class TPopcalcul::TImage : public QWidget {
 public:
  explicit TImage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Image1"));
    setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is painted below
    try {
      picture_ = LoadJpeg(QStringLiteral(":/images/waitscreen.jpg"));
    } catch (const std::exception& error) {
      qWarning("%s", error.what());  // the wait screen still works, plain
    }
    if (!picture_.isNull()) {
      margin_colour_ = picture_.pixelColor(picture_.width() - 1, picture_.height() - 1);
    }
  }

  QString progress_text;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), margin_colour_);
    if (!picture_.isNull()) p.drawImage(QPoint(0, 0), picture_);
    if (progress_text.isEmpty()) return;
    const QRect band(0, height() - kProgressBandHeight, width(), kProgressBandHeight);
    p.fillRect(band, QColor(0, 0, 0, 110));
    p.setPen(QColor(238, 232, 214));
    // One line when it fits, else wrapped onto a second one; beyond that
    // the band's edge clips it.
    const QRect text_box = band.adjusted(6, 1, -6, -1);
    p.drawText(text_box, Qt::AlignCenter | Qt::TextWordWrap, progress_text);
  }

 private:
  QImage picture_;
  QColor margin_colour_{14, 30, 34};
};

TPopcalcul::TPopcalcul(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("Popcalcul"));
  setWindowTitle(QStringLiteral("Popcalcul"));
  setFixedSize(kClientWidth, kClientHeight);
  // The program's 8-point font; its condensed face keeps a progress line
  // with a 15-digit cost on one line.
  setFont(FormFont());
  image1_ = new TImage(this);
  image1_->setGeometry(0, 0, kClientWidth, kClientHeight);

  cancel_button_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_button_->setObjectName(QStringLiteral("CancelButton"));
  cancel_button_->setToolTip(QStringLiteral("Stop the fit at the best point found so far (Escape)"));
  cancel_button_->setGeometry((kClientWidth - 80) / 2, kClientHeight - kProgressBandHeight - 30, 80, 24);
  cancel_button_->hide();
  QObject::connect(cancel_button_, &QPushButton::clicked, this, [this] {
    if (cancel_handler_) cancel_handler_();
  });
}

void TPopcalcul::SetCancelHandler(std::function<void()> handler) {
  cancel_handler_ = std::move(handler);
  cancel_button_->setVisible(static_cast<bool>(cancel_handler_));
}

void TPopcalcul::setVisible(bool visible) {
  if (visible && !isVisible()) {
    CentreOnScreen(this, QSize(kClientWidth, kClientHeight));
  }
  QWidget::setVisible(visible);
  if (visible) FormActivate();
}

void TPopcalcul::FormActivate() {
  if (!isVisible()) return;
  QWindow* window = windowHandle();
  if (window != nullptr && !window->isExposed()) {
    QElapsedTimer waited;
    waited.start();
    while (!window->isExposed() && waited.elapsed() < kExposeWaitMs) {
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
      if (!window->isExposed()) QThread::msleep(2);
    }
  }
  repaint();
}

void TPopcalcul::SetProgressText(const QString& text) {
  if (image1_->progress_text == text) return;
  image1_->progress_text = text;
  if (isVisible()) image1_->repaint();
}

QString TPopcalcul::ProgressText() const { return image1_->progress_text; }

QWidget* TPopcalcul::Image1() const { return image1_; }

}  // namespace morvex
