// The Direct3D 8 stand-in on SDL2 + OpenGL: the runtime, the Direct3D object (adapters are SDL
// displays) and the window state that drives device loss. The device is in D3D8GLDevice.cpp.
#include "platform/D3D8GL.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <map>
#include <vector>

#include "platform/D3D8GLInternal.h"

namespace d3dgl {

std::map<HWND, TWindowState>& WindowStates() {
  static std::map<HWND, TWindowState> states;
  return states;
}
TWindowState WindowState(HWND w) {
  auto it = WindowStates().find(w);
  return it == WindowStates().end() ? TWindowState{} : it->second;
}

TGL gl;

void SetContextAttributes() {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
}

const TGLInfo& GLInfo() {
  static TGLInfo info;
  static bool probed = false;
  if (probed) return info;
  probed = true;
  SDL_Window* oldWindow = SDL_GL_GetCurrentWindow();
  SDL_GLContext oldContext = SDL_GL_GetCurrentContext();
  SetContextAttributes();
  SDL_Window* w = SDL_CreateWindow("probe", 0, 0, 16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  if (w) {
    if (SDL_GLContext c = SDL_GL_CreateContext(w)) {
      auto str = [](GLenum e) {
        const GLubyte* s = glGetString(e);
        return s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
      };
      info.Vendor = str(GL_VENDOR);
      info.Renderer = str(GL_RENDERER);
      info.Version = str(GL_VERSION);
      std::sscanf(info.Version.c_str(), "%d.%d", &info.Major, &info.Minor);
      glGetIntegerv(GL_MAX_TEXTURE_SIZE, &info.MaxTexture);
      float range[2] = {1, 1};
      glGetFloatv(GL_ALIASED_POINT_SIZE_RANGE, range);
      info.MaxPointSize = range[1];
      info.Ok = info.Major >= 3 && info.MaxTexture > 0;
      SDL_GL_DeleteContext(c);
    }
    SDL_DestroyWindow(w);
  }
  if (oldContext) SDL_GL_MakeCurrent(oldWindow, oldContext);
  return info;
}

bool IsBackBufferFormat(D3DFORMAT f) { return f == D3DFMT_X8R8G8B8 || f == D3DFMT_R5G6B5; }
bool IsDepthFormat(D3DFORMAT f) { return f == D3DFMT_D16 || f == D3DFMT_D24X8 || f == D3DFMT_D24S8; }

bool UploadOf(D3DFORMAT f, TUpload& u) {
  switch (f) {
    case D3DFMT_R8G8B8: u = {GL_RGB8, GL_BGR, GL_UNSIGNED_BYTE, false}; return true;
    case D3DFMT_A8R8G8B8: u = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, false}; return true;
    case D3DFMT_X8R8G8B8: u = {GL_RGB8, GL_BGRA, GL_UNSIGNED_BYTE, false}; return true;
    case D3DFMT_R5G6B5: u = {GL_RGB8, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, false}; return true;
    case D3DFMT_X1R5G5B5: u = {GL_RGB8, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, false}; return true;
    case D3DFMT_A1R5G5B5: u = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, false}; return true;
    case D3DFMT_A4R4G4B4: u = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, false}; return true;
    case D3DFMT_X4R4G4B4: u = {GL_RGB8, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, false}; return true;
    case D3DFMT_R3G3B2: u = {GL_RGB8, GL_RGB, GL_UNSIGNED_BYTE_3_3_2, false}; return true;
    case D3DFMT_A8: u = {GL_ALPHA8, GL_ALPHA, GL_UNSIGNED_BYTE, false}; return true;
    case D3DFMT_A8R3G3B2: u = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, true}; return true;
    default: return false;
  }
}

// A8R3G3B2 rows to B, G, R, A bytes.

}  // namespace d3dgl

namespace {
using namespace d3dgl;

D3DFORMAT FormatOfSDL(Uint32 format) {
  switch (SDL_BITSPERPIXEL(format)) {
    case 24:
    case 32: return D3DFMT_X8R8G8B8;
    case 16: return D3DFMT_R5G6B5;
    default: return D3DFMT_UNKNOWN;
  }
}

// ---- Direct3D object ------------------------------------------------------------------------
class TGLDirect3D : public TGLObject<IDirect3D8> {
public:
  TGLDirect3D() { SDL_InitSubSystem(SDL_INIT_VIDEO); }
  ~TGLDirect3D() override { SDL_QuitSubSystem(SDL_INIT_VIDEO); }

