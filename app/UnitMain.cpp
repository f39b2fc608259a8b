// TfrmMain: the main window's controls, chrome and status texts.
#include "app/UnitMain.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSignalBlocker>
#include <QShowEvent>
#include <QWindow>

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "app/Application.h"
#include "app/UnitDM.h"
#include "app/UnitLogo.h"
#include "platform/codepage.h"
#include "platform/system.h"
#include "ui/coolalign.h"
#include "ui/coolbevel.h"
#include "ui/coolbtn.h"
#include "ui/coolcaptionbtn.h"
#include "ui/cooledit.h"
#include "ui/coollabel.h"
#include "ui/coolpagecontrol.h"
#include "ui/coolpanel.h"
#include "ui/coolstyle.h"
#include "ui/coolwallpaper.h"
#include "ui/rxdbgrid.h"

namespace {

// Layout of a category page: what differs between the three.
constexpr int kButtonTop = 1;
constexpr int kButtonHeight = 25;
constexpr int kSearchLabelTop = 312;
constexpr int kSearchLabelWidth = 116;
constexpr int kSearchBoxTop = 309;
constexpr int kSearchBoxHeight = 24;

// The tab captions that are drawn; the pages' own captions (with two blanks
// on each side) only size the tabs.
const std::array<const char16_t*, 4> kTabCaptions = {u"Город", u"Таксофон", u"Предприятия", u"..."};

// The index of each page per search mode (1 to 3), and the category and
// key field its tag holds.
struct TIndexName {
  const char* file;
  const char* tag;
  const char* keyField;
};
struct TPageIndexes {
  int category;
  std::array<TIndexName, 3> byMode;
};
constexpr std::array<TPageIndexes, 3> kPageIndexes = {{
    {1, {{{"TELN.CDX", "TELN", "NUM"}, {"TELF.CDX", "TELF", "FIO"}, {"TELA.CDX", "TELA", "ADR"}}}},
    {3, {{{"TAXN.CDX", "TAXN", "NUM"}, {"TAXA.CDX", "TAXA", "ADR"}, {nullptr, nullptr, nullptr}}}},
    {2, {{{"PREDN.CDX", "PREDN", "NUM"}, {"PREDF.CDX", "PREDF", "FIO"}, {nullptr, nullptr, nullptr}}}},
}};

// Text of the window as the table's screen code page has it.
std::string ToAnsi(const QString& text) { return platform::FromUtf8(text.toStdString(), platform::CodePage::Cp1251); }

QFont ArialBold13() { return CoolFont(QStringLiteral("Arial"), -13, true); }

TCoolBtn* MakeButton(QWidget* page, const char* name, const QString& caption, int left, int width,
                     const QColor& color) {
  auto* button = new TCoolBtn(page);
  button->setObjectName(QLatin1String(name));
  button->SetCaption(caption);
  button->setGeometry(left, kButtonTop, width, kButtonHeight);
  button->setFont(ArialBold13());
  button->SetColor(color);
  return button;
}

TCoolLabel* MakeSearchLabel(QWidget* page, const char* name, int left) {
  auto* label = new TCoolLabel(page);
  label->setObjectName(QLatin1String(name));
  label->setFont(ArialBold13());
  label->SetCaption(QStringLiteral(u"Поиск по номеру "));
  label->SetAlignment(Qt::AlignRight);
  label->SetTransparent(true);
  label->SetShadowColor(QColor(255, 255, 255));
  label->setGeometry(left, kSearchLabelTop, kSearchLabelWidth, QFontMetrics(label->font()).height() + 1);
  return label;
}

// Gives a search label its caption. A caption wider than the label widens
// it to the left, keeping its right edge beside the search box, as a
// right-aligned label sized to its text does; so "Поиск по наименованию"
// is shown whole instead of clipped.
void SetSearchLabelCaption(TCoolLabel* label, const QString& caption) {
  label->SetCaption(caption);
  const int right = label->x() + label->width();
  const int needed = QFontMetrics(label->font()).horizontalAdvance(caption) + label->ShadowOffset() + 1;
  const int width = std::max(kSearchLabelWidth, needed);
  label->setGeometry(right - width, label->y(), width, label->height());
}

TCoolEdit* MakeSearchBox(QWidget* page, const char* name, int left, int width) {
  auto* edit = new TCoolEdit(page);
  edit->setObjectName(QLatin1String(name));
  edit->setFont(CoolFont(QStringLiteral("Arial"), -13));
  edit->setGeometry(left, kSearchBoxTop, width, kSearchBoxHeight);
  return edit;
}

TCoolBevel* MakePageBevel(QWidget* page, const char* name, int height) {
  auto* bevel = new TCoolBevel(page);
  bevel->setObjectName(QLatin1String(name));
  bevel->setGeometry(0, 32, 485, height);
  return bevel;
}

TRxDBGrid* MakeGrid(QWidget* page, const char* name, const QRect& geometry, uint32_t color,
                    std::vector<TRxColumn> columns) {
  auto* grid = new TRxDBGrid(page);
  grid->setObjectName(QLatin1String(name));
  grid->setGeometry(geometry);
  grid->SetColor(ColorFromBgr(color));
  grid->SetColumns(std::move(columns));
  return grid;
}

// Shows `enterText` in the status line while the mouse is over `control`
// and `leaveText` when it leaves.
template <class Control>
void ShowStatusOnHover(TfrmMain* form, Control* control, const QString& enterText, const QString& leaveText) {
  QObject::connect(control, &Control::MouseEnter, form, [form, enterText] { form->SetStatus(enterText); });
  QObject::connect(control, &Control::MouseLeave, form, [form, leaveText] { form->SetStatus(leaveText); });
}

}  // namespace

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral(u"Телефонный справочник"));
  setFixedSize(504, 421);
  setFont(CoolFont(QStringLiteral("MS Sans Serif"), -11));

  auto* formLayout = new TAlignLayout(this);
  CoolPanel1 = new TCoolPanel(this);
  CoolPanel1->setObjectName(QStringLiteral("CoolPanel1"));
  CoolPanel1->SetBevelInner(TBevelCut::Lowered);
  CoolPanel1->SetBevelOuter(TBevelCut::Raised);
  CoolPanel1->SetBevelWidth(2);
  CoolPanel1->SetColor(ColorFromBgr(16446965));
  formLayout->AddWidget(CoolPanel1, TAlign::Client);

  CreateCaptionBar();

  CoolPanelBottom = new TCoolPanel(CoolPanel1);
  CoolPanelBottom->setObjectName(QStringLiteral("CoolPanelBottom"));
  CoolPanelBottom->resize(CoolPanelBottom->width(), 21);
  CoolPanelBottom->SetCaption(QStringLiteral(" "));
  CoolPanelBottom->SetAlignment(Qt::AlignLeft);
  CoolPanelBottom->SetBevelInner(TBevelCut::Lowered);
  CoolPanelBottom->SetBevelOuter(TBevelCut::Raised);
  CoolPanelBottom->SetColor(ColorFromBgr(13948116));
  CoolPanelBottom->setFont(CoolFont(QStringLiteral("Arial"), -12));
  CoolPanelBottom->SetFontColor(ColorFromBgr(kClNavy));
  CoolPanel1->AddAligned(CoolPanelBottom, TAlign::Bottom);

  CoolPanel6 = new TCoolPanel(CoolPanel1);
  CoolPanel6->setObjectName(QStringLiteral("CoolPanel6"));
  CoolPanel6->SetBevelOuter(TBevelCut::Raised);
  CoolPanel6->SetColor(ColorFromBgr(15329769));
  CoolPanel1->AddAligned(CoolPanel6, TAlign::Client);

  CoolBevel3 = new TCoolBevel(CoolPanel6);
  CoolBevel3->setObjectName(QStringLiteral("CoolBevel3"));
  CoolBevel3->setGeometry(0, 2, 485, 341);

  CoolPageControl1 = new TCoolPageControl(CoolPanel6);
  CoolPageControl1->setObjectName(QStringLiteral("CoolPageControl1"));
  CoolPageControl1->SetColor(ColorFromBgr(13948116));
  CoolPageControl1->setFont(CoolFont(QStringLiteral("MS Sans Serif"), -13));
  CoolPageControl1->SetFontColor(ColorFromBgr(kClNavy));
  CoolPageControl1->SetWallpaper(MakeWallpaperTile(ColorFromBgr(13948116)));
  CoolPanel6->AddAligned(CoolPageControl1, TAlign::Client);
  connect(CoolPageControl1, &TCoolPageControl::Change, this, &TfrmMain::CoolPageControl1Change);

  CreatePages();
  ConnectStatusTexts();
  // The form was stored with the enterprises page active.
  CoolPageControl1->SetActivePageIndex(2);

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  FormCreate();
}

