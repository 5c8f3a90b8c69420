#pragma once
// The Direct3D 8 layer: result checks and own error codes, adapter/device/mode enumeration, the
// rendering device with its recovery from device loss, textures from image and mask, the quad
// renderer with sprites, and the point renderer.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Exceptions.h"
#include "platform/D3D8.h"

class TBitmap;

// ---- error codes and checks (zrD3D.cpp) -----------------------------------------------------

// A failed Direct3D call: the message is the result's (or the own code's) text, ErrorCode the
// Direct3D result.
class EDirect3DError : public Exception {
public:
  EDirect3DError(std::string message, uint32_t errorCode)
      : Exception(std::move(message)), ErrorCode(errorCode) {}
  uint32_t ErrorCode;
};

// The own codes of the graphics layer (high word 0x8100).
enum : uint32_t {
  D3DERR_OWN_FORMATNOTSUPPORTED = 0x81000001,
  D3DERR_OWN_NOTEXTUREFORMAT = 0x81000002,
  D3DERR_OWN_CREATETEXTURE = 0x81000003,
  D3DERR_OWN_STRETCHNOTINTEGER = 0x81000004,
  D3DERR_OWN_NORUNTIME = 0x81000005,
  D3DERR_OWN_CREATEDIRECT3D = 0x81000006,
  D3DERR_OWN_NOADAPTERS = 0x81000007,
  D3DERR_OWN_TOOMANYMODES = 0x81000008,
  D3DERR_OWN_TOOMANYFORMATS = 0x81000009,
  D3DERR_OWN_CREATEDEVICE = 0x8100000A,
  D3DERR_OWN_TOOMANYQUADS = 0x8100000B,
  D3DERR_OWN_CREATEVERTEXBUFFER = 0x8100000C,
  D3DERR_OWN_IMAGEFORMAT = 0x8100000D,
  D3DERR_OWN_IMAGESIZE = 0x8100000E,
  D3DERR_OWN_INVALIDPARAMS = 0x8100000F,
  D3DERR_OWN_MASKMISMATCH = 0x81000010,
  D3DERR_OWN_RECREATEDIRECT3D = 0x81000011,
  D3DERR_OWN_CREATEINDEXBUFFER = 0x81000012,
  D3DERR_OWN_SDKINSTEAD = 0x81000014,
};

std::string D3DErrorText(uint32_t code);
// Returns when `result` is not a failure; otherwise one "* Msg" log line and EDirect3DError.
// The context is a view: the frame loop checks every call, and a success costs no string.
void CheckD3DResult(HRESULT result, uint32_t ownCode, std::string_view context);
// Logs the own code's text (+ " (context)") and raises a plain Exception with the text.
[[noreturn]] void RaiseD3DError(uint32_t ownCode, const std::string& context = "");
std::string FormatName(uint32_t format);

// ---- enumeration (zrD3D.cpp) ----------------------------------------------------------------

// The 20-byte mode record handed from the options to the device.
struct TzrD3DMode {
  uint32_t Width = 0, Height = 0, Format = 0, Behavior = 0, DepthFormat = 0;
  bool operator==(const TzrD3DMode&) const = default;
};

class TzrD3D8;
class TzrD3DAdapterInfo;

class TzrD3DMonitorInfo {
public:
  std::string Device;  // the display adapter's description
  std::string Name;    // its first monitor's description
  RECT DesktopRect;
  HMONITOR Monitor = 0;
};

class TzrD3DDeviceInfo {
public:
  // Raises EAbort (after its log line) when the device is of no use.
  TzrD3DDeviceInfo(TzrD3DAdapterInfo* owner, D3DDEVTYPE deviceType,
                   const std::vector<D3DFORMAT>& formats, const std::vector<D3DDISPLAYMODE>& modes);
  std::vector<TzrD3DMode> Modes;
  D3DCAPS8 Caps;
  bool CanDoWindowed = false;
  D3DDEVTYPE DeviceType;
  TzrD3DMode WindowedMode;
  TzrD3DAdapterInfo* Owner;

  int GetModeCount() const { return int(Modes.size()); }
  void GetMode(int index, TzrD3DMode& mode) const;  // EListError outside the list
};

