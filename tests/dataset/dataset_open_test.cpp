// Opening the dataset: missing tables, the viewer's own configuration with
// persistent fields, the field definitions of every type, properties handed
// to the table object, folders and the alias list.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "dataset/Razuz6oz.h"
#include "open_on.h"
#include "engine/support/gs6_glbl.h"
#include "support/dataset_fixtures.h"
#include "support/dbf_writer.h"
#include "support/temp_dir.h"

using namespace platform;

namespace {

DbfLayout PhoneLayout() {
  DbfLayout layout;
  layout.fields = {{"NUM", 'C', 7}, {"FIO", 'C', 35}, {"ADR", 'C', 35}, {"TIP", 'N', 1}};
  layout.rows = {
      {{"2301234", TranslateToOem("\xC8\xE2\xE0\xED\xEE\xE2 \xC8.\xC8."), "UL. LENINA 1", "1"}},
      {{"2405678", TranslateToOem("\xCF\xE5\xF2\xF0\xEE\xE2"), "PR. MIRA 5", "2"}},
      {{"2509999", "TAXOFON", "VOKZAL", "3"}},
  };
  return layout;
}

// The viewer's table component: read-only, shared, translated, with the
// four persistent fields.
void ConfigureAsViewer(TDeridarDataSet& table, const std::string& folder) {
  table.SetDatabaseName(folder);
  table.SetTableName("PHONE");
  table.SetReadOnly(true);
  table.SetTranslateASCII(true);
  table.CreateField<TStringField>("NUM", 7);
  table.CreateField<TStringField>("FIO", 35);
  table.CreateField<TStringField>("ADR", 35);
  table.CreateField<TSmallintField>("TIP");
}

}  // namespace

TEST(DataSetOpen, AMissingTableNamesTheResolvedPath) {
  TempDir dir;
  TDeridarDataSet table;
  EXPECT_EQ(DatabaseErrorOf([&] { table.Open(); }), "Table name missing");
  table.SetTableName("PHONE.DBF");
  table.SetDatabaseName(dir.Path().string());
  EXPECT_EQ(DatabaseErrorOf([&] { table.Open(); }),
            "Cannot find file " + dir.File("PHONE.DBF"));
  EXPECT_EQ(table.Table(), nullptr);
}

