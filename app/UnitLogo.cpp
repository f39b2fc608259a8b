// TfrmLogo: splash window and index check.
#include "app/UnitLogo.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QProgressBar>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

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
  // The check runs once the splash is up and painted, from the event loop
  // of the modal show.
  checkPending_ = true;
  QTimer::singleShot(0, this, [this] {
    if (!checkPending_ || !isVisible()) return;
    checkPending_ = false;
    FormActivate();
  });
}

void TfrmLogo::FormActivate() {
  ProgressBar1->setMaximum(static_cast<int>(kIndexSteps.size()));
  ProgressBar1->setValue(0);
  repaint();
  StartOnExit startTimer(Timer1);
  int stepNumber = 0;
  for (const TIndexStep& step : kIndexSteps) {
    if (dataModule_ != nullptr && !QFileInfo::exists(QString::fromLatin1(step.fileName))) {
      dataModule_->IndexOn(step.fileName, step.tagName, step.keyExpression, step.forExpression, kDuplicatesAllowed,
                           kAscending);
    }
    ProgressBar1->setValue(++stepNumber);
    ProgressBar1->repaint();
  }
}

void TfrmLogo::Timer1Timer() {
  Timer1->stop();
  close();
}
