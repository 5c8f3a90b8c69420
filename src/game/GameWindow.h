#pragma once
// The window a game runs in: an SDL window that owns the devices (keyboard, sound, 3D device)
// and the game logic. The caller creates it with CreateGame and shows it modally: ShowModal
// blocks in the window's own loop, which pumps SDL events, calls the caller's idle hook (the
// shell pumps its own events there), and runs one frame of the game per idle pass, until the
// game reports its end or the window is closed.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/zrD3D.h"
#include "platform/DInput.h"

union SDL_Event;
struct SDL_Window;
class TGameLogic;
class TzrDI8;
class TzrDIKeyboard;
class TzrDSound;

constexpr int kGameClientWidth = 800;
constexpr int kGameClientHeight = 600;

constexpr const char* kCodecFileName = "l3codecx.acm";
// Makes CommonDataDir + "l3codecx.acm" hold the codec module the program carries: a file with
// other bytes is replaced, through a temporary file and a rename. The one writer of the file
// (start-up and game window). A failure is logged as a warning and returns false: the game then
// runs without music, never stops.
bool WriteCodecFile();

class TfrmGame {
public:
  // Raises "Invalid mode" (after an error line in the trace log) unless the mode is 800 x 600
  // with software vertex processing (behaviour flags 32); the window is not made then.
  static std::unique_ptr<TfrmGame> CreateGame(void* owner, uint8_t behaviour, bool windowed,
                                              TzrD3DDeviceInfo* adapterInfo, const TzrD3DMode& mode,
                                              int32_t replayLevel);
  TfrmGame(void* owner, uint8_t behaviour, bool windowed, TzrD3DDeviceInfo* adapterInfo,
           const TzrD3DMode& mode, int32_t replayLevel);
  ~TfrmGame();
  TfrmGame(const TfrmGame&) = delete;
  TfrmGame& operator=(const TfrmGame&) = delete;

  // Starts the game and runs the window until it closes. Returns the text the game ended with
  // or, when the start failed, the start's error text; empty for a normal end.
  std::string ShowModal();
  // Asks the loop to end after the current pass.
  void Close() { Closed = true; }
  // Closes the window whose ShowModal is running, as its close button would; false when none is.
  static bool CloseRunning();

  // Hooks, all optional. OnIdle runs once per idle pass before the frame.
  std::function<void()> OnIdle;
  std::function<void(uint8_t keys[256])> ReadKeys;  // in place of the keyboard (tests)
  std::function<uint32_t()> Clock;                   // in place of the performance counter

  // Fields.
  std::unique_ptr<TGameLogic> Logic;
  std::unique_ptr<TzrD3Device8> Device;
  std::unique_ptr<TzrDI8> Input;
  std::unique_ptr<TzrDIKeyboard> Keyboard;
  std::unique_ptr<TzrDSound> Sound;
  bool Windowed = false;
  TzrD3DDeviceInfo* AdapterInfo = nullptr;  // not owned
  TzrD3DMode Mode;
  uint8_t Behaviour = 0;
  int32_t ReplayLevel = 0;
  std::string ResultText;
  std::string StartError;

  SDL_Window* Window = nullptr;
  TInputFocus Focus;
  bool Active = true;
  bool Minimized = false;
  bool TopMost = false;
  bool Closed = false;
  int64_t Frames = 0;  // idle passes that ran a frame

  // Handlers.
  void StartGame();  // the start message: keyboard, sound, 3D device, logic
  void HandleEvent(const SDL_Event& event);
  void Idle(bool& done);
  void FormPaint();
  void Activate();    // the application became active
  void Deactivate();  // another application became active
  void MakeTopMost();
  // An 800 x 600 RGB picture of the back buffer; false without a device.
  bool Snapshot(std::vector<uint8_t>& rgb);

private:
  bool Started = false;
};
