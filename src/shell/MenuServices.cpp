#include "shell/MenuServices.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QOpenGLContext>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "base/Exceptions.h"
#include "base/Win1252.h"
#include "engine/Inet.h"
#include "engine/tools.h"
#include "game/GameWindow.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "game/ServerReplies.h"
#include "platform/D3D8GL.h"
#include "platform/ShellServices.h"
#include "shell/FocusReturn.h"
#include "shell/OnlineServices.h"
#include "shell/RequestRunner.h"
#include "shell/frmMain.h"
#include "shell/frmPleaseWait.h"
#include "sysinfo/SI_Console.h"

std::function<void(QWidget*, const std::string&)> MenuMessageHook;
std::function<bool(QWidget*, const std::string&, bool)> MenuAskYesNoHook;
std::function<std::string(QWidget*, const TGameRequest&)> RunGameHook;
std::function<void(QWidget*)> EmailCardHook;
std::function<void(QWidget*)> HighscorePublishHook;
std::function<void(QWidget*)> DownloadLevelsHook;
std::function<int32_t(QWidget*)> WorldsBestDownloadHook;
std::function<void(QWidget*, const std::string&)> ErrorReportHook;
std::function<void(QWidget*, bool&)> ErrorSolutionLookupHook;
std::function<std::string(const std::string&)> VersionFetchHook;
std::function<bool(QWidget*)> NewHighscoreHook;
std::function<void(TfrmGame&)> GameWindowCreatedHook;

bool ShowPlainMessageBox(QWidget* owner, TBoxKind kind, const std::string& text, bool ask,
                         const std::string& caption) {
  QString t = QString::fromStdString(Cp1252ToUtf8(text));
  t.replace("\r\n", "\n");
  t.replace('\r', '\n');
  const bool question = ask || kind == TBoxKind::Question;
  const QMessageBox::Icon icon = kind == TBoxKind::Information ? QMessageBox::Information
                                 : kind == TBoxKind::Question  ? QMessageBox::Question
                                 : kind == TBoxKind::Warning   ? QMessageBox::Warning
                                                               : QMessageBox::Critical;
  QMessageBox box(icon, QString::fromStdString(Cp1252ToUtf8(caption)), t,
                  question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, owner);
  box.setTextFormat(Qt::PlainText);  // a reply's markup or file: link stays text
  return box.exec() == (question ? QMessageBox::Yes : QMessageBox::Ok);
}

void ShowSysInfoError(const std::string& text, const std::string& caption) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!qobject_cast<QApplication*>(app)) {
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
    return;
  }
  if (QThread::currentThread() != app->thread()) {
    // waiting here could hold a thread the GUI thread itself waits for
    QMetaObject::invokeMethod(
        app, [text, caption] { ShowPlainMessageBox(nullptr, TBoxKind::Critical, text, false, caption); },
        Qt::QueuedConnection);
    return;
  }
  ShowPlainMessageBox(nullptr, TBoxKind::Critical, text, false, caption);
}

namespace {
bool DefaultAsk(QWidget* owner, const std::string& text, bool warning) {
  return ShowPlainMessageBox(owner, warning ? TBoxKind::Warning : TBoxKind::Question, text, true);
}
}  // namespace

void MenuMessage(QWidget* owner, const std::string& text, TBoxKind kind) {
  if (MenuMessageHook) MenuMessageHook(owner, text);
  else ShowPlainMessageBox(owner, kind, text);
}

void InstallShellApplication() {
  QApplication::setApplicationName("Kestrune");
  ErrorMessageHook = [](const std::string& text) {
    ShowPlainMessageBox(QApplication::activeWindow(), TBoxKind::Critical, text);
  };
  SetMessageBoxHook([](const std::string& text, TMessageKind kind) {
    ShowPlainMessageBox(QApplication::activeWindow(),
                        kind == TMessageKind::Error ? TBoxKind::Critical : TBoxKind::Information, text);
  });
}

bool MenuAskYesNo(QWidget* owner, const std::string& text, bool warning) {
  return MenuAskYesNoHook ? MenuAskYesNoHook(owner, text, warning) : DefaultAsk(owner, text, warning);
}

