#include <gtest/gtest.h>

#include <QApplication>
#include <thread>

#include "UiDriver.h"
#include "base/Exceptions.h"
#include "engine/tools.h"
#include "shell/StartupLog.h"
#include "support/TestSupport.h"
#include "sysinfo/SI_Common.h"
#include "sysinfo/SI_Console.h"

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

// The menu program is no console program: a guarded call in message mode shows its failure in a
// box captioned "Error" (the handler the shell installs as it starts), from any thread.
TEST(SysInfoMessages, AFailureInMessageModeShowsAnErrorBox) {
  static int argc = 1;
  static char name[] = "test_shell";
  static char* argv[] = {name, nullptr};
  if (!QApplication::instance()) new QApplication(argc, argv);  // lives to the end of the process
  EXPECT_FALSE(IsConsole());
  TUiDriver driver;
  testing::internal::CaptureStdout();
  GuardedCall("TMemory.GetInfo", emMessage, [] { throw Exception("no figures"); });
  // a worker's failure is shown on the GUI thread, without holding the worker
  std::thread([] { GuardedCall("TCPU.GetInfo", emMessage, [] { throw Exception("no leaf"); }); }).join();
  for (int i = 0; i < 200 && driver.Boxes.size() < 2; ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_EQ(driver.Boxes.size(), 2u);
  const char* texts[] = {"TMemory.GetInfo: no figures", "TCPU.GetInfo: no leaf"};
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(driver.Boxes[i].Text, texts[i]);
    EXPECT_EQ(driver.Boxes[i].Title, "Error");
    EXPECT_EQ(driver.Boxes[i].Icon, QMessageBox::Critical);
    EXPECT_FALSE(driver.Boxes[i].Question);
    EXPECT_EQ(driver.Boxes[i].Format, Qt::PlainText);
  }
}
