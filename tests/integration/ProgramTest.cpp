// The program itself, started as a user starts it (headless: Qt's and SDL's offscreen drivers)
// with folders of its own, and ended by SIGTERM or SIGINT the way a desktop session or a
// terminal ends it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <iostream>
#include <iterator>
#include <thread>
#include <vector>

#include "support/TestServers.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "support/Mounts.h"
#include "base/SysUtils.h"
#include "support/TestSupport.h"
#include "support/Xvfb.h"

#include <sys/stat.h>

#include <X11/Xlib.h>  // last: its macros (None, Bool, WaitStatus) reach no other header
#include <X11/Xatom.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

class Program {
public:
  explicit Program(const std::string& dir) : Dir(dir) {}
  ~Program() {
    if (Pid > 0) {
      kill(Pid, SIGKILL);
      waitpid(Pid, nullptr, 0);
    }
  }
  // `display`: an X display to run on; empty: Qt's and SDL's offscreen drivers. `extra`: more
  // of the environment, "NAME=value".
  bool Start(const std::vector<std::string>& args, const std::string& display = "",
             const std::vector<std::string>& extra = {}) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string v = *e;
      bool own = false;  // set below
      for (const char* p : {"XDG_", "HOME=", "DISPLAY=", "QT_QPA_PLATFORM=", "SDL_VIDEODRIVER=", "SDL_AUDIODRIVER="})
        own = own || v.rfind(p, 0) == 0;
      for (const std::string& x : extra) own = own || v.rfind(x.substr(0, x.find('=') + 1), 0) == 0;
      if (own) continue;
      env.push_back(v);
    }
    for (const char* sub : {"data", "cache", "runtime", "home"}) mkdir((Dir + sub).c_str(), 0700);
    env.push_back("XDG_DATA_HOME=" + Dir + "data");
    env.push_back("XDG_CACHE_HOME=" + Dir + "cache");
    env.push_back("XDG_RUNTIME_DIR=" + Dir + "runtime");
    env.push_back("HOME=" + Dir + "home");
    env.push_back(display.empty() ? "QT_QPA_PLATFORM=offscreen" : "QT_QPA_PLATFORM=xcb");
    env.push_back(display.empty() ? "SDL_VIDEODRIVER=offscreen" : "SDL_VIDEODRIVER=x11");
    if (!display.empty()) env.push_back("DISPLAY=" + display);
    env.push_back("SDL_AUDIODRIVER=dummy");
    // nothing answers on this port: the online parts fail at once instead of waiting
    env.push_back("KESTRUNE_HOSTS_URL=http://127.0.0.1:9/hosts.txt");
    env.insert(env.end(), extra.begin(), extra.end());
    std::vector<std::string> argv{KT_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> a, e;
    for (std::string& s : argv) a.push_back(s.data());
    for (std::string& s : env) e.push_back(s.data());
    a.push_back(nullptr);
    e.push_back(nullptr);
    return posix_spawn(&Pid, KT_PROGRAM, nullptr, nullptr, a.data(), e.data()) == 0;
  }
  std::string Log() const { return ReadAll(Dir + "data/Orvalent/QV/qv.log"); }
  // Waits for a text in the trace log (hang guard: `seconds`).
  bool WaitForLog(const std::string& text, int seconds = 60, int pollMs = 50) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
      if (Log().find(text) != std::string::npos) return true;
      if (Exited()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return false;
  }
  // The wait status once the process has ended; false when it is still running after `seconds`.
  bool WaitForExit(int seconds, int& status) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
      if (Exited()) {
        status = WaitStatus;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  void Signal(int sig) { kill(Pid, sig); }
  pid_t ProcessId() const { return Pid; }
  // Starts, waits until the menu is up, closes it as a desktop session does.
  void RunOnce() {
    const size_t before = Count(Log(), "Checkpoint: Initialized");
    ASSERT_TRUE(Start({}));
    const auto end = Clock::now() + std::chrono::seconds(60);
    while (Count(Log(), "Checkpoint: Initialized") == before && !Exited() && Clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_GT(Count(Log(), "Checkpoint: Initialized"), before) << Log();
    Signal(SIGTERM);
    int status = 0;
    ASSERT_TRUE(WaitForExit(60, status)) << "still running after the signal";
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
  }

private:
  bool Exited() {
    if (Pid <= 0) return true;
    if (waitpid(Pid, &WaitStatus, WNOHANG) != Pid) return false;
    Pid = 0;
    return true;
  }
  std::string Dir;
  pid_t Pid = 0;
  int WaitStatus = 0;
};

std::string LastLine(const std::string& text) {
  std::string t = text;
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
  const size_t n = t.rfind('\n');
  return n == std::string::npos ? t : t.substr(n + 1);
}

}  // namespace

