// Search steps through a dataset opened shared and read-only, as the
// directory viewer opens its table: the prefix ranges give the rows the
// table holds, over more leaves than the reader keeps in memory, and another
// handle's appends (which split nodes and grow the index file) show in the
// next step, whether the index file's modification time is recent or has
// settled long ago, and so do its changes to records a step has shown. A
// table cut short underneath gives read errors for the rows it lost and
// goes on giving those it kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "dataset/Razuz6oz.h"
#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbsy.h"
#include "support/dbf_writer.h"
#include "support/error_text.h"
#include "support/temp_dir.h"

namespace {

constexpr int kRows = 25;

std::string Number(int n) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%07d", n);
  return buffer;
}

class SharedSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    DbfLayout layout;
    layout.fields = {{"NUM", 'C', 7}, {"FIO", 'C', 12}};
    // Scattered numbers, in no order: 4000 keys make a tree of three levels
    // with far more leaves than a reader keeps.
    for (int i = 0; i < 4000; ++i) {
      const std::string num = Number(static_cast<int>((i * 7919L) % 9000000) + 1000000);
      layout.rows.push_back({{num, "N" + num}});
      numbers_.push_back(num);
    }
    path_ = WriteDbf(dir_.File("PHONE.DBF"), layout);
    {
      GSO_dBHandler builder(path_, "", false, true);
      builder.OpenTable();
      builder.IndexOn("NUM.CDX", "NUM", "NUM", "", 1, 0);
    }
    Settle();
    reader_.SetDatabaseName(dir_.Path().string());
    reader_.SetTableName("PHONE.DBF");
    reader_.SetExclusive(false);
    reader_.SetReadOnly(true);
    reader_.Open();
    reader_.OpenIndexes("NUM.CDX", "NUM");
  }

  // The index file's modification time moves far into the past.
  void Settle() {
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::seconds(60);
    std::filesystem::last_write_time(dir_.File("NUM.CDX"), old);
  }

  // A viewer's search step: the range of the prefix, then up to 25 rows.
  std::vector<std::string> Step(const std::string& prefix) {
    reader_.SetRangeEx(prefix, prefix, true, true, true);
    std::vector<std::string> rows;
    while (!reader_.Eof() && static_cast<int>(rows.size()) < kRows) {
      const std::string num = reader_.FieldByName("NUM")->AsString();
      EXPECT_EQ(reader_.FieldByName("FIO")->AsString(), "N" + num);
      rows.push_back(num);
      reader_.Next();
    }
    return rows;
  }

  // The first 25 numbers of the table that begin with `prefix`.
  std::vector<std::string> Expected(const std::string& prefix) const {
    std::vector<std::string> all;
    for (const std::string& n : numbers_)
      if (n.compare(0, prefix.size(), prefix) == 0) all.push_back(n);
    std::sort(all.begin(), all.end());
    if (all.size() > kRows) all.resize(kRows);
    return all;
  }

  // Another handle appends records with the index file open.
  void Append(int first, int count) {
    GSO_dBHandler writer(path_, "", true, true);
    writer.OpenTable();
    ASSERT_EQ(writer.OpenIndexFile("NUM.CDX"), 0);
    for (int i = 0; i < count; ++i) {
      const std::string num = Number(first + i);
      writer.BlankRecord();
      writer.PutFieldTextByName("NUM", num);
      writer.PutFieldTextByName("FIO", "N" + num);
      writer.AppendRecord();
      numbers_.push_back(num);
    }
  }

  TempDir dir_;
  std::string path_;
  std::vector<std::string> numbers_;
  TDeridarDataSet reader_;
};

}  // namespace

TEST_F(SharedSearch, StepsOverScatteredPrefixesGiveTheTablesRows) {
  // Every prefix twice, far apart: the second time the nodes may come from
  // memory, and must still be the right ones.
  std::vector<std::string> prefixes;
  for (int i = 0; i < 300; ++i) prefixes.push_back(Number((i * 104729) % 9000000 + 1000000).substr(0, 1 + i % 4));
  for (int pass = 0; pass < 2; ++pass)
    for (const std::string& prefix : prefixes) ASSERT_EQ(Step(prefix), Expected(prefix)) << prefix;
  // A prefix before every key and one after them.
  EXPECT_TRUE(Step("0").empty());
  EXPECT_TRUE(Step("99999999").empty());
}