void TfrmMain::CreateCaptionBar() {
  CoolPanel2 = new TCoolPanel(CoolPanel1);
  CoolPanel2->setObjectName(QStringLiteral("CoolPanel2"));
  CoolPanel2->resize(CoolPanel2->width(), 21);
  CoolPanel2->SetBevelOuter(TBevelCut::None);
  CoolPanel1->AddAligned(CoolPanel2, TAlign::Top);

  CoolPanel3 = new TCoolPanel(CoolPanel2);
  CoolPanel3->setObjectName(QStringLiteral("CoolPanel3"));
  CoolPanel3->resize(50, CoolPanel3->height());
  CoolPanel3->SetBevelInner(TBevelCut::Lowered);
  CoolPanel3->SetBevelOuter(TBevelCut::Raised);
  CoolPanel3->SetColor(ColorFromBgr(9221758));
  CoolPanel2->AddAligned(CoolPanel3, TAlign::Right);

  const auto makeCaptionButton = [this](const char* name, int left, TCaptionBtnType type) {
    auto* button = new TCoolCaptionBtn(CoolPanel3);
    button->setObjectName(QLatin1String(name));
    button->SetBtnType(type);
    button->setGeometry(left, 3, 14, 14);
    return button;
  };
  CoolCaptionBtn1 = makeCaptionButton("CoolCaptionBtn1", 4, TCaptionBtnType::Help);
  CoolCaptionBtn2 = makeCaptionButton("CoolCaptionBtn2", 18, TCaptionBtnType::Minimize);
  CoolCaptionBtn3 = makeCaptionButton("CoolCaptionBtn3", 32, TCaptionBtnType::Close);
  connect(CoolCaptionBtn1, &QAbstractButton::clicked, this, &TfrmMain::CoolCaptionBtn1Click);
  connect(CoolCaptionBtn2, &QAbstractButton::clicked, this, &TfrmMain::CoolCaptionBtn2Click);
  connect(CoolCaptionBtn3, &QAbstractButton::clicked, this, &TfrmMain::CoolCaptionBtn3Click);

  CoolPanel4 = new TCoolPanel(CoolPanel2);
  CoolPanel4->setObjectName(QStringLiteral("CoolPanel4"));
  CoolPanel4->SetCaption(QStringLiteral(u" Телефонный справочник"));
  CoolPanel4->SetAlignment(Qt::AlignLeft);
  CoolPanel4->SetBevelInner(TBevelCut::Lowered);
  CoolPanel4->SetBevelOuter(TBevelCut::Raised);
  CoolPanel4->SetColor(ColorFromBgr(16503458));
  CoolPanel4->setFont(CoolFont(QStringLiteral("Arial"), -13, true));
  CoolPanel2->AddAligned(CoolPanel4, TAlign::Client);
  connect(CoolPanel4, &TCoolPanel::MouseDown, this, &TfrmMain::CoolPanel4MouseDown);
  CoolPanel4->installEventFilter(this);
}

