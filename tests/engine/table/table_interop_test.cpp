// Table files shared with the interop peers (support/peers.h): the fields of
// the tables they write are the fields found here, a table whose memos are
// all blank is read without its memo file, and the header we write back
// (update date, record count, the structural-index flag written when the
// table's structural index file is created) reads the same in the peers.
// The peers themselves never look at the flag byte: python3-dbfread reports
// it. A missing peer fails the tests with the package to install.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "engine/table/gs6_dbsy.h"
#include "platform/file.h"
#include "platform/system.h"
#include "support/memo_files.h"
#include "support/peers.h"
#include "support/temp_dir.h"

namespace {

// The "key value" lines a peer prints for the header.
std::string HeaderValue(const std::string& output, const std::string& key) {
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, key.size() + 1, key + " ") == 0) return line.substr(key.size() + 1);
  return "(no " + key + ")";
}

// Our field names, comma-separated.
std::string OurFields(const GSO_dBaseFld& table) {
  std::string names;
  for (int32_t n = 1; n <= table.FieldCount(); ++n) {
    if (n > 1) names += ",";
    names += reinterpret_cast<const char*>(table.FieldDescriptor(n));
  }
  return names;
}

class TableInterop : public PeerTableTest {
 protected:
  std::string MemoPath() const {
    const uint8_t v = GetParam().version;
    return platform::ExistingFileName(dir_.File(v == 0x30 || v == 0xF5 ? "peer.fpt" : "peer.dbt"));
  }
};

}  // namespace

TEST_P(TableInterop, AllBlankMemosAreReadWithoutTheMemoFile) {
  ASSERT_TRUE(PeerCreates({"", "", ""}));
  if (GetParam().writer == Peer::Python) {
    // The Python module keeps even empty texts in blocks of their own: the
    // memos are emptied here first, which leaves blank references.
    WriteOurMemos({"", "", ""});
  }
  ASSERT_TRUE(platform::RemoveFile(MemoPath()));
  GSO_dBaseFld table(table_, "", false, false);
  table.OpenTable();
  ASSERT_EQ(table.RecordCount(), 3);
  for (TRecNo n = 1; n <= 3; ++n) {
    table.ReadRecord(n);
    EXPECT_EQ(table.ReadMemo(2), "") << n;
    EXPECT_EQ(table.GetDisplayText(2), "") << n;
  }
}

TEST_P(TableInterop, PeersReadTheFieldsAndTheHeaderWeWrite) {
  const std::vector<std::string> texts = {"first", CyrillicText(600, 1), "third"};
  ASSERT_TRUE(PeerCreates(texts));
  std::string header;
  ASSERT_TRUE(RunPeer(GetParam().writer, {"header", table_}, dir_, &header));
  {
    GSO_dBHandler table(table_, "", false, true);
    table.OpenTable();
    // Only the fields the peer declared, whatever follows the descriptors.
    EXPECT_EQ(OurFields(table), HeaderValue(header, "fields"));
    // The structural index: named like the table.
    ASSERT_EQ(table.IndexOn(dir_.File("peer.cdx"), "ID", "ID", "", 0, 0), 0);
    table.ReadRecord(1);
    table.WriteMemo(2, "");  // no memo left: nothing for readers to find
    table.WriteRecord(1);
  }
  const std::vector<std::string> expected = {"", texts[1], texts[2]};
  const std::string year = std::to_string(platform::Now().year);
  for (Peer reader : PeerReadersOf(GetParam().version)) {
    SCOPED_TRACE(PeerName(reader));
    std::string ours;
    ASSERT_TRUE(RunPeer(reader, {"header", table_}, dir_, &ours));
    EXPECT_EQ(HeaderValue(ours, "year"), year);
    EXPECT_EQ(HeaderValue(ours, "records"), "3");
    EXPECT_EQ(HeaderValue(ours, "fields"), HeaderValue(header, "fields"));
    if (reader == Peer::Python) {
      EXPECT_EQ(HeaderValue(ours, "structural"), "1");
    }
    std::string read;
    ASSERT_TRUE(RunPeer(reader, {"read", table_}, dir_, &read));
    EXPECT_EQ(ParseTexts(read), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Peers, TableInterop, ::testing::ValuesIn(PeerMemoLayouts()), PeerLayoutName);
