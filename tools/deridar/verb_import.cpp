// deridar import TABLE FILE.csv [--index FILE ...] [--encoding 866|1251]:
// appends the rows of a CSV file (UTF-8, RFC 4180 quoting, CRLF or LF line
// ends, a header row naming the fields in any order and case) to the table.
// Fields the header leaves out stay blank; a "_deleted" column (as dump
// --deleted writes it) marks rows 1 deleted. Texts are converted to the
// code page --encoding names, or else the one the table's language byte
// names.
//
// Every row is parsed and checked once, into the image of its record,
// before the first one is written: a bad row (wrong number of values, a
// value its field refuses) stops the import with its line and field named
// and leaves the table as it was. The images are then appended through the
// table handler with the table and index files locked once for the whole
// run, so the listed index files are kept in step by the handler's own
// write path, and the table writes the records in large blocks.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/support/gs6_glbl.h"
#include "platform/file.h"
#include "platform/system.h"
#include "tools/deridar/field_input.h"
#include "tools/deridar/verbs.h"

namespace {

// One record of the CSV file and the line it starts on. The values are
// views into the reader's text (quoted ones unescaped in place).
struct CsvRow {
  int64_t line = 0;
  std::vector<std::string_view> values;
};

// The bytes that end or quote an unquoted value.
bool IsCsvSpecial(char c) { return c == ',' || c == '"' || c == '\n' || c == '\r'; }

class CsvReader {
 public:
  // `text` holds the file's `size` bytes.
  CsvReader(platform::LargeBuffer text, size_t size, std::string fileName)
      : text_(std::move(text)), size_(size), fileName_(std::move(fileName)) {
    if (size_ >= 3 && std::memcmp(text_.Data(), "\xEF\xBB\xBF", 3) == 0) at_ = 3;  // byte order mark
  }

  // The next non-empty record; false at the end of the text. The views
  // stay valid while the reader lives.
  bool Next(CsvRow& row) {
    while (at_ < size_) {
      row.line = line_;
      row.values.clear();
      ReadRecord(row);
      if (!(row.values.size() == 1 && row.values[0].empty() && !quotedSeen_)) return true;
    }
    return false;
  }

  // Line ends not read yet (at least the records left).
  size_t LinesLeft() const {
    return static_cast<size_t>(std::count(text_.Data() + at_, text_.Data() + size_, '\n')) + 1;
  }

  [[noreturn]] void Fail(int64_t line, const std::string& what) const {
    throw std::runtime_error(fileName_ + " line " + std::to_string(line) + ": " + what);
  }

 private:
  // Reads one record up to and including its line end. A quoted value's
  // content is moved left over its doubled quotes; `out` is where the
  // current value's next byte goes.
  void ReadRecord(CsvRow& row) {
    quotedSeen_ = false;
    char* const data = text_.Data();
    const size_t size = size_;
    size_t start = at_;  // the current value: [start, out)
    size_t out = at_;
    bool quoted = false;
    bool afterQuote = false;
    auto endValue = [&] { row.values.emplace_back(data + start, out - start); };
    while (at_ < size) {
      if (!quoted && !afterQuote) {
        // A run of plain bytes of an unquoted value stays where it is (an
        // unquoted value is never moved: `out` is at `at_` here).
        size_t run = at_;
        while (run < size && !IsCsvSpecial(data[run])) ++run;
        if (run != at_) {
          at_ = out = run;
          continue;
        }
      }
      const char c = data[at_++];
      if (quoted) {
        if (c == '"') {
          if (at_ < size && data[at_] == '"') {
            data[out++] = '"';
            ++at_;
          } else {
            quoted = false;
            afterQuote = true;
          }
        } else {
          if (c == '\n') ++line_;
          data[out++] = c;
        }
        continue;
      }
      if (c == ',') {
        endValue();
        start = out = at_;
        afterQuote = false;
      } else if (c == '\n' || (c == '\r' && at_ < size && data[at_] == '\n')) {
        endValue();
        if (c == '\r') ++at_;
        ++line_;
        return;
      } else if (afterQuote) {
        Fail(line_, "text after the closing quote of a value");
      } else if (c == '"') {
        if (out != start) Fail(line_, "a quote inside an unquoted value");
        quoted = quotedSeen_ = true;
        start = out = at_;
      } else {
        data[out++] = c;
      }
    }
    if (quoted) Fail(row.line, "a quoted value is not closed");
    endValue();
  }

