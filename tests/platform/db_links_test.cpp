// Record-set framework: data sources, data links, their windows over the
// row buffers and the notifications they receive.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/memory_dataset.h"
#include "platform/db.h"

using namespace platform;

namespace {

std::unique_ptr<MemoryDataSet> NumberedSet(int rows) {
  auto ds = std::make_unique<MemoryDataSet>(std::vector<MemoryDataSet::Column>{{"N", ftInteger, 0}});
  for (int i = 1; i <= rows; ++i) ds->AddRow({std::to_string(i)});
  return ds;
}

class RecordingLink : public TDataLink {
 public:
  int activeChanges = 0, editingChanges = 0, changes = 0, scrolls = 0, records = 0;
  int lastDistance = 0;
  std::vector<TField*> changedFields;

  // The N values of the rows of this link's window.
  std::vector<int> Window() {
    std::vector<int> out;
    int32_t saved = ActiveRecord();
    for (int32_t i = 0; i < RecordCount(); ++i) {
      SetActiveRecord(i);
      out.push_back(DataSet()->FieldByName("N")->AsInteger());
    }
    SetActiveRecord(saved);
    return out;
  }

 protected:
  void ActiveChanged() override { ++activeChanges; }
  void EditingChanged() override { ++editingChanges; }
  void DataSetChanged() override { ++changes; }
  void DataSetScrolled(int32_t distance) override {
    ++scrolls;
    lastDistance = distance;
  }
  void RecordChanged(TField* field) override {
    ++records;
    changedFields.push_back(field);
  }
};

}  // namespace

TEST(DataLink, WindowFollowsTheLargestLinkAndScrolls) {
  auto ds = NumberedSet(20);
  TDataSource source(ds.get());
  RecordingLink small, grid;
  small.SetDataSource(&source);
  grid.SetDataSource(&source);
  grid.SetBufferCount(5);
  ds->Open();
  EXPECT_EQ(ds->WindowSize(), 5);
  EXPECT_EQ(ds->WindowRows(), 5);
  EXPECT_EQ(grid.Window(), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(grid.ActiveRecord(), 0);

  ds->MoveBy(4);  // last row of the window, no scrolling yet
  EXPECT_EQ(grid.ActiveRecord(), 4);
  EXPECT_EQ(grid.lastDistance, 0);
  ds->Next();  // needs record 6: the window scrolls by one
  EXPECT_EQ(grid.lastDistance, 1);
  EXPECT_EQ(grid.Window(), (std::vector<int>{2, 3, 4, 5, 6}));
  EXPECT_EQ(grid.ActiveRecord(), 4);
  EXPECT_EQ(small.ActiveRecord(), 0);
  EXPECT_EQ(small.Window(), (std::vector<int>{6}));

  ds->MoveBy(-5);  // back to record 1, scrolling up
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 1);
  EXPECT_EQ(grid.Window(), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(grid.ActiveRecord(), 0);
}

TEST(DataLink, ShrinkingTheWindowKeepsTheActiveRecord) {
  auto ds = NumberedSet(20);
  TDataSource source(ds.get());
  auto grid = std::make_unique<RecordingLink>();
  grid->SetDataSource(&source);
  grid->SetBufferCount(8);
  ds->Open();
  ds->MoveBy(6);
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 7);
  grid->SetBufferCount(3);
  EXPECT_EQ(ds->WindowSize(), 3);
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 7);
  grid.reset();  // the last link leaves: one buffer remains
  EXPECT_EQ(ds->WindowSize(), 1);
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 7);
  ds->Next();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 8);
}

TEST(DataLink, LastFillsTheWindowBackwards) {
  auto ds = NumberedSet(20);
  TDataSource source(ds.get());
  RecordingLink grid;
  grid.SetDataSource(&source);
  grid.SetBufferCount(4);
  ds->Open();
  ds->Last();
  EXPECT_EQ(grid.Window(), (std::vector<int>{17, 18, 19, 20}));
  EXPECT_EQ(grid.ActiveRecord(), 3);
}

TEST(DataLink, ActiveAndEditingChangesAreReported) {
  auto ds = NumberedSet(3);
  TDataSource source(ds.get());
  RecordingLink link;
  link.SetDataSource(&source);
  EXPECT_FALSE(link.Active());
  ds->Open();
  EXPECT_TRUE(link.Active());
  EXPECT_EQ(link.activeChanges, 1);
  ds->Edit();
  EXPECT_TRUE(link.Editing());
  ds->FieldByName("N")->SetAsInteger(5);
  ASSERT_FALSE(link.changedFields.empty());
  EXPECT_EQ(link.changedFields.back(), ds->FieldByName("N"));
  ds->Post();
  EXPECT_FALSE(link.Editing());
  EXPECT_EQ(link.editingChanges, 2);
  ds->Close();
  EXPECT_FALSE(link.Active());
  EXPECT_EQ(link.activeChanges, 2);
}

TEST(DataLink, NavigationSendsChangeForJumpsAndScrollForSteps) {
  auto ds = NumberedSet(10);
  TDataSource source(ds.get());
  RecordingLink link;
  link.SetDataSource(&source);
  ds->Open();
  link.changes = link.scrolls = 0;
  ds->Next();
  EXPECT_EQ(link.scrolls, 1);
  EXPECT_EQ(link.changes, 0);
  ds->First();
  ds->Last();
  EXPECT_EQ(link.changes, 2);
}

