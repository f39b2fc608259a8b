// deridar import TABLE FILE.csv [--index FILE ...] [--encoding 866|1251]:
// appends the rows of a CSV file (UTF-8, RFC 4180 quoting, CRLF or LF line
// ends, a header row naming the fields in any order and case) to the table.
// Fields the header leaves out stay blank; a "_deleted" column (as dump
// --deleted writes it) marks rows 1 deleted. Texts are converted to the
// code page --encoding names, or else the one the table's language byte
// names.
//
// Every row is checked against its fields before the first one is written,
// so a bad row (wrong number of values, a value its field refuses) stops
// the import with its line and field named and leaves the table as it was.
// The rows are then appended through the table handler with the table
// locked, so the listed index files are kept in step by the handler's own
// write path.
#include <string>
#include <vector>

#include "engine/support/gs6_glbl.h"
#include "platform/file.h"
#include "tools/deridar/field_input.h"
#include "tools/deridar/verbs.h"

namespace {

// One record of the CSV file and the line it starts on.
struct CsvRow {
  int64_t line = 0;
  std::vector<std::string> values;
};

class CsvReader {
 public:
  CsvReader(std::string text, std::string fileName) : text_(std::move(text)), fileName_(std::move(fileName)) {
    if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) at_ = 3;  // byte order mark
  }

  // The next non-empty record; false at the end of the text.
  bool Next(CsvRow& row) {
    while (at_ < text_.size()) {
      row.line = line_;
      row.values.assign(1, std::string());
      if (ReadRecord(row) && !(row.values.size() == 1 && row.values[0].empty() && !quotedSeen_)) return true;
    }
    return false;
  }

  [[noreturn]] void Fail(int64_t line, const std::string& what) const {
    throw std::runtime_error(fileName_ + " line " + std::to_string(line) + ": " + what);
  }

 private:
  // Reads one record up to and including its line end.
  bool ReadRecord(CsvRow& row) {
    quotedSeen_ = false;
    bool quoted = false;
    bool afterQuote = false;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (quoted) {
        if (c == '"') {
          if (at_ < text_.size() && text_[at_] == '"') {
            row.values.back() += '"';
            ++at_;
          } else {
            quoted = false;
            afterQuote = true;
          }
        } else {
          if (c == '\n') ++line_;
          row.values.back() += c;
        }
        continue;
      }
      if (c == ',') {
        row.values.emplace_back();
        afterQuote = false;
      } else if (c == '\n' || (c == '\r' && at_ < text_.size() && text_[at_] == '\n')) {
        if (c == '\r') ++at_;
        ++line_;
        return true;
      } else if (afterQuote) {
        Fail(line_, "text after the closing quote of a value");
      } else if (c == '"') {
        if (!row.values.back().empty()) Fail(line_, "a quote inside an unquoted value");
        quoted = quotedSeen_ = true;
      } else {
        row.values.back() += c;
      }
    }
    if (quoted) Fail(row.line, "a quoted value is not closed");
    return true;
  }

  std::string text_;
  std::string fileName_;
  size_t at_ = 0;
  int64_t line_ = 1;
  bool quotedSeen_ = false;
};

std::string ReadWholeFile(const std::string& path) {
  platform::File file;
  if (!file.Open(path, false, true)) RaiseError(Msg::FileNotFound, platform::FullPath(path));
  const int64_t size = file.Size();
  std::string text(static_cast<size_t>(size < 0 ? 0 : size), '\0');
  if (size < 0 || file.ReadAt(0, text.data(), text.size()) != size)
    RaiseError(Msg::ReadError, platform::FullPath(path));
  return text;
}

// Column i of the CSV: a field number, or 0 for the "_deleted" column.
std::vector<int32_t> MapColumns(GSO_dBaseFld& table, const CsvRow& header, const CsvReader& reader) {
  std::vector<int32_t> columns;
  std::vector<bool> used(static_cast<size_t>(table.FieldCount()) + 1, false);
  for (const std::string& name : header.values) {
    int32_t n = 0;
    if (name == "_deleted") {
      n = 0;
    } else if (!table.FieldIndexByName(name, n)) {
      reader.Fail(header.line, "the table has no field \"" + name + "\"");
    }
    if (used[static_cast<size_t>(n)]) reader.Fail(header.line, "column \"" + name + "\" appears twice");
    used[static_cast<size_t>(n)] = true;
    columns.push_back(n);
  }
  return columns;
}

// The checked values of a row and whether it is marked deleted.
bool CheckRow(GSO_dBaseFld& table, const CsvRow& row, const std::vector<int32_t>& columns,
              platform::CodePage codePage, const CsvReader& reader, std::vector<CheckedValue>& values) {
  if (row.values.size() != columns.size())
    reader.Fail(row.line, std::to_string(row.values.size()) + " values where the header names " +
                              std::to_string(columns.size()));
  values.clear();
  bool deleted = false;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i] == 0) {
      if (row.values[i] != "0" && row.values[i] != "1" && !row.values[i].empty())
        reader.Fail(row.line, "field _deleted: \"" + row.values[i] + "\" is not 0 or 1");
      deleted = row.values[i] == "1";
      continue;
    }
    try {
      values.push_back(CheckValue(table, columns[i], row.values[i], codePage));
    } catch (const ValueError& e) {
      reader.Fail(row.line, "field " + FieldLabel(table, columns[i]) + ": " + e.what());
    }
  }
  return deleted;
}

}  // namespace

int VerbImport(const VerbArgs& args) {
  std::vector<std::string> positional, indexFiles;
  std::string encoding;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
      return args[++i];
    };
    if (a == "--index")
      indexFiles.push_back(value());
    else if (a == "--encoding")
      encoding = value();
    else if (a.rfind("--", 0) == 0)
      throw UsageError("unknown option \"" + a + "\"");
    else
      positional.push_back(a);
  }
  if (positional.size() != 2) throw UsageError("expects a table and a CSV file");

  auto table = OpenTableForWriting(positional[0], indexFiles);
  const platform::CodePage codePage = TableCodePage(*table, encoding);
  const std::string text = ReadWholeFile(positional[1]);

  // First pass: every row is checked; nothing is written.
  CsvReader checker(text, positional[1]);
  CsvRow header;
  if (!checker.Next(header)) checker.Fail(1, "no header row");
  const std::vector<int32_t> columns = MapColumns(*table, header, checker);
  std::vector<CheckedValue> values;
  CsvRow row;
  int64_t rows = 0;
  while (checker.Next(row)) {
    CheckRow(*table, row, columns, codePage, checker, values);
    ++rows;
  }

  // Second pass: the rows are appended.
  if (!table->LockTable()) RaiseError(Msg::CannotLockFile, table->FileName());
  table->LockIndexes();
  ProgressLine progress("import", rows, table->RecordCount() + rows);
  CsvReader reader(text, positional[1]);
  reader.Next(header);
  int64_t done = 0;
  try {
    while (reader.Next(row)) {
      const bool deleted = CheckRow(*table, row, columns, codePage, reader, values);
      table->RestoreCurrentRecord();
      table->BlankRecord();
      StoreValues(*table, values);
      table->AppendRecord();
      if (deleted) table->MarkDeleted();
      progress.Step(++done);
    }
  } catch (...) {
    table->UnlockIndexes();
    table->UnlockTable();
    throw;
  }
  table->UnlockIndexes();
  table->UnlockTable();
  table->FlushTable();
  return 0;
}
