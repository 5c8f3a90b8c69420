// The menu's dialogs and message boxes as a user sees them, opened the way the program opens
// them (the real main window and its actions, the services installed at start, a loopback game
// server): each caption, every control inside the client area at the dialog's own size, the icon
// of each box. A picture of each goes to build/test-frames/dialogs/ for people to look at.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "UiDriver.h"
#include "base/SysUtils.h"
#include "engine/D3DTestSupport.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "game/ReplayPack.h"
#include "game/UserFiles.h"
#include "platform/ShellServices.h"
#include "shell/DialogFrame.h"
#include "shell/Downloads.h"
#include "shell/EmailCard.h"
#include "shell/HighscorePublish.h"
#include "shell/MenuServices.h"
#include "shell/frmMain.h"
#include "shell/frmOptions.h"
#include "shell/frmPleaseWait.h"
#include "support/TestServers.h"
#include "support/TestSupport.h"

namespace {

QApplication& App() {
  if (!QApplication::instance()) {
    static int argc = 1;
    static char name[] = "test_shell";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives to the end of the process
  }
  return *static_cast<QApplication*>(QApplication::instance());
}

const std::string kFramesDir = std::string(KT_BINARY_DIR) + "/test-frames/dialogs/";

// The visible controls of a window that reach past its right or bottom edge (or its left or top).
std::vector<std::string> ControlsOutside(QWidget* window) {
  std::vector<std::string> out;
  for (QWidget* c : window->findChildren<QWidget*>()) {
    if (c->isWindow() || !c->isVisibleTo(window)) continue;
    const QRect r(c->mapTo(window, QPoint(0, 0)), c->size());
    if (!r.isEmpty() && !window->rect().contains(r))
      out.push_back(std::string(c->metaObject()->className()) + " " + c->objectName().toStdString() + " " +
                    std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
                    std::to_string(r.height()) + " in " + std::to_string(window->width()) + "x" +
                    std::to_string(window->height()));
  }
  return out;
}

void Shoot(QWidget* window, const std::string& name) {
  QDir().mkpath(QString::fromStdString(kFramesDir));
  EXPECT_TRUE(window->grab().save(QString::fromStdString(kFramesDir + name + ".png"))) << name;
}

// What a window showed when it was looked at.
struct TLook {
  bool Seen = false;
  std::string Title;
  std::vector<std::string> Outside;
  bool FixedSize = false;   // no resize grip, which window managers draw as a strip under the buttons
  bool CaptionFits = false;  // the caption shows whole in a title bar
};

class DialogLook : public D3DFakeTest {
protected:
  void SetUp() override {
    App();
    D3DFakeTest::SetUp();
    Dir = TestDir();
    Root = Dir + "srv/";
    ForceDirectories(Root);
    UserDataDir = Dir;
    CommonDataDir = Dir;
    ResetEnvironment(GameEnvironment);
    ResetMenuServices();
    ResetSaveFailures();  // another test's failed save is not this run's
    InstallShellApplication();  // the boxes of the layers below, as at start
    Main = std::make_unique<TfrmMain>(QStringList{"/replay"});
    Options = std::make_unique<TfrmGameOptions>(Main->Direct3D());  // loads the settings
    Main->SetOptionsWindow(Options.get());
    Server = std::make_unique<TTestServer>("http_server.py", std::vector<std::string>{"--root", Root});
    GameEnvironment.HighScoreHost = Server->HostPort();
    GameEnvironment.HighScoreBase = "/hs/";
    GameEnvironment.InternalHost = Server->HostPort();
    GameEnvironment.InternalBase = "/int/";
    HostsListApplied = true;
    ConnectionTestHook = nullptr;
    Driver = std::make_unique<TUiDriver>();
  }
  void TearDown() override {
    Driver.reset();
    Main.reset();
    Options.reset();
    ResetMenuServices();
    ErrorMessageHook = nullptr;
    SetMessageBoxHook(nullptr);
    ConnectionTestHook = nullptr;
    HostsListApplied = false;
    Server.reset();
    UserDataDir.clear();
    ResetEnvironment(GameEnvironment);
    D3DFakeTest::TearDown();
  }
  void Serve(const std::string& path, const std::string& bytes) {
    ForceDirectories(ExtractFilePath(Root + path));
    WriteAll(Root + path, bytes);
  }
  // Runs `open`; the first modal dialog for which `ready` holds is looked at, pictured as `shot`
  // and closed as Escape closes it.
  TLook OpenAndLook(const std::function<void()>& open, const std::string& shot,
                    const std::function<bool(QWidget*)>& ready = {}) {
    TLook look;
    Driver->OnWindow = [&](QWidget* w) {
      if (look.Seen || (ready && !ready(w))) return;
      look.Seen = true;
      look.Title = w->windowTitle().toStdString();
      look.Outside = ControlsOutside(w);
      look.FixedSize = w->minimumSize() == w->maximumSize() && w->size() == w->minimumSize();
      if (auto* d = qobject_cast<QDialog*>(w)) look.CaptionFits = d->width() >= CaptionWidth(d);
      Shoot(w, shot);
      if (auto* d = qobject_cast<QDialog*>(w)) QMetaObject::invokeMethod(d, &QDialog::reject);
    };
    open();
    Driver->OnWindow = nullptr;
    return look;
  }

