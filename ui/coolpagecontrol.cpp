// TCoolPageControl and TCoolTabSheet: tabbed pages over a tiled wallpaper.
#include "ui/coolpagecontrol.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>

#include <algorithm>

#include "ui/coolstyle.h"

namespace {

// Left edge of the first tab, and how far the active tab grows on each side.
constexpr int kTabsLeft = 2;
constexpr int kActiveGrowth = 2;
// Width of the raised frame around the page area.
constexpr int kFrameWidth = 3;

}  // namespace

// ---- TCoolTabSheet ----

TCoolTabSheet::TCoolTabSheet(TCoolPageControl* control, const QString& caption)
    : QWidget(control), control_(control), caption_(caption) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TCoolTabSheet::SetCaption(const QString& caption) {
  caption_ = caption;
  control_->update();
}

int TCoolTabSheet::PageIndex() const {
  const auto& pages = control_->pages_;
  const auto found = std::find(pages.begin(), pages.end(), this);
  return found == pages.end() ? -1 : static_cast<int>(found - pages.begin());
}

void TCoolTabSheet::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  control_->PaintBackground(painter, this, event->rect());
}

// ---- TCoolPageControl ----

TCoolPageControl::TCoolPageControl(QWidget* parent)
    : QWidget(parent), color_(ColorFromBgr(kClBtnFace)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  auto* next = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
  next->setContext(Qt::WidgetWithChildrenShortcut);
  connect(next, &QShortcut::activated, this, [this] {
    if (!pages_.empty()) SelectPage((activeIndex_ + 1) % PageCount(), true);
  });
  auto* previous = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), this);
  previous->setContext(Qt::WidgetWithChildrenShortcut);
  connect(previous, &QShortcut::activated, this, [this] {
    if (!pages_.empty()) SelectPage((activeIndex_ + PageCount() - 1) % PageCount(), true);
  });
}

TCoolTabSheet* TCoolPageControl::AddPage(const QString& caption) {
  auto* page = new TCoolTabSheet(this, caption);
  pages_.push_back(page);
  page->setGeometry(PageRect());
  if (activeIndex_ < 0) {
    activeIndex_ = 0;
  } else {
    page->hide();
  }
  update();
  return page;
}

TCoolTabSheet* TCoolPageControl::Page(int index) const {
  if (index < 0 || index >= PageCount()) return nullptr;
  return pages_[static_cast<size_t>(index)];
}

void TCoolPageControl::SetActivePageIndex(int index) { SelectPage(index, false); }

void TCoolPageControl::SelectPage(int index, bool byUser) {
  if (index < 0 || index >= PageCount() || index == activeIndex_) return;
  TCoolTabSheet* previous = ActivePage();
  activeIndex_ = index;
  TCoolTabSheet* current = ActivePage();
  current->setGeometry(PageRect());
  current->show();
  // Keep the focus inside the control when it was on the page left.
  const bool hadFocus = previous != nullptr && previous->isAncestorOf(QApplication::focusWidget());
  if (previous != nullptr) previous->hide();
  if (hadFocus) current->setFocus();
  update();
  if (byUser) emit Change();
}

void TCoolPageControl::SetColor(const QColor& color) {
  color_ = color;
  update();
}

void TCoolPageControl::SetFontColor(const QColor& color) {
  fontColor_ = color;
  update();
}

void TCoolPageControl::SetWallpaper(const QImage& tile) {
  wallpaper_ = tile;
  update();
  for (TCoolTabSheet* page : pages_) page->update();
}

void TCoolPageControl::SetOwnerDraw(bool ownerDraw) {
  ownerDraw_ = ownerDraw;
  update();
}

void TCoolPageControl::SetOnDrawTab(TDrawTabHandler handler) {
  drawTab_ = std::move(handler);
  update();
}

int TCoolPageControl::TabHeight() const { return QFontMetrics(font()).height() + 7; }

QRect TCoolPageControl::PlainTabRect(int index) const {
  const QFontMetrics metrics(font());
  int left = kTabsLeft;
  for (int i = 0; i < index; ++i) left += metrics.horizontalAdvance(pages_[static_cast<size_t>(i)]->Caption()) + 10;
  const int width = metrics.horizontalAdvance(pages_[static_cast<size_t>(index)]->Caption()) + 10;
  return QRect(left, kActiveGrowth, width, TabHeight() - kActiveGrowth);
}