void TfrmMain::CreatePages() {
  // Page 1: city subscribers.
  CoolTabSheet1 = CoolPageControl1->AddPage(QStringLiteral(u"  Город  "));
  CoolTabSheet1->setObjectName(QStringLiteral("CoolTabSheet1"));
  const QColor cityColor = ColorFromBgr(15589843);
  CoolBevel1 = MakePageBevel(CoolTabSheet1, "CoolBevel1", 271);
  RxDBGrid1 = MakeGrid(CoolTabSheet1, "RxDBGrid1", QRect(2, 34, 480, 267), 15589843,
                       {{QStringLiteral("NUM")}, {QStringLiteral("FIO"), 200}, {QStringLiteral("ADR"), 200}});
  RxDBGrid1->SetFontColor(ColorFromBgr(kClNavy));
  CoolBtn1 = MakeButton(CoolTabSheet1, "CoolBtn1", QStringLiteral(u"по номеру"), 5, 101, cityColor);
  CoolBtn2 = MakeButton(CoolTabSheet1, "CoolBtn2", QStringLiteral(u"по фамилии"), 105, 101, cityColor);
  CoolBtn3 = MakeButton(CoolTabSheet1, "CoolBtn3", QStringLiteral(u"по адресу"), 205, 101, cityColor);
  CoolBtn4 = MakeButton(CoolTabSheet1, "CoolBtn4", QStringLiteral(u"Выход"), 380, 101, cityColor);
  CoolLabel1 = MakeSearchLabel(CoolTabSheet1, "CoolLabel1", 13);
  CoolEdit1 = MakeSearchBox(CoolTabSheet1, "CoolEdit1", 132, 345);

  // Page 2: payphones.
  CoolTabSheet2 = CoolPageControl1->AddPage(QStringLiteral(u"  Таксофон  "));
  CoolTabSheet2->setObjectName(QStringLiteral("CoolTabSheet2"));
  const QColor payphoneColor = ColorFromBgr(15790320);
  CoolBevel2 = MakePageBevel(CoolTabSheet2, "CoolBevel2", 269);
  RxDBGrid2 = MakeGrid(CoolTabSheet2, "RxDBGrid2", QRect(3, 35, 478, 261), 15790320,
                       {{QStringLiteral("NUM"), 70}, {QStringLiteral("ADR"), 385}});
  RxDBGrid2->setFont(CoolFont(QStringLiteral("Arial"), -13));
  CoolBtn6 = MakeButton(CoolTabSheet2, "CoolBtn6", QStringLiteral(u"по номеру"), 5, 101, payphoneColor);
  CoolBtn7 = MakeButton(CoolTabSheet2, "CoolBtn7", QStringLiteral(u"по адресу"), 105, 101, payphoneColor);
  CoolBtn8 = MakeButton(CoolTabSheet2, "CoolBtn8", QStringLiteral(u"Выход"), 380, 101, payphoneColor);
  CoolLabel2 = MakeSearchLabel(CoolTabSheet2, "CoolLabel2", 13);
  CoolEdit2 = MakeSearchBox(CoolTabSheet2, "CoolEdit2", 132, 345);

  // Page 3: enterprises.
  CoolTabSheet3 = CoolPageControl1->AddPage(QStringLiteral(u"  Предприятия  "));
  CoolTabSheet3->setObjectName(QStringLiteral("CoolTabSheet3"));
  const QColor enterpriseColor = ColorFromBgr(14669759);
  CoolBevel4 = MakePageBevel(CoolTabSheet3, "CoolBevel4", 269);
  RxDBGrid3 = MakeGrid(CoolTabSheet3, "RxDBGrid3", QRect(3, 35, 478, 261), 14669759,
                       {{QStringLiteral("NUM")}, {QStringLiteral("FIO"), 200}, {QStringLiteral("ADR"), 200}});
  RxDBGrid3->SetFixedColor(ColorFromBgr(14909026));
  RxDBGrid3->setFont(CoolFont(QStringLiteral("Arial"), -13));
  CoolBtn9 = MakeButton(CoolTabSheet3, "CoolBtn9", QStringLiteral(u"по номеру"), 5, 101, enterpriseColor);
  CoolBtn10 = MakeButton(CoolTabSheet3, "CoolBtn10", QStringLiteral(u"по наименованию"), 105, 132, enterpriseColor);
  CoolBtn11 = MakeButton(CoolTabSheet3, "CoolBtn11", QStringLiteral(u"Выход"), 380, 101, enterpriseColor);
  CoolLabel3 = MakeSearchLabel(CoolTabSheet3, "CoolLabel3", 61);
  CoolEdit3 = MakeSearchBox(CoolTabSheet3, "CoolEdit3", 180, 297);

  // A page coming on show, by the user or from code, takes the grid model.
  for (TCoolTabSheet* sheet : {CoolTabSheet1, CoolTabSheet2, CoolTabSheet3}) sheet->installEventFilter(this);
  for (TCoolBtn* exit : {CoolBtn4, CoolBtn8, CoolBtn11}) {
    connect(exit, &QAbstractButton::clicked, this, &TfrmMain::CoolBtn4Click);
  }
  connect(CoolBtn1, &QAbstractButton::clicked, this, &TfrmMain::CoolBtn1Click);
  connect(CoolBtn2, &QAbstractButton::clicked, this, &TfrmMain::CoolBtn2Click);
  connect(CoolBtn3, &QAbstractButton::clicked, this, &TfrmMain::CoolBtn3Click);
  connect(CoolBtn6, &QAbstractButton::clicked, this, &TfrmMain::CoolBtn6Click);
  connect(CoolBtn7, &QAbstractButton::clicked, this, &TfrmMain::CoolBtn7Click);
  connect(CoolBtn9, &QAbstractButton::clicked, this, &TfrmMain::CoolBtn9Click);
  connect(CoolBtn10, &QAbstractButton::clicked, this, &TfrmMain::CoolBtn10Click);
  connect(CoolEdit1, &TCoolEdit::Change, this, &TfrmMain::CoolEdit1Change);
  connect(CoolEdit2, &TCoolEdit::Change, this, &TfrmMain::CoolEdit2Change);
  connect(CoolEdit3, &TCoolEdit::Change, this, &TfrmMain::CoolEdit3Change);
}

