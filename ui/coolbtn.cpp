// TCoolBtn: skinned push button.
#include "ui/coolbtn.h"

#include <QPainter>

#include "ui/coolstyle.h"

TCoolBtn::TCoolBtn(QWidget* parent) : QAbstractButton(parent), color_(ColorFromBgr(kClBtnFace)) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TCoolBtn::SetColor(const QColor& color) {
  color_ = color;
  update();
}

void TCoolBtn::SetFontColor(const QColor& color) {
  fontColor_ = color;
  update();
}

QSize TCoolBtn::sizeHint() const {
  const QFontMetrics metrics(font());
  return QSize(metrics.horizontalAdvance(text()) + 16, metrics.height() + 10);
}

void TCoolBtn::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const bool down = isDown() || isChecked();
  QRect area = rect();

  // A thin dark outline, then a bevel that is raised at rest and lowered
  // while pressed, around a face that is lit from above.
  const QColor outline = MixColors(color_, Qt::black, 0.6);
  painter.setPen(outline);
  painter.drawRect(area.adjusted(0, 0, -1, -1));
  area.adjust(1, 1, -1, -1);
  DrawBevel(painter, area, down ? TBevelCut::Lowered : TBevelCut::Raised, 1, color_);

  QLinearGradient face(area.topLeft(), area.bottomLeft());
  if (down) {
    face.setColorAt(0.0, MixColors(color_, Qt::black, 0.12));
    face.setColorAt(1.0, color_);
  } else {
    face.setColorAt(0.0, MixColors(color_, Qt::white, 0.55));
    face.setColorAt(0.5, color_);
    face.setColorAt(1.0, MixColors(color_, Qt::black, 0.08));
  }
  painter.fillRect(area, face);

  QRect textArea = area;
  if (down) textArea.translate(1, 1);
  painter.setFont(font());
  painter.setPen(isEnabled() ? fontColor_ : MixColors(color_, Qt::black, 0.35));
  painter.drawText(textArea, Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic, text());

  if (hasFocus()) {
    // A dotted focus frame inside the bevel.
    QPen dotted(MixColors(color_, Qt::black, 0.55), 1, Qt::DotLine);
    painter.setPen(dotted);
    painter.drawRect(area.adjusted(2, 2, -3, -3));
  }
}

void TCoolBtn::enterEvent(QEnterEvent* event) {
  QAbstractButton::enterEvent(event);
  emit MouseEnter();
}

void TCoolBtn::leaveEvent(QEvent* event) {
  QAbstractButton::leaveEvent(event);
  emit MouseLeave();
}
