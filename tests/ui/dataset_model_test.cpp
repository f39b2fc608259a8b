// The lazy grid model over the dBase dataset on a generated telephone
// directory: the model contract, lazy reads, Cyrillic texts reaching Qt as
// Unicode, and one reset per range change.
#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "dataset/Razuz6oz.h"
#include "model_checks.h"
#include "platform/codepage.h"
#include "support/temp_dir.h"
#include "tools/mkphone/phonegen.h"
#include "ui/dbgridmodel.h"

using namespace platform;

namespace {

constexpr uint32_t kRecords = 5000;
constexpr uint64_t kSeed = 7;

// The dataset, counting the records it fetches from the table.
class CountingDataSet : public TDeridarDataSet {
 public:
  int64_t fetched = 0;

 protected:
  TGetResult FetchRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) override {
    ++fetched;
    return TDeridarDataSet::FetchRecord(buffer, mode, doCheck);
  }
};

int ColumnOf(const TDBGridModel& model, const char* name) {
  for (int c = 0; c < model.columnCount(); ++c)
    if (model.headerData(c, Qt::Horizontal).toString() == QLatin1String(name)) return c;
  return -1;
}

class DataSetModel : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(phonegen::WritePhoneDbf(dir_.File("PHONE.DBF"), kRecords, kSeed));
    // The generator's names by number, as Unicode.
    phonegen::PhoneGenerator gen(kSeed);
    for (uint32_t i = 0; i < kRecords; ++i) {
      phonegen::PhoneRecord r = gen.Next();
      fioByNum_[r.num] = QString::fromStdString(ToUtf8(r.fio, CodePage::Cp866)).trimmed();
    }
    table_.SetDatabaseName(dir_.Path().string());
    table_.SetTableName("PHONE.DBF");
    table_.Open();
    source_ = std::make_unique<TDataSource>(&table_);
    // The fetches are driven by the tests, not by the tester.
    tester_.setUseFetchMore(false);
  }

  TempDir dir_;
  CountingDataSet table_;
  std::unique_ptr<TDataSource> source_;
  std::map<std::string, QString> fioByNum_;
  TDBGridModel model_;
  WarningsFail warnings_;
  QAbstractItemModelTester tester_{&model_, QAbstractItemModelTester::FailureReportingMode::Warning};
};

}  // namespace

TEST_F(DataSetModel, FetchesLazilyAndShowsCyrillicTextsAsUnicode) {
  TDBGridModel& model = model_;
  model.SetBatchSize(50);
  const int64_t before = table_.fetched;
  model.SetDataSource(source_.get());
  model.fetchMore(QModelIndex());
  // One batch read, not the table.
  EXPECT_EQ(model.rowCount(), 50);
  EXPECT_TRUE(model.canFetchMore(QModelIndex()));
  EXPECT_LE(table_.fetched - before, 2 * 50 + 10);

  const int num = ColumnOf(model, "NUM");
  const int fio = ColumnOf(model, "FIO");
  ASSERT_GE(num, 0);
  ASSERT_GE(fio, 0);
  int cyrillic = 0;
  for (int row = 0; row < model.rowCount(); ++row) {
    const std::string number = model.data(model.index(row, num)).toString().toStdString();
    auto expected = fioByNum_.find(number);
    ASSERT_NE(expected, fioByNum_.end()) << number;
    const QString text = model.data(model.index(row, fio)).toString().trimmed();
    EXPECT_EQ(text, expected->second) << "row " << row;
    for (QChar c : text)
      if (c.unicode() >= 0x0410 && c.unicode() <= 0x044F) ++cyrillic;
  }
  EXPECT_GT(cyrillic, 50 * 3);

  model.fetchMore(QModelIndex());
  EXPECT_EQ(model.rowCount(), 100);
  EXPECT_LE(table_.fetched - before, 3 * 100 + 20);
}

TEST_F(DataSetModel, AnIndexOrderIsCountedAtOnceAndAnyPageIsReadWithoutThoseBefore) {
  table_.IndexOn("PHONE.CDX", "NUM", "NUM", "", 1, 0);
  table_.OpenIndexes("PHONE.CDX", "NUM");
  std::vector<std::string> numbers;  // the order as the dataset walks it
  for (table_.First(); !table_.Eof(); table_.Next()) numbers.push_back(table_.FieldByName("NUM")->AsString());
  ASSERT_LT(numbers.size(), kRecords) << "the generator marks some records deleted";
  table_.First();
  TDBGridModel& model = model_;
  model.SetBatchSize(40);
  model.SetDataSource(source_.get());
  const int64_t before = table_.fetched;
  model.fetchMore(QModelIndex());
  EXPECT_EQ(model.rowCount(), static_cast<int>(numbers.size())) << "deleted records are not counted";
  EXPECT_FALSE(model.canFetchMore(QModelIndex()));
  const int num = ColumnOf(model, "NUM");
  ASSERT_GE(num, 0);
  // The last rows, then rows in the middle: each page read alone.
  for (int row : {model.rowCount() - 1, model.rowCount() - 41, model.rowCount() / 2, 0}) {
    EXPECT_EQ(model.data(model.index(row, num)).toString().toStdString(), numbers[static_cast<size_t>(row)])
        << "row " << row;
  }
  EXPECT_LE(table_.fetched - before, 5 * 40 + 10);
  // The order stays counted for another page size, and back: each size
  // gets the page ends of its own pages.
  for (int batch : {7, 40, 7}) {
    model.SetBatchSize(batch);
    model.fetchMore(QModelIndex());
    ASSERT_EQ(model.rowCount(), static_cast<int>(numbers.size())) << "pages of " << batch;
    for (int row : {model.rowCount() - 1, model.rowCount() - batch - 1, model.rowCount() / 3, batch, batch - 1}) {
      EXPECT_EQ(model.data(model.index(row, num)).toString().toStdString(), numbers[static_cast<size_t>(row)])
          << "row " << row << " in pages of " << batch;
    }
  }
}

TEST_F(DataSetModel, ARangeResetsTheModelOnceToTheRangesRows) {
  table_.IndexOn("PHONE.CDX", "NUM", "NUM", "", 1, 0);
  table_.OpenIndexes("PHONE.CDX", "NUM");
  TDBGridModel& model = model_;
  model.SetBatchSize(40);
  model.SetDataSource(source_.get());
  model.fetchMore(QModelIndex());
  ASSERT_GT(model.rowCount(), 80);

  QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
  table_.SetRange("3000000", "3999999");
  // The rows of the range, counted through the dataset itself.
  int inRange = 0;
  for (table_.First(); !table_.Eof(); table_.Next()) {
    EXPECT_EQ(table_.FieldByName("NUM")->AsString()[0], '3');
    ++inRange;
  }
  ASSERT_GT(inRange, 100);
  ASSERT_LT(inRange, static_cast<int>(kRecords) / 4);
  table_.First();
  FetchAll(model);
  EXPECT_EQ(resets.count(), 1);
  EXPECT_EQ(model.rowCount(), inRange);
  const int num = ColumnOf(model, "NUM");
  ASSERT_GE(num, 0);
  QString previous;
  for (int row = 0; row < model.rowCount(); ++row) {
    const QString number = model.data(model.index(row, num)).toString();
    EXPECT_TRUE(number.startsWith(QLatin1Char('3'))) << number.toStdString();
    EXPECT_LT(previous, number);
    previous = number;
  }
}
