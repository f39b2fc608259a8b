// What a check of an index tag reports: the entries its leaves hold and
// what is wrong with its tree or with its entries against the table. Every
// format's tree walk fills one (GSobjIndexFile::CheckTag).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One entry as a node holds it: the key in its stored form, the record
// number and, in a branch, the child's address.
struct IndexEntryImage {
  std::string key;
  uint32_t recordNumber = 0;
  uint32_t child = 0;
};

struct IndexCheckReport {
  std::vector<IndexEntryImage> entries;  // leaf entries in tree order
  std::vector<std::string> problems;     // empty when everything is sound
  int levels = 0;
  int nodes = 0;
};