QRect TCoolPageControl::TabRect(int index) const {
  if (index < 0 || index >= PageCount()) return QRect();
  const QRect plain = PlainTabRect(index);
  if (index != activeIndex_) return plain;
  // The active tab reaches over the frame's top edge, joining its page.
  return plain.adjusted(-kActiveGrowth, -kActiveGrowth, kActiveGrowth, kFrameWidth);
}

QRect TCoolPageControl::PageRect() const {
  return QRect(0, TabHeight(), width(), height() - TabHeight())
      .adjusted(kFrameWidth, kFrameWidth, -kFrameWidth, -kFrameWidth);
}

void TCoolPageControl::PaintBackground(QPainter& painter, QWidget* target, const QRect& rect) const {
  if (wallpaper_.isNull()) {
    painter.fillRect(rect, color_);
    return;
  }
  // Tiles are anchored at the control's origin, so a page's tiling
  // continues the control's seamlessly.
  const QPoint origin = target == this ? QPoint(0, 0) : target->mapTo(this, QPoint(0, 0));
  painter.drawTiledPixmap(rect, QPixmap::fromImage(wallpaper_), rect.topLeft() + origin);
}

void TCoolPageControl::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  PaintBackground(painter, this, event->rect());

  // Raised frame around the page area.
  QRect frame(0, TabHeight(), width(), height() - TabHeight());
  painter.setPen(MixColors(color_, Qt::black, 0.35));
  painter.drawRect(frame.adjusted(0, 0, -1, -1));
  frame.adjust(1, 1, -1, -1);
  DrawBevel(painter, frame, TBevelCut::Raised, kFrameWidth - 1, color_);

  for (int i = 0; i < PageCount(); ++i) {
    if (i != activeIndex_) PaintTab(painter, i);
  }
  if (activeIndex_ >= 0) PaintTab(painter, activeIndex_);
}

void TCoolPageControl::PaintTab(QPainter& painter, int index) {
  const bool active = index == activeIndex_;
  const QRect tab = TabRect(index);
  const QColor light = BevelLight(color_);
  const QColor dark = BevelDark(color_);

  // Background: the wallpaper, lightened on the active tab so that it reads
  // as the front one; inactive tabs are dimmed a little.
  PaintBackground(painter, this, tab);
  painter.fillRect(tab.adjusted(1, 1, -1, 0), active ? QColor(255, 255, 255, 90) : QColor(0, 0, 0, 14));

  // Edges: light on the left and top, with cut corners, dark on the right.
  const int l = tab.left(), t = tab.top(), r = tab.right(), b = tab.bottom();
  painter.setPen(light);
  painter.drawLine(l, b, l, t + 2);
  painter.drawLine(l + 1, t + 1, l + 1, t + 1);
  painter.drawLine(l + 2, t, r - 2, t);
  painter.setPen(MixColors(light, color_, 0.5));
  painter.drawLine(l + 1, b, l + 1, t + 2);
  painter.drawLine(l + 2, t + 1, r - 2, t + 1);
  painter.setPen(dark);
  painter.drawLine(r, t + 2, r, b);
  painter.drawLine(r - 1, t + 1, r - 1, t + 1);
  painter.setPen(MixColors(dark, color_, 0.4));
  painter.drawLine(r - 1, t + 2, r - 1, b);
  if (active) {
    // Open the frame's top edge beneath the active tab.
    const QRect gap(l + 2, b - kFrameWidth + 1, tab.width() - 4, kFrameWidth);
    PaintBackground(painter, this, gap);
    painter.fillRect(gap, QColor(255, 255, 255, 90));
  }

  const QRect textRect = tab.adjusted(2, 2, -2, active ? -kFrameWidth : 0);
  painter.save();
  painter.setFont(font());
  painter.setPen(fontColor_);
  if (ownerDraw_ && drawTab_) {
    drawTab_(painter, index, textRect, active);
  } else if (!ownerDraw_) {
    painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, pages_[static_cast<size_t>(index)]->Caption());
  }
  painter.restore();
}

void TCoolPageControl::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint at = event->position().toPoint();
  // The active tab is on top of its neighbours, so it is tested first.
  if (TabRect(activeIndex_).contains(at)) return;
  for (int i = 0; i < PageCount(); ++i) {
    if (TabRect(i).contains(at)) {
      SelectPage(i, true);
      return;
    }
  }
}

void TCoolPageControl::resizeEvent(QResizeEvent*) { LayoutPages(); }

void TCoolPageControl::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) LayoutPages();
  QWidget::changeEvent(event);
}

void TCoolPageControl::LayoutPages() {
  for (TCoolTabSheet* page : pages_) page->setGeometry(PageRect());
  update();
}
