#include <gtest/gtest.h>

#include "base/Classes.h"
#include "base/SysUtils.h"
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
