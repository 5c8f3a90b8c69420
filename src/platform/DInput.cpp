#include "platform/DInput.h"

#include <SDL.h>

#include <cstring>
#include <mutex>

const DIDATAFORMAT c_dfDIKeyboard{256};

void TInputFocus::SetFocused(bool focused) {
  if (Has.exchange(focused) && !focused) ++LossCount;
}

void TFakeKeyboard::ReleaseAll() { std::memset(Keys, 0, sizeof(Keys)); }

void TFakeKeyboard::FailReads(HRESULT result, int count) {
  FailResult = result;
  FailCount = count;
}

HRESULT TFakeKeyboard::ReadKeys(uint8_t keys[256]) {
  if (FailCount > 0) {
    --FailCount;
    return FailResult;
  }
  std::memcpy(keys, Keys, sizeof(Keys));
  return DI_OK;
}

namespace {
std::mutex SourceLock;
IKeyboardSource* Source = nullptr;

struct TScanPair {
  SDL_Scancode From;
  uint8_t To;
};
const TScanPair kScanMap[] = {
    {SDL_SCANCODE_A, DIK_A}, {SDL_SCANCODE_B, DIK_B}, {SDL_SCANCODE_C, DIK_C}, {SDL_SCANCODE_D, DIK_D},
    {SDL_SCANCODE_E, DIK_E}, {SDL_SCANCODE_F, DIK_F}, {SDL_SCANCODE_G, DIK_G}, {SDL_SCANCODE_H, DIK_H},
    {SDL_SCANCODE_I, DIK_I}, {SDL_SCANCODE_J, DIK_J}, {SDL_SCANCODE_K, DIK_K}, {SDL_SCANCODE_L, DIK_L},
    {SDL_SCANCODE_M, DIK_M}, {SDL_SCANCODE_N, DIK_N}, {SDL_SCANCODE_O, DIK_O}, {SDL_SCANCODE_P, DIK_P},
    {SDL_SCANCODE_Q, DIK_Q}, {SDL_SCANCODE_R, DIK_R}, {SDL_SCANCODE_S, DIK_S}, {SDL_SCANCODE_T, DIK_T},
    {SDL_SCANCODE_U, DIK_U}, {SDL_SCANCODE_V, DIK_V}, {SDL_SCANCODE_W, DIK_W}, {SDL_SCANCODE_X, DIK_X},
    {SDL_SCANCODE_Y, DIK_Y}, {SDL_SCANCODE_Z, DIK_Z},
    {SDL_SCANCODE_1, DIK_1}, {SDL_SCANCODE_2, DIK_2}, {SDL_SCANCODE_3, DIK_3}, {SDL_SCANCODE_4, DIK_4},
    {SDL_SCANCODE_5, DIK_5}, {SDL_SCANCODE_6, DIK_6}, {SDL_SCANCODE_7, DIK_7}, {SDL_SCANCODE_8, DIK_8},
    {SDL_SCANCODE_9, DIK_9}, {SDL_SCANCODE_0, DIK_0},
    {SDL_SCANCODE_RETURN, DIK_RETURN}, {SDL_SCANCODE_ESCAPE, DIK_ESCAPE}, {SDL_SCANCODE_BACKSPACE, DIK_BACK},
    {SDL_SCANCODE_TAB, DIK_TAB}, {SDL_SCANCODE_SPACE, DIK_SPACE}, {SDL_SCANCODE_MINUS, DIK_MINUS},
    {SDL_SCANCODE_EQUALS, DIK_EQUALS}, {SDL_SCANCODE_LEFTBRACKET, DIK_LBRACKET},
    {SDL_SCANCODE_RIGHTBRACKET, DIK_RBRACKET}, {SDL_SCANCODE_BACKSLASH, DIK_BACKSLASH},
    {SDL_SCANCODE_NONUSHASH, DIK_BACKSLASH},  // the same key position on ISO keyboards
    {SDL_SCANCODE_SEMICOLON, DIK_SEMICOLON}, {SDL_SCANCODE_APOSTROPHE, DIK_APOSTROPHE},
    {SDL_SCANCODE_GRAVE, DIK_GRAVE}, {SDL_SCANCODE_COMMA, DIK_COMMA}, {SDL_SCANCODE_PERIOD, DIK_PERIOD},
    {SDL_SCANCODE_SLASH, DIK_SLASH}, {SDL_SCANCODE_CAPSLOCK, DIK_CAPITAL},
    {SDL_SCANCODE_F1, DIK_F1}, {SDL_SCANCODE_F2, DIK_F2}, {SDL_SCANCODE_F3, DIK_F3}, {SDL_SCANCODE_F4, DIK_F4},
    {SDL_SCANCODE_F5, DIK_F5}, {SDL_SCANCODE_F6, DIK_F6}, {SDL_SCANCODE_F7, DIK_F7}, {SDL_SCANCODE_F8, DIK_F8},
    {SDL_SCANCODE_F9, DIK_F9}, {SDL_SCANCODE_F10, DIK_F10}, {SDL_SCANCODE_F11, DIK_F11},
    {SDL_SCANCODE_F12, DIK_F12}, {SDL_SCANCODE_F13, DIK_F13}, {SDL_SCANCODE_F14, DIK_F14},
    {SDL_SCANCODE_F15, DIK_F15},
    {SDL_SCANCODE_PRINTSCREEN, DIK_SYSRQ}, {SDL_SCANCODE_SYSREQ, DIK_SYSRQ}, {SDL_SCANCODE_SCROLLLOCK, DIK_SCROLL},
    {SDL_SCANCODE_PAUSE, DIK_PAUSE}, {SDL_SCANCODE_INSERT, DIK_INSERT}, {SDL_SCANCODE_HOME, DIK_HOME},
    {SDL_SCANCODE_PAGEUP, DIK_PRIOR}, {SDL_SCANCODE_DELETE, DIK_DELETE}, {SDL_SCANCODE_END, DIK_END},
    {SDL_SCANCODE_PAGEDOWN, DIK_NEXT}, {SDL_SCANCODE_RIGHT, DIK_RIGHT}, {SDL_SCANCODE_LEFT, DIK_LEFT},
    {SDL_SCANCODE_DOWN, DIK_DOWN}, {SDL_SCANCODE_UP, DIK_UP},
    {SDL_SCANCODE_NUMLOCKCLEAR, DIK_NUMLOCK}, {SDL_SCANCODE_KP_DIVIDE, DIK_DIVIDE},
    {SDL_SCANCODE_KP_MULTIPLY, DIK_MULTIPLY}, {SDL_SCANCODE_KP_MINUS, DIK_SUBTRACT},
    {SDL_SCANCODE_KP_PLUS, DIK_ADD}, {SDL_SCANCODE_KP_ENTER, DIK_NUMPADENTER},
    {SDL_SCANCODE_KP_1, DIK_NUMPAD1}, {SDL_SCANCODE_KP_2, DIK_NUMPAD2}, {SDL_SCANCODE_KP_3, DIK_NUMPAD3},
    {SDL_SCANCODE_KP_4, DIK_NUMPAD4}, {SDL_SCANCODE_KP_5, DIK_NUMPAD5}, {SDL_SCANCODE_KP_6, DIK_NUMPAD6},
    {SDL_SCANCODE_KP_7, DIK_NUMPAD7}, {SDL_SCANCODE_KP_8, DIK_NUMPAD8}, {SDL_SCANCODE_KP_9, DIK_NUMPAD9},
    {SDL_SCANCODE_KP_0, DIK_NUMPAD0}, {SDL_SCANCODE_KP_PERIOD, DIK_DECIMAL},
    {SDL_SCANCODE_KP_EQUALS, DIK_NUMPADEQUALS}, {SDL_SCANCODE_KP_EQUALSAS400, DIK_NUMPADEQUALS},
    {SDL_SCANCODE_KP_COMMA, DIK_NUMPADCOMMA},
    {SDL_SCANCODE_NONUSBACKSLASH, DIK_OEM_102}, {SDL_SCANCODE_APPLICATION, DIK_APPS},
    {SDL_SCANCODE_POWER, DIK_POWER}, {SDL_SCANCODE_SLEEP, DIK_SLEEP},
    {SDL_SCANCODE_MUTE, DIK_MUTE}, {SDL_SCANCODE_AUDIOMUTE, DIK_MUTE}, {SDL_SCANCODE_VOLUMEUP, DIK_VOLUMEUP},
    {SDL_SCANCODE_VOLUMEDOWN, DIK_VOLUMEDOWN},
    {SDL_SCANCODE_INTERNATIONAL1, DIK_ABNT_C1}, {SDL_SCANCODE_INTERNATIONAL2, DIK_KANA},
    {SDL_SCANCODE_INTERNATIONAL3, DIK_YEN}, {SDL_SCANCODE_INTERNATIONAL4, DIK_CONVERT},
    {SDL_SCANCODE_INTERNATIONAL5, DIK_NOCONVERT},
    {SDL_SCANCODE_LCTRL, DIK_LCONTROL}, {SDL_SCANCODE_LSHIFT, DIK_LSHIFT}, {SDL_SCANCODE_LALT, DIK_LMENU},
    {SDL_SCANCODE_LGUI, DIK_LWIN}, {SDL_SCANCODE_RCTRL, DIK_RCONTROL}, {SDL_SCANCODE_RSHIFT, DIK_RSHIFT},
    {SDL_SCANCODE_RALT, DIK_RMENU}, {SDL_SCANCODE_RGUI, DIK_RWIN},
    {SDL_SCANCODE_AUDIONEXT, DIK_NEXTTRACK}, {SDL_SCANCODE_AUDIOPREV, DIK_PREVTRACK},
    {SDL_SCANCODE_AUDIOSTOP, DIK_MEDIASTOP}, {SDL_SCANCODE_AUDIOPLAY, DIK_PLAYPAUSE},
    {SDL_SCANCODE_MEDIASELECT, DIK_MEDIASELECT}, {SDL_SCANCODE_MAIL, DIK_MAIL},
    {SDL_SCANCODE_CALCULATOR, DIK_CALCULATOR}, {SDL_SCANCODE_COMPUTER, DIK_MYCOMPUTER},
    {SDL_SCANCODE_AC_SEARCH, DIK_WEBSEARCH}, {SDL_SCANCODE_AC_HOME, DIK_WEBHOME},
    {SDL_SCANCODE_AC_BACK, DIK_WEBBACK}, {SDL_SCANCODE_AC_FORWARD, DIK_WEBFORWARD},
    {SDL_SCANCODE_AC_STOP, DIK_WEBSTOP}, {SDL_SCANCODE_AC_REFRESH, DIK_WEBREFRESH},
    {SDL_SCANCODE_AC_BOOKMARKS, DIK_WEBFAVORITES},
};

struct TScanTable {
  uint8_t Map[SDL_NUM_SCANCODES] = {};
  TScanTable() {
    for (const TScanPair& p : kScanMap) Map[p.From] = p.To;
  }
};
const TScanTable& ScanTable() {
  static const TScanTable t;
  return t;
}

// SDL's keyboard state, which SDL updates while its events are pumped. Holds SDL's event
// subsystem for as long as the input object or any of its devices lives.
//
// The state alone loses quick taps: a key pressed and released between two reads (once per
// frame) is never seen down. So every key-down event that passes through SDL's queue is
// latched, and the next read reports the key down even if it is up again by then.
class TSDLKeyboard : public IKeyboardSource {
public:
  TSDLKeyboard() : Ok(SDL_InitSubSystem(SDL_INIT_EVENTS) == 0) {
    if (Ok) SDL_AddEventWatch(&TSDLKeyboard::Watch, this);
  }
  ~TSDLKeyboard() override {
    if (!Ok) return;
    SDL_DelEventWatch(&TSDLKeyboard::Watch, this);
    SDL_QuitSubSystem(SDL_INIT_EVENTS);
  }
  const bool Ok;
  HRESULT ReadKeys(uint8_t keys[256]) override {
    int n = 0;
    const Uint8* s = SDL_GetKeyboardState(&n);
    if (!s) return DIERR_NOTINITIALIZED;
    std::memset(keys, 0, 256);
    const TScanTable& t = ScanTable();
    for (int i = 0; i < n && i < SDL_NUM_SCANCODES; ++i)
      if (s[i] && t.Map[i]) keys[t.Map[i]] = 0x80;
    std::lock_guard<std::mutex> g(TapLock);
    for (int i = 0; i < 256; ++i) keys[i] |= Taps[i];
    std::memset(Taps, 0, sizeof(Taps));
    return DI_OK;
  }
  void ForgetPresses() override {
    std::lock_guard<std::mutex> g(TapLock);
    std::memset(Taps, 0, sizeof(Taps));
  }

private:
  // Runs on whichever thread pushes the event (the one pumping SDL's events, as a rule).
  static int SDLCALL Watch(void* self, SDL_Event* e) {
    if (e->type != SDL_KEYDOWN) return 0;
    const uint8_t key = DIKFromSDLScancode(e->key.keysym.scancode);
    if (key == 0) return 0;
    auto* k = static_cast<TSDLKeyboard*>(self);
    std::lock_guard<std::mutex> g(k->TapLock);
    k->Taps[key] = 0x80;
    return 0;
  }
  std::mutex TapLock;
  uint8_t Taps[256] = {};
};

class TKeyboardDevice : public IDirectInputDevice8 {
public:
  explicit TKeyboardDevice(std::shared_ptr<IKeyboardSource> source) : Source(std::move(source)) {}
  HRESULT SetDataFormat(const DIDATAFORMAT* format) override {
    if (Acquired) return DIERR_ACQUIRED;
    if (!format || format->dwDataSize != c_dfDIKeyboard.dwDataSize) return DIERR_INVALIDPARAM;
    DataSize = format->dwDataSize;
    return DI_OK;
  }
  HRESULT SetCooperativeLevel(DIWINDOW window, uint32_t flags) override {
    if (Acquired) return DIERR_ACQUIRED;
    if (!window) return DIERR_INVALIDPARAM;
    const uint32_t excl = flags & (DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE);
    const uint32_t fore = flags & (DISCL_FOREGROUND | DISCL_BACKGROUND);
    if ((excl != DISCL_EXCLUSIVE && excl != DISCL_NONEXCLUSIVE) ||
        (fore != DISCL_FOREGROUND && fore != DISCL_BACKGROUND))
      return DIERR_INVALIDPARAM;
    Window = window;
    Foreground = fore == DISCL_FOREGROUND;
    return DI_OK;
  }
  HRESULT Acquire() override {
    if (DataSize == 0) return DIERR_INVALIDPARAM;
    if (Acquired) return DI_NOEFFECT;
    if (Foreground && Window && !Window->Focused()) return DIERR_OTHERAPPHASPRIO;
    Acquired = true;
    LossesAtAcquire = Window ? Window->Losses() : 0;
    Source->ForgetPresses();
    return DI_OK;
  }
  HRESULT Unacquire() override {
    if (!Acquired) return DI_NOEFFECT;
    Acquired = false;
    return DI_OK;
  }
  HRESULT GetDeviceState(uint32_t size, void* data) override {
    if (!data || size != DataSize || DataSize == 0) return DIERR_INVALIDPARAM;
    if (!Acquired) return DIERR_NOTACQUIRED;
    if (Foreground && Window && (!Window->Focused() || Window->Losses() != LossesAtAcquire)) {
      Acquired = false;
      return DIERR_INPUTLOST;
    }
    uint8_t keys[256];
    HRESULT r = Source->ReadKeys(keys);
    if (r < 0) return r;
    std::memcpy(data, keys, 256);
    return DI_OK;
  }

private:
  std::shared_ptr<IKeyboardSource> Source;
  uint32_t DataSize = 0;
  DIWINDOW Window = nullptr;
  bool Foreground = false;
  bool Acquired = false;
  uint32_t LossesAtAcquire = 0;
};

class TDirectInput8 : public IDirectInput8 {
public:
  explicit TDirectInput8(std::shared_ptr<IKeyboardSource> source) : Source(std::move(source)) {}
  HRESULT CreateDevice(TDIDevice device, std::unique_ptr<IDirectInputDevice8>* out, void* outer) override {
    if (!out) return DIERR_INVALIDPARAM;
    out->reset();
    if (outer) return DIERR_NOINTERFACE;
    if (device != TDIDevice::SysKeyboard) return DIERR_DEVICENOTREG;
    *out = std::make_unique<TKeyboardDevice>(Source);
    return DI_OK;
  }

private:
  std::shared_ptr<IKeyboardSource> Source;  // shared with the devices, which may outlive this object
};
}  // namespace

