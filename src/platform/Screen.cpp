#include "platform/Screen.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

bool DesktopScreenMode(int& width, int& height, int& bitsPerPixel) {
  width = height = bitsPerPixel = 0;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!x11 || !*x11) && (!wayland || !*wayland)) return false;  // no display server: do not try
  // reference-counted: the game window's own use of the video subsystem is not disturbed
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
  bool ok = false;
  const char* driver = SDL_GetCurrentVideoDriver();
  SDL_DisplayMode m{};
  if (driver && std::strcmp(driver, "offscreen") != 0 && std::strcmp(driver, "dummy") != 0 &&
      SDL_GetDesktopDisplayMode(0, &m) == 0 && m.w > 0 && m.h > 0) {
    width = m.w;
    height = m.h;
    // bits of a stored pixel, as a frame buffer holds it: XRGB8888 is 32, RGB565 16
    bitsPerPixel = SDL_BYTESPERPIXEL(m.format) * 8;
    ok = true;
  }
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  return ok;
}
