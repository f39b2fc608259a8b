// Incremental-search benchmark: one search step of the directory viewer over
// a generated PHONE.DBF with the seven directory tags, through the dataset
// opened shared and read-only as the viewer opens it. A step is what the
// viewer's search box does on a key press: it replaces the range by the
// keys that begin with the new prefix (a number of 1 to 7 digits or a
// surname of 1 to 3 letters; one bound taken as a prefix at both ends),
// which moves to the first record, and reads 25 rows, their fields' texts
// taken as the grid takes them. The same queries run on SQLite (a table
// with matching partial indexes, a prepared statement, the first 25 rows)
// in the same run. Prints the median and 99th percentile of both and their
// ratios, and the floor of the rows alone: the same rows each step showed,
// read with one pread each and nothing else. The three measurements take
// turns over slices of the queries. Steps are timed in processor time of
// the thread (system time included): the machine may be shared, and wall
// time would count the neighbours' turns as well.
//
//   bench_search [records] [steps]      (defaults 1000000 and 4000)
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "dataset/Razuz6oz.h"
#include "platform/codepage.h"
#include "platform/db.h"
#include "tools/mkphone/phonegen.h"

#ifdef DERIDAR_HAVE_SQLITE
#include <sqlite3.h>
#endif

namespace {

using bench::Stats;
using bench::Summarise;
using bench::ThreadMicros;

constexpr int kRows = 25;
constexpr int kNumberLength = 7;
// Steps timed in one go before the turn passes to the next measurement.
constexpr size_t kSlice = 250;

void Append(std::vector<double>& to, const std::vector<double>& times) { to.insert(to.end(), times.begin(), times.end()); }

// The seven directory tags, as the splash screen builds them.
struct TagStep {
  const char* file;
  const char* tag;
  const char* key;
  const char* condition;
};
constexpr TagStep kTags[] = {
    {"TELF.CDX", "TELF", "FIO", "tip=1"},   {"TELN.CDX", "TELN", "NUM", "tip=1"},
    {"TELA.CDX", "TELA", "ADR", "tip=1"},   {"PREDN.CDX", "PREDN", "NUM", "tip=2"},
    {"PREDF.CDX", "PREDF", "FIO", "tip=2"}, {"TAXN.CDX", "TAXN", "NUM", "tip=3"},
    {"TAXA.CDX", "TAXA", "ADR", "tip=3"},
};

// One query: the prefix as the viewer passes it (code page 1251), and the
// bounds of the same keys in the table's code page 866 for SQLite (the
// prefix, and the prefix followed by the highest byte).
struct Query {
  std::string prefix;
  std::string oemLow, oemHigh;
};

std::string Cp1251(const std::string& utf8) { return platform::FromUtf8(utf8, platform::CodePage::Cp1251); }
std::string Cp866(const std::string& utf8) { return platform::FromUtf8(utf8, platform::CodePage::Cp866); }

// Random 1- to 7-digit number prefixes (the first digit 2..9, as numbers
// start).
std::vector<Query> NumberQueries(std::mt19937& random, int count) {
  std::vector<Query> queries;
  for (int i = 0; i < count; ++i) {
    const int length = 1 + static_cast<int>(random() % kNumberLength);
    std::string prefix(1, static_cast<char>('2' + random() % 8));
    while (static_cast<int>(prefix.size()) < length) prefix += static_cast<char>('0' + random() % 10);
    Query q;
    q.prefix = q.oemLow = prefix;
    q.oemHigh = prefix + '\xFF';
    queries.push_back(q);
  }
  return queries;
}

// Random 1- to 3-letter prefixes of the city subscribers' surnames in the
// table.
std::vector<Query> SurnameQueries(const std::vector<std::string>& surnames, std::mt19937& random, int count) {
  std::vector<Query> queries;
  for (int i = 0; i < count; ++i) {
    const std::string& name = surnames[random() % surnames.size()];
    // UTF-8 Cyrillic letters take two bytes each.
    const size_t letters = 1 + random() % 3;
    const std::string prefix = name.substr(0, std::min(name.size(), 2 * letters));
    Query q;
    q.prefix = Cp1251(prefix);
    q.oemLow = Cp866(prefix);
    q.oemHigh = q.oemLow + '\xFF';
    queries.push_back(q);
  }
  return queries;
}

// Search steps through the dataset on one tag; returns each step's time.
// With `rows`, the record numbers each step read are kept there too.
// The table stays in the tag's order (opened by the first call for a tag)
// from one call to the next, as it does while the user types.
std::vector<double> DataSetSteps(TDeridarDataSet& table, const TagStep& tag, std::span<const Query> queries,
                                 uint64_t& checksum, std::vector<std::vector<int32_t>>* rows = nullptr) {
  if (table.IndexName() != tag.tag) {
    table.OpenIndexes({}, {});
    table.OpenIndexes(tag.file, tag.tag);
  }
  platform::TField* fields[] = {table.FieldByName("NUM"), table.FieldByName("FIO"), table.FieldByName("ADR")};
  // Each field's text goes into one reused buffer, as the grid reads a row.
  std::string text;
  std::vector<double> times;
  times.reserve(queries.size());
  for (const Query& q : queries) {
    const double start = ThreadMicros();
    // As the viewer's data module narrows to a prefix (TDM::SetKeyPrefix).
    const std::string key = table.TranslateText(q.prefix, true);
    table.SetRangeEx(key, key, true, true, true);
    if (rows) rows->emplace_back();
    // 25 rows and no more: no move past the last one, as LIMIT does not.
    for (int row = 0; !table.Eof();) {
      for (platform::TField* field : fields) {
        field->ReadDisplayText(text);
        checksum += text.size();
      }
      if (rows) rows->back().push_back(table.ActiveRecordNumber());
      if (++row == kRows) break;
      table.Next();
    }
    times.push_back(ThreadMicros() - start);
  }
  table.SetRange({}, {});
  return times;
}

// The floor of any step that reads its rows from the table file: the same
// rows a step showed, each read with one pread and nothing else.
std::vector<double> RawReadSteps(const std::string& path, std::span<const std::vector<int32_t>> rows,
                                 uint64_t& checksum) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) std::exit(1);
  uint8_t header[12];
  if (pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) std::exit(1);
  const off_t headerLength = header[8] | header[9] << 8;
  const size_t recordLength = static_cast<size_t>(header[10] | header[11] << 8);
  std::vector<char> record(recordLength);
  std::vector<double> times;
  times.reserve(rows.size());
  for (const std::vector<int32_t>& step : rows) {
    const double start = ThreadMicros();
    for (const int32_t n : step) {
      const off_t at = headerLength + static_cast<off_t>(n - 1) * static_cast<off_t>(recordLength);
      checksum += static_cast<uint64_t>(pread(fd, record.data(), recordLength, at));
    }
    times.push_back(ThreadMicros() - start);
  }
  close(fd);
  return times;
}