void TfrmMain::ConnectStatusTexts() {
  const QString blank = QStringLiteral(" ");
  ShowStatusOnHover(this, CoolBtn1, QStringLiteral(u" Поиск по номеру телефона"), QString());
  ShowStatusOnHover(this, CoolBtn2, QStringLiteral(u" Поиск по номеру фамилии"), blank);
  ShowStatusOnHover(this, CoolBtn3, QStringLiteral(u" Поиск по номеру адресу"), blank);
  for (TCoolBtn* exit : {CoolBtn4, CoolBtn8, CoolBtn11}) {
    ShowStatusOnHover(this, exit, QStringLiteral(u" Выход из программы"), blank);
  }
  for (TCoolBtn* byNumber : {CoolBtn6, CoolBtn9}) {
    ShowStatusOnHover(this, byNumber, QStringLiteral(u" Сортировать по номеру телефона"), blank);
  }
  ShowStatusOnHover(this, CoolBtn7, QStringLiteral(u" Сортировать по адресу телефона"), blank);
  ShowStatusOnHover(this, CoolBtn10, QStringLiteral(u" Сортировать по наименованию"), blank);
  for (TCoolEdit* box : {CoolEdit1, CoolEdit2, CoolEdit3}) {
    ShowStatusOnHover(this, box, QStringLiteral(u" Строка поиска"), blank);
  }
}

