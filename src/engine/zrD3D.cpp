// Result checks, enumeration and the rendering device of the Direct3D 8 layer.
#include "engine/zrD3D.h"

#include <algorithm>
#include <cstdio>

#include "base/SysUtils.h"
#include "engine/tools.h"

// ---- error codes and checks -----------------------------------------------------------------

std::string D3DErrorText(uint32_t code) {
  switch (code) {
    case 0x81000001: return "Format not supported";
    case 0x81000002: return "There's no valid texture format available";
    case 0x81000003: return "Failed to create texture";
    case 0x81000004: return "Image stretching relation is not an integer value";
    case 0x81000005: return "DirectX 8 Runtime not installed";
    case 0x81000006: return "Could not Create Direct3D8!";
    case 0x81000007: return "Could not find any compatible Direct3D adapters.";
    case 0x81000008: return "Too many modes";
    case 0x81000009: return "Too many formats";
    case 0x8100000A: return "Failed to create device";
    case 0x8100000B: return "Too many simultaneous quads on end scene";
    case 0x8100000C: return "Failed to create vertex buffer";
    case 0x8100000D: return "Image file has an invalid format";
    case 0x8100000E: return "Image file has an invalid size";
    case 0x8100000F: return "Invalid function parameters";
    case 0x81000010: return "Different image and mask images";
    case 0x81000011: return "Could not Recreate Direct3D8!";
    case 0x81000012: return "Failed to create index buffer";
    case 0x81000014:
      return "DirectX 8 Runtime not installed, you have DirectX 8 SDK installed instead.";
    default: return "Unrecognized Error";
  }
}

void CheckD3DResult(HRESULT result, uint32_t ownCode, std::string_view contextView) {
  if (!FAILED(result)) return;
  const std::string context(contextView);
  std::string dxText = D3DResultDescription(result);
  if (ownCode == 0) {
    LogCode(dxText + " " + context, uint32_t(result));
    throw EDirect3DError(dxText, uint32_t(result));
  }
  std::string ownText = D3DErrorText(ownCode);
  LogCode("D3D $" + IntToHex(uint32_t(result), 8) + ": " + dxText + " - " + ownText + " " + context,
          ownCode);
  throw EDirect3DError(ownText, uint32_t(result));
}

void RaiseD3DError(uint32_t ownCode, const std::string& context) {
  LogAndRaise(D3DErrorText(ownCode), ownCode, context);
}

std::string FormatName(uint32_t format) {
  switch (format) {
    case D3DFMT_UNKNOWN: return "Unknown";
    case D3DFMT_R8G8B8: return "R8G8B8";
    case D3DFMT_A8R8G8B8: return "A8R8G8B8";
    case D3DFMT_X8R8G8B8: return "X8R8G8B8";
    case D3DFMT_R5G6B5: return "R5G6B5";
    case D3DFMT_X1R5G5B5: return "X1R5G5B5";
    case D3DFMT_A1R5G5B5: return "A1R5G5B5";
    case D3DFMT_A4R4G4B4: return "A4R4G4B4";
    case D3DFMT_R3G3B2: return "R3G3B2";
    case D3DFMT_A8: return "A8";
    case D3DFMT_A8R3G3B2: return "A8R3G3B2";
    case D3DFMT_X4R4G4B4: return "X4R4G4B4";
    case D3DFMT_A8P8: return "A8P8";
    case D3DFMT_P8: return "P8";
    case D3DFMT_L8: return "L8";
    case D3DFMT_A8L8: return "A8L8";
    case D3DFMT_A4L4: return "A4L4";
    case D3DFMT_V8U8: return "V8U8";
    case D3DFMT_L6V5U5: return "L6V5U5";
    case D3DFMT_X8L8V8U8: return "X8L8V8U8";
    case D3DFMT_Q8W8V8U8: return "Q8W8V8U8";
    case D3DFMT_V16U16: return "V16U16";
    case D3DFMT_W11V11U10: return "W11V11U10";
    case D3DFMT_D16_LOCKABLE: return "D16_LOCKABLE";
    case D3DFMT_D32: return "D32";
    case D3DFMT_D15S1: return "D15S1";
    case D3DFMT_D24S8: return "D24S8";
    case D3DFMT_D24X8: return "D24X8";
    case D3DFMT_D24X4S4: return "D24X4S4";
    case D3DFMT_D16: return "D16";
    case D3DFMT_VERTEXDATA: return "VERTEXDATA";
    case D3DFMT_INDEX16: return "INDEX16";
    case D3DFMT_INDEX32: return "INDEX32";
    case D3DFMT_FORCE_DWORD: return "FORCE_DWORD";
    default: break;
  }
  if (format == D3DFMT_UYVY) return "UYVY";
  if (format == D3DFMT_YUY2) return "YUY2";
  if (format == D3DFMT_DXT1) return "DXT1";
  if (format == D3DFMT_DXT2) return "DXT2";
  if (format == D3DFMT_DXT3) return "DXT3";
  if (format == D3DFMT_DXT4) return "DXT4";
  if (format == D3DFMT_DXT5) return "DXT5";
  return "Invalid";
}

