#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Exceptions.h"
#include "base/SysUtils.h"
#include "support/TestSupport.h"
#include "sysinfo/SI_APM.h"
#include "sysinfo/SI_Devices.h"
#include "sysinfo/SI_Disk.h"
#include "sysinfo/SI_Display.h"
#include "sysinfo/SI_Machine.h"
#include "sysinfo/SI_Media.h"
#include "sysinfo/SI_Network.h"
#include "sysinfo/SI_Printers.h"
#include "sysinfo/SI_Processes.h"
#include "sysinfo/SI_Software.h"
#include "sysinfo/SI_Startup.h"

namespace {
void Put(const std::string& path, const std::string& text) {
  ForceDirectories(ExtractFilePath(path));
  WriteAll(path, text);
}
void Link(const std::string& target, const std::string& path) {
  ForceDirectories(ExtractFilePath(path));
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
}

// A small /sys and /proc: one graphics card with a screen, a sound card, a game port, a wired
// card, a virtual interface, loopback, a charging battery and mains power.
struct FakeTree {
  std::string sys, proc;
  FakeTree() {
    const std::string root = TestDir();
    sys = root + "sys";
    proc = root + "proc";
    const std::string pci = sys + "/devices/pci0000:00/";
    ForceDirectories(pci + "0000:00:02.0");
    ForceDirectories(pci + "0000:00:1f.3");
    ForceDirectories(pci + "0000:00:19.0");
    ForceDirectories(sys + "/bus/pci/drivers/i915");
    Put(pci + "0000:00:02.0/vendor", "0x8086\n");
    Link(sys + "/bus/pci/drivers/i915", pci + "0000:00:02.0/driver");
    Link(pci + "0000:00:02.0", sys + "/class/drm/card0/device");
    Put(sys + "/class/drm/card0-HDMI-A-1/status", "connected\n");
    Put(sys + "/class/drm/card0-HDMI-A-1/modes", "1920x1080\n1280x720\n1280x720\n");
    Put(sys + "/class/drm/card0-DP-1/status", "disconnected\n");
    Link(pci + "0000:00:1f.3", sys + "/class/sound/card0/device");
    Put(sys + "/class/sound/card0/id", "PCH\n");
    Put(sys + "/class/sound/card1/id", "GamePort\n");
    Put(proc + "/asound/cards", " 0 [PCH            ]: HDA-Intel - HDA Intel PCH\n"
                                "                      HDA Intel PCH at 0xf7f10000 irq 32\n"
                                " 1 [Gameport       ]: Game - Legacy Game Port\n");
    Put(proc + "/asound/pcm", "00-00: ALC892 Analog : ALC892 Analog : playback 1 : capture 1\n"
                              "00-03: HDMI 0 : HDMI 0 : playback 1\n"
                              "broken line\n");
    Link(pci + "0000:00:19.0", sys + "/class/net/eth0/device");
    Put(sys + "/class/net/eth0/address", "00:1a:2b:3c:4d:5e\n");
    Put(sys + "/class/net/veth0/address", "00:1a:2b:3c:4d:5e\n");
    Put(sys + "/class/net/lo/address", "00:00:00:00:00:00\n");
    Put(sys + "/class/power_supply/BAT0/type", "Battery\n");
    Put(sys + "/class/power_supply/BAT0/status", "Charging\n");
    Put(sys + "/class/power_supply/BAT0/capacity", "80\n");
    Put(sys + "/class/power_supply/AC/type", "Mains\n");
    Put(sys + "/class/power_supply/AC/online", "1\n");
    Put(sys + "/class/dmi/id/product_name", "ThinkBox 3\n");
    Put(sys + "/class/dmi/id/sys_vendor", "Orvalent\n");
    Put(sys + "/class/dmi/id/bios_vendor", "Firmware Co.\n");
    Put(sys + "/class/dmi/id/bios_date", "03/14/2024\n");
    Put(proc + "/uptime", "3605.42 100.00\n");
  }
};
}  // namespace

