// TfrmLogo: splash window and index check.
#include "app/UnitLogo.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QProgressBar>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QWindow>

#include <algorithm>

#include "app/UnitDM.h"
#include "ui/coolalign.h"
#include "ui/coollabel.h"
#include "ui/coolpanel.h"
#include "ui/coolstyle.h"

const std::array<TIndexStep, 7> kIndexSteps = {{
    {"TELF.CDX", "TELF", "FIO", "tip=1"},
    {"TELN.CDX", "TELN", "NUM", "tip=1"},
    {"TELA.CDX", "TELA", "ADR", "tip=1"},
    {"PREDN.CDX", "PREDN", "NUM", "tip=2"},
    {"PREDF.CDX", "PREDF", "FIO", "tip=2"},
    {"TAXN.CDX", "TAXN", "NUM", "tip=3"},
    {"TAXA.CDX", "TAXA", "ADR", "tip=3"},
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

bool TfrmLogo::IndexFileMissing(const TIndexStep& step) {
  return !QFileInfo::exists(QString::fromLatin1(step.fileName));
}

void TfrmLogo::FormActivate() {
  ProgressBar1->setMaximum(static_cast<int>(kIndexSteps.size()));
  ProgressBar1->setValue(0);
  // With a file to build, the splash and each step of its bar are painted
  // at once, for the event loop does not run while building. With nothing
  // to build the whole check takes no time, and the event loop paints the
  // full bar while the splash waits for its timer.
  const bool building =
      dataModule_ != nullptr && std::any_of(kIndexSteps.begin(), kIndexSteps.end(), IndexFileMissing);
  if (building) repaint();
  StartOnExit startTimer(Timer1);
  int stepNumber = 0;
  for (const TIndexStep& step : kIndexSteps) {
    if (dataModule_ != nullptr && IndexFileMissing(step)) {
      dataModule_->IndexOn(step.fileName, step.tagName, step.keyExpression, step.forExpression, kDuplicatesAllowed,
                           kAscending);
    }
    ProgressBar1->setValue(++stepNumber);
    if (building) ProgressBar1->repaint();
  }
}

void TfrmLogo::Timer1Timer() {
  Timer1->stop();
  close();
}
