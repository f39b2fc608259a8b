// deridar: the engine's command-line tool. Dispatches to one verb per
// command; add a verb by writing verb_<name>.cpp and one line in kVerbs.
// Options every verb takes: --help (its usage on standard output, exit 0)
// and --password TEXT (the key of an enciphered table). `deridar --help`
// lists every verb, `deridar --version` prints the version.
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
    {"seek", "seek TABLE INDEXFILE [--tag NAME] (--key TEXT | --range LOW HIGH) [--limit N] [--deleted]", VerbSeek},
    {"index", "index build|list|dump|check|rebuild TABLE INDEXFILE [--tag NAME] [--key EXPR [--for EXPR] [--unique] [--descending] [--general]]", VerbIndex},
    {"create", "create TABLE --field NAME:TYPE:LEN[:DEC] ... [--version 03|83|8B|F5|30] [--encoding 866|1251]", VerbCreate},
    {"import", "import TABLE FILE.csv [--index FILE ...] [--encoding 866|1251]", VerbImport},
    {"set", "set TABLE RECNO FIELD=VALUE ... [--index FILE ...] [--encoding 866|1251]", VerbSet},
    {"delete", "delete TABLE RECNO ... [--index FILE ...]", VerbDelete},
    {"recall", "recall TABLE RECNO ... [--index FILE ...]", VerbRecall},
};

std::string password;

void PrintUsage(const Verb* only, std::FILE* to = stderr) {
  std::fprintf(to, "usage:\n");
  for (const Verb& verb : kVerbs)
    if (!only || only == &verb) std::fprintf(to, "  deridar %s\n", verb.usage);
  std::fprintf(to, "every verb also takes --help and --password TEXT\n");
}

// Takes the options every verb shares out of its arguments: --password
// with its value; true when --help was among them.
bool TakeSharedOptions(VerbArgs& args) {
  bool help = false;
  VerbArgs rest;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help") {
      help = true;
    } else if (args[i] == "--password") {
      if (i + 1 >= args.size()) throw UsageError("--password needs a value");
      password = args[++i];
    } else {
      rest.push_back(args[i]);
    }
  }
  args = std::move(rest);
  return help;
}

}  // namespace

const std::string& TablePassword() { return password; }

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(nullptr);
    return 2;
  }
  std::string name = argv[1];
  if (name == "--version") {
    std::printf("deridar %s\n", DERIDAR_VERSION);
    return 0;
  }
  if (name == "--help" || name == "help") {
    PrintUsage(nullptr, stdout);
    return 0;
  }
  for (const Verb& verb : kVerbs) {
    if (name != verb.name) continue;
    VerbArgs args(argv + 2, argv + argc);
    try {
      if (TakeSharedOptions(args)) {
        PrintUsage(&verb, stdout);
        return 0;
      }
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
