// The main window's embedded browser against a loopback game server: which addresses stay
// inside, which go to the external browser and which go nowhere; the highscore page's return to
// the index page; no context menu; no error page inside the menu picture; and a game run from
// the window while a page shows. Screenshots go to build/test-frames/.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QThread>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "base/SysUtils.h"
#include "engine/D3DTestSupport.h"
#include "engine/tools.h"
#include "game/GameLogic.h"
#include "game/GameWindow.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "game/UserFiles.h"
#include "platform/ShellServices.h"
#include "platform/WinInet.h"
#include "shell/MenuServices.h"
#include "shell/QuitSignals.h"
#include "shell/frmMain.h"
#include "shell/frmOptions.h"
#include "support/TestServers.h"
#include "support/TestSupport.h"

namespace {

QApplication& App() {
  if (!QApplication::instance()) {
    TBrowserArea::SetEngineLimits();  // as the start-up does
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    static int argc = 1;
    static char name[] = "test_shell";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives to the end of the process
  }
  return *static_cast<QApplication*>(QApplication::instance());
}

// Runs the event loop until `done` holds; false after `ms` (a hang guard).
bool WaitFor(const std::function<bool()>& done, int ms = 20000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  return true;
}

// Runs the event loop for `ms`.
void Spin(int ms) {
  WaitFor([] { return false; }, ms);
}

const char* const kBase = "/kestruneinternal/";

// The game server's pages; {P} stands for the in-site prefix, {H} for host:port.
const char* const kIndex = R"html(<html><head><title>index</title></head>
<body style="margin:0;font:12px sans-serif" oncontextmenu="document.title='context'">
<a id="other" href="http://other.example/x.html">other host</a><br>
<a id="query" href="http://{H}/elsewhere/page2.html?back={P}">prefix in the query</a><br>
<a id="blank" href="http://other.example/blank.html" target="_blank">new window</a><br>
<a id="open" href="https://other.example/open.html" onclick="window.open(this.href); return false">window.open</a><br>
<a id="elsewhere" href="#" onclick="window.open('https://other.example/elsewhere.html'); return false">window.open elsewhere</a><br>
<a id="file" href="file:///etc/hostname">file</a>
<a id="js" href="javascript:void(document.title='js')">javascript</a>
<a id="custom" href="kestrune-game://x">custom</a>
<a id="blankfile" href="kestrune-game://y" target="_blank">custom, new window</a><br>
<a id="highscore" href="highscore.html">highscore</a>
<a id="missing" href="missing.html">missing</a>
<div style="height:60px;background:#36c;color:white">Kestrune index page</div>
<iframe src="http://other.example/frame.html" width="1" height="1"></iframe>
</body></html>)html";
const char* const kHighscore = R"html(<html><head><title>highscore</title></head>
<body style="margin:0;font:12px sans-serif"><a id="other" href="http://other.example/ranking.html">ranking</a>
<p>Highscores</p></body></html>)html";
const char* const kPage2 = R"html(<html><head><title>page2</title></head><body>page two</body></html>)html";

// Hostile pages of the server: scripts that try to leave on their own every 250 ms (window.open,
// location, a synthetic click on a link and on a new-window link, a form sent by script, a
// refresh to another host); boxes; a renderer that grows without end.
const char* const kHostile = R"html(<html><head><title>hostile</title>
<meta http-equiv="refresh" content="1;url=http://other.example/refreshed.html"></head>
<body style="margin:0;font:12px sans-serif">
<a id="other" href="http://other.example/clicked.html">other host</a><br>
<a id="lure" href="http://other.example/lure.html">lure</a>
<a id="blank" href="http://other.example/blank-lure.html" target="_blank">new window</a>
<form id="form" action="http://other.example/form.html"><input name="q" value="1"></form>
<script>
var tries = 0, running = true;
var moves = [
  function() { window.open('http://other.example/popup.html'); },
  function() { location = 'http://other.example/moved.html'; },
  function() { location.replace('http://other.example/replaced.html'); },
  function() { document.getElementById('lure').click(); },
  function() { document.getElementById('blank').click(); },
  function() { document.getElementById('form').submit(); },
];
setInterval(function() { if (running) moves[tries++ % moves.length](); }, 250);
</script></body></html>)html";
const char* const kBoxes = R"html(<html><head><title>boxes</title></head>
<body style="margin:0;font:12px sans-serif"><p id="text">boxes</p>
<script>
window.addEventListener('beforeunload', function(e) { e.preventDefault(); e.returnValue = 'stay'; });
document.title = 'answers ' + confirm('Sure?') + ' ' + prompt('Name?', 'x');
</script></body></html>)html";
const char* const kAlertLoop = R"html(<html><head><title>loop</title></head><body>
<script>setTimeout(function() { for (;;) { alert('again'); confirm('again?'); } }, 100);</script>
</body></html>)html";
// Boxes while the address changes, on and on; and a page that does so and loads itself again
// with a long address every 50 ms (each load a log line of its own), counting its loads.
const char* const kNoteLoop = R"html(<html><head><title>noteloop</title></head><body><p>notes</p>
<script>var n = 0; setInterval(function() {
  history.replaceState(null, '', 'noteloop.html?n=' + (++n)); alert('note ' + n);
}, 5);</script></body></html>)html";
const char* const kReloadLoop = R"html(<html><head><title>reloadloop</title></head><body>
<script>var loads = (+sessionStorage.loads || 0) + 1; sessionStorage.loads = loads;
document.title = 'reloadloop ' + loads;
history.replaceState(null, '', location.pathname + location.search + '#' + loads); alert('load ' + loads);
setTimeout(function() { location.replace('reloadloop.html?' + 'x'.repeat(1500) + loads); }, 50);
</script></body></html>)html";
// 20 MB more every 50 ms, outside the script heap; stops at 3 GB should nothing end it.
const char* const kGrow = R"html(<html><head><title>grow</title></head><body>
<script>var keep = []; setInterval(function() {
  if (keep.length < 150) { var b = new Uint8Array(20 << 20); b.fill(1); keep.push(b); }
}, 50);</script></body></html>)html";

