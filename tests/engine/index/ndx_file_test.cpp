// NDX files through the table handler: files written by another program
// read in the order of their listings, the header figures of the files we
// build, numeric files of either entry size, damaged files refused with a
// message naming them, and a shared reader that sees another's writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/index/gs6_ndx.h"
#include "engine/table/gs6_dbsy.h"
#include "support/dbf_writer.h"
#include "support/error_text.h"
#include "support/temp_dir.h"

namespace {

struct Entry {
  TRecNo record;
  std::string key;  // text without trailing blanks, or the number printed
  bool operator==(const Entry&) const = default;
};

std::string KeyOf(const GSobjIndexTag& tag) {
  const GSobjIndexKeyData& k = tag.CurrentKey();
  if (tag.KeyType() != 'C') {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.15g", k.AsFloat());
    return buffer;
  }
  std::string text(reinterpret_cast<const char*>(k.Data()), k.Length());
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// The order's entries, walked forward through the handler; the backward
// walk must give the same in reverse.
std::vector<Entry> Walk(GSO_dBHandler& table, const std::string& tag) {
  table.SelectTag(tag, false);
  std::vector<Entry> out;
  for (table.ReadRecord(GotoFirst); !table.Eof(); table.ReadRecord(GotoNext))
    out.push_back({table.RecNumber(), KeyOf(*table.CurrentTag())});
  std::vector<Entry> back;
  for (table.ReadRecord(GotoLast); !table.Bof(); table.ReadRecord(GotoPrevious))
    back.insert(back.begin(), {table.RecNumber(), KeyOf(*table.CurrentTag())});
  EXPECT_EQ(back, out) << tag;
  return out;
}

IndexCheckReport Check(GSO_dBHandler& table, int32_t slot) {
  auto& file = dynamic_cast<GSobjNDXFile&>(*table.IndexFile(slot));
  IndexCheckReport report;
  file.CheckTag(*file.Tag(), report);
  return report;
}

std::string HexToText(const std::string& hex) {
  std::string text;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) text += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

TEST(NdxSamples, ReadInTheOrderOfTheirListings) {
  const std::string dir = std::string(DERIDAR_SAMPLES_DIR) + "/dbd-xbase/";
  for (const char* name : {"ndx-char", "ndx-date", "ndx-num"}) {
    GSO_dBHandler table(dir + name + ".dbf", "", true, false);
    table.OpenTable();
    ASSERT_EQ(table.OpenIndexFile(dir + name + ".ndx"), 0) << name;
    table.SetUseDeleted(true);
    std::vector<Entry> expected;
    std::ifstream listing(dir + "expected/" + name + ".ndx.txt");
    std::string line;
    while (std::getline(listing, line)) {
      const size_t tab = line.find('\t');
      std::string key = line.substr(tab + 1);
      if (key.rfind("num:", 0) == 0) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.15g", std::stod(key.substr(4)));
        key = buffer;
      } else {
        key = HexToText(key);
      }
      expected.push_back({std::stoi(line.substr(0, tab)), key});
    }
    ASSERT_FALSE(expected.empty()) << name;
    EXPECT_EQ(Walk(table, name), expected) << name;
    EXPECT_TRUE(Check(table, 1).problems.empty()) << name;
  }
}

// Character, numeric and date keys of the files we build: the header
// figures other programs rely on, and the order of negative, fractional,
// zero and blank values.
TEST(NdxBuild, HeaderFiguresAndKeyOrderPerKeyType) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"NAME", 'C', 10}, {"AMT", 'N', 8, 2}, {"DAY", 'D', 8}};
  l.rows = {{{"b", "-3.50", "20010315"}}, {{"a", "0", ""}}, {{"c", "0.25", "19991231"}},
            {{"a", "-10", "20010315"}}, {{"", "12", ""}}};
  const std::string path = WriteDbf(dir.File("T.DBF"), l);
  GSO_dBHandler table(path, "", false, true);
  table.OpenTable();
  table.IndexOn("NAME", "", "NAME", "", 1, 0);
  table.IndexOn("AMT.NDX", "", "AMT", "", 1, 0);
  table.IndexOn("DAY.NDX", "", "DAY", "", 0, 0);  // unique
  struct {
    const char* file;
    uint16_t keyLength, maxKeys, keyType, entrySize;
    uint8_t unique;
  } figures[] = {{"NAME.ndx", 10, 25, 0, 20, 0}, {"AMT.NDX", 8, 31, 1, 16, 0}, {"DAY.NDX", 8, 31, 1, 16, 1}};
  for (const auto& f : figures) {
    const std::vector<uint8_t> bytes = ReadBytes(dir.File(f.file));
    ASSERT_EQ(bytes.size(), 1024u) << f.file;  // header and one leaf
    auto le16 = [&](size_t at) { return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8); };
    EXPECT_EQ(bytes[0], 1) << f.file;  // root block
    EXPECT_EQ(bytes[4], 2) << f.file;  // next free block
    EXPECT_EQ(le16(12), f.keyLength) << f.file;
    EXPECT_EQ(le16(14), f.maxKeys) << f.file;
    EXPECT_EQ(le16(16), f.keyType) << f.file;
    EXPECT_EQ(le16(18), f.entrySize) << f.file;
    EXPECT_EQ(bytes[23], f.unique) << f.file;
  }
  ASSERT_EQ(table.OpenIndexList("NAME;AMT.NDX;DAY.NDX", ""), 0);
  EXPECT_EQ(Walk(table, "NAME"),
            (std::vector<Entry>{{5, ""}, {2, "a"}, {4, "a"}, {1, "b"}, {3, "c"}}));
  EXPECT_EQ(Walk(table, "AMT"),
            (std::vector<Entry>{{4, "-10"}, {1, "-3.5"}, {2, "0"}, {3, "0.25"}, {5, "12"}}));
  // A blank date sorts after every date; unique keeps the first record of a key.
  EXPECT_EQ(Walk(table, "DAY"), (std::vector<Entry>{{3, "2451544"}, {1, "2451984"}, {2, "1e+100"}}));

}

