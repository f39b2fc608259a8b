// Key maintenance: inserts with splits, high-key propagation and root growth,
// deletes that unlink emptied nodes, unique tags, and bringing tags in step
// with appended and edited records, with and without FOR conditions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/table/gs6_dbf.h"
#include "support/dbf_writer.h"
#include "support/memory_index.h"
#include "support/temp_dir.h"

namespace {

using Entries = std::vector<std::pair<std::string, TRecNo>>;

GSobjIndexKeyData Probe(const std::string& text, int32_t link) {
  GSobjIndexKeyData e;
  e.SetText(text);
  e.SetLink(static_cast<uint32_t>(link));
  return e;
}

std::string KeyOf(int i) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "K%04d", i);
  return buffer;
}

enum class Order { Ascending, Descending, Random };

class InsertOrder : public ::testing::TestWithParam<Order> {};

}  // namespace

TEST_P(InsertOrder, TreeStaysSoundAndRootStaysPut) {
  TestIndexOwner owner(nullptr);
  MemoryIndexFile file(&owner, 3, true);
  MemoryIndexTag* tag = file.NewTag("T");
  const int32_t root = tag->RootAddress();
  std::vector<int> values(150);
  for (int i = 0; i < 150; ++i) values[i] = i;
  if (GetParam() == Order::Descending) std::reverse(values.begin(), values.end());
  if (GetParam() == Order::Random) std::shuffle(values.begin(), values.end(), std::mt19937(9));
  Entries expected;
  for (size_t i = 0; i < values.size(); ++i) {
    const std::string key = KeyOf(values[i] / 2);  // every key twice
    const TRecNo rec = static_cast<TRecNo>(i + 1);
    ASSERT_TRUE(tag->Insert(key, rec));
    EXPECT_EQ(tag->CurrentRecord(), rec) << "positioned on the new entry";
    expected.emplace_back(key, rec);
    ASSERT_EQ(CheckTree(file, *tag), "") << "after inserting " << key;
    ASSERT_EQ(tag->RootAddress(), root);
    ASSERT_EQ(tag->ReadRootAddress(), root);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(LeafEntries(file, *tag), expected);
  EXPECT_GE(TreeDepth(file, *tag), 5);
}

INSTANTIATE_TEST_SUITE_P(AllOrders, InsertOrder,
                         ::testing::Values(Order::Ascending, Order::Descending, Order::Random),
                         [](const auto& info) {
                           return info.param == Order::Ascending    ? std::string("Ascending")
                                  : info.param == Order::Descending ? std::string("Descending")
                                                                    : std::string("Random");
                         });

TEST(IndexMaintenance, InsertReportsEdgesOfTheNewEntry) {
  TestIndexOwner owner(nullptr);
  MemoryIndexFile file(&owner, 3, true);
  MemoryIndexTag* tag = file.NewTag("T");
  for (int i = 0; i < 10; ++i) tag->Insert(KeyOf(10 + i), i + 1);
  ASSERT_TRUE(tag->Insert(KeyOf(0), 20));
  EXPECT_TRUE(tag->AtTop());
  EXPECT_FALSE(tag->AtEnd());
  ASSERT_TRUE(tag->Insert(KeyOf(99), 21));
  EXPECT_TRUE(tag->AtEnd());
  EXPECT_EQ(tag->CurrentRecord(), 21);
  ASSERT_TRUE(tag->Insert(KeyOf(15), 22));
  EXPECT_FALSE(tag->AtTop());
  EXPECT_FALSE(tag->AtEnd());
}

TEST(IndexMaintenance, DeletesPropagateHighKeysAndUnlinkEmptiedNodes) {
  TestIndexOwner owner(nullptr);
  owner.exact = true;
  MemoryIndexFile file(&owner, 3, true);
  MemoryIndexTag* tag = file.NewTag("T");
  Entries present;
  for (int i = 0; i < 90; ++i) {
    tag->Insert(KeyOf(i % 45), i + 1);
    present.emplace_back(KeyOf(i % 45), i + 1);
  }
  std::shuffle(present.begin(), present.end(), std::mt19937(4));
  const int32_t root = tag->RootAddress();
  while (!present.empty()) {
    const auto victim = present.back();
    present.pop_back();
    ASSERT_EQ(tag->SeekKey(Probe(victim.first, victim.second)), victim.second);
    tag->RootImage()->DeleteEntry();
    tag->ReleasePages();
    ASSERT_EQ(CheckTree(file, *tag), "") << "after deleting " << victim.first << "/" << victim.second;
    Entries expected = present;
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(LeafEntries(file, *tag), expected);
  }
  EXPECT_EQ(tag->RootAddress(), root);
  EXPECT_EQ(tag->MoveTo(GotoFirst), 0);
  // The emptied root takes keys again.
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(tag->Insert(KeyOf(20 - i), i + 1));
  EXPECT_EQ(CheckTree(file, *tag), "");
  EXPECT_EQ(LeafEntries(file, *tag).size(), 20u);
}

TEST(IndexMaintenance, UniqueTagRefusesAnExistingKeyAndNoTagTakesARecordTwice) {
  TestIndexOwner owner(nullptr);
  MemoryIndexFile file(&owner, 3, true);
  MemoryIndexTag* tag = file.NewTag("U", true);
  EXPECT_TRUE(tag->Insert("A", 1));
  EXPECT_TRUE(tag->Insert("B", 2));
  const int writes = file.nodeWrites;
  EXPECT_FALSE(tag->Insert("A", 3));
  EXPECT_FALSE(tag->Insert("A  ", 4));
  EXPECT_EQ(file.nodeWrites, writes);
  EXPECT_EQ(LeafEntries(file, *tag), (Entries{{"A", 1}, {"B", 2}}));
  MemoryIndexTag* plain = file.NewTag("T");
  EXPECT_TRUE(plain->Insert("A", 1));
  EXPECT_FALSE(plain->Insert("A", 1));
  EXPECT_EQ(LeafEntries(file, *plain).size(), 1u);
}

TEST(IndexMaintenance, WithoutRecordOrderEqualKeysGoAfterAndSeekScansThem) {
  TestIndexOwner owner(nullptr);
  owner.exact = true;
  MemoryIndexFile file(&owner, 3, false);
  MemoryIndexTag* tag = file.NewTag("T");
  for (TRecNo r : {9, 4, 7, 1, 8, 2}) tag->Insert("SAME", r);
  tag->Insert("ABC", 5);
  EXPECT_EQ(LeafEntries(file, *tag),
            (Entries{{"ABC", 5}, {"SAME", 9}, {"SAME", 4}, {"SAME", 7}, {"SAME", 1}, {"SAME", 8},
                     {"SAME", 2}}));
  EXPECT_EQ(CheckTree(file, *tag), "");
  EXPECT_EQ(tag->SeekKey(Probe("SAME", 8)), 8);
  EXPECT_EQ(tag->SeekKey(Probe("SAME", -1)), 9);
}

// --- Records: appended and edited ------------------------------------------

namespace {

class RecordKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    DbfLayout layout;
    layout.fields = {{"NAME", 'C', 8, 0}, {"KIND", 'C', 1, 0}};
    const char* names[] = {"PETROV", "IVANOV", "SIDOROV", "ABRAMOV", "KOZLOV", "IVANOV"};
    const char* kinds[] = {"Y", "N", "Y", "Y", "N", "Y"};
    for (int i = 0; i < 6; ++i) layout.rows.push_back({{names[i], kinds[i]}, false});
    path_ = WriteDbf(dir_.File("PEOPLE.DBF"), layout);
    table_ = std::make_unique<GSO_dBaseDBF>(path_, "", false, true);
    table_->OpenTable();
    owner_ = std::make_unique<TestIndexOwner>(table_.get());
    owner_->exact = true;
    file_ = std::make_unique<MemoryIndexFile>(owner_.get(), 3, true);
  }

  MemoryIndexTag* AddTag(const std::string& key, const std::string& forExpr, bool unique = false) {
    file_->AddTag("T" + std::to_string(file_->TagCount()), key, unique, true, forExpr);
    return file_->Tag(file_->TagCount() - 1);
  }

  // Enters every record as if it had just been appended.
  void AppendAll(MemoryIndexTag* tag) {
    for (TRecNo n = 1; n <= table_->RecordCount(); ++n) {
      table_->ReadRecord(n);
      table_->SetRecordChanged(true);
      tag->UpdateRecordKey(n, true);
    }
  }

  // Reads record n, changes one field in the buffer, updates the tag, and
  // writes the record.
  bool Edit(MemoryIndexTag* tag, TRecNo n, int offset, const std::string& value) {
    table_->ReadRecord(n);
    std::memcpy(table_->CurrentRecord() + offset, value.data(), value.size());
    table_->SetRecordChanged(true);
    const bool changed = tag->UpdateRecordKey(n, false);
    table_->WriteRecord(n);
    return changed;
  }

  TempDir dir_;
  std::string path_;
  std::unique_ptr<GSO_dBaseDBF> table_;
  std::unique_ptr<TestIndexOwner> owner_;
  std::unique_ptr<MemoryIndexFile> file_;
};

