// The splash: what it shows, the index check, the timer, and its place in
// showing the main window.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/UnitLogo.h"
#include "app/UnitMain.h"
#include "app_environment.h"
#include "recording_dm.h"
#include "ui/coollabel.h"
#include "ui/coolpagecontrol.h"

namespace {

// Runs a test inside an empty temporary folder made the working directory.
class SplashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    previous_ = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder_.path()));
    ReportedErrors().clear();
  }
  void TearDown() override { QDir::setCurrent(previous_); }

  static void Touch(const char* name) {
    QFile file(QString::fromLatin1(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }

  QTemporaryDir folder_;
  QString previous_;
};

}  // namespace

// What the splash shows and the parts its index check drives; its painting
// is the screenshots' business.
TEST_F(SplashTest, HasItsLabelsAProgressBarOfSevenStepsAndAStoppedTimer) {
  TfrmLogo splash;
  EXPECT_EQ(splash.size(), QSize(251, 147));
  EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(splash.isModal());
  EXPECT_EQ(splash.CoolLabel3->Caption(), QStringLiteral(u"Телефонный"));
  EXPECT_EQ(splash.CoolLabel4->Caption(), QStringLiteral(u"справочник"));
  EXPECT_EQ(splash.CoolLabel1->Caption(), QStringLiteral(u"2002"));
  EXPECT_EQ(splash.Label1->Caption(), QStringLiteral(u"Запуск..."));
  EXPECT_EQ(splash.ProgressBar1->minimum(), 0);
  EXPECT_EQ(splash.ProgressBar1->maximum(), 7);
  EXPECT_EQ(splash.Timer1->interval(), 1000);
  EXPECT_FALSE(splash.Timer1->isActive());
}

TEST_F(SplashTest, BuildsEveryMissingIndexFileInOrderAndStartsTheTimer) {
  TfrmLogo splash;
  RecordingDM dm;
  std::vector<int> positions;
  dm.onIndexOn = [&] { positions.push_back(splash.ProgressBar1->value()); };
  splash.SetDataModule(&dm);
  splash.ProgressBar1->setMaximum(3);
  splash.ProgressBar1->setValue(2);
  splash.FormActivate();
  EXPECT_EQ(dm.calls, (std::vector<std::string>{
                          "IndexOn(TELF.CDX,TELF,FIO,tip=1,1,0)", "IndexOn(TELN.CDX,TELN,NUM,tip=1,1,0)",
                          "IndexOn(TELA.CDX,TELA,ADR,tip=1,1,0)", "IndexOn(PREDN.CDX,PREDN,NUM,tip=2,1,0)",
                          "IndexOn(PREDF.CDX,PREDF,FIO,tip=2,1,0)", "IndexOn(TAXN.CDX,TAXN,NUM,tip=3,1,0)",
                          "IndexOn(TAXA.CDX,TAXA,ADR,tip=3,1,0)"}));
  EXPECT_EQ(positions, (std::vector<int>{0, 1, 2, 3, 4, 5, 6})) << "the bar shows the steps done";
  EXPECT_EQ(splash.ProgressBar1->maximum(), 7);
  EXPECT_EQ(splash.ProgressBar1->value(), 7);
  EXPECT_TRUE(splash.Timer1->isActive());
}

TEST_F(SplashTest, IsOnTheScreenBeforeTheFirstBuildBegins) {
  TfrmLogo splash;
  RecordingDM dm;
  bool exposedAtFirstBuild = false;
  dm.onIndexOn = [&] {
    if (dm.calls.size() == 1) exposedAtFirstBuild = splash.windowHandle() && splash.windowHandle()->isExposed();
  };
  splash.SetDataModule(&dm);
  splash.exec();  // returns when its timer has closed it
  EXPECT_EQ(dm.calls.size(), 7u);
  EXPECT_TRUE(exposedAtFirstBuild) << "the window system had not shown the splash when building began";
}

TEST_F(SplashTest, AFailedBuildIsReportedOnceInRussianAndTheOtherFilesAreStillBuilt) {
  TfrmLogo splash;
  RecordingDM dm;
  dm.onIndexOn = [&] {
    const std::string& call = dm.calls.back();
    if (call.rfind("IndexOn(TELA", 0) == 0 || call.rfind("IndexOn(TAXN", 0) == 0)
      throw std::runtime_error("File " + call.substr(8, 8) + " could not be found");
  };
  splash.SetDataModule(&dm);
  splash.FormActivate();
  EXPECT_EQ(dm.calls.size(), 7u) << "the steps after a failed one still run";
  EXPECT_EQ(splash.ProgressBar1->value(), 7);
  EXPECT_EQ(splash.UnusableFiles(), (std::set<std::string>{"TAXN.CDX", "TELA.CDX"}));
  ASSERT_EQ(ReportedErrors().size(), 1) << "one message for all of them";
  EXPECT_TRUE(ReportedErrors().front().contains(QStringLiteral(u"перестроить их не удалось: TAXN.CDX, TELA.CDX")))
      << ReportedErrors().front().toStdString();
  EXPECT_TRUE(ReportedDetails().back().contains(QStringLiteral("File TELA.CDX could not be found")))
      << ReportedDetails().back().toStdString();
  ReportedErrors().clear();
  EXPECT_TRUE(splash.Timer1->isActive());
  splash.show();
  splash.Timer1Timer();
  EXPECT_FALSE(splash.isVisible());
  EXPECT_FALSE(splash.Timer1->isActive());
}

TEST_F(SplashTest, ShowingTheMainWindowRunsTheSplashModallyFirst) {
  for (const TIndexStep& step : kIndexSteps) Touch(step.fileName);
  TfrmMain form;
  TfrmLogo splash;
  RecordingDM dm;
  form.SetLogo(&splash);
  form.SetDataModule(&dm);
  splash.SetDataModule(&dm);
  bool showHandlerWaited = false;
  QTimer::singleShot(100, [&] { showHandlerWaited = form.CoolPageControl1->ActivePageIndex() == 2; });
  QElapsedTimer clock;
  clock.start();
  form.show();  // returns when the splash has closed
  const qint64 elapsed = clock.elapsed();
  EXPECT_FALSE(splash.isVisible());
  // No index was built; the show handler went on to the city number order.
  EXPECT_EQ(dm.calls, (std::vector<std::string>{"OpenIndexes(,)", "OpenIndexes(TELN.CDX,TELN)", "MoveFirst"}));
  EXPECT_EQ(splash.ProgressBar1->value(), 7);
  EXPECT_TRUE(showHandlerWaited) << "while the splash was up the show handler had not gone on";
  EXPECT_GE(elapsed, 900);
  EXPECT_LT(elapsed, 5000);
  EXPECT_EQ(form.CoolPageControl1->ActivePageIndex(), 0);
  EXPECT_TRUE(ReportedErrors().isEmpty());
}
