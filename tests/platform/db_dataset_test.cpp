// Record-set framework: navigation, the buffer window, bookmarks, scans,
// filters, calculated fields and editing, through the in-memory record set.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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

// The N values from the active record to the end.
std::vector<int> Walk(TDataSet& ds) {
  std::vector<int> out;
  while (!ds.Eof()) {
    out.push_back(ds.FieldByName("N")->AsInteger());
    ds.Next();
  }
  return out;
}

// A data link that records what it is told.
class RecordingLink : public TDataLink {
 public:
  int activeChanges = 0, editingChanges = 0, changes = 0, scrolls = 0, records = 0;
  int lastDistance = 0;

 protected:
  void ActiveChanged() override { ++activeChanges; }
  void EditingChanged() override { ++editingChanges; }
  void DataSetChanged() override { ++changes; }
  void DataSetScrolled(int32_t distance) override {
    ++scrolls;
    lastDistance = distance;
  }
  void RecordChanged(TField*) override { ++records; }
};

}  // namespace

TEST(DataSetNavigation, OpenShowsFirstRecordAtBof) {
  auto ds = NumberedSet(3);
  ds->Open();
  EXPECT_TRUE(ds->Active());
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_TRUE(ds->Bof());
  EXPECT_FALSE(ds->Eof());
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "R1");
  EXPECT_EQ(ds->FieldCount(), 2);
}

TEST(DataSetNavigation, NextWalksEveryRecordOnceThenEof) {
  auto ds = NumberedSet(25);
  ds->Open();
  EXPECT_EQ(Walk(*ds).size(), 25u);
  EXPECT_TRUE(ds->Eof());
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 25);  // stays on the last record
  int64_t reads = ds->ReadCount();
  ds->Next();
  EXPECT_EQ(ds->ReadCount(), reads);  // no read past the end once Eof is known
}

TEST(DataSetNavigation, PriorFromLastReachesBof) {
  auto ds = NumberedSet(4);
  ds->Open();
  ds->Last();
  EXPECT_TRUE(ds->Eof());
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 4);
  std::vector<int> seen;
  while (!ds->Bof()) {
    seen.push_back(ds->FieldByName("N")->AsInteger());
    ds->Prior();
  }
  EXPECT_EQ(seen, (std::vector<int>{4, 3, 2, 1}));
  ds->MoveFirst();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 1);
}

TEST(DataSetNavigation, MoveByReportsDistanceAndStopsAtEnds) {
  auto ds = NumberedSet(5);
  ds->Open();
  EXPECT_EQ(ds->MoveBy(3), 3);
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 4);
  EXPECT_EQ(ds->MoveBy(10), 1);
  EXPECT_TRUE(ds->Eof());
  EXPECT_EQ(ds->MoveBy(-10), -4);
  EXPECT_TRUE(ds->Bof());
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 1);
}

TEST(DataSetNavigation, EmptySetIsBofEofAndFieldsAreNull) {
  auto ds = NumberedSet(0);
  ds->Open();
  EXPECT_TRUE(ds->IsEmpty());
  EXPECT_TRUE(ds->Bof());
  EXPECT_TRUE(ds->Eof());
  EXPECT_TRUE(ds->FieldByName("N")->IsNull());
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "");
  EXPECT_TRUE(ds->GetBookmark().empty());
}

TEST(DataSetNavigation, ClosedDataSetRefusesOperations) {
  auto ds = NumberedSet(2);
  EXPECT_THROW(ds->First(), EDatabaseError);
  ds->Open();
  TField* n = ds->FieldByName("N");
  ds->Close();
  EXPECT_FALSE(ds->Active());
  EXPECT_EQ(ds->FieldCount(), 0);  // default fields go with the storage
  (void)n;
  try {
    ds->Next();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Cannot perform this operation on a closed dataset");
  }
}

TEST(DataSetNavigation, ReopenStartsAgainAtFirstRecord) {
  auto ds = NumberedSet(3);
  ds->Open();
  ds->Last();
  ds->Close();
  ds->Open();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 1);
}

TEST(DataSetBookmarks, GotoBookmarkReturnsToRecord) {
  auto ds = NumberedSet(50);
  ds->Open();
  ds->MoveBy(30);
  TBookmark mark = ds->GetBookmark();
  ASSERT_FALSE(mark.empty());
  ds->First();
  ds->GotoBookmark(mark);
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 31);
  ds->Next();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 32);
  ds->Prior();
  ds->Prior();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 30);
}

TEST(DataSetBookmarks, CompareAndValidity) {
  auto ds = NumberedSet(5);
  ds->Open();
  TBookmark first = ds->GetBookmark();
  ds->Last();
  TBookmark last = ds->GetBookmark();
  EXPECT_LT(ds->BookmarkCompare(first, last), 0);
  EXPECT_GT(ds->BookmarkCompare(last, first), 0);
  EXPECT_EQ(ds->BookmarkCompare(last, last), 0);
  EXPECT_TRUE(ds->BookmarkIsValid(first));
  EXPECT_FALSE(ds->BookmarkIsValid("junk"));
}

