// The table and its memo file together: which memo object a table version
// opens, memo references in records, renaming and flushing with the table,
// and sample tables with memos made by other programs.
#include <gtest/gtest.h>

#include <string>

#include "engine/support/gs6_glbl.h"
#include "support/error_text.h"
#include "engine/table/gs6_dbf.h"
#include "engine/table/gs6_dbf_field.h"
#include "engine/table/gs6_memo.h"
#include "platform/file.h"
#include "support/dbf_writer.h"
#include "support/memo_files.h"
#include "support/temp_dir.h"

namespace {

// A table of the given version with fields ID N(4) and NOTES M, one record
// per memo block given, and a memo file beside it holding `texts`.
std::string WriteTableWithMemos(const TempDir& dir, uint8_t version,
                                const std::vector<std::string>& texts, int32_t foxBlockSize = 64) {
  bool fox = version == 0x30 || version == 0xF5;
  MemoLayout layout = fox ? MemoLayout::Fox : version == 0x8B ? MemoLayout::Db4 : MemoLayout::Db3;
  MemoFileBuilder memo(layout, fox ? foxBlockSize : 512);
  DbfLayout table;
  table.version = version;
  table.flags = version == 0x30 ? 0x02 : 0x00;
  table.fields = {{"ID", 'N', 4, 0}, {"NOTES", 'M', version == 0x30 ? 4 : 10, 0}};
  int id = 0;
  for (const std::string& text : texts) {
    int32_t block = text.empty() ? 0 : memo.Add(text);
    std::string ref;
    if (version == 0x30) {
      std::vector<uint8_t> bytes = LE32(static_cast<uint32_t>(block));
      ref.assign(bytes.begin(), bytes.end());
    } else if (block != 0) {
      ref = std::string(10 - std::to_string(block).size(), ' ') + std::to_string(block);
    }
    table.rows.push_back({{std::to_string(++id), ref}});
  }
  memo.Save(dir.File(fox ? "t.fpt" : "t.dbt"));
  return WriteDbf(dir.File("t.dbf"), table);
}

// The memo texts of field `field` of every record, read through the table.
std::vector<std::string> MemoTexts(GSO_dBaseDBF& table, int32_t field) {
  std::vector<std::string> texts;
  for (TRecNo n = 1; n <= table.RecordCount(); ++n) {
    table.ReadRecord(n);
    int32_t block = MemoBlockOfField(table, field);
    texts.push_back(block == 0 ? std::string() : table.OpenMemoFile()->ReadMemo(block));
  }
  return texts;
}

}  // namespace

TEST(MemoTable, EachVersionReadsItsOwnMemoLayout) {
  const std::vector<std::string> texts = {CyrillicText(300, 1), "", CyrillicText(1023, 2)};
  for (uint8_t version : {uint8_t{0x83}, uint8_t{0x8B}, uint8_t{0xF5}, uint8_t{0x30}}) {
    SCOPED_TRACE(static_cast<int>(version));
    TempDir dir;
    std::string path = WriteTableWithMemos(dir, version, texts);
    GSO_dBaseDBF table(path, "", false, false);
    table.OpenTable();
    ASSERT_NE(table.OpenMemoFile(), nullptr);
    EXPECT_EQ(table.OpenMemoFile()->Version(), version);
    EXPECT_EQ(MemoTexts(table, 2), texts);
  }
}

TEST(MemoTable, VersionThirtyWithMemoFieldsFindsItsMemoFileWithoutTheMemoFlag) {
  TempDir dir;
  const std::vector<std::string> texts = {"text", "", CyrillicText(700, 3)};
  std::string path = WriteTableWithMemos(dir, 0x30, texts);
  PatchFile(path, 28, {0x00});
  {
    GSO_dBaseFld fox(path, "", false, true);
    fox.OpenTable();
    ASSERT_NE(fox.OpenMemoFile(), nullptr);
    EXPECT_EQ(MemoTexts(fox, 2), texts);
    fox.ReadRecord(1);
    fox.PutValueFromText(2, "changed");
    fox.WriteRecord(1);
  }
  // The flag byte is written back as it was found.
  EXPECT_EQ(ReadBytes(path)[28], 0x00);
  // Without memo fields there is nothing to open.
  DbfLayout plain;
  plain.version = 0x30;
  plain.fields = {{"ID", 'N', 4}};
  GSO_dBaseDBF table(WriteDbf(dir.File("plain.dbf"), plain), "", false, false);
  table.OpenTable();
  EXPECT_EQ(table.OpenMemoFile(), nullptr);
}

