// TCoolEdit: a one-line edit box that forces its text to upper case and
// reports every change of its text, and notifies when the mouse enters and
// leaves it. Typed, pasted and dropped text is upper-cased as it arrives;
// text set from code is upper-cased too, and a change is reported once, with
// the upper-case text.
#pragma once

#include <QLineEdit>

class TCoolEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TCoolEdit(QWidget* parent = nullptr);

  QColor Color() const { return color_; }
  void SetColor(const QColor& color);
  QColor FontColor() const { return fontColor_; }
  void SetFontColor(const QColor& color);

 signals:
  // The text changed (by the user or from code); text() holds the new text.
  void Change();
  void MouseEnter();
  void MouseLeave();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void OnTextChanged(const QString& text);
  void ApplyPalette();

  QColor color_ = Qt::white;
  QColor fontColor_ = Qt::black;
};