// The first signal closes the program as its Close item does: the menu alone, or a game in its
// window (ended as its close button ends it, then the menu closes). The run ends normally, the
// trace log has its end marker and the settings file is written.
TEST(Program, TheFirstSignalClosesItTheNormalWay) {
  struct Case {
    const char* name;
    int signal;
    std::vector<std::string> args;
    const char* waitFor;  // the log line that shows the program is where the case wants it
  } cases[] = {
      {"menu, SIGTERM", SIGTERM, {}, "Checkpoint: Initialized"},
      {"menu, SIGINT", SIGINT, {}, "Checkpoint: Initialized"},
      {"game, SIGTERM", SIGTERM, {"/ip"}, "Checkpoint: Initializing keyboard"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = TestDir() + std::to_string(c.signal) + (c.args.empty() ? "menu/" : "game/");
    mkdir(dir.c_str(), 0700);
    Program p(dir);
    ASSERT_TRUE(p.Start(c.args));
    ASSERT_TRUE(p.WaitForLog(c.waitFor)) << p.Log();
    p.Signal(c.signal);
    int status = 0;
    ASSERT_TRUE(p.WaitForExit(60, status)) << "still running after the signal";
    EXPECT_TRUE(WIFEXITED(status)) << (WIFSIGNALED(status) ? WTERMSIG(status) : -1);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    const std::string log = p.Log();
    EXPECT_EQ(LastLine(log), "<*** End ***>") << log;
    EXPECT_NE(log.find("Info: Closing on signal " + std::to_string(c.signal)), std::string::npos);
    EXPECT_EQ(ReadAll(dir + "data/Orvalent/QV/env.dat").empty(), false);
  }
}

// A signal at any moment of the start (before the first picture, during the graphics probe, as
// the browser starts) closes the program the normal way, and a second one right behind it ends it
// by that signal, never by a crash. The runs go side by side, which also loads the machine.
TEST(Program, ASignalAtAnyMomentOfTheStartEndsItCleanly) {
  struct Case {
    int signal;
    const char* waitFor;
    int delayMs;
    bool twice;
  } cases[] = {
      {SIGINT, "Checkpoint: Initialized", 0, false},
      {SIGTERM, "Checkpoint: Create Direct3D 8", 0, false},
      {SIGINT, "Checkpoint: Create Direct3D 8", 0, true},
      {SIGINT, "Checkpoint: Initialized", 40, false},
      {SIGTERM, "Checkpoint: Initialized", 150, true},
      {SIGINT, "Checkpoint: Initialized", 400, false},
  };
  struct Result {
    bool started = false, reached = false, ended = false;
    int status = 0;
    std::string log;
  };
  const std::string root = TestDir();
  std::vector<Result> results(std::size(cases));
  std::vector<std::thread> runs;
  for (size_t i = 0; i < std::size(cases); ++i)
    runs.emplace_back([&, i] {
      const Case& c = cases[i];
      Result& r = results[i];
      const std::string dir = root + std::to_string(i) + "/";
      mkdir(dir.c_str(), 0700);
      Program p(dir);
      if (!(r.started = p.Start({}))) return;
      r.reached = p.WaitForLog(c.waitFor, 60, 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(c.delayMs));
      p.Signal(c.signal);
      if (c.twice) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        p.Signal(c.signal);
      }
      r.ended = p.WaitForExit(60, r.status);
      r.log = p.Log();
    });
  for (std::thread& t : runs) t.join();
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const Result& r = results[i];
    SCOPED_TRACE(std::string("signal ") + std::to_string(c.signal) + (c.twice ? " twice" : "") + " " +
                 std::to_string(c.delayMs) + " ms after \"" + c.waitFor + "\"");
    ASSERT_TRUE(r.started);
    EXPECT_TRUE(r.reached) << r.log;
    ASSERT_TRUE(r.ended) << "still running after the signal";
    if (WIFSIGNALED(r.status)) {
      EXPECT_TRUE(c.twice) << "ended by signal " << WTERMSIG(r.status) << "\n" << r.log;
      EXPECT_EQ(WTERMSIG(r.status), c.signal) << r.log;
      continue;
    }
    EXPECT_EQ(WEXITSTATUS(r.status), 0) << r.log;
    EXPECT_EQ(LastLine(r.log), "<*** End ***>") << r.log;
  }
}