class TzrD3DAdapterInfo {
public:
  TzrD3DAdapterInfo(TzrD3D8* owner, int adapterOrdinal);
  D3DADAPTER_IDENTIFIER8 Identifier;
  D3DDISPLAYMODE DesktopMode;
  int AdapterOrdinal;
  std::vector<std::unique_ptr<TzrD3DDeviceInfo>> Devices;
  TzrD3D8* Owner;
  TzrD3DMonitorInfo* MonitorInfo = nullptr;  // not owned

  int GetDeviceCount() const { return int(Devices.size()); }
  TzrD3DDeviceInfo* GetDevice(int index) const;
};

class TzrD3D8 {
public:
  // Raises when the runtime is missing or the Direct3D object cannot be created.
  TzrD3D8();
  virtual ~TzrD3D8();
  TzrD3D8(const TzrD3D8&) = delete;
  TzrD3D8& operator=(const TzrD3D8&) = delete;

  TComPtr<IDirect3D8> Direct3D;
  std::vector<std::unique_ptr<TzrD3DAdapterInfo>> Adapters;
  std::vector<std::unique_ptr<TzrD3DMonitorInfo>> Monitors;
  int MinDepthBits = 0;
  int MinStencilBits = 0;
  bool UseDepthBuffer = false;
  // Asked for each behaviour candidate of each format, and for each new display mode.
  std::function<void(const D3DCAPS8& caps, DWORD behavior, D3DFORMAT format, bool& accept)>
      OnConfirmDevice;
  std::function<void(const D3DDISPLAYMODE& mode, bool& accept)> OnConfirmMode;

  void EnumAdapters();
  void EnumMonitors();
  D3DFORMAT FindDepthFormat(int adapterOrdinal, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat);

  int GetAdapterCount() const { return int(Adapters.size()); }
  TzrD3DAdapterInfo* GetAdapter(int index) const;
  int GetMonitorCount() const { return int(Monitors.size()); }
  TzrD3DMonitorInfo* GetMonitor(int index) const;
};

// Format descending, then width, then height ascending.
void SortModes(D3DDISPLAYMODE* modes, int count);

// ---- device (zrD3D.cpp) ---------------------------------------------------------------------

class TzrD3Device8;
class TzrD3DTexture8;

// A renderer batches during the frame and draws in Flush; registered with its device from
// construction to destruction.
class TzrD3DRenderer {
public:
  explicit TzrD3DRenderer(TzrD3Device8* device);
  virtual ~TzrD3DRenderer();
  TzrD3DRenderer(const TzrD3DRenderer&) = delete;
  TzrD3DRenderer& operator=(const TzrD3DRenderer&) = delete;

  TzrD3Device8* Device;

  virtual void Reset() = 0;           // forget the frame's batch
  virtual void ReleaseBuffers() = 0;  // release the Direct3D buffers
  virtual void RestoreBuffers() = 0;  // create the buffers, set the states it needs
  virtual void Flush() = 0;           // copy the batch into the buffers and draw it
};

class TzrD3Device8 {
public:
  // Raises (after logging) when the device cannot be created; nothing stays registered.
  TzrD3Device8(TzrD3DDeviceInfo* deviceInfo, HWND focusWindow, HWND deviceWindow, bool windowed,
               const TzrD3DMode& mode);
  // Deletes the renderers still registered (last first), then the textures, then the device.
  virtual ~TzrD3Device8();
  TzrD3Device8(const TzrD3Device8&) = delete;
  TzrD3Device8& operator=(const TzrD3Device8&) = delete;

  TzrD3DDeviceInfo* DeviceInfo;  // not owned
  TComPtr<IDirect3DDevice8> Device;
  bool Lost = false;
  bool Restored = false;
  std::vector<TzrD3DTexture8*> Textures;  // position = texture index
  std::vector<TzrD3DRenderer*> Renderers;
  DWORD TextureFilter = D3DTEXF_LINEAR;
  D3DPRESENT_PARAMETERS PresentParams;
  std::function<void(TzrD3Device8* sender)> OnDeviceLost, OnDeviceRestored;
  D3DMATRIX Projection;
  int FramesSinceFlush = 0;
  // How long CheckDevice waits while the device stays lost.
  uint32_t LostRetryDelayMs = 1000;

