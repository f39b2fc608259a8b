// The viewer over a real directory table: the data module opens a generated
// PHONE.DBF from the working directory, the splash builds the seven index
// files, and the rows the grids show after typing, clicking search buttons
// and switching pages are checked against a brute-force scan of the table.
#include <QDir>
#include <QFontMetrics>
#include <QImage>
#include <QProgressBar>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/UnitDM.h"
#include "app/UnitLogo.h"
#include "app/UnitMain.h"
#include "app_environment.h"
#include "app_input.h"
#include "platform/codepage.h"
#include "support/temp_dir.h"
#include "tools/mkphone/phonegen.h"
#include "ui/coolbtn.h"
#include "ui/cooledit.h"
#include "ui/coollabel.h"
#include "ui/coolpagecontrol.h"
#include "ui/dbgridmodel.h"
#include "ui/rxdbgrid.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kRecords = 3000;
constexpr uint64_t kSeed = 20021;

// One record of PHONE.DBF as stored (texts in code page 866).
struct StoredRecord {
  std::string num, fio, adr;
  int tip = 0;
  bool deleted = false;
};

std::string RightTrimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// Reads every record of the table straight from the file.
std::vector<StoredRecord> ScanTable(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto u8 = [&](size_t at) { return static_cast<uint8_t>(bytes.at(at)); };
  const uint32_t count = u8(4) | (u8(5) << 8) | (u8(6) << 16) | (static_cast<uint32_t>(u8(7)) << 24);
  const size_t headerLength = u8(8) | (u8(9) << 8);
  const size_t recordLength = u8(10) | (u8(11) << 8);
  std::vector<StoredRecord> records;
  for (uint32_t i = 0; i < count; ++i) {
    const std::string image = bytes.substr(headerLength + i * recordLength, recordLength);
    StoredRecord r;
    r.deleted = image[0] == '*';
    r.num = image.substr(1, 7);
    r.fio = image.substr(8, 35);
    r.adr = image.substr(43, 35);
    r.tip = image[78] - '0';
    records.push_back(r);
  }
  return records;
}

std::string Oem(const QString& text) { return platform::FromUtf8(text.toStdString(), platform::CodePage::Cp866); }

// What a search box narrows to: the keys that begin with `prefix` (OEM
// bytes, trailing blanks dropped as the index compares keys); empty: all.
struct KeyRange {
  std::string prefix;
};

KeyRange Typed(const QString& typed) {
  std::string prefix = Oem(typed);
  while (!prefix.empty() && prefix.back() == ' ') prefix.pop_back();
  return {prefix};
}

// The rows of a category in the order of `keyField` ("NUM", "FIO" or
// "ADR") whose key begins with the range's prefix, found by looking at
// every record: deleted records left out, keys compared as unsigned bytes
// without trailing blanks, duplicate keys in record order (`sorted` false:
// all of them in record order). Each row is the grid's fields joined by
// '|', in UTF-8.
std::vector<std::string> ExpectedRows(const std::vector<StoredRecord>& table, int tip, const std::string& keyField,
                                      const KeyRange& range, const QStringList& fields, bool sorted = true) {
  const auto keyOf = [&](const StoredRecord& r) {
    return keyField == "NUM" ? r.num : keyField == "FIO" ? r.fio : r.adr;
  };
  const auto unsignedLess = [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return static_cast<uint8_t>(x) < static_cast<uint8_t>(y);
    });
  };
  std::vector<const StoredRecord*> chosen;
  for (const StoredRecord& r : table) {
    if (r.deleted || r.tip != tip) continue;
    const std::string key = RightTrimmed(keyOf(r));
    if (key.compare(0, range.prefix.size(), range.prefix) != 0) continue;
    chosen.push_back(&r);
  }
  if (sorted) {
    std::stable_sort(chosen.begin(), chosen.end(), [&](const StoredRecord* a, const StoredRecord* b) {
      return unsignedLess(RightTrimmed(keyOf(*a)), RightTrimmed(keyOf(*b)));
    });
  }
  std::vector<std::string> rows;
  for (const StoredRecord* r : chosen) {
    std::string row;
    for (const QString& field : fields) {
      const std::string& value = field == QLatin1String("NUM") ? r->num : field == QLatin1String("FIO") ? r->fio : r->adr;
      if (!row.empty()) row += '|';
      row += RightTrimmed(platform::ToUtf8(value, platform::CodePage::Cp866));
    }
    rows.push_back(row);
  }
  return rows;
}

// Overwrites a text field of record `index` (from 0) in the table file
// with `utf8`, stored in code page 866 and padded with blanks.
void StoreText(const std::string& path, size_t index, size_t offset, size_t width, const QString& utf8) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  char head[12];
  file.read(head, sizeof head);
  const size_t headerLength = static_cast<uint8_t>(head[8]) | (static_cast<uint8_t>(head[9]) << 8);
  const size_t recordLength = static_cast<uint8_t>(head[10]) | (static_cast<uint8_t>(head[11]) << 8);
  std::string text = Oem(utf8);
  text.resize(width, ' ');
  file.seekp(static_cast<std::streamoff>(headerLength + index * recordLength + offset));
  file.write(text.data(), static_cast<std::streamsize>(width));
}

