#include "shell/frmMain.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include "engine/D3DTestSupport.h"
#include "base/Exceptions.h"
#include "base/Resources.h"
#include "base/SysUtils.h"
#include "engine/Inet.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "game/GameLogic.h"
#include "game/GameSounds.h"
#include "game/Options.h"
#include "game/ReplayPack.h"
#include "game/SaveQueue.h"
#include "game/UserFiles.h"
#include "platform/ShellServices.h"
#include "platform/WinInet.h"
#include "shell/MenuServices.h"
#include "shell/frmGameAbout.h"
#include "shell/frmOptions.h"
#include "shell/frmPleaseWait.h"
#include "support/TestServers.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "test_shell";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);  // as the start-up: the browser needs it
    return new QApplication(argc, argv);
  }();
  return *app;
}

class FrmMainTest : public D3DFakeTest {
protected:
  void SetUp() override {
    App();
    D3DFakeTest::SetUp();
    Dir = TestDir();
    UserDataDir = Dir;
    CommonDataDir = Dir;
    ResetEnvironment(GameEnvironment);
    ResetMenuServices();
    ResetSaveFailures();
    MenuMessageHook = [this](QWidget*, const std::string& text) { Messages.push_back(text); };
    MenuAskYesNoHook = [this](QWidget*, const std::string& text, bool) {
      Questions.push_back(text);
      return Answer;
    };
    RunGameHook = [this](QWidget*, const TGameRequest& r) {
      Games.push_back(r);
      return std::string();
    };
  }
  void TearDown() override {
    ResetMenuServices();
    ResetSaveFailures();
    HostsListApplied = false;
    UserDataDir.clear();
    ResetEnvironment(GameEnvironment);
    D3DFakeTest::TearDown();
  }
  // A main window with its options window, as the start-up makes them.
  void Make(const QStringList& params = {}) {
    Main = std::make_unique<TfrmMain>(params);
    Options = std::make_unique<TfrmGameOptions>(Main->Direct3D());
    Main->SetOptionsWindow(Options.get());
  }
  void Mouse(QEvent::Type type, int x, int y) {
    QMouseEvent e(type, QPointF(x, y), QPointF(x, y), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Main->imgMain, &e);
  }

  std::string Dir;
  std::vector<std::string> Messages, Questions;
  std::vector<TGameRequest> Games;
  bool Answer = true;
  std::unique_ptr<TfrmMain> Main;
  std::unique_ptr<TfrmGameOptions> Options;
};

TEST_F(FrmMainTest, StartUpLogsTheRunAndReadsTheSwitches) {
  Make({"x", "/IP", "/replayx"});
  EXPECT_TRUE(Main->InstantPlay);
  EXPECT_FALSE(Main->miReplayWorldsBestGame->isVisible());
  EXPECT_EQ(Main->MenuState, msUnchecked);
  EXPECT_EQ(Main->windowTitle(), "Kestrune");
  Main.reset();
  EXPECT_TRUE(LogHasPrefix("* Info: Started at :"));
  for (const std::string& line : LogLines()) {
    // short date and long time, without the time zone's name the format does not have
    if (line.rfind("* Info: Started at :", 0) != 0) continue;
    const std::string stamp = line.substr(20);
    EXPECT_NE(stamp[0], ' ');
    ASSERT_FALSE(stamp.empty());
    EXPECT_TRUE(stamp.back() >= '0' && stamp.back() <= '9') << stamp;  // ends with the seconds
  }
  EXPECT_TRUE(LogHas("* Checkpoint: Initialized"));
  EXPECT_TRUE(LogHas("<*** End ***>"));

  Make({"-ip", "/Replay"});
  EXPECT_FALSE(Main->InstantPlay);
  EXPECT_TRUE(Main->miReplayWorldsBestGame->isVisible());
}

TEST_F(FrmMainTest, CodecFileHoldsTheEmbeddedBytesAndIsRewrittenOnlyWhenItDiffers) {
  TResourceData codec;
  ASSERT_TRUE(FindResourceData("DLL", "MP3CODEC", codec));
  const std::string embedded(reinterpret_cast<const char*>(codec.Data), codec.Size);
  // A file of the same size from another build is replaced too.
  for (const std::string& other : {std::string("mine"), std::string(embedded.size(), 'x')}) {
    WriteAll(Dir + "l3codecx.acm", other);
    Make();
    Main.reset();
    EXPECT_EQ(ReadAll(Dir + "l3codecx.acm"), embedded);
  }
  struct stat before {}, after {};
  ASSERT_EQ(::stat((Dir + "l3codecx.acm").c_str(), &before), 0);
  Make();
  ASSERT_EQ(::stat((Dir + "l3codecx.acm").c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);  // the right file is left alone
}

TEST_F(FrmMainTest, MenuStateMovesFromUncheckedAndResetStartsOver) {
  Make();
  ASSERT_TRUE(Options->HasSelectedDevice());
  EXPECT_FALSE(Main->actPlayNew->isEnabled());
  Main->UpdateMenuState();
  EXPECT_EQ(Main->MenuState, msReady);
  EXPECT_TRUE(Main->Timer1->isActive());
  EXPECT_TRUE(Messages.empty());

  // a second check leaves the state alone
  Main->SetOptionsWindow(nullptr);
  Main->UpdateMenuState();
  EXPECT_EQ(Main->MenuState, msReady);

  // no device: the message, and 0 until a reset
  Main->MenuState = msUnchecked;
  Main->UpdateMenuState();
  EXPECT_EQ(Main->MenuState, msCannotPlay);
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0], "Could not find any 3D hardware accelerated DirectX 8 device.");
  Main->SetOptionsWindow(Options.get());
  Main->UpdateMenuState();
  EXPECT_EQ(Main->MenuState, msCannotPlay);

  Answer = false;
  Main->actReset->trigger();
  EXPECT_EQ(Main->MenuState, msCannotPlay);
  Answer = true;
  GameEnvironment.StartLevel = 5;
  HostsListApplied = true;
  Main->actReset->trigger();
  EXPECT_EQ(Main->MenuState, msReady);
  EXPECT_FALSE(HostsListApplied);
  EXPECT_EQ(GameEnvironment.StartLevel, 1);
  EXPECT_EQ(Questions.size(), 2u);
}