namespace {

std::string MessageOf(const std::exception& e) {
  if (auto* x = dynamic_cast<const Exception*>(&e)) return x->Message;
  return e.what();
}

std::string Dec(int64_t v) { return IntToStr(v); }

std::string Hex8(uint32_t v) { return IntToHex(v, 8); }

// A float as the class library prints it: up to 15 significant digits, exponent as "E20".
std::string FloatText(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", v);
  std::string s = buf;
  size_t e = s.find('E');
  if (e == std::string::npos) return s;
  std::string mant = s.substr(0, e);
  std::string ex = s.substr(e + 1);
  bool neg = !ex.empty() && ex[0] == '-';
  if (!ex.empty() && (ex[0] == '+' || ex[0] == '-')) ex.erase(0, 1);
  ex.erase(0, std::min(ex.find_first_not_of('0'), ex.size() - 1));
  return mant + "E" + (neg ? "-" : "") + ex;
}

std::string GUIDText(const GUID& g) {
  return Format("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
}

// Copies a fixed character field that may lack its terminator.
template <size_t N>
std::string Field(const char (&s)[N]) {
  size_t n = 0;
  while (n < N && s[n]) ++n;
  return std::string(s, n);
}

}  // namespace

// ---- enumeration ----------------------------------------------------------------------------

TzrD3D8::TzrD3D8() {
  ID3D8Runtime& runtime = D3D8Runtime();
  if (!runtime.RuntimeLoaded()) {
    if (runtime.DebugRuntimeLoadable()) RaiseD3DError(D3DERR_OWN_SDKINSTEAD);
    RaiseD3DError(D3DERR_OWN_NORUNTIME);
  }
  Log("Create Direct3D 8", ltCheckpoint);
  Direct3D = TComPtr<IDirect3D8>::Adopt(Direct3DCreate8(D3D_SDK_VERSION));
  if (!Direct3D) RaiseD3DError(D3DERR_OWN_CREATEDIRECT3D);
}

TzrD3D8::~TzrD3D8() {
  Monitors.clear();
  Adapters.clear();
  Direct3D.Reset();
}

void TzrD3D8::EnumMonitors() {
  Monitors.clear();
  for (DWORD i = 0;; ++i) {
    DISPLAY_DEVICE adapter;
    if (!EnumDisplayDevices(nullptr, i, &adapter)) break;
    if (adapter.StateFlags & DISPLAY_DEVICE_MIRRORING_DRIVER) continue;
    DISPLAY_DEVICE monitor;
    bool hasMonitor = EnumDisplayDevices(adapter.DeviceName, 0, &monitor);
    auto info = std::make_unique<TzrD3DMonitorInfo>();
    info->Device = Field(adapter.DeviceString);
    info->Name = hasMonitor ? Field(monitor.DeviceString) : std::string();
    if (adapter.StateFlags & DISPLAY_DEVICE_ATTACHED_TO_DESKTOP) {
      DEVMODE settings;
      if (EnumDisplaySettings(adapter.DeviceName, ENUM_CURRENT_SETTINGS, &settings)) {
        POINT topLeft = (adapter.StateFlags & DISPLAY_DEVICE_PRIMARY_DEVICE) ? POINT{0, 0}
                                                                             : settings.dmPosition;
        info->DesktopRect = RECT{topLeft.x, topLeft.y, topLeft.x + LONG(settings.dmPelsWidth),
                                 topLeft.y + LONG(settings.dmPelsHeight)};
      }
      info->Monitor = MonitorFromRect(&info->DesktopRect, MONITOR_DEFAULTTONULL);
    }
    Log("Monitor: Name=" + info->Name + " / Device=" + info->Device, ltInfo);
    Monitors.push_back(std::move(info));
  }
}

void TzrD3D8::EnumAdapters() {
  Adapters.clear();
  EnumMonitors();
  UINT count = Direct3D->GetAdapterCount();
  for (UINT i = 0; i < count; ++i) {
    try {
      Adapters.push_back(std::make_unique<TzrD3DAdapterInfo>(this, int(i)));
    } catch (const std::exception& e) {
      Log("Failed to add adapter: " + MessageOf(e), ltInfo);
    }
  }
  if (Adapters.empty()) RaiseD3DError(D3DERR_OWN_NOADAPTERS);
}

D3DFORMAT TzrD3D8::FindDepthFormat(int adapterOrdinal, D3DDEVTYPE deviceType,
                                   D3DFORMAT adapterFormat) {
  const int d = MinDepthBits, s = MinStencilBits;
  struct {
    D3DFORMAT Format;
    bool Wanted;
  } candidates[] = {
      {D3DFMT_D16, d <= 16 && s == 0},   {D3DFMT_D15S1, d <= 15 && s <= 1},
      {D3DFMT_D24X8, d <= 24 && s == 0}, {D3DFMT_D24S8, d <= 24 && s <= 8},
      {D3DFMT_D24X4S4, d <= 24 && s <= 4}, {D3DFMT_D32, d <= 32 && s == 0},
  };
  for (const auto& c : candidates) {
    if (!c.Wanted) continue;
    if (FAILED(Direct3D->CheckDeviceFormat(UINT(adapterOrdinal), deviceType, adapterFormat,
                                           D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, c.Format)))
      continue;
    if (FAILED(Direct3D->CheckDepthStencilMatch(UINT(adapterOrdinal), deviceType, adapterFormat,
                                                adapterFormat, c.Format)))
      continue;
    return c.Format;
  }
  return D3DFMT_UNKNOWN;
}

TzrD3DAdapterInfo* TzrD3D8::GetAdapter(int index) const {
  if (index < 0 || index >= GetAdapterCount())
    throw EListError("List index out of bounds (" + Dec(index) + ")");
  return Adapters[size_t(index)].get();
}

TzrD3DMonitorInfo* TzrD3D8::GetMonitor(int index) const {
  if (index < 0 || index >= GetMonitorCount())
    throw EListError("List index out of bounds (" + Dec(index) + ")");
  return Monitors[size_t(index)].get();
}

void SortModes(D3DDISPLAYMODE* modes, int count) {
  auto comesFirst = [](const D3DDISPLAYMODE& a, const D3DDISPLAYMODE& b) {
    if (a.Format != b.Format) return a.Format > b.Format;
    if (a.Width != b.Width) return a.Width < b.Width;
    return a.Height < b.Height;
  };
  for (int i = 0; i < count; ++i)
    for (int j = i + 1; j < count; ++j)
      if (comesFirst(modes[j], modes[i])) std::swap(modes[i], modes[j]);
}

TzrD3DAdapterInfo::TzrD3DAdapterInfo(TzrD3D8* owner, int adapterOrdinal)
    : AdapterOrdinal(adapterOrdinal), Owner(owner) {
  IDirect3D8* d3d = owner->Direct3D.Get();
  const UINT ord = UINT(adapterOrdinal);
  CheckD3DResult(d3d->GetAdapterIdentifier(ord, 0, &Identifier), 0, "Getting Adapter Identifier");
  const uint32_t hi = uint32_t(uint64_t(Identifier.DriverVersion) >> 32);
  const uint32_t lo = uint32_t(uint64_t(Identifier.DriverVersion));
  Log("Adapter Info: Driver=" + Field(Identifier.Driver) + " / Description=" +
          Field(Identifier.Description) + " / Product=" + Dec(hi >> 16) + " / Version=" +
          Dec(hi & 0xFFFF) + " / SubVersion=" + Dec(lo >> 16) + " / Build=" + Dec(lo & 0xFFFF) +
          " / VendorId=" + Dec(Identifier.VendorId) + " / DeviceId=" + Dec(Identifier.DeviceId) +
          " / SubSysId=" + Dec(Identifier.SubSysId) + " / Revision=" + Dec(Identifier.Revision) +
          " / DeviceIdentifier=" + GUIDText(Identifier.DeviceIdentifier) +
          " / WHQLLevel=" + Dec(Identifier.WHQLLevel),
      ltInfo);

  const UINT modeCount = d3d->GetAdapterModeCount(ord);
  if (modeCount == 0) {
    Log("Invalid adapter. No modes.", ltInfo);
    Abort();
  }
  CheckD3DResult(d3d->GetAdapterDisplayMode(ord, &DesktopMode), 0, "Getting Display Mode");
  Log("Display Mode: Width=" + Dec(DesktopMode.Width) + " Height=" + Dec(DesktopMode.Height) +
          " Format=" + FormatName(DesktopMode.Format) + " ModeCount=" + Dec(modeCount),
      ltInfo);

  if (HMONITOR monitor = d3d->GetAdapterMonitor(ord)) {
    for (auto& m : owner->Monitors)
      if (m->Monitor == monitor) {
        MonitorInfo = m.get();
        break;
      }
  }

  std::vector<D3DFORMAT> formats{DesktopMode.Format};
  std::vector<D3DDISPLAYMODE> modes;
  for (UINT i = 0; i < modeCount; ++i) {
    D3DDISPLAYMODE mode;
    CheckD3DResult(d3d->EnumAdapterModes(ord, i, &mode), 0, "EnumAdapterModes");
    if (mode.Width < 640 || mode.Height < 400) continue;
    bool known = std::any_of(modes.begin(), modes.end(), [&](const D3DDISPLAYMODE& m) {
      return m.Width == mode.Width && m.Height == mode.Height && m.Format == mode.Format;
    });
    if (known) continue;
    if (owner->OnConfirmMode) {
      bool accept = true;
      owner->OnConfirmMode(mode, accept);
      if (!accept) continue;
    }
    mode.RefreshRate = 0;
    modes.push_back(mode);
    if (modes.size() == 120) RaiseD3DError(D3DERR_OWN_TOOMANYMODES);
    if (std::find(formats.begin(), formats.end(), mode.Format) == formats.end()) {
      formats.push_back(mode.Format);
      if (formats.size() == 20) RaiseD3DError(D3DERR_OWN_TOOMANYFORMATS);
    }
  }
  SortModes(modes.data(), int(modes.size()));

  try {
    Devices.push_back(std::make_unique<TzrD3DDeviceInfo>(this, D3DDEVTYPE_HAL, formats, modes));
  } catch (const std::exception& e) {
    Log("Failed to add device: " + MessageOf(e), ltInfo);
  }
  if (Devices.empty()) {
    Log("Could not find any compatible Direct3D devices on this adapter.", ltInfo);
    Abort();
  }
}

TzrD3DDeviceInfo* TzrD3DAdapterInfo::GetDevice(int index) const {
  if (index < 0 || index >= GetDeviceCount())
    throw EListError("List index out of bounds (" + Dec(index) + ")");
  return Devices[size_t(index)].get();
}

TzrD3DDeviceInfo::TzrD3DDeviceInfo(TzrD3DAdapterInfo* owner, D3DDEVTYPE deviceType,
                                   const std::vector<D3DFORMAT>& formats,
                                   const std::vector<D3DDISPLAYMODE>& modes)
    : DeviceType(deviceType), Owner(owner) {
  TzrD3D8* d3d8 = owner->Owner;
  IDirect3D8* d3d = d3d8->Direct3D.Get();
  const UINT ord = UINT(owner->AdapterOrdinal);
  if (FAILED(d3d->GetDeviceCaps(ord, deviceType, &Caps))) {
    Log("Failed to get Device Caps", ltInfo);
    Abort();
  }
  Log("Device capabilities: CursorCaps=" + Hex8(Caps.CursorCaps) + " / Caps=" + Hex8(Caps.Caps) +
          " / Caps2=" + Hex8(Caps.Caps2) + " / Caps3=" + Hex8(Caps.Caps3) +
          " / DevCaps=" + Hex8(Caps.DevCaps) + " / PrimitiveMiscCaps=" +
          Hex8(Caps.PrimitiveMiscCaps) + " / RasterCaps=" + Hex8(Caps.RasterCaps) +
          " / ZCmpCaps=" + Hex8(Caps.ZCmpCaps) + " / TextureCaps=" + Hex8(Caps.TextureCaps) +
          " / TextureFilterCaps=" + Hex8(Caps.TextureFilterCaps) +
          " / MaxTextureWidth=" + Dec(Caps.MaxTextureWidth) +
          " / MaxTextureHeight=" + Dec(Caps.MaxTextureHeight) +
          " / MaxTextureAspectRation=" + Dec(Caps.MaxTextureAspectRatio) +
          " / MaxVertexW=" + FloatText(Caps.MaxVertexW),
      ltInfo);

  struct TCandidate {
    D3DFORMAT Format;
    bool Ok = false;
    DWORD Behavior = 0;
    D3DFORMAT Depth = 0;
  };
  std::vector<TCandidate> candidates;
  for (D3DFORMAT f : formats) {
    TCandidate c{f};
    if (SUCCEEDED(d3d->CheckDeviceType(ord, deviceType, f, f, 0))) {
      auto tryBehavior = [&](DWORD behavior) {
        bool accept = true;
        if (d3d8->OnConfirmDevice) d3d8->OnConfirmDevice(Caps, behavior, f, accept);
        if (accept) c.Behavior = behavior;
        return accept;
      };
      if (Caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) {
        if (Caps.DevCaps & D3DDEVCAPS_PUREDEVICE)
          c.Ok = tryBehavior(D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE);
        if (!c.Ok) c.Ok = tryBehavior(D3DCREATE_HARDWARE_VERTEXPROCESSING);
        if (!c.Ok) c.Ok = tryBehavior(D3DCREATE_MIXED_VERTEXPROCESSING);
      }
      if (!c.Ok) c.Ok = tryBehavior(D3DCREATE_SOFTWARE_VERTEXPROCESSING);
      if (c.Ok && d3d8->UseDepthBuffer) {
        c.Depth = d3d8->FindDepthFormat(int(ord), deviceType, f);
        if (c.Depth == 0) c.Ok = false;
      }
      if (c.Ok) {
        std::string text = "Back Buffer Format: " + FormatName(f) + " / Texture Formats: ";
        for (D3DFORMAT t = D3DFMT_R8G8B8; t <= D3DFMT_X4R4G4B4; ++t)
          if (SUCCEEDED(d3d->CheckDeviceFormat(ord, deviceType, f, 0, D3DRTYPE_TEXTURE, t)))
            text += FormatName(t) + ", ";
        Log(text, ltInfo);
      }
    }
    candidates.push_back(c);
  }

  for (const D3DDISPLAYMODE& m : modes)
    for (const TCandidate& c : candidates)
      if (c.Ok && c.Format == m.Format)
        Modes.push_back(TzrD3DMode{m.Width, m.Height, m.Format, c.Behavior, c.Depth});
  if (Modes.empty()) {
    Log("No valid mode", ltInfo);
    Abort();
  }
  const TCandidate& desktop = candidates.front();
  if (!desktop.Ok) Log("First format not confirmed", ltWarning);
  CanDoWindowed = desktop.Ok && (Caps.Caps2 & D3DCAPS2_CANRENDERWINDOWED);
  if (CanDoWindowed) {
    WindowedMode = TzrD3DMode{0, 0, desktop.Format, desktop.Behavior, desktop.Depth};
    Log("Can do Windowed=1", ltInfo);
  }
}

void TzrD3DDeviceInfo::GetMode(int index, TzrD3DMode& mode) const {
  if (index < 0 || index >= GetModeCount())
    throw EListError("List index out of bounds (" + Dec(index) + ")");
  mode = Modes[size_t(index)];
}

// ---- renderer contract ----------------------------------------------------------------------

TzrD3DRenderer::TzrD3DRenderer(TzrD3Device8* device) : Device(device) {
  Device->AddRenderer(this);
}

TzrD3DRenderer::~TzrD3DRenderer() { Device->RemoveRenderer(this); }

// ---- device ---------------------------------------------------------------------------------

TzrD3Device8::TzrD3Device8(TzrD3DDeviceInfo* deviceInfo, HWND focusWindow, HWND deviceWindow,
                           bool windowed, const TzrD3DMode& mode)
    : DeviceInfo(deviceInfo) {
  const bool autoDepth = deviceInfo->Owner->Owner->UseDepthBuffer;
  PresentParams.BackBufferWidth = mode.Width;
  PresentParams.BackBufferHeight = mode.Height;
  PresentParams.BackBufferFormat = mode.Format;
  PresentParams.BackBufferCount = 0;
  PresentParams.MultiSampleType = D3DMULTISAMPLE_NONE;
  PresentParams.SwapEffect = D3DSWAPEFFECT_DISCARD;
  PresentParams.hDeviceWindow = deviceWindow;
  PresentParams.Windowed = windowed ? -1 : 0;
  PresentParams.EnableAutoDepthStencil = autoDepth ? -1 : 0;
  PresentParams.AutoDepthStencilFormat = mode.DepthFormat;
  PresentParams.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  PresentParams.FullScreen_RefreshRateInHz = 0;
  PresentParams.FullScreen_PresentationInterval = 0;

  const int ordinal = deviceInfo->Owner->AdapterOrdinal;
  Log("Creating device: AdapterId=" + Dec(ordinal) + " / DeviceType=" +
          Dec(deviceInfo->DeviceType) + " / Behavior=" + Dec(mode.Behavior) +
          " / Width=" + Dec(mode.Width) + " / Height=" + Dec(mode.Height) +
          " / Format=" + FormatName(mode.Format) + " / Windowed=" + (windowed ? "1" : "0") +
          " / EnableAutoDepthStencil=" + (autoDepth ? "-1" : "0") +
          " / AutoDepthStencilFormat=" + FormatName(mode.DepthFormat),
      ltInfo);
  CheckD3DResult(Direct3D()->CreateDevice(UINT(ordinal), deviceInfo->DeviceType, focusWindow,
                                          mode.Behavior, &PresentParams, Device.Receive()),
                 D3DERR_OWN_CREATEDEVICE, "");
  TextureFilter = D3DTEXF_LINEAR;
  Restore();
}

TzrD3Device8::~TzrD3Device8() {
  while (!Renderers.empty()) delete Renderers.back();  // each one unregisters itself
  while (!Textures.empty()) delete Textures.back();
  Device.Reset();
}

IDirect3D8* TzrD3Device8::Direct3D() const { return DeviceInfo->Owner->Owner->Direct3D.Get(); }

HRESULT TzrD3Device8::BeginScene() { return Device->BeginScene(); }

HRESULT TzrD3Device8::EndScene() {
  ++FramesSinceFlush;
  return Device->EndScene();
}

void TzrD3Device8::RenderAll() {
  // Not while lost: default-pool buffers made now would make the reset fail; the recovery
  // restores everything anyway.
  if (!Restored && !Lost) Restore();
  try {
    if (CheckDevice())
      for (TzrD3DRenderer* r : Renderers) r->Flush();
  } catch (...) {
    for (TzrD3DRenderer* r : Renderers) r->Reset();
    throw;
  }
  for (TzrD3DRenderer* r : Renderers) r->Reset();
}

void TzrD3Device8::Present() {
  HRESULT hr = Device->Present(nullptr, nullptr, nullptr, nullptr);
  if (hr == D3DERR_DEVICELOST) {
    BeginDeviceLost();
    return;
  }
  CheckD3DResult(hr, 0, "present");
}

void TzrD3Device8::FlushScene() {
  if (FramesSinceFlush < 1) return;
  FramesSinceFlush = 0;
  try {
    TComPtr<IDirect3DSurface8> backBuffer;
    CheckD3DResult(Device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, backBuffer.Receive()), 0,
                   "GetBackBuffer");
    RECT pixel{0, 0, 1, 1};
    D3DLOCKED_RECT locked;
    CheckD3DResult(backBuffer->LockRect(&locked, &pixel, D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK), 0,
                   "LockRect");
    CheckD3DResult(backBuffer->UnlockRect(), 0, "UnlockRect");
  } catch (const Exception& e) {
    Log("Error flushing scene: " + e.Message, ltWarning);
  }
}

