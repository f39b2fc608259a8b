// Memo files of the three layouts: block counts at boundaries, rewriting in
// place or moving, free-list reuse, FoxPro block sizes, enciphered dBase III
// memos and password changes, the allocation lock, renaming, and damaged
// files (each guard once; random damage is the memo fuzz target's work).
// Texts over 64 KB are exchanged with the interop peers.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "engine/support/gs6_glbl.h"
#include "support/error_text.h"
#include "engine/table/gs6_dbf.h"
#include "engine/table/gs6_memo.h"
#include "platform/file.h"
#include "support/dbf_writer.h"
#include "support/memo_files.h"
#include "support/temp_dir.h"

namespace {

uint32_t GetLe(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
         uint32_t{b[at + 3]} << 24;
}

uint32_t GetBe(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 |
         uint32_t{b[at + 3]};
}

// A memo file beside "T.dbf" in a temporary folder; the table itself is not
// needed by the memo classes.
struct MemoFixture {
  TempDir dir;
  std::string table = dir.File("t.dbf");

  std::string MemoPath(MemoLayout layout) const {
    return dir.File(layout == MemoLayout::Fox ? "t.fpt" : "t.dbt");
  }
  std::unique_ptr<GSobjMemo> Open(uint8_t version, const std::string& password = "",
                                  bool shared = false) {
    return GSobjMemo::Make(nullptr, version, shared, true, password, table);
  }
  // Saves a memo file of `layout` holding `texts` from block 1 (FoxPro: the
  // first block after the header) and opens it for the layout's version.
  std::unique_ptr<GSobjMemo> Make(MemoLayout layout, const std::vector<std::string>& texts = {},
                                  int32_t blockSize = 512) {
    MemoFileBuilder builder(layout, blockSize);
    for (const std::string& text : texts) builder.Add(text);
    builder.Save(MemoPath(layout));
    return Open(layout == MemoLayout::Db3 ? 0x83 : layout == MemoLayout::Db4 ? 0x8B : 0xF5);
  }
};

std::string BadMemo(const GSobjMemo& memo) {
  return FormatMessage(Msg::MemoRecordBad, {memo.FileName()});
}

}  // namespace

// ---------------------------------------------------------------------------
// Opening

// Which layout a table version opens, and a missing memo file, are driven
// through the memo-table tests.
TEST(MemoFile, ExtensionInOtherLetterCaseIsFound) {
  TempDir dir;
  MemoFileBuilder(MemoLayout::Db3).Save(dir.File("B.dbt"));
  EXPECT_EQ(GSobjMemo::MemoFileNameFor(dir.File("B.DBF"), 0x83), dir.File("B.dbt"));
  // Neither exists: the case of the table's extension decides.
  EXPECT_EQ(GSobjMemo::MemoFileNameFor(dir.File("c.DBF"), 0x8B), dir.File("c.DBT"));
  EXPECT_EQ(GSobjMemo::MemoFileNameFor(dir.File("c"), 0x30), dir.File("c.fpt"));
  // The whole name in another case: files copied from other systems.
  MemoFileBuilder(MemoLayout::Fox).Save(dir.File("Mixed.Fpt"));
  EXPECT_EQ(GSobjMemo::MemoFileNameFor(dir.File("MIXED.DBF"), 0xF5), dir.File("Mixed.Fpt"));
  // Two files that differ only in case: neither is taken for the other.
  MemoFileBuilder(MemoLayout::Db3).Save(dir.File("twin.DBT"));
  MemoFileBuilder(MemoLayout::Db3).Save(dir.File("TWIN.dbt"));
  EXPECT_EQ(GSobjMemo::MemoFileNameFor(dir.File("Twin.dbf"), 0x83), dir.File("Twin.dbt"));
}

// ---------------------------------------------------------------------------
// dBase III

