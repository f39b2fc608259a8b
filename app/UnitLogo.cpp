// TfrmLogo: splash window and index check.
#include "app/UnitLogo.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProgressBar>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/UnitDM.h"
#include "ui/coolalign.h"
#include "ui/coollabel.h"
#include "ui/coolpanel.h"
#include "ui/coolstyle.h"

const std::array<TIndexStep, 7> kIndexSteps = {{
    {"TELF.CDX", "TELF", "FIO", "tip=1", 1},
    {"TELN.CDX", "TELN", "NUM", "tip=1", 1},
    {"TELA.CDX", "TELA", "ADR", "tip=1", 1},
    {"PREDN.CDX", "PREDN", "NUM", "tip=2", 2},
    {"PREDF.CDX", "PREDF", "FIO", "tip=2", 2},
    {"TAXN.CDX", "TAXN", "NUM", "tip=3", 3},
    {"TAXA.CDX", "TAXA", "ADR", "tip=3", 3},
}};

namespace {

// IndexOn's uniqueness and sort-order arguments.
constexpr int kDuplicatesAllowed = 1;
constexpr int kAscending = 0;

// How long the index check waits for the window system to expose the
// splash before it runs all the same.
constexpr int kExposeWaitMs = 500;

TCoolLabel* MakeTitleLabel(QWidget* parent, const char* name, const QString& caption, const QRect& geometry) {
  auto* label = new TCoolLabel(parent);
  label->setObjectName(QLatin1String(name));
  label->SetCaption(caption);
  label->setGeometry(geometry);
  label->setFont(CoolFont(QStringLiteral("Courier New"), -37, true));
  label->SetFontColor(ColorFromBgr(kClBlue));
  label->SetShadowOffset(2);
  return label;
}

// Starts the timer when the index check ends, however it ends.
class StartOnExit {
 public:
  explicit StartOnExit(QTimer* timer) : timer_(timer) {}
  ~StartOnExit() { timer_->start(); }
  StartOnExit(const StartOnExit&) = delete;
  StartOnExit& operator=(const StartOnExit&) = delete;

 private:
  QTimer* timer_;
};

}  // namespace

TfrmLogo::TfrmLogo(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("frmLogo"));
  setModal(true);
  setAttribute(Qt::WA_QuitOnClose, false);
  setFixedSize(251, 147);
  setFont(CoolFont(QStringLiteral("MS Sans Serif"), -11));

  auto* layout = new TAlignLayout(this);
  CoolPanel1 = new TCoolPanel(this);
  CoolPanel1->setObjectName(QStringLiteral("CoolPanel1"));
  CoolPanel1->SetBevelInner(TBevelCut::Lowered);
  CoolPanel1->SetBevelWidth(2);
  CoolPanel1->SetColor(ColorFromBgr(10732158));
  layout->AddWidget(CoolPanel1, TAlign::Client);

  CoolLabel3 = MakeTitleLabel(CoolPanel1, "CoolLabel3", QStringLiteral(u"Телефонный"), QRect(16, 8, 221, 42));
  CoolLabel3->SetShadowColor(ColorFromBgr(kClYellow));
  CoolLabel3->SetTransparent(true);

  CoolLabel4 = MakeTitleLabel(CoolPanel1, "CoolLabel4", QStringLiteral(u"справочник"), QRect(16, 64, 221, 42));
  CoolLabel4->SetShadowColor(ColorFromBgr(8454143));

  CoolLabel1 = new TCoolLabel(CoolPanel1);
  CoolLabel1->setObjectName(QStringLiteral("CoolLabel1"));
  CoolLabel1->SetCaption(QStringLiteral("2002"));
  CoolLabel1->setGeometry(4, 40, 241, 41);
  CoolLabel1->setFont(CoolFont(QStringLiteral("Tahoma"), -29, true));
  CoolLabel1->SetFontColor(ColorFromBgr(10485760));
  CoolLabel1->SetAlignment(Qt::AlignHCenter);
  CoolLabel1->SetShadowColor(ColorFromBgr(5368554));
  CoolLabel1->SetShadowOffset(2);
  CoolLabel1->SetTransparent(true);

  Label1 = new TCoolLabel(CoolPanel1);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->SetCaption(QStringLiteral(u"Запуск..."));
  Label1->setFont(font());
  Label1->SetFontColor(ColorFromBgr(kClNavy));
  Label1->SetShadowOffset(0);
  Label1->SetTransparent(true);
  // A plain label sizes itself to its text; never narrower than stored.
  Label1->setGeometry(104, 104, std::max(45, QFontMetrics(font()).horizontalAdvance(Label1->Caption()) + 1), 13);

  ProgressBar1 = new QProgressBar(CoolPanel1);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setGeometry(12, 120, 229, 16);
  ProgressBar1->setRange(0, 7);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, &TfrmLogo::Timer1Timer);

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