// On a plain X server (no window manager, as testers run it) the menu comes up in the middle of
// the screen with the keyboard focus, so its keys (F9, Alt+F, ...) work without a click first.
TEST(Program, OnAPlainXServerTheMenuStartsCentredWithTheFocus) {
  if (!xvfb::Installed()) GTEST_SKIP() << "Xvfb is not installed";
  xvfb::TServer server;
  ASSERT_TRUE(server.Start(1280, 1024)) << "Xvfb did not start";
  const std::string dir = TestDir();
  Program p(dir);
  ASSERT_TRUE(p.Start({}, server.Name));
  ASSERT_TRUE(p.WaitForLog("Checkpoint: Initialized")) << p.Log();
  Display* x = XOpenDisplay(server.Name.c_str());
  ASSERT_NE(x, nullptr);
  // The focus is on the menu's window (or one inside it).
  auto focusedName = [x] {
    Window w = 0;
    int revert = 0;
    XGetInputFocus(x, &w, &revert);
    while (w > 1) {  // 0 and 1: no window, the pointer's
      char* name = nullptr;
      if (XFetchName(x, w, &name) && name) {
        const std::string n = name;
        XFree(name);
        return n;
      }
      Window root, parent, *children = nullptr;
      unsigned count = 0;
      if (!XQueryTree(x, w, &root, &parent, &children, &count)) break;
      if (children) XFree(children);
      if (w == root) break;
      w = parent;
    }
    return std::string();
  };
  EXPECT_TRUE(xvfb::Eventually([&] { return focusedName() == "Kestrune"; })) << "focus on \"" << focusedName() << "\"";
  Window w = 0;
  int revert = 0;
  XGetInputFocus(x, &w, &revert);
  if (w > 1) {
    Window root, child;
    int gx, gy, cx, cy;
    unsigned gw, gh, border, depth;
    XGetGeometry(x, w, &root, &gx, &gy, &gw, &gh, &border, &depth);
    XTranslateCoordinates(x, w, root, 0, 0, &cx, &cy, &child);
    EXPECT_NEAR(cx + int(gw) / 2, 1280 / 2, 2) << cx << " " << gw;
    EXPECT_NEAR(cy + int(gh) / 2, 1024 / 2, 2) << cy << " " << gh;
  }
  XCloseDisplay(x);
  p.Signal(SIGTERM);
  int status = 0;
  EXPECT_TRUE(p.WaitForExit(60, status));
}

// With the pages inside the program's own process (the engine's --single-process), a page that
// grows to 1 GB never gets the program ended: the page watch leaves our own process alone, the
// program's own bound drops the page, and the program closes the normal way.
TEST(Program, APageGrowingInsideTheProgramNeverEndsIt) {
  const std::string dir = TestDir();
  const std::string root = dir + "server/";
  mkdir(root.c_str(), 0700);
  mkdir((root + "kestruneinternal").c_str(), 0700);
  // 20 MB more every 50 ms, up to 1 GB
  WriteAll(root + "kestruneinternal/index.asp", R"html(<html><head><title>grow</title></head><body>
<script>var keep = []; setInterval(function() {
  if (keep.length < 50) { var b = new Uint8Array(20 << 20); b.fill(1); keep.push(b); }
}, 50);</script></body></html>)html");
  TTestServer server("http_server.py", {"--root", root});
  Program p(dir);
  ASSERT_TRUE(p.Start({}, "",
                      {"QTWEBENGINE_CHROMIUM_FLAGS=--single-process", "KESTRUNE_INTERNAL_HOST=" + server.HostPort(),
                       "KESTRUNE_PAGE_MEMORY_MB=300"}));
  ASSERT_TRUE(p.WaitForLog("Browser: the pages run in the program's own process", 120)) << p.Log();
  ASSERT_TRUE(p.WaitForLog("the page and all it stored are dropped", 120)) << p.Log();
  p.Signal(SIGTERM);
  int status = 0;
  ASSERT_TRUE(p.WaitForExit(60, status)) << "still running after the signal";
  ASSERT_TRUE(WIFEXITED(status)) << (WIFSIGNALED(status) ? WTERMSIG(status) : -1);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string log = p.Log();
  EXPECT_EQ(LastLine(log), "<*** End ***>") << log;
  EXPECT_EQ(log.find("it is ended"), std::string::npos) << log;
  EXPECT_FALSE(ReadAll(dir + "data/Orvalent/QV/env.dat").empty());
}

namespace {
// Runs xdotool with `args` on `display`; its output.
std::string Xdotool(const std::string& display, const std::string& args) {
  const std::string command = "DISPLAY=" + display + " xdotool " + args + " 2>/dev/null";
  std::string out;
  if (FILE* f = popen(command.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, f)) out += buffer;
    pclose(f);
  }
  return out;
}