  bool Valid(UINT a) const { return int(a) < SDL_GetNumVideoDisplays(); }

  // The display's modes in the two formats we render, plus 800 x 600 in both.
  std::vector<D3DDISPLAYMODE> Modes(UINT a) const {
    std::vector<D3DDISPLAYMODE> modes;
    if (!Valid(a)) return modes;
    for (int i = 0, n = SDL_GetNumDisplayModes(int(a)); i < n; ++i) {
      SDL_DisplayMode m;
      if (SDL_GetDisplayMode(int(a), i, &m) != 0) continue;
      D3DFORMAT f = FormatOfSDL(m.format);
      if (f != D3DFMT_UNKNOWN) modes.push_back({UINT(m.w), UINT(m.h), UINT(m.refresh_rate), f});
    }
    for (D3DFORMAT f : {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5}) {
      bool listed = std::any_of(modes.begin(), modes.end(), [f](const D3DDISPLAYMODE& m) {
        return m.Width == 800 && m.Height == 600 && m.Format == f;
      });
      if (!listed) modes.push_back({800, 600, 60, f});
    }
    return modes;
  }
  D3DFORMAT DesktopFormat(UINT a) const {
    SDL_DisplayMode m;
    if (SDL_GetDesktopDisplayMode(int(a), &m) != 0) return D3DFMT_X8R8G8B8;
    D3DFORMAT f = FormatOfSDL(m.format);
    return f == D3DFMT_UNKNOWN ? D3DFMT_X8R8G8B8 : f;
  }

