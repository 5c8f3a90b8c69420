// The error report's result boxes on a real X server with a window manager (openbox), as a person
// sees them: after a real click on the send button, the box must reach the screen, not only its
// own window. Checked on captures of the root window. Starts an Xvfb and an openbox of its own;
// skipped without them.
#include <SDL.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/SysUtils.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "shell/ErrorSolutions.h"
#include "shell/FocusReturn.h"
#include "shell/MenuServices.h"
#include "shell/frmMain.h"
#include "shell/frmOptions.h"
#include "shell/frmPleaseWait.h"
#include "support/TestServers.h"
#include "support/TestSupport.h"
#include "support/Xvfb.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>  // last: its macros (None, Bool, Status) reach no other header

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;

// openbox on the test's display, ended with the test.
class TWindowManager {
public:
  bool Start(const std::string& display) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
      if (std::string(*e).rfind("DISPLAY=", 0) != 0) env.push_back(*e);
    env.push_back("DISPLAY=" + display);
    std::vector<char*> e;
    for (std::string& s : env) e.push_back(s.data());
    e.push_back(nullptr);
    const char* argv[] = {"openbox", "--sm-disable", nullptr};
    if (posix_spawnp(&Pid, "openbox", nullptr, nullptr, const_cast<char**>(argv), e.data()) != 0) Pid = 0;
    return Pid > 0;
  }
  ~TWindowManager() {
    if (Pid > 0) {
      kill(Pid, SIGTERM);
      waitpid(Pid, nullptr, 0);
    }
  }

private:
  pid_t Pid = 0;
};

// A window manager has taken the screen: it names its check window on the root.
bool WindowManagerRunning(Display* display) {
  const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  const bool found = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                                        &format, &count, &after, &data) == Success &&
                     data && count == 1;
  if (data) XFree(data);
  return found;
}

struct TArea {
  int X = 0, Y = 0, W = 0, H = 0;
};

// The window's place on the screen, from the X server (the window manager's frame moves it).
bool ScreenArea(Display* display, unsigned long window, TArea& area) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(display, window, &a) || a.map_state != IsViewable) return false;
  Window child = 0;
  if (!XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &area.X, &area.Y, &child))
    return false;
  area.W = a.width;
  area.H = a.height;
  return true;
}

// A capture of the w x h pixels at x, y of `drawable` (the root: what is on the screen; a window:
// what it holds) as 0xRRGGBB values; empty when it cannot be read.
std::vector<uint32_t> Capture(Display* display, unsigned long drawable, int x, int y, int w, int h) {
  std::vector<uint32_t> pixels;
  if (w <= 0 || h <= 0) return pixels;
  XImage* image = XGetImage(display, drawable, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), AllPlanes,
                            ZPixmap);
  if (!image) return pixels;
  pixels.reserve(static_cast<size_t>(w) * static_cast<size_t>(h));
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) pixels.push_back(static_cast<uint32_t>(XGetPixel(image, i, j) & 0xFFFFFF));
  XDestroyImage(image);
  return pixels;
}

// The share of `pixels` that are light (each channel at least 0xC0): a box's background and text
// area; a black rectangle has none.
double LightShare(const std::vector<uint32_t>& pixels) {
  if (pixels.empty()) return -1;
  size_t light = 0;
  for (uint32_t p : pixels)
    if (((p >> 16) & 0xFF) >= 0xC0 && ((p >> 8) & 0xFF) >= 0xC0 && (p & 0xFF) >= 0xC0) ++light;
  return static_cast<double>(light) / static_cast<double>(pixels.size());
}

// The share of `pixels` equal (within a few steps a channel) to the widget's own rendering: the
// screen shows the box itself, not what lay under it.
double SameShare(const std::vector<uint32_t>& pixels, QWidget* widget, int w, int h) {
  const QImage own = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
  if (pixels.empty() || own.width() < w || own.height() < h) return -1;
  size_t same = 0;
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) {
      const uint32_t p = pixels[static_cast<size_t>(j) * static_cast<size_t>(w) + static_cast<size_t>(i)];
      const QRgb q = own.pixel(i, j);
      if (std::abs(static_cast<int>((p >> 16) & 0xFF) - qRed(q)) <= 8 &&
          std::abs(static_cast<int>((p >> 8) & 0xFF) - qGreen(q)) <= 8 &&
          std::abs(static_cast<int>(p & 0xFF) - qBlue(q)) <= 8)
        ++same;
    }
  return static_cast<double>(same) / (static_cast<double>(w) * h);
}

// A real click (through the X server, as a person clicks) at the middle of `widget`.
void ClickWithThePointer(const std::string& display, QWidget* widget) {
  const QPoint p = widget->mapToGlobal(widget->rect().center());
  const std::string command = "DISPLAY=" + display + " xdotool mousemove " + std::to_string(p.x()) + " " +
                              std::to_string(p.y()) + " click 1 >/dev/null 2>&1";
  (void)std::system(command.c_str());
}

