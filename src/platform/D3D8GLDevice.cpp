// The Direct3D 8 stand-in on SDL2 + OpenGL: the device, its surfaces, textures and buffers.
//
// Pixel centres: Direct3D puts them at integer coordinates, GL at half-integers, so every
// pre-transformed position moves by half a pixel on its way to GL. The back buffer is a
// framebuffer object drawn with Direct3D's top row at GL's top (high y); reads and copies flip
// rows at the boundary, so memory always holds rows top-down as Direct3D shows them.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/D3D8GLInternal.h"

namespace d3dgl {
namespace {

int Align4(int v) { return (v + 3) & ~3; }

std::vector<uint8_t> ExpandA8R3G3B2(const uint8_t* bits, int pitch, int w, int h) {
  std::vector<uint8_t> out(size_t(w) * h * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint16_t p;
      std::memcpy(&p, bits + y * pitch + x * 2, 2);
      uint8_t* o = &out[(size_t(y) * w + x) * 4];
      const int r = (p >> 5) & 7, g = (p >> 2) & 7, b = p & 3;
      o[0] = uint8_t((b * 255 + 1) / 3);  // rounded, as GL expands the packed types
      o[1] = uint8_t((g * 255 + 3) / 7);
      o[2] = uint8_t((r * 255 + 3) / 7);
      o[3] = uint8_t(p >> 8);
    }
  return out;
}

GLenum BlendOf(DWORD b) {
  switch (b) {
    case D3DBLEND_ZERO: return GL_ZERO;
    case D3DBLEND_ONE: return GL_ONE;
    case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
    case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
    default: return GL_ONE;
  }
}

GLenum CompareOf(DWORD c) {
  switch (c) {
    case D3DCMP_NEVER: return GL_NEVER;
    case D3DCMP_LESS: return GL_LESS;
    case D3DCMP_EQUAL: return GL_EQUAL;
    case D3DCMP_LESSEQUAL: return GL_LEQUAL;
    case D3DCMP_GREATER: return GL_GREATER;
    case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
    default: return GL_ALWAYS;
  }
}

GLenum AddressOf(DWORD a) {
  switch (a) {
    case D3DTADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
    case D3DTADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
    default: return GL_REPEAT;
  }
}

const char* const kVertexShader = R"(#version 130
in vec4 aPos;
in vec4 aColor;
in vec2 aTex;
in float aSize;
uniform vec2 uTarget;
uniform bool uHasColor, uHasTex, uHasSize;
uniform float uPointSize, uMaxPointSize;
out vec4 vColor;
out vec2 vTex;
void main() {
  vec2 p = aPos.xy + vec2(0.5);
  gl_Position = vec4(p.x / uTarget.x * 2.0 - 1.0, 1.0 - p.y / uTarget.y * 2.0, aPos.z * 2.0 - 1.0, 1.0);
  vColor = uHasColor ? aColor.bgra : vec4(1.0);
  vTex = uHasTex ? aTex : vec2(0.0);
  gl_PointSize = clamp(uHasSize ? aSize : uPointSize, 1.0, uMaxPointSize);
}
)";

const char* const kFragmentShader = R"(#version 130
in vec4 vColor;
in vec2 vTex;
uniform sampler2D uTex;
uniform bool uHasTexture, uPointSprite;
uniform int uColorOp, uColorArg1, uColorArg2, uAlphaOp, uAlphaArg1, uAlphaArg2;
uniform vec4 uFactor;
vec4 arg(int a, vec4 tex) {
  int sel = a & 15;
  vec4 v = sel == 2 ? tex : (sel == 3 ? uFactor : vColor);
  if ((a & 16) != 0) v = vec4(1.0) - v;
  if ((a & 32) != 0) v = vec4(v.a);
  return v;
}
vec4 op(int o, vec4 a1, vec4 a2) {
  if (o == 2) return a1;
  if (o == 3) return a2;
  if (o == 4) return a1 * a2;
  if (o == 5) return clamp(2.0 * a1 * a2, 0.0, 1.0);
  if (o == 6) return clamp(4.0 * a1 * a2, 0.0, 1.0);
  if (o == 7) return clamp(a1 + a2, 0.0, 1.0);
  if (o == 8) return clamp(a1 + a2 - 0.5, 0.0, 1.0);
  if (o == 10) return clamp(a1 - a2, 0.0, 1.0);
  return vColor;
}
void main() {
  vec2 tc = uPointSprite ? gl_PointCoord : vTex;
  vec4 tex = uHasTexture ? texture(uTex, tc) : vec4(1.0);
  if (uColorOp == 1) {
    gl_FragColor = vColor;
    return;
  }
  vec3 rgb = op(uColorOp, arg(uColorArg1, tex), arg(uColorArg2, tex)).rgb;
  float a = uAlphaOp == 1 ? vColor.a : op(uAlphaOp, arg(uAlphaArg1, tex), arg(uAlphaArg2, tex)).a;
  gl_FragColor = vec4(rgb, a);
}
)";

class TGLDevice;

template <class T>
class TPin {
public:
  TPin() = default;
  TPin(const TPin&) = delete;
  TPin& operator=(const TPin&) = delete;
  ~TPin() { Set(nullptr); }
  void Set(T* p) {
    if (p == P) return;
    if (p) p->Pin();
    T* old = P;
    P = p;
    if (old) old->Unpin();
  }
  T* Get() const { return P; }

private:
  T* P = nullptr;
};

// A resource of a device: keeps the device (and its GL context) alive while it exists.
template <class I>
class TGLResource : public TGLObject<I> {
public:
  TGLResource(TGLDevice* device, bool defaultPool);
  ~TGLResource() override;

protected:
  void Released() override;
  void Revived() override;
  TGLDevice* Device;
  bool DefaultPool;
};

class TGLSurface;
class TGLTexture;
class TGLVertexBuffer;
class TGLIndexBuffer;

// ---- device ---------------------------------------------------------------------------------
class TGLDevice : public TGLObject<IDirect3DDevice8> {
public:
  explicit TGLDevice(HWND window) : Window(window) {
    SDL_InitSubSystem(SDL_INIT_VIDEO);
  }
  ~TGLDevice() override;

  // Makes the context, the back buffer and the shaders; false when GL cannot.
  HRESULT Init(const D3DPRESENT_PARAMETERS& pp);