constexpr int kNameOffset = 1;
constexpr int kKindOffset = 9;

}  // namespace

TEST_F(RecordKeys, AppendedRecordsEnterTheirKeys) {
  MemoryIndexTag* tag = AddTag("NAME", "");
  AppendAll(tag);
  EXPECT_EQ(LeafEntries(*file_, *tag),
            (Entries{{"ABRAMOV", 4}, {"IVANOV", 2}, {"IVANOV", 6}, {"KOZLOV", 5}, {"PETROV", 1},
                     {"SIDOROV", 3}}));
  EXPECT_EQ(tag->LoadedLevels(), 0) << "chain released after maintenance";
}

TEST_F(RecordKeys, EditKeepingKeyAndForResultChangesNothing) {
  MemoryIndexTag* tag = AddTag("NAME", "");
  AppendAll(tag);
  const int writes = file_->nodeWrites;
  EXPECT_FALSE(Edit(tag, 3, kKindOffset, "N"));
  EXPECT_EQ(file_->nodeWrites, writes);
  // No FOR condition and the record not changed: nothing to do at all.
  table_->ReadRecord(3);
  table_->SetRecordChanged(false);
  EXPECT_FALSE(tag->UpdateRecordKey(3, false));
}

TEST_F(RecordKeys, ForConditionDecidesMembership) {
  MemoryIndexTag* tag = AddTag("NAME", "KIND = \"Y\"");
  ASSERT_TRUE(tag->HasFor());
  AppendAll(tag);
  EXPECT_EQ(LeafEntries(*file_, *tag),
            (Entries{{"ABRAMOV", 4}, {"IVANOV", 6}, {"PETROV", 1}, {"SIDOROV", 3}}));
  // Fails the condition now: the entry goes.
  EXPECT_TRUE(Edit(tag, 1, kKindOffset, "N"));
  EXPECT_EQ(LeafEntries(*file_, *tag).size(), 3u);
  // Passes for the first time: the entry comes.
  EXPECT_TRUE(Edit(tag, 5, kKindOffset, "Y"));
  EXPECT_EQ(LeafEntries(*file_, *tag),
            (Entries{{"ABRAMOV", 4}, {"IVANOV", 6}, {"KOZLOV", 5}, {"SIDOROV", 3}}));
  // Same key, still passing: untouched.
  EXPECT_FALSE(Edit(tag, 5, kKindOffset, "Y"));
  // Key changed while passing: moved, the old entry gone.
  EXPECT_TRUE(Edit(tag, 5, kNameOffset, "AAAAAAAA"));
  EXPECT_EQ(LeafEntries(*file_, *tag),
            (Entries{{"AAAAAAAA", 5}, {"ABRAMOV", 4}, {"IVANOV", 6}, {"SIDOROV", 3}}));
  EXPECT_EQ(CheckTree(*file_, *tag), "");
}

