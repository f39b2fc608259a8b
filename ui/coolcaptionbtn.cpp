// TCoolCaptionBtn: help, minimise and close buttons of a caption bar.
#include "ui/coolcaptionbtn.h"

#include <QPainter>

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

  // Glyphs are drawn pixel by pixel on the inner area, so they stay crisp
  // at this size: an 8 × 8 box centred on the button.
  const int shift = down ? 1 : 0;
  const QRect glyph(area.left() + (area.width() - 8) / 2 + shift, area.top() + (area.height() - 8) / 2 + shift, 8, 8);
  const QColor ink(24, 24, 24);
  switch (type_) {
    case TCaptionBtnType::Close:
      // Two crossing diagonals, two pixels thick.
      for (int i = 0; i < 7; ++i) {
        painter.fillRect(glyph.left() + i, glyph.top() + i, 2, 1, ink);
        painter.fillRect(glyph.left() + 6 - i, glyph.top() + i, 2, 1, ink);
      }
      break;
    case TCaptionBtnType::Minimize:
      painter.fillRect(glyph.left() + 1, glyph.top() + 5, 6, 2, ink);
      break;
    case TCaptionBtnType::Help: {
      painter.setPen(ink);
      painter.setFont(CoolFont(QStringLiteral("Arial"), -11, true));
      painter.drawText(area.translated(shift, shift), Qt::AlignCenter, QStringLiteral("?"));
      break;
    }
  }
}
