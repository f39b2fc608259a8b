// deridar: the engine's command-line tool. Dispatches to one verb per
// command; add a verb by writing verb_<name>.cpp and one line in kVerbs.
#include <cstdio>
#include <exception>
#include <string>

#include "engine/support/gs6_glbl.h"
#include "tools/deridar/verbs.h"

namespace {

struct Verb {
  const char* name;
  const char* usage;
  int (*run)(const VerbArgs& args);
};

constexpr Verb kVerbs[] = {
    {"info", "info TABLE", VerbInfo},
    {"dump", "dump TABLE [--encoding 866|1251|none] [--deleted] [--filter EXPR]", VerbDump},
    {"eval", "eval TABLE EXPR [--deleted] [--where EXPR]", VerbEval},
    {"seek", "seek TABLE FILE.CDX|FILE.MDX --tag NAME (--key TEXT | --range LOW HIGH) [--limit N] [--deleted]", VerbSeek},
    {"index", "index build|list|dump|check|rebuild TABLE FILE.CDX|FILE.MDX [--tag NAME --key EXPR [--for EXPR] [--unique] [--descending] [--general]]", VerbIndex},
};

void PrintUsage(const Verb* only) {
  std::fprintf(stderr, "usage:\n");
  for (const Verb& verb : kVerbs)
    if (!only || only == &verb) std::fprintf(stderr, "  deridar %s\n", verb.usage);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(nullptr);
    return 2;
  }
  std::string name = argv[1];
  for (const Verb& verb : kVerbs) {
    if (name != verb.name) continue;
    VerbArgs args(argv + 2, argv + argc);
    try {
      return verb.run(args);
    } catch (const UsageError& e) {
      std::fprintf(stderr, "deridar %s: %s\n", verb.name, e.what());
      PrintUsage(&verb);
      return 2;
    } catch (const EDeridarBase& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
  }
  std::fprintf(stderr, "deridar: unknown command \"%s\"\n", name.c_str());
  PrintUsage(nullptr);
  return 2;
}
