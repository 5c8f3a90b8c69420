#include "platform/D3D8Fake.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// Named (not anonymous): the device type declared in the header derives from these.
namespace fake_d3d8 {

// External references (AddRef/Release) decide whether an object counts as alive; the device's
// own hold on bound objects (pins) only keeps the memory, as the platform's bindings do.
template <class I>
class TFake : public I {
public:
  TFake(TFakeD3D8* runtime, bool defaultPool)
      : R(runtime), Id(runtime->NextId++), DefaultPool(defaultPool) {
    ++R->Live;
    if (DefaultPool) ++R->LiveDefaultPool;
  }
  ULONG AddRef() override {
    if (Refs++ == 0) {
      ++R->Live;
      if (DefaultPool) ++R->LiveDefaultPool;
    }
    return Refs;
  }
  ULONG Release() override {
    ULONG n = --Refs;
    if (n == 0) {
      --R->Live;
      if (DefaultPool) --R->LiveDefaultPool;
      if (Pins == 0) delete this;
    }
    return n;
  }
  void Pin() { ++Pins; }
  void Unpin() {
    if (--Pins == 0 && Refs == 0) delete this;
  }

  TFakeD3D8* R;
  int Id;
  bool DefaultPool;

private:
  ULONG Refs = 1;
  ULONG Pins = 0;
};

// A device's hold on a bound object.
template <class T>
class TPin {
public:
  TPin() = default;
  TPin(const TPin&) = delete;
  TPin& operator=(const TPin&) = delete;
  ~TPin() { Set(nullptr); }
  void Set(T* p) {
    if (p) p->Pin();
    if (P) P->Unpin();
    P = p;
  }
  T* Get() const { return P; }
  int Id() const { return P ? P->Id : 0; }

private:
  T* P = nullptr;
};

int AlignedPitch(UINT width, D3DFORMAT format) {
  int row = int(width) * std::max(1, D3DFormatBytes(format));
  return (row + 3) & ~3;  // like a driver: rows padded, so code must honour the pitch
}

class FakeSurface : public TFake<IDirect3DSurface8> {
public:
  FakeSurface(TFakeD3D8* r, const char* kind, UINT w, UINT h, D3DFORMAT f, bool lockable)
      : TFake(r, std::string(kind) == "BackBuffer"), Kind(kind), Format(f), W(w), H(h), Pitch(AlignedPitch(w, f)),
        Lockable(lockable), Bits(size_t(Pitch) * h) {}
  HRESULT GetDesc(D3DSURFACE_DESC* d) override {
    if (!d) return D3DERR_INVALIDCALL;
    *d = D3DSURFACE_DESC{};
    d->Format = Format;
    d->Type = D3DRTYPE_SURFACE;
    d->Pool = std::string(Kind) == "BackBuffer" ? D3DPOOL_DEFAULT : D3DPOOL_SYSTEMMEM;
    d->Size = UINT(Bits.size());
    d->Width = W;
    d->Height = H;
    return D3D_OK;
  }
  HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override {
    RECT r = rect ? *rect : RECT{0, 0, LONG(W), LONG(H)};
    R->Record(std::string(Kind) + ".LockRect", {uint64_t(Id), uint64_t(r.left), uint64_t(r.top),
                                                uint64_t(r.right), uint64_t(r.bottom), flags});
    HRESULT hr;
    if (R->Fails(std::string(Kind) + ".LockRect", hr)) return hr;
    if (!locked || !Lockable || Locked || r.left < 0 || r.top < 0 || r.left >= r.right ||
        r.top >= r.bottom || r.right > LONG(W) || r.bottom > LONG(H))
      return D3DERR_INVALIDCALL;
    Locked = true;
    locked->Pitch = Pitch;
    locked->pBits = Bits.data() + size_t(r.top) * Pitch + size_t(r.left) * D3DFormatBytes(Format);
    return D3D_OK;
  }
  HRESULT UnlockRect() override {
    R->Record(std::string(Kind) + ".UnlockRect", {uint64_t(Id)});
    HRESULT hr;
    if (R->Fails(std::string(Kind) + ".UnlockRect", hr)) return hr;
    if (!Locked) return D3DERR_INVALIDCALL;
    Locked = false;
    return D3D_OK;
  }
  const char* Kind;
  D3DFORMAT Format;
  UINT W, H;
  int Pitch;
  bool Lockable;
  bool Locked = false;
  std::vector<uint8_t> Bits;
};

class FakeTexture : public TFake<IDirect3DTexture8> {
public:
  struct Level {
    UINT W, H;
    int Pitch;
    std::vector<uint8_t> Bits;
    bool Locked = false;
  };
  FakeTexture(TFakeD3D8* r, UINT w, UINT h, UINT levels, D3DFORMAT f, D3DPOOL pool)
      : TFake(r, pool == D3DPOOL_DEFAULT), Format(f), Pool(pool) {
    for (UINT i = 0; levels == 0 || i < levels; ++i) {
      Levels.push_back(Level{w, h, AlignedPitch(w, f), std::vector<uint8_t>(size_t(AlignedPitch(w, f)) * h)});
      if (w == 1 && h == 1) break;
      w = std::max(1u, w / 2);
      h = std::max(1u, h / 2);
    }
  }
  DWORD GetLevelCount() override { return DWORD(Levels.size()); }
  HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* d) override {
    R->Record("Texture.GetLevelDesc", {uint64_t(Id), level});
    HRESULT hr;
    if (R->Fails("Texture.GetLevelDesc", hr)) return hr;
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
    R->Record("Texture.LockRect", {uint64_t(Id), level, flags});
    HRESULT hr;
    if (R->Fails("Texture.LockRect", hr)) return hr;
    if (!locked || level >= Levels.size() || Levels[level].Locked) return D3DERR_INVALIDCALL;
    Level& l = Levels[level];
    RECT r = rect ? *rect : RECT{0, 0, LONG(l.W), LONG(l.H)};
    if (r.left < 0 || r.top < 0 || r.left >= r.right || r.top >= r.bottom || r.right > LONG(l.W) ||
        r.bottom > LONG(l.H))
      return D3DERR_INVALIDCALL;
    l.Locked = true;
    locked->Pitch = l.Pitch;
    locked->pBits = l.Bits.data() + size_t(r.top) * l.Pitch + size_t(r.left) * D3DFormatBytes(Format);
    return D3D_OK;
  }
  HRESULT UnlockRect(UINT level) override {
    R->Record("Texture.UnlockRect", {uint64_t(Id), level});
    HRESULT hr;
    if (R->Fails("Texture.UnlockRect", hr)) return hr;
    if (level >= Levels.size() || !Levels[level].Locked) return D3DERR_INVALIDCALL;
    Levels[level].Locked = false;
    return D3D_OK;
  }
  D3DFORMAT Format;
  D3DPOOL Pool;
  std::vector<Level> Levels;
};

