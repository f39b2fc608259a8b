// deridar index: builds, lists, dumps, checks and rebuilds the tags of an
// index file of any format the engine reads (by the file's extension).
//
//   deridar index build   TABLE FILE --tag NAME --key EXPR [--for EXPR]
//                         [--unique] [--descending] [--general]
//   deridar index list    TABLE FILE
//   deridar index dump    TABLE FILE --tag NAME
//   deridar index check   TABLE FILE
//   deridar index rebuild TABLE FILE
//
// Without --tag, build and dump take the file's name without folder and
// extension (the one order of a single-order file).
//
// list prints one line per tag: name, key expression, FOR expression and
// flags, tab-separated. dump prints one line per entry in the tag's order:
// record number, a tab, the key (character keys decoded from code page 866
// to UTF-8 without trailing blanks, numeric keys as numbers, date keys as
// day numbers, GENERAL keys as hexadecimal weights). check walks every tag
// and compares it with the table; it prints what it found wrong and a
// summary per tag, and exits with 1 when anything is wrong.
//
// A writer that dies between its table write and its index write (or in the
// middle of a node split) leaves the tags behind the table: records without
// an entry, entries of a record's old key, or a tree whose levels disagree.
// rebuild reads every tag's definition (key, FOR condition, unique,
// descending, collation), builds all of them anew from the table into a
// scratch file beside the index file and then puts it in the file's place,
// so that a failure on the way leaves the old file as it was.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "engine/index/gs6_cdx.h"
#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbsy.h"
#include "platform/ansi.h"
#include "platform/codepage.h"
#include "tools/deridar/field_input.h"
#include "tools/deridar/verbs.h"

namespace {

// The table, opened through the table handler, which publishes its fields
// to the expression context the index keys compile against.
std::unique_ptr<GSO_dBHandler> OpenTable(const std::string& name, bool readWrite) {
  std::unique_ptr<GSO_dBHandler> table =
      std::make_unique<ProgressReportingHandler>(name, TablePassword(), !readWrite, readWrite);
  table->OpenTable();
  return table;
}

struct Options {
  std::string action, table, file, tag, key, forExpr;
  bool unique = false, descending = false, general = false;
};

Options Parse(const VerbArgs& args) {
  Options o;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
      return args[++i];
    };
    if (a == "--tag")
      o.tag = value();
    else if (a == "--key")
      o.key = value();
    else if (a == "--for")
      o.forExpr = value();
    else if (a == "--unique")
      o.unique = true;
    else if (a == "--descending")
      o.descending = true;
    else if (a == "--general")
      o.general = true;
    else if (a.rfind("--", 0) == 0)
      throw UsageError("unknown option \"" + a + "\"");
    else
      positional.push_back(a);
  }
  if (positional.size() != 3) throw UsageError("expects an action, a table and an index file");
  o.action = positional[0];
  o.table = positional[1];
  o.file = positional[2];
  return o;
}

std::string KeyText(const GSobjIndexTag& tag, const GSobjIndexKeyData& key) {
  std::string_view bytes(reinterpret_cast<const char*>(key.Data()), key.Length());
  char buffer[64];
  if (tag.KeyType() == 'N' || tag.KeyType() == 'D') {
    std::snprintf(buffer, sizeof buffer, "%.15g", tag.KeyNumber(key));
    return buffer;
  }
  if (tag.KeyIsWeights()) {
    std::string hex;
    for (unsigned char c : bytes) {
      std::snprintf(buffer, sizeof buffer, "%02X", c);
      hex += buffer;
    }
    return hex;
  }
  while (!bytes.empty() && bytes.back() == ' ') bytes.remove_suffix(1);
  return platform::ToUtf8(bytes, platform::CodePage::Cp866);
}

std::string Flags(const GSobjIndexTag& tag) {
  std::string f;
  auto add = [&f](const char* s) { f += f.empty() ? s : std::string(",") + s; };
  if (tag.Unique()) add("unique");
  if (!tag.Ascending()) add("descending");
  if (tag.KeyIsWeights()) add("general");
  return f;
}

// The file's name without folder and extension, upper-cased.
std::string Stem(const std::string& file) {
  return platform::UpperCase(std::filesystem::path(file).stem().string());
}

GSobjIndexTag& TagNamed(GSobjIndexFile& file, const std::string& name) {
  auto* tag = file.FindTag(name);
  if (!tag) RaiseError(Msg::IndexTagNotFound, name);
  return *tag;
}

// The index file, of the format its extension names, opened (or with
// `create` created) for the table.
std::unique_ptr<GSobjIndexFile> OpenIndex(GSO_dBHandler& table, const std::string& name, bool create) {
  // The table's production MDX file, opened with the table, is used as it is.
  if (const int32_t slot = table.IndexFileByName(name); slot > 0) return table.ReleaseIndexFile(slot);
  auto file = table.MakeIndexFile(name, create, create, false);
  // A name whose extension names no format the engine reads cannot hold
  // an index the engine would open with its table.
  if (!file) RaiseError(Msg::IndexCorrupted, name);
  if (!file->DiskFile()) RaiseError(Msg::FileNotFound, name);
  if (!file->Valid()) RaiseError(Msg::IndexCorrupted, file->FullPath());
  return file;
}

// The GENERAL collation is a setting of compound CDX files only.
void SetGeneralCollation(GSobjIndexFile& file, bool general) {
  auto* cdxFile = dynamic_cast<GSobjCDXFile*>(&file);
  if (general && !cdxFile) throw UsageError("--general applies to CDX files only");
  if (cdxFile) cdxFile->SetDefaultCollation(general ? cdx::Collation::General : cdx::Collation::Machine);
}