  HRESULT BeginScene();
  HRESULT EndScene();
  void RenderAll();
  void Present();
  void FlushScene();
  bool CheckDevice();
  bool BeginDeviceLost();
  void Restore();
  void ReleaseAll();
  TComPtr<IDirect3DSurface8> GetBackBuffer();
  bool SupportsTextureFormat(D3DFORMAT format);
  TzrD3DTexture8* GetTexture(int index) const;  // EListError outside the list
  int AddTexture(TzrD3DTexture8* texture);
  void RemoveTexture(TzrD3DTexture8* texture);
  void AddRenderer(TzrD3DRenderer* renderer);
  void RemoveRenderer(TzrD3DRenderer* renderer);
  void SetProjection(const D3DMATRIX& matrix);

  IDirect3D8* Direct3D() const;
};

// ---- textures (zrD3DTexture.cpp) ------------------------------------------------------------

// One managed-pool texture made from a bitmap, with an optional greyscale mask as alpha or a
// colour key (0xFF in the top byte switches it on; the low 24 bits are 0x00RRGGBB).
class TzrD3DTexture8 {
public:
  // sourceRect: part of the image or nullptr for all of it; width/height 0: the image's size.
  TzrD3DTexture8(TzrD3Device8* device, const RECT* sourceRect, const TBitmap* image,
                 const TBitmap* mask, int width, int height, uint32_t colorKey, int formatCount,
                 const D3DFORMAT* formats);
  virtual ~TzrD3DTexture8();
  TzrD3DTexture8(const TzrD3DTexture8&) = delete;
  TzrD3DTexture8& operator=(const TzrD3DTexture8&) = delete;

  TzrD3Device8* Device;
  TComPtr<IDirect3DTexture8> Texture;
  int Height = 0;  // of the source image
  int Width = 0;
  D3DFORMAT Format = D3DFMT_UNKNOWN;  // what the driver gave level 0
  int SurfaceWidth = 0, SurfaceHeight = 0;
};

void CreateBestTexture(TzrD3Device8* device, int width, int height, int formatCount,
                       const D3DFORMAT* formats, D3DPOOL pool, TComPtr<IDirect3DTexture8>& texture);
// Fills `height` rows of `width` texels at `bits` (rows `pitch` bytes apart) in `format`.
void CopyImageToTexture(const RECT* sourceRect, const TBitmap& image, const TBitmap* mask,
                        int width, int height, uint32_t colorKey, D3DFORMAT format, int pitch,
                        uint8_t* bits);
// Writes one 0xAARRGGBB pixel in `format` at dest and advances it (formats 20-30 only).
void PackPixel(uint8_t*& dest, uint32_t pixel, D3DFORMAT format);

// ---- quad renderer and sprites (zrD3DRenderers.cpp) -----------------------------------------

struct TzrVector2 {
  float x = 0, y = 0;
};
struct TzrUVRect {
  float u0 = 0, v0 = 0, u1 = 1, v1 = 1;
};

// Pre-transformed vertex of a quad (vertex format 0x144), 28 bytes.
struct TzrQuadVertex {
  float x, y, z, rhw;
  uint32_t color;
  float u, v;
};
static_assert(sizeof(TzrQuadVertex) == 28);
constexpr DWORD kQuadVertexFormat = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// Point-sprite vertex (vertex format 0x64), 24 bytes.
struct TzrPointVertex {
  float x, y, z, rhw, size;
  uint32_t color;
};
static_assert(sizeof(TzrPointVertex) == 24);
constexpr DWORD kPointVertexFormat = D3DFVF_XYZRHW | D3DFVF_PSIZE | D3DFVF_DIFFUSE;

// Sorted map of 32-bit keys to values; equal keys allowed, a new one after the existing ones.
class TIntSortedList {
public:
  struct TItem {
    int32_t Key, Value;
  };
  std::vector<TItem> Items;
  int Count = 0;
  int Capacity = 0;

  int Add(int32_t key, int32_t value);
  // true with the index of an equal key; else false with the index of the first greater key.
  bool Find(int32_t key, int& index) const;
  int32_t GetKey(int index) const;    // EListError "Index out of bounds" outside 0..Count-1
  int32_t GetValue(int index) const;
  void Clear() { Count = 0; }
};

// Corners of a W x H rectangle with its pivot (fractions) at `position`, turned by `angle`.
void RotateQuad(const TzrVector2* size, const TzrVector2* pivot, TzrVector2 position, float angle,
                TzrVector2 corners[4]);

class TzrD3DSprite;

class TzrD3DQuadRenderer : public TzrD3DRenderer {
public:
  struct TQuadRecord {
    int Next;  // next quad of the same bucket, -1 none
    TzrQuadVertex Vertices[4];
  };
  struct TBucket {
    int Count, First, Last;
  };
  // The 16-bit index buffer addresses at most this many quads.
  static constexpr int kMaxQuads = 16384;

