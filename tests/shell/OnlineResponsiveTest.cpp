// Every online service through the UI the program installs (MenuOnlineUI, the hooks of
// ResetMenuServices, the main window's own version check), against hostile loopback servers:
// the GUI's event loop keeps running during each request, Cancel and closing end it at once (the
// level download after the pair in progress, which its time-outs bound),
// and no reply reaches the screen as markup, the disk outside the user folder, or the log whole.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <chrono>
#include <dirent.h>
#include <map>

#include "UiDriver.h"
#include "base/SysUtils.h"
#include "base/Win1252.h"
#include "engine/D3DTestSupport.h"
#include "engine/Inet.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "game/ReplayPack.h"
#include "game/ServerReplies.h"
#include "game/UserFiles.h"
#include "platform/ShellServices.h"
#include "shell/Downloads.h"
#include "shell/EmailCard.h"
#include "shell/ErrorSolutions.h"
#include "shell/HighscorePublish.h"
#include "shell/MenuServices.h"
#include "shell/OnlineServices.h"
#include "shell/QuitSignals.h"
#include "shell/RequestRunner.h"
#include "shell/frmMain.h"
#include "shell/frmOptions.h"
#include "shell/frmPleaseWait.h"
#include "support/TestServers.h"
#include "support/TestSupport.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "test_shell";
  static char* argv[] = {name, nullptr};
  static QApplication* app = QApplication::instance() ? static_cast<QApplication*>(QApplication::instance())
                                                       : new QApplication(argc, argv);
  return *app;
}

using Clock = std::chrono::steady_clock;

std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") files[n] = DirectoryExists(dir + n) ? "<dir>" : ReadAll(dir + n);
    }
    closedir(d);
  }
  return files;
}

class OnlineServicesTest : public D3DFakeTest {
public:
  void SetUp() override {
    App();
    D3DFakeTest::SetUp();
    Dir = TestDir();
    User = Dir + "user/";
    Root = Dir + "srv/";
    ForceDirectories(User);
    ForceDirectories(Root);
    UserDataDir = User;
    CommonDataDir = User;
    SetLogFile(User + "qv.log");
    Server = std::make_unique<TTestServer>("http_server.py", std::vector<std::string>{"--root", Root});
    ResetEnvironment(GameEnvironment);
    ResetMenuServices();
    ResetSaveFailures();  // another test's failed save is not this run's
    PointAtServer();
    ConnectionTestHook = nullptr;
    SetShellOpenHook([this](const std::string& url) {
      Opened.push_back(url);
      return true;
    });
    Driver = std::make_unique<TUiDriver>();
    // the program's message hooks below the shell, as main() installs them
    ErrorMessageHook = [](const std::string& text) { ShowPlainMessageBox(nullptr, TBoxKind::Critical, text); };
    SetMessageBoxHook([](const std::string& text, TMessageKind) {
      ShowPlainMessageBox(nullptr, TBoxKind::Information, text);
    });
  }
  void TearDown() override {
    Driver.reset();
    if (QWidget* w = QApplication::activeModalWidget()) w->close();
    Main.reset();
    Options.reset();
    if (HostsListThread) HostsListThread->CancelAndWait(5000);
    HostsListThread.reset();
    SetRequestTimeouts(15000, 60000);
    ErrorMessageHook = nullptr;
    SetMessageBoxHook(nullptr);
    SetShellOpenHook(nullptr);
    ResetMenuServices();
    HostsListApplied = false;
    Server.reset();
    Mail.reset();
    unsetenv("KESTRUNE_MAIL_SERVER");
    UserDataDir.clear();
    ResetEnvironment(GameEnvironment);
    D3DFakeTest::TearDown();
  }
  void Serve(const std::string& path, const std::string& bytes) {
    ForceDirectories(ExtractFilePath(Root + path));
    WriteAll(Root + path, bytes);
  }
  void Behave(const std::string& path, const std::string& how) { Serve(path + ".behave", how); }
  bool Requested(const std::string& path) {
    return FileExists(Root + "requests.log") && ReadAll(Root + "requests.log").find(path) != std::string::npos;
  }
  TfrmMain& MainWindow() {
    if (!Main) {
      Main = std::make_unique<TfrmMain>(QStringList{});
      Options = std::make_unique<TfrmGameOptions>(Main->Direct3D());
      Main->SetOptionsWindow(Options.get());
      PointAtServer();  // the options window loaded the settings file
    }
    return *Main;
  }
  void PointAtServer() {
    GameEnvironment.HighScoreHost = Server->HostPort();
    GameEnvironment.HighScoreBase = "/hs/";
    GameEnvironment.InternalHost = Server->HostPort();
    GameEnvironment.InternalBase = "/int/";
    GameEnvironment.Alias = "Zed";
    GameEnvironment.UserID = "u1";
    GameEnvironment.Highscores[0].Score = 1234;
    HostsListApplied = true;
  }
  void StoreBestGame() {
    TReplayPack pack(User + "mybest.gmp");
    TReplayLevelRecord r;
    r.LevelNumber = 1;
    pack.AddReplay(1, [&](TStream& s) { r.WriteToStream(s); });
    pack.SaveToFile();
  }
  void StoreWorldBest() {
    TReplayPack pack(User + "worldbest.gmp");
    TReplayLevelRecord r;
    r.LevelNumber = 1;
    r.GameTime = 20;
    r.Input.AddInput(kInputFire | 1);  // a pack that can be played
    pack.AddReplay(1, [&](TStream& s) { r.WriteToStream(s); });
    pack.SaveToFile();
  }

