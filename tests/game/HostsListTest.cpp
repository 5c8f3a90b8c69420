// The hosts list against a small HTTP server on loopback (Python's standard library), started
// and stopped by each test.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "game/KTGlobal.h"
#include "game/Options.h"
#include "support/TestSupport.h"

namespace {

const char* kServerScript = R"PY(
import http.server, os, sys, threading, time
mode, body_file = sys.argv[1], sys.argv[2]
body = open(body_file, 'rb').read()
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if mode == 'silent':
            time.sleep(120)
            return
        self.send_response(200)
        self.send_header('Content-Type', 'text/plain')
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
server.daemon_threads = True
print(server.server_address[1], flush=True)
# End with the test: stdin closes when the test process goes away.
threading.Thread(target=lambda: (sys.stdin.read(), os._exit(0)), daemon=True).start()
server.serve_forever()
)PY";

// Serves one body for every GET ("serve"), or accepts and never answers ("silent").
class LoopbackServer {
public:
  LoopbackServer(const std::string& dir, const std::string& mode, const std::string& body) {
    WriteAll(dir + "server.py", kServerScript);
    WriteAll(dir + "body.txt", body);
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    Pid = fork();
    if (Pid == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[1]);
      close(out[0]);
      execlp("python3", "python3", (dir + "server.py").c_str(), mode.c_str(), (dir + "body.txt").c_str(),
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    Stdin = in[1];
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    Port = atoi(line.c_str());
  }
  ~LoopbackServer() {
    if (Stdin >= 0) close(Stdin);
    if (Pid > 0) {
      kill(Pid, SIGTERM);
      waitpid(Pid, nullptr, 0);
    }
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(Port) + "/kthosts.txt"; }
  int Port = 0;

private:
  pid_t Pid = -1;
  int Stdin = -1;
};

// A loopback port with nothing listening on it.
int ClosedPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

struct HostsListFixture : ::testing::Test {
  std::string Dir;
  void SetUp() override {
    Dir = TestDir();
    ResetEnvironment(GameEnvironment);
    HostsListApplied = false;
  }
  void TearDown() override {
    HostsListThread.reset();
    HostsListApplied = false;
  }
  void UseList(const std::string& url) { HostsListThread = std::make_unique<TThreadedHttpGet>(url); }
};

}  // namespace

TEST_F(HostsListFixture, ValuesComeFromTheListAndAMissingKeyKeepsTheStoredValue) {
  LoopbackServer server(Dir, "serve",
                        "HighScoreHost=scores.test:8080\r\nHighScoreBase=/hs/\nInternalHost=pages.test\r\n"
                        "junk line\nInternalBase=/in/\nHighScoreBase=/second/\n");
  ASSERT_GT(server.Port, 0);
  GameEnvironment.SupportURL = "http://stored.test/help";
  UseList(server.Url());
  ApplyHostsList();
  EXPECT_TRUE(HostsListApplied);
  EXPECT_EQ(GameEnvironment.HighScoreHost, "scores.test:8080");
  EXPECT_EQ(GameEnvironment.HighScoreBase, "/hs/");  // the first line with the name wins
  EXPECT_EQ(GameEnvironment.InternalHost, "pages.test");
  EXPECT_EQ(GameEnvironment.InternalBase, "/in/");
  EXPECT_EQ(GameEnvironment.SupportURL, "http://stored.test/help");

  // Applied once per run.
  GameEnvironment.HighScoreHost = "changed";
  ApplyHostsList();
  EXPECT_EQ(GameEnvironment.HighScoreHost, "changed");
}

TEST_F(HostsListFixture, ValuesAreCutTo150Characters) {
  std::string longHost(200, 'h');
  const std::string longURL = "http://" + std::string(151, 's');
  LoopbackServer server(Dir, "serve", "HighScoreHost=" + longHost + "\nSupportURL=" + longURL + "\n");
  ASSERT_GT(server.Port, 0);
  UseList(server.Url());
  ApplyHostsList();
  EXPECT_EQ(GameEnvironment.HighScoreHost, std::string(150, 'h'));
  EXPECT_EQ(GameEnvironment.SupportURL, longURL.substr(0, 150));
}

