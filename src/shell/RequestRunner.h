#pragma once
// Runs the online services' blocking requests on a worker thread while the GUI thread keeps its
// event loop (the wait window animates, timers tick, Cancel can be pressed). Cancel sets the
// flag that the HTTP and mail clients watch, so the transfer ends within a second.
#include <atomic>
#include <functional>
#include <memory>

class TRequestRunner {
public:
  TRequestRunner();
  ~TRequestRunner();
  TRequestRunner(const TRequestRunner&) = delete;
  TRequestRunner& operator=(const TRequestRunner&) = delete;

  // Runs `request` on a worker thread and returns when it has ended, raising its exception
  // here; a cancelled request raises ERequestCancelled. GUI thread only. The request must not
  // touch the random generator or any window.
  void Run(const std::function<void()>& request);
  // Aborts the request in progress and every later one until Reset.
  void Cancel();
  void Reset();
  bool Cancelled() const { return FCancel->load(); }

  // Whether any request is running now (the game window must not start meanwhile).
  static bool Busy();
  // Cancels every request in progress (the program is closing).
  static void CancelAll();

private:
  std::shared_ptr<std::atomic<bool>> FCancel;
};
