// Search modes and incremental search: what the buttons, the page change
// and the search boxes ask of the table.
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST_F(SearchTest, NumberModeNarrowsByPrefixFilledToSixCharacters) {
  TypeText(form_.CoolEdit1, QStringLiteral("2"));
  EXPECT_EQ(Taken(), (Calls{"SetRange(,)", "SetRange(200000,299999)"}));
  TypeText(form_.CoolEdit1, QStringLiteral("3"));
  EXPECT_EQ(Taken(), (Calls{"SetRange(,)", "SetRange(230000,239999)"}));
  TypeText(form_.CoolEdit1, QStringLiteral("4"));
  EXPECT_EQ(Taken(), (Calls{"SetRange(,)", "SetRange(234000,234999)"}));
  TypeText(form_.CoolEdit1, QStringLiteral("567"));
  EXPECT_EQ(Taken(), (Calls{"SetRange(,)", "SetRange(234500,234599)", "SetRange(,)", "SetRange(234560,234569)",
                            "SetRange(,)", "SetRange(234567,234567)"}));
  // A seventh character removes the range: the whole category shows.
  TypeText(form_.CoolEdit1, QStringLiteral("8"));
  EXPECT_EQ(Taken(), (Calls{"SetRange(,)"}));
  // Deleting back to nothing leaves no range.
  form_.CoolEdit1->setText(QStringLiteral("2"));
  Taken();
  QTest::keyClick(form_.CoolEdit1, Qt::Key_Backspace);
  EXPECT_EQ(Taken(), (Calls{"SetRange(,)"}));
}

TEST_F(SearchTest, LetterInNumberModeBuildsNumberStyleBounds) {
  TypeText(form_.CoolEdit1, QStringLiteral("a"));
  EXPECT_EQ(Taken(), (Calls{"SetRange(,)", "SetRange(A00000,A99999)"}));
}

TEST_F(SearchTest, SurnameButtonClearsTheBoxAndOpensItsOrder) {
  TypeText(form_.CoolEdit1, QStringLiteral("23"));
  Taken();
  QTest::mouseClick(form_.CoolBtn2, Qt::LeftButton);
  EXPECT_EQ(form_.CoolLabel1->Caption(), QStringLiteral(u"Поиск по фамилии"));
  EXPECT_TRUE(form_.CoolEdit1->text().isEmpty());
  EXPECT_EQ(form_.CitySearchMode, 2);
  EXPECT_EQ(Taken(), (Calls{"SetRange(,)", "OpenIndexes(,)", "OpenIndexes(TELF.CDX,TELF)", "MoveFirst"}));
  TypeText(form_.CoolEdit1, QStringLiteral(u"ив"));
  EXPECT_EQ(Taken(), (Calls{"SetRange(,)", "SetRange(И,ИЯЯ)", "SetRange(,)", "SetRange(ИВ,ИВЯЯ)"}));

  // With the box already empty, a button changes no range.
  form_.CoolEdit1->clear();
  Taken();
  QTest::mouseClick(form_.CoolBtn3, Qt::LeftButton);
  EXPECT_EQ(Taken(), (Calls{"OpenIndexes(,)", "OpenIndexes(TELA.CDX,TELA)", "MoveFirst"}));
  EXPECT_EQ(form_.CoolLabel1->Caption(), QStringLiteral(u"Поиск по адресу"));
  EXPECT_EQ(form_.CitySearchMode, 3);
  TypeText(form_.CoolEdit1, QStringLiteral(u"л"));
  EXPECT_EQ(Taken(), (Calls{"SetRange(,)", "SetRange(Л,ЛЯЯ)"}));
  QTest::mouseClick(form_.CoolBtn1, Qt::LeftButton);
  EXPECT_EQ(form_.CoolLabel1->Caption(), QStringLiteral(u"Поиск по номеру"));
  EXPECT_EQ(form_.CitySearchMode, 1);
  EXPECT_EQ(Taken(), (Calls{"SetRange(,)", "OpenIndexes(,)", "OpenIndexes(TELN.CDX,TELN)", "MoveFirst"}));
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
  EXPECT_EQ(Taken(), (Calls{"SetRange(,)", "SetRange(С,СЯЯ)"}));
  TypeText(form_.CoolEdit3, QStringLiteral("5"));
  EXPECT_EQ(Taken(), (Calls{"SetRange(,)", "SetRange(500000,599999)"}));
}

TEST_F(SearchTest, PageChangeOpensTheNumberOrderAndKeepsModeLabelAndBox) {
  QTest::mouseClick(form_.CoolBtn2, Qt::LeftButton);
  TypeText(form_.CoolEdit1, QStringLiteral(u"п"));
  Taken();
  TCoolPageControl* pages = form_.CoolPageControl1;
  QTest::mouseClick(pages, Qt::LeftButton, {}, pages->TabRect(1).center());
  EXPECT_EQ(Taken(), (Calls{"OpenIndexes(,)", "OpenIndexes(TAXN.CDX,TAXN)"}));
  QTest::mouseClick(pages, Qt::LeftButton, {}, pages->TabRect(2).center());
  EXPECT_EQ(Taken(), (Calls{"OpenIndexes(,)", "OpenIndexes(PREDN.CDX,PREDN)"}));
  QTest::mouseClick(pages, Qt::LeftButton, {}, pages->TabRect(0).center());
  EXPECT_EQ(Taken(), (Calls{"OpenIndexes(,)", "OpenIndexes(TELN.CDX,TELN)"}));
  // Back on the city page: the number order, but the label, the box and
  // the mode are as they were, so the box is still read as a surname.
  EXPECT_EQ(form_.CoolLabel1->Caption(), QStringLiteral(u"Поиск по фамилии"));
  EXPECT_EQ(form_.CoolEdit1->text(), QStringLiteral(u"П"));
  EXPECT_EQ(form_.CitySearchMode, 2);
  TypeText(form_.CoolEdit1, QStringLiteral(u"е"));
  EXPECT_EQ(Taken(), (Calls{"SetRange(,)", "SetRange(ПЕ,ПЕЯЯ)"}));
  // Selecting a page from code is no user's page change.
  pages->SetActivePageIndex(1);
  EXPECT_TRUE(Taken().empty());
}