  platform::LargeBuffer text_;
  size_t size_ = 0;
  std::string fileName_;
  size_t at_ = 0;
  int64_t line_ = 1;
  bool quotedSeen_ = false;
};

CsvReader OpenCsv(const std::string& path) {
  platform::File file;
  if (!file.Open(path, false, true)) RaiseError(Msg::FileNotFound, platform::FullPath(path));
  const int64_t size = file.Size();
  if (size < 0) RaiseError(Msg::ReadError, platform::FullPath(path));
  platform::LargeBuffer text(static_cast<size_t>(size));
  if (file.ReadAt(0, text.Data(), static_cast<size_t>(size)) != size) RaiseError(Msg::ReadError, platform::FullPath(path));
  return CsvReader(std::move(text), static_cast<size_t>(size), path);
}

// Column i of the CSV: a field number, or 0 for the "_deleted" column.
std::vector<int32_t> MapColumns(GSO_dBaseFld& table, const CsvRow& header, const CsvReader& reader) {
  std::vector<int32_t> columns;
  std::vector<bool> used(static_cast<size_t>(table.FieldCount()) + 1, false);
  for (const std::string_view name : header.values) {
    int32_t n = 0;
    if (name == "_deleted") {
      n = 0;
    } else if (!table.FieldIndexByName(name, n)) {
      reader.Fail(header.line, "the table has no field \"" + std::string(name) + "\"");
    }
    if (used[static_cast<size_t>(n)])
      reader.Fail(header.line, "column \"" + std::string(name) + "\" appears twice");
    used[static_cast<size_t>(n)] = true;
    columns.push_back(n);
  }
  return columns;
}

// The rows checked into record images, one after the other, and the memo
// texts they carry (written only when the records are appended).
struct CheckedRows {
  platform::LargeBuffer images;
  int64_t count = 0;
  std::vector<CheckedValue> memos;
  std::vector<size_t> firstMemo;  // per row, into memos; only with memo columns
};

// Checks every row of the reader into record images laid out from the
// table's blank record.
void CheckRows(GSO_dBHandler& table, CsvReader& reader, const std::vector<int32_t>& columns,
               platform::CodePage codePage, CheckedRows& rows) {
  const size_t length = static_cast<size_t>(table.RecordLength());
  std::vector<bool> memoColumn(columns.size(), false);
  bool anyMemo = false;
  for (size_t i = 0; i < columns.size(); ++i) {
    memoColumn[i] = columns[i] != 0 && table.MemoOf(columns[i]) != nullptr;
    anyMemo = anyMemo || memoColumn[i];
  }
  table.RestoreCurrentRecord();
  table.BlankRecord();
  const std::vector<char> blank(table.CurrentRecord(), table.CurrentRecord() + length);

  // Room for a record per line of the rest of the text (at least one per
  // row); the pages never touched cost nothing.
  rows.images = platform::LargeBuffer(reader.LinesLeft() * length);

  CsvRow row;
  CheckedValue value;
  try {
    while (reader.Next(row)) {
      if (row.values.size() != columns.size())
        reader.Fail(row.line, std::to_string(row.values.size()) + " values where the header names " +
                                  std::to_string(columns.size()));
      char* const image = rows.images.Data() + static_cast<size_t>(rows.count) * length;
      std::memcpy(image, blank.data(), length);
      // The field layer lays the values out in this row's image.
      table.SetCurrentRecord(image);
      if (anyMemo) rows.firstMemo.push_back(rows.memos.size());
      for (size_t i = 0; i < columns.size(); ++i) {
        const std::string_view text = row.values[i];
        if (columns[i] == 0) {
          if (text != "0" && text != "1" && !text.empty())
            reader.Fail(row.line, "field _deleted: \"" + std::string(text) + "\" is not 0 or 1");
          image[0] = text == "1" ? '*' : ' ';
          continue;
        }
        try {
          CheckValue(table, columns[i], text, codePage, value);
        } catch (const ValueError& e) {
          reader.Fail(row.line, "field " + FieldLabel(table, columns[i]) + ": " + e.what());
        }
        if (memoColumn[i])
          rows.memos.push_back(value);
        else
          StoreValue(table, value);
      }
      ++rows.count;
    }
  } catch (...) {
    table.RestoreCurrentRecord();
    throw;
  }
  table.RestoreCurrentRecord();
  rows.firstMemo.push_back(rows.memos.size());
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

  // Every row is checked into its record image; nothing is written.
  CsvReader reader = OpenCsv(positional[1]);
  CsvRow header;
  if (!reader.Next(header)) reader.Fail(1, "no header row");
  const std::vector<int32_t> columns = MapColumns(*table, header, reader);
  CheckedRows rows;
  CheckRows(*table, reader, columns, codePage, rows);

  // The images are appended.
  if (!table->LockTable()) RaiseError(Msg::CannotLockFile, table->FileName());
  const size_t length = static_cast<size_t>(table->RecordLength());
  ProgressLine progress("import", rows.count, table->RecordCount() + rows.count);
  try {
    table->LockIndexes();
    try {
      for (int64_t r = 0; r < rows.count; ++r) {
        const char* image = rows.images.Data() + static_cast<size_t>(r) * length;
        table->RestoreCurrentRecord();
        std::memcpy(table->EditableRecord(), image, length);
        if (!rows.memos.empty())
          for (size_t m = rows.firstMemo[static_cast<size_t>(r)]; m < rows.firstMemo[static_cast<size_t>(r) + 1]; ++m)
            StoreValue(*table, rows.memos[m]);
        table->AppendRecord();
        if (image[0] == '*') table->MarkDeleted();
        progress.Step(r + 1);
      }
    } catch (...) {
      table->UnlockIndexes();
      throw;
    }
    table->UnlockIndexes();
  } catch (...) {
    table->UnlockTable();
    throw;
  }
  table->UnlockTable();
  table->FlushTable();
  return 0;
}
