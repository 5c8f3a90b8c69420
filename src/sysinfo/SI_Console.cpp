#include "sysinfo/SI_Console.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex gLock;
TErrorMessageHandler gHandler;
}  // namespace

void SetErrorMessageHandler(TErrorMessageHandler handler) {
  std::lock_guard<std::mutex> lock(gLock);
  gHandler = std::move(handler);
}

bool IsConsole() {
  std::lock_guard<std::mutex> lock(gLock);
  return !gHandler;
}

void ShowErrorMessage(const std::string& text) {
  TErrorMessageHandler handler;
  {
    std::lock_guard<std::mutex> lock(gLock);
    handler = gHandler;
  }
  if (handler) {
    handler(text, "Error");
  } else {
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
  }
}
