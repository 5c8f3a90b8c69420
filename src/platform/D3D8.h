#pragma once
// Our own declarations of the Direct3D 8 subset the engine uses: formats, result codes, records,
// the object interfaces and the runtime seam that picks the backend (OpenGL over SDL for the
// program, a scripted fake for tests). Values follow the Direct3D 8 numbering, since settings
// files and logs carry them.
#include <cstdint>
#include <cstddef>
#include <string>
#include <utility>

#include "platform/WinTypes.h"

// ---- formats -------------------------------------------------------------------------------
using D3DFORMAT = uint32_t;
enum : D3DFORMAT {
  D3DFMT_UNKNOWN = 0,
  D3DFMT_R8G8B8 = 20,
  D3DFMT_A8R8G8B8 = 21,
  D3DFMT_X8R8G8B8 = 22,
  D3DFMT_R5G6B5 = 23,
  D3DFMT_X1R5G5B5 = 24,
  D3DFMT_A1R5G5B5 = 25,
  D3DFMT_A4R4G4B4 = 26,
  D3DFMT_R3G3B2 = 27,
  D3DFMT_A8 = 28,
  D3DFMT_A8R3G3B2 = 29,
  D3DFMT_X4R4G4B4 = 30,
  D3DFMT_A8P8 = 40,
  D3DFMT_P8 = 41,
  D3DFMT_L8 = 50,
  D3DFMT_A8L8 = 51,
  D3DFMT_A4L4 = 52,
  D3DFMT_V8U8 = 60,
  D3DFMT_L6V5U5 = 61,
  D3DFMT_X8L8V8U8 = 62,
  D3DFMT_Q8W8V8U8 = 63,
  D3DFMT_V16U16 = 64,
  D3DFMT_W11V11U10 = 65,
  D3DFMT_D16_LOCKABLE = 70,
  D3DFMT_D32 = 71,
  D3DFMT_D15S1 = 73,
  D3DFMT_D24S8 = 75,
  D3DFMT_D24X8 = 77,
  D3DFMT_D24X4S4 = 79,
  D3DFMT_D16 = 80,
  D3DFMT_VERTEXDATA = 100,
  D3DFMT_INDEX16 = 101,
  D3DFMT_INDEX32 = 102,
  D3DFMT_FORCE_DWORD = 0x7FFFFFFF,
};
constexpr D3DFORMAT D3DFourCC(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
         uint32_t(uint8_t(d)) << 24;
}
constexpr D3DFORMAT D3DFMT_UYVY = D3DFourCC('U', 'Y', 'V', 'Y');
constexpr D3DFORMAT D3DFMT_YUY2 = D3DFourCC('Y', 'U', 'Y', '2');
constexpr D3DFORMAT D3DFMT_DXT1 = D3DFourCC('D', 'X', 'T', '1');
constexpr D3DFORMAT D3DFMT_DXT2 = D3DFourCC('D', 'X', 'T', '2');
constexpr D3DFORMAT D3DFMT_DXT3 = D3DFourCC('D', 'X', 'T', '3');
constexpr D3DFORMAT D3DFMT_DXT4 = D3DFourCC('D', 'X', 'T', '4');
constexpr D3DFORMAT D3DFMT_DXT5 = D3DFourCC('D', 'X', 'T', '5');

// Bytes per pixel of the colour formats 20-30 (0 for every other format).
int D3DFormatBytes(D3DFORMAT format);

