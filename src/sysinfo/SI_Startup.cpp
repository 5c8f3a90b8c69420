#include "sysinfo/SI_Startup.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>

#include "base/SysUtils.h"
#include "sysinfo/Routines.h"

void TStartup::ReadFolder(const std::string& dir, TRunEntries& list) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n.size() > 8 && n.compare(n.size() - 8, 8, ".desktop") == 0) names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) {
    std::string path, arguments;
    if (ResolveLink(IncludeTrailingPathDelimiter(dir) + n, path, arguments) != 0) continue;
    list.emplace_back(n.substr(0, n.size() - 8), arguments.empty() ? path : path + " " + arguments);
  }
}

void TStartup::GetInfo() {
  User_Runs.clear();
  HKLM_Runs.clear();
  RunOnce.clear();
  User_Folder.clear();
  Common_Folder.clear();
  WinINI.clear();
  ReadFolder("/etc/xdg/autostart", Common_Folder);
  const char* cfg = std::getenv("XDG_CONFIG_HOME");
  std::string config = cfg && *cfg ? cfg : GetHomeDir() + "/.config";
  ReadFolder(config + "/autostart", User_Folder);
}
