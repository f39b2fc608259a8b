// The deridar tool on Russian data in code page 866: text comparisons and
// case functions follow the letters, number texts use ".", negative zero and
// rounding in STR, date texts as bounds of a date tag, date differences in
// eval, and long operator chains.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ansi.h"
#include "platform/codepage.h"
#include "support/dbf_writer.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "tools/mkphone/phonegen.h"

namespace {

std::string Oem(const std::string& utf8) { return platform::FromUtf8(utf8, platform::CodePage::Cp866); }

std::vector<std::string> Split(const std::string& text, const std::string& eol) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find(eol, start)) != std::string::npos; start = end + eol.size())
    lines.push_back(text.substr(start, end - start));
  return lines;
}

// The values "deridar eval" prints, one per record, without record numbers
// and trailing blanks.
std::vector<std::string> Values(const std::string& output) {
  std::vector<std::string> values;
  for (const std::string& line : Split(output, "\n")) {
    std::string value = line.substr(line.find('\t') + 1);
    value.erase(value.find_last_not_of(' ') + 1);
    values.push_back(value);
  }
  return values;
}

// The first column of the rows "deridar seek" prints, after the header.
std::vector<std::string> FirstColumn(const std::string& output) {
  std::vector<std::string> rows = Split(output, "\r\n");
  std::vector<std::string> out;
  for (size_t i = 1; i < rows.size(); ++i) out.push_back(rows[i].substr(0, rows[i].find(',')));
  return out;
}

class DeridarRussian : public ::testing::Test {
 protected:
  void SetUp() override {
    DbfLayout layout;
    layout.fields = {{"FIO", 'C', 20}, {"QTY", 'N', 6, 2}, {"BORN", 'D', 8}};
    const char* rows[][3] = {
        {"ЁЛКИН ПЁТР", "-0.00", "20200131"}, {"ИВАНОВА МАРИЯ", "1.00", "20201231"},
        {"СЕРГЕЕВА ОЛЬГА", "0.50", "20210101"}, {"ВОЛКОВ ИВАН", "1.50", "20191231"},
        {"АНДРЕЕВ ЮРИЙ", "2.00", "20200615"},
    };
    for (auto& row : rows) layout.rows.push_back({{Oem(row[0]), row[1], row[2]}});
    WriteDbf(table_, layout);
  }

  std::vector<std::string> Eval(const std::string& expression) { return Values(Deridar({"eval", table_, expression})); }
  // The value on the first record.
  std::string First(const std::string& expression) {
    std::vector<std::string> values = Eval(expression);
    return values.empty() ? "<no record>" : values.front();
  }

  TempDir dir_;
  const std::string table_ = dir_.File("T.DBF");
};

}  // namespace

TEST_F(DeridarRussian, ComparisonsFollowTheRussianAlphabet) {
  const std::vector<std::string> letters = {"А", "Б", "В", "Г", "Д", "Е", "Ё", "Ж", "З", "И", "Й",
                                            "К", "Л", "М", "Н", "О", "П", "Р", "С", "Т", "У", "Ф",
                                            "Х", "Ц", "Ч", "Ш", "Щ", "Ъ", "Ы", "Ь", "Э", "Ю", "Я"};
  std::string ordered = ".T.";
  for (size_t i = 0; i + 1 < letters.size(); ++i) {
    ordered += " .AND. '" + letters[i] + "' < '" + letters[i + 1] + "'";
    ordered += " .AND. 'я' > '" + letters[i] + "'";
  }
  EXPECT_EQ(Eval(ordered), std::vector<std::string>(5, ".T."));
  EXPECT_EQ(Eval("'Р' = 'А' .OR. 'Б' > 'В'"), std::vector<std::string>(5, ".F."));

  EXPECT_EQ(Values(Deridar({"eval", table_, "FIO", "--where", "FIO < 'В'"})), std::vector<std::string>{"АНДРЕЕВ ЮРИЙ"});
  EXPECT_EQ(Values(Deridar({"eval", table_, "FIO", "--where", "FIO > 'И' .AND. FIO <= 'С'"})),
            std::vector<std::string>{"ИВАНОВА МАРИЯ"});
  EXPECT_EQ(Split(Deridar({"dump", table_, "--filter", "FIO >= 'Е' .AND. FIO < 'Ж'"}), "\r\n").size(), 2u)
      << "the header and ЁЛКИН";

  // A table of 1251 text compares it as it stands.
  DbfLayout ansi;
  ansi.fields = {{"FIO", 'C', 20}};
  for (const char* fio : {"ВОЛКОВ", "АНДРЕЕВ", "ёлкин"})
    ansi.rows.push_back({{platform::FromUtf8(fio, platform::CodePage::Cp1251)}});
  const std::string ansiTable = WriteDbf(dir_.File("A.DBF"), ansi);
  EXPECT_EQ(Deridar({"dump", ansiTable, "--encoding", "1251", "--filter", "FIO < 'Ж' .AND. UPPER(FIO) > 'Б'"}),
            "FIO\r\nВОЛКОВ\r\nёлкин\r\n");
}

