// The real size of a device window. Kept apart: the X11 headers bring macros (None, Bool,
// Status, ...) that must not reach the rest of the backend.
#include "platform/D3D8GLInternal.h"  // before the X11 headers

#include <SDL_syswm.h>

namespace d3dgl {

void DrawableSize(HWND window, int& w, int& h) {
  SDL_GL_GetDrawableSize(window, &w, &h);
#if defined(SDL_VIDEO_DRIVER_X11)
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11) {
    ::Window root;
    int x, y;
    unsigned int xw, xh, border, depth;
    if (XGetGeometry(info.info.x11.display, info.info.x11.window, &root, &x, &y, &xw, &xh, &border,
                     &depth)) {
      w = int(xw);
      h = int(xh);
    }
  }
#endif
}

}  // namespace d3dgl
