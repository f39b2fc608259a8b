// deridar index on MDX files: build, list, dump, check and rebuild, printing
// as for CDX files (see verb_index.cpp). The table handler opens the file,
// as it opens a table's production MDX file by itself; a tag is built
// through the handler's IndexOn.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "engine/index/gs6_mdx.h"
#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbsy.h"
#include "platform/codepage.h"
#include "tools/deridar/verbs.h"

namespace {

std::unique_ptr<GSO_dBHandler> OpenTable(const std::string& name, bool readWrite) {
  auto table = std::make_unique<GSO_dBHandler>(name, "", !readWrite, readWrite);
  table->OpenTable();
  return table;
}

// The file, opened by the handler (or found open already as the table's
// production index).
GSobjMDXFile& OpenIndex(GSO_dBHandler& table, const std::string& name) {
  int32_t slot = table.IndexFileByName(name);
  if (slot == 0) {
    if (table.OpenIndexFile(name) < 0) throw UsageError("cannot open index file \"" + name + "\"");
    slot = table.IndexFileByName(name);
  }
  auto* file = dynamic_cast<GSobjMDXFile*>(table.IndexFile(slot));
  if (!file) RaiseError(Msg::IndexCorrupted, name);
  return *file;
}

std::string KeyText(const GSobjMDXTag& tag, const GSobjIndexKeyData& key) {
  if (tag.KeyType() == 'N' || tag.KeyType() == 'D') {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", key.AsFloat());
    return buffer;
  }
  std::string_view bytes(reinterpret_cast<const char*>(key.Data()), key.Length());
  while (!bytes.empty() && bytes.back() == ' ') bytes.remove_suffix(1);
  return platform::ToUtf8(bytes, platform::CodePage::Cp866);
}

std::string Flags(const GSobjMDXTag& tag) {
  std::string f;
  auto add = [&f](const char* s) { f += f.empty() ? s : std::string(",") + s; };
  if (tag.Unique()) add("unique");
  if (!tag.Ascending()) add("descending");
  return f;
}

int Rebuild(const MdxIndexRequest& o) {
  struct Definition {
    std::string name, key, forExpr;
    bool unique, ascending;
  };
  std::vector<Definition> definitions;
  auto table = OpenTable(o.table, true);
  GSobjMDXFile& file = OpenIndex(*table, o.file);
  const std::string path = file.FullPath();
  for (int32_t i = 0; i < file.TagCount(); ++i) {
    GSobjIndexTag& tag = *file.TagByPosition(i);
    definitions.push_back({tag.TagName(), tag.KeyExpression(), tag.ForExpression(), tag.Unique(), tag.Ascending()});
  }
  // Built beside the file and put in its place, so that a failure on the
  // way leaves the old file as it was.
  const std::string scratch = path + ".rebuild";
  std::error_code ignored;
  std::filesystem::remove(scratch, ignored);
  try {
    GSobjMDXFile fresh(table.get(), scratch, true, true, true, false);
    if (!fresh.Valid()) RaiseError(Msg::CreateError, scratch);
    for (const Definition& d : definitions) {
      if (!fresh.AddTag(d.name, d.key, d.unique, d.ascending, d.forExpr)) {
        std::fprintf(stderr, "deridar index: tag %s: the key expression \"%s\" cannot be indexed\n",
                     d.name.c_str(), d.key.c_str());
        std::filesystem::remove(scratch, ignored);
        return 1;
      }
    }
  } catch (...) {
    std::filesystem::remove(scratch, ignored);
    throw;
  }
  const TRecNo records = table->RecordCount();
  table.reset();
  std::error_code error;
  std::filesystem::rename(scratch, path, error);
  if (error) {
    std::filesystem::remove(scratch, ignored);
    RaiseError(Msg::RenameError, path);
  }
  std::printf("%zu tags rebuilt from %d records\n", definitions.size(), records);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int VerbIndexMdx(const MdxIndexRequest& o) {
  if (o.action == "build") {
    if (o.tag.empty() || o.key.empty()) throw UsageError("build needs --tag and --key");
    auto table = OpenTable(o.table, true);
    table->IndexOn(o.file, o.tag, o.key, o.forExpr, o.unique ? 0 : 1, o.descending ? 1 : 0);
    return 0;
  }
  if (o.action == "rebuild") return Rebuild(o);
  auto table = OpenTable(o.table, false);
  GSobjMDXFile& file = OpenIndex(*table, o.file);
  std::string out;
  int status = 0;
  if (o.action == "list") {
    for (int32_t i = 0; i < file.TagCount(); ++i) {
      auto& tag = *static_cast<GSobjMDXTag*>(file.TagByPosition(i));
      out += tag.TagName() + "\t" + tag.KeyExpression() + "\t" + tag.ForExpression() + "\t" + Flags(tag) + "\n";
    }
  } else if (o.action == "dump") {
    if (o.tag.empty()) throw UsageError("--tag is required");
    auto* tag = static_cast<GSobjMDXTag*>(file.FindTag(o.tag));
    if (!tag) RaiseError(Msg::IndexTagNotFound, o.tag);
    tag->ResetPages(GSobjIndexTag::kResetRootOnly);
    for (TRecNo r = tag->MoveTo(GotoFirst); r != 0; r = tag->MoveTo(GotoNext)) {
      out += std::to_string(r) + "\t" + KeyText(*tag, tag->CurrentKey()) + "\n";
      if (out.size() > (1 << 16)) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
      }
    }
  } else if (o.action == "check") {
    for (int32_t i = 0; i < file.TagCount(); ++i) {
      auto& tag = *static_cast<GSobjMDXTag*>(file.TagByPosition(i));
      mdx::CheckReport report;
      try {
        file.CheckTag(tag, report);
      } catch (const EDeridarExpression& e) {
        // The tree can still be checked, the entries against the table not.
        report = {};
        file.CheckTag(tag, report, false);
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