  std::string Dir, Root;
  std::unique_ptr<TTestServer> Server;
  std::unique_ptr<TfrmMain> Main;
  std::unique_ptr<TfrmGameOptions> Options;
  std::unique_ptr<TUiDriver> Driver;
};

TEST_F(DialogLook, EveryDialogShowsItsCaptionAndEveryControlWhole) {
  GameEnvironment.Highscores[0].Score = 12345;
  GameEnvironment.Alias = "Zed";
  Main->UpdateActions();
  {
    // a stored world's best game of three levels, which the server calls current
    TReplayPack pack(Dir + "worldbest.gmp");
    for (int level = 1; level <= 3; ++level) {
      TReplayLevelRecord r;
      r.LevelNumber = level;
      r.GameTime = 400;
      r.Input.AddInput(kInputRight | 20);
      pack.AddReplay(level, [&](TStream& s) { r.WriteToStream(s); });
    }
    pack.SaveToFile();
  }
  GameEnvironment.WorldBestFile = "wb1.gmp";
  Serve("hs/firstplace.php", "OK");
  WriteAll(Dir + "qv.log", "<*** Begin ***>\r\n* Error: Boom\r\n");

  struct TCase {
    const char* Shot;
    const char* Caption;
    std::function<void()> Open;
    std::function<bool(QWidget*)> Ready;  // the work a dialog starts on opening has ended
  };
  TfrmMain* main = Main.get();
  const std::vector<TCase> cases = {
      {"options", "Options", [main] { main->actGameOptions->trigger(); }, {}},
      {"about", "About", [main] { main->actAbout->trigger(); }, {}},
      {"publish_highscore", "Publish Highscore", [main] { main->actPublishHighscore->trigger(); }, {}},
      {"download_levels", "Download levels", [main] { main->actDownloadLevels->trigger(); },
       [](QWidget* w) {
         auto* d = qobject_cast<TfrmDownloadLevels*>(w);
         return d && !d->Running;
       }},
      {"worlds_best", "World's Best Game Replay", [main] { WorldsBestDownloadHook(main); },
       [](QWidget* w) {
         auto* d = qobject_cast<TfrmDownloadWorldBest*>(w);
         return d && d->Finished;
       }},
      {"email_card", "Send Email Card", [main] { main->actSendEmailCard->trigger(); }, {}},
      {"error_report", "Send Errorreport", [main] { main->actPublishErrorreport->trigger(); }, {}},
      {"new_highscore", "A New Highscore!", [main] { NewHighscoreHook(main); }, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Shot);
    const TLook look = OpenAndLook(c.Open, c.Shot, c.Ready);
    ASSERT_TRUE(look.Seen);
    EXPECT_EQ(look.Title, c.Caption);
    EXPECT_EQ(look.Outside, std::vector<std::string>{});
    EXPECT_TRUE(look.FixedSize);
    EXPECT_TRUE(look.CaptionFits);
  }
  EXPECT_EQ(Driver->Boxes.size(), 0u) << Driver->Boxes[0].Text;

  // The other pages of the options.
  for (int page : {1, 2}) {
    const std::string shot = page == 1 ? "options_sound" : "options_detail";
    const TLook look = OpenAndLook([main] { main->actGameOptions->trigger(); }, shot, [page](QWidget* w) {
      auto* pages = w->findChild<QTabWidget*>("pgcOptions");
      if (pages && pages->currentIndex() != page) pages->setCurrentIndex(page);
      return pages != nullptr;
    });
    EXPECT_EQ(look.Outside, std::vector<std::string>{}) << shot;
  }

  // The wait window, as the online services show it.
  const TOnlineUI ui = MenuOnlineUI(Main.get());
  ui.DoBeginWait("publishes your highscore.");
  TfrmPleaseWait* wait = TfrmPleaseWait::Current();
  ASSERT_NE(wait, nullptr);
  EXPECT_EQ(wait->windowTitle().toStdString(), "Kestrune");
  EXPECT_EQ(ControlsOutside(wait), std::vector<std::string>{});
  Shoot(wait, "please_wait");
  ui.DoEndWait();

  // And the main window itself.
  EXPECT_EQ(Main->windowTitle().toStdString(), "Kestrune");
  EXPECT_EQ(ControlsOutside(Main.get()), std::vector<std::string>{});
  Shoot(Main.get(), "main_window");
}

TEST_F(DialogLook, EveryBoxCarriesTheIconOfItsKind) {
  struct TCase {
    const char* Name;
    std::function<void()> Open;
    std::string Text;  // the start of the box's text
    QMessageBox::Icon Icon;
    bool Question;     // Yes and No, else OK
    const char* Shot;  // "" for no picture
  };
  TfrmMain* main = Main.get();
  auto publishWithoutName = [main] {
    GameEnvironment.Highscores[0].Score = 500;
    main->UpdateActions();
    main->actPublishHighscore->trigger();
  };
  const std::vector<TCase> cases = {
      {"failed version check",
       [main] {
         VersionFetchHook = [](const std::string&) -> std::string { throw Exception("refused"); };
         main->actCheckNewVersion->trigger();
       },
       "Error accessing internet", QMessageBox::Critical, false, "box_error"},
      {"reset", [main] { main->actReset->trigger(); }, "This operations will reset", QMessageBox::Warning, true,
       "box_warning"},
      {"clear highscores", [main] { main->actDeleteHighscore->trigger(); }, "Are you sure you want to clear",
       QMessageBox::Question, true, "box_question"},
      {"latest version",
       [main] {
         VersionFetchHook = [](const std::string&) -> std::string { return "0.0.0.0\r\nhttp://x.example/\r\n"; };
         main->actCheckNewVersion->trigger();
       },
       "The version you are running is the latest.", QMessageBox::Information, false, "box_information"},
      {"offline",
       [main] {
         ConnectionTestHook = [] { return false; };
         main->actGotoHighscore->trigger();
         ConnectionTestHook = nullptr;
       },
       "Unable to connect to the internet", QMessageBox::Critical, false, ""},
      {"no name to publish", publishWithoutName, "Please enter a name", QMessageBox::Warning, false, ""},
      {"world's best missing on the server",
       [this, main] {
         Serve("hs/firstplace.php", "ERR");
         WorldsBestDownloadHook(main);
       },
       "The World's best replay file is not currently available", QMessageBox::Warning, false, ""},
      {"world's best server failing",
       [this, main] {
         Serve("hs/firstplace.php.status", "500");
         WorldsBestDownloadHook(main);
       },
       "Error fetching file from server", QMessageBox::Critical, false, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Driver->Boxes.clear();
    // Dialogs in front of their boxes: Publish is pressed, every other closes once its work ended.
    bool pressed = false;
    Driver->OnWindow = [&pressed](QWidget* w) {
      if (auto* publish = qobject_cast<TfrmHighscorePublish*>(w)) {
        if (pressed) return;
        pressed = true;
        // after this poll, so the driver can answer the box that follows
        QTimer::singleShot(0, publish, [publish] {
          publish->edtAlias->clear();
          publish->btnPublishClick();
          publish->reject();
        });
      } else if (auto* best = qobject_cast<TfrmDownloadWorldBest*>(w)) {
        if (best->Finished) best->btnCancel->click();
      }
    };
    Driver->OnBox = [&c](QMessageBox* box) {
      if (*c.Shot) Shoot(box, c.Shot);
    };
    c.Open();
    Driver->OnWindow = nullptr;
    Driver->OnBox = nullptr;
    ASSERT_EQ(Driver->Boxes.size(), 1u);
    const TUiDriver::TBox& box = Driver->Boxes[0];
    EXPECT_EQ(box.Text.rfind(c.Text, 0), 0u) << box.Text;
    EXPECT_EQ(box.Icon, c.Icon);
    EXPECT_EQ(box.Question, c.Question);
    EXPECT_EQ(box.Title, "Kestrune");
  }
}

}  // namespace
