#include "sysinfo/Routines.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <climits>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/Classes.h"
#include "base/SysUtils.h"
#include "base/VersionBlock.h"

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

// There is no such version record on Linux: the generation is unknown.
uint8_t GetOS() { return 0; }

uint8_t OSGenerationOf(uint32_t platformId, uint32_t major, uint32_t minor, const std::string& csd) {
  if (platformId == 2) {
    if (major == 3) return 6;
    if (major == 4) return 7;
    if (major == 5) return minor == 1 ? 9 : 8;
    return 0;
  }
  const std::string service = Trim(csd);
  if (major == 4 && minor == 0) return service == "B" ? 2 : 1;
  if (major == 4 && minor == 10) return service == "A" ? 4 : 3;
  if (major == 4 && minor == 90) return 5;
  return 0;
}

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

std::string GetHomeDir() {
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
std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}
std::string HomeSub(const std::string& sub) {
  std::string home = GetHomeDir();
  return home.empty() ? "" : IncludeTrailingPathDelimiter(home) + sub;
}
std::string XdgDir(const char* env, const char* fallback) {
  std::string v = Env(env);
  return v.empty() ? HomeSub(fallback) : v;
}
// The user folders of xdg-user-dirs ("XDG_DESKTOP_DIR="$HOME/Desktop""), else the usual name.
std::string UserDir(const char* key, const char* fallback) {
  std::string text;
  std::string file = IncludeTrailingPathDelimiter(XdgDir("XDG_CONFIG_HOME", ".config")) + "user-dirs.dirs";
  if (ReadSysFile(file, text, 64 * 1024)) {
    auto values = ParseOSRelease(text);
    auto it = values.find(key);
    if (it != values.end() && !it->second.empty()) {
      std::string v = it->second;
      if (v.rfind("$HOME", 0) == 0) v = GetHomeDir() + v.substr(5);
      return v;
    }
  }
  return HomeSub(fallback);
}
std::string DataSub(const char* sub) {
  std::string data = XdgDir("XDG_DATA_HOME", ".local/share");
  return data.empty() ? "" : IncludeTrailingPathDelimiter(data) + sub;
}
}  // namespace

std::string GetSpecialFolder(int csidl) {
  switch (csidl) {
    case 0: case 16: return UserDir("XDG_DESKTOP_DIR", "Desktop");
    case 2: case 11: return DataSub("applications");
    case 5: return UserDir("XDG_DOCUMENTS_DIR", "Documents");
    case 7: {
      std::string config = XdgDir("XDG_CONFIG_HOME", ".config");
      return config.empty() ? "" : IncludeTrailingPathDelimiter(config) + "autostart";
    }
    case 8: return DataSub("recently-used.xbel");
    case 10: return DataSub("Trash");
    case 20: return "/usr/share/fonts";
    case 21: return UserDir("XDG_TEMPLATES_DIR", "Templates");
    case 22: case 23: return "/usr/share/applications";
    case 24: return "/etc/xdg/autostart";
    case 26: return XdgDir("XDG_CONFIG_HOME", ".config");
    case 32: return XdgDir("XDG_CACHE_HOME", ".cache");
  }
  return "";
}

std::string GetProfilePath() {
  const std::string desktop = GetSpecialFolder(0);
  size_t slash = desktop.find_last_of('/');
  return slash == std::string::npos ? "" : desktop.substr(0, slash);
}