  std::string Dir, User, Root;
  std::unique_ptr<TTestServer> Server, Mail;
  std::unique_ptr<TUiDriver> Driver;
  std::unique_ptr<TfrmMain> Main;
  std::unique_ptr<TfrmGameOptions> Options;
  std::vector<std::string> Opened;
};

// One online service as the program runs it, and how a user stops it.
enum class TStop { WaitWindowCancel, WaitWindowClose, DialogCancel, DialogClose };
struct TService {
  const char* Name;
  const char* Path;  // the request under the server folder that turns hostile
  bool WaitWindow;   // stopped through the wait window (else through the service's own dialog)
  // Serves what comes before the hostile request and readies the settings.
  std::function<void(OnlineServicesTest&)> Prepare;
  // Runs the service through the program's UI; returns when it has ended.
  std::function<void(OnlineServicesTest&)> Run;
  // The reply that carries a hostile value in the service's format.
  std::function<std::string(const std::string& value)> Reply;
};

std::vector<TService> Services() {
  auto menuUi = [] { return MenuOnlineUI(nullptr); };
  return {
      {"hosts list", "kthosts.txt", true,
       [](OnlineServicesTest& t) {
         GameEnvironment.HighScoreHost.clear();
         GameEnvironment.InternalHost.clear();
         HostsListApplied = false;
         HostsListThread = std::make_unique<TThreadedHttpGet>("http://" + t.Server->HostPort() + "/kthosts.txt");
         HostsListThread->TimeoutMs = 3000;
       },
       [](OnlineServicesTest&) { CheckInternet(true); },
       [](const std::string& v) { return "HighScoreHost=" + v + "\nInternalBase=" + v + "\nSupportURL=" + v + "\n"; }},
      {"version check", "int/version.txt", true, [](OnlineServicesTest& t) { t.MainWindow(); },
       [](OnlineServicesTest& t) { t.MainWindow().actCheckNewVersionExecute(); },
       [](const std::string& v) { return "9.9.9.9 " + v + "\r\n" + v + "\r\n"; }},
      {"error list", "int/errors.txt", true,
       [](OnlineServicesTest& t) {
         Log("Boom in the engine", ltError);
         t.Driver->Answers = {true};
       },
       [menuUi](OnlineServicesTest&) {
         TErrorSolutions solutions;
         bool armed = true;
         solutions.LookUpErrorSolution(armed, true, menuUi());
       },
       [](const std::string& v) { return v + ",Y,Boom\r\n"; }},
      {"highscore publication", "hs/score3.php", true, [](OnlineServicesTest&) {},
       [menuUi](OnlineServicesTest&) { PublishHighscore(false, menuUi()); },
       [](const std::string& v) { return "SEITE=" + v + "\r\nID=" + v + "\r\nUpload=" + v + "\r\n"; }},
      {"highscore upload", "xscore.php", true,
       [](OnlineServicesTest& t) {
         t.Serve("hs/score3.php", "SEITE=7\r\nUpload=f\r\n");
         t.StoreBestGame();
       },
       [menuUi](OnlineServicesTest&) { PublishHighscore(false, menuUi()); },
       [](const std::string& v) { return v; }},
      {"e-mail card", "card.php", true, [](OnlineServicesTest&) {},
       [menuUi](OnlineServicesTest&) { SendEmailCard("friend@home.example", "Hi", "Zed", "zed@home.example", menuUi()); },
       [](const std::string& v) { return v; }},
      {"error report mail", "", true,
       [](OnlineServicesTest& t) {
         t.Mail = std::make_unique<TTestServer>("smtp_sink.py", std::vector<std::string>{t.Dir, "--stall"});
         setenv("KESTRUNE_MAIL_SERVER", t.Mail->HostPort().c_str(), 1);
       },
       [](OnlineServicesTest&) { ErrorReportHook(nullptr, GetLogText()); },
       nullptr},
      // A stop lets the pair in progress finish: its own time-outs end a hostile one.
      {"level download", "int/levels/11.scn", false, [](OnlineServicesTest&) { SetRequestTimeouts(2000, 3000); },
       [menuUi](OnlineServicesTest&) { ShowDownloadLevelsDialog(nullptr, menuUi()); },
       [](const std::string& v) { return v; }},
      {"world's best check", "hs/firstplace.php", false, [](OnlineServicesTest&) {},
       [menuUi](OnlineServicesTest&) { ExecuteDownloadWorldBest(nullptr, menuUi()); },
       [](const std::string& v) { return v; }},
      {"world's best download", "hs/upload/best.gmp", false,
       [](OnlineServicesTest& t) { t.Serve("hs/firstplace.php", "best.gmp"); },
       [menuUi](OnlineServicesTest&) { ExecuteDownloadWorldBest(nullptr, menuUi()); },
       [](const std::string& v) { return v; }},
  };
}