  void MakeCurrent() {
    if (SDL_GL_GetCurrentContext() != Context) SDL_GL_MakeCurrent(Window, Context);
  }
  // Resources keep the device (and its GL context) until the last one is gone.
  ULONG Release() override {
    ULONG n = --Refs;
    if (n == 0) {
      Dropping = true;  // our holds go first; resources may go with them
      Tex0.Set(nullptr);
      Stream.Set(nullptr);
      Indices.Set(nullptr);
      BackBuffer.Set(nullptr);
      Dropping = false;
      DeleteWhenUnused();
    }
    return n;
  }
  void ChildBorn() { ++Children; }
  void ChildGone() {
    --Children;
    DeleteWhenUnused();
  }
  int LiveDefaultPool = 0;

  // Uploads rows (top-down, in the back buffer's format) to the back buffer at (x, y).
  void WriteBackBuffer(const uint8_t* bits, int pitch, int x, int y, int w, int h);
  void ReadBackBuffer(uint8_t* bits, int pitch, int x, int y, int w, int h);
  D3DFORMAT BackBufferFormat() const { return Params.BackBufferFormat; }
  UINT Width() const { return Params.BackBufferWidth; }
  UINT Height() const { return Params.BackBufferHeight; }

  // ---- IDirect3DDevice8 ----
  HRESULT TestCooperativeLevel() override;
  HRESULT Reset(D3DPRESENT_PARAMETERS* pp) override;
  HRESULT Present(const RECT*, const RECT*, HWND, const void*) override;
  HRESULT GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface8** out) override;
  HRESULT CreateTexture(UINT w, UINT h, UINT levels, DWORD usage, D3DFORMAT f, D3DPOOL pool,
                        IDirect3DTexture8** out) override;
  HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                             IDirect3DVertexBuffer8** out) override;
  HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT f, D3DPOOL pool,
                            IDirect3DIndexBuffer8** out) override;
  HRESULT CreateImageSurface(UINT w, UINT h, D3DFORMAT f, IDirect3DSurface8** out) override;
  HRESULT CopyRects(IDirect3DSurface8* src, const RECT* rects, UINT count, IDirect3DSurface8* dst,
                    const POINT* points) override;
  HRESULT BeginScene() override;
  HRESULT EndScene() override;
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE, const D3DMATRIX* m) override {
    return m ? D3D_OK : D3DERR_INVALIDCALL;  // pre-transformed vertices only
  }
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
    if (state >= D3DRS_MAX) return D3DERR_INVALIDCALL;
    RS[state] = value;
    return D3D_OK;
  }
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override {
    if (state >= D3DRS_MAX || !value) return D3DERR_INVALIDCALL;
    *value = RS[state];
    return D3D_OK;
  }
  HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture8* t) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override {
    if (stage >= 8 || type >= D3DTSS_MAX) return D3DERR_INVALIDCALL;
    TS[stage][type] = value;
    return D3D_OK;
  }
  HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer8* b, UINT stride) override;
  HRESULT SetIndices(IDirect3DIndexBuffer8* b, UINT base) override;
  HRESULT SetVertexShader(DWORD handle) override {
    Fvf = handle;
    return D3D_OK;
  }
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT prims) override;
  HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVertices,
                               UINT startIndex, UINT prims) override;

private:
  enum TLoss { Ok, Lost, NotReset };
  void DeleteWhenUnused() {
    if (Refs == 0 && Children == 0 && !Dropping) delete this;
  }
  bool Dropping = false;
  void UpdateLoss();
  HRESULT Apply(const D3DPRESENT_PARAMETERS& pp);
  void DefaultStates();
  bool MakeTargets();
  void FreeTargets();
  bool MakeProgram();
  HRESULT PrepareDraw(UINT vertexCount, UINT firstVertex, bool points);
  void ApplyStates(bool points);
  bool ScratchFor(int w, int h, const TUpload& u);
  void EnterFullscreen();
  void LeaveFullscreen();

  HWND Window;
  SDL_GLContext Context = nullptr;
  bool MadeFullscreen = false;
  SDL_Rect WindowedRect{};  // where the window was before full screen
  D3DPRESENT_PARAMETERS Params;
  TLoss Loss = Ok;
  bool InScene = false;
  int Children = 0;

  GLuint Fbo = 0, ColorRb = 0, DepthRb = 0;
  GLuint ScratchFbo = 0, ScratchTex = 0;
  int ScratchW = 0, ScratchH = 0;
  GLenum ScratchInternal = 0;
  GLuint Program = 0;
  struct {
    GLint Target, HasColor, HasTex, HasSize, PointSize, MaxPointSize, Tex, HasTexture, PointSprite;
    GLint ColorOp, ColorArg1, ColorArg2, AlphaOp, AlphaArg1, AlphaArg2, Factor;
  } U{};

  DWORD RS[D3DRS_MAX];
  DWORD TS[8][D3DTSS_MAX];
  TPin<TGLTexture> Tex0;
  TPin<TGLVertexBuffer> Stream;
  UINT Stride = 0;
  TPin<TGLIndexBuffer> Indices;
  UINT BaseVertex = 0;
  DWORD Fvf = 0;
  TPin<TGLSurface> BackBuffer;
};

template <class I>
TGLResource<I>::TGLResource(TGLDevice* device, bool defaultPool)
    : Device(device), DefaultPool(defaultPool) {
  Device->ChildBorn();
  if (DefaultPool) ++Device->LiveDefaultPool;
}
template <class I>
TGLResource<I>::~TGLResource() {
  Device->ChildGone();
}
template <class I>
void TGLResource<I>::Released() {
  if (DefaultPool) --Device->LiveDefaultPool;
}
template <class I>
void TGLResource<I>::Revived() {
  if (DefaultPool) ++Device->LiveDefaultPool;
}

// ---- surfaces -------------------------------------------------------------------------------
// Image surfaces live in memory; the back buffer surface reads and writes the GL target.
class TGLSurface : public TGLResource<IDirect3DSurface8> {
public:
  TGLSurface(TGLDevice* d, bool backBuffer, UINT w, UINT h, D3DFORMAT f, bool lockable)
      : TGLResource(d, backBuffer), IsBackBuffer(backBuffer), Format(f), W(w), H(h),
        Pitch(Align4(int(w) * D3DFormatBytes(f))), Lockable(lockable), Bits(size_t(Pitch) * h) {}

