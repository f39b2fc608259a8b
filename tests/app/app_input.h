// What a person does to the viewer in its tests: typing, moving the mouse
// over a control and away, and keeping a picture of a window for a look at
// its painting (written into the build folder's screenshots/).
#pragma once

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QTest>

// Types `text` key by key into `widget`, as a keyboard with any layout would.
inline void TypeText(QWidget* widget, const QString& text) {
  for (const QChar c : text) QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

inline void SendEnter(QWidget* widget) {
  QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), widget->mapToGlobal(QPointF(1, 1)));
  QApplication::sendEvent(widget, &enter);
}

inline void SendLeave(QWidget* widget) {
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(widget, &leave);
}

inline QString ScreenshotPath(const char* name) {
  const QString folder = QStringLiteral(DERIDAR_BINARY_DIR "/screenshots");
  QDir().mkpath(folder);
  return folder + QLatin1Char('/') + QLatin1String(name);
}