void TfrmMain::SetGridModel(QAbstractItemModel* model) {
  gridModel_ = model;
  AttachGridModel();
}

void TfrmMain::AttachGridModel() {
  const std::pair<TCoolTabSheet*, TRxDBGrid*> pages[] = {
      {CoolTabSheet1, RxDBGrid1}, {CoolTabSheet2, RxDBGrid2}, {CoolTabSheet3, RxDBGrid3}};
  TCoolTabSheet* shown = CoolPageControl1->ActivePage();
  // The grid that gives the model up goes first: a model reset while two
  // grids hold it would set up both views' rows.
  bool released = false;
  for (const auto& [sheet, grid] : pages) {
    if (sheet != shown && grid->model() != nullptr) {
      grid->setModel(nullptr);
      released = true;
    }
  }
  // What the grid that gave the model up kept for its rows goes back to
  // the system, not only to the heap (a page change is rare enough).
  if (released) platform::ReleaseFreeMemory();
  for (const auto& [sheet, grid] : pages)
    if (sheet == shown && grid->model() != gridModel_) grid->setModel(gridModel_);
}

void TfrmMain::SetStatus(const QString& text) { CoolPanelBottom->SetCaption(text); }

void TfrmMain::FormCreate() {
  CoolPageControl1->SetOwnerDraw(true);
  CoolPageControl1->SetOnDrawTab([this](QPainter& canvas, int tabIndex, const QRect& rect, bool active) {
    DrawTabCaption(canvas, tabIndex, rect, active);
  });
}