template <class I>
class FakeBuffer : public TFake<I> {
public:
  FakeBuffer(TFakeD3D8* r, const char* kind, UINT length, DWORD usage, DWORD fvfOrFormat, D3DPOOL pool)
      : TFake<I>(r, pool == D3DPOOL_DEFAULT), Kind(kind), Usage(usage), FvfOrFormat(fvfOrFormat),
        Bits(length) {}
  HRESULT Lock(UINT offset, UINT size, BYTE** data, DWORD flags) override {
    this->R->Record(std::string(Kind) + ".Lock", {uint64_t(this->Id), offset, size, flags});
    HRESULT hr;
    if (this->R->Fails(std::string(Kind) + ".Lock", hr)) return hr;
    if (!data || Locked || uint64_t(offset) + size > Bits.size()) return D3DERR_INVALIDCALL;
    // Dynamic buffers only take discard and no-overwrite locks.
    if ((flags & (D3DLOCK_DISCARD | D3DLOCK_NOOVERWRITE)) && !(Usage & D3DUSAGE_DYNAMIC))
      return D3DERR_INVALIDCALL;
    Locked = true;
    *data = Bits.data() + offset;
    return D3D_OK;
  }
  HRESULT Unlock() override {
    this->R->Record(std::string(Kind) + ".Unlock", {uint64_t(this->Id)});
    HRESULT hr;
    if (this->R->Fails(std::string(Kind) + ".Unlock", hr)) return hr;
    if (!Locked) return D3DERR_INVALIDCALL;
    Locked = false;
    return D3D_OK;
  }
  const char* Kind;
  DWORD Usage;
  DWORD FvfOrFormat;
  std::vector<uint8_t> Bits;
  bool Locked = false;
};
using FakeVB = FakeBuffer<IDirect3DVertexBuffer8>;
using FakeIB = FakeBuffer<IDirect3DIndexBuffer8>;


}  // namespace fake_d3d8
using namespace fake_d3d8;

// ---- device ----------------------------------------------------------------------------------
struct TFakeD3D8::Device : public TFake<IDirect3DDevice8> {
  Device(TFakeD3D8* r, UINT adapter, const D3DPRESENT_PARAMETERS& pp)
      : TFake(r, false), Adapter(adapter) {
    Apply(pp);
    r->CurrentDevice = this;
  }
  ~Device() override {
    if (R->CurrentDevice == this) R->CurrentDevice = nullptr;
  }

