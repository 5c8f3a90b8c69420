#include "game/OptionsDialog.h"

#include <cstring>

#include "base/Exceptions.h"
#include "game/Options.h"

namespace {
// The track bars hold their position inside their range, whatever the record says.
int Clamp(int v, int hi) { return v < 0 ? 0 : v > hi ? hi : v; }
}  // namespace

bool IsTrueColorFormat(uint32_t format) {
  return format == D3DFMT_R8G8B8 || format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8;
}

void OptionsConfirmDevice(const D3DCAPS8& caps, DWORD behavior, D3DFORMAT, bool& accept) {
  if (behavior != D3DCREATE_SOFTWARE_VERTEXPROCESSING ||
      !(caps.DevCaps & D3DDEVCAPS_DRAWPRIMTLVERTEX) || !(caps.SrcBlendCaps & D3DPBLENDCAPS_ONE) ||
      !(caps.DestBlendCaps & D3DPBLENDCAPS_INVSRCALPHA))
    accept = false;
}

void OptionsConfirmMode(const D3DDISPLAYMODE& mode, bool& accept) {
  if (mode.Width != 800 || mode.Height != 600) accept = false;
}

TzrD3DDeviceInfo* FindSelectedDevice(const TzrD3D8* direct3D) {
  if (!direct3D) return nullptr;
  for (const auto& adapter : direct3D->Adapters)
    for (const auto& device : adapter->Devices)
      if (adapter->AdapterOrdinal == GameEnvironment.AdapterNumber &&
          int32_t(device->DeviceType) == GameEnvironment.DeviceType)
        return device.get();
  return nullptr;
}

bool HasSelectedDevice(const TzrD3D8* direct3D) {
  return FindSelectedDevice(direct3D) && GameEnvironment.DisplayMode != dmNone;
}

bool IsWindowed() { return GameEnvironment.DisplayMode == dmWindow; }

void GetSelectedDisplayMode(const TzrD3D8* direct3D, TzrD3DMode& mode) {
  mode = TzrD3DMode{};
  const TzrD3DDeviceInfo* device = FindSelectedDevice(direct3D);
  if (!device) return;
  switch (GameEnvironment.DisplayMode) {
    case dmWindow:
      // Without windowed rendering the record holds no format: keep it all zeros.
      if (device->CanDoWindowed) {
        mode = device->WindowedMode;
        mode.Width = 800;
        mode.Height = 600;
      }
      return;
    case dmFullscreen16:
    case dmFullscreen32: {
      const bool trueColor = GameEnvironment.DisplayMode == dmFullscreen32;
      for (const TzrD3DMode& m : device->Modes)
        if (IsTrueColorFormat(m.Format) == trueColor) {
          mode = m;
          return;
        }
      return;
    }
    default:
      return;
  }
}

void TGameOptionsDialog::FormCreate() {
  LoadSettings();
  ListDevices();
}

void TGameOptionsDialog::ListDevices() {
  cbxDevice.clear();
  cbxDeviceIndex = -1;
  if (Direct3D) {
    Direct3D->OnConfirmDevice = OptionsConfirmDevice;
    Direct3D->OnConfirmMode = OptionsConfirmMode;
    // A machine without a usable adapter must still start (and offer no game): the failure is
    // already in the log, the list just stays short or empty.
    try {
      Direct3D->EnumAdapters();
    } catch (const Exception&) {
    }
    for (const auto& adapter : Direct3D->Adapters) {
      const char* desc = adapter->Identifier.Description;
      std::string text(desc, strnlen(desc, sizeof adapter->Identifier.Description));
      for (const auto& device : adapter->Devices)
        if (device->DeviceType == D3DDEVTYPE_HAL) cbxDevice.push_back({text, device.get()});
    }
  }
  NoDevice = cbxDevice.empty();
}

void TGameOptionsDialog::FormShow() {
  PageIndex = 0;
  tbarMusic = Clamp(GameEnvironment.MusicVolume, kVolumeMax);
  tbarSoundFX = Clamp(GameEnvironment.SoundFXVolume, kVolumeMax);
  CheckDisplayMode(GameEnvironment.DisplayMode);
  ShownDisplayMode = GameEnvironment.DisplayMode;
  cbxDeviceIndex = cbxDevice.empty() ? -1 : 0;
  FoundDevice = FindSelectedDevice();
  for (size_t i = 0; i < cbxDevice.size(); ++i)
    if (cbxDevice[i].Device == FoundDevice) cbxDeviceIndex = int(i);
  UpdateModeButtons(SelectedDevice());
  tbrGraphicsDetail = Clamp(GameEnvironment.GraphicsDetail, kGraphicsDetailMax);
  tbrSmokeDensity = Clamp(GameEnvironment.SmokeDensity, kSmokeDensityMax);
  // A mode the device cannot do is dropped here.
  GameEnvironment.DisplayMode = uint8_t(CheckedMode());
  actOKUpdate();
}

void TGameOptionsDialog::FormDestroy() { SaveSettings(); }

void TGameOptionsDialog::cbxDeviceChange() {
  UpdateModeButtons(SelectedDevice());
  actOKUpdate();
}

void TGameOptionsDialog::BtCancelClick() { MayClose = true; }

void TGameOptionsDialog::actOkExecute() {
  MayClose = true;
  GameEnvironment.MusicVolume = tbarMusic;
  GameEnvironment.SoundFXVolume = tbarSoundFX;
  GameEnvironment.GraphicsDetail = uint8_t(tbrGraphicsDetail);
  GameEnvironment.SmokeDensity = tbrSmokeDensity;
  if (const TzrD3DDeviceInfo* device = SelectedDevice()) {
    GameEnvironment.AdapterNumber = device->Owner->AdapterOrdinal;
    GameEnvironment.DeviceType = int32_t(device->DeviceType);
  }
  GameEnvironment.DisplayMode = uint8_t(CheckedMode());
  SaveSettings();
}

void TGameOptionsDialog::actOKUpdate() { actOkEnabled = CheckedMode() != dmNone; }

void TGameOptionsDialog::CheckDisplayMode(int displayMode) {
  rbtnWindow.Checked = displayMode == dmWindow;
  rbtnFullscreen16.Checked = displayMode == dmFullscreen16;
  rbtnFullscreen32.Checked = displayMode == dmFullscreen32;
  actOKUpdate();
}

int TGameOptionsDialog::CheckedMode() const {
  int mode = dmNone;
  if (rbtnWindow.Enabled && rbtnWindow.Checked) mode = dmWindow;
  if (rbtnFullscreen16.Enabled && rbtnFullscreen16.Checked) mode = dmFullscreen16;
  if (rbtnFullscreen32.Enabled && rbtnFullscreen32.Checked) mode = dmFullscreen32;
  return mode;
}

TzrD3DDeviceInfo* TGameOptionsDialog::SelectedDevice() const {
  if (cbxDeviceIndex < 0 || cbxDeviceIndex >= int(cbxDevice.size())) return nullptr;
  return cbxDevice[size_t(cbxDeviceIndex)].Device;
}

void TGameOptionsDialog::UpdateModeButtons(const TzrD3DDeviceInfo* device) {
  rbtnWindow.Enabled = device && device->CanDoWindowed;
  rbtnFullscreen16.Enabled = false;
  rbtnFullscreen32.Enabled = false;
  if (!device) return;
  for (const TzrD3DMode& m : device->Modes)
    (IsTrueColorFormat(m.Format) ? rbtnFullscreen32 : rbtnFullscreen16).Enabled = true;
}