TEST_F(DeridarRussian, ComparisonsOnAGeneratedDirectoryMatchTheAlphabet) {
  const std::string phone = dir_.File("PHONE.DBF");
  ASSERT_TRUE(phonegen::WritePhoneDbf(phone, 1500, 7));
  std::vector<std::string> expected;
  const std::string b = platform::FromUtf8("Б", platform::CodePage::Cp1251);
  for (const std::string& fio : Values(Deridar({"eval", phone, "FIO"})))
    if (platform::CompareStr(platform::FromUtf8(fio, platform::CodePage::Cp1251), b) < 0) expected.push_back(fio);
  ASSERT_FALSE(expected.empty());
  EXPECT_LT(expected.size(), 300u);
  EXPECT_EQ(Values(Deridar({"eval", phone, "FIO", "--where", "FIO < 'Б'"})), expected);
}

TEST_F(DeridarRussian, CaseFunctionsChangeRussianLetters) {
  EXPECT_EQ(First("LOWER('ПРИВЕТ, ЁЖ')"), "привет, ёж");
  EXPECT_EQ(First("UPPER('ёлка')"), "ЁЛКА");
  EXPECT_EQ(First("LOWER(FIO)"), "ёлкин пётр");
  EXPECT_EQ(Eval("PROPER(FIO)"), (std::vector<std::string>{"Ёлкин Пётр", "Иванова Мария", "Сергеева Ольга",
                                                           "Волков Иван", "Андреев Юрий"}));
  EXPECT_EQ(First("PROPER('жук-ёжиков')"), "Жук-Ёжиков");
}

TEST_F(DeridarRussian, NumberTextsUseThePointAndZeroHasNoSign) {
  EXPECT_EQ(First("VAL('12.5') * 2"), "25");
  EXPECT_EQ(First("VAL(STR(3.14, 5, 2))"), "3.14");
  EXPECT_EQ(First("QTY"), "0");
  EXPECT_EQ(First("STR(QTY, 5, 2)"), " 0.00");
  EXPECT_EQ(First("STR(-0.4, 3)"), "  0");
  EXPECT_EQ(First("STR(1.005, 6, 2) + STR(2.675, 6, 2) + STR(-2.5, 4) + STR(0.125, 5, 2)"), "  1.01  2.68  -3 0.13");

  const std::string index = dir_.File("QTY.CDX");
  Deridar({"index", "build", table_, index, "--tag", "QTY", "--key", "QTY"});
  EXPECT_EQ(FirstColumn(Deridar({"seek", table_, index, "--tag", "QTY", "--range", "0.5", "1.5"})),
            (std::vector<std::string>{"СЕРГЕЕВА ОЛЬГА", "ИВАНОВА МАРИЯ", "ВОЛКОВ ИВАН"}));
}

TEST_F(DeridarRussian, DateTagsTakeDateTextsAsBounds) {
  const std::string index = dir_.File("BORN.CDX");
  Deridar({"index", "build", table_, index, "--tag", "BORN", "--key", "BORN"});
  const std::vector<std::string> year2020 = {"ЁЛКИН ПЁТР", "АНДРЕЕВ ЮРИЙ", "ИВАНОВА МАРИЯ"};
  auto seek = [&](const std::string& low, const std::string& high) {
    return FirstColumn(Deridar({"seek", table_, index, "--tag", "BORN", "--range", low, high}));
  };
  EXPECT_EQ(seek("20200101", "20201231"), year2020);
  EXPECT_EQ(seek("01.01.2020", "31.12.2020"), year2020);
  EXPECT_EQ(seek("2458850", "2459215"), year2020) << "day numbers stay numbers";
  EXPECT_EQ(FirstColumn(Deridar({"seek", table_, index, "--tag", "BORN", "--key", "01.01.2021"})),
            std::vector<std::string>{"СЕРГЕЕВА ОЛЬГА"});
  ToolResult bad = RunTool("deridar", {"seek", table_, index, "--tag", "BORN", "--range", "31.02.2020", ""});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_EQ(bad.err, "A Date value is required but invalid\n");
}

TEST_F(DeridarRussian, EvalPrintsDateDifferencesAsDays) {
  EXPECT_EQ(Eval("BORN - {01.01.2020}"), (std::vector<std::string>{"30", "365", "366", "-1", "166"}));
  EXPECT_EQ(First("(BORN - BORN)"), "0");
  EXPECT_EQ(First("BORN"), "20200131");
}

TEST_F(DeridarRussian, LongOperatorChainsEvaluate) {
  std::string sum = "1";
  for (int i = 1; i < 5000; ++i) sum += "+1";
  EXPECT_EQ(First(sum), "5000");
  std::string where = "QTY > 1";
  for (int i = 0; i < 3000; ++i) where += " .AND. QTY > 1";
  EXPECT_EQ(Values(Deridar({"eval", table_, "FIO", "--where", where})),
            (std::vector<std::string>{"ВОЛКОВ ИВАН", "АНДРЕЕВ ЮРИЙ"}));
}
