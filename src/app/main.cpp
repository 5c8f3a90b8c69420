// Kestrune start-up. Until the menu application stands, the program opens its trace log in the
// user's data folder, records one run and exits.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/SysUtils.h"
#include "engine/tools.h"

static std::string UserDataDir() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (xdg && *xdg) base = xdg;
  else if (const char* home = std::getenv("HOME")) base = std::string(home) + "/.local/share";
  else base = ProgramDir();
  std::string dir = IncludeTrailingPathDelimiter(base) + "Orvalent/QV/";
  if (!ForceDirectories(dir)) dir = ProgramDir();
  return dir;
}

int main(int, char**) {
  std::string dir = UserDataDir();
  SetLogFile(dir + "qv.log");
  LogBegin();
  Log("Kestrune started", ltInfo);
  LogEnd();
  std::printf("Kestrune: trace log written to %sqv.log\n", dir.c_str());
  return 0;
}
