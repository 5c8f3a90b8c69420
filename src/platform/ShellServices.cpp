#include "platform/ShellServices.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

extern char** environ;

namespace {

std::mutex HookLock;
TShellOpenHook OpenHook;
TClipboardHook ClipboardHook;
TMessageBoxHook MessageHook;

template <class F>
F Current(const F& hook) {
  std::lock_guard<std::mutex> lock(HookLock);
  return hook;
}

// How long we wait for the opener to report a failure; one that is still running by then
// (some start the browser themselves and stay) counts as started.
constexpr auto OpenerVerdictTime = std::chrono::milliseconds(1500);

}  // namespace

void SetShellOpenHook(TShellOpenHook hook) {
  std::lock_guard<std::mutex> lock(HookLock);
  OpenHook = std::move(hook);
}
void SetClipboardHook(TClipboardHook hook) {
  std::lock_guard<std::mutex> lock(HookLock);
  ClipboardHook = std::move(hook);
}
void SetMessageBoxHook(TMessageBoxHook hook) {
  std::lock_guard<std::mutex> lock(HookLock);
  MessageHook = std::move(hook);
}

bool IsWebAddress(const std::string& url) {
  auto startsWith = [&](const char* prefix) {
    const size_t n = std::char_traits<char>::length(prefix);
    if (url.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
      if (std::tolower(static_cast<unsigned char>(url[i])) != prefix[i]) return false;
    return true;
  };
  size_t hostStart = startsWith("http://") ? 7 : startsWith("https://") ? 8 : 0;
  if (hostStart == 0 || url.size() > 2048) return false;
  for (char ch : url) {
    auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c == 0x7f || c == '\\') return false;
  }
  const size_t hostEnd = url.find_first_of("/?#", hostStart);
  const std::string host = url.substr(hostStart, hostEnd == std::string::npos ? std::string::npos : hostEnd - hostStart);
  return !host.empty() && host[0] != ':' && host[0] != '@';
}

bool DefaultShellOpenURL(const std::string& url) {
  // an address that starts like an option would be taken as one
  if (url.empty() || url[0] == '-') return false;
  std::string program = "xdg-open";
  char* argv[] = {program.data(), const_cast<char*>(url.c_str()), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
  // A thread of its own reaps the opener whenever it ends, so no zombie stays behind.
  auto verdict = std::make_shared<std::promise<bool>>();
  std::future<bool> result = verdict->get_future();
  std::thread([pid, verdict] {
    int status = 0;
    pid_t r;
    do r = waitpid(pid, &status, 0);
    while (r < 0 && errno == EINTR);
    // with SIGCHLD ignored the kernel reaps it and we cannot learn how it went: assume started
    if (r < 0) verdict->set_value(errno == ECHILD);
    else verdict->set_value(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }).detach();
  if (result.wait_for(OpenerVerdictTime) == std::future_status::ready) return result.get();
  return true;
}

bool ShellOpenURL(const std::string& url) {
  TShellOpenHook hook = Current(OpenHook);
  return hook ? hook(url) : DefaultShellOpenURL(url);
}

bool SetClipboardText(const std::string& text) {
  TClipboardHook hook = Current(ClipboardHook);
  return hook ? hook(text) : false;
}

void ShowMessageBox(const std::string& text, TMessageKind kind) {
  TMessageBoxHook hook = Current(MessageHook);
  if (hook) {
    hook(text, kind);
    return;
  }
  std::fprintf(stderr, "%s%s\n", kind == TMessageKind::Error ? "Error: " : "", text.c_str());
}