// ---- result codes --------------------------------------------------------------------------
constexpr HRESULT D3D_OK = 0;
constexpr HRESULT D3DERR_WRONGTEXTUREFORMAT = int32_t(0x88760818u);
constexpr HRESULT D3DERR_UNSUPPORTEDCOLOROPERATION = int32_t(0x88760819u);
constexpr HRESULT D3DERR_UNSUPPORTEDCOLORARG = int32_t(0x8876081Au);
constexpr HRESULT D3DERR_UNSUPPORTEDALPHAOPERATION = int32_t(0x8876081Bu);
constexpr HRESULT D3DERR_UNSUPPORTEDALPHAARG = int32_t(0x8876081Cu);
constexpr HRESULT D3DERR_TOOMANYOPERATIONS = int32_t(0x8876081Du);
constexpr HRESULT D3DERR_CONFLICTINGTEXTUREFILTER = int32_t(0x8876081Eu);
constexpr HRESULT D3DERR_UNSUPPORTEDFACTORVALUE = int32_t(0x8876081Fu);
constexpr HRESULT D3DERR_CONFLICTINGRENDERSTATE = int32_t(0x88760821u);
constexpr HRESULT D3DERR_UNSUPPORTEDTEXTUREFILTER = int32_t(0x88760822u);
constexpr HRESULT D3DERR_CONFLICTINGTEXTUREPALETTE = int32_t(0x88760826u);
constexpr HRESULT D3DERR_DRIVERINTERNALERROR = int32_t(0x88760827u);
constexpr HRESULT D3DERR_NOTFOUND = int32_t(0x88760866u);
constexpr HRESULT D3DERR_MOREDATA = int32_t(0x88760867u);
constexpr HRESULT D3DERR_DEVICELOST = int32_t(0x88760868u);
constexpr HRESULT D3DERR_DEVICENOTRESET = int32_t(0x88760869u);
constexpr HRESULT D3DERR_NOTAVAILABLE = int32_t(0x8876086Au);
constexpr HRESULT D3DERR_OUTOFVIDEOMEMORY = int32_t(0x8876017Cu);
constexpr HRESULT D3DERR_INVALIDDEVICE = int32_t(0x8876086Bu);
constexpr HRESULT D3DERR_INVALIDCALL = int32_t(0x8876086Cu);
constexpr HRESULT D3DERR_DRIVERINVALIDCALL = int32_t(0x8876086Du);

// The standard description of a result value; "Unknown Error" for a value without one.
std::string D3DResultDescription(HRESULT result);

// ---- enumerations and flags ----------------------------------------------------------------
constexpr UINT D3D_SDK_VERSION = 120;
constexpr UINT D3DADAPTER_DEFAULT = 0;

using D3DDEVTYPE = uint32_t;
enum : D3DDEVTYPE { D3DDEVTYPE_HAL = 1, D3DDEVTYPE_REF = 2, D3DDEVTYPE_SW = 3 };

using D3DRESOURCETYPE = uint32_t;
enum : D3DRESOURCETYPE {
  D3DRTYPE_SURFACE = 1,
  D3DRTYPE_VOLUME = 2,
  D3DRTYPE_TEXTURE = 3,
  D3DRTYPE_VOLUMETEXTURE = 4,
  D3DRTYPE_CUBETEXTURE = 5,
  D3DRTYPE_VERTEXBUFFER = 6,
  D3DRTYPE_INDEXBUFFER = 7,
};

using D3DPOOL = uint32_t;
enum : D3DPOOL { D3DPOOL_DEFAULT = 0, D3DPOOL_MANAGED = 1, D3DPOOL_SYSTEMMEM = 2, D3DPOOL_SCRATCH = 3 };

enum : DWORD {
  D3DUSAGE_RENDERTARGET = 0x1,
  D3DUSAGE_DEPTHSTENCIL = 0x2,
  D3DUSAGE_WRITEONLY = 0x8,
  D3DUSAGE_SOFTWAREPROCESSING = 0x10,
  D3DUSAGE_DONOTCLIP = 0x20,
  D3DUSAGE_POINTS = 0x40,
  D3DUSAGE_DYNAMIC = 0x200,
};

enum : DWORD {
  D3DLOCK_READONLY = 0x10,
  D3DLOCK_NOSYSLOCK = 0x800,
  D3DLOCK_NOOVERWRITE = 0x1000,
  D3DLOCK_DISCARD = 0x2000,
};

enum : DWORD {
  D3DCREATE_FPU_PRESERVE = 0x2,
  D3DCREATE_MULTITHREADED = 0x4,
  D3DCREATE_PUREDEVICE = 0x10,
  D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20,
  D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x40,
  D3DCREATE_MIXED_VERTEXPROCESSING = 0x80,
};

