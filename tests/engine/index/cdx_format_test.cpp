// CDX byte layouts: leaf parameters, the leaf and branch codecs, key forms,
// tag headers and the refusal of damaged nodes and headers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/index/gs6_cdx_format.h"

using namespace cdx;

namespace {

std::string Hex(std::string_view s) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

struct Entry {
  std::string key;
  uint32_t rec;
};

// Writes entries into a fresh leaf until one does not fit; returns how many.
size_t FillLeaf(uint8_t* node, const KeyFormat& fmt, const LeafParams& p,
                const std::vector<Entry>& entries) {
  std::memset(node, 0, kBlockSize);
  LeafWriter w(node, fmt, p);
  w.Clear();
  size_t n = 0;
  while (n < entries.size() && w.Add(entries[n].key, entries[n].rec)) ++n;
  return n;
}

}  // namespace

// The record number takes every bit below the two counts, so that readers
// that find the duplicate count right above the record number (as other
// programs do) read the same entries as readers that count from the top.
TEST(CdxLeafParams, InfoFieldGrowsWithTheLargestValueAndUsesEveryBit) {
  const struct {
    int keyLength;
    uint32_t largest;
    int duplicateBits, recordBits, bytesPerEntry;
  } cases[] = {
      {7, 262143, 3, 18, 3},          {7, 262144, 3, 26, 4},     {35, 4095, 6, 12, 3},
      {35, 5000, 6, 20, 4},           {10, 0xFFFF, 4, 16, 3},    {10, 0xFFFFFF, 4, 24, 4},
      {10, 0x1000000, 4, 32, 5},      {240, 0x7FFFFFFF, 8, 32, 6}, {1, 0x7FFFFFFF, 1, 38, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.keyLength) + " / " + std::to_string(c.largest));
    const LeafParams p = ComputeLeafParams(c.keyLength, c.largest);
    EXPECT_EQ(p.duplicateBits, c.duplicateBits);
    EXPECT_EQ(p.trailingBits, c.duplicateBits);
    EXPECT_EQ(p.duplicateMask, (1 << c.duplicateBits) - 1);
    EXPECT_EQ(p.recordBits, c.recordBits);
    EXPECT_EQ(p.recordMask, std::min<uint64_t>((uint64_t{1} << c.recordBits) - 1, 0xFFFFFFFF));
    EXPECT_EQ(p.bytesPerEntry, c.bytesPerEntry);
    EXPECT_EQ(8 * p.bytesPerEntry, p.recordBits + 2 * p.duplicateBits);
  }
  EXPECT_EQ(BranchCapacity(7), 33);
  EXPECT_EQ(BranchCapacity(35), 11);
}

// Five-byte entries as directories of files above 16 MiB have them: the
// record number in bits 0-31, the counts in 32-35 and 36-39. Leaves written
// with 31 record bits and a bit left unused still read the same.
TEST(CdxLeaf, FiveByteEntriesReadInBothLayouts) {
  const KeyFormat fmt{10, true, false};
  const std::vector<Entry> entries = {{"ADR", 0x1000200}, {"ADRX", 0x7FFFFE00}, {"B", 1536}};
  LeafParams now = ComputeLeafParams(10, 0x7FFFFE00);
  LeafParams before = now;
  before.recordBits = 31;
  before.recordMask = 0x7FFFFFFF;
  uint8_t node[kBlockSize];
  ASSERT_EQ(FillLeaf(node, fmt, now, entries), entries.size());
  // Entry 1: duplicate 3, trailing 6.
  EXPECT_EQ(node[24 + 5 + 4], 0x63);
  EXPECT_EQ(GetLE32(node + 24 + 5), 0x7FFFFE00u);
  for (const LeafParams& p : {now, before}) {
    ASSERT_EQ(FillLeaf(node, fmt, p, entries), entries.size());
    std::vector<NodeEntry> out;
    ASSERT_TRUE(DecodeLeaf(node, fmt, out));
    ASSERT_EQ(out.size(), entries.size());
    for (size_t i = 0; i < out.size(); ++i) {
      EXPECT_EQ(out[i].key, entries[i].key);
      EXPECT_EQ(out[i].recordNumber, entries[i].rec);
    }
  }
}

