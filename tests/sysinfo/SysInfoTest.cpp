#include <gtest/gtest.h>

#include <regex>

#include "base/Exceptions.h"
#include "sysinfo/SI_Console.h"
#include "sysinfo/SysInfo.h"

namespace {
// A memory area whose query fails half-way.
class TFailingMemory : public TMemory {
public:
  void GetInfo() override {
    PhysicalTotal = 123;
    throw Exception("query failed");
  }
};
class TCountingMachine : public TMachine {
public:
  int Calls = 0;
  void GetInfo() override { ++Calls; }
};
}  // namespace

TEST(SysInfo, AreaSetCreatesExactlyTheAskedAreas) {
  TSysInfo none(0);
  EXPECT_FALSE(none.CPU || none.Memory || none.OS || none.Disk || none.Machine || none.Network ||
               none.Display || none.Engines || none.Devices || none.APM || none.DirectX || none.Media ||
               none.Processes || none.Printers || none.Software || none.Startup);
  EXPECT_NO_THROW(none.Refresh());
  EXPECT_FALSE(none.About.empty());
  EXPECT_EQ(none.GetExceptionMode(), emMessage);

  TSysInfo shell(0x0C6B);
  EXPECT_TRUE(shell.CPU && shell.Machine && shell.Display && shell.Media && shell.Memory && shell.DirectX && shell.OS);
  EXPECT_FALSE(shell.Devices || shell.Network || shell.Engines || shell.APM || shell.Disk || shell.Processes ||
               shell.Printers || shell.Software || shell.Startup);
  EXPECT_EQ(shell.CPU->ExceptionMode, emMessage);
}

TEST(SysInfo, SetExceptionModeReachesTheInnerGuards) {
  TSysInfo info(0xFFFF);
  info.SetExceptionMode(emSilent);
  EXPECT_EQ(info.GetExceptionMode(), emSilent);
  EXPECT_EQ(info.CPU->ExceptionMode, emSilent);
  EXPECT_EQ(info.OS->ExceptionMode, emSilent);
  EXPECT_EQ(info.Network->ExceptionMode, emSilent);
}

TEST(SysInfo, ShellSummaryAfterOneSilentRefresh) {
  TSysInfo info(0x0C6B);
  info.SetExceptionMode(emSilent);
  testing::internal::CaptureStdout();
  info.Refresh();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // nothing failed, nothing shown
  auto lines = SystemSummary(info);
  ASSERT_GE(lines.size(), 8u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex("System Up Time: .*Seconds?\\."))) << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], std::regex("\\(\\d+x\\)CPU: .* - \\d+ Mhz \\(.*\\)"))) << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex("Memory: [1-9]\\d* MB \\(\\d+ KB free\\)"))) << lines[2];
  EXPECT_TRUE(std::regex_match(lines[3], std::regex("Memory Virtual: [1-9]\\d* MB \\(\\d+ KB free\\)"))) << lines[3];
  EXPECT_TRUE(std::regex_match(lines[4], std::regex("Memory Load: \\d{1,3}%"))) << lines[4];
  EXPECT_TRUE(std::regex_match(lines[5], std::regex("OS: .+ \\[\\d+\\.\\d+\\.\\d+\\]"))) << lines[5];
  EXPECT_TRUE(std::regex_match(lines[6], std::regex("Video: .* \\(\\d+ x \\d+ - \\d+ bit\\)"))) << lines[6];
  EXPECT_EQ(lines.back(), "DirectX: ");
  // the memory check's figure after the aggregate's refresh
  EXPECT_GT(info.Memory->VirtualFree, 24000);
}

TEST(SysInfo, SilentModeGoesOnAfterAFailingArea) {
  TSysInfo info(siMemory | siMachine);
  info.Memory = std::make_unique<TFailingMemory>();
  auto machine = std::make_unique<TCountingMachine>();
  TCountingMachine* m = machine.get();
  info.Machine = std::move(machine);
  info.SetExceptionMode(emSilent);
  testing::internal::CaptureStdout();
  EXPECT_NO_THROW(info.Refresh());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(info.Memory->PhysicalTotal, 123);  // kept as far as the query had filled it
  EXPECT_EQ(m->Calls, 1);

  info.SetExceptionMode(emMessage);
  testing::internal::CaptureStdout();
  info.Refresh();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "TMemory.GetInfo: query failed\n");
  EXPECT_EQ(m->Calls, 2);
}

TEST(SysInfo, RaiseModeEndsRefreshAtTheFirstFailure) {
  TSysInfo info(siMemory | siMachine);
  info.Memory = std::make_unique<TFailingMemory>();
  auto machine = std::make_unique<TCountingMachine>();
  TCountingMachine* m = machine.get();
  info.Machine = std::move(machine);
  info.SetExceptionMode(emRaise);
  try {
    info.Refresh();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "TMemory.GetInfo: query failed");
  }
  EXPECT_EQ(m->Calls, 0);  // the machine comes after memory in the refresh order
}

TEST(SysInfo, EveryAreaRefreshesWithoutFailing) {
  TSysInfo info(0xFFFF);
  info.SetExceptionMode(emRaise);
  EXPECT_NO_THROW(info.Refresh());
  EXPECT_EQ(info.Disk->Drive(), "/");
  EXPECT_GT(info.Disk->Capacity, 0);
  EXPECT_GT(info.Processes->ProcessCount(), 0);
  EXPECT_GE(info.Devices->DeviceCount, 0);
}

TEST(SysInfo, SummaryWithoutSoundDeviceHasNoSoundLine) {
  TSysInfo info(siMedia | siDirectX);
  auto lines = SystemSummary(info);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "DirectX: ");
  info.Media->Devices.Add("Game Port");
  info.Media->Devices.Add("HDA Intel");
  info.Media->SoundCardIndex = 1;
  lines = SystemSummary(info);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Sound: HDA Intel");
  info.Media->SoundCardIndex = -1;
  EXPECT_EQ(SystemSummary(info)[0], "Sound: Game Port");
}
