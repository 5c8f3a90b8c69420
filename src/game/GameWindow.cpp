#include "game/GameWindow.h"

#include <SDL.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "base/Exceptions.h"
#include "base/Streams.h"
#include "base/SysUtils.h"
#include "base/Threads.h"
#include "engine/tools.h"
#include "engine/zrDInput.h"
#include "engine/zrDSound.h"
#include "game/GameLogic.h"
#include "game/KTGlobal.h"
#include "platform/D3D8GL.h"
#include "platform/Modules.h"

bool WriteCodecFile() {
  const std::string name = CommonDataDir + kCodecFileName;
  try {
    TResourceStream r("MP3CODEC", "DLL");
    const std::string_view embedded(reinterpret_cast<const char*>(r.Memory()), static_cast<size_t>(r.GetSize()));
    // A file of another build (even one of the same size) would not load: only the same bytes
    // are kept. Reading stops early when the size already differs.
    std::string present;
    if (FileSize(name) == static_cast<int64_t>(embedded.size()) && ReadFileBytes(name, present) &&
        present == embedded)
      return true;
    ForceDirectories(ExtractFilePath(name));
    if (!SaveFileAtomically(name, embedded.data(), embedded.size()))
      throw Exception("Cannot create file \"" + name + "\". " + std::strerror(errno));
    return true;
  } catch (const Exception& e) {
    Log("Unable to write mp3 driver: " + e.Message, ltWarning);
    return false;
  }
}

std::unique_ptr<TfrmGame> TfrmGame::CreateGame(void* owner, uint8_t behaviour, bool windowed,
                                               TzrD3DDeviceInfo* adapterInfo, const TzrD3DMode& mode,
                                               int32_t replayLevel) {
  return std::make_unique<TfrmGame>(owner, behaviour, windowed, adapterInfo, mode, replayLevel);
}

TfrmGame::TfrmGame(void* /*owner*/, uint8_t behaviour, bool windowed, TzrD3DDeviceInfo* adapterInfo,
                   const TzrD3DMode& mode, int32_t replayLevel) {
  Log("Creating game (" + std::to_string(behaviour) + ")", ltInfo);
  AdapterInfo = adapterInfo;
  Mode = mode;
  Windowed = windowed;
  Behaviour = behaviour;
  ReplayLevel = replayLevel;
  if (mode.Width != 800 || mode.Height != 600 || mode.Behavior != D3DCREATE_SOFTWARE_VERTEXPROCESSING)
    LogAndRaise("Invalid mode", 0,
                "width=" + std::to_string(mode.Width) + " / height=" + std::to_string(mode.Height) +
                    " / behavior=" + std::to_string(mode.Behavior));
  // Windowed: a bordered 800 x 600 client area, centred; full screen: no border (the device
  // makes the window cover the display).
  Window = D3DCreateDeviceWindow("Kestrune", kGameClientWidth, kGameClientHeight,
                                 windowed ? 0u : uint32_t(SDL_WINDOW_BORDERLESS));
  if (!Window) LogAndRaise("Failed to create the game window: " + std::string(SDL_GetError()), 0, "");
  MakeTopMost();
}

TfrmGame::~TfrmGame() {
  Logic.reset();
  Device.reset();
  Sound.reset();
  Keyboard.reset();
  Input.reset();
  if (Window) {
    D3DWindowClosed(Window);
    SDL_DestroyWindow(Window);
  }
}

void TfrmGame::MakeTopMost() {
  if (!Window) return;
  SDL_RestoreWindow(Window);
  SDL_SetWindowAlwaysOnTop(Window, SDL_TRUE);
  TopMost = true;
}

void TfrmGame::Activate() {
  Active = true;
  MakeTopMost();
}

void TfrmGame::Deactivate() {
  Active = false;
  if (!Window) return;
  SDL_MinimizeWindow(Window);
  SDL_SetWindowAlwaysOnTop(Window, SDL_FALSE);
  TopMost = false;
}