  void Apply(const D3DPRESENT_PARAMETERS& pp) {
    Params = pp;
    if (Params.BackBufferWidth == 0) Params.BackBufferWidth = 800;
    if (Params.BackBufferHeight == 0) Params.BackBufferHeight = 600;
    BackBuffer.Set(nullptr);
    auto* bb = new FakeSurface(R, "BackBuffer", Params.BackBufferWidth, Params.BackBufferHeight,
                               Params.BackBufferFormat,
                               (Params.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) != 0);
    BackBuffer.Set(bb);
    bb->Release();  // the device's pin keeps it; callers' references count as default pool
    D3DDefaultStates(RS, TS, Params.EnableAutoDepthStencil != 0, 64.0f);
    for (auto& t : Tex) t.Set(nullptr);
    Stream.Set(nullptr);
    Indices.Set(nullptr);
    Stride = 0;
    BaseVertex = 0;
    Fvf = 0;
    InScene = false;
  }
  bool Fail(const char* name, HRESULT& hr) { return R->Fails(name, hr); }

  HRESULT TestCooperativeLevel() override {
    R->Record("TestCooperativeLevel", {});
    return R->CooperativeLevel;
  }
  HRESULT Reset(D3DPRESENT_PARAMETERS* pp) override {
    R->Record("Reset", {});
    HRESULT hr;
    if (Fail("Reset", hr)) return hr;
    if (!pp) return D3DERR_INVALIDCALL;
    if (R->CooperativeLevel == D3DERR_DEVICELOST) return D3DERR_DEVICELOST;
    if (R->LiveDefaultPool > 0) return D3DERR_INVALIDCALL;  // default-pool resources still alive
    Apply(*pp);
    R->CooperativeLevel = D3D_OK;
    return D3D_OK;
  }
  HRESULT Present(const RECT*, const RECT*, HWND, const void*) override {
    R->Record("Present", {});
    if (!R->PresentResults.empty()) {
      HRESULT hr = R->PresentResults.front();
      R->PresentResults.pop_front();
      return hr;
    }
    HRESULT hr;
    if (Fail("Present", hr)) return hr;
    if (InScene) return D3DERR_INVALIDCALL;
    return R->CooperativeLevel == D3D_OK ? D3D_OK : D3DERR_DEVICELOST;
  }
  HRESULT GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface8** out) override {
    R->Record("GetBackBuffer", {index, type});
    HRESULT hr;
    if (Fail("GetBackBuffer", hr)) return hr;
    if (!out || index != 0 || type != D3DBACKBUFFER_TYPE_MONO) return D3DERR_INVALIDCALL;
    BackBuffer.Get()->AddRef();
    *out = BackBuffer.Get();
    return D3D_OK;
  }
  HRESULT CreateTexture(UINT w, UINT h, UINT levels, DWORD usage, D3DFORMAT f, D3DPOOL pool,
                        IDirect3DTexture8** out) override {
    R->Record("CreateTexture", {w, h, levels, usage, f, pool});
    HRESULT hr;
    if (Fail("CreateTexture", hr)) return hr;
    const TFakeAdapter& a = R->Adapters[Adapter];
    if (!out || w == 0 || h == 0 || w > a.Caps.MaxTextureWidth || h > a.Caps.MaxTextureHeight ||
        !a.TextureFormats.count(f) || pool > D3DPOOL_SYSTEMMEM)
      return D3DERR_INVALIDCALL;
    *out = new FakeTexture(R, w, h, levels, f, pool);
    return D3D_OK;
  }
  HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                             IDirect3DVertexBuffer8** out) override {
    R->Record("CreateVertexBuffer", {length, usage, fvf, pool});
    HRESULT hr;
    if (Fail("CreateVertexBuffer", hr)) return hr;
    if (!out || length == 0) return D3DERR_INVALIDCALL;
    *out = new FakeVB(R, "VertexBuffer", length, usage, fvf, pool);
    return D3D_OK;
  }
  HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT f, D3DPOOL pool,
                            IDirect3DIndexBuffer8** out) override {
    R->Record("CreateIndexBuffer", {length, usage, f, pool});
    HRESULT hr;
    if (Fail("CreateIndexBuffer", hr)) return hr;
    if (!out || length == 0 || (f != D3DFMT_INDEX16 && f != D3DFMT_INDEX32)) return D3DERR_INVALIDCALL;
    *out = new FakeIB(R, "IndexBuffer", length, usage, f, pool);
    return D3D_OK;
  }
  HRESULT CreateImageSurface(UINT w, UINT h, D3DFORMAT f, IDirect3DSurface8** out) override {
    R->Record("CreateImageSurface", {w, h, f});
    HRESULT hr;
    if (Fail("CreateImageSurface", hr)) return hr;
    if (!out || w == 0 || h == 0 || D3DFormatBytes(f) == 0) return D3DERR_INVALIDCALL;
    *out = new FakeSurface(R, "ImageSurface", w, h, f, true);
    return D3D_OK;
  }
  HRESULT CopyRects(IDirect3DSurface8* src, const RECT* rects, UINT count, IDirect3DSurface8* dst,
                    const POINT* points) override {
    auto* s = static_cast<FakeSurface*>(src);
    auto* d = static_cast<FakeSurface*>(dst);
    R->Record("CopyRects", {uint64_t(s ? s->Id : 0), count, uint64_t(d ? d->Id : 0)});
    HRESULT hr;
    if (Fail("CopyRects", hr)) return hr;
    if (!s || !d || s->Format != d->Format || s->Locked || d->Locked) return D3DERR_INVALIDCALL;
    RECT whole{0, 0, LONG(s->W), LONG(s->H)};
    if (!rects) count = 1;
    int bpp = D3DFormatBytes(s->Format);
    for (UINT i = 0; i < count; ++i) {
      RECT r = rects ? rects[i] : whole;
      POINT p = points ? points[i] : POINT{r.left, r.top};
      if (!rects) p = POINT{0, 0};
      if (r.left < 0 || r.top < 0 || r.left >= r.right || r.top >= r.bottom || r.right > LONG(s->W) ||
          r.bottom > LONG(s->H) || p.x < 0 || p.y < 0 || p.x + (r.right - r.left) > LONG(d->W) ||
          p.y + (r.bottom - r.top) > LONG(d->H))
        return D3DERR_INVALIDCALL;
      for (LONG y = r.top; y < r.bottom; ++y)
        std::memcpy(d->Bits.data() + size_t(p.y + y - r.top) * d->Pitch + size_t(p.x) * bpp,
                    s->Bits.data() + size_t(y) * s->Pitch + size_t(r.left) * bpp,
                    size_t(r.right - r.left) * bpp);
    }
    return D3D_OK;
  }
  HRESULT BeginScene() override {
    R->Record("BeginScene", {});
    HRESULT hr;
    if (Fail("BeginScene", hr)) return hr;
    if (InScene) return D3DERR_INVALIDCALL;
    InScene = true;
    return D3D_OK;
  }
  HRESULT EndScene() override {
    R->Record("EndScene", {});
    HRESULT hr;
    if (Fail("EndScene", hr)) return hr;
    if (!InScene) return D3DERR_INVALIDCALL;
    InScene = false;
    return D3D_OK;
  }
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* m) override {
    R->Record("SetTransform", {state});
    HRESULT hr;
    if (Fail("SetTransform", hr)) return hr;
    if (!m) return D3DERR_INVALIDCALL;
    if (state == D3DTS_PROJECTION) Projection = *m;
    return D3D_OK;
  }
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
    R->Record("SetRenderState", {state, value});
    HRESULT hr;
    if (Fail("SetRenderState", hr)) return hr;
    if (state >= D3DRS_MAX) return D3DERR_INVALIDCALL;
    RS[state] = value;
    return D3D_OK;
  }
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override {
    if (state >= D3DRS_MAX || !value) return D3DERR_INVALIDCALL;
    *value = RS[state];
    return D3D_OK;
  }
  HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture8* t) override {
    auto* ft = static_cast<FakeTexture*>(static_cast<IDirect3DTexture8*>(t));
    R->Record("SetTexture", {stage, uint64_t(ft ? ft->Id : 0)});
    HRESULT hr;
    if (Fail("SetTexture", hr)) return hr;
    if (stage >= 8) return D3DERR_INVALIDCALL;
    Tex[stage].Set(ft);
    return D3D_OK;
  }
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override {
    R->Record("SetTextureStageState", {stage, type, value});
    HRESULT hr;
    if (Fail("SetTextureStageState", hr)) return hr;
    if (stage >= 8 || type >= D3DTSS_MAX) return D3DERR_INVALIDCALL;
    TS[stage][type] = value;
    return D3D_OK;
  }
  HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer8* b, UINT stride) override {
    auto* vb = static_cast<FakeVB*>(b);
    R->Record("SetStreamSource", {stream, uint64_t(vb ? vb->Id : 0), stride});
    HRESULT hr;
    if (Fail("SetStreamSource", hr)) return hr;
    if (stream != 0) return D3DERR_INVALIDCALL;
    Stream.Set(vb);
    Stride = stride;
    return D3D_OK;
  }
  HRESULT SetIndices(IDirect3DIndexBuffer8* b, UINT base) override {
    auto* ib = static_cast<FakeIB*>(b);
    R->Record("SetIndices", {uint64_t(ib ? ib->Id : 0), base});
    HRESULT hr;
    if (Fail("SetIndices", hr)) return hr;
    Indices.Set(ib);
    BaseVertex = base;
    return D3D_OK;
  }
  HRESULT SetVertexShader(DWORD handle) override {
    R->Record("SetVertexShader", {handle});
    HRESULT hr;
    if (Fail("SetVertexShader", hr)) return hr;
    Fvf = handle;
    return D3D_OK;
  }
  static UINT VerticesOf(D3DPRIMITIVETYPE type, UINT prims) {
    switch (type) {
      case D3DPT_POINTLIST: return prims;
      case D3DPT_LINELIST: return prims * 2;
      case D3DPT_LINESTRIP: return prims + 1;
      case D3DPT_TRIANGLELIST: return prims * 3;
      case D3DPT_TRIANGLESTRIP:
      case D3DPT_TRIANGLEFAN: return prims + 2;
      default: return 0;
    }
  }
  TFakeD3DDraw NewDraw() {
    TFakeD3DDraw d;
    d.TextureId = Tex[0].Id();
    d.Fvf = Fvf;
    d.Stride = Stride;
    d.RenderStates.assign(RS, RS + D3DRS_MAX);
    return d;
  }
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT prims) override {
    R->Record("DrawPrimitive", {type, start, prims});
    HRESULT hr;
    if (Fail("DrawPrimitive", hr)) return hr;
    FakeVB* vb = Stream.Get();
    UINT n = VerticesOf(type, prims);
    if (!InScene || !vb || vb->Locked || Stride == 0 || n == 0 ||
        (uint64_t(start) + n) * Stride > vb->Bits.size())
      return D3DERR_INVALIDCALL;
    TFakeD3DDraw d = NewDraw();
    d.Type = type;
    d.MinIndex = start;
    d.NumVertices = n;
    d.PrimitiveCount = prims;
    d.Vertices.assign(vb->Bits.begin() + size_t(start) * Stride,
                      vb->Bits.begin() + size_t(start + n) * Stride);
    R->Draws.push_back(std::move(d));
    return D3D_OK;
  }
  HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVertices,
                               UINT startIndex, UINT prims) override {
    R->Record("DrawIndexedPrimitive", {type, minIndex, numVertices, startIndex, prims});
    HRESULT hr;
    if (Fail("DrawIndexedPrimitive", hr)) return hr;
    FakeVB* vb = Stream.Get();
    FakeIB* ib = Indices.Get();
    UINT n = VerticesOf(type, prims);
    if (!InScene || !vb || !ib || vb->Locked || ib->Locked || Stride == 0 || n == 0 ||
        ib->FvfOrFormat != D3DFMT_INDEX16 || (uint64_t(startIndex) + n) * 2 > ib->Bits.size() ||
        (uint64_t(BaseVertex) + minIndex + numVertices) * Stride > vb->Bits.size())
      return D3DERR_INVALIDCALL;
    TFakeD3DDraw d = NewDraw();
    d.Indexed = true;
    d.Type = type;
    d.MinIndex = minIndex;
    d.NumVertices = numVertices;
    d.StartIndex = startIndex;
    d.PrimitiveCount = prims;
    for (UINT i = 0; i < n; ++i) {
      uint16_t v;
      std::memcpy(&v, ib->Bits.data() + size_t(startIndex + i) * 2, 2);
      if (v < minIndex || v >= minIndex + numVertices) return D3DERR_INVALIDCALL;
      d.Indices.push_back(v);
    }
    size_t first = size_t(BaseVertex + minIndex) * Stride;
    d.Vertices.assign(vb->Bits.begin() + first, vb->Bits.begin() + first + size_t(numVertices) * Stride);
    R->Draws.push_back(std::move(d));
    return D3D_OK;
  }

  UINT Adapter;
  D3DPRESENT_PARAMETERS Params;
  DWORD RS[D3DRS_MAX];
  DWORD TS[8][D3DTSS_MAX];
  TPin<FakeTexture> Tex[8];
  TPin<FakeVB> Stream;
  UINT Stride = 0;
  TPin<FakeIB> Indices;
  UINT BaseVertex = 0;
  DWORD Fvf = 0;
  TPin<FakeSurface> BackBuffer;
  D3DMATRIX Projection;
  bool InScene = false;
};