// The program's visible windows named "Kestrune" on `display`, one id a line; waits up to 60 s
// for the first (it is mapped a little after the log says so on a busy machine).
std::string MenuWindows(const std::string& display) {
  std::string windows;
  for (int i = 0; i < 600 && windows.empty(); ++i) {
    windows = Xdotool(display, "search --onlyvisible --name '^Kestrune$'");
    if (windows.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return windows;
}

// A desktop browser of the test's own first on the PATH: an xdg-open in `bin` that notes each
// address it is given in `opened`. Returns the PATH entry for the program.
std::string FakeDesktopBrowser(const std::string& bin, const std::string& opened) {
  WriteAll(bin + "xdg-open", "#!/bin/sh\necho \"$*\" >> '" + opened + "'\n");
  chmod((bin + "xdg-open").c_str(), 0700);
  const char* path = std::getenv("PATH");
  return "PATH=" + bin + ":" + (path ? path : "/usr/bin");
}

// The top of the embedded browser's place in the menu window `w` (the menu bar above the
// 500 x 350 picture; the browser's place on it starts at (102, 62)), or -1.
int BrowserTop(const std::string& display, const std::string& w) {
  const std::string geometry = Xdotool(display, "getwindowgeometry " + w);
  const size_t at = geometry.find("Geometry: ");
  if (at == std::string::npos) return -1;
  const int height = std::atoi(geometry.c_str() + geometry.find('x', at + 10) + 1);
  return height - 350 + 62;
}
}  // namespace

// The real program with a desktop browser of its own (a fake xdg-open that notes its address):
// a page whose script goes elsewhere every 300 ms opens nothing, a click on its plain text
// neither, then or 3 s later; a click on its link opens that link, at once.
TEST(Program, OnlyAClickOnALinkReachesTheDesktopBrowser) {
  if (!xvfb::Installed() || !xvfb::OnPath("xdotool")) GTEST_SKIP() << "Xvfb or xdotool is not installed";
  xvfb::TServer x;
  ASSERT_TRUE(x.Start(1280, 1024)) << "Xvfb did not start";
  const std::string dir = TestDir();
  const std::string root = dir + "server/", bin = dir + "bin/", opened = dir + "opened.txt";
  for (const std::string& d : {root, root + "kestruneinternal", bin}) mkdir(d.c_str(), 0700);
  const std::string pathEntry = FakeDesktopBrowser(bin, opened);
  // the page's top 80 pixels plain text, below them a link
  WriteAll(root + "kestruneinternal/index.asp", R"html(<html><head><title>lure</title></head>
<body style="margin:0;font:12px sans-serif">
<div id="text" style="height:80px;background:#fdd">plain text</div>
<a id="link" href="http://other.example/link.html" style="display:block;height:400px;background:#ddf">link</a>
<script>
setInterval(function() { location = 'http://other.example/moved.html'; }, 300);
document.getElementById('text').addEventListener('click', function() {
  setTimeout(function() { window.open('http://other.example/late.html'); document.getElementById('link').click(); }, 3000);
});
</script></body></html>)html");
  TTestServer server("http_server.py", {"--root", root});
  Program p(dir);
  ASSERT_TRUE(p.Start({}, x.Name, {"KESTRUNE_INTERNAL_HOST=" + server.HostPort(), pathEntry}));
  ASSERT_TRUE(p.WaitForLog("Browser: loaded http://" + server.HostPort())) << p.Log();
  const std::string window = MenuWindows(x.Name);
  ASSERT_FALSE(window.empty());
  const std::string w = window.substr(0, window.find('\n'));
  const int top = BrowserTop(x.Name, w);
  ASSERT_GE(top, 0);
  auto click = [&](int y) {  // the pointer first: sent together, the click can come before the move
    Xdotool(x.Name, "mousemove --window " + w + " 200 " + std::to_string(top + y));
    Xdotool(x.Name, "click 1");
  };
  std::this_thread::sleep_for(std::chrono::seconds(2));  // the page's script tries meanwhile
  click(40);                                             // plain text
  std::this_thread::sleep_for(std::chrono::seconds(4));  // and what it does 3 s later
  EXPECT_EQ(ReadAll(opened), "");
  click(120);  // the link
  for (int i = 0; i < 100 && ReadAll(opened).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_EQ(ReadAll(opened), "http://other.example/link.html\n");
  EXPECT_NE(p.Log().find("without a click; not opened: http://other.example/moved.html"), std::string::npos);
  p.Signal(SIGTERM);
  int status = 0;
  EXPECT_TRUE(p.WaitForExit(60, status));
}

namespace {
// Waits until the file holds `text` (hang guard: `seconds`).
bool WaitForFileText(const std::string& name, const std::string& text, int seconds) {
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  while (ReadAll(name).find(text) == std::string::npos) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}
}  // namespace

// The real program under X with a desktop browser of its own, driven by real keys and clicks: a
// key on what the page's script keeps focused (a hidden link with Enter, a hidden submit button
// with Space) opens nothing; a link the player reached by Tab opens with Enter; a click on a link
// in a shadow root opens it; the page an in-site click loads, still loading, leaves by script
// 15 s later: nothing opens. The page notes each trusted click on its server.
TEST(Program, OnlyWhatThePlayerChoseReachesTheDesktopBrowser) {
  if (!xvfb::Installed() || !xvfb::OnPath("xdotool")) GTEST_SKIP() << "Xvfb or xdotool is not installed";
  xvfb::TServer x;
  ASSERT_TRUE(x.Start(1280, 1024)) << "Xvfb did not start";
  const std::string dir = TestDir();
  const std::string root = dir + "server/", bin = dir + "bin/", opened = dir + "opened.txt";
  const std::string requests = root + "requests.log";
  for (const std::string& d : {root, root + "kestruneinternal", bin}) mkdir(d.c_str(), 0700);
  const std::string pathEntry = FakeDesktopBrowser(bin, opened);
  // rows of 24 pixels: plain text; "button" (the page then keeps its button focused); "calm"
  // (it stops); a link; a link in a shadow root; an in-site link
  WriteAll(root + "kestruneinternal/index.asp", R"html(<html><head><title>keys</title></head>
<body style="margin:0;font:12px sans-serif">
<style>div, a { display:block; height:24px }</style>
<a id="hidden" href="http://other.example/hidden.html" tabindex="-1" style="position:absolute;left:-500px">h</a>
<form action="http://other.example/hidden-form.html" style="position:absolute;left:-500px">
<input type="submit" id="hiddenbutton" tabindex="-1"></form>
<div id="text" style="background:#fdd">plain text</div>
<div id="tobutton" style="background:#dfd">button</div>
<div id="calm" style="background:#ddd">calm</div>
<a id="visible" href="http://other.example/tabbed.html">link</a>
<div id="host"></div>
<a id="inside" href="leaving.html">inside</a>
<script>
var steal = 'hidden';
document.getElementById('host').attachShadow({mode: 'open'}).innerHTML =
    '<a href="http://other.example/shadow.html" style="display:block;height:24px;background:#ddf">shadow</a>';
document.getElementById('tobutton').onclick = function() { steal = 'hiddenbutton'; };
document.getElementById('calm').onclick = function() { steal = ''; };
document.addEventListener('click', function(e) {
  if (e.isTrusted) new Image().src = 'note.png?' + e.target.id;
}, true);
setInterval(function() { if (steal) document.getElementById(steal).focus(); }, 100);
</script></body></html>)html");
  // still loading (its image never comes) when its script leaves, 15 s after it starts
  WriteAll(root + "kestruneinternal/leaving.html", R"html(<html><head><title>leaving</title></head>
<body>leaving<img src="never.png"><script>
setTimeout(function() { new Image().src = 'note.png?leaving'; location = 'http://other.example/late.html'; }, 15000);
</script></body></html>)html");
  WriteAll(root + "kestruneinternal/never.png.behave", "stall");
  TTestServer server("http_server.py", {"--root", root});
  Program p(dir);
  ASSERT_TRUE(p.Start({}, x.Name, {"KESTRUNE_INTERNAL_HOST=" + server.HostPort(), pathEntry}));
  ASSERT_TRUE(p.WaitForLog("Browser: loaded http://" + server.HostPort())) << p.Log();
  const std::string window = MenuWindows(x.Name);
  ASSERT_FALSE(window.empty());
  const std::string w = window.substr(0, window.find('\n'));
  const int top = BrowserTop(x.Name, w);
  ASSERT_GE(top, 0);
  auto click = [&](int row) {  // the pointer first: sent together, the click can come before the move
    Xdotool(x.Name, "mousemove --window " + w + " 200 " + std::to_string(top + 24 * row + 12));
    Xdotool(x.Name, "click 1");
  };
  auto key = [&](const char* name) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the page's script focuses meanwhile
    Xdotool(x.Name, std::string("key ") + name);
  };
  auto noted = [&](const std::string& id) { return WaitForFileText(requests, "note.png?" + id + "\n", 60); };
  auto quietly = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1500)); };  // what it starts
  // A click on plain text changes nothing outside, so it is sent again until the page saw it: the
  // page may take input only a while after its load was reported (hang guard: 60 tries).
  auto clickText = [&](int row, const std::string& id) {
    for (int i = 0; i < 60; ++i) {
      click(row);
      if (WaitForFileText(requests, "note.png?" + id + "\n", 1)) return true;
    }
    return false;
  };

  ASSERT_TRUE(clickText(0, "text")) << ReadAll(requests);  // plain text, the hidden link focused by the page
  key("Return");
  ASSERT_TRUE(noted("hidden")) << ReadAll(requests);
  quietly();
  EXPECT_EQ(ReadAll(opened), "");
  ASSERT_TRUE(clickText(1, "tobutton"));  // from here on the hidden button
  key("space");
  ASSERT_TRUE(noted("hiddenbutton")) << ReadAll(requests);
  quietly();
  EXPECT_EQ(ReadAll(opened), "");
  ASSERT_TRUE(clickText(2, "calm"));  // the page keeps nothing focused; Tab goes to the link after
  key("Tab");
  key("Return");
  ASSERT_TRUE(noted("visible")) << ReadAll(requests);
  ASSERT_TRUE(WaitForFileText(opened, "http://other.example/tabbed.html\n", 60)) << ReadAll(opened);
  click(4);  // the link in the shadow root
  ASSERT_TRUE(WaitForFileText(opened, "http://other.example/shadow.html\n", 60)) << ReadAll(opened);
  click(5);  // in-site
  ASSERT_TRUE(WaitForFileText(requests, "GET /kestruneinternal/never.png", 60)) << ReadAll(requests);
  ASSERT_TRUE(noted("leaving"));
  quietly();
  EXPECT_EQ(ReadAll(opened), "http://other.example/tabbed.html\nhttp://other.example/shadow.html\n");
  EXPECT_NE(p.Log().find("without a click; not opened: http://other.example/"), std::string::npos) << p.Log();
  p.Signal(SIGTERM);
  int status = 0;
  EXPECT_TRUE(p.WaitForExit(60, status));
}