TEST(CdxBranch, CharacterKeyIsBlankPaddedBigEndianAndReadBackTrimmed) {
  uint8_t node[kBlockSize] = {};
  KeyFormat fmt{7, true, false};
  ClearBranchArea(node, fmt);
  PutBranchEntry(node, fmt, 0, "ABC", 0x01020304, 0x0600);
  PutLE16(node + 2, 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(node + 12), 7), "ABC    ");
  EXPECT_EQ(node[19], 0x01);
  EXPECT_EQ(node[22], 0x04);
  EXPECT_EQ(GetBE32(node + 23), 0x0600u);
  std::vector<NodeEntry> out;
  ASSERT_TRUE(DecodeBranch(node, fmt, 4096, out));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].key, "ABC");
  EXPECT_EQ(out[0].recordNumber, 0x01020304u);
  EXPECT_EQ(out[0].child, 0x600u);
}

TEST(CdxBranch, DamagedBranchIsRefused) {
  uint8_t node[kBlockSize] = {};
  KeyFormat fmt{7, true, false};
  ClearBranchArea(node, fmt);
  PutBranchEntry(node, fmt, 0, "A", 1, 1024);
  PutLE16(node + 2, 1);
  std::vector<NodeEntry> out;
  EXPECT_TRUE(DecodeBranch(node, fmt, 1536, out));
  EXPECT_FALSE(DecodeBranch(node, fmt, 1024, out)) << "child beyond the file";
  PutBranchEntry(node, fmt, 0, "A", 1, 1000);
  EXPECT_FALSE(DecodeBranch(node, fmt, 4096, out)) << "child not a multiple of 512";
  PutBranchEntry(node, fmt, 0, "A", 1, 0);
  EXPECT_FALSE(DecodeBranch(node, fmt, 4096, out)) << "child 0";
  PutBranchEntry(node, fmt, 0, "A", 1, 1024);
  PutLE16(node + 2, 34);
  EXPECT_FALSE(DecodeBranch(node, fmt, 1 << 20, out)) << "count above capacity";
}

TEST(CdxLeaf, FreeCountMatchesStoredBytes) {
  KeyFormat fmt{7, true, false};
  LeafParams p = ComputeLeafParams(7, 100);
  uint8_t node[kBlockSize] = {};
  LeafWriter w(node, fmt, p);
  w.Clear();
  ASSERT_TRUE(w.Add("ABC", 1));    // 3 + 3
  ASSERT_TRUE(w.Add("ABD", 2));    // 3 + 1
  ASSERT_TRUE(w.Add("ABD", 3));    // 3 + 0
  ASSERT_TRUE(w.Add("X", 4));      // 3 + 1
  EXPECT_EQ(GetLE16(node + 12), 488 - 6 - 4 - 3 - 4);
  EXPECT_EQ(GetLE16(node + 2), 4);
  // The first key's bytes end at 512.
  EXPECT_EQ(std::string(reinterpret_cast<char*>(node + 509), 3), "ABC");
  // Info field of entry 1: record 2, duplicate 2, trailing 4.
  uint32_t info = node[27] | (node[28] << 8) | (node[29] << 16);
  EXPECT_EQ(info & p.recordMask, 2u);
  EXPECT_EQ((info >> (24 - 3 - 3)) & 7, 2u);
  EXPECT_EQ((info >> (24 - 3)) & 7, 4u);
}

TEST(CdxLeaf, FullLeafRefusesFurtherKeys) {
  KeyFormat fmt{35, true, false};
  LeafParams p = ComputeLeafParams(35, 100);
  std::vector<Entry> keys;
  // Keys that differ in their first byte share nothing: 38 bytes each.
  for (int i = 0; i < 40; ++i) keys.push_back({std::string(35, static_cast<char>('A' + i)), 1});
  uint8_t node[kBlockSize];
  size_t n = FillLeaf(node, fmt, p, keys);
  EXPECT_EQ(n, 12u);
  EXPECT_EQ(GetLE16(node + 12), 488 - 12 * 38);
  std::vector<NodeEntry> out;
  ASSERT_TRUE(DecodeLeaf(node, fmt, out));
  EXPECT_EQ(out.size(), n);
}

