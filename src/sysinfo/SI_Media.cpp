#include "sysinfo/SI_Media.h"

#include "base/SysUtils.h"
#include "sysinfo/Routines.h"
#include "sysinfo/SI_Devices.h"

namespace {
void AddOnce(TStringList& list, const std::string& name) {
  if (!name.empty() && list.IndexOf(name) < 0) list.Add(name);
}
}  // namespace

void TMedia::PickDevices(const TDevices& devices) {
  Devices.Clear();
  SoundCardIndex = GamePortIndex = -1;
  for (const TDevice& d : devices.Devices) {
    if (d.DeviceType != dtMedia) continue;
    Devices.Add(d.FriendlyName.empty() ? d.Description : d.FriendlyName);
    const int index = Devices.Count() - 1;
    if (UpperCase(Devices[index]).find("GAME") != std::string::npos)
      GamePortIndex = index;
    else if (!d.Location.empty() && SoundCardIndex < 0)
      SoundCardIndex = index;
  }
}

void TMedia::FillPcm(const std::string& text) {
  WAVEOut.Clear();
  WAVEIn.Clear();
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    // fields split at " : " after the "cc-dd: " prefix
    size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    std::string rest = line.substr(colon + 2);
    std::vector<std::string> fields;
    size_t p = 0;
    while (true) {
      size_t sep = rest.find(" : ", p);
      fields.push_back(Trim(rest.substr(p, sep == std::string::npos ? std::string::npos : sep - p)));
      if (sep == std::string::npos) break;
      p = sep + 3;
    }
    if (fields.empty() || fields[0].empty()) continue;
    for (size_t i = 1; i < fields.size(); ++i) {
      if (fields[i].rfind("playback", 0) == 0) AddOnce(WAVEOut, fields[0]);
      if (fields[i].rfind("capture", 0) == 0) AddOnce(WAVEIn, fields[0]);
    }
  }
}

void TMedia::FillFrom(const std::string& sysRoot, const std::string& procRoot) {
  TDevices devices;
  devices.FillFrom(sysRoot, procRoot);
  PickDevices(devices);
  std::string pcm;
  ReadSysFile(procRoot + "/asound/pcm", pcm, 256 * 1024);
  FillPcm(pcm);
  MIDIOut.Clear();
  MIDIIn.Clear();
  AUX.Clear();
  Mixer.Clear();
  for (int i = 0; i < Devices.Count(); ++i) AddOnce(Mixer, Devices[i]);  // one mixer per card
}