TEST_F(RecordKeys, EditOutsideTheActiveRangeStillMovesTheEntry) {
  MemoryIndexTag* tag = AddTag("NAME", "");
  AppendAll(tag);
  TgsVariant low, high;
  low.SetText("A");
  high.SetText("B");
  tag->SetRange(&low, true, &high, true, false);
  EXPECT_TRUE(Edit(tag, 3, kNameOffset, "ZUEV    "));
  EXPECT_GT(tag->LoadedLevels(), 0) << "a loaded chain stays loaded";
  file_->ReleaseTags();
  const Entries entries = LeafEntries(*file_, *tag);
  EXPECT_EQ(entries.back(), (std::pair<std::string, TRecNo>{"ZUEV", 3}));
  EXPECT_EQ(entries.size(), 6u);
}

TEST_F(RecordKeys, UpdateKeysCoversEveryTagAndResetsTheAllocator) {
  MemoryIndexTag* byName = AddTag("NAME", "");
  MemoryIndexTag* byKind = AddTag("KIND", "");
  AppendAll(byName);
  AppendAll(byKind);
  file_->SetNextFreePage(12345);
  table_->ReadRecord(2);
  std::memcpy(table_->CurrentRecord() + kKindOffset, "Y", 1);
  table_->SetRecordChanged(true);
  EXPECT_TRUE(file_->UpdateKeys(2, false));
  EXPECT_LT(file_->NextFreePage(), 12345);
  EXPECT_TRUE(byKind->KeysChanged());
  EXPECT_FALSE(byName->KeysChanged());
}

