#pragma once
// Thread, critical section and event wrappers in the shape the Parts use them.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

// Re-entrant lock (a thread may enter it again while it holds it).
class TCriticalSection {
public:
  void Enter() { M.lock(); }
  void Leave() { M.unlock(); }
  bool TryEnter() { return M.try_lock(); }
  // std lock interface, so std::lock_guard<TCriticalSection> works.
  void lock() { M.lock(); }
  void unlock() { M.unlock(); }

private:
  std::recursive_mutex M;
};

enum TWaitResult { wrSignaled, wrTimeout };
constexpr uint32_t INFINITE = 0xFFFFFFFFu;

class TEvent {
public:
  explicit TEvent(bool manualReset = true, bool initialState = false)
      : Manual(manualReset), State(initialState) {}
  void SetEvent();
  void ResetEvent();
  TWaitResult WaitFor(uint32_t timeoutMs = INFINITE);

private:
  std::mutex M;
  std::condition_variable CV;
  bool Manual;
  bool State;
};

// A thread running Execute(). Created suspended or started at once. A derived class must call
// TerminateAndWait() in its own destructor, before its members go away. The object must outlive
// its thread: one that may stay blocked (a network call) is waited for with a time-out and, if
// it has not ended, deliberately left alive until the process exits.
class TThread {
public:
  explicit TThread(bool createSuspended = true);
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();  // starts a suspended thread once; later calls do nothing
  void Resume() { Start(); }
  void Terminate() { TerminatedFlag = true; }
  bool Terminated() const { return TerminatedFlag; }
  bool Finished() const { return FinishedFlag; }
  bool Started() const { return StartedFlag; }
  // Waits for Execute to return; false when the time-out ran out first.
  bool WaitFor(uint32_t timeoutMs = INFINITE);
  // Terminate, then wait; false (thread still running, object still needed) after the time-out.
  bool TerminateAndWait(uint32_t timeoutMs = INFINITE);

protected:
  virtual void Execute() = 0;

private:
  void Run();
  std::thread Handle;
  std::atomic<bool> TerminatedFlag{false};
  std::atomic<bool> FinishedFlag{false};
  bool StartedFlag = false;
  TEvent Done{true, false};
};

// Hand-off to the main (GUI) thread, as the class library's Synchronize: a worker's call waits
// in a queue until the main thread runs CheckSynchronize (from its idle processing), and the
// worker blocks until the call has run; an exception of the call is raised again in the worker.
// Called on the main thread, the call runs at once.
bool IsMainThread();
void Synchronize(const std::function<void()>& call);
// Main thread only: runs every queued call; waits up to waitMs for one when none is queued.
// True when any call ran.
bool CheckSynchronize(uint32_t waitMs = 0);