namespace {
// The menu itself when nothing modal stands in front of it (no dialog, no box, no game).
TfrmMain* MenuInFront(QWidget* owner) {
  if (!owner || QApplication::activeModalWidget()) return nullptr;
  auto* main = qobject_cast<TfrmMain*>(owner->window());
  return main && main->isEnabled() ? main : nullptr;
}

// A request in front of the menu: its menu bar stays open for File > Close and the close box,
// every other action refuses until the request has ended.
class TMenuHold {
public:
  explicit TMenuHold(TfrmMain* main) : FMain(main) {
    if (FMain) FMain->BeginRequest();
  }
  ~TMenuHold() {
    if (FMain) FMain->EndRequest();
  }
  TMenuHold(const TMenuHold&) = delete;
  TMenuHold& operator=(const TMenuHold&) = delete;

private:
  QPointer<TfrmMain> FMain;
};

std::unique_ptr<TfrmPleaseWait> WaitWindow;
std::unique_ptr<TMenuHold> WaitHold;  // while the wait window stands over the menu
}  // namespace

TOnlineUI MenuOnlineUI(QWidget* owner) {
  TOnlineUI ui = WidgetOnlineUI(owner);
  auto runner = std::make_shared<TRequestRunner>();  // shared by the copies of the UI
  QPointer<QWidget> guarded(owner);
  ui.BeginWait = [guarded, runner](const std::string& text) {
    runner->Reset();  // a new action: an earlier Cancel is over
    TfrmMain* menu = MenuInFront(guarded.data());
    WaitWindow = std::make_unique<TfrmPleaseWait>(guarded.data());
    // Over the menu itself the window is modeless: the menu's Close stays within reach. Over a
    // dialog it keeps the dialog from being used while the request runs.
    if (menu) WaitWindow->setWindowModality(Qt::NonModal);
    WaitHold = std::make_unique<TMenuHold>(menu);
    WaitWindow->SetMessage(text);
    WaitWindow->OnCancel = [runner] { runner->Cancel(); };
    WaitWindow->ShowNow();
  };
  ui.EndWait = [] {
    WaitWindow.reset();
    WaitHold.reset();
  };
  ui.ProcessMessages = [] { QApplication::processEvents(); };
  ui.RunRequest = [guarded, runner](const std::function<void()>& request) {
    // Nothing may start a game or another request until this one has ended: the menu keeps
    // only its Close, any other window with nothing modal in front is kept out of reach.
    TfrmMain* menu = MenuInFront(guarded.data());
    TMenuHold hold(menu);
    QPointer<QWidget> blocked;
    if (!menu && !QApplication::activeModalWidget() && guarded && guarded->window()->isEnabled()) {
      blocked = guarded->window();
      blocked->setEnabled(false);
    }
    struct TEnable {
      QPointer<QWidget>& W;
      ~TEnable() {
        if (W) W->setEnabled(true);
      }
    } enable{blocked};
    runner->Run(request);
  };
  ui.CancelRequest = [runner] { runner->Cancel(); };
  ui.SendErrorReport = [guarded] { ErrorReportHook(guarded, GetLogText()); };
  return ui;
}