TEST(Db3Memo, TextOf510BytesTakesOneBlockAnd511TakeTwo) {
  MemoFixture f;
  auto memo = f.Make(MemoLayout::Db3);
  std::string t510 = CyrillicText(510, 1), t511 = CyrillicText(511, 2);
  EXPECT_EQ(memo->WriteMemo(t510, 0), 1);
  EXPECT_EQ(memo->CurrentCount(), 1);
  EXPECT_EQ(memo->WriteMemo(t511, 0), 2);
  EXPECT_EQ(memo->CurrentCount(), 2);
  EXPECT_EQ(memo->WriteMemo("x", 0), 4);
  memo->Close();

  std::vector<uint8_t> bytes = ReadBytes(f.MemoPath(MemoLayout::Db3));
  EXPECT_EQ(GetLe(bytes, 0), 5u);  // next free
  ASSERT_EQ(bytes.size(), 5u * 512);
  EXPECT_EQ(bytes[512 + 510], 0x1A);
  EXPECT_EQ(bytes[512 + 511], 0x1A);
  EXPECT_EQ(bytes[1024 + 511], 0x1A);  // the end mark straddles two blocks
  EXPECT_EQ(bytes[1536], 0x1A);

  auto again = f.Open(0x83);
  EXPECT_EQ(again->ReadMemo(1), t510);
  EXPECT_EQ(again->ReadMemo(2), t511);
  EXPECT_EQ(again->ReadMemo(4), "x");
  EXPECT_EQ(again->MemoSize(2), 511);
}

TEST(Db3Memo, RewriteStaysInPlaceWhenItFitsAndMovesWhenItGrows) {
  MemoFixture f;
  auto memo = f.Make(MemoLayout::Db3, {CyrillicText(1000, 1), "next"});  // blocks 1-2, 3

  EXPECT_EQ(memo->WriteMemo(CyrillicText(1022, 2), 1), 1);  // 1022 + 2 = two blocks
  EXPECT_EQ(memo->WriteMemo("short", 1), 1);
  EXPECT_EQ(memo->ReadMemo(3), "next");
  // The old size is counted without the end mark, so only texts that fit
  // the blocks the old text certainly filled stay; "short" fills one.
  EXPECT_EQ(memo->WriteMemo(CyrillicText(700, 3), 1), 4);
  EXPECT_EQ(memo->CurrentCount(), 2);
  EXPECT_EQ(memo->ReadMemo(4), CyrillicText(700, 3));
  EXPECT_EQ(memo->ReadMemo(3), "next");
  // Blocks of a moved memo are not reused.
  EXPECT_EQ(memo->WriteMemo("new", 0), 6);
}

TEST(Db3Memo, TextWithoutEndMarkIsCutAtLimitOrAtEndOfFile) {
  MemoFixture f;
  MemoFileBuilder builder(MemoLayout::Db3);
  builder.Add(std::string(70000, 'a'), 1, /*endMark=*/false);
  builder.Save(f.MemoPath(MemoLayout::Db3));
  auto memo = f.Open(0x83);
  EXPECT_EQ(memo->MemoLength(1), 65519);
  EXPECT_EQ(memo->ReadMemo(1), std::string(65519, 'a'));
  memo.reset();

  std::vector<uint8_t> bytes = MemoFileBuilder(MemoLayout::Db3).Bytes();
  bytes.resize(512 + 40, 'b');  // 40 bytes of text at block 1, then the file ends
  WriteBytes(f.MemoPath(MemoLayout::Db3), bytes);
  memo = f.Open(0x83);
  EXPECT_EQ(memo->ReadMemo(1), std::string(40, 'b'));
}

TEST(Db3Memo, EncipheredMemoCarriesLengthPrefixAndEncipheredText) {
  MemoFixture f;
  MemoFileBuilder(MemoLayout::Db3).Save(f.MemoPath(MemoLayout::Db3));
  auto memo = f.Open(0x83, "secret");
  std::string text = CyrillicText(506, 4);  // 4 + 506 + 2 = one block
  EXPECT_EQ(memo->WriteMemo(text, 0), 1);
  EXPECT_EQ(memo->WriteMemo(CyrillicText(507, 5), 0), 2);  // two blocks
  EXPECT_EQ(memo->WriteMemo("x", 0), 4);
  EXPECT_EQ(memo->MemoLength(1), 506);
  EXPECT_EQ(memo->ReadMemo(2), CyrillicText(507, 5));
  memo->Close();

  std::vector<uint8_t> bytes = ReadBytes(f.MemoPath(MemoLayout::Db3));
  EXPECT_EQ(GetLe(bytes, 512), 506u);
  EXPECT_NE(std::string(bytes.begin() + 516, bytes.begin() + 1022), text);
  EXPECT_EQ(bytes[1022], 0x1A);
  EXPECT_EQ(bytes[1023], 0x1A);
}