// An SMTP server of the test's own on loopback that greets only once `Open` is set, so the send
// waits behind the wait window until the window manager has put that window on the screen.
class TGatedSmtp {
public:
  TGatedSmtp() {
    Fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (Fd < 0 || bind(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(Fd, 4) != 0 ||
        getsockname(Fd, reinterpret_cast<sockaddr*>(&a), &n) != 0)
      return;
    Port = ntohs(a.sin_port);
    Thread = std::thread([this] { Serve(); });
  }
  ~TGatedSmtp() {
    Stop = true;
    if (Thread.joinable()) Thread.join();
    if (Fd >= 0) close(Fd);
  }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(Port); }
  std::atomic<bool> Open{false};
  std::atomic<int> Mails{0};  // messages taken
  int Port = 0;

private:
  void Serve() {
    while (!Stop) {
      pollfd p{Fd, POLLIN, 0};
      if (poll(&p, 1, 50) != 1) continue;
      const int c = accept(Fd, nullptr, nullptr);
      if (c < 0) continue;
      Converse(c);
      close(c);
    }
  }
  static void Say(int c, const std::string& line) {
    const std::string out = line + "\r\n";
    (void)send(c, out.data(), out.size(), MSG_NOSIGNAL);
  }
  void Converse(int c) {
    while (!Open && !Stop) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Say(c, "220 gate.test ready");
    std::string in;
    bool data = false;
    char buf[4096];
    while (!Stop) {
      pollfd p{c, POLLIN, 0};
      if (poll(&p, 1, 50) != 1) continue;
      const ssize_t r = recv(c, buf, sizeof buf, 0);
      if (r <= 0) return;
      in.append(buf, static_cast<size_t>(r));
      for (;;) {
        if (data) {
          const size_t end = in.find("\r\n.\r\n");
          if (end == std::string::npos) break;
          in.erase(0, end + 5);
          data = false;
          ++Mails;
          Say(c, "250 queued");
          continue;
        }
        const size_t end = in.find("\r\n");
        if (end == std::string::npos) break;
        std::string verb = in.substr(0, std::min<size_t>(4, end));
        for (char& ch : verb) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        in.erase(0, end + 2);
        if (verb == "DATA") {
          data = true;
          Say(c, "354 go on");
        } else if (verb == "QUIT") {
          Say(c, "221 bye");
          return;
        } else {
          Say(c, "250 ok");
        }
      }
    }
  }
  int Fd = -1;
  std::atomic<bool> Stop{false};
  std::thread Thread;
};

// What the test saw of one box.
struct TSeen {
  std::string Text;
  double ScreenLight = -1;  // light share of its area on the screen, at the end of the wait
  double WindowLight = -1;  // the same in a capture of its own window
  double ScreenSame = -1;   // share of its area on the screen that shows its own rendering
  bool Painted = false;
  bool Drawn = false;  // the screen showed it before the watchdog
  bool Mapped = false;  // viewable on the X server
};

// Which message boxes have painted, from their first paint on.
class TPaintSeen : public QObject {
public:
  std::vector<QPointer<QMessageBox>> Painted;
  bool HasPainted(QMessageBox* box) const {
    for (const QPointer<QMessageBox>& b : Painted)
      if (b == box) return true;
    return false;
  }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      if (auto* box = qobject_cast<QMessageBox*>(watched); box && !HasPainted(box)) Painted.push_back(box);
    return false;
  }
};
}  // namespace

