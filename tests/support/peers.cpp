// Running the interop peers (see peers.h).
#include "support/peers.h"

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/file.h"
#include "support/temp_dir.h"

namespace {

std::filesystem::path InteropDir() {
  // This file lives in tests/support; the scripts in tests/interop.
  return std::filesystem::path(__FILE__).parent_path().parent_path() / "interop";
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

}  // namespace

const char* PeerName(Peer peer) { return peer == Peer::Python ? "python3-dbf" : "libdbd-xbase-perl"; }

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return out;
}

::testing::AssertionResult RunPeer(Peer peer, const std::vector<std::string>& args, const TempDir& dir,
                                   std::string* output) {
  std::string command;
  if (peer == Peer::Python) {
    // The Debian packages install the modules for the system interpreter.
    std::string python = platform::FileExists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    command = python + " " + Quoted((InteropDir() / "peer_python.py").string());
  } else {
    command = "perl " + Quoted((InteropDir() / "peer_perl.pl").string());
  }
  for (const std::string& arg : args) command += " " + Quoted(arg);
  std::string errors = dir.File("peer_errors.txt");
  command += " 2>" + Quoted(errors);

  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return ::testing::AssertionFailure() << "cannot run " << command;
  std::string out;
  char buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
  int status = pclose(pipe);
  std::ifstream errorFile(errors);
  std::stringstream errorText;
  errorText << errorFile.rdbuf();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    bool missing = WIFEXITED(status) && WEXITSTATUS(status) == 2;
    return ::testing::AssertionFailure()
           << (missing ? "peer not installed: " : "peer failed: ") << PeerName(peer) << " (" << command
           << "): " << errorText.str()
           << (missing ? " -- scripts/bootstrap.sh installs python3-dbf, python3-dbfread and libdbd-xbase-perl"
                       : "");
  }
  if (output != nullptr) *output = out;
  return ::testing::AssertionSuccess();
}

std::string WriteTexts(const TempDir& dir, const std::string& name, const std::vector<std::string>& texts) {
  std::string path = dir.File(name);
  std::ofstream out(path);
  for (const std::string& text : texts) out << Hex(text) << "\n";
  return path;
}

std::vector<std::string> ParseTexts(const std::string& output) {
  std::vector<std::string> texts;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) texts.push_back(Unhex(line));
  return texts;
}