namespace {
// The hosts list on a first run: waited for off the GUI thread, behind the wait window.
void WaitForHostsList(TThreadedHttpGet& thread) {
  QWidget* owner = QApplication::activeWindow();
  for (QWidget* w : QApplication::topLevelWidgets())
    if (!owner && w->isVisible() && qobject_cast<QMainWindow*>(w)) owner = w;  // over the menu
  TOnlineUI ui = MenuOnlineUI(owner);
  ui.DoBeginWait("fetches the addresses of its servers.");
  try {
    ui.DoRunRequest([&thread] {
      std::atomic<bool>* cancel = ThreadCancelFlag();
      while (!thread.Done && !thread.Finished()) {
        if (cancel && *cancel) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    });
  } catch (const std::exception& e) {
    Log(std::string("Waiting for the hosts list ended: ") + e.what(), ltInfo);
  }
  ui.DoEndWait();
}

TErrorSolutions& ErrorSolutions() {
  static TErrorSolutions solutions;  // the error list lives for the run
  return solutions;
}

std::string RunGameWindow(QWidget* owner, const TGameRequest& r) {
  std::string result;
  if (TRequestRunner::Busy()) {
    Log("No game while an online request runs", ltWarning);
    return result;
  }
  if (owner) owner->setEnabled(false);  // the menu stays out of reach while the game runs
  try {
    std::unique_ptr<TfrmGame> game =
        TfrmGame::CreateGame(owner, r.Behaviour, r.Windowed, r.Device, r.Mode, r.ReplayLevel);
    game->OnIdle = [] {
      QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
      // The menu's web view may have drawn with GL meanwhile: Qt lets go of its context (so it
      // binds it afresh next time) and the game takes its own back.
      if (QOpenGLContext* qt = QOpenGLContext::currentContext()) qt->doneCurrent();
      D3DReclaimGLContext();
    };
    if (GameWindowCreatedHook) GameWindowCreatedHook(*game);
    result = game->ShowModal();
  } catch (const Exception& e) {
    result = e.Message;
  }
  if (owner) {
    owner->setEnabled(true);
    // The keyboard focus went with the game window; without a window manager nobody would give
    // it back, and the menu would take no keys (nor count as active) until clicked.
    GiveFocusTo(owner->window());
  }
  return result;
}
}  // namespace

void ResetMenuServices() {
  MenuMessageHook = nullptr;
  MenuAskYesNoHook = nullptr;
  RunGameHook = RunGameWindow;
  EmailCardHook = [](QWidget* owner) { ShowEmailCardDialog(owner, MenuOnlineUI(owner)); };
  HighscorePublishHook = [](QWidget* owner) { ShowHighscorePublishDialog(owner, MenuOnlineUI(owner)); };
  DownloadLevelsHook = [](QWidget* owner) { ShowDownloadLevelsDialog(owner, MenuOnlineUI(owner)); };
  WorldsBestDownloadHook = [](QWidget* owner) {
    return int32_t(ExecuteDownloadWorldBest(owner, MenuOnlineUI(owner)));
  };
  ErrorReportHook = [](QWidget* owner, const std::string&) { ShowErrorReportDialog(owner, MenuOnlineUI(owner)); };
  ErrorSolutionLookupHook = [](QWidget* owner, bool& lookupArmed) {
    TOnlineUI ui = MenuOnlineUI(owner);
    // the solution page goes into the embedded browser while it is shown
    if (auto* main = qobject_cast<TfrmMain*>(owner))
      ui.OpenPage = [main](const std::string& url) { main->OpenPage(url); };
    ErrorSolutions().LookUpErrorSolution(lookupArmed, owner && owner->isActiveWindow(), ui);
  };
  VersionFetchHook = [](const std::string& url) { return HttpGetText(url, kMaxVersionReplyBytes); };
  HostsListWaitHook() = WaitForHostsList;
  GameWindowCreatedHook = nullptr;
  NewHighscoreHook = [](QWidget* owner) { return AskNewHighscore(owner, GameEnvironment.Highscores[0].Score); };
  SetErrorMessageHandler(ShowSysInfoError);
  ErrorSolutions().Forget();
}

namespace {
struct TInitMenuServices {
  TInitMenuServices() { ResetMenuServices(); }
} InitMenuServices;
}  // namespace

QPixmap LoadMenuPicture(const std::string& name) {
  QPixmap picture;
  try {
    auto stream = OpenGfxResource("GFX", name);
    std::string bytes(static_cast<std::size_t>(stream->GetSize()), '\0');
    if (!bytes.empty()) stream->ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    picture.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<uint>(bytes.size()));
  } catch (const Exception& e) {
    Log("Could not load picture " + name + ": " + e.Message, ltWarning);
  }
  if (picture.isNull()) Log("Picture " + name + " could not be decoded", ltWarning);
  return picture;
}