TEST(DataLink, DisableControlsDefersEverythingToOneChange) {
  auto ds = NumberedSet(10);
  TDataSource source(ds.get());
  RecordingLink link;
  link.SetDataSource(&source);
  ds->Open();
  link.changes = link.scrolls = 0;
  ds->DisableControls();
  ds->DisableControls();
  ds->First();
  ds->MoveBy(3);
  ds->Last();
  ds->EnableControls();
  EXPECT_EQ(link.changes + link.scrolls, 0);  // still disabled once
  ds->EnableControls();
  EXPECT_EQ(link.changes, 1);
  EXPECT_EQ(link.scrolls, 0);
  EXPECT_FALSE(ds->ControlsDisabled());
}

TEST(DataLink, DisabledSourceMakesLinksInactive) {
  auto ds = NumberedSet(3);
  TDataSource source(ds.get());
  RecordingLink link;
  link.SetDataSource(&source);
  ds->Open();
  int stateChanges = 0;
  source.OnStateChange = [&](TDataSource&) { ++stateChanges; };
  source.SetEnabled(false);
  EXPECT_FALSE(link.Active());
  EXPECT_EQ(source.State(), dsInactive);
  link.changes = 0;
  ds->Last();
  EXPECT_EQ(link.changes, 0);
  source.SetEnabled(true);
  EXPECT_TRUE(link.Active());
  EXPECT_EQ(stateChanges, 2);
}

TEST(DataLink, DestroyedDataSetDetachesItsSources) {
  auto ds = NumberedSet(3);
  TDataSource source(ds.get());
  RecordingLink link;
  link.SetDataSource(&source);
  ds->Open();
  ds.reset();
  EXPECT_EQ(source.DataSet(), nullptr);
  EXPECT_FALSE(link.Active());
}

TEST(DataLink, DataChangeEventNamesTheChangedField) {
  auto ds = NumberedSet(3);
  TDataSource source(ds.get());
  std::vector<TField*> seen;
  source.OnDataChange = [&](TDataSource&, TField* field) { seen.push_back(field); };
  ds->Open();
  seen.clear();
  ds->Edit();
  ds->FieldByName("N")->SetAsInteger(4);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), ds->FieldByName("N"));
  ds->Cancel();
}

TEST(DataSource, CircularMasterLinksAreRefused) {
  auto detail = NumberedSet(1);
  auto master = NumberedSet(1);
  TDataSource masterSource(master.get());
  TDataSource probe;
  // The detail depends on `probe`; feeding the detail into `probe` would loop.
  detail->SetMasterSource(&probe);
  try {
    probe.SetDataSet(detail.get());
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Circular datalinks are not allowed");
  }
  EXPECT_EQ(probe.DataSet(), nullptr);
  // The same through another dataset: probe -> detail -> masterSource -> master -> probe.
  detail->SetMasterSource(&masterSource);
  master->SetMasterSource(&probe);
  EXPECT_TRUE(master->IsLinkedTo(&masterSource));
  EXPECT_THROW(probe.SetDataSet(detail.get()), EDatabaseError);
  master->SetMasterSource(nullptr);
  EXPECT_NO_THROW(probe.SetDataSet(detail.get()));
  EXPECT_TRUE(detail->IsLinkedTo(&probe));
  detail->SetMasterSource(nullptr);
}

TEST(DataLink, GotoBookmarkCentresTheWindow) {
  auto ds = NumberedSet(30);
  TDataSource source(ds.get());
  RecordingLink grid;
  grid.SetDataSource(&source);
  grid.SetBufferCount(5);
  ds->Open();
  ds->MoveBy(9);
  TBookmark mark = ds->GetBookmark();
  ds->Last();
  ds->GotoBookmark(mark);
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 10);
  EXPECT_EQ(grid.Window(), (std::vector<int>{8, 9, 10, 11, 12}));
  EXPECT_EQ(grid.ActiveRecord(), 2);
}

TEST(DataLink, InsertIntoAFullWindowKeepsNeighbours) {
  auto ds = NumberedSet(10);
  TDataSource source(ds.get());
  RecordingLink grid;
  grid.SetDataSource(&source);
  grid.SetBufferCount(3);
  ds->Open();
  ds->Next();  // window 1 2 3, active 2
  ds->Insert();
  ds->FieldByName("N")->SetAsInteger(99);
  EXPECT_EQ(grid.Window(), (std::vector<int>{1, 99, 2}));
  ds->Post();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 99);
  ds->Next();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 2);
  ds->First();
  std::vector<int> all;
  for (; !ds->Eof(); ds->Next()) all.push_back(ds->FieldByName("N")->AsInteger());
  EXPECT_EQ(all, (std::vector<int>{1, 99, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST(DataLink, LinksAndSourcesMayGoInAnyOrder) {
  auto ds = NumberedSet(5);
  auto source = std::make_unique<TDataSource>(ds.get());
  auto link = std::make_unique<RecordingLink>();
  link->SetDataSource(source.get());
  link->SetBufferCount(4);
  ds->Open();
  source.reset();  // the link is left without a source
  EXPECT_EQ(link->DataSource(), nullptr);
  EXPECT_FALSE(link->Active());
  EXPECT_EQ(ds->WindowSize(), 1);
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 1);
  link.reset();
  ds->Next();
  EXPECT_EQ(ds->FieldByName("N")->AsInteger(), 2);
}