// A page whose script tries to leave in one way (`move`), at load or on any click, at once or
// `delay` ms later; with `cancel`, the link's own navigation is cancelled. The query says which.
const char* const kLure = R"html(<html><head><title>lure</title></head>
<body style="margin:0;font:12px sans-serif">
<a id="link" href="http://other.example/link.html">link</a><br>
<p id="text">plain text, no link</p>
<a id="lure" href="http://other.example/lure.html">lure</a>
<form id="form" action="http://other.example/form.html"><input name="q" value="1"></form>
<script>
var q = new URLSearchParams(location.search), delay = +q.get('delay'), done = 0;
var moves = {
  location: function() { location = 'http://other.example/moved.html'; },
  open: function() { window.open('http://other.example/popup.html'); },
  click: function() { document.getElementById('lure').click(); },
  submit: function() { document.getElementById('form').submit(); },
  own: function() { location = document.getElementById('link').href; },
};
function go() {
  var move = function() { moves[q.get('move')](); done++; };
  if (delay) setTimeout(move, delay); else move();
}
if (q.get('cancel')) document.getElementById('link').addEventListener('click', function(e) { e.preventDefault(); });
if (q.get('on') === 'load') go();
else document.addEventListener('click', function(e) { if (e.isTrusted) go(); }, true);
</script></body></html>)html";
// A page that tries to forge the report of a click: our click script's globals, the channel of
// the engine's own objects, console lines like a report, synthetic clicks; then leaves.
const char* const kForge = R"html(<html><head><title>forge</title></head>
<body style="margin:0;font:12px sans-serif">
<a id="link" href="http://other.example/forged.html">link</a>
<form id="form" action="http://other.example/forged-form.html"><input type="submit" id="submit"></form>
<p id="text">plain text</p>
<script>
var seen = [typeof key, typeof report, typeof qt];
function forge() {
  var url = 'http://other.example/forged.html';
  for (var k of ['', 'a ', 'undefined', 'undefineda ', '0.0.0.0.a ']) { console.debug(k + url); console.log(k + url); }
  try { qt.webChannelTransport.send(JSON.stringify({type: 6, url: url})); } catch (e) {}
  var link = document.getElementById('link');
  link.dispatchEvent(new MouseEvent('click', {bubbles: true, cancelable: true}));
  link.click();
  document.getElementById('submit').click();
  location = url;
}
document.getElementById('text').addEventListener('click', forge);
</script></body></html>)html";
// Keys on a page: a hidden link and a hidden submit button, one of them kept focused by the
// page's script (`steal`); links and a button the player can Tab to; a field of a form to press
// Enter in. Trusted clicks are counted per element.
const char* const kKeys = R"html(<html><head><title>keys</title></head>
<body style="margin:0;font:12px sans-serif">
<a id="hidden" href="http://other.example/hidden.html" tabindex="-1" style="position:absolute;left:-500px">h</a>
<form id="hiddenform" action="http://other.example/hidden-form.html" style="position:absolute;left:-500px">
<input type="submit" id="hiddenbutton" tabindex="-1"></form>
<p id="text">plain text, no link</p>
<a id="first" href="http://other.example/first.html">first</a>
<form id="form" action="http://other.example/form.html"><input id="field" name="q" value="1">
<input type="submit" id="submit"></form>
<a id="last" href="http://other.example/last.html">last</a>
<script>
var clicks = {}, steal = new URLSearchParams(location.search).get('steal');
document.addEventListener('click', function(e) {
  if (e.isTrusted) clicks[e.target.id] = (clicks[e.target.id] || 0) + 1;
}, true);
if (steal) setInterval(function() { document.getElementById(steal).focus(); }, 100);
</script></body></html>)html";
// A link inside an open shadow root, and one in a slot of it.
const char* const kShadow = R"html(<html><head><title>shadow</title></head>
<body style="margin:0;font:12px sans-serif">
<div id="host"><a id="slotted" href="http://other.example/slotted.html">slotted</a></div>
<script>
var root = document.getElementById('host').attachShadow({mode: 'open'});
root.innerHTML = '<a id="inner" href="http://other.example/shadow.html" style="display:block">inner</a>' +
                 '<p><slot></slot></p>';
</script></body></html>)html";
// In-site pages that leave by script `delay` ms after they start, while still loading: one keeps
// an image loading (it never arrives), the other's body arrives slowly. Each counts its tries.
const char* const kLeaveLater = R"html(<html><head><title>leaving</title>
<script>
var delay = +new URLSearchParams(location.search).get('delay'), tries = 0;
setTimeout(function() { tries++; location = 'http://other.example/later-' + delay + '.html'; }, delay);
</script></head><body style="margin:0;font:12px sans-serif">leaving
<img src="never.png">
</body></html>)html";
const char* const kInSite = R"html(<html><head><title>insite</title></head>
<body style="margin:0;font:12px sans-serif">
<a id="inside" href="leaving.html">inside</a>
<script>document.getElementById('inside').href = new URLSearchParams(location.search).get('to');</script>
</body></html>)html";

// What a page can keep in the program's own process: 32 MB more every 100 ms, up to 3 GB.
const char* const kBlobs = R"html(<html><head><title>blobs</title></head><body><script>
var keep = [];
setInterval(function() { if (keep.length < 96) keep.push(new Blob([new Uint8Array(32 << 20).fill(7)])); }, 100);
</script></body></html>)html";
const char* const kIndexedDB = R"html(<html><head><title>indexeddb</title></head><body><script>
var open = indexedDB.open('store', 1), n = 0;
open.onupgradeneeded = function() { open.result.createObjectStore('s'); };
open.onsuccess = function() {
  var db = open.result;
  setInterval(function() {
    if (n < 96) db.transaction('s', 'readwrite').objectStore('s').put(new Uint8Array(32 << 20).fill(7), n++);
  }, 100);
};
</script></body></html>)html";
const char* const kCacheStorage = R"html(<html><head><title>cachestorage</title></head><body><script>
var n = 0;
caches.open('c').then(function(cache) {
  setInterval(function() {
    if (n < 96) cache.put('/kept' + n++, new Response(new Uint8Array(32 << 20).fill(7)));
  }, 100);
});
</script></body></html>)html";

// 100,000 console lines of every level, as fast as the page can write them; then its title says
// so (its change comes after the lines).
const char* const kConsole = R"html(<html><head><title>console</title></head><body><p>console</p>
<script>var n = 0, pad = 'x'.repeat(200);
var flood = setInterval(function() {
  if (n >= 100000) {
    clearInterval(flood);
    document.title = 'console ' + n;
    return;
  }
  for (var i = 0; i < 500; ++i) {
    ++n;
    switch (n % 5) {
      case 1: console.log('flood ' + n + ' ' + pad); break;
      case 2: console.error('flood ' + n, {n: n}); break;
      case 3: console.warn('flood ' + n); break;
      case 4: console.info('flood ' + n); break;
      default: console.debug('flood ' + n); break;
    }
  }
}, 1);</script></body></html>)html";

// While it lives, the process's stdout and stderr go to a file (the engine's threads write there
// too).
class TTerminalToFile {
public:
  explicit TTerminalToFile(const std::string& name) {
    std::fflush(stdout);
    std::fflush(stderr);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    FOut = dup(1);
    FErr = dup(2);
    dup2(fd, 1);
    dup2(fd, 2);
    ::close(fd);
  }
  ~TTerminalToFile() {
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(FOut, 1);
    dup2(FErr, 2);
    ::close(FOut);
    ::close(FErr);
  }

private:
  int FOut, FErr;
};

int64_t OwnResident() {
  long long size = 0, resident = 0;
  const std::string statm = ReadAll("/proc/self/statm");
  return std::sscanf(statm.c_str(), "%lld %lld", &size, &resident) == 2 ? int64_t(resident) * sysconf(_SC_PAGESIZE)
                                                                         : int64_t(0);
}

