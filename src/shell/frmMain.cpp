#include "shell/frmMain.h"

#include <QActionGroup>
#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include "base/Classes.h"
#include "base/Exceptions.h"
#include "base/Resources.h"
#include "base/Streams.h"
#include "base/SysUtils.h"
#include "engine/Inet.h"
#include "engine/tools.h"
#include "engine/zrD3D.h"
#include "game/GameWindow.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "game/ServerReplies.h"
#include "game/UserFiles.h"
#include "platform/ShellServices.h"
#include "shell/MenuServices.h"
#include "shell/OnlineServices.h"
#include "shell/RequestRunner.h"
#include "sysinfo/SI_Memory.h"
#include "shell/StartupLog.h"
#include "shell/VersInfo.h"
#include "shell/frmGameAbout.h"
#include "shell/frmOptions.h"
#include "shell/frmPleaseWait.h"

const char* const kCampaignHomePage = "http://www.tessivo.example/";

namespace {
const QRect kBrowserShown(QPoint(102, 62), QPoint(394 - 1, 233 - 1));
const QRect kBrowserHidden(0, 0, 0, 0);
const QRect kPlayButton(QPoint(175, 281), QPoint(323 - 1, 326 - 1));  // right and bottom excluded
constexpr uint32_t kNoDeviceCode = 0x81020002;
constexpr int64_t kMinVirtualFree = 24000;

bool HasParam(const QStringList& params, const char* name) {
  for (const QString& p : params)
    if (p.toLower() == QLatin1String(name)) return true;
  return false;
}

int32_t BestScore() { return GameEnvironment.Highscores[0].Score; }
}  // namespace

