#pragma once
// The level download and the world's-best replay download, with their dialogs. The entry points
// are in shell/OnlineServices.h.
#include <QDialog>
#include <atomic>
#include <string>
#include <vector>

#include "shell/OnlineServices.h"

class QLabel;
class QPushButton;
class QComboBox;
class QProgressBar;

// Fetches further level pairs into UserDataDir until the server has none (or a reply is not a
// usable level) or `running` is cleared between pairs. Returns the pairs kept; `lastLevel` is
// the highest level number now available.
int DownloadLevels(std::atomic<bool>& running, int& lastLevel, const TOnlineUI& ui);
// The result line of the levels dialog.
std::string DownloadLevelsResultText(int downloaded, int lastLevel);

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
  const TOnlineUI& FUi;
  bool FStarted = false;
};

class TfrmDownloadWorldBest : public QDialog {
  Q_OBJECT
public:
  TfrmDownloadWorldBest(const TOnlineUI& ui, QWidget* parent = nullptr);
  int Execute();
  int Result = -1;
  QLabel* pbx1;
  QLabel* pbx2;
  QComboBox* cbxLevel;
  QPushButton* btnReplay;
  QPushButton* btnCancel;
  void Work();

protected:
  void showEvent(QShowEvent* event) override;

private:
  void ShowStates(int check, int download);
  const TOnlineUI& FUi;
  bool FStarted = false;
};
