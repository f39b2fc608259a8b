// The main window: geometry, control tree, tabs, grids, status line,
// caption buttons, exit buttons and dragging.
#include <QFontInfo>
#include <QPainter>
#include <QStandardItemModel>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "app/UnitMain.h"
#include "app_environment.h"
#include "app_input.h"
#include "ui/coolbevel.h"
#include "ui/coolbtn.h"
#include "ui/coolcaptionbtn.h"
#include "ui/cooledit.h"
#include "ui/coollabel.h"
#include "ui/coolpagecontrol.h"
#include "ui/coolpanel.h"
#include "ui/rxdbgrid.h"

namespace {

// A stand-in for the dataset's model: the four fields of the directory.
std::unique_ptr<QStandardItemModel> DirectoryModel() {
  auto model = std::make_unique<QStandardItemModel>(3, 4);
  model->setHorizontalHeaderLabels({QStringLiteral("NUM"), QStringLiteral("FIO"), QStringLiteral("ADR"),
                                    QStringLiteral("TIP")});
  model->setHeaderData(0, Qt::Horizontal, 7, TRxDBGrid::kDisplayWidthRole);
  return model;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ReportedErrors().clear();
    form_ = std::make_unique<TfrmMain>();
    form_->show();
  }
  void TearDown() override { EXPECT_TRUE(ReportedErrors().isEmpty()) << ReportedErrors().join('\n').toStdString(); }

  std::unique_ptr<TfrmMain> form_;
};

// The smallest part of `image` that holds all its black ink (text drawn in
// black), null when there is none.
QImage InkOf(const QImage& image) {
  QRect ink;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (QColor(image.pixel(x, y)).lightness() < 50) ink |= QRect(x, y, 1, 1);
    }
  }
  return ink.isNull() ? QImage() : image.copy(ink);
}

}  // namespace

