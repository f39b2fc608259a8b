// The message table and its formatter.
#include <gtest/gtest.h>

#include <set>

#include "engine/support/gs6_glbl.h"
#include "support/error_text.h"

TEST(Messages, EveryTextIsDistinctAndPlaceholdersAreFilledInOrder) {
  std::set<std::string> texts;
  for (int i = 0; i < kMessageCount; ++i) texts.insert(MessageText(static_cast<Msg>(i)));
  EXPECT_EQ(texts.size(), static_cast<size_t>(kMessageCount));
  EXPECT_EQ(FormatMessage(Msg::RecordNotInTable, {7, "/t/PHONE.DBF"}),
            "Record number 7 is not in table /t/PHONE.DBF");
  EXPECT_EQ(FormatMessage(Msg::MissingClosingQuote, {"'"}), "Missing closing \"'\" on literal");
}

TEST(Messages, RaiseThrowsTheRequestedClass) {
  EXPECT_EQ(ErrorOf([] { RaiseError(Msg::FileNotFound, std::string("/x/A.DBF")); }),
            "File /x/A.DBF could not be found");
  EXPECT_THROW(Raise<EDeridarExpression>(Msg::MissingClosingParen), EDeridarExpression);
  EXPECT_THROW(Raise<EDeridarEncryption>(Msg::NoPassword, "f"), EDeridarBase);
}