// Every row the grid shows (fetching them all), its shown columns joined
// by '|'.
std::vector<std::string> GridRows(TRxDBGrid* grid) {
  QAbstractItemModel* model = grid->model();
  while (model->canFetchMore({})) model->fetchMore({});
  std::vector<std::string> rows;
  const int columns = static_cast<int>(grid->Columns().size());
  for (int r = 0; r < model->rowCount(); ++r) {
    std::string row;
    for (int c = 0; c < columns; ++c) {
      if (c > 0) row += '|';
      row += RightTrimmed(model->data(model->index(r, grid->ModelColumn(c))).toString().toStdString());
    }
    rows.push_back(row);
  }
  return rows;
}

// The viewer as start-up wires it: main window, data module, splash, and
// one grid model over the data module's data source.
struct Viewer {
  Viewer() {
    frmMain = std::make_unique<TfrmMain>();
    DM = std::make_unique<TDM>();
    frmLogo = std::make_unique<TfrmLogo>();
    frmMain->SetDataModule(DM.get());
    frmMain->SetLogo(frmLogo.get());
    frmLogo->SetDataModule(DM.get());
    model = std::make_unique<TDBGridModel>();
    model->SetColumns({"NUM", "FIO", "ADR"});
    model->SetDataSource(DM->dsVemaron.get());
    frmMain->SetGridModel(model.get());
  }
  std::unique_ptr<TfrmMain> frmMain;
  std::unique_ptr<TDM> DM;
  std::unique_ptr<TfrmLogo> frmLogo;
  std::unique_ptr<TDBGridModel> model;
};

// Runs each test in a temporary folder, made the working directory, that
// holds a generated PHONE.DBF.
class DirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ReportedErrors().clear();
    ReportedDetails().clear();
    previous_ = fs::current_path();
    fs::current_path(dir_.Path());
    ASSERT_TRUE(phonegen::WritePhoneDbf("PHONE.DBF", kRecords, kSeed));
    table_ = ScanTable("PHONE.DBF");
  }
  void TearDown() override {
    viewer_.reset();
    fs::current_path(previous_);
    EXPECT_TRUE(ReportedErrors().isEmpty()) << ReportedErrors().join(QLatin1Char('\n')).toStdString();
  }

  // Creates the viewer and shows its main window the way start-up does:
  // the splash comes up modally, checks the index files and closes itself
  // after its timer; then the city page opens in number order.
  void StartWithSplash() {
    viewer_ = std::make_unique<Viewer>();
    viewer_->frmMain->show();  // returns when the splash has closed
  }

  // The same, with the splash's index check run directly instead of
  // waiting for its timer.
  void Start() {
    viewer_ = std::make_unique<Viewer>();
    viewer_->frmLogo->FormActivate();
    viewer_->frmLogo->Timer1->stop();
    viewer_->frmMain->SetLogo(nullptr);
    viewer_->frmMain->show();
  }

  TfrmMain& Form() { return *viewer_->frmMain; }

  // Checks what `grid` shows against the brute-force rows and that the
  // table stands at the first of them.
  // The first row is then the grid's current row, highlighted.
  void ExpectShows(TRxDBGrid* grid, int tip, const std::string& keyField, const KeyRange& range,
                   const char* what, bool sorted = true) {
    SCOPED_TRACE(what);
    const std::vector<std::string> expected =
        ExpectedRows(table_, tip, keyField, range, grid->ShownFieldNames(), sorted);
    const std::vector<std::string> shown = GridRows(grid);
    EXPECT_EQ(shown.size(), expected.size());
    EXPECT_EQ(shown, expected);
    if (!expected.empty()) {
      const std::string current = RightTrimmed(viewer_->DM->tblVemaronNUM->AsString());
      EXPECT_EQ(current, expected.front().substr(0, expected.front().find('|')));
      EXPECT_EQ(grid->currentIndex().row(), 0);
      EXPECT_TRUE(grid->selectionModel()->isRowSelected(0, {}));
    }
  }

  std::map<std::string, fs::file_time_type> IndexTimes() const {
    std::map<std::string, fs::file_time_type> times;
    for (const TIndexStep& step : kIndexSteps) {
      if (fs::exists(step.fileName)) times[step.fileName] = fs::last_write_time(step.fileName);
    }
    return times;
  }

  // The rows of the table in the order of one index file's tag, read
  // through the data module (NUM and TIP of each).
  std::vector<std::string> RowsInOrder(const TIndexStep& step) {
    TDM& dm = *viewer_->DM;
    dm.OpenIndexes({}, {});
    dm.OpenIndexes(step.fileName, step.tagName);
    dm.MoveFirst();
    std::vector<std::string> rows;
    for (; !dm.tblVemaron->Eof(); dm.tblVemaron->Next()) {
      rows.push_back(RightTrimmed(dm.tblVemaronNUM->AsString()) + "|" + dm.tblVemaronTIP->AsString());
    }
    return rows;
  }

  TempDir dir_;
  fs::path previous_;
  std::vector<StoredRecord> table_;
  std::unique_ptr<Viewer> viewer_;
};

