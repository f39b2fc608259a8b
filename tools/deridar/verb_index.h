// What "deridar index" was asked to do, shared by the verb's formats.
#pragma once

#include <string>

struct IndexOptions {
  std::string action, table, file, tag, key, forExpr;
  bool unique = false, descending = false, general = false;
};

// The verb on an NTX file (one order, named after the file).
int VerbIndexNtx(const IndexOptions& o);
