// A push button that paints its own face in a chosen colour.
//
// Platform styles ignore a push button's background colour, so this button
// draws everything itself: the face filled with `Color`, the raised edge
// (sunken while pressed), an optional glyph and the caption laid out like a
// bitmap button's, and a dotted focus frame.  The main window's "Help"
// button uses it.
//
// Glyph: one pixmap holding `NumGlyphs` images side by side, in the order
// normal, disabled, pressed, down (latched).  An image that is missing
// falls back to the normal one (drawn greyed when disabled).
#pragma once

#include <QColor>
#include <QPixmap>
#include <QPushButton>

namespace morvex {

class TBitBtnWithColor : public QPushButton {
 public:
  enum class TButtonLayout { kGlyphLeft, kGlyphRight, kGlyphTop, kGlyphBottom };

  explicit TBitBtnWithColor(QWidget* parent = nullptr);
  TBitBtnWithColor(const QString& caption, QWidget* parent = nullptr);

  QColor Color() const { return color_; }
  void SetColor(const QColor& color);

  QPixmap Glyph() const { return glyph_; }
  void SetGlyph(const QPixmap& glyph);
  // Number of images in the glyph (1 to 4).
  int NumGlyphs() const { return num_glyphs_; }
  void SetNumGlyphs(int count);

  TButtonLayout Layout() const { return layout_; }
  void SetLayout(TButtonLayout layout);
  // Pixels between the edge and the glyph, or -1 to centre glyph and caption.
  int Margin() const { return margin_; }
  void SetMargin(int margin);
  // Pixels between the glyph and the caption.
  int Spacing() const { return spacing_; }
  void SetSpacing(int spacing);

  // The caption's colour: black on a light face, white on a dark one.
  QColor CaptionColor() const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap GlyphImage(int index) const;

  QColor color_;
  QPixmap glyph_;
  int num_glyphs_ = 1;
  TButtonLayout layout_ = TButtonLayout::kGlyphLeft;
  int margin_ = -1;
  int spacing_ = 4;
};

}  // namespace morvex