const char* KeyFieldOf(const TIndexStep& step) { return step.keyExpression; }

int CategoryOf(const TIndexStep& step) { return std::string(step.forExpression).back() - '0'; }

}  // namespace

TEST_F(DirectoryTest, TheDataModuleOpensTheTableReadOnlyAndShared) {
  TDM dm;
  ASSERT_TRUE(dm.tblVemaron->Active());
  EXPECT_EQ(dm.tblVemaron->TableName(), "PHONE.DBF");
  EXPECT_TRUE(dm.tblVemaron->DatabaseName().empty());
  EXPECT_TRUE(dm.tblVemaron->ReadOnly());
  EXPECT_FALSE(dm.tblVemaron->Exclusive());
  EXPECT_TRUE(dm.tblVemaron->TranslateASCII());
  EXPECT_FALSE(dm.tblVemaron->UseDeleted());
  EXPECT_FALSE(dm.tblVemaron->CanModify());
  EXPECT_TRUE(dm.tblVemaron->IndexFiles().empty());
  EXPECT_TRUE(dm.tblVemaron->IndexName().empty());
  // The persistent fields, in the table's order.
  ASSERT_EQ(dm.tblVemaron->FieldCount(), 4);
  const platform::TField* fields[] = {dm.tblVemaronNUM, dm.tblVemaronFIO, dm.tblVemaronADR, dm.tblVemaronTIP};
  const char* names[] = {"NUM", "FIO", "ADR", "TIP"};
  const int sizes[] = {7, 35, 35, 0};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(dm.tblVemaron->Fields(i), fields[i]) << names[i];
    EXPECT_EQ(fields[i]->FieldName(), names[i]);
    EXPECT_EQ(fields[i]->Size(), sizes[i]) << names[i];
  }
  EXPECT_EQ(dm.tblVemaronTIP->DataType(), platform::ftSmallint);
  EXPECT_EQ(dm.dsVemaron->DataSet(), dm.tblVemaron.get());
  // The first live record, its name shown in the screen's code page.
  const StoredRecord* first = &*std::find_if(table_.begin(), table_.end(), [](const StoredRecord& r) { return !r.deleted; });
  EXPECT_EQ(RightTrimmed(dm.tblVemaronFIO->AsString()),
            RightTrimmed(platform::FromUtf8(platform::ToUtf8(first->fio, platform::CodePage::Cp866),
                                            platform::CodePage::Cp1251)));
}

TEST_F(DirectoryTest, AMissingTableFailsTheDataModuleWithTheDatasetsError) {
  fs::remove("PHONE.DBF");
  try {
    TDM dm;
    ADD_FAILURE() << "the data module was created without its table";
  } catch (const std::exception& error) {
    EXPECT_STREQ(error.what(), "Cannot find file PHONE.DBF");
  }
}

TEST_F(DirectoryTest, SplashWithOnlyTheTableBuildsAllSevenIndexFilesEachHoldingItsCategory) {
  StartWithSplash();
  EXPECT_FALSE(viewer_->frmLogo->isVisible());
  EXPECT_EQ(viewer_->frmLogo->ProgressBar1->value(), 7);
  for (const TIndexStep& step : kIndexSteps) {
    SCOPED_TRACE(step.fileName);
    ASSERT_TRUE(fs::exists(step.fileName));
    std::vector<std::string> expected;
    for (const std::string& row :
         ExpectedRows(table_, CategoryOf(step), KeyFieldOf(step), {}, {QStringLiteral("NUM")})) {
      expected.push_back(row + "|" + std::to_string(CategoryOf(step)));
    }
    EXPECT_FALSE(expected.empty());
    const std::vector<std::string> rows = RowsInOrder(step);
    if (std::string(KeyFieldOf(step)) == "NUM") {
      EXPECT_EQ(rows, expected);
    } else {
      // Text keys: the same records; the order is checked by the scenarios.
      std::vector<std::string> a = rows, b = expected;
      std::sort(a.begin(), a.end());
      std::sort(b.begin(), b.end());
      EXPECT_EQ(a, b);
    }
  }
}

TEST_F(DirectoryTest, SplashRebuildsOnlyTheMissingIndexFiles) {
  Start();
  viewer_.reset();
  auto before = IndexTimes();
  ASSERT_EQ(before.size(), 7u);
  StartWithSplash();
  EXPECT_EQ(IndexTimes(), before) << "all seven present: nothing is built";
  EXPECT_EQ(viewer_->frmLogo->ProgressBar1->value(), 7);
  viewer_.reset();
  ASSERT_TRUE(fs::remove("TAXA.CDX"));
  before.erase("TAXA.CDX");
  StartWithSplash();
  auto after = IndexTimes();
  ASSERT_EQ(after.count("TAXA.CDX"), 1u) << "TAXA.CDX was rebuilt";
  after.erase("TAXA.CDX");
  EXPECT_EQ(after, before);
  const TIndexStep& taxa = kIndexSteps.back();
  ASSERT_STREQ(taxa.fileName, "TAXA.CDX");
  EXPECT_EQ(RowsInOrder(taxa).size(), ExpectedRows(table_, 3, "ADR", {}, {QStringLiteral("NUM")}).size());

  const QImage splash = viewer_->frmLogo->grab().toImage();
  EXPECT_TRUE(splash.save(ScreenshotPath("directory_splash.png")));
}

