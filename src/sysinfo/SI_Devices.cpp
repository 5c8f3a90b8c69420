#include "sysinfo/SI_Devices.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <map>

#include "base/Exceptions.h"
#include "base/SysUtils.h"
#include "sysinfo/Routines.h"

namespace {
const char* kTypeNames[37] = {
    "Battery", "Computer", "DiskDrive", "Display", "CDROM", "fdc", "FloppyDisk", "GPS", "HID",
    "hdc", "1394", "Image", "Infrared", "Keyboard", "MediumChanger", "MTD", "Mouse", "Modem",
    "Monitor", "MultiFunction", "MultiPortSerial", "Net", "LegacyDriver", "NtApm", "Unknown",
    "PCMCIA", "Ports", "Printer", "SCSIAdapter", "SmartCardReader", "MEDIA", "Volume", "System",
    "TapeDrive", "TapeController", "Tape", "USB"};

// The devices of a class folder: its sub-folders (in /sys links to them). Plain files such as
// net's "bonding_masters" are controls of the class, not devices.
std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> out;
  DIR* d = opendir(dir.c_str());
  if (!d) return out;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != ".." && DirectoryExists(dir + "/" + n)) out.push_back(n);
  }
  closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

std::string LinkBase(const std::string& path) {
  char buf[PATH_MAX];
  ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return "";
  std::string t(buf, static_cast<size_t>(n));
  size_t slash = t.find_last_of('/');
  return slash == std::string::npos ? t : t.substr(slash + 1);
}

std::string PciVendorName(const std::string& id) {
  static const std::map<std::string, std::string> kNames = {
      {"0x8086", "Intel"}, {"0x10de", "NVIDIA"}, {"0x1002", "AMD"}, {"0x1022", "AMD"},
      {"0x1af4", "Red Hat"}, {"0x1234", "QEMU"}, {"0x15ad", "VMware"}, {"0x80ee", "VirtualBox"},
      {"0x1013", "Cirrus Logic"}, {"0x102b", "Matrox"}, {"0x1a03", "ASPEED"}, {"0x14e4", "Broadcom"},
      {"0x10ec", "Realtek"}, {"0x1414", "Microsoft"}};
  auto it = kNames.find(LowerCase(id));
  return it == kNames.end() ? id : it->second;
}

}  // namespace

std::map<int, std::string> ParseSoundCards(const std::string& text) {
  std::map<int, std::string> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    // the card's number leads the line; continuation lines start with blanks and a text
    const int64_t index = ParseLeadingInt(line, -1);
    const size_t bracket = line.find('[');
    if (index < 0 || index > 255 || bracket == std::string::npos) continue;
    const size_t close = line.find(']', bracket);
    if (close == std::string::npos) continue;
    const size_t dash = line.find(" - ", close);
    if (dash == std::string::npos) continue;
    const std::string name = Trim(line.substr(dash + 3));
    if (!name.empty()) out[static_cast<int>(index)] = name;
  }
  return out;
}

uint8_t DeviceTypeOf(const std::string& className) {
  const std::string up = UpperCase(className);
  for (int i = 0; i < 37; ++i) {
    const std::string t = UpperCase(kTypeNames[i]);
    if (up.compare(0, t.size(), t) == 0) return static_cast<uint8_t>(i);
  }
  return 24;
}