using D3DSWAPEFFECT = uint32_t;
enum : D3DSWAPEFFECT { D3DSWAPEFFECT_DISCARD = 1, D3DSWAPEFFECT_FLIP = 2, D3DSWAPEFFECT_COPY = 3 };
using D3DMULTISAMPLE_TYPE = uint32_t;
constexpr D3DMULTISAMPLE_TYPE D3DMULTISAMPLE_NONE = 0;
constexpr DWORD D3DPRESENTFLAG_LOCKABLE_BACKBUFFER = 1;
using D3DBACKBUFFER_TYPE = uint32_t;
constexpr D3DBACKBUFFER_TYPE D3DBACKBUFFER_TYPE_MONO = 0;

using D3DPRIMITIVETYPE = uint32_t;
enum : D3DPRIMITIVETYPE {
  D3DPT_POINTLIST = 1,
  D3DPT_LINELIST = 2,
  D3DPT_LINESTRIP = 3,
  D3DPT_TRIANGLELIST = 4,
  D3DPT_TRIANGLESTRIP = 5,
  D3DPT_TRIANGLEFAN = 6,
};

using D3DTRANSFORMSTATETYPE = uint32_t;
enum : D3DTRANSFORMSTATETYPE { D3DTS_VIEW = 2, D3DTS_PROJECTION = 3, D3DTS_WORLD = 256 };

// Flexible vertex format bits.
enum : DWORD {
  D3DFVF_XYZ = 0x002,
  D3DFVF_XYZRHW = 0x004,
  D3DFVF_PSIZE = 0x020,
  D3DFVF_DIFFUSE = 0x040,
  D3DFVF_SPECULAR = 0x080,
  D3DFVF_TEX1 = 0x100,
};

using D3DRENDERSTATETYPE = uint32_t;
enum : D3DRENDERSTATETYPE {
  D3DRS_ZENABLE = 7,
  D3DRS_FILLMODE = 8,
  D3DRS_SHADEMODE = 9,
  D3DRS_ZWRITEENABLE = 14,
  D3DRS_ALPHATESTENABLE = 15,
  D3DRS_SRCBLEND = 19,
  D3DRS_DESTBLEND = 20,
  D3DRS_CULLMODE = 22,
  D3DRS_ZFUNC = 23,
  D3DRS_ALPHAREF = 24,
  D3DRS_ALPHAFUNC = 25,
  D3DRS_DITHERENABLE = 26,
  D3DRS_ALPHABLENDENABLE = 27,
  D3DRS_TEXTUREFACTOR = 60,
  D3DRS_LIGHTING = 137,
  D3DRS_POINTSIZE = 154,
  D3DRS_POINTSIZE_MIN = 155,
  D3DRS_POINTSPRITEENABLE = 156,
  D3DRS_POINTSCALEENABLE = 157,
  D3DRS_POINTSIZE_MAX = 166,
  D3DRS_MAX = 256,  // size of a render-state table
};
enum : DWORD { D3DFILL_POINT = 1, D3DFILL_WIREFRAME = 2, D3DFILL_SOLID = 3 };
enum : DWORD { D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3 };
enum : DWORD {
  D3DBLEND_ZERO = 1,
  D3DBLEND_ONE = 2,
  D3DBLEND_SRCCOLOR = 3,
  D3DBLEND_INVSRCCOLOR = 4,
  D3DBLEND_SRCALPHA = 5,
  D3DBLEND_INVSRCALPHA = 6,
  D3DBLEND_DESTALPHA = 7,
  D3DBLEND_INVDESTALPHA = 8,
  D3DBLEND_DESTCOLOR = 9,
  D3DBLEND_INVDESTCOLOR = 10,
  D3DBLEND_SRCALPHASAT = 11,
};
enum : DWORD {
  D3DCMP_NEVER = 1,
  D3DCMP_LESS = 2,
  D3DCMP_EQUAL = 3,
  D3DCMP_LESSEQUAL = 4,
  D3DCMP_GREATER = 5,
  D3DCMP_NOTEQUAL = 6,
  D3DCMP_GREATEREQUAL = 7,
  D3DCMP_ALWAYS = 8,
};

