// Index file operations: opening and naming the disk file, block input and
// output through the table cipher, re-enciphering, lock positions and index
// locking, renaming, tag lookup.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_disk.h"
#include "support/dbf_writer.h"
#include "support/memory_index.h"
#include "support/temp_dir.h"

namespace {

// The table cipher applied to every 512-byte piece on its own.
std::vector<uint8_t> CipherPieces(const std::string& key, std::vector<uint8_t> bytes) {
  for (size_t at = 0; at < bytes.size(); at += 512)
    TableCipher(key, bytes.data() + at, bytes.data() + at, std::min<size_t>(512, bytes.size() - at));
  return bytes;
}

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 512);
  return bytes;
}

class IndexFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DbfLayout layout;
    layout.fields = {{"NAME", 'C', 8, 0}};
    layout.rows.push_back({{"A"}, false});
    table_ = std::make_unique<GSO_dBaseDBF>(WriteDbf(dir_.File("T.DBF"), layout), "", false, true);
    table_->OpenTable();
    owner_ = std::make_unique<TestIndexOwner>(table_.get());
  }

  TempDir dir_;
  std::unique_ptr<GSO_dBaseDBF> table_;
  std::unique_ptr<TestIndexOwner> owner_;
};

}  // namespace

TEST_F(IndexFileTest, NameGetsExtensionAndTheTablesFolderAlsoOnRename) {
  MemoryIndexFile missing(owner_.get(), 4, true);
  EXPECT_EQ(missing.OpenDiskFile("missing.idx", false, false, true, false, ".idx"), nullptr);
  EXPECT_EQ(missing.DiskFile(), nullptr);
  MemoryIndexFile file(owner_.get(), 4, true);
  ASSERT_NE(file.OpenDiskFile("  names  ", false, true, true, false, ".idx"), nullptr);
  EXPECT_EQ(file.FileName(), "names.idx");
  EXPECT_EQ(file.DiskFile()->FileName(), dir_.File("names.idx"));
  EXPECT_TRUE(file.IsFileName("NAMES.IDX"));
  EXPECT_TRUE(file.IsFileName("/elsewhere/Names.Idx"));
  EXPECT_FALSE(file.IsFileName("names.cdx"));
  EXPECT_TRUE(file.RenameFile("fresh.txt"));
  EXPECT_EQ(file.FileName(), "fresh.idx");
  EXPECT_EQ(file.DiskFile()->FileName(), dir_.File("fresh.idx"));
}

TEST_F(IndexFileTest, CreateKeepsAnExistingFileUnlessOverwriting) {
  const std::vector<uint8_t> bytes = Pattern(100);
  WriteBytes(dir_.File("keep.idx"), bytes);
  {
    MemoryIndexFile file(owner_.get(), 4, true);
    ASSERT_NE(file.OpenDiskFile("keep", false, true, true, false, ".idx"), nullptr);
  }
  EXPECT_EQ(ReadBytes(dir_.File("keep.idx")), bytes);
  {
    MemoryIndexFile file(owner_.get(), 4, true);
    ASSERT_NE(file.OpenDiskFile("keep", true, true, true, false, ".idx"), nullptr);
  }
  EXPECT_TRUE(ReadBytes(dir_.File("keep.idx")).empty());
}

TEST_F(IndexFileTest, BlocksGoThroughTheCipherInPiecesOf512) {
  owner_->decipherKey = owner_->encipherKey = "secret";
  MemoryIndexFile file(owner_.get(), 4, true);
  ASSERT_NE(file.OpenDiskFile("c.idx", true, true, true, false, ".idx"), nullptr);
  const std::vector<uint8_t> plain = Pattern(1300);
  std::vector<uint8_t> buffer = plain;
  ASSERT_TRUE(file.WriteBlock(512, buffer.data(), static_cast<int32_t>(buffer.size())));
  EXPECT_EQ(buffer, plain) << "the caller's buffer is left alone";
  file.DiskFile()->Flush();
  const std::vector<uint8_t> onDisk = ReadBytes(dir_.File("c.idx"));
  ASSERT_EQ(onDisk.size(), 512u + plain.size());
  EXPECT_EQ(std::vector<uint8_t>(onDisk.begin() + 512, onDisk.end()), CipherPieces("secret", plain));

  std::vector<uint8_t> back(plain.size());
  ASSERT_TRUE(file.ReadBlock(512, back.data(), static_cast<int32_t>(back.size())));
  EXPECT_EQ(back, plain);
  // A read past the end reports the shortfall and leaves no stale bytes.
  std::vector<uint8_t> tail(1024, 0xEE);
  EXPECT_FALSE(file.ReadBlock(1536, tail.data(), 1024));
  EXPECT_EQ(tail[500], 0);
}

