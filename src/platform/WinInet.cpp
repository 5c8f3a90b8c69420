#include "platform/WinInet.h"

#include <mutex>

namespace {
std::mutex Lock;
std::function<bool()> StateHook;
}  // namespace

bool InternetGetConnectedState() {
  std::function<bool()> hook;
  {
    std::lock_guard<std::mutex> lock(Lock);
    hook = StateHook;
  }
  return hook ? hook() : true;
}

bool InternetAutodial() { return true; }

void SetConnectedStateHook(std::function<bool()> hook) {
  std::lock_guard<std::mutex> lock(Lock);
  StateHook = std::move(hook);
}