void TfrmGame::StartGame() {
  Started = true;
  Log("Initializing keyboard", ltCheckpoint);
  try {
    Input = std::make_unique<TzrDI8>(HInstance());
    Keyboard = std::make_unique<TzrDIKeyboard>(Input.get(), 5, &Focus);
  } catch (const Exception& e) {
    LogAndRaise("Failed to initialize keyboard: " + e.Message, 0, "");
  }
  try {
    Sound = std::make_unique<TzrDSound>(Window, 2);
    try {
      WriteCodecFile();
      Sound->LoadACMDriver(CommonDataDir + kCodecFileName);
    } catch (const Exception& e) {
      Log("Unable to load external mp3 driver: " + e.Message, ltWarning);
    }
  } catch (const Exception& e) {
    Log("Failed to initialize sound system: " + e.Message, ltWarning);
    Sound.reset();
  }
  try {
    if (!AdapterInfo) throw Exception("No rendering device");
    Device = std::make_unique<TzrD3Device8>(AdapterInfo, Window, Window, Windowed, Mode);
  } catch (const Exception& e) {
    LogAndRaise("Failed to initialize 3D device: " + e.Message, 0, "");
  }
  MakeTopMost();
  TGameLogicSetup setup;
  setup.Keyboard = Keyboard.get();
  setup.Device = Device.get();
  setup.Sound = Sound.get();
  setup.Behaviour = Behaviour;
  setup.ReplayLevel = ReplayLevel;
  setup.OnGameOver = [this](const std::string& text) {
    ResultText = text;
    Close();
  };
  setup.Snapshot = [this](std::vector<uint8_t>& rgb) { return Snapshot(rgb); };
  setup.AppActive = [this] { return Active && !Minimized; };
  setup.ReadKeys = ReadKeys;
  setup.Clock = Clock;
  Logic = std::make_unique<TGameLogic>(std::move(setup));
  Logic->Start();
}

void TfrmGame::HandleEvent(const SDL_Event& event) {
  if (event.type == SDL_QUIT) {
    Close();
    return;
  }
  if (event.type != SDL_WINDOWEVENT || SDL_GetWindowFromID(event.window.windowID) != Window) return;
  D3DHandleWindowEvent(event);
  switch (event.window.event) {
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      Focus.SetFocused(true);
      if (!Active) Activate();
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      Focus.SetFocused(false);
      if (Active) Deactivate();
      break;
    case SDL_WINDOWEVENT_MINIMIZED: Minimized = true; break;
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_SHOWN: Minimized = false; break;
    case SDL_WINDOWEVENT_EXPOSED: FormPaint(); break;
    case SDL_WINDOWEVENT_CLOSE: Close(); break;
    default: break;
  }
}

void TfrmGame::FormPaint() {
  if (Logic) Logic->Render();
}

void TfrmGame::Idle(bool& done) {
  // Window events first, so the game loop never starves them.
  SDL_Event e;
  while (SDL_PollEvent(&e)) HandleEvent(e);
  if (OnIdle) OnIdle();
  CheckSynchronize();
  if (Closed) {
    done = true;
    return;
  }
  if (Logic) {
    done = Logic->DoFrame();
    ++Frames;
  } else {
    done = true;
  }
}

namespace {
TfrmGame* RunningGame = nullptr;  // the window in ShowModal (GUI thread only)
}  // namespace

bool TfrmGame::CloseRunning() {
  if (!RunningGame) return false;
  RunningGame->Close();
  return true;
}

std::string TfrmGame::ShowModal() {
  struct TRunning {
    TfrmGame* Previous;
    explicit TRunning(TfrmGame* w) : Previous(RunningGame) { RunningGame = w; }
    ~TRunning() { RunningGame = Previous; }
  } running(this);
  Closed = false;
  if (Window) SDL_ShowWindow(Window);
  if (!Started) {
    try {
      StartGame();
    } catch (const Exception& e) {
      // The failure is in the trace log already; the caller shows the text.
      StartError = e.Message;
      Logic.reset();
      if (Window) SDL_HideWindow(Window);
      return StartError;
    }
  }
  while (!Closed) {
    bool done = false;
    Idle(done);
    // Nothing to do until the next event (a lost device, a closed game): do not spin.
    if (done && !Closed) SDL_WaitEventTimeout(nullptr, 10);
  }
  if (Window) SDL_HideWindow(Window);
  return ResultText;
}

bool TfrmGame::Snapshot(std::vector<uint8_t>& rgb) {
  if (!Device) return false;
  TComPtr<IDirect3DSurface8> bb = Device->GetBackBuffer();
  if (!bb) return false;
  D3DSURFACE_DESC desc;
  if (bb->GetDesc(&desc) < 0 || desc.Width < 800 || desc.Height < 600) return false;
  D3DLOCKED_RECT lr;
  if (bb->LockRect(&lr, nullptr, D3DLOCK_READONLY) < 0) return false;
  rgb.resize(800u * 600u * 3u);
  for (int y = 0; y < 600; ++y) {
    const uint8_t* row = static_cast<const uint8_t*>(lr.pBits) + y * lr.Pitch;
    for (int x = 0; x < 800; ++x) {
      uint32_t v;
      if (desc.Format == D3DFMT_R5G6B5) {
        uint16_t s;
        std::memcpy(&s, row + x * 2, 2);
        const uint32_t r = (s >> 11) & 31, g = (s >> 5) & 63, b = s & 31;
        v = (r * 255 / 31) << 16 | (g * 255 / 63) << 8 | (b * 255 / 31);
      } else {
        std::memcpy(&v, row + x * 4, 4);
      }
      uint8_t* p = &rgb[(size_t(y) * 800 + size_t(x)) * 3];
      p[0] = uint8_t(v >> 16), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v);
    }
  }
  bb->UnlockRect();
  return true;
}