  UINT GetAdapterCount() override { return UINT(std::max(0, SDL_GetNumVideoDisplays())); }
  HRESULT GetAdapterIdentifier(UINT a, DWORD, D3DADAPTER_IDENTIFIER8* id) override {
    if (!id || !Valid(a)) return D3DERR_INVALIDCALL;
    const TGLInfo& info = GLInfo();
    if (!info.Ok) return D3DERR_NOTAVAILABLE;
    *id = D3DADAPTER_IDENTIFIER8{};
    const char* driver = SDL_GetCurrentVideoDriver();
    std::snprintf(id->Driver, sizeof id->Driver, "SDL %s / OpenGL %s", driver ? driver : "?",
                  info.Version.c_str());
    std::snprintf(id->Description, sizeof id->Description, "%s", info.Renderer.c_str());
    id->DriverVersion = int64_t(uint64_t(info.Major) << 48 | uint64_t(info.Minor) << 32);
    // A stable identifier from the renderer's name.
    uint64_t h = 1469598103934665603ull;
    for (char c : info.Vendor + "/" + info.Renderer) h = (h ^ uint8_t(c)) * 1099511628211ull;
    id->DeviceIdentifier.Data1 = uint32_t(h >> 32);
    id->DeviceIdentifier.Data2 = uint16_t(h >> 16);
    id->DeviceIdentifier.Data3 = uint16_t(h);
    for (int i = 0; i < 8; ++i) id->DeviceIdentifier.Data4[i] = uint8_t(h >> (i * 8)) ^ uint8_t(a);
    return D3D_OK;
  }
  UINT GetAdapterModeCount(UINT a) override { return UINT(Modes(a).size()); }
  HRESULT EnumAdapterModes(UINT a, UINT mode, D3DDISPLAYMODE* out) override {
    std::vector<D3DDISPLAYMODE> modes = Modes(a);
    if (!out || mode >= modes.size()) return D3DERR_INVALIDCALL;
    *out = modes[mode];
    return D3D_OK;
  }
  HRESULT GetAdapterDisplayMode(UINT a, D3DDISPLAYMODE* out) override {
    SDL_DisplayMode m;
    if (!out || !Valid(a) || SDL_GetDesktopDisplayMode(int(a), &m) != 0) return D3DERR_INVALIDCALL;
    *out = D3DDISPLAYMODE{UINT(m.w), UINT(m.h), UINT(m.refresh_rate), DesktopFormat(a)};
    return D3D_OK;
  }
  HRESULT CheckDeviceType(UINT a, D3DDEVTYPE type, D3DFORMAT display, D3DFORMAT back, BOOL windowed) override {
    if (!Valid(a)) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL || !GLInfo().Ok) return D3DERR_NOTAVAILABLE;
    if (!IsBackBufferFormat(display) || !IsBackBufferFormat(back)) return D3DERR_NOTAVAILABLE;
    if (windowed ? display != DesktopFormat(a) : display != back) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
  }
  HRESULT CheckDeviceFormat(UINT a, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                            D3DRESOURCETYPE rt, D3DFORMAT check) override {
    if (!Valid(a)) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL || !GLInfo().Ok || !IsBackBufferFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
    TUpload u;
    if (usage & D3DUSAGE_DEPTHSTENCIL)
      return rt == D3DRTYPE_SURFACE && IsDepthFormat(check) ? D3D_OK : D3DERR_NOTAVAILABLE;
    if (usage & D3DUSAGE_RENDERTARGET)
      return rt == D3DRTYPE_SURFACE && IsBackBufferFormat(check) ? D3D_OK : D3DERR_NOTAVAILABLE;
    if ((rt == D3DRTYPE_TEXTURE || rt == D3DRTYPE_SURFACE) && UploadOf(check, u)) return D3D_OK;
    return D3DERR_NOTAVAILABLE;
  }
  HRESULT CheckDepthStencilMatch(UINT a, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT rt,
                                 D3DFORMAT depth) override {
    if (!Valid(a)) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL || !IsBackBufferFormat(adapterFormat) || !IsBackBufferFormat(rt) ||
        !IsDepthFormat(depth))
      return D3DERR_NOTAVAILABLE;
    return D3D_OK;
  }
  HRESULT GetDeviceCaps(UINT a, D3DDEVTYPE type, D3DCAPS8* caps) override {
    if (!caps || !Valid(a)) return D3DERR_INVALIDCALL;
    const TGLInfo& info = GLInfo();
    if (type != D3DDEVTYPE_HAL || !info.Ok) return D3DERR_NOTAVAILABLE;
    *caps = D3DCAPS8{};
    D3DCAPS8& c = *caps;
    c.DeviceType = D3DDEVTYPE_HAL;
    c.AdapterOrdinal = a;
    c.Caps2 = D3DCAPS2_CANRENDERWINDOWED;
    c.PresentationIntervals = 0x80000000u | 1;  // immediate, one
    c.DevCaps = D3DDEVCAPS_DRAWPRIMTLVERTEX;
    c.PrimitiveMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW;
    c.ZCmpCaps = 0xFF;
    c.SrcBlendCaps = 0x7FF;   // ZERO .. SRCALPHASAT
    c.DestBlendCaps = 0x3FF;  // ZERO .. INVDESTCOLOR
    c.ShadeCaps = 0x8 | 0x4000;  // Gouraud colour and alpha
    c.TextureCaps = D3DPTEXTURECAPS_ALPHA;
    c.TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR |
                          D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
    c.TextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                           D3DPTADDRESSCAPS_BORDER;
    c.MaxTextureWidth = c.MaxTextureHeight = c.MaxTextureAspectRatio = DWORD(info.MaxTexture);
    c.MaxTextureRepeat = 8192;
    c.MaxVertexW = 1.0f;  // rhw is not used for perspective
    c.FVFCaps = D3DFVFCAPS_PSIZE | 1;
    c.TextureOpCaps = D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_SELECTARG1 | D3DTEXOPCAPS_SELECTARG2 |
                      D3DTEXOPCAPS_MODULATE | D3DTEXOPCAPS_MODULATE2X | D3DTEXOPCAPS_MODULATE4X |
                      D3DTEXOPCAPS_ADD | D3DTEXOPCAPS_ADDSIGNED | D3DTEXOPCAPS_SUBTRACT;
    c.MaxTextureBlendStages = c.MaxSimultaneousTextures = 1;
    c.MaxPointSize = info.MaxPointSize;
    c.MaxPrimitiveCount = 0xFFFFF;
    c.MaxVertexIndex = 0xFFFF;
    c.MaxStreams = 1;
    c.MaxStreamStride = 255;
    return D3D_OK;
  }
  HMONITOR GetAdapterMonitor(UINT a) override { return Valid(a) ? HMONITOR(a + 1) : 0; }
  HRESULT CreateDevice(UINT a, D3DDEVTYPE type, HWND focus, DWORD behavior,
                       D3DPRESENT_PARAMETERS* pp, IDirect3DDevice8** out) override {
    if (!out || !pp || !Valid(a)) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (type != D3DDEVTYPE_HAL || !GLInfo().Ok) return D3DERR_NOTAVAILABLE;
    // Vertices are processed on the CPU side only: no hardware transform, no pure device.
    const DWORD vp = behavior & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                                 D3DCREATE_MIXED_VERTEXPROCESSING | D3DCREATE_PUREDEVICE);
    if (vp != D3DCREATE_SOFTWARE_VERTEXPROCESSING) return D3DERR_INVALIDCALL;
    HWND window = pp->hDeviceWindow ? pp->hDeviceWindow : focus;
    if (!window || !(SDL_GetWindowFlags(window) & SDL_WINDOW_OPENGL)) return D3DERR_INVALIDCALL;
    if (!IsBackBufferFormat(pp->BackBufferFormat) || pp->MultiSampleType != D3DMULTISAMPLE_NONE ||
        pp->BackBufferCount > 1 || pp->SwapEffect < D3DSWAPEFFECT_DISCARD || pp->SwapEffect > D3DSWAPEFFECT_COPY)
      return D3DERR_INVALIDCALL;
    if (pp->EnableAutoDepthStencil && !IsDepthFormat(pp->AutoDepthStencilFormat)) return D3DERR_INVALIDCALL;
    if (!pp->Windowed) {
      std::vector<D3DDISPLAYMODE> modes = Modes(a);
      bool listed = std::any_of(modes.begin(), modes.end(), [&](const D3DDISPLAYMODE& m) {
        return m.Width == pp->BackBufferWidth && m.Height == pp->BackBufferHeight && m.Format == pp->BackBufferFormat;
      });
      if (!listed) return D3DERR_INVALIDCALL;
    }
    return d3dgl::CreateDevice(window, *pp, out);
  }
};

