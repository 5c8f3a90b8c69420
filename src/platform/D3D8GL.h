#pragma once
// The Direct3D 8 stand-in on SDL2 + OpenGL (compatibility profile, 3.2 or later).
//
// Adapters are SDL displays. Modes: the display's own plus 800 x 600 in X8R8G8B8 and R5G6B5.
// The display mode never changes: a full-screen device turns its window into a desktop-sized
// borderless window and shows the back buffer scaled with its aspect kept. The back buffer is an
// off-screen target (16-bit for R5G6B5) that keeps its contents between frames and is copied to
// the window on Present. Textures keep their memory in the Direct3D format and are converted
// when uploaded.
//
// The device window is any SDL window created with SDL_WINDOW_OPENGL (D3DCreateDeviceWindow
// makes one); it must outlive the device. Focus and minimising are told to us explicitly, by the window's owner, so device
// loss follows the window: a full-screen device whose window is unfocused or minimised is lost
// until both are back, then needs a Reset.
#include "platform/D3D8.h"

union SDL_Event;

ID3D8Runtime& D3D8GLRuntime();

// An SDL window the device can present to (SDL_WINDOW_OPENGL, plus `flags`); nullptr on failure,
// with SDL_GetError() telling why. The caller destroys it with SDL_DestroyWindow.
HWND D3DCreateDeviceWindow(const char* title, int width, int height, uint32_t flags);

// The window's owner reports what SDL tells it. Windows start focused and not minimised.
void D3DWindowFocusChanged(HWND window, bool focused);
void D3DWindowMinimizedChanged(HWND window, bool minimized);
// Convenience for an SDL event loop: applies focus gained/lost, minimised/restored/shown events
// of any window; true when the event was one of these.
bool D3DHandleWindowEvent(const SDL_Event& event);
// Forgets a window's state (call before destroying the window).
void D3DWindowClosed(HWND window);

// Makes the game device's GL context current again when other code on this thread (the menu's
// web view, which draws with GL of its own between game frames) left another one current; SDL
// would take its own context for current and skip the switch. Cheap when nothing changed.
void D3DReclaimGLContext();