int ResolveLink(const std::string& fileName, std::string& path, std::string& arguments) {
  std::string text;
  if (!ReadSysFile(fileName, text, 256 * 1024)) return ENOENT;
  bool inEntry = false, hidden = false;
  std::string exec;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (!line.empty() && line[0] == '[') {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    const size_t eq = line.find('=');
    if (!inEntry || eq == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
    if (key == "Exec") exec = value;
    if (key == "Hidden" && LowerCase(value) == "true") hidden = true;
    if (key == "X-GNOME-Autostart-enabled" && LowerCase(value) == "false") hidden = true;
  }
  if (hidden || exec.empty()) return EINVAL;
  if (exec[0] == '"') {
    const size_t close = exec.find('"', 1);
    path = exec.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    arguments = close == std::string::npos ? "" : Trim(exec.substr(close + 1));
  } else {
    const size_t sp = exec.find_first_of(" \t");
    path = exec.substr(0, sp);
    arguments = sp == std::string::npos ? "" : Trim(exec.substr(sp + 1));
  }
  return 0;
}

namespace {
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa{}, sb{};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
}  // namespace

bool GetFileVerInfo(const std::string& fileName, TVersionInfo& info) {
  info.FileName = fileName;
  if (fileName.empty()) return false;
  struct stat st{};
  if (stat(fileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;  // never a FIFO or device
  TVersionInfoBlock block;
  const std::string which = SameFile(fileName, "/proc/self/exe") ? std::string() : fileName;
  if (!LoadVersionInfoBlock(which, block)) return false;
  info.Major = block.FileVersionMS >> 16;
  info.Minor = block.FileVersionMS & 0xFFFF;
  info.Release = block.FileVersionLS >> 16;
  info.Build = block.FileVersionLS & 0xFFFF;
  info.Version = Format("%u.%u.%u.%u", info.Major, info.Minor, info.Release, info.Build);
  // US English in the Windows Western code page first, then Czech in its Central European one
  auto text = [&](const char* key) {
    std::string value;
    if (!block.QueryString("040904E4", key, value) || value.empty()) {
      value.clear();
      block.QueryString("040504E2", key, value);
    }
    return value;
  };
  info.Description = text("FileDescription");
  info.LegalCopyright = text("LegalCopyright");
  return true;
}

void GetClassDevices(const std::string& classRoot, const std::string& className, const std::string& valueName,
                     std::string& classKey, TStringList& list) {
  classKey.clear();
  list.Clear();
  std::vector<std::string> classes, devices;
  auto listDir = [](const std::string& dir, std::vector<std::string>& out) {
    out.clear();
    if (DIR* d = opendir(dir.c_str())) {
      while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != ".." && DirectoryExists(dir + "/" + n)) out.push_back(n);
      }
      closedir(d);
    }
    std::sort(out.begin(), out.end());
  };
  listDir(classRoot, classes);
  auto it = std::find_if(classes.begin(), classes.end(), [&](const std::string& c) { return SameText(c, className); });
  if (it == classes.end()) return;
  classKey = classRoot + "/" + *it;
  listDir(classKey, devices);
  for (const std::string& dev : devices) {
    std::string value = valueName.empty() ? dev : ReadSysLine(classKey + "/" + dev + "/" + valueName);
    if (!value.empty() && list.IndexOf(value) < 0) list.Add(value);
  }
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

// Volumes

namespace {
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' &&
        s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}


std::string LabelOf(const std::string& device) {
  char real[PATH_MAX];
  if (!realpath(device.c_str(), real)) return "";
  DIR* d = opendir("/dev/disk/by-label");
  if (!d) return "";
  std::string label;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    char target[PATH_MAX];
    std::string link = "/dev/disk/by-label/" + n;
    if (realpath(link.c_str(), target) && std::string(target) == real) {
      label = ParseOSRelease("L=\"" + n + "\"")["L"];  // by-label names escape blanks as \x20
      break;
    }
  }
  closedir(d);
  return label;
}
}  // namespace

std::vector<TMountEntry> ParseMounts(const std::string& text) {
  std::vector<TMountEntry> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    std::vector<std::string> f;
    size_t p = 0;
    while (p < line.size() && f.size() < 3) {
      size_t sp = line.find(' ', p);
      if (sp == std::string::npos) sp = line.size();
      if (sp > p) f.push_back(Unescape(line.substr(p, sp - p)));
      p = sp + 1;
    }
    if (f.size() < 3 || f[1].empty() || f[1][0] != '/') continue;
    out.push_back({f[0], f[1], f[2]});
  }
  return out;
}

