// Kestrune start-up. Until the menu application stands, the program runs the module start-up
// ("-uninstall", the single-instance guard), records one run in its trace log with the version
// and system summary, and exits.
#include <cstdio>
#include <string>

#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "shell/StartupLog.h"

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
  LogEnd();
  std::printf("Kestrune: trace log written to %sqv.log\n", UserDataDir.c_str());
  DoneGlobals();
  return 0;
}
