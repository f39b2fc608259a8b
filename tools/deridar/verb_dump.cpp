// deridar dump TABLE [--encoding 866|1251|none] [--deleted] [--filter EXPR]:
// the records as RFC 4180 CSV in UTF-8 (CRLF line ends), with a header row
// of field names. Texts are decoded from the code page --encoding names, or
// else the one the table's language byte names (866 when that is not 1251;
// "none" copies the bytes unchanged). Trailing blanks are
// dropped, and the leading blanks of numeric fields. Memo fields show their
// memo text. Deleted records are left out unless --deleted is given, which
// adds a leading "_deleted" column (1 or 0). Numbers stored as bytes (the
// binary types of version 0x30 tables) are written as their display text.
// --filter keeps the records for which the table handler's filter passes;
// the filter is typed in UTF-8 and converted to the table's code page; a
// table of 1251 text (by --encoding or its language byte) is compared and
// case-folded as it stands, any other as 866 text.
#include <string>

#include "engine/table/gs6_dbsy.h"
#include "platform/codepage.h"
#include "tools/deridar/record_csv.h"
#include "tools/deridar/verbs.h"

int VerbDump(const VerbArgs& args) {
  std::string tableName;
  std::string filter;
  platform::CodePage codePage = platform::CodePage::Cp866;
  bool encodingGiven = false;
  bool rawBytes = false;
  bool withDeleted = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--deleted") {
      withDeleted = true;
    } else if (args[i] == "--filter") {
      if (i + 1 >= args.size()) throw UsageError("--filter needs an expression");
      filter = args[++i];
      if (filter.empty()) throw UsageError("--filter needs an expression");
    } else if (args[i] == "--encoding") {
      if (i + 1 >= args.size()) throw UsageError("--encoding needs a value");
      const std::string& e = args[++i];
      rawBytes = false;
      encodingGiven = true;
      if (e == "866")
        codePage = platform::CodePage::Cp866;
      else if (e == "1251")
        codePage = platform::CodePage::Cp1251;
      else if (e == "none")
        rawBytes = true;
      else
        throw UsageError("unknown encoding \"" + e + "\"");
    } else if (tableName.empty() && args[i].rfind("--", 0) != 0) {
      tableName = args[i];
    } else {
      throw UsageError("unexpected argument \"" + args[i] + "\"");
    }
  }
  if (tableName.empty()) throw UsageError("expects a table name");

  GSO_dBHandler table(tableName, TablePassword(), true, false);
  table.OpenTable();
  if (!encodingGiven) codePage = LanguageOf(table.HeaderImage()[29]).decodeAs;
  table.SetCacheSwitch(true);
  table.SetUseDeleted(withDeleted);
  RecordCsvWriter writer(table, codePage, rawBytes, withDeleted);
  if (!filter.empty()) {
    WithDecodedEngineMessages([&] {
      const bool ansiTable = !rawBytes && codePage == platform::CodePage::Cp1251;
      table.SetTranslateASCII(!ansiTable);
      table.SetFilterExpression(ansiTable ? platform::FromUtf8(filter, codePage) : ExpressionBytes(filter), false,
                                false);
      table.SetFilterActive(true);
    });
  }

  writer.WriteHeader();
  WithDecodedEngineMessages([&] {
    for (table.ReadRecord(GotoFirst); !table.Eof(); table.ReadRecord(GotoNext)) {
      if (table.IsDeleted() && !withDeleted) continue;
      writer.WriteRecord();
    }
  });
  return writer.Finish() ? 0 : 1;
}