std::string Fill(std::string text, const std::string& prefix, const std::string& host) {
  for (auto [key, value] : {std::pair<std::string, std::string>{"{P}", prefix}, {"{H}", host}})
    for (size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
  return text;
}

class BrowserTest : public D3DFakeTest {
protected:
  static void SetUpTestSuite() {
    // one folder per test program: ctest runs each test in a process of its own, side by side
    Root = std::string(KT_TEST_TMP) + "/browser-pages-" + std::to_string(getpid()) + "/";
    ForceDirectories(Root);
    Server = new TTestServer("http_server.py", {"--root", Root});
    const std::string prefix = "http://" + Server->HostPort() + kBase;
    ForceDirectories(Root + "kestruneinternal");
    ForceDirectories(Root + "elsewhere");
    WriteAll(Root + "kestruneinternal/index.asp", Fill(kIndex, prefix, Server->HostPort()));
    WriteAll(Root + "kestruneinternal/highscore.html", Fill(kHighscore, prefix, Server->HostPort()));
    WriteAll(Root + "elsewhere/page2.html", kPage2);
    WriteAll(Root + "kestruneinternal/hostile.html", kHostile);
    WriteAll(Root + "kestruneinternal/boxes.html", kBoxes);
    WriteAll(Root + "kestruneinternal/loop.html", kAlertLoop);
    WriteAll(Root + "kestruneinternal/grow.html", kGrow);
    WriteAll(Root + "kestruneinternal/noteloop.html", kNoteLoop);
    WriteAll(Root + "kestruneinternal/reloadloop.html", kReloadLoop);
    WriteAll(Root + "kestruneinternal/lure.html", kLure);
    WriteAll(Root + "kestruneinternal/forge.html", kForge);
    WriteAll(Root + "kestruneinternal/keys.html", kKeys);
    WriteAll(Root + "kestruneinternal/console.html", kConsole);
    WriteAll(Root + "kestruneinternal/shadow.html", kShadow);
    WriteAll(Root + "kestruneinternal/insite.html", kInSite);
    WriteAll(Root + "kestruneinternal/leaving.html", kLeaveLater);
    WriteAll(Root + "kestruneinternal/never.png.behave", "stall");
    // the same page, its body spread over 20 s
    WriteAll(Root + "kestruneinternal/leaving-slow.html", std::string(kLeaveLater) + std::string(4000, ' '));
    WriteAll(Root + "kestruneinternal/leaving-slow.html.slow", "20");
    WriteAll(Root + "kestruneinternal/blobs.html", kBlobs);
    WriteAll(Root + "kestruneinternal/indexeddb.html", kIndexedDB);
    WriteAll(Root + "kestruneinternal/cachestorage.html", kCacheStorage);
    ForceDirectories(Root + "growing");  // a server whose index page grows without end
    WriteAll(Root + "growing/index.asp", kGrow);
  }
  static void TearDownTestSuite() {
    delete Server;
    Server = nullptr;
    std::filesystem::remove_all(Root);
  }

  void SetUp() override {
    App();
    D3DFakeTest::SetUp();
    Dir = TestDir();
    UserDataDir = Dir;
    CommonDataDir = Dir;
    ResetEnvironment(GameEnvironment);
    ResetMenuServices();
    ResetSaveFailures();  // another test's failed save is not this run's
    MenuMessageHook = [this](QWidget*, const std::string& text) { Messages.push_back(text); };
    MenuAskYesNoHook = [](QWidget*, const std::string&, bool) { return false; };
    ErrorSolutionLookupHook = [](QWidget*, bool& armed) { armed = false; };
    SetShellOpenHook([this](const std::string& url) {
      Opened.push_back(url);
      return true;
    });
    HostsListApplied = true;  // keeps the loopback host
    GameEnvironment.InternalHost = Server->HostPort();
    GameEnvironment.InternalBase = kBase;
    GameEnvironment.Country = 3;
    Prefix = "http://" + Server->HostPort() + kBase;
  }
  void TearDown() override {
    Main.reset();
    Options.reset();
    SetShellOpenHook(nullptr);
    SetConnectedStateHook(nullptr);
    ResetMenuServices();
    HostsListApplied = false;
    UserDataDir.clear();
    ResetEnvironment(GameEnvironment);
    D3DFakeTest::TearDown();
  }

  // The main window as the start-up makes it, shown, with the index page loaded by the timer.
  void ShowWithIndexPage() {
    Main = std::make_unique<TfrmMain>(QStringList{});
    Options = std::make_unique<TfrmGameOptions>(Main->Direct3D());
    Main->SetOptionsWindow(Options.get());
    GameEnvironment.InternalHost = Server->HostPort();  // the options window loaded the defaults
    GameEnvironment.InternalBase = kBase;
    GameEnvironment.Country = 3;
    Main->show();
    ASSERT_TRUE(WaitFor([this] { return Main->LookupArmed; }));  // FormShow ran
    Main->Timer1->stop();  // the tests run its ticks themselves
    Main->Timer1Timer();
    ASSERT_TRUE(WaitFor([this] { return Main->BrowserShown && !Main->MainBrowser->Loading(); }));
    ASSERT_EQ(Url(), Prefix + "index.asp?id=3");
    ASSERT_EQ(Title(), "index");
    Spin(500);  // input reaches the page once its first frame is up
  }
  QWebEnginePage* Page() { return Main->MainBrowser->View()->page(); }
  std::string Url() { return Main->MainBrowser->CurrentURL(); }
  std::string Title() { return Page()->title().toStdString(); }
  // Runs a script in the page and returns its result.
  QVariant Script(const QString& code) {
    QVariant result;
    bool done = false;
    Page()->runJavaScript(code, [&](const QVariant& v) {
      result = v;
      done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return done; }));
    return result;
  }
  // A mouse click on the element, as a player makes it.
  void Click(const char* id, Qt::MouseButton button = Qt::LeftButton) {
    ClickOn(QString("document.getElementById('%1')").arg(id), button);
  }
  // The same on the element a script expression names.
  void ClickOn(const QString& element, Qt::MouseButton button = Qt::LeftButton) {
    const QString json = Script(QString("JSON.stringify((%1).getBoundingClientRect())").arg(element)).toString();
    const QJsonObject r = QJsonDocument::fromJson(json.toUtf8()).object();
    ASSERT_FALSE(r.isEmpty()) << element.toStdString();
    const QPointF at(r["left"].toDouble() + 3, r["top"].toDouble() + r["height"].toDouble() / 2);
    QWidget* target = Main->MainBrowser->View()->focusProxy();
    ASSERT_NE(target, nullptr);
    QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), button, button, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, target->mapToGlobal(at), button, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
  }
  // A key pressed and released on the view, as a player types it.
  // Waits until the page shown takes the pointer's events: a page reported loaded may drop the
  // first input while its first frame is not up on a busy machine. A move changes no focus.
  bool WaitUntilThePageTakesInput() {
    Script("window.inputSeen = 0; document.addEventListener('mousemove', function() { window.inputSeen = 1; })");
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; Script("window.inputSeen || 0").toInt() != 1; ++i) {
      if (timer.elapsed() > 60000) return false;  // hang guard
      QWidget* target = Main->MainBrowser->View()->focusProxy();
      if (target) {
        const QPointF at(2 + i % 5, 2);
        QMouseEvent move(QEvent::MouseMove, at, target->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
      }
      Spin(50);
    }
    return true;
  }
  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = Main->MainBrowser->View()->focusProxy();
    ASSERT_NE(target, nullptr);
    const QString text = key == Qt::Key_Return ? "\r" : key == Qt::Key_Space ? " " : key == Qt::Key_Tab ? "\t" : "";
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
  }
  bool LogContains(const std::string& text) { return GetLogText().find(text) != std::string::npos; }
  size_t LogCount(const std::string& text) {
    const std::string log = GetLogText();
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }
  // Shows one of the server's pages in the browser.
  void Load(const std::string& page, const std::string& title) {
    Main->MainBrowser->Navigate(Prefix + page);
    ASSERT_TRUE(WaitFor([&] { return Title() == title && !Main->MainBrowser->Loading(); })) << page;
  }
  // After the page's process ended: the logo, and the next tick brings the index page back.
  void ExpectLogoThenIndexAgain() {
    ASSERT_TRUE(WaitFor([this] { return !Main->BrowserShown; }));
    EXPECT_EQ(Main->MainBrowser->geometry(), QRect(0, 0, 0, 0));
    EXPECT_EQ(Main->imgLogo->pixmap().toImage(), LoadMenuPicture("menu_logo.jpg").toImage());
    Main->Timer1Timer();
    ASSERT_TRUE(WaitFor([this] { return Main->BrowserShown && Title() == "index"; }));
    EXPECT_TRUE(Opened.empty());
  }
  void Screenshot(const std::string& name) {
    const std::string dir = std::string(KT_BINARY_DIR) + "/test-frames/";
    ForceDirectories(dir);
    EXPECT_TRUE(Main->grab().save(QString::fromStdString(dir + name))) << name;
  }

  static std::string Root;
  static TTestServer* Server;
  std::string Dir, Prefix;
  std::vector<std::string> Messages, Opened;
  std::unique_ptr<TfrmMain> Main;
  std::unique_ptr<TfrmGameOptions> Options;
};
std::string BrowserTest::Root;
TTestServer* BrowserTest::Server = nullptr;

