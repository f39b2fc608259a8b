// Record-set framework: navigation, scans, calculated fields and editing,
// through the in-memory record set. Bookmarks and the record filter event
// are driven through the table dataset's tests.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/error_text.h"
#include "support/memory_dataset.h"
#include "platform/db.h"

using namespace platform;

namespace {

std::unique_ptr<MemoryDataSet> NumberedSet(int rows) {
  auto ds = std::make_unique<MemoryDataSet>(std::vector<MemoryDataSet::Column>{
      {"NAME", ftString, 10}, {"N", ftInteger, 0}});
  for (int i = 1; i <= rows; ++i) ds->AddRow({"R" + std::to_string(i), std::to_string(i)});
  return ds;
}

int N(TDataSet& ds) { return ds.FieldByName("N")->AsInteger(); }

// The N values from the active record to the end.
std::vector<int> Walk(TDataSet& ds) {
  std::vector<int> out;
  for (; !ds.Eof(); ds.Next()) out.push_back(N(ds));
  return out;
}

// A data link that counts the notifications about the record set.
class CountingLink : public TDataLink {
 public:
  int changes = 0, scrolls = 0;

 protected:
  void DataSetChanged() override { ++changes; }
  void DataSetScrolled(int32_t) override { ++scrolls; }
};

}  // namespace

TEST(DataSetNavigation, WalksBothWaysAndStopsAtTheEnds) {
  auto ds = NumberedSet(25);
  ds->Open();
  EXPECT_TRUE(ds->Bof());
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "R1");
  EXPECT_EQ(Walk(*ds).size(), 25u);
  EXPECT_EQ(N(*ds), 25);  // stays on the last record
  const int64_t reads = ds->ReadCount();
  ds->Next();
  EXPECT_EQ(ds->ReadCount(), reads);  // no read past the end once Eof is known

  ds->Last();
  EXPECT_TRUE(ds->Eof());
  int expected = 25;
  for (; !ds->Bof(); ds->Prior()) EXPECT_EQ(N(*ds), expected--);
  EXPECT_EQ(expected, 0);

  ds->MoveFirst();
  EXPECT_EQ(ds->MoveBy(3), 3);
  EXPECT_EQ(ds->MoveBy(100), 21);
  EXPECT_TRUE(ds->Eof());
  EXPECT_EQ(ds->MoveBy(-100), -24);
  EXPECT_TRUE(ds->Bof());
  EXPECT_EQ(N(*ds), 1);

  // Reopening starts again at the first record.
  ds->Last();
  ds->Close();
  ds->Open();
  EXPECT_EQ(N(*ds), 1);
}

TEST(DataSetNavigation, EmptyAndClosedSets) {
  auto ds = NumberedSet(0);
  EXPECT_EQ(DatabaseErrorOf([&] { ds->First(); }),
            "Cannot perform this operation on a closed dataset");
  ds->Open();
  EXPECT_TRUE(ds->Bof());
  EXPECT_TRUE(ds->Eof());
  EXPECT_TRUE(ds->FieldByName("N")->IsNull());
  EXPECT_TRUE(ds->GetBookmark().empty());
  ds->Close();
  EXPECT_EQ(ds->FieldCount(), 0);  // default fields go with the storage
}

TEST(DataSetScan, ScanningAndSkippingReadAheadWithoutMovingTheActiveRecord) {
  auto ds = NumberedSet(20);
  TDataSource source(ds.get());
  CountingLink link;
  link.SetDataSource(&source);
  ds->Open();
  ds->MoveBy(2);  // on N = 3
  const int changes = link.changes, scrolls = link.scrolls;

  std::vector<int> seen;
  std::vector<TBookmark> marks;
  EXPECT_EQ(ds->ScanRecords({}, 5, [&](const TBookmark& mark) {
    seen.push_back(N(*ds));
    marks.push_back(mark);
  }), 5);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5}));
  // Continuing after the last bookmark; the tail is short.
  seen.clear();
  EXPECT_EQ(ds->ScanRecords(marks.back(), 100, [&](const TBookmark&) { seen.push_back(N(*ds)); }),
            15);
  EXPECT_EQ(seen.front(), 6);
  EXPECT_EQ(seen.back(), 20);

  TBookmark last = "unchanged";
  EXPECT_EQ(ds->SkipRecords({}, 0, last), 0);
  EXPECT_EQ(last, "unchanged");
  EXPECT_EQ(ds->SkipRecords({}, 8, last), 8);
  seen.clear();
  EXPECT_EQ(ds->ScanRecords(last, 2, [&](const TBookmark&) { seen.push_back(N(*ds)); }), 2);
  EXPECT_EQ(seen, (std::vector<int>{9, 10}));
  TBookmark tail = last;
  EXPECT_EQ(ds->SkipRecords(last, 100, tail), 12);
  EXPECT_NE(tail, last);
  TBookmark none = tail;
  EXPECT_EQ(ds->SkipRecords(tail, 5, none), 0);
  EXPECT_EQ(none, tail);

  EXPECT_EQ(N(*ds), 3);
  EXPECT_EQ(link.changes, changes);
  EXPECT_EQ(link.scrolls, scrolls);
  // The storage cursor was moved; navigation still continues from the
  // active record.
  ds->Prior();
  EXPECT_EQ(N(*ds), 2);
}

