#include "sysinfo/SI_OS.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>

#include "base/SysUtils.h"

namespace {
std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string HomeSub(const std::string& sub) {
  std::string home = GetProfilePath();
  return home.empty() ? "" : IncludeTrailingPathDelimiter(home) + sub;
}

std::string XdgConfigHome() {
  std::string c = Env("XDG_CONFIG_HOME");
  return c.empty() ? HomeSub(".config") : c;
}

// The user folders of xdg-user-dirs ("XDG_DESKTOP_DIR="$HOME/Desktop""), else the usual name.
std::string UserDir(const char* key, const char* fallback) {
  std::string text;
  if (ReadSysFile(IncludeTrailingPathDelimiter(XdgConfigHome()) + "user-dirs.dirs", text, 64 * 1024)) {
    auto values = ParseOSRelease(text);
    auto it = values.find(key);
    if (it != values.end() && !it->second.empty()) {
      std::string v = it->second;
      if (v.rfind("$HOME", 0) == 0) v = GetProfilePath() + v.substr(5);
      return v;
    }
  }
  return HomeSub(fallback);
}

std::string ZoneName() {
  std::string tz = Env("TZ");
  if (!tz.empty()) return tz[0] == ':' ? tz.substr(1) : tz;
  std::string name = ReadSysLine("/etc/timezone");
  if (!name.empty()) return name;
  char buf[PATH_MAX];
  ssize_t n = readlink("/etc/localtime", buf, sizeof buf - 1);
  if (n > 0) {
    std::string target(buf, static_cast<size_t>(n));
    size_t at = target.find("zoneinfo/");
    if (at != std::string::npos) return target.substr(at + 9);
  }
  return "";
}
}  // namespace

void TTimeZone::GetInfo() {
  tzset();
  StandardName = tzname[0] ? tzname[0] : "";
  DaylightName = tzname[1] ? tzname[1] : "";
  Bias = static_cast<int32_t>(timezone / 60);
  std::string zone = ZoneName();
  if (!zone.empty()) DisplayName = zone;
}

void TNTSpecific::GetInfo() {}

void TInternet::GetInfo() {
  DefaultBrowser = GetDefaultBrowser();
  DefaultMailClient = GetDefaultMailClient();
  ConnectionType = GetConnectionType();
  ProxyServer = GetProxyServer();
}

void ParseKernelRelease(const std::string& release, int32_t& major, int32_t& minor, int32_t& build) {
  int32_t* parts[3] = {&major, &minor, &build};
  major = minor = build = 0;
  size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    if (pos >= release.size() || release[pos] < '0' || release[pos] > '9') return;
    int64_t v = 0;
    while (pos < release.size() && release[pos] >= '0' && release[pos] <= '9') {
      v = v * 10 + (release[pos] - '0');
      if (v > INT32_MAX) return;
      ++pos;
    }
    *parts[i] = static_cast<int32_t>(v);
    if (pos >= release.size() || release[pos] != '.') return;
    ++pos;
  }
}

void TOperatingSystem::FillFromOSRelease(const std::string& text) {
  auto values = ParseOSRelease(text);
  Version = values["VERSION"];
  if (Version.empty()) Version = values["VERSION_ID"];
  RegisteredUser.clear();
  RegisteredOrg.clear();
  ProductID = values["ID"];
}

void TOperatingSystem::GetInfo() {
  Folders.Clear();
  GuardedCall("TTimeZone.GetInfo", ExceptionMode, [this] { TimeZone.GetInfo(); });
  GuardedCall("TNTSpecific.GetInfo", ExceptionMode, [this] { NTSpecific.GetInfo(); });
  GuardedCall("TInternet.GetInfo", ExceptionMode, [this] { Internet.GetInfo(); });

  utsname u{};
  if (uname(&u) == 0) {
    ParseKernelRelease(u.release, MajorVersion, MinorVersion, BuildNumber);
    Platform = u.sysname;
    CSD = u.version;  // the kernel's build text stands where the service-pack text would
  }

  std::string text;
  if (!ReadSysFile("/etc/os-release", text, 64 * 1024)) ReadSysFile("/usr/lib/os-release", text, 64 * 1024);
  FillFromOSRelease(text);

  Folders.Add("CommonFiles=/usr/share");
  Folders.Add("ProgramFiles=/usr/bin");
  Folders.Add("Device=/dev");
  Folders.Add("OtherDevice=");
  Folders.Add("Media=/usr/share/sounds");
  Folders.Add("Config=/etc");
  Folders.Add("Wallpaper=/usr/share/backgrounds");
  Folders.Add("Windows=" + GetWinDir());
  Folders.Add("System=" + GetSysDir());
  Folders.Add("Temp=" + GetTempDir());

  const std::string config = XdgConfigHome();
  std::string data = Env("XDG_DATA_HOME");
  if (data.empty()) data = HomeSub(".local/share");
  std::string cache = Env("XDG_CACHE_HOME");
  if (cache.empty()) cache = HomeSub(".cache");
  const std::string desktop = UserDir("XDG_DESKTOP_DIR", "Desktop");
  const std::pair<const char*, std::string> special[] = {
      {"AppData=", config},
      {"CommonDesktopDir=", ""},
      {"CommonAltStartUp=", ""},
      {"RecycleBin=", data.empty() ? "" : data + "/Trash"},
      {"CommonPrograms=", "/usr/share/applications"},
      {"CommonStartMenu=", "/usr/share/applications"},
      {"CommonStartup=", "/etc/xdg/autostart"},
      {"CommonFavorites=", ""},
      {"Cookies=", ""},
      {"Controls=", ""},
      {"Desktop=", desktop},
      {"DesktopDir=", desktop},
      {"Favorites=", ""},
      {"Drives=", ""},
      {"Fonts=", "/usr/share/fonts"},
      {"History=", ""},
      {"Internet=", ""},
      {"InternetCache=", cache},
      {"NetWork=", ""},
      {"NetHood=", ""},
      {"MyDocuments=", UserDir("XDG_DOCUMENTS_DIR", "Documents")},
      {"PrintHood=", ""},
      {"Printers=", ""},
      {"Programs=", data.empty() ? "" : data + "/applications"},
      {"Recent=", data.empty() ? "" : data + "/recently-used.xbel"},
      {"SendTo=", ""},
      {"StartMenu=", data.empty() ? "" : data + "/applications"},
      {"StartUp=", config.empty() ? "" : config + "/autostart"},
      {"Templates=", UserDir("XDG_TEMPLATES_DIR", "Templates")},
  };
  for (const auto& [name, path] : special) Folders.Add(name + path);
  // the folder that holds the desktop folder
  size_t slash = desktop.find_last_of('/');
  Folders.Add("Profile=" + (slash == std::string::npos ? std::string() : desktop.substr(0, slash)));

  GetEnvironment(Environment);
}