TEST(Devices, ClassesTypesAndOrder) {
  FakeTree t;
  TDevices d;
  d.FillFrom(t.sys, t.proc);
  ASSERT_EQ(d.DeviceCount, 7);  // computer, display, two media, two network, battery
  EXPECT_EQ(d.Devices[0].ClassName, "Battery");
  for (size_t i = 1; i < d.Devices.size(); ++i)
    EXPECT_LE(UpperCase(d.Devices[i - 1].ClassName), UpperCase(d.Devices[i].ClassName));
  EXPECT_THROW(d.GetDevice(7), EListError);
  EXPECT_EQ(DeviceTypeOf("Display"), 3);
  EXPECT_EQ(DeviceTypeOf("NetService"), 21);
  EXPECT_EQ(DeviceTypeOf("TapeDrive"), 33);
  EXPECT_EQ(DeviceTypeOf("media"), 30);
  EXPECT_EQ(DeviceTypeOf("Gizmo"), 24);

  TDevices empty;
  empty.FillFrom(t.sys + "/missing", t.proc + "/missing");
  EXPECT_EQ(empty.DeviceCount, 0);
}

TEST(Display, AdapterAndModesFromTheTree) {
  FakeTree t;
  TDisplay disp;
  disp.FillFrom(t.sys, t.proc);
  EXPECT_EQ(disp.Adapter, "Intel i915");
  EXPECT_EQ(disp.HorzRes, 1920);
  EXPECT_EQ(disp.VertRes, 1080);
  EXPECT_EQ(disp.Modes.Count(), 3);  // duplicates included
  EXPECT_EQ(disp.Modes[1], "1280 x 720 - 32 bit");  // DRM scan-out: 32-bit pixels
}

TEST(Media, SoundCardAndGamePort) {
  FakeTree t;
  TMedia media;
  media.FillFrom(t.sys, t.proc);
  ASSERT_EQ(media.Devices.Count(), 2);
  EXPECT_EQ(media.Devices[media.SoundCardIndex], "HDA Intel PCH");
  EXPECT_EQ(media.Devices[media.GamePortIndex], "Legacy Game Port");
  EXPECT_EQ(media.WAVEOut.Count(), 2);
  EXPECT_EQ(media.WAVEIn.Count(), 1);
  EXPECT_EQ(media.WAVEIn[0], "ALC892 Analog");

  TMedia none;
  none.FillFrom(t.sys + "/missing", t.proc + "/missing");
  EXPECT_EQ(none.Devices.Count(), 0);
  EXPECT_EQ(none.SoundCardIndex, -1);
  EXPECT_EQ(none.GamePortIndex, -1);
}

TEST(Network, AdaptersAndAddresses) {
  FakeTree t;
  TNetwork net;
  net.ExceptionMode = emRaise;
  net.FillFrom(t.sys, t.proc);
  ASSERT_EQ(net.Adapters.Count(), 2);  // loopback is no adapter
  EXPECT_EQ(net.Adapters[net.CardAdapterIndex], "eth0");
  EXPECT_EQ(net.MACAddresses.Count(), 1);  // the same address twice is listed once
  EXPECT_FALSE(net.WinSock.Description.empty());
  for (const auto& ip : net.IPAddresses.Strings) EXPECT_NE(ip.rfind("127.", 0), 0u);
}

TEST(Machine, UpTimeFirmwareAndModel) {
  FakeTree t;
  TMachine m;
  m.FillFrom(t.sys, t.proc);
  EXPECT_DOUBLE_EQ(m.SystemUpTime, 3605.42);
  EXPECT_EQ(m.Computer, "Orvalent ThinkBox 3");
  EXPECT_EQ(m.BIOSName, "Firmware Co.");
  EXPECT_EQ(m.BIOSDate, "03/14/2024");
  EXPECT_GT(m.LastBoot, 40000.0);
  EXPECT_DOUBLE_EQ(ParseUptime("garbage"), -1);
  EXPECT_DOUBLE_EQ(ParseUptime(""), -1);
  EXPECT_DOUBLE_EQ(ParseUptime("12"), 12);

  TMachine live;
  live.GetInfo();
  EXPECT_GT(live.SystemUpTime, 0);
  EXPECT_FALSE(live.Name.empty());
}