using D3DTEXTURESTAGESTATETYPE = uint32_t;
enum : D3DTEXTURESTAGESTATETYPE {
  D3DTSS_COLOROP = 1,
  D3DTSS_COLORARG1 = 2,
  D3DTSS_COLORARG2 = 3,
  D3DTSS_ALPHAOP = 4,
  D3DTSS_ALPHAARG1 = 5,
  D3DTSS_ALPHAARG2 = 6,
  D3DTSS_ADDRESSU = 13,
  D3DTSS_ADDRESSV = 14,
  D3DTSS_MAGFILTER = 16,
  D3DTSS_MINFILTER = 17,
  D3DTSS_MIPFILTER = 18,
  D3DTSS_MAX = 32,  // size of a stage-state table
};
enum : DWORD {
  D3DTOP_DISABLE = 1,
  D3DTOP_SELECTARG1 = 2,
  D3DTOP_SELECTARG2 = 3,
  D3DTOP_MODULATE = 4,
  D3DTOP_MODULATE2X = 5,
  D3DTOP_MODULATE4X = 6,
  D3DTOP_ADD = 7,
  D3DTOP_ADDSIGNED = 8,
  D3DTOP_SUBTRACT = 10,
};
enum : DWORD {
  D3DTA_DIFFUSE = 0,
  D3DTA_CURRENT = 1,
  D3DTA_TEXTURE = 2,
  D3DTA_TFACTOR = 3,
  D3DTA_SELECTMASK = 0x0F,
  D3DTA_COMPLEMENT = 0x10,
  D3DTA_ALPHAREPLICATE = 0x20,
};
enum : DWORD { D3DTEXF_NONE = 0, D3DTEXF_POINT = 1, D3DTEXF_LINEAR = 2 };
enum : DWORD { D3DTADDRESS_WRAP = 1, D3DTADDRESS_MIRROR = 2, D3DTADDRESS_CLAMP = 3, D3DTADDRESS_BORDER = 4 };

// Capability bits the engine tests (and the ones our backends report).
enum : DWORD {
  D3DCAPS2_CANRENDERWINDOWED = 0x80000,
  D3DDEVCAPS_DRAWPRIMTLVERTEX = 0x400,
  D3DDEVCAPS_HWTRANSFORMANDLIGHT = 0x10000,
  D3DDEVCAPS_PUREDEVICE = 0x100000,
  D3DPMISCCAPS_MASKZ = 0x2,
  D3DPMISCCAPS_CULLNONE = 0x10,
  D3DPMISCCAPS_CULLCW = 0x20,
  D3DPMISCCAPS_CULLCCW = 0x40,
  D3DPBLENDCAPS_ZERO = 0x1,
  D3DPBLENDCAPS_ONE = 0x2,
  D3DPBLENDCAPS_SRCCOLOR = 0x4,
  D3DPBLENDCAPS_INVSRCCOLOR = 0x8,
  D3DPBLENDCAPS_SRCALPHA = 0x10,
  D3DPBLENDCAPS_INVSRCALPHA = 0x20,
  D3DPBLENDCAPS_DESTALPHA = 0x40,
  D3DPBLENDCAPS_INVDESTALPHA = 0x80,
  D3DPBLENDCAPS_DESTCOLOR = 0x100,
  D3DPBLENDCAPS_INVDESTCOLOR = 0x200,
  D3DPBLENDCAPS_SRCALPHASAT = 0x400,
  D3DPTEXTURECAPS_ALPHA = 0x4,
  D3DPTFILTERCAPS_MINFPOINT = 0x100,
  D3DPTFILTERCAPS_MINFLINEAR = 0x200,
  D3DPTFILTERCAPS_MAGFPOINT = 0x1000000,
  D3DPTFILTERCAPS_MAGFLINEAR = 0x2000000,
  D3DTEXOPCAPS_DISABLE = 0x1,
  D3DTEXOPCAPS_SELECTARG1 = 0x2,
  D3DTEXOPCAPS_SELECTARG2 = 0x4,
  D3DTEXOPCAPS_MODULATE = 0x8,
  D3DTEXOPCAPS_MODULATE2X = 0x10,
  D3DTEXOPCAPS_MODULATE4X = 0x20,
  D3DTEXOPCAPS_ADD = 0x40,
  D3DTEXOPCAPS_ADDSIGNED = 0x80,
  D3DTEXOPCAPS_SUBTRACT = 0x200,
  D3DPTADDRESSCAPS_WRAP = 0x1,
  D3DPTADDRESSCAPS_MIRROR = 0x2,
  D3DPTADDRESSCAPS_CLAMP = 0x4,
  D3DPTADDRESSCAPS_BORDER = 0x8,
  D3DFVFCAPS_PSIZE = 0x100000,
};

