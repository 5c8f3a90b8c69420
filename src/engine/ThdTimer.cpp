#include "engine/ThdTimer.h"

#include <condition_variable>
#include <mutex>

#include "base/Threads.h"

// The worker: waits Interval ms on Event; a wait that times out is a tick. Suspending is done
// by parking the worker between waits, so a tick that was already waiting when the timer was
// disabled finds it disabled and does nothing.
class TTimerThread : public TThread {
public:
  explicit TTimerThread(TThreadedTimer* timer) : TThread(true), Timer(timer) {}
  ~TTimerThread() override { TerminateAndWait(); }

  void Suspend() {
    std::lock_guard<std::mutex> g(M);
    Parked = true;
  }
  void ResumeThread() {
    {
      std::lock_guard<std::mutex> g(M);
      Parked = false;
    }
    Wake.notify_all();
    Start();  // the first resume starts the thread
  }

  TThreadedTimer* Timer;
  std::atomic<uint32_t> Interval{1000};
  TEvent Event{false, false};  // auto-reset: cuts a wait short without a tick

protected:
  void Execute() override {
    while (!Terminated()) {
      {
        std::unique_lock<std::mutex> l(M);
        Wake.wait(l, [this] { return !Parked || Terminated(); });
      }
      if (Terminated()) break;
      if (Event.WaitFor(Interval.load()) == wrTimeout && !Terminated()) Synchronize([this] { Timer->DoTimer(); });
    }
  }

private:
  std::mutex M;
  std::condition_variable Wake;
  bool Parked = true;
};

TThreadedTimer::TThreadedTimer() : Thread(std::make_unique<TTimerThread>(this)) {}

TThreadedTimer::~TThreadedTimer() {
  FEnabled = false;
  Destroying = true;
  Thread->Terminate();
  Thread->Event.SetEvent();
  if (Thread->Started()) {
    Thread->ResumeThread();
    // A tick may be waiting for the GUI thread, which is this one: serve it (it does nothing
    // now) while waiting for the worker to end.
    while (!Thread->WaitFor(5)) CheckSynchronize(0);
  }
  Thread.reset();
}

uint32_t TThreadedTimer::Interval() const { return Thread->Interval.load(); }

void TThreadedTimer::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  if (FEnabled) {
    if (Thread->Interval.load() > 0 || AllowZero) {
      Thread->Event.SetEvent();
      Thread->ResumeThread();
    }
  } else {
    Thread->Suspend();
  }
}

void TThreadedTimer::SetInterval(uint32_t value) {
  if (value == Thread->Interval.load()) return;
  const bool was = FEnabled;
  SetEnabled(false);
  Thread->Interval = value;
  SetEnabled(was);
}

void TThreadedTimer::DoTimer() {
  if (!FEnabled || !OnTimer || Destroying.load()) return;
  try {
    OnTimer(this);
  } catch (...) {
  }
}