TEST_F(DirectoryTest, CityNumberSearchNarrowsWithEachDigit) {
  Start();
  TRxDBGrid* grid = Form().RxDBGrid1;
  ExpectShows(grid, 1, "NUM", {}, "at start");
  QSignalSpy resets(viewer_->model.get(), &QAbstractItemModel::modelReset);
  TypeText(Form().CoolEdit1, QStringLiteral("2"));
  EXPECT_GE(resets.count(), 1) << "the range change resets the grid's rows";
  ExpectShows(grid, 1, "NUM", Typed(QStringLiteral("2")), "2");
  EXPECT_FALSE(GridRows(grid).empty());
  TypeText(Form().CoolEdit1, QStringLiteral("3"));
  ExpectShows(grid, 1, "NUM", Typed(QStringLiteral("23")), "23");
  TypeText(Form().CoolEdit1, QStringLiteral("4"));
  ExpectShows(grid, 1, "NUM", Typed(QStringLiteral("234")), "234");
  EXPECT_TRUE(Form().CoolEdit1->text() == QStringLiteral("234"));
  Form().CoolEdit1->selectAll();
  QTest::keyClick(Form().CoolEdit1, Qt::Key_Delete);
  EXPECT_TRUE(Form().CoolEdit1->text().isEmpty());

  // Every length of a number that exists, its sixth digit a 9 (such
  // numbers were missed while the bounds were filled to six characters).
  const std::vector<std::string> city = ExpectedRows(table_, 1, "NUM", {}, {QStringLiteral("NUM")});
  QString number;
  for (size_t i = city.size() / 2; i < city.size() && number.isEmpty(); ++i) {
    if (city[i].size() == 7 && city[i][5] == '9' && city[i][6] != '0') number = QString::fromStdString(city[i]);
  }
  ASSERT_EQ(number.size(), 7);
  for (int digits = 1; digits <= 7; ++digits) {
    const std::string what = std::to_string(digits) + " digits";
    TypeText(Form().CoolEdit1, number.mid(digits - 1, 1));
    ExpectShows(grid, 1, "NUM", Typed(number.left(digits)), what.c_str());
    const std::vector<std::string> shown = GridRows(grid);
    EXPECT_NE(std::find(shown.begin(), shown.end(), ExpectedRows(table_, 1, "NUM", Typed(number), grid->ShownFieldNames()).front()),
              shown.end()) << what;
  }
  EXPECT_EQ(GridRows(grid).size(), 1u) << "seven digits: that number alone";
  TypeText(Form().CoolEdit1, QStringLiteral("0"));
  EXPECT_TRUE(GridRows(grid).empty()) << "more digits than a number has";

  Form().CoolPageControl1->SetActivePageIndex(0);
  EXPECT_TRUE(Form().grab().toImage().save(ScreenshotPath("directory_city_number.png")));
}

// The README's picture (docs/viewer.png is a copy of this one): the City
// page of the generated directory with a number search under way.
TEST_F(DirectoryTest, TheCityPageWithASearchUnderWayIsPictured) {
  Start();
  TypeText(Form().CoolEdit1, QStringLiteral("23"));
  ExpectShows(Form().RxDBGrid1, 1, "NUM", Typed(QStringLiteral("23")), "23");
  ASSERT_FALSE(GridRows(Form().RxDBGrid1).empty());
  EXPECT_TRUE(Form().grab().toImage().save(ScreenshotPath("viewer.png")));
}

TEST_F(DirectoryTest, CitySearchButtonsClearTheBoxAndSearchTheirOrder) {
  Start();
  TRxDBGrid* grid = Form().RxDBGrid1;
  TypeText(Form().CoolEdit1, QStringLiteral("23"));
  ExpectShows(grid, 1, "NUM", Typed(QStringLiteral("23")), "23");
  QSignalSpy resets(viewer_->model.get(), &QAbstractItemModel::modelReset);
  QTest::mouseClick(Form().CoolBtn2, Qt::LeftButton);
  EXPECT_GE(resets.count(), 1) << "the new order resets the grid's rows";
  EXPECT_TRUE(Form().CoolEdit1->text().isEmpty());
  EXPECT_EQ(Form().CitySearchMode, 2);
  ExpectShows(grid, 1, "FIO", {}, "surname order, no range");
  TypeText(Form().CoolEdit1, QStringLiteral(u"И"));
  ExpectShows(grid, 1, "FIO", Typed(QStringLiteral(u"И")), "И");
  TypeText(Form().CoolEdit1, QStringLiteral(u"В"));
  EXPECT_TRUE(Form().CoolEdit1->text() == QStringLiteral(u"ИВ"));
  ExpectShows(grid, 1, "FIO", Typed(QStringLiteral(u"ИВ")), "ИВ");
  const std::vector<std::string> shown = GridRows(grid);
  ASSERT_FALSE(shown.empty());
  for (const std::string& row : shown) {
    EXPECT_EQ(row.substr(row.find('|') + 1, 4), "ИВ") << row;
  }
  EXPECT_TRUE(Form().grab().toImage().save(ScreenshotPath("directory_city_surname.png")));

  QTest::keyClick(Form().CoolEdit1, Qt::Key_Backspace);
  ExpectShows(grid, 1, "FIO", Typed(QStringLiteral(u"И")), "back to И");
  QTest::keyClick(Form().CoolEdit1, Qt::Key_Backspace);
  EXPECT_TRUE(Form().CoolEdit1->text().isEmpty());
  ExpectShows(grid, 1, "FIO", {}, "empty box: the whole category");

  QTest::mouseClick(Form().CoolBtn3, Qt::LeftButton);
  const std::vector<std::string> all = ExpectedRows(table_, 1, "ADR", {}, {QStringLiteral("ADR")});
  ASSERT_FALSE(all.empty());
  const QString prefix = QString::fromStdString(all.at(all.size() / 3)).left(4);
  TypeText(Form().CoolEdit1, prefix);
  ExpectShows(grid, 1, "ADR", Typed(prefix), "address prefix");
  EXPECT_FALSE(GridRows(grid).empty());
  QTest::mouseClick(Form().CoolBtn1, Qt::LeftButton);
  ExpectShows(grid, 1, "NUM", {}, "number order, no range");
}