void TDevices::FillFrom(const std::string& sysRoot, const std::string& procRoot) {
  Devices.clear();
  std::map<std::string, int> instances;
  auto add = [&](TDevice d) {
    d.ClassName = Trim(d.ClassName);
    if (d.ClassName.empty()) return;
    d.ClassDescription = d.ClassName;
    int n = instances[d.ClassName]++;
    d.Driver = d.ClassName + "\\" + Format("%4.4d", n);
    d.DeviceType = DeviceTypeOf(d.ClassName);
    Devices.push_back(std::move(d));
  };
  const std::string cls = sysRoot + "/class/";

  // the machine itself
  const std::string dmi = cls + "dmi/id/";
  std::string product = ReadSysLine(dmi + "product_name");
  if (!product.empty()) {
    TDevice d;
    d.ClassName = "Computer";
    d.Manufacturer = ReadSysLine(dmi + "sys_vendor");
    d.Description = Trim(d.Manufacturer + " " + product);
    d.RegKey = dmi;
    add(d);
  }

  for (const std::string& card : ListDir(cls + "drm")) {
    if (card.rfind("card", 0) != 0 || card.find('-') != std::string::npos) continue;  // connectors
    const std::string dev = cls + "drm/" + card + "/device/";
    TDevice d;
    d.ClassName = "Display";
    d.Service = LinkBase(dev + "driver");
    d.Manufacturer = PciVendorName(ReadSysLine(dev + "vendor"));
    d.Description = Trim(d.Manufacturer + " " + (d.Service.empty() ? "display adapter" : d.Service));
    d.Location = LinkBase(cls + "drm/" + card + "/device");
    d.HardwareID = ReadSysLine(dev + "modalias");
    d.RegKey = cls + "drm/" + card;
    add(d);
  }

  std::string cards;
  ReadSysFile(procRoot + "/asound/cards", cards, 64 * 1024);
  auto cardNames = ParseSoundCards(cards);
  for (const std::string& card : ListDir(cls + "sound")) {
    if (card.rfind("card", 0) != 0) continue;
    int64_t index = ParseLeadingInt(card.substr(4), -1);
    if (index < 0) continue;
    const std::string base = cls + "sound/" + card;
    TDevice d;
    d.ClassName = "MEDIA";
    auto it = cardNames.find(static_cast<int>(index));
    d.FriendlyName = it != cardNames.end() ? it->second : "";
    d.Description = ReadSysLine(base + "/id");
    d.Service = LinkBase(base + "/device/driver");
    d.Location = LinkBase(base + "/device");
    d.RegKey = base;
    add(d);
  }

  for (const std::string& nic : ListDir(cls + "net")) {
    if (nic == "lo") continue;
    const std::string base = cls + "net/" + nic;
    TDevice d;
    d.ClassName = "Net";
    d.Description = nic;
    d.Service = LinkBase(base + "/device/driver");
    d.Location = LinkBase(base + "/device");  // virtual interfaces have no bus location
    d.HardwareID = ReadSysLine(base + "/address");
    d.RegKey = base;
    add(d);
  }

  for (const std::string& ps : ListDir(cls + "power_supply")) {
    const std::string base = cls + "power_supply/" + ps;
    if (ReadSysLine(base + "/type") != "Battery") continue;
    TDevice d;
    d.ClassName = "Battery";
    d.Manufacturer = ReadSysLine(base + "/manufacturer");
    d.Description = Trim(d.Manufacturer + " " + ReadSysLine(base + "/model_name"));
    if (d.Description.empty()) d.Description = ps;
    d.RegKey = base;
    add(d);
  }

  for (const std::string& blk : ListDir(cls + "block")) {
    const std::string base = cls + "block/" + blk;
    if (LinkBase(base + "/device").empty()) continue;  // partitions, loop and RAM disks
    TDevice d;
    d.ClassName = blk.rfind("sr", 0) == 0 ? "CDROM" : "DiskDrive";
    d.Manufacturer = ReadSysLine(base + "/device/vendor");
    d.Description = Trim(d.Manufacturer + " " + ReadSysLine(base + "/device/model"));
    if (d.Description.empty()) d.Description = blk;
    d.Location = LinkBase(base + "/device");
    d.RegKey = base;
    add(d);
  }

  std::stable_sort(Devices.begin(), Devices.end(), [](const TDevice& a, const TDevice& b) {
    return UpperCase(a.ClassName) < UpperCase(b.ClassName);
  });
  DeviceCount = static_cast<int32_t>(Devices.size());
}

TDevice TDevices::GetDevice(int index) const {
  if (index < 0 || index >= static_cast<int>(Devices.size()))
    throw EListError(Format("List index out of bounds (%d)", index));
  return Devices[static_cast<size_t>(index)];
}
