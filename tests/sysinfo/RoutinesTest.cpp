#include <gtest/gtest.h>

#include "base/Classes.h"
#include "base/SysUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include "support/TestSupport.h"
#include "base/VersionBlock.h"
#include "sysinfo/Routines.h"

TEST(Routines, FormatSecondsDurationTexts) {
  struct Case {
    bool whole, all, clock;
    int64_t seconds;
    const char* text;
  } cases[] = {
      {true, false, false, 3600, "1 Hour, 0 Minutes, 0 Seconds."},
      {true, false, false, 59, "59 Seconds."},
      {true, false, false, 1, "1 Second."},
      {true, false, false, 0, "0 Seconds."},
      {false, false, false, 61, "1 Minute, 1.00 Second."},
      {true, false, false, 3605, "1 Hour, 0 Minutes, 5 Seconds."},
      {true, false, false, 31579200, "1 Year, 0 Months, 0 Weeks, 0 Days, 0 Hours, 0 Minutes, 0 Seconds."},
      {true, false, false, 2 * 3157920000LL + 2678400, "2 Centuries, 0 Years, 1 Month, 0 Weeks, 0 Days, 0 Hours, 0 Minutes, 0 Seconds."},
      {true, true, false, 86400 + 2 * 3600 + 3 * 60 + 4,
       "0 Centuries, 0 Years, 0 Months, 0 Weeks, 1 Day, 2 Hours, 3 Minutes, 4 Seconds."},
      {true, false, true, 90061, "01:01:01"},
      {true, true, true, 31579200 + 2678400 + 8 * 86400 + 3723, "01.01.08 01:02:03"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatSeconds(c.whole, c.all, c.clock, c.seconds), c.text) << c.seconds;
}

TEST(Routines, TextHelpers) {
  EXPECT_EQ(DequoteStr("\"abc\""), "abc");
  EXPECT_EQ(DequoteStr("\""), "\"");
  EXPECT_EQ(DequoteStr("\"\""), "");
  EXPECT_EQ(DequoteStr("\"abc"), "\"abc");
  EXPECT_EQ(StripSpaces("  a b\r\nc \r d "), "abc\rd");
  EXPECT_EQ(MultiSzToStr(std::string("ab\0cd\0\0ef", 9)), "abcd");
  EXPECT_EQ(MultiSzToStr(std::string("ab\0cd", 5)), "abcd");  // unterminated: stops at the end
  EXPECT_EQ(MultiSzToStr(""), "");
}

TEST(Routines, FileFromCommand) {
  const std::string dir = TestDir();
  WriteAll(dir + "prog", "x");
  EXPECT_EQ(GetFileFromCommand("\"" + dir + "prog\" --flag %1"), dir + "prog");
  EXPECT_EQ(GetFileFromCommand(dir + "prog -x"), dir + "prog");
  EXPECT_EQ(GetFileFromCommand(dir + "missing"), "");
  EXPECT_EQ(GetFileFromCommand(""), "");
}

TEST(Routines, OSReleaseParsing) {
  auto v = ParseOSRelease(ReadAll(std::string(KT_FIXTURES) + "/sysinfo/os-release"));
  EXPECT_EQ(v["PRETTY_NAME"], "Debian GNU/Linux 12 (bookworm)");
  EXPECT_EQ(v["ID"], "debian");
  EXPECT_EQ(v["QUOTED"], "say \"hi\" $HOME");
  EXPECT_EQ(v["SINGLE"], "it is");
  EXPECT_EQ(v.count("BROKEN"), 0u);
  EXPECT_EQ(v.count(""), 0u);
  EXPECT_TRUE(ParseOSRelease("").empty());
  EXPECT_TRUE(ParseOSRelease(std::string("\0\0=\0", 4)).empty());  // binary junk: no key, no crash
}

TEST(Routines, ColonFilesAndNumbers) {
  auto m = ParseColonFile("processor\t: 0\nvendor_id\t: GenuineIntel\n\nprocessor\t: 1\n", true);
  EXPECT_EQ(m["vendor_id"], "GenuineIntel");
  EXPECT_EQ(m["processor"], "0");
  auto all = ParseColonFile("a: 1\nno colon\n: empty key\nb:2", false);
  EXPECT_EQ(all.size(), 2u);
  EXPECT_EQ(all["b"], "2");
  EXPECT_EQ(ParseLeadingInt(" 42 kB", -1), 42);
  EXPECT_EQ(ParseLeadingInt("kB", -1), -1);
  EXPECT_EQ(ParseLeadingInt("", -1), -1);
  EXPECT_EQ(ParseLeadingInt("-5", -1), -1);
  EXPECT_EQ(ParseLeadingInt("99999999999999999999", -1), -1);
}

TEST(Routines, UnitFactsOnLinux) {
  EXPECT_EQ(OSGeneration, 0);
  EXPECT_FALSE(IsNT);
  EXPECT_FALSE(OSName.empty());
  EXPECT_FALSE(UserName.empty());
  EXPECT_EQ(MachineName, UpperCase(GetMachine()));
  TStringList env;
  GetEnvironment(env);
  EXPECT_GE(env.IndexOfName("PATH"), 0);
  EXPECT_EQ(GetWinSysDir(), GetWinDir() + ";" + GetSysDir() + ";");
  std::string missing;
  EXPECT_FALSE(ReadSysFile("/nonexistent/file", missing));
  EXPECT_EQ(ReadSysLine("/nonexistent/file"), "");
}

TEST(Routines, GenerationCodesOfVersionRecords) {
  struct Case {
    uint32_t platform, major, minor;
    const char* csd;
    int code;
  } cases[] = {{1, 4, 0, "", 1},      {1, 4, 0, " B ", 2},  {1, 4, 10, "", 3}, {1, 4, 10, "A", 4},
               {1, 4, 10, "AB", 3},   {1, 4, 90, "", 5},    {2, 3, 51, "", 6}, {2, 4, 0, "Service Pack 6", 7},
               {2, 5, 0, "", 8},      {2, 5, 1, "", 9},     {2, 5, 2, "", 8},  {2, 6, 0, "", 0},
               {2, 10, 0, "", 0},     {0, 3, 10, "", 0}};
  for (const Case& c : cases)
    EXPECT_EQ(OSGenerationOf(c.platform, c.major, c.minor, c.csd), c.code) << c.major << "." << c.minor;
}

TEST(Routines, SpecialFoldersFollowTheUserFolders) {
  const std::string dir = TestDir();
  const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = oldConfig ? oldConfig : "";
  WriteAll(dir + "user-dirs.dirs", "XDG_DESKTOP_DIR=\"/srv/people/ann/Schreibtisch\"\n");
  setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  EXPECT_EQ(GetSpecialFolder(0), "/srv/people/ann/Schreibtisch");
  EXPECT_EQ(GetProfilePath(), "/srv/people/ann");
  EXPECT_EQ(GetSpecialFolder(7), dir + "autostart");
  EXPECT_EQ(GetSpecialFolder(33), "");  // no cookie folder
  if (oldConfig) setenv("XDG_CONFIG_HOME", saved.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
  TVersionInfo v;
  EXPECT_FALSE(GetFileVerInfo("/bin/sh", v));
  EXPECT_EQ(v.FileName, "/bin/sh");
}

TEST(Routines, DiskInfoOfAFolderAndOfNothing) {
  TDiskInfo info;
  GetDiskInfo(TestDir(), info);
  EXPECT_TRUE(DiskInDrive(info.Drive));
  EXPECT_GT(info.Capacity, 0);
  EXPECT_GT(info.TotalClusters, 0u);
  EXPECT_NE(info.MediaType, dtNotExists);
  GetDiskInfo("/nonexistent/volume", info);
  EXPECT_EQ(info.MediaType, dtNotExists);
  EXPECT_EQ(info.Capacity, 0);
  EXPECT_EQ(info.FileSystem, "");
  GetDiskInfo("", info);
  EXPECT_FALSE(DiskInDrive(""));
  EXPECT_EQ(info.Capacity, 0);
  std::vector<TMountEntry> mounts = ParseMounts("/dev/sda1 / ext4 rw 0 0\n/dev/sdb1 /home xfs rw 0 0\n");
  ASSERT_NE(MountOf(mounts, "/home/ann"), nullptr);
  EXPECT_EQ(MountOf(mounts, "/home/ann")->MountPoint, "/home");
  EXPECT_EQ(MountOf(mounts, "/homework")->MountPoint, "/");
}

TEST(Routines, ResolveLinkSplitsTheCommand) {
  const std::string dir = TestDir();
  struct Case {
    const char* text;
    int result;
    const char* path;
    const char* arguments;
  } cases[] = {
      {"[Desktop Entry]\nName=X\nExec=/usr/bin/x --start %U\n", 0, "/usr/bin/x", "--start %U"},
      {"[Desktop Entry]\nExec=\"/opt/my app/run\" -q\n", 0, "/opt/my app/run", "-q"},
      {"[Desktop Entry]\nExec=\"/opt/unclosed\n", 0, "/opt/unclosed", ""},
      {"[Desktop Entry]\nExec=agent\n", 0, "agent", ""},
      {"[Desktop Entry]\nExec=x\nHidden=true\n", EINVAL, "", ""},
      {"[Other]\nExec=x\n", EINVAL, "", ""},
      {"", EINVAL, "", ""},
  };
  for (const Case& c : cases) {
    WriteAll(dir + "entry.desktop", c.text);
    std::string path, arguments;
    EXPECT_EQ(ResolveLink(dir + "entry.desktop", path, arguments), c.result) << c.text;
    EXPECT_EQ(path, c.path) << c.text;
    EXPECT_EQ(arguments, c.arguments) << c.text;
  }
  std::string path, arguments;
  EXPECT_EQ(ResolveLink(dir + "missing.desktop", path, arguments), ENOENT);
}

TEST(Routines, VersionInfoOfOwnAndForeignFiles) {
  TVersionInfo own;
  char exe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  ASSERT_TRUE(GetFileVerInfo(exe, own));
  EXPECT_EQ(own.FileName, exe);
  EXPECT_EQ(own.Version, KT_PROGRAM_VERSION);
  EXPECT_EQ(Format("%u.%u.%u.%u", own.Major, own.Minor, own.Release, own.Build), own.Version);
  EXPECT_EQ(own.Description, "Kestrune");
  EXPECT_EQ(own.LegalCopyright, "Copyright (C) Orvalent");

  // a copy of the program's block inside another file of ours is found there
  const std::string dir = TestDir();
  TVersionInfoBlock block;
  std::vector<uint8_t> raw;
  ASSERT_TRUE(LoadVersionInfoBlock("", block, &raw));
  WriteAll(dir + "module.so", std::string(5000, '\x7f') + std::string(raw.begin(), raw.end()) + "tail");
  TVersionInfo module;
  ASSERT_TRUE(GetFileVerInfo(dir + "module.so", module));
  EXPECT_EQ(module.Version, KT_PROGRAM_VERSION);

  // anything else: false, the record left alone but its name
  WriteAll(dir + "plain.txt", "no version here");
  ASSERT_EQ(mkfifo((dir + "pipe").c_str(), 0600), 0);
  for (const std::string& name : {dir + "plain.txt", dir + "pipe", dir + "missing", std::string(dir)}) {
    TVersionInfo info;
    info.Description = "kept";
    EXPECT_FALSE(GetFileVerInfo(name, info)) << name;  // a FIFO must not block the call
    EXPECT_EQ(info.FileName, name);
    EXPECT_EQ(info.Description, "kept");
    EXPECT_EQ(info.Version, "");
  }
}

TEST(Routines, ClassDevicesFromAClassFolder) {
  const std::string root = TestDir() + "class";
  ForceDirectories(root + "/net/eth0");
  ForceDirectories(root + "/net/wlan0");
  ForceDirectories(root + "/net/veth1");
  ForceDirectories(root + "/net/lo");
  WriteAll(root + "/net/bonding_masters", "bond0\n");
  WriteAll(root + "/net/eth0/address", "00:1a:2b:3c:4d:5e\n");
  WriteAll(root + "/net/veth1/address", "00:1a:2b:3c:4d:5e\n");
  WriteAll(root + "/net/wlan0/address", "8c:16:45:00:00:01\n");
  ForceDirectories(root + "/sound");

  std::string key = "old";
  TStringList list;
  list.Add("old");
  GetClassDevices(root, "NET", "", key, list);  // the class is found without regard to case
  EXPECT_EQ(key, root + "/net");
  EXPECT_EQ(list.Strings, (std::vector<std::string>{"eth0", "lo", "veth1", "wlan0"}));

  GetClassDevices(root, "net", "address", key, list);  // each value once, devices without it skipped
  EXPECT_EQ(list.Strings, (std::vector<std::string>{"00:1a:2b:3c:4d:5e", "8c:16:45:00:00:01"}));

  GetClassDevices(root, "sound", "", key, list);
  EXPECT_EQ(key, root + "/sound");
  EXPECT_EQ(list.Count(), 0);
  GetClassDevices(root, "NetTrans", "", key, list);
  EXPECT_EQ(key, "");
  EXPECT_EQ(list.Count(), 0);
}

TEST(Routines, WholeDiskOfAPartition) {
  const std::pair<const char*, const char*> cases[] = {
      {"/dev/sda1", "sda"},           {"/dev/sdb", "sdb"},         {"/dev/nvme0n1p1", "nvme0n1"},
      {"/dev/nvme10n2p12", "nvme10n2"}, {"/dev/mmcblk0p1", "mmcblk0"}, {"/dev/mmcblk1", "mmcblk1"},
      {"/dev/vda3", "vda"},           {"/dev/loop0p1", "loop0"}};
  const std::string sys = TestDir() + "sys";
  ForceDirectories(sys + "/block/mmcblk1");  // a whole disk whose name ends in a digit
  for (auto [dev, disk] : cases) EXPECT_EQ(WholeDiskName(dev, sys), disk) << dev;
}
