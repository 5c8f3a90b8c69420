#include <gtest/gtest.h>

#include "engine/tools.h"
#include "shell/StartupLog.h"
#include "support/TestSupport.h"

TEST(StartupLog, VersionLinesThenSummaryInOrder) {
  std::string log = TestDir() + "qv.log";
  SetLogFile(log);
  LogSystemInfo();
  SetLogFile("");
  std::vector<std::string> lines = FileLines(log);
  const char* prefixes[] = {"* Info: Company Name:Orvalent", "* Info: File Version:", "* Info: Original Filename:",
                            "* Info: Product Name:Kestrune", "* Info: Product Version:", "* Info: Comments:",
                            "* Info: Build Flags:", "* Info: Retrieving system information...",
                            "* Info: System Up Time: ", "* Info: ("};
  ASSERT_GE(lines.size(), std::size(prefixes));
  for (std::size_t i = 0; i < std::size(prefixes); ++i)
    EXPECT_EQ(lines[i].rfind(prefixes[i], 0), 0u) << lines[i];
  EXPECT_TRUE(FileHasLinePrefix(log, "* Info: Memory: "));
  EXPECT_TRUE(FileHasLinePrefix(log, "* Info: OS: "));
  EXPECT_TRUE(FileHasLinePrefix(log, "* Info: DirectX: "));
  EXPECT_FALSE(FileHasLinePrefix(log, "* Info: Retrieving system information failed"));
}