TEST_F(MainWindowTest, IsABorderless504By421WindowCentredOnTheScreen) {
  EXPECT_EQ(form_->size(), QSize(504, 421));
  EXPECT_TRUE(form_->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(QFontInfo(form_->font()).pixelSize(), 11);
  const QRect screen = form_->screen()->availableGeometry();
  EXPECT_LE(std::abs(form_->geometry().center().x() - screen.center().x()), 1);
  EXPECT_LE(std::abs(form_->geometry().center().y() - screen.center().y()), 1);
}

// The control tree: which page holds which button, label, box and grid,
// and the texts the user reads. Geometry, colours and fonts are the
// screenshots' business.
TEST_F(MainWindowTest, PagesHoldTheirButtonsGridLabelAndSearchBox) {
  EXPECT_EQ(form_->CoolPanel4->Caption(), QStringLiteral(u" Телефонный справочник"));
  EXPECT_EQ(form_->CoolCaptionBtn1->BtnType(), TCaptionBtnType::Help);
  EXPECT_EQ(form_->CoolCaptionBtn2->BtnType(), TCaptionBtnType::Minimize);
  EXPECT_EQ(form_->CoolCaptionBtn3->BtnType(), TCaptionBtnType::Close);
  TCoolPageControl* pages = form_->CoolPageControl1;
  ASSERT_EQ(pages->PageCount(), 3);
  EXPECT_EQ(pages->Page(0), form_->CoolTabSheet1);
  EXPECT_EQ(pages->Page(1), form_->CoolTabSheet2);
  EXPECT_EQ(pages->Page(2), form_->CoolTabSheet3);

  struct Child {
    QWidget* widget;
    QWidget* page;
    const char16_t* caption;  // a button's or label's text; null for others
  };
  const Child children[] = {
      {form_->CoolBtn1, form_->CoolTabSheet1, u"по номеру"},
      {form_->CoolBtn2, form_->CoolTabSheet1, u"по фамилии"},
      {form_->CoolBtn3, form_->CoolTabSheet1, u"по адресу"},
      {form_->CoolBtn4, form_->CoolTabSheet1, u"Выход"},
      {form_->CoolBtn6, form_->CoolTabSheet2, u"по номеру"},
      {form_->CoolBtn7, form_->CoolTabSheet2, u"по адресу"},
      {form_->CoolBtn8, form_->CoolTabSheet2, u"Выход"},
      {form_->CoolBtn9, form_->CoolTabSheet3, u"по номеру"},
      {form_->CoolBtn10, form_->CoolTabSheet3, u"по наименованию"},
      {form_->CoolBtn11, form_->CoolTabSheet3, u"Выход"},
      {form_->CoolLabel1, form_->CoolTabSheet1, u"Поиск по номеру "},
      {form_->CoolLabel2, form_->CoolTabSheet2, u"Поиск по номеру "},
      {form_->CoolLabel3, form_->CoolTabSheet3, u"Поиск по номеру "},
      {form_->CoolEdit1, form_->CoolTabSheet1, nullptr},
      {form_->CoolEdit2, form_->CoolTabSheet2, nullptr},
      {form_->CoolEdit3, form_->CoolTabSheet3, nullptr},
      {form_->RxDBGrid1, form_->CoolTabSheet1, nullptr},
      {form_->RxDBGrid2, form_->CoolTabSheet2, nullptr},
      {form_->RxDBGrid3, form_->CoolTabSheet3, nullptr},
  };
  for (const Child& c : children) {
    const std::string name = c.widget->objectName().toStdString();
    EXPECT_EQ(c.widget->parentWidget(), c.page) << name;
    if (!c.caption) continue;
    const auto* button = qobject_cast<TCoolBtn*>(c.widget);
    const QString caption = button ? button->Caption() : qobject_cast<TCoolLabel*>(c.widget)->Caption();
    EXPECT_EQ(caption, QString::fromUtf16(c.caption)) << name;
  }
  // Each page has the one bevel that frames its grid.
  for (QWidget* page : {form_->CoolTabSheet1, form_->CoolTabSheet2, form_->CoolTabSheet3})
    EXPECT_EQ(page->findChildren<TCoolBevel*>().size(), 1);
}

// Each grid shows its columns while its page is on show, and only that
// grid holds the model: a grid's view keeps a few bytes for every row of
// its model, which on the city page of a large directory would be paid
// three times over.
TEST_F(MainWindowTest, GridsShowExactlyTheirColumnsAndOnlyThePageOnShowHoldsTheModel) {
  auto model = DirectoryModel();
  form_->SetGridModel(model.get());
  TRxDBGrid* const grids[] = {form_->RxDBGrid1, form_->RxDBGrid2, form_->RxDBGrid3};
  const auto holders = [&] {
    std::vector<int> pages;
    for (int page = 0; page < 3; ++page)
      if (grids[page]->model() != nullptr) pages.push_back(page);
    return pages;
  };
  EXPECT_EQ(holders(), std::vector<int>{0});
  // Pages chosen from code, back and forth, and by the user's click.
  TCoolPageControl* pages = form_->CoolPageControl1;
  const std::pair<int, bool> steps[] = {{2, false}, {1, true}, {0, false}, {2, true}};
  for (const auto& [page, click] : steps) {
    if (click) {
      QTest::mouseClick(pages, Qt::LeftButton, {}, pages->TabRect(page).center());
    } else {
      pages->SetActivePageIndex(page);
    }
    ASSERT_EQ(pages->ActivePageIndex(), page);
    EXPECT_EQ(holders(), std::vector<int>{page}) << "page " << page;
    EXPECT_EQ(grids[page]->model(), model.get());
    EXPECT_EQ(grids[page]->model()->rowCount(), 3);
    EXPECT_TRUE(grids[page]->isColumnHidden(3)) << "page " << page;
    if (page == 1) {
      EXPECT_EQ(grids[page]->ShownFieldNames(), (QStringList{QStringLiteral("NUM"), QStringLiteral("ADR")}));
      EXPECT_EQ(grids[page]->columnWidth(0), 70);
      EXPECT_EQ(grids[page]->columnWidth(2), 385);
      EXPECT_TRUE(grids[page]->isColumnHidden(1)) << "the payphone page never shows FIO";
    } else {
      EXPECT_EQ(grids[page]->ShownFieldNames(),
                (QStringList{QStringLiteral("NUM"), QStringLiteral("FIO"), QStringLiteral("ADR")}));
      EXPECT_EQ(grids[page]->columnWidth(1), 200);
      EXPECT_EQ(grids[page]->columnWidth(2), 200);
      EXPECT_GT(grids[page]->columnWidth(0), 40);
    }
    EXPECT_EQ(grids[page]->currentIndex().row(), 0) << "the first row is current on page " << page;
  }
  // A page control the window is not showing yet hands the model over too.
  form_->hide();
  pages->SetActivePageIndex(1);
  EXPECT_EQ(holders(), std::vector<int>{1});
  form_->SetGridModel(nullptr);
  EXPECT_TRUE(holders().empty());
}

TEST_F(MainWindowTest, TabsDrawTheirOwnCaptionsBoldBlackAndCentred) {
  const QRect rect(0, 0, 140, 22);
  const char16_t* expected[] = {u" Город ", u" Таксофон ", u" Предприятия ", u" ... "};
  for (int index = 0; index < 4; ++index) {
    QImage drawn(rect.size(), QImage::Format_RGB32);
    drawn.fill(Qt::white);
    {
      QPainter canvas(&drawn);
      canvas.setFont(form_->CoolPageControl1->font());
      canvas.setPen(Qt::red);
      QFont italic = canvas.font();
      italic.setItalic(true);
      canvas.setFont(italic);
      form_->DrawTabCaption(canvas, index, rect, index == 0);
    }
    QImage reference(rect.size(), QImage::Format_RGB32);
    reference.fill(Qt::white);
    {
      QPainter canvas(&reference);
      QFont bold = form_->CoolPageControl1->font();
      bold.setBold(true);
      canvas.setFont(bold);
      canvas.setPen(Qt::black);
      canvas.drawText(rect, Qt::AlignCenter, QString::fromUtf16(expected[index]));
    }
    EXPECT_EQ(drawn, reference) << index;
  }
  // The window's tabs show these texts, not the stored captions: the ink
  // of tab 0 keeps its extent whatever its page's caption says (pixels may
  // differ a little, as the text lands on another subpixel position).
  EXPECT_TRUE(form_->CoolPageControl1->OwnerDraw());
  TCoolPageControl* pages = form_->CoolPageControl1;
  const QImage before = InkOf(pages->grab(pages->TabRect(0)).toImage());
  form_->CoolTabSheet1->SetCaption(QStringLiteral(u"  Село  "));
  const QImage after = InkOf(pages->grab(pages->TabRect(0)).toImage());
  form_->CoolTabSheet1->SetCaption(QStringLiteral(u"  Город  "));
  ASSERT_FALSE(before.isNull());
  EXPECT_LE(std::abs(before.width() - after.width()), 1);
  EXPECT_LE(std::abs(before.height() - after.height()), 1);
  EXPECT_GT(before.width(), QFontMetrics(pages->font()).horizontalAdvance(QStringLiteral(u"Город")) - 4);
}

TEST_F(MainWindowTest, StatusLineFollowsTheMouse) {
  struct Row {
    QWidget* control;
    const char16_t* enter;
    const char16_t* leave;
  };
  const Row rows[] = {
      {form_->CoolBtn1, u" Поиск по номеру телефона", u""},
      {form_->CoolBtn2, u" Поиск по номеру фамилии", u" "},
      {form_->CoolBtn3, u" Поиск по номеру адресу", u" "},
      {form_->CoolBtn4, u" Выход из программы", u" "},
      {form_->CoolBtn8, u" Выход из программы", u" "},
      {form_->CoolBtn11, u" Выход из программы", u" "},
      {form_->CoolBtn6, u" Сортировать по номеру телефона", u" "},
      {form_->CoolBtn9, u" Сортировать по номеру телефона", u" "},
      {form_->CoolBtn7, u" Сортировать по адресу телефона", u" "},
      {form_->CoolBtn10, u" Сортировать по наименованию", u" "},
      {form_->CoolEdit1, u" Строка поиска", u" "},
      {form_->CoolEdit2, u" Строка поиска", u" "},
      {form_->CoolEdit3, u" Строка поиска", u" "},
  };
  for (const Row& row : rows) {
    const std::string name = row.control->objectName().toStdString();
    SendEnter(row.control);
    EXPECT_EQ(form_->CoolPanelBottom->Caption(), QString::fromUtf16(row.enter)) << name;
    SendLeave(row.control);
    EXPECT_EQ(form_->CoolPanelBottom->Caption(), QString::fromUtf16(row.leave)) << name;
  }
  // Leaving CoolBtn1 leaves an empty text, not a blank.
  SendEnter(form_->CoolBtn1);
  SendLeave(form_->CoolBtn1);
  EXPECT_TRUE(form_->CoolPanelBottom->Caption().isEmpty());
  // Nothing else reacts to the mouse.
  SendEnter(form_->RxDBGrid1);
  SendEnter(form_->CoolLabel1);
  SendEnter(form_->CoolPanel4);
  EXPECT_TRUE(form_->CoolPanelBottom->Caption().isEmpty());
}

TEST_F(MainWindowTest, ShowingSelectsTheCityPageInNumberMode) {
  TfrmMain fresh;
  EXPECT_EQ(fresh.CoolPageControl1->ActivePageIndex(), 2) << "stored with the third page active";
  fresh.CitySearchMode = 3;
  fresh.PayphoneSearchMode = 2;
  fresh.EnterpriseSearchMode = 2;
  fresh.show();
  EXPECT_EQ(fresh.CoolPageControl1->ActivePageIndex(), 0);
  EXPECT_EQ(fresh.CitySearchMode, 1);
  EXPECT_EQ(fresh.PayphoneSearchMode, 1);
  EXPECT_EQ(fresh.EnterpriseSearchMode, 1);
  fresh.activateWindow();
  EXPECT_EQ(fresh.focusWidget(), fresh.RxDBGrid1);
}

TEST_F(MainWindowTest, CaptionButtonsDoNothingMinimiseAndClose) {
  form_->SetStatus(QStringLiteral("x"));
  form_->CoolPageControl1->SetActivePageIndex(1);
  const QPoint position = form_->pos();
  QTest::mouseClick(form_->CoolCaptionBtn1, Qt::LeftButton);  // help
  EXPECT_TRUE(form_->isVisible());
  EXPECT_FALSE(form_->isMinimized());
  EXPECT_EQ(form_->pos(), position);
  EXPECT_EQ(form_->CoolPanelBottom->Caption(), QStringLiteral("x"));
  EXPECT_EQ(form_->CoolPageControl1->ActivePageIndex(), 1);
  QTest::mouseClick(form_->CoolCaptionBtn2, Qt::LeftButton);
  EXPECT_TRUE(form_->isMinimized());
  EXPECT_TRUE(form_->isVisible());
  QTest::mouseClick(form_->CoolCaptionBtn3, Qt::LeftButton);
  EXPECT_FALSE(form_->isVisible());
}

TEST_F(MainWindowTest, ExitButtonOfEveryPageClosesTheWindow) {
  for (int page = 0; page < 3; ++page) {
    TfrmMain window;
    window.show();
    window.CoolPageControl1->SetActivePageIndex(page);
    TCoolBtn* exit = page == 0 ? window.CoolBtn4 : page == 1 ? window.CoolBtn8 : window.CoolBtn11;
    ASSERT_TRUE(exit->isVisible());
    QTest::mouseClick(exit, Qt::LeftButton);
    EXPECT_FALSE(window.isVisible()) << page;
  }
}

TEST_F(MainWindowTest, CaptionBarDragsWithLeftOrMiddleButtonButNotRight) {
  TCoolPanel* bar = form_->CoolPanel4;
  for (Qt::MouseButton button : {Qt::LeftButton, Qt::MiddleButton}) {
    const QPoint start = form_->pos();
    QTest::mousePress(bar, button, {}, QPoint(50, 10));
    QTest::mouseMove(bar, QPoint(80, 15));
    QTest::mouseRelease(bar, button, {}, QPoint(80, 15));
    EXPECT_EQ(form_->pos(), start + QPoint(30, 5)) << button;
    // After the release the window stays put.
    QTest::mouseMove(bar, QPoint(10, 10));
    EXPECT_EQ(form_->pos(), start + QPoint(30, 5)) << button;
  }
  const QPoint start = form_->pos();
  QTest::mousePress(bar, Qt::RightButton, {}, QPoint(50, 10));
  QTest::mouseMove(bar, QPoint(90, 20));
  QTest::mouseRelease(bar, Qt::RightButton, {}, QPoint(90, 20));
  EXPECT_EQ(form_->pos(), start);
}
