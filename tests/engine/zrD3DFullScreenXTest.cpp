// A full-screen device on a real X server with no window manager, as on a plain Xvfb: nobody
// acts on the full-screen request there, yet SDL takes the window for display-sized. The window
// must really cover the display and show the whole picture scaled with its aspect kept, and go
// back to its place when the device turns windowed. Starts an Xvfb of its own; skipped without.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "base/SysUtils.h"
#include "engine/tools.h"
#include "engine/zrD3D.h"
#include "platform/D3D8GL.h"
#include "support/TestSupport.h"
#include "support/Xvfb.h"

#include <SDL_syswm.h>  // last: the X11 headers' macros (None, Bool, Status) reach no other header
#include <X11/Xutil.h>

namespace {

constexpr int kScreenW = 1280, kScreenH = 1024;

struct TGeometry {
  int X = 0, Y = 0, W = 0, H = 0;
};

class GLFullScreenX : public ::testing::Test {
protected:
  void SetUp() override {
    // SDL picks its video driver once per process; ctest runs every test in one of its own.
    if (SDL_WasInit(SDL_INIT_VIDEO)) GTEST_SKIP() << "SDL video already started in this process";
    if (!xvfb::Installed()) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_TRUE(Server.Start(kScreenW, kScreenH)) << "Xvfb did not start";
    for (const char* name : {"DISPLAY", "SDL_VIDEODRIVER"})
      if (const char* v = std::getenv(name)) SavedEnv[name] = v;
    Started = true;
    setenv("DISPLAY", Server.Name.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    SetLogFile(TestDir() + "qv.log");
    X = XOpenDisplay(Server.Name.c_str());
    ASSERT_NE(X, nullptr);
    // As the game window makes it for full screen.
    Window = D3DCreateDeviceWindow("Kestrune test", 800, 600, SDL_WINDOW_BORDERLESS);
    ASSERT_NE(Window, nullptr) << SDL_GetError();
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    ASSERT_TRUE(SDL_GetWindowWMInfo(Window, &info));
    ASSERT_EQ(info.subsystem, SDL_SYSWM_X11);
    XWindow = info.info.x11.window;
    D3D = std::make_unique<TzrD3D8>();
    D3D->EnumAdapters();
  }
  void TearDown() override {
    Dev.reset();
    D3D.reset();
    if (Window) {
      D3DWindowClosed(Window);
      SDL_DestroyWindow(Window);
      SDL_QuitSubSystem(SDL_INIT_VIDEO);  // the window's own start of SDL video
    }
    if (X) XCloseDisplay(X);
    SetLogFile("");
    // The tests after this one in the same process get SDL and the environment as they were.
    if (Started)
      for (const char* name : {"DISPLAY", "SDL_VIDEODRIVER"}) {
        auto v = SavedEnv.find(name);
        if (v != SavedEnv.end()) setenv(name, v->second.c_str(), 1);
        else unsetenv(name);
      }
  }

  // Where X has the window, on the screen.
  TGeometry Geometry() {
    ::Window root, child;
    int x, y;
    unsigned w, h, border, depth;
    TGeometry g;
    if (!XGetGeometry(X, XWindow, &root, &x, &y, &w, &h, &border, &depth)) return g;
    XTranslateCoordinates(X, XWindow, root, 0, 0, &g.X, &g.Y, &child);
    g.W = int(w);
    g.H = int(h);
    return g;
  }
  void PumpEvents() {
    SDL_Event e;
    while (SDL_PollEvent(&e)) D3DHandleWindowEvent(e);
  }
  // A grey picture with a coloured 16 x 16 square in each corner.
  void DrawCorners() {
    TComPtr<IDirect3DSurface8> bb = Dev->GetBackBuffer();
    D3DLOCKED_RECT lr;
    ASSERT_EQ(bb->LockRect(&lr, nullptr, 0), D3D_OK);
    for (int y = 0; y < 600; ++y)
      for (int x = 0; x < 800; ++x) {
        uint32_t v = 0x808080;
        if (y < 16 && x < 16) v = 0xFF0000;
        if (y < 16 && x >= 784) v = 0x00FF00;
        if (y >= 584 && x < 16) v = 0x0000FF;
        if (y >= 584 && x >= 784) v = 0xFFFFFF;
        std::memcpy(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * 4, &v, 4);
      }
    ASSERT_EQ(bb->UnlockRect(), D3D_OK);
  }

  xvfb::TServer Server;
  std::map<std::string, std::string> SavedEnv;
  bool Started = false;
  Display* X = nullptr;
  HWND Window = nullptr;
  ::Window XWindow = 0;
  std::unique_ptr<TzrD3D8> D3D;
  std::unique_ptr<TzrD3Device8> Dev;
};

TEST_F(GLFullScreenX, CoversTheDisplayAndShowsTheWholePictureWithoutAWindowManager) {
  TzrD3DDeviceInfo* info = D3D->GetAdapter(0)->GetDevice(0);
  const TGeometry windowed = Geometry();
  ASSERT_EQ(windowed.W, 800);
  const TzrD3DMode mode{800, 600, D3DFMT_X8R8G8B8, info->WindowedMode.Behavior, 0};
  Dev = std::make_unique<TzrD3Device8>(info, Window, Window, false, mode);
  PumpEvents();
  EXPECT_TRUE(xvfb::Eventually([&] {
    const TGeometry g = Geometry();
    return g.X == 0 && g.Y == 0 && g.W == kScreenW && g.H == kScreenH;
  })) << "the window stays " << Geometry().W << " x " << Geometry().H << " at " << Geometry().X
      << ", " << Geometry().Y;

  // 800 x 600 scaled by 1.6 to 1280 x 960, black bars of 32 rows above and below.
  DrawCorners();
  struct Spot {
    int x, y;
    uint32_t rgb;
    const char* what;
  } spots[] = {{13, 45, 0xFF0000, "top left"},      {1267, 45, 0x00FF00, "top right"},
               {13, 979, 0x0000FF, "bottom left"},  {1267, 979, 0xFFFFFF, "bottom right"},
               {640, 512, 0x808080, "middle"},      {640, 10, 0x000000, "bar above"},
               {640, 1013, 0x000000, "bar below"}};
  auto near = [](uint32_t a, uint32_t b) {
    for (int s = 0; s < 24; s += 8)
      if (std::abs(int((a >> s) & 255) - int((b >> s) & 255)) > 8) return false;
    return true;
  };
  uint32_t seen[std::size(spots)] = {};
  const bool shown = xvfb::Eventually([&] {
    Dev->Present();
    XImage* img = XGetImage(X, DefaultRootWindow(X), 0, 0, kScreenW, kScreenH, AllPlanes, ZPixmap);
    if (!img) return false;
    bool all = true;
    for (size_t i = 0; i < std::size(spots); ++i) {
      seen[i] = uint32_t(XGetPixel(img, spots[i].x, spots[i].y)) & 0xFFFFFF;
      all = all && near(seen[i], spots[i].rgb);
    }
    XDestroyImage(img);
    return all;
  });
  EXPECT_TRUE(shown);
  for (size_t i = 0; i < std::size(spots); ++i)
    EXPECT_TRUE(near(seen[i], spots[i].rgb))
        << spots[i].what << " at " << spots[i].x << ", " << spots[i].y << ": " << std::hex << seen[i];

  // Windowed again: the window has its own size and place back.
  D3DPRESENT_PARAMETERS pp = Dev->PresentParams;
  pp.Windowed = 1;
  ASSERT_EQ(Dev->Device->Reset(&pp), D3D_OK);
  PumpEvents();
  EXPECT_TRUE(xvfb::Eventually([&] {
    const TGeometry g = Geometry();
    return g.X == windowed.X && g.Y == windowed.Y && g.W == 800 && g.H == 600;
  })) << "the window is " << Geometry().W << " x " << Geometry().H << " at " << Geometry().X << ", "
      << Geometry().Y;
}

}  // namespace
