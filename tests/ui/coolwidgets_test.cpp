// Behaviour of the panel, button, edit box, label and caption button.
#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "ui/coolbevel.h"
#include "ui/coolbtn.h"
#include "ui/coolcaptionbtn.h"
#include "ui/cooledit.h"
#include "ui/coollabel.h"
#include "ui/coolpanel.h"
#include "ui/coolstyle.h"

namespace {

void SendEnter(QWidget* widget) {
  QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), widget->mapToGlobal(QPointF(1, 1)));
  QApplication::sendEvent(widget, &enter);
}

// Types `text` key by key, as a keyboard with any layout would.
void TypeText(QWidget* widget, const QString& text) {
  for (const QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &release);
  }
}

void SendLeave(QWidget* widget) {
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(widget, &leave);
}

}  // namespace

TEST(CoolEdit, TypedTextArrivesInUpperCaseWithOneChangePerKey) {
  TCoolEdit edit;
  edit.show();
  QStringList seen;
  QObject::connect(&edit, &TCoolEdit::Change, [&] { seen << edit.text(); });
  TypeText(&edit, QStringLiteral(u"иВ2a"));
  EXPECT_EQ(edit.text(), QStringLiteral(u"ИВ2A"));
  EXPECT_EQ(seen, (QStringList{QStringLiteral(u"И"), QStringLiteral(u"ИВ"), QStringLiteral(u"ИВ2"),
                               QStringLiteral(u"ИВ2A")}));
  EXPECT_EQ(edit.cursorPosition(), 4);

  QTest::keyClick(&edit, Qt::Key_Backspace);
  EXPECT_EQ(seen.last(), QStringLiteral(u"ИВ2"));
  EXPECT_EQ(seen.size(), 5);
}

TEST(CoolEdit, ProgrammaticTextIsUpperCasedAndEachRealChangeReportedOnce) {
  TCoolEdit edit;
  QStringList seen;
  QObject::connect(&edit, &TCoolEdit::Change, [&] { seen << edit.text(); });
  edit.clear();
  EXPECT_TRUE(seen.isEmpty()) << "clearing an empty box changes nothing";
  edit.insert(QStringLiteral(u"петров"));
  EXPECT_EQ(edit.text(), QStringLiteral(u"ПЕТРОВ"));
  edit.setText(QStringLiteral(u"сидоров"));
  EXPECT_EQ(edit.text(), QStringLiteral(u"СИДОРОВ"));
  edit.clear();
  EXPECT_EQ(seen, (QStringList{QStringLiteral(u"ПЕТРОВ"), QStringLiteral(u"СИДОРОВ"), QString()}));
}

TEST(CoolEdit, MouseEnterAndLeaveAreReported) {
  TCoolEdit edit;
  QSignalSpy enters(&edit, &TCoolEdit::MouseEnter);
  QSignalSpy leaves(&edit, &TCoolEdit::MouseLeave);
  SendEnter(&edit);
  SendLeave(&edit);
  EXPECT_EQ(enters.count(), 1);
  EXPECT_EQ(leaves.count(), 1);
}

TEST(CoolBtn, ClickAndHoverAreReportedWithoutChangingItsLook) {
  TCoolBtn button;
  button.SetCaption(QStringLiteral(u"Выход"));
  button.SetColor(ColorFromBgr(15589843));
  button.setGeometry(0, 0, 101, 25);
  button.show();
  QSignalSpy clicks(&button, &QAbstractButton::clicked);
  QSignalSpy enters(&button, &TCoolBtn::MouseEnter);
  QSignalSpy leaves(&button, &TCoolBtn::MouseLeave);
  const QImage before = button.grab().toImage();
  SendEnter(&button);
  EXPECT_EQ(button.grab().toImage(), before) << "hovering changes nothing";
  QTest::mouseClick(&button, Qt::LeftButton);
  SendLeave(&button);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(enters.count(), 1);
  EXPECT_EQ(leaves.count(), 1);
}

