// File-name and string helpers, the owning list and the record bit set.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/support/gs6_tool.h"

TEST(WildcardPos, StarsAndQuestionMarks) {
  EXPECT_EQ(WildcardPos("*", "anything"), 1u);
  EXPECT_EQ(WildcardPos("*", ""), 0u);
  EXPECT_EQ(WildcardPos("", "abc"), 0u);
  EXPECT_EQ(WildcardPos("*OV", "IVANOV"), 5u);
  EXPECT_EQ(WildcardPos("IVA*", "IVANOV"), 1u);
  EXPECT_EQ(WildcardPos("**", "ab"), 1u);  // "*" left after the leading star
  EXPECT_EQ(WildcardPos("?VAN", "IVANOV"), 1u);
  EXPECT_EQ(WildcardPos("X?A", "IVANOV"), 0u);
  // After a leading star a "?" is a plain character.
  EXPECT_EQ(WildcardPos("*?A", "IVANOV"), 0u);
  EXPECT_EQ(WildcardPos("*?A", "WHY?A"), 4u);
  EXPECT_EQ(WildcardPos("NOV", "IVANOV"), 4u);
}

TEST(FileNames, BaseNameDropsDirectoryAndExtensionAndDefaultOnlyAddsOne) {
  EXPECT_EQ(BaseName("/home/user/data/PHONE.DBF"), "PHONE");
  EXPECT_EQ(BaseName("dir.d/PHONE"), "PHONE");
  EXPECT_EQ(BaseName("archive.tar.gz"), "archive.tar");
  EXPECT_EQ(BaseName("/data/"), "");
  // A default extension only when there is none.
  EXPECT_EQ(DefaultExtension("PHONE", "DBF"), "PHONE.DBF");
  EXPECT_EQ(DefaultExtension("PHONE.dat", ".DBF"), "PHONE.dat");
  EXPECT_EQ(DefaultExtension("PHONE.", ".DBF"), "PHONE.");
  EXPECT_EQ(DefaultExtension("dir.d/PHONE", ".DBF"), "dir.d/PHONE.DBF");
}

TEST(PadBuffer, AppendsUpToLengthAndTerminates) {
  char buf[8] = "ab";
  PadBuffer(buf, '-', 5);
  EXPECT_STREQ(buf, "ab---");
  PadBuffer(buf, '+', 3);
  EXPECT_STREQ(buf, "ab---");
}

namespace {

struct Tracked {
  explicit Tracked(std::vector<int>* log, int id) : log_(log), id_(id) {}
  ~Tracked() { log_->push_back(id_); }
  std::vector<int>* log_;
  int id_;
};

// A list of items it does not own.
class BorrowingList : public TgsCollection<Tracked> {
 public:
  ~BorrowingList() override { ClearAndFree(); }

 protected:
  void ReleaseItem(std::unique_ptr<Tracked> item) override { (void)item.release(); }
};

}  // namespace

TEST(Collection, OwnsItemsAndFreesThemInListOrder) {
  std::vector<int> freed;
  {
    TgsCollection<Tracked> list;
    Tracked* one = list.Add(std::make_unique<Tracked>(&freed, 1));
    list.Add(std::make_unique<Tracked>(&freed, 3));
    list.Insert(1, std::make_unique<Tracked>(&freed, 2));
    EXPECT_EQ(list[1]->id_, 2);
    list.RemoveAndFree(one);
    EXPECT_EQ(freed, std::vector<int>{1});
    std::unique_ptr<Tracked> kept = list.Extract(list[1]);
    EXPECT_EQ(freed.size(), 1u);  // extracted, not freed
    kept.reset();
    list.Add(std::make_unique<Tracked>(&freed, 4));
    list.Add(std::make_unique<Tracked>(&freed, 5));
  }
  EXPECT_EQ(freed, (std::vector<int>{1, 3, 2, 4, 5}));
}

TEST(Collection, ReleaseHookCanKeepBorrowedItems) {
  std::vector<int> freed;
  Tracked a(&freed, 1), b(&freed, 2);
  {
    BorrowingList list;
    list.Add(std::unique_ptr<Tracked>(&a));
    list.Add(std::unique_ptr<Tracked>(&b));
    list.RemoveAndFree(&a);
    EXPECT_EQ(list.Count(), 1u);
  }
  EXPECT_TRUE(freed.empty());
}

TEST(HugeSet, BitsAcrossPages) {
  TgsHugeSet set;
  set.SetBit(10, TgsHugeSet::kSet);
  EXPECT_FALSE(set.TestBit(200000));  // above the highest index: no allocation
  EXPECT_EQ(set.PageCount(), 1u);

  const int32_t second = TgsHugeSet::kPageBits + 7;
  set.SetBit(second, TgsHugeSet::kSet);
  EXPECT_EQ(set.PageCount(), 2u);
  EXPECT_TRUE(set.TestBit(second));
  EXPECT_FALSE(set.TestBit(7));
  set.SetBit(second, TgsHugeSet::kToggle);
  EXPECT_FALSE(set.TestBit(second));

  // Clearing still allocates up to the bit's page and raises the highest index.
  set.SetBit(3 * TgsHugeSet::kPageBits, TgsHugeSet::kClear);
  EXPECT_EQ(set.PageCount(), 4u);
  EXPECT_EQ(set.HighestIndex(), 3 * TgsHugeSet::kPageBits);

  set.ClearAll();
  EXPECT_FALSE(set.TestBit(10));
  set.SetBit(-1, TgsHugeSet::kSet);
  EXPECT_FALSE(set.TestBit(-1));
  EXPECT_EQ(set.HighestIndex(), -1);
}

TEST(HugeSet, EveryBitOfAByteIsIndependent) {
  TgsHugeSet set;
  for (int32_t n = 0; n < 64; n += 3) set.SetBit(n, TgsHugeSet::kSet);
  for (int32_t n = 0; n < 64; ++n) EXPECT_EQ(set.TestBit(n), n % 3 == 0) << n;
}
