// CDX files we build, read by an independent peer: the XBase module of the
// Debian package libdbd-xbase-perl walks each tag, and its record order must
// be ours. A missing peer fails the tests with the package to install.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/index/gs6_cdx.h"
#include "support/cdx_table.h"
#include "support/dbf_writer.h"
#include "support/peers.h"
#include "support/temp_dir.h"

namespace {

constexpr const char* kMissingPeer =
    "perl XBase module not available -- scripts/bootstrap.sh installs libdbd-xbase-perl";

// Runs the peer; false when it is not available.
bool PeerWalk(const TempDir& dir, const std::string& cdx, const std::string& tag, char type,
              std::vector<TRecNo>& out) {
  std::vector<std::string> lines;
  if (!RunPerlWalk(dir, kPerlCdxTagWalk, {cdx, tag, std::string(1, type)}, lines)) return false;
  for (const std::string& line : lines) out.push_back(std::atoi(line.c_str()));
  return true;
}

std::vector<TRecNo> OurWalk(GSobjIndexTag& tag) {
  std::vector<TRecNo> out;
  tag.ResetPages(GSobjIndexTag::kResetRootOnly);
  for (TRecNo r = tag.MoveTo(GotoFirst); r != 0; r = tag.MoveTo(GotoNext)) out.push_back(r);
  return out;
}

}  // namespace

TEST(CdxPeer, PerlXBaseWalksOurTagsInOurOrder) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"NUM", 'C', 7}, {"FIO", 'C', 35}, {"TIP", 'N', 1}, {"AMT", 'N', 9, 2}, {"LNG", 'C', 210}};
  std::mt19937 rng(7);
  for (int i = 0; i < 4000; ++i) {
    std::string fio = "NAME";
    for (int j = 0; j < 12; ++j) fio += static_cast<char>('A' + rng() % 3);
    char amount[16];
    std::snprintf(amount, sizeof amount, "%.2f", (static_cast<int>(rng() % 100000) - 50000) / 4.0);
    // Long keys: two or three to a leaf, a few shared bytes.
    std::string lng = fio.substr(4, 3);
    while (lng.size() < 200) lng += static_cast<char>('A' + rng() % 26);
    l.rows.push_back({{std::to_string(1000000 + rng() % 9000000), fio, std::to_string(1 + rng() % 3), amount, lng}});
  }
  WriteDbf(dir.File("P.DBF"), l);
  IndexTestTable t(dir.File("P.DBF"));
  const std::string cdx = dir.File("P.CDX");
  {
    GSobjCDXFile f(&t, cdx, true, true, true, false);
    ASSERT_TRUE(f.AddTag("TELN", "NUM", false, true, "tip=1"));
    ASSERT_TRUE(f.AddTag("FIO", "FIO", false, true, ""));
    ASSERT_TRUE(f.AddTag("AMT", "AMT", false, true, ""));
    ASSERT_TRUE(f.AddTag("LNG", "LNG", false, true, ""));
    // Maintained keys too: edits after the build.
    for (TRecNo n = 1; n <= 400; n += 3) {
      t.Read(n);
      t.SetField("FIO", "EDITED" + std::to_string(n));
      t.SetField("TIP", "1");
      t.Write(n, {&f});
    }
  }
  GSobjCDXFile f(&t, cdx, false, false, false, false);
  ASSERT_TRUE(f.Valid());
  struct {
    const char* tag;
    char type;
  } tags[] = {{"TELN", 'C'}, {"FIO", 'C'}, {"AMT", 'N'}, {"LNG", 'C'}};
  for (auto& tg : tags) {
    std::vector<TRecNo> peer;
    ASSERT_TRUE(PeerWalk(dir, cdx, tg.tag, tg.type, peer)) << kMissingPeer;
    EXPECT_EQ(peer, OurWalk(*f.FindTag(tg.tag))) << tg.tag;
  }
}

// Above 16 MiB a tag's header address needs the directory's 5-byte entries,
// whose record field must reach up to the counts for the peer to find the
// tag. The file grows cheaply: a sparse run of blocks nothing refers to,
// then a tag added after it.
TEST(CdxPeer, PerlXBaseFindsTagsInFilesAbove16MiB) {
  TempDir dir;
  DbfLayout l;
  l.fields = {{"NUM", 'C', 7}, {"TIP", 'N', 1}};
  for (int i = 0; i < 300; ++i) l.rows.push_back({{std::to_string(9000000 - 7 * i), std::to_string(1 + i % 3)}});
  WriteDbf(dir.File("P.DBF"), l);
  IndexTestTable t(dir.File("P.DBF"));
  const std::string cdx = dir.File("P.CDX");
  {
    GSobjCDXFile f(&t, cdx, true, true, true, false);
    ASSERT_TRUE(f.AddTag("LOW", "NUM", false, true, ""));
  }
  std::filesystem::resize_file(cdx, (17 << 20) + 1536);
  {
    GSobjCDXFile f(&t, cdx, false, false, true, false);
    ASSERT_TRUE(f.Valid());
    ASSERT_TRUE(f.AddTag("HIGH", "NUM", false, true, "TIP=2"));
    EXPECT_GT(f.FindTag("HIGH")->HeaderAddress(), 1 << 24);
  }
  const std::vector<uint8_t> head = ReadBytes(cdx);
  const uint8_t* root = head.data() + cdx::GetLE32(head.data());
  EXPECT_EQ(root[23], 5) << "bytes per directory entry";
  EXPECT_EQ(root[20], 32) << "record number bits";
  EXPECT_EQ(cdx::GetLE32(root + 14), 0xFFFFFFFFu);

  GSobjCDXFile f(&t, cdx, false, false, false, false);
  ASSERT_TRUE(f.Valid());
  for (const char* tag : {"LOW", "HIGH"}) {
    std::vector<TRecNo> peer;
    ASSERT_TRUE(PeerWalk(dir, cdx, tag, 'C', peer)) << kMissingPeer;
    EXPECT_EQ(peer, OurWalk(*f.FindTag(tag))) << tag;
    EXPECT_FALSE(peer.empty()) << tag;
  }
}
