// Loading a directory through `deridar import` with the viewer's seven CDX
// files open (each appended row goes through the table handler, which
// updates every tag), against `mkphone` writing the same records plus
// `deridar index build` making the seven files afterwards.
//
//   bench_import [N]   (default 1,000,000 records)
//
// Both sides run the built tools as a user would; the times are the
// processor time of those child processes (user + system), since the
// machine may be shared, with wall time beside them.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

struct Tag {
  const char* name;
  const char* key;
  const char* tip;
};
constexpr Tag kTags[] = {{"TELN", "NUM", "1"},  {"TELF", "FIO", "1"},  {"TELA", "ADR", "1"},
                         {"PREDN", "NUM", "2"}, {"PREDF", "FIO", "2"}, {"TAXN", "NUM", "3"},
                         {"TAXA", "ADR", "3"}};

std::string binDir;

double ChildCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "bench_import: failed: %s\n", command.c_str());
    std::exit(1);
  }
}

std::string Tool(const char* name) { return "'" + binDir + "/" + name + "'"; }

// Builds the seven tags on the table in `dir`.
void BuildTags(const std::string& dir) {
  for (const Tag& t : kTags)
    Run(Tool("deridar") + " index build '" + dir + "/PHONE.DBF' '" + dir + "/" + t.name + ".CDX' --tag " +
        t.name + " --key " + t.key + " --for 'TIP=" + t.tip + "'");
}

struct Times {
  double cpu = 0;
  double wall = 0;
};

template <typename Work>
Times Measure(Work&& work) {
  const double cpu = ChildCpuSeconds();
  const auto wall = std::chrono::steady_clock::now();
  work();
  return {ChildCpuSeconds() - cpu,
          std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count()};
}

}  // namespace

int main(int argc, char** argv) {
  const long count = argc > 1 ? std::atol(argv[1]) : 1000000;
  binDir = std::filesystem::canonical("/proc/self/exe").parent_path().string();
  const auto root = std::filesystem::temp_directory_path() / ("bench_import_" + std::to_string(::getpid()));
  const std::string written = (root / "written").string(), imported = (root / "imported").string();
  std::filesystem::create_directories(written);
  std::filesystem::create_directories(imported);

  const Times baseline = Measure([&] {
    Run(Tool("mkphone") + " '" + written + "/PHONE.DBF' " + std::to_string(count));
    BuildTags(written);
  });

  // The same records as CSV (deleted ones marked), and an empty table with
  // the seven (empty) index files; neither is timed.
  const std::string csv = (root / "rows.csv").string();
  Run(Tool("deridar") + " dump '" + written + "/PHONE.DBF' --deleted > '" + csv + "'");
  Run(Tool("deridar") + " create '" + imported +
      "/PHONE.DBF' --field NUM:C:7 --field FIO:C:35 --field ADR:C:35 --field TIP:N:1");
  BuildTags(imported);

  std::string import = Tool("deridar") + " import '" + imported + "/PHONE.DBF' '" + csv + "'";
  for (const Tag& t : kTags) import += " --index '" + imported + "/" + t.name + ".CDX'";
  const Times contender = Measure([&] { Run(import); });

  std::printf("records %ld, seven CDX tags\n", count);
  std::printf("mkphone + seven index builds: %8.2f s cpu %8.2f s wall\n", baseline.cpu, baseline.wall);
  std::printf("import with seven files open: %8.2f s cpu %8.2f s wall\n", contender.cpu, contender.wall);
  std::printf("ratio import / baseline:      %8.2f cpu %8.2f wall\n", contender.cpu / baseline.cpu,
              contender.wall / baseline.wall);
  std::filesystem::remove_all(root);
  return 0;
}
