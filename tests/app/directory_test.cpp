// The viewer over a real directory table: the data module opens a generated
// PHONE.DBF from the working directory, the splash builds the seven index
// files, and the rows the grids show after typing, clicking search buttons
// and switching pages are checked against a brute-force scan of the table.
#include <QDir>
#include <QFontMetrics>
#include <QImage>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
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

// A key range of the search modes, as OEM bytes; two empty bounds: none.
struct KeyRange {
  std::string low, high;
};

KeyRange NumberRange(const QString& typed) {
  const int fill = 6 - static_cast<int>(typed.size());
  if (typed.isEmpty() || fill < 0) return {};
  return {Oem(typed + QString(fill, QLatin1Char('0'))), Oem(typed + QString(fill, QLatin1Char('9')))};
}

KeyRange TextRange(const QString& typed) {
  if (typed.isEmpty()) return {};
  return {Oem(typed), Oem(typed + QStringLiteral(u"ЯЯ"))};
}

// The rows of a category in the order of `keyField` ("NUM", "FIO" or
// "ADR") within `range`, found by looking at every record: deleted records
// left out, keys compared as unsigned bytes without trailing blanks,
// duplicate keys in record order. Each row is the grid's fields joined by
// '|', in UTF-8.
std::vector<std::string> ExpectedRows(const std::vector<StoredRecord>& table, int tip, const std::string& keyField,
                                      const KeyRange& range, const QStringList& fields) {
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
    if (!range.low.empty() || !range.high.empty()) {
      if (unsignedLess(key, range.low) || unsignedLess(range.high, key)) continue;
    }
    chosen.push_back(&r);
  }
  std::stable_sort(chosen.begin(), chosen.end(), [&](const StoredRecord* a, const StoredRecord* b) {
    return unsignedLess(RightTrimmed(keyOf(*a)), RightTrimmed(keyOf(*b)));
  });
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
  void ExpectShows(TRxDBGrid* grid, int tip, const std::string& keyField, const KeyRange& range,
                   const char* what) {
    SCOPED_TRACE(what);
    const std::vector<std::string> expected = ExpectedRows(table_, tip, keyField, range, grid->ShownFieldNames());
    const std::vector<std::string> shown = GridRows(grid);
    EXPECT_EQ(shown.size(), expected.size());
    EXPECT_EQ(shown, expected);
    if (!expected.empty()) {
      const std::string current = RightTrimmed(viewer_->DM->tblVemaronNUM->AsString());
      EXPECT_EQ(current, expected.front().substr(0, expected.front().find('|')));
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
  ExpectShows(grid, 1, "NUM", NumberRange(QStringLiteral("2")), "2");
  EXPECT_FALSE(GridRows(grid).empty());
  TypeText(Form().CoolEdit1, QStringLiteral("3"));
  ExpectShows(grid, 1, "NUM", NumberRange(QStringLiteral("23")), "23");
  TypeText(Form().CoolEdit1, QStringLiteral("4"));
  ExpectShows(grid, 1, "NUM", NumberRange(QStringLiteral("234")), "234");
  EXPECT_TRUE(Form().CoolEdit1->text() == QStringLiteral("234"));
  Form().CoolEdit1->selectAll();
  QTest::keyClick(Form().CoolEdit1, Qt::Key_Delete);
  EXPECT_TRUE(Form().CoolEdit1->text().isEmpty());

  // Type the first five digits of a city number that exists, then the rest.
  const std::vector<std::string> city = ExpectedRows(table_, 1, "NUM", {}, {QStringLiteral("NUM")});
  // One whose sixth digit is not 9, so that its first five digits keep it
  // in range (T0..T9 leaves out the numbers that go on after T9).
  QString number;
  for (size_t i = city.size() / 2; i < city.size() && number.isEmpty(); ++i) {
    if (city[i][5] != '9') number = QString::fromStdString(city[i]);
  }
  ASSERT_EQ(number.size(), 7);
  TypeText(Form().CoolEdit1, number.left(5));
  ExpectShows(grid, 1, "NUM", NumberRange(number.left(5)), "five digits");
  EXPECT_FALSE(GridRows(grid).empty());
  TypeText(Form().CoolEdit1, number.mid(5, 1));
  // Six digits: only a number equal to them, and no number has six digits.
  ExpectShows(grid, 1, "NUM", NumberRange(number.left(6)), "six digits");
  EXPECT_TRUE(GridRows(grid).empty());
  TypeText(Form().CoolEdit1, number.mid(6, 1));
  // Seven digits: no range, the whole category.
  ExpectShows(grid, 1, "NUM", {}, "seven digits");

  Form().CoolPageControl1->SetActivePageIndex(0);
  EXPECT_TRUE(Form().grab().toImage().save(ScreenshotPath("directory_city_number.png")));
}

// The README's picture (docs/viewer.png is a copy of this one): the City
// page of the generated directory with a number search under way.
TEST_F(DirectoryTest, TheCityPageWithASearchUnderWayIsPictured) {
  Start();
  TypeText(Form().CoolEdit1, QStringLiteral("23"));
  ExpectShows(Form().RxDBGrid1, 1, "NUM", NumberRange(QStringLiteral("23")), "23");
  ASSERT_FALSE(GridRows(Form().RxDBGrid1).empty());
  EXPECT_TRUE(Form().grab().toImage().save(ScreenshotPath("viewer.png")));
}

TEST_F(DirectoryTest, CitySearchButtonsClearTheBoxAndSearchTheirOrder) {
  Start();
  TRxDBGrid* grid = Form().RxDBGrid1;
  TypeText(Form().CoolEdit1, QStringLiteral("23"));
  ExpectShows(grid, 1, "NUM", NumberRange(QStringLiteral("23")), "23");
  QSignalSpy resets(viewer_->model.get(), &QAbstractItemModel::modelReset);
  QTest::mouseClick(Form().CoolBtn2, Qt::LeftButton);
  EXPECT_GE(resets.count(), 1) << "the new order resets the grid's rows";
  EXPECT_TRUE(Form().CoolEdit1->text().isEmpty());
  EXPECT_EQ(Form().CitySearchMode, 2);
  ExpectShows(grid, 1, "FIO", {}, "surname order, no range");
  TypeText(Form().CoolEdit1, QStringLiteral(u"И"));
  ExpectShows(grid, 1, "FIO", TextRange(QStringLiteral(u"И")), "И");
  TypeText(Form().CoolEdit1, QStringLiteral(u"В"));
  EXPECT_TRUE(Form().CoolEdit1->text() == QStringLiteral(u"ИВ"));
  ExpectShows(grid, 1, "FIO", TextRange(QStringLiteral(u"ИВ")), "ИВ");
  const std::vector<std::string> shown = GridRows(grid);
  ASSERT_FALSE(shown.empty());
  for (const std::string& row : shown) {
    EXPECT_EQ(row.substr(row.find('|') + 1, 4), "ИВ") << row;
  }
  EXPECT_TRUE(Form().grab().toImage().save(ScreenshotPath("directory_city_surname.png")));

  QTest::keyClick(Form().CoolEdit1, Qt::Key_Backspace);
  ExpectShows(grid, 1, "FIO", TextRange(QStringLiteral(u"И")), "back to И");
  QTest::keyClick(Form().CoolEdit1, Qt::Key_Backspace);
  EXPECT_TRUE(Form().CoolEdit1->text().isEmpty());
  ExpectShows(grid, 1, "FIO", {}, "empty box: the whole category");

  QTest::mouseClick(Form().CoolBtn3, Qt::LeftButton);
  const std::vector<std::string> all = ExpectedRows(table_, 1, "ADR", {}, {QStringLiteral("ADR")});
  ASSERT_FALSE(all.empty());
  const QString prefix = QString::fromStdString(all.at(all.size() / 3)).left(4);
  TypeText(Form().CoolEdit1, prefix);
  ExpectShows(grid, 1, "ADR", TextRange(prefix), "address prefix");
  EXPECT_FALSE(GridRows(grid).empty());
  QTest::mouseClick(Form().CoolBtn1, Qt::LeftButton);
  ExpectShows(grid, 1, "NUM", {}, "number order, no range");
}

TEST_F(DirectoryTest, SwitchingPagesInSurnameModeAndBack) {
  Start();
  TCoolPageControl* pages = Form().CoolPageControl1;
  QTest::mouseClick(Form().CoolBtn2, Qt::LeftButton);
  TypeText(Form().CoolEdit1, QStringLiteral(u"К"));
  ExpectShows(Form().RxDBGrid1, 1, "FIO", TextRange(QStringLiteral(u"К")), "surname К");

  QTest::mouseClick(pages, Qt::LeftButton, {}, pages->TabRect(1).center());
  ASSERT_EQ(pages->ActivePageIndex(), 1);
  ExpectShows(Form().RxDBGrid2, 3, "NUM", {}, "payphones in number order");
  TypeText(Form().CoolEdit2, QStringLiteral("5"));
  ExpectShows(Form().RxDBGrid2, 3, "NUM", NumberRange(QStringLiteral("5")), "payphones 5");
  EXPECT_TRUE(Form().grab().toImage().save(ScreenshotPath("directory_payphone.png")));
  QTest::mouseClick(Form().CoolBtn7, Qt::LeftButton);
  TypeText(Form().CoolEdit2, QStringLiteral(u"У"));
  ExpectShows(Form().RxDBGrid2, 3, "ADR", TextRange(QStringLiteral(u"У")), "payphones by address");

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
  ExpectShows(Form().RxDBGrid3, 2, "FIO", TextRange(name), "enterprises by name");
  EXPECT_FALSE(GridRows(Form().RxDBGrid3).empty());
  EXPECT_TRUE(Form().grab().toImage().save(ScreenshotPath("directory_enterprise.png")));

  // Back to the city page: number order with the whole category, while the
  // label and the box keep the surname mode.
  QTest::mouseClick(pages, Qt::LeftButton, {}, pages->TabRect(0).center());
  ASSERT_EQ(pages->ActivePageIndex(), 0);
  ExpectShows(Form().RxDBGrid1, 1, "NUM", {}, "city in number order after the page change");
  EXPECT_TRUE(Form().CoolLabel1->Caption() == QStringLiteral(u"Поиск по фамилии"));
  EXPECT_TRUE(Form().CoolEdit1->text() == QStringLiteral(u"К"));
  EXPECT_EQ(Form().CitySearchMode, 2);
  // The box is still read as a surname: a further letter sets a text range
  // on the number order, which number keys never satisfy.
  TypeText(Form().CoolEdit1, QStringLiteral(u"О"));
  ExpectShows(Form().RxDBGrid1, 1, "NUM", TextRange(QStringLiteral(u"КО")), "surname range on the number order");
}