HRESULT DirectInput8Create(HMODULE instance, uint32_t version, TDIInterface iid, std::unique_ptr<IDirectInput8>* out,
                           void* outer) {
  if (!out) return DIERR_INVALIDPARAM;
  out->reset();
  if (!instance) return DIERR_INVALIDPARAM;
  if (version < DIRECTINPUT_VERSION) return DIERR_OLDDIRECTINPUTVERSION;
  if (version > DIRECTINPUT_VERSION) return DIERR_BETADIRECTINPUTVERSION;
  if (iid != TDIInterface::DirectInput8A || outer) return DIERR_NOINTERFACE;
  IKeyboardSource* source;
  {
    std::lock_guard<std::mutex> g(SourceLock);
    source = Source;
  }
  std::shared_ptr<IKeyboardSource> shared;
  if (source) {
    shared = std::shared_ptr<IKeyboardSource>(source, [](IKeyboardSource*) {});  // the caller's
  } else {
    auto sdl = std::make_shared<TSDLKeyboard>();
    if (!sdl->Ok) return DIERR_GENERIC;
    shared = sdl;
  }
  *out = std::make_unique<TDirectInput8>(std::move(shared));
  return DI_OK;
}

TDirectInput8CreateProc pDirectInput8Create = &DirectInput8Create;

