// The verbs of the deridar tool. Each verb lives in its own file
// (verb_<name>.cpp) and is listed once in the table in main.cpp.
//
// A verb receives the arguments after its name. It returns the exit code;
// engine failures propagate as exceptions, which main reports on stderr
// with exit code 1. A verb reports wrong arguments by throwing UsageError.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

using VerbArgs = std::vector<std::string>;

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

int VerbInfo(const VerbArgs& args);
int VerbDump(const VerbArgs& args);
int VerbIndex(const VerbArgs& args);
// deridar index on an MDX file (verb_index_mdx.cpp), with the options as
// VerbIndex parsed them.
struct MdxIndexRequest {
  std::string action, table, file, tag, key, forExpr;
  bool unique = false, descending = false;
};
int VerbIndexMdx(const MdxIndexRequest& request);
int VerbEval(const VerbArgs& args);
int VerbSeek(const VerbArgs& args);