TEST_F(BrowserTest, OtherHostsGoOutsideAndThePageStays) {
  ShowWithIndexPage();
  Screenshot("browser-main-window.png");
  Click("other");
  ASSERT_TRUE(WaitFor([this] { return !Opened.empty(); }));
  EXPECT_EQ(Opened, std::vector<std::string>{"http://other.example/x.html"});
  // a frame of the page from elsewhere just stays empty
  EXPECT_TRUE(LogContains("Browser: frame not shown: http://other.example/frame.html"));
  Spin(300);
  EXPECT_EQ(Url(), Prefix + "index.asp?id=3");
  EXPECT_EQ(Title(), "index");
  EXPECT_TRUE(Main->BrowserShown);

  // new windows, by link target and by script: outside, and no window is left over
  Opened.clear();
  Click("blank");
  ASSERT_TRUE(WaitFor([this] { return Opened.size() == 1; }));
  Click("open");
  ASSERT_TRUE(WaitFor([this] { return Opened.size() == 2; }));
  EXPECT_EQ(Opened, (std::vector<std::string>{"http://other.example/blank.html", "https://other.example/open.html"}));
  // a click on a link whose script opens another address: that is not the link's
  Click("elsewhere");
  Spin(1000);
  EXPECT_EQ(Opened.size(), 2u);
  EXPECT_TRUE(LogContains("not opened: https://other.example/elsewhere.html")) << GetLogText();
  EXPECT_EQ(Main->MainBrowser->findChildren<QWebEnginePage*>().size(), 1);
  EXPECT_EQ(Title(), "index");
}

TEST_F(BrowserTest, ScriptsOnTheirOwnOpenNothingOutsideButAClickDoes) {
  ShowWithIndexPage();
  Load("hostile.html", "hostile");
  Spin(10000);
  EXPECT_TRUE(Opened.empty());
  EXPECT_GE(Script("tries").toInt(), 24);  // each way tried again and again
  EXPECT_EQ(Url(), Prefix + "hostile.html");
  EXPECT_EQ(Title(), "hostile");
  // said once for the run, not once per try
  EXPECT_EQ(LogCount("without a click"), 1u) << GetLogText();

  // the player's click on a link still leaves, once, and the page stays
  Script("running = false");
  Click("other");
  ASSERT_TRUE(WaitFor([this] { return !Opened.empty(); }));
  Spin(500);
  EXPECT_EQ(Opened, std::vector<std::string>{"http://other.example/clicked.html"});
  EXPECT_EQ(Title(), "hostile");
  // the click is used up: a script after it gets nothing
  Script("running = true");
  Spin(1500);
  EXPECT_EQ(Opened.size(), 1u);
}

// Page scripts x (no click, a click on plain text, a click on a link) x (at once, 3 s later):
// only the click on the link leaves, at once, to that link's own address.
TEST_F(BrowserTest, OnlyAClickOnALinkLeavesAtOnceToThatLink) {
  ShowWithIndexPage();
  const std::string link = "http://other.example/link.html";
  for (const char* move : {"location", "open", "click", "submit", "own"}) {
    for (const char* click : {"", "text", "link"}) {
      for (const int delay : {0, 3000}) {
        SCOPED_TRACE(std::string(move) + ", click on " + (*click ? click : "nothing") + ", " +
                     std::to_string(delay) + " ms");
        Opened.clear();
        Load(std::string("lure.html?move=") + move + "&delay=" + std::to_string(delay) + "&on=" +
                 (*click ? "click" : "load"),
             "lure");
        ASSERT_TRUE(WaitUntilThePageTakesInput());
        if (*click) Click(click);
        ASSERT_TRUE(WaitFor([this] { return Script("done").toInt() == 1; }, delay + 15000));
        Spin(1000);  // what the move starts
        EXPECT_EQ(Opened, std::string(click) == "link" ? std::vector<std::string>{link} : std::vector<std::string>{});
        EXPECT_EQ(Url().substr(0, (Prefix + "lure.html").size()), Prefix + "lure.html");
      }
    }
  }
}

