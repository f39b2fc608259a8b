// TfrmLogo: the borderless splash window. Shown modally once at start-up, it
// makes sure that the seven index files of the search modes exist beside the
// table and agree with it, and one second after the check its timer closes
// it.
//
// An index file is rebuilt when it is missing, older than the table (a new
// edition was copied in), cannot be read, or holds another number of keys
// than the table has records of its category (built from other data of the
// same age, or the table changed without it); the progress bar counts the
// rebuilt files. A file that cannot be rebuilt (a read-only folder) is left
// unusable: the user is told once, in Russian, what is wrong and what to do,
// and the main window lists that page's category without the index.
//
// Reading and building go through the data module (TDM); the splash decides
// which files need it.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

class QDateTime;
class QLabel;
class QProgressBar;
class QTimer;
class TCoolLabel;
class TCoolPanel;
class TDM;

// One index file the search modes rely on: the file, its single tag, the
// tag's key and FOR expressions (xBase), and the category (TIP value) whose
// records the FOR expression selects.
struct TIndexStep {
  const char* fileName;
  const char* tagName;
  const char* keyExpression;
  const char* forExpression;
  int tip;
};

// The seven index files, in the order they are checked.
extern const std::array<TIndexStep, 7> kIndexSteps;

class TfrmLogo : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmLogo(QWidget* parent = nullptr);

  // The data module that builds the index files (none: nothing is built).
  void SetDataModule(TDM* dataModule) { dataModule_ = dataModule; }

  // Components of the form, by their names.
  TCoolPanel* CoolPanel1 = nullptr;
  TCoolLabel* CoolLabel3 = nullptr;
  TCoolLabel* CoolLabel4 = nullptr;
  TCoolLabel* CoolLabel1 = nullptr;
  TCoolLabel* Label1 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QTimer* Timer1 = nullptr;

  // The index check, run once each time the splash is shown: every index
  // file that needs it is rebuilt (one tag, ascending, duplicate keys
  // allowed) and the progress bar counts the rebuilt files; then the timer
  // is started, whatever happened.
  void FormActivate();
  // Index files that could not be rebuilt at the last check.
  const std::set<std::string>& UnusableFiles() const { return unusable_; }
  // Closes the splash; the timer stops with it.
  void Timer1Timer();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Runs the index check when one is still due for this showing.
  void RunPendingCheck();
  // Why the step's file must be rebuilt; empty when it need not be.
  QString RebuildReason(const TIndexStep& step);
  // The table's records of category `tip`, the table counted once per
  // check.
  int64_t CategoryRecords(int tip);
  // When the table file was last modified (invalid when it is not found).
  QDateTime TableTime() const;
  // Builds the step's file anew; false (with `error` set) when it cannot.
  bool Rebuild(const TIndexStep& step, QString& error);
  // Tells the user about the files that could not be rebuilt.
  void ReportUnusable(const QStringList& details);

  TDM* dataModule_ = nullptr;
  bool checkPending_ = false;
  std::set<std::string> unusable_;
  // The table's records per category, counted at the first file that needs
  // them in a check (empty: not counted yet).
  std::optional<std::map<int, int64_t>> categoryRecords_;
};