TEST(Db3Memo, PasswordChangeReadsWithTheOldAndWritesWithTheNew) {
  MemoFixture f;
  // Block 1, and block 2 with 511 bytes with the marks.
  auto memo = f.Make(MemoLayout::Db3, {"plain text", CyrillicText(509, 1)});

  memo->SetPasswords("", "key");
  EXPECT_EQ(memo->WriteMemo(memo->ReadMemo(1), 1), 1);  // 4 + 10 + 2 still fit
  EXPECT_EQ(memo->WriteMemo(memo->ReadMemo(2), 2), 3);  // 4 + 509 + 2 do not
  memo->SetPasswords("key", "key");
  EXPECT_EQ(memo->MemoLength(1), 10);
  EXPECT_EQ(memo->ReadMemo(1), "plain text");
  EXPECT_EQ(memo->ReadMemo(3), CyrillicText(509, 1));

  memo->SetPasswords("key", "");
  EXPECT_EQ(memo->WriteMemo(memo->ReadMemo(1), 1), 1);
  memo->SetPasswords("", "");
  EXPECT_EQ(memo->ReadMemo(1), "plain text");
  memo->Close();
  std::vector<uint8_t> bytes = ReadBytes(f.MemoPath(MemoLayout::Db3));
  EXPECT_EQ(std::string(bytes.begin() + 512, bytes.begin() + 524), "plain text\x1A\x1A");
}

TEST(Db3Memo, DamagedReferencesAndHeadersAreBadMemoRecords) {
  MemoFixture f;
  auto memo = f.Make(MemoLayout::Db3, {"text"});
  EXPECT_EQ(ErrorOf([&] { memo->MemoLength(2); }), BadMemo(*memo));  // past the end
  EXPECT_EQ(ErrorOf([&] { memo->ReadMemo(0x7FFFFFFF); }), BadMemo(*memo));
  memo.reset();

  // A next-free block far beyond the file would grow it without bound.
  // Opened shared, so the failed write must also have let go of the memo lock.
  PatchFile(f.MemoPath(MemoLayout::Db3), 0, LE32(0x7FFFFFF0));
  memo = f.Open(0x83, "", /*shared=*/true);
  EXPECT_EQ(ErrorOf([&] { memo->WriteMemo("new", 0); }), BadMemo(*memo));
  EXPECT_EQ(memo->LockCount(), 0);
  memo.reset();
  PatchFile(f.MemoPath(MemoLayout::Db3), 0, LE32(0));  // would overwrite the header
  memo = f.Open(0x83);
  EXPECT_EQ(ErrorOf([&] { memo->WriteMemo("new", 0); }), BadMemo(*memo));

  // An enciphered memo whose length prefix runs past the end of the file.
  memo.reset();
  PatchFile(f.MemoPath(MemoLayout::Db3), 512, LE32(100000));
  memo = f.Open(0x83, "secret");
  EXPECT_EQ(ErrorOf([&] { memo->ReadMemo(1); }), BadMemo(*memo));
}

// ---------------------------------------------------------------------------
// dBase IV

TEST(Db4Memo, BlockCountsFollowTheHeaderBlockSize) {
  MemoFixture f;
  auto memo = f.Make(MemoLayout::Db4);
  EXPECT_EQ(memo->WriteMemo(std::string(504, 'a'), 0), 1);  // 504 + 8 = one block
  EXPECT_EQ(memo->WriteMemo(std::string(505, 'b'), 0), 2);  // two blocks
  EXPECT_EQ(memo->WriteMemo("c", 0), 4);
  EXPECT_EQ(memo->MemoLength(2), 505 + 8);
  EXPECT_EQ(memo->ReadMemo(2), std::string(505, 'b'));
  memo->Close();
  std::vector<uint8_t> bytes = ReadBytes(f.MemoPath(MemoLayout::Db4));
  EXPECT_EQ(GetLe(bytes, 0), 5u);  // the free list is empty: head = end of file
  EXPECT_EQ(bytes.size(), 5u * 512);
  EXPECT_EQ(bytes[1024], 0xFF);
  EXPECT_EQ(bytes[1025], 0xFF);
  EXPECT_EQ(bytes[1026], 8);
  EXPECT_EQ(GetLe(bytes, 1028), 513u);
}

