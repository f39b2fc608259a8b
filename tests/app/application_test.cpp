// The application object: its error report and minimising.
#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <stdexcept>

#include "app/Application.h"
#include "app_environment.h"
#include "engine/support/gs6_glbl.h"

namespace {

// A widget whose event handler fails as an engine call inside it would.
class FailingWidget : public QWidget {
 public:
  explicit FailingWidget(std::string message) : message_(std::move(message)) {}

 protected:
  bool event(QEvent* event) override {
    if (event->type() == QEvent::User) throw EDeridarError(message_);
    return QWidget::event(event);
  }

 private:
  std::string message_;
};

}  // namespace

TEST(Application, ReportsAnExceptionFromAnEventHandlerAndCarriesOn) {
  ReportedErrors().clear();
  FailingWidget widget(FormatMessage(Msg::FileNotFound, {"PHONE.DBF"}));
  QEvent first(QEvent::User);
  EXPECT_NO_THROW(QApplication::sendEvent(&widget, &first));
  ASSERT_EQ(ReportedErrors().size(), 1);
  EXPECT_EQ(ReportedErrors().at(0), QStringLiteral("File PHONE.DBF could not be found"));
  // The program goes on: later events are delivered and fail again alike.
  QEvent second(QEvent::User);
  QApplication::sendEvent(&widget, &second);
  EXPECT_EQ(ReportedErrors().size(), 2);
  QEvent ordinary(QEvent::Polish);
  EXPECT_NO_THROW(QApplication::sendEvent(&widget, &ordinary));
  EXPECT_EQ(ReportedErrors().size(), 2);
}

TEST(Application, ExceptionTextIsUtf8OrElseCodePage1251) {
  const std::runtime_error utf8("Файл /tmp/телефон.dbf");
  EXPECT_EQ(TApplication::ExceptionText(utf8), QStringLiteral(u"Файл /tmp/телефон.dbf"));
  // "Ошибка" in code page 1251.
  const std::runtime_error ansi("\xCE\xF8\xE8\xE1\xEA\xE0 PHONE.DBF");
  EXPECT_EQ(TApplication::ExceptionText(ansi), QStringLiteral(u"Ошибка PHONE.DBF"));
}

TEST(Application, MinimizeMinimisesEveryVisibleWindow) {
  QWidget first, second, hidden;
  first.show();
  second.show();
  TApplication::Minimize();
  EXPECT_TRUE(first.isMinimized());
  EXPECT_TRUE(second.isMinimized());
  EXPECT_FALSE(hidden.isVisible());
  EXPECT_FALSE(hidden.isMinimized());
}
