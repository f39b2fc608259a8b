// TCoolBevel: decorative etched frame.
#include "ui/coolbevel.h"

#include <QPainter>

TCoolBevel::TCoolBevel(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
}

void TCoolBevel::SetStyle(TBevelCut style) {
  style_ = style;
  update();
}

void TCoolBevel::paintEvent(QPaintEvent*) {
  if (style_ == TBevelCut::None) return;
  // Translucent edges, so that the frame sits well on any background or
  // wallpaper beneath it.
  const QColor shade(0, 0, 0, 90);
  const QColor shine(255, 255, 255, 200);
  const QColor& outer = style_ == TBevelCut::Lowered ? shade : shine;
  const QColor& inner = style_ == TBevelCut::Lowered ? shine : shade;
  QPainter painter(this);
  const QRect r = rect().adjusted(0, 0, -1, -1);
  // An etched box: one rectangle in the first colour, another one pixel in
  // and down in the second.
  painter.setPen(outer);
  painter.drawRect(r.adjusted(0, 0, -1, -1));
  painter.setPen(inner);
  painter.drawRect(r.adjusted(1, 1, 0, 0));
}
