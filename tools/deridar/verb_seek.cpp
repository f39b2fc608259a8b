// deridar seek TABLE INDEXFILE [--tag NAME] (--key TEXT | --range LOW HIGH)
//              [--limit N] [--deleted]
// prints the records of a key search or a key range in the tag's order as
// CSV, like dump. Keys are given in UTF-8 and converted to code page 866.
// --range is a plain range: the low bound inclusive, keys equal to the high
// bound included, no prefix match on the high bound; an empty bound is
// none. --key prints the records whose key begins with the given text, as
// the handler's key search matches a key. --limit stops after N records.
// Deleted records are left out unless --deleted is given.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/table/gs6_dbsy.h"
#include "platform/ansi.h"
#include "platform/codepage.h"
#include "tools/deridar/record_csv.h"
#include "tools/deridar/verbs.h"

int VerbSeek(const VerbArgs& args) {
  std::vector<std::string> positional;
  std::string tag, key, low, high;
  bool hasKey = false, hasRange = false, withDeleted = false;
  long limit = -1;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
      return args[++i];
    };
    if (a == "--tag") {
      tag = value();
    } else if (a == "--key") {
      key = value();
      hasKey = true;
    } else if (a == "--range") {
      low = value();
      high = value();
      hasRange = true;
    } else if (a == "--limit") {
      const std::string& text = value();
      char* end = nullptr;
      limit = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || limit < 0) throw UsageError("--limit needs a count");
    } else if (a == "--deleted") {
      withDeleted = true;
    } else if (a.rfind("--", 0) == 0) {
      throw UsageError("unknown option \"" + a + "\"");
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 2) throw UsageError("expects a table and an index file");
  // A file of one order names it: its name without folder and extension.
  if (tag.empty()) tag = platform::UpperCase(std::filesystem::path(positional[1]).stem().string());
  if (hasKey == hasRange) throw UsageError("expects either --key TEXT or --range LOW HIGH");

  GSO_dBHandler table(positional[0], TablePassword(), true, false);
  table.OpenTable();
  table.SetUseDeleted(withDeleted);
  if (table.OpenIndexFile(positional[1]) < 0)
    throw UsageError("cannot open index file \"" + positional[1] + "\"");
  table.SelectTag(tag, false);

  auto oem = [](const std::string& utf8) {
    return platform::FromUtf8(utf8, platform::CodePage::Cp866);
  };
  if (hasKey) {
    // Every key that begins with the given text: a range from the key to
    // the key, with the high bound matched as a prefix.
    std::string k = oem(key);
    table.SetKeyRange(k, k, true, true, true);
  } else {
    table.SetKeyRange(oem(low), oem(high), true, true, false);
  }

  RecordCsvWriter writer(table, platform::CodePage::Cp866, false, withDeleted);
  writer.WriteHeader();
  long count = 0;
  for (table.ReadRecord(GotoFirst); !table.Eof() && (limit < 0 || count < limit);
       table.ReadRecord(GotoNext)) {
    if (table.IsDeleted() && !withDeleted) continue;
    writer.WriteRecord();
    ++count;
  }
  return writer.Finish() ? 0 : 1;
}