TEST_F(FrmMainTest, ActionsFollowTheStateAndTheSettings) {
  Make({"/replay"});
  Main->UpdateMenuState();
  GameEnvironment.StartLevel = 1;
  Main->UpdateActions();
  EXPECT_TRUE(Main->actPlayNew->isEnabled());
  EXPECT_FALSE(Main->actPlayContinue->isEnabled());
  EXPECT_FALSE(Main->actPublishHighscore->isEnabled());
  GameEnvironment.StartLevel = 2;
  GameEnvironment.Highscores[0].Score = 0;
  Main->UpdateActions();
  EXPECT_TRUE(Main->actPlayContinue->isEnabled());
  EXPECT_TRUE(Main->actReplayWorldBest->isEnabled());
  EXPECT_TRUE(Main->actPublishHighscore->isEnabled());
  Main->MenuState = msCannotPlay;
  Main->UpdateActions();
  EXPECT_FALSE(Main->actPlayContinue->isEnabled());
  EXPECT_FALSE(Main->actPlayNew->isEnabled());
  EXPECT_FALSE(Main->actReplayWorldBest->isEnabled());
  Main->StartGame();
  EXPECT_TRUE(Games.empty());
}

TEST_F(FrmMainTest, PlayButtonStartsOnlyWhenPressedAndReleasedInside) {
  Make();
  Main->UpdateMenuState();
  Mouse(QEvent::MouseButtonPress, 10, 10);  // outside, moved in
  Mouse(QEvent::MouseMove, 200, 300);
  Mouse(QEvent::MouseButtonRelease, 200, 300);
  EXPECT_TRUE(Games.empty());
  Mouse(QEvent::MouseButtonPress, 175, 281);  // inside, out, released outside
  EXPECT_TRUE(Main->PlayPressed);
  Mouse(QEvent::MouseMove, 323, 300);
  Mouse(QEvent::MouseButtonRelease, 323, 300);
  EXPECT_TRUE(Games.empty());
  EXPECT_FALSE(Main->PlayPressed);
  Mouse(QEvent::MouseButtonPress, 200, 300);  // inside, out, back in
  Mouse(QEvent::MouseMove, 200, 326);
  Mouse(QEvent::MouseMove, 322, 325);
  Mouse(QEvent::MouseButtonRelease, 322, 325);
  ASSERT_EQ(Games.size(), 1u);
  EXPECT_EQ(Games[0].Behaviour, 0);
  EXPECT_EQ(Games[0].ReplayLevel, -1);
  EXPECT_TRUE(Main->LookupArmed);
}

TEST_F(FrmMainTest, NewHighscoreQuestionOnlyForAChangedPositiveBest) {
  Make();
  Main->UpdateMenuState();
  int asked = 0, published = 0;
  NewHighscoreHook = [&](QWidget*) {
    ++asked;
    return true;
  };
  HighscorePublishHook = [&](QWidget*) { ++published; };
  struct Case {
    int32_t before, after;
    bool asks;
  };
  for (const Case& c : {Case{kEmptyHighscore, 0, false}, Case{100, 100, false}, Case{-5, -2, false},
                        Case{kEmptyHighscore, 12345, true}}) {
    asked = published = 0;
    GameEnvironment.Highscores[0].Score = c.before;
    RunGameHook = [&](QWidget*, const TGameRequest&) {
      GameEnvironment.Highscores[0].Score = c.after;
      return std::string("Game over");
    };
    Messages.clear();
    Main->StartGame();
    EXPECT_EQ(asked, c.asks ? 1 : 0) << c.before << " -> " << c.after;
    EXPECT_EQ(published, asked);
    EXPECT_EQ(Messages, std::vector<std::string>{"Game over"});
  }
}

