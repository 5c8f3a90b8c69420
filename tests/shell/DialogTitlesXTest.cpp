// The titles the window system shows for the menu's windows, on a real X server: each window's own
// caption, with nothing of the application's name added to it. Starts an Xvfb of its own; skipped
// without.
#include <SDL.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/SysUtils.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "shell/Downloads.h"
#include "shell/EmailCard.h"
#include "shell/ErrorSolutions.h"
#include "shell/HighscorePublish.h"
#include "shell/MenuServices.h"
#include "shell/frmGameAbout.h"
#include "shell/frmMain.h"
#include "shell/frmOptions.h"
#include "shell/frmPleaseWait.h"
#include "support/TestSupport.h"
#include "support/Xvfb.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>  // last: its macros (None, Bool, Status) reach no other header

namespace {
// The window's _NET_WM_NAME as the window manager reads it ("" when not set).
std::string NetWmName(Display* display, unsigned long window) {
  const Atom name = XInternAtom(display, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string text;
  if (XGetWindowProperty(display, window, name, 0, 1024, False, utf8, &type, &format, &count, &after, &data) ==
          Success &&
      data) {
    text.assign(reinterpret_cast<const char*>(data), count);
    XFree(data);
  }
  return text;
}
}  // namespace

TEST(DialogTitlesX, EveryWindowShowsItsOwnCaption) {
  // The platform plug-in is picked once per process; ctest runs every test in one of its own.
  if (QApplication::instance() || SDL_WasInit(SDL_INIT_VIDEO)) GTEST_SKIP() << "Qt or SDL already started here";
  if (!xvfb::Installed()) GTEST_SKIP() << "Xvfb is not installed";
  xvfb::TServer server;
  ASSERT_TRUE(server.Start(1280, 1024)) << "Xvfb did not start";
  setenv("DISPLAY", server.Name.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name, nullptr};
  auto app = std::make_unique<QApplication>(argc, argv);
  InstallShellApplication();  // as the program does at start
  // What the application's name serves elsewhere stays.
  EXPECT_EQ(QGuiApplication::applicationDisplayName().toStdString(), "Kestrune");

  const std::string dir = TestDir();
  UserDataDir = dir;
  CommonDataDir = dir;
  ResetEnvironment(GameEnvironment);
  Display* display = XOpenDisplay(server.Name.c_str());
  ASSERT_NE(display, nullptr);
  {
    const TOnlineUI ui{};
    TfrmMain main(QStringList{});
    TfrmGameOptions options(nullptr, &main);
    TfrmGameAbout about(&main);
    TfrmPleaseWait wait(&main);
    TfrmHighscorePublish publish(ui, &main);
    TfrmHighscoreNew newHighscore(12345, &main);
    TfrmDownloadLevels levels(ui, &main);
    TfrmDownloadWorldBest worldBest(ui, &main);
    TfrmEmailCard card(ui, &main);
    TfrmErrorReportPublish report("", &main);
    const std::vector<std::pair<QWidget*, std::string>> windows = {
        {&main, "Kestrune"},
        {&options, "Options"},
        {&about, "About"},
        {&wait, "Kestrune"},
        {&publish, "Publish Highscore"},
        {&newHighscore, "A New Highscore!"},
        {&levels, "Download levels"},
        {&worldBest, "World's Best Game Replay"},
        {&card, "Send Email Card"},
        {&report, "Send Errorreport"},
    };
    for (const auto& entry : windows) {
      const std::string& caption = entry.second;
      SCOPED_TRACE(caption);
      const unsigned long id = entry.first->winId();  // the X window, with its title, without showing it
      std::string shown;
      // X applies the requests in its own time; a title first set and then changed is seen last
      xvfb::Eventually([&] {
        QApplication::processEvents();
        shown = NetWmName(display, id);
        return shown == caption;
      });
      EXPECT_EQ(shown, caption);
    }
  }
  XCloseDisplay(display);
  app.reset();
  UserDataDir.clear();
  CommonDataDir.clear();
  ResetEnvironment(GameEnvironment);
  SetLogFile("");
}