TEST_F(IndexFileTest, RecryptMovesEveryWholeBlockToTheNewKey) {
  MemoryIndexFile file(owner_.get(), 4, true);
  ASSERT_NE(file.OpenDiskFile("r.idx", true, true, true, false, ".idx"), nullptr);
  const std::vector<uint8_t> plain = Pattern(1024 + 100);
  owner_->encipherKey = "old";
  file.WriteBlock(0, plain.data(), 1024);
  owner_->encipherKey.clear();
  file.WriteBlock(1024, plain.data() + 1024, 100);  // a partial block stays as it is
  owner_->decipherKey = "old";
  owner_->encipherKey = "new";
  file.Recrypt();
  owner_->decipherKey = "new";
  std::vector<uint8_t> back(1024);
  ASSERT_TRUE(file.ReadBlock(0, back.data(), 1024));
  EXPECT_EQ(back, std::vector<uint8_t>(plain.begin(), plain.begin() + 1024));
  file.DiskFile()->Flush();
  const std::vector<uint8_t> onDisk = ReadBytes(dir_.File("r.idx"));
  EXPECT_EQ(std::vector<uint8_t>(onDisk.begin() + 1024, onDisk.end()),
            std::vector<uint8_t>(plain.begin() + 1024, plain.end()));
}

TEST_F(IndexFileTest, LockPositionsFollowTheProtocol) {
  MemoryIndexFile file(owner_.get(), 4, true);
  struct Case {
    TgsLokProtocol protocol;
    int64_t a, b, offset, length;
  };
  for (const Case& c : {Case{TgsLokProtocol::Default, 0x7FFFFFFE, 0x40000000, 0x7FFFFFFD, 1},
                        Case{TgsLokProtocol::DB4Lock, 0xEFFFFFFF, 0x40000000, 0xEFFFFFFE, 2},
                        Case{TgsLokProtocol::ClipLock, 1000000000, 1000000000, 1000000000, 1},
                        Case{TgsLokProtocol::FoxLock, 0x7FFFFFFE, 0x40000000, 0x7FFFFFFD, 1}}) {
    file.SetLockProtocol(c.protocol);
    EXPECT_EQ(file.LockPositionA(), c.a);
    EXPECT_EQ(file.LockPositionB(), c.b);
    EXPECT_EQ(file.LockOffset(), c.offset);
    EXPECT_EQ(file.LockLength(), c.length);
  }
  file.SetLockProtocol(static_cast<TgsLokProtocol>(9));
  EXPECT_EQ(file.LockProtocol(), TgsLokProtocol::FoxLock);
}

TEST_F(IndexFileTest, LockIndexTakesTheProtocolsRegionAndRaisesWhenHeldElsewhere) {
  MemoryIndexFile holder(owner_.get(), 4, true);
  ASSERT_NE(holder.OpenDiskFile("busy.idx", true, true, true, true, ".idx"), nullptr);
  holder.SetLockProtocol(TgsLokProtocol::DB4Lock);
  ASSERT_TRUE(holder.LockIndex());
  EXPECT_EQ(holder.DiskFile()->LockedArea(), (TgsLockArea{0xEFFFFFFE, 2}));
  MemoryIndexFile other(owner_.get(), 4, true);
  ASSERT_NE(other.OpenDiskFile("busy.idx", false, false, true, true, ".idx"), nullptr);
  other.SetLockProtocol(TgsLokProtocol::DB4Lock);
  try {
    other.LockIndex();
    FAIL() << "no error";
  } catch (const EDeridarError& e) {
    EXPECT_EQ(std::string(e.what()), "Can not Lock file " + dir_.File("busy.idx"));
  }
  EXPECT_TRUE(holder.UnlockIndex());
  EXPECT_EQ(holder.DiskFile()->LockCount(), 0);
  EXPECT_TRUE(other.LockIndex());
}

TEST_F(IndexFileTest, TagsAreFoundByNameWithoutRegardToCase) {
  MemoryIndexFile file(owner_.get(), 4, true);
  file.NewTag("First");
  file.NewTag("second");
  EXPECT_EQ(file.TagCount(), 2);
  EXPECT_EQ(file.FindTag("SECOND"), file.TagByPosition(1));
  EXPECT_EQ(file.FindTag(" first "), file.TagByPosition(0));
  EXPECT_EQ(file.FindTag("third"), nullptr);
  EXPECT_EQ(file.TagByPosition(2), nullptr);
  EXPECT_EQ(file.TagByPosition(-1), nullptr);
}