// Clicks later, from the event loop: a click that runs a request must not run inside the
// driver's own timer call.
void ClickSoon(QAbstractButton* b) {
  QTimer::singleShot(0, b, [b] { b->click(); });
}

// Writes a report in the error-report dialog and sends it, once.
bool SendReport(QWidget* w, const QString& text) {
  auto* form = qobject_cast<TfrmErrorReportPublish*>(w);
  if (!form) return false;
  if (form->property("sent").toBool()) return true;
  form->setProperty("sent", true);
  form->Memo1->setPlainText(text);
  form->edtEmail->setText("me@home.example");
  ClickSoon(form->findChild<QPushButton*>());
  return true;
}

// Presses the way out of `window` once it has stood for 600 ms and the heartbeat has ticked three
// times beside it; remembers when.
struct TStopper {
  TStop How;
  Clock::time_point Seen{}, Pressed{};
  bool Done = false;
  bool BusyAtStop = false;  // a request was running when the user stopped it (no game may start)
  std::function<bool()> Ready = nullptr;  // the request to stop has reached the server
  const int* Ticks = nullptr;             // the heartbeat's count
  int TicksAtSeen = 0;
  void operator()(QWidget* w) {
    if (SendReport(w, "It froze")) return;
    if (Done) {
      // after the stop a finished dialog may still wait for its OK
      if (auto* levels = qobject_cast<TfrmDownloadLevels*>(w); levels && !levels->Running && levels->isVisible())
        ClickSoon(levels->btnOk);
      return;
    }
    if (Seen == Clock::time_point{}) {
      Seen = Clock::now();
      TicksAtSeen = Ticks ? *Ticks : 0;
    }
    if (Clock::now() - Seen < std::chrono::milliseconds(600)) return;
    if (Ticks && *Ticks < TicksAtSeen + 3) return;  // the menu's timers run while the window stands
    // a loaded machine may take longer to send it (the upload reads the best game first)
    if (Ready && !Ready() && Clock::now() - Seen < std::chrono::seconds(20)) return;
    Done = true;
    Pressed = Clock::now();
    BusyAtStop = TRequestRunner::Busy();
    if (auto* wait = qobject_cast<TfrmPleaseWait*>(w)) {
      if (How == TStop::WaitWindowCancel) ClickSoon(wait->btnCancel);
      else QTimer::singleShot(0, wait, [wait] { wait->close(); });
    } else if (auto* levels = qobject_cast<TfrmDownloadLevels*>(w)) {
      if (How == TStop::DialogCancel) ClickSoon(levels->btnOk);
      else QTimer::singleShot(0, levels, [levels] { levels->close(); });
    } else if (auto* best = qobject_cast<TfrmDownloadWorldBest*>(w)) {
      if (How == TStop::DialogCancel) ClickSoon(best->btnCancel);
      else QTimer::singleShot(0, best, [best] { best->close(); });
    } else {
      Done = false;  // some other window: not ours to stop
    }
  }
};

TEST_F(OnlineServicesTest, StalledAndTricklingServersNeitherFreezeTheMenuNorOutlastCancel) {
  for (const TService& s : Services()) {
    for (const char* how : {"stall", "trickle"}) {
      SCOPED_TRACE(std::string(s.Name) + " / " + how);
      if (!*s.Path && how == std::string("trickle")) continue;  // the mail sink only stalls
      std::remove((Root + "requests.log").c_str());
      // time-outs beyond the watch below: a request that outlasts its stop runs on until the
      // server gives up (120 s; the mail until its own 60 s)
      SetRequestTimeouts(110000, 110000);
      s.Prepare(*this);
      if (*s.Path) Behave(s.Path, how);
      TStopper stopper{s.WaitWindow ? (how == std::string("stall") ? TStop::WaitWindowCancel : TStop::WaitWindowClose)
                                    : (how == std::string("stall") ? TStop::DialogCancel : TStop::DialogClose)};
      if (*s.Path) stopper.Ready = [this, &s] { return Requested(std::string("/") + s.Path); };
      THeartbeat beat;
      stopper.Ticks = &beat.Ticks;
      Driver->OnWindow = [&stopper](QWidget* w) { stopper(w); };
      const auto start = Clock::now();
      s.Run(*this);
      const auto end = Clock::now();
      beat.Stop();
      Driver->OnWindow = nullptr;
      std::remove((Root + s.Path + std::string(".behave")).c_str());
      Driver->Boxes.clear();
      ASSERT_TRUE(stopper.Done) << "the service never showed a window to stop it";
      EXPECT_TRUE(stopper.BusyAtStop);
      if (*s.Path) {
        EXPECT_TRUE(Requested(std::string("/") + s.Path));
      }
      Mail.reset();
      const auto afterStop = std::chrono::duration_cast<std::chrono::milliseconds>(end - stopper.Pressed).count();
      const auto total = std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
      std::printf("%-24s %-8s: ran %5lld ms, ended %4lld ms after the stop, largest timer gap %4lld ms\n", s.Name, how,
                  static_cast<long long>(total), static_cast<long long>(afterStop),
                  static_cast<long long>(beat.MaxGap));
      // watches with a wide margin, a sanitizer build on a loaded machine included (a stop ends
      // the request at once, a level's pair by its own 3 s time-outs): the faults ran on or froze
      // the menu until the request's time-out
      EXPECT_LT(afterStop, 45000);
      EXPECT_LT(beat.MaxGap, 30000);
      EXPECT_GE(beat.Ticks, stopper.TicksAtSeen + 3);  // the timer ran during the request
      EXPECT_FALSE(TRequestRunner::Busy());
      Main.reset();
      Options.reset();
      if (HostsListThread) HostsListThread->CancelAndWait(5000);
      HostsListThread.reset();
      PointAtServer();
      SetRequestTimeouts(15000, 60000);
    }
  }
}

}  // namespace

