// TCoolPageControl and TCoolTabSheet: a page control with a row of tabs on
// top and one page shown at a time, with a wallpaper tiled seamlessly over
// the control and its pages.
//
// Tabs are as wide as their page's caption. Each tab's background is painted
// by the control; with owner drawing on, the tab's text is then left to the
// tab-drawing handler, which gets the canvas, the tab's index and rectangle
// and whether the tab is active. A click on a tab (or Ctrl+Tab) selects its
// page and reports Change; selecting a page from code reports nothing.
#pragma once

#include <QImage>
#include <QWidget>

#include <functional>
#include <vector>

class TCoolPageControl;

class TCoolTabSheet : public QWidget {
  Q_OBJECT

 public:
  QString Caption() const { return caption_; }
  void SetCaption(const QString& caption);
  TCoolPageControl* PageControl() const { return control_; }
  int PageIndex() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  friend class TCoolPageControl;
  TCoolTabSheet(TCoolPageControl* control, const QString& caption);

  TCoolPageControl* control_;
  QString caption_;
};

class TCoolPageControl : public QWidget {
  Q_OBJECT

 public:
  using TDrawTabHandler = std::function<void(QPainter& canvas, int tabIndex, const QRect& rect, bool active)>;

  explicit TCoolPageControl(QWidget* parent = nullptr);

  // Appends a page; the control owns it.
  TCoolTabSheet* AddPage(const QString& caption);
  int PageCount() const { return static_cast<int>(pages_.size()); }
  TCoolTabSheet* Page(int index) const;

  int ActivePageIndex() const { return activeIndex_; }
  TCoolTabSheet* ActivePage() const { return Page(activeIndex_); }
  // Shows the page at `index` without reporting Change.
  void SetActivePageIndex(int index);

  QColor Color() const { return color_; }
  void SetColor(const QColor& color);
  QColor FontColor() const { return fontColor_; }
  void SetFontColor(const QColor& color);
  // The tile painted over the control and its pages; a null image leaves a
  // plain fill in Color.
  const QImage& Wallpaper() const { return wallpaper_; }
  void SetWallpaper(const QImage& tile);

  bool OwnerDraw() const { return ownerDraw_; }
  void SetOwnerDraw(bool ownerDraw);
  void SetOnDrawTab(TDrawTabHandler handler);

  // The tab of a page in control coordinates (the active tab stands out
  // above the others and is wider).
  QRect TabRect(int index) const;
  // Where pages are placed.
  QRect PageRect() const;

  // Paints the wallpaper (or the plain colour) over `rect` of `target`,
  // tiled so that it lines up with the control's own tiling.
  void PaintBackground(QPainter& painter, QWidget* target, const QRect& rect) const;

 signals:
  // The user selected another page.
  void Change();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  friend class TCoolTabSheet;
  void SelectPage(int index, bool byUser);
  void LayoutPages();
  int TabHeight() const;
  QRect PlainTabRect(int index) const;
  void PaintTab(QPainter& painter, int index);

  std::vector<TCoolTabSheet*> pages_;
  int activeIndex_ = -1;
  QColor color_;
  QColor fontColor_ = Qt::black;
  QImage wallpaper_;
  bool ownerDraw_ = false;
  TDrawTabHandler drawTab_;
};
