// TCoolLabel: label with a drop shadow.
#include "ui/coollabel.h"

#include <QPainter>

#include "ui/coolpanel.h"

TCoolLabel::TCoolLabel(QWidget* parent) : QWidget(parent) {}

void TCoolLabel::SetCaption(const QString& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  update();
}

void TCoolLabel::SetAlignment(Qt::Alignment alignment) {
  alignment_ = alignment & Qt::AlignHorizontal_Mask;
  update();
}

void TCoolLabel::SetFontColor(const QColor& color) {
  fontColor_ = color;
  update();
}

void TCoolLabel::SetShadowColor(const QColor& color) {
  shadowColor_ = color;
  update();
}

void TCoolLabel::SetShadowOffset(int offset) {
  shadowOffset_ = std::max(0, offset);
  update();
}

void TCoolLabel::SetTransparent(bool transparent) {
  transparent_ = transparent;
  update();
}

void TCoolLabel::SetColor(const QColor& color) {
  color_ = color;
  update();
}

void TCoolLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!transparent_) {
    QColor background = color_;
    if (!background.isValid()) {
      const auto* panel = qobject_cast<const TCoolPanel*>(parentWidget());
      background = panel != nullptr ? panel->Color() : palette().color(QPalette::Window);
    }
    painter.fillRect(rect(), background);
  }
  if (caption_.isEmpty()) return;
  painter.setFont(font());
  const int flags = static_cast<int>(alignment_ | Qt::AlignTop | Qt::TextSingleLine);
  const QRect area = rect().adjusted(0, 0, -shadowOffset_, -shadowOffset_);
  if (shadowOffset_ > 0) {
    painter.setPen(shadowColor_);
    painter.drawText(area.translated(shadowOffset_, shadowOffset_), flags, caption_);
  }
  painter.setPen(fontColor_);
  painter.drawText(area, flags, caption_);
}