// ---- Direct3D object -------------------------------------------------------------------------
namespace fake_d3d8 {
class FakeD3D : public TFake<IDirect3D8> {
public:
  explicit FakeD3D(TFakeD3D8* r) : TFake(r, false) {}
  const TFakeAdapter* Get(UINT a) const { return a < R->Adapters.size() ? &R->Adapters[a] : nullptr; }
  bool Fail(const char* name, HRESULT& hr) { return R->Fails(name, hr); }

  UINT GetAdapterCount() override {
    R->Record("GetAdapterCount", {});
    return UINT(R->Adapters.size());
  }
  HRESULT GetAdapterIdentifier(UINT a, DWORD flags, D3DADAPTER_IDENTIFIER8* id) override {
    R->Record("GetAdapterIdentifier", {a, flags});
    const TFakeAdapter* ad = Get(a);
    if (!ad || !id) return D3DERR_INVALIDCALL;
    if (FAILED(ad->IdentifierResult)) return ad->IdentifierResult;
    *id = ad->Identifier;
    return D3D_OK;
  }
  UINT GetAdapterModeCount(UINT a) override {
    R->Record("GetAdapterModeCount", {a});
    const TFakeAdapter* ad = Get(a);
    return ad ? UINT(ad->Modes.size()) : 0;
  }
  HRESULT EnumAdapterModes(UINT a, UINT mode, D3DDISPLAYMODE* out) override {
    R->Record("EnumAdapterModes", {a, mode});
    HRESULT hr;
    if (Fail("EnumAdapterModes", hr)) return hr;
    const TFakeAdapter* ad = Get(a);
    if (!ad || !out || mode >= ad->Modes.size()) return D3DERR_INVALIDCALL;
    *out = ad->Modes[mode];
    return D3D_OK;
  }
  HRESULT GetAdapterDisplayMode(UINT a, D3DDISPLAYMODE* out) override {
    R->Record("GetAdapterDisplayMode", {a});
    const TFakeAdapter* ad = Get(a);
    if (!ad || !out) return D3DERR_INVALIDCALL;
    if (FAILED(ad->DisplayModeResult)) return ad->DisplayModeResult;
    *out = ad->DesktopMode;
    return D3D_OK;
  }
  HRESULT CheckDeviceType(UINT a, D3DDEVTYPE type, D3DFORMAT display, D3DFORMAT back, BOOL windowed) override {
    R->Record("CheckDeviceType", {a, type, display, back, uint64_t(uint32_t(windowed))});
    const TFakeAdapter* ad = Get(a);
    if (!ad || type != D3DDEVTYPE_HAL) return D3DERR_INVALIDCALL;
    if (display != back || !ad->BackBufferFormats.count(back)) return D3DERR_NOTAVAILABLE;
    if (windowed && display != ad->DesktopMode.Format) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
  }
  HRESULT CheckDeviceFormat(UINT a, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                            D3DRESOURCETYPE rt, D3DFORMAT check) override {
    R->Record("CheckDeviceFormat", {a, type, adapterFormat, usage, rt, check});
    const TFakeAdapter* ad = Get(a);
    if (!ad || type != D3DDEVTYPE_HAL) return D3DERR_INVALIDCALL;
    if (!ad->BackBufferFormats.count(adapterFormat)) return D3DERR_NOTAVAILABLE;
    if (usage & D3DUSAGE_DEPTHSTENCIL)
      return rt == D3DRTYPE_SURFACE && ad->DepthFormats.count(check) ? D3D_OK : D3DERR_NOTAVAILABLE;
    if (rt == D3DRTYPE_TEXTURE) return ad->TextureFormats.count(check) ? D3D_OK : D3DERR_NOTAVAILABLE;
    return D3DERR_NOTAVAILABLE;
  }
  HRESULT CheckDepthStencilMatch(UINT a, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT rt,
                                 D3DFORMAT depth) override {
    R->Record("CheckDepthStencilMatch", {a, type, adapterFormat, rt, depth});
    const TFakeAdapter* ad = Get(a);
    if (!ad || type != D3DDEVTYPE_HAL) return D3DERR_INVALIDCALL;
    return ad->DepthFormats.count(depth) && ad->BackBufferFormats.count(rt) ? D3D_OK : D3DERR_NOTAVAILABLE;
  }
  HRESULT GetDeviceCaps(UINT a, D3DDEVTYPE type, D3DCAPS8* caps) override {
    R->Record("GetDeviceCaps", {a, type});
    const TFakeAdapter* ad = Get(a);
    if (!ad || !caps) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    if (FAILED(ad->CapsResult)) return ad->CapsResult;
    *caps = ad->Caps;
    return D3D_OK;
  }
  HMONITOR GetAdapterMonitor(UINT a) override {
    R->Record("GetAdapterMonitor", {a});
    const TFakeAdapter* ad = Get(a);
    return ad ? ad->Monitor : 0;
  }
  HRESULT CreateDevice(UINT a, D3DDEVTYPE type, HWND, DWORD behavior, D3DPRESENT_PARAMETERS* pp,
                       IDirect3DDevice8** out) override {
    R->Record("CreateDevice", {a, type, behavior, pp ? pp->BackBufferWidth : 0,
                               pp ? pp->BackBufferHeight : 0, pp ? pp->BackBufferFormat : 0,
                               pp ? uint64_t(uint32_t(pp->Windowed)) : 0});
    HRESULT hr;
    if (Fail("CreateDevice", hr)) return hr;
    const TFakeAdapter* ad = Get(a);
    if (!ad || !pp || !out || type != D3DDEVTYPE_HAL || R->CurrentDevice) return D3DERR_INVALIDCALL;
    DWORD vp = behavior & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                           D3DCREATE_MIXED_VERTEXPROCESSING);
    bool hwtl = ad->Caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT;
    if ((vp != D3DCREATE_SOFTWARE_VERTEXPROCESSING && vp != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
         vp != D3DCREATE_MIXED_VERTEXPROCESSING) ||
        (vp != D3DCREATE_SOFTWARE_VERTEXPROCESSING && !hwtl) ||
        ((behavior & D3DCREATE_PUREDEVICE) && vp != D3DCREATE_HARDWARE_VERTEXPROCESSING))
      return D3DERR_INVALIDCALL;
    if (!ad->BackBufferFormats.count(pp->BackBufferFormat)) return D3DERR_INVALIDCALL;
    if (!pp->Windowed) {
      bool listed = false;
      for (const D3DDISPLAYMODE& m : ad->Modes)
        listed |= m.Width == pp->BackBufferWidth && m.Height == pp->BackBufferHeight &&
                  m.Format == pp->BackBufferFormat;
      if (!listed) return D3DERR_INVALIDCALL;
    }
    *out = new TFakeD3D8::Device(R, a, *pp);
    return D3D_OK;
  }
};
}  // namespace fake_d3d8

