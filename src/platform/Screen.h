#pragma once
// The screen of the window system the program runs on.

// Width, height and bits per pixel of the first screen's desktop mode. False when no display
// server can be reached, and under SDL's offscreen and dummy drivers (there is no screen then).
bool DesktopScreenMode(int& width, int& height, int& bitsPerPixel);
