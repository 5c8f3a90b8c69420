#include <gtest/gtest.h>

#include "base/Classes.h"
#include "base/SysUtils.h"

#include <cerrno>
#include <cstdlib>
#include "support/TestSupport.h"
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