// ---- runtime ---------------------------------------------------------------------------------
TFakeD3D8::TFakeD3D8() { Previous = SetD3D8Runtime(this); }

TFakeD3D8::~TFakeD3D8() { SetD3D8Runtime(Previous); }

TFakeAdapter TFakeD3D8::CapableAdapter() {
  TFakeAdapter a;
  std::strcpy(a.Identifier.Driver, "fake.drv");
  std::strcpy(a.Identifier.Description, "Fake Adapter");
  a.Identifier.DriverVersion = (int64_t(6) << 48) | (int64_t(14) << 32) | (int64_t(10) << 16) | 4000;
  a.Identifier.VendorId = 0x1234;
  a.Identifier.DeviceId = 0x5678;
  a.Identifier.SubSysId = 0x9ABC;
  a.Identifier.Revision = 2;
  a.Identifier.DeviceIdentifier = GUID{0x01234567, 0x89AB, 0xCDEF, {0, 1, 2, 3, 4, 5, 6, 7}};
  a.Identifier.WHQLLevel = 1;
  for (D3DFORMAT f : {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5})
    for (UINT rate : {60u, 75u})
      for (auto [w, h] : {std::pair<UINT, UINT>{640, 480}, {800, 600}, {1024, 768}})
        a.Modes.push_back(D3DDISPLAYMODE{w, h, rate, f});
  a.Monitor = 1;
  D3DCAPS8& c = a.Caps;
  c.DeviceType = D3DDEVTYPE_HAL;
  c.Caps2 = D3DCAPS2_CANRENDERWINDOWED;
  c.DevCaps = D3DDEVCAPS_DRAWPRIMTLVERTEX;
  c.PrimitiveMiscCaps = D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW;
  c.SrcBlendCaps = D3DPBLENDCAPS_ONE | D3DPBLENDCAPS_SRCALPHA | D3DPBLENDCAPS_ZERO;
  c.DestBlendCaps = D3DPBLENDCAPS_ONE | D3DPBLENDCAPS_INVSRCALPHA | D3DPBLENDCAPS_ZERO;
  c.TextureCaps = D3DPTEXTURECAPS_ALPHA;
  c.TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR |
                        D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
  c.TextureOpCaps = D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_SELECTARG1 | D3DTEXOPCAPS_SELECTARG2 |
                    D3DTEXOPCAPS_MODULATE;
  c.MaxTextureWidth = c.MaxTextureHeight = 2048;
  c.MaxTextureAspectRatio = 2048;
  c.MaxVertexW = 1e10f;
  c.FVFCaps = D3DFVFCAPS_PSIZE | 1;
  c.MaxTextureBlendStages = c.MaxSimultaneousTextures = 1;
  c.MaxPointSize = 64;
  c.MaxPrimitiveCount = 0xFFFF;
  c.MaxVertexIndex = 0xFFFF;
  c.MaxStreams = 1;
  c.MaxStreamStride = 255;
  a.BackBufferFormats = {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5};
  for (D3DFORMAT f = D3DFMT_R8G8B8; f <= D3DFMT_X4R4G4B4; ++f) a.TextureFormats.insert(f);
  a.DepthFormats = {D3DFMT_D16, D3DFMT_D24X8, D3DFMT_D24S8};
  return a;
}