namespace {

// One hostile reply: a server behaviour, or a value put into the service's own reply format.
struct THostile {
  const char* Name;
  const char* Behave;  // "" for a served file
  std::string Value;   // the value (formatted by the service) or, for raw replies, the bytes
  bool Raw;
};

std::string Garbage() {
  std::string g;
  uint32_t x = 12345;
  for (int i = 0; i < 3000; ++i) {
    x = x * 1103515245u + 12345u;
    g += static_cast<char>(x >> 24);
  }
  return g;
}

const std::vector<THostile>& Hostiles() {
  static const std::vector<THostile> list = {
      {"garbage", "", Garbage(), true},
      {"empty", "", "", true},
      {"huge", "huge", "", true},
      {"never-ending", "endless", "", true},
      {"slow trickle", "trickle", "", true},
      {"redirect loop", "redirect", "", true},
      {"redirect to a file", "redirect-file", "", true},
      {"path separators", "", "../../escape/x.gmp", false},
      {"control characters", "", std::string("a\x01" "b\x7f" "c\td\x1b[31me"), false},
      {"markup", "", "<a href=\"file:///etc/passwd\">click</a><b>bold</b>", false},
      {"non-http scheme", "", "file:///etc/passwd", false},
  };
  return list;
}

class HostileReplies : public OnlineServicesTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(HostileReplies, PlainTextErrorsNothingWrittenOutsideASmallLogAndIntactFiles) {
  const TService s = Services()[GetParam()];
  SetRequestTimeouts(1500, 2500);  // the trickle ends by its time-out
  StoreBestGame();
  StoreWorldBest();
  const auto before = Snapshot(User);
  for (const THostile& h : Hostiles()) {
    SCOPED_TRACE(std::string(s.Name) + " / " + h.Name);
    Driver->Boxes.clear();
    Driver->DefaultAnswer = true;  // go as far as the service goes
    Driver->Answers.clear();
    Opened.clear();
    s.Prepare(*this);
    if (std::string(s.Name) == "error list") Driver->Answers = {true, false, false};
    if (*h.Behave) Behave(s.Path, h.Behave);
    else Serve(s.Path, h.Raw ? h.Value : s.Reply(h.Value));
    Driver->OnWindow = [](QWidget* w) {
      if (auto* levels = qobject_cast<TfrmDownloadLevels*>(w); levels && !levels->Running && levels->isVisible())
        ClickSoon(levels->btnOk);
      if (auto* best = qobject_cast<TfrmDownloadWorldBest*>(w); best && best->Finished && best->isVisible())
        ClickSoon(best->btnCancel);
    };
    s.Run(*this);
    Driver->OnWindow = nullptr;
    std::remove((Root + s.Path + std::string(".behave")).c_str());
    std::remove((Root + s.Path).c_str());

    for (const TUiDriver::TBox& b : Driver->Boxes) {
      EXPECT_EQ(b.Format, Qt::PlainText) << b.Text;
      EXPECT_LT(b.Text.size(), 1000u);
      EXPECT_EQ(b.Text.find_first_of(std::string("\x01\x1b\x7f", 3)), std::string::npos) << b.Text;
    }
    for (const std::string& url : Opened) EXPECT_TRUE(IsWebAddress(url)) << url;
    // nothing beside the two folders, and in the user folder only the program's own files
    EXPECT_EQ(Snapshot(Dir).size(), 2u);
    for (const auto& [name, bytes] : Snapshot(User)) {
      if (name == "qv.log" || name == "env.dat" || name == "11.scn" || name == "l3codecx.acm") continue;
      ASSERT_TRUE(before.count(name)) << "unexpected file " << name;
      EXPECT_TRUE(before.at(name) == bytes) << name << " changed";
    }
    const std::string log = ReadAll(User + "qv.log");
    EXPECT_LT(log.size(), 64u * 1024u);  // the whole run's log stays small
    EXPECT_EQ(log.find("?cs="), std::string::npos);  // the query holds the player's record
    TGameEnvironment saved;
    if (FileExists(User + "env.dat")) {
      EXPECT_TRUE(LoadEnvironmentFile(User + "env.dat", saved));
    }
    EXPECT_TRUE(IsHostValue(GameEnvironment.HighScoreHost)) << GameEnvironment.HighScoreHost;
    EXPECT_TRUE(IsBaseValue(GameEnvironment.InternalBase)) << GameEnvironment.InternalBase;
    EXPECT_EQ(GameEnvironment.UserID.find_first_of("/.<|\x01"), std::string::npos) << GameEnvironment.UserID;

    Main.reset();
    Options.reset();
    if (HostsListThread) HostsListThread->CancelAndWait(5000);
    HostsListThread.reset();
    std::remove((User + "11.scn").c_str());
    PointAtServer();
  }
}

std::vector<size_t> HttpServices() {
  std::vector<size_t> out;
  const auto all = Services();
  for (size_t i = 0; i < all.size(); ++i)
    if (*all[i].Path) out.push_back(i);
  return out;
}

INSTANTIATE_TEST_SUITE_P(EveryService, HostileReplies, ::testing::ValuesIn(HttpServices()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           std::string n = Services()[info.param].Name;
                           for (char& c : n)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

}  // namespace

namespace {

// Quoted-printable as the mail client writes it: "=XX" escapes and "=" soft line breaks.
std::string DecodeQuotedPrintable(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '=') {
      out += s[i];
    } else if (i + 2 < s.size() && s[i + 1] == '\r' && s[i + 2] == '\n') {
      i += 2;
    } else if (i + 2 < s.size()) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    }
  }
  return out;
}

