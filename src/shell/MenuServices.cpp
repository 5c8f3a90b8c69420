#include "shell/MenuServices.h"

#include <QApplication>
#include <QMessageBox>
#include <QOpenGLContext>
#include <QPixmap>
#include <QString>
#include <memory>

#include "base/Exceptions.h"
#include "base/Win1252.h"
#include "engine/Inet.h"
#include "engine/tools.h"
#include "game/GameWindow.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "platform/D3D8GL.h"
#include "shell/OnlineServices.h"
#include "shell/frmMain.h"
#include "shell/frmPleaseWait.h"

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

namespace {
const QString kTitle = QStringLiteral("Kestrune");

void DefaultMessage(QWidget* owner, const std::string& text) {
  QMessageBox::information(owner, kTitle, QString::fromStdString(Cp1252ToUtf8(text)));
}

bool DefaultAsk(QWidget* owner, const std::string& text, bool warning) {
  const QString t = QString::fromStdString(Cp1252ToUtf8(text));
  const auto answer = warning ? QMessageBox::warning(owner, kTitle, t, QMessageBox::Yes | QMessageBox::No)
                              : QMessageBox::question(owner, kTitle, t, QMessageBox::Yes | QMessageBox::No);
  return answer == QMessageBox::Yes;
}
}  // namespace

void MenuMessage(QWidget* owner, const std::string& text) {
  if (MenuMessageHook) MenuMessageHook(owner, text);
  else DefaultMessage(owner, text);
}

bool MenuAskYesNo(QWidget* owner, const std::string& text, bool warning) {
  return MenuAskYesNoHook ? MenuAskYesNoHook(owner, text, warning) : DefaultAsk(owner, text, warning);
}

namespace {
std::unique_ptr<TfrmPleaseWait> WaitWindow;

// The online services' UI over `owner`, with the wait window around each request.
TOnlineUI MenuUI(QWidget* owner) {
  TOnlineUI ui = WidgetOnlineUI(owner);
  ui.BeginWait = [owner](const std::string& text) {
    WaitWindow = std::make_unique<TfrmPleaseWait>(owner);
    WaitWindow->SetMessage(text);
    WaitWindow->ShowNow();
  };
  ui.EndWait = [] { WaitWindow.reset(); };
  ui.ProcessMessages = [] { QApplication::processEvents(); };
  return ui;
}

TErrorSolutions& ErrorSolutions() {
  static TErrorSolutions solutions;  // the error list lives for the run
  return solutions;
}

std::string RunGameWindow(QWidget* owner, const TGameRequest& r) {
  std::string result;
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
  if (owner) owner->setEnabled(true);
  return result;
}
}  // namespace

void ResetMenuServices() {
  MenuMessageHook = nullptr;
  MenuAskYesNoHook = nullptr;
  RunGameHook = RunGameWindow;
  EmailCardHook = [](QWidget* owner) { ShowEmailCardDialog(owner, MenuUI(owner)); };
  HighscorePublishHook = [](QWidget* owner) { ShowHighscorePublishDialog(owner, MenuUI(owner)); };
  DownloadLevelsHook = [](QWidget* owner) { ShowDownloadLevelsDialog(owner, MenuUI(owner)); };
  WorldsBestDownloadHook = [](QWidget* owner) { return int32_t(ExecuteDownloadWorldBest(owner, MenuUI(owner))); };
  ErrorReportHook = [](QWidget* owner, const std::string&) { ShowErrorReportDialog(owner); };
  ErrorSolutionLookupHook = [](QWidget* owner, bool& lookupArmed) {
    TOnlineUI ui = MenuUI(owner);
    // the solution page goes into the embedded browser while it is shown
    if (auto* main = qobject_cast<TfrmMain*>(owner)) ui.OpenPage = [main](const std::string& url) { main->OpenPage(url); };
    ErrorSolutions().LookUpErrorSolution(lookupArmed, owner && owner->isActiveWindow(), ui);
  };
  VersionFetchHook = [](const std::string& url) { return HttpGetText(url); };
  GameWindowCreatedHook = nullptr;
  NewHighscoreHook = [](QWidget* owner) { return AskNewHighscore(owner, GameEnvironment.Highscores[0].Score); };
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