TfrmMain::TfrmMain(const QStringList& params, QWidget* parent) : QMainWindow(parent) {
  setObjectName("frmMain");
  setWindowTitle("Kestrune");
  setWindowFlags(Qt::Window | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  auto* client = new QWidget(this);
  client->setFixedSize(500, 350);
  setCentralWidget(client);
  imgMain = new QLabel(client);
  imgMain->setObjectName("imgMain");
  imgMain->setGeometry(0, 0, 500, 350);
  imgLogo = new QLabel(client);
  imgLogo->setObjectName("imgLogo");
  imgLogo->setGeometry(kBrowserShown);
  MainBrowser = new TBrowserArea(client);
  MainBrowser->setGeometry(kBrowserHidden);
  MainBrowser->OnBeforeNavigate = [this](const std::string& url, bool mainFrame, bool mayLeave, bool& cancel) {
    MainBrowserBeforeNavigate2(url, mainFrame, mayLeave, cancel);
  };
  MainBrowser->OnNewWindow = [this](const std::string& url) { MainBrowserNewWindow(url); };
  MainBrowser->OnDocumentComplete = [this](const std::string& url) { MainBrowserDocumentComplete(url); };
  MainBrowser->OnLoadFailed = [this](const std::string& url, const std::string& reason) {
    MainBrowserLoadFailed(url, reason);
  };
  imgPlayBtn = new QLabel(client);
  imgPlayBtn->setObjectName("imgPlayBtn");
  imgPlayBtn->setGeometry(175, 281, 148, 45);
  imgPlayBtn->hide();
  // the pressed picture lets the mouse through to the menu picture below
  imgPlayBtn->setAttribute(Qt::WA_TransparentForMouseEvents);
  imgLogo->setAttribute(Qt::WA_TransparentForMouseEvents);
  imgMain->installEventFilter(this);
  imgMain->setMouseTracking(false);
  Timer1 = new QTimer(this);
  Timer1->setInterval(2000);
  // Queued: a tick that runs long (the error lookup waits behind its window) leaves the timer
  // free, so the next ticks still come meanwhile.
  connect(Timer1, &QTimer::timeout, this, &TfrmMain::Timer1Timer, Qt::QueuedConnection);
  CreateMenu();
  layout()->setSizeConstraint(QLayout::SetFixedSize);  // a fixed border, like the picture
  // Centred on the screen (with no window manager nobody else places it: it would sit in a corner)
  adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  SetLogFile(UserDataDir + "qv.log");
  LogBegin();
  const QLocale locale;
  const QDateTime now = QDateTime::currentDateTime();
  // the long time form without its time-zone name
  const QString timeFormat = locale.timeFormat(QLocale::LongFormat).remove(QLatin1Char('t')).trimmed();
  const QString stamp = locale.toString(now.date(), QLocale::ShortFormat) + " " + locale.toString(now.time(), timeFormat);
  Log("Started at :" + stamp.toStdString(), ltInfo);
  LogSystemInfo();
  RemoveStaleSaveFiles();
  LogSingleInstanceNote();
  UserFolderProblem();  // told as the first failed save, in front of the menu
  QTimer::singleShot(0, this, &TfrmMain::TellSaveFailure);
  InstantPlay = HasParam(params, "/ip");
  miReplayWorldsBestGame->setVisible(HasParam(params, "/replay"));
  // The Direct3D object is made when the device check first needs it, after the window shows:
  // starting the display layer and probing the GL driver would hold the first picture back.
  MenuState = msUnchecked;
  LoadPictures();
  WriteCodecFile();
  UpdateActions();
  Log("Initialized", ltCheckpoint);
}

TzrD3D8* TfrmMain::Direct3D() {
  if (!FDirect3D && !FDirect3DFailed) {
    try {
      FDirect3D = std::make_unique<TzrD3D8>();
    } catch (const Exception& e) {
      // no Direct3D: the options find no device and the menu state becomes 0
      Log("Direct3D could not be created: " + e.Message, ltError);
      FDirect3DFailed = true;
    }
  }
  return FDirect3D.get();
}

void TfrmMain::ProvideDirect3D() {
  if (FOptions) FOptions->SetDirect3D(Direct3D());
}

TfrmMain::~TfrmMain() {
  Timer1->stop();
  imgLogo->clear();
  FLogoBitmap = QPixmap();
  FNetBitmap = QPixmap();
  FDirect3D.reset();
  LogEnd();
}

QAction* TfrmMain::NewAction(const char* name, const char* caption) {
  auto* a = new QAction(QString::fromLatin1(caption), this);
  a->setObjectName(name);
  return a;
}

void TfrmMain::CreateMenu() {
  actGameOptions = NewAction("actGameOptions", "&Options...");
  actSendEmailCard = NewAction("actSendEmailCard", "Send Email Card...");
  actDeleteHighscore = NewAction("actDeleteHighscore", "&Delete Highscore Entries");
  actReset = NewAction("actReset", "&Reset Configuration");
  actClose = NewAction("actClose", "&Close");
  actPlayContinue = NewAction("actPlayContinue", "Continue Game");
  actPlayContinue->setShortcut(Qt::Key_F9);
  actPlayNew = NewAction("actPlayNew", "New Game");
  actPublishHighscore = NewAction("actPublishHighscore", "&Publish Highscore...");
  actGotoHighscore = NewAction("actGotoHighscore", "&Highscore Page");
  actWebsite = NewAction("actWebsite", "Tessivo Home Page");
  actDownloadLevels = NewAction("actDownloadLevels", "Download New Levels");
  actReplayWorldBest = NewAction("actReplayWorldBest", "Replay World's Best Game");
  actPublishErrorreport = NewAction("actPublishErrorreport", "Send &Errorreport...");
  actHelp = NewAction("actHelp", "Online Support");
  actHelp->setShortcut(Qt::Key_F1);
  actCheckNewVersion = NewAction("actCheckNewVersion", "Check For New Version");
  actAbout = NewAction("actAbout", "&About");

  QMenu* file = menuBar()->addMenu("&File");
  file->addAction(actGameOptions);
  file->addSeparator();
  file->addAction(actSendEmailCard);
  file->addSeparator();
  file->addAction(actDeleteHighscore);
  file->addAction(actReset);
  file->addSeparator();
  file->addAction(actClose);
  QMenu* play = menuBar()->addMenu("&Play");
  play->addAction(actPlayContinue);
  play->addAction(actPlayNew);
  miStartLevel = play->addMenu("Start Level");
  miStartLevel->setObjectName("miStartLevel");
  miStartLevel->menuAction()->setVisible(false);
  QMenu* net = menuBar()->addMenu("&Internet");
  net->addAction(actPublishHighscore);
  net->addAction(actGotoHighscore);
  net->addAction(actWebsite);
  net->addSeparator();
  net->addAction(actDownloadLevels);
  net->addSeparator();
  net->addAction(actReplayWorldBest);
  miReplayWorldsBestGame = actReplayWorldBest;
  net->addAction(actPublishErrorreport);
  QMenu* help = menuBar()->addMenu("&Help");
  help->addAction(actHelp);
  help->addSeparator();
  help->addAction(actCheckNewVersion);
  help->addSeparator();
  help->addAction(actAbout);
  for (QMenu* m : {file, play, net, help}) connect(m, &QMenu::aboutToShow, this, &TfrmMain::UpdateActions);

  connect(actGameOptions, &QAction::triggered, this, &TfrmMain::actGameOptionsExecute);
  connect(actSendEmailCard, &QAction::triggered, this, [this] { EmailCardHook(this); });
  connect(actDeleteHighscore, &QAction::triggered, this, &TfrmMain::actDeleteHighscoreExecute);
  connect(actReset, &QAction::triggered, this, &TfrmMain::actResetExecute);
  connect(actClose, &QAction::triggered, this, &QWidget::close);
  connect(actPlayContinue, &QAction::triggered, this, &TfrmMain::StartGame);
  connect(actPlayNew, &QAction::triggered, this, &TfrmMain::actPlayNewExecute);
  connect(actPublishHighscore, &QAction::triggered, this, [this] {
    HighscorePublishHook(this);
    UpdateActions();
  });
  connect(actGotoHighscore, &QAction::triggered, this, &TfrmMain::actGotoHighscoreExecute);
  connect(actWebsite, &QAction::triggered, this, [] { OpenURLInBrowser(kCampaignHomePage); });
  connect(actDownloadLevels, &QAction::triggered, this, [this] {
    DownloadLevelsHook(this);
    BuildLevelMenu();
    TellSaveFailure();
  });
  connect(actReplayWorldBest, &QAction::triggered, this, &TfrmMain::actReplayWorldBestExecute);
  connect(actPublishErrorreport, &QAction::triggered, this, &TfrmMain::actPublishErrorreportExecute);
  connect(actHelp, &QAction::triggered, this, &TfrmMain::actHelpExecute);
  connect(actCheckNewVersion, &QAction::triggered, this, &TfrmMain::actCheckNewVersionExecute);
  connect(actAbout, &QAction::triggered, this, &TfrmMain::actAboutExecute);
}

void TfrmMain::LoadPictures() {
  imgMain->setPixmap(LoadMenuPicture("menu_base.jpg"));
  FLogoBitmap = LoadMenuPicture("menu_logo.jpg");
  FNetBitmap = LoadMenuPicture("menu_net.jpg");
  imgPlayBtn->setPixmap(LoadMenuPicture("menu_playdown.jpg"));
  imgLogo->setPixmap(FLogoBitmap);
}

void TfrmMain::UpdateActions() {
  // While a request runs in front of the menu only Close is left: nothing may start another
  // request, a game or a dialog inside it.
  const bool idle = !RequestRunning();
  const bool ready = idle && MenuState == msReady;
  for (QAction* a : {actGameOptions, actSendEmailCard, actDeleteHighscore, actReset, actGotoHighscore, actWebsite,
                     actDownloadLevels, actPublishErrorreport, actHelp, actCheckNewVersion, actAbout})
    a->setEnabled(idle);
  miStartLevel->setEnabled(idle);
  actPlayContinue->setEnabled(ready && GameEnvironment.StartLevel >= 2);
  actPlayNew->setEnabled(ready);
  actReplayWorldBest->setEnabled(ready);
  actPublishHighscore->setEnabled(idle && BestScore() != kEmptyHighscore);
}

bool TfrmMain::RequestRunning() const { return FRequests > 0 || TRequestRunner::Busy(); }

void TfrmMain::BeginRequest() {
  ++FRequests;
  UpdateActions();
}

void TfrmMain::EndRequest() {
  if (FRequests > 0) --FRequests;
  UpdateActions();
  if (FRequests == 0 && FQuitAfterRequest) {
    FQuitAfterRequest = false;
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
  }
}

void TfrmMain::UpdateMenuState() {
  Timer1->start();
  if (MenuState == msUnchecked) {
    BuildLevelMenu();
    ProvideDirect3D();
    if (!FOptions || FOptions->Model().NoDevice) {
      const std::string text = DirectXErrorText(kNoDeviceCode);
      LogCode(text, kNoDeviceCode);
      MenuMessage(this, text, TBoxKind::Critical);
      MenuState = msCannotPlay;
    } else {
      MenuState = FOptions->HasSelectedDevice() ? msReady : msCannotPlay;
    }
  }
  UpdateActions();
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (FShownOnce) return;  // OnShow of the form: once, when it first appears
  FShownOnce = true;
  activateWindow();  // the keyboard goes to a program just started, window manager or not
  // after the window is up, so a game or message box opens over a painted menu
  QTimer::singleShot(0, this, &TfrmMain::FormShow);
}

void TfrmMain::FormShow() {
  UpdateMenuState();
  BrowserShown = true;
  ShowBrowser(false);
  repaint();
  const std::string page = ProgramDir() + "sp/web.htm";
  if (FileExists(page)) OpenURLInBrowser("file://" + page);
  LookupArmed = true;
  if (InstantPlay) {
    StartGame();
    close();
    return;
  }
  // The web engine starts once the window is up, so it never holds the first picture back; the
  // hosts list is fetched meanwhile, so the first tick finds the server's address.
  QTimer::singleShot(0, MainBrowser, &TBrowserArea::CreateView);
  ApplyHostsList(false);
}

bool TfrmMain::ShowBrowser(bool show) {
  if (show == BrowserShown) return BrowserShown;
  BrowserShown = show;
  MainBrowser->setGeometry(show ? kBrowserShown : kBrowserHidden);
  MainBrowser->setVisible(show);
  if (show) imgLogo->setPixmap(FNetBitmap);
  return BrowserShown;
}

void TfrmMain::NavigateTo(const std::string& page) {
  MainBrowser->Navigate("http://" + GameEnvironment.InternalHost + GameEnvironment.InternalBase + page);
}

std::string TfrmMain::InSitePrefix() const {
  const std::string prefix = "http://" + GameEnvironment.InternalHost + GameEnvironment.InternalBase;
  // in the form the browser reports addresses: the host in lower case, no ":80"
  const QUrl url(QString::fromStdString(prefix), QUrl::StrictMode);
  return url.isValid() ? url.toString(QUrl::FullyEncoded).toStdString() : prefix;
}

void TfrmMain::OpenOutside(const std::string& url) {
  OpenWebAddress(url);  // http and https only; anything else is refused and logged
}

void TfrmMain::OpenPage(const std::string& url) {
  if (BrowserShown) MainBrowser->Navigate(url);
  else OpenOutside(url);
}

void TfrmMain::MainBrowserBeforeNavigate2(const std::string& url, bool mainFrame, bool mayLeave, bool& cancel) {
  ApplyHostsList(false);  // the web engine waits for our answer
  if (IsWebAddress(url) && url.find(InSitePrefix()) != std::string::npos) return;
  cancel = true;
  // Only a click leaves the program: a frame, or a page's script on its own, goes nowhere (the
  // browser area logs it).
  if (mainFrame && mayLeave) OpenOutside(url);
}

void TfrmMain::MainBrowserNewWindow(const std::string& url) { OpenOutside(url); }

void TfrmMain::MainBrowserDocumentComplete(const std::string& url) {
  FLastLoadFailure.clear();
  ShowBrowser(true);
  ApplyHostsList(false);
  if (url == InSitePrefix() + "highscore.html") NavigatePending = true;
}

void TfrmMain::MainBrowserLoadFailed(const std::string& url, const std::string& reason) {
  // no error page inside the menu picture: the logo stays, the timer asks again
  ShowBrowser(false);
  imgLogo->setPixmap(FLogoBitmap);
  const std::string line = "Browser: could not load " + url + ": " + reason;
  if (line != FLastLoadFailure) Log(line, ltWarning);
  FLastLoadFailure = line;
}

void TfrmMain::Timer1Timer() {
  if (IsConnected()) {
    ApplyHostsList(false);  // never waits here: a slow hosts list is applied by a later tick
    // The browser shows once its page has loaded (MainBrowserDocumentComplete): a server that
    // cannot be reached leaves the logo, and the next tick asks again.
    if (!BrowserShown && !MainBrowser->Loading()) NavigatePending = true;
    if (NavigatePending && !GameEnvironment.InternalHost.empty()) {
      NavigateTo(Format("index.asp?id=%d", int(GameEnvironment.Country)));
      NavigatePending = false;
    }
  } else {
    ShowBrowser(false);
    imgLogo->setPixmap(FLogoBitmap);
  }
  LookUpErrorSolution();
  TellSaveFailure();
}

void TfrmMain::TellSaveFailure() {
  if (!isEnabled() || QApplication::activeModalWidget() || RequestRunning()) return;
  const std::string text = TakeSaveFailureText();
  if (!text.empty()) MenuMessage(this, text, TBoxKind::Warning);
}

void TfrmMain::LookUpErrorSolution() {
  if (LookupArmed && !RequestRunning()) ErrorSolutionLookupHook(this, LookupArmed);
}

bool TfrmMain::CheckMemory() {
  int64_t free = 0;
  try {
    if (ReadVirtualFree) {
      free = ReadVirtualFree();
    } else {
      TMemory memory;
      memory.GetInfo();
      free = memory.VirtualFree;
    }
  } catch (...) {
    return true;
  }
  if (free >= kMinVirtualFree) return true;
  return MenuAskYesNo(this,
                      "There seems to be not enough available memory on your system. Would you like "
                      "to try to start the game anyway?");
}

std::string TfrmMain::RunGame(uint8_t behaviour, int32_t replayLevel) {
  ProvideDirect3D();
  TGameRequest request;
  request.Behaviour = behaviour;
  request.ReplayLevel = replayLevel;
  if (FOptions) {
    request.Windowed = FOptions->IsWindowed();
    request.Device = FOptions->FindSelectedDevice();
    FOptions->GetSelectedDisplayMode(request.Mode);
  }
  return RunGameHook(this, request);
}

void TfrmMain::StartGame() {
  if (MenuState != msReady || RequestRunning()) return;
  Timer1->stop();
  if (CheckMemory()) {
    const int32_t before = BestScore();
    const std::string result = RunGame(0, -1);
    if (!result.empty()) MenuMessage(this, result, TBoxKind::Critical);
    TellSaveFailure();  // what the game could not save, before the question to publish it
    BuildLevelMenu();
    LookupArmed = true;
    const int32_t after = BestScore();
    if (after != before && after > 0 && NewHighscoreHook(this)) actPublishHighscore->trigger();
  }
  UpdateActions();
  Timer1->start();
}

void TfrmMain::actReplayWorldBestExecute() {
  if (MenuState != msReady || RequestRunning()) return;
  const int32_t level = WorldsBestDownloadHook(this);
  if (level < 0) return;
  Timer1->stop();
  if (CheckMemory()) {
    const std::string result = RunGame(1, level);
    if (!result.empty()) MenuMessage(this, result, TBoxKind::Critical);
    TellSaveFailure();
    LookupArmed = true;
  }
  Timer1->start();
}

void TfrmMain::actPlayNewExecute() {
  if (MenuState != msReady || RequestRunning()) return;
  ResetProgress();
  SaveSettings();
  StartGame();
}

void TfrmMain::actGameOptionsExecute() {
  if (FOptions) {
    ProvideDirect3D();
    FOptions->exec();
    if (MenuState == msUnchecked && FOptions->HasSelectedDevice()) MenuState = msReady;
  }
  BuildLevelMenu();
  UpdateActions();
}

void TfrmMain::actDeleteHighscoreExecute() {
  if (MenuAskYesNo(this, "Are you sure you want to clear your highscore?")) {
    ClearHighscores();
    SaveSettings();
  }
  BuildLevelMenu();
  UpdateActions();
}

void TfrmMain::actResetExecute() {
  if (!MenuAskYesNo(this,
                    "This operations will reset all configurations to default values which "
                    "includes deleting the highscore table and downloaded levels. Are you sure you "
                    "want to proceed?",
                    true))
    return;
  ResetSettings();
  DeleteUserFiles(UserDataDir);
  MenuState = msUnchecked;
  HostsListApplied = false;
  UpdateMenuState();
}

void TfrmMain::actGotoHighscoreExecute() {
  if (!CheckInternet(true)) return;
  if (IsConnected()) {
    NavigateTo("highscore.html");  // shown when it has loaded
  } else {
    ShowBrowser(false);
    imgLogo->setPixmap(FLogoBitmap);
  }
}

void TfrmMain::actHelpExecute() {
  if (!CheckInternet(true)) return;
  ApplyHostsList();
  OpenWebAddress(GameEnvironment.SupportURL + "help/index.asp");
}

void TfrmMain::actPublishErrorreportExecute() { ErrorReportHook(this, GetLogText()); }

void TfrmMain::actAboutExecute() {
  TfrmGameAbout about(this);
  about.exec();
}

void TfrmMain::actCheckNewVersionExecute() {
  if (!CheckInternet(true)) return;
  std::string reply;
  const TOnlineUI ui = MenuOnlineUI(this);
  ui.DoBeginWait("checks the latest available version of this program.");
  try {
    const std::string url = "http://" + GameEnvironment.InternalHost + GameEnvironment.InternalBase + "version.txt";
    ui.DoRunRequest([&] { reply = VersionFetchHook(url); });
    ui.DoEndWait();
  } catch (const ERequestCancelled&) {
    ui.DoEndWait();
    return;
  } catch (const std::exception& e) {
    Log(std::string("Version check failed: ") + TextExcerpt(e.what(), 200), ltWarning);
    reply.clear();
    ui.DoEndWait();
    MenuMessage(this, "Error accessing internet", TBoxKind::Critical);
  }
  TVersionReply version;
  if (reply.empty() || !ParseVersionReply(reply, version)) return;
  TdfsVersionInfoResource resource;
  resource.SetFilename("");
  const auto& v = resource.FileVersion;
  const std::string own = Format("%d.%d.%d.%d", v.Major(), v.Minor(), v.Release(), v.Build());
  if (version.Latest > own) {
    if (MenuAskYesNo(this, "There is a new version (" + version.Latest + ") of this program " + "available at " +
                               TextExcerpt(version.RawPage, 200) + ". Would you like to go to that " +
                               "website to download the new version?") &&
        !OpenWebAddress(version.RawPage))
      MenuMessage(this, "The address given for the new version is not a web page; it was not opened.",
                  TBoxKind::Warning);
  } else {
    MenuMessage(this, "The version you are running is the latest.");
  }
}

void TfrmMain::BuildLevelMenu() {
  miStartLevel->clear();
  for (int i = 1; i <= 30; ++i) {
    QAction* item = miStartLevel->addAction(QString::number(i));
    item->setCheckable(true);
    item->setChecked(GameEnvironment.StartLevel == i);
    connect(item, &QAction::triggered, this, [this, i] {
      GameEnvironment.StartLevel = i;
      GameEnvironment.StartScore = 0;
      BuildLevelMenu();
      SaveSettings();
    });
  }
  UpdateActions();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  TRequestRunner::CancelAll();  // a request still under way ends with the program
  QMainWindow::closeEvent(event);
  // Closed while a request's wait window stands over the menu (its menu bar or close box): the
  // wait window refuses to close until the request has ended, which holds the program's end
  // back, so the program is ended once the request has unwound (EndRequest).
  if (event->isAccepted() && FRequests > 0) FQuitAfterRequest = true;
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched != imgMain) return QMainWindow::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      const QPoint p = static_cast<QMouseEvent*>(event)->position().toPoint();
      if (kPlayButton.contains(p)) {
        PlayPressed = true;
        imgPlayBtn->show();
      }
      return true;
    }
    case QEvent::MouseMove:
      if (PlayPressed)
        imgPlayBtn->setVisible(kPlayButton.contains(static_cast<QMouseEvent*>(event)->position().toPoint()));
      return true;
    case QEvent::MouseButtonRelease: {
      const bool start = PlayPressed && !imgPlayBtn->isHidden();
      PlayPressed = false;
      if (start) {
        imgPlayBtn->hide();
        StartGame();
      }
      return true;
    }
    default:
      return QMainWindow::eventFilter(watched, event);
  }
}
