#pragma once
// A game server on loopback for the online services: a folder served by http_server.py --root,
// the settings pointed at it, and a scripted user in place of the dialogs.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "base/SysUtils.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "game/UserFiles.h"
#include "platform/ShellServices.h"
#include "shell/OnlineServices.h"
#include "support/TestServers.h"
#include "support/TestSupport.h"

class OnlineTest : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = TestDir();
    Root = Dir + "srv/";
    ForceDirectories(Root);
    UserDataDir = Dir;
    SetLogFile(Dir + "qv.log");
    Server = std::make_unique<TTestServer>("http_server.py", std::vector<std::string>{"--root", Root});
    ResetEnvironment(GameEnvironment);
    GameEnvironment.HighScoreHost = Server->HostPort();
    GameEnvironment.HighScoreBase = "/hs/";
    GameEnvironment.InternalHost = Server->HostPort();
    GameEnvironment.InternalBase = "/int/";
    HostsListApplied = true;
    ConnectionTestHook = nullptr;
    ErrorMessageHook = [this](const std::string& text) { Messages.push_back(text); };
    SetMessageBoxHook([this](const std::string& text, TMessageKind) { Messages.push_back(text); });
    Ui.Ask = [this](const std::string& text) {
      Questions.push_back(text);
      if (Answers.empty()) return false;
      bool a = Answers.front();
      Answers.pop_front();
      return a;
    };
    Ui.Message = [this](const std::string& text) { Messages.push_back(text); };
    Ui.BeginWait = [this](const std::string& text) { Waits.push_back(text); };
    Ui.EndWait = [this] { ++WaitsEnded; };
    Ui.OpenPage = [this](const std::string& url) { Pages.push_back(url); };
    Ui.SendErrorReport = [this] { ++Reports; };
  }
  void TearDown() override {
    ResetSaveFailures();  // a save this test made fail is not the next test's
    ErrorMessageHook = nullptr;
    SetMessageBoxHook(nullptr);
    ConnectionTestHook = nullptr;
    HostsListApplied = false;
    Server.reset();
    SetLogFile("");
    UserDataDir.clear();
    ResetEnvironment(GameEnvironment);
  }
  void Serve(const std::string& path, const std::string& bytes) {
    ForceDirectories(ExtractFilePath(Root + path));
    WriteAll(Root + path, bytes);
  }
  void ServeStatus(const std::string& path, int status) { Serve(path + ".status", std::to_string(status)); }
  // The request lines the server saw ("GET /int/errors.txt", ...), bodies left out.
  std::vector<std::string> Requests() {
    std::vector<std::string> out;
    if (!FileExists(Root + "requests.log")) return out;
    std::string log = ReadAll(Root + "requests.log");
    size_t p = 0;
    while (p < log.size()) {
      size_t e = log.find('\n', p);
      std::string line = log.substr(p, e - p);
      p = e + 1;
      if (line.rfind("BODY ", 0) == 0) {
        p += std::stoul(line.substr(5)) + 1;
        continue;
      }
      out.push_back(line);
    }
    return out;
  }
  // The body of the n-th POST.
  std::string PostBody(int n) {
    std::string log = ReadAll(Root + "requests.log");
    size_t p = 0;
    int seen = 0;
    while ((p = log.find("\nBODY ", p)) != std::string::npos) {
      size_t e = log.find('\n', p + 1);
      size_t len = std::stoul(log.substr(p + 6, e - p - 6));
      if (seen++ == n) return log.substr(e + 1, len);
      p = e + 1 + len;
    }
    return "";
  }
  std::string Host() const { return Server->HostPort(); }

  std::string Dir, Root;
  std::unique_ptr<TTestServer> Server;
  TOnlineUI Ui;
  std::deque<bool> Answers;
  std::vector<std::string> Questions, Messages, Waits, Pages;
  int WaitsEnded = 0;
  int Reports = 0;
};
