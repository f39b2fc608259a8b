// Search modes and incremental search: what the buttons, the page change
// and the search boxes ask of the table.
#include <QTest>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "app/UnitLogo.h"
#include "app/UnitMain.h"
#include "app_environment.h"
#include "app_input.h"
#include "recording_dm.h"
#include "ui/coolbtn.h"
#include "ui/cooledit.h"
#include "ui/coollabel.h"
#include "ui/coolpagecontrol.h"

namespace {

using Calls = std::vector<std::string>;

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ReportedErrors().clear();
    form_.SetDataModule(&dm_);
    form_.show();
    dm_.calls.clear();
  }
  void TearDown() override { EXPECT_TRUE(ReportedErrors().isEmpty()); }

  // The calls made since the last look.
  Calls Taken() {
    Calls taken;
    taken.swap(dm_.calls);
    return taken;
  }

  RecordingDM dm_;
  TfrmMain form_;
};

}  // namespace

TEST_F(SearchTest, ShowingOpensTheCityNumberOrderAtItsFirstRecord) {
  TfrmMain fresh;
  RecordingDM dm;
  fresh.SetDataModule(&dm);
  fresh.show();
  EXPECT_EQ(dm.calls, (Calls{"OpenIndexes(,)", "OpenIndexes(TELN.CDX,TELN)", "MoveFirst"}));
}

TEST_F(SearchTest, EveryBoxChangeNarrowsToItsTextAsAPrefixInOneStep) {
  // Numbers of any length: the typed digits are the prefix; more than
  // NUM's seven characters are passed on too and match nothing.
  TypeText(form_.CoolEdit1, QStringLiteral("2"));
  EXPECT_EQ(Taken(), (Calls{"SetKeyPrefix(2)"}));
  TypeText(form_.CoolEdit1, QStringLiteral("345678"));
  EXPECT_EQ(Taken(), (Calls{"SetKeyPrefix(23)", "SetKeyPrefix(234)", "SetKeyPrefix(2345)", "SetKeyPrefix(23456)",
                            "SetKeyPrefix(234567)", "SetKeyPrefix(2345678)"}));
  TypeText(form_.CoolEdit1, QStringLiteral("9"));
  EXPECT_EQ(Taken(), (Calls{"SetKeyPrefix(23456789)"}));
  form_.CoolEdit1->setText(QStringLiteral("2"));
  Taken();
  QTest::keyClick(form_.CoolEdit1, Qt::Key_Backspace);
  EXPECT_EQ(Taken(), (Calls{"SetKeyPrefix()"}));
  // A letter in number mode is a prefix like any other (no number has it).
  TypeText(form_.CoolEdit1, QStringLiteral("a"));
  EXPECT_EQ(Taken(), (Calls{"SetKeyPrefix(A)"}));
}

TEST_F(SearchTest, SurnameButtonClearsTheBoxAndOpensItsOrder) {
  TypeText(form_.CoolEdit1, QStringLiteral("23"));
  Taken();
  QTest::mouseClick(form_.CoolBtn2, Qt::LeftButton);
  EXPECT_EQ(form_.CoolLabel1->Caption(), QStringLiteral(u"Поиск по фамилии"));
  EXPECT_TRUE(form_.CoolEdit1->text().isEmpty());
  EXPECT_EQ(form_.CitySearchMode, 2);
  // The emptied box searches nothing of its own on the old order.
  EXPECT_EQ(Taken(), (Calls{"OpenIndexes(,)", "OpenIndexes(TELF.CDX,TELF)", "MoveFirst"}));
  // Text keys take no ceiling: Ё and № sort after Я in code page 866.
  TypeText(form_.CoolEdit1, QStringLiteral(u"сё"));
  EXPECT_EQ(Taken(), (Calls{"SetKeyPrefix(С)", "SetKeyPrefix(СЁ)"}));

  QTest::mouseClick(form_.CoolBtn3, Qt::LeftButton);
  EXPECT_EQ(Taken(), (Calls{"OpenIndexes(,)", "OpenIndexes(TELA.CDX,TELA)", "MoveFirst"}));
  EXPECT_EQ(form_.CoolLabel1->Caption(), QStringLiteral(u"Поиск по адресу"));
  EXPECT_EQ(form_.CitySearchMode, 3);
  QTest::mouseClick(form_.CoolBtn1, Qt::LeftButton);
  EXPECT_EQ(form_.CoolLabel1->Caption(), QStringLiteral(u"Поиск по номеру"));
  EXPECT_EQ(form_.CitySearchMode, 1);
  EXPECT_EQ(Taken(), (Calls{"OpenIndexes(,)", "OpenIndexes(TELN.CDX,TELN)", "MoveFirst"}));
}

