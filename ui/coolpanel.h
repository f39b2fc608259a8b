// TCoolPanel: a skinned panel with an inner and an outer bevel, a face
// colour and an optional caption. Aligned children (TAlignLayout) are placed
// inside the bevels. The panel reports mouse presses, which lets a form use
// a panel as its caption bar.
#pragma once

#include <QWidget>

#include "ui/coolalign.h"
#include "ui/coolstyle.h"

class TCoolPanel : public QWidget {
  Q_OBJECT

 public:
  explicit TCoolPanel(QWidget* parent = nullptr);

  TBevelCut BevelInner() const { return bevelInner_; }
  void SetBevelInner(TBevelCut cut);
  TBevelCut BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TBevelCut cut);
  int BevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(int width);

  QColor Color() const { return color_; }
  void SetColor(const QColor& color);
  QColor FontColor() const { return fontColor_; }
  void SetFontColor(const QColor& color);

  // The caption is drawn as one line, vertically centred inside the bevels;
  // `Alignment` is its horizontal alignment (Qt::AlignLeft, AlignHCenter or
  // AlignRight; centred by default).
  QString Caption() const { return caption_; }
  void SetCaption(const QString& caption);
  Qt::Alignment Alignment() const { return alignment_; }
  void SetAlignment(Qt::Alignment alignment);

  // Places a child by alignment inside the bevels.
  void AddAligned(QWidget* child, TAlign align);

  // The area inside both bevels.
  QRect ClientRect() const;

 signals:
  // A mouse button went down on the panel itself (not on a child).
  void MouseDown(Qt::MouseButton button, const QPoint& position);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void UpdateClientMargins();

  TBevelCut bevelInner_ = TBevelCut::None;
  TBevelCut bevelOuter_ = TBevelCut::Raised;
  int bevelWidth_ = 1;
  QColor color_;
  QColor fontColor_ = Qt::black;
  QString caption_;
  Qt::Alignment alignment_ = Qt::AlignHCenter;
  TAlignLayout* layout_ = nullptr;
};
