// TCoolLabel: a text label with a drop shadow. The shadow is the caption
// drawn first in the shadow colour, moved right and down by the shadow
// offset; the caption is drawn over it in the font colour. A transparent
// label paints no background, so the parent's wallpaper shows through.
#pragma once

#include <QWidget>

class TCoolLabel : public QWidget {
  Q_OBJECT

 public:
  explicit TCoolLabel(QWidget* parent = nullptr);

  QString Caption() const { return caption_; }
  void SetCaption(const QString& caption);
  // Horizontal alignment of the caption (left by default); the caption sits
  // at the top of the label, as one line.
  Qt::Alignment Alignment() const { return alignment_; }
  void SetAlignment(Qt::Alignment alignment);

  QColor FontColor() const { return fontColor_; }
  void SetFontColor(const QColor& color);
  QColor ShadowColor() const { return shadowColor_; }
  void SetShadowColor(const QColor& color);
  // Offset of the shadow in pixels; 0 draws no shadow.
  int ShadowOffset() const { return shadowOffset_; }
  void SetShadowOffset(int offset);

  bool Transparent() const { return transparent_; }
  void SetTransparent(bool transparent);
  // Background colour of a label that is not transparent; invalid (the
  // default) takes the parent's colour.
  QColor Color() const { return color_; }
  void SetColor(const QColor& color);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString caption_;
  Qt::Alignment alignment_ = Qt::AlignLeft;
  QColor fontColor_ = Qt::black;
  QColor shadowColor_ = QColor(128, 128, 128);
  int shadowOffset_ = 1;
  bool transparent_ = false;
  QColor color_;
};
