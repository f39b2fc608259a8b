// TCoolEdit: upper-casing edit box that reports changes.
#include "ui/cooledit.h"

#include <QPainter>
#include <QValidator>

#include <algorithm>

#include "ui/coolstyle.h"

namespace {

// Upper-cases whatever the user puts into the box, keeping the cursor where
// it was (clamped, as a few letters grow when upper-cased).
class UpperCaseValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& position) const override {
    const QString upper = input.toUpper();
    if (upper != input) {
      position = std::min(static_cast<int>(upper.size()), position + static_cast<int>(upper.size() - input.size()));
      input = upper;
    }
    return Acceptable;
  }
};

}  // namespace

TCoolEdit::TCoolEdit(QWidget* parent) : QLineEdit(parent) {
  setValidator(new UpperCaseValidator(this));
  setFrame(false);
  setTextMargins(4, 0, 2, 0);
  ApplyPalette();
  connect(this, &QLineEdit::textChanged, this, &TCoolEdit::OnTextChanged);
}

void TCoolEdit::SetColor(const QColor& color) {
  color_ = color;
  ApplyPalette();
}

void TCoolEdit::SetFontColor(const QColor& color) {
  fontColor_ = color;
  ApplyPalette();
}

void TCoolEdit::ApplyPalette() {
  QPalette colors = palette();
  colors.setColor(QPalette::Base, color_);
  colors.setColor(QPalette::Text, fontColor_);
  colors.setColor(QPalette::Highlight, ColorFromBgr(kClNavy));
  colors.setColor(QPalette::HighlightedText, Qt::white);
  setPalette(colors);
}

void TCoolEdit::OnTextChanged(const QString& text) {
  // Text set from code bypasses the validator: upper-case it here. Setting
  // the upper-case text reports the change through the nested call.
  const QString upper = text.toUpper();
  if (upper != text) {
    const int position = cursorPosition();
    setText(upper);
    setCursorPosition(std::min(position, static_cast<int>(upper.size())));
    return;
  }
  emit Change();
}

void TCoolEdit::paintEvent(QPaintEvent* event) {
  // Draw the white field first (the base class draws text and cursor over
  // it) and then a sunken two-pixel frame around it.
  QLineEdit::paintEvent(event);
  QPainter painter(this);
  QRect area = rect();
  const QColor face = parentWidget() != nullptr ? parentWidget()->palette().color(QPalette::Window)
                                                : ColorFromBgr(kClBtnFace);
  DrawBevel(painter, area, TBevelCut::Lowered, 1, face);
  painter.setPen(MixColors(BevelDark(face), Qt::black, 0.3));
  painter.drawLine(area.topLeft(), area.topRight());
  painter.drawLine(area.topLeft(), area.bottomLeft());
}

void TCoolEdit::enterEvent(QEnterEvent* event) {
  QLineEdit::enterEvent(event);
  emit MouseEnter();
}

void TCoolEdit::leaveEvent(QEvent* event) {
  QLineEdit::leaveEvent(event);
  emit MouseLeave();
}
