#include "shell/frmMain.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include "engine/D3DTestSupport.h"
#include "base/Exceptions.h"
#include "engine/Inet.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
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
  static QApplication* app = new QApplication(argc, argv);
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

TEST_F(FrmMainTest, CodecFileIsWrittenOnceAndNeverReplaced) {
  WriteAll(Dir + "l3codecx.acm", "mine");
  Make();
  EXPECT_EQ(ReadAll(Dir + "l3codecx.acm"), "mine");
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
  EXPECT_TRUE(Main->BrowserShown);
  EXPECT_EQ(Main->MainBrowser->geometry(), QRect(QPoint(102, 62), QPoint(393, 232)));
  EXPECT_EQ(Main->MainBrowser->LastURL(), "http://127.0.0.1:9/kestruneinternal/index.asp?id=7");
  EXPECT_FALSE(Main->NavigatePending);
  Main->Timer1Timer();  // no second navigation and no second lookup
  EXPECT_EQ(lookups, 1);
  connected = false;
  Main->Timer1Timer();
  EXPECT_FALSE(Main->BrowserShown);
  EXPECT_EQ(Main->MainBrowser->geometry(), QRect(0, 0, 0, 0));
  SetConnectedStateHook(nullptr);
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