// A page writing to its console as fast as it can: the program's stdout and stderr stay nearly
// empty and the trace log holds one line about it (the memory it takes is printed: lines still on
// their way when the page ends are no growth).
TEST(Program, APagesConsoleStaysOutOfTheTerminal) {
  const std::string dir = TestDir();
  const std::string root = dir + "server/", out = dir + "terminal.txt";
  const std::string requests = root + "requests.log";
  for (const std::string& d : {root, root + "kestruneinternal"}) mkdir(d.c_str(), 0700);
  // 400,000 console lines of every level, then a note on the server
  WriteAll(root + "kestruneinternal/index.asp", R"html(<html><head><title>console</title></head><body><script>
var n = 0, pad = 'x'.repeat(200), levels = ['log', 'error', 'warn', 'info', 'debug'];
var flood = setInterval(function() {
  for (var i = 0; i < 500; ++i) console[levels[++n % 5]]('flood ' + n + ' ' + pad);
  if (n >= 400000) { clearInterval(flood); new Image().src = 'note.png?done'; }
}, 1);</script></body></html>)html");
  TTestServer server("http_server.py", {"--root", root});
  Program p(dir);
  {
    // the program's stdout and stderr: a file (ours for as long as it starts)
    std::fflush(stdout);
    std::fflush(stderr);
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int savedOut = dup(1), savedErr = dup(2);
    dup2(fd, 1);
    dup2(fd, 2);
    close(fd);
    const bool started = p.Start({}, "", {"KESTRUNE_INTERNAL_HOST=" + server.HostPort()});
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(savedOut);
    close(savedErr);
    ASSERT_TRUE(started);
  }
  ASSERT_TRUE(p.WaitForLog("Browser: loaded http://" + server.HostPort())) << p.Log();
  const auto resident = [&] {
    const std::string status = ReadAll("/proc/" + std::to_string(p.ProcessId()) + "/status");
    const size_t at = status.find("VmRSS:");
    return at == std::string::npos ? 0L : std::atol(status.c_str() + at + 6) / 1024;  // MB
  };
  const long before = resident();
  ASSERT_TRUE(WaitForFileText(requests, "note.png?done", 600)) << "the page did not end its flood";
  std::this_thread::sleep_for(std::chrono::seconds(1));  // what is still on its way
  const long after = resident();
  std::printf("console flood: %ld MB before, %ld MB after; %zu bytes on the terminal\n", before, after,
              ReadAll(out).size());
  p.Signal(SIGTERM);
  int status = 0;
  ASSERT_TRUE(p.WaitForExit(60, status));
  const std::string printed = ReadAll(out), log = p.Log();
  EXPECT_LT(printed.size(), 10u * 1024) << printed.substr(0, 2000);
  EXPECT_EQ(printed.find("flood"), std::string::npos);
  EXPECT_EQ(Program::Count(log, "Browser: the page's console is not shown"), 1u) << log;
  EXPECT_EQ(log.find("flood 2"), std::string::npos);
  EXPECT_EQ(LastLine(log), "<*** End ***>");
}