TEST_F(OnlineServicesTest, YesToTheReportQuestionOpensTheReportDialogAndMailsWindows1252) {
  Mail = std::make_unique<TTestServer>("smtp_sink.py", std::vector<std::string>{Dir});
  setenv("KESTRUNE_MAIL_SERVER", Mail->HostPort().c_str(), 1);
  Serve("int/errors.txt", "crash.html,Y,Boom in\r\n");
  Log("Boom in the engine", ltError);
  // the error lookup as the main window's timer runs it, over an active menu window
  QWidget owner;
  owner.show();
  owner.activateWindow();
  for (const auto until = Clock::now() + std::chrono::seconds(60); !owner.isActiveWindow() && Clock::now() < until;)
    QApplication::processEvents(QEventLoop::AllEvents, 10);  // a hang guard: activation comes by event
  ASSERT_TRUE(owner.isActiveWindow());
  const QString typed = QString::fromUtf8("Grüße: the café crashed – 5 €");
  bool dialogShown = false;
  Driver->Answers = {true, true};  // look it up; yes, send a report
  Driver->OnWindow = [&](QWidget* w) {
    if (qobject_cast<TfrmErrorReportPublish*>(w)) dialogShown = true;
    SendReport(w, typed);
  };
  std::vector<std::string> boxOwners;  // each box's owner window, by class
  Driver->OnBox = [&](QMessageBox* box) {
    boxOwners.push_back(box->parentWidget() ? box->parentWidget()->window()->metaObject()->className() : "none");
  };
  bool armed = true;
  ErrorSolutionLookupHook(&owner, armed);
  Driver->OnWindow = nullptr;
  Driver->OnBox = nullptr;

  ASSERT_EQ(boxOwners.size(), Driver->Boxes.size());
  ASSERT_FALSE(boxOwners.empty());
  EXPECT_EQ(boxOwners.back(), "TfrmErrorReportPublish");  // the thanks stand over the report dialog
  EXPECT_TRUE(Driver->Asked("Would you like to send us an error report?"));
  EXPECT_TRUE(dialogShown);
  EXPECT_EQ(Opened, std::vector<std::string>{"http://" + Server->HostPort() + "/int/errors/crash.html"});
  ASSERT_TRUE(FileExists(Dir + "mail-1.eml"));
  const std::string mail = ReadAll(Dir + "mail-1.eml");
  EXPECT_NE(mail.find("charset=windows-1252"), std::string::npos);
  const std::string marker = "quoted-printable\r\n\r\n";
  const size_t start = mail.find(marker);
  ASSERT_NE(start, std::string::npos);
  const size_t end = mail.find("\r\n--", start);
  const std::string body = DecodeQuotedPrintable(mail.substr(start + marker.size(), end - start - marker.size()));
  const std::string expected = Utf8ToCp1252(typed.toStdString()) + "\r\n*****Log file *****\r\n";  // CR LF on the wire
  EXPECT_NE(body.find(expected), std::string::npos) << body.substr(0, 400);
  EXPECT_EQ(Cp1252ToUtf8(Utf8ToCp1252(typed.toStdString())), typed.toStdString());  // every character has a byte
  ASSERT_FALSE(Driver->Boxes.empty());
  EXPECT_EQ(Driver->Boxes.back().Text, "Thanks for your help!");
}

}  // namespace

