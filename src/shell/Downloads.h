#pragma once
// The level download and the world's-best replay download, with their dialogs. The entry points
// are in shell/OnlineServices.h.
#include <QDialog>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "shell/OnlineServices.h"

class QLabel;
class QPushButton;
class QComboBox;
class QProgressBar;

// Fetches further level pairs into UserDataDir until the server has none (or a reply is not a
// usable level) or `running` is cleared between pairs. Returns the pairs kept; `lastLevel` is
// the highest level number now available. A run stops after kMaxLevelsPerRun pairs and when the
// disk is nearly full; `stopNote` then says why ("" otherwise).
constexpr int kMaxLevelsPerRun = 100;
int DownloadLevels(std::atomic<bool>& running, int& lastLevel, const TOnlineUI& ui, std::string* stopNote = nullptr);
// The result line of the levels dialog.
std::string DownloadLevelsResultText(int downloaded, int lastLevel);
// The free bytes for the user folder (tests set their own figure); -1 when unknown.
extern std::function<int64_t(const std::string& dir)> FreeDiskBytesHook;

enum : int { dsNone = 0, dsRunning = 1, dsDone = 2, dsFailed = 3 };

struct TWorldBestResult {
  int CheckState = dsNone;
  int DownloadState = dsNone;
  bool Ok = false;
  std::vector<std::string> Levels;  // the list after "All Levels", "Level 1"
};
TWorldBestResult FetchWorldBest(const TOnlineUI& ui);

class TfrmDownloadLevels : public QDialog {
  Q_OBJECT
public:
  TfrmDownloadLevels(const TOnlineUI& ui, QWidget* parent = nullptr);
  std::atomic<bool> Running{true};
  int Downloaded = 0;
  QLabel* lblText;
  QLabel* stxtTopMsg;
  QProgressBar* anim;
  QPushButton* btnOk;
  void Work();
  void btnOkClick();

protected:
  void showEvent(QShowEvent* event) override;
  void reject() override;

private:
  void Stop();  // Cancel, Esc or the close box while the loop runs
  const TOnlineUI& FUi;
  bool FStarted = false;
  bool FDone = false;  // the loop is over and the result shown
};

class TfrmDownloadWorldBest : public QDialog {
  Q_OBJECT
public:
  TfrmDownloadWorldBest(const TOnlineUI& ui, QWidget* parent = nullptr);
  int Execute();
  int Result = -1;
  bool Finished = false;  // the work has ended
  QLabel* pbx1;
  QLabel* pbx2;
  QComboBox* cbxLevel;
  QPushButton* btnReplay;
  QPushButton* btnCancel;
  void Work();

protected:
  void showEvent(QShowEvent* event) override;
  void reject() override;  // Cancel and the close box abort the request in progress

private:
  void ShowStates(int check, int download);
  const TOnlineUI& FUi;
  bool FStarted = false;
};
