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

// The password of an enciphered table, given with --password before or
// after the verb's own arguments (empty for a plain table). Every verb that
// opens a table opens it with this password.
const std::string& TablePassword();

int VerbInfo(const VerbArgs& args);
int VerbDump(const VerbArgs& args);
int VerbIndex(const VerbArgs& args);
int VerbEval(const VerbArgs& args);
int VerbSeek(const VerbArgs& args);
int VerbCreate(const VerbArgs& args);
int VerbImport(const VerbArgs& args);
int VerbSet(const VerbArgs& args);
int VerbDelete(const VerbArgs& args);
int VerbRecall(const VerbArgs& args);