namespace {

TEST_F(OnlineServicesTest, ClosingTheMenuEndsTheRequestInProgress) {
  TfrmMain& main = MainWindow();
  main.show();
  Behave("int/version.txt", "stall");
  SetRequestTimeouts(110000, 110000);  // a request the close misses runs on until the server gives up
  Clock::time_point closed{};
  Driver->OnWindow = [&](QWidget* w) {
    if (!qobject_cast<TfrmPleaseWait*>(w) || closed != Clock::time_point{}) return;
    closed = Clock::now();
    QTimer::singleShot(0, &main, [&main] { main.close(); });  // the program is closing
  };
  main.actCheckNewVersionExecute();
  const auto after = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - closed).count();
  Driver->OnWindow = nullptr;
  ASSERT_NE(closed, Clock::time_point{});
  EXPECT_LT(after, 45000);  // a wide watch: a missed request would hold it for 110 s
  EXPECT_FALSE(main.isVisible());
  EXPECT_TRUE(Driver->Boxes.empty());  // a cancelled check tells nothing
}

}  // namespace

namespace {

// The lookup as the main window's timer runs it (the program's UI, the solution page through the
// window), with its own error list so each case downloads afresh.
void LookUp(TfrmMain& main, TErrorSolutions& solutions) {
  TOnlineUI ui = MenuOnlineUI(&main);
  ui.OpenPage = [&main](const std::string& url) { main.OpenPage(url); };
  bool armed = true;
  solutions.LookUpErrorSolution(armed, true, ui);
}

int CountLines(const std::string& file, const std::string& part) {
  int n = 0;
  for (const std::string& line : FileLines(file))
    if (line.find(part) != std::string::npos) ++n;
  return n;
}

const char* const kPageRefused = "A page of the errors list leads out of its folder and is left out: ";

TEST_F(OnlineServicesTest, AKnownErrorOpensItsPageWithItsQueryAndAPageThatLeadsOutIsLoggedOnce) {
  TfrmMain& main = MainWindow();
  Serve("int/errors.txt", "../x, N, never logged\r\nshow.asp?id=3, N, direct3d\r\n");
  TErrorSolutions solutions;
  for (int run = 0; run < 2; ++run) {  // the second lookup of the run reads the list it has
    Log("Direct3D device lost in the engine", ltError);
    Driver->Answers = {true};
    Opened.clear();
    LookUp(main, solutions);
    EXPECT_EQ(Opened, std::vector<std::string>{"http://" + Server->HostPort() + "/int/errors/show.asp?id=3"});
    EXPECT_EQ(CountLines(User + "qv.log", kPageRefused + std::string("../x")), 1);
  }
}

TEST_F(OnlineServicesTest, ErrorListPagesStayUnderErrorsOnTheServersHost) {
  TfrmMain& main = MainWindow();
  const std::string errors = "http://" + Server->HostPort() + "/int/errors/";
  struct Case {
    std::string page;
    std::string opened;  // after errors/; "" for refused
  } cases[] = {
      {"show.asp?id=3", "show.asp?id=3"},
      {"sound/p2.html", "sound/p2.html"},
      {"sound\\p2.html", "sound/p2.html"},
      {"my page.html", "my%20page.html"},
      {"caf\xe9 \"<1>\".html", "caf%E9%20%22%3C1%3E%22.html"},
      {"show.asp?q=a b#top", "show.asp?q=a%20b#top"},
      {"show.asp?file=../x", "show.asp?file=../x"},  // a value for the page, which stays put
      {"100%.html", "100%25.html"},
      {"a%20b.html", "a%20b.html"},
      {"./p.html", "./p.html"},
      {"../x", ""},
      {"sound/../../x", ""},
      {"..\\x", ""},
      {"%2e%2e/x", ""},
      {"%2E.%2fx", ""},
      {"%252e%252e/x", ""},
      {"sub/..;/x", ""},
      {"/etc/passwd", ""},
      {"%2fetc", ""},
      {"\\\\evil.example\\x", ""},
      {"http://evil.example/", ""},
      {"javascript:alert(1)", ""},
      {"a\tb.html", ""},
      {"a%0d%0aSet-Cookie: x", ""},
      {"show.asp?id=%00", ""},
      {"a\x7f.html", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    Serve("int/errors.txt", c.page + ", N, in the engine\r\n");
    Log("Boom in the engine", ltError);
    Driver->Answers = {true};
    Driver->Boxes.clear();
    Opened.clear();
    const int refusedBefore = CountLines(User + "qv.log", kPageRefused);
    TErrorSolutions solutions;
    LookUp(main, solutions);
    if (c.opened.empty()) {
      EXPECT_TRUE(Opened.empty());
      EXPECT_EQ(CountLines(User + "qv.log", kPageRefused), refusedBefore + 1);
      EXPECT_TRUE(Driver->Asked("Sorry, this error is unknown."));
    } else {
      EXPECT_EQ(Opened, std::vector<std::string>{errors + c.opened});
      EXPECT_EQ(CountLines(User + "qv.log", kPageRefused), refusedBefore);
    }
  }
}

// Online Support opens "help/index.asp" in the support folder: the built-in one when the hosts
// list cannot be had, the folder of KESTRUNE_SUPPORT_URL (with or without its final '/'), or
// the hosts list's value as the server wrote it.
TEST_F(OnlineServicesTest, OnlineSupportOpensTheHelpPageOfTheSupportFolder) {
  TfrmMain& main = MainWindow();
  main.show();
  struct Case {
    const char* variable;   // KESTRUNE_SUPPORT_URL, null for none
    const char* hostsList;  // served kthosts.txt, null for an unreachable hosts list
    std::string opened;
  } cases[] = {
      {nullptr, nullptr, "http://www.orvalent.example/kestrune/support/help/index.asp"},
      {"http://help.test/kestrune/support", nullptr, "http://help.test/kestrune/support/help/index.asp"},
      {"http://help.test/s/", nullptr, "http://help.test/s/help/index.asp"},
      {"http://help.test/s/", "SupportURL=http://srv.test/sup/\n", "http://srv.test/sup/help/index.asp"},
      {nullptr, "SupportURL=http://srv.test/help.asp?topic=\n", "http://srv.test/help.asp?topic=help/index.asp"},
      {nullptr, "InternalHost=srv.test\n", "http://www.orvalent.example/kestrune/support/help/index.asp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.opened);
    if (c.variable) setenv("KESTRUNE_SUPPORT_URL", c.variable, 1);
    else unsetenv("KESTRUNE_SUPPORT_URL");
    std::string hostsURL = "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/kthosts.txt";
    if (c.hostsList) {
      Serve("kthosts.txt", c.hostsList);
      hostsURL = "http://" + Server->HostPort() + "/kthosts.txt";
    }
    ResetEnvironment(GameEnvironment);  // a first run: nothing stored
    HostsListApplied = false;
    HostsListThread = std::make_unique<TThreadedHttpGet>(hostsURL);
    Opened.clear();
    main.actHelp->trigger();
    EXPECT_EQ(Opened, std::vector<std::string>{c.opened});
    HostsListThread->CancelAndWait(5000);
  }
  unsetenv("KESTRUNE_SUPPORT_URL");
}

}  // namespace

namespace {

// Server lists that hold a walk long: 48,000 expressions that each backtrack a long while over a
// 2 KB log (about 23 minutes one after another), and lists of a megabyte whose searches of a
// 1 MB log never try a start (minutes without the units of their scans). The lookup runs behind
// its wait window with the menu painting and enabled, and ends at once by Cancel, File > Close or
// SIGTERM (the walk logs where it was stopped), or as unknown by the walk's one budget.
TEST_F(OnlineServicesTest, ASlowErrorListEndsByCancelCloseSignalOrItsBudgetWithTheMenuPainting) {
  struct TList {
    const char* expression;
    size_t logBytes;
  } const lists[] = {
      {"(.*.)*#", 0},
      {".{15}[\\x01-\\x05]", 1000000},
      {"[r-z][r-z][r-z][r-z][r-z][r-z][r-z][r-z]", 1000000},
  };
  for (const TList& l : lists) {
    SCOPED_TRACE(l.expression);
    std::string list;
    for (int n = 0; list.size() < kMaxErrorListBytes - 100; ++n) list += "page" + std::to_string(n) + ",N," + l.expression + "\r\n";
    ASSERT_LT(list.size(), kMaxErrorListBytes);
    ASSERT_GT(list.size(), 900000u);
    Serve("int/errors.txt", list);
    std::string filler;
    while (filler.size() < l.logBytes) filler += "* Info: Frame " + std::to_string(filler.size()) + ": textures, sounds and the level are ready\r\n";
    const char* const kUnknown = "Sorry, this error is unknown. Would you like to send us an error report?";
    enum class TEnd { Cancel, Close, Signal, Budget };
    // The budget's case first. The others stop at the first poll that finds the wait window of
    // the search: its worker is running by then and reads the stop at its next line or scan
    // piece. A stop after a fixed time would race the budget, which a quiet machine reaches in
    // well under a second.
    for (TEnd how : {TEnd::Budget, TEnd::Cancel, TEnd::Close, TEnd::Signal}) {
      const char* name = how == TEnd::Cancel ? "Cancel" : how == TEnd::Close ? "File > Close" : how == TEnd::Signal ? "SIGTERM" : "budget";
      SCOPED_TRACE(name);
      TfrmMain& main = MainWindow();
      main.show();
      main.activateWindow();
      for (int i = 0; i < 50 && !main.isActiveWindow(); ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
      ASSERT_TRUE(main.isActiveWindow());
      WriteAll(User + "qv.log", filler);
      for (int i = 0; i < 30; ++i) Log("Frame " + std::to_string(i) + ": textures, sounds and the level are ready", ltInfo);
      Log("Direct3D device lost", ltError);
      ResetMenuServices();  // the run's error list afresh: each case downloads it
      if (how == TEnd::Signal) {
        InstallQuitSignals();
        SetQuitSignalsWindow(&main);
      }
      Driver->Boxes.clear();
      Driver->Answers = {true, false};  // look it up; no report
      std::string waitText;
      Clock::time_point stopped{};
      Driver->OnWindow = [&](QWidget* w) {
        auto* wait = qobject_cast<TfrmPleaseWait*>(w);
        if (!wait || stopped != Clock::time_point{}) return;
        if (wait->Message().find("looks up") == std::string::npos) return;
        waitText = wait->Message();
        if (how == TEnd::Budget) return;
        stopped = Clock::now();
        if (how == TEnd::Cancel) ClickSoon(wait->btnCancel);
        if (how == TEnd::Close) QTimer::singleShot(0, &main, [&main] { main.actClose->trigger(); });
        if (how == TEnd::Signal) raise(SIGTERM);
      };
      // the menu picture is asked to repaint every 100 ms; its paints are counted
      int paints = 0;
      bool greyed = false;
      struct TPaints : QObject {
        int* N;
        explicit TPaints(int* n) : N(n) {}
        bool eventFilter(QObject*, QEvent* e) override {
          if (e->type() == QEvent::Paint) ++*N;
          return false;
        }
      } counter(&paints);
      main.imgMain->installEventFilter(&counter);
      QTimer repaint;
      QObject::connect(&repaint, &QTimer::timeout, [&] {
        main.imgMain->update();
        greyed = greyed || !main.isEnabled();
      });
      repaint.start(100);
      THeartbeat beat;
      const auto start = Clock::now();
      main.LookupArmed = true;
      main.LookUpErrorSolution();
      auto end = Clock::now();
      beat.Stop();
      repaint.stop();
      main.imgMain->removeEventFilter(&counter);
      Driver->OnWindow = nullptr;
      if (how == TEnd::Signal) {
        // the window closes once the lookup in front of it has ended (within 2 s of the signal)
        while (main.isVisible() && Clock::now() - stopped < std::chrono::seconds(2))
          QApplication::processEvents(QEventLoop::AllEvents, 20);
        end = Clock::now();
        RemoveQuitSignals();
      }
      const auto ms = [](Clock::duration d) { return static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()); };
      std::printf("%-12s: ran %6lld ms, ended %5lld ms after the stop, largest timer gap %4lld ms, %d paints\n", name,
                  ms(end - start), stopped == Clock::time_point{} ? -1LL : ms(end - stopped), static_cast<long long>(beat.MaxGap), paints);
      EXPECT_EQ(waitText, "Please wait while Kestrune looks up the error in the solutions listing.");
      EXPECT_FALSE(greyed);
      if (how == TEnd::Budget) {
        // the walk runs beside the GUI thread: the timer ticked and the picture repainted while it
        // ran (a GUI thread held by the walk would tick and paint at most once, after it)
        EXPECT_GE(beat.Ticks, 2);
        EXPECT_GE(paints, 2);
      }
      EXPECT_FALSE(TRequestRunner::Busy());
      EXPECT_TRUE(Opened.empty());
      const std::string log = ReadAll(User + "qv.log");
      if (how == TEnd::Budget) {
        EXPECT_LT(ms(end - start), 60000);  // hang guard: the list alone would take 23 minutes
        EXPECT_NE(log.find("Error searching for a solution: TRegularExpression(exec): Step Limit Exceeded"), std::string::npos);
        EXPECT_TRUE(Driver->Asked(kUnknown));
      } else {
        ASSERT_NE(stopped, Clock::time_point{}) << log.substr(log.size() > 600 ? log.size() - 600 : 0);
        EXPECT_LT(ms(end - stopped), 60000);  // hang guard only
        // the stop reached the walk itself, not only the wait window
        EXPECT_NE(log.find("The search for a solution was stopped after "), std::string::npos)
            << log.substr(log.size() > 600 ? log.size() - 600 : 0);
        EXPECT_FALSE(Driver->Asked(kUnknown));  // a stopped lookup asks nothing more
        EXPECT_EQ(log.find("Error searching for a solution: "), std::string::npos);
      }
      if (how == TEnd::Close || how == TEnd::Signal) {
        EXPECT_FALSE(main.isVisible());
      } else {
        EXPECT_TRUE(main.isVisible());
      }
      Main.reset();
      Options.reset();
      PointAtServer();
    }
  }
}

}  // namespace