// A key makes a trusted click on what has the focus: it leaves only from what the player moved
// the focus to (Tab, Shift+Tab, a click on it), never from what the page's script focused.
TEST_F(BrowserTest, AKeyLeavesOnlyFromWhatThePlayerFocused) {
  struct Case {
    const char* name;
    const char* steal;                       // what the page keeps focused; "" nothing
    std::function<void()> keys;           // the player's pointer and keys
    const char* clicked;                     // the element the keys click
    std::vector<std::string> opened;
  };
  const auto enter = [this] { Key(Qt::Key_Return); };
  const auto space = [this] { Key(Qt::Key_Space); };
  const Case cases[] = {
      {"page-focused link, Enter", "hidden", enter, "hidden", {}},
      {"page-focused link, a click on text, Enter", "hidden",
       [&] { Click("text"); Spin(300); enter(); }, "hidden", {}},
      {"page-focused button, a click on text, Space", "hiddenbutton",
       [&] { Click("text"); Spin(300); space(); }, "hiddenbutton", {}},
      {"page-focused button, Enter", "hiddenbutton", enter, "hiddenbutton", {}},
      {"a link reached by Tab, Enter", "",
       [&] { Click("text"); Key(Qt::Key_Tab); enter(); }, "first",
       {"http://other.example/first.html"}},
      {"a link reached by Shift+Tab, Enter", "",
       [&] { Key(Qt::Key_Backtab, Qt::ShiftModifier); enter(); }, "last",
       {"http://other.example/last.html"}},
      {"a button reached by Tab, Space", "",
       [&] { Click("last"); Spin(300); Key(Qt::Key_Backtab, Qt::ShiftModifier); space(); },
       "submit", {"http://other.example/last.html", "http://other.example/form.html?q=1"}},
      {"a link clicked, then Enter on it", "",
       [&] { Click("first"); Spin(300); enter(); }, "first",
       {"http://other.example/first.html", "http://other.example/first.html"}},
      {"Enter in a field the player clicked", "",
       [&] { Click("field"); Spin(300); enter(); }, "submit",
       {"http://other.example/form.html?q=1"}},
  };
  ShowWithIndexPage();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Opened.clear();
    Load(std::string("keys.html?steal=") + c.steal, "keys");
    Main->MainBrowser->View()->setFocus();
    ASSERT_TRUE(WaitUntilThePageTakesInput());
    Spin(300);  // the page's script has focused its element meanwhile
    c.keys();
    ASSERT_TRUE(WaitFor([&] { return Script(QString("clicks.%1 || 0").arg(c.clicked)).toInt() > 0; }))
        << Script("JSON.stringify(clicks)").toString().toStdString();
    if (c.opened.empty()) Spin(1000);  // what the click starts
    else ASSERT_TRUE(WaitFor([&] { return Opened.size() >= c.opened.size(); }));
    EXPECT_EQ(Opened, c.opened);
    EXPECT_EQ(Title(), "keys");
  }
  EXPECT_TRUE(LogContains("without a click; not opened: http://other.example/hidden")) << GetLogText();
}

// What a page's script forges is not the player's click: it cannot reach our click script, its
// globals or its report, nor make a click count.
TEST_F(BrowserTest, AForgedClickDoesNotLeave) {
  ShowWithIndexPage();
  Opened.clear();
  Load("forge.html", "forge");
  EXPECT_EQ(Script("seen.join()").toString().toStdString(), "undefined,undefined,undefined");
  Click("text");  // the player's click, on plain text: the page forges the rest
  ASSERT_TRUE(WaitFor([this] { return LogContains("not opened: http://other.example/forged.html"); }))
      << GetLogText();
  Spin(1000);
  EXPECT_TRUE(Opened.empty());
  EXPECT_EQ(Title(), "forge");
  // the form's own button, clicked by the player, sends the form outside
  Click("submit");
  ASSERT_TRUE(WaitFor([this] { return !Opened.empty(); }));
  EXPECT_EQ(Opened, std::vector<std::string>{"http://other.example/forged-form.html?"});
}

// The click's report lets out one navigation, to the link's address, within its window: not the
// page's own move to that address seconds later once it cancelled the link's navigation, not a
// second move after the click's own.
TEST_F(BrowserTest, AClicksReportLetsOutOneNavigationWithinItsWindow) {
  const std::string link = "http://other.example/link.html";
  struct Case {
    const char* query;
    std::vector<std::string> opened;
  } const cases[] = {
      {"cancel=1&delay=3000", {}},        // the page goes to the link itself, 3 s later
      {"cancel=1&delay=0", {link}},       // at once: the click's own
      {"delay=3000", {link}},             // the link's own navigation, then the page's: used up
      {"delay=0", {link}},                // both at once: one of them
  };
  ShowWithIndexPage();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    Opened.clear();
    Load(std::string("lure.html?move=own&on=click&") + c.query, "lure");
    Spin(200);
    Click("link");
    ASSERT_TRUE(WaitFor([this] { return Script("done").toInt() == 1; }, 20000));
    Spin(1000);  // what the move starts
    EXPECT_EQ(Opened, c.opened);
  }
}

// A click on an in-site link lets out the navigation it started, not a later move of the page it
// loads while that page still loads (an image that never comes, a body that comes slowly).
TEST_F(BrowserTest, AnInSiteClickLetsNothingOutLater) {
  ShowWithIndexPage();
  for (const char* to : {"leaving.html?delay=3000", "leaving-slow.html?delay=3000"}) {
    SCOPED_TRACE(to);
    Opened.clear();
    Load(std::string("insite.html?to=") + to, "insite");
    Click("inside");
    ASSERT_TRUE(WaitFor([this] { return Title() == "leaving"; }));
    ASSERT_TRUE(Main->MainBrowser->Loading());
    ASSERT_TRUE(WaitFor([this] { return Script("tries").toInt() == 1; }));
    Spin(1000);  // what the move starts
    EXPECT_TRUE(Opened.empty());
    EXPECT_EQ(Title(), "leaving");
  }
  EXPECT_TRUE(LogContains("without a click; not opened: http://other.example/later-3000.html")) << GetLogText();
}

// The player's click on a link inside a shadow root of the page, or in a slot of one, leaves.
TEST_F(BrowserTest, AClickOnALinkInAShadowRootLeaves) {
  ShowWithIndexPage();
  Load("shadow.html", "shadow");
  ClickOn("document.getElementById('host').shadowRoot.getElementById('inner')");
  ASSERT_TRUE(WaitFor([this] { return Opened.size() == 1; }));
  Click("slotted");
  ASSERT_TRUE(WaitFor([this] { return Opened.size() == 2; }));
  EXPECT_EQ(Opened, (std::vector<std::string>{"http://other.example/shadow.html", "http://other.example/slotted.html"}));
  EXPECT_EQ(Title(), "shadow");
}

// A page writing to its console without end: one note for the run, nothing on the terminal, and
// the program's memory stays where it was.
TEST_F(BrowserTest, APageConsoleFloodMakesOneNoteAndNothingOnTheTerminal) {
  ShowWithIndexPage();
  const int64_t before = OwnResident();
  const std::string terminal = Dir + "terminal.txt";
  {
    TTerminalToFile capture(terminal);  // our stdout and stderr, and so the engine's
    Main->MainBrowser->Navigate(Prefix + "console.html");
    // the lines reach us one by one, then the title (hang guard: 10 min)
    EXPECT_TRUE(WaitFor([this] { return Title() == "console 100000"; }, 600000)) << Title();
  }
  const int64_t after = OwnResident();
  const std::string printed = ReadAll(terminal);
  std::printf("console: %lld MB before, %lld MB after\n", (long long)(before >> 20), (long long)(after >> 20));
  EXPECT_LT(printed.size(), 1024u) << printed.substr(0, 2000);
  EXPECT_EQ(printed.find("flood"), std::string::npos);
  EXPECT_EQ(LogCount("Browser: the page's console is not shown"), 1u) << GetLogText();
  EXPECT_TRUE(LogContains("Browser: the page's console is not shown (\"flood 1 xxx")) << GetLogText();
  EXPECT_LT(GetLogText().size(), 16u * 1024);
  EXPECT_LT(after - before, int64_t(200) << 20);
  EXPECT_TRUE(Opened.empty());
}