// A numeric file laid out with 20-byte entries under a key length of 8 is
// read, and kept, through its stored entry size.
TEST(NdxFile, NumericEntriesOfTwentyBytesAreReadAndKept) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"AMT", 'N', 6, 1}};
  l.rows = {{{"5.5"}}, {{"-2"}}, {{"40"}}};
  const std::string path = WriteDbf(dir.File("T.DBF"), l);
  std::vector<uint8_t> file(1024, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(0, 1);
  put32(4, 2);
  file[12] = 8;
  file[14] = 25;
  file[16] = 1;
  file[18] = 20;
  std::memcpy(&file[24], "AMT", 3);
  const struct {
    uint32_t record;
    double value;
  } leaf[] = {{2, -2}, {1, 5.5}, {3, 40}};
  put32(512, 3);
  for (int i = 0; i < 3; ++i) {
    put32(512 + 4 + 20 * i + 4, leaf[i].record);
    std::memcpy(&file[512 + 4 + 20 * i + 8], &leaf[i].value, 8);
  }
  WriteBytes(dir.File("T.NDX"), file);

  GSO_dBHandler table(path, "", false, true);
  table.OpenTable();
  ASSERT_EQ(table.OpenIndexFile("T.NDX"), 0);
  EXPECT_EQ(Walk(table, "T"), (std::vector<Entry>{{2, "-2"}, {1, "5.5"}, {3, "40"}}));
  for (int i = 0; i < 40; ++i) {
    table.BlankRecord();
    table.PutFieldTextByName("AMT", std::to_string(i % 7 - 3));
    table.AppendRecord();
  }
  const std::vector<Entry> walked = Walk(table, "T");
  ASSERT_EQ(walked.size(), 43u);
  for (size_t i = 1; i < walked.size(); ++i) EXPECT_LE(std::stod(walked[i - 1].key), std::stod(walked[i].key));
  const IndexCheckReport report = Check(table, 1);
  EXPECT_TRUE(report.problems.empty()) << report.problems.front();
  EXPECT_EQ(ReadBytes(dir.File("T.NDX"))[18], 20);
}

