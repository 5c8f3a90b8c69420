#include "sysinfo/SI_Display.h"

#include "base/SysUtils.h"
#include "sysinfo/Routines.h"
#include "sysinfo/SI_Devices.h"

#include <dirent.h>

#include <algorithm>
#include <vector>

void TDisplay::PickAdapter(const TDevices& devices) {
  const TDevice* chosen = nullptr;
  for (const TDevice& d : devices.Devices) {
    if (d.DeviceType != dtDisplay) continue;
    chosen = &d;
    if (d.Driver.find("0000") != std::string::npos) break;
  }
  if (chosen) {
    Adapter = chosen->FriendlyName.empty() ? chosen->Description : chosen->FriendlyName;
    Chipset = chosen->Service;
  }
}

void TDisplay::FillFrom(const std::string& sysRoot, const std::string& procRoot) {
  TDevices devices;
  devices.FillFrom(sysRoot, procRoot);
  PickAdapter(devices);

  Modes.Clear();
  // the frame-buffer console knows the mode and depth; else the first connected DRM connector
  const std::string fb = sysRoot + "/class/graphics/fb0/";
  std::string size = ReadSysLine(fb + "virtual_size");
  size_t comma = size.find(',');
  if (comma != std::string::npos) {
    HorzRes = static_cast<int32_t>(ParseLeadingInt(size.substr(0, comma), 0));
    VertRes = static_cast<int32_t>(ParseLeadingInt(size.substr(comma + 1), 0));
    ColorDepth = static_cast<int32_t>(ParseLeadingInt(ReadSysLine(fb + "bits_per_pixel"), 0));
    Technology = "Raster Display";
  }
  const std::string drm = sysRoot + "/class/drm/";
  std::vector<std::string> names;
  if (DIR* d = opendir(drm.c_str())) {
    while (dirent* e = readdir(d)) names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) {
    if (n.find('-') == std::string::npos || ReadSysLine(drm + n + "/status") != "connected") continue;
    std::string modes;
    ReadSysFile(drm + n + "/modes", modes, 64 * 1024);
    size_t pos = 0;
    while (pos < modes.size()) {
      size_t end = modes.find('\n', pos);
      if (end == std::string::npos) end = modes.size();
      std::string line = modes.substr(pos, end - pos);
      pos = end + 1;
      size_t x = line.find('x');
      if (x == std::string::npos) continue;
      int64_t w = ParseLeadingInt(line.substr(0, x), -1), h = ParseLeadingInt(line.substr(x + 1), -1);
      if (w <= 0 || h <= 0) continue;
      if (HorzRes == 0) {  // the preferred mode comes first
        HorzRes = static_cast<int32_t>(w);
        VertRes = static_cast<int32_t>(h);
        Technology = "Raster Display";
      }
      Modes.Add(Format("%d x %d - %d bit", static_cast<int>(w), static_cast<int>(h), ColorDepth));
    }
    if (Modes.Count() > 0) break;
  }
}