TEST_F(DirectoryTest, SwitchingPagesInSurnameModeAndBack) {
  Start();
  TCoolPageControl* pages = Form().CoolPageControl1;
  QTest::mouseClick(Form().CoolBtn2, Qt::LeftButton);
  TypeText(Form().CoolEdit1, QStringLiteral(u"К"));
  ExpectShows(Form().RxDBGrid1, 1, "FIO", Typed(QStringLiteral(u"К")), "surname К");

  QTest::mouseClick(pages, Qt::LeftButton, {}, pages->TabRect(1).center());
  ASSERT_EQ(pages->ActivePageIndex(), 1);
  ExpectShows(Form().RxDBGrid2, 3, "NUM", {}, "payphones in number order");
  TypeText(Form().CoolEdit2, QStringLiteral("5"));
  ExpectShows(Form().RxDBGrid2, 3, "NUM", Typed(QStringLiteral("5")), "payphones 5");
  EXPECT_TRUE(Form().grab().toImage().save(ScreenshotPath("directory_payphone.png")));
  QTest::mouseClick(Form().CoolBtn7, Qt::LeftButton);
  TypeText(Form().CoolEdit2, QStringLiteral(u"У"));
  ExpectShows(Form().RxDBGrid2, 3, "ADR", Typed(QStringLiteral(u"У")), "payphones by address");

  QTest::mouseClick(pages, Qt::LeftButton, {}, pages->TabRect(2).center());
  ASSERT_EQ(pages->ActivePageIndex(), 2);
  ExpectShows(Form().RxDBGrid3, 2, "NUM", {}, "enterprises in number order");
  const int labelRight = Form().CoolLabel3->geometry().right();
  QTest::mouseClick(Form().CoolBtn10, Qt::LeftButton);
  // The longer label text is shown whole: the label widens to the left and
  // stays beside the box.
  EXPECT_EQ(Form().CoolLabel3->geometry().right(), labelRight);
  EXPECT_GE(Form().CoolLabel3->width(),
            QFontMetrics(Form().CoolLabel3->font()).horizontalAdvance(Form().CoolLabel3->Caption()));
  const std::vector<std::string> names = ExpectedRows(table_, 2, "FIO", {}, {QStringLiteral("FIO")});
  ASSERT_FALSE(names.empty());
  const QString name = QString::fromStdString(names.at(names.size() / 2)).left(3);
  TypeText(Form().CoolEdit3, name);
  ExpectShows(Form().RxDBGrid3, 2, "FIO", Typed(name), "enterprises by name");
  EXPECT_FALSE(GridRows(Form().RxDBGrid3).empty());
  EXPECT_TRUE(Form().grab().toImage().save(ScreenshotPath("directory_enterprise.png")));

  // Back to the city page: as it was left - the surname order narrowed by
  // the box, under the surname label.
  QTest::mouseClick(pages, Qt::LeftButton, {}, pages->TabRect(0).center());
  ASSERT_EQ(pages->ActivePageIndex(), 0);
  ExpectShows(Form().RxDBGrid1, 1, "FIO", Typed(QStringLiteral(u"К")), "city surnames К after the page change");
  EXPECT_TRUE(Form().CoolLabel1->Caption() == QStringLiteral(u"Поиск по фамилии"));
  EXPECT_TRUE(Form().CoolEdit1->text() == QStringLiteral(u"К"));
  EXPECT_EQ(Form().CitySearchMode, 2);
  TypeText(Form().CoolEdit1, QStringLiteral(u"О"));
  ExpectShows(Form().RxDBGrid1, 1, "FIO", Typed(QStringLiteral(u"КО")), "surnames КО");
  QTest::keyClick(Form().CoolEdit1, Qt::Key_Backspace);
  QTest::keyClick(Form().CoolEdit1, Qt::Key_Backspace);
  ExpectShows(Form().RxDBGrid1, 1, "FIO", {}, "empty box: every city surname");
  // The payphone page kept its address mode and its box too.
  QTest::mouseClick(pages, Qt::LeftButton, {}, pages->TabRect(1).center());
  ExpectShows(Form().RxDBGrid2, 3, "ADR", Typed(QStringLiteral(u"У")), "payphones by address again");
}

