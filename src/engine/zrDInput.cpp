#include "engine/zrDInput.h"

#include "base/SysUtils.h"
#include "engine/tools.h"

std::string DIErrorText(uint32_t code) {
  switch (code) {
    case 0x81060001: return "Direct Input 8 not installed";
    case 0x81060002: return "Failed to create Direct Input 8";
    case 0x81060003: return "Failed to create mouse device";
    case 0x81060004: return "Failed to set mouse format";
    case 0x81060005: return "Failed to set cooperative level";
    case 0x81060006: return "Failed to get buffer size";
    case 0x81060007: return "Failed to set buffer size";
    case 0x81060008: return "Index out of bounds";
    case 0x81060009: return "Failed to create keyboard device";
    case 0x8106000A: return "Failed to set keyboard format";
    default: return "Unrecognized Error";
  }
}

void CheckDIResult(HRESULT result, uint32_t ownCode, const std::string& context) {
  if (result >= 0) return;
  const std::string platform = DIResultText(result);
  const uint32_t code = static_cast<uint32_t>(result);
  if (ownCode != 0) {
    LogCode("DI $" + IntToHex(code, 8) + ": " + platform + " - " + DIErrorText(ownCode) + " " + context, ownCode);
    throw EDirectInputError(DIErrorText(ownCode), result);
  }
  LogCode(platform + " " + context, code);
  throw EDirectInputError(platform, result);
}

void RaiseDIError(uint32_t ownCode, const std::string& context) { LogAndRaise(DIErrorText(ownCode), ownCode, context); }

TzrDI8::TzrDI8(HMODULE instance) {
  if (!pDirectInput8Create) RaiseDIError(0x81060001, "");
  CheckDIResult(pDirectInput8Create(instance, DIRECTINPUT_VERSION, IID_IDirectInput8A, &DirectInput, nullptr),
                0x81060002, "");
}

TzrDIDevice::~TzrDIDevice() {
  if (Device) {
    Device->Unacquire();
    Device.reset();
  }
}

HRESULT TzrDIDevice::SetAcquired(bool value) {
  HRESULT r = value ? Device->Acquire() : Device->Unacquire();
  if (r >= 0) Acquired = value;
  return r;
}

TzrDIKeyboard::TzrDIKeyboard(TzrDI8* di8, uint32_t cooperativeFlags, DIWINDOW window) {
  CheckDIResult(di8->DirectInput->CreateDevice(GUID_SysKeyboard, &Device, nullptr), 0x81060009, "CreateDevice");
  CheckDIResult(Device->SetDataFormat(&c_dfDIKeyboard), 0x8106000A, "SetDataFormat");
  CheckDIResult(Device->SetCooperativeLevel(window, cooperativeFlags), 0x81060005, "SetCooperativeLevel");
}

void TzrDIKeyboard::GetState(uint8_t* buffer) {
  HRESULT r = Device->GetDeviceState(256, buffer);
  if (r < 0) {
    SetAcquired(true);
    r = Device->GetDeviceState(256, buffer);
  }
  if (r != DIERR_INPUTLOST && r != DIERR_NOTACQUIRED) {
    LostReported = false;
    CheckDIResult(r, 0, "");
    return;
  }
  if (!LostReported && OnInputLost) OnInputLost(this);
  LostReported = true;
}
