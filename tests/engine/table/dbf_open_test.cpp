// Opening table files: every accepted version, descriptors, record count
// from the file size, and refusal of damaged or impossible headers (random
// damage is the table fuzz target's work).
#include <gtest/gtest.h>

#include <cstring>

#include "engine/support/gs6_glbl.h"
#include "support/error_text.h"
#include "engine/table/gs6_dbf.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"

namespace {

DbfLayout PhoneLayout(uint8_t version, int rows) {
  DbfLayout layout;
  layout.version = version;
  layout.fields = {{"NUM", 'C', 7}, {"FIO", 'C', 35}, {"ADR", 'C', 35}, {"TIP", 'N', 1}};
  for (int i = 1; i <= rows; ++i)
    layout.rows.push_back({{std::to_string(2000000 + i), "NAME " + std::to_string(i), "STREET", "1"}});
  return layout;
}

std::unique_ptr<GSO_dBaseDBF> OpenTable(const std::string& path, bool shared = true,
                                        bool readWrite = false, const std::string& password = "") {
  auto table = std::make_unique<GSO_dBaseDBF>(path, password, shared, readWrite);
  table->OpenTable();
  return table;
}

std::string OpenError(const std::string& path) {
  return ErrorOf([&] { OpenTable(path); });
}

std::string Record(const GSO_dBaseDBF& table) {
  return std::string(table.CurrentRecord(), static_cast<size_t>(table.RecordLength()));
}

}  // namespace

class DbfVersions : public ::testing::TestWithParam<uint8_t> {};

TEST_P(DbfVersions, HeaderDescriptorsAndRecordsAreFound) {
  TempDir dir;
  uint8_t version = GetParam();
  DbfLayout layout = PhoneLayout(version, 3);
  std::string path = WriteDbf(dir.File("PHONE.DBF"), layout);
  auto table = OpenTable(path);
  EXPECT_EQ(table->Version(), version);
  EXPECT_EQ(table->HeaderLength(), version == 0x30 ? 32 + 4 * 32 + 1 + 263 : 32 + 4 * 32 + 1);
  EXPECT_EQ(table->RecordLength(), 79);
  EXPECT_EQ(table->FieldCount(), 4);
  EXPECT_EQ(table->RecordCount(), 3);

  const uint8_t* tip = table->FieldDescriptor(4);
  ASSERT_NE(tip, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(tip), "TIP");
  EXPECT_EQ(tip[11], 'N');
  EXPECT_EQ(tip[12], 78);  // offset of the last field in the record
  EXPECT_EQ(tip[26], 4);   // field number
  EXPECT_EQ(table->FieldDescriptor(5), nullptr);

  table->ReadRecord(2);
  EXPECT_EQ(Record(*table), RecordImage(layout, layout.rows[1]));
}

INSTANTIATE_TEST_SUITE_P(EveryAcceptedVersion, DbfVersions,
                         ::testing::Values(0x03, 0x04, 0x30, 0x83, 0x8B, 0xF5));

TEST(DbfTable, MemoFlagFollowsTheVersion) {
  TempDir dir;
  struct Case {
    uint8_t version;
    uint8_t flags;
    bool hasMemo;
  } cases[] = {{0x03, 0, false}, {0x83, 0, true}, {0xF5, 0, true},
               {0x30, 0, false}, {0x30, 2, true}, {0x30, 0x0F, true}};
  for (const Case& c : cases) {
    DbfLayout layout = PhoneLayout(c.version, 1);
    layout.flags = c.flags;
    auto table = OpenTable(WriteDbf(dir.File("T.DBF"), layout));
    EXPECT_EQ(table->HasMemo(), c.hasMemo) << int(c.version) << "/" << int(c.flags);
    EXPECT_EQ(table->FlagBits(), c.flags & 7);
  }
}

TEST(DbfTable, NameWithoutExtensionGetsDbf) {
  TempDir dir;
  WriteDbf(dir.File("phone.DBF"), PhoneLayout(0x03, 1));
  auto table = OpenTable(dir.File("phone"));
  EXPECT_EQ(table->FileName(), dir.File("phone.DBF"));
  EXPECT_EQ(table->TableName(), "PHONE");
}

// The count comes from the file size: the header's count is not trusted and
// a partial last record is not counted.
TEST(DbfTable, RecordCountComesFromTheFileSize) {
  TempDir dir;
  DbfLayout layout = PhoneLayout(0x03, 4);
  layout.headerCount = 1000;
  EXPECT_EQ(OpenTable(WriteDbf(dir.File("T.DBF"), layout))->RecordCount(), 4);
  layout.headerCount = 1;
  layout.endMark = false;
  layout.trailing = std::string(50, 'x');
  auto table = OpenTable(WriteDbf(dir.File("U.DBF"), layout));
  EXPECT_EQ(table->RecordCount(), 4);
  table->ReadRecord(GotoLast);
  EXPECT_EQ(table->RecNumber(), 4);
}