TEST_F(DirectoryTest, TextSearchFindsNamesWithЁAndNumberSignAfterTheTypedText) {
  // City surnames СЕМЁНОВ and СЕМЕНОВ, an enterprise ЦЕХ№2: Ё and № lie
  // above Я in code page 866.
  std::vector<size_t> city, enterprises;
  for (size_t i = 0; i < table_.size(); ++i) {
    if (table_[i].deleted) continue;
    if (table_[i].tip == 1 && city.size() < 3) city.push_back(i);
    if (table_[i].tip == 2 && enterprises.empty()) enterprises.push_back(i);
  }
  ASSERT_EQ(city.size(), 3u);
  ASSERT_EQ(enterprises.size(), 1u);
  StoreText("PHONE.DBF", city[0], 8, 35, QStringLiteral(u"СЕМЁНОВ ПЁТР"));
  StoreText("PHONE.DBF", city[1], 8, 35, QStringLiteral(u"СЕМЁНОВА АННА"));
  StoreText("PHONE.DBF", city[2], 8, 35, QStringLiteral(u"СЕМЕНОВ ИВАН"));
  StoreText("PHONE.DBF", enterprises[0], 8, 35, QStringLiteral(u"ЦЕХ№2"));
  table_ = ScanTable("PHONE.DBF");
  Start();
  QTest::mouseClick(Form().CoolBtn2, Qt::LeftButton);
  TypeText(Form().CoolEdit1, QStringLiteral(u"СЕМ"));
  ExpectShows(Form().RxDBGrid1, 1, "FIO", Typed(QStringLiteral(u"СЕМ")), "СЕМ");
  EXPECT_GE(GridRows(Form().RxDBGrid1).size(), 3u);
  TypeText(Form().CoolEdit1, QStringLiteral(u"Ё"));
  ExpectShows(Form().RxDBGrid1, 1, "FIO", Typed(QStringLiteral(u"СЕМЁ")), "СЕМЁ");
  EXPECT_EQ(GridRows(Form().RxDBGrid1).size(), 2u);

  TCoolPageControl* pages = Form().CoolPageControl1;
  QTest::mouseClick(pages, Qt::LeftButton, {}, pages->TabRect(2).center());
  QTest::mouseClick(Form().CoolBtn10, Qt::LeftButton);
  TypeText(Form().CoolEdit3, QStringLiteral(u"ЦЕХ"));
  ExpectShows(Form().RxDBGrid3, 2, "FIO", Typed(QStringLiteral(u"ЦЕХ")), "ЦЕХ");
  EXPECT_FALSE(GridRows(Form().RxDBGrid3).empty());
}