TEST(CdxLeaf, DamagedLeafIsRefused) {
  KeyFormat fmt{7, true, false};
  LeafParams p = ComputeLeafParams(7, 100);
  std::vector<Entry> keys = {{"AAA", 1}, {"BBB", 2}, {"CCC", 3}};
  uint8_t node[kBlockSize];
  FillLeaf(node, fmt, p, keys);
  std::vector<NodeEntry> out;
  ASSERT_TRUE(DecodeLeaf(node, fmt, out));

  uint8_t bad[kBlockSize];
  std::memcpy(bad, node, kBlockSize);
  PutLE16(bad + 2, 200);  // 200 info fields of 3 bytes overrun the area
  EXPECT_FALSE(DecodeLeaf(bad, fmt, out));
  PutLE16(bad + 2, 150);  // fits, but key bytes would overlap the info fields
  EXPECT_FALSE(DecodeLeaf(bad, fmt, out));

  std::memcpy(bad, node, kBlockSize);
  bad[23] = 0;  // bytes per entry
  EXPECT_FALSE(DecodeLeaf(bad, fmt, out));
  std::memcpy(bad, node, kBlockSize);
  bad[21] = 14;  // duplicate + trailing bits beyond 16
  EXPECT_FALSE(DecodeLeaf(bad, fmt, out));

  std::memcpy(bad, node, kBlockSize);
  bad[24 + 2] |= 0xFC;  // duplicate 7 + trailing 7 > key length 7
  EXPECT_FALSE(DecodeLeaf(bad, fmt, out));

  KeyFormat tooLong{241, true, false};
  EXPECT_FALSE(DecodeLeaf(node, tooLong, out));
}

// Eight-byte entries whose duplicate and trailing counts have no bits: the
// counts read as 0 and every key is stored whole. Reading the counts once
// shifted a 64-bit value by 64 bits (found by fuzzing).
TEST(CdxLeaf, CountFieldsOfNoBitsReadAsZero) {
  uint8_t node[kBlockSize] = {};
  PutLE16(node + 0, 3);  // a root leaf
  PutLE16(node + 2, 1);
  PutLE32(node + 14, 0xFFFFFFFF);  // record mask; both count masks and bit widths 0
  node[20] = 32;
  node[23] = 8;
  PutLE32(node + 24, 77);
  std::memcpy(node + kBlockSize - 7, "ABCDEFG", 7);
  std::vector<NodeEntry> out;
  ASSERT_TRUE(DecodeLeaf(node, KeyFormat{7, true, false}, out));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].key, "ABCDEFG");
  EXPECT_EQ(out[0].recordNumber, 77u);
}

TEST(CdxNodeHeader, SiblingsMustBeNodeAddresses) {
  uint8_t node[kBlockSize] = {};
  NodeHeader h{3, 0, -1, -1};
  EncodeNodeHeader(h, node);
  NodeHeader r;
  EXPECT_TRUE(DecodeNodeHeader(node, 2048, r));
  EXPECT_TRUE(r.IsLeaf());
  h.right = 1024;
  EncodeNodeHeader(h, node);
  EXPECT_TRUE(DecodeNodeHeader(node, 2048, r));
  EXPECT_FALSE(DecodeNodeHeader(node, 1024, r));
  h.right = 1000;
  EncodeNodeHeader(h, node);
  EXPECT_FALSE(DecodeNodeHeader(node, 4096, r));
  // Bits above the root and leaf bits, as other programs write them.
  h = {7, 0, -1, -1};
  EncodeNodeHeader(h, node);
  ASSERT_TRUE(DecodeNodeHeader(node, 4096, r));
  EXPECT_TRUE(r.IsLeaf());
  h = {0xFFF9, 0, -1, -1};
  EncodeNodeHeader(h, node);
  ASSERT_TRUE(DecodeNodeHeader(node, 4096, r));
  EXPECT_FALSE(r.IsLeaf());
}

TEST(CdxNumericKey, BytesOfZeroAndOne) {
  EXPECT_EQ(Hex(NumericKey(0)), "80");
  EXPECT_EQ(Hex(NumericKey(-0.0)), "80");
  EXPECT_EQ(Hex(NumericKey(1.0)), "BFF0");
  EXPECT_EQ(Hex(NumericKey(-1.0)), "400FFFFFFFFFFFFF");
}

TEST(CdxNumericKey, SortsInNumericOrderAndRoundTrips) {
  std::vector<double> v = {-1e300, -12345.5, -2, -1.5, -1, -0.25, 0, 1e-300, 0.5, 1, 1.5, 2, 10,
                           123456789, 1e300};
  for (size_t i = 0; i < v.size(); ++i) {
    EXPECT_EQ(NumericKeyValue(NumericKey(v[i])), v[i]);
    if (i > 0) {
      EXPECT_LT(NumericKey(v[i - 1]), NumericKey(v[i])) << v[i - 1] << " " << v[i];
    }
  }
  // A negative double whose low bytes are 0xFF keeps them: padding with zero
  // bytes must give back the same value.
  double tricky = std::bit_cast<double>(uint64_t{0xC000000000000000});  // -2
  std::string k = NumericKey(tricky);
  EXPECT_EQ(k.size(), 8u);
  EXPECT_EQ(NumericKeyValue(k), -2.0);
}

