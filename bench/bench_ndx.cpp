// NDX benchmark over a generated PHONE.DBF.
//
// Build: the seven directory keys (NUM, FIO, ADR, NUM, FIO, NUM, ADR: an NDX
// file holds no FOR condition, so each covers all records) built as seven
// NDX files, against a floor that reads the table once per key and
// std::sorts that key's pairs. Best processor time of three runs.
//
// Search: one incremental-search step through the dataset opened shared and
// read-only as the viewer opens it (clear the range, set the range of a
// prefix, move to the first row, read 25 rows) on an NDX order and on a CDX
// tag of the same key over the same records. Median and 99th percentile of
// the steps' processor time, and the ratio NDX / CDX.
//
//   bench_ndx [records] [steps]      (defaults 1000000 and 4000)
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "dataset/Razuz6oz.h"
#include "engine/index/gs6_ndx.h"
#include "engine/table/gs6_dbsy.h"
#include "platform/codepage.h"
#include "platform/db.h"
#include "tools/mkphone/phonegen.h"

namespace {

using bench::CpuSeconds;
using bench::Stats;
using bench::Summarise;
using bench::ThreadMicros;

struct Key {
  const char* file;
  const char* key;
  int offset;
  int length;
};
constexpr Key kKeys[] = {{"TELN.NDX", "NUM", 1, 7},   {"TELF.NDX", "FIO", 8, 35},  {"TELA.NDX", "ADR", 43, 35},
                         {"PREDN.NDX", "NUM", 1, 7},  {"PREDF.NDX", "FIO", 8, 35}, {"TAXN.NDX", "NUM", 1, 7},
                         {"TAXA.NDX", "ADR", 43, 35}};

// The floor: one read of the table per key and a sort of its pairs.
double Floor(const std::string& path) {
  const double start = CpuSeconds();
  for (const Key& k : kKeys) {
    FILE* in = std::fopen(path.c_str(), "rb");
    std::fseek(in, phonegen::kHeaderLength, SEEK_SET);
    std::vector<std::pair<std::string, int32_t>> v;
    std::vector<char> chunk(static_cast<size_t>(phonegen::kRecordLength) * 4096);
    int32_t recNo = 0;
    size_t got;
    while ((got = std::fread(chunk.data(), phonegen::kRecordLength, 4096, in)) > 0) {
      for (size_t i = 0; i < got; ++i) {
        std::string_view key(chunk.data() + i * phonegen::kRecordLength + k.offset, static_cast<size_t>(k.length));
        while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
        v.emplace_back(std::string(key), ++recNo);
      }
    }
    std::fclose(in);
    std::sort(v.begin(), v.end());
  }
  return CpuSeconds() - start;
}

double Engine(const std::filesystem::path& dir) {
  GSO_dBHandler table((dir / "PHONE.DBF").string(), "", false, true);
  table.OpenTable();
  const double start = CpuSeconds();
  for (const Key& k : kKeys) {
    GSobjNDXFile file(&table, (dir / k.file).string(), true, true, true, false);
    if (!file.AddTag("", k.key, false, true, "")) {
      std::fprintf(stderr, "building %s failed\n", k.file);
      std::exit(1);
    }
  }
  return CpuSeconds() - start;
}

struct Query {
  std::string low, high;
};

// Search steps on one order of the dataset; each step's processor time.
std::vector<double> Steps(TDeridarDataSet& table, const char* files, const char* order,
                          const std::vector<Query>& queries, uint64_t& checksum) {
  table.OpenIndexes({}, {});
  table.OpenIndexes(files, order);
  table.MoveFirst();
  platform::TField* fields[] = {table.FieldByName("NUM"), table.FieldByName("FIO"), table.FieldByName("ADR")};
  std::vector<double> times;
  times.reserve(queries.size());
  for (const Query& q : queries) {
    const double start = ThreadMicros();
    table.SetRange({}, {});
    table.SetRange(q.low, q.high);
    table.MoveFirst();
    for (int row = 0; !table.Eof();) {
      for (platform::TField* field : fields) checksum += field->AsString().size();
      if (++row == 25) break;
      table.Next();
    }
    times.push_back(ThreadMicros() - start);
  }
  table.SetRange({}, {});
  return times;
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t count = argc > 1 ? static_cast<uint32_t>(std::atol(argv[1])) : 1000000;
  const int steps = argc > 2 ? std::atoi(argv[2]) : 4000;
  const bench::PhoneFolder folder(count, "deridar-ndx");
  const std::filesystem::path& dir = folder.Path();
  const std::string path = folder.Table();

  double floor = 1e9, engine = 1e9;
  for (int round = 0; round < 3; ++round) {
    floor = std::min(floor, Floor(path));
    engine = std::min(engine, Engine(dir));
  }
  std::printf("records %u, seven NDX files over all records, best of 3 runs\n", count);
  std::printf("floor  (read + std::sort per key): %8.3f s cpu\n", floor);
  std::printf("engine (seven NDX files built):    %8.3f s cpu\n", engine);
  std::printf("ratio engine / floor:              %8.2f   (target <= 1.5)\n", engine / floor);

  // Queries: number prefixes filled to six digits, surname prefixes of one
  // to three letters with the ceiling "ЯЯ".
  std::vector<std::string> surnames;
  phonegen::PhoneGenerator generator(1);
  for (uint32_t i = 0; i < count && surnames.size() < 10000; ++i)
    surnames.push_back(platform::ToUtf8(generator.Next().fio, platform::CodePage::Cp866));
  std::mt19937 random(12345);
  std::vector<Query> numbers, names;
  auto cp1251 = [](const std::string& utf8) { return platform::FromUtf8(utf8, platform::CodePage::Cp1251); };
  for (int i = 0; i < steps; ++i) {
    const int length = 1 + static_cast<int>(random() % 6);
    std::string prefix(1, static_cast<char>('2' + random() % 8));
    while (static_cast<int>(prefix.size()) < length) prefix += static_cast<char>('0' + random() % 10);
    numbers.push_back({prefix + std::string(6 - prefix.size(), '0'), prefix + std::string(6 - prefix.size(), '9')});
    const std::string& name = surnames[random() % surnames.size()];
    const std::string p = name.substr(0, std::min(name.size(), 2 * (1 + random() % 3)));
    names.push_back({cp1251(p), cp1251(p + "ЯЯ")});
  }

  TDeridarDataSet table;
  table.SetDatabaseName(dir.string());
  table.SetTableName("PHONE.DBF");
  table.SetExclusive(false);
  table.SetReadOnly(true);
  table.SetTranslateASCII(true);
  table.Open();
  table.IndexOn("NUM.CDX", "NUM", "NUM", "", 1, 0);
  table.IndexOn("FIO.CDX", "FIO", "FIO", "", 1, 0);
  // A shared NDX file's nodes are kept between steps only once its
  // modification time has settled, as it has for files not just written.
  sleep(4);
  uint64_t checksum = 0;
  struct {
    const char* what;
    const std::vector<Query>& queries;
    const char* ndx;
    const char* ndxOrder;
    const char* cdx;
    const char* cdxOrder;
  } runs[] = {{"number", numbers, "TELN.NDX", "TELN", "NUM.CDX", "NUM"},
              {"surname", names, "TELF.NDX", "TELF", "FIO.CDX", "FIO"}};
  std::printf("search steps %d per order, 25 rows each, dataset shared and read-only\n", steps);
  for (const auto& r : runs) {
    // A first pass of each warms the page cache; the second counts.
    Steps(table, r.ndx, r.ndxOrder, r.queries, checksum);
    const Stats ndx = Summarise(Steps(table, r.ndx, r.ndxOrder, r.queries, checksum));
    Steps(table, r.cdx, r.cdxOrder, r.queries, checksum);
    const Stats cdx = Summarise(Steps(table, r.cdx, r.cdxOrder, r.queries, checksum));
    std::printf("%-8s NDX median %7.1f us, p99 %7.1f us | CDX median %7.1f us, p99 %7.1f us | "
                "NDX/CDX median %.2fx (target <= 1.2)\n",
                r.what, ndx.median, ndx.p99, cdx.median, cdx.p99, ndx.median / cdx.median);
  }
  std::printf("(checksum %llu)\n", static_cast<unsigned long long>(checksum));
  table.Close();
  return 0;
}
