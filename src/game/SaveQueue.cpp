#include "game/SaveQueue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

class TSaveWorker {
public:
  ~TSaveWorker() {
    {
      std::lock_guard<std::mutex> g(Lock);
      Stopping = true;
    }
    Wake.notify_all();
    if (Thread.joinable()) Thread.join();  // the queue is written out before the program ends
  }

  void Queue(std::function<void()> save) {
    {
      std::lock_guard<std::mutex> g(Lock);
      Jobs.push_back(std::move(save));
      if (!Thread.joinable()) Thread = std::thread([this] { Run(); });
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
};

TSaveWorker& Worker() {
  static TSaveWorker worker;
  return worker;
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