TEST(CdxGeneral, CaseFoldsAndExpands) {
  EXPECT_EQ(GeneralKey("A"), GeneralKey("a"));
  EXPECT_EQ(GeneralKey("ABC"), GeneralKey("abc"));
  EXPECT_EQ(Hex(GeneralKey("A")), "60");
  EXPECT_EQ(Hex(GeneralKey("\xC4")), "60F4");  // A-umlaut: weight of A, secondary F4
  EXPECT_GT(GeneralKey("\xC4"), GeneralKey("A"));
  EXPECT_LT(GeneralKey("\xC4"), GeneralKey("B"));
  EXPECT_EQ(GeneralKey("\xC6"), GeneralKey("AE"));  // AE ligature
  EXPECT_EQ(GeneralKey("\xDF"), GeneralKey("SS"));  // sharp s
  EXPECT_EQ(Hex(GeneralKey("\xDE")), "7769");       // thorn: TH, no secondaries
}

TEST(CdxTagHeader, RoundTripsEveryField) {
  TagHeader h;
  h.rootAddress = 2048;
  h.version = 77;
  h.keyLength = 14;
  h.options = 0x60 | kOptionUnique | kOptionHasFor;
  h.collation = Collation::General;
  h.descending = true;
  h.keyExpression = "FIO";
  h.forExpression = "tip=1";
  uint8_t buf[kHeaderSize];
  ASSERT_TRUE(EncodeTagHeader(h, buf));
  EXPECT_EQ(buf[15], 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf + 494)), "GENERAL");
  EXPECT_EQ(GetLE16(buf + 502), 1);
  EXPECT_EQ(GetLE16(buf + 504), 4);
  EXPECT_EQ(GetLE16(buf + 506), 6);
  EXPECT_EQ(GetLE16(buf + 510), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf + 516)), "tip=1");
  TagHeader r;
  ASSERT_TRUE(DecodeTagHeader(buf, 4096, r));
  EXPECT_EQ(r.rootAddress, 2048);
  EXPECT_EQ(r.version, 77u);
  EXPECT_EQ(r.keyLength, 14);
  EXPECT_EQ(r.options, h.options);
  EXPECT_EQ(r.collation, Collation::General);
  EXPECT_TRUE(r.descending);
  EXPECT_EQ(r.keyExpression, "FIO");
  EXPECT_EQ(r.forExpression, "tip=1");

  h.forExpression = std::string(600, 'x');
  EXPECT_FALSE(EncodeTagHeader(h, buf)) << "expressions beyond the pool";
}

TEST(CdxTagHeader, DamagedHeaderIsRefused) {
  TagHeader h;
  h.rootAddress = 1024;
  h.keyLength = 10;
  h.options = kOptionDirectory;
  uint8_t buf[kHeaderSize];
  ASSERT_TRUE(EncodeTagHeader(h, buf));
  TagHeader r;
  EXPECT_TRUE(DecodeTagHeader(buf, 1536, r));
  EXPECT_FALSE(DecodeTagHeader(buf, 1024, r)) << "root beyond the file";
  PutLE32(buf, 0);
  EXPECT_FALSE(DecodeTagHeader(buf, 1536, r)) << "root 0";
  PutLE32(buf, 1100);
  EXPECT_FALSE(DecodeTagHeader(buf, 4096, r)) << "root not a multiple of 512";
  PutLE32(buf, 1024);
  PutLE16(buf + 12, 241);
  EXPECT_FALSE(DecodeTagHeader(buf, 1536, r)) << "key length above 240";
  PutLE16(buf + 12, 0);
  EXPECT_FALSE(DecodeTagHeader(buf, 1536, r)) << "key length 0";
}

TEST(CdxTagHeader, UnterminatedExpressionPoolStaysInBounds) {
  uint8_t buf[kHeaderSize];
  std::memset(buf, 'x', sizeof buf);
  PutLE32(buf, 1024);
  PutLE16(buf + 12, 10);
  buf[14] = 0x68;
  TagHeader r;
  ASSERT_TRUE(DecodeTagHeader(buf, 4096, r));
  EXPECT_EQ(r.keyExpression.size(), 512u);
  EXPECT_TRUE(r.forExpression.empty());
}