// Two damaged env.dat files in a row, each met by a start of the program: both are kept, each
// under a name of its own, and the log names the copy written.
TEST(Program, EachDamagedSettingsFileIsKeptUnderItsOwnName) {
  const std::string dir = TestDir();
  const std::string user = dir + "data/Orvalent/QV/";
  ASSERT_TRUE(ForceDirectories(user));
  Program p(dir);
  const std::string first = "first damaged settings file", second = std::string(3000, '\x81');
  WriteAll(user + "env.dat", first);
  p.RunOnce();
  if (HasFatalFailure()) return;
  EXPECT_NE(p.Log().find("Damaged environment file kept as env.dat.damaged;"), std::string::npos) << p.Log();
  WriteAll(user + "env.dat", second);
  p.RunOnce();
  if (HasFatalFailure()) return;
  EXPECT_NE(p.Log().find("Damaged environment file kept as env.dat.damaged.2;"), std::string::npos) << p.Log();
  EXPECT_EQ(ReadAll(user + "env.dat.damaged"), first);
  EXPECT_EQ(ReadAll(user + "env.dat.damaged.2"), second);
  EXPECT_NE(ReadAll(user + "env.dat"), second);  // the settings were saved in its place
}

namespace {
// Starts the program with a fresh log, waits until the settings are loaded (the graphics probe
// follows), and kills it: a start that never saves.
void KilledStart(Program& p, const std::string& user) {
  DeleteFile(user + "qv.log");
  ASSERT_TRUE(p.Start({}));
  ASSERT_TRUE(p.WaitForLog("Checkpoint: Create Direct3D 8")) << p.Log();
  p.Signal(SIGKILL);
  int status = 0;
  ASSERT_TRUE(p.WaitForExit(60, status));
  EXPECT_TRUE(WIFSIGNALED(status));
}

std::string DamagedSettings(const std::string& dir, int32_t musicVolume) {
  TGameEnvironment env;
  ResetEnvironment(env);
  env.Alias = "Kept";
  env.MusicVolume = musicVolume;  // out of range: loads with its default
  const std::string tmp = dir + "damaged" + std::to_string(musicVolume) + ".dat";
  std::string error;
  EXPECT_TRUE(SaveEnvironmentFile(tmp, env, error)) << error;
  return ReadAll(tmp);
}
}  // namespace

