// The page control: tabs, page selection, owner drawing, wallpaper.
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

#include "ui/coolpagecontrol.h"
#include "ui/coolstyle.h"
#include "ui/coolwallpaper.h"

namespace {

class PageControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    control_.setFont(CoolFont(QStringLiteral("MS Sans Serif"), -13));
    control_.resize(494, 369);
    first_ = control_.AddPage(QStringLiteral(u"  Город  "));
    second_ = control_.AddPage(QStringLiteral(u"  Таксофон  "));
    third_ = control_.AddPage(QStringLiteral(u"  Предприятия  "));
    control_.show();
  }

  TCoolPageControl control_;
  TCoolTabSheet* first_ = nullptr;
  TCoolTabSheet* second_ = nullptr;
  TCoolTabSheet* third_ = nullptr;
};

}  // namespace

TEST_F(PageControlTest, ClickOnATabSelectsItsPageAndReportsChangeButCodeDoesNot) {
  QSignalSpy changes(&control_, &TCoolPageControl::Change);
  EXPECT_EQ(control_.ActivePageIndex(), 0);
  QTest::mouseClick(&control_, Qt::LeftButton, {}, control_.TabRect(2).center());
  EXPECT_EQ(control_.ActivePageIndex(), 2);
  EXPECT_EQ(control_.ActivePage(), third_);
  EXPECT_TRUE(third_->isVisible());
  EXPECT_FALSE(first_->isVisible());
  EXPECT_EQ(changes.count(), 1);
  // Clicking the active tab again, the right button, or outside the tabs
  // changes nothing.
  QTest::mouseClick(&control_, Qt::LeftButton, {}, control_.TabRect(2).center());
  QTest::mouseClick(&control_, Qt::RightButton, {}, control_.TabRect(0).center());
  QTest::mouseClick(&control_, Qt::LeftButton, {}, QPoint(480, 8));
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(control_.ActivePageIndex(), 2);
  // Selecting a page from code reports nothing; indexes out of range are ignored.
  control_.SetActivePageIndex(1);
  EXPECT_EQ(control_.ActivePage(), second_);
  control_.SetActivePageIndex(7);
  control_.SetActivePageIndex(-1);
  EXPECT_EQ(control_.ActivePageIndex(), 1);
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(second_->PageIndex(), 1);
}

TEST_F(PageControlTest, TabsFollowTheirStoredCaptionsAndPagesFillTheFrame) {
  const QFontMetrics metrics(control_.font());
  const int widthFirst = control_.TabRect(1).width();
  EXPECT_EQ(widthFirst, metrics.horizontalAdvance(QStringLiteral(u"  Таксофон  ")) + 10);
  EXPECT_EQ(control_.TabRect(1).left(), control_.TabRect(0).right() - 1);
  EXPECT_GT(control_.TabRect(0).width(), control_.TabRect(1).width() - widthFirst + 10);
  // The page area is the same for every page and leaves room for the tabs.
  EXPECT_EQ(first_->geometry(), control_.PageRect());
  EXPECT_EQ(control_.PageRect().width(), 488);
  EXPECT_GT(control_.PageRect().top(), control_.TabRect(1).bottom());
  control_.SetActivePageIndex(2);
  EXPECT_EQ(third_->geometry(), control_.PageRect());
}

TEST_F(PageControlTest, OwnerDrawHandlerDrawsEveryTabOverItsBackground) {
  struct Call {
    int index;
    QRect rect;
    bool active;
  };
  std::vector<Call> calls;
  control_.SetOwnerDraw(true);
  control_.SetOnDrawTab([&](QPainter& canvas, int index, const QRect& rect, bool active) {
    calls.push_back({index, rect, active});
    canvas.fillRect(rect, Qt::red);
  });
  control_.SetActivePageIndex(1);
  const QImage image = control_.grab().toImage();
  ASSERT_EQ(calls.size(), 3u);
  int activeCount = 0;
  for (const Call& call : calls) {
    EXPECT_TRUE(control_.TabRect(call.index).contains(call.rect)) << call.index;
    EXPECT_EQ(QColor(image.pixel(call.rect.center())), QColor(Qt::red)) << call.index;
    if (call.active) {
      ++activeCount;
      EXPECT_EQ(call.index, 1);
    }
  }
  EXPECT_EQ(activeCount, 1);

  // Owner drawing without a handler draws no text at all: the tab shows
  // only its background.
  control_.SetOnDrawTab({});
  control_.SetWallpaper({});
  control_.SetColor(QColor(200, 200, 200));
  const QImage plain = control_.grab().toImage();
  const QRect tab = control_.TabRect(0).adjusted(3, 3, -3, -3);
  for (int x = tab.left(); x <= tab.right(); ++x) {
    const QColor c(plain.pixel(x, tab.center().y()));
    EXPECT_LE(std::abs(c.red() - c.blue()), 2) << x;
    EXPECT_GT(c.lightness(), 150) << x;
  }
}

TEST_F(PageControlTest, WallpaperIsTiledContinuouslyAcrossControlAndPage) {
  const QImage tile = MakeWallpaperTile(QColor(212, 212, 212), 64);
  control_.SetWallpaper(tile);
  const QImage page = first_->grab().toImage();
  const QPoint origin = first_->pos();
  for (const QPoint p : {QPoint(0, 0), QPoint(10, 77), QPoint(300, 200)}) {
    const QPoint inControl = p + origin;
    EXPECT_EQ(page.pixel(p), tile.pixel(inControl.x() % 64, inControl.y() % 64)) << p.x() << "," << p.y();
  }
}
