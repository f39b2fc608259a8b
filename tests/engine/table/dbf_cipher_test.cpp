// Enciphered tables: the cipher, password checks at open, and
// that records are deciphered on read and enciphered on write.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/support/gs6_glbl.h"
#include "support/error_text.h"
#include "engine/table/gs6_dbf.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"

namespace {

DbfLayout Layout() {
  DbfLayout layout;
  layout.fields = {{"ID", 'N', 6}, {"NAME", 'C', 13}};
  for (int i = 1; i <= 3; ++i) layout.rows.push_back({{std::to_string(i), "SECRET" + std::to_string(i)}});
  return layout;
}

// Writes the layout with its descriptor area and records enciphered.
std::string WriteEnciphered(const std::string& path, DbfLayout layout, const std::string& password) {
  layout.enciphered = 1;
  std::vector<uint8_t> bytes = BuildDbf(layout);
  size_t area = HeaderLengthOf(layout) - 33u;
  TableCipher(password, bytes.data() + 32, bytes.data() + 32, area);
  for (size_t i = 0; i < layout.rows.size(); ++i) {
    uint8_t* record = bytes.data() + HeaderLengthOf(layout) + i * RecordLengthOf(layout);
    TableCipher(password, record, record, RecordLengthOf(layout));
  }
  WriteBytes(path, bytes);
  return path;
}

// The encryption error of opening `path` with `password`.
std::string OpenError(const std::string& path, const std::string& password) {
  return ErrorOf<EDeridarEncryption>([&] { GSO_dBaseDBF(path, password, false, false).OpenTable(); });
}

}  // namespace

TEST(TableCipher, PreservesLengthAndIsItsOwnInverse) {
  std::string plain = "Some record bytes 0123456789 with blanks      ";
  std::string enciphered(plain.size(), '\0');
  TableCipher("key", plain.data(), enciphered.data(), plain.size());
  EXPECT_NE(enciphered, plain);
  std::string back(plain.size(), '\0');
  TableCipher("key", enciphered.data(), back.data(), plain.size());
  EXPECT_EQ(back, plain);
  std::string copy(plain.size(), '\0');
  TableCipher("", plain.data(), copy.data(), plain.size());
  EXPECT_EQ(copy, plain);
  // Runs of equal bytes do not show through.
  std::string blanks(64, ' '), out(64, '\0');
  TableCipher("key", blanks.data(), out.data(), blanks.size());
  EXPECT_NE(out.substr(0, 32), out.substr(32, 32));
}

TEST(DbfCipher, PasswordChecksAtOpen) {
  TempDir dir;
  std::string secret = WriteEnciphered(dir.File("S.DBF"), Layout(), "open sesame");
  std::string plain = WriteDbf(dir.File("P.DBF"), Layout());
  EXPECT_EQ(OpenError(secret, ""), FormatMessage(Msg::NoPassword, {secret}));
  EXPECT_EQ(OpenError(secret, "wrong"), FormatMessage(Msg::InvalidPassword, {secret}));
  EXPECT_EQ(OpenError(plain, "any"),
            FormatMessage(Msg::PasswordForUnencrypted, {plain}));
  EXPECT_EQ(OpenError(secret, "open sesame"), "(no error)");
}

TEST(DbfCipher, RecordsAreDecipheredOnReadAndEncipheredOnWrite) {
  TempDir dir;
  DbfLayout layout = Layout();
  std::string path = WriteEnciphered(dir.File("S.DBF"), layout, "pw");
  {
    GSO_dBaseDBF table(path, "pw", false, true);
    table.OpenTable();
    EXPECT_TRUE(table.Encrypted());
    EXPECT_STREQ(reinterpret_cast<const char*>(table.FieldDescriptor(2)), "NAME");
    table.ReadRecord(2);
    EXPECT_EQ(std::string(table.CurrentRecord(), 20), RecordImage(layout, layout.rows[1]));
    std::string image = RecordImage(layout, {{"4", "NEWSECRET"}});
    std::memcpy(table.CurrentRecord(), image.data(), image.size());
    table.AppendRecord();
    table.ReadRecord(1);
    table.WriteRecord(1);
    // Appended under the table lock: held enciphered, changed where it
    // waits, read back from there.
    ASSERT_TRUE(table.LockTable());
    image = RecordImage(layout, {{"5", "HELDSECRET"}});
    std::memcpy(table.CurrentRecord(), image.data(), image.size());
    table.AppendRecord();
    table.CurrentRecord()[0] = '*';
    table.WriteRecord(5);
    ASSERT_EQ(table.HeldAppendCount(), 1);
    std::string stored(static_cast<size_t>(table.RecordLength()), ' ');
    table.ReadStoredRecord(5, stored.data());
    EXPECT_EQ(stored, "*" + image.substr(1));
    table.UnlockTable();
  }
  std::vector<uint8_t> bytes = ReadBytes(path);
  std::string onDisk(bytes.begin(), bytes.end());
  EXPECT_EQ(onDisk.find("HELDSECRET"), std::string::npos);
  EXPECT_EQ(onDisk.find("NEWSECRET"), std::string::npos);
  EXPECT_EQ(onDisk.find("SECRET1"), std::string::npos);
  GSO_dBaseDBF again(path, "pw", false, false);
  again.OpenTable();
  EXPECT_TRUE(again.RecordsViewed());  // deciphered out of the memory view
  ASSERT_EQ(again.RecordCount(), 5);
  again.ReadRecord(5);
  EXPECT_EQ(std::string(again.CurrentRecord(), 20), "*" + RecordImage(layout, {{"5", "HELDSECRET"}}).substr(1));
  again.ReadRecord(4);
  EXPECT_EQ(std::string(again.CurrentRecord(), 20), RecordImage(layout, {{"4", "NEWSECRET"}}));
  again.ReadRecord(1);
  EXPECT_EQ(std::string(again.CurrentRecord(), 20), RecordImage(layout, layout.rows[0]));
}
