// TApplication: the viewer's application object. It carries the program's
// title, minimises the whole program, and reports any exception that
// escapes an event handler in a message box, after which the program
// carries on (the only place in the viewer that catches exceptions).
#pragma once

#include <QApplication>

#include <exception>

class TApplication : public QApplication {
  Q_OBJECT

 public:
  TApplication(int& argc, char** argv);

  QString Title() const { return applicationDisplayName(); }
  void SetTitle(const QString& title);

  // Minimises every visible top-level window of the program.
  static void Minimize();

  // Shows `message` in a message box titled with the program's title;
  // `details`, when given, can be unfolded below it.
  virtual void ShowException(const QString& message, const QString& details = QString());

  // The text of an exception for the screen. Engine messages are bytes:
  // taken as UTF-8 when they are valid UTF-8 (file names on this system),
  // otherwise as code page 1251 (the screen code page of table texts).
  static QString ExceptionText(const std::exception& error);

  bool notify(QObject* receiver, QEvent* event) override;
};
