// TCoolBtn: a skinned push button with a face colour, a caption in the
// button's font and font colour, and notifications when the mouse enters and
// leaves it. Its look does not change on hover; a press sinks it.
#pragma once

#include <QAbstractButton>

class TCoolBtn : public QAbstractButton {
  Q_OBJECT

 public:
  explicit TCoolBtn(QWidget* parent = nullptr);

  QColor Color() const { return color_; }
  void SetColor(const QColor& color);
  QColor FontColor() const { return fontColor_; }
  void SetFontColor(const QColor& color);
  QString Caption() const { return text(); }
  void SetCaption(const QString& caption) { setText(caption); }

  QSize sizeHint() const override;

 signals:
  void MouseEnter();
  void MouseLeave();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QColor color_;
  QColor fontColor_ = Qt::black;
};
