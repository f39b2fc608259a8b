// Record-set framework: data sources, data links, their windows over the
// row buffers and the notifications they receive.
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
  auto ds = std::make_unique<MemoryDataSet>(std::vector<MemoryDataSet::Column>{{"N", ftInteger, 0}});
  for (int i = 1; i <= rows; ++i) ds->AddRow({std::to_string(i)});
  return ds;
}

int N(TDataSet& ds) { return ds.FieldByName("N")->AsInteger(); }

class RecordingLink : public TDataLink {
 public:
  int activeChanges = 0, editingChanges = 0, changes = 0, scrolls = 0;
  int lastDistance = 0;
  std::vector<TField*> changedFields;

  // The N values of the rows of this link's window.
  std::vector<int> Window() {
    std::vector<int> out;
    const int32_t saved = ActiveRecord();
    for (int32_t i = 0; i < RecordCount(); ++i) {
      SetActiveRecord(i);
      out.push_back(N(*DataSet()));
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
  void RecordChanged(TField* field) override { changedFields.push_back(field); }
};

// A numbered set with a source and a recording link on it.
class DataLink : public ::testing::Test {
 protected:
  void SetUp() override { link_.SetDataSource(&source_); }
  // Gives the link a window of `buffers` rows and opens the set.
  void Open(int32_t buffers = 1) {
    link_.SetBufferCount(buffers);
    ds_->Open();
  }

  std::unique_ptr<MemoryDataSet> ds_ = NumberedSet(30);
  TDataSource source_{ds_.get()};
  RecordingLink link_;
};

}  // namespace

TEST_F(DataLink, WindowFollowsTheLargestLinkAndScrolls) {
  RecordingLink small;
  small.SetDataSource(&source_);
  Open(5);
  EXPECT_EQ(ds_->WindowRows(), 5);
  ds_->MoveBy(4);  // last row of the window, no scrolling yet
  EXPECT_EQ(link_.ActiveRecord(), 4);
  EXPECT_EQ(link_.lastDistance, 0);
  ds_->Next();  // needs record 6: the window scrolls by one
  EXPECT_EQ(link_.lastDistance, 1);
  EXPECT_EQ(link_.Window(), (std::vector<int>{2, 3, 4, 5, 6}));
  EXPECT_EQ(link_.ActiveRecord(), 4);
  EXPECT_EQ(small.ActiveRecord(), 0);
  EXPECT_EQ(small.Window(), (std::vector<int>{6}));

  ds_->MoveBy(-5);  // back to record 1, scrolling up
  EXPECT_EQ(link_.Window(), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(link_.ActiveRecord(), 0);
}

TEST_F(DataLink, LastAndGotoBookmarkPlaceTheWindowAroundTheRecord) {
  Open(5);
  ds_->MoveBy(9);
  const TBookmark mark = ds_->GetBookmark();
  ds_->Last();
  EXPECT_EQ(link_.Window(), (std::vector<int>{26, 27, 28, 29, 30}));
  EXPECT_EQ(link_.ActiveRecord(), 4);
  ds_->GotoBookmark(mark);
  EXPECT_EQ(link_.Window(), (std::vector<int>{8, 9, 10, 11, 12}));
  EXPECT_EQ(link_.ActiveRecord(), 2);
}

TEST_F(DataLink, ShrinkingTheWindowKeepsTheActiveRecord) {
  auto grid = std::make_unique<RecordingLink>();
  grid->SetDataSource(&source_);
  grid->SetBufferCount(8);
  Open();
  ds_->MoveBy(6);
  grid->SetBufferCount(3);
  EXPECT_EQ(ds_->WindowSize(), 3);
  EXPECT_EQ(N(*ds_), 7);
  grid.reset();  // the largest link leaves: the remaining one's window stays
  EXPECT_EQ(ds_->WindowSize(), 1);
  EXPECT_EQ(N(*ds_), 7);
  ds_->Next();
  EXPECT_EQ(N(*ds_), 8);
}

TEST_F(DataLink, InsertIntoAFullWindowKeepsNeighbours) {
  Open(3);
  ds_->Next();  // window 1 2 3, active 2
  ds_->Insert();
  ds_->FieldByName("N")->SetAsInteger(99);
  EXPECT_EQ(link_.Window(), (std::vector<int>{1, 99, 2}));
  ds_->Post();
  EXPECT_EQ(link_.Window(), (std::vector<int>{1, 99, 2}));
  ds_->Last();
  ds_->MoveBy(-29);
  EXPECT_EQ(N(*ds_), 99);
}

TEST_F(DataLink, ActiveEditingAndFieldChangesAreReported) {
  std::vector<TField*> dataChanges;
  source_.OnDataChange = [&](TDataSource&, TField* field) { dataChanges.push_back(field); };
  Open();
  EXPECT_EQ(link_.activeChanges, 1);
  ds_->Edit();
  EXPECT_TRUE(link_.Editing());
  dataChanges.clear();
  ds_->FieldByName("N")->SetAsInteger(5);
  ASSERT_FALSE(link_.changedFields.empty());
  EXPECT_EQ(link_.changedFields.back(), ds_->FieldByName("N"));
  ASSERT_FALSE(dataChanges.empty());
  EXPECT_EQ(dataChanges.back(), ds_->FieldByName("N"));
  ds_->Post();
  EXPECT_EQ(link_.editingChanges, 2);
  ds_->Close();
  EXPECT_EQ(link_.activeChanges, 2);
  source_.OnDataChange = nullptr;  // the list goes before the source
}

TEST_F(DataLink, StepsScrollJumpsChangeAndDisabledControlsDeferToOneChange) {
  Open();
  link_.changes = link_.scrolls = 0;
  ds_->Next();
  EXPECT_EQ(link_.scrolls, 1);
  EXPECT_EQ(link_.changes, 0);
  ds_->First();
  ds_->Last();
  EXPECT_EQ(link_.changes, 2);

  link_.changes = link_.scrolls = 0;
  ds_->DisableControls();
  ds_->DisableControls();
  ds_->First();
  ds_->MoveBy(3);
  ds_->Last();
  ds_->EnableControls();
  EXPECT_EQ(link_.changes + link_.scrolls, 0);  // still disabled once
  ds_->EnableControls();
  EXPECT_EQ(link_.changes, 1);
  EXPECT_EQ(link_.scrolls, 0);
  EXPECT_FALSE(ds_->ControlsDisabled());
}

TEST_F(DataLink, DisabledSourceMakesLinksInactive) {
  Open();
  int stateChanges = 0;
  source_.OnStateChange = [&](TDataSource&) { ++stateChanges; };
  source_.SetEnabled(false);
  EXPECT_FALSE(link_.Active());
  link_.changes = 0;
  ds_->Last();
  EXPECT_EQ(link_.changes, 0);
  source_.SetEnabled(true);
  EXPECT_TRUE(link_.Active());
  EXPECT_EQ(stateChanges, 2);
  // The source outlives this body and reports its last state change when
  // the fixture goes: the counter must not be reached then.
  source_.OnStateChange = nullptr;
}

TEST_F(DataLink, SetsSourcesAndLinksMayGoInAnyOrder) {
  Open();
  ds_.reset();
  EXPECT_FALSE(link_.Active());

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
  EXPECT_EQ(N(*ds), 1);
  link.reset();
  ds->Next();
  EXPECT_EQ(N(*ds), 2);
}

TEST(DataSource, CircularMasterLinksAreRefused) {
  auto detail = NumberedSet(1);
  auto master = NumberedSet(1);
  TDataSource masterSource(master.get());
  TDataSource probe;
  // The detail depends on `probe`; feeding the detail into `probe` would loop.
  detail->SetMasterSource(&probe);
  EXPECT_EQ(DatabaseErrorOf([&] { probe.SetDataSet(detail.get()); }),
            "Circular datalinks are not allowed");
  EXPECT_EQ(probe.DataSet(), nullptr);
  // The same through another dataset: probe -> detail -> masterSource -> master -> probe.
  detail->SetMasterSource(&masterSource);
  master->SetMasterSource(&probe);
  EXPECT_THROW(probe.SetDataSet(detail.get()), EDatabaseError);
  master->SetMasterSource(nullptr);
  EXPECT_NO_THROW(probe.SetDataSet(detail.get()));
  detail->SetMasterSource(nullptr);
}

// Every source and link hears each move however many there are (the lists
// are copied before notifying, without allocating while they are short),
// and a link taken off by an earlier link's handler hears nothing more.
TEST(DataSource, EverySourceAndLinkHearsAMoveAndALinkTakenOffMeanwhileDoesNot) {
  for (const int count : {1, 2, 8, 9, 12}) {
    SCOPED_TRACE(count);
    auto ds = NumberedSet(5);
    std::vector<std::unique_ptr<TDataSource>> sources;
    std::vector<std::unique_ptr<RecordingLink>> links;
    for (int i = 0; i < count; ++i) {
      sources.push_back(std::make_unique<TDataSource>(ds.get()));
      for (int j = 0; j < 2; ++j) {
        links.push_back(std::make_unique<RecordingLink>());
        links.back()->SetDataSource(sources.back().get());
      }
    }
    ds->Open();
    ds->Next();
    for (const auto& link : links) EXPECT_EQ(link->scrolls, 1);
  }

  class Remover : public RecordingLink {
   public:
    TDataLink* victim = nullptr;

   protected:
    void DataSetScrolled(int32_t distance) override {
      RecordingLink::DataSetScrolled(distance);
      if (victim) victim->SetDataSource(nullptr);
    }
  };
  auto ds = NumberedSet(5);
  TDataSource source(ds.get());
  Remover first;
  RecordingLink second;
  first.SetDataSource(&source);
  second.SetDataSource(&source);
  first.victim = &second;
  ds->Open();
  ds->Next();
  EXPECT_EQ(first.scrolls, 1);
  EXPECT_EQ(second.scrolls, 0);
  EXPECT_EQ(second.DataSource(), nullptr);
}