// Starts that never save (killed at the menu) on one env.dat with a value out of range: one
// copy is kept and the mended file is in place after the first; the same bytes put back are not
// copied again, and a later, different damage gets its own copy.
TEST(Program, KilledStartsOnOneDamagedSettingsFileKeepOneCopy) {
  const std::string dir = TestDir();
  const std::string user = dir + "data/Orvalent/QV/";
  ASSERT_TRUE(ForceDirectories(user));
  const std::string first = DamagedSettings(dir, 1000), second = DamagedSettings(dir, 2000);
  WriteAll(user + "env.dat", first);
  Program p(dir);
  for (int i = 0; i < 5; ++i) {
    KilledStart(p, user);
    if (HasFatalFailure()) return;
  }
  WriteAll(user + "env.dat", first);  // the same damage once more
  KilledStart(p, user);
  if (HasFatalFailure()) return;
  EXPECT_NE(p.Log().find("* Warning: Damaged environment file kept as env.dat.damaged already;"), std::string::npos)
      << p.Log();
  EXPECT_EQ(ReadAll(user + "env.dat.damaged"), first);
  EXPECT_FALSE(FileExists(user + "env.dat.damaged.2"));
  TGameEnvironment mended;
  std::vector<std::string> defaulted;
  ASSERT_TRUE(LoadEnvironmentFile(user + "env.dat", mended, &defaulted));
  EXPECT_TRUE(defaulted.empty());
  EXPECT_EQ(mended.Alias, "Kept");
  EXPECT_EQ(mended.MusicVolume, 60);
  WriteAll(user + "env.dat", second);
  KilledStart(p, user);
  if (HasFatalFailure()) return;
  EXPECT_EQ(ReadAll(user + "env.dat.damaged.2"), second);
  EXPECT_FALSE(FileExists(user + "env.dat.damaged.3"));
  EXPECT_NE(p.Log().find("* Warning: Damaged environment file kept as env.dat.damaged.2;"), std::string::npos) << p.Log();
}

// The user folder on a small disk that fills up while the menu is open: the run ends normally,
// and once the space is back the next start finds no crash in the log to ask about.
TEST(Program, ARunOnADiskThatFillsUpIsNotTakenForACrash) {
  const std::string dir = TestDir();
  const std::string user = dir + "data/Orvalent/QV/";
  ASSERT_TRUE(ForceDirectories(user));
  std::string why;
  auto disk = TScopedMount::SmallDisk(user, 1 << 20, why);
  if (!disk) GTEST_SKIP() << why;
  {
    Program p(dir);
    ASSERT_TRUE(p.Start({}));
    ASSERT_TRUE(p.WaitForLog("Checkpoint: Initialized")) << p.Log();
    ASSERT_TRUE(TScopedMount::Fill(user + "filler"));
    p.Signal(SIGTERM);
    int status = 0;
    ASSERT_TRUE(p.WaitForExit(60, status)) << "still running after the signal";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    DeleteFile(user + "filler");
    EXPECT_EQ(LastLine(p.Log()), "<*** End ***>") << p.Log();
  }
  // What the next start asks about, read by the program's own scan of the log.
  SetLogFile(user + "qv.log");
  EXPECT_FALSE(LogHasErrors()) << GetLogText();
  SetLogFile("");
}

// A folder or a FIFO in the lock file's place does not let a second instance share the data
// folder: the second start shows the second-instance message and never gets to its menu.
TEST(Program, SomethingInTheLockFilesPlaceStillKeepsASecondInstanceOut) {
  if (!xvfb::Installed()) GTEST_SKIP() << "Xvfb is not installed";
  xvfb::TServer server;
  ASSERT_TRUE(server.Start(1024, 768)) << "Xvfb did not start";
  Display* x = XOpenDisplay(server.Name.c_str());
  ASSERT_NE(x, nullptr);
  // A window may go between listing it and asking about it: that error is no failure (the
  // default handler would end the test with the programs still running).
  const XErrorHandler oldHandler = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  // A mapped top-level window of the process `pid`.
  auto hasWindowOf = [x](pid_t pid) {
    const Atom pidAtom = XInternAtom(x, "_NET_WM_PID", False);
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    bool found = false;
    if (!XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count)) return false;
    for (unsigned i = 0; i < count && !found; ++i) {
      XWindowAttributes a;
      if (!XGetWindowAttributes(x, children[i], &a) || a.map_state != IsViewable) continue;
      Atom type;
      int format;
      unsigned long items, after;
      unsigned char* data = nullptr;
      if (XGetWindowProperty(x, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after, &data) ==
              Success &&
          data) {
        found = items == 1 && static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data)) == pid;
        XFree(data);
      }
    }
    if (children) XFree(children);
    return found;
  };
  for (const char* what : {"folder", "FIFO"}) {
    SCOPED_TRACE(what);
    const std::string dir = TestDir() + what + "/";
    ASSERT_TRUE(ForceDirectories(dir + "runtime"));
    chmod((dir + "runtime").c_str(), 0700);
    const std::string lock = dir + "runtime/Kestrune.lock";
    if (std::string(what) == "folder") ASSERT_TRUE(ForceDirectories(lock + "/inside"));
    else ASSERT_EQ(mkfifo(lock.c_str(), 0600), 0);
    Program one(dir), two(dir);
    ASSERT_TRUE(one.Start({}, server.Name));
    ASSERT_TRUE(one.WaitForLog("Checkpoint: Initialized")) << one.Log();
    ASSERT_TRUE(two.Start({}, server.Name));
    // The second start's message box comes up; its menu never does.
    const auto end = Clock::now() + std::chrono::seconds(60);
    while (!hasWindowOf(two.ProcessId()) && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(hasWindowOf(two.ProcessId())) << "no window of the second instance";
    EXPECT_EQ(Program::Count(one.Log(), "Checkpoint: Initialized"), 1u) << one.Log();
    EXPECT_NE(one.Log().find("The lock file " + lock + " cannot be used"), std::string::npos);
    int status = 0;
    two.Signal(SIGTERM);
    EXPECT_TRUE(two.WaitForExit(60, status));
    EXPECT_EQ(Program::Count(one.Log(), "Checkpoint: Initialized"), 1u) << one.Log();
    one.Signal(SIGTERM);
    EXPECT_TRUE(one.WaitForExit(60, status));
  }
  XSetErrorHandler(oldHandler);
  XCloseDisplay(x);
}

