#include "sysinfo/SI_Console.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex gLock;
// Made on first use: a program may install its handler while its own statics are set up.
TErrorMessageHandler& Handler() {
  static TErrorMessageHandler handler;
  return handler;
}
}  // namespace

void SetErrorMessageHandler(TErrorMessageHandler handler) {
  std::lock_guard<std::mutex> lock(gLock);
  Handler() = std::move(handler);
}

bool IsConsole() {
  std::lock_guard<std::mutex> lock(gLock);
  return !Handler();
}

void ShowErrorMessage(const std::string& text) {
  TErrorMessageHandler handler;
  {
    std::lock_guard<std::mutex> lock(gLock);
    handler = Handler();
  }
  if (handler) {
    handler(text, "Error");
  } else {
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
  }
}
