#pragma once
// The lock object of the container library: one critical section.
#include "base/Threads.h"

class TResourceLock {
public:
  void Lock() { CS.Enter(); }
  void Unlock() { CS.Leave(); }

private:
  TCriticalSection CS;
};

// Holds a TResourceLock for one scope.
class TResourceLockGuard {
public:
  explicit TResourceLockGuard(TResourceLock& lock) : L(lock) { L.Lock(); }
  ~TResourceLockGuard() { L.Unlock(); }
  TResourceLockGuard(const TResourceLockGuard&) = delete;
  TResourceLockGuard& operator=(const TResourceLockGuard&) = delete;

private:
  TResourceLock& L;
};
