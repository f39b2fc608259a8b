// Running built tools from tests (see run_tool.h).
#include "support/run_tool.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "support/temp_dir.h"

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

std::string ToolPath(const std::string& name) { return std::string(DERIDAR_BINARY_DIR) + "/bin/" + name; }

ToolResult RunTool(const std::string& name, const std::vector<std::string>& args) {
  TempDir capture;
  std::string outPath = capture.File("stdout"), errPath = capture.File("stderr");
  std::string program = ToolPath(name);
  std::vector<char*> argv;
  argv.push_back(program.data());
  std::vector<std::string> copies(args);
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);

  ToolResult result;
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0) _exit(127);
    dup2(out, 1);
    dup2(err, 2);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.out = Slurp(outPath);
  result.err = Slurp(errPath);
  return result;
}

int RunDeridar(const std::vector<std::string>& args, std::string& shown) {
  const ToolResult run = RunTool("deridar", args);
  shown = run.out + run.err;
  return run.exitCode;
}

std::string Deridar(const std::vector<std::string>& args) {
  const ToolResult run = RunTool("deridar", args);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(run.err.empty()) << run.err;
  return run.out;
}