TEST(Db4Memo, ShorterTextKeepsItsStartBlockAndFreesTheRest) {
  MemoFixture f;
  auto memo = f.Make(MemoLayout::Db4, {std::string(1500, 'a'), "tail"});  // blocks 1-3, 4
  EXPECT_EQ(memo->WriteMemo(std::string(1400, 'b'), 1), 1);  // same three blocks
  EXPECT_EQ(memo->WriteMemo("short", 1), 1);
  memo->Close();
  std::vector<uint8_t> bytes = ReadBytes(f.MemoPath(MemoLayout::Db4));
  EXPECT_EQ(GetLe(bytes, 0), 2u);          // head: the two blocks left over
  EXPECT_EQ(GetLe(bytes, 1024), 5u);       // their next: end of file
  EXPECT_EQ(GetLe(bytes, 1024 + 4), 2u);   // run length

  memo = f.Open(0x8B);
  EXPECT_EQ(memo->ReadMemo(1), "short");
  EXPECT_EQ(memo->ReadMemo(4), "tail");
  // A new memo of two blocks takes the free run.
  EXPECT_EQ(memo->WriteMemo(std::string(600, 'c'), 0), 2);
  EXPECT_EQ(memo->WriteMemo("d", 0), 5);
}

TEST(Db4Memo, LongerTextMovesToFirstFittingRunOrToEndOfFile) {
  MemoFixture f;
  auto memo = f.Make(MemoLayout::Db4, {"one", std::string(1500, 'b'), "three"});  // blocks 1, 2-4, 5
  EXPECT_EQ(memo->WriteMemo("", 0), 0);  // stores nothing
  EXPECT_EQ(memo->WriteMemo("", 2), 0);  // frees blocks 2-4
  // Block 1 freed makes a one-block run ahead of the three-block one; the
  // two-block text skips it and splits the larger run.
  EXPECT_EQ(memo->WriteMemo(std::string(900, 'a'), 1), 2);
  memo->Close();
  std::vector<uint8_t> bytes = ReadBytes(f.MemoPath(MemoLayout::Db4));
  EXPECT_EQ(GetLe(bytes, 0), 1u);         // head: block 1
  EXPECT_EQ(GetLe(bytes, 512), 4u);       // block 1 -> block 4
  EXPECT_EQ(GetLe(bytes, 512 + 4), 1u);
  EXPECT_EQ(GetLe(bytes, 2048), 6u);      // block 4 -> end of file
  EXPECT_EQ(GetLe(bytes, 2048 + 4), 1u);

  memo = f.Open(0x8B);
  EXPECT_EQ(memo->ReadMemo(2), std::string(900, 'a'));
  // Nothing free is large enough: the text goes to the end of the file.
  EXPECT_EQ(memo->WriteMemo(std::string(2000, 'z'), 0), 6);
  // Runs of one block still serve one-block texts, first fit first.
  EXPECT_EQ(memo->WriteMemo("x", 0), 1);
  EXPECT_EQ(memo->WriteMemo("y", 0), 4);
  EXPECT_EQ(memo->WriteMemo("w", 0), 10);
}

TEST(Db4Memo, FreshHeaderWithoutFreeListAllocatesAfterIt) {
  MemoFixture f;
  std::vector<uint8_t> header(24, 0);
  header[21] = 2;  // block size 512, head 0, file shorter than a block
  WriteBytes(f.MemoPath(MemoLayout::Db4), header);
  auto memo = f.Open(0x8B);
  EXPECT_EQ(memo->SizeOfFile(), 512);  // extended to one block
  EXPECT_EQ(memo->WriteMemo("first", 0), 1);
  EXPECT_EQ(memo->WriteMemo("second", 0), 2);
}