void TfrmLogo::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  // The check runs once the splash is on the screen, from the event loop of
  // the modal show: a repaint before the window system has exposed the
  // window paints nothing, and the user would look at no splash while the
  // index files are built. So it waits for the expose (which paints the
  // splash), or runs at once when the window is exposed already.
  checkPending_ = true;
  QWindow* window = windowHandle();
  if (window != nullptr && !window->isExposed()) {
    window->installEventFilter(this);
    // A window system that never exposes the splash must not stop the start.
    QTimer::singleShot(kExposeWaitMs, this, &TfrmLogo::RunPendingCheck);
  } else {
    QTimer::singleShot(0, this, &TfrmLogo::RunPendingCheck);
  }
}

bool TfrmLogo::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Expose && watched == windowHandle() && windowHandle()->isExposed()) {
    watched->removeEventFilter(this);
    // The expose is handled (the splash painted) before this timer fires.
    if (checkPending_) QTimer::singleShot(0, this, &TfrmLogo::RunPendingCheck);
  }
  return QDialog::eventFilter(watched, event);
}

void TfrmLogo::RunPendingCheck() {
  if (!checkPending_ || !isVisible()) return;
  checkPending_ = false;
  FormActivate();
}

QString TfrmLogo::RebuildReason(const TIndexStep& step) {
  const QFileInfo index(QString::fromLatin1(step.fileName));
  if (!index.exists()) return QStringLiteral("missing");
  // A new edition of the table copied over the old one is newer than every
  // index file built for the old one.
  const QDateTime table = TableTime();
  if (table.isValid() && index.lastModified() < table) return QStringLiteral("older than the table");
  // Opening the file reads its header and the root of its tag, counting
  // its keys reads every leaf's header; a file that fails here is damaged.
  int64_t keys = 0;
  try {
    keys = dataModule_->IndexKeyCount(step.fileName, step.tagName);
  } catch (const std::exception& error) {
    return TApplication::ExceptionText(error);
  }
  // The tag holds one key per record of its category, deleted records
  // included: another count means a file of the same age built from other
  // data, or a table changed without its index files.
  const int64_t records = CategoryRecords(step.tip);
  if (keys != records) {
    return QStringLiteral("holds %1 keys for the table's %2 records of its category").arg(keys).arg(records);
  }
  return {};
}

int64_t TfrmLogo::CategoryRecords(int tip) {
  if (!categoryRecords_) categoryRecords_ = dataModule_->CategoryRecordCounts();
  const auto found = categoryRecords_->find(tip);
  return found == categoryRecords_->end() ? 0 : found->second;
}

QDateTime TfrmLogo::TableTime() const {
  // The table's name in any case (files copied from other systems).
  const QFileInfo name(QString::fromStdString(dataModule_->tblVemaron->DatabasePath() +
                                              dataModule_->tblVemaron->TableName()));
  QDateTime newest;
  for (const QFileInfo& table : name.dir().entryInfoList({name.fileName()}, QDir::Files)) {
    if (!newest.isValid() || newest < table.lastModified()) newest = table.lastModified();
  }
  return newest;
}

