#pragma once
// DirectInput 8 stand-in: the system keyboard as a device whose state is 256 bytes, one per
// DirectInput key code (the PC keyboard's scan codes; extended keys carry the high bit), 0x80
// while the key is down. Keys come from SDL2's keyboard state, or from a fake for tests.
//
// Focus: the window a device cooperates with is a TInputFocus, which its owner (the game
// window, from its SDL focus events) keeps up to date. A foreground device loses its
// acquisition when the focus goes: the next read fails with DIERR_INPUTLOST, later ones with
// DIERR_NOTACQUIRED, and Acquire fails until the focus is back.
#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/Modules.h"

using HRESULT = int32_t;

enum : HRESULT {
  DI_OK = 0,
  DI_NOEFFECT = 1,
  DIERR_ACQUIRED = static_cast<HRESULT>(0x800700AA),
  DIERR_DEVICENOTREG = static_cast<HRESULT>(0x80040154),
  DIERR_GENERIC = static_cast<HRESULT>(0x80004005),
  DIERR_INPUTLOST = static_cast<HRESULT>(0x8007001E),
  DIERR_INVALIDPARAM = static_cast<HRESULT>(0x80070057),
  DIERR_NOINTERFACE = static_cast<HRESULT>(0x80004002),
  DIERR_NOTACQUIRED = static_cast<HRESULT>(0x8007000C),
  DIERR_NOTINITIALIZED = static_cast<HRESULT>(0x80070015),
  DIERR_OLDDIRECTINPUTVERSION = static_cast<HRESULT>(0x8007047E),
  DIERR_BETADIRECTINPUTVERSION = static_cast<HRESULT>(0x80070481),
  DIERR_OTHERAPPHASPRIO = static_cast<HRESULT>(0x80070005),
};

constexpr uint32_t DIRECTINPUT_VERSION = 0x0800;

// Cooperative flags.
constexpr uint32_t DISCL_EXCLUSIVE = 0x01;
constexpr uint32_t DISCL_NONEXCLUSIVE = 0x02;
constexpr uint32_t DISCL_FOREGROUND = 0x04;
constexpr uint32_t DISCL_BACKGROUND = 0x08;
constexpr uint32_t DISCL_NOWINKEY = 0x10;

// Interfaces and devices that can be asked for.
enum class TDIInterface { DirectInput8A, DirectInput8W };
enum class TDIDevice { SysKeyboard, SysMouse };
constexpr TDIInterface IID_IDirectInput8A = TDIInterface::DirectInput8A;
constexpr TDIDevice GUID_SysKeyboard = TDIDevice::SysKeyboard;
constexpr TDIDevice GUID_SysMouse = TDIDevice::SysMouse;

struct DIDATAFORMAT {
  uint32_t dwDataSize;
};
extern const DIDATAFORMAT c_dfDIKeyboard;  // 256 bytes

// The input focus of one window.
class TInputFocus {
public:
  void SetFocused(bool focused);
  bool Focused() const { return Has.load(); }
  // Counts focus losses, so a loss between two reads is noticed even when the focus is back.
  uint32_t Losses() const { return LossCount.load(); }

private:
  std::atomic<bool> Has{true};
  std::atomic<uint32_t> LossCount{0};
};
using DIWINDOW = TInputFocus*;

class IDirectInputDevice8 {
public:
  virtual ~IDirectInputDevice8() = default;
  virtual HRESULT SetDataFormat(const DIDATAFORMAT* format) = 0;
  virtual HRESULT SetCooperativeLevel(DIWINDOW window, uint32_t flags) = 0;
  virtual HRESULT Acquire() = 0;
  virtual HRESULT Unacquire() = 0;
  virtual HRESULT GetDeviceState(uint32_t size, void* data) = 0;
};

class IDirectInput8 {
public:
  virtual ~IDirectInput8() = default;
  virtual HRESULT CreateDevice(TDIDevice device, std::unique_ptr<IDirectInputDevice8>* out, void* outer) = 0;
};

using TDirectInput8CreateProc = HRESULT (*)(HMODULE instance, uint32_t version, TDIInterface iid,
                                            std::unique_ptr<IDirectInput8>* out, void* outer);
HRESULT DirectInput8Create(HMODULE instance, uint32_t version, TDIInterface iid, std::unique_ptr<IDirectInput8>* out,
                           void* outer);
// The creation entry as the platform provides it; nullptr stands for a machine without it.
extern TDirectInput8CreateProc pDirectInput8Create;
// The platform's description of a result code.
const char* DIResultText(HRESULT result);

// Where keyboards created from now on read their keys.
class IKeyboardSource {
public:
  virtual ~IKeyboardSource() = default;
  // Fills 256 bytes by key code; a failure result leaves them as they were.
  virtual HRESULT ReadKeys(uint8_t keys[256]) = 0;
  // A device (re)acquires: presses seen before belong to the time without the focus.
  virtual void ForgetPresses() {}
};
// nullptr: SDL's keyboard state (updated by whoever pumps SDL's events, the game window); a
// key that went down since the previous read reads as down even when already released.
void SetKeyboardSource(IKeyboardSource* source);

// A keyboard for tests: keys are pressed and released by hand.
class TFakeKeyboard : public IKeyboardSource {
public:
  void Press(uint8_t key) { Keys[key] = 0x80; }
  void Release(uint8_t key) { Keys[key] = 0; }
  void ReleaseAll();
  // The next `count` reads fail with `result`.
  void FailReads(HRESULT result, int count);
  HRESULT ReadKeys(uint8_t keys[256]) override;

private:
  uint8_t Keys[256] = {};
  HRESULT FailResult = DI_OK;
  int FailCount = 0;
};