void TfrmMain::DrawTabCaption(QPainter& canvas, int tabIndex, const QRect& rect, bool) {
  const bool known = tabIndex >= 0 && tabIndex < static_cast<int>(kTabCaptions.size());
  const QString caption = known ? QString::fromUtf16(kTabCaptions[static_cast<size_t>(tabIndex)]) : QString();
  canvas.setBackgroundMode(Qt::TransparentMode);
  canvas.setPen(Qt::black);
  QFont font = canvas.font();
  font.setBold(true);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  canvas.setFont(font);
  canvas.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine, QLatin1Char(' ') + caption + QLatin1Char(' '));
}

void TfrmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Shown from code (first at start-up), not restored by the window system.
  if (!event->spontaneous()) FormShow();
}

void TfrmMain::FormShow() {
  if (logo_ != nullptr) {
    logo_->exec();
    unusableIndexes_ = logo_->UnusableFiles();
    // The splash's builds and checks of the index files are over: what they
    // freed goes back to the system rather than staying in the viewer's
    // resident size for as long as it runs.
    platform::ReleaseFreeMemory();
  }
  CoolPageControl1->SetActivePageIndex(0);
  CitySearchMode = 1;
  PayphoneSearchMode = 1;
  EnterpriseSearchMode = 1;
  RxDBGrid1->setFocus();
  OpenPageOrder(0);
}

void TfrmMain::CoolPageControl1Change() {
  // The page comes back as it was left: the order of its mode, narrowed by
  // what its box holds, under the label that names that mode.
  OpenPageOrder(CoolPageControl1->ActivePageIndex());
}

int* TfrmMain::PageMode(int page) {
  switch (page) {
    case 0: return &CitySearchMode;
    case 1: return &PayphoneSearchMode;
    case 2: return &EnterpriseSearchMode;
    default: return nullptr;
  }
}

TCoolEdit* TfrmMain::PageBox(int page) const {
  switch (page) {
    case 0: return CoolEdit1;
    case 1: return CoolEdit2;
    case 2: return CoolEdit3;
    default: return nullptr;
  }
}

bool TfrmMain::IndexUsable(const char* file) const { return unusableIndexes_.count(file) == 0; }

// The page's index for its current mode; null for an unknown page or mode.
static const TIndexName* PageIndex(int page, const int* mode) {
  if (page < 0 || page >= static_cast<int>(kPageIndexes.size()) || mode == nullptr || *mode < 1 || *mode > 3)
    return nullptr;
  const TIndexName& index = kPageIndexes[static_cast<size_t>(page)].byMode[static_cast<size_t>(*mode - 1)];
  return index.file != nullptr ? &index : nullptr;
}

void TfrmMain::OpenPageOrder(int page) {
  const TIndexName* index = PageIndex(page, PageMode(page));
  if (dataModule_ == nullptr || index == nullptr) return;
  const std::string prefix = ToAnsi(PageBox(page)->text());
  dataModule_->OpenIndexes({}, {});
  if (IndexUsable(index->file)) {
    if (categoryFiltered_) dataModule_->SetCategoryFilter(0, {}, {});
    categoryFiltered_ = false;
    dataModule_->OpenIndexes(index->file, index->tag);
    if (prefix.empty()) {
      dataModule_->MoveFirst();
    } else {
      dataModule_->SetKeyPrefix(prefix);
    }
  } else {
    // Without its index file the page lists its category in record order,
    // never the whole table.
    dataModule_->SetCategoryFilter(kPageIndexes[static_cast<size_t>(page)].category, index->keyField, prefix);
    categoryFiltered_ = true;
  }
}

