// Runs one of the built command-line tools (build/bin/<name>) with given
// arguments and collects its exit code, standard output and standard error.
#pragma once

#include <string>
#include <vector>

struct ToolResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Full path of a built tool.
std::string ToolPath(const std::string& name);
ToolResult RunTool(const std::string& name, const std::vector<std::string>& args);
// Runs deridar with `args`; returns its exit code and fills `shown` with its
// standard output followed by its standard error.
int RunDeridar(const std::vector<std::string>& args, std::string& shown);
// Standard output of a deridar run that must succeed silently (a test
// failure otherwise).
std::string Deridar(const std::vector<std::string>& args);
