#pragma once
// An Xvfb of a test's own, on a display number it picks itself, with no window manager (as
// testers run the program); ended with the test. Tests that need it skip where it is missing.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

extern char** environ;

namespace xvfb {

// A program of that name is found on PATH.
inline bool OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  const std::string dirs = path ? path : "/usr/bin";
  for (size_t a = 0; a <= dirs.size();) {
    size_t b = dirs.find(':', a);
    if (b == std::string::npos) b = dirs.size();
    if (access((dirs.substr(a, b - a) + "/" + name).c_str(), X_OK) == 0) return true;
    a = b + 1;
  }
  return false;
}

inline bool Installed() { return OnPath("Xvfb"); }

class TServer {
public:
  TServer() = default;
  TServer(const TServer&) = delete;
  TServer& operator=(const TServer&) = delete;
  // Starts it with one screen of w x h x 24; false when it does not come up.
  bool Start(int w, int h) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    const std::string fd = std::to_string(fds[1]),
                      screen = std::to_string(w) + "x" + std::to_string(h) + "x24";
    const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
                          "-nolisten", "tcp", nullptr};
    const bool spawned = posix_spawnp(&Pid, "Xvfb", nullptr, nullptr, const_cast<char**>(argv), environ) == 0;
    close(fds[1]);
    if (!spawned) {
      Pid = 0;
      close(fds[0]);
      return false;
    }
    // It writes the display number once it accepts connections (hang guard: 20 s).
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (poll(&p, 1, 20000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return false;
    Name = ":" + number;
    return true;
  }
  ~TServer() {
    if (Pid > 0) {
      kill(Pid, SIGTERM);
      waitpid(Pid, nullptr, 0);
    }
  }
  std::string Name;  // ":N" once started

private:
  pid_t Pid = 0;
};

// Polls `check` until it holds (hang guard: 60 s, for a sanitizer build with every core busy); X
// applies requests in its own time.
inline bool Eventually(const std::function<bool()>& check) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!check()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace xvfb