TEST_F(DirectoryTest, EndReachesTheLastRowOfTheLargestPageWithoutReadingTheRowsBetween) {
  Start();
  TRxDBGrid* grid = Form().RxDBGrid1;
  TDBGridModel& model = *viewer_->model;
  const std::vector<std::string> expected = ExpectedRows(table_, 1, "NUM", {}, grid->ShownFieldNames());
  // The model knows the size of the list as soon as the grid shows it.
  EXPECT_EQ(model.rowCount(), static_cast<int>(expected.size()));
  EXPECT_FALSE(model.canFetchMore({}));
  // The scroll bar spans the whole list (one step per row).
  EXPECT_GT(grid->verticalScrollBar()->maximum(), static_cast<int>(expected.size()) - 50);
  grid->setFocus();
  const int pagesBefore = model.CachedPageCount();
  QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
  ASSERT_EQ(grid->currentIndex().row(), static_cast<int>(expected.size()) - 1);
  EXPECT_TRUE(grid->selectionModel()->isRowSelected(grid->currentIndex().row(), {}));
  grid->grab();  // paints the rows in view
  EXPECT_LE(model.CachedPageCount(), pagesBefore + 2) << "only the pages in view were read";
  const QModelIndex last = model.index(grid->currentIndex().row(), grid->ModelColumn(0));
  EXPECT_EQ(RightTrimmed(last.data().toString().toStdString()), expected.back().substr(0, expected.back().find('|')));
  QTest::keyClick(grid, Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(grid->currentIndex().row(), 0);
  // The scroll bar dragged to the bottom shows the last rows.
  grid->verticalScrollBar()->setValue(grid->verticalScrollBar()->maximum());
  const int lastRow = static_cast<int>(expected.size()) - 1;
  EXPECT_GE(grid->rowViewportPosition(lastRow), 0);
  EXPECT_LE(grid->rowViewportPosition(lastRow) + grid->rowHeight(lastRow), grid->viewport()->height());
}

TEST_F(DirectoryTest, EndOnALargePageAndAfterSearchesShowsTheLastRecordOfTheRows) {
  // Ten times the usual directory: index trees several levels deep, the
  // City page some 24,000 rows, and the generator's deleted records.
  ASSERT_TRUE(phonegen::WritePhoneDbf("PHONE.DBF", kRecords * 10, kSeed + 2));
  table_ = ScanTable("PHONE.DBF");
  ASSERT_TRUE(std::any_of(table_.begin(), table_.end(), [](const StoredRecord& r) { return r.deleted && r.tip == 1; }));
  Start();
  TRxDBGrid* grid = Form().RxDBGrid1;
  TDBGridModel& model = *viewer_->model;
  // Each search narrows to keys that begin and end inside index leaves.
  for (const QString& typed : {QString(), QStringLiteral("5"), QStringLiteral("1"), QStringLiteral("0")}) {
    const QString box = Form().CoolEdit1->text() + typed;
    SCOPED_TRACE("search box \"" + box.toStdString() + "\"");
    if (!typed.isEmpty()) TypeText(Form().CoolEdit1, typed);
    const std::vector<std::string> expected = ExpectedRows(table_, 1, "NUM", Typed(box), grid->ShownFieldNames());
    ASSERT_GT(expected.size(), box.size() < 3 ? 100u : 1u);
    EXPECT_EQ(model.rowCount(), static_cast<int>(expected.size())) << "the rows are known at once";
    EXPECT_FALSE(model.canFetchMore({}));
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
    const int lastRow = static_cast<int>(expected.size()) - 1;
    ASSERT_EQ(grid->currentIndex().row(), lastRow);
    grid->grab();
    const std::string lastNumber = expected.back().substr(0, expected.back().find('|'));
    EXPECT_EQ(RightTrimmed(model.index(lastRow, grid->ModelColumn(0)).data().toString().toStdString()), lastNumber);
    EXPECT_GE(grid->rowViewportPosition(lastRow), 0);
    EXPECT_LE(grid->rowViewportPosition(lastRow) + grid->rowHeight(lastRow), grid->viewport()->height());
    // The rows above it in view are the ones before it.
    for (int row = std::max(lastRow - 20, 0); row < lastRow; ++row) {
      const std::string& number = expected[static_cast<size_t>(row)];
      EXPECT_EQ(RightTrimmed(model.index(row, grid->ModelColumn(0)).data().toString().toStdString()),
                number.substr(0, number.find('|')))
          << "row " << row;
    }
  }
}

TEST_F(DirectoryTest, ANewEditionOfTheTableGetsEveryIndexRebuiltAtStart) {
  Start();
  viewer_.reset();
  const auto before = IndexTimes();
  // The new edition is copied over the old one: other records, newer file.
  ASSERT_TRUE(phonegen::WritePhoneDbf("PHONE.DBF", kRecords + 400, kSeed + 1));
  fs::last_write_time("PHONE.DBF", before.begin()->second + std::chrono::seconds(5));
  table_ = ScanTable("PHONE.DBF");
  StartWithSplash();
  EXPECT_EQ(viewer_->frmLogo->ProgressBar1->maximum(), 7) << "the bar counts the rebuilt files";
  EXPECT_EQ(viewer_->frmLogo->ProgressBar1->value(), 7);
  for (const auto& [file, time] : IndexTimes()) EXPECT_NE(time, before.at(file)) << file;
  ExpectShows(Form().RxDBGrid1, 1, "NUM", {}, "the new edition's city numbers");
  TypeText(Form().CoolEdit1, QStringLiteral("5"));
  ExpectShows(Form().RxDBGrid1, 1, "NUM", Typed(QStringLiteral("5")), "5 in the new edition");
}

TEST_F(DirectoryTest, DamagedOrOutdatedIndexFilesAreRebuiltAndTheOthersKept) {
  Start();
  viewer_.reset();
  auto before = IndexTimes();
  // TELN.CDX damaged: its header is overwritten.
  {
    std::fstream file("TELN.CDX", std::ios::binary | std::ios::in | std::ios::out);
    const std::string junk(512, '\x5A');
    file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  fs::last_write_time("TELN.CDX", before.at("TELN.CDX"));
  // TAXA.CDX older than the table (left from an earlier edition).
  fs::last_write_time("TAXA.CDX", fs::last_write_time("PHONE.DBF") - std::chrono::seconds(30));
  StartWithSplash();
  EXPECT_EQ(viewer_->frmLogo->ProgressBar1->maximum(), 2);
  EXPECT_EQ(viewer_->frmLogo->ProgressBar1->value(), 2);
  auto after = IndexTimes();
  for (const char* file : {"TELN.CDX", "TAXA.CDX"}) {
    EXPECT_NE(after.at(file), before.at(file)) << file << " rebuilt";
    after.erase(file);
    before.erase(file);
  }
  EXPECT_EQ(after, before) << "the sound files are kept";
  ExpectShows(Form().RxDBGrid1, 1, "NUM", {}, "city numbers from the rebuilt TELN.CDX");
  TCoolPageControl* pages = Form().CoolPageControl1;
  QTest::mouseClick(pages, Qt::LeftButton, {}, pages->TabRect(1).center());
  QTest::mouseClick(Form().CoolBtn7, Qt::LeftButton);
  ExpectShows(Form().RxDBGrid2, 3, "ADR", {}, "payphone addresses from the rebuilt TAXA.CDX");
}

TEST_F(DirectoryTest, IndexFilesNewerThanTheTableButHoldingOtherCountsAreRebuilt) {
  Start();
  viewer_.reset();
  auto before = IndexTimes();
  // A city subscriber becomes an enterprise by a write to the table that
  // left the index files alone; they are then stamped after the table, as
  // if built from it, and all of them still open.
  const auto moved = std::find_if(table_.begin(), table_.end(),
                                  [](const StoredRecord& r) { return r.tip == 1 && !r.deleted; });
  ASSERT_NE(moved, table_.end());
  StoreText("PHONE.DBF", static_cast<size_t>(moved - table_.begin()), 78, 1, QStringLiteral("2"));
  table_ = ScanTable("PHONE.DBF");
  const auto later = fs::last_write_time("PHONE.DBF") + std::chrono::seconds(5);
  for (auto& [file, time] : before) {
    fs::last_write_time(file, later);
    time = later;
  }
  StartWithSplash();
  // The three city files and the two enterprise files disagree with the
  // table by one key; the payphone files agree and are kept.
  EXPECT_EQ(viewer_->frmLogo->ProgressBar1->maximum(), 5) << "the bar counts the rebuilt files";
  EXPECT_EQ(viewer_->frmLogo->ProgressBar1->value(), 5);
  auto after = IndexTimes();
  for (const char* file : {"TELN.CDX", "TELF.CDX", "TELA.CDX", "PREDN.CDX", "PREDF.CDX"}) {
    EXPECT_NE(after.at(file), before.at(file)) << file << " rebuilt";
    after.erase(file);
    before.erase(file);
  }
  EXPECT_EQ(after, before) << "the payphone files are kept";
  ExpectShows(Form().RxDBGrid1, 1, "NUM", {}, "city numbers without the moved record");
  TCoolPageControl* pages = Form().CoolPageControl1;
  QTest::mouseClick(pages, Qt::LeftButton, {}, pages->TabRect(2).center());
  ExpectShows(Form().RxDBGrid3, 2, "NUM", {}, "enterprise numbers with the moved record");
  EXPECT_TRUE(ReportedErrors().isEmpty());
}

TEST_F(DirectoryTest, AnIndexThatCannotBeRebuiltIsReportedInRussianAndItsPageKeepsToItsCategory) {
  Start();
  viewer_.reset();
  // TELF.CDX can be neither read nor replaced (as in a folder without
  // write access: the tests run with rights that ignore permissions).
  ASSERT_TRUE(fs::remove("TELF.CDX"));
  fs::create_directory("TELF.CDX");
  fs::create_directory("TELF.CDX/keep");
  StartWithSplash();
  ASSERT_EQ(ReportedErrors().size(), 1);
  const QString message = ReportedErrors().front();
  EXPECT_TRUE(message.contains(QStringLiteral(u"перестроить их не удалось: TELF.CDX"))) << message.toStdString();
  EXPECT_TRUE(message.contains(QStringLiteral(u"Скопируйте справочник"))) << message.toStdString();
  EXPECT_TRUE(ReportedDetails().front().contains(QStringLiteral("TELF.CDX"))) << "the engine's words in the details";
  ReportedErrors().clear();
  EXPECT_EQ(viewer_->frmLogo->UnusableFiles(), (std::set<std::string>{"TELF.CDX"}));

  // The surname page lists city subscribers only, in record order.
  QTest::mouseClick(Form().CoolBtn2, Qt::LeftButton);
  ExpectShows(Form().RxDBGrid1, 1, "FIO", {}, "city records without the index", false);
  TypeText(Form().CoolEdit1, QStringLiteral(u"К"));
  ExpectShows(Form().RxDBGrid1, 1, "FIO", Typed(QStringLiteral(u"К")), "К without the index", false);
  // The other orders are whole again.
  QTest::mouseClick(Form().CoolBtn1, Qt::LeftButton);
  ExpectShows(Form().RxDBGrid1, 1, "NUM", {}, "number order");
}

TEST_F(DirectoryTest, ATableNamedInLowerCaseOpens) {
  fs::rename("PHONE.DBF", "phone.dbf");
  try {
    TDM probe;
  } catch (const std::exception& error) {
    GTEST_SKIP() << "needs the engine's case-insensitive file-name fallback: " << error.what();
  }
  StartWithSplash();
  ExpectShows(Form().RxDBGrid1, 1, "NUM", {}, "city numbers of phone.dbf");
  TypeText(Form().CoolEdit1, QStringLiteral("3"));
  ExpectShows(Form().RxDBGrid1, 1, "NUM", Typed(QStringLiteral("3")), "3");
}

TEST_F(DirectoryTest, AMissingTableIsExplainedInRussian) {
  fs::remove("PHONE.DBF");
  const QString text = TDM::OpenFailureText();
  EXPECT_TRUE(text.contains(QStringLiteral(u"Не найдена таблица справочника PHONE.DBF"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QString::fromStdString(fs::current_path().string()))) << text.toStdString();
  // A table that is there but cannot be read is told apart.
  std::ofstream("PHONE.DBF") << "not a table";
  EXPECT_TRUE(TDM::OpenFailureText().contains(QStringLiteral(u"Не удалось открыть таблицу"))) << text.toStdString();
}
