// The independent xBase implementations that interop tests run as peers,
// through the scripts in tests/interop: the Python module of python3-dbf
// (with python3-dbfread for the header flags) and the Perl module of
// libdbd-xbase-perl. Texts travel to and from them as hex lines. Tables a
// peer writes in each of its layouts are the parameter of PeerTableTest.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
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

// Runs the Perl program `script` (an index walk through the Perl peer's
// index reader, written to the folder) with `args`; `lines` gets what it
// printed, both streams, line by line. False when perl or the module is
// missing (the program exits with 2 when it cannot load the module);
// another failure is a test failure showing the output.
bool RunPerlWalk(const TempDir& dir, const std::string& script, const std::vector<std::string>& args,
                 std::vector<std::string>& lines);

// A Perl walk over one tag of a compound index file: arguments file, tag
// name and key type letter; prints the record numbers in the peer's order.
extern const char* const kPerlCdxTagWalk;

std::string Hex(const std::string& bytes);
std::string Unhex(const std::string& hex);
// Writes texts for a peer, one hex line each; returns the file's path.
std::string WriteTexts(const TempDir& dir, const std::string& name, const std::vector<std::string>& texts);
// The hex lines of a peer's output as texts.
std::vector<std::string> ParseTexts(const std::string& output);

// A table layout a peer writes: the writer, the peer's name for the layout
// and the table version byte it gives.
struct PeerLayout {
  Peer writer;
  const char* name;
  uint8_t version;
};
std::ostream& operator<<(std::ostream& os, const PeerLayout& layout);

// Every layout some peer writes tables with memo fields in.
std::vector<PeerLayout> PeerMemoLayouts();
// A test's name for a layout ("Perl_db4").
std::string PeerLayoutName(const ::testing::TestParamInfo<PeerLayout>& info);
// Peers that read tables of `version` (the Python module has no dBase IV
// tables).
std::vector<Peer> PeerReadersOf(uint8_t version);

// A table written by the parameter's peer in its layout, in a folder of the
// test's own: field 1 ID, field 2 the memo NOTES.
class PeerTableTest : public ::testing::TestWithParam<PeerLayout> {
 protected:
  // The peer creates the table with one record a text, its memo the text.
  ::testing::AssertionResult PeerCreates(const std::vector<std::string>& texts);
  // Every memo text of the table through our field layer.
  std::vector<std::string> OurMemos() const;
  // Stores `texts` as the memos of the table's records through our field
  // layer, replacing what was there (in place, moved or freed as the layout
  // decides; an empty text leaves no memo).
  void WriteOurMemos(const std::vector<std::string>& texts) const;

  TempDir dir_;
  std::string table_ = dir_.File("peer.dbf");
};
