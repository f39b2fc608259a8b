// The two independent xBase implementations tests compare the engine with,
// run as peers through the scripts in tests/interop: the Python module of
// python3-dbf and the Perl module of libdbd-xbase-perl. Texts travel to and
// from them as hex of their bytes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

enum class Peer { Python, Perl };

const char* PeerName(Peer peer);

std::string Hex(const std::string& bytes);
std::string Unhex(const std::string& hex);

// Runs a peer script with `args`; its standard output goes to `output`. A
// failure (and above all a missing peer module) is a failed assertion with
// the peer's own message and the package to install.
::testing::AssertionResult RunPeer(Peer peer, const std::vector<std::string>& args,
                                   const TempDir& dir, std::string* output = nullptr);
