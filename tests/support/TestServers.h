#pragma once
// Loopback servers for the online tests, written in Python (tools/testservers): each is started
// on a free port of 127.0.0.1 and stopped when the object goes (it also ends by itself when the
// test program dies, since its stdin closes).
#include <sys/types.h>

#include <string>
#include <vector>

class TTestServer {
public:
  // `script` is a file name under tools/testservers; raises std::runtime_error when it does
  // not come up.
  TTestServer(const std::string& script, const std::vector<std::string>& args = {});
  ~TTestServer();
  TTestServer(const TTestServer&) = delete;
  TTestServer& operator=(const TTestServer&) = delete;

  int Port() const { return PortNumber; }
  // "127.0.0.1:port"
  std::string HostPort() const;

private:
  void Stop();
  pid_t Pid = -1;
  int StdinFd = -1;
  int PortNumber = 0;
};

// A port on 127.0.0.1 that nothing listens on (bound, then released).
int UnusedLoopbackPort();