TEST_F(SharedSearch, AnotherHandlesAppendsShowInTheNextStep) {
  ASSERT_TRUE(reader_.Table()->RecordsViewed());
  const int64_t viewed = reader_.Table()->MappedSize();
  ASSERT_EQ(Step("555"), Expected("555"));
  // Enough keys in one place to split leaves and branches: the file grows
  // beyond what the reader knew of it.
  Append(5550000, 400);
  EXPECT_EQ(Step("555"), Expected("555"));
  EXPECT_EQ(Step("5550"), Expected("5550"));
  // The appended rows lay beyond the memory view of the table: it now
  // covers them.
  EXPECT_GT(reader_.Table()->MappedSize(), viewed);

  // The same once the file's modification time is old again, and after a
  // further append whose file time is set back at once.
  Settle();
  EXPECT_EQ(Step("5553"), Expected("5553"));
  Append(5554000, 300);
  Settle();
  EXPECT_EQ(Step("5554"), Expected("5554"));
  EXPECT_EQ(Step("5552"), Expected("5552"));
}

TEST_F(SharedSearch, RecordsRewrittenInPlaceShowTheirNewTextsInTheNextStep) {
  ASSERT_TRUE(reader_.Table()->RecordsViewed());  // rows come from the memory view
  const std::vector<std::string> shown = Step("31");
  ASSERT_FALSE(shown.empty());
  // Another handle renames the rows just shown; their keys stay.
  {
    GSO_dBHandler writer(path_, "", true, true);
    writer.OpenTable();
    EXPECT_FALSE(writer.RecordsViewed());  // a writable handle may hold appends back
    for (const std::string& num : shown) {
      const auto at = std::find(numbers_.begin(), numbers_.end(), num);
      const TRecNo n = static_cast<TRecNo>(at - numbers_.begin()) + 1;
      ASSERT_TRUE(writer.LockRecord(n));
      writer.ReadRecord(n);
      writer.PutFieldTextByName("FIO", "M" + num);
      writer.WriteRecord(n);
      writer.UnlockTable();
    }
  }
  // The same step reads every row anew: nothing of the first is kept.
  reader_.SetRangeEx("31", "31", true, true, true);
  std::vector<std::string> again;
  while (!reader_.Eof() && static_cast<int>(again.size()) < kRows) {
    const std::string num = reader_.FieldByName("NUM")->AsString();
    EXPECT_EQ(reader_.FieldByName("FIO")->AsString(), "M" + num);
    again.push_back(num);
    reader_.Next();
  }
  EXPECT_EQ(again, shown);
}

TEST_F(SharedSearch, TableCutShortByAnotherProgramGivesReadErrorsForTheRowsItLost) {
  ASSERT_EQ(Step("4"), Expected("4"));
  // A shorter edition copied over the table in place: its first 2000
  // records, the last of them cut in two.
  constexpr int kKept = 2000;
  std::vector<uint8_t> bytes = ReadBytes(path_);
  bytes.resize(static_cast<size_t>(reader_.Table()->HeaderLength()) + kKept * 20u - 5u);
  WriteBytes(path_, bytes);

  // The record of a key, and prefixes of shown rows that all lie before
  // the cut, or not all.
  auto record = [&](const std::string& num) {
    return static_cast<int>(std::find(numbers_.begin(), numbers_.end(), num) - numbers_.begin()) + 1;
  };
  auto kept = [&](const std::string& prefix) {
    for (const std::string& num : Expected(prefix))
      if (record(num) >= kKept) return false;
    return true;
  };
  std::string whole, lost;
  for (size_t i = 0; i < numbers_.size() && (whole.empty() || lost.empty()); i += 7) {
    const std::string prefix = numbers_[i].substr(0, 5);
    (kept(prefix) ? whole : lost) = prefix;
  }
  ASSERT_FALSE(whole.empty());
  ASSERT_FALSE(lost.empty());
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(ErrorOf([&] { Step(lost); }), FormatMessage(Msg::ReadError, {path_})) << lost;
    EXPECT_EQ(Step(whole), Expected(whole));
  }
}
