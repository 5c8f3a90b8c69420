#include <gtest/gtest.h>

#include <cstdlib>

#include "base/SysUtils.h"
#include "support/TestSupport.h"
#include "sysinfo/Routines.h"
#include "sysinfo/SI_OS.h"

TEST(OperatingSystem, LiveVersionAndName) {
  TOperatingSystem os;
  os.ExceptionMode = emRaise;
  os.GetInfo();
  EXPECT_EQ(os.Platform, "Linux");
  EXPECT_GE(os.MajorVersion, 3);
  std::string text;
  ASSERT_TRUE(ReadSysFile("/etc/os-release", text) || ReadSysFile("/usr/lib/os-release", text));
  auto values = ParseOSRelease(text);
  EXPECT_EQ(OSName, values["PRETTY_NAME"].empty() ? values["NAME"] : values["PRETTY_NAME"]);
  EXPECT_EQ(os.ProductID, values["ID"]);
  EXPECT_GE(os.Environment.IndexOfName("PATH"), 0);
}

TEST(OperatingSystem, FoldersHoldEveryEntryInOrder) {
  TOperatingSystem os;
  os.GetInfo();
  os.GetInfo();  // a second refresh does not add to the first
  ASSERT_EQ(os.Folders.Count(), 7 + 3 + 29 + 1);
  EXPECT_EQ(os.Folders.Names(0), "CommonFiles");
  EXPECT_EQ(os.Folders.Names(6), "Wallpaper");
  EXPECT_EQ(os.Folders.Names(7), "Windows");
  EXPECT_EQ(os.Folders.Names(9), "Temp");
  EXPECT_EQ(os.Folders.Names(10), "AppData");
  EXPECT_EQ(os.Folders.Names(38), "Templates");
  EXPECT_EQ(os.Folders.Names(39), "Profile");
  const std::string desktop = os.Folders.Value("Desktop");
  EXPECT_EQ(os.Folders.Value("Profile"), desktop.substr(0, desktop.find_last_of('/')));
}

TEST(OperatingSystem, OSReleaseAndKernelRelease) {
  TOperatingSystem os;
  os.FillFromOSRelease(ReadAll(std::string(KT_FIXTURES) + "/sysinfo/os-release"));
  EXPECT_EQ(os.Version, "12 (bookworm)");
  EXPECT_EQ(os.ProductID, "debian");
  os.FillFromOSRelease("VERSION_ID=13\n");
  EXPECT_EQ(os.Version, "13");
  os.FillFromOSRelease("");
  EXPECT_EQ(os.Version, "");

  struct Case {
    const char* release;
    int major, minor, build;
  } cases[] = {{"6.1.0-18-amd64", 6, 1, 0}, {"5.15.153.1-microsoft", 5, 15, 153}, {"4.19", 4, 19, 0},
               {"", 0, 0, 0}, {"x.1", 0, 0, 0}, {"99999999999.1.2", 0, 0, 0}};
  for (const Case& c : cases) {
    int32_t a = -1, b = -1, d = -1;
    ParseKernelRelease(c.release, a, b, d);
    EXPECT_EQ(a, c.major) << c.release;
    EXPECT_EQ(b, c.minor) << c.release;
    EXPECT_EQ(d, c.build) << c.release;
  }
}

TEST(OperatingSystem, TimeZoneFromTZ) {
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "UTC", 1);
  TTimeZone tz;
  tz.GetInfo();
  EXPECT_EQ(tz.Bias, 0);
  EXPECT_EQ(tz.DisplayName, "UTC");
  EXPECT_EQ(tz.StandardName, "UTC");
  setenv("TZ", "EST5EDT", 1);
  tz.GetInfo();
  EXPECT_EQ(tz.Bias, 300);  // UTC = local + 300 minutes
  EXPECT_EQ(tz.StandardName, "EST");
  EXPECT_EQ(tz.DaylightName, "EDT");
  if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
  tzset();
}

TEST(OperatingSystem, InternetSettingsFromTheEnvironment) {
  const char* old = std::getenv("http_proxy");
  std::string saved = old ? old : "";
  setenv("http_proxy", "http://127.0.0.1:3128", 1);
  TInternet net;
  net.GetInfo();
  EXPECT_EQ(net.ProxyServer, "http://127.0.0.1:3128");
  EXPECT_EQ(net.ConnectionType, ctLAN);
  if (old) setenv("http_proxy", saved.c_str(), 1); else unsetenv("http_proxy");
}
