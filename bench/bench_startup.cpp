// Start-up of the directory viewer on a generated 1,000,000-record
// PHONE.DBF whose seven index files already exist (so the splash builds
// nothing), against opening the table and reading 30 records with the
// engine alone in the same run (target: the viewer within 3x).
//
// The viewer's start is measured in this process, from creating its objects
// to the city grid painted with rows, with every step noted: the splash's
// one-second timer is a fixed wait by design and is printed apart, and so is
// the creation of the Qt application object (a one-time cost of any Qt
// program). The first start in the process is the one a user sees; the
// later ones show what is left once Qt's lazy one-time work (fonts, style,
// platform plugin) is done. The table's part of the start - creating the
// data module (which opens the table), the orders the main window chooses
// and the grid's fetches and cell reads - is printed against the same
// baseline, and against reading the 30 records through the city number
// index.
//
// Then the resident memory of a running viewer on that table (target under
// 64 MB): the phonebook program itself started in the folder, read once it
// has gone idle with its main window up; and the same viewer started by a
// child of this bench, which can also scroll the city grid to the last row,
// and then visits every page in every search mode and comes back to the
// end of the city list.
//
//   bench_startup [records]        (default 1000000)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QScrollBar>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "app/Application.h"
#include "dataset/Razuz6oz.h"
#include "engine/table/gs6_dbsy.h"
#include "tools/mkphone/phonegen.h"
#include "ui/coolpagecontrol.h"
#include "viewer_harness.h"

namespace {

using bench::Clock;
using bench::Millis;

constexpr int kRecordsRead = 30;
constexpr int kEngineRounds = 51;
constexpr int kEngineCpuRounds = 2000;
constexpr int kWarmStarts = 5;
constexpr const char* kMemoryChildFlag = "--viewer-memory";

// The seven index files of the search modes, built as the splash builds
// them.
void BuildIndexFiles(const std::filesystem::path& folder) {
  TDeridarDataSet table;
  table.SetDatabaseName(folder.string());
  table.SetTableName("PHONE.DBF");
  table.SetReadOnly(true);
  table.Open();
  for (const TIndexStep& step : kIndexSteps) {
    table.IndexOn(step.fileName, step.tagName, step.keyExpression, step.forExpression, 1, 0);
  }
  table.Close();
}

// The baseline: the table opened by the engine and its first 30 records
// read, in record order, or in the city number order when `tag` is given.
double EngineOpenAndRead(const std::string& path, const char* indexFile, const char* tag, uint64_t& checksum) {
  const auto start = Clock::now();
  GSO_dBHandler table(path, "", true, false);
  table.OpenTable();
  int32_t motion = GotoNext;
  if (tag != nullptr) {
    table.OpenIndexList(indexFile, tag);
    motion = GotoFirst;
  }
  for (int i = 0; i < kRecordsRead && !table.Eof(); ++i) {
    table.ReadRecord(motion);
    motion = GotoNext;
    checksum += static_cast<unsigned char>(table.CurrentRecord()[1]);
  }
  return Millis(start, Clock::now());
}

double MedianEngine(const std::string& path, const char* indexFile, const char* tag, uint64_t& checksum) {
  std::vector<double> times;
  for (int i = 0; i < kEngineRounds; ++i) times.push_back(EngineOpenAndRead(path, indexFile, tag, checksum));
  return bench::Median(times);
}

struct Memory {
  long rssKb = -1;
  long hwmKb = -1;
};

Memory ReadMemory(pid_t pid) {
  Memory memory;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    std::istringstream fields(line);
    std::string key;
    long kb = 0;
    fields >> key >> kb;
    if (key == "VmRSS:") memory.rssKb = kb;
    if (key == "VmHWM:") memory.hwmKb = kb;
  }
  return memory;
}

// Processor ticks used so far by a process; -1 when it is gone.
long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return -1;
  // Fields after the command name (which is in parentheses): state is the
  // 3rd field, utime the 14th and stime the 15th.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int n = 3; fields >> field; ++n) {
    if (n == 14) utime = std::atol(field.c_str());
    if (n == 15) {
      stime = std::atol(field.c_str());
      break;
    }
  }
  return utime + stime;
}

std::string ProgramFolder() {
  char buffer[4096];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return ".";
  return std::filesystem::path(std::string(buffer, static_cast<size_t>(length))).parent_path().string();
}