// ---- records -------------------------------------------------------------------------------
struct D3DDISPLAYMODE {
  UINT Width = 0, Height = 0, RefreshRate = 0;
  D3DFORMAT Format = D3DFMT_UNKNOWN;
};

struct D3DADAPTER_IDENTIFIER8 {
  char Driver[512] = {};
  char Description[512] = {};
  int64_t DriverVersion = 0;  // product and version in the high part, sub-version and build low
  DWORD VendorId = 0, DeviceId = 0, SubSysId = 0, Revision = 0;
  GUID DeviceIdentifier;
  DWORD WHQLLevel = 0;
};

struct D3DCAPS8 {
  D3DDEVTYPE DeviceType = 0;
  UINT AdapterOrdinal = 0;
  DWORD Caps = 0, Caps2 = 0, Caps3 = 0, PresentationIntervals = 0, CursorCaps = 0, DevCaps = 0;
  DWORD PrimitiveMiscCaps = 0, RasterCaps = 0, ZCmpCaps = 0, SrcBlendCaps = 0, DestBlendCaps = 0;
  DWORD AlphaCmpCaps = 0, ShadeCaps = 0, TextureCaps = 0, TextureFilterCaps = 0;
  DWORD CubeTextureFilterCaps = 0, VolumeTextureFilterCaps = 0, TextureAddressCaps = 0;
  DWORD VolumeTextureAddressCaps = 0, LineCaps = 0;
  DWORD MaxTextureWidth = 0, MaxTextureHeight = 0, MaxVolumeExtent = 0, MaxTextureRepeat = 0;
  DWORD MaxTextureAspectRatio = 0, MaxAnisotropy = 0;
  float MaxVertexW = 0;
  float GuardBandLeft = 0, GuardBandTop = 0, GuardBandRight = 0, GuardBandBottom = 0;
  float ExtentsAdjust = 0;
  DWORD StencilCaps = 0, FVFCaps = 0, TextureOpCaps = 0, MaxTextureBlendStages = 0;
  DWORD MaxSimultaneousTextures = 0, VertexProcessingCaps = 0, MaxActiveLights = 0;
  DWORD MaxUserClipPlanes = 0, MaxVertexBlendMatrices = 0, MaxVertexBlendMatrixIndex = 0;
  float MaxPointSize = 0;
  DWORD MaxPrimitiveCount = 0, MaxVertexIndex = 0, MaxStreams = 0, MaxStreamStride = 0;
  DWORD VertexShaderVersion = 0, MaxVertexShaderConst = 0, PixelShaderVersion = 0;
  float MaxPixelShaderValue = 0;
};

struct D3DPRESENT_PARAMETERS {
  UINT BackBufferWidth = 0, BackBufferHeight = 0;
  D3DFORMAT BackBufferFormat = D3DFMT_UNKNOWN;
  UINT BackBufferCount = 0;
  D3DMULTISAMPLE_TYPE MultiSampleType = D3DMULTISAMPLE_NONE;
  D3DSWAPEFFECT SwapEffect = D3DSWAPEFFECT_DISCARD;
  HWND hDeviceWindow = nullptr;
  BOOL Windowed = 0;
  BOOL EnableAutoDepthStencil = 0;
  D3DFORMAT AutoDepthStencilFormat = D3DFMT_UNKNOWN;
  DWORD Flags = 0;
  UINT FullScreen_RefreshRateInHz = 0;
  UINT FullScreen_PresentationInterval = 0;
};

struct D3DSURFACE_DESC {
  D3DFORMAT Format = D3DFMT_UNKNOWN;
  D3DRESOURCETYPE Type = 0;
  DWORD Usage = 0;
  D3DPOOL Pool = 0;
  UINT Size = 0;
  D3DMULTISAMPLE_TYPE MultiSampleType = 0;
  UINT Width = 0, Height = 0;
};

struct D3DLOCKED_RECT {
  INT Pitch = 0;
  void* pBits = nullptr;
};

