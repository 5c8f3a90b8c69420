#pragma once
// The keyboard focus on an X server for one window of the program's own.
//
// With no window manager nobody moves the focus when a focused window goes away, so the
// program gives it back itself. The toolkit's own request carries the time of the last event
// it saw, and the server ignores a focus request older than the last focus change (the game
// window's), so this one asks with the server's current time.

// `display` is the toolkit's Xlib display, `window` a mapped window; false when it cannot be.
bool X11SetInputFocus(void* display, unsigned long window);