bool TzrD3Device8::CheckDevice() {
  if (!Lost) return true;
  HRESULT hr = Device->TestCooperativeLevel();
  // D3D_OK while still marked lost: the reset went through but the restore after it failed;
  // restore again instead of waiting for a not-reset that never comes.
  if ((hr == D3DERR_DEVICENOTRESET && SUCCEEDED(Device->Reset(&PresentParams))) || hr == D3D_OK) {
    Restore();
    Lost = false;
    Log("End device lost (" + Dec(GetTickCount()) + ")", ltInfo);
    if (OnDeviceRestored) OnDeviceRestored(this);
    return true;
  }
  ::Sleep(LostRetryDelayMs);
  return false;
}

bool TzrD3Device8::BeginDeviceLost() {
  if (!CheckDevice()) return true;
  if (SUCCEEDED(Device->TestCooperativeLevel())) return false;
  Lost = true;
  ReleaseAll();
  Log("Begin device lost (" + Dec(GetTickCount()) + ")", ltInfo);
  if (OnDeviceLost) OnDeviceLost(this);
  return true;
}

void TzrD3Device8::Restore() {
  for (TzrD3DRenderer* r : Renderers) {
    r->ReleaseBuffers();
    r->RestoreBuffers();
  }
  Restored = true;
  SetProjection(Projection);
}

