#include "base/Threads.h"

#include <chrono>
#include <exception>
#include <vector>

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
  return WaitFor(timeoutMs);
}

namespace {
// Namespace-scope statics are set up before main, on the main thread.
const std::thread::id MainThreadId = std::this_thread::get_id();

struct TSyncItem {
  const std::function<void()>* Call;
  std::exception_ptr Error;
  bool Done = false;
};
std::mutex SyncLock;
std::condition_variable SyncQueued;
std::condition_variable SyncDone;
std::vector<TSyncItem*> SyncQueue;
}  // namespace

bool IsMainThread() { return std::this_thread::get_id() == MainThreadId; }

void Synchronize(const std::function<void()>& call) {
  if (IsMainThread()) {
    call();
    return;
  }
  TSyncItem item{&call, nullptr, false};
  {
    std::unique_lock<std::mutex> l(SyncLock);
    SyncQueue.push_back(&item);
    SyncQueued.notify_all();
    SyncDone.wait(l, [&] { return item.Done; });
  }
  if (item.Error) std::rethrow_exception(item.Error);
}

bool CheckSynchronize(uint32_t waitMs) {
  if (!IsMainThread()) return false;
  std::vector<TSyncItem*> items;
  {
    std::unique_lock<std::mutex> l(SyncLock);
    if (SyncQueue.empty() && waitMs > 0)
      SyncQueued.wait_for(l, std::chrono::milliseconds(waitMs), [] { return !SyncQueue.empty(); });
    items.swap(SyncQueue);
  }
  for (TSyncItem* it : items) {
    try {
      (*it->Call)();
    } catch (...) {
      it->Error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> g(SyncLock);
      it->Done = true;
    }
    SyncDone.notify_all();
  }
  return !items.empty();
}