  HRESULT GetDesc(D3DSURFACE_DESC* d) override {
    if (!d) return D3DERR_INVALIDCALL;
    *d = D3DSURFACE_DESC{};
    d->Format = Format;
    d->Type = D3DRTYPE_SURFACE;
    d->Usage = IsBackBuffer ? DWORD(D3DUSAGE_RENDERTARGET) : 0u;
    d->Pool = IsBackBuffer ? D3DPOOL_DEFAULT : D3DPOOL_SYSTEMMEM;
    d->Size = UINT(Bits.size());
    d->Width = W;
    d->Height = H;
    return D3D_OK;
  }
  HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override {
    RECT r = rect ? *rect : RECT{0, 0, LONG(W), LONG(H)};
    if (!locked || !Lockable || Locked || r.left < 0 || r.top < 0 || r.left >= r.right ||
        r.top >= r.bottom || r.right > LONG(W) || r.bottom > LONG(H))
      return D3DERR_INVALIDCALL;
    const int bpp = D3DFormatBytes(Format);
    uint8_t* first = Bits.data() + size_t(r.top) * Pitch + size_t(r.left) * bpp;
    if (IsBackBuffer)
      Device->ReadBackBuffer(first, Pitch, r.left, r.top, r.right - r.left, r.bottom - r.top);
    Locked = true;
    LockedRect = r;
    LockFlags = flags;
    locked->Pitch = Pitch;
    locked->pBits = first;
    return D3D_OK;
  }
  HRESULT UnlockRect() override {
    if (!Locked) return D3DERR_INVALIDCALL;
    Locked = false;
    if (IsBackBuffer && !(LockFlags & D3DLOCK_READONLY)) {
      const RECT& r = LockedRect;
      Device->WriteBackBuffer(Bits.data() + size_t(r.top) * Pitch + size_t(r.left) * D3DFormatBytes(Format),
                              Pitch, r.left, r.top, r.right - r.left, r.bottom - r.top);
    }
    return D3D_OK;
  }

  bool IsBackBuffer;
  D3DFORMAT Format;
  UINT W, H;
  int Pitch;
  bool Lockable;
  std::vector<uint8_t> Bits;
  bool Locked = false;
  RECT LockedRect;
  DWORD LockFlags = 0;
};

// ---- textures -------------------------------------------------------------------------------
class TGLTexture : public TGLResource<IDirect3DTexture8> {
public:
  struct TLevel {
    UINT W, H;
    int Pitch;
    std::vector<uint8_t> Bits;
    bool Locked = false;
    DWORD Flags = 0;
  };
  TGLTexture(TGLDevice* d, UINT w, UINT h, UINT levels, D3DFORMAT f, D3DPOOL pool, const TUpload& u)
      : TGLResource(d, pool == D3DPOOL_DEFAULT), Format(f), Pool(pool), Upload(u) {
    for (UINT i = 0; levels == 0 || i < levels; ++i) {
      int pitch = Align4(int(w) * D3DFormatBytes(f));
      Levels.push_back(TLevel{w, h, pitch, std::vector<uint8_t>(size_t(pitch) * h)});
      if (w == 1 && h == 1) break;
      w = std::max(1u, w / 2);
      h = std::max(1u, h / 2);
    }
    Device->MakeCurrent();
    glGenTextures(1, &Name);
    glBindTexture(GL_TEXTURE_2D, Name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, GLint(Levels.size()) - 1);
    for (UINT i = 0; i < Levels.size(); ++i) Send(i, true);
  }
  ~TGLTexture() override {
    Device->MakeCurrent();
    glDeleteTextures(1, &Name);
  }
  bool Ok() const { return Name != 0; }

  // Uploads one level from its memory.
  void Send(UINT level, bool allocate) {
    TLevel& l = Levels[level];
    glBindTexture(GL_TEXTURE_2D, Name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    std::vector<uint8_t> expanded;
    const void* data = l.Bits.data();
    if (Upload.Convert) {
      expanded = ExpandA8R3G3B2(l.Bits.data(), l.Pitch, int(l.W), int(l.H));
      data = expanded.data();
    }
    if (allocate)
      glTexImage2D(GL_TEXTURE_2D, GLint(level), GLint(Upload.Internal), GLsizei(l.W), GLsizei(l.H),
                   0, Upload.Format, Upload.Type, data);
    else
      glTexSubImage2D(GL_TEXTURE_2D, GLint(level), 0, 0, GLsizei(l.W), GLsizei(l.H), Upload.Format,
                      Upload.Type, data);
  }

  DWORD GetLevelCount() override { return DWORD(Levels.size()); }
  HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* d) override {
    if (!d || level >= Levels.size()) return D3DERR_INVALIDCALL;
    *d = D3DSURFACE_DESC{};
    d->Format = Format;
    d->Type = D3DRTYPE_SURFACE;
    d->Pool = Pool;
    d->Size = UINT(Levels[level].Bits.size());
    d->Width = Levels[level].W;
    d->Height = Levels[level].H;
    return D3D_OK;
  }
  HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override {
    if (!locked || level >= Levels.size() || Levels[level].Locked) return D3DERR_INVALIDCALL;
    TLevel& l = Levels[level];
    RECT r = rect ? *rect : RECT{0, 0, LONG(l.W), LONG(l.H)};
    if (r.left < 0 || r.top < 0 || r.left >= r.right || r.top >= r.bottom || r.right > LONG(l.W) ||
        r.bottom > LONG(l.H))
      return D3DERR_INVALIDCALL;
    l.Locked = true;
    l.Flags = flags;
    locked->Pitch = l.Pitch;
    locked->pBits = l.Bits.data() + size_t(r.top) * l.Pitch + size_t(r.left) * D3DFormatBytes(Format);
    return D3D_OK;
  }
  HRESULT UnlockRect(UINT level) override {
    if (level >= Levels.size() || !Levels[level].Locked) return D3DERR_INVALIDCALL;
    Levels[level].Locked = false;
    if (!(Levels[level].Flags & D3DLOCK_READONLY)) {
      Device->MakeCurrent();
      Send(level, false);
    }
    return D3D_OK;
  }

  D3DFORMAT Format;
  D3DPOOL Pool;
  TUpload Upload;
  std::vector<TLevel> Levels;
  GLuint Name = 0;
  // Sampler state last applied to this texture.
  DWORD Mag = ~0u, Min = ~0u, Mip = ~0u, AddrU = ~0u, AddrV = ~0u;
};

