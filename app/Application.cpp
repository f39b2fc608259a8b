// TApplication: title, minimising, and the default error report.
#include "app/Application.h"

#include <QMessageBox>
#include <QStringDecoder>
#include <QWidget>

#include <string>

#include "platform/codepage.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

void TApplication::SetTitle(const QString& title) { setApplicationDisplayName(title); }

void TApplication::Minimize() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->isVisible() && !window->isMinimized()) window->showMinimized();
  }
}

void TApplication::ShowException(const QString& message, const QString& details) {
  QMessageBox box(QMessageBox::Critical, applicationDisplayName(), message, QMessageBox::Ok, activeWindow());
  if (!details.isEmpty()) box.setDetailedText(details);
  box.exec();
}

QString TApplication::ExceptionText(const std::exception& error) {
  const QByteArray bytes(error.what());
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8(bytes);
  if (!utf8.hasError()) return text;
  const std::string converted = platform::ToUtf8(bytes.toStdString(), platform::CodePage::Cp1251);
  return QString::fromUtf8(converted.data(), static_cast<qsizetype>(converted.size()));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowException(ExceptionText(error));
  } catch (...) {
    ShowException(QStringLiteral("Unknown error"));
  }
  return false;
}