TEST(MemoTable, MissingMemoFileIsReportedByItsName) {
  TempDir dir;
  std::string path = WriteTableWithMemos(dir, 0x83, {"text"});
  platform::RemoveFile(dir.File("t.dbt"));
  GSO_dBaseDBF table(path, "", false, false);
  table.OpenTable();
  EXPECT_EQ(ErrorOf([&] { table.OpenMemoFile(); }), FormatMessage(Msg::FileNotFound, {dir.File("t.dbt")}));
}

TEST(MemoTable, WrittenMemoReferenceSurvivesReopen) {
  TempDir dir;
  std::string path = WriteTableWithMemos(dir, 0x30, {"old", ""});
  {
    GSO_dBaseDBF table(path, "", false, true);
    table.OpenTable();
    table.ReadRecord(2);
    GSobjMemo* memo = table.OpenMemoFile();
    int32_t block = memo->WriteMemo(CyrillicText(200, 9), MemoBlockOfField(table, 2));
    SetMemoBlockOfField(table, 2, block);
    table.WriteRecord(2);
    table.FlushTable();
  }
  GSO_dBaseDBF table(path, "", false, false);
  table.OpenTable();
  EXPECT_EQ(MemoTexts(table, 2), (std::vector<std::string>{"old", CyrillicText(200, 9)}));
}

TEST(MemoTable, RenameTakesTheMemoFileAlong) {
  TempDir dir;
  std::string path = WriteTableWithMemos(dir, 0x83, {"first", "second"});
  GSO_dBaseDBF table(path, "", false, true);
  table.OpenTable();
  table.RenameTable(dir.File("renamed"));
  EXPECT_FALSE(platform::FileExists(dir.File("t.dbt")));
  EXPECT_EQ(MemoTexts(table, 2), (std::vector<std::string>{"first", "second"}));
  std::vector<uint8_t> header = ReadBytes(dir.File("renamed.dbt"));
  EXPECT_EQ(std::string(header.begin() + 8, header.begin() + 15), "renamed");
}

TEST(MemoTable, LockProtocolOfTheTableReachesItsMemo) {
  TempDir dir;
  std::string path = WriteTableWithMemos(dir, 0xF5, {"x"});
  GSO_dBaseDBF table(path, "", true, true);
  table.OpenTable();
  table.OpenMemoFile();
  table.SetLockProtocol(TgsLokProtocol::DB4Lock);
  EXPECT_EQ(table.OpenMemoFile()->LockProtocol(), TgsLokProtocol::DB4Lock);
}

// Sample tables made by other programs (see the samples' PROVENANCE.txt).
TEST(MemoTable, SampleTablesReadTheirMemos) {
  const std::string samples = std::string(DERIDAR_SAMPLES_DIR) + "/dbd-xbase/";
  GSO_dBaseDBF db3(samples + "test.dbf", "", true, false);
  db3.OpenTable();
  ASSERT_EQ(db3.RecordCount(), 3);
  EXPECT_EQ(MemoTexts(db3, 3), (std::vector<std::string>{"This is a memo for record no one",
                                                         "This is a memo for record 2",
                                                         "This is a memo for record 3"}));
  // A Visual FoxPro table whose memo file has an upper-case extension.
  GSO_dBaseDBF fox(samples + "afox5.dbf", "", true, false);
  fox.OpenTable();
  ASSERT_EQ(fox.RecordCount(), 2);
  EXPECT_EQ(fox.OpenMemoFile()->BlockSize(), 64);
  EXPECT_EQ(MemoTexts(fox, 4), (std::vector<std::string>{"first desc.", "second desc."}));
  EXPECT_EQ(MemoTexts(fox, 5), (std::vector<std::string>{"first mess.", "second mess."}));
}