// ---- buffers --------------------------------------------------------------------------------
// Memory the caller fills between Lock and Unlock; the unlocked range goes to a GL buffer.
template <class I, GLenum Target>
class TGLBuffer : public TGLResource<I> {
public:
  TGLBuffer(TGLDevice* d, UINT length, DWORD usage, DWORD fvfOrFormat, D3DPOOL pool)
      : TGLResource<I>(d, pool == D3DPOOL_DEFAULT), Usage(usage), FvfOrFormat(fvfOrFormat),
        Bits(length) {
    this->Device->MakeCurrent();
    gl.GenBuffers(1, &Name);
    gl.BindBuffer(Target, Name);
    gl.BufferData(Target, GLsizeiptr(length), Bits.data(),
                  (usage & D3DUSAGE_DYNAMIC) ? GL_STREAM_DRAW : GL_STATIC_DRAW);
  }
  ~TGLBuffer() override {
    this->Device->MakeCurrent();
    gl.DeleteBuffers(1, &Name);
  }
  HRESULT Lock(UINT offset, UINT size, BYTE** data, DWORD flags) override {
    if (size == 0) size = offset <= Bits.size() ? UINT(Bits.size()) - offset : 0;
    if (!data || Locked || uint64_t(offset) + size > Bits.size()) return D3DERR_INVALIDCALL;
    if ((flags & (D3DLOCK_DISCARD | D3DLOCK_NOOVERWRITE)) && !(Usage & D3DUSAGE_DYNAMIC))
      return D3DERR_INVALIDCALL;
    Locked = true;
    LockOffset = offset;
    LockSize = size;
    LockFlags = flags;
    *data = Bits.data() + offset;
    return D3D_OK;
  }
  HRESULT Unlock() override {
    if (!Locked) return D3DERR_INVALIDCALL;
    Locked = false;
    if (LockSize && !(LockFlags & D3DLOCK_READONLY)) {
      this->Device->MakeCurrent();
      gl.BindBuffer(Target, Name);
      // Discard: a fresh store, so no wait for draws still reading the old one; what lies
      // outside the locked range is undefined after a discard anyway.
      if (LockFlags & D3DLOCK_DISCARD)
        gl.BufferData(Target, GLsizeiptr(Bits.size()), nullptr, GL_STREAM_DRAW);
      gl.BufferSubData(Target, GLintptr(LockOffset), GLsizeiptr(LockSize), Bits.data() + LockOffset);
    }
    return D3D_OK;
  }
  DWORD Usage;
  DWORD FvfOrFormat;
  std::vector<uint8_t> Bits;
  GLuint Name = 0;
  bool Locked = false;
  UINT LockOffset = 0, LockSize = 0;
  DWORD LockFlags = 0;
};
class TGLVertexBuffer : public TGLBuffer<IDirect3DVertexBuffer8, GL_ARRAY_BUFFER> {
public:
  using TGLBuffer::TGLBuffer;
};
class TGLIndexBuffer : public TGLBuffer<IDirect3DIndexBuffer8, GL_ELEMENT_ARRAY_BUFFER> {
public:
  using TGLBuffer::TGLBuffer;
};

// ---- device implementation ------------------------------------------------------------------
HRESULT TGLDevice::Init(const D3DPRESENT_PARAMETERS& pp) {
  SetContextAttributes();
  Context = SDL_GL_CreateContext(Window);
  if (!Context) {
    SDL_LogError(SDL_LOG_CATEGORY_RENDER, "Direct3D stand-in: no GL context: %s", SDL_GetError());
    return D3DERR_NOTAVAILABLE;
  }
  MakeCurrent();
  if (!gl.Load() || !MakeProgram()) return D3DERR_NOTAVAILABLE;
  glDisable(GL_DITHER);
  glEnable(GL_PROGRAM_POINT_SIZE);
  glEnable(GL_POINT_SPRITE);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  return Apply(pp);
}

