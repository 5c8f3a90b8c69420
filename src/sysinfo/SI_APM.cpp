#include "sysinfo/SI_APM.h"

#include <dirent.h>

#include <algorithm>
#include <vector>

#include "sysinfo/Routines.h"

void TAPM::FillFrom(const std::string& sysRoot) {
  ACPowerStatus = psUnknown;
  BatteryChargeStatus = bsUnknown;
  BatteryLifePercent = 0;
  BatteryLifeTime = BatteryLifeFullTime = 0;
  const std::string dir = sysRoot + "/class/power_supply/";
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  bool sawMains = false, mainsOnline = false, battery = false;
  std::string batteryStatus;
  for (const std::string& n : names) {
    const std::string base = dir + n + "/";
    const std::string type = ReadSysLine(base + "type");
    // USB ports, UPS and wireless chargers report their own supply, not the machine's: only the
    // mains adapters and the battery say how the machine runs
    if (type == "Mains") {
      sawMains = true;
      if (ReadSysLine(base + "online") == "1") mainsOnline = true;
    } else if (type == "Battery" && !battery) {
      if (ReadSysLine(base + "present") == "0") continue;
      battery = true;
      int64_t capacity = ParseLeadingInt(ReadSysLine(base + "capacity"), -1);
      if (capacity >= 0) BatteryLifePercent = static_cast<uint8_t>(std::min<int64_t>(capacity, 100));
      const std::string status = ReadSysLine(base + "status");
      batteryStatus = status;
      const std::string level = ReadSysLine(base + "capacity_level");
      if (status == "Charging")
        BatteryChargeStatus = bsCharging;
      else if (level == "Critical")
        BatteryChargeStatus = bsCritical;
      else if (level == "Low")
        BatteryChargeStatus = bsLow;
      else if (level == "Normal" || level == "High" || level == "Full" || (capacity > 33 && level.empty()))
        BatteryChargeStatus = bsHigh;
      // remaining and full time from energy (µWh) or charge (µAh) over the present draw
      int64_t now = ParseLeadingInt(ReadSysLine(base + "energy_now"), -1);
      int64_t full = ParseLeadingInt(ReadSysLine(base + "energy_full"), -1);
      int64_t rate = ParseLeadingInt(ReadSysLine(base + "power_now"), -1);
      if (now < 0) {
        now = ParseLeadingInt(ReadSysLine(base + "charge_now"), -1);
        full = ParseLeadingInt(ReadSysLine(base + "charge_full"), -1);
        rate = ParseLeadingInt(ReadSysLine(base + "current_now"), -1);
      }
      if (status == "Discharging" && rate > 0) {
        if (now >= 0) BatteryLifeTime = static_cast<uint32_t>(std::min<int64_t>(now * 3600 / rate, UINT32_MAX));
        if (full >= 0) BatteryLifeFullTime = static_cast<uint32_t>(std::min<int64_t>(full * 3600 / rate, UINT32_MAX));
      }
    }
  }
  if (sawMains)
    ACPowerStatus = mainsOnline ? psOnline : psOffline;
  else if (battery && batteryStatus == "Discharging")
    ACPowerStatus = psOffline;  // a laptop that lists no adapter: its battery tells
  else if (battery && (batteryStatus == "Charging" || batteryStatus == "Full" || batteryStatus == "Not charging"))
    ACPowerStatus = psOnline;
  if (!battery) {
    BatteryChargeStatus = bsNoBattery;
    if (!sawMains) ACPowerStatus = psOnline;  // neither adapter nor battery listed: a desktop
  }
}