TEST(DbfTable, UnknownVersionIsRefused) {
  TempDir dir;
  for (uint8_t version : {0x00, 0x05, 0xFF}) {
    std::string path = WriteDbf(dir.File("T.DBF"), PhoneLayout(version, 1));
    EXPECT_EQ(OpenError(path), FormatMessage(Msg::TableHeaderInvalid, {path})) << int(version);
  }
}

TEST(DbfTable, ImpossibleLengthsAreRefusedWithTheFileName) {
  TempDir dir;
  std::string path = dir.File("T.DBF");
  std::string invalid = FormatMessage(Msg::TableHeaderInvalid, {path});
  auto refuse = [&](DbfLayout layout, const char* what) {
    WriteDbf(path, layout);
    EXPECT_EQ(OpenError(path), invalid) << what;
  };
  DbfLayout layout = PhoneLayout(0x03, 2);

  DbfLayout noArea = layout;
  noArea.headerLength = 33;
  refuse(noArea, "header with no descriptor");
  DbfLayout vfp = PhoneLayout(0x30, 2);
  vfp.headerLength = 32 + 4 * 32 + 1;  // the 263-byte area is missing
  refuse(vfp, "0x30 header without its extra area");
  DbfLayout zero = layout;
  zero.recordLength = 0;
  refuse(zero, "record length 0");
  DbfLayout shortRecord = layout;
  shortRecord.recordLength = 40;  // fields reach beyond the record
  refuse(shortRecord, "fields longer than the record");
  DbfLayout beyond = layout;
  beyond.headerLength = 4000;
  std::vector<uint8_t> bytes = BuildDbf(beyond);
  bytes.resize(300);
  WriteBytes(path, bytes);
  EXPECT_EQ(OpenError(path), invalid) << "header longer than the file";
}

TEST(DbfTable, TruncatedFilesGiveReadErrors) {
  TempDir dir;
  std::string path = dir.File("T.DBF");
  std::vector<uint8_t> bytes = BuildDbf(PhoneLayout(0x03, 2));
  for (size_t size : {0, 31}) {
    WriteBytes(path, std::vector<uint8_t>(bytes.begin(), bytes.begin() + size));
    EXPECT_EQ(OpenError(path), FormatMessage(Msg::ReadError, {path})) << size;
  }
  // Header intact but the file ends inside the descriptors.
  WriteBytes(path, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 100));
  EXPECT_EQ(OpenError(path), FormatMessage(Msg::TableHeaderInvalid, {path}));
}

// Other programs write the 263-byte area of version 0x30 after the
// descriptors of 0xF5 (and other) tables too: it holds no fields.
TEST(DbfTable, DescriptorsEndAtTheTerminator) {
  TempDir dir;
  for (uint8_t version : {uint8_t{0xF5}, uint8_t{0x03}, uint8_t{0x83}}) {
    DbfLayout layout = PhoneLayout(version, 2);
    layout.headerLength = 32 + 4 * 32 + 1 + 263;
    auto table = OpenTable(WriteDbf(dir.File("T.DBF"), layout));
    EXPECT_EQ(table->FieldCount(), 4) << int(version);
    EXPECT_EQ(table->FieldDescriptor(5), nullptr);
    table->ReadRecord(2);
    EXPECT_EQ(Record(*table), RecordImage(layout, layout.rows[1]));
  }
  // A terminator in place of the first descriptor leaves no fields.
  DbfLayout none = PhoneLayout(0x03, 1);
  std::vector<uint8_t> bytes = BuildDbf(none);
  bytes[32] = 0x0D;
  WriteBytes(dir.File("N.DBF"), bytes);
  EXPECT_EQ(OpenError(dir.File("N.DBF")), FormatMessage(Msg::TableHeaderInvalid, {dir.File("N.DBF")}));
}

// Level-7 tables (version 0x04) keep 48-byte descriptors after a 68-byte
// header; read as 32-byte ones they would be invented fields.
TEST(DbfTable, LevelSevenTablesAreRefused) {
  TempDir dir;
  const std::string path = dir.File("L7.DBF");
  std::vector<uint8_t> bytes(68 + 2 * 48 + 1, 0);
  bytes[0] = 0x04;
  bytes[8] = static_cast<uint8_t>(bytes.size());
  bytes[10] = 1 + 5 + 4;
  std::memcpy(&bytes[32], "DBWINUS0", 8);  // language driver name
  const struct {
    const char* name;
    char type;
    uint8_t length;
  } fields[] = {{"NAME", 'C', 5}, {"QUANTITY_IN_STOCK", 'N', 4}};
  for (size_t i = 0; i < 2; ++i) {
    uint8_t* d = &bytes[68 + 48 * i];
    std::memcpy(d, fields[i].name, std::strlen(fields[i].name));
    d[32] = static_cast<uint8_t>(fields[i].type);
    d[33] = fields[i].length;
  }
  bytes.back() = 0x0D;
  const std::string record = " ABCDE  12";
  bytes.insert(bytes.end(), record.begin(), record.end());
  bytes.push_back(0x1A);
  WriteBytes(path, bytes);
  EXPECT_EQ(OpenError(path), FormatMessage(Msg::TableHeaderInvalid, {path}));
}