void TfrmMain::ApplySearchText(int page) {
  const TIndexName* index = PageIndex(page, PageMode(page));
  if (dataModule_ == nullptr || index == nullptr) return;
  // The rows whose key begins with the box's text: a number (up to the
  // seven characters of NUM; more matches nothing), a surname, a name or
  // an address alike. The new range replaces the previous one in one step.
  const std::string prefix = ToAnsi(PageBox(page)->text());
  if (IndexUsable(index->file)) {
    dataModule_->SetKeyPrefix(prefix);
  } else {
    dataModule_->SetCategoryFilter(kPageIndexes[static_cast<size_t>(page)].category, index->keyField, prefix);
  }
}

// What a search button chooses.
struct TfrmMain::TSearchChoice {
  int page;
  TCoolLabel* label;
  const char16_t* labelText;
  int mode;
};

void TfrmMain::ChooseSearch(const TSearchChoice& choice) {
  SetSearchLabelCaption(choice.label, QString::fromUtf16(choice.labelText));
  *PageMode(choice.page) = choice.mode;
  // The box is emptied without a search of its own: the order of the new
  // mode opens at its first record just below.
  TCoolEdit* box = PageBox(choice.page);
  {
    const QSignalBlocker quiet(box);
    box->clear();
  }
  OpenPageOrder(choice.page);
}

void TfrmMain::CoolBtn1Click() { ChooseSearch({0, CoolLabel1, u"Поиск по номеру", 1}); }

void TfrmMain::CoolBtn2Click() { ChooseSearch({0, CoolLabel1, u"Поиск по фамилии", 2}); }

void TfrmMain::CoolBtn3Click() { ChooseSearch({0, CoolLabel1, u"Поиск по адресу", 3}); }

void TfrmMain::CoolBtn6Click() { ChooseSearch({1, CoolLabel2, u"Поиск по номеру", 1}); }

void TfrmMain::CoolBtn7Click() { ChooseSearch({1, CoolLabel2, u"Поиск по адресу", 2}); }

void TfrmMain::CoolBtn9Click() { ChooseSearch({2, CoolLabel3, u"Поиск по номеру", 1}); }

void TfrmMain::CoolBtn10Click() { ChooseSearch({2, CoolLabel3, u"Поиск по наименованию", 2}); }

void TfrmMain::CoolEdit1Change() { ApplySearchText(0); }

void TfrmMain::CoolEdit2Change() { ApplySearchText(1); }

void TfrmMain::CoolEdit3Change() { ApplySearchText(2); }

void TfrmMain::CoolPanel4MouseDown(Qt::MouseButton button, const QPoint& position) {
  if (button == Qt::RightButton) return;
  // The window system moves the window with the mouse until the button is
  // released; where it cannot, the window follows the mouse by hand.
  QWindow* handle = windowHandle();
  if (handle != nullptr && handle->startSystemMove()) return;
  dragging_ = true;
  dragOffset_ = CoolPanel4->mapToGlobal(position) - pos();
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  // ShowToParent comes even while the window itself is not on screen.
  if ((event->type() == QEvent::ShowToParent || event->type() == QEvent::Show) &&
      (watched == CoolTabSheet1 || watched == CoolTabSheet2 || watched == CoolTabSheet3)) {
    AttachGridModel();
    return false;
  }
  if (watched == CoolPanel4 && dragging_) {
    if (event->type() == QEvent::MouseMove) {
      move(static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - dragOffset_);
      return true;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
      dragging_ = false;
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TfrmMain::CoolCaptionBtn1Click() {}

void TfrmMain::CoolCaptionBtn2Click() { TApplication::Minimize(); }

void TfrmMain::CoolCaptionBtn3Click() { close(); }

void TfrmMain::CoolBtn4Click() { close(); }