TEST(ResultBoxX, TheReportsBoxesAreDrawnOnTheScreen) {
  // The platform plug-in is picked once per process; ctest runs every test in one of its own.
  if (QApplication::instance() || SDL_WasInit(SDL_INIT_VIDEO)) GTEST_SKIP() << "Qt or SDL already started here";
  if (!xvfb::Installed() || !xvfb::OnPath("openbox") || !xvfb::OnPath("xdotool"))
    GTEST_SKIP() << "Xvfb, openbox or xdotool is not installed";
  xvfb::TServer server;
  ASSERT_TRUE(server.Start(1280, 1024)) << "Xvfb did not start";
  Display* display = XOpenDisplay(server.Name.c_str());
  ASSERT_NE(display, nullptr);
  TWindowManager wm;
  ASSERT_TRUE(wm.Start(server.Name));
  const auto wmEnd = Clock::now() + std::chrono::seconds(60);  // hang guard
  while (!WindowManagerRunning(display) && Clock::now() < wmEnd)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(WindowManagerRunning(display)) << "openbox did not take the screen";

  setenv("DISPLAY", server.Name.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name, nullptr};
  QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);  // as the program does
  auto app = std::make_unique<QApplication>(argc, argv);
  InstallShellApplication();
  InstallFocusReturn();
  ResetMenuServices();

  const std::string dir = TestDir();
  UserDataDir = dir;
  CommonDataDir = dir + "common/";
  ForceDirectories(CommonDataDir);
  SetLogFile(dir + "qv.log");
  // nothing answers there: the menu's page fails at once
  setenv("KESTRUNE_INTERNAL_HOST", "127.0.0.1:9", 1);
  ResetEnvironment(GameEnvironment);
  HostsListApplied = true;

  ForceDirectories(dir + "mail");
  TTestServer sink("smtp_sink.py", {dir + "mail"});
  TGatedSmtp gate;
  ASSERT_GT(gate.Port, 0);
  struct TCase {
    std::string MailServer;
    std::string Box;
    bool Gated;  // the send waits until the wait window is on the screen
  };
  const std::vector<TCase> cases = {
      // sent at once: the wait window may be gone before the window manager has shown it
      {sink.HostPort(), "Thanks for your help!", false},
      // the box comes as the wait window, on the screen, goes
      {gate.HostPort(), "Thanks for your help!", true},
      {"127.0.0.1:" + std::to_string(UnusedLoopbackPort()), "Error sending email", false},
  };
  {
    TfrmMain main(QStringList{});
    TfrmGameOptions options(nullptr, &main);
    main.SetOptionsWindow(&options);
    main.show();
    const auto shownEnd = Clock::now() + std::chrono::seconds(60);  // hang guard
    while (!(main.windowHandle() && main.windowHandle()->isExposed()) && Clock::now() < shownEnd)
      QApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(main.windowHandle() && main.windowHandle()->isExposed()) << "the menu did not reach the screen";
    for (const TCase& c : cases) {
      SCOPED_TRACE(c.Box);
      setenv("KESTRUNE_MAIL_SERVER", c.MailServer.c_str(), 1);
      std::vector<TSeen> seen;
      bool sent = false;
      bool waitShown = false;  // the wait window was on the screen
      gate.Open = !c.Gated;
      QPointer<QMessageBox> watched;
      TPaintSeen paintSeen;
      app->installEventFilter(&paintSeen);
      Clock::time_point boxSince{};
      QTimer poll;
      poll.setInterval(20);
      QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* w = QApplication::activeModalWidget();
        if (auto* report = qobject_cast<TfrmErrorReportPublish*>(w)) {
          if (sent || !report->windowHandle() || !report->windowHandle()->isExposed()) return;
          sent = true;
          report->Memo1->setPlainText("It stopped");
          ClickWithThePointer(server.Name, report->findChild<QPushButton*>());
          return;
        }
        if (auto* wait = TfrmPleaseWait::Current(); wait && wait->isVisible()) {
          TArea area;
          if (c.Gated && !waitShown && ScreenArea(display, wait->winId(), area) &&
              SameShare(Capture(display, DefaultRootWindow(display), area.X, area.Y, area.W, area.H), wait, area.W,
                        area.H) >= 0.9) {
            waitShown = true;
            gate.Open = true;
          }
          return;
        }
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box || !box->isVisible()) return;
        if (box != watched) {
          watched = box;
          boxSince = Clock::now();
          seen.push_back({box->text().toStdString()});
          return;
        }
        // Once it is mapped and has painted, the screen must show it; the watchdog only ends a
        // box that never reaches the screen.
        TSeen& s = seen.back();
        TArea area;
        const bool mapped = ScreenArea(display, box->winId(), area);
        s.Painted = paintSeen.HasPainted(box);
        s.Mapped = mapped;
        if (mapped) {
          const std::vector<uint32_t> screen =
              Capture(display, DefaultRootWindow(display), area.X, area.Y, area.W, area.H);
          s.ScreenLight = LightShare(screen);
          s.WindowLight = LightShare(Capture(display, box->winId(), 0, 0, area.W, area.H));
          s.ScreenSame = SameShare(screen, box, area.W, area.H);
          s.Drawn = s.ScreenLight >= 0.5 && s.ScreenSame >= 0.9;
        }
        if (s.Drawn || Clock::now() - boxSince > std::chrono::seconds(60)) {
          box->button(QMessageBox::Ok)->click();
        }
      });
      poll.start();
      main.actPublishErrorreport->trigger();
      poll.stop();
      app->removeEventFilter(&paintSeen);
      gate.Open = true;  // lets a send that went wrong end
      ASSERT_TRUE(sent) << "the report dialog was not seen";
      if (c.Gated) {
        EXPECT_TRUE(waitShown);
        EXPECT_EQ(gate.Mails, 1);
      }
      ASSERT_EQ(seen.size(), 1u);
      EXPECT_EQ(seen[0].Text, c.Box);
      EXPECT_TRUE(seen[0].Painted);
      EXPECT_TRUE(seen[0].Mapped);
      EXPECT_TRUE(seen[0].Drawn) << "light share on the screen " << seen[0].ScreenLight << ", in its own window "
                                 << seen[0].WindowLight << "; the screen shows the box in "
                                 << seen[0].ScreenSame << " of its area";
    }
  }
  unsetenv("KESTRUNE_MAIL_SERVER");
  unsetenv("KESTRUNE_INTERNAL_HOST");
  app.reset();
  XCloseDisplay(display);
  UserDataDir.clear();
  CommonDataDir.clear();
  HostsListApplied = false;
  ResetEnvironment(GameEnvironment);
  SetLogFile("");
}
