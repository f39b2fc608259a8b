// deridar index on NDX files, which hold one order named after the file,
// without FOR condition and in ascending order only:
//
//   deridar index build   TABLE FILE.NDX --key EXPR [--unique] [--tag NAME]
//   deridar index list    TABLE FILE.NDX
//   deridar index dump    TABLE FILE.NDX [--tag NAME]
//   deridar index check   TABLE FILE.NDX
//   deridar index rebuild TABLE FILE.NDX
//
// A --tag, where given, must be the file's name without folder and
// extension. Output is that of the compound files: list prints name, key
// expression, an empty FOR expression and the flags; dump prints record
// number and key (character keys decoded from code page 866, numeric keys
// and the day numbers of date keys as numbers); check compares the tree and
// its entries with the table and exits with 1 when anything is wrong;
// rebuild builds the order anew into a scratch file beside the file and
// then puts it in the file's place.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "engine/index/gs6_ndx.h"
#include "engine/support/gs6_glbl.h"
#include "engine/support/gs6_tool.h"
#include "engine/table/gs6_dbsy.h"
#include "platform/ansi.h"
#include "platform/codepage.h"
#include "tools/deridar/verbs.h"

namespace {

struct NdxOptions {
  std::string action, table, file, tag, key;
  bool unique = false;
};

NdxOptions ParseNdx(const VerbArgs& args) {
  NdxOptions o;
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
    else if (a == "--unique")
      o.unique = true;
    else if (a == "--for" || a == "--descending" || a == "--general")
      throw UsageError("an NDX file holds no " + a.substr(2) + " order option");
    else if (a.rfind("--", 0) == 0)
      throw UsageError("unknown option \"" + a + "\"");
    else
      positional.push_back(a);
  }
  if (positional.size() != 3) throw UsageError("expects an action, a table and an index file");
  o.action = positional[0];
  o.table = positional[1];
  o.file = positional[2];
  if (!o.tag.empty() && platform::UpperCase(o.tag) != platform::UpperCase(BaseName(o.file)))
    RaiseError(Msg::IndexTagNotFound, o.tag);
  return o;
}

std::unique_ptr<GSobjNDXFile> OpenNdx(GSO_dBHandler& table, const std::string& name, bool create) {
  auto file = std::make_unique<GSobjNDXFile>(&table, name, create, create, create, false);
  if (!file->DiskFile()) RaiseError(Msg::FileNotFound, name);
  if (!file->Valid()) RaiseError(Msg::IndexCorrupted, file->FullPath());
  return file;
}

std::string KeyText(const GSobjNDXTag& tag, const GSobjIndexKeyData& key) {
  if (tag.KeyType() != 'C') {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", key.AsFloat());
    return buffer;
  }
  std::string_view bytes(reinterpret_cast<const char*>(key.Data()), key.Length());
  while (!bytes.empty() && bytes.back() == ' ') bytes.remove_suffix(1);
  return platform::ToUtf8(bytes, platform::CodePage::Cp866);
}

bool Build(GSobjNDXFile& file, const std::string& tag, const std::string& key, bool unique) {
  if (file.AddTag(tag, key, unique, true, "")) return true;
  std::fprintf(stderr, "deridar index: the key expression \"%s\" cannot be indexed\n", key.c_str());
  return false;
}

int RebuildNdx(const NdxOptions& o) {
  GSO_dBHandler table(o.table, "", false, true);
  table.OpenTable();
  std::string path, key, name;
  bool unique = false;
  {
    auto file = OpenNdx(table, o.file, false);
    path = file->FullPath();
    name = file->Tag()->TagName();
    key = file->Tag()->KeyExpression();
    unique = file->Tag()->Unique();
  }
  const std::string scratch = path + ".rebuild";
  std::error_code ignored;
  std::filesystem::remove(scratch, ignored);
  try {
    auto file = OpenNdx(table, scratch, true);
    if (!Build(*file, name, key, unique)) {
      file.reset();
      std::filesystem::remove(scratch, ignored);
      return 1;
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
  std::printf("1 tag rebuilt from %d records\n", table.RecordCount());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int VerbIndexNdx(const VerbArgs& args) {
  const NdxOptions o = ParseNdx(args);
  if (o.action == "build") {
    if (o.key.empty()) throw UsageError("build needs --key");
    GSO_dBHandler table(o.table, "", false, true);
    table.OpenTable();
    auto file = OpenNdx(table, o.file, true);
    return Build(*file, BaseName(o.file), o.key, o.unique) ? 0 : 1;
  }
  if (o.action == "rebuild") return RebuildNdx(o);
  GSO_dBHandler table(o.table, "", true, false);
  table.OpenTable();
  auto file = OpenNdx(table, o.file, false);
  GSobjNDXTag& tag = *file->Tag();
  std::string out;
  int status = 0;
  if (o.action == "list") {
    out = tag.TagName() + "\t" + tag.KeyExpression() + "\t\t" + (tag.Unique() ? "unique" : "") + "\n";
  } else if (o.action == "dump") {
    tag.ResetPages(GSobjIndexTag::kResetRootOnly);
    for (TRecNo r = tag.MoveTo(GotoFirst); r != 0; r = tag.MoveTo(GotoNext)) {
      out += std::to_string(r) + "\t" + KeyText(tag, tag.CurrentKey()) + "\n";
      if (out.size() > (1 << 16)) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
      }
    }
  } else if (o.action == "check") {
    ndx::TreeReport report;
    try {
      file->CheckTag(report);
    } catch (const EDeridarExpression& e) {
      report = {};
      file->CheckTag(report, false);
      report.problems.insert(report.problems.begin(),
                             std::string("entries not compared with the table: ") + e.what());
    }
    for (const std::string& p : report.problems) out += tag.TagName() + ": " + p + "\n";
    out += tag.TagName() + ": " + std::to_string(report.entries.size()) + " entries, " +
           std::to_string(report.levels) + " levels, " + std::to_string(report.nodes) + " nodes, " +
           (report.problems.empty() ? "ok" : "FAILED") + "\n";
    if (!report.problems.empty()) {
      status = 1;
      out += "the order does not match the table; \"deridar index rebuild " + o.table + " " + o.file +
             "\" builds it anew\n";
    }
  } else {
    throw UsageError("unknown action \"" + o.action + "\"");
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? status : 1;
}
