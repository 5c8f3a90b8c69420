// The menu after a game and after a dialog on a real X server with no window manager (as testers run it): the
// game window takes the keyboard focus while it runs; when it closes, nobody but the program
// gives the focus back, and a menu without it takes no keys and never counts as active (the
// error lookup waits for that). Starts an Xvfb of its own; skipped without.
#include <SDL.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "base/SysUtils.h"
#include "engine/tools.h"
#include "engine/zrD3D.h"
#include "game/GameWindow.h"
#include "game/KTGlobal.h"
#include "game/Options.h"
#include "game/OptionsDialog.h"
#include "shell/FocusReturn.h"
#include "shell/MenuServices.h"
#include "support/TestSupport.h"
#include "support/Xvfb.h"

namespace {
// Runs Qt's events until `done` (hang guard: 60 s; window managers answer late on a busy machine).
template <class F>
bool RunUntil(F done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}
}  // namespace

TEST(GameFocusX, TheMenuHasTheFocusBackAfterTheGame) {
  // The platform plug-in and SDL's video driver are picked once per process; ctest runs every
  // test in one of its own.
  if (QApplication::instance() || SDL_WasInit(SDL_INIT_VIDEO)) GTEST_SKIP() << "Qt or SDL already started here";
  if (!xvfb::Installed()) GTEST_SKIP() << "Xvfb is not installed";
  xvfb::TServer server;
  ASSERT_TRUE(server.Start(1280, 1024)) << "Xvfb did not start";
  setenv("DISPLAY", server.Name.c_str(), 1);
  setenv("SDL_VIDEODRIVER", "x11", 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name, nullptr};
  auto app = std::make_unique<QApplication>(argc, argv);
  InstallFocusReturn();  // as the program does

  const std::string dir = TestDir();
  UserDataDir = dir;
  CommonDataDir = dir + "common/";
  ForceDirectories(CommonDataDir);
  SetLogFile(dir + "qv.log");
  ResetSettings();
  {
    auto d3d = std::make_unique<TzrD3D8>();
    TGameOptionsDialog options(d3d.get());
    options.FormCreate();  // the defaults: full screen, as a new user has it
    TGameRequest request;
    request.Behaviour = 0;
    request.Windowed = IsWindowed();
    request.Device = FindSelectedDevice(d3d.get());
    GetSelectedDisplayMode(d3d.get(), request.Mode);
    ASSERT_NE(request.Device, nullptr);

    QMainWindow main;
    main.resize(500, 350);
    main.show();
    main.activateWindow();
    ASSERT_TRUE(RunUntil([&] { return QApplication::activeWindow() == &main; }));

    bool lostWhilePlaying = false;
    QTimer closer;
    int ticks = 0;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      // The game took the focus; then it is closed as its close button would close it.
      if (QApplication::activeWindow() == nullptr) lostWhilePlaying = true;
      if (++ticks >= 100 || lostWhilePlaying) TfrmGame::CloseRunning();
    });
    closer.start(100);
    const std::string result = RunGameHook(&main, request);
    closer.stop();
    EXPECT_EQ(result, "");
    EXPECT_TRUE(lostWhilePlaying) << "the game window never had the focus";
    EXPECT_TRUE(main.isEnabled());
    EXPECT_TRUE(RunUntil([&] { return QApplication::activeWindow() == &main; }))
        << "the menu did not get the focus back";

    // A dialog after the game (the new-highscore question): it takes the focus, and when it
    // closes the menu has it again.
    QDialog question(&main);
    question.setModal(true);
    QTimer::singleShot(0, &question, [&] {
      RunUntil([&] { return QApplication::activeWindow() == &question; });
      question.reject();
    });
    question.exec();
    EXPECT_TRUE(RunUntil([&] { return QApplication::activeWindow() == &main; }))
        << "the menu did not get the focus back from the dialog";
    // The same for a box without an owner (the layers below the shell show those).
    QDialog box;
    box.setModal(true);
    QTimer::singleShot(0, &box, [&] {
      RunUntil([&] { return QApplication::activeWindow() == &box; });
      box.accept();
    });
    box.exec();
    EXPECT_TRUE(RunUntil([&] { return QApplication::activeWindow() == &main; }))
        << "the menu did not get the focus back from the box without an owner";
  }
  app.reset();
  SetLogFile("");
}
