// Kestrune start-up. Until the menu application stands, the program runs the module start-up
// ("-uninstall", the single-instance guard), records the run in its trace log with the version
// and system summary, then plays one game (title screen and demo first) in the game window on
// the device and display mode of the stored options, saves the settings and exits.
#include <cstdio>
#include <memory>
#include <string>

#include "base/Exceptions.h"
#include "engine/tools.h"
#include "engine/zrD3D.h"
#include "game/GameWindow.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "game/OptionsDialog.h"
#include "shell/StartupLog.h"

namespace {

void ShowError(const std::string& text) {
  if (ErrorMessageHook) ErrorMessageHook(text);
}

// A first run (or a device that is gone) has no usable stored choice: take the first listed
// device, in a desktop window where it can.
void ChooseDeviceIfNone(TGameOptionsDialog& options) {
  TzrD3DMode mode;
  GetSelectedDisplayMode(options.Direct3D, mode);
  if (mode.Width != 0 || options.cbxDevice.empty()) return;
  TzrD3DDeviceInfo* device = options.cbxDevice.front().Device;
  GameEnvironment.AdapterNumber = device->Owner->AdapterOrdinal;
  GameEnvironment.DeviceType = int32_t(device->DeviceType);
  GameEnvironment.DisplayMode = device->CanDoWindowed ? dmWindow : dmFullscreen32;
}

int RunGame() {
  try {
    TzrD3D8 direct3D;
    TGameOptionsDialog options(&direct3D);
    options.FormCreate();
    ChooseDeviceIfNone(options);
    TzrD3DMode mode;
    GetSelectedDisplayMode(&direct3D, mode);
    std::string text;
    {
      std::unique_ptr<TfrmGame> game =
          TfrmGame::CreateGame(nullptr, 0, IsWindowed(), FindSelectedDevice(&direct3D), mode, 0);
      text = game->ShowModal();
    }
    options.FormDestroy();
    if (!text.empty()) {
      ShowError(text);
      return 1;
    }
    return 0;
  } catch (const Exception& e) {
    ShowError(e.Message);
    SaveSettings();
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  ErrorMessageHook = [](const std::string& text) {
    std::string t = text;
    for (char& c : t)
      if (c == '\r') c = '\n';
    std::fprintf(stderr, "%s\n", t.c_str());
  };
  InitGlobals(argc > 1 ? argv[1] : "");
  if (UninstallDone) {
    DoneGlobals();
    return 0;
  }
  CheckSingleInstance();
  SetLogFile(UserDataDir + "qv.log");
  LogBegin();
  Log("Kestrune started", ltInfo);
  LogSystemInfo();
  const int rc = RunGame();
  LogEnd();
  std::printf("Kestrune: trace log written to %sqv.log\n", UserDataDir.c_str());
  DoneGlobals();
  return rc;
}
