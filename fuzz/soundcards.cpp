// The sound-card name reader (/proc/asound/cards) on any bytes: card numbers stay in 0..255, names
// are single non-empty lines, and the media area picks its sound card from them without fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sysinfo/SI_Devices.h"
#include "sysinfo/SI_Media.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TDevices devices;
  for (const auto& [index, name] : ParseSoundCards(text)) {
    if (index < 0 || index > 255 || name.empty() || name.find('\n') != std::string::npos) std::abort();
    TDevice d;
    d.ClassName = "MEDIA";
    d.DeviceType = DeviceTypeOf(d.ClassName);
    d.FriendlyName = name;
    d.Location = index % 2 ? "0000:00:1f.3" : "";
    devices.Devices.push_back(d);
  }
  TMedia media;
  media.PickDevices(devices);
  if (media.Devices.Count() != static_cast<int>(devices.Devices.size())) std::abort();
  if (media.SoundCardIndex >= media.Devices.Count() || media.GamePortIndex >= media.Devices.Count()) std::abort();
  return 0;
}
