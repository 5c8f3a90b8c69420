#include <gtest/gtest.h>

#include <atomic>

#include "base/SysUtils.h"
#include "base/Threads.h"
#include "support/TestSupport.h"

namespace {
class Counter : public TThread {
public:
  Counter() : TThread(true) {}
  ~Counter() override { TerminateAndWait(); }
  std::atomic<int> Loops{0};

protected:
  void Execute() override {
    while (!Terminated()) {
      ++Loops;
      Sleep(1);
    }
  }
};

class Blocker : public TThread {
public:
  explicit Blocker(TEvent& e) : TThread(true), Gate(e) {}
  ~Blocker() override { TerminateAndWait(); }
  TEvent& Gate;

protected:
  void Execute() override { Gate.WaitFor(); }
};
}  // namespace

TEST(Threads, SuspendedThreadStartsOnceAndStopsOnTerminate) {
  Counter c;
  Sleep(20);
  EXPECT_EQ(c.Loops, 0);
  c.Start();
  c.Start();
  WithWatchdog(120, [&] {  // a thread that never runs would hang here
    while (c.Loops < 3) Sleep(1);
  });
  EXPECT_TRUE(c.TerminateAndWait(60000));  // false only for a thread that will not end
  EXPECT_TRUE(c.Finished());
}

TEST(Threads, WaitForTimesOutThenSucceeds) {
  TEvent gate(true, false);
  Blocker b(gate);
  b.Start();
  EXPECT_FALSE(b.WaitFor(30));
  gate.SetEvent();
  EXPECT_TRUE(b.WaitFor(60000));  // a hang guard: it ends at once
}

TEST(Threads, AutoResetEventReleasesOneWait) {
  TEvent e(false, true);
  EXPECT_EQ(e.WaitFor(0), wrSignaled);
  EXPECT_EQ(e.WaitFor(10), wrTimeout);
  TEvent m(true, true);
  EXPECT_EQ(m.WaitFor(0), wrSignaled);
  EXPECT_EQ(m.WaitFor(0), wrSignaled);
  m.ResetEvent();
  EXPECT_EQ(m.WaitFor(5), wrTimeout);
}
