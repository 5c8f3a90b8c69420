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

  static const std::pair<const char*, int> kSpecial[29] = {
      {"AppData=", 26},        {"CommonDesktopDir=", 25}, {"CommonAltStartUp=", 30}, {"RecycleBin=", 10},
      {"CommonPrograms=", 23}, {"CommonStartMenu=", 22},  {"CommonStartup=", 24},    {"CommonFavorites=", 31},
      {"Cookies=", 33},        {"Controls=", 3},          {"Desktop=", 0},           {"DesktopDir=", 16},
      {"Favorites=", 6},       {"Drives=", 17},           {"Fonts=", 20},            {"History=", 34},
      {"Internet=", 1},        {"InternetCache=", 32},    {"NetWork=", 18},          {"NetHood=", 19},
      {"MyDocuments=", 5},     {"PrintHood=", 27},        {"Printers=", 4},          {"Programs=", 2},
      {"Recent=", 8},          {"SendTo=", 9},            {"StartMenu=", 11},        {"StartUp=", 7},
      {"Templates=", 21}};
  for (const auto& [name, csidl] : kSpecial) Folders.Add(name + GetSpecialFolder(csidl));
  // the folder that holds the desktop folder
  const std::string desktop = GetSpecialFolder(0);
  const size_t slash = desktop.find_last_of('/');
  Folders.Add("Profile=" + (slash == std::string::npos ? std::string() : desktop.substr(0, slash)));

  GetEnvironment(Environment);
}
