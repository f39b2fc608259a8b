// Scrolling the grid model through a 1,000,000-record PHONE.DBF in record
// order against ReadRecord(GotoNext) alone over the same table in the same
// run, measured two ways: every row fetched through the model (fetchMore to
// the end), and every row fetched plus every cell's display text read, as a
// grid scrolled to the end would paint them. Prints records per second of
// each and their ratios to the engine (target: the model within 2x).
//
// Then the grid's count of the City order (number index, FOR TIP=1, about
// 80% of the records) and of a number range inside it: CountRecords in
// pages of 64, as the grid model asks at start-up and after each search,
// on a fresh dataset, whose first count also reads the table's
// deleted-record flags. The baseline is the same keys walked one by one
// (MoveTo(GotoNext)), which is what a count without the leaf headers reads.
//
//   bench_model [records] [--count]   (default 1000000; --count: the counts only)
#include <stdlib.h>

#include <QCoreApplication>
#include <QModelIndex>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <string>

#include "bench_support.h"
#include "dataset/Razuz6oz.h"
#include "engine/index/gs6_indx.h"
#include "engine/table/gs6_dbsy.h"
#include "platform/db.h"
#include "ui/dbgridmodel.h"

namespace {

using bench::Clock;
using bench::EngineRead;  // the baseline
using bench::Seconds;

// The model over the dataset in record order, fetched to the end; with
// `cells`, each new row's cells read as the view would paint them.
double ModelScroll(const std::string& folder, bool cells, uint64_t& checksum, int64_t& records) {
  auto start = Clock::now();
  TDeridarDataSet table;
  table.SetDatabaseName(folder);
  table.SetTableName("PHONE.DBF");
  table.SetReadOnly(true);
  table.Open();
  platform::TDataSource source(&table);
  TDBGridModel model;
  model.SetDataSource(&source);
  const int columns = model.columnCount();
  int shown = 0;
  while (model.canFetchMore(QModelIndex())) {
    model.fetchMore(QModelIndex());
    const int rows = model.rowCount();
    if (!cells) {
      shown = rows;
      continue;
    }
    for (; shown < rows; ++shown)
      for (int c = 0; c < columns; ++c) {
        const QString text = model.data(model.index(shown, c)).toString();
        checksum += static_cast<uint64_t>(text.size());
      }
  }
  records = model.rowCount();
  table.Close();
  return Seconds(start);
}

constexpr const char* kCityIndex = "TELN.CDX";
constexpr const char* kCityTag = "TELN";
constexpr int32_t kPageRows = 64;

// What one count is taken on: the City order, or numbers `low`.. .
struct CountCase {
  const char* what;
  const char* low;
};
constexpr CountCase kCountCases[] = {{"City order", ""}, {"City numbers 2..", "2"}, {"City numbers 55..", "55"}};
constexpr int kCountCaseCount = sizeof kCountCases / sizeof kCountCases[0];

// The cases counted one after the other through one freshly opened
// dataset, as the viewer counts its page and then each search: the first
// count also reads the table's deleted-record flags, the later ones find
// them read. The time of each count alone.
void CountRows(const std::string& folder, double (&seconds)[kCountCaseCount], int64_t (&rows)[kCountCaseCount]) {
  TDeridarDataSet table;
  table.SetDatabaseName(folder);
  table.SetTableName("PHONE.DBF");
  table.SetReadOnly(true);
  table.Open();
  table.OpenIndexes(kCityIndex, kCityTag);
  std::vector<platform::TBookmark> ends;
  for (int i = 0; i < kCountCaseCount; ++i) {
    table.SetRangeEx(kCountCases[i].low, kCountCases[i].low, true, true, true);
    const auto start = Clock::now();
    rows[i] = table.CountRecords(kPageRows, ends);
    seconds[i] = Seconds(start);
  }
  table.Close();
}

// The same keys walked one by one through the tag.
double WalkKeys(const std::string& path, const std::string& low, int64_t& keys) {
  GSO_dBHandler table(path, "", true, false);
  table.OpenTable();
  table.OpenIndexList(kCityIndex, kCityTag);
  if (!low.empty()) table.SetKeyRange(low, low, true, true, true);
  GSobjIndexTag* tag = table.CurrentTag();
  const auto start = Clock::now();
  keys = 0;
  for (TRecNo n = tag->MoveTo(GotoFirst); n > 0; n = tag->MoveTo(GotoNext)) ++keys;
  return Seconds(start);
}

void CountBench(const std::string& dir, const std::string& path) {
  {
    TDeridarDataSet table;
    table.SetDatabaseName(dir);
    table.SetTableName("PHONE.DBF");
    table.Open();
    table.IndexOn(kCityIndex, kCityTag, "NUM", "TIP=1", 1, 0);
    table.Close();
  }
  double count[kCountCaseCount], walk[kCountCaseCount];
  int64_t rows[kCountCaseCount], keys[kCountCaseCount];
  std::fill(std::begin(count), std::end(count), 1e9);
  std::fill(std::begin(walk), std::end(walk), 1e9);
  for (int round = 0; round < 5; ++round) {
    double seconds[kCountCaseCount];
    CountRows(dir, seconds, rows);
    for (int i = 0; i < kCountCaseCount; ++i) {
      count[i] = std::min(count[i], seconds[i]);
      walk[i] = std::min(walk[i], WalkKeys(path, kCountCases[i].low, keys[i]));
    }
  }
  for (int i = 0; i < kCountCaseCount; ++i)
    std::printf("%-18s rows %7lld (keys %7lld): CountRecords %6.2f ms, keys walked %6.2f ms (%.1fx)%s\n",
                kCountCases[i].what, static_cast<long long>(rows[i]), static_cast<long long>(keys[i]),
                count[i] * 1e3, walk[i] * 1e3, walk[i] / count[i],
                i == 0 ? "  [deleted flags read]" : "");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  uint32_t count = argc > 1 ? static_cast<uint32_t>(std::atol(argv[1])) : 1000000;
  const bench::PhoneFolder folder(count, "deridar-bench");
  const std::string path = folder.Table();
  const std::string dir = folder.Path().string();

  if (argc > 2 && std::string(argv[2]) == "--count") {
    CountBench(dir, path);
    return 0;
  }
  uint64_t sink = 0;
  int64_t engineRecords = 0, rowsRecords = 0, cellsRecords = 0;
  double engine = 1e9, rows = 1e9, cells = 1e9;
  EngineRead(path, sink, engineRecords);  // warm the page cache
  for (int round = 0; round < 5; ++round) {
    engine = std::min(engine, EngineRead(path, sink, engineRecords));
    rows = std::min(rows, ModelScroll(dir, false, sink, rowsRecords));
    cells = std::min(cells, ModelScroll(dir, true, sink, cellsRecords));
  }
  const double engineRate = engineRecords / engine;
  const double rowsRate = rowsRecords / rows;
  const double cellsRate = cellsRecords / cells;
  std::printf("records (engine / model):      %lld / %lld\n", static_cast<long long>(engineRecords),
              static_cast<long long>(cellsRecords));
  std::printf("ReadRecord(GotoNext):          %.4f s, %.0f records/s\n", engine, engineRate);
  std::printf("model, rows fetched:           %.4f s, %.0f records/s\n", rows, rowsRate);
  std::printf("model, rows and cell texts:    %.4f s, %.0f records/s\n", cells, cellsRate);
  std::printf("ratio, rows fetched:           %.2fx slower (target <= 2x)\n", engineRate / rowsRate);
  std::printf("ratio, rows and cell texts:    %.2fx slower (target <= 2x)\n", engineRate / cellsRate);
  std::printf("(checksum %llu)\n", static_cast<unsigned long long>(sink));
  CountBench(dir, path);
  return 0;
}
