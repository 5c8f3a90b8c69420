#pragma once
// Saves of the game's files (env.dat, the replay packs) run in the order they were asked for.
// Normally a save runs at once on the caller's thread. While a TDeferredSaves guard stands (the
// game logic holds one around its simulation steps) saves are queued instead and written by one
// worker thread, so a step never waits for a disk write, an fsync or a rename. The worker
// reports a failure as the save itself would (a warning in the trace log).
#include <functional>

// Runs `save` now (after the queued ones), or queues it while saves are deferred.
void RunOrQueueSave(std::function<void()> save);
// Waits until every queued save has been written. Call before reading a file that a queued save
// may still write, and when the game ends.
void WaitForSaves();

class TDeferredSaves {
public:
  TDeferredSaves();
  ~TDeferredSaves();
  TDeferredSaves(const TDeferredSaves&) = delete;
  TDeferredSaves& operator=(const TDeferredSaves&) = delete;
};
