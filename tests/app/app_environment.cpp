// The application object of the viewer's tests, on the off-screen platform.
#include "app_environment.h"

#include <gtest/gtest.h>

#include <memory>

#include "app/Application.h"

namespace {

class RecordingApplication : public TApplication {
 public:
  using TApplication::TApplication;
  void ShowException(const QString& message, const QString& details) override {
    ReportedErrors() << message;
    ReportedDetails() << details;
  }
};

class AppEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    application_ = std::make_unique<RecordingApplication>(argc_, argv_);
    application_->SetTitle(QStringLiteral(u"Телефонный справочник"));
  }
  void TearDown() override { application_.reset(); }

 private:
  int argc_ = 1;
  char name_[9] = "test_app";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<RecordingApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const kAppEnvironment =
    ::testing::AddGlobalTestEnvironment(new AppEnvironment);

}  // namespace

QStringList& ReportedErrors() {
  static QStringList errors;
  return errors;
}

QStringList& ReportedDetails() {
  static QStringList details;
  return details;
}