// Starts the phonebook program in `folder` on the off-screen platform and
// reads its memory once it has been idle for half a second after its
// splash's second (its main window is then up). The program is ended after.
bool MeasureProgram(const std::string& program, const std::filesystem::path& folder, Memory& memory,
                    double& idleAfterMs) {
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  long last = -1;
  int quietPolls = 0;
  bool ok = false;
  while (Millis(start, Clock::now()) < 30000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return false;  // it ended by itself
    const long ticks = CpuTicks(pid);
    quietPolls = ticks == last ? quietPolls + 1 : 0;
    last = ticks;
    if (Millis(start, Clock::now()) > 1200 && quietPolls >= 5) {
      ok = true;
      break;
    }
  }
  idleAfterMs = Millis(start, Clock::now());
  memory = ReadMemory(pid);
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  return ok;
}

// The child's side of the in-process memory measurement: the viewer started
// in the working directory, memory read with its main window up, then the
// city grid scrolled to its last row (every row fetched, as scrolling there
// does) and painted, and memory read again.
int RunMemoryChild(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication application(argc, argv);
  application.SetTitle(QStringLiteral(u"Телефонный справочник"));
  bench::StartTimes times;
  auto viewer = bench::StartViewer(times);
  const Memory up = ReadMemory(getpid());
  TRxDBGrid* grid = viewer->frmMain->RxDBGrid1;
  QAbstractItemModel* model = grid->model();
  int steps = 0;
  while (model->canFetchMore(QModelIndex())) {
    model->fetchMore(QModelIndex());
    // Show the rows now and then on the way down, as a scrolling grid would.
    if (++steps % 256 == 0) {
      grid->scrollToBottom();
      grid->viewport()->repaint();
    }
  }
  grid->scrollToBottom();
  QCoreApplication::processEvents();
  grid->viewport()->repaint();
  const Memory end = ReadMemory(getpid());
  // Every page in every search mode, as a user looks around, then the city
  // list at its end again.
  TfrmMain& form = *viewer->frmMain;
  const auto choose = [&](int page, void (TfrmMain::*button)()) {
    form.CoolPageControl1->SetActivePageIndex(page);
    form.CoolPageControl1Change();
    (form.*button)();
    QCoreApplication::processEvents();
  };
  choose(1, &TfrmMain::CoolBtn6Click);
  choose(1, &TfrmMain::CoolBtn7Click);
  choose(2, &TfrmMain::CoolBtn9Click);
  choose(2, &TfrmMain::CoolBtn10Click);
  choose(0, &TfrmMain::CoolBtn2Click);
  choose(0, &TfrmMain::CoolBtn3Click);
  choose(0, &TfrmMain::CoolBtn1Click);
  grid->scrollToBottom();
  grid->viewport()->repaint();
  const Memory around = ReadMemory(getpid());
  std::printf("up %ld %ld\nend %ld %ld %d\naround %ld %ld\n", up.rssKb, up.hwmKb, end.rssKb, end.hwmKb,
              model->rowCount(), around.rssKb, around.hwmKb);
  return 0;
}

bool MeasureChild(const std::filesystem::path& folder, Memory& up, Memory& end, int& rows, Memory& around) {
  const std::string command = "cd '" + folder.string() + "' && '" + ProgramFolder() + "/bench_startup' " +
                              kMemoryChildFlag + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  const int parsed = std::fscanf(pipe, "up %ld %ld\nend %ld %ld %d\naround %ld %ld", &up.rssKb, &up.hwmKb,
                                 &end.rssKb, &end.hwmKb, &rows, &around.rssKb, &around.hwmKb);
  return pclose(pipe) == 0 && parsed == 7;
}