// What pages store lives in the program's own process (blobs, IndexedDB, CacheStorage of the
// off-the-record profile): past its bound the page goes with all it stored, and the logo shows.
TEST_F(BrowserTest, WhatAPageStoresStaysUnderTheProgramsBound) {
  ShowWithIndexPage();
  const int64_t bound = int64_t(256) << 20;
  Main->MainBrowser->MaxOwnGrowthBytes = bound;
  auto own = [] {
    long long size = 0, resident = 0;
    const std::string statm = ReadAll("/proc/self/statm");
    return std::sscanf(statm.c_str(), "%lld %lld", &size, &resident) == 2 ? int64_t(resident) * sysconf(_SC_PAGESIZE) : int64_t(0);
  };
  for (const char* page : {"blobs", "indexeddb", "cachestorage"}) {
    SCOPED_TRACE(page);
    ClearLog();
    Load(std::string(page) + ".html", page);
    const int64_t idle = Main->MainBrowser->OwnIdleBytes();
    ASSERT_GT(idle, 0);
    // sampled every half second until the page is dropped (a hang guard of 120 s: a loaded
    // machine writes slowly)
    int64_t most = 0;
    QElapsedTimer clock;
    clock.start();
    while (Main->BrowserShown && clock.elapsed() < 120000) {
      most = std::max(most, own());
      Spin(500);
    }
    ASSERT_FALSE(Main->BrowserShown) << "not dropped; " << (most >> 20) << " MB";
    // one tick of the watch late at most: 32 MB every 100 ms
    EXPECT_LT(most - idle, bound + (int64_t(256) << 20)) << (most >> 20) << " MB, idle " << (idle >> 20) << " MB";
    EXPECT_TRUE(LogContains("the page and all it stored are dropped: " + Prefix + page + ".html")) << GetLogText();
    EXPECT_TRUE(LogContains("Browser: could not load " + Prefix + page + ".html: what it stored was dropped"));
    EXPECT_EQ(Main->imgLogo->pixmap().toImage(), LoadMenuPicture("menu_logo.jpg").toImage());
    // the engine frees what the profile held a little later on a loaded machine
    WaitFor([&] { return own() - idle < bound * 3 / 4; }, 10000);
    const int64_t after = own();
    std::printf("%s: idle %lld MB, most %lld MB, after the drop %lld MB\n", page, (long long)(idle >> 20),
                (long long)(most >> 20), (long long)(after >> 20));
    EXPECT_LT(after - idle, bound * 3 / 4);  // what it stored went with its profile
    // a fresh profile: the index page comes back, and the page's storage is gone
    Main->Timer1Timer();
    ASSERT_TRUE(WaitFor([this] { return Main->BrowserShown && Title() == "index"; }));
    EXPECT_EQ(Script("typeof keep").toString().toStdString(), "undefined");
  }
  EXPECT_TRUE(Opened.empty());
}

// A page ended twice is not loaded again: the logo stays, said once; another address loads.
TEST_F(BrowserTest, APageEndedTwiceIsNotLoadedAgain) {
  ShowWithIndexPage();
  Main->MainBrowser->MaxRendererBytes = int64_t(300) << 20;
  GameEnvironment.InternalBase = "/growing/";
  const std::string growing = "http://" + Server->HostPort() + "/growing/index.asp?id=3";
  Main->NavigatePending = true;  // as if the server's index page had changed
  for (int end = 1; end <= 2; ++end) {
    Main->Timer1Timer();
    ASSERT_TRUE(WaitFor([&] { return LogCount("it is ended: " + growing) == size_t(end); }, 60000)) << GetLogText();
    ASSERT_TRUE(WaitFor([this] { return !Main->BrowserShown && !Main->MainBrowser->Loading(); }));
  }
  for (int tick = 0; tick < 3; ++tick) {
    Main->Timer1Timer();
    EXPECT_FALSE(Main->MainBrowser->Loading());
    Spin(500);
  }
  EXPECT_FALSE(Main->BrowserShown);
  EXPECT_EQ(Main->imgLogo->pixmap().toImage(), LoadMenuPicture("menu_logo.jpg").toImage());
  EXPECT_EQ(LogCount("it is ended: " + growing), 2u);
  EXPECT_EQ(LogCount("Browser: the page was ended 2 times; it is not loaded again in this run: " + growing), 1u)
      << GetLogText();
  // another index page of the server
  GameEnvironment.InternalBase = kBase;
  Main->Timer1Timer();
  ASSERT_TRUE(WaitFor([this] { return Main->BrowserShown && Title() == "index"; }));
}

TEST_F(BrowserTest, PageBoxesGetTheirDefaultAnswerWithoutABox) {
  ShowWithIndexPage();
  Load("boxes.html", "answers false null");
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(LogCount("Browser: boxes of the page are not shown"), 1u);
  // the page asks whether it may be left (it had a click): it may
  Click("text");
  Spin(300);
  Load("highscore.html", "highscore");
  EXPECT_TRUE(LogContains("Browser: the page may be left, its unload handler is not asked: " + Prefix + "boxes.html"));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(BrowserTest, APageLoopingBoxesDoesNotHoldCloseOrTheSignal) {
  for (const bool bySignal : {false, true}) {
    SCOPED_TRACE(bySignal ? "SIGTERM" : "File > Close");
    ShowWithIndexPage();
    Main->MainBrowser->Navigate(Prefix + "loop.html");
    ASSERT_TRUE(WaitFor([this] { return LogContains("(alert \"again\")"); }));
    Spin(300);  // the menu goes on meanwhile
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    if (bySignal) {
      InstallQuitSignals();
      SetQuitSignalsWindow(Main.get());
      raise(SIGTERM);
      EXPECT_TRUE(WaitFor([this] { return !Main->isVisible(); }));
      RemoveQuitSignals();
    } else {
      Main->actClose->trigger();
      EXPECT_FALSE(Main->isVisible());
    }
    Main.reset();  // the page's process is still busy: nothing waits for it
    Options.reset();
    ClearLog();
  }
}

// A page that makes notes without end: one note for the run, the rest only counted at its end.
TEST_F(BrowserTest, AnEndlessNoteLoopMakesOneNoteAndACountAtTheEnd) {
  ShowWithIndexPage();
  Load("noteloop.html", "noteloop");
  ASSERT_TRUE(WaitFor([this] { return Script("n").toInt() >= 300; }));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(LogCount("Browser: boxes of the page are not shown"), 1u) << GetLogText();
  EXPECT_TRUE(LogContains("(alert \"note 1\"): " + Prefix + "noteloop.html?n=1 (said once for the run)"));
  const int made = Script("n").toInt();
  EXPECT_LT(GetLogText().size(), 64u * 1024);
  Main.reset();  // the run's end
  Options.reset();
  const std::vector<std::string> lines = FileLines(LogName);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.back(), "<*** End ***>");
  unsigned long leftOut = 0;
  ASSERT_EQ(std::sscanf(lines[lines.size() - 2].c_str(), "* Note: %lu further page notes were left out", &leftOut), 1)
      << lines[lines.size() - 2];
  EXPECT_GE(leftOut, unsigned(made - 1));
}

