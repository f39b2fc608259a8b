// Temporary folders for tests.
#include "support/temp_dir.h"

#include <stdlib.h>

#include <system_error>

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "deridar-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  path_ = made ? std::filesystem::path(made) : std::filesystem::temp_directory_path();
}

TempDir::~TempDir() {
  std::error_code ec;
  if (path_ != std::filesystem::temp_directory_path()) std::filesystem::remove_all(path_, ec);
}
