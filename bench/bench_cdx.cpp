// CDX build benchmark: the seven tags of the telephone directory built over
// a generated PHONE.DBF, against a floor that reads the table once per tag
// and std::sorts that tag's keys, and (when SQLite is present) against
// SQLite building the seven matching partial indexes over the same rows,
// loaded beforehand into an in-memory database. The same seven tags built
// into one MDX file are measured against the CDX build, and a search step
// (a key range of a number prefix, the first record and 24 more) through
// the MDX tag against the same step through the CDX tag, both files opened
// shared and read-only as the viewer opens them. Prints the best times of
// three runs and their ratios.
//
//   bench_cdx [records]       (default 1000000)
#include <algorithm>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#ifdef DERIDAR_HAVE_SQLITE
#include <sqlite3.h>
#endif

#include "engine/index/gs6_cdx.h"
#include "engine/index/gs6_mdx.h"
#include "engine/table/gs6_dbsy.h"

namespace {

constexpr int kNum = 7, kFio = 35, kAdr = 35, kTip = 1;
constexpr int kRecordLength = 1 + kNum + kFio + kAdr + kTip;

void Put16(std::vector<uint8_t>& b, size_t at, unsigned v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

// Writes a dBase III table of `count` directory entries.
void WritePhoneTable(const std::string& path, int32_t count) {
  struct Field {
    const char* name;
    char type;
    int length;
  } fields[] = {{"NUM", 'C', kNum}, {"FIO", 'C', kFio}, {"ADR", 'C', kAdr}, {"TIP", 'N', kTip}};
  const unsigned headerLength = 32 + 32 * 4 + 1;
  std::vector<uint8_t> head(headerLength, 0);
  head[0] = 0x03;
  head[1] = 124;
  head[2] = 1;
  head[3] = 1;
  for (int i = 0; i < 4; ++i) head[4 + i] = static_cast<uint8_t>(static_cast<uint32_t>(count) >> (8 * i));
  Put16(head, 8, headerLength);
  Put16(head, 10, kRecordLength);
  for (int f = 0; f < 4; ++f) {
    uint8_t* d = head.data() + 32 + 32 * f;
    std::memcpy(d, fields[f].name, std::strlen(fields[f].name));
    d[11] = static_cast<uint8_t>(fields[f].type);
    d[16] = static_cast<uint8_t>(fields[f].length);
  }
  head[headerLength - 1] = 0x0D;
  FILE* out = std::fopen(path.c_str(), "wb");
  std::fwrite(head.data(), 1, head.size(), out);
  const char* surnames[] = {"IVANOV", "PETROV", "SIDOROV", "KUZNETSOV", "SMIRNOV", "POPOV", "VASILYEV",
                            "SOKOLOV", "MIKHAILOV", "NOVIKOV", "FEDOROV", "MOROZOV"};
  const char* streets[] = {"LENINA", "MIRA", "SADOVAYA", "GAGARINA", "PUSHKINA", "SOVETSKAYA"};
  std::vector<char> record(kRecordLength);
  uint64_t state = 88172645463325252ull;
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (int32_t i = 0; i < count; ++i) {
    std::memset(record.data(), ' ', record.size());
    char text[64];
    std::snprintf(text, sizeof text, "%07u", static_cast<unsigned>(2000000 + next() % 7000000));
    std::memcpy(&record[1], text, kNum);
    int n = std::snprintf(text, sizeof text, "%s %c.%c.", surnames[next() % 12],
                          static_cast<char>('A' + next() % 26), static_cast<char>('A' + next() % 26));
    std::memcpy(&record[1 + kNum], text, static_cast<size_t>(n));
    n = std::snprintf(text, sizeof text, "%s %u-%u", streets[next() % 6], static_cast<unsigned>(1 + next() % 200),
                      static_cast<unsigned>(1 + next() % 300));
    std::memcpy(&record[1 + kNum + kFio], text, static_cast<size_t>(n));
    record[kRecordLength - 1] = static_cast<char>('1' + next() % 3);
    std::fwrite(record.data(), 1, record.size(), out);
  }
  std::fputc(0x1A, out);
  std::fclose(out);
}

struct Step {
  const char* tag;
  const char* key;
  int offset;
  int length;
  char tip;
};
constexpr Step kSteps[] = {{"TELF", "FIO", 1 + kNum, kFio, '1'},         {"TELN", "NUM", 1, kNum, '1'},
                           {"TELA", "ADR", 1 + kNum + kFio, kAdr, '1'},  {"PREDN", "NUM", 1, kNum, '2'},
                           {"PREDF", "FIO", 1 + kNum, kFio, '2'},        {"TAXN", "NUM", 1, kNum, '3'},
                           {"TAXA", "ADR", 1 + kNum + kFio, kAdr, '3'}};

// Processor time of this process: the machine may be shared, so wall time
// would measure the neighbours too.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// The floor: one read of the table per tag and a sort of that tag's keys.
double Floor(const std::string& path, size_t& keys) {
  const double start = CpuSeconds();
  keys = 0;
  for (const Step& s : kSteps) {
    FILE* in = std::fopen(path.c_str(), "rb");
    std::fseek(in, 32 + 32 * 4 + 1, SEEK_SET);
    std::vector<std::pair<std::string, int32_t>> v;
    std::vector<char> chunk(static_cast<size_t>(kRecordLength) * 4096);
    int32_t recNo = 0;
    size_t got;
    while ((got = std::fread(chunk.data(), kRecordLength, 4096, in)) > 0) {
      for (size_t i = 0; i < got; ++i) {
        const char* r = chunk.data() + i * kRecordLength;
        ++recNo;
        if (r[kRecordLength - 1] != s.tip) continue;
        std::string_view k(r + s.offset, static_cast<size_t>(s.length));
        while (!k.empty() && k.back() == ' ') k.remove_suffix(1);
        v.emplace_back(std::string(k), recNo);
      }
    }
    std::fclose(in);
    std::sort(v.begin(), v.end());
    keys += v.size();
  }
  return CpuSeconds() - start;
}

double Engine(const std::filesystem::path& dir) {
  GSO_dBHandler table((dir / "PHONE.DBF").string(), "", false, true);
  table.OpenTable();
  const double start = CpuSeconds();
  for (const Step& s : kSteps) {
    GSobjCDXFile file(&table, (dir / (std::string(s.tag) + ".CDX")).string(), true, true, true, false);
    std::string forText = std::string("tip=") + s.tip;
    if (!file.AddTag(s.tag, s.key, false, true, forText)) {
      std::fprintf(stderr, "building %s failed\n", s.tag);
      std::exit(1);
    }
  }
  return CpuSeconds() - start;
}

// The seven tags in one MDX file (not named like the table: no production
// file is made).
double MdxEngine(const std::filesystem::path& dir) {
  GSO_dBHandler table((dir / "PHONE.DBF").string(), "", false, true);
  table.OpenTable();
  const double start = CpuSeconds();
  GSobjMDXFile file(&table, (dir / "TEL.MDX").string(), true, true, true, false);
  for (const Step& s : kSteps) {
    std::string forText = std::string("tip=") + s.tip;
    if (!file.AddTag(s.tag, s.key, false, true, forText)) {
      std::fprintf(stderr, "building %s in MDX failed\n", s.tag);
      std::exit(1);
    }
  }
  return CpuSeconds() - start;
}

// Search steps through tag TELN of `indexFile`: the range of a three-digit
// number prefix, the first record and the next 24.
double SearchSteps(const std::filesystem::path& dir, const char* indexFile, int steps, long& checksum) {
  GSO_dBHandler table((dir / "PHONE.DBF").string(), "", true, false);
  table.OpenTable();
  table.OpenIndexFile((dir / indexFile).string());
  table.SelectTag("TELN", false);
  uint64_t state = 1234567;
  const double start = CpuSeconds();
  for (int i = 0; i < steps; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    const std::string prefix = std::to_string(200 + (state >> 33) % 700);
    table.SetKeyRange(prefix + "0000", prefix + "9999", true, true, false);
    table.ReadRecord(GotoFirst);
    for (int row = 0; row < 25 && !table.Eof(); ++row) {
      checksum += table.RecNumber();
      if (row < 24) table.ReadRecord(GotoNext);
    }
  }
  return CpuSeconds() - start;
}

#ifdef DERIDAR_HAVE_SQLITE
void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", error ? error : "?");
    std::exit(1);
  }
}

