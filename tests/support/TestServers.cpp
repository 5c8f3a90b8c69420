#include "TestServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

extern char** environ;

TTestServer::TTestServer(const std::string& script, const std::vector<std::string>& args) {
  int in[2], out[2];
  if (pipe(in) != 0) throw std::runtime_error("pipe failed");
  if (pipe(out) != 0) {
    close(in[0]);
    close(in[1]);
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, in[1]);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string path = std::string(KT_SOURCE_DIR) + "/tools/testservers/" + script;
  std::vector<std::string> argvStore = {"python3", "-u", path};
  argvStore.insert(argvStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  int rc = posix_spawnp(&Pid, "python3", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  StdinFd = in[1];
  if (rc != 0) {
    close(out[0]);
    close(StdinFd);
    throw std::runtime_error("cannot start python3");
  }
  // the first line of its output is the port
  std::string line;
  pollfd pfd{out[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos) {
    if (poll(&pfd, 1, 60000) <= 0) break;  // generous: a loaded machine starts python slowly
    char buf[64];
    ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  PortNumber = std::atoi(line.c_str());
  if (PortNumber <= 0) {
    Stop();
    throw std::runtime_error("test server " + script + " did not start");
  }
}

TTestServer::~TTestServer() { Stop(); }

void TTestServer::Stop() {
  if (StdinFd >= 0) close(StdinFd);
  StdinFd = -1;
  if (Pid > 0) {
    kill(Pid, SIGTERM);
    int status = 0;
    waitpid(Pid, &status, 0);
  }
  Pid = -1;
}

std::string TTestServer::HostPort() const { return "127.0.0.1:" + std::to_string(PortNumber); }

int UnusedLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}
