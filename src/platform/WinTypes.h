#pragma once
// Scalar and geometry types that the platform stand-ins share (the Win32 names the engine code
// reads). Keep one definition here: two stand-ins with their own DWORD or RECT would clash.
#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using INT = int32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using BOOL = int32_t;
using HRESULT = int32_t;  // failure when the sign bit is set

inline bool FAILED(HRESULT hr) { return hr < 0; }
inline bool SUCCEEDED(HRESULT hr) { return hr >= 0; }

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_NOTIMPL = int32_t(0x80004001u);
constexpr HRESULT E_POINTER = int32_t(0x80004003u);
constexpr HRESULT E_FAIL = int32_t(0x80004005u);
constexpr HRESULT E_OUTOFMEMORY = int32_t(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = int32_t(0x80070057u);

struct RECT {
  LONG left = 0, top = 0, right = 0, bottom = 0;
};
struct POINT {
  LONG x = 0, y = 0;
};

struct GUID {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0, Data3 = 0;
  uint8_t Data4[8] = {};
};

// Windows are SDL windows on this platform.
struct SDL_Window;
using HWND = SDL_Window*;
using HMONITOR = uintptr_t;  // 0: none