std::string WholeDiskName(const std::string& device, const std::string& sysRoot) {
  std::string name = device;
  const size_t slash = name.find_last_of('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  if (name.empty()) return name;
  // sysfs knows: a partition's folder sits inside its disk's folder
  const std::string link = sysRoot + "/class/block/" + name;
  if (FileExists(link + "/partition")) {
    char real[PATH_MAX];
    if (realpath(link.c_str(), real)) {
      std::string parent = real;
      parent = parent.substr(0, parent.find_last_of('/'));
      const size_t p = parent.find_last_of('/');
      if (p != std::string::npos && p + 1 < parent.size()) return parent.substr(p + 1);
    }
  }
  if (DirectoryExists(sysRoot + "/block/" + name)) return name;
  // by name: disks whose own name ends in a digit number their partitions after a "p"
  std::string base = name;
  while (!base.empty() && base.back() >= '0' && base.back() <= '9') base.pop_back();
  if (base.empty() || base.size() == name.size()) return name;
  if (base.size() >= 2 && base.back() == 'p' && base[base.size() - 2] >= '0' && base[base.size() - 2] <= '9')
    base.pop_back();
  return base;
}

TMediaType MediaTypeOf(const TMountEntry& m, const std::string& sysRoot) {
  const std::string& fs = m.FileSystem;
  if (fs == "nfs" || fs == "nfs4" || fs == "cifs" || fs == "smb3" || fs == "sshfs" || fs == "fuse.sshfs" ||
      fs == "9p")
    return dtRemote;
  if (fs == "iso9660" || fs == "udf") return dtCDROM;
  if (fs == "tmpfs" || fs == "ramfs") return dtRAMDisk;
  if (m.Device.rfind("/dev/", 0) == 0) {
    if (ReadSysLine(sysRoot + "/block/" + WholeDiskName(m.Device, sysRoot) + "/removable") == "1")
      return dtRemovable;
    return dtFixed;
  }
  if (fs == "overlay" || fs == "btrfs" || fs == "zfs" || fs == "xfs" || fs.rfind("ext", 0) == 0) return dtFixed;
  return dtUnknown;
}

const TMountEntry* MountOf(const std::vector<TMountEntry>& mounts, const std::string& path) {
  const TMountEntry* best = nullptr;
  for (const auto& m : mounts) {
    const std::string& p = m.MountPoint;
    bool inside = path == p || (path.compare(0, p.size(), p) == 0 && (p == "/" || path[p.size()] == '/'));
    if (inside && (!best || p.size() >= best->MountPoint.size())) best = &m;
  }
  return best;
}

bool DiskInDrive(const std::string& drive) {
  struct statvfs st{};
  return !drive.empty() && statvfs(drive.c_str(), &st) == 0;
}

void GetDiskInfo(const std::string& drive, TDiskInfo& info) {
  info = TDiskInfo();
  info.Drive = drive;
  std::string text;
  ReadSysFile("/proc/self/mounts", text);
  auto mounts = ParseMounts(text);
  const TMountEntry* m = drive.empty() ? nullptr : MountOf(mounts, drive);
  if (!DirectoryExists(drive)) {
    info.MediaType = dtNotExists;
    return;
  }
  info.MediaType = m ? MediaTypeOf(*m) : dtUnknown;
  struct statvfs st{};
  if (drive.empty() || statvfs(drive.c_str(), &st) != 0) return;
  const uint64_t unit = st.f_frsize ? st.f_frsize : st.f_bsize;
  info.BytesPerSector = 512;
  info.SectorsPerCluster = static_cast<uint32_t>(unit / 512 ? unit / 512 : 1);
  info.TotalClusters = static_cast<uint32_t>(std::min<uint64_t>(st.f_blocks, UINT32_MAX));
  info.FreeClusters = static_cast<uint32_t>(std::min<uint64_t>(st.f_bavail, UINT32_MAX));
  info.Capacity = static_cast<int64_t>(st.f_blocks * unit);
  info.FreeSpace = static_cast<int64_t>(st.f_bavail * unit);
  info.Serial = static_cast<uint32_t>(st.f_fsid);
  const std::string hex = IntToHex(info.Serial, 8);
  info.SerialNumber = hex.substr(0, 4) + "-" + hex.substr(4, 4);
  if (m) {
    info.FileSystem = m->FileSystem;
    if (m->Device.rfind("/dev/", 0) == 0) info.VolumeLabel = LabelOf(m->Device);
    const std::string& fs = info.FileSystem;
    const bool posixNames = fs.rfind("ext", 0) == 0 || fs == "xfs" || fs == "btrfs" || fs == "zfs" ||
                            fs == "overlay" || fs == "tmpfs" || fs == "f2fs";
    if (posixNames)
      info.FileFlags |= (1u << fsCaseIsPreserved) | (1u << fsCaseSensitive) | (1u << fsPersistentAcls) |
                        (1u << fsSparseFilesSupport);
    if (fs == "btrfs" || fs == "zfs") info.FileFlags |= 1u << fsFileCompression;
    if (fs == "ext4" || fs == "f2fs") info.FileFlags |= 1u << fsEncryptedFileSystemSupport;
  }
  if (st.f_namemax == 255) info.FileFlags |= 1u << fsLongFileNames;
}