TEST(DataSetScan, ReadsAheadWithoutMovingTheActiveRecord) {
  auto ds = NumberedSet(20);
  TDataSource source(ds.get());
  RecordingLink link;
  link.SetDataSource(&source);
  ds->Open();
  ds->MoveBy(2);  // on N = 3
  int changes = link.changes, scrolls = link.scrolls;

  std::vector<int> seen;
  std::vector<TBookmark> marks;
  int32_t n = ds->ScanRecords({}, 5, [&](const TBookmark& mark) {
    seen.push_back(ds->FieldByName("N")->AsInteger());
    marks.push_back(mark);
  });
  EXPECT_EQ(n, 5);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 3);
  EXPECT_EQ(link.changes, changes);
  EXPECT_EQ(link.scrolls, scrolls);

  // Continuing after the last bookmark; the tail is short.
  seen.clear();
  n = ds->ScanRecords(marks.back(), 100, [&](const TBookmark&) {
    seen.push_back(ds->FieldByName("N")->AsInteger());
  });
  EXPECT_EQ(n, 15);
  EXPECT_EQ(seen.front(), 6);
  EXPECT_EQ(seen.back(), 20);

  // The storage cursor was moved by the scan; navigation still continues
  // from the active record.
  ds->Next();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 4);
  ds->Prior();
  ds->Prior();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 2);
}

TEST(DataSetScan, SkippingCountsRowsAndNamesTheLastWithoutMovingTheActiveRecord) {
  auto ds = NumberedSet(20);
  TDataSource source(ds.get());
  RecordingLink link;
  link.SetDataSource(&source);
  ds->Open();
  ds->MoveBy(2);  // on N = 3
  int changes = link.changes, scrolls = link.scrolls;

  TBookmark last = "unchanged";
  EXPECT_EQ(ds->SkipRecords({}, 0, last), 0);
  EXPECT_EQ(last, "unchanged");
  EXPECT_EQ(ds->SkipRecords({}, 8, last), 8);
  std::vector<int> seen;
  EXPECT_EQ(ds->ScanRecords(last, 2, [&](const TBookmark&) {
    seen.push_back(ds->FieldByName("N")->AsInteger());
  }), 2);
  EXPECT_EQ(seen, (std::vector<int>{9, 10}));
  TBookmark tail = last;
  EXPECT_EQ(ds->SkipRecords(last, 100, tail), 12);
  EXPECT_NE(tail, last);
  TBookmark none = tail;
  EXPECT_EQ(ds->SkipRecords(tail, 5, none), 0);
  EXPECT_EQ(none, tail);

  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 3);
  EXPECT_EQ(link.changes, changes);
  EXPECT_EQ(link.scrolls, scrolls);
  ds->Next();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 4);
  // Not from inside a scan.
  EXPECT_THROW(ds->ScanRecords({}, 1, [&](const TBookmark&) { ds->SkipRecords({}, 1, none); }),
               EDatabaseError);
}

TEST(DataSetScan, FailingVisitorLeavesDataSetUsable) {
  auto ds = NumberedSet(5);
  ds->Open();
  ds->Next();
  EXPECT_THROW(ds->ScanRecords({}, 3, [](const TBookmark&) { throw std::runtime_error("boom"); }),
               std::runtime_error);
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 2);
  ds->Next();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 3);
  // A nested scan is refused instead of clobbering the spare buffer.
  EXPECT_THROW(ds->ScanRecords({}, 2, [&](const TBookmark&) {
    ds->ScanRecords({}, 1, [](const TBookmark&) {});
  }), EDatabaseError);
}

TEST(DataSetFilter, FilterHookRunsInFilterStateAndHidesRecords) {
  auto ds = NumberedSet(10);
  std::vector<TDataSetState> states;
  ds->OnFilterRecord = [&](TDataSet& d, bool& accept) {
    states.push_back(d.State());
    accept = d.FieldByName("N")->AsInteger() % 2 == 0;
  };
  ds->SetFiltered(true);
  ds->Open();
  EXPECT_EQ(Walk(*ds), (std::vector<int>{2, 4, 6, 8, 10}));
  ASSERT_FALSE(states.empty());
  for (TDataSetState s : states) EXPECT_EQ(s, dsFilter);
  EXPECT_EQ(ds->State(), dsBrowse);
}

