// The message table and its formatter.
#include <gtest/gtest.h>

#include <set>

#include "engine/support/gs6_glbl.h"

TEST(Messages, TableHasSixtyOneDistinctTexts) {
  std::set<std::string> texts;
  for (int i = 0; i < kMessageCount; ++i) texts.insert(MessageText(static_cast<Msg>(i)));
  EXPECT_EQ(kMessageCount, 61);
  EXPECT_EQ(texts.size(), 61u);
  EXPECT_STREQ(MessageText(Msg::InvalidDate), "Invalid date in field %s");
  EXPECT_STREQ(MessageText(Msg::CannotLockFile), "Can not Lock file %s");
  EXPECT_STREQ(MessageText(Msg::BookmarkInvalid), "Bookmark is invalid for table ");
}

TEST(Messages, PlaceholdersAreFilledInOrder) {
  EXPECT_EQ(FormatMessage(Msg::RecordNotInTable, {7, "/t/PHONE.DBF"}),
            "Record number 7 is not in table /t/PHONE.DBF");
  EXPECT_EQ(FormatMessage(Msg::SortKeyLength, {240, 0}), "Sort key length must be 1-240 bytes, is 0");
  EXPECT_EQ(FormatMessage(Msg::MissingClosingQuote, {"'"}), "Missing closing \"'\" on literal");
  EXPECT_EQ(FormatMessage(Msg::SyntaxError, {"a+"}), "Syntax Error in expression \"a+\"");
}

TEST(Messages, RaiseThrowsTheRequestedClass) {
  try {
    RaiseError(Msg::FileNotFound, std::string("/x/A.DBF"));
    FAIL();
  } catch (const EDeridarError& e) {
    EXPECT_STREQ(e.what(), "File /x/A.DBF could not be found");
  }
  EXPECT_THROW(Raise<EDeridarExpression>(Msg::MissingClosingParen), EDeridarExpression);
  EXPECT_THROW(Raise<EDeridarEncryption>(Msg::NoPassword, "f"), EDeridarBase);
}
