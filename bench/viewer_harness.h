// Shared by the viewer benchmarks (beside bench_support.h): the viewer wired
// exactly as the program's main() wires it, and a start-up that notes when
// each visible step of the start happened (the splash painted, its index
// check done, its timer fired, the main window painted with the first rows
// of the city page).
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/UnitDM.h"
#include "bench_support.h"
#include "app/UnitLogo.h"
#include "app/UnitMain.h"
#include "ui/coolpanel.h"
#include "ui/dbgridmodel.h"
#include "ui/rxdbgrid.h"

namespace bench {

inline double Millis(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

inline double CpuMillis() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The value below which `share` (0..1) of the values lie.
inline double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t at = std::min(values.size() - 1, static_cast<size_t>(share * static_cast<double>(values.size())));
  return values[at];
}


// Removes the seven index files of the search modes from `folder`.
inline void RemoveIndexFiles(const std::filesystem::path& folder) {
  for (const TIndexStep& step : kIndexSteps) std::filesystem::remove(folder / step.fileName);
}

// Time spent in the table's work during a start: the data module's calls
// and the grid model's fetches and cell reads, in ms.
inline double& TableWorkMs() {
  static double ms = 0;
  return ms;
}

// Adds the time of its scope to TableWorkMs.
class TableWorkClock {
 public:
  TableWorkClock() : start_(Clock::now()) {}
  ~TableWorkClock() { TableWorkMs() += Millis(start_, Clock::now()); }
  TableWorkClock(const TableWorkClock&) = delete;
  TableWorkClock& operator=(const TableWorkClock&) = delete;

 private:
  Clock::time_point start_;
};

// The data module and the grid model with a clock around what they ask of
// the table; nothing else differs.
class TimedDM : public TDM {
 public:
  void OpenIndexes(const std::string& files, const std::string& tag) override {
    TableWorkClock clock;
    TDM::OpenIndexes(files, tag);
  }
  void SetRange(const std::string& low, const std::string& high) override {
    TableWorkClock clock;
    TDM::SetRange(low, high);
  }
  void SetKeyPrefix(const std::string& prefix) override {
    TableWorkClock clock;
    TDM::SetKeyPrefix(prefix);
  }
  void MoveFirst() override {
    TableWorkClock clock;
    TDM::MoveFirst();
  }
  int64_t IndexKeyCount(const std::string& file, const std::string& tag) override {
    TableWorkClock clock;
    return TDM::IndexKeyCount(file, tag);
  }
  std::map<int, int64_t> CategoryRecordCounts() override {
    TableWorkClock clock;
    return TDM::CategoryRecordCounts();
  }
  void IndexOn(const std::string& file, const std::string& tag, const std::string& key, const std::string& condition,
               int unique, int order) override {
    TableWorkClock clock;
    TDM::IndexOn(file, tag, key, condition, unique, order);
  }
};

class TimedModel : public TDBGridModel {
 public:
  void fetchMore(const QModelIndex& parent) override {
    TableWorkClock clock;
    TDBGridModel::fetchMore(parent);
  }
  QVariant data(const QModelIndex& index, int role) const override {
    TableWorkClock clock;
    return TDBGridModel::data(index, role);
  }
};

// The viewer as main() wires it: main window, data module (which opens
// PHONE.DBF in the working directory), splash, one grid model for the
// three grids.
struct Viewer {
  Viewer() {
    frmMain = std::make_unique<TfrmMain>();
    {
      TableWorkClock clock;
      DM = std::make_unique<TimedDM>();
    }
    frmLogo = std::make_unique<TfrmLogo>();
    frmMain->SetDataModule(DM.get());
    frmMain->SetLogo(frmLogo.get());
    frmLogo->SetDataModule(DM.get());
    model = std::make_unique<TimedModel>();
    model->SetColumns({"NUM", "FIO", "ADR"});
    model->SetDataSource(DM->dsVemaron.get());
    frmMain->SetGridModel(model.get());
  }
  ~Viewer() {
    frmMain.reset();
    model.reset();
    frmLogo.reset();
    DM.reset();
  }
  std::unique_ptr<TfrmMain> frmMain;
  std::unique_ptr<TDM> DM;
  std::unique_ptr<TfrmLogo> frmLogo;
  std::unique_ptr<TDBGridModel> model;
};

// When each step of a start-up happened, in ms from its beginning (before
// the viewer's objects are created).
struct StartTimes {
  double created = 0;       // main window, data module (table open), splash, model
  double splashPainted = 0; // the splash's first paint has begun
  double checkDone = 0;     // the index check's bar is full (its timer starts)
  double timerFired = 0;    // the splash's timer closed it
  double mainPainted = 0;   // the city grid painted with rows, after the splash
  // Processor time of this process at the splash's first paint and at the
  // end of its index check, in ms.
  double splashPaintedCpu = 0;
  double checkDoneCpu = 0;
  // Processor time of this process over the whole start (the timer's
  // wait takes none), in ms.
  double cpuTotal = 0;
  // The table's part of the start (see TableWorkMs), the index check's
  // builds included.
  double tableWork = 0;
  // Time spent waiting for the splash's timer: a fixed second by design.
  double TimerWait() const { return timerFired - checkDone; }
  // Everything but that wait.
  double OwnWork() const { return mainPainted - TimerWait(); }
};

// Notes the first paint of a widget, optionally only once a condition holds.
class PaintWatch : public QObject {
 public:
  PaintWatch(QObject* target, Clock::time_point origin, std::function<bool()> when = {})
      : target_(target), origin_(origin), when_(std::move(when)) {
    target_->installEventFilter(this);
  }
  ~PaintWatch() override { target_->removeEventFilter(this); }
  bool Seen() const { return seen_; }
  double At() const { return at_; }
  double CpuAt() const { return cpuAt_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!seen_ && watched == target_ && event->type() == QEvent::Paint && (!when_ || when_())) {
      seen_ = true;
      at_ = Millis(origin_, Clock::now());
      cpuAt_ = CpuMillis();
    }
    return false;
  }