TEST(Db4Memo, DamagedBlocksAndFreeListsAreBadMemoRecords) {
  MemoFixture f;
  const std::string path = f.MemoPath(MemoLayout::Db4);
  {
    auto memo = f.Make(MemoLayout::Db4, {"one", "two", "three"});
    PatchFile(path, 512, {0x12, 0x34});  // block 1 without its 0xFF 0xFF
    EXPECT_EQ(ErrorOf([&] { memo->ReadMemo(1); }), BadMemo(*memo));
    PatchFile(path, 1024 + 4, LE32(3));  // shorter than its own header
    EXPECT_EQ(ErrorOf([&] { memo->ReadMemo(2); }), BadMemo(*memo));
  }
  {
    // Blocks 1 and 2 as free runs pointing at each other; a three-block
    // text fits neither and the walk must end.
    PatchFile(path, 0, LE32(1));
    PatchFile(path, 512, LE32(2));
    PatchFile(path, 512 + 4, LE32(1));
    PatchFile(path, 1024, LE32(1));
    PatchFile(path, 1024 + 4, LE32(1));
    auto memo = f.Open(0x8B, "", /*shared=*/true);
    EXPECT_EQ(ErrorOf([&] { memo->WriteMemo(std::string(1200, 'x'), 0); }), BadMemo(*memo));
    EXPECT_EQ(memo->LockCount(), 0);
  }
  {
    // A run claiming more blocks than the file has.
    PatchFile(path, 512, LE32(4));
    PatchFile(path, 512 + 4, LE32(1000));
    auto memo = f.Open(0x8B);
    EXPECT_EQ(ErrorOf([&] { memo->WriteMemo("x", 0); }), BadMemo(*memo));
  }
  {
    PatchFile(path, 20, LE32(7));  // block size too small to be real
    EXPECT_EQ(ErrorOf([&] { f.Open(0x8B); }), FormatMessage(Msg::MemoRecordBad, {path}));
  }
}

// ---------------------------------------------------------------------------
// FoxPro

TEST(FoxMemo, BlockSize64FromHeaderAndHundredByteTextTakesTwoBlocks) {
  MemoFixture f;
  auto memo = f.Make(MemoLayout::Fox, {}, 64);
  std::string text = CyrillicText(100, 3);
  EXPECT_EQ(memo->WriteMemo(text, 0), 8);  // after the 512-byte header
  EXPECT_EQ(memo->CurrentCount(), 2);      // ceil(108 / 64)
  EXPECT_EQ(memo->WriteMemo("x", 0), 10);
  EXPECT_EQ(memo->ReadMemo(8), text);
  memo->Close();
  std::vector<uint8_t> bytes = ReadBytes(f.MemoPath(MemoLayout::Fox));
  EXPECT_EQ(GetBe(bytes, 0), 11u);  // next free, big-endian
  EXPECT_EQ(bytes[6], 0x00);
  EXPECT_EQ(bytes[7], 0x40);       // block size kept
  EXPECT_EQ(GetBe(bytes, 512), 1u);
  EXPECT_EQ(GetBe(bytes, 516), 100u);
}

TEST(FoxMemo, PictureBlockOfTypeZeroReadsLikeTextAndOtherTypesAreBad) {
  MemoFixture f;
  MemoFileBuilder builder(MemoLayout::Fox, 64);
  int32_t picture = builder.Add("picture bytes", 0);
  int32_t object = builder.Add("object", 2);
  builder.Save(f.MemoPath(MemoLayout::Fox));
  auto memo = f.Open(0x30);
  EXPECT_EQ(memo->ReadMemo(picture), "picture bytes");
  EXPECT_EQ(ErrorOf([&] { memo->ReadMemo(object); }), BadMemo(*memo));
}

