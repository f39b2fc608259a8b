// The lazy grid model over a record-set data source: model contract, lazy
// reads, the bounded cache, code-page conversion and resets.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QSignalSpy>
#include <QTableView>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "model_checks.h"
#include "platform/db.h"
#include "support/memory_dataset.h"
#include "ui/dbgridmodel.h"

using namespace platform;

namespace {

std::unique_ptr<MemoryDataSet> NumberedSet(int rows) {
  auto ds = std::make_unique<MemoryDataSet>(std::vector<MemoryDataSet::Column>{
      {"NAME", ftString, 12}, {"N", ftInteger, 0}});
  for (int i = 1; i <= rows; ++i) ds->AddRow({"R" + std::to_string(i), std::to_string(i)});
  return ds;
}

QString Cell(const TDBGridModel& model, int row, int column) {
  return model.data(model.index(row, column)).toString();
}

// An opened numbered set with a source and a grid model over it.
struct ModelOver {
  explicit ModelOver(int rows, int batchSize = 0, int cachePages = 0) : ds(NumberedSet(rows)), source(ds.get()) {
    ds->Open();
    if (batchSize > 0) model.SetBatchSize(batchSize);
    if (cachePages > 0) model.SetCachePages(cachePages);
    model.SetDataSource(&source);
  }
  std::unique_ptr<MemoryDataSet> ds;
  TDataSource source;
  TDBGridModel model;
};

}  // namespace

TEST(DBGridModel, PassesTheItemModelTesterThroughFetchesAndResets) {
  ModelOver m(300, 50);
  auto& [ds, source, model] = m;
  WarningsFail warnings;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
  // The tester would otherwise fetch from inside the model's own insert
  // notifications; the fetches are driven here instead.
  tester.setUseFetchMore(false);
  model.fetchMore(QModelIndex());
  model.fetchMore(QModelIndex());
  ds->First();
  FetchAll(model);
  EXPECT_EQ(model.rowCount(), 300);
  ds->OnFilterRecord = [](TDataSet& d, bool& accept) { accept = d.FieldByName("N")->AsInteger() > 290; };
  ds->SetFiltered(true);
  ds->First();
  FetchAll(model);
  EXPECT_EQ(model.rowCount(), 10);
  ds->Close();
  EXPECT_EQ(model.rowCount(), 0);
}

TEST(DBGridModel, ShowingTheFirstScreenReadsOneBatchNotTheTable) {
  auto ds = NumberedSet(100000);
  TDataSource source(ds.get());
  ds->Open();
  ds->ResetReadCount();
  TDBGridModel model;
  model.SetBatchSize(64);
  model.SetDataSource(&source);
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(ds->ReadCount(), 0);  // attaching reads nothing

  QTableView view;
  view.resize(400, 300);
  view.setModel(&model);
  view.show();
  QApplication::processEvents();
  EXPECT_GE(model.rowCount(), 64);
  for (int row = 0; row < 20; ++row) EXPECT_EQ(Cell(model, row, 1), QString::number(row + 1));
  EXPECT_LE(ds->ReadCount(), 4 * 64) << "the first screen costs a few batches at most";
  EXPECT_LT(model.rowCount(), 1000);
  // The dataset's own position did not move.
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 1);
  EXPECT_TRUE(ds->Bof());
}

TEST(DBGridModel, DroppedPagesAreReadAgainFromTheirBookmark) {
  ModelOver m(1000, 10, 3);
  auto& [ds, source, model] = m;
  for (int i = 0; i < 20; ++i) model.fetchMore(QModelIndex());
  EXPECT_EQ(model.rowCount(), 200);
  EXPECT_EQ(model.CachedPageCount(), 0);  // fetching reads no cells
  for (int row = 0; row < 200; row += 10) Cell(model, row, 0);
  EXPECT_EQ(model.CachedPageCount(), 3);

  ds->ResetReadCount();
  EXPECT_EQ(Cell(model, 0, 0), "R1");  // page 0 was dropped
  EXPECT_LE(ds->ReadCount(), 10);
  ds->ResetReadCount();
  EXPECT_EQ(Cell(model, 137, 1), "138");
  EXPECT_EQ(Cell(model, 139, 0), "R140");
  EXPECT_LE(ds->ReadCount(), 11);  // one page after its bookmark
  EXPECT_LE(model.CachedPageCount(), 3);
  // Every row is right, read in an order that keeps dropping pages.
  for (int step = 0; step < 200; ++step) {
    int row = (step * 37) % 200;
    ASSERT_EQ(Cell(model, row, 1), QString::number(row + 1)) << row;
  }
}

TEST(DBGridModel, StringTextsReachQtAsUnicode) {
  // Stored in 866, translated to 1251 by the dataset, shown as Unicode.
  auto ds = std::make_unique<MemoryDataSet>(
      std::vector<MemoryDataSet::Column>{{"FIO", ftString, 10}, {"TIP", ftSmallint, 0}},
      /*translate=*/true);
  ds->AddRow({std::string("\x88\x82\x80\x8D\x8E\x82"), "1"});
  TDataSource source(ds.get());
  ds->Open();
  TDBGridModel model;
  model.SetDataSource(&source);
  FetchAll(model);
  ASSERT_EQ(model.rowCount(), 1);
  EXPECT_EQ(Cell(model, 0, 0), QString::fromUtf8("ИВАНОВ"));
  EXPECT_EQ(TDBGridModel::FromAnsi("\xDF\xB8 \xB9"), QString::fromUtf8("Яё №"));
}