  TzrD3DQuadRenderer(TzrD3Device8* device, int capacity);
  ~TzrD3DQuadRenderer() override;

  TIntSortedList BucketIndex;
  int BucketCount = 0;
  std::vector<TBucket> Buckets;
  int Capacity;  // quads per frame; the store grows past it when a frame needs more
  int QuadCount = 0;
  std::vector<TQuadRecord> Quads;
  std::vector<TzrD3DSprite*> Sprites;  // owned
  TComPtr<IDirect3DVertexBuffer8> VertexBuffer;
  TComPtr<IDirect3DIndexBuffer8> IndexBuffer;
  int VBCursor = 0;
  int BufferCapacity = 0;  // quads the current buffers hold

  void Reset() override;
  void ReleaseBuffers() override;
  void RestoreBuffers() override;
  void Flush() override;

  // uv, size, pivot, colours may be nullptr (whole texture, 1 x 1, (0, 0), white).
  void AddQuad(int textureIndex, const TzrUVRect* uv, const TzrVector2* size,
               const TzrVector2* pivot, float angle, TzrVector2 position, const uint32_t* colours,
               int layer);
  // False when the quad was culled (or dropped: the frame already holds kMaxQuads quads).
  bool AddQuadVerts(int textureIndex, const TzrVector2 corners[4], const TzrVector2* uvs,
                    const uint32_t* colours, int layer, bool mirror);
  // The new quad's four vertices, or nullptr when the store is full.
  TzrQuadVertex* AllocQuad(int layer, int textureIndex);
  void AddSprite(TzrD3DSprite* sprite);
  void RemoveSprite(TzrD3DSprite* sprite);

private:
  struct TBatch {
    TzrD3DTexture8* Texture;
    int First, Count;
  };
  std::vector<TBatch> Batches;  // kept between frames: no allocation per frame
  bool WarnedFull = false;
  bool WarnedTexture = false;  // one warning line per frame for quads with a bad texture index
};

class TzrD3DSprite {
public:
  static constexpr int kOwnLayer = 0x7FFFFFFF;  // draw at the sprite's own layer

  // sourceRect in source-image pixels (nullptr: the whole texture); pivot in pixels from the
  // top-left (nullptr: none); width/height 0: the rectangle's size.
  TzrD3DSprite(TzrD3DQuadRenderer* quadRenderer, int textureIndex, const RECT* sourceRect,
               const POINT* pivot, float width, float height, int layer);
  virtual ~TzrD3DSprite();
  TzrD3DSprite(const TzrD3DSprite&) = delete;
  TzrD3DSprite& operator=(const TzrD3DSprite&) = delete;

  TzrD3DQuadRenderer* QuadRenderer;
  int TextureIndex;
  float U0, V0, U1, V1;
  float Width, Height;
  float PivotX, PivotY;
  int Layer;

  void Draw(const TzrVector2* scale, TzrVector2 position, float angle, const uint32_t* colours,
            int layer = kOwnLayer);
  // part = (fx0, fy0, fx1, fy1) as fractions of the sprite.
  void DrawPart(const TzrUVRect& part, const TzrVector2* scale, float angle, TzrVector2 position,
                const uint32_t* colours, int layer = kOwnLayer);
};

// ---- point renderer (zrD3DRenderers.cpp) ----------------------------------------------------

class TzrD3DPointRenderer : public TzrD3DRenderer {
public:
  static constexpr int kMaxPoints = 65535;

  TzrD3DPointRenderer(TzrD3Device8* device, int capacity, int textureIndex);
  ~TzrD3DPointRenderer() override;

  TComPtr<IDirect3DVertexBuffer8> VertexBuffer;
  int PointCount = 0;
  int Capacity;  // points per frame; the store grows past it when a frame needs more
  int VBCursor = 0;
  int TextureIndex;
  std::vector<TzrPointVertex> Points;
  bool Additive = false;
  int BufferCapacity = 0;

  // False only when the frame already holds kMaxPoints points (the point is dropped).
  bool AddPoint(float x, float y, float size, uint32_t colour);
  void Reset() override;
  void ReleaseBuffers() override;
  void RestoreBuffers() override;
  void Flush() override;

private:
  bool WarnedFull = false;
};
