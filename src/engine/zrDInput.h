#pragma once
// The game's keyboard: the input object (TzrDI8) and the keyboard device (TzrDIKeyboard) whose
// 256-byte state, indexed by DirectInput key codes, the game reads once per frame. A loss of
// input (the window lost the focus) is no error: the owner hears of it once per loss.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/Exceptions.h"
#include "platform/DInput.h"
#include "platform/Modules.h"

class EDirectInputError : public Exception {
public:
  EDirectInputError(std::string message, HRESULT code) : Exception(std::move(message)), ErrorCode(code) {}
  HRESULT ErrorCode;
};

// Own codes 0x81060001..0x8106000A and their messages; "Unrecognized Error" for others.
std::string DIErrorText(uint32_t code);
// Returns on a success code (sign bit clear); otherwise logs and raises EDirectInputError.
void CheckDIResult(HRESULT result, uint32_t ownCode, const std::string& context);
[[noreturn]] void RaiseDIError(uint32_t ownCode, const std::string& context);

class TzrDI8 {
public:
  explicit TzrDI8(HMODULE instance);
  std::unique_ptr<IDirectInput8> DirectInput;
};

class TzrDIDevice {
public:
  TzrDIDevice() = default;
  virtual ~TzrDIDevice();
  TzrDIDevice(const TzrDIDevice&) = delete;
  TzrDIDevice& operator=(const TzrDIDevice&) = delete;
  // Acquires or unacquires; the flag follows only a success. The result is not checked.
  HRESULT SetAcquired(bool value);

  std::unique_ptr<IDirectInputDevice8> Device;
  bool Acquired = false;
  bool LostReported = false;
  std::function<void(TzrDIDevice* sender)> OnInputLost;
};

class TzrDIKeyboard : public TzrDIDevice {
public:
  // The game window passes DISCL_EXCLUSIVE | DISCL_FOREGROUND (5) and its focus.
  TzrDIKeyboard(TzrDI8* di8, uint32_t cooperativeFlags, DIWINDOW window);
  // Fills 256 bytes; a key is down when its byte has the bit 0x80. Acquires on demand.
  void GetState(uint8_t* buffer);
};