// Under its own cap the run's log stays, with a page that loads itself again and again (a line
// each time) on top of the boxes; past the cap the loop goes on and writes nothing.
TEST_F(BrowserTest, TheRunsLogStaysUnderItsCapWhileAPageLoopsOnAndOn) {
  struct TLimits {
    TLimits() { SetLogRunLimits(48 * 1024, 96 * 1024); }
    ~TLimits() { SetLogRunLimits(1u << 20, 2u << 20); }
  } limits;
  // the loads the page counted, from its title; -1 while it has none
  const auto loads = [this] {
    const std::string title = Title(), head = "reloadloop ";
    return title.rfind(head, 0) == 0 ? std::atoi(title.c_str() + head.size()) : -1;
  };
  ShowWithIndexPage();
  Main->MainBrowser->Navigate(Prefix + "reloadloop.html");
  const char* const capLine =
      "* Warning: This run's log has reached 48 KB: from here on only its warnings and errors are written";
  ASSERT_TRUE(WaitFor([&] { return LogContains(capLine); }, 60000)) << GetLogText().size();
  int loadsAtCap = -1;
  ASSERT_TRUE(WaitFor([&] { return (loadsAtCap = loads()) > 0; }));
  const size_t sizeAtCap = GetLogText().size();
  ASSERT_TRUE(WaitFor([&] { return loads() > loadsAtCap + 20; }, 60000));
  EXPECT_EQ(GetLogText().size(), sizeAtCap);  // nothing of the loop after the cap
  EXPECT_EQ(LogCount("Browser: boxes of the page are not shown"), 1u);
  Main.reset();
  Options.reset();
  const std::string log = ReadAll(LogName);
  EXPECT_LE(log.size(), 48u * 1024 + 512);
  const std::vector<std::string> lines = FileLines(LogName);
  const auto cap = std::find(lines.begin(), lines.end(), capLine);
  ASSERT_NE(cap, lines.end());
  EXPECT_EQ(std::count(lines.begin(), lines.end(), capLine), 1);
  ASSERT_GE(lines.end() - cap, 3);
  EXPECT_EQ(lines.back(), "<*** End ***>");
  EXPECT_NE(lines[lines.size() - 2].find("further page notes were left out"), std::string::npos);
  for (auto line = cap + 1; line < lines.end() - 2; ++line)
    EXPECT_TRUE(line->rfind("* Warning: ", 0) == 0 || line->rfind("* Error: ", 0) == 0 || line->rfind("* Msg ", 0) == 0)
        << *line;
}

TEST_F(BrowserTest, ARendererKilledFromOutsideLeavesTheLogo) {
  ShowWithIndexPage();
  const qint64 pid = Page()->renderProcessPid();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid_t(pid), SIGKILL), 0);
  ExpectLogoThenIndexAgain();
  EXPECT_TRUE(LogContains("Browser: could not load " + Prefix + "index.asp?id=3: its process was killed"))
      << GetLogText();
}

TEST_F(BrowserTest, ARendererPastItsMemoryLimitIsEnded) {
  ShowWithIndexPage();
  // the script heap limit reaches the page's script engine (without it: 4 GB)
  EXPECT_LT(Script("performance.memory.jsHeapSizeLimit").toDouble(), double(1 << 30));

  Main->MainBrowser->MaxRendererBytes = int64_t(400) << 20;
  Load("grow.html", "grow");
  ExpectLogoThenIndexAgain();
  EXPECT_TRUE(LogContains("(the limit is 400 MB); it is ended: " + Prefix + "grow.html")) << GetLogText();
  EXPECT_EQ(LogCount("Browser: could not load"), 1u) << GetLogText();  // the load it took along: no line
  EXPECT_TRUE(LogContains("Browser: could not load " + Prefix + "grow.html: its process was ended for its memory"));
}

TEST_F(BrowserTest, ThePrefixAnywhereInTheAddressStaysInside) {
  ShowWithIndexPage();
  Click("query");
  ASSERT_TRUE(WaitFor([this] { return Title() == "page2"; }));
  EXPECT_EQ(Url(), "http://" + Server->HostPort() + "/elsewhere/page2.html?back=" + Prefix);
  EXPECT_TRUE(Opened.empty());
  EXPECT_TRUE(Main->BrowserShown);
}

TEST_F(BrowserTest, OnlyWebAddressesEverReachTheExternalBrowser) {
  ShowWithIndexPage();
  for (const char* id : {"file", "js", "custom", "blankfile"}) Click(id);
  const std::string refused = "Refused to open an address that is not a web page: ";
  ASSERT_TRUE(WaitFor([&] { return LogContains(refused + "kestrune-game://y"); }));
  ASSERT_TRUE(WaitFor([&] { return LogContains(refused + "kestrune-game://x"); }));
  Spin(500);
  EXPECT_TRUE(Opened.empty());
  EXPECT_EQ(Url(), Prefix + "index.asp?id=3");
  EXPECT_TRUE(Main->BrowserShown);
}

TEST_F(BrowserTest, TheHighscorePageReturnsToTheIndexButACancelledLoadDoesNot) {
  ShowWithIndexPage();
  Main->actGotoHighscore->trigger();
  ASSERT_TRUE(WaitFor([this] { return Main->NavigatePending; }));
  EXPECT_EQ(Url(), Prefix + "highscore.html");
  EXPECT_EQ(Main->MainBrowser->LastURL(), Prefix + "highscore.html");

  // a link that goes outside: the engine reports the refused load as finished, which is no
  // completion of the highscore page
  Main->NavigatePending = false;
  Click("other");
  ASSERT_TRUE(WaitFor([this] { return !Opened.empty(); }));
  Spin(500);
  EXPECT_FALSE(Main->NavigatePending);
  EXPECT_TRUE(Main->BrowserShown);
  EXPECT_EQ(Title(), "highscore");

  // the next tick returns to the index page
  Main->NavigatePending = true;
  Main->Timer1Timer();
  ASSERT_TRUE(WaitFor([this] { return Title() == "index"; }));
  EXPECT_FALSE(Main->NavigatePending);
  EXPECT_EQ(Main->MainBrowser->LastURL(), Prefix + "index.asp?id=3");
}

TEST_F(BrowserTest, SolutionPagesGoIntoTheBrowserWhileItShows) {
  ShowWithIndexPage();
  Main->OpenPage(Prefix + "highscore.html");  // what the error-solution lookup calls
  ASSERT_TRUE(WaitFor([this] { return Title() == "highscore"; }));
  EXPECT_TRUE(Opened.empty());
  Main->ShowBrowser(false);
  Main->OpenPage(Prefix + "errors/x.html");
  Main->OpenPage("file:///etc/hostname");
  EXPECT_EQ(Opened, std::vector<std::string>{Prefix + "errors/x.html"});
  EXPECT_TRUE(LogContains("Refused to open an address that is not a web page: file:///etc/hostname"));
}

