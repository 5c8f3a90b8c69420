#include "sysinfo/SI_Software.h"

#include "base/SysUtils.h"
#include "sysinfo/Routines.h"

void ParseDpkgStatus(const std::string& text, TStringList& products, TStringList& commands) {
  products.Clear();
  commands.Clear();
  std::string package, status;
  auto flush = [&] {
    if (!package.empty() && status.size() >= 9 && status.compare(status.size() - 9, 9, "installed") == 0 &&
        status.find("not-installed") == std::string::npos) {
      products.Add(package);
      commands.Add("apt-get remove " + package);
    }
    package.clear();
    status.clear();
  };
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (Trim(line).empty()) {
      flush();
      continue;
    }
    if (line.rfind("Package:", 0) == 0) package = Trim(line.substr(8));
    else if (line.rfind("Status:", 0) == 0) status = Trim(line.substr(7));
  }
  flush();
}

void TSoftware::GetInfo() {
  std::string text;
  ReadSysFile("/var/lib/dpkg/status", text, 64u << 20);
  ParseDpkgStatus(text, Products, UninstallCommands);
}
