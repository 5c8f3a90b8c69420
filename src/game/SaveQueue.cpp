#include "game/SaveQueue.h"

#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

namespace {

class TSaveWorker {
public:
  // The queue is written out before the program ends. A forked child that exits has neither the
  // thread nor the right to write its parent's saves: it leaves everything as it is.
  void Stop() {
    if (getpid() != Owner) return;
    {
      std::lock_guard<std::mutex> g(Lock);
      Stopping = true;
    }
    Wake.notify_all();
    if (Thread.joinable()) Thread.join();
  }

  void Queue(std::function<void()> save) {
    bool queued = false;
    {
      std::lock_guard<std::mutex> g(Lock);
      if (!Stopping) {
        Jobs.push_back(std::move(save));
        if (!Thread.joinable()) Thread = std::thread([this] { Run(); });
        queued = true;
      }
    }
    if (!queued) {
      save();  // past the worker's end a save is written at once, never dropped
      return;
    }
    Wake.notify_all();
  }

  void Wait() {
    std::unique_lock<std::mutex> g(Lock);
    Idle.wait(g, [this] { return Jobs.empty() && !Busy; });
  }

  int Deferring = 0;  // guards standing; touched by the game's thread only

private:
  void Run() {
    std::unique_lock<std::mutex> g(Lock);
    for (;;) {
      Wake.wait(g, [this] { return Stopping || !Jobs.empty(); });
      if (Jobs.empty()) return;  // stopping with nothing left
      std::function<void()> job = std::move(Jobs.front());
      Jobs.pop_front();
      Busy = true;
      g.unlock();
      try {
        job();
      } catch (...) {
        // each save reports its own failure; nothing may end the worker
      }
      g.lock();
      Busy = false;
      if (Jobs.empty()) Idle.notify_all();
    }
  }

  std::mutex Lock;
  std::condition_variable Wake, Idle;
  std::deque<std::function<void()>> Jobs;
  bool Busy = false;
  bool Stopping = false;
  std::thread Thread;
  const pid_t Owner = getpid();
};

// Never destroyed: a child forked while the thread waits would hang destroying its condition
// variables. The owning process stops the worker at exit instead.
TSaveWorker& Worker() {
  static TSaveWorker* worker = [] {
    auto* w = new TSaveWorker;
    std::atexit([] { Worker().Stop(); });
    return w;
  }();
  return *worker;
}

}  // namespace

void RunOrQueueSave(std::function<void()> save) {
  TSaveWorker& w = Worker();
  if (w.Deferring > 0) {
    w.Queue(std::move(save));
    return;
  }
  w.Wait();  // an earlier queued save must not land after this one
  save();
}

void WaitForSaves() { Worker().Wait(); }

TDeferredSaves::TDeferredSaves() { ++Worker().Deferring; }
TDeferredSaves::~TDeferredSaves() { --Worker().Deferring; }