TEST(DataSetCalcFields, ComputedForEveryFetchedRecord) {
  auto ds = NumberedSet(3);
  ds->CreateField<TStringField>("NAME", 10);
  ds->CreateField<TIntegerField>("N");
  auto* twice = ds->CreateField<TIntegerField>("TWICE");
  twice->SetFieldKind(fkCalculated);
  ds->OnCalcFields = [](TDataSet& d) {
    EXPECT_EQ(d.State(), dsCalcFields);
    d.FieldByName("TWICE")->SetAsInteger(d.FieldByName("N")->AsInteger() * 2);
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

TEST(DataSetEditing, EditPostStoresValueAndReturnsToBrowse) {
  auto ds = NumberedSet(3);
  ds->Open();
  ds->Next();
  ds->Edit();
  EXPECT_EQ(ds->State(), dsEdit);
  EXPECT_EQ(ds->StartEditCount(), 1);
  EXPECT_FALSE(ds->Modified());
  ds->FieldByName("NAME")->SetAsString("CHANGED");
  EXPECT_TRUE(ds->Modified());
  ds->Post();
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "CHANGED");
  EXPECT_EQ(ds->StoredValue(1, 0), "CHANGED");
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 2);
}

TEST(DataSetEditing, CancelDropsChanges) {
  auto ds = NumberedSet(3);
  ds->Open();
  ds->Edit();
  ds->FieldByName("NAME")->SetAsString("XX");
  ds->Cancel();
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "R1");
  EXPECT_EQ(ds->StoredValue(0, 0), "R1");
  EXPECT_EQ(ds->CancelCount(), 1);
}

TEST(DataSetEditing, ScrollingPostsAModifiedRecordAndCancelsAnUnmodifiedOne) {
  auto ds = NumberedSet(3);
  ds->Open();
  ds->Edit();
  ds->FieldByName("NAME")->SetAsString("A");
  ds->Next();
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_EQ(ds->StoredValue(0, 0), "A");
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 2);
  ds->Edit();
  ds->Next();
  EXPECT_EQ(ds->CancelCount(), 1);
}

TEST(DataSetEditing, InsertPutsNewRecordBeforeTheCurrentOne) {
  auto ds = NumberedSet(3);
  ds->Open();
  ds->Next();  // on 2
  ds->Insert();
  EXPECT_EQ(ds->State(), dsInsert);
  EXPECT_TRUE(ds->FieldByName("N")->IsNull());
  ds->FieldByName("N")->SetAsInteger(15);
  ds->Post();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 15);
  ds->First();
  EXPECT_EQ(Walk(*ds), (std::vector<int>{1, 15, 2, 3}));
}

TEST(DataSetEditing, AppendAddsAtTheEndEvenOnEmptySet) {
  auto ds = NumberedSet(0);
  ds->Open();
  ds->Append();
  ds->FieldByName("N")->SetAsInteger(7);
  ds->Post();
  EXPECT_FALSE(ds->IsEmpty());
  ds->Append();
  ds->FieldByName("N")->SetAsInteger(8);
  ds->Post();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 8);
  ds->First();
  EXPECT_EQ(Walk(*ds), (std::vector<int>{7, 8}));
}

TEST(DataSetEditing, CancelledInsertLeavesRowsAsTheyWere) {
  auto ds = NumberedSet(3);
  ds->Open();
  ds->Last();
  ds->Insert();
  ds->Cancel();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 3);
  EXPECT_EQ(ds->StorageRowCount(), 3);
  ds->Append();
  ds->Cancel();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 3);
}

TEST(DataSetEditing, DeleteMovesToTheNextRecordOrThePriorAtTheEnd) {
  auto ds = NumberedSet(3);
  ds->Open();
  ds->Next();
  ds->Delete();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 3);
  ds->Delete();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 1);
  ds->Delete();
  EXPECT_TRUE(ds->IsEmpty());
  try {
    ds->Delete();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Cannot perform this operation on an empty dataset");
  }
}

TEST(DataSetEditing, PostOutsideEditModeAndReadOnlySetAreRefused) {
  auto ds = NumberedSet(2);
  ds->Open();
  EXPECT_THROW(ds->Post(), EDatabaseError);
  EXPECT_THROW(ds->FieldByName("N")->SetAsInteger(3), EDatabaseError);
  ds->SetReadOnly(true);
  try {
    ds->Edit();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Cannot modify a read-only dataset");
  }
  EXPECT_THROW(ds->Append(), EDatabaseError);
  EXPECT_EQ(ds->State(), dsBrowse);
}

TEST(DataSetEditing, AppendRecordAndInsertRecordAddWholeRecords) {
  auto ds = NumberedSet(2);
  ds->Open();
  ds->AppendRecord({"LAST", "9"});
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "LAST");
  ds->First();
  ds->InsertRecord({std::nullopt, "0"});
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 0);
  EXPECT_TRUE(ds->FieldByName("NAME")->IsNull());
  ds->First();
  EXPECT_EQ(Walk(*ds), (std::vector<int>{0, 1, 2, 9}));
}

TEST(DataSetEditing, RecordNumbersAndRefresh) {
  auto ds = NumberedSet(10);
  ds->Open();
  ds->GotoRecordNumber(7);
  EXPECT_EQ(ds->ActiveRecordNumber(), 7);
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 7);
  EXPECT_EQ(ds->RecordCount(), 10);
  ds->AddRow({"NEW", "11"});
  ds->Refresh();
  ds->Last();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 11);
}