TEST_F(FrmMainTest, LowMemoryAsksBeforeTheGame) {
  Make();
  Main->UpdateMenuState();
  struct Case {
    int64_t free;
    bool answer, asks, plays;
  };
  for (const Case& c : {Case{24000, false, false, true}, Case{23999, false, true, false},
                        Case{23999, true, true, true}, Case{-1, true, true, true}}) {
    Games.clear();
    Questions.clear();
    Answer = c.answer;
    Main->ReadVirtualFree = [&] { return c.free; };
    Main->StartGame();
    EXPECT_EQ(Questions.size(), c.asks ? 1u : 0u) << c.free;
    EXPECT_EQ(Games.size(), c.plays ? 1u : 0u) << c.free;
    EXPECT_TRUE(Main->Timer1->isActive());
  }
  Main->ReadVirtualFree = []() -> int64_t { throw Exception("no figures"); };
  Games.clear();
  Main->StartGame();
  EXPECT_EQ(Games.size(), 1u);
}

TEST_F(FrmMainTest, TimerShowsTheBrowserWhileConnected) {
  Make();
  HostsListApplied = true;
  GameEnvironment.InternalHost = "127.0.0.1:9";
  GameEnvironment.InternalBase = "/kestruneinternal/";
  GameEnvironment.Country = 7;
  bool connected = true;
  SetConnectedStateHook([&] { return connected; });
  Main->FormShow();
  EXPECT_FALSE(Main->BrowserShown);
  EXPECT_TRUE(Main->LookupArmed);
  int lookups = 0;
  ErrorSolutionLookupHook = [&](QWidget*, bool& armed) {
    ++lookups;
    armed = false;
  };
  Main->Timer1Timer();
  // the page is asked for; the browser shows once it has loaded (BrowserTest)
  EXPECT_EQ(Main->MainBrowser->LastURL(), "http://127.0.0.1:9/kestruneinternal/index.asp?id=7");
  EXPECT_FALSE(Main->NavigatePending);
  Main->Timer1Timer();  // no second lookup
  EXPECT_EQ(lookups, 1);
  Main->ShowBrowser(true);
  EXPECT_EQ(Main->MainBrowser->geometry(), QRect(QPoint(102, 62), QPoint(393, 232)));
  connected = false;
  Main->Timer1Timer();
  EXPECT_FALSE(Main->BrowserShown);
  EXPECT_EQ(Main->MainBrowser->geometry(), QRect(0, 0, 0, 0));
  SetConnectedStateHook(nullptr);
}

TEST_F(FrmMainTest, TheGraphicsProbeWaitsUntilTheWindowShows) {
  // as the start-up makes them: the options window without the Direct3D object
  Main = std::make_unique<TfrmMain>(QStringList{"/ip"});
  Options = std::make_unique<TfrmGameOptions>(nullptr);
  Main->SetOptionsWindow(Options.get());
  EXPECT_FALSE(LogHas("* Checkpoint: Create Direct3D 8"));  // nothing probed while starting
  Main->show();
  Main->FormShow();
  EXPECT_TRUE(LogHas("* Checkpoint: Create Direct3D 8"));
  ASSERT_NE(Main->Direct3D(), nullptr);
  EXPECT_FALSE(Main->Direct3D()->Adapters.empty());
  EXPECT_EQ(Options->Model().Direct3D, Main->Direct3D());
  EXPECT_EQ(Main->MenuState, msReady);
  EXPECT_EQ(Games.size(), 1u);  // "/ip" still plays its one game
  EXPECT_FALSE(Main->isVisible());
}

TEST_F(FrmMainTest, InstantPlayWithoutADeviceClosesWithoutAGame) {
  Main = std::make_unique<TfrmMain>(QStringList{"/ip"});  // no options window: no device
  Main->show();
  Main->FormShow();
  EXPECT_EQ(Main->MenuState, msCannotPlay);
  EXPECT_TRUE(Games.empty());
  EXPECT_FALSE(Main->isVisible());
}

class VersionCheckTest : public FrmMainTest {
protected:
  static void SetUpTestSuite() { Server = new TTestServer("http_server.py"); }
  static void TearDownTestSuite() {
    delete Server;
    Server = nullptr;
  }
  // The check against a version.txt holding `reply`.
  void Check(const std::string& reply) {
    HostsListApplied = true;  // keeps the loopback host
    GameEnvironment.InternalHost = Server->HostPort();
    GameEnvironment.InternalBase =
        "/echo/" + QUrl::toPercentEncoding(QString::fromLatin1(reply.c_str())).toStdString() + "/";
    Messages.clear();
    Questions.clear();
    Main->actCheckNewVersion->trigger();
  }
  static TTestServer* Server;
};
TTestServer* VersionCheckTest::Server = nullptr;

