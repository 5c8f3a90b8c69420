#pragma once
// The menu application's main window: the menu picture with its play button, the browser area,
// the main menu with its actions, and the 2-second timer. It decides when a game may start (the
// menu state), starts games and replays, and opens the online services' dialogs.
#include <QMainWindow>
#include <QPixmap>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "shell/Browser.h"

class QAction;
class QLabel;
class QMenu;
class QTimer;
class TfrmGameOptions;
class TzrD3D8;

enum : uint8_t { msCannotPlay = 0, msUnchecked = 1, msReady = 2 };

extern const char* const kCampaignHomePage;

class TfrmMain : public QMainWindow {
  Q_OBJECT
public:
  // FormCreate; `params` are the command-line parameters without the program name.
  explicit TfrmMain(const QStringList& params, QWidget* parent = nullptr);
  ~TfrmMain() override;  // FormDestroy

  // The options window, created after this one (not owned).
  void SetOptionsWindow(TfrmGameOptions* options) { FOptions = options; }
  // The process's Direct3D object, made on first use; null when it cannot be made.
  TzrD3D8* Direct3D();

  bool InstantPlay = false;
  bool BrowserShown = false;
  bool NavigatePending = false;
  bool PlayPressed = false;
  bool LookupArmed = false;
  uint8_t MenuState = msUnchecked;

  void UpdateMenuState();
  void UpdateActions();  // enabled states by the menu state, the settings and a request running
  // A request runs with only its wait window in front of the menu (MenuOnlineUI): the menu bar
  // stays open for Close, and every other action, the play button and the lookup refuse.
  void BeginRequest();
  void EndRequest();
  bool RequestRunning() const;
  bool ShowBrowser(bool show);
  void BuildLevelMenu();
  void Timer1Timer();
  void StartGame();
  bool CheckMemory();
  // Free virtual memory in bytes (TMemory by default; tests set their own figure).
  std::function<int64_t()> ReadVirtualFree;
  void LookUpErrorSolution();
  void FormShow();
  // Tells the first failed save of this run (UserFiles.h), once, when the menu is in front: not
  // while a game, a dialog or a box is.
  void TellSaveFailure();

  // The embedded browser's events.
  void MainBrowserBeforeNavigate2(const std::string& url, bool mainFrame, bool mayLeave, bool& cancel);
  void MainBrowserNewWindow(const std::string& url);
  void MainBrowserDocumentComplete(const std::string& url);
  void MainBrowserLoadFailed(const std::string& url, const std::string& reason);
  // A page of the game server: in the embedded browser while it is shown, else outside.
  void OpenPage(const std::string& url);

  // Actions
  QAction *actGameOptions, *actSendEmailCard, *actDeleteHighscore, *actReset, *actClose;
  QAction *actPlayContinue, *actPlayNew;
  QAction *actPublishHighscore, *actGotoHighscore, *actWebsite, *actDownloadLevels,
      *actReplayWorldBest, *actPublishErrorreport;
  QAction *actHelp, *actCheckNewVersion, *actAbout;
  QMenu* miStartLevel;          // the level menu (never visible)
  QAction* miReplayWorldsBestGame;  // the menu item of actReplayWorldBest
  QTimer* Timer1;
  QLabel* imgMain;
  QLabel* imgLogo;
  QLabel* imgPlayBtn;
  TBrowserArea* MainBrowser;

  void actGameOptionsExecute();
  void actDeleteHighscoreExecute();
  void actResetExecute();
  void actPlayNewExecute();
  void actGotoHighscoreExecute();
  void actReplayWorldBestExecute();
  void actPublishErrorreportExecute();
  void actHelpExecute();
  void actCheckNewVersionExecute();
  void actAboutExecute();

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QAction* NewAction(const char* name, const char* caption);
  void CreateMenu();
  void LoadPictures();
  std::string RunGame(uint8_t behaviour, int32_t replayLevel);
  void NavigateTo(const std::string& page);
  void ProvideDirect3D();  // hands the Direct3D object to the options window
  std::string InSitePrefix() const;
  void OpenOutside(const std::string& url);

  std::unique_ptr<TzrD3D8> FDirect3D;
  bool FDirect3DFailed = false;
  TfrmGameOptions* FOptions = nullptr;
  QPixmap FLogoBitmap, FNetBitmap;
  bool FShownOnce = false;
  int FRequests = 0;  // BeginRequest not yet ended
  bool FQuitAfterRequest = false;  // closed meanwhile
  std::string FLastLoadFailure;  // logged once until a page loads again
};
