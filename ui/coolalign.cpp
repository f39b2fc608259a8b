// Placement of child controls by alignment.
#include "ui/coolalign.h"

#include <QWidget>
#include <QWidgetItem>

#include <algorithm>

TAlignLayout::TAlignLayout(QWidget* parent) : QLayout(parent) {
  setContentsMargins(0, 0, 0, 0);
  setSpacing(0);
  setSizeConstraint(QLayout::SetNoConstraint);
}

TAlignLayout::~TAlignLayout() {
  for (Entry& entry : entries_) delete entry.item;
}

void TAlignLayout::AddWidget(QWidget* widget, TAlign align) {
  addChildWidget(widget);
  entries_.push_back({new QWidgetItem(widget), align});
  invalidate();
  Arrange();
}

void TAlignLayout::Arrange() {
  if (parentWidget() != nullptr) setGeometry(parentWidget()->contentsRect());
}

void TAlignLayout::addItem(QLayoutItem* item) {
  entries_.push_back({item, TAlign::Client});
  invalidate();
}

QSize TAlignLayout::sizeHint() const {
  return parentWidget() ? parentWidget()->size() : QSize(0, 0);
}

QSize TAlignLayout::minimumSize() const { return QSize(0, 0); }

QLayoutItem* TAlignLayout::itemAt(int index) const {
  if (index < 0 || index >= static_cast<int>(entries_.size())) return nullptr;
  return entries_[static_cast<size_t>(index)].item;
}

QLayoutItem* TAlignLayout::takeAt(int index) {
  if (index < 0 || index >= static_cast<int>(entries_.size())) return nullptr;
  QLayoutItem* item = entries_[static_cast<size_t>(index)].item;
  entries_.erase(entries_.begin() + index);
  return item;
}

int TAlignLayout::count() const { return static_cast<int>(entries_.size()); }

void TAlignLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  QRect area = rect;
  for (TAlign pass : {TAlign::Top, TAlign::Bottom, TAlign::Left, TAlign::Right, TAlign::Client}) {
    for (const Entry& entry : entries_) {
      if (entry.align != pass) continue;
      QWidget* widget = entry.item->widget();
      if (widget == nullptr || widget->isHidden()) continue;
      // Never more than what is left, never negative.
      const int height = std::clamp(widget->height(), 0, std::max(0, area.height()));
      const int width = std::clamp(widget->width(), 0, std::max(0, area.width()));
      QRect placed;
      switch (pass) {
        case TAlign::Top:
          placed = QRect(area.left(), area.top(), area.width(), height);
          area.setTop(placed.bottom() + 1);
          break;
        case TAlign::Bottom:
          placed = QRect(area.left(), area.bottom() + 1 - height, area.width(), height);
          area.setBottom(placed.top() - 1);
          break;
        case TAlign::Left:
          placed = QRect(area.left(), area.top(), width, area.height());
          area.setLeft(placed.right() + 1);
          break;
        case TAlign::Right:
          placed = QRect(area.right() + 1 - width, area.top(), width, area.height());
          area.setRight(placed.left() - 1);
          break;
        case TAlign::Client:
          placed = area;
          break;
      }
      widget->setGeometry(placed);
      if (auto* nested = dynamic_cast<TAlignLayout*>(widget->layout())) nested->Arrange();
    }
  }
}
