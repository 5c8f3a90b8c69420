#include "sysinfo/SI_Machine.h"

#include <dirent.h>
#include <sys/sysinfo.h>

#include <cstdlib>
#include <ctime>

#include "base/SysUtils.h"
#include "sysinfo/Routines.h"
#include "sysinfo/SI_Devices.h"

double ParseUptime(const std::string& text) {
  const std::string t = Trim(text);
  if (t.empty() || t[0] < '0' || t[0] > '9') return -1;
  char* end = nullptr;
  double v = std::strtod(t.c_str(), &end);
  if (end == t.c_str() || !(v >= 0) || v > 1e12) return -1;
  return v;
}

void TMachine::ReadLockKeys(const std::string& sysRoot) {
  // The keyboards' LEDs ("input3::capslock") show the lock states the window system keeps in
  // step with them; with several keyboards any lit one counts.
  CapsLock = NumLock = ScrollLock = false;
  const std::string dir = sysRoot + "/class/leds/";
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    const size_t sep = name.rfind("::");
    if (sep == std::string::npos) continue;
    const std::string function = name.substr(sep + 2);
    bool* key = function == "capslock" ? &CapsLock : function == "numlock" ? &NumLock
              : function == "scrolllock" ? &ScrollLock : nullptr;
    if (key && ParseLeadingInt(ReadSysLine(dir + name + "/brightness"), 0) > 0) *key = true;
  }
  closedir(d);
}

void TMachine::FillFrom(const std::string& sysRoot, const std::string& procRoot) {
  // the kernel's own up-time: it does not wrap like a 32-bit millisecond counter
  std::string text;
  ReadSysFile(procRoot + "/uptime", text, 4096);
  double up = ParseUptime(text);
  if (up < 0) {
    struct sysinfo si{};
    up = sysinfo(&si) == 0 ? static_cast<double>(si.uptime) : 0;
  }
  SystemUpTime = up;
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  const double nowDays = (static_cast<double>(now) + static_cast<double>(local.tm_gmtoff)) / 86400.0 + 25569.0;
  LastBoot = nowDays - up / 86400.0;

  Name = MachineName;
  User = GetUser();

  const std::string dmi = sysRoot + "/class/dmi/id/";
  BIOSName = ReadSysLine(dmi + "bios_vendor");
  BIOSCopyright = ReadSysLine(dmi + "bios_version");
  BIOSDate = ReadSysLine(dmi + "bios_date");
  BIOSExtendedInfo = ReadSysLine(dmi + "bios_release");
  ReadLockKeys(sysRoot);

  TDevices devices;
  devices.FillFrom(sysRoot, procRoot);
  Computer.clear();
  for (const TDevice& d : devices.Devices)
    if (d.DeviceType == dtComputer) {
      Computer = d.FriendlyName.empty() ? d.Description : d.FriendlyName;
      break;
    }
}
