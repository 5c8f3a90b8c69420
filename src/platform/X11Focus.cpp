#include "platform/X11Focus.h"

#include <X11/Xlib.h>

bool X11SetInputFocus(void* display, unsigned long window) {
  auto* d = static_cast<Display*>(display);
  if (!d || !window) return false;
  XWindowAttributes a;
  if (!XGetWindowAttributes(d, window, &a) || a.map_state != IsViewable) return false;  // else BadMatch
  XSetInputFocus(d, window, RevertToParent, CurrentTime);
  XFlush(d);
  return true;
}