TEST(NdxFile, DamagedFilesAreRefusedNamingTheFile) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"NAME", 'C', 20}};
  for (int i = 0; i < 300; ++i) l.rows.push_back({{"NAME" + std::to_string(i * 7919 % 1000)}});
  const std::string path = WriteDbf(dir.File("T.DBF"), l);
  {
    GSO_dBHandler table(path, "", false, true);
    table.OpenTable();
    table.IndexOn("GOOD.NDX", "", "NAME", "", 1, 0);
  }
  const std::vector<uint8_t> good = ReadBytes(dir.File("GOOD.NDX"));
  ASSERT_GT(good.size(), 4u * 512);
  const uint32_t root = good[0] | good[1] << 8;
  auto put32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  struct Damage {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<Damage> damages;
  damages.push_back({"cut to 600 bytes", std::vector<uint8_t>(good.begin(), good.begin() + 600)});
  damages.push_back({"root past the end", good});
  put32(damages.back().bytes, 0, 5000);
  damages.push_back({"key length 0", good});
  damages.back().bytes[12] = damages.back().bytes[13] = 0;
  damages.push_back({"control bytes in the key", good});
  damages.back().bytes[25] = 0x01;
  damages.push_back({"key count too large", good});
  put32(damages.back().bytes, root * 512, 1000);
  damages.push_back({"root's child is the root", good});
  put32(damages.back().bytes, root * 512 + 4, root);
  damages.push_back({"child past the end", good});
  put32(damages.back().bytes, root * 512 + 4, 90000);
  // Every block a branch whose only child is the next block: deeper than
  // any tree.
  damages.push_back({"endless chain", good});
  {
    std::vector<uint8_t>& b = damages.back().bytes;
    b.resize(60 * 512, 0);
    put32(b, 0, 1);
    for (uint32_t block = 1; block < 60; ++block) {
      std::fill(b.begin() + block * 512, b.begin() + (block + 1) * 512, 0);
      put32(b, block * 512 + 4, block + 1 < 60 ? block + 1 : 1);
    }
  }
  for (const Damage& d : damages) {
    const std::string file = dir.File("BAD.NDX");
    WriteBytes(file, d.bytes);
    GSO_dBHandler table(path, "", true, false);
    table.OpenTable();
    const std::string error = ErrorOf([&] {
      table.OpenIndexFile("BAD.NDX");
      table.SelectTag("BAD", false);
      table.ReadRecord(GotoFirst);
      while (!table.Eof()) table.ReadRecord(GotoNext);
    });
    EXPECT_NE(error.find("Index file "), std::string::npos) << d.what << ": " << error;
    EXPECT_NE(error.find("BAD.NDX is corrupted"), std::string::npos) << d.what << ": " << error;
  }
}

// A shared file's nodes are kept between walks only while its modification
// time is old enough to change with any write: a record another handle adds
// after a walk shows in the next one.
TEST(NdxFile, SharedReaderSeesWritesOfAnotherHandle) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"NAME", 'C', 10}};
  for (int i = 0; i < 200; ++i) l.rows.push_back({{"N" + std::to_string(1000 + 2 * i)}});
  const std::string path = WriteDbf(dir.File("T.DBF"), l);
  {
    GSO_dBHandler builder(path, "", false, true);
    builder.OpenTable();
    builder.IndexOn("T.NDX", "", "NAME", "", 1, 0);
  }
  auto settle = [&] {
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::seconds(30);
    std::filesystem::last_write_time(dir.File("T.NDX"), old);
  };
  settle();
  GSO_dBHandler reader(path, "", true, false), writer(path, "", true, true);
  reader.OpenTable();
  writer.OpenTable();
  ASSERT_EQ(reader.OpenIndexFile("T.NDX"), 0);
  ASSERT_EQ(writer.OpenIndexFile("T.NDX"), 0);
  EXPECT_EQ(Walk(reader, "T").size(), 200u);
  EXPECT_GT(reader.CurrentTag()->KeptImageCount(), 0u);
  for (const char* name : {"N1001", "N1201"}) {
    writer.BlankRecord();
    writer.PutFieldTextByName("NAME", name);
    writer.AppendRecord();
    const std::vector<Entry> walked = Walk(reader, "T");
    ASSERT_EQ(walked.size(), static_cast<size_t>(writer.RecordCount())) << name;
    EXPECT_EQ(std::count_if(walked.begin(), walked.end(), [&](const Entry& e) { return e.key == name; }), 1);
    settle();
  }
}
