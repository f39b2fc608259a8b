// TCoolPanel: bevelled, coloured, captioned panel.
#include "ui/coolpanel.h"

#include <QMouseEvent>
#include <QPainter>

TCoolPanel::TCoolPanel(QWidget* parent) : QWidget(parent), color_(ColorFromBgr(kClBtnFace)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  UpdateClientMargins();
}

void TCoolPanel::SetBevelInner(TBevelCut cut) {
  bevelInner_ = cut;
  UpdateClientMargins();
}

void TCoolPanel::SetBevelOuter(TBevelCut cut) {
  bevelOuter_ = cut;
  UpdateClientMargins();
}

void TCoolPanel::SetBevelWidth(int width) {
  bevelWidth_ = std::max(0, width);
  UpdateClientMargins();
}

void TCoolPanel::SetColor(const QColor& color) {
  color_ = color;
  update();
}

void TCoolPanel::SetFontColor(const QColor& color) {
  fontColor_ = color;
  update();
}

void TCoolPanel::SetCaption(const QString& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  update();
}

void TCoolPanel::SetAlignment(Qt::Alignment alignment) {
  alignment_ = alignment & Qt::AlignHorizontal_Mask;
  update();
}

void TCoolPanel::AddAligned(QWidget* child, TAlign align) {
  if (layout_ == nullptr) layout_ = new TAlignLayout(this);
  layout_->AddWidget(child, align);
}

QRect TCoolPanel::ClientRect() const { return contentsRect(); }

void TCoolPanel::UpdateClientMargins() {
  int inset = 0;
  if (bevelOuter_ != TBevelCut::None) inset += bevelWidth_;
  if (bevelInner_ != TBevelCut::None) inset += bevelWidth_;
  setContentsMargins(inset, inset, inset, inset);
  if (layout_ != nullptr) layout_->Arrange();
  update();
}

void TCoolPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QRect area = rect();
  DrawBevel(painter, area, bevelOuter_, bevelWidth_, color_);
  DrawBevel(painter, area, bevelInner_, bevelWidth_, color_);
  painter.fillRect(area, color_);
  if (caption_.isEmpty()) return;
  painter.setFont(font());
  painter.setPen(fontColor_);
  painter.drawText(area, static_cast<int>(alignment_ | Qt::AlignVCenter | Qt::TextSingleLine), caption_);
}

void TCoolPanel::mousePressEvent(QMouseEvent* event) {
  event->accept();
  emit MouseDown(event->button(), event->position().toPoint());
}