TEST(DataSetOpen, TheViewerConfigurationReadsTranslatedRows) {
  TempDir dir;
  WriteDbf(dir.File("PHONE.DBF"), PhoneLayout());
  TDeridarDataSet table;
  ConfigureAsViewer(table, dir.Path().string());
  table.Open();
  EXPECT_FALSE(table.Table()->IsReadWrite());
  EXPECT_TRUE(table.Table()->IsShared());
  EXPECT_EQ(table.FieldByName("NUM")->AsString(), "2301234");
  EXPECT_EQ(table.FieldByName("FIO")->AsString(), "\xC8\xE2\xE0\xED\xEE\xE2 \xC8.\xC8.");
  EXPECT_EQ(table.FieldByName("TIP")->AsInteger(), 1);
  table.Last();
  EXPECT_EQ(table.FieldByName("ADR")->AsString(), "VOKZAL");
  // An open read-only dataset stays read-only, and its file settings stay.
  table.SetReadOnly(false);
  EXPECT_TRUE(table.ReadOnly());
  EXPECT_EQ(DatabaseErrorOf([&] { table.Edit(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(DatabaseErrorOf([&] { table.SetTableName("OTHER"); }),
            "Cannot perform this operation on an open dataset");
  table.Close();
  EXPECT_EQ(table.FieldCount(), 4);  // persistent fields stay
}

// Tables and index files copied from other systems come in any letter case.
TEST(DataSetOpen, FilesNamedInAnotherLetterCaseAreFound) {
  TempDir dir;
  WriteDbf(dir.File("phone.dbf"), PhoneLayout());
  TDeridarDataSet table;
  ConfigureAsViewer(table, dir.Path().string());
  table.Open();
  EXPECT_EQ(table.FieldByName("NUM")->AsString(), "2301234");
  table.IndexOn("TELN.CDX", "TELN", "NUM", "TIP=2", 1, 0);
  std::filesystem::rename(dir.File("TELN.CDX"), dir.File("teln.cdx"));
  table.OpenIndexes("TELN.CDX", "TELN");
  table.First();
  EXPECT_EQ(table.FieldByName("NUM")->AsString(), "2405678");
  EXPECT_EQ(table.Table()->OpenIndexCount(), 1);
}

TEST(DataSetOpen, SettingsReachTheTableObjectAtOpenAndWhenChanged) {
  TempDir dir;
  WriteDbf(dir.File("PHONE.DBF"), PhoneLayout());
  TDeridarDataSet table;
  table.SetAutoFlush(true);
  table.SetUseDeleted(true);
  table.SetUserID(77);
  table.SetLockProtocol(TgsLokProtocol::DB4Lock);
  table.SetTranslateASCII(false);
  table.SetExclusive(true);
  OpenOn(table, dir, "PHONE.DBF");
  DBFObject* object = table.Table();
  EXPECT_TRUE(object->AutoFlush());
  EXPECT_EQ(object->UserID(), 77u);
  EXPECT_EQ(object->LockProtocol(), TgsLokProtocol::DB4Lock);
  EXPECT_FALSE(object->IsShared());
  table.SetUseDeleted(false);
  table.SetTranslateASCII(true);
  EXPECT_FALSE(object->UseDeleted());
  EXPECT_TRUE(object->TranslateASCII());
}

TEST(DataSetOpen, ChangingTheTableNameClearsIndexFilesUnlessLoading) {
  TDeridarDataSet table;
  table.SetTableName("A");
  table.SetIndexFiles({"A.CDX"});
  table.SetLoading(true);
  table.SetTableName("B");
  table.SetLoading(false);
  EXPECT_EQ(table.TableName(), "B");
  EXPECT_EQ(table.IndexFiles(), std::vector<std::string>{"A.CDX"});
  table.SetTableName("C");
  EXPECT_TRUE(table.IndexFiles().empty());
}

class DataSetFieldDefs : public ::testing::Test {
 protected:
  void SetUp() override {
    DbfLayout layout;
    layout.version = 0x30;
    layout.fields = {{"S", 'C', 12}, {"D", 'D', 8},    {"N4", 'N', 4},  {"N5", 'N', 5},
                     {"N9", 'N', 9}, {"N10", 'N', 10}, {"NF", 'N', 10, 2}, {"F", 'F', 8, 3},
                     {"I", 'I', 4},  {"L", 'L', 1},    {"T", 'T', 8},   {"Y", 'Y', 8},
                     {"B", 'B', 8},  {"G", 'G', 4},    {"Q", 'Q', 5}};
    path_ = WriteDbf(dir_.File("TYPES.DBF"), layout);
  }

  std::vector<std::pair<std::string, TFieldType>> Defs(TgsIntFields as) {
    TDeridarDataSet table;
    table.SetDatabaseName(dir_.Path().string());
    table.SetTableName("TYPES");
    table.SetLargeIntegerAs(as);
    table.InitFieldDefs();  // opens the table just for this
    EXPECT_EQ(table.Table(), nullptr);
    std::vector<std::pair<std::string, TFieldType>> out;
    for (int32_t i = 0; i < table.FieldDefs().Count(); ++i)
      out.emplace_back(table.FieldDefs().Items(i).name, table.FieldDefs().Items(i).dataType);
    return out;
  }

  TempDir dir_;
  std::string path_;
};

TEST_F(DataSetFieldDefs, EveryTypeLetterMapsToItsRecordSetType) {
  auto defs = Defs(TgsIntFields::asInteger);
  std::vector<std::pair<std::string, TFieldType>> expected = {
      {"S", ftString},    {"D", ftDate},     {"N4", ftSmallint},  {"N5", ftInteger},
      {"N9", ftInteger},  {"N10", ftInteger}, {"NF", ftFloat},    {"F", ftFloat},
      {"I", ftInteger},   {"L", ftBoolean},  {"T", ftDateTime},   {"Y", ftCurrency},
      {"B", ftBlob},      {"G", ftBlob}};
  EXPECT_EQ(defs, expected);  // the unknown type Q gives no field
}

TEST_F(DataSetFieldDefs, WideIntegersFollowLargeIntegerAs) {
  auto find = [](const auto& defs) {
    for (const auto& [name, type] : defs)
      if (name == "N10") return type;
    return ftUnknown;
  };
  EXPECT_EQ(find(Defs(TgsIntFields::asLargeInt)), ftLargeint);
  EXPECT_EQ(find(Defs(TgsIntFields::asFloat)), ftFloat);
}

TEST_F(DataSetFieldDefs, DefaultFieldsFollowTheDefinitionsAndGoAwayOnClose) {
  TDeridarDataSet table;
  OpenOn(table, dir_, "TYPES");
  EXPECT_EQ(table.FieldCount(), 14);
  EXPECT_EQ(table.FieldByName("S")->Size(), 12);
  table.Close();
  EXPECT_EQ(table.FieldCount(), 0);
}

TEST(DataSetFolders, AliasesComeFromTheConfigurationFile) {
  TempDir dir;
  TempDir data;
  WriteDbf(data.File("PHONE.DBF"), PhoneLayout());
  {
    std::ofstream config(dir.File("deridar.cfg"));
    config << "[Other]\nPHONES=/nowhere\n[Alias]\n PHONES = " << data.Path().string()
           << "\n; comment\nBROKEN\n";
  }
  TDeridarDataSet::LoadAliases(dir.Path().string());
  TDeridarDataSet table;
  table.SetDatabaseName("phones");
  EXPECT_EQ(table.DatabasePath(), data.Path().string() + "/");
  table.SetTableName("PHONE");
  table.Open();
  EXPECT_TRUE(table.Active());
  table.Close();
  TDeridarDataSet::LoadAliases("/nonexistent-folder");
}

TEST(DataSetFolders, ANewFolderNameBecomesAnAliasOfItself) {
  TDeridarDataSet::LoadAliases("/nonexistent-folder");
  TDeridarDataSet table;
  table.SetDatabaseName("/data/phones/");
  const TgsAliasList& list = TDeridarDataSet::Aliases();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1].first, "/data/phones/");
  EXPECT_EQ(list[1].second, "/data/phones");
  EXPECT_EQ(table.DatabasePath(), "/data/phones/");
  TDeridarDataSet::LoadAliases("/nonexistent-folder");
}