TGLDevice::~TGLDevice() {
  if (Context) {
    MakeCurrent();
    FreeTargets();
    if (ScratchFbo) gl.DeleteFramebuffers(1, &ScratchFbo);
    if (ScratchTex) glDeleteTextures(1, &ScratchTex);
    if (Program) gl.DeleteProgram(Program);
    SDL_GL_MakeCurrent(Window, nullptr);
    SDL_GL_DeleteContext(Context);
  }
  if (MadeFullscreen) LeaveFullscreen();
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

void TGLDevice::UpdateLoss() {
  if (Params.Windowed) return;
  TWindowState s = WindowState(Window);
  if (!s.Focused || s.Minimized) Loss = Lost;
  else if (Loss == Lost) Loss = NotReset;
}

void TGLDevice::DefaultStates() {
  D3DDefaultStates(RS, TS, Params.EnableAutoDepthStencil != 0, GLInfo().MaxPointSize);
}

HRESULT TGLDevice::Apply(const D3DPRESENT_PARAMETERS& pp) {
  D3DPRESENT_PARAMETERS p = pp;
  if (p.Windowed && (p.BackBufferWidth == 0 || p.BackBufferHeight == 0)) {
    int w = 0, h = 0;
    SDL_GetWindowSize(Window, &w, &h);
    if (p.BackBufferWidth == 0) p.BackBufferWidth = UINT(std::max(1, w));
    if (p.BackBufferHeight == 0) p.BackBufferHeight = UINT(std::max(1, h));
  }
  if (p.BackBufferCount == 0) p.BackBufferCount = 1;
  Params = p;
  // Full screen is a desktop-sized window; the display mode stays as it is.
  if (!Params.Windowed && !MadeFullscreen) EnterFullscreen();
  else if (Params.Windowed && MadeFullscreen) LeaveFullscreen();
  SDL_GL_SetSwapInterval(Params.Windowed ? 0 : 1);
  MakeCurrent();
  if (!MakeTargets()) return D3DERR_OUTOFVIDEOMEMORY;
  BackBuffer.Set(nullptr);
  auto* bb = new TGLSurface(this, true, Params.BackBufferWidth, Params.BackBufferHeight,
                            Params.BackBufferFormat,
                            (Params.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) != 0);
  BackBuffer.Set(bb);
  bb->Release();  // held by the device only; callers' references count as default pool
  DefaultStates();
  Tex0.Set(nullptr);
  Stream.Set(nullptr);
  Indices.Set(nullptr);
  Stride = BaseVertex = 0;
  Fvf = 0;
  InScene = false;
  Loss = Ok;
  return D3D_OK;
}

void TGLDevice::EnterFullscreen() {
  SDL_GetWindowPosition(Window, &WindowedRect.x, &WindowedRect.y);
  SDL_GetWindowSize(Window, &WindowedRect.w, &WindowedRect.h);
  // Without a window manager nobody acts on the full-screen request, yet SDL takes the window
  // for display-sized: cover the display ourselves first, so both agree with or without one.
  SDL_Rect display;
  const int index = SDL_GetWindowDisplayIndex(Window);
  if (index >= 0 && SDL_GetDisplayBounds(index, &display) == 0) {
    SDL_SetWindowPosition(Window, display.x, display.y);
    SDL_SetWindowSize(Window, display.w, display.h);
  }
  SDL_SetWindowFullscreen(Window, SDL_WINDOW_FULLSCREEN_DESKTOP);
  MadeFullscreen = true;
}

void TGLDevice::LeaveFullscreen() {
  SDL_SetWindowFullscreen(Window, 0);
  // SDL would bring back the display-sized window of EnterFullscreen.
  if (WindowedRect.w > 0 && WindowedRect.h > 0) {
    SDL_SetWindowSize(Window, WindowedRect.w, WindowedRect.h);
    SDL_SetWindowPosition(Window, WindowedRect.x, WindowedRect.y);
  }
  MadeFullscreen = false;
}

void TGLDevice::FreeTargets() {
  if (Fbo) gl.DeleteFramebuffers(1, &Fbo);
  if (ColorRb) gl.DeleteRenderbuffers(1, &ColorRb);
  if (DepthRb) gl.DeleteRenderbuffers(1, &DepthRb);
  Fbo = ColorRb = DepthRb = 0;
}

bool TGLDevice::MakeTargets() {
  FreeTargets();
  const GLsizei w = GLsizei(Params.BackBufferWidth), h = GLsizei(Params.BackBufferHeight);
  gl.GenFramebuffers(1, &Fbo);
  gl.BindFramebuffer(GL_FRAMEBUFFER, Fbo);
  gl.GenRenderbuffers(1, &ColorRb);
  gl.BindRenderbuffer(GL_RENDERBUFFER, ColorRb);
  // An R5G6B5 mode renders at 16 bits; X8R8G8B8 has no alpha to read.
  gl.RenderbufferStorage(GL_RENDERBUFFER, Params.BackBufferFormat == D3DFMT_R5G6B5 ? GL_RGB565 : GL_RGB8, w, h);
  gl.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, ColorRb);
  if (Params.EnableAutoDepthStencil) {
    GLenum internal = GL_DEPTH_COMPONENT16, attach = GL_DEPTH_ATTACHMENT;
    if (Params.AutoDepthStencilFormat == D3DFMT_D24X8) internal = GL_DEPTH_COMPONENT24;
    if (Params.AutoDepthStencilFormat == D3DFMT_D24S8) {
      internal = GL_DEPTH24_STENCIL8;
      attach = GL_DEPTH_STENCIL_ATTACHMENT;
    }
    gl.GenRenderbuffers(1, &DepthRb);
    gl.BindRenderbuffer(GL_RENDERBUFFER, DepthRb);
    gl.RenderbufferStorage(GL_RENDERBUFFER, internal, w, h);
    gl.FramebufferRenderbuffer(GL_FRAMEBUFFER, attach, GL_RENDERBUFFER, DepthRb);
  }
  if (gl.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return false;
  glViewport(0, 0, w, h);
  glDisable(GL_SCISSOR_TEST);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glDepthMask(GL_TRUE);
  glClearColor(0, 0, 0, 1);
  glClearDepth(1);
  glClear(GL_COLOR_BUFFER_BIT | (DepthRb ? GL_DEPTH_BUFFER_BIT : 0));
  return glGetError() == GL_NO_ERROR;
}

bool TGLDevice::MakeProgram() {
  auto compile = [](GLenum type, const char* src) -> GLuint {
    GLuint s = gl.CreateShader(type);
    gl.ShaderSource(s, 1, &src, nullptr);
    gl.CompileShader(s);
    GLint ok = 0;
    gl.GetShaderiv(s, GL_COMPILE_STATUS, &ok);
    if (!ok) {
      char log[1024] = {};
      gl.GetShaderInfoLog(s, sizeof log, nullptr, log);
      SDL_LogError(SDL_LOG_CATEGORY_RENDER, "Direct3D stand-in: shader: %s", log);
      gl.DeleteShader(s);
      return 0;
    }
    return s;
  };
  GLuint vs = compile(GL_VERTEX_SHADER, kVertexShader);
  GLuint fs = compile(GL_FRAGMENT_SHADER, kFragmentShader);
  if (!vs || !fs) return false;
  Program = gl.CreateProgram();
  gl.AttachShader(Program, vs);
  gl.AttachShader(Program, fs);
  gl.BindAttribLocation(Program, 0, "aPos");
  gl.BindAttribLocation(Program, 1, "aColor");
  gl.BindAttribLocation(Program, 2, "aTex");
  gl.BindAttribLocation(Program, 3, "aSize");
  gl.LinkProgram(Program);
  gl.DeleteShader(vs);
  gl.DeleteShader(fs);
  GLint ok = 0;
  gl.GetProgramiv(Program, GL_LINK_STATUS, &ok);
  if (!ok) return false;
  gl.UseProgram(Program);
  auto loc = [&](const char* n) { return gl.GetUniformLocation(Program, n); };
  U.Target = loc("uTarget");
  U.HasColor = loc("uHasColor");
  U.HasTex = loc("uHasTex");
  U.HasSize = loc("uHasSize");
  U.PointSize = loc("uPointSize");
  U.MaxPointSize = loc("uMaxPointSize");
  U.Tex = loc("uTex");
  U.HasTexture = loc("uHasTexture");
  U.PointSprite = loc("uPointSprite");
  U.ColorOp = loc("uColorOp");
  U.ColorArg1 = loc("uColorArg1");
  U.ColorArg2 = loc("uColorArg2");
  U.AlphaOp = loc("uAlphaOp");
  U.AlphaArg1 = loc("uAlphaArg1");
  U.AlphaArg2 = loc("uAlphaArg2");
  U.Factor = loc("uFactor");
  gl.Uniform1i(U.Tex, 0);
  return true;
}

bool TGLDevice::ScratchFor(int w, int h, const TUpload& u) {
  if (!ScratchTex) {
    glGenTextures(1, &ScratchTex);
    gl.GenFramebuffers(1, &ScratchFbo);
  }
  glBindTexture(GL_TEXTURE_2D, ScratchTex);
  if (w > ScratchW || h > ScratchH || u.Internal != ScratchInternal) {
    ScratchW = std::max(w, ScratchW);
    ScratchH = std::max(h, ScratchH);
    ScratchInternal = u.Internal;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GLint(u.Internal), ScratchW, ScratchH, 0, u.Format, u.Type, nullptr);
    gl.BindFramebuffer(GL_READ_FRAMEBUFFER, ScratchFbo);
    gl.FramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, ScratchTex, 0);
  }
  gl.BindFramebuffer(GL_READ_FRAMEBUFFER, ScratchFbo);
  return gl.CheckFramebufferStatus(GL_READ_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
}

