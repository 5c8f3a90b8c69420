#include "base/Threads.h"

#include <chrono>

void TEvent::SetEvent() {
  {
    std::lock_guard<std::mutex> g(M);
    State = true;
  }
  CV.notify_all();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> g(M);
  State = false;
}

TWaitResult TEvent::WaitFor(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> l(M);
  auto ready = [this] { return State; };
  if (timeoutMs == INFINITE) CV.wait(l, ready);
  else if (!CV.wait_for(l, std::chrono::milliseconds(timeoutMs), ready)) return wrTimeout;
  if (!Manual) State = false;
  return wrSignaled;
}

TThread::TThread(bool createSuspended) {
  if (!createSuspended) Start();
}

TThread::~TThread() { TerminateAndWait(); }

void TThread::Start() {
  if (StartedFlag) return;
  StartedFlag = true;
  Handle = std::thread([this] { Run(); });
}

void TThread::Run() {
  try {
    Execute();
  } catch (...) {
    // A thread's failure ends the thread only.
  }
  FinishedFlag = true;
  Done.SetEvent();
}

bool TThread::WaitFor(uint32_t timeoutMs) {
  if (!StartedFlag) return true;
  if (Done.WaitFor(timeoutMs) != wrSignaled) return false;
  if (Handle.joinable()) Handle.join();
  return true;
}

bool TThread::TerminateAndWait(uint32_t timeoutMs) {
  Terminate();
  if (WaitFor(timeoutMs)) return true;
  // Still blocked (a network call, say): let it finish on its own rather than hang the caller.
  if (Handle.joinable()) Handle.detach();
  return false;
}