struct D3DMATRIX {
  float m[4][4] = {};
};

// ---- interfaces ----------------------------------------------------------------------------
// Reference counted like the platform's objects: AddRef/Release, freed at zero.
class ID3DUnknown {
public:
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

protected:
  virtual ~ID3DUnknown() = default;
};

class IDirect3DDevice8;

class IDirect3DSurface8 : public ID3DUnknown {
public:
  virtual HRESULT GetDesc(D3DSURFACE_DESC* desc) = 0;
  virtual HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
  virtual HRESULT UnlockRect() = 0;
};

class IDirect3DBaseTexture8 : public ID3DUnknown {};

class IDirect3DTexture8 : public IDirect3DBaseTexture8 {
public:
  virtual DWORD GetLevelCount() = 0;
  virtual HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) = 0;
  virtual HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
  virtual HRESULT UnlockRect(UINT level) = 0;
};

class IDirect3DVertexBuffer8 : public ID3DUnknown {
public:
  // size 0 locks from the offset to the end
  virtual HRESULT Lock(UINT offset, UINT size, BYTE** data, DWORD flags) = 0;
  virtual HRESULT Unlock() = 0;
};

class IDirect3DIndexBuffer8 : public ID3DUnknown {
public:
  virtual HRESULT Lock(UINT offset, UINT size, BYTE** data, DWORD flags) = 0;
  virtual HRESULT Unlock() = 0;
};

class IDirect3DDevice8 : public ID3DUnknown {
public:
  virtual HRESULT TestCooperativeLevel() = 0;
  virtual HRESULT Reset(D3DPRESENT_PARAMETERS* params) = 0;
  virtual HRESULT Present(const RECT* source, const RECT* dest, HWND destWindow,
                          const void* dirtyRegion) = 0;
  virtual HRESULT GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type,
                                IDirect3DSurface8** backBuffer) = 0;
  virtual HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                D3DPOOL pool, IDirect3DTexture8** texture) = 0;
  virtual HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                     IDirect3DVertexBuffer8** buffer) = 0;
  virtual HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                    IDirect3DIndexBuffer8** buffer) = 0;
  // A system-memory surface that can be locked and copied to the back buffer.
  virtual HRESULT CreateImageSurface(UINT width, UINT height, D3DFORMAT format,
                                     IDirect3DSurface8** surface) = 0;
  // Copies rectangles between surfaces of one format; no rects: the whole source at (0, 0).
  virtual HRESULT CopyRects(IDirect3DSurface8* source, const RECT* sourceRects, UINT count,
                            IDirect3DSurface8* dest, const POINT* destPoints) = 0;
  virtual HRESULT BeginScene() = 0;
  virtual HRESULT EndScene() = 0;
  virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) = 0;
  virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
  virtual HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) = 0;
  virtual HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture8* texture) = 0;
  virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) = 0;
  virtual HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride) = 0;
  virtual HRESULT SetIndices(IDirect3DIndexBuffer8* buffer, UINT baseVertexIndex) = 0;
  virtual HRESULT SetVertexShader(DWORD handle) = 0;  // a vertex format (FVF) code
  virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) = 0;
  virtual HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVertices,
                                       UINT startIndex, UINT primitiveCount) = 0;
};

class IDirect3D8 : public ID3DUnknown {
public:
  virtual UINT GetAdapterCount() = 0;
  virtual HRESULT GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER8* id) = 0;
  virtual UINT GetAdapterModeCount(UINT adapter) = 0;
  virtual HRESULT EnumAdapterModes(UINT adapter, UINT mode, D3DDISPLAYMODE* out) = 0;
  virtual HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* out) = 0;
  virtual HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT displayFormat,
                                  D3DFORMAT backBufferFormat, BOOL windowed) = 0;
  virtual HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                    DWORD usage, D3DRESOURCETYPE resourceType,
                                    D3DFORMAT checkFormat) = 0;
  virtual HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                         D3DFORMAT renderTargetFormat,
                                         D3DFORMAT depthStencilFormat) = 0;
  virtual HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps) = 0;
  virtual HMONITOR GetAdapterMonitor(UINT adapter) = 0;
  virtual HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behavior,
                               D3DPRESENT_PARAMETERS* params, IDirect3DDevice8** device) = 0;
};

