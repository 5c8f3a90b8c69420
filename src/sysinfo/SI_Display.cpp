#include "sysinfo/SI_Display.h"

#include "base/SysUtils.h"
#include "sysinfo/Routines.h"
#include "platform/Screen.h"
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

void TDisplay::FillFrom(const std::string& sysRoot, const std::string& procRoot, bool windowSystem) {
  TDevices devices;
  devices.FillFrom(sysRoot, procRoot);
  Adapter.clear();
  Chipset.clear();
  PickAdapter(devices);

  // every refresh starts over: the mode may have changed since the last one
  HorzRes = VertRes = ColorDepth = 0;
  Technology.clear();
  Modes.Clear();
  int w = 0, h = 0, bits = 0;
  if (windowSystem && DesktopScreenMode(w, h, bits)) {
    HorzRes = w;
    VertRes = h;
    ColorDepth = bits;
  }
  const std::string fb = sysRoot + "/class/graphics/fb0/";
  const std::string size = ReadSysLine(fb + "virtual_size");
  const size_t comma = size.find(',');
  if (comma != std::string::npos) {
    const int32_t fbW = static_cast<int32_t>(ParseLeadingInt(size.substr(0, comma), 0));
    const int32_t fbH = static_cast<int32_t>(ParseLeadingInt(size.substr(comma + 1), 0));
    const int32_t fbBits = static_cast<int32_t>(ParseLeadingInt(ReadSysLine(fb + "bits_per_pixel"), 0));
    if (HorzRes == 0 && fbW > 0 && fbH > 0) {
      HorzRes = fbW;
      VertRes = fbH;
    }
    if (ColorDepth == 0) ColorDepth = fbBits;
  }

  // the connectors ("card0-HDMI-A-1") of the first card with a connected screen
  const std::string drm = sysRoot + "/class/drm/";
  std::vector<std::string> names;
  if (DIR* d = opendir(drm.c_str())) {
    while (dirent* e = readdir(d)) names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  std::vector<std::pair<int32_t, int32_t>> modes;
  for (const std::string& n : names) {
    if (n.find('-') == std::string::npos || ReadSysLine(drm + n + "/status") != "connected") continue;
    std::string text;
    ReadSysFile(drm + n + "/modes", text, 64 * 1024);
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(pos, end - pos);
      pos = end + 1;
      const size_t x = line.find('x');
      if (x == std::string::npos) continue;
      const int64_t mw = ParseLeadingInt(line.substr(0, x), -1), mh = ParseLeadingInt(line.substr(x + 1), -1);
      if (mw <= 0 || mh <= 0 || mw > 65535 || mh > 65535) continue;
      modes.emplace_back(static_cast<int32_t>(mw), static_cast<int32_t>(mh));
    }
    if (!modes.empty()) break;
  }
  if (!modes.empty() && HorzRes == 0) {  // the preferred mode comes first
    HorzRes = modes[0].first;
    VertRes = modes[0].second;
  }
  // Without a frame-buffer console nothing tells the depth of a DRM screen; its scan-out buffers
  // are XRGB8888 (24 bits of colour in 32-bit pixels) unless a driver is asked for less.
  if (ColorDepth == 0 && HorzRes > 0) ColorDepth = 32;
  for (const auto& [mw, mh] : modes) Modes.Add(Format("%d x %d - %d bit", mw, mh, ColorDepth));
  if (HorzRes > 0) Technology = "Raster Display";
}