TEST_F(RecordKeys, SyncFindsTheTableRecordsEntry) {
  MemoryIndexTag* tag = AddTag("NAME", "");
  AppendAll(tag);
  table_->ReadRecord(6);
  EXPECT_EQ(tag->SyncToRecord(6), 6);
  EXPECT_EQ(tag->MoveTo(GotoPrevious), 2);  // the other IVANOV
  EXPECT_EQ(tag->MoveTo(GotoNext), 6);
  EXPECT_EQ(tag->MoveTo(GotoNext), 5);
}

// Random inserts and deletes against a sorted reference, with the tree
// checked after every step, for each way a file can order its entries.
struct RandomMix {
  bool byRecord;
  bool descending;
};

class RandomMaintenance : public ::testing::TestWithParam<RandomMix> {};

TEST_P(RandomMaintenance, MatchesAReferenceAfterEveryStep) {
  const RandomMix mix = GetParam();
  TestIndexOwner owner(nullptr);
  owner.exact = true;
  MemoryIndexFile file(&owner, 3, mix.byRecord);
  MemoryIndexTag* tag = file.NewTag("T");
  tag->SetDescendingCompare(mix.descending);
  std::mt19937 rng(mix.byRecord * 2 + mix.descending + 77);
  Entries present;  // in stored order
  TRecNo nextRec = 1;
  for (int step = 0; step < 400; ++step) {
    const bool remove = !present.empty() && rng() % 3 == 0;
    if (remove) {
      const auto victim = present[rng() % present.size()];
      ASSERT_EQ(tag->SeekKey(Probe(victim.first, victim.second)), victim.second) << step;
      tag->RootImage()->DeleteEntry();
      tag->ReleasePages();
      present.erase(std::find(present.begin(), present.end(), victim));
    } else {
      const std::string key = KeyOf(static_cast<int>(rng() % 40));
      const TRecNo rec = nextRec++;
      ASSERT_TRUE(tag->Insert(key, rec));
      // Equal keys: by record number, or in insertion order otherwise.
      auto at = std::find_if(present.begin(), present.end(), [&](const auto& e) {
        const int c = e.first.compare(key);
        return mix.descending ? c < 0 : c > 0;
      });
      present.insert(at, {key, rec});
    }
    ASSERT_EQ(CheckTree(file, *tag), "") << "step " << step;
    ASSERT_EQ(LeafEntries(file, *tag), present) << "step " << step;
  }
  Entries walked;
  for (TRecNo r = tag->MoveTo(GotoFirst); r != 0; r = tag->MoveTo(GotoNext))
    walked.emplace_back(tag->CurrentKey().AsText(), r);
  EXPECT_EQ(walked, present);
}

INSTANTIATE_TEST_SUITE_P(AllOrders, RandomMaintenance,
                         ::testing::Values(RandomMix{true, false}, RandomMix{false, false},
                                           RandomMix{true, true}, RandomMix{false, true}),
                         [](const auto& info) {
                           return std::string(info.param.byRecord ? "ByRecord" : "Inserted") +
                                  (info.param.descending ? "Descending" : "Ascending");
                         });

TEST(IndexMaintenance, WalkingOnPastUnwrittenInsertsSeesEveryKeyOnce) {
  // Inserts while updating stay in the loaded chain; stepping into another
  // leaf writes (and splits) the changed one under a parent that is still
  // being walked.
  TestIndexOwner owner(nullptr);
  MemoryIndexFile file(&owner, 3, true);
  MemoryIndexTag* tag = file.NewTag("T");
  for (int i = 0; i < 30; ++i) tag->Insert(KeyOf(2 * i), i + 1);
  tag->MoveTo(GotoFirst);
  tag->SetUpdating(true);
  ASSERT_TRUE(tag->Insert(KeyOf(1), 100));
  ASSERT_TRUE(tag->Insert(KeyOf(3), 101));
  ASSERT_TRUE(tag->Insert(KeyOf(5), 102));
  tag->SetUpdating(false);
  ASSERT_EQ(tag->CurrentRecord(), 102);
  std::vector<std::string> rest;
  while (tag->MoveTo(GotoNext) != 0) rest.push_back(tag->CurrentKey().AsText());
  std::vector<std::string> expected;
  for (int i = 3; i < 30; ++i) expected.push_back(KeyOf(2 * i));
  EXPECT_EQ(rest, expected);
  tag->ReleasePages();
  EXPECT_EQ(CheckTree(file, *tag), "");
  EXPECT_EQ(LeafEntries(file, *tag).size(), 33u);
}