void TGLDevice::WriteBackBuffer(const uint8_t* bits, int pitch, int x, int y, int w, int h) {
  MakeCurrent();
  TUpload u;
  UploadOf(Params.BackBufferFormat, u);
  u.Internal = Params.BackBufferFormat == D3DFMT_R5G6B5 ? GL_RGB565 : GL_RGB8;
  if (ScratchFor(w, h, u)) {
    glBindTexture(GL_TEXTURE_2D, ScratchTex);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, pitch / D3DFormatBytes(Params.BackBufferFormat));
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, u.Format, u.Type, bits);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    // The scratch holds the top row at y 0; the target has it at the top.
    const GLint H = GLint(Params.BackBufferHeight);
    gl.BindFramebuffer(GL_DRAW_FRAMEBUFFER, Fbo);
    gl.BlitFramebuffer(0, 0, w, h, x, H - y, x + w, H - y - h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
  }
  gl.BindFramebuffer(GL_FRAMEBUFFER, Fbo);
}

void TGLDevice::ReadBackBuffer(uint8_t* bits, int pitch, int x, int y, int w, int h) {
  MakeCurrent();
  gl.BindFramebuffer(GL_FRAMEBUFFER, Fbo);
  const bool rgb565 = Params.BackBufferFormat == D3DFMT_R5G6B5;
  const int bpp = D3DFormatBytes(Params.BackBufferFormat);
  const GLint H = GLint(Params.BackBufferHeight);
  // Straight into the caller's rows (GL's bottom row first), then turned upside down in place:
  // the flush reads a pixel every frame, and the frame loop allocates nothing.
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glPixelStorei(GL_PACK_ROW_LENGTH, pitch / bpp);
  glReadPixels(x, H - y - h, w, h, rgb565 ? GL_RGB : GL_BGRA,
               rgb565 ? GL_UNSIGNED_SHORT_5_6_5 : GL_UNSIGNED_BYTE, bits);
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  const size_t row = size_t(w) * bpp;
  for (int r = 0; r < h / 2; ++r) {
    uint8_t* a = bits + ptrdiff_t(r) * pitch;
    std::swap_ranges(a, a + row, bits + ptrdiff_t(h - 1 - r) * pitch);
  }
}

HRESULT TGLDevice::TestCooperativeLevel() {
  UpdateLoss();
  return Loss == Ok ? D3D_OK : Loss == Lost ? D3DERR_DEVICELOST : D3DERR_DEVICENOTRESET;
}

HRESULT TGLDevice::Reset(D3DPRESENT_PARAMETERS* pp) {
  if (!pp || !IsBackBufferFormat(pp->BackBufferFormat)) return D3DERR_INVALIDCALL;
  UpdateLoss();
  if (Loss == Lost) return D3DERR_DEVICELOST;
  if (LiveDefaultPool > 0) return D3DERR_INVALIDCALL;  // default-pool resources still alive
  return Apply(*pp);
}

HRESULT TGLDevice::Present(const RECT*, const RECT*, HWND, const void*) {
  if (InScene) return D3DERR_INVALIDCALL;
  UpdateLoss();
  if (Loss != Ok) return D3DERR_DEVICELOST;
  MakeCurrent();
  int ww = 0, wh = 0;
  DrawableSize(Window, ww, wh);
  const int W = int(Params.BackBufferWidth), H = int(Params.BackBufferHeight);
  // Scaled to the window with the aspect kept; black bars fill the rest.
  const double scale = std::min(double(ww) / W, double(wh) / H);
  const int dw = int(W * scale + 0.5), dh = int(H * scale + 0.5);
  const int dx = (ww - dw) / 2, dy = (wh - dh) / 2;
  gl.BindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  gl.BindFramebuffer(GL_READ_FRAMEBUFFER, Fbo);
  glViewport(0, 0, ww, wh);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  gl.BlitFramebuffer(0, 0, W, H, dx, dy, dx + dw, dy + dh, GL_COLOR_BUFFER_BIT,
                     dw == W && dh == H ? GL_NEAREST : GL_LINEAR);
  SDL_GL_SwapWindow(Window);
  gl.BindFramebuffer(GL_FRAMEBUFFER, Fbo);
  glViewport(0, 0, W, H);
  return D3D_OK;
}

HRESULT TGLDevice::GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface8** out) {
  if (!out || index != 0 || type != D3DBACKBUFFER_TYPE_MONO) return D3DERR_INVALIDCALL;
  BackBuffer.Get()->AddRef();
  *out = BackBuffer.Get();
  return D3D_OK;
}

HRESULT TGLDevice::CreateTexture(UINT w, UINT h, UINT levels, DWORD usage, D3DFORMAT f,
                                 D3DPOOL pool, IDirect3DTexture8** out) {
  TUpload u;
  const UINT max = UINT(GLInfo().MaxTexture);
  if (!out || w == 0 || h == 0 || w > max || h > max || !UploadOf(f, u) || pool > D3DPOOL_SYSTEMMEM ||
      (usage & ~DWORD(D3DUSAGE_DYNAMIC)))
    return D3DERR_INVALIDCALL;
  auto* t = new TGLTexture(this, w, h, levels, f, pool, u);
  if (!t->Ok() || glGetError() == GL_OUT_OF_MEMORY) {
    t->Release();
    return D3DERR_OUTOFVIDEOMEMORY;
  }
  *out = t;
  return D3D_OK;
}

HRESULT TGLDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                      IDirect3DVertexBuffer8** out) {
  if (!out || length == 0 || pool > D3DPOOL_SYSTEMMEM) return D3DERR_INVALIDCALL;
  *out = new TGLVertexBuffer(this, length, usage, fvf, pool);
  return D3D_OK;
}

HRESULT TGLDevice::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT f, D3DPOOL pool,
                                     IDirect3DIndexBuffer8** out) {
  if (!out || length == 0 || f != D3DFMT_INDEX16 || pool > D3DPOOL_SYSTEMMEM) return D3DERR_INVALIDCALL;
  *out = new TGLIndexBuffer(this, length, usage, f, pool);
  return D3D_OK;
}

HRESULT TGLDevice::CreateImageSurface(UINT w, UINT h, D3DFORMAT f, IDirect3DSurface8** out) {
  if (!out || w == 0 || h == 0 || w > 16384 || h > 16384 || D3DFormatBytes(f) == 0)
    return D3DERR_INVALIDCALL;
  *out = new TGLSurface(this, false, w, h, f, true);
  return D3D_OK;
}