TEST(DataSetScan, FailingVisitorAndNestedScansLeaveTheDataSetUsable) {
  auto ds = NumberedSet(5);
  ds->Open();
  ds->Next();
  EXPECT_THROW(ds->ScanRecords({}, 3, [](const TBookmark&) { throw std::runtime_error("boom"); }),
               std::runtime_error);
  EXPECT_EQ(N(*ds), 2);
  // A nested scan or skip is refused instead of clobbering the spare buffer.
  EXPECT_THROW(
      ds->ScanRecords({}, 2,
                      [&](const TBookmark&) { ds->ScanRecords({}, 1, [](const TBookmark&) {}); }),
      EDatabaseError);
  TBookmark none;
  EXPECT_THROW(ds->ScanRecords({}, 1, [&](const TBookmark&) { ds->SkipRecords({}, 1, none); }),
               EDatabaseError);
  ds->Next();
  EXPECT_EQ(N(*ds), 3);
}

TEST(DataSetCalcFields, ComputedForEveryFetchedRecord) {
  auto ds = NumberedSet(3);
  ds->CreateField<TStringField>("NAME", 10);
  ds->CreateField<TIntegerField>("N");
  auto* twice = ds->CreateField<TIntegerField>("TWICE");
  twice->SetFieldKind(fkCalculated);
  ds->OnCalcFields = [](TDataSet& d) {
    EXPECT_EQ(d.State(), dsCalcFields);
    d.FieldByName("TWICE")->SetAsInteger(N(d) * 2);
  };
  ds->Open();
  EXPECT_GT(ds->CalcFieldsSize(), 0);
  EXPECT_EQ(twice->AsInteger(), 2);
  ds->Last();
  EXPECT_EQ(twice->AsInteger(), 6);
  // Recomputed when a data field of the record being edited changes.
  ds->Edit();
  ds->FieldByName("N")->SetAsInteger(21);
  EXPECT_EQ(twice->AsInteger(), 42);
  ds->Cancel();
  EXPECT_EQ(twice->AsInteger(), 6);
}

TEST(DataSetEditing, EditPostsOrCancelsAndScrollingPostsOnlyAModifiedRecord) {
  auto ds = NumberedSet(3);
  ds->Open();
  ds->Next();
  ds->Edit();
  EXPECT_FALSE(ds->Modified());
  ds->FieldByName("NAME")->SetAsString("CHANGED");
  EXPECT_TRUE(ds->Modified());
  ds->Post();
  EXPECT_EQ(ds->StoredValue(1, 0), "CHANGED");

  ds->First();
  ds->Edit();
  ds->FieldByName("NAME")->SetAsString("XX");
  ds->Cancel();
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "R1");
  EXPECT_EQ(ds->CancelCount(), 1);

  ds->Edit();
  ds->FieldByName("NAME")->SetAsString("A");
  ds->Next();
  EXPECT_EQ(ds->StoredValue(0, 0), "A");
  ds->Edit();
  ds->Next();
  EXPECT_EQ(ds->CancelCount(), 2);
}

TEST(DataSetEditing, InsertAndAppendPlaceNewRecords) {
  auto ds = NumberedSet(3);
  ds->Open();
  ds->Next();  // on 2
  ds->Insert();
  EXPECT_TRUE(ds->FieldByName("N")->IsNull());
  ds->FieldByName("N")->SetAsInteger(15);
  ds->Post();
  ds->First();
  EXPECT_EQ(Walk(*ds), (std::vector<int>{1, 15, 2, 3}));

  // Cancelled inserts and appends leave the rows as they were.
  ds->Last();
  ds->Insert();
  ds->Cancel();
  EXPECT_EQ(N(*ds), 3);
  ds->Append();
  ds->Cancel();
  EXPECT_EQ(N(*ds), 3);
  EXPECT_EQ(ds->StorageRowCount(), 4);

  ds->AppendRecord({"LAST", "9"});
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "LAST");
  ds->First();
  ds->InsertRecord({std::nullopt, "0"});
  EXPECT_TRUE(ds->FieldByName("NAME")->IsNull());
  ds->First();
  EXPECT_EQ(Walk(*ds), (std::vector<int>{0, 1, 15, 2, 3, 9}));
}

TEST(DataSetEditing, AppendAddsAtTheEndEvenOnEmptySet) {
  auto ds = NumberedSet(0);
  ds->Open();
  for (int n : {7, 8}) {
    ds->Append();
    ds->FieldByName("N")->SetAsInteger(n);
    ds->Post();
  }
  ds->First();
  EXPECT_EQ(Walk(*ds), (std::vector<int>{7, 8}));
}

TEST(DataSetEditing, DeleteMovesToTheNextRecordOrThePriorAtTheEnd) {
  auto ds = NumberedSet(3);
  ds->Open();
  ds->Next();
  ds->Delete();
  EXPECT_EQ(N(*ds), 3);
  ds->Delete();
  EXPECT_EQ(N(*ds), 1);
  ds->Delete();
  EXPECT_TRUE(ds->IsEmpty());
  EXPECT_EQ(DatabaseErrorOf([&] { ds->Delete(); }),
            "Cannot perform this operation on an empty dataset");
}

TEST(DataSetEditing, PostOutsideEditModeAndReadOnlySetAreRefused) {
  auto ds = NumberedSet(2);
  ds->Open();
  EXPECT_THROW(ds->Post(), EDatabaseError);
  ds->SetReadOnly(true);
  EXPECT_EQ(DatabaseErrorOf([&] { ds->Edit(); }), "Cannot modify a read-only dataset");
  EXPECT_THROW(ds->Append(), EDatabaseError);
  EXPECT_EQ(ds->State(), dsBrowse);
}

TEST(DataSetEditing, RecordNumbersAndRefresh) {
  auto ds = NumberedSet(10);
  ds->Open();
  ds->GotoRecordNumber(7);
  EXPECT_EQ(N(*ds), 7);
  ds->AddRow({"NEW", "11"});
  ds->Refresh();
  ds->Last();
  EXPECT_EQ(N(*ds), 11);
}
