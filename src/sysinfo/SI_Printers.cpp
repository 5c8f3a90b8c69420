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

namespace {
std::string WithoutUserInfo(const std::string& uri) {
  const size_t scheme = uri.find("://");
  if (scheme == std::string::npos) return uri;
  const size_t host = scheme + 3;
  const size_t slash = uri.find('/', host);
  const size_t at = uri.rfind('@', slash == std::string::npos ? std::string::npos : slash);
  if (at == std::string::npos || at < host) return uri;
  return uri.substr(0, host) + uri.substr(at + 1);
}
}  // namespace

void ParsePrintersConf(const std::string& text, TStringList& names, TStringList& ports, std::string& defaultName) {
  names.Clear();
  ports.Clear();
  defaultName.clear();
  int current = -1;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '<') {
      current = -1;
      const bool isDefault = line.rfind("<DefaultPrinter ", 0) == 0;
      if (!isDefault && line.rfind("<Printer ", 0) != 0) continue;  // closing tags, classes
      const size_t start = line.find(' ') + 1;
      const size_t close = line.rfind('>');
      if (close == std::string::npos || close <= start) continue;
      const std::string name = Trim(line.substr(start, close - start));
      if (name.empty() || names.IndexOf(name) >= 0) continue;
      names.Add(name);
      ports.Add("");
      current = names.Count() - 1;
      if (isDefault) defaultName = name;
      continue;
    }
    if (current >= 0 && line.rfind("DeviceURI ", 0) == 0) ports.Strings[current] = WithoutUserInfo(Trim(line.substr(10)));
  }
}

void TPrinters::GetInfo() {
  // The print server keeps its queues in printers.conf, readable only to some; printcap is
  // the older list (and the server's copy of its queue names).
  std::string text, serverDefault;
  ReadSysFile(Roots.Etc + "/cups/printers.conf", text);
  ParsePrintersConf(text, Names, Ports, serverDefault);
  TStringList printcap;
  ReadSysFile(Roots.Etc + "/printcap", text);
  ParsePrintcap(text, printcap);
  for (const std::string& name : printcap.Strings)
    if (Names.IndexOf(name) < 0) {
      Names.Add(name);
      Ports.Add("");
    }
  std::string def;
  const char* env = std::getenv("PRINTER");
  if (env && *env) def = env;
  if (def.empty()) def = std::getenv("LPDEST") ? std::getenv("LPDEST") : "";
  if (def.empty()) {
    std::string lp;
    std::string home = GetHomeDir();
    if (home.empty() || !ReadSysFile(home + "/.cups/lpoptions", lp, 64 * 1024))
      ReadSysFile(Roots.Etc + "/cups/lpoptions", lp, 64 * 1024);
    size_t at = lp.find("Default ");
    if (at != std::string::npos) {
      size_t end = lp.find_first_of(" \r\n", at + 8);
      def = lp.substr(at + 8, end == std::string::npos ? std::string::npos : end - at - 8);
    }
  }
  if (def.empty()) def = serverDefault;
  DefaultIndex = def.empty() ? -1 : Names.IndexOf(def);
}