std::string TFakeD3DCall::Text() const {
  std::string s = Name + "(";
  for (size_t i = 0; i < Args.size(); ++i) s += (i ? ", " : "") + std::to_string(Args[i]);
  return s + ")";
}

void TFakeD3D8::Record(const std::string& name, std::vector<uint64_t> args) {
  Calls.push_back(TFakeD3DCall{name, std::move(args)});
}

bool TFakeD3D8::Fails(const std::string& name, HRESULT& result) const {
  auto it = Failures.find(name);
  if (it == Failures.end()) return false;
  result = it->second;
  return true;
}

void TFakeD3D8::ClearRecords() {
  Calls.clear();
  Draws.clear();
}

std::vector<std::string> TFakeD3D8::CallTexts(const std::string& name) const {
  std::vector<std::string> r;
  for (const TFakeD3DCall& c : Calls)
    if (name.empty() || c.Name == name) r.push_back(c.Text());
  return r;
}

int TFakeD3D8::CountCalls(const std::string& name) const {
  return int(std::count_if(Calls.begin(), Calls.end(), [&](const TFakeD3DCall& c) { return c.Name == name; }));
}

DWORD TFakeD3D8::RenderState(D3DRENDERSTATETYPE state) const {
  return CurrentDevice && state < D3DRS_MAX ? CurrentDevice->RS[state] : 0;
}