TEST_F(VersionCheckTest, RepliesAreComparedAsText) {
  Make();
  std::vector<std::string> opened;
  SetShellOpenHook([&](const std::string& url) {
    opened.push_back(url);
    return true;
  });
  struct Case {
    std::string reply;
    std::vector<std::string> messages;
    bool asks;
  };
  const std::string latest = "The version you are running is the latest.";
  const Case cases[] = {
      {"1.0.0.0\r\nhttp://dl.example/\r\n", {latest}, false},  // the program's own version
      {"1.0.0.0\nhttp://dl.example/", {latest}, false},
      {"0.9.9.9\r\nhttp://dl.example/\r\nmore", {latest}, false},
      {"0.10.0.0\r\nhttp://dl.example/", {latest}, false},  // older
      {"9.0.0.0", {}, false},  // one line: nothing
      {"", {}, false},
      {"1.1.0.0\r\nhttp://dl.example/new\r\n", {}, true},
  };
  for (const Case& c : cases) {
    Answer = true;
    opened.clear();
    Check(c.reply);
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(Messages, c.messages);
    EXPECT_EQ(Questions.size(), c.asks ? 1u : 0u);
    if (c.asks) {
      EXPECT_EQ(Questions[0],
                "There is a new version (1.1.0.0) of this program available at http://dl.example/new. "
                "Would you like to go to that website to download the new version?");
      EXPECT_EQ(opened, std::vector<std::string>{"http://dl.example/new"});
    }
  }
  SetShellOpenHook(nullptr);

  GameEnvironment.InternalHost = "127.0.0.1:" + std::to_string(UnusedLoopbackPort());
  Messages.clear();
  Main->actCheckNewVersion->trigger();
  EXPECT_EQ(Messages, std::vector<std::string>{"Error accessing internet"});
}

TEST_F(VersionCheckTest, WaitWindowStandsDuringTheRequest) {
  Make();
  Main->show();
  std::string seen;
  bool visible = false;
  VersionFetchHook = [&](const std::string& url) {
    // the fetch runs on a worker thread: the look at the window is made on the GUI thread,
    // which keeps its event loop meanwhile
    QMetaObject::invokeMethod(
        qApp,
        [&] {
          TfrmPleaseWait* wait = TfrmPleaseWait::Current();
          if (wait) {
            visible = wait->isVisible();
            seen = wait->lblForm->text().toStdString();
          }
        },
        Qt::BlockingQueuedConnection);
    return HttpGetText(url);
  };
  Check("1.0.0.0\r\nx\r\n");
  EXPECT_TRUE(visible);
  EXPECT_EQ(seen, "Please wait while Kestrune checks the latest available version of this program.");
  EXPECT_EQ(TfrmPleaseWait::Current(), nullptr);
  EXPECT_EQ(Messages.size(), 1u);
}

TEST(FrmGameAboutTest, VersionFromTheProgramsOwnResource) {
  App();
  TfrmGameAbout about;
  about.show();
  EXPECT_EQ(about.windowTitle(), "About");
  EXPECT_EQ(about.lblVersion->text(), "Version  1.0.0.0");
  EXPECT_EQ(about.lblVersion2->text(), about.lblVersion->text());
  EXPECT_EQ(about.btnOk->text(), "Ok");
  EXPECT_EQ(about.Label3->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_FALSE(about.imgWindow->pixmap().isNull());
}

TEST(FrmPleaseWaitTest, MessageTexts) {
  App();
  TfrmPleaseWait wait;
  wait.SetMessage("publishes your highscore.");
  EXPECT_EQ(wait.lblForm->text(), "Please wait while Kestrune publishes your highscore.");
  EXPECT_EQ(wait.windowTitle(), "Kestrune");
}

}  // namespace