// The key code of an SDL scan code; 0 when the key has none.
uint8_t DIKFromSDLScancode(int scancode);

// Key codes.
enum : uint8_t {
  DIK_ESCAPE = 0x01, DIK_1 = 0x02, DIK_2 = 0x03, DIK_3 = 0x04, DIK_4 = 0x05, DIK_5 = 0x06, DIK_6 = 0x07,
  DIK_7 = 0x08, DIK_8 = 0x09, DIK_9 = 0x0A, DIK_0 = 0x0B, DIK_MINUS = 0x0C, DIK_EQUALS = 0x0D, DIK_BACK = 0x0E,
  DIK_TAB = 0x0F, DIK_Q = 0x10, DIK_W = 0x11, DIK_E = 0x12, DIK_R = 0x13, DIK_T = 0x14, DIK_Y = 0x15,
  DIK_U = 0x16, DIK_I = 0x17, DIK_O = 0x18, DIK_P = 0x19, DIK_LBRACKET = 0x1A, DIK_RBRACKET = 0x1B,
  DIK_RETURN = 0x1C, DIK_LCONTROL = 0x1D, DIK_A = 0x1E, DIK_S = 0x1F, DIK_D = 0x20, DIK_F = 0x21, DIK_G = 0x22,
  DIK_H = 0x23, DIK_J = 0x24, DIK_K = 0x25, DIK_L = 0x26, DIK_SEMICOLON = 0x27, DIK_APOSTROPHE = 0x28,
  DIK_GRAVE = 0x29, DIK_LSHIFT = 0x2A, DIK_BACKSLASH = 0x2B, DIK_Z = 0x2C, DIK_X = 0x2D, DIK_C = 0x2E,
  DIK_V = 0x2F, DIK_B = 0x30, DIK_N = 0x31, DIK_M = 0x32, DIK_COMMA = 0x33, DIK_PERIOD = 0x34, DIK_SLASH = 0x35,
  DIK_RSHIFT = 0x36, DIK_MULTIPLY = 0x37, DIK_LMENU = 0x38, DIK_SPACE = 0x39, DIK_CAPITAL = 0x3A,
  DIK_F1 = 0x3B, DIK_F2 = 0x3C, DIK_F3 = 0x3D, DIK_F4 = 0x3E, DIK_F5 = 0x3F, DIK_F6 = 0x40, DIK_F7 = 0x41,
  DIK_F8 = 0x42, DIK_F9 = 0x43, DIK_F10 = 0x44, DIK_NUMLOCK = 0x45, DIK_SCROLL = 0x46, DIK_NUMPAD7 = 0x47,
  DIK_NUMPAD8 = 0x48, DIK_NUMPAD9 = 0x49, DIK_SUBTRACT = 0x4A, DIK_NUMPAD4 = 0x4B, DIK_NUMPAD5 = 0x4C,
  DIK_NUMPAD6 = 0x4D, DIK_ADD = 0x4E, DIK_NUMPAD1 = 0x4F, DIK_NUMPAD2 = 0x50, DIK_NUMPAD3 = 0x51,
  DIK_NUMPAD0 = 0x52, DIK_DECIMAL = 0x53, DIK_OEM_102 = 0x56, DIK_F11 = 0x57, DIK_F12 = 0x58, DIK_F13 = 0x64,
  DIK_F14 = 0x65, DIK_F15 = 0x66, DIK_KANA = 0x70, DIK_ABNT_C1 = 0x73, DIK_CONVERT = 0x79, DIK_NOCONVERT = 0x7B,
  DIK_YEN = 0x7D, DIK_ABNT_C2 = 0x7E, DIK_NUMPADEQUALS = 0x8D, DIK_PREVTRACK = 0x90, DIK_NEXTTRACK = 0x99,
  DIK_NUMPADENTER = 0x9C, DIK_RCONTROL = 0x9D, DIK_MUTE = 0xA0, DIK_CALCULATOR = 0xA1, DIK_PLAYPAUSE = 0xA2,
  DIK_MEDIASTOP = 0xA4, DIK_VOLUMEDOWN = 0xAE, DIK_VOLUMEUP = 0xB0, DIK_WEBHOME = 0xB2, DIK_NUMPADCOMMA = 0xB3,
  DIK_DIVIDE = 0xB5, DIK_SYSRQ = 0xB7, DIK_RMENU = 0xB8, DIK_PAUSE = 0xC5, DIK_HOME = 0xC7, DIK_UP = 0xC8,
  DIK_PRIOR = 0xC9, DIK_LEFT = 0xCB, DIK_RIGHT = 0xCD, DIK_END = 0xCF, DIK_DOWN = 0xD0, DIK_NEXT = 0xD1,
  DIK_INSERT = 0xD2, DIK_DELETE = 0xD3, DIK_LWIN = 0xDB, DIK_RWIN = 0xDC, DIK_APPS = 0xDD, DIK_POWER = 0xDE,
  DIK_SLEEP = 0xDF, DIK_WEBSEARCH = 0xE5, DIK_WEBFAVORITES = 0xE6, DIK_WEBREFRESH = 0xE7, DIK_WEBSTOP = 0xE8,
  DIK_WEBFORWARD = 0xE9, DIK_WEBBACK = 0xEA, DIK_MYCOMPUTER = 0xEB, DIK_MAIL = 0xEC, DIK_MEDIASELECT = 0xED,
};