TEST_F(HostsListFixture, APageWithoutTheKeysOrWithBadValuesTakesTheBuiltInValuesOnAFirstRun) {
  struct Case {
    const char* body;
  } cases[] = {
      {"<html><body>Please log in to the hotel network</body></html>"},
      {"HighScoreHost=\nInternalHost=\nHighScoreBase=\nInternalBase=\nSupportURL=\n"},
      {"HighScoreHost=evil.test/../x\nInternalHost=a b\nHighScoreBase=../\nInternalBase=/a\\b/\n"
       "SupportURL=file:///etc/passwd\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    LoopbackServer server(Dir, "serve", c.body);
    ASSERT_GT(server.Port, 0);
    ResetEnvironment(GameEnvironment);  // a first run: nothing stored
    HostsListApplied = false;
    UseList(server.Url());
    ApplyHostsList();
    EXPECT_TRUE(HostsListThread->Success);
    EXPECT_EQ(GameEnvironment.HighScoreHost, DefaultHighScoreHost());
    EXPECT_EQ(GameEnvironment.HighScoreBase, "/");
    EXPECT_EQ(GameEnvironment.InternalHost, DefaultInternalHost());
    EXPECT_EQ(GameEnvironment.InternalBase, "/kestruneinternal/");
    EXPECT_EQ(GameEnvironment.SupportURL, DefaultSupportURL());
  }
}

TEST_F(HostsListFixture, AFailedFetchGivesTheDefaults) {
  setenv("KESTRUNE_HIGHSCORE_HOST", "127.0.0.1:9", 1);
  UseList("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/kthosts.txt");
  GameEnvironment.InternalBase = "/old/";
  ApplyHostsList();
  unsetenv("KESTRUNE_HIGHSCORE_HOST");
  EXPECT_TRUE(HostsListApplied);
  EXPECT_FALSE(HostsListThread->Success);
  EXPECT_EQ(GameEnvironment.HighScoreHost, "127.0.0.1:9");
  EXPECT_EQ(GameEnvironment.HighScoreBase, "/");
  EXPECT_EQ(GameEnvironment.InternalHost, DefaultInternalHost());
  EXPECT_EQ(GameEnvironment.InternalBase, "/kestruneinternal/");
  EXPECT_EQ(GameEnvironment.SupportURL, DefaultSupportURL());
}

TEST_F(HostsListFixture, AFailedFetchGivesTheDefaultsWithoutWaitingToo) {
  UseList("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/kthosts.txt");
  ApplyHostsList(false);  // the timer's way: starts the fetch and returns
  EXPECT_FALSE(HostsListApplied);
  ASSERT_TRUE(HostsListThread->WaitFor(20000));
  ApplyHostsList(false);
  EXPECT_TRUE(HostsListApplied);
  EXPECT_EQ(GameEnvironment.InternalHost, DefaultInternalHost());
  EXPECT_EQ(GameEnvironment.InternalBase, "/kestruneinternal/");
}

TEST_F(HostsListFixture, StoredHostsDoNotWaitForTheFetch) {
  LoopbackServer server(Dir, "serve", "HighScoreHost=fresh.test\n");
  ASSERT_GT(server.Port, 0);
  GameEnvironment.HighScoreHost = "stored.test";
  UseList(server.Url());
  ApplyHostsList();  // starts the fetch and returns
  EXPECT_FALSE(HostsListApplied);
  ASSERT_TRUE(HostsListThread->WaitFor(20000));
  ApplyHostsList();  // the fetch is done: applied now
  EXPECT_TRUE(HostsListApplied);
  EXPECT_EQ(GameEnvironment.HighScoreHost, "fresh.test");
}

TEST_F(HostsListFixture, AServerThatNeverAnswersCannotHangTheProgram) {
  LoopbackServer server(Dir, "silent", "");
  ASSERT_GT(server.Port, 0);
  // The transfer time-out ends a fetch that gets no answer: the defaults apply.
  UseList(server.Url());
  HostsListThread->TimeoutMs = 300;
  ApplyHostsList();
  EXPECT_TRUE(HostsListApplied);
  EXPECT_EQ(GameEnvironment.InternalBase, "/kestruneinternal/");

  // At the program's end a fetch still waiting is cancelled, however long its time-out.
  UseList(server.Url());
  HostsListThread->Start();
  EXPECT_TRUE(HostsListThread->CancelAndWait(30000));
  EXPECT_FALSE(HostsListThread->Done);
  EXPECT_FALSE(HostsListThread->Success);
}

TEST_F(HostsListFixture, CheckInternetReportsOfflineOrAppliesTheList) {
  std::string shown;
  ErrorMessageHook = [&](const std::string& text) { shown = text; };
  ConnectionTestHook = [] { return false; };
  EXPECT_FALSE(CheckInternet(false));
  EXPECT_EQ(shown, "");
  EXPECT_FALSE(CheckInternet(true));
  EXPECT_EQ(shown, "Unable to connect to the internet");
  EXPECT_FALSE(HostsListApplied);
  ConnectionTestHook = nullptr;  // connected
  UseList("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/kthosts.txt");
  EXPECT_TRUE(CheckInternet(true));
  EXPECT_TRUE(HostsListApplied);
  ErrorMessageHook = nullptr;
}

// Whatever the list hands out at the edges of the fields' length is stored in a form the next
// start loads as it stands: a value is cut only where the cut still passes its check (a host's
// port never is), and one that cannot be kept counts as missing (the stored value stays).
TEST_F(HostsListFixture, WhatTheListStoresLoadsAgainAsItStands) {
  const std::string stored = "stored.test";
  struct Case {
    std::string body;
    std::string highScoreHost, internalHost, highScoreBase, internalBase, supportURL;
  } cases[] = {
      {"HighScoreHost=" + std::string(149, 'h') + ":8080\nInternalHost=" + std::string(145, 'p') + ":8080\n" +
           "HighScoreBase=/" + std::string(148, 'b') + "/\nInternalBase=/" + std::string(149, 'i') + "/\n" +
           "SupportURL=http://" + std::string(200, 's') + "\n",
       stored, std::string(145, 'p') + ":8080", "/" + std::string(148, 'b') + "/", "/in/",
       "http://" + std::string(143, 's')},
      {"HighScoreHost=" + std::string(200, 'h') + "\nInternalHost=" + std::string(148, 'p') + ":12345\n" +
           "SupportURL=https://help.test/" + std::string(132, 'u') + "\n",
       std::string(150, 'h'), stored, "/hs/", "/in/", "https://help.test/" + std::string(132, 'u')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body.substr(0, 40));
    LoopbackServer server(Dir, "serve", c.body);
    ASSERT_GT(server.Port, 0);
    GameEnvironment.HighScoreHost = GameEnvironment.InternalHost = stored;
    GameEnvironment.HighScoreBase = "/hs/";
    GameEnvironment.InternalBase = "/in/";
    HostsListApplied = false;
    UseList(server.Url());
    ApplyHostsList();  // hosts are stored: starts the fetch and returns
    ASSERT_TRUE(HostsListThread->WaitFor(20000));
    ApplyHostsList();
    ASSERT_TRUE(HostsListApplied);
    EXPECT_EQ(GameEnvironment.HighScoreHost, c.highScoreHost);
    EXPECT_EQ(GameEnvironment.InternalHost, c.internalHost);
    EXPECT_EQ(GameEnvironment.HighScoreBase, c.highScoreBase);
    EXPECT_EQ(GameEnvironment.InternalBase, c.internalBase);
    EXPECT_EQ(GameEnvironment.SupportURL, c.supportURL);
    std::string error;
    ASSERT_TRUE(SaveEnvironmentFile(Dir + "env.dat", GameEnvironment, error)) << error;
    TGameEnvironment loaded;
    std::vector<std::string> defaulted, cleaned;
    ASSERT_TRUE(LoadEnvironmentFile(Dir + "env.dat", loaded, &defaulted, nullptr, &cleaned));
    EXPECT_TRUE(defaulted.empty()) << defaulted.front();
    EXPECT_TRUE(cleaned.empty()) << cleaned.front();
    EXPECT_EQ(loaded.HighScoreHost, GameEnvironment.HighScoreHost);
    EXPECT_EQ(loaded.InternalHost, GameEnvironment.InternalHost);
    EXPECT_EQ(loaded.SupportURL, GameEnvironment.SupportURL);
  }
}