// ---- Bad local files against the real start-up --------------------------------------------
// Each row puts one bad thing in place of one of the program's files in a throwaway XDG tree,
// then runs the start-up the program runs (module start-up, main window, options window), ends
// it, and looks at what the player has: the program started, said what it must, and the good
// data is still there (or kept beside it when damaged).
namespace {

enum class Bad { Folder, Fifo, Empty, Garbage, Huge };
const char* BadName(Bad b) {
  switch (b) {
    case Bad::Folder: return "folder";
    case Bad::Fifo: return "FIFO";
    case Bad::Empty: return "0-byte";
    case Bad::Garbage: return "right-sized garbage";
    default: return "huge";
  }
}

std::string Garbage(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
  return s;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// The immutable flag stops even root from making, renaming or deleting entries of a folder.
bool SetImmutable(const std::string& dir, bool on) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  ::close(fd);
  return ok;
}

class StartUpWithBadFiles : public FrmMainTest {
protected:
  void SetUp() override {
    FrmMainTest::SetUp();
    setenv("XDG_DATA_HOME", (Dir + "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (Dir + "cache").c_str(), 1);
    User = Dir + "data/Orvalent/QV/";
    Common = Dir + "cache/Orvalent/";
    TResourceData codec;
    if (FindResourceData("DLL", "MP3CODEC", codec)) Codec.assign(reinterpret_cast<const char*>(codec.Data), codec.Size);
  }
  void TearDown() override {
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CACHE_HOME");
    SetLogFile("");
    FrmMainTest::TearDown();
  }
  void Fresh() {
    std::filesystem::remove_all(Dir + "data");
    std::filesystem::remove_all(Dir + "cache");
    ForceDirectories(User);
    ForceDirectories(Common);
    Messages.clear();
  }
  // The program's start-up and end, as main() runs them (without the event loop).
  void StartAndEnd() {
    ResetSaveFailures();  // a new process
    InitGlobals("");
    ASSERT_EQ(UserDataDir, User);
    ResetEnvironment(GameEnvironment);
    Make();
    QApplication::processEvents();  // messages queued for the shown menu
    Started = Main != nullptr;
    Options.reset();  // saves the settings
    Main.reset();     // ends the run in the log
    WaitForSaves();
    DoneGlobals();
    SetLogFile("");
  }
  void Put(const std::string& path, Bad bad, size_t rightSize, const std::string& hugeTail = {}) {
    switch (bad) {
      case Bad::Folder: ForceDirectories(path + "/inside"); break;
      case Bad::Fifo: ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); break;
      case Bad::Empty: WriteAll(path, ""); break;
      case Bad::Garbage: WriteAll(path, Garbage(rightSize, 7)); break;
      case Bad::Huge:
        // 300 MB that cost nothing on the disk (a hole), and possibly a real end.
        WriteAll(path, "");
        ASSERT_EQ(truncate(path.c_str(), 300 << 20), 0);
        if (!hugeTail.empty()) {
          std::ofstream f(path, std::ios::binary | std::ios::app);
          f << hugeTail;
        }
        break;
    }
  }
  bool IsFolder(const std::string& p) { return DirectoryExists(p); }
  bool IsFifo(const std::string& p) {
    struct stat st {};
    return lstat(p.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
  }
  std::string LogText() { return ReadAll(User + "qv.log"); }
  bool Logged(const std::string& line) { return LogText().find(line) != std::string::npos; }

  std::string User, Common, Codec;
  bool Started = false;
};

}  // namespace

TEST_F(StartUpWithBadFiles, EveryOwnFileInEveryBadShape) {
  ASSERT_FALSE(Codec.empty());
  TGameEnvironment good;
  ResetEnvironment(good);
  good.Alias = "Keeper";
  for (Bad bad : {Bad::Folder, Bad::Fifo, Bad::Empty, Bad::Garbage, Bad::Huge}) {
    SCOPED_TRACE(BadName(bad));
    const long rssBefore = PeakRssKb();
    const auto start = std::chrono::steady_clock::now();

    {
      SCOPED_TRACE("env.dat");
      Fresh();
      Put(User + "env.dat", bad, 2328);
      const std::string before = bad == Bad::Garbage ? ReadAll(User + "env.dat") : "";
      StartAndEnd();
      EXPECT_TRUE(Started);
      EXPECT_TRUE(Messages.empty());
      if (bad == Bad::Folder) {
        EXPECT_TRUE(IsFolder(User + "env.dat"));
        EXPECT_TRUE(Logged("* Warning: Unable to save environment file: "));
      } else {
        TGameEnvironment now;
        EXPECT_TRUE(LoadEnvironmentFile(User + "env.dat", now));  // the defaults, saved at the end
        EXPECT_EQ(now.StartLevel, 1);
      }
      if (bad == Bad::Empty || bad == Bad::Garbage || bad == Bad::Huge) {
        EXPECT_TRUE(Logged("* Warning: Damaged environment file kept as env.dat.damaged; the settings start from the defaults"));
        EXPECT_EQ(FileSize(User + "env.dat.damaged"), bad == Bad::Empty ? 0 : bad == Bad::Garbage ? 2328 : 300 << 20);
        if (bad == Bad::Garbage) {
          EXPECT_EQ(ReadAll(User + "env.dat.damaged"), before);
        }
      } else {
        EXPECT_FALSE(FileExists(User + "env.dat.damaged"));
      }
    }

    {
      SCOPED_TRACE("qv.log");
      Fresh();
      const std::string lastRun = "\r\n<*** Begin ***>\r\n* Error: what went wrong last time\r\n";
      Put(User + "qv.log", bad, 4096, lastRun);
      const std::string garbage = bad == Bad::Garbage ? ReadAll(User + "qv.log") : "";
      StartAndEnd();
      EXPECT_TRUE(Started);
      EXPECT_TRUE(Messages.empty());
      if (bad == Bad::Folder) {
        EXPECT_TRUE(IsFolder(User + "qv.log"));
      }
      if (bad == Bad::Fifo) {
        EXPECT_TRUE(IsFifo(User + "qv.log"));
      }
      if (bad == Bad::Empty || bad == Bad::Garbage || bad == Bad::Huge) {
        const std::string log = LogText();
        EXPECT_NE(log.find("* Checkpoint: Initialized"), std::string::npos);
        if (bad == Bad::Garbage) {
          // no run marker: every line is kept
          TStringList was, now;
          was.SetText(garbage);
          now.SetText(log);
          ASSERT_GT(now.Count(), was.Count());
          EXPECT_TRUE(std::equal(was.Strings.begin(), was.Strings.end(), now.Strings.begin()));
        }
        if (bad == Bad::Huge) {
          EXPECT_LT(log.size(), 5u << 20);
          EXPECT_NE(log.find("<*** Begin ***>\r\n* Error: what went wrong last time\r\n<*** Begin ***>"), std::string::npos);
        }
      }
    }

    {
      SCOPED_TRACE("l3codecx.acm");
      Fresh();
      Put(Common + "l3codecx.acm", bad, Codec.size());
      StartAndEnd();
      EXPECT_TRUE(Started);
      EXPECT_TRUE(Messages.empty());
      if (bad == Bad::Folder) {
        EXPECT_TRUE(IsFolder(Common + "l3codecx.acm"));
        EXPECT_TRUE(Logged("* Warning: Unable to write mp3 driver: "));
      } else {
        EXPECT_TRUE(ReadAll(Common + "l3codecx.acm") == Codec);
      }
    }

    {
      SCOPED_TRACE("music caches, replay packs, downloaded level");
      // The start-up leaves them alone; the game's readers take them without a hang or a crash.
      Fresh();
      const char* names[] = {"last.gmp", "mybest.gmp", "worldbest.gmp", "11.lvl"};
      for (const char* n : names) Put(User + n, bad, 1024);
      Put(Common + "KTGame.wav", bad, SoundTable[0].CachedSize);
      StartAndEnd();
      EXPECT_TRUE(Started);
      EXPECT_TRUE(Messages.empty());
      UserDataDir = User;
      for (const char* n : names) {
        SCOPED_TRACE(n);
        EXPECT_EQ(IsFolder(User + n), bad == Bad::Folder);
        EXPECT_EQ(IsFifo(User + n), bad == Bad::Fifo);
        EXPECT_EQ(TReplayPack(User + n).Count(), 0);
      }
      EXPECT_FALSE(IsWholeMusicCache(Common + "KTGame.wav", SoundTable[0].CachedSize));
      for (int32_t mode : {rmLastGame, rmWorldBest}) {
        int32_t next = 0;
        TMemoryStream record;
        EXPECT_THROW(OpenReplayRecord(mode, next, 0, record), EReplayError);
      }
      const bool levelCounted = bad != Bad::Folder && bad != Bad::Fifo;
      EXPECT_EQ(CountUserLevels(), levelCounted ? 11 : 10);
      TGameLogic g{TGameLogicSetup{}};
      g.LevelNumber = 11;
      EXPECT_THROW(g.LoadLevel(), Exception);
      EXPECT_EQ(IsFolder(User + "11.lvl"), bad == Bad::Folder);
      UserDataDir = User;
    }

    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));  // a hang guard; loaded machines are slow
    // AddressSanitizer keeps freed blocks in quarantine (256 MB) and adds its shadow: the peak
    // size is no measure of the reader's memory there; the plain build checks it.
    if (!kAddressSanitizer) {
      EXPECT_LT(PeakRssKb() - rssBefore, 150 * 1024) << "a huge file was read whole";
    }
  }
}