bool TfrmLogo::Rebuild(const TIndexStep& step, QString& error) {
  // The old file goes first: an existing file would be opened as the table
  // is, read-only, and a damaged one could not be opened at all.
  QFile old(QString::fromLatin1(step.fileName));
  if (old.exists() && !old.remove()) {
    error = QStringLiteral("%1: %2").arg(QString::fromLatin1(step.fileName), old.errorString());
    return false;
  }
  try {
    dataModule_->IndexOn(step.fileName, step.tagName, step.keyExpression, step.forExpression, kDuplicatesAllowed,
                         kAscending);
  } catch (const std::exception& failure) {
    error = TApplication::ExceptionText(failure);
    return false;
  }
  // A table stamped later than now (a clock ahead where it was copied
  // from) would make the new file look older than the table at every
  // start: it takes the table's time.
  const QDateTime table = TableTime();
  QFile built(QString::fromLatin1(step.fileName));
  if (table.isValid() && QFileInfo(built).lastModified() < table && built.open(QIODevice::ReadWrite)) {
    built.setFileTime(table, QFileDevice::FileModificationTime);
  }
  return true;
}

void TfrmLogo::ReportUnusable(const QStringList& details) {
  QStringList files;
  for (const std::string& name : unusable_) files << QString::fromStdString(name);
  const QString folder = QDir::toNativeSeparators(QDir::currentPath());
  const bool writable = QFileInfo(QDir::currentPath()).isWritable();
  QString message =
      QStringLiteral(u"Индексные файлы справочника отсутствуют, устарели или повреждены, "
                     u"и перестроить их не удалось: %1.\n\n")
          .arg(files.join(QStringLiteral(", ")));
  message += writable ? QStringLiteral(u"В папку «%1» не удалось записать новые файлы. ").arg(folder)
                      : QStringLiteral(u"Папка «%1» открыта только для чтения. ").arg(folder);
  message += QStringLiteral(
      u"Скопируйте справочник (PHONE.DBF) в папку, где разрешена запись, или попросите "
      u"администратора разрешить запись в эту папку, и запустите программу снова.\n\n"
      u"До тех пор поиск на этих страницах работает без индекса и может идти медленно.");
  if (auto* application = qobject_cast<TApplication*>(QCoreApplication::instance())) {
    application->ShowException(message, details.join(QLatin1Char('\n')));
  }
}

void TfrmLogo::FormActivate() {
  ProgressBar1->setMaximum(static_cast<int>(kIndexSteps.size()));
  ProgressBar1->setValue(0);
  StartOnExit startTimer(Timer1);
  unusable_.clear();
  categoryRecords_.reset();
  if (dataModule_ == nullptr) {
    ProgressBar1->setValue(ProgressBar1->maximum());
    return;
  }
  // First which files need building, then the builds, the bar counting
  // them. With nothing to build the check is quick, and the event loop
  // paints the full bar while the splash waits for its timer; with a file
  // to build, the splash and each step of its bar are painted at once, for
  // the event loop does not run while building.
  std::vector<const TIndexStep*> pending;
  QStringList details;
  for (const TIndexStep& step : kIndexSteps) {
    const QString reason = RebuildReason(step);
    if (reason.isEmpty()) continue;
    pending.push_back(&step);
    details << QStringLiteral("%1: %2").arg(QString::fromLatin1(step.fileName), reason);
  }
  if (pending.empty()) {
    ProgressBar1->setValue(ProgressBar1->maximum());
    return;
  }
  ProgressBar1->setMaximum(static_cast<int>(pending.size()));
  repaint();
  int built = 0;
  bool failed = false;
  for (const TIndexStep* step : pending) {
    QString error;
    if (!Rebuild(*step, error)) {
      unusable_.insert(step->fileName);
      details << error;
      failed = true;
    }
    ProgressBar1->setValue(++built);
    ProgressBar1->repaint();
  }
  if (failed) ReportUnusable(details);
}

void TfrmLogo::Timer1Timer() {
  Timer1->stop();
  close();
}
