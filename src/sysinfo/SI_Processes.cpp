#include "sysinfo/SI_Processes.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "sysinfo/Routines.h"

void TProcesses::FillFrom(const std::string& procRoot) {
  Entries.clear();
  DIR* d = opendir(procRoot.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    const std::string n = e->d_name;
    if (n.empty() || n.find_first_not_of("0123456789") != std::string::npos) continue;
    int64_t pid = ParseLeadingInt(n, -1);
    if (pid < 0 || pid > INT32_MAX) continue;
    TProcessEntry entry;
    entry.PID = static_cast<int32_t>(pid);
    char buf[PATH_MAX];
    ssize_t len = readlink((procRoot + "/" + n + "/exe").c_str(), buf, sizeof buf - 1);
    if (len > 0) {
      entry.Name.assign(buf, static_cast<size_t>(len));
    } else {
      std::string comm = ReadSysLine(procRoot + "/" + n + "/comm");
      if (comm.empty()) continue;  // gone meanwhile
      entry.Name = "[" + comm + "]";
    }
    Entries.push_back(std::move(entry));
  }
  closedir(d);
  std::sort(Entries.begin(), Entries.end(), [](const TProcessEntry& a, const TProcessEntry& b) { return a.PID < b.PID; });
}
