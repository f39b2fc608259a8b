// NDX files we build and maintain, read by an independent peer: the XBase
// module of the Debian package libdbd-xbase-perl walks each file, and its
// entries (record numbers and keys, in order) must be ours. Skipped when
// perl or the module is missing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/index/gs6_ndx.h"
#include "engine/table/gs6_dbsy.h"
#include "support/dbf_writer.h"
#include "support/peers.h"
#include "support/temp_dir.h"

namespace {

// Prints "record<TAB>key" per entry in the peer's order: numbers as the
// peer reads them, texts as hexadecimal bytes. Exit status 2 when the
// module is missing.
constexpr const char* kWalkScript = R"(use strict; use warnings;
BEGIN { if (!eval { require XBase::Index; 1 }) { exit 2; } }
my ($file, $numeric) = @ARGV;
my $idx = XBase::Index->new($file, type => 'ndx') or die XBase::Index->errstr;
$idx->prepare_select or die XBase::Index->errstr;
while (my ($key, $rec) = $idx->fetch) {
  if ($numeric) { printf "%d\t%.15g\n", $rec, $key; }
  else { $key =~ s/ +$//; print "$rec\t", unpack('H*', $key), "\n"; }
}
)";

using Entries = std::vector<std::string>;

// Runs the peer; false when it is not available.
bool PeerWalk(const TempDir& dir, const std::string& file, bool numeric, Entries& out) {
  return RunPerlWalk(dir, kWalkScript, {file, numeric ? "1" : "0"}, out);
}

// Our walk in the peer's notation.
Entries OurWalk(GSobjNDXFile& file) {
  GSobjNDXTag& tag = *file.Tag();
  Entries out;
  tag.ResetPages(GSobjIndexTag::kResetRootOnly);
  char buffer[64];
  for (TRecNo r = tag.MoveTo(GotoFirst); r != 0; r = tag.MoveTo(GotoNext)) {
    const GSobjIndexKeyData& k = tag.CurrentKey();
    std::string key;
    if (tag.KeyType() != 'C') {
      std::snprintf(buffer, sizeof buffer, "%.15g", k.AsFloat());
      key = buffer;
    } else {
      for (uint32_t i = 0; i < k.Length(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", k.Data()[i]);
        key += buffer;
      }
    }
    out.push_back(std::to_string(r) + "\t" + key);
  }
  tag.ReleasePages();
  return out;
}

struct Order {
  const char* file;
  const char* key;
  bool unique;
  bool numeric;
};
constexpr Order kOrders[] = {{"NAME.NDX", "NAME", false, false},
                             {"AMT.NDX", "AMT", false, true},
                             {"DAY.NDX", "DAY", false, true},
                             {"CODE.NDX", "CODE", true, false},
                             {"MIX.NDX", "LEFT(NAME,3)+STR(AMT,9,2)", false, false}};

std::string Amount(std::mt19937& rng) {
  char text[16];
  const int cents = static_cast<int>(rng() % 4001) - 2000;  // negative, fractional, zero
  std::snprintf(text, sizeof text, "%.2f", (rng() % 5 == 0 ? 0 : cents) / 100.0);
  return text;
}

std::string Day(std::mt19937& rng) {
  if (rng() % 6 == 0) return "";  // blank date
  char text[16];
  std::snprintf(text, sizeof text, "%04u%02u%02u", 1990 + static_cast<unsigned>(rng() % 40),
                1 + static_cast<unsigned>(rng() % 12), 1 + static_cast<unsigned>(rng() % 28));
  return text;
}

std::string Name(std::mt19937& rng) {
  std::string name;
  for (int j = 0; j < 4; ++j) name += static_cast<char>('A' + rng() % 4);
  return name;
}

DbfLayout Table(int rows, std::mt19937& rng) {
  DbfLayout l;
  l.fields = {{"NAME", 'C', 14}, {"AMT", 'N', 9, 2}, {"DAY", 'D', 8}, {"CODE", 'C', 6}};
  for (int i = 0; i < rows; ++i)
    l.rows.push_back({{Name(rng), Amount(rng), Day(rng), std::to_string(100000 + rng() % 900)}});
  return l;
}

// Each order of the table, as the peer reads it, is ours.
void ExpectPeerAgrees(const TempDir& dir, GSO_dBHandler& table, const std::string& when) {
  for (const Order& o : kOrders) {
    GSobjNDXFile file(&table, dir.File(o.file), false, false, false, false);
    ASSERT_TRUE(file.Valid()) << o.file;
    IndexCheckReport report;
    file.CheckTag(*file.Tag(), report);
    EXPECT_TRUE(report.problems.empty()) << when << " " << o.file << ": " << report.problems.front();
    Entries peer;
    if (!PeerWalk(dir, dir.File(o.file), o.numeric, peer)) GTEST_SKIP() << "perl XBase module not available";
    EXPECT_EQ(peer, OurWalk(file)) << when << " " << o.file;
  }
}

}  // namespace

TEST(NdxPeer, PerlReadsOurBuiltFilesAsWeDo) {
  std::mt19937 rng(11);
  for (int rows : {1, 2, 20000}) {
    TempDir dir;
    const std::string path = WriteDbf(dir.File("T.DBF"), Table(rows, rng));
    GSO_dBHandler table(path, "", false, true);
    table.OpenTable();
    for (const Order& o : kOrders) table.IndexOn(o.file, "", o.key, "", o.unique ? 0 : 1, 0);
    ExpectPeerAgrees(dir, table, std::to_string(rows) + " records");
  }
}

TEST(NdxPeer, PerlReadsOurFilesAfterRandomWritesWithTheFilesOpen) {
  std::mt19937 rng(23);
  TempDir dir;
  DbfLayout layout = Table(2000, rng);
  // Unique codes stay unique: each edit gives a code not used before.
  for (size_t i = 0; i < layout.rows.size(); ++i) layout.rows[i].values[3] = std::to_string(100000 + i);
  const std::string path = WriteDbf(dir.File("T.DBF"), layout);
  GSO_dBHandler table(path, "", false, true);
  table.OpenTable();
  for (const Order& o : kOrders) table.IndexOn(o.file, "", o.key, "", o.unique ? 0 : 1, 0);
  for (const Order& o : kOrders) ASSERT_EQ(table.OpenIndexFile(o.file), 0) << o.file;
  int nextCode = 200000;
  for (int step = 0; step < 3000; ++step) {
    const int kind = static_cast<int>(rng() % 10);
    if (kind < 3) {
      table.BlankRecord();
      table.PutFieldTextByName("NAME", Name(rng));
      table.PutFieldTextByName("AMT", Amount(rng));
      table.PutFieldTextByName("DAY", Day(rng));
      table.PutFieldTextByName("CODE", std::to_string(nextCode++));
      table.AppendRecord();
      continue;
    }
    const TRecNo n = static_cast<TRecNo>(1 + rng() % static_cast<uint32_t>(table.RecordCount()));
    table.ReadRecord(n);
    if (kind == 3) {
      table.MarkDeleted();  // deleted records keep their entries
    } else {
      table.PutFieldTextByName("NAME", Name(rng));
      if (kind & 1) table.PutFieldTextByName("AMT", Amount(rng));
      if (kind & 2) table.PutFieldTextByName("DAY", Day(rng));
      if (kind == 9) table.PutFieldTextByName("CODE", std::to_string(nextCode++));
    }
    table.WriteRecord(n);
  }
  // Other programs allocate nodes from the header's next free block: it
  // follows the file's end.
  for (const Order& o : kOrders) {
    const std::vector<uint8_t> bytes = ReadBytes(dir.File(o.file));
    EXPECT_EQ(bytes[4] | bytes[5] << 8 | bytes[6] << 16, static_cast<int>(bytes.size() / 512)) << o.file;
  }
  table.CloseIndexFiles();
  ExpectPeerAgrees(dir, table, "after 3000 writes");

  // Reindexing builds each order anew within its file cut back.
  for (const Order& o : kOrders) {
    const uintmax_t grown = std::filesystem::file_size(dir.File(o.file));
    GSobjNDXFile file(&table, dir.File(o.file), false, false, true, false);
    file.Reindex();
    EXPECT_LT(std::filesystem::file_size(dir.File(o.file)), grown) << o.file;
  }
  ExpectPeerAgrees(dir, table, "after reindexing");
}
