// deridar index on an NTX file, which holds one order named after the file:
//
//   deridar index build   TABLE FILE.NTX --key EXPR [--for EXPR] [--unique]
//                         [--descending]   (--tag, if given, is the stem)
//   deridar index list|dump|check|rebuild TABLE FILE.NTX
//
// The output is the CDX verbs': list prints name, key expression, FOR
// expression and flags; dump one line per entry (character keys in UTF-8,
// numeric keys as numbers, date keys as day numbers); check the problems
// found and a summary line, exit code 1 when anything is wrong; rebuild
// builds the order anew into a scratch file and puts it in the file's place.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "engine/index/gs6_ntx.h"
#include "engine/support/gs6_date.h"
#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbsy.h"
#include "platform/ansi.h"
#include "platform/codepage.h"
#include "tools/deridar/verb_index.h"
#include "tools/deridar/verbs.h"

namespace {

std::unique_ptr<GSO_dBHandler> OpenTable(const std::string& name, bool readWrite) {
  auto table = std::make_unique<GSO_dBHandler>(name, "", !readWrite, readWrite);
  table->OpenTable();
  return table;
}

std::unique_ptr<GSobjNTXFile> OpenIndex(GSO_dBHandler& table, const std::string& name, bool create) {
  auto file = std::make_unique<GSobjNTXFile>(&table, name, create, create, create, false);
  if (!file->DiskFile()) RaiseError(Msg::FileNotFound, name);
  if (!file->Valid() || (!create && !file->Tag())) RaiseError(Msg::IndexCorrupted, file->FullPath());
  return file;
}

std::string KeyText(const GSobjNTXTag& tag, const GSobjIndexKeyData& key) {
  std::string_view bytes(reinterpret_cast<const char*>(key.Data()), key.Length());
  char buffer[64];
  if (tag.KeyType() == 'N') {
    std::snprintf(buffer, sizeof buffer, "%.15g", ntx::NumericKeyValue(bytes));
    return buffer;
  }
  if (tag.KeyType() == 'D') return std::to_string(DBFDate().TextToDay(bytes));
  return platform::ToUtf8(bytes, platform::CodePage::Cp866);
}

std::string Flags(const GSobjNTXTag& tag) {
  std::string f;
  auto add = [&f](const char* s) { f += f.empty() ? s : std::string(",") + s; };
  if (tag.Unique()) add("unique");
  if (!tag.Ascending()) add("descending");
  return f;
}

int Rebuild(const IndexOptions& o) {
  auto table = OpenTable(o.table, true);
  std::string path, key, forExpr;
  bool unique = false, ascending = true;
  {
    auto file = OpenIndex(*table, o.file, false);
    path = file->FullPath();
    key = file->Tag()->KeyExpression();
    forExpr = file->Tag()->ForExpression();
    unique = file->Tag()->Unique();
    ascending = file->Tag()->Ascending();
  }
  const std::string scratch = path + ".rebuild";
  std::error_code ignored;
  std::filesystem::remove(scratch, ignored);
  try {
    auto file = OpenIndex(*table, scratch, true);
    if (!file->AddTag("", key, unique, ascending, forExpr)) {
      file.reset();
      std::filesystem::remove(scratch, ignored);
      std::fprintf(stderr, "deridar index: the key expression \"%s\" cannot be indexed\n", key.c_str());
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
  std::printf("1 tags rebuilt from %d records\n", table->RecordCount());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int VerbIndexNtx(const IndexOptions& o) {
  const std::string stem = std::filesystem::path(o.file).stem().string();
  if (!o.tag.empty() && platform::UpperCase(o.tag) != platform::UpperCase(stem))
    throw UsageError("an NTX file holds one order, named after the file: --tag must be " + stem);
  if (o.general) throw UsageError("--general is for CDX files");
  if (o.action == "build") {
    if (o.key.empty()) throw UsageError("build needs --key");
    auto table = OpenTable(o.table, true);
    auto file = OpenIndex(*table, o.file, true);
    if (!file->AddTag(stem, o.key, o.unique, !o.descending, o.forExpr)) {
      std::fprintf(stderr, "deridar index: the key expression \"%s\" cannot be indexed\n", o.key.c_str());
      return 1;
    }
    return 0;
  }
  if (o.action == "rebuild") return Rebuild(o);
  auto table = OpenTable(o.table, false);
  auto file = OpenIndex(*table, o.file, false);
  GSobjNTXTag& tag = *file->Tag();
  std::string out;
  int status = 0;
  if (o.action == "list") {
    out = tag.TagName() + "\t" + tag.KeyExpression() + "\t" + tag.ForExpression() + "\t" + Flags(tag) + "\n";
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
    cdx::TreeReport report;
    try {
      file->CheckTag(report);
    } catch (const EDeridarExpression& e) {
      // The tree can still be checked, the entries against the table not.
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
      out += "the tags do not match the table; \"deridar index rebuild " + o.table + " " + o.file +
             "\" builds them anew\n";
    }
  } else {
    throw UsageError("unknown action \"" + o.action + "\"");
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? status : 1;
}
