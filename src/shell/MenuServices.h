#pragma once
// What the menu window calls beyond itself: the questions and messages it shows, the game
// window, and the dialogs of the online services. Each is a hook so the window can be driven
// headless in tests; the defaults show Qt message boxes, the game window and the dialogs.
#include <functional>
#include <string>

#include "engine/zrD3D.h"
#include "shell/OnlineServices.h"

class QWidget;

// The application's name and the message boxes of the layers below the shell, as the program
// installs them at start. The name is no display name: that would be appended to every
// window's title, and the titles are the windows' own captions.
void InstallShellApplication();

// A message box over `owner` showing Windows-1252 text as plain text (never markup); true for
// Yes (questions) or OK. The kind gives the icon; a question, or any box with `ask`, has Yes and
// No, every other box OK.
bool ShowPlainMessageBox(QWidget* owner, TBoxKind kind, const std::string& text, bool ask = false,
                         const std::string& caption = "Kestrune");

struct TOnlineUI;
// The online services' UI the program uses over `owner`: plain-text message boxes, the wait
// window with its Cancel, requests on a worker thread with the GUI's event loop running, and
// the error report dialog for "Send us an error report?".
TOnlineUI MenuOnlineUI(QWidget* owner);

// Message boxes. `warning` gives the question a warning icon.
extern std::function<void(QWidget* owner, const std::string& text)> MenuMessageHook;
extern std::function<bool(QWidget* owner, const std::string& text, bool warning)> MenuAskYesNoHook;
void MenuMessage(QWidget* owner, const std::string& text, TBoxKind kind = TBoxKind::Information);
bool MenuAskYesNo(QWidget* owner, const std::string& text, bool warning = false);

// One game or replay in the game window, shown modally; the window's result text ("" = none).
struct TGameRequest {
  uint8_t Behaviour = 0;  // 0 a game, 1 the world's best replay
  bool Windowed = true;
  TzrD3DDeviceInfo* Device = nullptr;
  TzrD3DMode Mode{};
  int32_t ReplayLevel = -1;
};
extern std::function<std::string(QWidget* owner, const TGameRequest& request)> RunGameHook;
// Called by the default RunGameHook with the new game window before it is shown (tests script
// its keys and clock there).
class TfrmGame;
extern std::function<void(TfrmGame& game)> GameWindowCreatedHook;

// The online services' dialogs, each shown modally over `owner`.
extern std::function<void(QWidget* owner)> EmailCardHook;           // e-mail card
extern std::function<void(QWidget* owner)> HighscorePublishHook;    // highscore publication
extern std::function<void(QWidget* owner)> DownloadLevelsHook;      // new levels
extern std::function<int32_t(QWidget* owner)> WorldsBestDownloadHook;  // a level, or -1
extern std::function<void(QWidget* owner, const std::string& logText)> ErrorReportHook;
// The error-solution lookup after start-up and after each game; runs on the timer and clears
// `lookupArmed` once it has run.
extern std::function<void(QWidget* owner, bool& lookupArmed)> ErrorSolutionLookupHook;

// The version reply fetch (HttpGetText by default), so tests can look at the screen mid-request.
extern std::function<std::string(const std::string& url)> VersionFetchHook;

// A failure of the system-information library in message mode: a box without owner, with the
// caption (its "Error"), the error icon and OK, waited for on the GUI thread (from another
// thread it is shown there without waiting); without a GUI, a line on standard output.
void ShowSysInfoError(const std::string& text, const std::string& caption);

// Restores every hook above to its default, and makes ShowSysInfoError the handler of the
// system-information library's message mode.
void ResetMenuServices();

// A picture of the "GFX" resources (JPEG or PNG); a null pixmap when missing or undecodable.
class QPixmap;
QPixmap LoadMenuPicture(const std::string& name);

// The new-highscore question after a game; true for Yes.
extern std::function<bool(QWidget* owner)> NewHighscoreHook;
