#include <gtest/gtest.h>

#include "base/Exceptions.h"
#include "sysinfo/SI_Common.h"
#include "sysinfo/SI_Console.h"

namespace {
struct Target {
  int filled = 0;
  void GetInfo() {
    filled = 1;
    throw Exception("query failed");
  }
};
}  // namespace

TEST(GuardedCall, RaiseModeRaisesContextAndMessage) {
  Target t;
  try {
    GuardedCall("TDisplay.GetInfo", emRaise, [&] { t.GetInfo(); });
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "TDisplay.GetInfo: query failed");
  }
  EXPECT_EQ(t.filled, 1);
}

TEST(GuardedCall, SilentModeKeepsWhatWasFilledAndReturns) {
  Target t;
  EXPECT_NO_THROW(GuardedCall("X.GetInfo", emSilent, [&] { t.GetInfo(); }));
  EXPECT_EQ(t.filled, 1);
  // failures of the standard library are caught the same way
  EXPECT_NO_THROW(GuardedCall("X.GetInfo", emSilent, [] { throw std::runtime_error("std"); }));
}

TEST(GuardedCall, MessageModeShowsTheTextOnceAndReturns) {
  std::vector<std::pair<std::string, std::string>> shown;
  SetErrorMessageHandler([&](const std::string& text, const std::string& caption) { shown.emplace_back(text, caption); });
  EXPECT_FALSE(IsConsole());
  Target t;
  EXPECT_NO_THROW(GuardedCall("TCPU.GetInfo", emMessage, [&] { t.GetInfo(); }));
  SetErrorMessageHandler(nullptr);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, "TCPU.GetInfo: query failed");
  EXPECT_EQ(shown[0].second, "Error");

  // a console program writes the line to standard output
  testing::internal::CaptureStdout();
  GuardedCall("TCPU.GetInfo", emMessage, [&] { t.GetInfo(); });
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "TCPU.GetInfo: query failed\n");
}

TEST(GuardedCall, ExPassesTheFurtherValueAndAppliesTheMode) {
  int seen = -1;
  GuardedCallEx(7, "TCPUCache.GetInfo", emSilent, [&](int v) { seen = v; });
  EXPECT_EQ(seen, 7);
  try {
    GuardedCallEx(2, "TCPUCache.GetInfo", emRaise, [](int) { throw Exception("no leaf"); });
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "TCPUCache.GetInfo: no leaf");
  }
}

TEST(GuardedCall, NoExceptionMeansNoMessage) {
  testing::internal::CaptureStdout();
  GuardedCall("A.GetInfo", emMessage, [] {});
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}
