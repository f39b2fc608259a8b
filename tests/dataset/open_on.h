// Opens a dataset on a table in a test's temporary folder.
#pragma once

#include <string>

#include "dataset/Razuz6oz.h"
#include "support/temp_dir.h"

inline void OpenOn(TDeridarDataSet& table, const TempDir& dir, const std::string& name = "T") {
  table.SetDatabaseName(dir.Path().string());
  table.SetTableName(name);
  table.Open();
}