// What rebuild needs to make a tag again.
struct TagDefinition {
  std::string name, key, forExpr;
  bool unique = false, ascending = true, general = false;
};

int Rebuild(const Options& o) {
  auto table = OpenTable(o.table, true);
  std::vector<TagDefinition> definitions;
  std::string path;
  {
    auto file = OpenIndex(*table, o.file, false);
    path = file->FullPath();
    for (int32_t i = 0; i < file->TagCount(); ++i) {
      const GSobjIndexTag& tag = *file->TagByPosition(i);
      definitions.push_back({tag.TagName(), tag.KeyExpression(), tag.ForExpression(), tag.Unique(),
                             tag.Ascending(), tag.KeyIsWeights()});
    }
  }
  // The scratch file keeps the index's extension, which names its format.
  const std::filesystem::path target(path);
  const std::string scratch =
      (target.parent_path() / (target.stem().string() + ".rebuild" + target.extension().string())).string();
  std::error_code ignored;
  // A scratch file left by a rebuild that did not finish is no use.
  std::filesystem::remove(scratch, ignored);
  try {
    auto file = OpenIndex(*table, scratch, true);
    for (const TagDefinition& d : definitions) {
      SetGeneralCollation(*file, d.general);
      if (!file->AddTag(d.name, d.key, d.unique, d.ascending, d.forExpr)) {
        file.reset();
        std::filesystem::remove(scratch, ignored);
        std::fprintf(stderr, "deridar index: tag %s: the key expression \"%s\" cannot be indexed\n",
                     d.name.c_str(), d.key.c_str());
        return 1;
      }
    }
  } catch (...) {
    std::filesystem::remove(scratch, ignored);
    throw;
  }
  std::error_code error;
  std::filesystem::rename(scratch, path, error);
  if (error) {
    std::filesystem::remove(scratch, ignored);
    RaiseError(Msg::RenameError, path);
  }
  std::printf("%zu tags rebuilt from %d records\n", definitions.size(), table->RecordCount());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int VerbIndex(const VerbArgs& args) {
  const Options o = Parse(args);
  if (o.action == "build") {
    if (o.key.empty()) throw UsageError("build needs --key");
    auto table = OpenTable(o.table, true);
    auto file = OpenIndex(*table, o.file, true);
    SetGeneralCollation(*file, o.general);
    const std::string tagName = o.tag.empty() ? Stem(o.file) : o.tag;
    // A failed build leaves an existing file as it was and no new one.
    const std::string path = file->FullPath();
    const bool made = file->CreatedNew();
    auto forget = [&] {
      file.reset();
      std::error_code ignored;
      if (made) std::filesystem::remove(path, ignored);
    };
    bool built = false;
    try {
      built = file->AddTag(tagName, o.key, o.unique, !o.descending, o.forExpr);
    } catch (...) {
      forget();
      throw;
    }
    if (!built) {
      forget();
      std::fprintf(stderr, "deridar index: the key expression \"%s\" cannot be indexed\n", o.key.c_str());
      return 1;
    }
    return 0;
  }
  if (o.action == "rebuild") return Rebuild(o);
  auto table = OpenTable(o.table, false);
  auto file = OpenIndex(*table, o.file, false);
  std::string out;
  int status = 0;
  if (o.action == "list") {
    for (int32_t i = 0; i < file->TagCount(); ++i) {
      const GSobjIndexTag& tag = *file->TagByPosition(i);
      out += tag.TagName() + "\t" + tag.KeyExpression() + "\t" + tag.ForExpression() + "\t" + Flags(tag) + "\n";
    }
  } else if (o.action == "dump") {
    GSobjIndexTag& tag = TagNamed(*file, o.tag.empty() ? Stem(o.file) : o.tag);
    tag.ResetPages(GSobjIndexTag::kResetRootOnly);
    for (TRecNo r = tag.MoveTo(GotoFirst); r != 0; r = tag.MoveTo(GotoNext)) {
      out += std::to_string(r) + "\t" + KeyText(tag, tag.CurrentKey()) + "\n";
      if (out.size() > (1 << 16)) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
      }
    }
  } else if (o.action == "check") {
    for (int32_t i = 0; i < file->TagCount(); ++i) {
      GSobjIndexTag& tag = *file->TagByPosition(i);
      IndexCheckReport report;
      try {
        file->CheckTag(tag, report);
      } catch (const EDeridarExpression& e) {
        // The tree can still be checked, the entries against the table not.
        file->CheckTag(tag, report, false);
        report.problems.insert(report.problems.begin(),
                               std::string("entries not compared with the table: ") + e.what());
      }
      for (const std::string& p : report.problems) out += tag.TagName() + ": " + p + "\n";
      out += tag.TagName() + ": " + std::to_string(report.entries.size()) + " entries, " +
             std::to_string(report.levels) + " levels, " + std::to_string(report.nodes) + " nodes, " +
             (report.problems.empty() ? "ok" : "FAILED") + "\n";
      if (!report.problems.empty()) status = 1;
    }
    if (status != 0)
      out += "the tags do not match the table; \"deridar index rebuild " + o.table + " " + o.file +
             "\" builds them anew\n";
  } else {
    throw UsageError("unknown action \"" + o.action + "\"");
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? status : 1;
}
