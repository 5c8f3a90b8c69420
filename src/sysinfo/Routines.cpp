#include "sysinfo/Routines.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/Classes.h"
#include "base/SysUtils.h"

extern char** environ;

namespace {
std::string ComputeOSName() {
  std::string text;
  if (!ReadSysFile("/etc/os-release", text, 64 * 1024)) ReadSysFile("/usr/lib/os-release", text, 64 * 1024);
  auto values = ParseOSRelease(text);
  if (!values["PRETTY_NAME"].empty()) return values["PRETTY_NAME"];
  if (!values["NAME"].empty()) return values["NAME"];
  utsname u{};
  if (uname(&u) == 0) return u.sysname;
  return "";
}
}  // namespace

uint8_t GetOS() { return 0; }

uint8_t OSGeneration = GetOS();
bool IsNT = OSGeneration >= 6 && OSGeneration <= 9;
bool IsWin95 = OSGeneration == 1;
bool IsOSR2 = OSGeneration == 2;
bool IsWin98 = OSGeneration == 3;
bool IsWin98SE = OSGeneration == 4;
bool IsWinME = OSGeneration == 5;
bool IsWin2000 = OSGeneration == 8;
bool IsWinXP = OSGeneration == 9;
std::string OSName = ComputeOSName();
std::string UserName = GetUser();
std::string MachineName = UpperCase(GetMachine());
std::string ProfilePath = GetProfilePath();

std::string FormatSeconds(bool WholeSeconds, bool AllUnits, bool Clock, int64_t Seconds) {
  static const int64_t kUnit[7] = {3157920000LL, 31579200LL, 2678400LL, 604800LL, 86400LL, 3600LL, 60LL};
  static const char* kOne[7] = {" Century, ", " Year, ", " Month, ", " Week, ", " Day, ", " Hour, ", " Minute, "};
  static const char* kMany[7] = {" Centuries, ", " Years, ", " Months, ", " Weeks, ", " Days, ", " Hours, ", " Minutes, "};
  int64_t count[7];
  int64_t rest = Seconds;
  for (int i = 0; i < 7; ++i) {
    count[i] = rest / kUnit[i];
    rest -= count[i] * kUnit[i];
  }
  const std::string secText = Format(WholeSeconds ? "%.0f" : "%.2f", static_cast<double>(rest)) +
                              (rest == 1 ? " Second." : " Seconds.");
  auto part = [&](int i) { return IntToStr(count[i]) + (count[i] == 1 ? kOne[i] : kMany[i]); };
  auto i2 = [](int64_t v) { return static_cast<long long>(v); };
  if (AllUnits && Clock)
    return Format("%2.2lld.%2.2lld.%2.2lld %2.2lld:%2.2lld:%2.2lld", i2(count[1]), i2(count[2]),
                  i2(count[4] + 7 * count[3]), i2(count[5]), i2(count[6]), i2(rest));
  if (Clock) return Format("%2.2lld:%2.2lld:%2.2lld", i2(count[5]), i2(count[6]), i2(rest));
  std::string out;
  int first = 0;
  if (!AllUnits)
    while (first < 7 && count[first] == 0) ++first;
  for (int i = first; i < 7; ++i) out += part(i);
  return out + secText;
}

std::string DequoteStr(const std::string& s) {
  if (s.size() > 1 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
  return s;
}

std::string StripSpaces(const std::string& s) {
  const std::string t = Trim(s);
  std::string out;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == ' ') continue;
    if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') {
      ++i;
      continue;
    }
    out += t[i];
  }
  return out;
}

std::string GetFileFromCommand(const std::string& command) {
  std::string s = command;
  while (!s.empty() && !FileExists(s)) {
    s.pop_back();
    s = DequoteStr(s);
  }
  return s;
}

std::string MultiSzToStr(const std::string& block) {
  std::string out;
  for (size_t i = 0; i < block.size(); ++i) {
    if (block[i] == '\0') {
      if (i + 1 >= block.size() || block[i + 1] == '\0') break;
      continue;
    }
    out += block[i];
  }
  return out;
}

std::string GetMachine() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

std::string GetUser() {
  passwd pw{};
  passwd* result = nullptr;
  char buf[4096];
  if (getpwuid_r(geteuid(), &pw, buf, sizeof buf, &result) == 0 && result && result->pw_name)
    return result->pw_name;
  const char* env = std::getenv("USER");
  return env ? env : "";
}