// The real program looking up a logged error in a hostile solutions list (48,000 lines of
// backtracking expressions, sent slowly) behind its wait window: the menu's File menu opens by a
// click while the wait window shows, only Close in it can be chosen, and Close ends the program
// the normal way, the settings saved and the log ended.
TEST(Program, FileCloseEndsItWhileTheErrorLookupRuns) {
  if (!xvfb::Installed() || !xvfb::OnPath("xdotool")) GTEST_SKIP() << "Xvfb or xdotool is not installed";
  xvfb::TServer x;
  ASSERT_TRUE(x.Start(1280, 1024)) << "Xvfb did not start";
  const std::string dir = TestDir();
  const std::string root = dir + "server/", logDir = dir + "data/Orvalent/QV/";
  for (const std::string& d : {root, root + "kestruneinternal", dir + "data", dir + "data/Orvalent", logDir})
    mkdir(d.c_str(), 0700);
  std::string list;
  for (int n = 0; n < 48000; ++n) list += "page" + std::to_string(n) + ",N,(.*.)*#\r\n";
  WriteAll(root + "kestruneinternal/errors.txt", list);
  WriteAll(root + "kestruneinternal/errors.txt.slow", "4");
  // the previous run's log with an error not yet looked up
  WriteAll(logDir + "qv.log", "<*** Begin ***>\r\n* Info: Started\r\n* Error: Direct3D device lost\r\n<*** End ***>\r\n");
  TTestServer server("http_server.py", {"--root", root});
  Program p(dir);
  ASSERT_TRUE(p.Start({}, x.Name, {"KESTRUNE_INTERNAL_HOST=" + server.HostPort()}));
  ASSERT_TRUE(p.WaitForLog("Checkpoint: Initialized")) << p.Log();
  const std::string window = MenuWindows(x.Name);
  ASSERT_FALSE(window.empty());
  const std::string w = window.substr(0, window.find('\n'));
  auto windows = [&] {
    const std::string list = Xdotool(x.Name, "search --onlyvisible --name '^Kestrune$'");
    std::vector<std::string> ids;
    for (size_t a = 0, b; (b = list.find('\n', a)) != std::string::npos; a = b + 1) ids.push_back(list.substr(a, b - a));
    return ids;
  };
  // the pointer first, the click after it (sent at once, the click can reach the window before
  // the pointer's move has)
  const std::string geometry = Xdotool(x.Name, "getwindowgeometry " + w);
  const size_t at = geometry.find("Position: ");
  ASSERT_NE(at, std::string::npos) << geometry;
  const int left = std::atoi(geometry.c_str() + at + 10), top = std::atoi(geometry.c_str() + geometry.find(',', at) + 1);
  auto click = [&](int cx, int cy) {
    Xdotool(x.Name, "mousemove " + std::to_string(left + cx) + " " + std::to_string(top + cy));
    Xdotool(x.Name, "click 1");
  };
  auto waitWindowShown = [&] {
    for (const std::string& id : windows())
      if (Xdotool(x.Name, "getwindowgeometry " + id).find("Geometry: 360x124") != std::string::npos) return true;
    return false;
  };
  // the question comes with a tick of the menu's 2-second timer while the menu is the active
  // window: a click on its picture beside the play button makes it so (hang guard: 30 s)
  for (int i = 0; i < 300 && windows().size() < 2; ++i) {
    if (i % 30 == 10) click(210, 250);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_GE(windows().size(), 2u) << "no lookup question\n" << p.Log();
  Xdotool(x.Name, "key Return");  // Yes: look it up
  ASSERT_TRUE(xvfb::Eventually(waitWindowShown)) << "no wait window";
  // File on the menu bar, then its last item, Close, as soon as a user would
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  click(19, 9);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto clicked = Clock::now();
  click(50, 123);
  int status = 0;
  // hang guard only; that the close cut the walk short shows in the log (no budget's end below)
  ASSERT_TRUE(p.WaitForExit(60, status)) << "still running 60 s after File > Close\n" << p.Log();
  std::printf("ended %lld ms after File > Close\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - clicked).count()));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string log = p.Log();
  EXPECT_EQ(LastLine(log), "<*** End ***>") << log;
  EXPECT_EQ(log.find("Error searching for a solution"), std::string::npos) << log;
}