// Request threads read the environment while the engine starts on the GUI thread (the hosts list
// is fetched meanwhile): the engine's start must not grow the environment, which would move its
// array away under a reader and crash it.
TEST_F(BrowserTest, TheEngineStartLeavesTheEnvironmentInPlace) {
  char** const before = environ;
  size_t count = 0;
  for (char** e = environ; *e; ++e) ++count;
  ShowWithIndexPage();
  EXPECT_EQ(environ, before);
  size_t after = 0;
  for (char** e = environ; *e; ++e) ++after;
  EXPECT_EQ(after, count);
}

TEST_F(BrowserTest, RightClickOpensNoMenu) {
  ShowWithIndexPage();
  Click("other", Qt::RightButton);
  ASSERT_TRUE(WaitFor([this] { return Title() == "context"; }));  // the page saw the click
  Spin(300);
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  for (QWidget* w : QApplication::topLevelWidgets())
    EXPECT_FALSE(qobject_cast<QMenu*>(w) && w->isVisible());
  EXPECT_TRUE(Opened.empty());
}

TEST_F(BrowserTest, APageThatDoesNotLoadLeavesTheLogo) {
  const QImage logo = LoadMenuPicture("menu_logo.jpg").toImage();
  struct Case {
    std::string host, base, log;
  };
  const Case cases[] = {
      {"127.0.0.1:" + std::to_string(UnusedLoopbackPort()), kBase, "Browser: could not load "},  // refused
      {Server->HostPort(), "/nothing/", "Browser: could not load "},                            // 404
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host + c.base);
    Main = std::make_unique<TfrmMain>(QStringList{});
    Main->show();
    ASSERT_TRUE(WaitFor([this] { return Main->LookupArmed; }));
    Main->Timer1->stop();
    GameEnvironment.InternalHost = c.host;
    GameEnvironment.InternalBase = c.base;
    Main->Timer1Timer();
    ASSERT_TRUE(Main->MainBrowser->Loading());
    ASSERT_TRUE(WaitFor([this] { return !Main->MainBrowser->Loading(); }));
    Spin(200);
    EXPECT_FALSE(Main->BrowserShown);
    EXPECT_EQ(Main->MainBrowser->geometry(), QRect(0, 0, 0, 0));
    EXPECT_EQ(Main->imgLogo->pixmap().toImage(), logo);
    EXPECT_TRUE(LogContains(c.log + "http://" + c.host + c.base + "index.asp?id=3"));
    // the next tick asks again, and the same failure is not logged twice
    Main->Timer1Timer();
    ASSERT_TRUE(WaitFor([this] { return !Main->MainBrowser->Loading(); }));
    const std::string log = GetLogText();
    EXPECT_EQ(log.find(c.log), log.rfind(c.log));
    const std::string asked = "Browser: http://" + c.host + c.base + "index.asp?id=3";
    EXPECT_EQ(log.find(asked), log.rfind(asked));
    Main.reset();
    ClearLog();
  }
  EXPECT_TRUE(Opened.empty());
}

TEST_F(BrowserTest, AsRootWithTheSandboxOnTheBrowserStaysOff) {
  if (!RunningAsRoot()) GTEST_SKIP() << "only root is refused by the engine";
  const std::string saved = getenv("QTWEBENGINE_DISABLE_SANDBOX") ? getenv("QTWEBENGINE_DISABLE_SANDBOX") : "";
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "0", 1);
  {
    TBrowserArea area(nullptr);
    area.Navigate(Prefix + "index.asp");  // the engine would end the process here
    area.Navigate(Prefix + "index.asp");
    EXPECT_EQ(area.View(), nullptr);
    EXPECT_FALSE(area.Loading());
  }
  setenv("QTWEBENGINE_DISABLE_SANDBOX", saved.c_str(), 1);
  const std::string log = GetLogText();
  const std::string line = "Browser: the web engine does not run as root";
  EXPECT_NE(log.find(line), std::string::npos);
  EXPECT_EQ(log.find(line), log.rfind(line));  // said once
}

// A game with the real display layer (SDL offscreen, software GL), started from the menu while
// the page shows; afterwards the page still works.
class BrowserGameTest : public BrowserTest {
protected:
  void SetUp() override {
    BrowserTest::SetUp();
    SetD3D8Runtime(nullptr);  // the real runtime
  }
};

TEST_F(BrowserGameTest, AGameRunsWhileAPageShowsAndThePageWorksAfter) {
  ShowWithIndexPage();
  GameEnvironment.DisplayMode = dmWindow;
  Main->UpdateMenuState();
  ASSERT_EQ(Main->MenuState, msReady);
  int64_t passes = 0;
  bool played = false;
  std::array<uint8_t, 256> keys{};
  GameWindowCreatedHook = [&](TfrmGame& game) {
    auto idle = game.OnIdle;
    game.Clock = [&passes] { return uint32_t(1000 + 20 * passes); };
    game.ReadKeys = [&keys](uint8_t out[256]) {
      for (int i = 0; i < 256; ++i) out[i] = keys[size_t(i)];
    };
    // Space through the loading screen, a moment on the title, then Esc out (a key goes down
    // in one pass and up in the next)
    game.OnIdle = [idle, &passes, &played, &keys, &game] {
      idle();
      ++passes;
      keys.fill(0);
      const uint8_t down = passes % 2 ? 0x80 : 0;
      switch (game.Logic->GameState) {
        case gsLoading: keys[57] = down; break;
        case gsTitle:
          played = true;
          if (passes > 200) keys[1] = down;
          break;
        default: keys[1] = down; break;
      }
      if (passes > 20000) {
        ADD_FAILURE() << "the game did not end; state " << int(game.Logic->GameState);
        game.Close();
      }
    };
  };
  Main->actPlayNew->trigger();
  EXPECT_TRUE(played);
  EXPECT_LT(passes, 20000);
  EXPECT_TRUE(Messages.empty());
  EXPECT_TRUE(Main->isEnabled());
  // The menu's timer runs again after a game. Its next tick would take the highscore page
  // below back to the index page, whenever a busy machine lets it come: the test runs the ticks.
  EXPECT_TRUE(Main->Timer1->isActive());
  Main->Timer1->stop();
  // the page is drawn again: its blue block is in the window's picture
  const auto drawn = [this] {
    const QImage picture = Main->MainBrowser->grab().toImage();
    for (int y = 0; y < picture.height(); y += 2)
      for (int x = 0; x < picture.width(); x += 2)
        if (picture.pixel(x, y) == qRgb(0x33, 0x66, 0xcc)) return true;
    return false;
  };
  ASSERT_TRUE(WaitFor(drawn, 120000));
  Screenshot("browser-after-game.png");

  // the page still answers: a link inside, one that leaves, and the tick after the highscore page
  Click("highscore");
  ASSERT_TRUE(WaitFor([this] { return Title() == "highscore" && !Main->MainBrowser->Loading(); }));
  Click("other");
  ASSERT_TRUE(WaitFor([this] { return !Opened.empty(); }));
  EXPECT_EQ(Opened, std::vector<std::string>{"http://other.example/ranking.html"});
  EXPECT_EQ(Title(), "highscore");
  Main->Timer1Timer();
  ASSERT_TRUE(WaitFor([this] { return Title() == "index" && !Main->MainBrowser->Loading(); }));
  EXPECT_EQ(Url(), Prefix + "index.asp?id=3");
}

}  // namespace