 private:
  QObject* target_;
  Clock::time_point origin_;
  std::function<bool()> when_;
  bool seen_ = false;
  double at_ = 0;
  double cpuAt_ = 0;
};

// Creates the viewer in the working directory and shows its main window as
// the program does; returns once the city grid has been painted with rows
// (the event loop turned until then).
inline std::unique_ptr<Viewer> StartViewer(StartTimes& times) {
  const Clock::time_point origin = Clock::now();
  const double cpuOrigin = CpuMillis();
  TableWorkMs() = 0;
  auto viewer = std::make_unique<Viewer>();
  times.created = Millis(origin, Clock::now());

  PaintWatch splashPaint(viewer->frmLogo->CoolPanel1, origin);
  // Context of the probes below: they end with this function.
  QObject probe;
  QProgressBar* bar = viewer->frmLogo->ProgressBar1;
  QObject::connect(bar, &QProgressBar::valueChanged, &probe,
                   [&times, origin, bar](int value) {
                     if (value != bar->maximum()) return;
                     times.checkDone = Millis(origin, Clock::now());
                     times.checkDoneCpu = CpuMillis();
                   });
  QObject::connect(viewer->frmLogo->Timer1, &QTimer::timeout, &probe,
                   [&times, origin] { times.timerFired = Millis(origin, Clock::now()); });
  bool shown = false;
  QAbstractItemModel* model = viewer->model.get();
  PaintWatch gridPaint(viewer->frmMain->RxDBGrid1->viewport(), origin,
                       [&shown, model] { return shown && model->rowCount() > 0; });

  viewer->frmMain->show();  // returns when the splash has closed
  shown = true;
  while (!gridPaint.Seen()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  // The paint has finished when the event loop returns.
  times.mainPainted = Millis(origin, Clock::now());
  times.cpuTotal = CpuMillis() - cpuOrigin;
  times.splashPainted = splashPaint.At();
  times.splashPaintedCpu = splashPaint.CpuAt();
  times.tableWork = TableWorkMs();
  return viewer;
}

}  // namespace bench