void TzrD3Device8::ReleaseAll() {
  for (TzrD3DRenderer* r : Renderers) r->ReleaseBuffers();
}

TComPtr<IDirect3DSurface8> TzrD3Device8::GetBackBuffer() {
  TComPtr<IDirect3DSurface8> surface;
  CheckD3DResult(Device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, surface.Receive()), 0,
                 "getbackbuffer");
  return surface;
}

bool TzrD3Device8::SupportsTextureFormat(D3DFORMAT format) {
  return SUCCEEDED(Direct3D()->CheckDeviceFormat(UINT(DeviceInfo->Owner->AdapterOrdinal),
                                                 DeviceInfo->DeviceType,
                                                 PresentParams.BackBufferFormat, 0,
                                                 D3DRTYPE_TEXTURE, format));
}

TzrD3DTexture8* TzrD3Device8::GetTexture(int index) const {
  if (index < 0 || index >= int(Textures.size()))
    throw EListError("List index out of bounds (" + Dec(index) + ")");
  return Textures[size_t(index)];
}

int TzrD3Device8::AddTexture(TzrD3DTexture8* texture) {
  Textures.push_back(texture);
  return int(Textures.size()) - 1;
}

void TzrD3Device8::RemoveTexture(TzrD3DTexture8* texture) {
  auto it = std::find(Textures.begin(), Textures.end(), texture);
  if (it != Textures.end()) Textures.erase(it);
}

void TzrD3Device8::AddRenderer(TzrD3DRenderer* renderer) {
  Renderers.push_back(renderer);
  Restored = false;
}

void TzrD3Device8::RemoveRenderer(TzrD3DRenderer* renderer) {
  auto it = std::find(Renderers.begin(), Renderers.end(), renderer);
  if (it != Renderers.end()) Renderers.erase(it);
}

void TzrD3Device8::SetProjection(const D3DMATRIX& matrix) {
  Projection = matrix;
  Device->SetTransform(D3DTS_PROJECTION, &Projection);
}