// SQLite: the rows (trimmed texts, the type as an integer) loaded into an
// in-memory table, untimed. Each call of Time then creates the seven
// partial indexes, timed, and drops them again, untimed.
class SqliteBuild {
 public:
  explicit SqliteBuild(const std::string& path) {
    if (sqlite3_open(":memory:", &db_) != SQLITE_OK) std::exit(1);
    Exec(db_, "CREATE TABLE phone(num TEXT, fio TEXT, adr TEXT, tip INTEGER)");
    Exec(db_, "BEGIN");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db_, "INSERT INTO phone VALUES(?,?,?,?)", -1, &insert, nullptr);
    FILE* in = std::fopen(path.c_str(), "rb");
    std::fseek(in, 32 + 32 * 4 + 1, SEEK_SET);
    std::vector<char> r(kRecordLength);
    auto bindText = [&](int column, int offset, int length) {
      int n = length;
      while (n > 0 && r[static_cast<size_t>(offset + n - 1)] == ' ') --n;
      sqlite3_bind_text(insert, column, r.data() + offset, n, SQLITE_TRANSIENT);
    };
    while (std::fread(r.data(), kRecordLength, 1, in) == 1) {
      bindText(1, 1, kNum);
      bindText(2, 1 + kNum, kFio);
      bindText(3, 1 + kNum + kFio, kAdr);
      sqlite3_bind_int(insert, 4, r[kRecordLength - 1] - '0');
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    std::fclose(in);
    sqlite3_finalize(insert);
    Exec(db_, "COMMIT");
  }
  ~SqliteBuild() { sqlite3_close(db_); }

