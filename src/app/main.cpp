// Kestrune start-up: the module start-up ("-uninstall", the hosts-list thread), the
// single-instance guard, then the menu window and the options window, and the message loop.
#include <QApplication>
#include <QClipboard>
#include <QStringList>
#include <SDL.h>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "base/Win1252.h"
#include "game/KTGlobal.h"
#include "platform/ShellServices.h"
#include "shell/FocusReturn.h"
#include "shell/MenuServices.h"
#include "shell/QuitSignals.h"
#include "shell/frmMain.h"
#include "shell/frmOptions.h"

namespace {
// Message boxes (plain text: they may carry server or file text) and the clipboard of the
// desktop for the layers below the shell.
void InstallShellHooks() {
  InstallShellApplication();
  SetClipboardHook([](const std::string& text) {
    QClipboard* clipboard = QApplication::clipboard();
    if (!clipboard) return false;
    clipboard->setText(QString::fromStdString(Cp1252ToUtf8(text)));
    return true;
  });
}
}  // namespace

int main(int argc, char** argv) {
  // SDL would turn SIGINT and SIGTERM into quit events that only the game window reads, so the
  // menu would ignore them; the program's own handlers below close it the normal way.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  TBrowserArea::SetEngineLimits();  // before any other thread reads the environment
  InitGlobals(argc > 1 ? argv[1] : "");
  if (UninstallDone) {
    DoneGlobals();
    return 0;
  }
  int result = 0;
  {
    // The web engine's sandbox cannot work for root and the engine would end the process; our
    // pages come only from the game's own site, so root runs it without one unless told otherwise.
    if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    // the embedded browser draws with OpenGL and shares its contexts with the window's
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // Qt would store the compiled shaders of the window's GL composition with an fsync on the
    // GUI thread at the first start: on a busy disk the menu stops painting for seconds. The few
    // shaders compile in milliseconds each start.
    QApplication::setAttribute(Qt::AA_DisableShaderDiskCache);
    QApplication app(argc, argv);
    InstallShellHooks();
    InstallFocusReturn();
    InstallQuitSignals();
    CheckSingleInstance();
    QStringList params = QApplication::arguments();
    if (!params.isEmpty()) params.removeFirst();
    {
      TfrmMain frmMain(params);
      // the options window gets the Direct3D object from the main window when it is first needed
      TfrmGameOptions frmGameOptions(nullptr, &frmMain);
      frmMain.SetOptionsWindow(&frmGameOptions);
      SetQuitSignalsWindow(&frmMain);
      frmMain.show();
      result = app.exec();
    }  // the settings are saved and the log's run is ended here, still under the handlers
    RemoveQuitSignals();
  }
  DoneGlobals();
  return result;
}
