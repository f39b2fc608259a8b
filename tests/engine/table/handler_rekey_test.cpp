// Table handler: re-keying an enciphered table (records, descriptors and
// memo texts) and the refusal on shared tables.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/support/gs6_glbl.h"
#include "support/error_text.h"
#include "engine/table/gs6_dbsy.h"
#include "support/dbf_writer.h"
#include "support/memo_files.h"
#include "support/temp_dir.h"

namespace {

DbfLayout People() {
  DbfLayout layout;
  layout.fields = {{"ID", 'N', 4}, {"NAME", 'C', 12}};
  for (int i = 1; i <= 5; ++i) layout.rows.push_back({{std::to_string(i), "PERSON" + std::to_string(i)}});
  return layout;
}

std::unique_ptr<GSO_dBHandler> Open(const std::string& path, const std::string& key = "",
                                    bool shared = false) {
  auto table = std::make_unique<GSO_dBHandler>(path, key, shared, true);
  table->OpenTable();
  return table;
}

std::vector<std::string> Names(GSO_dBHandler& table) {
  std::vector<std::string> names;
  for (table.ReadRecord(GotoFirst); !table.Eof(); table.ReadRecord(GotoNext))
    names.push_back(table.GetDisplayText(2));
  return names;
}

}  // namespace

TEST(HandlerRekey, ASharedTableIsRefused) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), People());
  auto table = Open(path, "", true);
  EXPECT_EQ(ErrorOf<EDeridarError>([&] { table->SetPassword("secret"); }),
            "SetPassword requires full access to file " + table->FileName());
  EXPECT_FALSE(table->Encrypted());
}

TEST(HandlerRekey, EncipheringAndDecipheringKeepEveryRecord) {
  TempDir dir;
  std::string path = WriteDbf(dir.File("T.DBF"), People());
  const std::vector<uint8_t> plain = ReadBytes(path);
  std::vector<std::string> expected;
  {
    auto table = Open(path);
    expected = Names(*table);
    table->ReadRecord(3);
    table->SetPassword("secret");
    EXPECT_EQ(table->RecNumber(), 3);
  }
  std::vector<uint8_t> enciphered = ReadBytes(path);
  ASSERT_EQ(enciphered.size(), plain.size());
  EXPECT_NE(enciphered, plain);
  EXPECT_EQ(ErrorOf<EDeridarEncryption>([&] { Open(path); }),
            "No Password for encrypted file " + dir.File("T.DBF"));
  {
    auto table = Open(path, "secret");
    EXPECT_EQ(Names(*table), expected);
    table->SetPassword("another");
  }
  {
    auto table = Open(path, "another");
    EXPECT_EQ(Names(*table), expected);
    table->SetPassword("");
  }
  std::vector<uint8_t> back = ReadBytes(path);
  // Everything but the header's date, stamp and flag is as before.
  EXPECT_TRUE(std::equal(back.begin() + 32, back.end(), plain.begin() + 32));
  EXPECT_EQ(back[15], 0);
}

TEST(HandlerRekey, MemoTextsFollowTheNewKey) {
  TempDir dir;
  MemoFileBuilder memo(MemoLayout::Db4);
  int32_t first = memo.Add("first memo text");
  int32_t second = memo.Add(std::string(700, 'x'));
  memo.Save(dir.File("M.dbt"));
  DbfLayout layout;
  layout.version = 0x8B;
  layout.fields = {{"ID", 'N', 3}, {"NOTE", 'M', 10}};
  layout.rows = {{{"1", std::to_string(first)}}, {{"2", ""}}, {{"3", std::to_string(second)}}};
  std::string path = WriteDbf(dir.File("M.DBF"), layout);
  {
    auto table = Open(path);
    table->SetPassword("memo key");
  }
  auto table = Open(path, "memo key");
  table->ReadRecord(1);
  EXPECT_EQ(table->ReadMemo(2), "first memo text");
  table->ReadRecord(3);
  EXPECT_EQ(table->ReadMemo(2), std::string(700, 'x'));
}

namespace {

// A dBase III table (version 0x83) whose memos are given as texts; a text of
// "" leaves the record's memo field blank.
std::string WriteDb3MemoTable(TempDir& dir, const std::vector<std::string>& texts) {
  MemoFileBuilder memo(MemoLayout::Db3);
  DbfLayout layout;
  layout.version = 0x83;
  layout.fields = {{"ID", 'N', 3}, {"NOTE", 'M', 10}};
  int id = 0;
  for (const std::string& text : texts) {
    std::string block = text.empty() ? "" : std::to_string(memo.Add(text));
    layout.rows.push_back({{std::to_string(++id), block}});
  }
  memo.Save(dir.File("D3.dbt"));
  return WriteDbf(dir.File("D3.DBF"), layout);
}

// Every record's memo text, in record order.
std::vector<std::string> MemoTexts(GSO_dBHandler& table) {
  std::vector<std::string> texts;
  for (TRecNo n = 1; n <= table.RecordCount(); ++n) {
    table.ReadRecord(n);
    texts.push_back(table.ReadMemo(2));
  }
  return texts;
}

}  // namespace

TEST(HandlerRekey, DbaseIIIMemosSurviveGainingAndLosingAPassword) {
  TempDir dir;
  // 510 bytes fill a plain block exactly with the two end marks; enciphered,
  // the 4-byte length prefix pushes the text into a second block. The memos
  // after it show whether a rewrite spilled over its neighbour.
  const std::vector<std::string> texts = {
      "short memo",       std::string(510, 'a'), "",
      CyrillicText(700, 1), CyrillicText(1500, 2), std::string(1, 'z'),
      CyrillicText(508, 3)};
  std::string path = WriteDb3MemoTable(dir, texts);
  // Gaining a password, losing it again on the memos the first round
  // rewrote, and going from one password straight to another.
  const char* const rounds[][2] = {{"", "d3 key"}, {"d3 key", ""}, {"", "second"}, {"second", "third"}};
  for (const auto& [before, after] : rounds) {
    SCOPED_TRACE(std::string(before) + " -> " + after);
    auto table = Open(path, before);
    table->SetPassword(after);
    EXPECT_EQ(MemoTexts(*table), texts);
  }
  auto table = Open(path, "third");
  EXPECT_EQ(MemoTexts(*table), texts);
}
