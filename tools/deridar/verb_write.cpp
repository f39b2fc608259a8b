// deridar set TABLE RECNO FIELD=VALUE ... [--index FILE ...] [--encoding 866|1251]
// deridar delete TABLE RECNO ... [--index FILE ...]
// deridar recall TABLE RECNO ... [--index FILE ...]
//
// Change records in place through the table handler, so the listed index
// files follow. Each record is written under its record lock of the table's
// lock protocol (a viewer or another writer on the same files waits or is
// refused, never sees half a write); a record another program holds locked
// is refused with "Record is locked by another user". set checks every
// value (as import does) before it writes anything; values are typed in
// UTF-8 and converted to the table's code page.
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/support/gs6_glbl.h"
#include "tools/deridar/field_input.h"
#include "tools/deridar/verbs.h"

namespace {

struct WriteOptions {
  std::vector<std::string> positional, indexFiles;
  std::string encoding;
};

WriteOptions Parse(const VerbArgs& args, bool withEncoding) {
  WriteOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
      return args[++i];
    };
    if (a == "--index")
      o.indexFiles.push_back(value());
    else if (a == "--encoding" && withEncoding)
      o.encoding = value();
    else if (a.rfind("--", 0) == 0)
      throw UsageError("unknown option \"" + a + "\"");
    else
      o.positional.push_back(a);
  }
  return o;
}

TRecNo RecordNumber(const std::string& text) {
  char* end = nullptr;
  long long n = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || n < 1 || n > 0x7FFFFFFF)
    throw UsageError("\"" + text + "\" is not a record number");
  return static_cast<TRecNo>(n);
}

// Reads record `recNo` under its lock, lets `change` alter it (the change
// writes it), and releases the lock.
template <typename Change>
void ChangeLocked(GSO_dBHandler& table, TRecNo recNo, Change&& change) {
  if (recNo > table.RecordCount()) table.RefreshHeader();
  if (recNo > table.RecordCount()) RaiseError(Msg::RecordNotInTable, recNo, table.FileName());
  if (!table.LockRecord(recNo)) RaiseError(Msg::RecordLocked);
  try {
    // Read under the lock: the bytes another writer finished are the base.
    table.RestoreCurrentRecord();
    table.ReadRecord(recNo);
    change();
  } catch (...) {
    table.UnlockTable();
    throw;
  }
  table.UnlockTable();
}

int DeleteOrRecall(const VerbArgs& args, bool del) {
  WriteOptions o = Parse(args, false);
  if (o.positional.size() < 2) throw UsageError("expects a table and record numbers");
  std::vector<TRecNo> records;
  for (size_t i = 1; i < o.positional.size(); ++i) records.push_back(RecordNumber(o.positional[i]));
  auto table = OpenTableForWriting(o.positional[0], o.indexFiles);
  table->SetUseDeleted(true);
  // A wrong number anywhere in the list stops the verb before any write.
  for (TRecNo recNo : records)
    if (recNo > table->RecordCount()) RaiseError(Msg::RecordNotInTable, recNo, table->FileName());
  for (TRecNo recNo : records) {
    ChangeLocked(*table, recNo, [&] {
      if (del)
        table->MarkDeleted();
      else
        table->MarkUndeleted();
    });
  }
  table->FlushTable();
  return 0;
}

}  // namespace

int VerbSet(const VerbArgs& args) {
  WriteOptions o = Parse(args, true);
  if (o.positional.size() < 3) throw UsageError("expects a table, a record number and FIELD=VALUE");
  const TRecNo recNo = RecordNumber(o.positional[1]);
  auto table = OpenTableForWriting(o.positional[0], o.indexFiles);
  table->SetUseDeleted(true);
  const platform::CodePage codePage = TableCodePage(*table, o.encoding);
  std::vector<CheckedValue> values;
  std::vector<bool> seen(static_cast<size_t>(table->FieldCount()) + 1, false);
  for (size_t i = 2; i < o.positional.size(); ++i) {
    const std::string& assignment = o.positional[i];
    const size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0) throw UsageError("\"" + assignment + "\" is not FIELD=VALUE");
    const std::string name = assignment.substr(0, eq);
    int32_t n = 0;
    if (!table->FieldIndexByName(name, n)) RaiseError(Msg::NoFieldName, name);
    if (seen[static_cast<size_t>(n)]) throw UsageError("field " + name + " is set twice");
    seen[static_cast<size_t>(n)] = true;
    try {
      values.push_back(CheckValue(*table, n, std::string_view(assignment).substr(eq + 1), codePage));
    } catch (const ValueError& e) {
      throw std::runtime_error("field " + FieldLabel(*table, n) + ": " + e.what());
    }
  }
  ChangeLocked(*table, recNo, [&] {
    StoreValues(*table, values);
    table->WriteRecord(recNo);
  });
  table->FlushTable();
  return 0;
}

int VerbDelete(const VerbArgs& args) { return DeleteOrRecall(args, true); }
int VerbRecall(const VerbArgs& args) { return DeleteOrRecall(args, false); }
