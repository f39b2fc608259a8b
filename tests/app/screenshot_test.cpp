// Writes pictures of the main window and the splash into the build folder
// (screenshots/), for a look at the painting; checks that they are not
// blank.
#include <QImage>
#include <QProgressBar>
#include <QStandardItemModel>

#include <gtest/gtest.h>

#include <set>

#include "app/UnitLogo.h"
#include "app/UnitMain.h"
#include "app_input.h"
#include "ui/coolbtn.h"
#include "ui/cooledit.h"
#include "ui/coolpagecontrol.h"
#include "ui/rxdbgrid.h"

namespace {

int DistinctColours(const QImage& image) {
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); y += 2) {
    for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
  }
  return static_cast<int>(colours.size());
}

std::unique_ptr<QStandardItemModel> SampleDirectory() {
  const char16_t* rows[][3] = {
      {u"2100345", u"АБРАМОВ ПЕТР СЕРГЕЕВИЧ", u"УЛ. ЛЕНИНА 12-4"},
      {u"2113478", u"БЕЛОВА АННА ИВАНОВНА", u"ПР. МИРА 7-15"},
      {u"2125590", u"ВАСИЛЬЕВ ОЛЕГ НИКОЛАЕВИЧ", u"УЛ. САДОВАЯ 3-1"},
      {u"2231104", u"ГРИГОРЬЕВА ЕЛЕНА ПАВЛОВНА", u"УЛ. ГАГАРИНА 45-10"},
      {u"2238812", u"ДМИТРИЕВ СЕРГЕЙ АНДРЕЕВИЧ", u"УЛ. ШКОЛЬНАЯ 2"},
      {u"2340077", u"ЕГОРОВ ИВАН ФЕДОРОВИЧ", u"УЛ. МОЛОДЕЖНАЯ 18-33"},
      {u"2345120", u"ЖУКОВА МАРИНА ОЛЕГОВНА", u"ПЕР. ЗЕЛЕНЫЙ 5"},
      {u"2451236", u"ЗАЙЦЕВ АЛЕКСЕЙ ЮРЬЕВИЧ", u"УЛ. ПОЧТОВАЯ 21-7"},
      {u"2467890", u"ИВАНОВ ИВАН ИВАНОВИЧ", u"УЛ. ЛЕНИНА 30-2"},
      {u"2512347", u"КОЗЛОВ ДЕНИС ВИКТОРОВИЧ", u"УЛ. НАБЕРЕЖНАЯ 9"},
      {u"2534561", u"ЛЕБЕДЕВА ОЛЬГА СЕРГЕЕВНА", u"ПР. СТРОИТЕЛЕЙ 14-56"},
      {u"2601928", u"МОРОЗОВ ПАВЕЛ ГЕННАДЬЕВИЧ", u"УЛ. ЛЕСНАЯ 1-1"},
      {u"2623419", u"НИКИТИНА ТАТЬЯНА ВЛАДИМИРОВНА", u"УЛ. ЦЕНТРАЛЬНАЯ 8"},
      {u"2701345", u"ОРЛОВ ВИКТОР АНАТОЛЬЕВИЧ", u"УЛ. СОВЕТСКАЯ 27-3"},
      {u"2765432", u"ПАВЛОВА ИРИНА МИХАЙЛОВНА", u"УЛ. ВОКЗАЛЬНАЯ 40"},
  };
  auto model = std::make_unique<QStandardItemModel>(0, 4);
  model->setHorizontalHeaderLabels({QStringLiteral("NUM"), QStringLiteral("FIO"), QStringLiteral("ADR"),
                                    QStringLiteral("TIP")});
  model->setHeaderData(0, Qt::Horizontal, 7, TRxDBGrid::kDisplayWidthRole);
  for (const auto& row : rows) {
    QList<QStandardItem*> items;
    for (const char16_t* text : row) items << new QStandardItem(QString::fromUtf16(text));
    items << new QStandardItem(QStringLiteral("1"));
    model->appendRow(items);
  }
  return model;
}

}  // namespace

TEST(Screenshots, MainWindowPagesAndSplash) {
  auto model = SampleDirectory();
  TfrmMain form;
  form.SetGridModel(model.get());
  form.show();
  form.RxDBGrid1->selectRow(2);
  form.CoolEdit1->setText(QStringLiteral(u"21"));
  form.SetStatus(QStringLiteral(u" Поиск по номеру телефона"));
  const QImage city = form.grab().toImage();
  ASSERT_EQ(city.size(), QSize(504, 421));
  EXPECT_GT(DistinctColours(city), 30);
  EXPECT_TRUE(city.save(ScreenshotPath("main_city.png")));

  form.CoolPageControl1->SetActivePageIndex(1);
  form.RxDBGrid2->selectRow(0);
  EXPECT_TRUE(form.grab().toImage().save(ScreenshotPath("main_payphone.png")));
  form.CoolPageControl1->SetActivePageIndex(2);
  form.CoolBtn10->setDown(true);
  EXPECT_TRUE(form.grab().toImage().save(ScreenshotPath("main_enterprise.png")));

  TfrmLogo splash;
  splash.ProgressBar1->setValue(3);
  const QImage logo = splash.grab().toImage();
  ASSERT_EQ(logo.size(), QSize(251, 147));
  EXPECT_GT(DistinctColours(logo), 10);
  EXPECT_TRUE(logo.save(ScreenshotPath("splash.png")));
}