void GetEnvironment(TStringList& list) {
  list.Clear();
  for (char** e = environ; e && *e; ++e)
    if (**e) list.Add(*e);
}

std::string GetWinDir() { return "/"; }
std::string GetSysDir() { return "/usr/bin"; }
std::string GetWinSysDir() { return GetWinDir() + ";" + GetSysDir() + ";"; }

std::string GetTempDir() {
  const char* t = std::getenv("TMPDIR");
  return IncludeTrailingPathDelimiter(t && *t ? t : "/tmp");
}

std::string GetProfilePath() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  passwd pw{};
  passwd* result = nullptr;
  char buf[4096];
  if (getpwuid_r(geteuid(), &pw, buf, sizeof buf, &result) == 0 && result && result->pw_dir)
    return result->pw_dir;
  return "";
}

namespace {
std::string FirstWord(const char* env) {
  const char* v = std::getenv(env);
  if (!v || !*v) return "";
  // BROWSER may list several programs separated by colons; the first is the default
  std::string s = v;
  s = s.substr(0, s.find(':'));
  return GetFileFromCommand(s);
}
std::string FindInPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (!path) return "";
  std::string p = path;
  size_t start = 0;
  while (start <= p.size()) {
    size_t end = p.find(':', start);
    if (end == std::string::npos) end = p.size();
    std::string dir = p.substr(start, end - start);
    if (!dir.empty()) {
      std::string candidate = IncludeTrailingPathDelimiter(dir) + name;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    start = end + 1;
  }
  return "";
}
}  // namespace

std::string GetDefaultBrowser() {
  std::string b = FirstWord("BROWSER");
  if (b.empty()) b = FindInPath("x-www-browser");
  return b;
}

std::string GetDefaultMailClient() { return FindInPath("x-mail-client"); }

std::string GetProxyServer() {
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY"}) {
    const char* v = std::getenv(name);
    if (v && *v) return v;
  }
  return "";
}

int RasConnectionCount() { return 0; }

TConnectionType GetConnectionType() {
  if (!GetProxyServer().empty()) return ctLAN;
  return RasConnectionCount() > 0 ? ctDialup : ctNone;
}

bool ReadSysFile(const std::string& path, std::string& out, size_t maxBytes) {
  out.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[8192];
  bool ok = true;
  while (out.size() < maxBytes) {
    ssize_t n = ::read(fd, buf, std::min(sizeof buf, maxBytes - out.size()));
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return ok;
}

std::string ReadSysLine(const std::string& path) {
  std::string text;
  if (!ReadSysFile(path, text, 64 * 1024)) return "";
  size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  return Trim(text);
}

std::map<std::string, std::string> ParseOSRelease(const std::string& text) {
  std::map<std::string, std::string> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    std::string key = line.substr(0, eq);
    std::string raw = line.substr(eq + 1);
    std::string value;
    char quote = 0;
    if (!raw.empty() && (raw[0] == '"' || raw[0] == '\'')) quote = raw[0];
    bool closed = quote == 0;
    for (size_t i = quote ? 1 : 0; i < raw.size(); ++i) {
      char c = raw[i];
      if (quote && c == quote) {
        closed = true;
        break;
      }
      if (c == '\\' && quote != '\'' && i + 1 < raw.size()) {
        value += raw[++i];
        continue;
      }
      value += c;
    }
    if (!closed) continue;  // an unterminated quote: the line is not trusted
    out[key] = value;
  }
  return out;
}

std::map<std::string, std::string> ParseColonFile(const std::string& text, bool firstBlockOnly) {
  std::map<std::string, std::string> out;
  size_t pos = 0;
  bool seen = false;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (Trim(line).empty()) {
      if (firstBlockOnly && seen) break;
      continue;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = Trim(line.substr(0, colon));
    if (key.empty()) continue;
    seen = true;
    out.emplace(key, Trim(line.substr(colon + 1)));
  }
  return out;
}

int64_t ParseLeadingInt(const std::string& s, int64_t def) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  if (i >= s.size() || s[i] < '0' || s[i] > '9') return def;
  int64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    int d = s[i] - '0';
    if (v > (INT64_MAX - d) / 10) return def;
    v = v * 10 + d;
  }
  return v;
}