TEST_F(SearchTest, PayphoneAndEnterpriseButtonsUseTheirOwnIndexes) {
  struct Case {
    TCoolBtn* button;
    TCoolLabel* label;
    const char16_t* labelText;
    const char* index;
    int* mode;
    int expectedMode;
  };
  const Case cases[] = {
      {form_.CoolBtn7, form_.CoolLabel2, u"Поиск по адресу", "OpenIndexes(TAXA.CDX,TAXA)", &form_.PayphoneSearchMode, 2},
      {form_.CoolBtn6, form_.CoolLabel2, u"Поиск по номеру", "OpenIndexes(TAXN.CDX,TAXN)", &form_.PayphoneSearchMode, 1},
      {form_.CoolBtn10, form_.CoolLabel3, u"Поиск по наименованию", "OpenIndexes(PREDF.CDX,PREDF)",
       &form_.EnterpriseSearchMode, 2},
      {form_.CoolBtn9, form_.CoolLabel3, u"Поиск по номеру", "OpenIndexes(PREDN.CDX,PREDN)",
       &form_.EnterpriseSearchMode, 1},
  };
  for (const Case& c : cases) {
    c.button->click();
    EXPECT_EQ(c.label->Caption(), QString::fromUtf16(c.labelText));
    EXPECT_EQ(Taken(), (Calls{"OpenIndexes(,)", c.index, "MoveFirst"}));
    EXPECT_EQ(*c.mode, c.expectedMode);
  }
  form_.CoolBtn7->click();
  Taken();
  TypeText(form_.CoolEdit2, QStringLiteral(u"с"));
  EXPECT_EQ(Taken(), (Calls{"SetKeyPrefix(С)"}));
  TypeText(form_.CoolEdit3, QStringLiteral("5"));
  EXPECT_EQ(Taken(), (Calls{"SetKeyPrefix(5)"}));
}

TEST_F(SearchTest, PageChangeReopensThePagesModeAndReappliesItsBox) {
  QTest::mouseClick(form_.CoolBtn2, Qt::LeftButton);
  TypeText(form_.CoolEdit1, QStringLiteral(u"п"));
  Taken();
  TCoolPageControl* pages = form_.CoolPageControl1;
  QTest::mouseClick(pages, Qt::LeftButton, {}, pages->TabRect(1).center());
  EXPECT_EQ(Taken(), (Calls{"OpenIndexes(,)", "OpenIndexes(TAXN.CDX,TAXN)", "MoveFirst"}));
  QTest::mouseClick(pages, Qt::LeftButton, {}, pages->TabRect(2).center());
  EXPECT_EQ(Taken(), (Calls{"OpenIndexes(,)", "OpenIndexes(PREDN.CDX,PREDN)", "MoveFirst"}));
  QTest::mouseClick(pages, Qt::LeftButton, {}, pages->TabRect(0).center());
  // Back on the city page: the surname order narrowed by the box, as the
  // label says.
  EXPECT_EQ(Taken(), (Calls{"OpenIndexes(,)", "OpenIndexes(TELF.CDX,TELF)", "SetKeyPrefix(П)"}));
  EXPECT_EQ(form_.CoolLabel1->Caption(), QStringLiteral(u"Поиск по фамилии"));
  EXPECT_EQ(form_.CoolEdit1->text(), QStringLiteral(u"П"));
  EXPECT_EQ(form_.CitySearchMode, 2);
  QTest::keyClick(form_.CoolEdit1, Qt::Key_Backspace);
  EXPECT_EQ(Taken(), (Calls{"SetKeyPrefix()"}));
  // Selecting a page from code is no user's page change.
  pages->SetActivePageIndex(1);
  EXPECT_TRUE(Taken().empty());
}

TEST_F(SearchTest, APageWhoseIndexIsUnusableListsItsCategoryByFilter) {
  TfrmMain form;
  TfrmLogo splash;
  RecordingDM dm;
  // TELF.CDX cannot be built here: IndexOn fails for it.
  dm.onIndexOn = [&] {
    if (dm.calls.back().rfind("IndexOn(TELF.CDX", 0) == 0) throw std::runtime_error("File TELF.CDX could not be found");
  };
  form.SetDataModule(&dm);
  form.SetLogo(&splash);
  splash.SetDataModule(&dm);
  form.show();  // returns when the splash has closed
  ASSERT_EQ(ReportedErrors().size(), 1);
  ReportedErrors().clear();
  dm.calls.clear();
  QTest::mouseClick(form.CoolBtn2, Qt::LeftButton);
  TypeText(form.CoolEdit1, QStringLiteral(u"ив"));
  EXPECT_EQ(dm.calls, (Calls{"OpenIndexes(,)", "SetCategoryFilter(1,FIO,)", "SetCategoryFilter(1,FIO,И)",
                             "SetCategoryFilter(1,FIO,ИВ)"}));
  dm.calls.clear();
  QTest::mouseClick(form.CoolBtn1, Qt::LeftButton);
  EXPECT_EQ(dm.calls, (Calls{"OpenIndexes(,)", "SetCategoryFilter(0,,)", "OpenIndexes(TELN.CDX,TELN)", "MoveFirst"}));
}
