#pragma once
// A scripted Direct3D 8 runtime for tests: adapters, modes, capabilities, supported formats,
// monitors and device loss come from the script; every device call is recorded, draws with a
// copy of the vertices they use. Resources keep real memory, locks and draws are checked
// against their sizes the way the platform checks them, so code that writes past a buffer or
// resets with default-pool buffers alive sees the platform's failure.
//
// Constructing a TFakeD3D8 installs it as the runtime; destroying it puts the previous back.
// One device at a time: CreateDevice fails while another fake device lives.
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/D3D8.h"

struct TFakeD3DCall {
  std::string Name;             // "SetRenderState", "VertexBuffer.Lock", ...
  std::vector<uint64_t> Args;   // integers in parameter order; interfaces as object ids (0: none)
  std::string Text() const;     // "SetRenderState(27, 1)"
};

struct TFakeD3DDraw {
  bool Indexed = false;
  D3DPRIMITIVETYPE Type = 0;
  UINT MinIndex = 0, NumVertices = 0;  // DrawPrimitive: MinIndex = start vertex
  UINT StartIndex = 0, PrimitiveCount = 0;
  int TextureId = 0;                   // stage-0 texture, 0 when none
  DWORD Fvf = 0;
  UINT Stride = 0;
  std::vector<uint8_t> Vertices;       // the vertex range [MinIndex, MinIndex + NumVertices)
  std::vector<uint16_t> Indices;       // indexed draws: the indices used
  std::vector<DWORD> RenderStates;     // all render states at the draw
};

struct TFakeAdapter {
  D3DADAPTER_IDENTIFIER8 Identifier;
  HRESULT IdentifierResult = D3D_OK;
  D3DDISPLAYMODE DesktopMode{1024, 768, 60, D3DFMT_X8R8G8B8};
  HRESULT DisplayModeResult = D3D_OK;
  std::vector<D3DDISPLAYMODE> Modes;
  HMONITOR Monitor = 0;
  D3DCAPS8 Caps;                    // for the hardware device type
  HRESULT CapsResult = D3D_OK;
  std::set<D3DFORMAT> BackBufferFormats;  // CheckDeviceType succeeds for these
  std::set<D3DFORMAT> TextureFormats;     // CheckDeviceFormat with a texture resource
  std::set<D3DFORMAT> DepthFormats;       // depth-stencil formats that exist and match
};

struct TFakeDisplay {
  std::string DeviceName = "\\\\.\\DISPLAY1";
  std::string DeviceString = "Fake Display Adapter";
  DWORD StateFlags = DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | DISPLAY_DEVICE_PRIMARY_DEVICE;
  bool HasMonitor = true;
  std::string MonitorString = "Fake Monitor";
  DEVMODE Settings{{0, 0}, 32, 1024, 768, 60};
  HMONITOR Monitor = 1;  // what MonitorFromRect gives for this display's rectangle
};

class TFakeD3D8 final : public ID3D8Runtime {
public:
  TFakeD3D8();
  ~TFakeD3D8() override;
  TFakeD3D8(const TFakeD3D8&) = delete;
  TFakeD3D8& operator=(const TFakeD3D8&) = delete;

  // A hardware adapter with everything the game asks for: pre-transformed vertices, blending
  // one / inverse source alpha, modulate, windowed rendering, 2048-pixel textures, the modes
  // 640 x 480, 800 x 600, 1024 x 768 in X8R8G8B8 and R5G6B5, texture formats 20-30.
  static TFakeAdapter CapableAdapter();

  // ---- script ----
  bool Loaded = true;         // the runtime library is present
  bool DebugLoadable = false; // the debug library loads
  bool CreateFails = false;   // Direct3DCreate8 returns nothing
  std::vector<TFakeAdapter> Adapters;
  std::vector<TFakeDisplay> Displays;
  // What TestCooperativeLevel answers; Present fails with D3DERR_DEVICELOST unless it is D3D_OK.
  HRESULT CooperativeLevel = D3D_OK;
  std::deque<HRESULT> PresentResults;  // results for the next Present calls, before the above
  std::map<std::string, HRESULT> Failures;  // call name -> result it returns from now on
  void LoseDevice() { CooperativeLevel = D3DERR_DEVICELOST; }
  void DeviceCanReset() { CooperativeLevel = D3DERR_DEVICENOTRESET; }

  // ---- records ----
  std::vector<TFakeD3DCall> Calls;
  std::vector<TFakeD3DDraw> Draws;
  void ClearRecords();
  std::vector<std::string> CallTexts(const std::string& name = "") const;  // all, or one name
  int CountCalls(const std::string& name) const;

  // ---- state of the live device ----
  bool HasDevice() const { return CurrentDevice != nullptr; }
  DWORD RenderState(D3DRENDERSTATETYPE state) const;
  DWORD StageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type) const;
  D3DPRESENT_PARAMETERS PresentParams() const;
  int LiveObjects() const { return Live; }                 // every fake object not yet freed
  int LiveDefaultPoolResources() const { return LiveDefaultPool; }

  // ---- ID3D8Runtime ----
  bool RuntimeLoaded() override { return Loaded; }
  bool DebugRuntimeLoadable() override { return DebugLoadable; }
  IDirect3D8* Direct3DCreate8(UINT sdkVersion) override;
  bool EnumDisplayDevices(const char* device, DWORD index, DISPLAY_DEVICE* out) override;
  bool EnumDisplaySettings(const char* deviceName, DWORD mode, DEVMODE* out) override;
  HMONITOR MonitorFromRect(const RECT* rect, DWORD flags) override;

  // internal, for the fake objects
  struct Device;
  void Record(const std::string& name, std::vector<uint64_t> args);
  bool Fails(const std::string& name, HRESULT& result) const;
  int NextId = 1;
  int Live = 0, LiveDefaultPool = 0;
  Device* CurrentDevice = nullptr;

private:
  ID3D8Runtime* Previous = nullptr;
};
