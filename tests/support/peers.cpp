// Running the interop peers (see peers.h).
#include "support/peers.h"

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/table/gs6_dbf_field.h"
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

const char* const kPerlCdxTagWalk = R"(use strict; use warnings;
BEGIN { if (!eval { require XBase; require XBase::Index; 1 }) { exit 2; } }
my ($cdx, $tag, $type) = @ARGV;
my $idx = XBase::Index->new($cdx, 'tag' => $tag, 'type' => $type) or die XBase::Index->errstr;
$idx->prepare_select or die XBase::Index->errstr;
while (my ($key, $rec) = $idx->fetch) { print "$rec\n"; }
)";

bool RunPerlWalk(const TempDir& dir, const std::string& script, const std::vector<std::string>& args,
                 std::vector<std::string>& lines) {
  const std::string path = dir.File("walk.pl");
  std::ofstream(path) << script;
  std::string command = "perl " + Quoted(path);
  for (const std::string& arg : args) command += " " + Quoted(arg);
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return false;
  std::string all;
  char buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) all.append(buffer, got);
  const int status = pclose(pipe);
  lines.clear();
  std::istringstream in(all);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 2 || WEXITSTATUS(status) == 127) return false;
  EXPECT_EQ(WEXITSTATUS(status), 0) << all.substr(0, 2000);
  return true;
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

std::ostream& operator<<(std::ostream& os, const PeerLayout& layout) {
  return os << PeerName(layout.writer) << "/" << layout.name;
}

std::vector<PeerLayout> PeerMemoLayouts() {
  return {{Peer::Python, "db3", 0x83}, {Peer::Python, "fp", 0xF5}, {Peer::Python, "vfp", 0x30},
          {Peer::Perl, "db3", 0x83},   {Peer::Perl, "db4", 0x8B},   {Peer::Perl, "fp", 0xF5}};
}

std::string PeerLayoutName(const ::testing::TestParamInfo<PeerLayout>& info) {
  return std::string(info.param.writer == Peer::Python ? "Python_" : "Perl_") + info.param.name;
}

std::vector<Peer> PeerReadersOf(uint8_t version) {
  if (version == 0x8B) return {Peer::Perl};
  return {Peer::Python, Peer::Perl};
}

::testing::AssertionResult PeerTableTest::PeerCreates(const std::vector<std::string>& texts) {
  const std::string textsFile = WriteTexts(dir_, "create.txt", texts);
  return RunPeer(GetParam().writer, {"create", GetParam().name, table_, textsFile}, dir_);
}

std::vector<std::string> PeerTableTest::OurMemos() const {
  GSO_dBaseFld table(table_, "", false, false);
  table.OpenTable();
  std::vector<std::string> texts;
  for (TRecNo n = 1; n <= table.RecordCount(); ++n) {
    table.ReadRecord(n);
    texts.push_back(table.ReadMemo(2));
  }
  return texts;
}

void PeerTableTest::WriteOurMemos(const std::vector<std::string>& texts) const {
  GSO_dBaseFld table(table_, "", false, true);
  table.OpenTable();
  for (TRecNo n = 1; n <= table.RecordCount(); ++n) {
    table.ReadRecord(n);
    table.WriteMemo(2, texts[static_cast<size_t>(n - 1)]);
    table.WriteRecord(n);
  }
  table.FlushTable();
}