HRESULT TGLDevice::CopyRects(IDirect3DSurface8* src, const RECT* rects, UINT count,
                             IDirect3DSurface8* dst, const POINT* points) {
  auto* s = static_cast<TGLSurface*>(src);
  auto* d = static_cast<TGLSurface*>(dst);
  // Same format, from memory; into memory or the back buffer.
  if (!s || !d || s == d || s->IsBackBuffer || s->Format != d->Format || s->Locked || d->Locked)
    return D3DERR_INVALIDCALL;
  if (d->IsBackBuffer && d != BackBuffer.Get()) return D3DERR_INVALIDCALL;
  const RECT whole{0, 0, LONG(s->W), LONG(s->H)};
  if (!rects) count = 1;
  const int bpp = D3DFormatBytes(s->Format);
  for (UINT i = 0; i < count; ++i) {
    const RECT r = rects ? rects[i] : whole;
    const POINT p = !rects ? POINT{0, 0} : points ? points[i] : POINT{r.left, r.top};
    const LONG w = r.right - r.left, h = r.bottom - r.top;
    if (r.left < 0 || r.top < 0 || w <= 0 || h <= 0 || r.right > LONG(s->W) || r.bottom > LONG(s->H) ||
        p.x < 0 || p.y < 0 || p.x + w > LONG(d->W) || p.y + h > LONG(d->H))
      return D3DERR_INVALIDCALL;
  }
  for (UINT i = 0; i < count; ++i) {
    const RECT r = rects ? rects[i] : whole;
    const POINT p = !rects ? POINT{0, 0} : points ? points[i] : POINT{r.left, r.top};
    const int w = r.right - r.left, h = r.bottom - r.top;
    const uint8_t* first = s->Bits.data() + size_t(r.top) * s->Pitch + size_t(r.left) * bpp;
    if (d->IsBackBuffer) {
      WriteBackBuffer(first, s->Pitch, p.x, p.y, w, h);
    } else {
      for (int y = 0; y < h; ++y)
        std::memcpy(d->Bits.data() + size_t(p.y + y) * d->Pitch + size_t(p.x) * bpp,
                    first + size_t(y) * s->Pitch, size_t(w) * bpp);
    }
  }
  return D3D_OK;
}

HRESULT TGLDevice::BeginScene() {
  if (InScene) return D3DERR_INVALIDCALL;
  InScene = true;
  return D3D_OK;
}

HRESULT TGLDevice::EndScene() {
  if (!InScene) return D3DERR_INVALIDCALL;
  InScene = false;
  MakeCurrent();
  glFlush();
  return D3D_OK;
}

HRESULT TGLDevice::SetTexture(DWORD stage, IDirect3DBaseTexture8* t) {
  if (stage >= 8) return D3DERR_INVALIDCALL;
  if (stage > 0) return t ? D3DERR_INVALIDCALL : D3D_OK;  // one texture stage
  Tex0.Set(static_cast<TGLTexture*>(static_cast<IDirect3DTexture8*>(t)));
  return D3D_OK;
}

HRESULT TGLDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer8* b, UINT stride) {
  if (stream != 0) return D3DERR_INVALIDCALL;
  Stream.Set(static_cast<TGLVertexBuffer*>(b));
  Stride = stride;
  return D3D_OK;
}

HRESULT TGLDevice::SetIndices(IDirect3DIndexBuffer8* b, UINT base) {
  Indices.Set(static_cast<TGLIndexBuffer*>(b));
  BaseVertex = base;
  return D3D_OK;
}

void TGLDevice::ApplyStates(bool points) {
  if (RS[D3DRS_ALPHABLENDENABLE]) {
    glEnable(GL_BLEND);
    glBlendFunc(BlendOf(RS[D3DRS_SRCBLEND]), BlendOf(RS[D3DRS_DESTBLEND]));
  } else {
    glDisable(GL_BLEND);
  }
  // Screen y grows downwards, GL's upwards: Direct3D's clockwise is GL's clockwise on screen,
  // so culling counter-clockwise triangles culls GL's front faces.
  switch (RS[D3DRS_CULLMODE]) {
    case D3DCULL_NONE: glDisable(GL_CULL_FACE); break;
    case D3DCULL_CW:
      glEnable(GL_CULL_FACE);
      glCullFace(GL_BACK);
      break;
    default:
      glEnable(GL_CULL_FACE);
      glCullFace(GL_FRONT);
      break;
  }
  glFrontFace(GL_CCW);
  glPolygonMode(GL_FRONT_AND_BACK, RS[D3DRS_FILLMODE] == D3DFILL_POINT       ? GL_POINT
                                   : RS[D3DRS_FILLMODE] == D3DFILL_WIREFRAME ? GL_LINE
                                                                            : GL_FILL);
  if (DepthRb && RS[D3DRS_ZENABLE]) {
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(CompareOf(RS[D3DRS_ZFUNC]));
  } else {
    glDisable(GL_DEPTH_TEST);
  }
  glDepthMask(DepthRb && RS[D3DRS_ZWRITEENABLE] ? GL_TRUE : GL_FALSE);

  float pointSize, maxPoint;
  std::memcpy(&pointSize, &RS[D3DRS_POINTSIZE], 4);
  std::memcpy(&maxPoint, &RS[D3DRS_POINTSIZE_MAX], 4);
  gl.Uniform2f(U.Target, float(Params.BackBufferWidth), float(Params.BackBufferHeight));
  gl.Uniform1f(U.PointSize, pointSize);
  gl.Uniform1f(U.MaxPointSize, std::max(1.0f, std::min(maxPoint, GLInfo().MaxPointSize)));
  // Point-sprite texturing applies to point primitives only.
  gl.Uniform1i(U.PointSprite, points && RS[D3DRS_POINTSPRITEENABLE] ? 1 : 0);
  const DWORD f = RS[D3DRS_TEXTUREFACTOR];
  gl.Uniform4f(U.Factor, ((f >> 16) & 0xFF) / 255.0f, ((f >> 8) & 0xFF) / 255.0f, (f & 0xFF) / 255.0f,
               (f >> 24) / 255.0f);
  const DWORD* ts = TS[0];
  gl.Uniform1i(U.ColorOp, GLint(ts[D3DTSS_COLOROP]));
  gl.Uniform1i(U.ColorArg1, GLint(ts[D3DTSS_COLORARG1]));
  gl.Uniform1i(U.ColorArg2, GLint(ts[D3DTSS_COLORARG2]));
  gl.Uniform1i(U.AlphaOp, GLint(ts[D3DTSS_ALPHAOP]));
  gl.Uniform1i(U.AlphaArg1, GLint(ts[D3DTSS_ALPHAARG1]));
  gl.Uniform1i(U.AlphaArg2, GLint(ts[D3DTSS_ALPHAARG2]));

  TGLTexture* t = Tex0.Get();
  gl.Uniform1i(U.HasTexture, t ? 1 : 0);
  gl.ActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, t ? t->Name : 0);
  if (t) {
    const DWORD mag = ts[D3DTSS_MAGFILTER], min = ts[D3DTSS_MINFILTER], mip = ts[D3DTSS_MIPFILTER];
    if (mag != t->Mag) {
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, mag == D3DTEXF_POINT ? GL_NEAREST : GL_LINEAR);
      t->Mag = mag;
    }
    if (min != t->Min || mip != t->Mip) {
      GLint m;
      const bool lin = min != D3DTEXF_POINT;
      if (mip == D3DTEXF_NONE || t->Levels.size() == 1) m = lin ? GL_LINEAR : GL_NEAREST;
      else if (mip == D3DTEXF_POINT) m = lin ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
      else m = lin ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, m);
      t->Min = min;
      t->Mip = mip;
    }
    if (ts[D3DTSS_ADDRESSU] != t->AddrU) {
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GLint(AddressOf(ts[D3DTSS_ADDRESSU])));
      t->AddrU = ts[D3DTSS_ADDRESSU];
    }
    if (ts[D3DTSS_ADDRESSV] != t->AddrV) {
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GLint(AddressOf(ts[D3DTSS_ADDRESSV])));
      t->AddrV = ts[D3DTSS_ADDRESSV];
    }
  }
}

