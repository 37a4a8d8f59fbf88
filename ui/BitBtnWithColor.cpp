#include "ui/BitBtnWithColor.h"

#include <algorithm>

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace morvex {

namespace {

enum GlyphIndex { kNormal = 0, kDisabled = 1, kPressed = 2, kDown = 3 };

// Two bevel lines per side: outer light/black, inner lighter/darker face.
void DrawEdge(QPainter& p, const QRect& r, const QColor& face, bool sunken) {
  const QColor outer_light = sunken ? QColor(Qt::black) : QColor(Qt::white);
  const QColor outer_dark = sunken ? QColor(Qt::white) : QColor(Qt::black);
  const QColor inner_light = sunken ? face.darker(150) : face.lighter(140);
  const QColor inner_dark = sunken ? face.lighter(140) : face.darker(150);
  const int l = r.left(), t = r.top(), rt = r.right(), b = r.bottom();
  p.setPen(outer_light);
  p.drawLine(l, t, rt - 1, t);
  p.drawLine(l, t, l, b - 1);
  p.setPen(outer_dark);
  p.drawLine(l, b, rt, b);
  p.drawLine(rt, t, rt, b);
  p.setPen(inner_light);
  p.drawLine(l + 1, t + 1, rt - 2, t + 1);
  p.drawLine(l + 1, t + 1, l + 1, b - 2);
  p.setPen(inner_dark);
  p.drawLine(l + 1, b - 1, rt - 1, b - 1);
  p.drawLine(rt - 1, t + 1, rt - 1, b - 1);
}

}  // namespace

TBitBtnWithColor::TBitBtnWithColor(QWidget* parent) : TBitBtnWithColor(QString(), parent) {}

TBitBtnWithColor::TBitBtnWithColor(const QString& caption, QWidget* parent)
    : QPushButton(caption, parent), color_(palette().color(QPalette::Button)) {}

void TBitBtnWithColor::SetColor(const QColor& color) {
  if (color_ == color) return;
  color_ = color;
  update();
}

void TBitBtnWithColor::SetGlyph(const QPixmap& glyph) {
  glyph_ = glyph;
  updateGeometry();
  update();
}

void TBitBtnWithColor::SetNumGlyphs(int count) {
  num_glyphs_ = std::clamp(count, 1, 4);
  updateGeometry();
  update();
}

void TBitBtnWithColor::SetLayout(TButtonLayout layout) {
  layout_ = layout;
  update();
}

void TBitBtnWithColor::SetMargin(int margin) {
  margin_ = std::max(margin, -1);
  update();
}

void TBitBtnWithColor::SetSpacing(int spacing) {
  spacing_ = std::max(spacing, 0);
  update();
}

QColor TBitBtnWithColor::CaptionColor() const {
  return qGray(color_.rgb()) < 128 ? QColor(Qt::white) : QColor(Qt::black);
}

QPixmap TBitBtnWithColor::GlyphImage(int index) const {
  if (glyph_.isNull()) return {};
  const int width = glyph_.width() / num_glyphs_;
  if (index >= num_glyphs_) index = kNormal;
  return glyph_.copy(index * width, 0, width, glyph_.height());
}

QSize TBitBtnWithColor::sizeHint() const {
  const QFontMetrics metrics(font());
  QSize content = metrics.size(Qt::TextShowMnemonic, text());
  if (!glyph_.isNull()) {
    const QSize glyph(glyph_.width() / num_glyphs_, glyph_.height());
    const bool side = layout_ == TButtonLayout::kGlyphLeft || layout_ == TButtonLayout::kGlyphRight;
    const int gap = text().isEmpty() ? 0 : spacing_;
    content = side ? QSize(content.width() + gap + glyph.width(), std::max(content.height(), glyph.height()))
                   : QSize(std::max(content.width(), glyph.width()), content.height() + gap + glyph.height());
  }
  return content + QSize(16, 10);
}

void TBitBtnWithColor::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const bool sunken = isDown() || isChecked();
  const QRect frame = rect();
  p.fillRect(frame, color_);
  DrawEdge(p, frame, color_, sunken);

  // Content area inside the edge; pressed content moves one pixel down-right.
  QRect area = frame.adjusted(3, 3, -3, -3);
  if (sunken) area.translate(1, 1);

  QPixmap glyph;
  if (!glyph_.isNull()) {
    int index = kNormal;
    if (!isEnabled()) index = kDisabled;
    else if (isDown()) index = kPressed;
    else if (isChecked()) index = kDown;
    glyph = GlyphImage(index);
    if (!isEnabled() && num_glyphs_ < 2) {
      QStyleOption option;
      option.initFrom(this);
      glyph = style()->generatedIconPixmap(QIcon::Disabled, glyph, &option);
    }
  }

  const QFontMetrics metrics(font());
  const QString caption = text();
  const QSize text_size = caption.isEmpty() ? QSize() : metrics.size(Qt::TextShowMnemonic, caption);
  const QSize glyph_size = glyph.isNull() ? QSize() : glyph.deviceIndependentSize().toSize();
  const int gap = (glyph.isNull() || caption.isEmpty()) ? 0 : spacing_;
  const bool side = layout_ == TButtonLayout::kGlyphLeft || layout_ == TButtonLayout::kGlyphRight;

  // Lay out along the main axis: a margin from the glyph's edge, or centred.
  const int main_total = side ? glyph_size.width() + gap + text_size.width()
                              : glyph_size.height() + gap + text_size.height();
  const int main_extent = side ? area.width() : area.height();
  const int start = margin_ < 0 ? (main_extent - main_total) / 2 : margin_;
  QRect glyph_rect, text_rect;
  const int glyph_main = side ? glyph_size.width() : glyph_size.height();
  const int text_main = side ? text_size.width() : text_size.height();
  const bool glyph_first = layout_ == TButtonLayout::kGlyphLeft || layout_ == TButtonLayout::kGlyphTop;
  int glyph_at, text_at;
  if (glyph_first) {
    glyph_at = start;
    text_at = start + glyph_main + gap;
  } else {
    glyph_at = main_extent - start - glyph_main;
    text_at = glyph_at - gap - text_main;
    if (margin_ < 0) {
      text_at = start;
      glyph_at = start + text_main + gap;
    }
  }
  if (side) {
    glyph_rect = QRect(area.left() + glyph_at, area.top() + (area.height() - glyph_size.height()) / 2,
                       glyph_size.width(), glyph_size.height());
    text_rect = QRect(area.left() + text_at, area.top(), text_main, area.height());
  } else {
    glyph_rect = QRect(area.left() + (area.width() - glyph_size.width()) / 2, area.top() + glyph_at,
                       glyph_size.width(), glyph_size.height());
    text_rect = QRect(area.left(), area.top() + text_at, area.width(), text_main);
  }

  if (glyph.isNull()) text_rect = area;  // a caption alone is centred, even when wider
  if (!glyph.isNull()) p.drawPixmap(glyph_rect.topLeft(), glyph);
  if (!caption.isEmpty()) {
    QColor pen = CaptionColor();
    if (!isEnabled()) pen = color_.lighter(160);
    p.setPen(pen);
    p.drawText(text_rect, Qt::AlignCenter | Qt::TextShowMnemonic, caption);
  }

  if (hasFocus()) {
    QPen focus(CaptionColor(), 1, Qt::DotLine);
    p.setPen(focus);
    p.setBrush(Qt::NoBrush);
    p.drawRect(frame.adjusted(4, 4, -5, -5));
  }
}

}  // namespace morvex