TEST_F(StartUpWithBadFiles, AReadOnlyDataFolderIsToldOnceAndKeepsTheFiles) {
  Fresh();
  ASSERT_TRUE(SaveEnvironmentFile(User + "env.dat", TGameEnvironment{}, *std::make_unique<std::string>()));
  WriteAll(User + "last.gmp", "replay");
  const std::string env = ReadAll(User + "env.dat");
  bool readOnly = false;
  if (RunningAsRoot()) readOnly = SetImmutable(User, true);
  else readOnly = chmod(User.c_str(), 0555) == 0;
  if (!readOnly) GTEST_SKIP() << "no way to make a read-only folder here";
  StartAndEnd();
  if (RunningAsRoot()) SetImmutable(User, false);
  else chmod(User.c_str(), 0755);
  EXPECT_TRUE(Started);
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].rfind("Kestrune cannot save in the folder " + User + " (", 0), 0u) << Messages[0];
  EXPECT_NE(Messages[0].find("Settings, highscores and replays of this session will not be saved."), std::string::npos);
  EXPECT_EQ(ReadAll(User + "env.dat"), env);
  EXPECT_EQ(ReadAll(User + "last.gmp"), "replay");
}

// A disk that takes no more bytes under the user folder, found only once the menu runs: the
// saves of a game and of the menu fail; the player is told once, after the game, in front of
// the menu, which file and why; every file that was there stays whole.
TEST_F(StartUpWithBadFiles, AFullDiskIsToldOnceInFrontOfTheMenuAndHarmsNoFile) {
  enum class Full { SmallFileSystem, FileSizeLimit };
  for (Full full : {Full::SmallFileSystem, Full::FileSizeLimit}) {
    SCOPED_TRACE(full == Full::SmallFileSystem ? "a full tmpfs" : "RLIMIT_FSIZE");
    Fresh();
    const bool mounted = full == Full::SmallFileSystem && RunningAsRoot() &&
                         mount("kt-full", User.c_str(), "tmpfs", 0, "size=256k") == 0;
    if (full == Full::SmallFileSystem && !mounted) {
      std::printf("no tmpfs could be mounted here: only the file size limit is tried\n");
      continue;
    }
    TGameEnvironment mine;
    ResetEnvironment(mine);
    mine.Alias = "Keeper";
    std::string error;
    ASSERT_TRUE(SaveEnvironmentFile(User + "env.dat", mine, error));
    WriteAll(User + "last.gmp", std::string(3000, 'l'));
    WriteAll(User + "mybest.gmp", std::string(3000, 'b'));
    const std::string env = ReadAll(User + "env.dat");
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    if (mounted) {
      const int fd = open((User + "filler").c_str(), O_WRONLY | O_CREAT, 0644);
      const std::string block(4096, 'x');
      while (write(fd, block.data(), block.size()) > 0) {
      }
      close(fd);
    }
    InitGlobals("");
    ASSERT_EQ(UserDataDir, User);
    ResetSaveFailures();
    ResetEnvironment(GameEnvironment);
    Make();
    QApplication::processEvents();
    Main->UpdateMenuState();
    ASSERT_EQ(Main->MenuState, msReady);
    EXPECT_TRUE(Messages.empty());
    if (!mounted) {
      signal(SIGXFSZ, SIG_IGN);
      rlimit small = old;
      small.rlim_cur = 1000;  // env.dat and the replays are larger
      setrlimit(RLIMIT_FSIZE, &small);
    }
    size_t toldDuringGame = 0;
    RunGameHook = [&](QWidget* owner, const TGameRequest&) {
      owner->setEnabled(false);  // as the game window keeps the menu out of reach
      GameEnvironment.LevelsFinished = 7;
      SaveSettings();  // a level's end
      CopyBestReplay(User + "last.gmp", User + "mybest.gmp");
      QApplication::processEvents();
      Main->Timer1Timer();
      toldDuringGame = Messages.size();
      owner->setEnabled(true);
      return std::string();
    };
    Main->StartGame();
    EXPECT_EQ(toldDuringGame, 0u);
    ASSERT_EQ(Messages.size(), 1u);
    const std::string why = mounted ? "No space left on device" : "File too large";
    EXPECT_EQ(Messages[0], "Kestrune could not save the file " + User + "env.dat (" + why +
                               ").\rSettings, highscores and replays of this session may not be saved.");
    Answer = true;
    Main->actDeleteHighscore->trigger();  // fails again: not told again
    Main->Timer1Timer();
    QApplication::processEvents();
    EXPECT_EQ(Messages.size(), 1u);
    Options.reset();
    Main.reset();
    WaitForSaves();
    DoneGlobals();
    SetLogFile("");
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(ReadAll(User + "env.dat"), env);
    EXPECT_FALSE(FileExists(User + "mybest.gmp"));  // a best game that could not be copied is gone
    EXPECT_EQ(ReadAll(User + "last.gmp"), std::string(3000, 'l'));
    for (const auto& e : std::filesystem::directory_iterator(User))
      EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos) << e.path();
    if (mounted) {
      EXPECT_EQ(umount2(User.c_str(), MNT_DETACH), 0);
    }
  }
}