DWORD TFakeD3D8::StageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type) const {
  return CurrentDevice && stage < 8 && type < D3DTSS_MAX ? CurrentDevice->TS[stage][type] : 0;
}

D3DPRESENT_PARAMETERS TFakeD3D8::PresentParams() const {
  return CurrentDevice ? CurrentDevice->Params : D3DPRESENT_PARAMETERS{};
}

IDirect3D8* TFakeD3D8::Direct3DCreate8(UINT sdkVersion) {
  Record("Direct3DCreate8", {sdkVersion});
  if (CreateFails || sdkVersion != D3D_SDK_VERSION) return nullptr;
  return new FakeD3D(this);
}

bool TFakeD3D8::EnumDisplayDevices(const char* device, DWORD index, DISPLAY_DEVICE* out) {
  if (!out) return false;
  *out = DISPLAY_DEVICE{};
  if (!device) {
    if (index >= Displays.size()) return false;
    const TFakeDisplay& d = Displays[index];
    std::snprintf(out->DeviceName, sizeof out->DeviceName, "%s", d.DeviceName.c_str());
    std::snprintf(out->DeviceString, sizeof out->DeviceString, "%s", d.DeviceString.c_str());
    out->StateFlags = d.StateFlags;
    return true;
  }
  for (const TFakeDisplay& d : Displays) {
    if (d.DeviceName != device) continue;
    if (index != 0 || !d.HasMonitor) return false;
    std::snprintf(out->DeviceName, sizeof out->DeviceName, "%s\\Monitor0", d.DeviceName.c_str());
    std::snprintf(out->DeviceString, sizeof out->DeviceString, "%s", d.MonitorString.c_str());
    out->StateFlags = d.StateFlags;
    return true;
  }
  return false;
}

bool TFakeD3D8::EnumDisplaySettings(const char* deviceName, DWORD mode, DEVMODE* out) {
  if (!out || !deviceName || mode != ENUM_CURRENT_SETTINGS) return false;
  for (const TFakeDisplay& d : Displays)
    if (d.DeviceName == deviceName) {
      *out = d.Settings;
      return true;
    }
  return false;
}

HMONITOR TFakeD3D8::MonitorFromRect(const RECT* rect, DWORD) {
  if (!rect) return 0;
  // The display with the largest intersection, as the platform picks.
  HMONITOR best = 0;
  int64_t bestArea = 0;
  for (const TFakeDisplay& d : Displays) {
    LONG x = d.Settings.dmPosition.x, y = d.Settings.dmPosition.y;
    int64_t w = std::min<int64_t>(rect->right, x + LONG(d.Settings.dmPelsWidth)) - std::max(rect->left, x);
    int64_t h = std::min<int64_t>(rect->bottom, y + LONG(d.Settings.dmPelsHeight)) - std::max(rect->top, y);
    if (w > 0 && h > 0 && w * h > bestArea) {
      bestArea = w * h;
      best = d.Monitor;
    }
  }
  return best;
}