#ifdef DERIDAR_HAVE_SQLITE
void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", error ? error : "?");
    std::exit(1);
  }
}

// The table in an SQLite database file beside PHONE.DBF, with the partial
// indexes of the two benchmarked orders; texts keep their 866 bytes and
// compare bytewise, trailing blanks removed as the index keys have them.
sqlite3* LoadSqlite(const std::filesystem::path& dir, const std::vector<phonegen::PhoneRecord>& records) {
  sqlite3* db = nullptr;
  if (sqlite3_open((dir / "phone.sqlite").string().c_str(), &db) != SQLITE_OK) std::exit(1);
  Exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
  Exec(db, "CREATE TABLE phone(num TEXT, fio TEXT, adr TEXT, tip INTEGER)");
  Exec(db, "BEGIN");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO phone VALUES(?1, ?2, ?3, ?4)", -1, &insert, nullptr);
  for (const phonegen::PhoneRecord& r : records) {
    if (r.deleted) continue;
    sqlite3_bind_text(insert, 1, r.num.data(), static_cast<int>(r.num.size()), SQLITE_STATIC);
    sqlite3_bind_text(insert, 2, r.fio.data(), static_cast<int>(r.fio.size()), SQLITE_STATIC);
    sqlite3_bind_text(insert, 3, r.adr.data(), static_cast<int>(r.adr.size()), SQLITE_STATIC);
    sqlite3_bind_int(insert, 4, r.tip);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Exec(db, "COMMIT");
  Exec(db, "CREATE INDEX teln ON phone(num) WHERE tip=1");
  Exec(db, "CREATE INDEX telf ON phone(fio) WHERE tip=1");
  Exec(db, "ANALYZE");
  return db;
}

std::vector<double> SqliteSteps(sqlite3* db, const char* column, std::span<const Query> queries,
                                uint64_t& checksum) {
  const std::string sql = std::string("SELECT num, fio, adr FROM phone WHERE tip=1 AND ") + column +
                          " >= ?1 AND " + column + " <= ?2 ORDER BY " + column + " LIMIT " +
                          std::to_string(kRows);
  sqlite3_stmt* select = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &select, nullptr) != SQLITE_OK) std::exit(1);
  std::vector<double> times;
  times.reserve(queries.size());
  for (const Query& q : queries) {
    const double start = ThreadMicros();
    sqlite3_reset(select);
    sqlite3_bind_text(select, 1, q.oemLow.data(), static_cast<int>(q.oemLow.size()), SQLITE_STATIC);
    sqlite3_bind_text(select, 2, q.oemHigh.data(), static_cast<int>(q.oemHigh.size()), SQLITE_STATIC);
    while (sqlite3_step(select) == SQLITE_ROW)
      for (int c = 0; c < 3; ++c) checksum += static_cast<uint64_t>(sqlite3_column_bytes(select, c));
    times.push_back(ThreadMicros() - start);
  }
  sqlite3_finalize(select);
  return times;
}
#endif