TEST_F(StartUpWithBadFiles, AFullDiskLosesNothingAndLeavesNoHalfFile) {
  Fresh();
  TGameEnvironment mine;
  ResetEnvironment(mine);
  mine.Alias = "Keeper";
  std::string error;
  ASSERT_TRUE(SaveEnvironmentFile(User + "env.dat", mine, error));
  const std::string env = ReadAll(User + "env.dat");
  std::string log = "<*** Begin ***>\r\n* Info: a\r\n<*** End ***>\r\n<*** Begin ***>\r\n";
  while (log.size() < 3000) log += "* Info: b\r\n";
  log += "<*** End ***>\r\n";
  WriteAll(User + "qv.log", log);
  // A disk that takes no file past 1,000 bytes: the codec file, the settings, the log's
  // rewrite and its appends all fail.
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 1000;
  setrlimit(RLIMIT_FSIZE, &small);
  StartAndEnd();
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_TRUE(Started);
  EXPECT_EQ(ReadAll(User + "env.dat"), env);
  TGameEnvironment now;
  ASSERT_TRUE(LoadEnvironmentFile(User + "env.dat", now));
  EXPECT_EQ(now.Alias, "Keeper");
  EXPECT_FALSE(std::filesystem::exists(Common + "l3codecx.acm"));  // no 0-byte codec file
  EXPECT_TRUE(ReadAll(User + "qv.log") == log);  // the cut could not be written: the log stays whole
  for (const std::string& d : {User, Common})
    for (const auto& e : std::filesystem::directory_iterator(d))
      EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos) << e.path();
}