// ---- runtime --------------------------------------------------------------------------------
class TGLRuntime : public ID3D8Runtime {
public:
  bool RuntimeLoaded() override { return true; }
  bool DebugRuntimeLoadable() override { return false; }
  IDirect3D8* Direct3DCreate8(UINT sdkVersion) override {
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return nullptr;
    auto* d = new TGLDirect3D;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);  // the object holds its own
    return d;
  }
  bool EnumDisplayDevices(const char* device, DWORD index, DISPLAY_DEVICE* out) override {
    if (!out || !SDL_WasInit(SDL_INIT_VIDEO)) return false;
    *out = DISPLAY_DEVICE{};
    const int n = SDL_GetNumVideoDisplays();
    if (!device) {
      if (int(index) >= n) return false;
      std::snprintf(out->DeviceName, sizeof out->DeviceName, "\\\\.\\DISPLAY%u", index + 1);
      const TGLInfo& info = GLInfo();
      std::snprintf(out->DeviceString, sizeof out->DeviceString, "%s",
                    info.Renderer.empty() ? "OpenGL display adapter" : info.Renderer.c_str());
      out->StateFlags = DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | (index == 0 ? DWORD(DISPLAY_DEVICE_PRIMARY_DEVICE) : 0u);
      return true;
    }
    const int display = DisplayOf(device);
    if (display < 0 || index != 0) return false;
    std::snprintf(out->DeviceName, sizeof out->DeviceName, "%s\\Monitor0", device);
    const char* name = SDL_GetDisplayName(display);
    std::snprintf(out->DeviceString, sizeof out->DeviceString, "%s", name ? name : "Monitor");
    out->StateFlags = DISPLAY_DEVICE_ATTACHED_TO_DESKTOP;
    return true;
  }
  bool EnumDisplaySettings(const char* deviceName, DWORD mode, DEVMODE* out) override {
    if (!out || !deviceName || mode != ENUM_CURRENT_SETTINGS || !SDL_WasInit(SDL_INIT_VIDEO)) return false;
    const int display = DisplayOf(deviceName);
    SDL_DisplayMode m;
    SDL_Rect r;
    if (display < 0 || SDL_GetCurrentDisplayMode(display, &m) != 0 || SDL_GetDisplayBounds(display, &r) != 0)
      return false;
    *out = DEVMODE{{r.x, r.y}, DWORD(SDL_BITSPERPIXEL(m.format)), DWORD(m.w), DWORD(m.h), DWORD(m.refresh_rate)};
    return true;
  }
  HMONITOR MonitorFromRect(const RECT* rect, DWORD) override {
    if (!rect || !SDL_WasInit(SDL_INIT_VIDEO)) return 0;
    HMONITOR best = 0;
    int64_t bestArea = 0;
    for (int i = 0, n = SDL_GetNumVideoDisplays(); i < n; ++i) {
      SDL_Rect r;
      if (SDL_GetDisplayBounds(i, &r) != 0) continue;
      int64_t w = std::min<int64_t>(rect->right, r.x + r.w) - std::max<int64_t>(rect->left, r.x);
      int64_t h = std::min<int64_t>(rect->bottom, r.y + r.h) - std::max<int64_t>(rect->top, r.y);
      if (w > 0 && h > 0 && w * h > bestArea) {
        bestArea = w * h;
        best = HMONITOR(i + 1);
      }
    }
    return best;
  }

