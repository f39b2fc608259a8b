// TfrmMain: the main window of the directory viewer. A borderless window
// with its own caption bar (dragged with the left or middle button, three
// caption buttons), a status line that describes the control under the
// mouse, and a page control with one page per category (city, payphones,
// enterprises), each with search buttons, a data grid, a search label and a
// search box.
//
// Each page has a search mode that says which index orders and searches it;
// a search button chooses the mode, and the page's search box narrows the
// rows to a key range while the user types. The window reaches the table
// through the data module (TDM).
//
// Every control is a public member named as on the form and carries the
// same object name. The grids get their rows through SetGridModel; only
// the grid of the page on show holds the model, as a grid's view keeps a
// few bytes for every row of it (hundreds of thousands on the city page).
#pragma once

#include <QAbstractItemModel>
#include <QPointer>
#include <QWidget>

#include <set>
#include <string>

class QPainter;
class TCoolBevel;
class TCoolBtn;
class TCoolCaptionBtn;
class TCoolEdit;
class TCoolLabel;
class TCoolPageControl;
class TCoolPanel;
class TCoolTabSheet;
class TDM;
class TRxDBGrid;
class TfrmLogo;

class TfrmMain : public QWidget {
  Q_OBJECT

 public:
  explicit TfrmMain(QWidget* parent = nullptr);

  // The splash that FormShow shows modally (none: FormShow goes on without
  // one) and the data module.
  void SetLogo(TfrmLogo* logo) { logo_ = logo; }
  TfrmLogo* Logo() const { return logo_; }
  void SetDataModule(TDM* dataModule) { dataModule_ = dataModule; }
  TDM* DataModule() const { return dataModule_; }

  // The rows of the grids: they read one record set. The grid of the page
  // on show holds the model; the others hold none until their page shows.
  void SetGridModel(QAbstractItemModel* model);

  // Search modes of the pages (1: by number; 2 and 3: by a text key).
  int CitySearchMode = 1;
  int PayphoneSearchMode = 1;
  int EnterpriseSearchMode = 1;

  // ---- Components ----
  TCoolPanel* CoolPanel1 = nullptr;
  TCoolPanel* CoolPanel2 = nullptr;
  TCoolPanel* CoolPanel3 = nullptr;
  TCoolCaptionBtn* CoolCaptionBtn1 = nullptr;
  TCoolCaptionBtn* CoolCaptionBtn2 = nullptr;
  TCoolCaptionBtn* CoolCaptionBtn3 = nullptr;
  TCoolPanel* CoolPanel4 = nullptr;
  TCoolPanel* CoolPanelBottom = nullptr;
  TCoolPanel* CoolPanel6 = nullptr;
  TCoolBevel* CoolBevel3 = nullptr;
  TCoolPageControl* CoolPageControl1 = nullptr;

  TCoolTabSheet* CoolTabSheet1 = nullptr;
  TCoolBevel* CoolBevel1 = nullptr;
  TRxDBGrid* RxDBGrid1 = nullptr;
  TCoolBtn* CoolBtn1 = nullptr;
  TCoolBtn* CoolBtn2 = nullptr;
  TCoolBtn* CoolBtn3 = nullptr;
  TCoolBtn* CoolBtn4 = nullptr;
  TCoolLabel* CoolLabel1 = nullptr;
  TCoolEdit* CoolEdit1 = nullptr;

  TCoolTabSheet* CoolTabSheet2 = nullptr;
  TCoolBevel* CoolBevel2 = nullptr;
  TRxDBGrid* RxDBGrid2 = nullptr;
  TCoolBtn* CoolBtn6 = nullptr;
  TCoolBtn* CoolBtn7 = nullptr;
  TCoolBtn* CoolBtn8 = nullptr;
  TCoolLabel* CoolLabel2 = nullptr;
  TCoolEdit* CoolEdit2 = nullptr;

  TCoolTabSheet* CoolTabSheet3 = nullptr;
  TCoolBevel* CoolBevel4 = nullptr;
  TRxDBGrid* RxDBGrid3 = nullptr;
  TCoolBtn* CoolBtn9 = nullptr;
  TCoolBtn* CoolBtn10 = nullptr;
  TCoolBtn* CoolBtn11 = nullptr;
  TCoolLabel* CoolLabel3 = nullptr;
  TCoolEdit* CoolEdit3 = nullptr;

  // ---- Handlers ----
  // Switches the page control to owner-drawn tabs drawn by DrawTabCaption.
  void FormCreate();
  // Runs each time the window is shown from code: shows the splash
  // modally, then makes the city page active with every page in mode 1,
  // gives the focus to the city grid and opens the city number order at its
  // first record.
  void FormShow();
  // Any button but the right one starts moving the window with the mouse.
  void CoolPanel4MouseDown(Qt::MouseButton button, const QPoint& position);
  void CoolCaptionBtn1Click();  // help: does nothing
  void CoolCaptionBtn2Click();  // minimises the program
  void CoolCaptionBtn3Click();  // closes the window, ending the program
  void CoolBtn4Click();         // the three exit buttons: closes the window
  // The user chose another page: the order of the page's mode, narrowed
  // by the text in its box, as the page was left.
  void CoolPageControl1Change();
  // Search buttons: set the page's label and mode, clear its box and open
  // the button's index at its first record.
  void CoolBtn1Click();   // city, by number
  void CoolBtn2Click();   // city, by surname
  void CoolBtn3Click();   // city, by address
  void CoolBtn6Click();   // payphones, by number
  void CoolBtn7Click();   // payphones, by address
  void CoolBtn9Click();   // enterprises, by number
  void CoolBtn10Click();  // enterprises, by name
  // Search boxes: narrow the page's order to the keys that begin with the
  // box's text.
  void CoolEdit1Change();
  void CoolEdit2Change();
  void CoolEdit3Change();
  // Draws the caption of tab `tabIndex` from the form's own table, as
  // " caption ", bold, black, centred in `rect`.
  void DrawTabCaption(QPainter& canvas, int tabIndex, const QRect& rect, bool active);
  // The status line's text.
  void SetStatus(const QString& text);

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct TSearchChoice;
  void ChooseSearch(const TSearchChoice& choice);
  // The mode variable and the search box of page 0, 1 or 2 (null else).
  int* PageMode(int page);
  TCoolEdit* PageBox(int page) const;
  // Opens the index of the page's mode and narrows it by the page's box.
  void OpenPageOrder(int page);
  // Narrows the page's order by the text of its box.
  void ApplySearchText(int page);
  // Whether the splash left the index file usable.
  bool IndexUsable(const char* file) const;
  // Hands the grid model to the grid of the page on show, taking it from
  // the others.
  void AttachGridModel();
  void CreateCaptionBar();
  void CreatePages();
  void ConnectStatusTexts();

  TfrmLogo* logo_ = nullptr;
  TDM* dataModule_ = nullptr;
  // Null once the model is gone (it may go before the window).
  QPointer<QAbstractItemModel> gridModel_;
  // Index files the splash could neither use nor rebuild: their pages list
  // the category in record order instead.
  std::set<std::string> unusableIndexes_;
  // The table shows one category by a record filter (an unusable index).
  bool categoryFiltered_ = false;
  // Moving the window by hand, where the window system cannot move it.
  bool dragging_ = false;
  QPoint dragOffset_;
};
