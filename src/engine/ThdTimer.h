#pragma once
// A timer that waits on a worker thread of its own and hands each tick to the main (GUI)
// thread synchronously (see Synchronize in base/Threads.h), so its handler may touch GUI-thread
// objects. Ticks never overlap and never queue up: a tick waits while the GUI thread is busy.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TTimerThread;

class TThreadedTimer {
public:
  TThreadedTimer();
  ~TThreadedTimer();
  TThreadedTimer(const TThreadedTimer&) = delete;
  TThreadedTimer& operator=(const TThreadedTimer&) = delete;

  std::function<void(TThreadedTimer* sender)> OnTimer;
  bool AllowZero = false;  // whether an interval of 0 may run (then it ticks as fast as the GUI takes it)

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);
  uint32_t Interval() const;
  // A running timer restarts its wait with the new interval.
  void SetInterval(uint32_t value);
  // Kept for the thread; the Linux scheduler gives ordinary threads one priority only.
  TThreadPriority ThreadPriority() const { return Priority; }
  void SetThreadPriority(TThreadPriority value) { Priority = value; }

  // The tick, on the GUI thread: calls OnTimer while enabled and not being destroyed.
  // An exception of the handler is dropped.
  void DoTimer();

private:
  std::unique_ptr<TTimerThread> Thread;
  bool FEnabled = false;
  std::atomic<bool> Destroying{false};
  TThreadPriority Priority = tpNormal;
};
