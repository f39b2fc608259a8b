// TCoolCaptionBtn: help, minimise and close buttons of a caption bar.
#include "ui/coolcaptionbtn.h"

#include <QPainter>
#include <QPainterPath>

#include "ui/coolstyle.h"

TCoolCaptionBtn::TCoolCaptionBtn(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::NoFocus);
  resize(14, 14);
}

void TCoolCaptionBtn::SetBtnType(TCaptionBtnType type) {
  type_ = type;
  update();
}

void TCoolCaptionBtn::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const bool down = isDown();
  const QColor face(236, 236, 232);
  QRect area = rect();
  painter.setPen(QColor(64, 64, 64));
  painter.drawRect(area.adjusted(0, 0, -1, -1));
  area.adjust(1, 1, -1, -1);
  DrawBevel(painter, area, down ? TBevelCut::Lowered : TBevelCut::Raised, 1, face);
  QLinearGradient gradient(area.topLeft(), area.bottomLeft());
  gradient.setColorAt(0.0, down ? QColor(205, 205, 200) : Qt::white);
  gradient.setColorAt(1.0, down ? face : QColor(214, 214, 208));
  painter.fillRect(area, gradient);

  // Glyphs are drawn on a pixel grid of the inner area, so they stay crisp
  // at this size.
  QRect glyph = area.adjusted(2, 2, -2, -2);
  if (down) glyph.translate(1, 1);
  const QColor ink(24, 24, 24);
  painter.setPen(ink);
  switch (type_) {
    case TCaptionBtnType::Close: {
      QPen pen(ink, 1.6, Qt::SolidLine, Qt::FlatCap);
      painter.setRenderHint(QPainter::Antialiasing);
      painter.setPen(pen);
      const QRectF g = QRectF(glyph).adjusted(0.5, 0.5, -0.5, -0.5);
      painter.drawLine(g.topLeft(), g.bottomRight());
      painter.drawLine(g.topRight(), g.bottomLeft());
      break;
    }
    case TCaptionBtnType::Minimize:
      painter.fillRect(QRect(glyph.left(), glyph.bottom() - 1, glyph.width(), 2), ink);
      break;
    case TCaptionBtnType::Help: {
      QFont font = CoolFont(QStringLiteral("Arial"), -11, true);
      painter.setFont(font);
      painter.drawText(area.translated(down ? 1 : 0, down ? 1 : 0), Qt::AlignCenter, QStringLiteral("?"));
      break;
    }
  }
}