const char* DIResultText(HRESULT r) {
  switch (r) {
    case DI_OK: return "The operation completed successfully.";
    case DI_NOEFFECT: return "The operation had no effect.";
    case DIERR_ACQUIRED: return "The operation cannot be performed while the device is acquired.";
    case DIERR_DEVICENOTREG: return "The device is not registered.";
    case DIERR_GENERIC: return "An undetermined error occurred in the input subsystem.";
    case DIERR_INPUTLOST: return "Access to the input device has been lost. It must be reacquired.";
    case DIERR_INVALIDPARAM: return "An invalid parameter was passed to the returning function.";
    case DIERR_NOINTERFACE: return "The object does not support the requested interface.";
    case DIERR_NOTACQUIRED: return "The operation cannot be performed unless the device is acquired.";
    case DIERR_NOTINITIALIZED: return "The object has not been initialized.";
    case DIERR_OLDDIRECTINPUTVERSION: return "The application requires a newer version of the input subsystem.";
    case DIERR_BETADIRECTINPUTVERSION: return "The application was written for an unsupported version of the input subsystem.";
    case DIERR_OTHERAPPHASPRIO: return "Another application has a higher priority level, preventing this call from succeeding.";
    default: return "Unknown input error.";
  }
}

void SetKeyboardSource(IKeyboardSource* source) {
  std::lock_guard<std::mutex> g(SourceLock);
  Source = source;
}

uint8_t DIKFromSDLScancode(int scancode) {
  if (scancode < 0 || scancode >= SDL_NUM_SCANCODES) return 0;
  return ScanTable().Map[scancode];
}