private:
  static int DisplayOf(const char* deviceName) {
    unsigned n = 0;
    if (std::sscanf(deviceName, "\\\\.\\DISPLAY%u", &n) != 1 || n == 0 || int(n) > SDL_GetNumVideoDisplays())
      return -1;
    return int(n) - 1;
  }
};

}  // namespace

ID3D8Runtime& D3D8GLRuntime() {
  static TGLRuntime runtime;
  return runtime;
}

HWND D3DCreateDeviceWindow(const char* title, int width, int height, uint32_t flags) {
  // Stays initialised for the program: windows must not vanish with a Direct3D object.
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return nullptr;
  SetContextAttributes();
  return SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height,
                          SDL_WINDOW_OPENGL | flags);
}

void D3DWindowFocusChanged(HWND window, bool focused) { WindowStates()[window].Focused = focused; }

void D3DWindowMinimizedChanged(HWND window, bool minimized) {
  WindowStates()[window].Minimized = minimized;
}

void D3DWindowClosed(HWND window) { WindowStates().erase(window); }

bool D3DHandleWindowEvent(const SDL_Event& event) {
  if (event.type != SDL_WINDOWEVENT) return false;
  SDL_Window* w = SDL_GetWindowFromID(event.window.windowID);
  if (!w) return false;
  switch (event.window.event) {
    case SDL_WINDOWEVENT_FOCUS_GAINED: D3DWindowFocusChanged(w, true); return true;
    case SDL_WINDOWEVENT_FOCUS_LOST: D3DWindowFocusChanged(w, false); return true;
    case SDL_WINDOWEVENT_MINIMIZED: D3DWindowMinimizedChanged(w, true); return true;
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_MAXIMIZED:
    case SDL_WINDOWEVENT_SHOWN: D3DWindowMinimizedChanged(w, false); return true;
    default: return false;
  }
}

void D3DReclaimGLContext() {
  SDL_Window* window = SDL_GL_GetCurrentWindow();
  SDL_GLContext context = SDL_GL_GetCurrentContext();
  if (!window || !context) return;
  // the context really current on this thread, from GLX on X11 and from EGL elsewhere
  using TGetCurrent = void* (*)();
  static const TGetCurrent getCurrent = [] {
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* name = driver && std::strcmp(driver, "x11") == 0 ? "glXGetCurrentContext" : "eglGetCurrentContext";
    void* f = dlsym(RTLD_DEFAULT, name);
    if (!f) f = SDL_GL_GetProcAddress(name);
    return reinterpret_cast<TGetCurrent>(f);
  }();
  if (getCurrent && getCurrent() == context) return;
  SDL_GL_MakeCurrent(window, nullptr);  // SDL switches only when it sees a change
  SDL_GL_MakeCurrent(window, context);
}
