// The telephone directory generator: determinism, the table's shape, the
// mix of categories, distinct numbers that prefix searches find, and code
// page 866 upper-case texts. Also runs the mkphone tool end to end.
#include <gtest/gtest.h>

#include <set>

#include "engine/table/gs6_dbf.h"
#include "platform/codepage.h"
#include "support/dbf_writer.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "tools/mkphone/phonegen.h"

TEST(PhoneGenerator, OtherSeedOtherRecords) {
  // The same seed giving the same bytes is checked on the tool's output.
  phonegen::PhoneGenerator a(5), c(6);
  int differing = 0;
  for (int i = 0; i < 200; ++i) differing += a.Next().num != c.Next().num;
  EXPECT_GT(differing, 190);
}

TEST(PhoneGenerator, CategoriesNumbersAndTextsLookLikeADirectory) {
  phonegen::PhoneGenerator gen(42);
  const int total = 100000;
  int tip[4] = {}, deleted = 0, prefix23 = 0;
  std::set<std::string> numbers;
  for (int i = 0; i < total; ++i) {
    phonegen::PhoneRecord r = gen.Next();
    ASSERT_EQ(r.num.size(), 7u);
    ASSERT_GE(r.num[0], '2');
    ASSERT_LE(r.num[0], '9');
    numbers.insert(r.num);
    prefix23 += r.num.compare(0, 2, "23") == 0;
    ASSERT_GE(r.tip, 1);
    ASSERT_LE(r.tip, 3);
    ++tip[r.tip];
    deleted += r.deleted;
    ASSERT_FALSE(r.fio.empty());
    ASSERT_LE(r.fio.size(), 35u);
    ASSERT_LE(r.adr.size(), 35u);
    if (i < 2000) {
      std::string text = platform::ToUtf8(r.fio + r.adr, platform::CodePage::Cp866);
      std::string back = platform::FromUtf8(text, platform::CodePage::Cp866);
      ASSERT_EQ(back, r.fio + r.adr);  // every byte a real 866 character
      for (unsigned char ch : r.fio + r.adr) {
        ASSERT_FALSE(ch >= 'a' && ch <= 'z');
        ASSERT_FALSE(ch >= 0xA0 && ch <= 0xAF);  // 866 lower case а..п
        ASSERT_FALSE(ch >= 0xE0 && ch <= 0xEF);  // 866 lower case р..я
      }
    }
  }
  EXPECT_EQ(numbers.size(), size_t{total});
  EXPECT_NEAR(tip[1] / double(total), 0.80, 0.02);
  EXPECT_NEAR(tip[2] / double(total), 0.15, 0.02);
  EXPECT_NEAR(tip[3] / double(total), 0.05, 0.01);
  EXPECT_GT(deleted, 0);
  EXPECT_LT(deleted, total / 50);
  EXPECT_NEAR(prefix23 / double(total), 1.0 / 80, 0.003);
}

TEST(MkPhoneTool, WritesAPhoneTableTheEngineOpens) {
  TempDir dir;
  std::string path = dir.File("PHONE.DBF");
  ToolResult run = RunTool("mkphone", {path, "2500", "--seed", "9"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  GSO_dBaseDBF table(path, "", true, false);
  table.OpenTable();
  EXPECT_EQ(table.Version(), 0x03);
  EXPECT_EQ(table.RecordCount(), 2500);
  EXPECT_EQ(table.HeaderLength(), 161);
  EXPECT_EQ(table.RecordLength(), 79);
  ASSERT_EQ(table.FieldCount(), 4);
  const char* names[] = {"NUM", "FIO", "ADR", "TIP"};
  const char types[] = {'C', 'C', 'C', 'N'};
  const int lengths[] = {7, 35, 35, 1};
  for (int n = 1; n <= 4; ++n) {
    EXPECT_STREQ(reinterpret_cast<const char*>(table.FieldDescriptor(n)), names[n - 1]);
    EXPECT_EQ(table.FieldDescriptor(n)[11], types[n - 1]);
    EXPECT_EQ(table.DescriptorLength(n), lengths[n - 1]);
  }
  std::vector<uint8_t> bytes = ReadBytes(path);
  EXPECT_EQ(bytes.size(), 161u + 2500u * 79u + 1u);
  EXPECT_EQ(bytes.back(), 0x1A);
  EXPECT_EQ(bytes[4] | (bytes[5] << 8), 2500);

  // The same seed writes the same bytes; records match the generator.
  ToolResult again = RunTool("mkphone", {dir.File("AGAIN.DBF"), "2500", "--seed", "9"});
  ASSERT_EQ(again.exitCode, 0);
  EXPECT_EQ(ReadBytes(dir.File("AGAIN.DBF")), bytes);
  phonegen::PhoneGenerator gen(9);
  char image[phonegen::kRecordLength];
  phonegen::PhoneGenerator::Image(gen.Next(), image);
  table.ReadRecord(1);
  EXPECT_EQ(std::string(table.CurrentRecord(), 79), std::string(image, 79));
}

TEST(MkPhoneTool, RefusesBadArguments) {
  TempDir dir;
  EXPECT_EQ(RunTool("mkphone", {}).exitCode, 2);
  EXPECT_EQ(RunTool("mkphone", {dir.File("P.DBF"), "-5"}).exitCode, 2);
  EXPECT_EQ(RunTool("mkphone", {dir.File("nofolder/P.DBF"), "5"}).exitCode, 1);
}
