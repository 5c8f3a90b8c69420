#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "base/Threads.h"
#include "engine/ThdTimer.h"

namespace {
// Runs the GUI thread's share (the synchronised ticks) for about `ms` milliseconds: the window in
// which nothing may happen.
void Pump(int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) CheckSynchronize(5);
}
// Runs the GUI thread's share until `done` holds; false after 60 s (a hang guard: a busy machine
// may hold the timer's thread back for a while, but never for that long).
template <class F>
bool PumpUntil(F done) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    CheckSynchronize(5);
  }
  return true;
}
}  // namespace

TEST(ThreadedTimer, DisabledOrZeroIntervalNeverTicks) {
  int ticks = 0;
  {
    TThreadedTimer t;
    t.OnTimer = [&](TThreadedTimer*) { ++ticks; };
    t.SetInterval(20);
    EXPECT_FALSE(t.Enabled());
    Pump(120);
    EXPECT_EQ(ticks, 0);

    t.SetInterval(0);
    t.SetEnabled(true);  // no AllowZero: the flag is set, the thread stays parked
    EXPECT_TRUE(t.Enabled());
    Pump(120);
    EXPECT_EQ(ticks, 0);
  }
  TThreadedTimer z;
  z.AllowZero = true;
  z.OnTimer = [&](TThreadedTimer*) { ++ticks; };
  z.SetInterval(0);
  z.SetEnabled(true);
  EXPECT_TRUE(PumpUntil([&] { return ticks > 2; }));
}

TEST(ThreadedTimer, TicksRunOnTheGuiThreadAndSurviveAThrowingHandler) {
  int ticks = 0;
  bool onMain = true;
  TThreadedTimer t;
  t.OnTimer = [&](TThreadedTimer* sender) {
    EXPECT_EQ(sender, &t);
    onMain = onMain && IsMainThread();
    ++ticks;
    throw std::runtime_error("handler failed");
  };
  t.SetInterval(10);
  t.SetEnabled(true);
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }));
  EXPECT_TRUE(onMain);
  t.SetEnabled(false);
  Pump(20);  // a tick already waiting for the GUI thread finds the timer disabled
  const int stopped = ticks;
  Pump(100);
  EXPECT_EQ(ticks, stopped);
  // A new interval on a running timer takes effect.
  t.SetEnabled(true);
  t.SetInterval(30);
  EXPECT_EQ(t.Interval(), 30u);
  EXPECT_TRUE(t.Enabled());
  EXPECT_TRUE(PumpUntil([&] { return ticks > stopped; }));
}

TEST(ThreadedTimer, DestructionJoinsTheThreadAndNoTickFollows) {
  std::atomic<int> ticks{0};
  std::atomic<bool> destroyed{false};
  std::atomic<bool> lateTick{false};
  auto* t = new TThreadedTimer;
  t->OnTimer = [&](TThreadedTimer*) {
    if (destroyed) lateTick = true;
    ++ticks;
  };
  t->SetInterval(1);
  t->SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return ticks > 0; }));
  // Let a tick queue up for the GUI thread, then destroy without serving it first.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const int before = ticks;
  delete t;
  destroyed = true;
  EXPECT_EQ(ticks.load(), before);
  Pump(30);
  EXPECT_FALSE(lateTick);
}
