// The independent xBase implementations that interop tests run as peers,
// through the scripts in tests/interop: the Python module of python3-dbf
// (with python3-dbfread for the header flags) and the Perl module of
// libdbd-xbase-perl. Texts travel to and from them as hex lines.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

enum class Peer { Python, Perl };

const char* PeerName(Peer peer);

// Runs a peer script with `args`; its standard output goes to `output`. A
// failure (and above all a missing peer module) is a test failure carrying
// the peer's own message.
::testing::AssertionResult RunPeer(Peer peer, const std::vector<std::string>& args, const TempDir& dir,
                                   std::string* output = nullptr);

std::string Hex(const std::string& bytes);
std::string Unhex(const std::string& hex);
// Writes texts for a peer, one hex line each; returns the file's path.
std::string WriteTexts(const TempDir& dir, const std::string& name, const std::vector<std::string>& texts);
// The hex lines of a peer's output as texts.
std::vector<std::string> ParseTexts(const std::string& output);