TEST(APM, BatteryAndMains) {
  FakeTree t;
  TAPM apm;
  apm.FillFrom(t.sys);
  EXPECT_EQ(apm.ACPowerStatus, psOnline);
  EXPECT_EQ(apm.BatteryChargeStatus, bsCharging);
  EXPECT_EQ(apm.BatteryLifePercent, 80);

  TAPM desktop;
  desktop.FillFrom(t.sys + "/missing");
  EXPECT_EQ(desktop.BatteryChargeStatus, bsNoBattery);
  EXPECT_EQ(desktop.ACPowerStatus, psOnline);
}

TEST(Disk, MountsAndTheSystemVolume) {
  auto mounts = ParseMounts("/dev/sda1 / ext4 rw 0 0\nproc /proc proc rw 0 0\n"
                            "//srv/share /mnt/my\\040share cifs rw 0 0\nshort\n\n");
  ASSERT_EQ(mounts.size(), 3u);
  EXPECT_EQ(mounts[2].MountPoint, "/mnt/my share");
  EXPECT_EQ(MediaTypeOf(mounts[2]), dtRemote);
  EXPECT_EQ(MediaTypeOf(mounts[1]), dtUnknown);

  TDisk disk;
  disk.GetInfo();
  disk.SetDrive("/");
  EXPECT_TRUE(disk.MediaPresent());
  EXPECT_GT(disk.Capacity, 0);
  EXPECT_LE(disk.FreeSpace, disk.Capacity);
  EXPECT_FALSE(disk.FileSystem.empty());
  EXPECT_EQ(disk.SerialNumber.size(), 9u);

  disk.SetDrive("/nonexistent/drive");
  EXPECT_FALSE(disk.MediaPresent());
  EXPECT_EQ(disk.Capacity, 0);
  EXPECT_EQ(disk.SerialNumber, "");
}

TEST(Processes, ListsThisProcess) {
  TProcesses p;
  p.GetInfo();
  bool found = false;
  for (const auto& e : p.Entries)
    if (e.PID == getpid()) found = e.Name.find("test_sysinfo") != std::string::npos;
  EXPECT_TRUE(found);
  TProcesses none;
  none.FillFrom("/nonexistent");
  EXPECT_EQ(none.ProcessCount(), 0);
}

TEST(SoftwareSide, PackagesPrintersAndAutostart) {
  TStringList products, commands;
  ParseDpkgStatus("Package: zlib1g\nStatus: install ok installed\n\n"
                  "Package: gone\nStatus: deinstall ok config-files\n\n"
                  "Package: tail\nStatus: install ok installed",
                  products, commands);
  ASSERT_EQ(products.Count(), 2);
  EXPECT_EQ(products[1], "tail");
  EXPECT_EQ(commands[0], "apt-get remove zlib1g");

  TStringList names;
  ParsePrintcap("# comment\nLaser|Office laser:rm=host:rp=Laser:\n\tcontinued\nInkjet:\n", names);
  ASSERT_EQ(names.Count(), 2);
  EXPECT_EQ(names[0], "Laser");

  const std::string dir = TestDir();
  WriteAll(dir + "agent.desktop", "[Desktop Entry]\nExec=agent -d\n");
  WriteAll(dir + "notes.txt", "[Desktop Entry]\nExec=no\n");
  WriteAll(dir + "hidden.desktop", "[Desktop Entry]\nExec=x\nHidden=true\n");
  WriteAll(dir + "other.desktop", "[Other]\nExec=x\n");
  TRunEntries list;
  TStartup::ReadFolder(dir, list);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].first, "agent");
  EXPECT_EQ(list[0].second, "agent -d");
}