double Mb(long kb) { return static_cast<double>(kb) / 1024.0; }

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == kMemoryChildFlag) return RunMemoryChild(argc, argv);
  const uint32_t count = argc > 1 ? static_cast<uint32_t>(std::atol(argv[1])) : 1000000;

  const bench::PhoneFolder folder(count, "deridar-viewer");
  const std::string path = folder.Table();
  BuildIndexFiles(folder.Path());

  uint64_t checksum = 0;
  EngineOpenAndRead(path, nullptr, nullptr, checksum);  // warm the page cache
  const double engine = MedianEngine(path, nullptr, nullptr, checksum);
  const double engineIndexed = MedianEngine(path, "TELN.CDX", "TELN", checksum);
  // The same baseline in processor time, over many rounds (the clock is coarse).
  const double cpuStart = bench::CpuMillis();
  for (int i = 0; i < kEngineCpuRounds; ++i) EngineOpenAndRead(path, nullptr, nullptr, checksum);
  const double engineCpu = (bench::CpuMillis() - cpuStart) / kEngineCpuRounds;

  // Qt's one-time start: the application object on the off-screen platform.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const auto qtStart = Clock::now();
  TApplication application(argc, argv);
  application.SetTitle(QStringLiteral(u"Телефонный справочник"));
  const double qtInit = Millis(qtStart, Clock::now());

  std::filesystem::current_path(folder.Path());
  bench::StartTimes first;
  bench::StartViewer(first).reset();
  std::vector<double> warmOwn, warmTotal, warmCreated, warmTable, warmCpu;
  for (int i = 0; i < kWarmStarts; ++i) {
    bench::StartTimes warm;
    bench::StartViewer(warm).reset();
    warmOwn.push_back(warm.OwnWork());
    warmTotal.push_back(warm.mainPainted);
    warmCreated.push_back(warm.created);
    warmTable.push_back(warm.tableWork);
    warmCpu.push_back(warm.cpuTotal);
  }

  Memory program, childUp, childEnd, childAround;
  double idleAfter = 0;
  const bool programOk = MeasureProgram(ProgramFolder() + "/phonebook", folder.Path(), program, idleAfter);
  int rows = 0;
  const bool childOk = MeasureChild(folder.Path(), childUp, childEnd, rows, childAround);
  std::filesystem::current_path("/");

  std::printf("records %u, seven index files present\n", count);
  std::printf("engine: open PHONE.DBF + read %d records (record order), median: %8.3f ms\n", kRecordsRead, engine);
  std::printf("engine: the same through TELN.CDX (city number order), median:   %8.3f ms\n", engineIndexed);
  std::printf("engine: open + read %d records (record order), processor time:  %8.3f ms\n", kRecordsRead, engineCpu);
  std::printf("Qt: QApplication created (one-time, before the viewer):         %8.1f ms\n", qtInit);
  std::printf("viewer, first start in the process (as a user sees it, after QApplication):\n");
  std::printf("  objects created, table open:        %8.1f ms\n", first.created);
  std::printf("  splash painting:                    %8.1f ms\n", first.splashPainted);
  std::printf("  index check done (nothing built):   %8.1f ms\n", first.checkDone);
  std::printf("  splash timer fired:                 %8.1f ms (its fixed wait %.1f ms)\n", first.timerFired,
              first.TimerWait());
  std::printf("  city grid painted with rows:        %8.1f ms in total\n", first.mainPainted);
  std::printf("  viewer's own work (total - wait):   %8.1f ms = %.0fx the engine (target <= 3x)\n",
              first.OwnWork(), first.OwnWork() / engine);
  std::printf("  processor time of the start:        %8.1f ms = %.0fx the engine\n", first.cpuTotal,
              first.cpuTotal / engineCpu);
  std::printf("  of which the table's work:          %8.2f ms = %.1fx the engine in record order, %.1fx through TELN.CDX\n",
              first.tableWork, first.tableWork / engine, first.tableWork / engineIndexed);
  std::printf("  with QApplication creation:         %8.1f ms own work, %8.1f ms in total\n",
              qtInit + first.OwnWork(), qtInit + first.mainPainted);
  std::printf("viewer, later starts in the same process, median of %d:\n", kWarmStarts);
  std::printf("  objects created, table open:        %8.1f ms\n", bench::Median(warmCreated));
  std::printf("  city grid painted with rows:        %8.1f ms in total\n", bench::Median(warmTotal));
  std::printf("  viewer's own work (total - wait):   %8.1f ms = %.0fx the engine (target <= 3x)\n",
              bench::Median(warmOwn), bench::Median(warmOwn) / engine);
  std::printf("  processor time of the start:        %8.1f ms = %.0fx the engine\n", bench::Median(warmCpu),
              bench::Median(warmCpu) / engineCpu);
  std::printf("  of which the table's work:          %8.2f ms = %.1fx the engine in record order, %.1fx through TELN.CDX\n",
              bench::Median(warmTable), bench::Median(warmTable) / engine, bench::Median(warmTable) / engineIndexed);
  if (programOk) {
    std::printf("memory, phonebook program, main window up (idle after %.0f ms): VmRSS %.1f MB, VmHWM %.1f MB "
                "(target < 64 MB)\n",
                idleAfter, Mb(program.rssKb), Mb(program.hwmKb));
  } else {
    std::printf("memory, phonebook program: not measured (did not start or never went idle)\n");
  }
  if (childOk) {
    std::printf("memory, viewer in a child, main window up:       VmRSS %.1f MB, VmHWM %.1f MB\n",
                Mb(childUp.rssKb), Mb(childUp.hwmKb));
    std::printf("memory, viewer in a child, city grid at row %d: VmRSS %.1f MB, VmHWM %.1f MB (target < 64 MB)\n",
                rows, Mb(childEnd.rssKb), Mb(childEnd.hwmKb));
    std::printf("memory, viewer in a child, every page and mode visited, city grid at its end again: VmRSS %.1f MB, "
                "VmHWM %.1f MB\n",
                Mb(childAround.rssKb), Mb(childAround.hwmKb));
  } else {
    std::printf("memory, viewer in a child: not measured\n");
  }
  std::printf("(checksum %llu)\n", static_cast<unsigned long long>(checksum));
  return 0;
}