void Report(const char* what, const Stats& engine, const Stats* sqlite) {
  std::printf("%-8s dataset: median %7.1f us, p99 %7.1f us", what, engine.median, engine.p99);
  if (sqlite)
    std::printf(" | sqlite: median %7.1f us, p99 %7.1f us | sqlite/dataset median %.2fx, p99 %.2fx",
                sqlite->median, sqlite->p99, sqlite->median / engine.median, sqlite->p99 / engine.p99);
  std::printf("\n");
}

// The raw reads of the same rows: what any design reading its rows from
// the file pays at least, and how far from 2x faster than SQLite that is.
void ReportFloor(const char* what, const Stats& floor, const Stats& engine, const Stats* sqlite) {
  std::printf("%-8s rows read alone: median %7.1f us (dataset/floor %.2fx)", what, floor.median,
              engine.median / floor.median);
  if (sqlite) std::printf(" | sqlite/floor median %.2fx", sqlite->median / floor.median);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t count = argc > 1 ? static_cast<uint32_t>(std::atol(argv[1])) : 1000000;
  const int steps = argc > 2 ? std::atoi(argv[2]) : 4000;
  const bench::PhoneFolder folder(count, "deridar-search");
  const std::filesystem::path& dir = folder.Path();

  // The same records again for the SQLite table and the surname prefixes.
  std::vector<phonegen::PhoneRecord> records;
  records.reserve(count);
  phonegen::PhoneGenerator generator(1);
  std::vector<std::string> surnames;
  for (uint32_t i = 0; i < count; ++i) {
    records.push_back(generator.Next());
    if (records.back().tip == 1 && surnames.size() < 10000)
      surnames.push_back(platform::ToUtf8(records.back().fio, platform::CodePage::Cp866));
  }

  TDeridarDataSet table;
  table.SetDatabaseName(dir.string());
  table.SetTableName("PHONE.DBF");
  table.SetExclusive(false);
  table.SetReadOnly(true);
  table.SetTranslateASCII(true);
  table.SetUseDeleted(false);
  table.Open();
  for (const TagStep& t : kTags) table.IndexOn(t.file, t.tag, t.key, t.condition, 1, 0);
  const auto built = std::chrono::steady_clock::now();
#ifdef DERIDAR_HAVE_SQLITE
  sqlite3* db = LoadSqlite(dir, records);
#endif
  // The viewer meets index files built earlier, not seconds ago: while a
  // shared file's modification time is that recent, a further write could
  // leave it unchanged, and every step reads the file's version counter.
  std::this_thread::sleep_until(built + std::chrono::seconds(3));

  std::mt19937 random(12345);
  const std::vector<Query> numbers = NumberQueries(random, steps);
  const std::vector<Query> names = SurnameQueries(surnames, random, steps);
  const std::string dbf = folder.Table();
  uint64_t checksum = 0;
  std::printf("records %u, steps per order %d, rows read per step %d\n", count, steps, kRows);

  struct Order {
    const char* what;
    const TagStep& tag;
    const char* column;
    const std::vector<Query>& queries;
  };
  for (const Order& order : {Order{"number", kTags[1], "num", numbers}, Order{"surname", kTags[0], "fio", names}}) {
    // A first pass warms the page cache (and SQLite's) and notes the rows
    // each step shows. Then the steps are timed in slices, the dataset's,
    // the floor's and SQLite's slices of the same queries taking turns, so
    // that a change in the machine's load during the run falls on all
    // three alike.
    std::vector<std::vector<int32_t>> rows;
    DataSetSteps(table, order.tag, order.queries, checksum, &rows);
    std::vector<double> engine, floor;
#ifdef DERIDAR_HAVE_SQLITE
    SqliteSteps(db, order.column, order.queries, checksum);
    std::vector<double> sqlite;
#endif
    const std::span<const Query> queries(order.queries);
    for (size_t from = 0; from < queries.size(); from += kSlice) {
      const size_t length = std::min(kSlice, queries.size() - from);
      Append(engine, DataSetSteps(table, order.tag, queries.subspan(from, length), checksum));
      Append(floor, RawReadSteps(dbf, std::span(rows).subspan(from, length), checksum));
#ifdef DERIDAR_HAVE_SQLITE
      Append(sqlite, SqliteSteps(db, order.column, queries.subspan(from, length), checksum));
#endif
    }
#ifdef DERIDAR_HAVE_SQLITE
    const Stats sqliteStats = Summarise(sqlite);
    const Stats* compared = &sqliteStats;
#else
    const Stats* compared = nullptr;
#endif
    const Stats engineStats = Summarise(engine);
    Report(order.what, engineStats, compared);
    ReportFloor(order.what, Summarise(floor), engineStats, compared);
  }
  table.Close();
#ifdef DERIDAR_HAVE_SQLITE
  sqlite3_close(db);
  std::printf("targets: dataset/floor median <= 1.3x and sqlite/dataset median > 1x on both orders\n");
#else
  std::printf("(built without SQLite: no comparison)\n");
#endif
  std::printf("(checksum %llu)\n", static_cast<unsigned long long>(checksum));
  return 0;
}
