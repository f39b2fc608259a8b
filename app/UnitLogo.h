// TfrmLogo: the borderless splash window. Shown modally once at start-up, it
// makes sure that the seven index files of the search modes exist beside the
// table, building each missing one, and advances its progress bar by one
// step per file; one second after the last step its timer closes it.
//
// Building is done through the data module (TDM::IndexOn); the splash
// decides which files are missing.
#pragma once

#include <QDialog>

#include <array>

class QLabel;
class QProgressBar;
class QTimer;
class TCoolLabel;
class TCoolPanel;
class TDM;

// One index file the search modes rely on: the file, its single tag, the
// tag's key and FOR expressions (xBase).
struct TIndexStep {
  const char* fileName;
  const char* tagName;
  const char* keyExpression;
  const char* forExpression;
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

  // The index check, run once each time the splash is shown: every step
  // whose file is missing from the current working directory is built
  // (one tag, ascending, duplicate keys allowed), the
  // progress bar advances per step, and the timer is started. A failed
  // build ends the check (the exception goes on to the application's error
  // report), but the timer is started all the same, so the splash closes.
  void FormActivate();
  // Closes the splash; the timer stops with it.
  void Timer1Timer();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Runs the index check when one is still due for this showing.
  void RunPendingCheck();
  // No file of the step's name in the current working directory.
  static bool IndexFileMissing(const TIndexStep& step);

  TDM* dataModule_ = nullptr;
  bool checkPending_ = false;
};
