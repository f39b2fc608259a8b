// Writes the seed corpora of the fuzz targets into a folder, one subfolder
// per target (dbf, memo, expr, cdx, mdx), using the test-support writers for
// tables and memo files and the engine itself for the index file.
//
//   fuzz_seeds OUTDIR
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/index/gs6_cdx.h"
#include "engine/index/gs6_mdx.h"
#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbsy.h"
#include "fuzz_support.h"
#include "support/memo_files.h"

namespace fs = std::filesystem;

namespace {

void Save(const fs::path& path, const std::vector<uint8_t>& bytes) {
  WriteFuzzFile(path.string(), bytes.data(), bytes.size());
}

std::vector<uint8_t> WithChoice(uint8_t choice, const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> out{choice};
  out.insert(out.end(), bytes.begin(), bytes.end());
  return out;
}

std::string Raw(std::initializer_list<uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

void TableSeeds(const fs::path& out) {
  DbfLayout small = FuzzSmallTable();
  Save(out / "small03.dbf", BuildDbf(small));

  DbfLayout memo;
  memo.version = 0x83;
  memo.fields = {{"NAME", 'C', 10}, {"NOTE", 'M', 10}, {"AMOUNT", 'F', 10, 3}};
  memo.rows = {{{"ONE", "1", "3.125"}}, {{"TWO", "", "-0.5"}}, {{"THREE", "2", ""}, true}};
  Save(out / "memo83.dbf", BuildDbf(memo));
  memo.version = 0x8B;
  Save(out / "memo8b.dbf", BuildDbf(memo));
  memo.version = 0xF5;
  Save(out / "memof5.dbf", BuildDbf(memo));

  DbfLayout vfp;
  vfp.version = 0x30;
  vfp.fields = {{"ID", 'I', 4}, {"PRICE", 'B', 8}, {"CASH", 'Y', 8}, {"STAMP", 'T', 8},
                {"NOTE", 'M', 4}, {"NAME", 'C', 6}};
  vfp.rows = {
      {{Raw({1, 0, 0, 0}), Raw({0, 0, 0, 0, 0, 0, 0xF8, 0x3F}), Raw({0x10, 0x27, 0, 0, 0, 0, 0, 0}),
        Raw({0x5D, 0x8A, 0x25, 0, 0x80, 0xEE, 0x36, 0}), Raw({0, 0, 0, 0}), "ALPHA"}},
      {{Raw({0xFF, 0xFF, 0xFF, 0xFF}), Raw({0, 0, 0, 0, 0, 0, 0xF0, 0x7F}),
        Raw({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), Raw({0, 0, 0, 0, 0, 0, 0, 0}),
        Raw({8, 0, 0, 0}), "BETA"}},
  };
  Save(out / "vfp30.dbf", BuildDbf(vfp));

  DbfLayout wide;
  wide.fields = {{"TEXT", 'C', 300}, {"N", 'N', 20, 10}};
  wide.rows = {{{std::string(300, 'w'), "1.5"}}, {{"short", "-12345.6789012345"}}};
  Save(out / "wide.dbf", BuildDbf(wide));
}

void MemoSeeds(const fs::path& out) {
  MemoFileBuilder db3(MemoLayout::Db3);
  db3.Add("first memo text");
  db3.Add(std::string(700, 'a'));
  db3.Add("no end mark", 1, false);
  auto bytes = db3.Bytes();
  Save(out / "db3", WithChoice(0x00, bytes));
  Save(out / "db3-write", WithChoice(0x08, bytes));

  MemoFileBuilder db4(MemoLayout::Db4, 64);
  db4.Add("dBase IV memo");
  db4.Add(std::string(200, 'b'));
  db4.Add("third");
  bytes = db4.Bytes();
  Save(out / "db4", WithChoice(0x01, bytes));
  Save(out / "db4-write", WithChoice(0x09, bytes));

  MemoFileBuilder fox(MemoLayout::Fox, 64);
  fox.Add("FoxPro memo");
  fox.Add(std::string(150, 'c'), 0);
  fox.Add("last");
  bytes = fox.Bytes();
  Save(out / "fox", WithChoice(0x02, bytes));
  Save(out / "fox30-write", WithChoice(0x0B, bytes));
}

void ExpressionSeeds(const fs::path& out) {
  const char* texts[] = {
      "NUM + FIO",
      "UPPER(FIO) = 'IVANOV' .AND. OK",
      "SUM * 2 - 1 / 3 > 4",
      "DTOS(DAY) + STR(SUM, 10, 2)",
      "IIF(OK, SUBSTR(FIO, 2, 3), LEFT(NUM, 4))",
      "CTOD('01/02/99') - DAY",
      "VAL(NUM) % 7 + LEN(TRIM(FIO))",
      "'ab' $ FIO .OR. .NOT. DELETED()",
      "RECNO() ^ 2",
      "FIO = 'IV*' .AND. NUM # '1'",
      "DTOC(DATE()) + PADL(TIP, 5)",
      "((((SUM))))",
  };
  int n = 0;
  for (const char* text : texts) {
    std::vector<uint8_t> bytes{static_cast<uint8_t>(n % 8)};
    bytes.insert(bytes.end(), text, text + std::char_traits<char>::length(text));
    Save(out / ("expr" + std::to_string(n++)), bytes);
  }
}

void IndexSeeds(const fs::path& out) {
  FuzzDir dir;
  const std::string tablePath = dir.File("T.DBF");
  WriteDbf(tablePath, FuzzSmallTable());
  {
    GSO_dBHandler table(tablePath, "", false, true);
    table.OpenTable();
    GSobjCDXFile file(&table, dir.File("T.CDX"), true, true, true, false);
    for (size_t i = 0; i < kFuzzTagCount; ++i) {
      const FuzzTagDef& t = kFuzzTags[i];
      if (!file.AddTag(t.name, t.key, t.unique, t.ascending, t.forExpr))
        std::fprintf(stderr, "fuzz_seeds: tag %s was not built\n", t.name);
    }
  }
  Save(out / "small.cdx", ReadBytes(dir.File("T.CDX")));
}

void MdxSeeds(const fs::path& out) {
  FuzzDir dir;
  const std::string tablePath = dir.File("T.DBF");
  WriteDbf(tablePath, FuzzSmallTable());
  {
    GSO_dBHandler table(tablePath, "", false, true);
    table.OpenTable();
    GSobjMDXFile file(&table, dir.File("F.MDX"), true, true, true, false);
    for (size_t i = 0; i < kFuzzTagCount; ++i) {
      const FuzzTagDef& t = kFuzzTags[i];
      if (!file.AddTag(t.name, t.key, t.unique, t.ascending, t.forExpr))
        std::fprintf(stderr, "fuzz_seeds: MDX tag %s was not built\n", t.name);
    }
  }
  Save(out / "small.mdx", ReadBytes(dir.File("F.MDX")));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds OUTDIR\n");
    return 2;
  }
  const fs::path out = argv[1];
  try {
    for (const char* sub : {"dbf", "memo", "expr", "cdx", "mdx"}) fs::create_directories(out / sub);
    TableSeeds(out / "dbf");
    MemoSeeds(out / "memo");
    ExpressionSeeds(out / "expr");
    IndexSeeds(out / "cdx");
    MdxSeeds(out / "mdx");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fuzz_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