// Checks the stream and points the attributes at its vertices from `firstVertex` on.
HRESULT TGLDevice::PrepareDraw(UINT vertexCount, UINT firstVertex, bool points) {
  TGLVertexBuffer* vb = Stream.Get();
  // Pre-transformed vertices only: nothing in this program draws others.
  if (!InScene || !vb || vb->Locked || Stride == 0 || !(Fvf & D3DFVF_XYZRHW) || vertexCount == 0)
    return D3DERR_INVALIDCALL;
  const UINT texCount = (Fvf >> 8) & 0xF;
  UINT size = 16 + ((Fvf & D3DFVF_PSIZE) ? 4 : 0) + ((Fvf & D3DFVF_DIFFUSE) ? 4 : 0) +
              ((Fvf & D3DFVF_SPECULAR) ? 4 : 0) + 8 * texCount;
  if (size > Stride || (uint64_t(firstVertex) + vertexCount) * Stride > vb->Bits.size())
    return D3DERR_INVALIDCALL;
  MakeCurrent();
  gl.BindFramebuffer(GL_FRAMEBUFFER, Fbo);
  gl.UseProgram(Program);
  ApplyStates(points);
  gl.BindBuffer(GL_ARRAY_BUFFER, vb->Name);
  auto at = [&](UINT offset) { return reinterpret_cast<const void*>(uintptr_t(firstVertex) * Stride + offset); };
  UINT offset = 0;
  gl.EnableVertexAttribArray(0);
  gl.VertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, GLsizei(Stride), at(offset));
  offset += 16;
  const bool hasSize = Fvf & D3DFVF_PSIZE;
  if (hasSize) {
    gl.EnableVertexAttribArray(3);
    gl.VertexAttribPointer(3, 1, GL_FLOAT, GL_FALSE, GLsizei(Stride), at(offset));
    offset += 4;
  } else {
    gl.DisableVertexAttribArray(3);
  }
  const bool hasColor = Fvf & D3DFVF_DIFFUSE;
  if (hasColor) {
    gl.EnableVertexAttribArray(1);
    gl.VertexAttribPointer(1, 4, GL_UNSIGNED_BYTE, GL_TRUE, GLsizei(Stride), at(offset));
    offset += 4;
  } else {
    gl.DisableVertexAttribArray(1);
  }
  if (Fvf & D3DFVF_SPECULAR) offset += 4;
  if (texCount > 0) {
    gl.EnableVertexAttribArray(2);
    gl.VertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, GLsizei(Stride), at(offset));
  } else {
    gl.DisableVertexAttribArray(2);
  }
  gl.Uniform1i(U.HasSize, hasSize);
  gl.Uniform1i(U.HasColor, hasColor);
  gl.Uniform1i(U.HasTex, texCount > 0);
  return D3D_OK;
}

GLenum ModeOf(D3DPRIMITIVETYPE type, UINT prims, UINT& vertices) {
  switch (type) {
    case D3DPT_POINTLIST: vertices = prims; return GL_POINTS;
    case D3DPT_LINELIST: vertices = prims * 2; return GL_LINES;
    case D3DPT_LINESTRIP: vertices = prims + 1; return GL_LINE_STRIP;
    case D3DPT_TRIANGLELIST: vertices = prims * 3; return GL_TRIANGLES;
    case D3DPT_TRIANGLESTRIP: vertices = prims + 2; return GL_TRIANGLE_STRIP;
    case D3DPT_TRIANGLEFAN: vertices = prims + 2; return GL_TRIANGLE_FAN;
    default: vertices = 0; return 0;
  }
}

HRESULT TGLDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT prims) {
  UINT n = 0;
  GLenum mode = ModeOf(type, prims, n);
  if (prims == 0 || n == 0) return D3DERR_INVALIDCALL;
  HRESULT hr = PrepareDraw(n, start, mode == GL_POINTS);
  if (FAILED(hr)) return hr;
  glDrawArrays(mode, 0, GLsizei(n));
  return D3D_OK;
}

HRESULT TGLDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVertices,
                                        UINT startIndex, UINT prims) {
  UINT n = 0;
  GLenum mode = ModeOf(type, prims, n);
  TGLIndexBuffer* ib = Indices.Get();
  if (prims == 0 || n == 0 || numVertices == 0 || !ib || ib->Locked ||
      (uint64_t(startIndex) + n) * 2 > ib->Bits.size())
    return D3DERR_INVALIDCALL;
  // Every index must fall inside the vertex range the caller named.
  const uint8_t* idx = ib->Bits.data() + size_t(startIndex) * 2;
  for (UINT i = 0; i < n; ++i) {
    uint16_t v;
    std::memcpy(&v, idx + size_t(i) * 2, 2);
    if (v < minIndex || v >= minIndex + numVertices) return D3DERR_INVALIDCALL;
  }
  HRESULT hr = PrepareDraw(minIndex + numVertices, BaseVertex, mode == GL_POINTS);
  if (FAILED(hr)) return hr;
  gl.BindBuffer(GL_ELEMENT_ARRAY_BUFFER, ib->Name);
  gl.DrawRangeElements(mode, minIndex, minIndex + numVertices - 1, GLsizei(n), GL_UNSIGNED_SHORT,
                       reinterpret_cast<const void*>(uintptr_t(startIndex) * 2));
  return D3D_OK;
}

}  // namespace

HRESULT CreateDevice(HWND window, const D3DPRESENT_PARAMETERS& params, IDirect3DDevice8** out) {
  auto* d = new TGLDevice(window);
  HRESULT hr = d->Init(params);
  if (FAILED(hr)) {
    d->Release();
    return hr;
  }
  *out = d;
  return D3D_OK;
}

}  // namespace d3dgl
