#include "sysinfo/SI_Printers.h"

#include <cstdlib>

#include "base/SysUtils.h"
#include "sysinfo/Routines.h"

void ParsePrintcap(const std::string& text, TStringList& names) {
  names.Clear();
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.empty() || line[0] == '#' || line[0] == ' ' || line[0] == '\t' || line[0] == ':') continue;
    std::string name = line.substr(0, line.find_first_of("|:"));
    name = Trim(name);
    if (!name.empty() && names.IndexOf(name) < 0) names.Add(name);
  }
}

void TPrinters::GetInfo() {
  std::string text;
  ReadSysFile("/etc/printcap", text);
  ParsePrintcap(text, Names);
  Ports.Clear();
  for (int i = 0; i < Names.Count(); ++i) Ports.Add("");  // the device address is the spooler's secret
  std::string def;
  const char* env = std::getenv("PRINTER");
  if (env && *env) def = env;
  if (def.empty()) def = std::getenv("LPDEST") ? std::getenv("LPDEST") : "";
  if (def.empty()) {
    std::string lp;
    std::string home = GetHomeDir();
    if (!home.empty() && ReadSysFile(home + "/.cups/lpoptions", lp, 64 * 1024)) {} else ReadSysFile("/etc/cups/lpoptions", lp, 64 * 1024);
    size_t at = lp.find("Default ");
    if (at != std::string::npos) {
      size_t end = lp.find_first_of(" \r\n", at + 8);
      def = lp.substr(at + 8, end == std::string::npos ? std::string::npos : end - at - 8);
    }
  }
  DefaultIndex = def.empty() ? -1 : Names.IndexOf(def);
}