TEST(DBGridModel, ColumnsFollowTheConfiguredFieldNames) {
  ModelOver m(3);
  auto& [ds, source, model] = m;
  EXPECT_EQ(model.columnCount(), 2);  // every field by default
  model.SetColumns({"N", "MISSING", "NAME"});
  FetchAll(model);
  ASSERT_EQ(model.columnCount(), 3);
  EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "N");
  EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "MISSING");
  EXPECT_EQ(model.headerData(2, Qt::Horizontal, TDBGridModel::kDisplayWidthRole).toInt(), 12);
  EXPECT_EQ(Cell(model, 2, 0), "3");
  EXPECT_EQ(Cell(model, 2, 1), "");
  EXPECT_EQ(Cell(model, 2, 2), "R3");
  EXPECT_EQ(model.data(model.index(0, 0), Qt::TextAlignmentRole).value<Qt::Alignment>() &
                Qt::AlignRight,
            Qt::AlignRight);
  EXPECT_FALSE(model.flags(model.index(0, 0)) & Qt::ItemIsEditable);
}

TEST(DBGridModel, RecordSetChangesResetTheModelOnce) {
  ModelOver m(100, 20);
  auto& [ds, source, model] = m;
  model.fetchMore(QModelIndex());
  QSignalSpy resets(&model, &QAbstractItemModel::modelReset);

  // A new filter followed by the move to the first record: one reset.
  ds->OnFilterRecord = [](TDataSet& d, bool& accept) { accept = d.FieldByName("N")->AsInteger() % 10 == 0; };
  ds->SetFiltered(true);
  ds->First();
  EXPECT_EQ(resets.count(), 1);
  ds->First();  // nothing fetched since: no second reset
  ds->DisableControls();
  ds->Last();
  ds->EnableControls();
  EXPECT_EQ(resets.count(), 1);
  FetchAll(model);
  EXPECT_EQ(model.rowCount(), 10);
  EXPECT_EQ(Cell(model, 9, 1), "100");

  // Scrolling the dataset is not a change of the record set.
  ds->First();
  FetchAll(model);
  int before = resets.count();
  ds->Next();
  ds->MoveBy(3);
  EXPECT_EQ(resets.count(), before);
  EXPECT_EQ(model.rowCount(), 10);
}

TEST(DBGridModel, EmptyAndClosedDataSetsShowNoRows) {
  auto ds = NumberedSet(0);
  TDataSource source(ds.get());
  TDBGridModel model;
  model.SetDataSource(&source);
  EXPECT_FALSE(model.canFetchMore(QModelIndex()));
  ds->Open();
  EXPECT_TRUE(model.canFetchMore(QModelIndex()));
  model.fetchMore(QModelIndex());
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_FALSE(model.canFetchMore(QModelIndex()));
  // Rows arrive later: the next change makes them fetchable again.
  ds->AddRow({"A", "1"});
  ds->First();
  EXPECT_TRUE(model.canFetchMore(QModelIndex()));
  FetchAll(model);
  EXPECT_EQ(model.rowCount(), 1);
  ds->Close();
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(model.columnCount(), 0);
  EXPECT_FALSE(model.canFetchMore(QModelIndex()));
}

TEST(DBGridModel, RowsAndTheCurrentRecordFollowEachOther) {
  ModelOver m(100, 10);
  auto& [ds, source, model] = m;
  FetchAll(model);
  QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
  ASSERT_TRUE(model.MakeCurrent(42));
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 43);
  EXPECT_EQ(resets.count(), 0);  // moving to a shown row keeps the rows
  EXPECT_EQ(model.CurrentRow(), 42);
  ds->Next();
  EXPECT_EQ(model.CurrentRow(), 43);
  EXPECT_FALSE(model.MakeCurrent(100));
}

TEST(DBGridModel, EditingUpdatesTheShownRow) {
  ModelOver m(5);
  auto& [ds, source, model] = m;
  FetchAll(model);
  EXPECT_EQ(Cell(model, 1, 0), "R2");  // the row is shown
  ds->Next();
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  ds->Edit();
  ds->FieldByName("NAME")->SetAsString("EDITED");
  EXPECT_GE(changed.count(), 1);
  EXPECT_EQ(Cell(model, 1, 0), "EDITED");
  ds->Post();  // the record set was written: rows are fetched again
  FetchAll(model);
  EXPECT_EQ(Cell(model, 1, 0), "EDITED");
}

TEST(DBGridModel, NothingIsReadWhileControlsAreDisabled) {
  ModelOver m(100, 10, 1);
  auto& [ds, source, model] = m;
  model.fetchMore(QModelIndex());
  model.fetchMore(QModelIndex());
  Cell(model, 0, 0);
  Cell(model, 10, 0);  // page 0 is dropped from the cache
  ds->DisableControls();
  ds->ResetReadCount();
  EXPECT_FALSE(model.canFetchMore(QModelIndex()));
  EXPECT_EQ(Cell(model, 0, 0), "");
  EXPECT_EQ(Cell(model, 15, 0), "R16");  // still cached
  EXPECT_EQ(ds->ReadCount(), 0);
  ds->EnableControls();
  EXPECT_EQ(model.rowCount(), 0);
  model.fetchMore(QModelIndex());
  EXPECT_EQ(Cell(model, 0, 0), "R1");
}

TEST(DBGridModel, OutlivesItsDataSetAndSource) {
  TDBGridModel model;
  {
    auto ds = NumberedSet(10);
    TDataSource source(ds.get());
    ds->Open();
    model.SetDataSource(&source);
    FetchAll(model);
    EXPECT_EQ(model.rowCount(), 10);
    ds.reset();  // closes: the model drops its rows and fields
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.columnCount(), 0);
  }
  EXPECT_EQ(model.DataSource(), nullptr);
  EXPECT_FALSE(model.canFetchMore(QModelIndex()));
  EXPECT_EQ(model.data(model.index(0, 0)), QVariant());
}