  double Time() {
    const double start = CpuSeconds();
    for (const Step& s : kSteps)
      Exec(db_, std::string("CREATE INDEX ") + s.tag + " ON phone(" + s.key + ") WHERE tip=" + s.tip);
    const double elapsed = CpuSeconds() - start;
    for (const Step& s : kSteps) Exec(db_, std::string("DROP INDEX ") + s.tag);
    return elapsed;
  }

 private:
  sqlite3* db_ = nullptr;
};
#endif

}  // namespace

int main(int argc, char** argv) {
  const int32_t count = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const auto dir = std::filesystem::temp_directory_path() / ("bench_cdx_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "PHONE.DBF").string();
  WritePhoneTable(path, count);

  // Each contender runs three times, alternating, and its best time counts:
  // the machine may be shared, and the best of several runs is the least
  // disturbed one.
  size_t keys = 0;
  double floor = 1e9, engine = 1e9, mdxEngine = 1e9, cdxSearch = 1e9, mdxSearch = 1e9;
  long cdxSum = 0, mdxSum = 0;
  constexpr int kSearchSteps = 4000;
#ifdef DERIDAR_HAVE_SQLITE
  double sqlite = 1e9;
  SqliteBuild sqliteBuild(path);
#endif
  for (int round = 0; round < 3; ++round) {
    floor = std::min(floor, Floor(path, keys));
    engine = std::min(engine, Engine(dir));
    mdxEngine = std::min(mdxEngine, MdxEngine(dir));
    cdxSearch = std::min(cdxSearch, SearchSteps(dir, "TELN.CDX", kSearchSteps, cdxSum));
    mdxSearch = std::min(mdxSearch, SearchSteps(dir, "TEL.MDX", kSearchSteps, mdxSum));
#ifdef DERIDAR_HAVE_SQLITE
    sqlite = std::min(sqlite, sqliteBuild.Time());
#endif
  }
  std::printf("records %d, keys over seven tags %zu, best of 3 runs\n", count, keys);
  std::printf("floor  (read + std::sort per tag): %8.3f s cpu\n", floor);
  std::printf("engine (seven CDX tags built):     %8.3f s cpu\n", engine);
  std::printf("ratio engine / floor:              %8.2f\n", engine / floor);
  std::printf("engine (seven tags in one MDX):    %8.3f s cpu\n", mdxEngine);
  std::printf("ratio MDX build / CDX build:       %8.2f\n", mdxEngine / engine);
  std::printf("%d search steps, CDX tag:        %8.3f s cpu\n", kSearchSteps, cdxSearch);
  std::printf("%d search steps, MDX tag:        %8.3f s cpu\n", kSearchSteps, mdxSearch);
  std::printf("ratio MDX step / CDX step:         %8.2f%s\n", mdxSearch / cdxSearch,
              cdxSum == mdxSum ? "" : "  (the tags gave different rows!)");
#ifdef DERIDAR_HAVE_SQLITE
  std::printf("sqlite (seven partial indexes):    %8.3f s cpu\n", sqlite);
  std::printf("ratio sqlite / engine:             %8.2f\n", sqlite / engine);
#endif
  std::filesystem::remove_all(dir);
  return 0;
}
