// The viewer's seven search modes through the dataset, as a property: over
// generated directory tables (several seeds) with the seven tags built, the
// rows a range on a random prefix yields are exactly the records a scan of
// the table finds - same category, not deleted, key between the bounds by
// unsigned bytes with trailing blanks dropped - in key order (equal keys by
// record number).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dataset/Razuz6oz.h"
#include "platform/codepage.h"
#include "support/temp_dir.h"
#include "tools/mkphone/phonegen.h"

namespace {

using platform::CodePage;

enum class Field { Num, Fio, Adr };

struct SearchMode {
  const char* file;
  const char* tag;
  const char* key;
  int tip;
  Field field;
};

// City by number, surname and address; payphones by number and address;
// enterprises by number and name.
const SearchMode kModes[] = {
    {"TELN.CDX", "TELN", "NUM", 1, Field::Num},  {"TELF.CDX", "TELF", "FIO", 1, Field::Fio},
    {"TELA.CDX", "TELA", "ADR", 1, Field::Adr},  {"TAXN.CDX", "TAXN", "NUM", 3, Field::Num},
    {"TAXA.CDX", "TAXA", "ADR", 3, Field::Adr},  {"PREDN.CDX", "PREDN", "NUM", 2, Field::Num},
    {"PREDF.CDX", "PREDF", "FIO", 2, Field::Fio},
};

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string AnsiToOem(const std::string& ansi) {
  return platform::FromUtf8(platform::ToUtf8(ansi, CodePage::Cp1251), CodePage::Cp866);
}

std::string OemToAnsi(const std::string& oem) {
  return platform::FromUtf8(platform::ToUtf8(oem, CodePage::Cp866), CodePage::Cp1251);
}

// Keys compare as unsigned bytes.
std::basic_string_view<unsigned char> Bytes(const std::string& s) {
  return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

const std::string& KeyOf(const phonegen::PhoneRecord& r, Field field) {
  return field == Field::Num ? r.num : field == Field::Fio ? r.fio : r.adr;
}

// The numbers of the records a scan finds in [low, high] (bounds in the
// table's code page), in key order.
std::vector<std::string> ScanRange(const std::vector<phonegen::PhoneRecord>& records, const SearchMode& mode,
                                   const std::string& low, const std::string& high) {
  std::vector<std::pair<std::string, size_t>> hits;
  for (size_t i = 0; i < records.size(); ++i) {
    const phonegen::PhoneRecord& r = records[i];
    if (r.deleted || r.tip != mode.tip) continue;
    const std::string key = TrimRight(KeyOf(r, mode.field));
    if ((low.empty() || Bytes(key) >= Bytes(low)) && (high.empty() || Bytes(key) <= Bytes(high)))
      hits.emplace_back(key, i);
  }
  std::sort(hits.begin(), hits.end(), [](const auto& a, const auto& b) {
    const int c = Bytes(a.first).compare(Bytes(b.first));
    return c != 0 ? c < 0 : a.second < b.second;
  });
  std::vector<std::string> nums;
  for (const auto& hit : hits) nums.push_back(records[hit.second].num);
  return nums;
}

std::vector<std::string> DataSetRows(TDeridarDataSet& table) {
  std::vector<std::string> nums;
  for (table.First(); !table.Eof(); table.Next()) nums.push_back(table.FieldByName("NUM")->AsString());
  return nums;
}

// A search text as the viewer's box holds it (code page 1251): a number of
// one to six digits, or one to three characters of a stored key or of the
// capital letters.
std::string RandomPrefix(const std::vector<phonegen::PhoneRecord>& records, const SearchMode& mode,
                         std::mt19937& random) {
  const size_t length = mode.field == Field::Num ? 1 + random() % 6 : 1 + random() % 3;
  std::string prefix;
  if (random() % 4 == 0) {
    // Often an empty range: any digit or capital letter.
    for (size_t i = 0; i < length; ++i)
      prefix += mode.field == Field::Num ? static_cast<char>('0' + random() % 10)
                                         : static_cast<char>(0xC0 + random() % 32);
    return prefix;
  }
  const phonegen::PhoneRecord& r = records[random() % records.size()];
  return OemToAnsi(KeyOf(r, mode.field)).substr(0, length);
}

}  // namespace

TEST(SearchModes, RandomPrefixRangesMatchAScanOfTheTable) {
  constexpr uint32_t kRecords = 3000;
  constexpr int kPrefixesPerMode = 40;
  const std::string ceiling = platform::FromUtf8("ЯЯ", CodePage::Cp1251);
  for (uint64_t seed : {1u, 7u, 42u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir dir;
    ASSERT_TRUE(phonegen::WritePhoneDbf(dir.File("PHONE.DBF"), kRecords, seed));
    std::vector<phonegen::PhoneRecord> records;
    phonegen::PhoneGenerator generator(seed);
    for (uint32_t i = 0; i < kRecords; ++i) records.push_back(generator.Next());

    // Opened as the viewer opens it: shared, read-only, texts translated,
    // deleted records hidden.
    TDeridarDataSet table;
    table.SetDatabaseName(dir.Path().string());
    table.SetTableName("PHONE.DBF");
    table.SetExclusive(false);
    table.SetReadOnly(true);
    table.SetTranslateASCII(true);
    table.SetUseDeleted(false);
    table.Open();
    for (const SearchMode& mode : kModes)
      table.IndexOn(mode.file, mode.tag, mode.key, "tip=" + std::to_string(mode.tip), 1, 0);

    std::mt19937 random(static_cast<uint32_t>(seed));
    for (const SearchMode& mode : kModes) {
      SCOPED_TRACE(mode.tag);
      table.OpenIndexes({}, {});
      table.OpenIndexes(mode.file, mode.tag);
      EXPECT_EQ(DataSetRows(table), ScanRange(records, mode, {}, {}));
      for (int i = 0; i < kPrefixesPerMode; ++i) {
        const std::string prefix = RandomPrefix(records, mode, random);
        std::string low = prefix, high = prefix + ceiling;
        if (mode.field == Field::Num) {
          low = prefix + std::string(6 - prefix.size(), '0');
          high = prefix + std::string(6 - prefix.size(), '9');
        }
        SCOPED_TRACE("prefix " + platform::ToUtf8(prefix, CodePage::Cp1251));
        table.SetRange({}, {});
        table.SetRange(low, high);
        EXPECT_EQ(DataSetRows(table), ScanRange(records, mode, TrimRight(AnsiToOem(low)), AnsiToOem(high)));
      }
      table.SetRange({}, {});
    }
    table.Close();
  }
}