// Holds one reference; the engine keeps every interface in one of these.
template <class T>
class TComPtr {
public:
  TComPtr() = default;
  TComPtr(std::nullptr_t) {}
  // Takes over a reference the caller already owns (a Create* result).
  static TComPtr Adopt(T* p) {
    TComPtr r;
    r.P = p;
    return r;
  }
  TComPtr(const TComPtr& o) : P(o.P) {
    if (P) P->AddRef();
  }
  TComPtr(TComPtr&& o) noexcept : P(o.P) { o.P = nullptr; }
  TComPtr& operator=(TComPtr o) noexcept {
    std::swap(P, o.P);
    return *this;
  }
  ~TComPtr() { Reset(); }
  void Reset() {
    if (P) {
      T* p = P;
      P = nullptr;
      p->Release();
    }
  }
  // For Create* out-parameters: releases what it held first.
  T** Receive() {
    Reset();
    return &P;
  }
  T* Get() const { return P; }
  T* operator->() const { return P; }
  explicit operator bool() const { return P != nullptr; }

private:
  T* P = nullptr;
};

// ---- display devices (the adapters' monitors) ----------------------------------------------
enum : DWORD {
  DISPLAY_DEVICE_ATTACHED_TO_DESKTOP = 0x1,
  DISPLAY_DEVICE_PRIMARY_DEVICE = 0x4,
  DISPLAY_DEVICE_MIRRORING_DRIVER = 0x8,
};
struct DISPLAY_DEVICE {
  DWORD cb = sizeof(DISPLAY_DEVICE);
  char DeviceName[32] = {};
  char DeviceString[128] = {};
  DWORD StateFlags = 0;
  char DeviceID[128] = {};
  char DeviceKey[128] = {};
};
constexpr DWORD ENUM_CURRENT_SETTINGS = 0xFFFFFFFF;
struct DEVMODE {
  POINT dmPosition;
  DWORD dmBitsPerPel = 0, dmPelsWidth = 0, dmPelsHeight = 0, dmDisplayFrequency = 0;
};
constexpr DWORD MONITOR_DEFAULTTONULL = 0;

// ---- the runtime seam ----------------------------------------------------------------------
// Everything the engine asks of "the installed runtime". The program uses the OpenGL runtime;
// a test installs a fake for its lifetime.
class ID3D8Runtime {
public:
  virtual ~ID3D8Runtime() = default;
  virtual bool RuntimeLoaded() = 0;           // the Direct3D 8 library is present
  virtual bool DebugRuntimeLoadable() = 0;    // the development kit's debug library loads
  virtual IDirect3D8* Direct3DCreate8(UINT sdkVersion) = 0;  // nullptr on failure
  virtual bool EnumDisplayDevices(const char* device, DWORD index, DISPLAY_DEVICE* out) = 0;
  virtual bool EnumDisplaySettings(const char* deviceName, DWORD mode, DEVMODE* out) = 0;
  virtual HMONITOR MonitorFromRect(const RECT* rect, DWORD flags) = 0;
};

ID3D8Runtime& D3D8Runtime();
// nullptr restores the OpenGL runtime; returns the one installed before.
ID3D8Runtime* SetD3D8Runtime(ID3D8Runtime* runtime);

// Forwarders with the platform's names.
inline IDirect3D8* Direct3DCreate8(UINT sdkVersion) { return D3D8Runtime().Direct3DCreate8(sdkVersion); }
inline bool EnumDisplayDevices(const char* device, DWORD index, DISPLAY_DEVICE* out) {
  return D3D8Runtime().EnumDisplayDevices(device, index, out);
}
inline bool EnumDisplaySettings(const char* deviceName, DWORD mode, DEVMODE* out) {
  return D3D8Runtime().EnumDisplaySettings(deviceName, mode, out);
}
inline HMONITOR MonitorFromRect(const RECT* rect, DWORD flags) {
  return D3D8Runtime().MonitorFromRect(rect, flags);
}

// The render and stage states a device starts with (and returns to on Reset).
void D3DDefaultStates(DWORD* rs, DWORD (*ts)[D3DTSS_MAX], bool depth, float maxPointSize);
