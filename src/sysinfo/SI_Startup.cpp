#include "sysinfo/SI_Startup.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>

#include "base/SysUtils.h"
#include "sysinfo/Routines.h"

std::string DesktopEntryCommand(const std::string& text) {
  bool inEntry = false;
  std::string exec;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (!line.empty() && line[0] == '[') {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (!inEntry) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
    if (key == "Exec") exec = value;
    if ((key == "Hidden" || key == "X-GNOME-Autostart-enabled") && LowerCase(value) == (key == "Hidden" ? "true" : "false"))
      return "";
  }
  return exec;
}

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
    std::string text;
    if (!ReadSysFile(IncludeTrailingPathDelimiter(dir) + n, text, 256 * 1024)) continue;
    std::string cmd = DesktopEntryCommand(text);
    if (!cmd.empty()) list.emplace_back(n.substr(0, n.size() - 8), cmd);
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
