// TCoolBevel: a decorative etched frame. It paints only its edges, lets the
// parent show through, and never takes the mouse.
#pragma once

#include <QWidget>

#include "ui/coolstyle.h"

class TCoolBevel : public QWidget {
  Q_OBJECT

 public:
  explicit TCoolBevel(QWidget* parent = nullptr);

  // Lowered (the default): dark on the top and left; raised: the reverse.
  TBevelCut Style() const { return style_; }
  void SetStyle(TBevelCut style);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TBevelCut style_ = TBevelCut::Lowered;
};