TEST(CoolPanel, PaintsItsColourAndCaptionAndReportsMouseDown) {
  TCoolPanel panel;
  panel.resize(200, 21);
  panel.SetColor(ColorFromBgr(13948116));
  panel.SetBevelInner(TBevelCut::Lowered);
  panel.SetAlignment(Qt::AlignLeft);
  QImage blank = panel.grab().toImage();
  EXPECT_EQ(QColor(blank.pixel(100, 10)), QColor(212, 212, 212));
  panel.SetCaption(QStringLiteral(u" Строка поиска"));
  panel.SetFontColor(ColorFromBgr(kClNavy));
  const QImage captioned = panel.grab().toImage();
  bool navy = false;
  for (int x = 2; x < 100 && !navy; ++x) {
    for (int y = 2; y < 19 && !navy; ++y) navy = QColor(captioned.pixel(x, y)).blue() > QColor(captioned.pixel(x, y)).red() + 40;
  }
  EXPECT_TRUE(navy) << "caption drawn in the font colour at the left";

  QSignalSpy presses(&panel, &TCoolPanel::MouseDown);
  panel.show();
  QTest::mousePress(&panel, Qt::MiddleButton, {}, QPoint(30, 10));
  ASSERT_EQ(presses.count(), 1);
  EXPECT_EQ(presses.at(0).at(0).value<Qt::MouseButton>(), Qt::MiddleButton);
  EXPECT_EQ(presses.at(0).at(1).toPoint(), QPoint(30, 10));
  QTest::mouseRelease(&panel, Qt::MiddleButton, {}, QPoint(30, 10));
}

TEST(CoolLabel, TransparentLabelDrawsShadowUnderTextAndNoBackground) {
  QWidget parent;
  parent.resize(120, 40);
  QPalette colors = parent.palette();
  colors.setColor(QPalette::Window, QColor(10, 200, 10));
  parent.setPalette(colors);
  parent.setAutoFillBackground(true);
  auto* label = new TCoolLabel(&parent);
  label->setGeometry(0, 0, 120, 40);
  label->setFont(CoolFont(QStringLiteral("Courier New"), -30, true));
  label->SetCaption(QStringLiteral("I"));
  label->SetAlignment(Qt::AlignHCenter);
  label->SetFontColor(QColor(0, 0, 255));
  label->SetShadowColor(QColor(255, 255, 0));
  label->SetShadowOffset(2);
  label->SetTransparent(true);
  const QImage image = parent.grab().toImage();
  int blue = 0, yellow = 0, green = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c(image.pixel(x, y));
      if (c == QColor(0, 0, 255)) ++blue;
      if (c == QColor(255, 255, 0)) ++yellow;
      if (c == QColor(10, 200, 10)) ++green;
    }
  }
  EXPECT_GT(blue, 20);
  EXPECT_GT(yellow, 5) << "the shadow shows beside the text";
  EXPECT_GT(green, image.width() * image.height() / 2) << "the parent shows through";

  label->SetTransparent(false);
  label->SetColor(QColor(90, 90, 90));
  EXPECT_EQ(QColor(parent.grab().toImage().pixel(2, 2)), QColor(90, 90, 90));
}

TEST(CoolCaptionBtn, DefaultsToCloseAndReportsClicks) {
  TCoolCaptionBtn button;
  EXPECT_EQ(button.BtnType(), TCaptionBtnType::Close);
  EXPECT_EQ(button.size(), QSize(14, 14));
  button.show();
  QSignalSpy clicks(&button, &QAbstractButton::clicked);
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_EQ(clicks.count(), 1);
  // Each kind has its own glyph.
  const QImage close = button.grab().toImage();
  button.SetBtnType(TCaptionBtnType::Minimize);
  const QImage minimize = button.grab().toImage();
  button.SetBtnType(TCaptionBtnType::Help);
  const QImage help = button.grab().toImage();
  EXPECT_NE(close, minimize);
  EXPECT_NE(minimize, help);
  EXPECT_NE(close, help);
}

TEST(CoolBevel, NeverTakesTheMouse) {
  TCoolBevel bevel;
  EXPECT_TRUE(bevel.testAttribute(Qt::WA_TransparentForMouseEvents));
}