TEST(FoxMemo, RewriteStaysInPlaceWhenItFitsAndMovesOtherwise) {
  MemoFixture f;
  auto memo = f.Make(MemoLayout::Fox, {std::string(100, 'a'), "b"}, 64);
  const int32_t first = 8, second = 10;  // blocks 8-9 and 10, after the header
  EXPECT_EQ(memo->WriteMemo(std::string(120, 'c'), first), first);  // 128 bytes: still two
  EXPECT_EQ(memo->WriteMemo(std::string(121, 'd'), first), 11);     // three blocks: moves
  EXPECT_EQ(memo->ReadMemo(second), "b");
  EXPECT_EQ(memo->WriteMemo("e", 0), 14);
}

TEST(FoxMemo, DamagedHeaderOrLengthIsBadMemoRecord) {
  MemoFixture f;
  const std::string path = f.MemoPath(MemoLayout::Fox);
  {
    auto memo = f.Make(MemoLayout::Fox, {"abc"}, 64);
    PatchFile(path, 512 + 4, BE32(0xFFFFFFF0));  // length far beyond the file
    EXPECT_EQ(ErrorOf([&] { memo->ReadMemo(8); }), BadMemo(*memo));
    EXPECT_EQ(ErrorOf([&] { memo->ReadMemo(3); }), BadMemo(*memo));  // inside the header
    EXPECT_EQ(ErrorOf([&] { memo->WriteMemo("x", 7); }), BadMemo(*memo));
    PatchFile(path, 0, BE32(3));  // next free inside the header
    EXPECT_EQ(ErrorOf([&] { memo->WriteMemo("x", 0); }), BadMemo(*memo));
  }
  WriteBytes(path, {0, 0, 0});  // shorter than a header
  EXPECT_EQ(ErrorOf([&] { f.Open(0xF5); }), FormatMessage(Msg::MemoRecordBad, {path}));
}

// ---------------------------------------------------------------------------
// Empty texts, renaming and the allocation lock

TEST(MemoFile, RenameFollowsTheTableAndRecordsItsNameInDbtHeaders) {
  MemoFixture f;
  auto memo = f.Make(MemoLayout::Db4);
  int32_t block = memo->WriteMemo("kept", 0);
  memo->RenameMemo(f.dir.File("customers2026.dbf"));
  EXPECT_EQ(memo->FileName(), f.dir.File("customers2026.dbt"));
  EXPECT_EQ(memo->ReadMemo(block), "kept");
  memo->Close();
  std::vector<uint8_t> bytes = ReadBytes(f.dir.File("customers2026.dbt"));
  EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 17), std::string("customer\0", 9));
  EXPECT_EQ(GetLe(bytes, 20), 512u);  // the block size is untouched

  MemoFileBuilder fox(MemoLayout::Fox, 64);
  fox.Save(f.MemoPath(MemoLayout::Fox));
  auto foxMemo = f.Open(0xF5);
  foxMemo->RenameMemo(f.dir.File("other.dbf"));
  EXPECT_EQ(foxMemo->FileName(), f.dir.File("other.fpt"));
  foxMemo->Close();
  EXPECT_EQ(ReadBytes(f.dir.File("other.fpt")), fox.Bytes());  // header unchanged
}

TEST(MemoFile, AllocationWaitsForTheMemoLockAndGivesUpWithAnError) {
  MemoFixture f;
  MemoFileBuilder(MemoLayout::Db3).Save(f.MemoPath(MemoLayout::Db3));
  auto memo = f.Open(0x83, "", /*shared=*/true);
  memo->SetLockProtocol(TgsLokProtocol::DB4Lock);
  EXPECT_EQ(memo->WriteMemo("free to go", 0), 1);
  EXPECT_EQ(memo->LockCount(), 0);

  GSO_DiskFile other(f.MemoPath(MemoLayout::Db3), true, true);
  other.Open();
  TgsLockArea area = MemoLockArea(TgsLokProtocol::DB4Lock);
  ASSERT_TRUE(other.LockRegion(area.offset, area.length));
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorOf([&] { memo->WriteMemo("blocked", 0); }),
            FormatMessage(Msg::CannotLockFile, {memo->FileName()}));
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(4000));
  // Another protocol's region is not in the way.
  memo->SetLockProtocol(TgsLokProtocol::ClipLock);
  EXPECT_EQ(memo->WriteMemo("other protocol", 0), 2);
  other.Unlock();
}