// A link planted at each of the program's own files, pointing out of its folders at a file with
// known bytes (small, or larger than the log ever keeps) or at nothing. The start-up, the game's
// saves and the readers never follow it: the targets keep their bytes and times, the links are
// replaced by the program's own files (the log started afresh, env.dat's link kept aside as
// env.dat.damaged like a damaged file, the codec written) or left in place where nothing writes.
TEST_F(StartUpWithBadFiles, ALinkAtAnOwnFileIsNeverFollowed) {
  ASSERT_FALSE(Codec.empty());
  enum class Target { Small, Large, Missing };
  for (Target kind : {Target::Small, Target::Large, Target::Missing}) {
    SCOPED_TRACE(kind == Target::Small ? "small target" : kind == Target::Large ? "large target" : "dangling");
    Fresh();
    const std::string outside = Dir + "outside/";
    std::filesystem::remove_all(outside);
    ForceDirectories(outside);
    struct Planted {
      std::string link, target, bytes;
    };
    std::vector<Planted> planted;
    for (const std::string& link : {User + "qv.log", User + "env.dat", Common + "l3codecx.acm", User + "last.gmp",
                                    User + "mybest.gmp", User + "worldbest.gmp", User + "11.lvl"}) {
      Planted p{link, outside + ExtractFileName(link), ""};
      if (kind != Target::Missing) {
        // Lines the error lookup would take for the last run's errors, were they read.
        std::string text = "<*** Begin ***>\r\n* Error: secret of " + ExtractFileName(link) + "\r\n";
        if (kind == Target::Large)
          while (text.size() < (6u << 20)) text += "* Error: more secret lines of the other file\r\n";
        p.bytes = text;
        WriteAll(p.target, p.bytes);
      }
      ASSERT_EQ(symlink(p.target.c_str(), link.c_str()), 0);
      planted.push_back(p);
    }
    // Old enough that a write would change the time.
    for (const Planted& p : planted) {
      if (kind == Target::Missing) continue;
      timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
      ASSERT_EQ(utimensat(AT_FDCWD, p.target.c_str(), old, 0), 0);
    }

    StartAndEnd();
    EXPECT_TRUE(Started);
    EXPECT_TRUE(Messages.empty());
    // The log: a new one, that says why, with nothing of the target in it.
    EXPECT_FALSE(IsSymbolicLink(User + "qv.log"));
    const std::string log = LogText();
    EXPECT_EQ(log.rfind("<*** Begin ***>\r\n* Warning: The trace log was a link to another file; a new log was started\r\n", 0), 0u);
    EXPECT_NE(log.find("* Checkpoint: Initialized"), std::string::npos);
    EXPECT_EQ(log.find("secret"), std::string::npos);
    SetLogFile(User + "qv.log");
    EXPECT_FALSE(LogHasErrors());
    EXPECT_EQ(GetLogText().find("secret"), std::string::npos);
    SetLogFile("");
    // env.dat: the defaults, saved as a file of ours; the link kept aside.
    EXPECT_FALSE(IsSymbolicLink(User + "env.dat"));
    TGameEnvironment now;
    EXPECT_TRUE(LoadEnvironmentFile(User + "env.dat", now));
    EXPECT_TRUE(IsSymbolicLink(User + "env.dat.damaged"));
    EXPECT_TRUE(Logged("* Warning: Damaged environment file kept as env.dat.damaged; the settings start from the defaults"));
    // The codec file: written.
    EXPECT_FALSE(IsSymbolicLink(Common + "l3codecx.acm"));
    EXPECT_TRUE(ReadAll(Common + "l3codecx.acm") == Codec);

    // The readers: a link reads as no replay and no level.
    UserDataDir = User;
    for (const char* n : {"last.gmp", "mybest.gmp", "worldbest.gmp"}) EXPECT_EQ(TReplayPack(User + n).Count(), 0) << n;
    for (int32_t mode : {rmLastGame, rmWorldBest}) {
      int32_t next = 0;
      TMemoryStream record;
      EXPECT_THROW(OpenReplayRecord(mode, next, 0, record), EReplayError);
    }
    EXPECT_EQ(CountUserLevels(), 10);
    {
      TGameLogic g{TGameLogicSetup{}};
      g.LevelNumber = 11;
      EXPECT_THROW(g.LoadLevel(), Exception);
    }
    // The game's saves replace the replay links with its own files.
    {
      SetLogFile(User + "qv.log");
      TGameLogic game{TGameLogicSetup{}};
      game.StartGame();
      for (int i = 0; i < 120; ++i) game.SimulationStep(1);
      ASSERT_TRUE(game.IsRunning());
      game.SaveLastReplay();
      CopyBestReplay(User + "last.gmp", User + "mybest.gmp");
      WaitForSaves();
      SetLogFile("");
    }
    for (const char* n : {"last.gmp", "mybest.gmp"}) {
      EXPECT_FALSE(IsSymbolicLink(User + n)) << n;
      EXPECT_EQ(TReplayPack(User + n).Count(), 1) << n;
    }
    EXPECT_TRUE(IsSymbolicLink(User + "worldbest.gmp"));  // nothing here writes it
    EXPECT_TRUE(IsSymbolicLink(User + "11.lvl"));

    for (const Planted& p : planted) {
      SCOPED_TRACE(p.link);
      if (kind == Target::Missing) {
        EXPECT_FALSE(std::filesystem::exists(p.target));
        continue;
      }
      EXPECT_TRUE(ReadAll(p.target) == p.bytes);
      struct stat st {};
      ASSERT_EQ(stat(p.target.c_str(), &st), 0);
      EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
      EXPECT_EQ(st.st_nlink, 1u);
    }
  }
}
